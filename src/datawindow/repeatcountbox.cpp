#include "datawindow/repeatcountbox.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

RepeatCountBox::RepeatCountBox(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    edit_ = new QLineEdit(this);
    button_ = new QToolButton(this);
    button_->setArrowType(Qt::DownArrow);
    button_->setFocusPolicy(Qt::NoFocus);
    row->addWidget(edit_, 1);
    row->addWidget(button_);
    connect(button_, &QToolButton::clicked, this, &RepeatCountBox::showPopup);
}

QString RepeatCountBox::currentText() const
{
    return edit_->text();
}

void RepeatCountBox::setEditText(const QString &text)
{
    edit_->setText(text);
}

void RepeatCountBox::showPopup()
{
    // Not exec(): its nested loop may run the removal of the window this box
    // sits in, which would free a menu held on this function's stack. The
    // list goes with the box, or when it closes.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const QString &item : std::as_const(items_))
        menu->addAction(item, this, [this, item] { setEditText(item); });
    menu->setMinimumWidth(width());
    menu->popup(mapToGlobal(QPoint(0, height())));
}
