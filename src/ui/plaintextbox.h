#pragma once
// An editable plain-text box whose cost stays linear in its text, however
// long a line gets. A general text editor shapes and lays out a whole
// paragraph to show any of it, and wraps it in time that grows with the
// square of its length: a 400,000-character line without blanks took
// seconds, a 10 MB paste minutes. Here the text is one string with an index
// of where its lines start; lines are not wrapped (the box scrolls sideways),
// and painting shapes only the characters on screen, measured with cached
// character widths.
//
// Editing: typing, Return, Tab (Ctrl+Tab and Ctrl+Shift+Tab move the focus
// on and back), Backspace and Delete, the arrow, Home/End and
// page keys (with Shift to select), the mouse (a double click takes a word),
// Ctrl+A/C/X/V, undo and redo, and input methods' committed text. Line breaks
// and non-breaking spaces are stored the way a QPlainTextEdit's plain text
// gives them back ("\r\n", "\r" and the Unicode separators become "\n", a
// non-breaking space a space), so toPlainText() is what was inserted in that
// form. Assistive technologies read and edit it through AccessibleTextBox;
// the box tells them of its edits, caret and selection only while one
// listens. UI thread only.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QHash>

#include <vector>

class QMenu;

class PlainTextBox : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit PlainTextBox(QWidget *parent = nullptr);

    [[nodiscard]] QString toPlainText() const { return text_; }
    void setPlainText(const QString &text);
    void clear() { setPlainText({}); }
    // Replaces the selection (if any) at the cursor.
    void insertPlainText(const QString &text);
    // Adds the text as a new line at the end; the cursor stays where it is.
    void appendPlainText(const QString &text);

    void selectAll();
    void copy() const;
    void cut();
    void paste();
    void undo();
    void redo();

    [[nodiscard]] bool hasSelection() const { return anchor_ != cursor_; }
    [[nodiscard]] QString selectedText() const;
    [[nodiscard]] int lineCount() const { return int(lineStarts_.size()); }
    [[nodiscard]] qsizetype cursorPosition() const { return cursor_; }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    [[nodiscard]] QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;
    // Lets a box add its own commands to the end of its context menu.
    virtual void addContextActions(QMenu *) { }

private:
    friend class AccessibleTextBox;

    // Pixels the box scrolls sideways per step, and per move of a drag past
    // its left or right edge.
    static constexpr int SidewaysStep = 20;

    // --- the text and its edits (plaintextbox.cpp)

    // One undoable change: at `position`, `removed` gave way to `inserted`.
    struct Edit {
        qsizetype position;
        QString removed;
        QString inserted;
        bool typing; // consecutive typed characters undo together
    };

    void replace(qsizetype from, qsizetype to, const QString &text, bool typing = false);
    void applyEdit(qsizetype position, qsizetype removedLength, const QString &inserted);
    void removeBackward();
    void removeForward();
    // Sets the selection from anchor to cursor, as a user's drag would.
    void select(qsizetype anchor, qsizetype cursor);

    // --- what assistive technologies are told (plaintextbox.cpp)

    void tellTextChanged(qsizetype position, const QString &removed, const QString &inserted);
    void tellCaretMoved(qsizetype oldCursor, qsizetype oldAnchor);

    // --- lines on screen, scrolling, painting, the caret (plaintextview.cpp)

    void measureLines();
    [[nodiscard]] int lineOf(qsizetype position) const;
    [[nodiscard]] qsizetype lineEnd(int line) const;
    [[nodiscard]] int advance(QChar c) const;
    [[nodiscard]] int widthOf(qsizetype from, qsizetype to) const;
    [[nodiscard]] qsizetype positionInLine(int line, int x) const;
    [[nodiscard]] qsizetype positionAt(QPoint point) const;
    [[nodiscard]] QRect cursorRect() const;
    // In the viewport's coordinates.
    [[nodiscard]] QRect characterRect(qsizetype position) const;
    [[nodiscard]] int visibleLines() const;
    void updateScrollRanges();
    void ensureCursorVisible() { scrollToShow(cursor_); }
    void scrollToShow(qsizetype position);
    void restartBlink();
    void paintLine(QPainter &painter, int line, int top) const;

    // --- keys and input methods (plaintextkeys.cpp)

    [[nodiscard]] bool moveCursorFor(QKeyEvent *event);
    void moveCursor(qsizetype position, bool select);

    // --- selection, clipboard and mouse (plaintextselection.cpp)

    // Word moves and a double click agree on what a word is.
    [[nodiscard]] static bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

    QString text_;
    std::vector<qsizetype> lineStarts_{0};
    int widestLine_ = 0; // pixels
    qsizetype cursor_ = 0;
    qsizetype anchor_ = 0;
    int preferredX_ = -1; // kept while moving up and down
    bool selecting_ = false;
    bool caretShown_ = true;
    QBasicTimer blink_;
    std::vector<Edit> undo_;
    std::vector<Edit> redo_;
    mutable QHash<char16_t, int> advances_;
    mutable int asciiAdvance_[128];
};
