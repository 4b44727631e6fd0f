#include "session/messageframer.h"

#include "core/errors.h"

#include <QByteArrayView>
#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <utility>

MessageFramer::MessageFramer(const SerialSetup &setup, QObject *parent)
    : QObject(parent)
    , framing_(framingOf(setup))
{
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &MessageFramer::emitHeld);
    continuation_.setSingleShot(true);
    continuation_.setInterval(0);
    connect(&continuation_, &QTimer::timeout, this, [this] { Guarded([this] { frame(); }); });
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
    input_.push_back(Piece{bytes});
    backlog_ += bytes.size();
    // Behind already: the bytes wait their turn behind the backlog.
    if (!continuation_.isActive())
        frame();
}

void MessageFramer::flush()
{
    if (!input_.empty()) {
        input_.push_back(Piece{{}, 0, DelimiterUnknown, true});
        return;
    }
    quiet_.stop();
    recentSize_ = 0;
    emitHeld();
}

void MessageFramer::reset()
{
    quiet_.stop();
    continuation_.stop();
    input_.clear();
    backlog_ = 0;
    behind_ = false;
    recentSize_ = 0;
    held_.clear();
}

void MessageFramer::setSetup(const SerialSetup &setup)
{
    Framing next = framingOf(setup);
    if (next == framing_)
        return;
    quiet_.stop();
    recentSize_ = 0;
    emitHeld();
    framing_ = std::move(next);
    for (Piece &piece : input_)
        piece.delimiterEnd = DelimiterUnknown;
}

void MessageFramer::frame()
{
    quiet_.stop();
    QElapsedTimer pass;
    pass.start();
    for (int steps = 0; !input_.empty(); ++steps) {
        if (steps >= StepsBeforeBudget && pass.elapsed() >= PassBudgetMs) {
            behind_ = true;
            continuation_.start();
            return;
        }
        step();
    }
    waitForQuiet(framing_.mode == MessageFraming::Delimiter ? QuietFlushMs : framing_.gapMs);
    if (std::exchange(behind_, false))
        emit caughtUp();
}

// Only the new bytes are searched, and the few before them a delimiter could
// have begun in, never the bytes held: a device that never sends the
// delimiter costs each byte one look however long its message grows. A
// piece is searched once from each message start in it, not at each cap.
void MessageFramer::step()
{
    Piece &piece = input_.front();
    if (piece.endMark) {
        input_.pop_front();
        recentSize_ = 0;
        emitHeld();
        return;
    }
    const QByteArray bytes = piece.bytes; // shared: the piece may go first
    const qsizetype from = piece.head;
    const bool delimited = framing_.mode == MessageFraming::Delimiter;
    qsizetype end = bytes.size();
    bool ends = !delimited && framing_.gapMs == 0; // a read is a message
    if (delimited) {
        if (piece.delimiterEnd == DelimiterUnknown) {
            const qsizetype seam = from == 0 ? delimiterEndAcrossSeam(bytes) : -1;
            const qsizetype at = seam >= 0 ? -1 : bytes.indexOf(framing_.delimiter, from);
            piece.delimiterEnd = seam >= 0 ? seam : at >= 0 ? at + framing_.delimiter.size() : NoDelimiter;
        }
        if (piece.delimiterEnd >= 0) {
            end = piece.delimiterEnd;
            ends = true;
        }
    }
    const qsizetype to = std::min(end, from + framing_.cap - held_.size());
    const bool delimiterEnded = ends && to == end;
    const bool complete = delimiterEnded || held_.size() + (to - from) == framing_.cap;
    piece.head = to;
    backlog_ -= to - from;
    if (delimited && delimiterEnded) {
        recentSize_ = 0;
        piece.delimiterEnd = DelimiterUnknown;
    } else if (delimited) {
        keepRecent(QByteArrayView(bytes).sliced(from, to - from));
    }
    if (to == bytes.size())
        input_.pop_front();
    if (held_.isEmpty() && complete) {
        emit message(bytes.mid(from, to - from));
        return;
    }
    held_.append(bytes.constData() + from, to - from);
    if (complete)
        emitHeld();
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
