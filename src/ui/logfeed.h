#pragma once
// Feeds a log view in batches. Lines are queued in order and reach the view on
// a short timer, so a flood of received pieces costs one view update per tick
// instead of one per piece; the view keeps only the newest lines within a line
// and a size cap. Until it has a view the feed keeps the lines itself, within
// the same caps, and hands them over when it gets one. While it records, every
// line appended also goes to a file (a FileAppender it owns), whatever the
// caps drop. Owned by the data window; UI thread only.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

class FileAppender;
class LogView;

namespace LogLimits {
constexpr int MaxEntries = 100000; // log lines kept
constexpr qsizetype MaxChars = 16 * 1024 * 1024; // 32 MB of UTF-16 text kept
constexpr int BatchMs = 30; // delay before queued lines show
} // namespace LogLimits

class LogFeed : public QObject {
    Q_OBJECT

public:
    explicit LogFeed(QObject *parent);

    // The view the lines go to from now on, with every line kept so far;
    // nullptr keeps them here.
    void setView(LogView *view);

    // Queues one log entry (it may span several lines).
    void append(const QString &line);
    // Asks for flushed() at the next batch (counters and the like).
    void touch();
    // Brings the view up to date now (without a view, only what is told
    // through flushed()).
    void flush();

    // Appends every line queued from now on to the file as well (UTF-8, each
    // line ended by a line feed); returns why the file cannot be opened, or
    // an empty text when recording has started.
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
    void onRecordingFailed(const QString &error);

    QPointer<LogView> view_;
    QTimer timer_;
    QStringList pending_;
    qsizetype pendingChars_ = 0;
    bool touched_ = false;
    FileAppender *appender_ = nullptr; // a child while recording
};
