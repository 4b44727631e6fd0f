#include "endpoints/endpointsend.h"

#include "core/usermessages.h"
#include "endpoints/endpoint.h"
#include "endpoints/filetransfer.h"
#include "endpoints/replyoutbox.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>

#include <poll.h>

#include <climits>
#include <cstring>
#include <memory>
#include <set>

namespace {

// How long a server's send waits for a peer that takes nothing before the
// rest of that peer's share is given up, so one peer that never reads does
// not hold up the others.
constexpr qint64 PeerStallLimitMs = 3000;
// Longest single wait for a connection to take more, between which the
// event loop runs and stop is looked at.
constexpr int WriteWaitSliceMs = 10;

// Connections with a send under way further up the stack. A send that runs
// while another waits for room (a timer tick, a click, the server window and
// a peer window) must not put its bytes into the middle of the other's.
std::set<const TcpConnection *> &connectionsInUse()
{
    static std::set<const TcpConnection *> inUse;
    return inUse;
}

// A file on its way through a connection holds it as well, and so do
// automatic replies that wait for room.
class ConnectionClaim {
public:
    explicit ConnectionClaim(const TcpConnection *socket)
        : socket_(!FileTransfer::isSendingTo(socket) && !ReplyOutbox::isWaiting(socket)
                    && connectionsInUse().insert(socket).second
                ? socket
                : nullptr)
    {
    }
    ~ConnectionClaim()
    {
        if (socket_)
            connectionsInUse().erase(socket_);
    }
    ConnectionClaim(const ConnectionClaim &) = delete;
    ConnectionClaim &operator=(const ConnectionClaim &) = delete;
    [[nodiscard]] bool held() const { return socket_ != nullptr; }

private:
    const TcpConnection *socket_;
};

// One connection's share of a send: how far it got and when it last moved.
struct Outgoing {
    QPointer<TcpConnection> socket;
    qint64 offset = 0;
    bool finished = false;
    QElapsedTimer sinceProgress;
};

void waitUntilWritable(const std::vector<Outgoing> &outgoing)
{
    std::vector<pollfd> handles;
    for (const Outgoing &o : outgoing)
        if (!o.finished && o.socket && o.socket->socketHandle() != -1)
            handles.push_back(pollfd{o.socket->socketHandle(), POLLOUT, 0});
    if (!handles.empty())
        ::poll(handles.data(), handles.size(), WriteWaitSliceMs);
}

} // namespace

namespace {

// Hands the data to each connection as it takes it, handling events while
// one waits for room. Ends early when the window or its endpoint goes away or
// sending is stopped; with giveUpOnStall a connection that takes nothing for
// a while is given up. What was not sent is noted.
SendOutcome sendTcpRetrying(const std::vector<TcpConnection *> &connections, const QByteArray &data,
    const SendControl &control, bool giveUpOnStall)
{
    const qint64 size = data.size();
    std::vector<Outgoing> outgoing(connections.size());
    std::vector<std::unique_ptr<ConnectionClaim>> claims;
    for (size_t i = 0; i < connections.size(); ++i) {
        outgoing[i].socket = connections[i];
        outgoing[i].sinceProgress.start();
        claims.push_back(std::make_unique<ConnectionClaim>(connections[i]));
        if (!claims.back()->held()) {
            outgoing[i].finished = true;
            control.noteUnsent(size, size, UnsentReason::ConnectionBusy);
        }
    }
    SendOutcome result;
    // Each connection takes what it can; whatever it cannot take yet waits
    // for room while the event loop runs, so the window stays usable and a
    // slow connection does not hold up the others in the same pass.
    for (;;) {
        bool pending = false;
        for (Outgoing &o : outgoing) {
            if (o.finished)
                continue;
            if (!o.socket || !o.socket->isConnected()) {
                o.finished = true;
                control.noteUnsent(size - o.offset, size, UnsentReason::ConnectionGone);
                continue;
            }
            const int taken = o.socket->send(
                data.constData() + o.offset, int(std::min<qint64>(size - o.offset, INT_MAX)));
            if (control.ownerGone())
                return result;
            if (taken > 0) {
                o.offset += taken;
                result.counted += taken;
                o.sinceProgress.restart();
            }
            if (o.offset == size) {
                o.finished = true;
            } else if (giveUpOnStall && o.sinceProgress.elapsed() > PeerStallLimitMs) {
                o.finished = true;
                control.noteUnsent(size - o.offset, size, UnsentReason::PeerNotReading);
            } else {
                pending = true;
            }
        }
        if (!pending)
            return result;
        QCoreApplication::processEvents();
        if (control.ownerGone())
            return result;
        if (control.stopRequested()) {
            qint64 left = 0;
            for (const Outgoing &o : outgoing)
                if (!o.finished)
                    left += size - o.offset;
            control.noteUnsent(left, size * qint64(outgoing.size()), UnsentReason::Stopped);
            return result;
        }
        waitUntilWritable(outgoing);
    }
}

// A socket without room for a datagram gets this long to make some, in
// short waits without the event loop; a datagram never takes longer than
// the window may stay unanswered.
constexpr int DatagramRoomWaitMs = 50;

bool waitForDatagramRoom(int handle, const QElapsedTimer &since)
{
    const qint64 left = DatagramRoomWaitMs - since.elapsed();
    if (left <= 0 || handle < 0)
        return false;
    pollfd wait{handle, POLLOUT, 0};
    // ENOBUFS comes with room in the socket: the pause alone lets the
    // adapter's queue drain.
    ::poll(&wait, 1, int(std::min<qint64>(left, 5)));
    return true;
}

// Counts the datagram only when the system took it; one it had no room for
// is tried again for a moment, then noted as not sent, as is one refused.
SendOutcome sendDatagram(UdpSocket &udp, const QByteArray &data, const SendControl &control)
{
    const QPointer<UdpSocket> alive(&udp);
    QElapsedTimer since;
    since.start();
    for (;;) {
        QBuffer stream;
        stream.setData(data);
        stream.open(QIODevice::ReadOnly);
        // May run the event loop while a host name is looked up.
        const int error = udp.sendDatagram(stream);
        if (error == 0)
            return {data.size(), false};
        if (!alive || control.ownerGone())
            return {0, true};
        if (!UdpSocket::hasNoRoom(error)) {
            control.noteUnsent(data.size(), data.size(), UnsentReason::SendError,
                QString::fromLocal8Bit(std::strerror(error)));
            return {0, true};
        }
        if (!waitForDatagramRoom(udp.socketHandle(), since)) {
            control.noteUnsent(data.size(), data.size(), UnsentReason::NoRoom);
            return {0, true};
        }
    }
}

// False when the datagram did not go out whole (the boxes are shown).
bool sendToGroup(MulticastMember &group, const QByteArray &data)
{
    const MulticastMember::SendReport report = group.send(data);
    if (report.error != 0)
        TellUser(QString::number(report.error));
    if (report.callFailed)
        TellUser(QStringLiteral("send fail"));
    if (!report.whole)
        TellUser(QStringLiteral("Not Send all"));
    return report.ok();
}

} // namespace

