// PlainTextBox, continued: the keys that edit and move the cursor, and input
// methods' committed text.

#include "ui/plaintextbox.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

#include <algorithm>

namespace {

// Input methods ask for the selection often; a huge one is not worth copying.
constexpr qsizetype MaxSelectionForInputMethods = 4096;

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
    // Tab is typed; with Ctrl it leaves the box, so the keyboard alone gets
    // past it to the controls after it.
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    if (ctrl && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
        const bool back = event->key() == Qt::Key_Backtab || event->modifiers().testFlag(Qt::ShiftModifier);
        QAbstractScrollArea::focusNextPrevChild(!back);
        event->accept();
        return;
    }
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
    const qsizetype oldCursor = cursor_;
    const qsizetype oldAnchor = anchor_;
    cursor_ = position;
    if (!select)
        anchor_ = position;
    preferredX_ = -1;
    ensureCursorVisible();
    restartBlink();
    viewport()->update();
    tellCaretMoved(oldCursor, oldAnchor);
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
