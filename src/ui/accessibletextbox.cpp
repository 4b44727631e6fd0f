#include "ui/accessibletextbox.h"

#include "ui/plaintextbox.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

// How far around an offset a character, word or sentence is looked for. A
// word longer than this (a hex line without blanks) is read in pieces.
constexpr qsizetype ItemReach = 1024;

QAccessibleInterface *makeInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("PlainTextBox"))
        if (auto *box = qobject_cast<PlainTextBox *>(object))
            return new AccessibleTextBox(box);
    return nullptr;
}

[[nodiscard]] bool isItemEdge(const QTextBoundaryFinder &finder)
{
    return finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
}

// The first item edge after the finder's position, or the end.
qsizetype nextEdge(QTextBoundaryFinder &finder, qsizetype length)
{
    while (finder.position() >= 0 && finder.position() < length) {
        if (finder.toNextBoundary() < 0)
            return length;
        if (finder.position() >= length || isItemEdge(finder))
            return finder.position();
    }
    return length;
}

// The last item edge before the finder's position, or the start.
qsizetype previousEdge(QTextBoundaryFinder &finder)
{
    while (finder.position() > 0) {
        if (finder.toPreviousBoundary() <= 0)
            return 0;
        if (isItemEdge(finder))
            return finder.position();
    }
    return 0;
}

qsizetype edgeAtOrBefore(QTextBoundaryFinder &finder)
{
    return isItemEdge(finder) ? finder.position() : previousEdge(finder);
}

} // namespace

AccessibleTextBox::AccessibleTextBox(PlainTextBox *box)
    : QAccessibleWidget(box, QAccessible::EditableText)
{
}

void AccessibleTextBox::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

PlainTextBox *AccessibleTextBox::box() const
{
    return static_cast<PlainTextBox *>(widget());
}

QAccessible::State AccessibleTextBox::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

void *AccessibleTextBox::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

// --- caret and selection -----------------------------------------------------

void AccessibleTextBox::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    const PlainTextBox *b = box();
    if (selectionIndex != 0 || !b->hasSelection()) {
        *startOffset = *endOffset = 0;
        return;
    }
    *startOffset = int(std::min(b->anchor_, b->cursor_));
    *endOffset = int(std::max(b->anchor_, b->cursor_));
}

int AccessibleTextBox::selectionCount() const
{
    return box()->hasSelection() ? 1 : 0;
}

void AccessibleTextBox::addSelection(int startOffset, int endOffset)
{
    // One selection at a time: a new one replaces it.
    setSelection(0, startOffset, endOffset);
}

void AccessibleTextBox::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        box()->select(box()->cursor_, box()->cursor_);
}

void AccessibleTextBox::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        box()->select(resolved(startOffset), resolved(endOffset));
}

int AccessibleTextBox::cursorPosition() const
{
    return int(box()->cursor_);
}

void AccessibleTextBox::setCursorPosition(int position)
{
    const qsizetype at = resolved(position);
    box()->select(at, at);
}

// --- text --------------------------------------------------------------------

qsizetype AccessibleTextBox::resolved(int offset) const
{
    const qsizetype size = box()->text_.size();
    if (offset == -1)
        return size;
    if (offset == -2)
        return box()->cursor_;
    return std::clamp<qsizetype>(offset, 0, size);
}

QString AccessibleTextBox::text(int startOffset, int endOffset) const
{
    const qsizetype from = resolved(startOffset);
    const qsizetype to = resolved(endOffset);
    if (to <= from)
        return {};
    return box()->text_.mid(from, to - from);
}

int AccessibleTextBox::characterCount() const
{
    return int(box()->text_.size());
}

QString AccessibleTextBox::textBeforeOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    return item(offset, boundaryType, Item::Before, startOffset, endOffset);
}

QString AccessibleTextBox::textAfterOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    return item(offset, boundaryType, Item::After, startOffset, endOffset);
}

QString AccessibleTextBox::textAtOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    return item(offset, boundaryType, Item::At, startOffset, endOffset);
}

