#pragma once
// What assistive technologies (screen readers, automation through AT-SPI)
// see of a PlainTextBox: an editable multi-line text with its caret and
// selection, which they can read by character, word, sentence and line, and
// edit. The box has no QTextDocument behind it, so Qt's own text interfaces
// cannot serve it.
//
// Reading around an offset looks at a bounded stretch of text (lines through
// the box's line index), so a caret move in a 10 MB one-line text costs a
// screen reader's question no more than in a short one.
//
// Ownership and threading: Qt's accessibility cache owns each interface and
// drops it with its box. UI thread only.

#include <QAccessibleWidget>

class PlainTextBox;

class AccessibleTextBox : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit AccessibleTextBox(PlainTextBox *box);

    // Makes Qt ask this class for every PlainTextBox (and subclass). Once
    // is enough; later calls do nothing.
    static void install();

    [[nodiscard]] QAccessible::State state() const override;
    [[nodiscard]] void *interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    [[nodiscard]] int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    [[nodiscard]] int cursorPosition() const override;
    void setCursorPosition(int position) override;
    [[nodiscard]] QString text(int startOffset, int endOffset) const override;
    [[nodiscard]] QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
        int *startOffset, int *endOffset) const override;
    [[nodiscard]] QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
        int *startOffset, int *endOffset) const override;
    [[nodiscard]] QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
        int *startOffset, int *endOffset) const override;
    [[nodiscard]] int characterCount() const override;
    [[nodiscard]] QRect characterRect(int offset) const override;
    [[nodiscard]] int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    [[nodiscard]] QString attributes(int offset, int *startOffset, int *endOffset) const override;

    // QAccessibleEditableTextInterface: edits as the user's own, undoable.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

    // The interface's text() of QAccessibleInterface, hidden by the text
    // interface's text(int, int) otherwise.
    using QAccessibleWidget::text;

private:
    enum class Item { Before, At, After };

    [[nodiscard]] PlainTextBox *box() const;
    // Offsets as AT-SPI gives them: -1 the end, -2 the caret.
    [[nodiscard]] qsizetype resolved(int offset) const;
    [[nodiscard]] QString item(int offset, QAccessible::TextBoundaryType boundaryType, Item which,
        int *startOffset, int *endOffset) const;
    [[nodiscard]] QString lineItem(qsizetype offset, Item which, int *startOffset, int *endOffset) const;
    [[nodiscard]] QString textItem(qsizetype offset, QAccessible::TextBoundaryType boundaryType, Item which,
        int *startOffset, int *endOffset) const;
};
