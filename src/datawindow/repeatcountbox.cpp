#include "datawindow/repeatcountbox.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace {

// The box as assistive technologies know an editable combo box: named by
// the label that names it, its text as its value, its line edit and list
// button as its parts, and opening the list as its action. Owned by Qt's
// accessibility cache; UI thread only.
class AccessibleRepeatCountBox : public QAccessibleWidget {
public:
    explicit AccessibleRepeatCountBox(RepeatCountBox *box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    [[nodiscard]] QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return box()->currentText();
        // The label pads its caption with blanks to line up the boxes.
        const QString text = QAccessibleWidget::text(type);
        return type == QAccessible::Name ? text.trimmed() : text;
    }

    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.focusable = true;
        state.focused = box()->lineEdit()->hasFocus();
        state.hasPopup = true;
        state.expandable = true;
        state.expanded = box()->isPopupShown();
        state.collapsed = !state.expanded;
        return state;
    }

    [[nodiscard]] QStringList actionNames() const override { return {showMenuAction(), setFocusAction()}; }

    void doAction(const QString &action) override
    {
        if (action == showMenuAction())
            box()->showPopup();
        else if (action == setFocusAction())
            box()->lineEdit()->setFocus(Qt::OtherFocusReason);
    }

    [[nodiscard]] QStringList keyBindingsForAction(const QString &action) const override
    {
        if (action == showMenuAction())
            return {QKeySequence(Qt::ALT | Qt::Key_Down).toString(), QKeySequence(Qt::Key_F4).toString()};
        return {};
    }

private:
    [[nodiscard]] RepeatCountBox *box() const { return static_cast<RepeatCountBox *>(widget()); }
};

QAccessibleInterface *makeInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("RepeatCountBox"))
        if (auto *box = qobject_cast<RepeatCountBox *>(object))
            return new AccessibleRepeatCountBox(box);
    return nullptr;
}

// The keys that open a combo box's list.
bool opensList(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_F4 && modifiers == Qt::NoModifier)
        return true;
    return (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && modifiers == Qt::AltModifier;
}

} // namespace

RepeatCountBox::RepeatCountBox(QWidget *parent)
    : QWidget(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(accessible);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    edit_ = new QLineEdit(this);
    button_ = new QToolButton(this);
    button_->setArrowType(Qt::DownArrow);
    button_->setFocusPolicy(Qt::NoFocus);
    row->addWidget(edit_, 1);
    row->addWidget(button_);
    // Focus given to the box (a label's buddy, a tab) goes to its text.
    setFocusProxy(edit_);
    edit_->installEventFilter(this);
    connect(button_, &QToolButton::clicked, this, &RepeatCountBox::showPopup);
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent event(this, text);
            QAccessible::updateAccessibility(&event);
        }
    });
}

QString RepeatCountBox::currentText() const
{
    return edit_->text();
}

void RepeatCountBox::setEditText(const QString &text)
{
    edit_->setText(text);
}

bool RepeatCountBox::isPopupShown() const
{
    return popup_ && popup_->isVisible();
}

bool RepeatCountBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edit_ && event->type() == QEvent::KeyPress && opensList(static_cast<QKeyEvent *>(event))) {
        showPopup();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void RepeatCountBox::showPopup()
{
    // Not exec(): its nested loop may run the removal of the window this box
    // sits in, which would free a menu held on this function's stack. The
    // list goes with the box, or when it closes.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const QString &item : std::as_const(items_)) {
        QAction *action = menu->addAction(item, this, [this, item] { setEditText(item); });
        // Opened from the keyboard, the list starts at the count shown.
        if (item == edit_->text())
            menu->setActiveAction(action);
    }
    menu->setMinimumWidth(width());
    popup_ = menu;
    menu->popup(mapToGlobal(QPoint(0, height())));
}
