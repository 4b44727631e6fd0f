#include "endpoints/connectionoutbox.h"

#include "core/bytebudget.h"
#include "core/errors.h"
#include "endpoints/outgoingsend.h"
#include "net/tcp/tcpconnection.h"

#include <QTimer>

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

namespace {

constexpr int RetryMs = 400;
// Outboxes of peers that came in one burst would all retry in the same pass
// of the event loop; each gets its own phase within this spread instead.
constexpr int RetrySpreadMs = 200;

} // namespace

ConnectionOutbox::ConnectionOutbox(TcpConnection *connection, std::shared_ptr<ByteBudget> budget)
    : QObject(connection)
    , connection_(connection)
    , budget_(std::move(budget))
    , retry_(new QTimer(this))
{
    retry_->setInterval(RetryMs + int(std::max(connection->socketHandle(), 0) * 37 % RetrySpreadMs));
    connect(retry_, &QTimer::timeout, this, [this] { Guarded([this] { checkStall(); }); });
}

ConnectionOutbox::~ConnectionOutbox()
{
    forgetReplyBytes(waitingBytes_);
    // The connection goes: a send waiting on it is over, and says so.
    for (Waiting &w : waiting_)
        if (w.share)
            w.share->shareGivenUp(w.bytes.size() - w.offset, UnsentReason::ConnectionGone);
}

ConnectionOutbox *ConnectionOutbox::find(const TcpConnection *connection)
{
    return connection ? connection->findChild<ConnectionOutbox *>(QString(), Qt::FindDirectChildrenOnly)
                      : nullptr;
}

ConnectionOutbox *ConnectionOutbox::findOrMake(
    TcpConnection *connection, const std::shared_ptr<ByteBudget> &budget)
{
    ConnectionOutbox *outbox = find(connection);
    return outbox ? outbox : new ConnectionOutbox(connection, budget);
}

ReplyRoom ConnectionOutbox::roomFor(const TcpConnection *connection, qsizetype size, const ByteBudget *budget)
{
    const ConnectionOutbox *outbox = find(connection);
    if (outbox && !outbox->waiting_.empty()
        && (outbox->waiting_.size() >= MaxWaitingReplies || outbox->waitingBytes_ + size > MaxWaitingBytes))
        return ReplyRoom::PeerBacklog;
    if (budget && !budget->hasRoom(size))
        return ReplyRoom::OutputBudget;
    return ReplyRoom::Room;
}

void ConnectionOutbox::forgetReplyBytes(qint64 bytes)
{
    waitingBytes_ -= bytes;
    if (budget_)
        budget_->release(bytes);
}

bool ConnectionOutbox::isWaiting(const TcpConnection *connection)
{
    const ConnectionOutbox *outbox = find(connection);
    return outbox && !outbox->waiting_.empty();
}

bool ConnectionOutbox::isSendWaiting(const TcpConnection *connection)
{
    const ConnectionOutbox *outbox = find(connection);
    return outbox && !outbox->waiting_.empty() && outbox->waiting_.front().share;
}

void ConnectionOutbox::add(Waiting waiting)
{
    if (!waiting.share)
        waitingBytes_ += waiting.bytes.size();
    if (waiting_.empty())
        sinceProgress_.start();
    waiting_.push_back(std::move(waiting));
}

ConnectionOutbox::Accepted ConnectionOutbox::sendReply(TcpConnection *connection, const QByteArray &reply,
    const SendControl &control, qint64 *taken, const std::shared_ptr<ByteBudget> &budget)
{
    ConnectionOutbox *outbox = findOrMake(connection, budget);
    // Reserved whole before the first byte goes: a reply the connection
    // takes at once costs the budget nothing for long, and one refused
    // must not leave half of itself on the wire.
    if (roomFor(connection, reply.size(), nullptr) != ReplyRoom::Room
        || (outbox->budget_ && !outbox->budget_->reserve(reply.size())))
        return Accepted::Refused;
    if (!outbox->waiting_.empty()) {
        // Behind earlier replies.
        outbox->add(Waiting{reply, 0, control, nullptr, true});
        return Accepted::Queued;
    }
    outbox->add(Waiting{reply, 0, control, nullptr, true});
    const QPointer<ConnectionOutbox> self(outbox);
    // What the connection takes now is the caller's to count.
    const qint64 written = outbox->flush(false);
    if (taken)
        *taken += written;
    return self && !self->waiting_.empty() ? Accepted::Queued : Accepted::Sent;
}

