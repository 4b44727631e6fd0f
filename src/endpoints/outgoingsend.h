#pragma once
// One send through one or more TCP connections (a server's send goes to every
// peer it holds). Each connection's outbox writes its share as the
// connection has room and tells this when the share is written or given up;
// once every share is over, the sender learns it through its SendControl, so
// a repeat goes on only when the peer took the bytes. Stop gives up every
// share still waiting at once, with one note for all of them. The shares
// hold one copy of the bytes between them, so the send reserves its size
// once from the output budget, until every share is over.
//
// Ownership and threading: shared by whoever holds a share (the outboxes,
// std::shared_ptr); refers to the outboxes weakly; shares the output budget.
// UI thread only.

#include "session/repeatsender.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class ByteBudget;
class ConnectionOutbox;

class OutgoingSend : public QObject, public std::enable_shared_from_this<OutgoingSend> {
    Q_OBJECT

public:
    // `shares`: the connections the send was meant for, busy ones included
    // (what a stop notes is out of all of them).
    static std::shared_ptr<OutgoingSend> make(const SendControl &control, qint64 size, int shares);

    [[nodiscard]] const SendControl &control() const { return control_; }
    [[nodiscard]] qint64 size() const { return size_; }
    ~OutgoingSend() override;

    // Reserves the send's bytes from the budget until every share is over;
    // false when they do not fit.
    [[nodiscard]] bool reserve(const std::shared_ptr<ByteBudget> &budget);

    // A share now waits in that outbox.
    void waitsIn(ConnectionOutbox *outbox);
    // A share is written whole.
    void shareWritten();
    // A share is over with `left` bytes not taken.
    void shareGivenUp(qint64 left, UnsentReason reason);
    // The send function returns: true when shares still wait, and then the
    // sender is told when they are over, and stop is watched.
    [[nodiscard]] bool await();

private:
    OutgoingSend(const SendControl &control, qint64 size, int shares);
    void shareOver();
    void stop();
    void releaseReservation();

    SendControl control_;
    qint64 size_;
    int shares_;
    int sharesLeft_;
    bool awaited_ = false;
    // Inside its stop, which may drop the last share: deleted later then.
    bool stopping_ = false;
    std::vector<QPointer<ConnectionOutbox>> outboxes_;
    std::shared_ptr<ByteBudget> reservedFrom_;
};
