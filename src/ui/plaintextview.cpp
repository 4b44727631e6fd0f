// PlainTextBox, continued: where its lines and characters lie on screen,
// scrolling, painting and the caret.

#include "ui/plaintextbox.h"

#include <QApplication>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {

constexpr int Margin = 4;
constexpr int TabSpaces = 8;

} // namespace

// --- line index --------------------------------------------------------------

// One pass over the text: where lines start and how wide the widest is.
void PlainTextBox::measureLines()
{
    lineStarts_.assign(1, 0);
    qint64 widest = 0;
    qint64 x = 0;
    const QChar *data = text_.constData();
    const qsizetype size = text_.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] == u'\n') {
            widest = std::max(widest, x);
            x = 0;
            lineStarts_.push_back(i + 1);
        } else {
            x += advance(data[i]);
        }
    }
    widestLine_ = int(std::min<qint64>(std::max(widest, x), INT_MAX / 2));
    updateScrollRanges();
}

// --- geometry ----------------------------------------------------------------

int PlainTextBox::advance(QChar c) const
{
    const char16_t u = c.unicode();
    if (u < 128) {
        int &cached = asciiAdvance_[u];
        if (cached < 0)
            cached = u == u'\t' ? TabSpaces * fontMetrics().horizontalAdvance(QLatin1Char(' '))
                                : fontMetrics().horizontalAdvance(c);
        return cached;
    }
    auto it = advances_.constFind(u);
    if (it != advances_.constEnd())
        return *it;
    const int width = fontMetrics().horizontalAdvance(c);
    advances_.insert(u, width);
    return width;
}

int PlainTextBox::widthOf(qsizetype from, qsizetype to) const
{
    qint64 width = 0;
    for (qsizetype i = from; i < to; ++i)
        width += advance(text_[i]);
    return int(std::min<qint64>(width, INT_MAX / 2));
}

int PlainTextBox::lineOf(qsizetype position) const
{
    return int(std::upper_bound(lineStarts_.begin(), lineStarts_.end(), position) - lineStarts_.begin()) - 1;
}

qsizetype PlainTextBox::lineEnd(int line) const
{
    return size_t(line) + 1 < lineStarts_.size() ? lineStarts_[size_t(line) + 1] - 1 : text_.size();
}

qsizetype PlainTextBox::positionInLine(int line, int x) const
{
    const qsizetype start = lineStarts_[size_t(line)];
    const qsizetype end = lineEnd(line);
    qsizetype position = start;
    int at = 0;
    for (; position < end; ++position) {
        const int w = advance(text_[position]);
        if (x < at + w / 2)
            break;
        at += w;
    }
    if (position > start && position < end && text_[position].isLowSurrogate())
        --position;
    return position;
}

qsizetype PlainTextBox::positionAt(QPoint point) const
{
    const int lineHeight = fontMetrics().lineSpacing();
    const int row = point.y() < Margin ? -1 : (point.y() - Margin) / lineHeight;
    const int line = std::clamp(verticalScrollBar()->value() + row, 0, lineCount() - 1);
    return positionInLine(line, point.x() - Margin + horizontalScrollBar()->value());
}

QRect PlainTextBox::cursorRect() const
{
    QRect rect = characterRect(cursor_);
    rect.setWidth(1);
    return rect;
}

QRect PlainTextBox::characterRect(qsizetype position) const
{
    const int line = lineOf(position);
    const int lineHeight = fontMetrics().lineSpacing();
    const int x = Margin + widthOf(lineStarts_[size_t(line)], position) - horizontalScrollBar()->value();
    const int y = Margin + (line - verticalScrollBar()->value()) * lineHeight;
    const bool onCharacter = position < text_.size() && text_[position] != u'\n';
    return {x, y, onCharacter ? advance(text_[position]) : 1, lineHeight};
}

int PlainTextBox::visibleLines() const
{
    return std::max(1, (viewport()->height() - Margin) / std::max(1, fontMetrics().lineSpacing()));
}

void PlainTextBox::updateScrollRanges()
{
    const int shown = visibleLines();
    QScrollBar *vertical = verticalScrollBar();
    vertical->setRange(0, std::max(0, lineCount() - shown));
    vertical->setPageStep(shown);
    QScrollBar *sideways = horizontalScrollBar();
    const int width = viewport()->width();
    sideways->setRange(0, std::max(0, widestLine_ + 2 * Margin + 1 - width));
    sideways->setPageStep(std::max(1, width));
}

