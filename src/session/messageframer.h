#pragma once
// Received bytes cut into messages, one log entry each, by the framing a
// serial endpoint is set up with:
//
//   gap        a message ends when nothing arrived for gapMs; with gapMs 0
//              every piece fed is a message as it comes
//   delimiter  a message ends right after the delimiter, wherever the reads
//              split it; what follows the last delimiter comes out after
//              QuietFlushMs without a byte
//
// and in both, a message longer than the cap comes out in pieces of the cap.
// Every byte fed comes out once, in order.
//
// A pass frames for PassBudgetMs at most, then the rest of what was fed
// waits (the backlog) and is framed from the event loop, so a flood of tiny
// messages (a cap of 1) leaves the loop its turn as the TCP and UDP wake-ups
// do; caughtUp tells when the backlog is gone, and whoever feeds should hold
// back meanwhile.
//
//   input_:  [ piece | piece | end mark | piece ]     what was fed, unframed
//               ^ head: framed up to here
//
// Owns the bytes it holds (fewer than the cap), the backlog and its timers;
// lives on the thread that feeds it and emits there, so a receiver must not
// feed, flush, reset or change the setup from inside message().

#include "session/serialsetup.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QTimer>

#include <deque>

class MessageFramer : public QObject {
    Q_OBJECT

public:
    // A line that stops half-way for this long is most likely a prompt
    // waiting for an answer ("login: "), and is shown. The gap is not used:
    // it is tuned for gap framing (20 ms by default) and would cut a line a
    // slow device writes in bursts, which is what a delimiter is chosen for.
    static constexpr int QuietFlushMs = 1000;
    // As long as a wake-up of the TCP readiness set or a UDP socket serves.
    static constexpr int PassBudgetMs = 10;
    // Steps (each a message, or a piece of one held) a pass makes before it
    // looks at the clock: a read of a few messages is framed as it comes.
    static constexpr int StepsBeforeBudget = 64;

    explicit MessageFramer(const SerialSetup &setup, QObject *parent = nullptr);

    void feed(const QByteArray &bytes);
    // Ends the message under way as it is (the device was lost, the
    // endpoint stops) once everything fed before is framed; a delimiter
    // begun before does not end one after.
    void flush();
    // Drops what is held and the backlog, unseen.
    void reset();
    // Only the framing, gap, delimiter and cap count; when one of them
    // changes, what is held comes out first as its own message, and the
    // backlog is framed by the new setup.
    void setSetup(const SerialSetup &setup);

    [[nodiscard]] qsizetype heldBytes() const { return held_.size(); }
    // Bytes fed and not framed yet.
    [[nodiscard]] qsizetype backlog() const { return backlog_; }

signals:
    void message(const QByteArray &bytes);
    // The backlog was framed, from the event loop.
    void caughtUp();

private:
    struct Framing {
        MessageFraming mode = MessageFraming::Gap;
        int gapMs = DefaultSerialGapMs;
        QByteArray delimiter;
        int cap = DefaultSerialMessageCap;

        bool operator==(const Framing &) const = default;
    };
    static Framing framingOf(const SerialSetup &setup);

    // Not looked for yet in a piece, or not in it from where it was looked for.
    static constexpr qsizetype DelimiterUnknown = -2;
    static constexpr qsizetype NoDelimiter = -1;
    struct Piece {
        QByteArray bytes;
        qsizetype head = 0;
        // Where the next delimiter ends in bytes, if it was looked for.
        qsizetype delimiterEnd = DelimiterUnknown;
        bool endMark = false; // a flush, in its place among the pieces
    };

    void frame();
    // Frames the front piece up to the end of one message or piece of the cap.
    void step();
    qsizetype delimiterEndAcrossSeam(const QByteArray &bytes) const;
    void keepRecent(QByteArrayView tail);
    void emitHeld();
    void waitForQuiet(int ms);

    Framing framing_;
    // The message under way, never the cap or more.
    QByteArray held_;
    // The last bytes since the last delimiter ended, at most one fewer than
    // the delimiter has, whether or not they came out already as a piece of
    // the cap: a delimiter may begin in them and end in the next read.
    char recent_[MaxSerialDelimiterBytes] = {};
    qsizetype recentSize_ = 0;
    QTimer quiet_{this};
    std::deque<Piece> input_;
    qsizetype backlog_ = 0;
    bool behind_ = false; // a pass ran out of time since the last caughtUp
    // The next pass, once the loop had its turn; a timer, not a posted
    // call, so that the timers that fell due meanwhile go first.
    QTimer continuation_{this};
};
