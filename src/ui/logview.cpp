#include "ui/logview.h"

#include "ui/logfeed.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {
constexpr int Margin = 4;
// Entries shorter than this wrap in a few microseconds; only longer ones are
// worth keeping wrapped.
constexpr qsizetype MinCachedWrapChars = 4096;
// Long entries kept wrapped: more than a screen can show at once.
constexpr size_t MaxCachedWraps = 16;
} // namespace

LogView::LogView(QWidget *parent)
    : QAbstractScrollArea(parent)
    , maxEntries_(LogLimits::MaxEntries)
    , maxChars_(LogLimits::MaxChars)
{
    // Like the rest of the window's boxes it shows no scroll bars; the wheel
    // and the keys still scroll.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    std::fill(std::begin(asciiAdvance_), std::end(asciiAdvance_), -1);
}

void LogView::setCaps(int maxEntries, qsizetype maxChars)
{
    maxEntries_ = maxEntries;
    maxChars_ = maxChars;
    appendEntries({});
}

void LogView::appendEntries(const QStringList &entries)
{
    for (const QString &entry : entries) {
        entries_.push_back(entry);
        chars_ += entry.size();
    }
    while (!entries_.empty()
        && (int(entries_.size()) > maxEntries_ || (chars_ > maxChars_ && entries_.size() > 1))) {
        chars_ -= entries_.front().size();
        entries_.pop_front();
        ++dropped_;
    }
    forgetDroppedWraps();
    clampSelection();
    updateScrollRange();
    viewport()->update();
}

void LogView::clear()
{
    dropped_ += qint64(entries_.size());
    clampSelection();
    entries_.clear();
    forgetDroppedWraps();
    chars_ = 0;
    followTail_ = true;
    updateScrollRange();
    viewport()->update();
}

QString LogView::toPlainText() const
{
    QString text;
    text.reserve(chars_ + qsizetype(entries_.size()));
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (i)
            text += QLatin1Char('\n');
        text += entries_[i];
    }
    return text;
}

void LogView::updateScrollRange()
{
    QScrollBar *bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    const int last = std::max(0, int(entries_.size()) - 1);
    bar->setRange(0, last);
    bar->setPageStep(std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing())));
    if (followTail_)
        bar->setValue(last);
}

void LogView::scrollContentsBy(int, int)
{
    QScrollBar *bar = verticalScrollBar();
    followTail_ = bar->value() >= bar->maximum();
    viewport()->update();
}

int LogView::advance(QChar c) const
{
    const char16_t u = c.unicode();
    if (u < 128) {
        int &cached = asciiAdvance_[u];
        if (cached < 0)
            cached = fontMetrics().horizontalAdvance(c);
        return cached;
    }
    auto it = advances_.constFind(u);
    if (it != advances_.constEnd())
        return *it;
    const int width = fontMetrics().horizontalAdvance(c);
    advances_.insert(u, width);
    return width;
}

std::vector<LogView::Row> LogView::wrap(const QString &text, int width) const
{
    // Breaks after the last blank of a row when there is one, anywhere else
    // when a row has none (hex digits, binary data).
    std::vector<Row> rows;
    qsizetype start = 0;
    qsizetype afterBlank = -1; // where the row may break at a blank
    int x = 0;
    int xAfterBlank = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n')) {
            rows.push_back({start, i - start});
            start = i + 1;
            afterBlank = -1;
            x = 0;
            continue;
        }
        const int w = advance(c);
        if (x + w > width && i > start) {
            if (afterBlank > start) {
                rows.push_back({start, afterBlank - start});
                start = afterBlank;
                x -= xAfterBlank;
            } else {
                rows.push_back({start, i - start});
                start = i;
                x = 0;
            }
            afterBlank = -1;
        }
        x += w;
        if (c == QLatin1Char(' ')) {
            afterBlank = i + 1;
            xAfterBlank = x;
        }
    }
    rows.push_back({start, size - start});
    return rows;
}

