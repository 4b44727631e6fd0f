#include "ui/documentarea.h"

#include "core/errors.h"
#include "core/throttle.h"
#include "ui/palette.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

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
    minimizeButton_->setToolTip(tr("最小化"));
    // It shows an icon only: assistive technologies say what its tip says.
    minimizeButton_->setAccessibleName(minimizeButton_->toolTip());
    row->addWidget(caption_, 1);
    row->addWidget(minimizeButton_);
    column->addWidget(strip);

    host_ = new QWidget(this);
    host_->setObjectName(QStringLiteral("host"));
    paintBackground(host_, Colours::Cream);
    host_->installEventFilter(this);
    column->addWidget(host_, 1);

    showFrontSoon_ = new Throttle(
        std::chrono::milliseconds(100), [this] { showFront(); }, this);
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
    documents_.try_emplace(document);
    // The pointer is only a key here: the document is half destroyed.
    connect(document, &QObject::destroyed, &watcher_, [this, document] {
        drop(document);
        showFrontSoon_->request();
    });
    putInFront(document);
    showFrontSoon_->request();
}

void DocumentArea::activate(QWidget *document)
{
    if (!contains(document))
        return;
    putInFront(document);
    showFrontSoon_->runNow();
}

void DocumentArea::minimize(QWidget *document)
{
    forget(document);
    showFrontSoon_->runNow();
}

void DocumentArea::remove(QWidget *document)
{
    if (!contains(document))
        return;
    disconnect(document, &QObject::destroyed, &watcher_, nullptr);
    drop(document);
    document->hide();
    showFrontSoon_->request();
}

void DocumentArea::putInFront(QWidget *document)
{
    Place &place = documents_.at(document);
    if (place.inView)
        order_.erase(place.inOrder);
    order_.push_front(document);
    place.inOrder = order_.begin();
    place.inView = true;
}

void DocumentArea::forget(const QWidget *document)
{
    const auto found = documents_.find(document);
    if (found == documents_.end() || !found->second.inView)
        return;
    order_.erase(found->second.inOrder);
    found->second.inView = false;
}

void DocumentArea::drop(const QWidget *document)
{
    forget(document);
    documents_.erase(document);
    if (shown_ == document)
        shown_ = nullptr;
}

QWidget *DocumentArea::activeDocument() const
{
    return order_.empty() ? nullptr : order_.front();
}

bool DocumentArea::isMinimized(const QWidget *document) const
{
    const auto found = documents_.find(document);
    return found != documents_.end() && !found->second.inView;
}

int DocumentArea::documentCount() const
{
    return int(documents_.size());
}

bool DocumentArea::contains(const QWidget *document) const
{
    return document && documents_.count(document) > 0;
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
