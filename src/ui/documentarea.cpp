#include "ui/documentarea.h"

#include "core/errors.h"
#include "ui/palette.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

DocumentArea::DocumentArea(QWidget *parent)
    : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("documentCaption"));
    strip->setStyleSheet(
        QStringLiteral("#documentCaption { background: #3a6ea5; } QLabel { color: white; }"));
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(6, 1, 2, 1);
    caption_ = new QLabel(strip);
    caption_->setObjectName(QStringLiteral("caption"));
    minimizeButton_ = new QToolButton(strip);
    minimizeButton_->setObjectName(QStringLiteral("minimizeButton"));
    minimizeButton_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    minimizeButton_->setAutoRaise(true);
    minimizeButton_->setToolTip(QStringLiteral("最小化"));
    row->addWidget(caption_, 1);
    row->addWidget(minimizeButton_);
    column->addWidget(strip);

    host_ = new QWidget(this);
    host_->setObjectName(QStringLiteral("host"));
    paintBackground(host_, Colours::Cream);
    host_->installEventFilter(this);
    column->addWidget(host_, 1);

    connect(minimizeButton_, &QToolButton::clicked, this, [this] {
        Guarded([this] {
            if (QWidget *front = activeDocument())
                minimize(front);
        });
    });
    showFront();
}

void DocumentArea::addDocument(QWidget *document)
{
    document->hide();
    document->setParent(host_);
    documents_.emplace_back(document);
    connect(document, &QObject::destroyed, &watcher_, [this] {
        // QPointer has cleared the entry already; show whoever is in front now.
        std::erase_if(order_, [](const QPointer<QWidget> &d) { return d.isNull(); });
        std::erase_if(documents_, [](const QPointer<QWidget> &d) { return d.isNull(); });
        showFront();
    });
    activate(document);
}

void DocumentArea::activate(QWidget *document)
{
    if (!contains(document))
        return;
    forget(document);
    order_.insert(order_.begin(), document);
    showFront();
}

void DocumentArea::minimize(QWidget *document)
{
    forget(document);
    showFront();
}

void DocumentArea::remove(QWidget *document)
{
    forget(document);
    std::erase_if(documents_, [document](const QPointer<QWidget> &d) { return d.isNull() || d == document; });
    document->hide();
    showFront();
}

void DocumentArea::forget(const QWidget *document)
{
    std::erase_if(order_, [document](const QPointer<QWidget> &d) { return d.isNull() || d == document; });
}

QWidget *DocumentArea::activeDocument() const
{
    return order_.empty() ? nullptr : order_.front().data();
}

bool DocumentArea::isMinimized(const QWidget *document) const
{
    return contains(document)
        && std::none_of(
            order_.begin(), order_.end(), [document](const QPointer<QWidget> &d) { return d == document; });
}

int DocumentArea::documentCount() const
{
    return int(std::count_if(
        documents_.begin(), documents_.end(), [](const QPointer<QWidget> &d) { return !d.isNull(); }));
}

bool DocumentArea::contains(const QWidget *document) const
{
    return document
        && std::any_of(documents_.begin(), documents_.end(),
            [document](const QPointer<QWidget> &d) { return d == document; });
}

void DocumentArea::showFront()
{
    QWidget *front = activeDocument();
    const bool changed = shown_ != front;
    if (changed) {
        if (shown_)
            shown_->hide();
        shown_ = front;
        if (front) {
            front->setGeometry(host_->rect());
            front->show();
            front->raise();
        }
    }
    caption_->setText(front ? front->windowTitle() : QString());
    minimizeButton_->setEnabled(front != nullptr);
    if (changed)
        emit activeDocumentChanged(front);
}

bool DocumentArea::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == host_ && event->type() == QEvent::Resize && shown_)
        shown_->setGeometry(host_->rect());
    return QWidget::eventFilter(watched, event);
}
