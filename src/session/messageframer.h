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
// Every byte fed comes out once, in order. Owns the bytes it holds (fewer
// than the cap) and its timer; lives on the thread that feeds it and emits
// there, so a receiver must not feed, flush, reset or change the setup from
// inside message().

#include "session/serialsetup.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QTimer>

class MessageFramer : public QObject {
    Q_OBJECT

public:
    // A line that stops half-way for this long is most likely a prompt
    // waiting for an answer ("login: "), and is shown. The gap is not used:
    // it is tuned for gap framing (20 ms by default) and would cut a line a
    // slow device writes in bursts, which is what a delimiter is chosen for.
    static constexpr int QuietFlushMs = 1000;

    explicit MessageFramer(const SerialSetup &setup, QObject *parent = nullptr);

    void feed(const QByteArray &bytes);
    // Ends the message under way as it is (the device was lost, the
    // endpoint stops); a delimiter begun before does not end one after.
    void flush();
    // Drops what is held, unseen.
    void reset();
    // Only the framing, gap, delimiter and cap count; when one of them
    // changes, what is held comes out first as its own message.
    void setSetup(const SerialSetup &setup);

    [[nodiscard]] qsizetype heldBytes() const { return held_.size(); }

signals:
    void message(const QByteArray &bytes);

private:
    struct Framing {
        MessageFraming mode = MessageFraming::Gap;
        int gapMs = DefaultSerialGapMs;
        QByteArray delimiter;
        int cap = DefaultSerialMessageCap;

        bool operator==(const Framing &) const = default;
    };
    static Framing framingOf(const SerialSetup &setup);

    void feedDelimited(const QByteArray &bytes);
    qsizetype delimiterEndAcrossSeam(const QByteArray &bytes) const;
    void keepRecent(QByteArrayView tail);
    // Adds bytes[from, to) to the message under way, sending each piece
    // that reaches the cap; `ends`: the message ends with them.
    void take(const QByteArray &bytes, qsizetype from, qsizetype to, bool ends);
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
};
