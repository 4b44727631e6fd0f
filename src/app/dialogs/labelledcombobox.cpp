#include "app/dialogs/labelledcombobox.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLineEdit>

namespace {

// The box as assistive technologies know a combo box: named by what names
// it, its text as its value, its line edit (when it has one) as its part,
// and opening the list as its action. Owned by Qt's accessibility cache; UI
// thread only.
class AccessibleLabelledComboBox : public QAccessibleWidget {
public:
    explicit AccessibleLabelledComboBox(LabelledComboBox *box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    [[nodiscard]] QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return box()->currentText();
        const QString text = QAccessibleWidget::text(type);
        return type == QAccessible::Name ? text.trimmed() : text;
    }

    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = box()->isEditable();
        state.focusable = true;
        state.focused = box()->hasFocus() || (box()->lineEdit() && box()->lineEdit()->hasFocus());
        state.hasPopup = true;
        state.expandable = true;
        state.expanded = box()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    [[nodiscard]] QStringList actionNames() const override { return {showMenuAction(), setFocusAction()}; }

    void doAction(const QString &action) override
    {
        if (action == showMenuAction())
            box()->showPopup();
        else if (action == setFocusAction())
            box()->setFocus(Qt::OtherFocusReason);
    }

    [[nodiscard]] QStringList keyBindingsForAction(const QString &action) const override
    {
        if (action == showMenuAction())
            return {QKeySequence(Qt::ALT | Qt::Key_Down).toString(), QKeySequence(Qt::Key_F4).toString()};
        return {};
    }

private:
    [[nodiscard]] LabelledComboBox *box() const { return static_cast<LabelledComboBox *>(widget()); }
};

QAccessibleInterface *makeInterface(const QString &className, QObject *object)
{
    // Asked once for each class up the chain: a subclass is answered too.
    if (auto *box = qobject_cast<LabelledComboBox *>(object);
        box && className == QLatin1String("LabelledComboBox"))
        return new AccessibleLabelledComboBox(box);
    return nullptr;
}

} // namespace

LabelledComboBox::LabelledComboBox(QWidget *parent)
    : QComboBox(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(accessible);
}
