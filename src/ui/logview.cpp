#include "ui/logview.h"

#include "ui/logaccessible.h"
#include "ui/logfeed.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {
// Entries shorter than this wrap in a few microseconds; only longer ones are
// worth keeping wrapped.
constexpr qsizetype MinCachedWrapChars = 4096;
// Long entries kept wrapped: more than a screen can show at once.
constexpr size_t MaxCachedWraps = 8;
// Lines kept for the entries last shown: more than a screen holds, and no
// more characters than this beyond the newest line (which may be long, a
// large piece in hex, and is kept while it is being looked at). A flood
// shows new lines at every paint, so the bound is what the cache adds to
// the log's memory then.
constexpr size_t MaxMadeLines = 256;
constexpr qsizetype MaxMadeChars = 256 * 1024;
} // namespace

LogView::LogView(QWidget *parent)
    : QAbstractScrollArea(parent)
    , maxEntries_(LogLimits::MaxEntries)
    , maxBytes_(LogLimits::MaxBytes)
    , fileNameBase_(QStringLiteral("portwright"))
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
    InstallLogAccessible();
    paintTimer_.setSingleShot(true);
    connect(&paintTimer_, &QTimer::timeout, viewport(), [this] { viewport()->update(); });
}

void LogView::setEntryText(LogEntryText entryText)
{
    if (entryText == entryText_)
        return;
    entryText_ = entryText;
    made_.clear();
    madeChars_ = 0;
    wrapped_.clear();
    viewport()->update();
}

void LogView::setCaps(int maxEntries, qsizetype maxBytes)
{
    maxEntries_ = maxEntries;
    maxBytes_ = maxBytes;
    appendEntries({});
}

void LogView::appendEntries(std::vector<LogEntry> entries)
{
    for (LogEntry &entry : entries) {
        bytes_ += keptBytes(entry);
        entries_.push_back(std::move(entry));
    }
    dropBeyondCaps();
    forgetDroppedWraps();
    forgetDroppedLines();
    clampSelection();
    updateScrollRange();
    showNewEntries();
    if (!entries.empty())
        announceChange();
}

void LogView::showNewEntries()
{
    // A flood hands entries over many times between two frames a person can
    // tell apart, and each paint makes and wraps the newest line again (a
    // large piece in hex: a million characters).
    if (!paintedAt_.isValid() || paintedAt_.elapsed() >= LogLimits::BatchMs) {
        viewport()->update();
        return;
    }
    if (!paintTimer_.isActive())
        paintTimer_.start(LogLimits::BatchMs - int(paintedAt_.elapsed()));
}

void LogView::dropBeyondCaps()
{
    while (!entries_.empty()
        && (int(entries_.size()) > maxEntries_ || (bytes_ > maxBytes_ && entries_.size() > 1))) {
        bytes_ -= keptBytes(entries_.front());
        entries_.pop_front();
        ++dropped_;
    }
}

qsizetype LogView::dropOldest(qsizetype bytes, bool keepNewest)
{
    qsizetype dropped = 0;
    while (dropped < bytes && !entries_.empty() && !(keepNewest && entries_.size() == 1)) {
        dropped += keptBytes(entries_.front());
        entries_.pop_front();
        ++dropped_;
    }
    if (dropped == 0)
        return 0;
    bytes_ -= dropped;
    forgetDroppedWraps();
    forgetDroppedLines();
    clampSelection();
    updateScrollRange();
    viewport()->update();
    announceChange();
    return dropped;
}

void LogView::clear()
{
    dropped_ += qint64(entries_.size());
    clampSelection();
    entries_.clear();
    forgetDroppedWraps();
    forgetDroppedLines();
    bytes_ = 0;
    followTail_ = true;
    updateScrollRange();
    viewport()->update();
    announceChange();
    emit cleared();
}

void LogView::announceChange()
{
    if (!LogAnnouncer::isHeard())
        return;
    if (!announcer_)
        announcer_ = new LogAnnouncer(this);
    announcer_->changed();
}

QString LogView::toPlainText() const
{
    QString text;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (i)
            text += QLatin1Char('\n');
        text += makeLine(i);
    }
    return text;
}

QString LogView::lastLines(int maxEntries, qsizetype maxChars) const
{
    QStringList lines; // newest first
    qsizetype chars = 0;
    for (size_t i = entries_.size(); i-- > 0 && lines.size() < maxEntries;) {
        const QString line = makeLine(i);
        const qsizetype needed = line.size() + (lines.isEmpty() ? 0 : 1);
        if (chars + needed > maxChars) {
            if (lines.isEmpty())
                lines << line.right(maxChars);
            break;
        }
        chars += needed;
        lines << line;
    }
    std::reverse(lines.begin(), lines.end());
    return lines.join(QLatin1Char('\n'));
}

