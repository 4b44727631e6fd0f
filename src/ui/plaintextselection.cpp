// PlainTextBox, continued: the selection, the clipboard, the mouse and the
// context menu.

#include "ui/plaintextbox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

// --- selection and clipboard ------------------------------------------------

QString PlainTextBox::selectedText() const
{
    const qsizetype from = std::min(anchor_, cursor_);
    return text_.mid(from, std::max(anchor_, cursor_) - from);
}

void PlainTextBox::selectAll()
{
    const qsizetype oldCursor = cursor_;
    const qsizetype oldAnchor = anchor_;
    anchor_ = 0;
    cursor_ = text_.size();
    viewport()->update();
    tellCaretMoved(oldCursor, oldAnchor);
}

void PlainTextBox::copy() const
{
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

void PlainTextBox::cut()
{
    if (!hasSelection())
        return;
    copy();
    insertPlainText({});
}

void PlainTextBox::paste()
{
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty())
        insertPlainText(text);
}

// --- mouse -------------------------------------------------------------------

void PlainTextBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    moveCursor(positionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
    selecting_ = true;
}

void PlainTextBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!selecting_) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Dragging past an edge scrolls that way.
    const QPoint point = event->position().toPoint();
    QScrollBar *vertical = verticalScrollBar();
    QScrollBar *sideways = horizontalScrollBar();
    if (point.y() < 0)
        vertical->setValue(vertical->value() - 1);
    else if (point.y() >= viewport()->height())
        vertical->setValue(vertical->value() + 1);
    if (point.x() < 0)
        sideways->setValue(sideways->value() - SidewaysStep);
    else if (point.x() >= viewport()->width())
        sideways->setValue(sideways->value() + SidewaysStep);
    const qsizetype oldCursor = cursor_;
    cursor_ = positionAt(point);
    viewport()->update();
    tellCaretMoved(oldCursor, anchor_);
}

void PlainTextBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !selecting_) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    selecting_ = false;
    QClipboard *clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void PlainTextBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const qsizetype at = positionAt(event->position().toPoint());
    qsizetype from = at;
    qsizetype to = at;
    while (from > 0 && isWordChar(text_[from - 1]))
        --from;
    while (to < text_.size() && isWordChar(text_[to]))
        ++to;
    if (from == to && to < text_.size() && text_[to] != u'\n')
        ++to;
    const qsizetype oldCursor = cursor_;
    const qsizetype oldAnchor = anchor_;
    anchor_ = from;
    cursor_ = to;
    selecting_ = false;
    viewport()->update();
    tellCaretMoved(oldCursor, oldAnchor);
}

void PlainTextBox::contextMenuEvent(QContextMenuEvent *event)
{
    // Opened without a nested event loop, so the window may go away while it
    // is open (the menu goes with it).
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("撤销"), this, &PlainTextBox::undo)->setEnabled(!undo_.empty());
    menu->addAction(tr("重做"), this, &PlainTextBox::redo)->setEnabled(!redo_.empty());
    menu->addSeparator();
    menu->addAction(tr("剪切"), this, &PlainTextBox::cut)->setEnabled(hasSelection());
    menu->addAction(tr("复制"), this, &PlainTextBox::copy)->setEnabled(hasSelection());
    menu->addAction(tr("粘贴"), this, &PlainTextBox::paste)
        ->setEnabled(!QApplication::clipboard()->text().isEmpty());
    menu->addSeparator();
    menu->addAction(tr("全选"), this, &PlainTextBox::selectAll)->setEnabled(!text_.isEmpty());
    addContextActions(menu);
    menu->popup(event->globalPos());
}
