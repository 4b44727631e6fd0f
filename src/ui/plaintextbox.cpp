#include "ui/plaintextbox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {

constexpr int Margin = 4;
constexpr int TabSpaces = 8;
constexpr size_t MaxUndoSteps = 100;
constexpr int SidewaysStep = 20;
// Input methods ask for the selection often; a huge one is not worth copying.
constexpr qsizetype MaxSelectionForInputMethods = 4096;

bool breaksLine(char16_t c)
{
    return c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator || c == 0xFDD0
        || c == 0xFDD1;
}

// The text the way a QPlainTextEdit hands it back as plain text, so that what
// the box sends does not depend on which editor holds it.
QString normalised(const QString &text)
{
    const bool clean = std::none_of(
        text.cbegin(), text.cend(), [](QChar c) { return breaksLine(c.unicode()) || c == QChar::Nbsp; });
    if (clean)
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue; // the "\n" that follows stands for both
        if (breaksLine(c))
            out += u'\n';
        else if (c == QChar::Nbsp)
            out += u' ';
        else
            out += QChar(c);
    }
    return out;
}

// What a typed key inserts, as Qt's own editors decide it.
bool insertsText(const QKeyEvent *event)
{
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    const QChar c = text[0];
    if (c.category() == QChar::Other_Format)
        return true;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ShiftModifier | Qt::ControlModifier))
        return false;
    if (c.isPrint() || c.category() == QChar::Other_PrivateUse || c == u'\t')
        return true;
    return c.isHighSurrogate() && text.size() > 1 && text[1].isLowSurrogate();
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

enum class Move {
    None,
    NextChar,
    PreviousChar,
    NextWord,
    PreviousWord,
    NextLine,
    PreviousLine,
    NextPage,
    PreviousPage,
    LineStart,
    LineEnd,
    DocumentStart,
    DocumentEnd
};

struct KeyMove {
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Move kind;
};

constexpr KeyMove keyMoves[] = {
    {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Move::NextChar},
    {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Move::PreviousChar},
    {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Move::NextWord},
    {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Move::PreviousWord},
    {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Move::NextLine},
    {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Move::PreviousLine},
    {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Move::NextPage},
    {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Move::PreviousPage},
    {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Move::LineStart},
    {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Move::LineEnd},
    {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Move::DocumentStart},
    {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Move::DocumentEnd},
};

// The move a key asks for, and whether it extends the selection.
Move moveFor(QKeyEvent *event, bool &select)
{
    for (const KeyMove &entry : keyMoves) {
        if (event->matches(entry.move)) {
            select = false;
            return entry.kind;
        }
        if (event->matches(entry.select)) {
            select = true;
            return entry.kind;
        }
    }
    return Move::None;
}

bool isEditCommand(QKeyEvent *event)
{
    for (const auto key : {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut,
             QKeySequence::Paste, QKeySequence::Undo, QKeySequence::Redo, QKeySequence::Delete}) {
        if (event->matches(key))
            return true;
    }
    return false;
}

} // namespace

PlainTextBox::PlainTextBox(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    std::fill(std::begin(asciiAdvance_), std::end(asciiAdvance_), -1);
    horizontalScrollBar()->setSingleStep(SidewaysStep);
}

// --- text and edits ----------------------------------------------------------

void PlainTextBox::setPlainText(const QString &text)
{
    text_ = normalised(text);
    cursor_ = anchor_ = 0;
    preferredX_ = -1;
    undo_.clear();
    redo_.clear();
    measureLines();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    restartBlink();
    viewport()->update();
}

void PlainTextBox::insertPlainText(const QString &text)
{
    replace(std::min(anchor_, cursor_), std::max(anchor_, cursor_), text);
}

void PlainTextBox::appendPlainText(const QString &text)
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const qsizetype cursor = cursor_;
    const qsizetype anchor = anchor_;
    replace(text_.size(), text_.size(), text_.isEmpty() ? text : QLatin1Char('\n') + text);
    cursor_ = cursor;
    anchor_ = anchor;
    bar->setValue(atEnd ? bar->maximum() : bar->value());
    viewport()->update();
}

void PlainTextBox::replace(qsizetype from, qsizetype to, const QString &text, bool typing)
{
    const QString inserted = normalised(text);
    if (from == to && inserted.isEmpty())
        return;
    Edit edit{from, text_.mid(from, to - from), inserted, typing};
    const bool continuesTyping = typing && !undo_.empty() && undo_.back().typing && edit.removed.isEmpty()
        && undo_.back().position + undo_.back().inserted.size() == from;
    if (continuesTyping) {
        undo_.back().inserted += inserted;
    } else {
        undo_.push_back(std::move(edit));
        if (undo_.size() > MaxUndoSteps)
            undo_.erase(undo_.begin());
    }
    redo_.clear();
    applyEdit(from, to - from, inserted);
}