QString AccessibleTextBox::item(int offset, QAccessible::TextBoundaryType boundaryType, Item which,
    int *startOffset, int *endOffset) const
{
    const QString &text = box()->text_;
    const qsizetype at = offset == -1 ? text.size() : offset == -2 ? box()->cursor_ : offset;
    if (text.isEmpty() || at < 0 || at > text.size()) {
        *startOffset = *endOffset = -1;
        return {};
    }
    switch (boundaryType) {
    case QAccessible::CharBoundary:
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary:
        return textItem(at, boundaryType, which, startOffset, endOffset);
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary:
        // Lines are not wrapped: each is a paragraph of its own.
        return lineItem(at, which, startOffset, endOffset);
    case QAccessible::NoBoundary:
        break;
    }
    *startOffset = 0;
    *endOffset = int(text.size());
    return text;
}

// A line with its line break, as a line-start boundary reads it.
QString AccessibleTextBox::lineItem(qsizetype offset, Item which, int *startOffset, int *endOffset) const
{
    const PlainTextBox *b = box();
    const int count = b->lineCount();
    int line = b->lineOf(offset);
    if (which == Item::Before)
        --line;
    else if (which == Item::After)
        ++line;
    if (line < 0 || line >= count) {
        *startOffset = *endOffset = int(line < 0 ? 0 : b->text_.size());
        return {};
    }
    const qsizetype start = b->lineStarts_[size_t(line)];
    const qsizetype end = line + 1 < count ? b->lineStarts_[size_t(line) + 1] : b->text_.size();
    *startOffset = int(start);
    *endOffset = int(end);
    return b->text_.mid(start, end - start);
}

// A character, word or sentence, found as Qt's own text interfaces find it,
// within ItemReach of the offset.
QString AccessibleTextBox::textItem(qsizetype offset, QAccessible::TextBoundaryType boundaryType, Item which,
    int *startOffset, int *endOffset) const
{
    const QString &text = box()->text_;
    if ((which == Item::At || which == Item::After) && offset == text.size()) {
        *startOffset = *endOffset = int(offset);
        return {};
    }
    if (which == Item::Before && offset == 0) {
        *startOffset = *endOffset = 0;
        return {};
    }
    qsizetype from = std::max<qsizetype>(0, offset - ItemReach);
    qsizetype to = std::min(text.size(), offset + ItemReach);
    if (from > 0 && text[from].isLowSurrogate())
        ++from;
    if (to < text.size() && text[to].isLowSurrogate())
        --to;
    const QString window = text.mid(from, to - from);
    const qsizetype length = window.size();
    const QTextBoundaryFinder::BoundaryType type = boundaryType == QAccessible::CharBoundary
        ? QTextBoundaryFinder::Grapheme
        : boundaryType == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                    : QTextBoundaryFinder::Sentence;
    QTextBoundaryFinder finder(type, window);
    finder.setPosition(offset - from);
    qsizetype start = 0;
    qsizetype end = 0;
    switch (which) {
    case Item::At:
        start = edgeAtOrBefore(finder);
        end = nextEdge(finder, length);
        break;
    case Item::Before:
        end = edgeAtOrBefore(finder);
        start = previousEdge(finder);
        break;
    case Item::After:
        start = nextEdge(finder, length);
        end = start < length ? nextEdge(finder, length) : length;
        break;
    }
    *startOffset = int(from + start);
    *endOffset = int(from + end);
    return window.mid(start, end - start);
}

// --- geometry ----------------------------------------------------------------

QRect AccessibleTextBox::characterRect(int offset) const
{
    const PlainTextBox *b = box();
    const QRect rect = b->characterRect(resolved(offset));
    return {b->viewport()->mapToGlobal(rect.topLeft()), rect.size()};
}

int AccessibleTextBox::offsetAtPoint(const QPoint &point) const
{
    const PlainTextBox *b = box();
    const QPoint inside = b->viewport()->mapFromGlobal(point);
    if (!b->viewport()->rect().contains(inside))
        return -1;
    return int(b->positionAt(inside));
}

void AccessibleTextBox::scrollToSubstring(int startIndex, int endIndex)
{
    box()->scrollToShow(resolved(endIndex));
    box()->scrollToShow(resolved(startIndex));
}

QString AccessibleTextBox::attributes(int offset, int *startOffset, int *endOffset) const
{
    // Plain text: one run without attributes.
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

// --- edits -------------------------------------------------------------------

void AccessibleTextBox::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, {});
}

void AccessibleTextBox::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void AccessibleTextBox::replaceText(int startOffset, int endOffset, const QString &text)
{
    const qsizetype from = resolved(startOffset);
    const qsizetype to = std::max(from, resolved(endOffset));
    box()->replace(from, to, text);
}