void ConnectionOutbox::send(TcpConnection *connection, const QByteArray &data,
    const std::shared_ptr<OutgoingSend> &send, bool giveUpOnStall, qint64 *taken,
    const std::shared_ptr<ByteBudget> &budget)
{
    ConnectionOutbox *outbox = findOrMake(connection, budget);
    outbox->add(Waiting{data, 0, send->control(), send, giveUpOnStall});
    send->waitsIn(outbox);
    const qint64 written = outbox->flush(false);
    if (taken)
        *taken += written;
}

void ConnectionOutbox::connectionWritable(TcpConnection *connection)
{
    if (ConnectionOutbox *outbox = find(connection); outbox && !outbox->waiting_.empty())
        outbox->flush(true);
}

qint64 ConnectionOutbox::withdraw(const OutgoingSend *send)
{
    qint64 left = 0;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (it->share.get() == send) {
            left += it->bytes.size() - it->offset;
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }
    if (waiting_.empty())
        retry_->stop();
    return left;
}

qint64 ConnectionOutbox::flush(bool reportTaken)
{
    const QPointer<ConnectionOutbox> self(this);
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
        if (waiting_.empty())
            break; // withdrawn meanwhile (stop)
        if (taken <= 0)
            break; // full: the connection reports room; or gone: seen above next time
        Waiting &head = waiting_.front();
        head.offset += taken;
        if (!head.share)
            forgetReplyBytes(taken);
        written += taken;
        sinceProgress_.restart();
        if (reportTaken)
            head.control.noteSent(taken);
        if (head.offset == head.bytes.size()) {
            const std::shared_ptr<OutgoingSend> share = std::move(head.share);
            waiting_.pop_front();
            if (share)
                share->shareWritten();
        }
        if (!self)
            return written;
    }
    if (waiting_.empty())
        retry_->stop();
    else if (!retry_->isActive())
        retry_->start();
    return written;
}

void ConnectionOutbox::checkStall()
{
    if (waiting_.empty()) {
        retry_->stop();
        return;
    }
    if (!waiting_.front().share && waiting_.front().control.stopRequested()) {
        dropAll(UnsentReason::Stopped);
        return;
    }
    const QPointer<ConnectionOutbox> self(this);
    flush(true);
    if (!self || waiting_.empty() || sinceProgress_.elapsed() <= StallLimitMs)
        return;
    if (!waiting_.front().share) {
        dropAll(UnsentReason::PeerNotReading);
    } else if (waiting_.front().giveUpOnStall) {
        const Waiting given = std::move(waiting_.front());
        waiting_.pop_front();
        if (waiting_.empty())
            retry_->stop();
        given.share->shareGivenUp(given.bytes.size() - given.offset, UnsentReason::PeerNotReading);
    }
}

void ConnectionOutbox::dropAll(UnsentReason reason)
{
    retry_->stop();
    if (waiting_.empty())
        return;
    // One note for all the replies that waited: every one came from the
    // same window, and a thousand lines would say nothing more.
    qint64 unsent = 0;
    qint64 total = 0;
    std::optional<SendControl> replies;
    std::vector<Waiting> shares;
    for (Waiting &w : waiting_) {
        if (w.share) {
            shares.push_back(std::move(w));
            continue;
        }
        if (!replies)
            replies = w.control;
        unsent += w.bytes.size() - w.offset;
        total += w.bytes.size();
    }
    waiting_.clear();
    forgetReplyBytes(waitingBytes_);
    if (replies)
        replies->noteUnsent(unsent, total, reason);
    for (const Waiting &w : shares)
        w.share->shareGivenUp(w.bytes.size() - w.offset, reason);
}