void PlainTextBox::applyEdit(qsizetype position, qsizetype removedLength, const QString &inserted)
{
    text_.replace(position, removedLength, inserted);
    cursor_ = anchor_ = position + inserted.size();
    preferredX_ = -1;
    measureLines();
    ensureCursorVisible();
    restartBlink();
    viewport()->update();
}

void PlainTextBox::undo()
{
    if (undo_.empty())
        return;
    Edit edit = std::move(undo_.back());
    undo_.pop_back();
    applyEdit(edit.position, edit.inserted.size(), edit.removed);
    edit.typing = false;
    redo_.push_back(std::move(edit));
}

void PlainTextBox::redo()
{
    if (redo_.empty())
        return;
    Edit edit = std::move(redo_.back());
    redo_.pop_back();
    applyEdit(edit.position, edit.removed.size(), edit.inserted);
    undo_.push_back(std::move(edit));
}

void PlainTextBox::removeBackward()
{
    if (hasSelection()) {
        insertPlainText({});
        return;
    }
    if (cursor_ == 0)
        return;
    qsizetype from = cursor_ - 1;
    if (from > 0 && text_[from].isLowSurrogate() && text_[from - 1].isHighSurrogate())
        --from;
    replace(from, cursor_, {});
}

void PlainTextBox::removeForward()
{
    if (hasSelection()) {
        insertPlainText({});
        return;
    }
    if (cursor_ >= text_.size())
        return;
    qsizetype to = cursor_ + 1;
    if (to < text_.size() && text_[cursor_].isHighSurrogate() && text_[to].isLowSurrogate())
        ++to;
    replace(cursor_, to, {});
}

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

// --- selection and clipboard ------------------------------------------------

QString PlainTextBox::selectedText() const
{
    const qsizetype from = std::min(anchor_, cursor_);
    return text_.mid(from, std::max(anchor_, cursor_) - from);
}

