// LogView, continued: finding text in the log, and painting the matches on
// screen. A search is one pass over the entries from the selection on, so
// even a full log is searched between two paints; each entry's line is made
// for the search and let go.

#include "ui/logview.h"

#include "ui/logfindbar.h"

#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {
// Behind every match on screen; the selected one shows in the highlight colour.
const QColor matchColour(255, 214, 102);
} // namespace

bool LogView::find(const QString &text, Qt::CaseSensitivity cs, bool backwards)
{
    const size_t count = entries_.size();
    if (text.isEmpty() || count == 0)
        return false;
    const auto [from, to] = std::minmax(anchor_, cursor_);
    // The last pass comes back to the entry it started in and takes the part
    // the first pass left out.
    if (!backwards) {
        const qint64 start = std::clamp<qint64>(to.entry - dropped_, 0, qint64(count) - 1);
        const qsizetype startOffset = to.entry - dropped_ == start ? to.offset : 0;
        for (size_t step = 0; step <= count; ++step) {
            const size_t index = (size_t(start) + step) % count;
            const qsizetype at = makeLine(index).indexOf(text, step == 0 ? startOffset : 0, cs);
            if (at >= 0) {
                selectMatch(index, at, text.size());
                return true;
            }
        }
        return false;
    }
    const qint64 start = std::clamp<qint64>(from.entry - dropped_, 0, qint64(count) - 1);
    const qsizetype startOffset = from.entry - dropped_ == start ? from.offset : 0;
    for (size_t step = 0; step <= count; ++step) {
        const size_t index = (size_t(start) + count - step % count) % count;
        const QString line = makeLine(index);
        const QStringView entry(line);
        qsizetype at = -1;
        if (step != 0)
            at = entry.lastIndexOf(text, cs);
        else if (startOffset > 0)
            at = entry.first(std::min(entry.size(), startOffset + text.size() - 1)).lastIndexOf(text, cs);
        if (at >= 0) {
            selectMatch(index, at, text.size());
            return true;
        }
    }
    return false;
}

void LogView::selectMatch(size_t index, qsizetype offset, qsizetype length)
{
    const qint64 entry = dropped_ + qint64(index);
    anchor_ = {entry, offset};
    cursor_ = {entry, offset + length};
    scrollToEntry(index);
    viewport()->update();
}

void LogView::scrollToEntry(size_t index)
{
    const int lineHeight = fontMetrics().lineSpacing();
    const int height = viewport()->height();
    for (const ScreenRow &row : screenRows()) {
        if (row.index == index && row.top >= 0 && row.top + lineHeight <= height)
            return;
    }
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(std::max(0, int(index) - bar->pageStep() / 2));
}

void LogView::highlightMatches(const QString &text, Qt::CaseSensitivity cs)
{
    matchText_ = text;
    matchCase_ = cs;
    viewport()->update();
}

void LogView::paintMatches(QPainter &painter, const ScreenRow &screen) const
{
    if (matchText_.isEmpty())
        return;
    // Only the row and the matches that reach into it are searched: a long
    // entry is not searched again for every row of it on screen.
    const QString &text = screen.line;
    const qsizetype rowStart = screen.row.start;
    const qsizetype rowEnd = rowStart + screen.row.length;
    const qsizetype from = std::max<qsizetype>(0, rowStart - matchText_.size() + 1);
    const QStringView window
        = QStringView(text).sliced(from, std::min(text.size(), rowEnd + matchText_.size() - 1) - from);
    const int lineHeight = fontMetrics().lineSpacing();
    for (qsizetype at = window.indexOf(matchText_, 0, matchCase_); at >= 0;
         at = window.indexOf(matchText_, at + 1, matchCase_)) {
        const qsizetype start = std::max(rowStart, from + at);
        const qsizetype end = std::min(rowEnd, from + at + matchText_.size());
        if (start >= end)
            continue;
        painter.fillRect(Margin + paintedWidth(text, rowStart, start), screen.top,
            paintedWidth(text, start, end), lineHeight, matchColour);
    }
}

void LogView::openFindBar()
{
    if (!findBar_) {
        findBar_ = new LogFindBar(this);
        connect(findBar_, &LogFindBar::findRequested, this, &LogView::findFromBar);
        connect(findBar_, &LogFindBar::termChanged, this,
            [this] { highlightMatches(findBar_->text(), findBar_->caseSensitivity()); });
        connect(findBar_, &LogFindBar::closed, this, [this] {
            highlightMatches({}, Qt::CaseInsensitive);
            setFocus(Qt::OtherFocusReason);
        });
    }
    findBar_->open();
    highlightMatches(findBar_->text(), findBar_->caseSensitivity());
}

void LogView::findFromBar(bool backwards)
{
    const QString text = findBar_->text();
    const bool found = find(text, findBar_->caseSensitivity(), backwards);
    findBar_->showNotFound(!found && !text.isEmpty());
}
