#pragma once
// Feeds a log view in batches. Entries are queued in order and reach the view
// on a short timer, so a flood of received pieces costs one view update per
// tick instead of one per piece; the view keeps only the newest entries within
// an entry and a size cap. Entries travel as the engine logged them, bytes
// and all: nothing is made into text on the way, as most of a flood is never
// looked at. Until it has a view the feed keeps the entries itself, within
// the same caps, and hands them over when it gets one. While it records,
// every entry appended also goes to a file as its line (a FileAppender it
// owns), whatever the caps drop; only then is every entry made into text.
// What it and its view keep is drawn from a budget every log of the program
// shares, when it is given one: past that total the least recently active
// logs give up their oldest entries first (core/logbudget).
// Owned by the data window; UI thread only.

#include "core/logbudget.h"
#include "core/logentry.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <memory>

class FileAppender;
class LogView;

namespace LogLimits {
constexpr int MaxEntries = 100000; // log entries kept
// Bytes kept: the data of received and sent pieces, and two bytes a
// character of fixed texts, so that hex mode keeps as much history as text
// mode and a log of texts alone keeps as many characters as before.
constexpr qsizetype MaxBytes = 32 * 1024 * 1024;
constexpr qsizetype MaxChars = MaxBytes / 2; // characters of a log of texts alone
constexpr int BatchMs = 30; // delay before queued entries show
} // namespace LogLimits

// What an entry counts against LogLimits::MaxBytes.
[[nodiscard]] qsizetype keptBytes(const LogEntry &entry);

// Makes the line an entry shows (session's entryLine for a data window).
using LogEntryText = QString (*)(const LogEntry &entry, bool milliseconds);
// The line of an entry that carries it whole, its text: what a feed or a view
// shows when nobody told it how to make lines.
[[nodiscard]] QString entryOwnText(const LogEntry &entry, bool milliseconds);

class LogFeed : public QObject {
    Q_OBJECT

public:
    explicit LogFeed(QObject *parent);

    // The view the lines go to from now on, with every line kept so far;
    // nullptr keeps them here.
    void setView(LogView *view);

    // How entries become lines in the recording (and in the view it is
    // given); without one, an entry's line is its text.
    void setEntryText(LogEntryText entryText);

    // The caps kept without a view, and handed over at most in one batch
    // (the view's own, LogLimits, unless set).
    void setCaps(int maxEntries, qsizetype maxBytes);

    // What this log keeps (here and in its view) counts against the budget
    // from now on; null: against none.
    void setBudget(const std::shared_ptr<LogBudget> &budget);
    // The log in front gives up its oldest entries to the budget last, and
    // keeps its newest.
    void setInFront(bool inFront);

    // Queues one log entry (its line may span several lines).
    void append(LogEntry entry);
    // Asks for flushed() at the next batch (counters and the like).
    void touch();
    // Brings the view up to date now (without a view, only what is told
    // through flushed()).
    void flush();

    // Appends the line of every entry queued from now on to the file as
    // well (UTF-8, each line ended by a line feed); returns why the file
    // cannot be opened, or an empty text when recording has started.
    [[nodiscard]] QString startRecording(const QString &path);
    // Writes out what is still waiting and closes the file; a file that does
    // not take it within FileAppender::StopGrace is given up with
    // recordingAbandoned().
    void stopRecording();
    [[nodiscard]] bool isRecording() const { return appender_ != nullptr; }
    [[nodiscard]] QString recordingPath() const;

signals:
    // A flush after touch(), before the queued lines reach the view: the
    // owner brings what it shows beside the log up to date with them.
    void flushed();
    // Writing to the file failed; recording has stopped.
    void recordingFailed(const QString &path, const QString &error);
    // The file stopped taking bytes (a file system that does not answer);
    // recording has stopped with `unwritten` of them not written.
    void recordingAbandoned(const QString &path, qint64 unwritten);

private:
    void schedule();
    void trimPending();
    // Tells the budget what this log keeps now.
    void accountKept();
    // The budget asks for the oldest entries, view first.
    void giveUpOldest(qint64 bytes, bool keepNewest);
    void onRecordingFailed(const QString &error);

    QPointer<LogView> view_;
    LogEntryText entryText_;
    QTimer timer_;
    // Dropped from the front one at a time at the cap: a deque, so each drop
    // costs the entry, not a move of every entry kept.
    std::deque<LogEntry> pending_;
    qsizetype pendingBytes_ = 0;
    int maxEntries_ = LogLimits::MaxEntries;
    qsizetype maxBytes_ = LogLimits::MaxBytes;
    bool touched_ = false;
    FileAppender *appender_ = nullptr; // a child while recording
    std::unique_ptr<LogBudget::Account> account_;
    bool inFront_ = false;
};