QString LogView::makeLine(size_t index) const
{
    const LogEntry &entry = entries_[index];
    return entryText_(entry, entry.milliseconds);
}

QString LogView::lineOf(size_t index) const
{
    const qint64 entry = dropped_ + qint64(index);
    // The newest lines are asked for most (a view following the tail).
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
        if (it->entry != entry)
            continue;
        if (it != made_.rbegin())
            std::rotate(std::prev(it.base()), it.base(), made_.end());
        return made_.back().line;
    }
    made_.push_back({entry, makeLine(index)});
    madeChars_ += made_.back().line.size();
    while (made_.size() > 1 && (made_.size() > MaxMadeLines || madeChars_ > MaxMadeChars)) {
        madeChars_ -= made_.front().line.size();
        made_.erase(made_.begin());
    }
    return made_.back().line;
}

void LogView::forgetDroppedLines()
{
    std::erase_if(made_, [this](const MadeLine &known) {
        if (known.entry >= dropped_)
            return false;
        madeChars_ -= known.line.size();
        return true;
    });
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
    // Every character of a piece in hex is ASCII: their widths are looked up
    // here without a call, the table filled once before the loop.
    if (asciiAdvance_[0] < 0) {
        for (char16_t u = 0; u < 128; ++u)
            (void)advance(QChar(u));
    }
    std::vector<Row> rows;
    qsizetype start = 0;
    qsizetype afterBlank = -1; // where the row may break at a blank
    int x = 0;
    int xAfterBlank = 0;
    const qsizetype size = text.size();
    const QChar *chars = text.constData();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = chars[i].unicode();
        if (c == u'\n') {
            rows.push_back({start, i - start});
            start = i + 1;
            afterBlank = -1;
            x = 0;
            continue;
        }
        const int w = c < 128 ? asciiAdvance_[c] : advance(QChar(c));
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
        if (c == u' ') {
            afterBlank = i + 1;
            xAfterBlank = x;
        }
    }
    rows.push_back({start, size - start});
    return rows;
}

LogView::Rows LogView::rowsOf(size_t index, const QString &line, int width) const
{
    if (line.size() < MinCachedWrapChars)
        return std::make_shared<const std::vector<Row>>(wrap(line, width));
    const qint64 entry = dropped_ + qint64(index);
    auto hit = std::find_if(wrapped_.begin(), wrapped_.end(),
        [&](const WrappedEntry &known) { return known.entry == entry && known.width == width; });
    if (hit != wrapped_.end()) {
        std::rotate(hit, hit + 1, wrapped_.end());
        return wrapped_.back().rows;
    }
    if (wrapped_.size() >= MaxCachedWraps)
        wrapped_.erase(wrapped_.begin());
    wrapped_.push_back({entry, width, std::make_shared<const std::vector<Row>>(wrap(line, width))});
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
            const QString line = lineOf(i);
            const Rows wrapped = rowsOf(i, line, width);
            for (auto row = wrapped->rbegin(); row != wrapped->rend() && bottom > 0; ++row) {
                bottom -= lineHeight;
                rows.push_back({i, line, *row, bottom});
            }
        }
        std::reverse(rows.begin(), rows.end());
        return rows;
    }
    int top = Margin;
    for (size_t i = size_t(verticalScrollBar()->value()); i < entries_.size() && top < height; ++i) {
        const QString line = lineOf(i);
        const Rows wrapped = rowsOf(i, line, width);
        for (const Row &row : *wrapped) {
            if (top >= height)
                break;
            rows.push_back({i, line, row, top});
            top += lineHeight;
        }
    }
    return rows;
}

int LogView::paintedWidth(const QString &text, qsizetype from, qsizetype to) const
{
    // Drawn text is shaped (kerned) as a whole, so a highlight placed by the
    // sum of single-character advances drifts off its text along a row.
    return fontMetrics().horizontalAdvance(QStringView(text).sliced(from, to - from).toString());
}

void LogView::paintEvent(QPaintEvent *)
{
    paintedAt_.start();
    QPainter painter(viewport());
    const QColor textColour = palette().color(QPalette::Text);
    painter.setPen(textColour);
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = metrics.lineSpacing();
    const auto [from, to] = std::minmax(anchor_, cursor_);
    for (const ScreenRow &screen : screenRows()) {
        const QString &text = screen.line;
        const Row &row = screen.row;
        const int baseline = screen.top + metrics.ascent();
        paintMatches(painter, screen);
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
        const int x = Margin + paintedWidth(text, row.start, start);
        painter.fillRect(
            x, screen.top, paintedWidth(text, start, end), lineHeight, palette().color(QPalette::Highlight));
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawText(x, baseline, text.mid(start, end - start));
        painter.setPen(textColour);
    }
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
