#pragma once
// Repeated and timed sending for an endpoint. It sends the same bytes a
// given number of times through the send function its owner injected,
// handling events between the sends (and pausing between them when asked),
// and ticks the timer of timed sending. Stopping ends a repeat, its pause and
// any wait for a slow peer at once. It knows no endpoint: the send function
// does the sending. Owned by its endpoint's session; UI thread only.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QTimer;
class RepeatSender;

// What one send through the endpoint reports back.
struct SendOutcome {
    qint64 counted = 0; // bytes the transport took
    bool failed = false; // an error that ends a repeat
    bool dropped = false; // not taken: too much already waits for the peer
};

// NoRoom: the socket had no room for a datagram for a while; SendError: the
// system refused the send (its text comes as the detail).
enum class UnsentReason { ConnectionGone, ConnectionBusy, PeerNotReading, Stopped, NoRoom, SendError };

// Handed to the send function for one send: a send that waits for room asks
// it whether to go on, and tells it what was not sent. Still safe to ask
// after the session went away (it then says so).
class SendControl {
public:
    SendControl(RepeatSender *sender, quint64 generation);
    // The session went away, or its endpoint did: touch nothing of either.
    [[nodiscard]] bool ownerGone() const;
    // Stop was pressed since this send began.
    [[nodiscard]] bool stopRequested() const;
    void noteUnsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail = {}) const;
    // Bytes of this send the transport took after the send function returned.
    void noteSent(qint64 bytes) const;

private:
    QPointer<RepeatSender> sender_;
    quint64 generation_;
};

using SendFunction = std::function<SendOutcome(const QByteArray &data, const SendControl &control)>;

class RepeatSender : public QObject {
    Q_OBJECT

public:
    enum class Outcome { Completed, Stopped, Failed, OwnerGone };

    explicit RepeatSender(QObject *parent);

    void setSendFunction(SendFunction send) { send_ = std::move(send); }
    // Automatic replies go through this one when given: it may leave what
    // the transport cannot take yet waiting, and tell it later (sentLater).
    void setReplyFunction(SendFunction reply) { reply_ = std::move(reply); }
    // The endpoint is gone: sending does nothing from now on, and loops under
    // way end at their next look.
    void detach();
    [[nodiscard]] bool isDetached() const { return detached_; }

    // One send through the endpoint, outside any repeat.
    SendOutcome sendOnce(const QByteArray &data);
    // One automatic reply through the endpoint.
    SendOutcome sendReply(const QByteArray &data);
    // Sends the data `count` times, handling events between the sendings and
    // pausing `pauseMs()` after each when given. After OwnerGone touch
    // nothing of the owner.
    Outcome repeat(const QByteArray &data, int count, const std::function<int()> &pauseMs);
    // True while a repeat of this sender is under way, nested ones included.
    [[nodiscard]] bool isSending() const { return sendsRunning_ > 0; }

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

private:
    friend class SendControl;
    SendOutcome sendAt(const QByteArray &data, quint64 generation, const SendFunction &through);
    // False when the pause was cut short by stop or by the application
    // quitting.
    bool pauseBetweenSends(int ms);
    [[nodiscard]] bool stoppedSince(quint64 generation) const { return stopGeneration_ != generation; }
    void applyTimer();

    SendFunction send_;
    SendFunction reply_;
    QTimer *timer_;
    bool detached_ = false;
    int sendsRunning_ = 0;
    bool timerOn_ = false;
    int timerInterval_ = 1000;
    quint64 stopGeneration_ = 0;
};
