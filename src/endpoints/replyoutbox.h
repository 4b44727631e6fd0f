#pragma once
// Automatic replies through one TCP connection, written as the connection
// has room. A reply goes out at once as far as the connection takes it; the
// rest waits here, in order behind earlier replies, and is written when the
// connection reports room. Nothing waits in a nested event loop, so any
// number of peers that never read cost memory (bounded per connection), not
// stack. A connection that takes nothing for a while is given up: what waits
// is dropped and the window is told, as for the window's own sends.
//
// Ownership and threading: a child of its connection, made on first use, so
// it goes with the connection; refers to the window only through the
// SendControl of each reply, which says when the window is gone. UI thread
// only.

#include "session/repeatsender.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <deque>

class QTimer;
class TcpConnection;

class ReplyOutbox : public QObject {
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

    // Sends the reply, or queues what the connection cannot take now. What
    // the connection took at once is added to *taken; later bytes reach the
    // window through control.
    static Accepted send(
        TcpConnection *connection, const QByteArray &reply, const SendControl &control, qint64 *taken);
    // Whether a reply of that size would still be taken.
    [[nodiscard]] static bool hasRoom(const TcpConnection *connection, qsizetype size);
    // True while replies wait for room on the connection.
    [[nodiscard]] static bool isWaiting(const TcpConnection *connection);
    // Where the endpoint's handlers report that a connection has room again.
    static void connectionWritable(TcpConnection *connection);

private:
    struct Waiting {
        QByteArray bytes;
        qint64 offset = 0;
        SendControl control;
    };

    explicit ReplyOutbox(TcpConnection *connection);
    static ReplyOutbox *find(const TcpConnection *connection);

    // Writes what the connection takes, front first, and returns how much
    // it took; with reportTaken the bytes are told to each reply's window.
    qint64 flush(bool reportTaken);
    void checkStall();
    void dropAll(UnsentReason reason);

    QPointer<TcpConnection> connection_;
    std::deque<Waiting> waiting_;
    qint64 waitingBytes_ = 0;
    QElapsedTimer sinceProgress_;
    // Tries again while replies wait, so that one lost room notification
    // cannot hold them, and gives up a connection that stays full.
    QTimer *retry_;
};
