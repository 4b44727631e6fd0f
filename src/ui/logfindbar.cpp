#include "ui/logfindbar.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace {
// Between the bar and the view's edges, in pixels.
constexpr int Inset = 4;
} // namespace

LogFindBar::LogFindBar(QWidget *view)
    : QFrame(view)
    , findEdit_(new QLineEdit(this))
    , previousButton_(new QPushButton(tr("上一个"), this))
    , nextButton_(new QPushButton(tr("下一个"), this))
    , caseSwitch_(new QCheckBox(tr("区分大小写"), this))
    , notFoundLabel_(new QLabel(tr("未找到"), this))
    , closeButton_(new QToolButton(this))
{
    setObjectName(QStringLiteral("findBar"));
    findEdit_->setObjectName(QStringLiteral("findEdit"));
    previousButton_->setObjectName(QStringLiteral("findPreviousButton"));
    nextButton_->setObjectName(QStringLiteral("findNextButton"));
    caseSwitch_->setObjectName(QStringLiteral("findCaseSwitch"));
    notFoundLabel_->setObjectName(QStringLiteral("findNotFoundLabel"));
    closeButton_->setObjectName(QStringLiteral("findCloseButton"));
    closeButton_->setText(QStringLiteral("×"));
    notFoundLabel_->hide();
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(Inset, Inset, Inset, Inset);
    layout->setSpacing(Inset);
    for (QWidget *part : std::initializer_list<QWidget *>{
             findEdit_, previousButton_, nextButton_, caseSwitch_, notFoundLabel_, closeButton_})
        layout->addWidget(part);

    connect(previousButton_, &QPushButton::clicked, this, [this] { emit findRequested(true); });
    connect(nextButton_, &QPushButton::clicked, this, [this] { emit findRequested(false); });
    connect(closeButton_, &QToolButton::clicked, this, &LogFindBar::closeBar);
    connect(findEdit_, &QLineEdit::textChanged, this, [this] {
        showNotFound(false);
        emit termChanged();
    });
    connect(caseSwitch_, &QCheckBox::toggled, this, [this] {
        showNotFound(false);
        emit termChanged();
    });
    findEdit_->installEventFilter(this);
    view->installEventFilter(this);
    hide();
}

void LogFindBar::open()
{
    show();
    place();
    raise();
    findEdit_->setFocus(Qt::ShortcutFocusReason);
    findEdit_->selectAll();
}

QString LogFindBar::text() const
{
    return findEdit_->text();
}

Qt::CaseSensitivity LogFindBar::caseSensitivity() const
{
    return caseSwitch_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

void LogFindBar::showNotFound(bool notFound)
{
    if (notFound == notFoundLabel_->isVisible())
        return;
    notFoundLabel_->setVisible(notFound);
    place();
}

bool LogFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent()) {
        if (event->type() == QEvent::Resize && isVisible())
            place();
        return false;
    }
    if (event->type() == QEvent::KeyPress)
        return handleKey(*static_cast<QKeyEvent *>(event));
    return false;
}

void LogFindBar::keyPressEvent(QKeyEvent *event)
{
    if (!handleKey(*event))
        QFrame::keyPressEvent(event);
}

bool LogFindBar::handleKey(const QKeyEvent &event)
{
    const bool backwards(event.modifiers() & Qt::ShiftModifier);
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F3:
        emit findRequested(backwards);
        return true;
    case Qt::Key_Escape:
        closeBar();
        return true;
    default:
        return false;
    }
}

void LogFindBar::closeBar()
{
    hide();
    emit closed();
}

void LogFindBar::place()
{
    const auto *view = static_cast<const QWidget *>(parent());
    adjustSize();
    const int width = std::min(sizeHint().width(), std::max(0, view->width() - 2 * Inset));
    resize(width, sizeHint().height());
    move(std::max(0, view->width() - width - Inset), Inset);
}
