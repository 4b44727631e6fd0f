#include "session/logentry.h"

#include "core/logtexts.h"

#include <QDateTime>

namespace {

// Local time costs a time-zone lookup, so the text without milliseconds is
// made anew only when the second changes.
QString entryTimeText(qint64 time, bool milliseconds)
{
    if (milliseconds)
        return TimeTextWithMilliseconds(QDateTime::fromMSecsSinceEpoch(time).time());
    static qint64 cachedSecond = -1;
    static QString cached;
    const qint64 second = time / 1000;
    if (second != cachedSecond) {
        cached = TimeText(QDateTime::fromSecsSinceEpoch(second).time());
        cachedSecond = second;
    }
    return cached;
}

} // namespace

QString entryLine(const LogEntry &entry, bool milliseconds)
{
    if (entry.kind == LogEntry::Kind::Line)
        return entry.text;
    const QString time = entryTimeText(entry.time, milliseconds);
    switch (entry.kind) {
    case LogEntry::Kind::Received:
        return ReceiveLogLine(time, entry.data, entry.hex);
    case LogEntry::Kind::Sent:
        return SendLogLine(time, entry.data, entry.hex, entry.repeatCount);
    case LogEntry::Kind::TimedSend:
        return TimedSendLogLine(time, entry.data, entry.hex, entry.repeatCount);
    case LogEntry::Kind::Reply:
        return ReplyLogLine(time, entry.data, entry.hex);
    case LogEntry::Kind::Status:
    case LogEntry::Kind::Line:
        break;
    }
    return time + entry.text;
}