void PlainTextBox::scrollToShow(qsizetype position)
{
    const int line = lineOf(position);
    QScrollBar *vertical = verticalScrollBar();
    const int shown = visibleLines();
    if (line < vertical->value())
        vertical->setValue(line);
    else if (line >= vertical->value() + shown)
        vertical->setValue(line - shown + 1);

    QScrollBar *sideways = horizontalScrollBar();
    const int x = widthOf(lineStarts_[size_t(line)], position);
    const int room = std::max(1, viewport()->width() - 2 * Margin - 1);
    if (x < sideways->value())
        sideways->setValue(x);
    else if (x > sideways->value() + room)
        sideways->setValue(x - room);
}

// --- painting ----------------------------------------------------------------

void PlainTextBox::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    // Characters are placed by their own advances; kerning would move the
    // drawn text away from where clicks and the caret put it.
    QFont unkerned = font();
    unkerned.setKerning(false);
    painter.setFont(unkerned);
    const int lineHeight = fontMetrics().lineSpacing();
    const int height = viewport()->height();
    int top = Margin;
    for (int line = verticalScrollBar()->value(); line < lineCount() && top < height; ++line) {
        paintLine(painter, line, top);
        top += lineHeight;
    }
    if (hasFocus() && caretShown_)
        painter.fillRect(cursorRect(), palette().color(QPalette::Text));
}

void PlainTextBox::paintLine(QPainter &painter, int line, int top) const
{
    const qsizetype start = lineStarts_[size_t(line)];
    const qsizetype end = lineEnd(line);
    const int right = viewport()->width();
    // Only what lies between the view's edges is drawn.
    qsizetype from = start;
    int x = Margin - horizontalScrollBar()->value();
    while (from < end && x + advance(text_[from]) <= 0)
        x += advance(text_[from++]);
    if (from > start && from < end && text_[from].isLowSurrogate())
        x -= advance(text_[--from]);
    qsizetype to = from;
    for (int w = x; to < end && w < right; ++to)
        w += advance(text_[to]);
    if (to < end && text_[to].isLowSurrogate())
        ++to;

    const int lineHeight = fontMetrics().lineSpacing();
    const int baseline = top + fontMetrics().ascent();
    const auto drawRange = [&](qsizetype a, qsizetype b, int at) {
        // Tabs are gaps of their own width, not glyphs.
        while (a < b) {
            qsizetype run = a;
            while (run < b && text_[run] != u'\t')
                ++run;
            if (run > a)
                painter.drawText(QPoint(at, baseline), text_.mid(a, run - a));
            at += widthOf(a, run);
            if (run < b)
                at += advance(text_[run++]);
            a = run;
        }
    };
    painter.setPen(palette().color(QPalette::Text));
    drawRange(from, to, x);

    const qsizetype selectionStart = std::min(anchor_, cursor_);
    const qsizetype selectionEnd = std::max(anchor_, cursor_);
    if (selectionStart == selectionEnd || selectionStart > end || selectionEnd < start)
        return;
    const qsizetype a = std::clamp(selectionStart, from, to);
    const qsizetype b = std::clamp(selectionEnd, from, to);
    const int left = x + widthOf(from, a);
    int width = widthOf(a, b);
    if (selectionEnd > end && b == end)
        width += advance(QLatin1Char(' ')); // the selected line break
    if (width <= 0)
        return;
    const QRect band(left, top, width, lineHeight);
    painter.fillRect(band, palette().color(QPalette::Highlight));
    painter.save();
    painter.setClipRect(band);
    painter.setPen(palette().color(QPalette::HighlightedText));
    drawRange(from, to, x);
    painter.restore();
}

void PlainTextBox::scrollContentsBy(int, int)
{
    viewport()->update();
}

void PlainTextBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRanges();
}

void PlainTextBox::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        advances_.clear();
        std::fill(std::begin(asciiAdvance_), std::end(asciiAdvance_), -1);
        measureLines();
        viewport()->update();
    }
    QAbstractScrollArea::changeEvent(event);
}

// --- caret -------------------------------------------------------------------

void PlainTextBox::restartBlink()
{
    caretShown_ = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        blink_.start(flash / 2, this);
    else
        blink_.stop();
}

void PlainTextBox::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != blink_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    caretShown_ = !caretShown_;
    viewport()->update(cursorRect().adjusted(-1, 0, 1, 0));
}

void PlainTextBox::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
    viewport()->update();
}

void PlainTextBox::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    blink_.stop();
    viewport()->update();
}