LogView::Rows LogView::rowsOf(size_t index, int width) const
{
    const QString &text = entries_[index];
    if (text.size() < MinCachedWrapChars)
        return std::make_shared<const std::vector<Row>>(wrap(text, width));
    const qint64 entry = dropped_ + qint64(index);
    auto hit = std::find_if(wrapped_.begin(), wrapped_.end(),
        [&](const WrappedEntry &known) { return known.entry == entry && known.width == width; });
    if (hit != wrapped_.end()) {
        std::rotate(hit, hit + 1, wrapped_.end());
        return wrapped_.back().rows;
    }
    if (wrapped_.size() >= MaxCachedWraps)
        wrapped_.erase(wrapped_.begin());
    wrapped_.push_back({entry, width, std::make_shared<const std::vector<Row>>(wrap(text, width))});
    return wrapped_.back().rows;
}

void LogView::forgetDroppedWraps()
{
    std::erase_if(wrapped_, [this](const WrappedEntry &known) { return known.entry < dropped_; });
}

std::vector<LogView::ScreenRow> LogView::screenRows() const
{
    std::vector<ScreenRow> rows;
    if (entries_.empty())
        return rows;
    const int lineHeight = fontMetrics().lineSpacing();
    const int width = std::max(1, viewport()->width() - 2 * Margin);
    const int height = viewport()->height();
    if (followTail_) {
        // Bottom up from the newest entry: only the rows on screen are made.
        int bottom = height - Margin;
        for (size_t i = entries_.size(); i-- > 0 && bottom > 0;) {
            const Rows wrapped = rowsOf(i, width);
            for (auto row = wrapped->rbegin(); row != wrapped->rend() && bottom > 0; ++row) {
                bottom -= lineHeight;
                rows.push_back({i, *row, bottom});
            }
        }
        std::reverse(rows.begin(), rows.end());
        return rows;
    }
    int top = Margin;
    for (size_t i = size_t(verticalScrollBar()->value()); i < entries_.size() && top < height; ++i) {
        const Rows wrapped = rowsOf(i, width);
        for (const Row &row : *wrapped) {
            if (top >= height)
                break;
            rows.push_back({i, row, top});
            top += lineHeight;
        }
    }
    return rows;
}

int LogView::textWidth(const QString &text, qsizetype from, qsizetype to) const
{
    int width = 0;
    for (qsizetype i = from; i < to; ++i)
        width += advance(text[i]);
    return width;
}

void LogView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QColor textColour = palette().color(QPalette::Text);
    painter.setPen(textColour);
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = metrics.lineSpacing();
    const auto [from, to] = std::minmax(anchor_, cursor_);
    for (const ScreenRow &screen : screenRows()) {
        const QString &text = entries_[screen.index];
        const Row &row = screen.row;
        const int baseline = screen.top + metrics.ascent();
        painter.drawText(Margin, baseline, text.mid(row.start, row.length));
        const qint64 entry = dropped_ + qint64(screen.index);
        if (from == to || entry < from.entry || entry > to.entry)
            continue;
        qsizetype start = row.start;
        qsizetype end = row.start + row.length;
        if (entry == from.entry)
            start = std::max(start, from.offset);
        if (entry == to.entry)
            end = std::min(end, to.offset);
        if (start >= end)
            continue;
        const int x = Margin + textWidth(text, row.start, start);
        painter.fillRect(
            x, screen.top, textWidth(text, start, end), lineHeight, palette().color(QPalette::Highlight));
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawText(x, baseline, text.mid(start, end - start));
        painter.setPen(textColour);
    }
}

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
    const QString &text = entries_[hit->index];
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
        const QString &whole = entries_[size_t(index)];
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
    cursor_ = {dropped_ + qint64(entries_.size()) - 1, entries_.back().size()};
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
    cursor_ = {at.entry, entries_[size_t(index)].size()};
    selecting_ = false;
    viewport()->update();
    publishSelection();
}

void LogView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void LogView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        wrapped_.clear();
        advances_.clear();
        std::fill(std::begin(asciiAdvance_), std::end(asciiAdvance_), -1);
    }
    QAbstractScrollArea::changeEvent(event);
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
    menu->addAction(QStringLiteral("复制"), this, &LogView::copySelection)->setEnabled(hasSelection());
    menu->addAction(QStringLiteral("复制全部"), this, &LogView::copyAll);
    menu->addAction(QStringLiteral("全选"), this, &LogView::selectAll);
    menu->addAction(QStringLiteral("清空"), this, &LogView::clear);
    menu->popup(event->globalPos());
}