bool isTypedSendUnderWay(const TcpConnection *connection)
{
    return connectionsInUse().count(connection) > 0 || ReplyOutbox::isWaiting(connection);
}

namespace {

// The connection an endpoint's automatic replies go through; a server's
// peers answer in their own windows, so a server has none.
TcpConnection *replyConnection(Endpoint &endpoint)
{
    if (endpoint.kind == EndpointKind::TcpClient)
        return endpoint.tcpClient() ? endpoint.tcpClient()->connection() : nullptr;
    if (endpoint.kind == EndpointKind::TcpAcceptedPeer)
        return endpoint.peerConnection();
    return nullptr;
}

} // namespace

SendOutcome replyThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control)
{
    TcpConnection *connection = replyConnection(endpoint);
    if (!connection)
        return sendThrough(endpoint, data, control);
    if (!connection->isConnected()) {
        control.noteUnsent(data.size(), data.size(), UnsentReason::ConnectionGone);
        return {};
    }
    // A typed send or a file holds the connection; their bytes and the
    // reply's must not mix.
    if (connectionsInUse().count(connection) > 0 || FileTransfer::isSendingTo(connection)) {
        control.noteUnsent(data.size(), data.size(), UnsentReason::ConnectionBusy);
        return {};
    }
    SendOutcome outcome;
    if (ReplyOutbox::send(connection, data, control, &outcome.counted) == ReplyOutbox::Accepted::Refused)
        outcome.dropped = true;
    return outcome;
}

bool replyHasRoom(Endpoint &endpoint, qsizetype size)
{
    return ReplyOutbox::hasRoom(replyConnection(endpoint), size);
}

bool repliesIdle(Endpoint &endpoint)
{
    return !ReplyOutbox::isWaiting(replyConnection(endpoint));
}

SendOutcome sendThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control)
{
    const EndpointKind kind = endpoint.kind;
    if (kind == EndpointKind::TcpClient) {
        if (auto *client = endpoint.tcpClient())
            return sendTcpRetrying({client->connection()}, data, control, false);
        return {};
    }
    if (kind == EndpointKind::TcpAcceptedPeer)
        return sendTcpRetrying({endpoint.peerConnection()}, data, control, false);
    if (kind == EndpointKind::UdpClient || kind == EndpointKind::UdpServer) {
        return sendDatagram(*endpoint.udp(), data, control);
    } else if (kind == EndpointKind::UdpGroup) {
        if (!endpoint.group || !sendToGroup(*endpoint.group, data))
            return {0, true};
    } else if (kind == EndpointKind::TcpServer) {
        // A server sends to every peer it holds at this moment.
        auto *server = endpoint.tcpServer();
        if (!server)
            return {};
        std::vector<TcpConnection *> peers;
        TcpListener *listener = server->listener();
        for (int i = 0; i < listener->peerCount(); ++i)
            if (listener->peerAt(i)->isConnected())
                peers.push_back(listener->peerAt(i));
        return sendTcpRetrying(peers, data, control, true);
    }
    return {data.size(), false};
}
