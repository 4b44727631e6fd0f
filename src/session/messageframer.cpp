#include "session/messageframer.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstring>
#include <utility>

MessageFramer::MessageFramer(const SerialSetup &setup, QObject *parent)
    : QObject(parent)
    , framing_(framingOf(setup))
{
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &MessageFramer::emitHeld);
}

// What does not change how bytes are framed is left out, so that two setups
// that frame alike compare equal. An empty delimiter, which a checked setup
// never has, would end a message at every byte: the gap frames instead.
MessageFramer::Framing MessageFramer::framingOf(const SerialSetup &setup)
{
    Framing framing;
    framing.mode = setup.framing;
    framing.cap = std::clamp(setup.messageCap, 1, MaxSerialMessageCap);
    framing.gapMs = std::clamp(setup.gapMs, 0, MaxSerialGapMs);
    if (framing.mode == MessageFraming::Delimiter && !setup.delimiter.isEmpty()) {
        framing.delimiter = setup.delimiter.left(MaxSerialDelimiterBytes);
        framing.gapMs = 0;
    } else {
        framing.mode = MessageFraming::Gap;
    }
    return framing;
}

void MessageFramer::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (framing_.mode == MessageFraming::Delimiter) {
        feedDelimited(bytes);
        waitForQuiet(QuietFlushMs);
    } else if (framing_.gapMs == 0) {
        take(bytes, 0, bytes.size(), true);
    } else {
        take(bytes, 0, bytes.size(), false);
        waitForQuiet(framing_.gapMs);
    }
}

void MessageFramer::flush()
{
    quiet_.stop();
    recentSize_ = 0;
    emitHeld();
}

void MessageFramer::reset()
{
    quiet_.stop();
    recentSize_ = 0;
    held_.clear();
}

void MessageFramer::setSetup(const SerialSetup &setup)
{
    Framing next = framingOf(setup);
    if (next == framing_)
        return;
    flush();
    framing_ = std::move(next);
}

// Only the new bytes are searched, and the few before them a delimiter could
// have begun in, never the bytes held: a device that never sends the
// delimiter costs each byte one look however long its message grows.
void MessageFramer::feedDelimited(const QByteArray &bytes)
{
    const QByteArray &delimiter = framing_.delimiter;
    qsizetype start = 0; // where the message under way begins in bytes
    if (const qsizetype end = delimiterEndAcrossSeam(bytes); end >= 0) {
        recentSize_ = 0;
        take(bytes, 0, end, true);
        start = end;
    }
    for (qsizetype at = bytes.indexOf(delimiter, start); at >= 0; at = bytes.indexOf(delimiter, start)) {
        const qsizetype end = at + delimiter.size();
        recentSize_ = 0;
        take(bytes, start, end, true);
        start = end;
    }
    take(bytes, start, bytes.size(), false);
    keepRecent(QByteArrayView(bytes).sliced(start));
}

// Where in bytes a delimiter ends that begins in the bytes before them, or
// -1. The seam is recent_ followed by as many new bytes as such a delimiter
// can reach:
//
//   recent_   | bytes
//   .. \r     | \n ...        delimiter "\r\n" ends at 1
qsizetype MessageFramer::delimiterEndAcrossSeam(const QByteArray &bytes) const
{
    if (recentSize_ == 0)
        return -1;
    const QByteArray &delimiter = framing_.delimiter;
    char seam[2 * MaxSerialDelimiterBytes];
    const qsizetype reach = std::min(bytes.size(), delimiter.size() - 1);
    std::memcpy(seam, recent_, size_t(recentSize_));
    std::memcpy(seam + recentSize_, bytes.constData(), size_t(reach));
    const qsizetype at = QByteArrayView(seam, recentSize_ + reach).indexOf(delimiter);
    if (at < 0 || at >= recentSize_)
        return -1;
    return at + delimiter.size() - recentSize_;
}

void MessageFramer::keepRecent(QByteArrayView tail)
{
    const qsizetype keep = framing_.delimiter.size() - 1;
    if (tail.size() >= keep) {
        std::memcpy(recent_, tail.data() + tail.size() - keep, size_t(keep));
        recentSize_ = keep;
        return;
    }
    const qsizetype dropped = std::max<qsizetype>(0, recentSize_ + tail.size() - keep);
    std::memmove(recent_, recent_ + dropped, size_t(recentSize_ - dropped));
    recentSize_ -= dropped;
    std::memcpy(recent_ + recentSize_, tail.data(), size_t(tail.size()));
    recentSize_ += tail.size();
}

// A piece fed whole, or a run of whole cap-sized pieces, goes out without a
// copy into held_; held_ takes only what begins a message a later read ends.
void MessageFramer::take(const QByteArray &bytes, qsizetype from, qsizetype to, bool ends)
{
    const qsizetype cap = framing_.cap;
    if (!held_.isEmpty()) {
        const qsizetype joined = std::min(to - from, cap - held_.size());
        held_.append(bytes.constData() + from, joined);
        from += joined;
        if (held_.size() == cap || (ends && from == to))
            emitHeld();
    }
    for (; to - from >= cap; from += cap)
        emit message(bytes.mid(from, cap));
    if (from == to)
        return;
    if (ends)
        emit message(bytes.mid(from, to - from));
    else
        held_ = bytes.mid(from, to - from);
}

void MessageFramer::emitHeld()
{
    if (held_.isEmpty())
        return;
    const QByteArray bytes = std::exchange(held_, QByteArray());
    emit message(bytes);
}

void MessageFramer::waitForQuiet(int ms)
{
    if (held_.isEmpty())
        quiet_.stop();
    else
        quiet_.start(ms);
}
