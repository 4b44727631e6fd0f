#include "datapanel/logtext.h"

#include "datapanel/logview.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr int Margin = 4;
}

TLogText::TLogText(QWidget *parent)
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
    std::fill(std::begin(asciiAdvance_), std::end(asciiAdvance_), -1);
}

void TLogText::setCaps(int maxEntries, qsizetype maxChars)
{
    maxEntries_ = maxEntries;
    maxChars_ = maxChars;
    appendEntries({});
}

void TLogText::appendEntries(const QStringList &entries)
{
    for (const QString &entry : entries) {
        entries_.push_back(entry);
        chars_ += entry.size();
    }
    while (!entries_.empty()
        && (int(entries_.size()) > maxEntries_ || (chars_ > maxChars_ && entries_.size() > 1))) {
        chars_ -= entries_.front().size();
        entries_.pop_front();
    }
    updateScrollRange();
    viewport()->update();
}

void TLogText::clear()
{
    entries_.clear();
    chars_ = 0;
    followTail_ = true;
    updateScrollRange();
    viewport()->update();
}

QString TLogText::toPlainText() const
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

void TLogText::updateScrollRange()
{
    QScrollBar *bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    const int last = std::max(0, int(entries_.size()) - 1);
    bar->setRange(0, last);
    bar->setPageStep(std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing())));
    if (followTail_)
        bar->setValue(last);
}

void TLogText::scrollContentsBy(int, int)
{
    QScrollBar *bar = verticalScrollBar();
    followTail_ = bar->value() >= bar->maximum();
    viewport()->update();
}

int TLogText::advance(QChar c) const
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

std::vector<TLogText::Row> TLogText::wrap(const QString &text, int width) const
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

void TLogText::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = metrics.lineSpacing();
    const int width = std::max(1, viewport()->width() - 2 * Margin);
    const int height = viewport()->height();
    if (entries_.empty())
        return;

    const auto drawRow = [&](const QString &text, const Row &row, int top) {
        painter.drawText(Margin, top + metrics.ascent(), text.mid(row.start, row.length));
    };

    if (followTail_) {
        // Bottom up from the newest entry: only the rows on screen are made.
        int bottom = height - Margin;
        for (auto it = entries_.rbegin(); it != entries_.rend() && bottom > 0; ++it) {
            const std::vector<Row> rows = wrap(*it, width);
            for (auto row = rows.rbegin(); row != rows.rend() && bottom > 0; ++row) {
                bottom -= lineHeight;
                drawRow(*it, *row, bottom);
            }
        }
        return;
    }
    int top = Margin;
    for (size_t i = size_t(verticalScrollBar()->value()); i < entries_.size() && top < height; ++i) {
        for (const Row &row : wrap(entries_[i], width)) {
            if (top >= height)
                break;
            drawRow(entries_[i], row, top);
            top += lineHeight;
        }
    }
}

void TLogText::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void TLogText::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        advances_.clear();
        std::fill(std::begin(asciiAdvance_), std::end(asciiAdvance_), -1);
    }
    QAbstractScrollArea::changeEvent(event);
}

void TLogText::copyAll() const
{
    QApplication::clipboard()->setText(toPlainText());
}

void TLogText::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
        copyAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TLogText::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("复制全部"), this, &TLogText::copyAll);
    menu.addAction(QStringLiteral("清空"), this, &TLogText::clear);
    menu.exec(event->globalPos());
}
