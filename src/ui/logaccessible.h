#pragma once
// The log view as assistive technologies see it: read-only multi-line text
// named by the group box it sits in, whose text is the log's newest lines
// (a screen reader reads what just came, and a full log would be megabytes
// made into text at every question). A flood of entries is told as one text
// change at most every AnnounceMs, and only while an assistive technology
// listens (QAccessible::isActive()).
//
// Qt makes a LogAccessible for a view when asked and owns it; a view makes
// its LogAnnouncer (a child) when it first has a change to tell. UI thread
// only.

#include <QAccessibleWidget>
#include <QObject>
#include <QString>
#include <QTimer>

class LogView;

namespace LogAccessibility {
constexpr int ShownEntries = 100; // the newest entries' lines are the text
constexpr qsizetype ShownChars = 64 * 1024; // and at most that many characters
constexpr int AnnounceMs = 500; // between two announced changes
} // namespace LogAccessibility

// Makes Qt ask for a LogAccessible for every log view; once, whoever calls.
void InstallLogAccessible();

// Where the log's text changes are told: Qt's accessibility by default,
// which hears them only while an assistive technology listens; a test's
// recorder hears every one. nullptr gives it back to Qt.
using LogChangeSink = void (*)(QAccessibleTextUpdateEvent &event);
void SetLogChangeSink(LogChangeSink sink);

class LogAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LogAccessible(LogView *view);

    void *interface_cast(QAccessible::InterfaceType type) override;
    [[nodiscard]] QAccessible::State state() const override;
    [[nodiscard]] QString text(QAccessible::Text type) const override;

    // The text: the newest lines.
    [[nodiscard]] QString text(int startOffset, int endOffset) const override;
    [[nodiscard]] int characterCount() const override;
    // Read only, and the selection is the view's own: none is told here, and
    // none is taken.
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    [[nodiscard]] int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    // At the end of the text, where new lines come.
    [[nodiscard]] int cursorPosition() const override;
    void setCursorPosition(int position) override;
    [[nodiscard]] QRect characterRect(int offset) const override;
    [[nodiscard]] int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    [[nodiscard]] QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    [[nodiscard]] LogView *view() const;
    [[nodiscard]] QString shownText() const;
};

class LogAnnouncer : public QObject {
    Q_OBJECT

public:
    explicit LogAnnouncer(LogView *view);

    // Whether changes are heard at all; nothing is done for them otherwise.
    [[nodiscard]] static bool isHeard();
    // The log's text changed: told once the batch's time is up.
    void changed();

private:
    void announce();

    LogView *view_;
    QTimer timer_;
    QString announced_; // the text the last change told
};
