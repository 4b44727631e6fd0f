#include "endpoints/replyoutbox.h"

#include "core/errors.h"
#include "net/tcp/tcpconnection.h"

#include <QTimer>

#include <algorithm>
#include <climits>

namespace {

constexpr int RetryMs = 400;
// Outboxes of peers that came in one burst would all retry in the same pass
// of the event loop; each gets its own phase within this spread instead.
constexpr int RetrySpreadMs = 200;

} // namespace

ReplyOutbox::ReplyOutbox(TcpConnection *connection)
    : QObject(connection)
    , connection_(connection)
    , retry_(new QTimer(this))
{
    retry_->setInterval(RetryMs + int(std::max(connection->socketHandle(), 0) * 37 % RetrySpreadMs));
    connect(retry_, &QTimer::timeout, this, [this] { Guarded([this] { checkStall(); }); });
}

ReplyOutbox *ReplyOutbox::find(const TcpConnection *connection)
{
    return connection ? connection->findChild<ReplyOutbox *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

bool ReplyOutbox::hasRoom(const TcpConnection *connection, qsizetype size)
{
    const ReplyOutbox *outbox = find(connection);
    return !outbox || outbox->waiting_.empty()
        || (outbox->waiting_.size() < MaxWaitingReplies && outbox->waitingBytes_ + size <= MaxWaitingBytes);
}

bool ReplyOutbox::isWaiting(const TcpConnection *connection)
{
    const ReplyOutbox *outbox = find(connection);
    return outbox && !outbox->waiting_.empty();
}

ReplyOutbox::Accepted ReplyOutbox::send(
    TcpConnection *connection, const QByteArray &reply, const SendControl &control, qint64 *taken)
{
    ReplyOutbox *outbox = find(connection);
    if (!outbox)
        outbox = new ReplyOutbox(connection);
    if (!outbox->waiting_.empty()) {
        // Behind earlier replies; a full outbox takes no more.
        if (!hasRoom(connection, reply.size()))
            return Accepted::Refused;
        outbox->waiting_.push_back(Waiting{reply, 0, control});
        outbox->waitingBytes_ += reply.size();
        return Accepted::Queued;
    }
    outbox->waiting_.push_back(Waiting{reply, 0, control});
    outbox->waitingBytes_ += reply.size();
    outbox->sinceProgress_.start();
    const QPointer<ReplyOutbox> self(outbox);
    // What the connection takes now is the caller's to count.
    const qint64 written = outbox->flush(false);
    if (taken)
        *taken += written;
    return self && !self->waiting_.empty() ? Accepted::Queued : Accepted::Sent;
}

void ReplyOutbox::connectionWritable(TcpConnection *connection)
{
    if (ReplyOutbox *outbox = find(connection); outbox && !outbox->waiting_.empty())
        outbox->flush(true);
}

qint64 ReplyOutbox::flush(bool reportTaken)
{
    const QPointer<ReplyOutbox> self(this);
    qint64 written = 0;
    while (!waiting_.empty()) {
        TcpConnection *connection = connection_;
        if (!connection || !connection->isConnected()) {
            dropAll(UnsentReason::ConnectionGone);
            return written;
        }
        Waiting &front = waiting_.front();
        int taken = 0;
        try {
            taken = connection->send(front.bytes.constData() + front.offset,
                int(std::min<qint64>(front.bytes.size() - front.offset, INT_MAX)));
        } catch (...) {
            if (self)
                dropAll(UnsentReason::ConnectionGone);
            throw;
        }
        // A failing send runs the connection's handlers, which may remove
        // the endpoint and with it the connection and this outbox.
        if (!self)
            return written;
        if (taken <= 0)
            break; // full: the connection reports room; or gone: seen above next time
        front.offset += taken;
        waitingBytes_ -= taken;
        written += taken;
        sinceProgress_.restart();
        if (reportTaken)
            front.control.noteSent(taken);
        if (front.offset == front.bytes.size())
            waiting_.pop_front();
    }
    if (waiting_.empty())
        retry_->stop();
    else if (!retry_->isActive())
        retry_->start();
    return written;
}

void ReplyOutbox::checkStall()
{
    if (waiting_.empty()) {
        retry_->stop();
        return;
    }
    if (waiting_.front().control.stopRequested()) {
        dropAll(UnsentReason::Stopped);
        return;
    }
    const QPointer<ReplyOutbox> self(this);
    flush(true);
    if (self && !waiting_.empty() && sinceProgress_.elapsed() > StallLimitMs)
        dropAll(UnsentReason::PeerNotReading);
}

void ReplyOutbox::dropAll(UnsentReason reason)
{
    retry_->stop();
    if (waiting_.empty())
        return;
    // One note for all that waited: every reply here came from the same
    // window, and a thousand lines would say nothing more.
    qint64 unsent = 0;
    qint64 total = 0;
    for (const Waiting &w : waiting_) {
        unsent += w.bytes.size() - w.offset;
        total += w.bytes.size();
    }
    const SendControl control = waiting_.front().control;
    waiting_.clear();
    waitingBytes_ = 0;
    control.noteUnsent(unsent, total, reason);
}
