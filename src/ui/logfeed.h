#pragma once
// Feeds a log view in batches. Lines are queued in order and reach the view on
// a short timer, so a flood of received pieces costs one view update per tick
// instead of one per piece; the view keeps only the newest lines within a line
// and a size cap. Until it has a view the feed keeps the lines itself, within
// the same caps, and hands them over when it gets one. Owned by the data
// window; UI thread only.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

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

signals:
    // A flush after touch(), before the queued lines reach the view: the
    // owner brings what it shows beside the log up to date with them.
    void flushed();

private:
    void schedule();
    void trimPending();

    QPointer<LogView> view_;
    QTimer timer_;
    QStringList pending_;
    qsizetype pendingChars_ = 0;
    bool touched_ = false;
};
