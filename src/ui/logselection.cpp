// LogView, continued: selecting its text with the mouse and the keys, copying
// the selection or the whole log, and the context menu.

#include "ui/logview.h"

#include "core/errors.h"
#include "ui/logfindbar.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

LogView::TextPos LogView::positionAt(QPoint point) const
{
    const std::vector<ScreenRow> rows = screenRows();
    if (rows.empty())
        return {dropped_, 0};
    const int lineHeight = fontMetrics().lineSpacing();
    if (point.y() < rows.front().top)
        return {dropped_ + qint64(rows.front().index), rows.front().row.start};
    auto hit = std::find_if(
        rows.begin(), rows.end(), [&](const ScreenRow &row) { return point.y() < row.top + lineHeight; });
    if (hit == rows.end()) {
        const ScreenRow &last = rows.back();
        return {dropped_ + qint64(last.index), last.row.start + last.row.length};
    }
    const QString &text = hit->line;
    qsizetype offset = hit->row.start;
    const qsizetype end = hit->row.start + hit->row.length;
    int x = Margin;
    for (; offset < end; ++offset) {
        const int w = advance(text[offset]);
        if (point.x() < x + w / 2)
            break;
        x += w;
    }
    // Never between the two halves of a surrogate pair.
    if (offset > 0 && offset < text.size() && text[offset].isLowSurrogate())
        --offset;
    return {dropped_ + qint64(hit->index), offset};
}

void LogView::clampSelection()
{
    const TextPos oldest{dropped_, 0};
    anchor_ = std::max(anchor_, oldest);
    cursor_ = std::max(cursor_, oldest);
}

QString LogView::selectedText() const
{
    const auto [from, to] = std::minmax(anchor_, cursor_);
    QString text;
    for (qint64 entry = from.entry; entry <= to.entry; ++entry) {
        const qint64 index = entry - dropped_;
        if (index < 0 || index >= qint64(entries_.size()))
            break;
        const QString whole = makeLine(size_t(index));
        const qsizetype start = entry == from.entry ? std::min(from.offset, whole.size()) : 0;
        const qsizetype end = entry == to.entry ? std::min(to.offset, whole.size()) : whole.size();
        if (entry != from.entry)
            text += QLatin1Char('\n');
        text += QStringView(whole).mid(start, std::max<qsizetype>(0, end - start));
    }
    return text;
}

void LogView::selectAll()
{
    if (entries_.empty())
        return;
    anchor_ = {dropped_, 0};
    cursor_ = {dropped_ + qint64(entries_.size()) - 1, lineOf(entries_.size() - 1).size()};
    viewport()->update();
    publishSelection();
}

// Where X11 keeps the last selection, for a middle-click paste elsewhere.
void LogView::publishSelection() const
{
    QClipboard *clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void LogView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const TextPos at = positionAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        anchor_ = at;
    cursor_ = at;
    selecting_ = true;
    setFocus(Qt::MouseFocusReason);
    viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent *event)
{
    if (!selecting_) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Dragging past an edge scrolls that way, an entry per move.
    const QPoint point = event->position().toPoint();
    QScrollBar *bar = verticalScrollBar();
    if (point.y() < 0)
        bar->setValue(bar->value() - 1);
    else if (point.y() >= viewport()->height())
        bar->setValue(bar->value() + 1);
    cursor_ = positionAt(point);
    viewport()->update();
}

void LogView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !selecting_) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    selecting_ = false;
    publishSelection();
}

void LogView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const TextPos at = positionAt(event->position().toPoint());
    const qint64 index = at.entry - dropped_;
    if (index < 0 || index >= qint64(entries_.size()))
        return;
    anchor_ = {at.entry, 0};
    cursor_ = {at.entry, lineOf(size_t(index)).size()};
    selecting_ = false;
    viewport()->update();
    publishSelection();
}

void LogView::copyAll() const
{
    QApplication::clipboard()->setText(toPlainText());
}

void LogView::copySelection() const
{
    QApplication::clipboard()->setText(selectedText());
}

void LogView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        hasSelection() ? copySelection() : copyAll();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (event->matches(QKeySequence::Find)) {
        openFindBar();
        return;
    }
    if (event->key() == Qt::Key_F3 && findBar_ && findBar_->isVisible()) {
        findFromBar(bool(event->modifiers() & Qt::ShiftModifier));
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LogView::contextMenuEvent(QContextMenuEvent *event)
{
    // No nested event loop: the window holding the view can be destroyed
    // while the menu is open (a peer disconnects), and the menu, a child of
    // the view, then goes with it instead of being destroyed a second time
    // by a caller's stack frame.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("复制"), this, &LogView::copySelection)->setEnabled(hasSelection());
    menu->addAction(tr("复制全部"), this, &LogView::copyAll);
    menu->addAction(tr("全选"), this, &LogView::selectAll);
    menu->addAction(tr("清空"), this, &LogView::clear);
    menu->addSeparator();
    menu->addAction(tr("查找..."), this, &LogView::openFindBar);
    // The file dialogs run a loop of their own: they open once the menu's
    // handling is over, from the event loop (a timer of the view's, which
    // goes with the view).
    const auto later = [this](void (LogView::*step)()) {
        return [this, step] {
            QTimer::singleShot(0, this, [this, step] { Guarded([this, step] { (this->*step)(); }); });
        };
    };
    menu->addAction(tr("保存日志..."), this, later(&LogView::saveLog));
    if (recordingShown_)
        menu->addAction(tr("停止记录"), this, &LogView::stopRecordingRequested);
    else
        menu->addAction(tr("记录到文件..."), this, later(&LogView::askToRecord));
    menu->addSeparator();
    QAction *milliseconds = menu->addAction(tr("显示毫秒"));
    milliseconds->setCheckable(true);
    milliseconds->setChecked(millisecondsShown_);
    connect(milliseconds, &QAction::toggled, this, [this](bool on) {
        millisecondsShown_ = on;
        emit millisecondsToggled(on);
    });
    menu->popup(event->globalPos());
}
