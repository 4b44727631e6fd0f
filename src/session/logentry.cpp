#include "session/logentry.h"

#include "core/logtexts.h"

#include <QDateTime>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Bytes 0x01..0x7F other than CR. A received piece of megabytes is all but
// always looked at whole: sixteen bytes at a time where SSE2 is (every
// x86-64).
bool showsAsItself(const QByteArray &data)
{
    const char *at = data.constBegin();
    const char *end = data.constEnd();
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i cr = _mm_set1_epi8('\r');
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        // The high bit of a byte at or above 0x80 is its own.
        const __m128i bad
            = _mm_or_si128(bytes, _mm_or_si128(_mm_cmpeq_epi8(bytes, zero), _mm_cmpeq_epi8(bytes, cr)));
        if (_mm_movemask_epi8(bad) != 0)
            return false;
    }
#endif
    return std::all_of(at, end, [](char c) { return c > 0 && c != '\r'; });
}

} // namespace

std::optional<QString> bytesLineHead(const LogEntry &entry, bool milliseconds)
{
    const bool received = entry.kind == LogEntry::Kind::Received;
    const bool reply = entry.kind == LogEntry::Kind::Reply && entry.data.size() <= LoggedReplyBytes;
    if ((!received && !reply) || entry.hex || !showsAsItself(entry.data))
        return std::nullopt;
    // The line is the time, its words, then the text of the bytes. A flood
    // of short pieces logs many a line in the same second: the head is made
    // anew only when its time text changes.
    struct Head {
        QString time;
        QString text;
    };
    static Head heads[2];
    Head &head = heads[received ? 0 : 1];
    const QString time = entryTimeText(entry.time, milliseconds);
    if (head.text.isNull() || head.time != time) {
        head.time = time;
        head.text
            = received ? ReceiveLogLine(time, QByteArray(), false) : ReplyLogLine(time, QByteArray(), false);
    }
    return head.text;
}

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
