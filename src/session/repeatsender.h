#pragma once
// Repeated and timed sending for an endpoint. It sends the same bytes a
// given number of times through the send function its owner injected, and
// ticks the timer of timed sending. A repeat is state, not a loop: each send
// waits (as state) until the transport took its bytes or gave them up, then
// the pause between sends runs as a single-shot timer, and the next send
// comes from the event loop, so the window's own events run in between and
// no event loop ever runs inside a repeat. Stopping ends every repeat, its
// pause and any wait for a slow peer at once. It knows no endpoint: the send
// function does the sending. Owned by its endpoint's session; UI thread only.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QTimer;
class RepeatSender;

// What one send through the endpoint reports back.
struct SendOutcome {
    qint64 counted = 0; // bytes the transport took
    bool failed = false; // an error that ends a repeat
    bool dropped = false; // not taken: too much already waits for the peer
    // The transport holds the rest and tells SendControl::settled() once it
    // took it all or gave it up.
    bool pending = false;
};

// NoRoom: the socket had no room for a datagram for a while; SendError: the
// system refused the send (its text comes as the detail); OutputBudget: what
// waits on every connection of the program together is at its total.
enum class UnsentReason {
    ConnectionGone,
    ConnectionBusy,
    PeerNotReading,
    Stopped,
    NoRoom,
    SendError,
    OutputBudget
};

// Whether an automatic reply may still wait for its peer: the peer's own
// backlog and the total of output waiting in the program each set a limit.
enum class ReplyRoom { Room, PeerBacklog, OutputBudget };

// Handed to the send function for one send: a send that waits for room asks
// it whether to go on, and tells it what was not sent and when it is over.
// Still safe to use after the session went away (it then says so).
class SendControl {
public:
    // `repeat`: the repeat the send belongs to (0: none); `reply`: an
    // automatic reply.
    SendControl(RepeatSender *sender, quint64 generation, quint64 repeat = 0, bool reply = false);
    // The session went away, or its endpoint did: touch nothing of either.
    [[nodiscard]] bool ownerGone() const;
    // Stop was pressed since this send began.
    [[nodiscard]] bool stopRequested() const;
    void noteUnsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail = {}) const;
    // Bytes of this send the transport took after the send function returned.
    void noteSent(qint64 bytes) const;
    // A send that returned pending is over: every byte taken or given up.
    void settled() const;
    // A send that returned pending failed: as an error the send function
    // returns, it ends a repeat, and a failed reply is told (replyFailed).
    void failed() const;
    // Runs `stopped` (while context lives) when stop is pressed after this
    // send began; at once when it was pressed already.
    void whenStopped(QObject *context, const std::function<void()> &stopped) const;

private:
    QPointer<RepeatSender> sender_;
    quint64 generation_;
    quint64 repeat_;
    bool reply_;
};

using SendFunction = std::function<SendOutcome(const QByteArray &data, const SendControl &control)>;

class RepeatSender : public QObject {
    Q_OBJECT

public:
    enum class Outcome { Completed, Stopped, Failed };
    // Told once when a repeat ends; never after detach.
    using EndFunction = std::function<void(Outcome)>;

    explicit RepeatSender(QObject *parent);
    ~RepeatSender() override;

    void setSendFunction(SendFunction send) { send_ = std::move(send); }
    // Automatic replies go through this one when given: it may leave what
    // the transport cannot take yet waiting, and tell it later (sentLater).
    void setReplyFunction(SendFunction reply) { reply_ = std::move(reply); }
    // The endpoint is gone: sending does nothing from now on, and repeats
    // under way end without a word.
    void detach();
    [[nodiscard]] bool isDetached() const { return detached_; }

    // One send through the endpoint, outside any repeat.
    SendOutcome sendOnce(const QByteArray &data);
    // One automatic reply through the endpoint.
    SendOutcome sendReply(const QByteArray &data);
    // Starts sending the data `count` times, pausing `pauseMs()` after each
    // send when given, and returns; the first sends go before it returns.
    // `ended` is told how the repeat ended (it may be before this returns).
    void repeat(const QByteArray &data, int count, std::function<int()> pauseMs, EndFunction ended);
    // True while a repeat of this sender is under way.
    [[nodiscard]] bool isSending() const { return !repeats_.empty(); }

    // Timed sending: timerTicked every interval ms (0 keeps it on without
    // ticking). False when the interval is negative (nothing changes).
    bool startTimer(int intervalMs);
    // Ends timed sending and any repeat, pause or wait under way.
    void stop();

signals:
    void timerTicked();
    // Bytes a send of a repeat handed to the transport.
    void sent(qint64 bytes);
    // Bytes of an earlier send that the transport took since.
    void sentLater(qint64 bytes);
    void unsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail);
    // A repeat has made `done` of its `count` sends.
    void progressed(int done, int count);
    // Sending was stopped.
    void stopped();
    // An automatic reply failed after its send function returned.
    void replyFailed();

private:
    friend class SendControl;
    struct Repeat;

    SendOutcome sendAt(const QByteArray &data, const SendControl &control, const SendFunction &through);
    [[nodiscard]] bool stoppedSince(quint64 generation) const { return stopGeneration_ != generation; }
    [[nodiscard]] Repeat *find(quint64 id) const;
    // Sends of the repeat as long as the transport takes them at once, for
    // a short slice; then the next slice from the event loop.
    void run(quint64 id);
    // The repeat's current send is over: its progress, then the pause, the
    // end, or true when the next send may go now.
    bool sendDone(quint64 id, bool failed);
    void continueLater(quint64 id, int ms, bool sendDoneFirst);
    void settle(quint64 id, bool failed);
    void end(quint64 id, Outcome outcome);
    // Ends every repeat, its pause and its wait, as stop does, but leaves
    // timed sending as it is.
    void endRepeats();
    void applyTimer();

    SendFunction send_;
    SendFunction reply_;
    QTimer *timer_;
    bool detached_ = false;
    bool timerOn_ = false;
    int timerInterval_ = 1000;
    quint64 stopGeneration_ = 0;
    quint64 lastRepeat_ = 0;
    std::vector<std::unique_ptr<Repeat>> repeats_;
};
