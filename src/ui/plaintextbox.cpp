#include "ui/plaintextbox.h"

#include "ui/accessibletextbox.h"

#include <QAccessible>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr size_t MaxUndoSteps = 100;

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
    AccessibleTextBox::install();
}

// --- text and edits ----------------------------------------------------------

void PlainTextBox::setPlainText(const QString &text)
{
    const QString old = text_; // shared, not copied
    const qsizetype oldCursor = cursor_;
    const qsizetype oldAnchor = anchor_;
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
    if (QAccessible::isActive() && (!old.isEmpty() || !text_.isEmpty())) {
        QAccessibleTextUpdateEvent event(this, 0, old, text_);
        QAccessible::updateAccessibility(&event);
    }
    tellCaretMoved(oldCursor, oldAnchor);
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
    const qsizetype end = text_.size();
    cursor_ = cursor;
    anchor_ = anchor;
    bar->setValue(atEnd ? bar->maximum() : bar->value());
    viewport()->update();
    tellCaretMoved(end, end);
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
    // Only the change goes to assistive technologies, never the whole text:
    // a keystroke in a 10 MB text tells one character.
    const bool telling = QAccessible::isActive();
    const QString removed = telling ? text_.mid(position, removedLength) : QString();
    const qsizetype oldCursor = cursor_;
    const qsizetype oldAnchor = anchor_;
    text_.replace(position, removedLength, inserted);
    cursor_ = anchor_ = position + inserted.size();
    preferredX_ = -1;
    measureLines();
    ensureCursorVisible();
    restartBlink();
    viewport()->update();
    if (telling) {
        tellTextChanged(position, removed, inserted);
        tellCaretMoved(oldCursor, oldAnchor);
    }
}

void PlainTextBox::select(qsizetype anchor, qsizetype cursor)
{
    const auto inText = [this](qsizetype at) {
        at = std::clamp<qsizetype>(at, 0, text_.size());
        // Never between the halves of a surrogate pair.
        if (at > 0 && at < text_.size() && text_[at].isLowSurrogate() && text_[at - 1].isHighSurrogate())
            --at;
        return at;
    };
    const qsizetype oldCursor = cursor_;
    const qsizetype oldAnchor = anchor_;
    anchor_ = inText(anchor);
    cursor_ = inText(cursor);
    preferredX_ = -1;
    ensureCursorVisible();
    restartBlink();
    viewport()->update();
    tellCaretMoved(oldCursor, oldAnchor);
}

// --- what assistive technologies are told -----------------------------------

void PlainTextBox::tellTextChanged(qsizetype position, const QString &removed, const QString &inserted)
{
    if (!QAccessible::isActive())
        return;
    if (removed.isEmpty()) {
        QAccessibleTextInsertEvent event(this, int(position), inserted);
        QAccessible::updateAccessibility(&event);
    } else if (inserted.isEmpty()) {
        QAccessibleTextRemoveEvent event(this, int(position), removed);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(this, int(position), removed, inserted);
        QAccessible::updateAccessibility(&event);
    }
}

void PlainTextBox::tellCaretMoved(qsizetype oldCursor, qsizetype oldAnchor)
{
    if (!QAccessible::isActive())
        return;
    const bool hadSelection = oldCursor != oldAnchor;
    if (hadSelection || hasSelection()) {
        if (std::min(oldAnchor, oldCursor) != std::min(anchor_, cursor_)
            || std::max(oldAnchor, oldCursor) != std::max(anchor_, cursor_)) {
            QAccessibleTextSelectionEvent event(
                this, int(std::min(anchor_, cursor_)), int(std::max(anchor_, cursor_)));
            QAccessible::updateAccessibility(&event);
        }
    }
    if (oldCursor != cursor_) {
        QAccessibleTextCursorEvent event(this, int(cursor_));
        QAccessible::updateAccessibility(&event);
    }
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