void PlainTextBox::selectAll()
{
    anchor_ = 0;
    cursor_ = text_.size();
    viewport()->update();
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
    const int line = lineOf(cursor_);
    const int lineHeight = fontMetrics().lineSpacing();
    const int x = Margin + widthOf(lineStarts_[size_t(line)], cursor_) - horizontalScrollBar()->value();
    const int y = Margin + (line - verticalScrollBar()->value()) * lineHeight;
    return {x, y, 1, lineHeight};
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

void PlainTextBox::ensureCursorVisible()
{
    const int line = lineOf(cursor_);
    QScrollBar *vertical = verticalScrollBar();
    const int shown = visibleLines();
    if (line < vertical->value())
        vertical->setValue(line);
    else if (line >= vertical->value() + shown)
        vertical->setValue(line - shown + 1);

    QScrollBar *sideways = horizontalScrollBar();
    const int x = widthOf(lineStarts_[size_t(line)], cursor_);
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

// --- keys --------------------------------------------------------------------

bool PlainTextBox::event(QEvent *event)
{
    // The editing keys belong to the box, not to shortcuts of the window.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        bool select = false;
        if (isEditCommand(key) || moveFor(key, select) != Move::None || insertsText(key)
            || key->key() == Qt::Key_Backspace) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool PlainTextBox::focusNextPrevChild(bool)
{
    return false; // Tab is typed into the box
}

void PlainTextBox::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::SelectAll))
        selectAll();
    else if (event->matches(QKeySequence::Copy))
        copy();
    else if (event->matches(QKeySequence::Cut))
        cut();
    else if (event->matches(QKeySequence::Paste))
        paste();
    else if (event->matches(QKeySequence::Undo))
        undo();
    else if (event->matches(QKeySequence::Redo))
        redo();
    else if (moveCursorFor(event))
        ;
    else if (event->key() == Qt::Key_Backspace)
        removeBackward();
    else if (event->matches(QKeySequence::Delete))
        removeForward();
    else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        replace(std::min(anchor_, cursor_), std::max(anchor_, cursor_), QStringLiteral("\n"), true);
    else if (insertsText(event))
        replace(std::min(anchor_, cursor_), std::max(anchor_, cursor_), event->text(), true);
    else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool PlainTextBox::moveCursorFor(QKeyEvent *event)
{
    bool select = false;
    const Move move = moveFor(event, select);
    if (move == Move::None)
        return false;
    const int line = lineOf(cursor_);
    const qsizetype selectionStart = std::min(anchor_, cursor_);
    const qsizetype selectionEnd = std::max(anchor_, cursor_);
    qsizetype target = cursor_;
    int lines = 0;
    switch (move) {
    case Move::None:
        break;
    case Move::NextChar:
        if (hasSelection() && !select)
            target = selectionEnd;
        else if (target < text_.size())
            target += text_[target].isHighSurrogate() && target + 1 < text_.size() ? 2 : 1;
        break;
    case Move::PreviousChar:
        if (hasSelection() && !select)
            target = selectionStart;
        else if (target > 0)
            target -= text_[target - 1].isLowSurrogate() && target > 1 ? 2 : 1;
        break;
    case Move::NextWord:
        while (target < text_.size() && isWordChar(text_[target]))
            ++target;
        while (target < text_.size() && !isWordChar(text_[target]))
            ++target;
        break;
    case Move::PreviousWord:
        while (target > 0 && !isWordChar(text_[target - 1]))
            --target;
        while (target > 0 && isWordChar(text_[target - 1]))
            --target;
        break;
    case Move::NextLine:
        lines = 1;
        break;
    case Move::PreviousLine:
        lines = -1;
        break;
    case Move::NextPage:
        lines = visibleLines();
        break;
    case Move::PreviousPage:
        lines = -visibleLines();
        break;
    case Move::LineStart:
        target = lineStarts_[size_t(line)];
        break;
    case Move::LineEnd:
        target = lineEnd(line);
        break;
    case Move::DocumentStart:
        target = 0;
        break;
    case Move::DocumentEnd:
        target = text_.size();
        break;
    }
    if (lines == 0) {
        moveCursor(target, select);
        return true;
    }
    // Moving up and down keeps to the column the move started from.
    const int x = preferredX_ >= 0 ? preferredX_ : widthOf(lineStarts_[size_t(line)], cursor_);
    const int next = line + lines;
    if (next < 0)
        target = 0;
    else if (next >= lineCount())
        target = text_.size();
    else
        target = positionInLine(next, x);
    moveCursor(target, select);
    preferredX_ = x;
    return true;
}

void PlainTextBox::moveCursor(qsizetype position, bool select)
{
    cursor_ = position;
    if (!select)
        anchor_ = position;
    preferredX_ = -1;
    ensureCursorVisible();
    restartBlink();
    viewport()->update();
}

// --- input methods -----------------------------------------------------------

void PlainTextBox::inputMethodEvent(QInputMethodEvent *event)
{
    qsizetype from = std::min(anchor_, cursor_);
    qsizetype to = std::max(anchor_, cursor_);
    if (event->replacementLength() > 0 && !hasSelection()) {
        from = std::clamp<qsizetype>(cursor_ + event->replacementStart(), 0, text_.size());
        to = std::clamp<qsizetype>(from + event->replacementLength(), from, text_.size());
    }
    if (!event->commitString().isEmpty() || to > from)
        replace(from, to, event->commitString(), true);
    event->accept();
}

QVariant PlainTextBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return cursorRect().translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return int(cursor_ - lineStarts_[size_t(lineOf(cursor_))]);
    case Qt::ImAnchorPosition:
        return int(anchor_ - lineStarts_[size_t(lineOf(cursor_))]);
    case Qt::ImCurrentSelection:
        return std::abs(anchor_ - cursor_) <= MaxSelectionForInputMethods ? selectedText() : QString();
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
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
    cursor_ = positionAt(point);
    viewport()->update();
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
    anchor_ = from;
    cursor_ = to;
    selecting_ = false;
    viewport()->update();
}

void PlainTextBox::contextMenuEvent(QContextMenuEvent *event)
{
    // Opened without a nested event loop, so the window may go away while it
    // is open (the menu goes with it).
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("撤销"), this, &PlainTextBox::undo)->setEnabled(!undo_.empty());
    menu->addAction(QStringLiteral("重做"), this, &PlainTextBox::redo)->setEnabled(!redo_.empty());
    menu->addSeparator();
    menu->addAction(QStringLiteral("剪切"), this, &PlainTextBox::cut)->setEnabled(hasSelection());
    menu->addAction(QStringLiteral("复制"), this, &PlainTextBox::copy)->setEnabled(hasSelection());
    menu->addAction(QStringLiteral("粘贴"), this, &PlainTextBox::paste)
        ->setEnabled(!QApplication::clipboard()->text().isEmpty());
    menu->addSeparator();
    menu->addAction(QStringLiteral("全选"), this, &PlainTextBox::selectAll)->setEnabled(!text_.isEmpty());
    menu->popup(event->globalPos());
}
