#pragma once
// What one TCP connection is to send, written as the connection has room:
// automatic replies, and the share of a typed, repeated or timed send. What
// the connection takes goes out at once; the rest waits here, in order, and
// is written when the connection reports room. Nothing waits in a nested
// event loop, so any number of peers that never read cost memory, not
// stack: bounded per connection, and in total by the program's budget for
// waiting output, which every outbox reserves its replies from (a send
// reserves its bytes once for all its shares, OutgoingSend). Past either a
// new reply is refused. Replies wait behind replies, up to a bound; a
// send's share waits alone (a second send, or replies, would mix their bytes
// into it, and are refused as busy). A connection that takes nothing for a
// while is given up for replies and for a share that may give up (a
// server's send); what waits is dropped and the window is told.
//
// Ownership and threading: a child of its connection, made on first use, so
// it goes with the connection; shares the output budget with its owner (the
// controller) and every other outbox; refers to the window only through the
// SendControl of each reply or send, which says when the window is gone. UI
// thread only.

#include "session/repeatsender.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>

class ByteBudget;
class OutgoingSend;
class QTimer;
class TcpConnection;

class ConnectionOutbox : public QObject {
    Q_OBJECT

public:
    // Replies and bytes one connection holds at most; past them a new reply
    // is refused (told as dropped) rather than memory growing without end.
    static constexpr size_t MaxWaitingReplies = 1000;
    static constexpr qint64 MaxWaitingBytes = 16 * 1024 * 1024;
    // A connection that took nothing for this long is given up.
    static constexpr qint64 StallLimitMs = 3000;

    // What became of a reply handed over.
    enum class Accepted { Sent, Queued, Refused };

    ~ConnectionOutbox() override;

    // Sends the reply, or queues what the connection cannot take now; the
    // reply's bytes are reserved from the budget (null: none) until written.
    // What the connection took at once is added to *taken; later bytes reach
    // the window through control.
    static Accepted sendReply(TcpConnection *connection, const QByteArray &reply, const SendControl &control,
        qint64 *taken, const std::shared_ptr<ByteBudget> &budget);
    // Sends a share of a send through an idle connection, and keeps what the
    // connection cannot take now; what it took at once is added to *taken.
    // With giveUpOnStall the share is given up when the connection takes
    // nothing for a while.
    static void send(TcpConnection *connection, const QByteArray &data,
        const std::shared_ptr<OutgoingSend> &send, bool giveUpOnStall, qint64 *taken,
        const std::shared_ptr<ByteBudget> &budget);
    // Whether a reply of that size would still be taken, and what refuses
    // it when not.
    [[nodiscard]] static ReplyRoom roomFor(
        const TcpConnection *connection, qsizetype size, const ByteBudget *budget);
    // True while anything waits for room on the connection.
    [[nodiscard]] static bool isWaiting(const TcpConnection *connection);
    // True while a send's share waits for room on the connection.
    [[nodiscard]] static bool isSendWaiting(const TcpConnection *connection);
    // Where the endpoint's handlers report that a connection has room again.
    static void connectionWritable(TcpConnection *connection);

    // Takes the send's share out unwritten; returns its bytes not written.
    qint64 withdraw(const OutgoingSend *send);

private:
    struct Waiting {
        QByteArray bytes;
        qint64 offset = 0;
        SendControl control;
        // A send's share; null for a reply.
        std::shared_ptr<OutgoingSend> share;
        bool giveUpOnStall = true;
    };

    ConnectionOutbox(TcpConnection *connection, std::shared_ptr<ByteBudget> budget);
    static ConnectionOutbox *find(const TcpConnection *connection);
    static ConnectionOutbox *findOrMake(TcpConnection *connection, const std::shared_ptr<ByteBudget> &budget);
    void add(Waiting waiting);
    // Reply bytes no longer waiting (written or dropped), back to the budget.
    void forgetReplyBytes(qint64 bytes);

    // Writes what the connection takes, front first, and returns how much
    // it took; with reportTaken the bytes are told to each window.
    qint64 flush(bool reportTaken);
    void checkStall();
    void dropAll(UnsentReason reason);

    QPointer<TcpConnection> connection_;
    std::deque<Waiting> waiting_;
    // Bytes of replies waiting, all of them reserved from budget_.
    qint64 waitingBytes_ = 0;
    std::shared_ptr<ByteBudget> budget_;
    QElapsedTimer sinceProgress_;
    // Tries again while anything waits, so that one lost room notification
    // cannot hold it, and gives up a connection that stays full.
    QTimer *retry_;
};
