#include "endpoints/endpointsend.h"

#include "core/bytebudget.h"
#include "core/usermessages.h"
#include "endpoints/connectionoutbox.h"
#include "endpoints/endpoint.h"
#include "endpoints/filetransfer.h"
#include "endpoints/outgoingsend.h"
#include "endpoints/serialendpoint.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"

#include <QElapsedTimer>
#include <QPointer>

#include <poll.h>

#include <cstring>
#include <memory>

namespace {

// Hands the data to each connection's outbox, which writes it as the
// connection takes it; the send is over once every connection took its share
// or gave it up. A connection busy with another send, a file or replies is
// left out (their bytes would mix); with giveUpOnStall a connection that
// takes nothing for a while is given up (a server's send, so one peer that
// never reads does not hold up the others). What was not sent is noted.
SendOutcome sendTcp(const std::vector<TcpConnection *> &connections, const QByteArray &data,
    const SendControl &control, bool giveUpOnStall, const std::shared_ptr<ByteBudget> &budget)
{
    const qint64 size = data.size();
    const std::shared_ptr<OutgoingSend> send = OutgoingSend::make(control, size, int(connections.size()));
    if (!send->reserve(budget)) {
        // Past the program's total nothing more waits, as a reply would not:
        // the send is refused whole, and a repeat ends.
        const qint64 all = size * qint64(connections.size());
        control.noteUnsent(all, all, UnsentReason::OutputBudget);
        return {0, true};
    }
    SendOutcome result;
    for (TcpConnection *connection : connections) {
        if (!connection || !connection->isConnected())
            send->shareGivenUp(size, UnsentReason::ConnectionGone);
        else if (FileTransfer::isSendingTo(connection) || ConnectionOutbox::isWaiting(connection))
            send->shareGivenUp(size, UnsentReason::ConnectionBusy);
        else
            ConnectionOutbox::send(connection, data, send, giveUpOnStall, &result.counted, budget);
        if (control.ownerGone())
            return result;
    }
    result.pending = send->await();
    return result;
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
// is tried again for a moment, then noted as not sent, as is one refused. One
// for a host name waits for its lookup and tells the repeat when it is over.
SendOutcome sendDatagram(UdpSocket &udp, const QByteArray &data, const SendControl &control)
{
    const QPointer<UdpSocket> alive(&udp);
    const qint64 size = data.size();
    const auto noteRefused = [control, size](int error) {
        if (UdpSocket::hasNoRoom(error))
            control.noteUnsent(size, size, UnsentReason::NoRoom);
        else
            control.noteUnsent(
                size, size, UnsentReason::SendError, QString::fromLocal8Bit(std::strerror(error)));
    };
    const auto lookedUp = [control, size, noteRefused](int result) {
        if (result == 0) {
            control.noteSent(size);
            control.settled();
            return;
        }
        // A name that did not resolve is told by its error box.
        if (result != UdpSocket::LookupFailed)
            noteRefused(result);
        control.failed();
    };
    QElapsedTimer since;
    since.start();
    for (;;) {
        const int error = udp.sendBytes(data, lookedUp);
        if (error == 0)
            return {size, false};
        if (error == UdpSocket::SendPending)
            return {0, false, false, true};
        if (!alive || control.ownerGone())
            return {0, true};
        if (!UdpSocket::hasNoRoom(error) || !waitForDatagramRoom(udp.socketHandle(), since)) {
            noteRefused(error);
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
    return ConnectionOutbox::isWaiting(connection);
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

SendOutcome replyThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control,
    const std::shared_ptr<ByteBudget> &budget)
{
    TcpConnection *connection = replyConnection(endpoint);
    if (!connection)
        return sendThrough(endpoint, data, control, budget);
    if (!connection->isConnected()) {
        control.noteUnsent(data.size(), data.size(), UnsentReason::ConnectionGone);
        return {};
    }
    // A typed send or a file holds the connection; their bytes and the
    // reply's must not mix.
    if (ConnectionOutbox::isSendWaiting(connection) || FileTransfer::isSendingTo(connection)) {
        control.noteUnsent(data.size(), data.size(), UnsentReason::ConnectionBusy);
        return {};
    }
    SendOutcome outcome;
    if (ConnectionOutbox::sendReply(connection, data, control, &outcome.counted, budget)
        == ConnectionOutbox::Accepted::Refused)
        outcome.dropped = true;
    return outcome;
}

ReplyRoom replyHasRoom(Endpoint &endpoint, qsizetype size, ByteBudget *budget)
{
    if (SerialEndpoint *serial = endpoint.serialPort())
        return serial->hasRoomFor(size) ? ReplyRoom::Room : ReplyRoom::PeerBacklog;
    // A datagram endpoint keeps nothing waiting: no budget of its own.
    TcpConnection *connection = replyConnection(endpoint);
    const ReplyRoom room = connection ? ConnectionOutbox::roomFor(connection, size, budget) : ReplyRoom::Room;
    // The reply is dropped on this answer.
    if (room == ReplyRoom::OutputBudget)
        budget->noteRefused();
    return room;
}

bool repliesIdle(Endpoint &endpoint)
{
    if (SerialEndpoint *serial = endpoint.serialPort())
        return serial->isIdle();
    return !ConnectionOutbox::isWaiting(replyConnection(endpoint));
}

// A serial device takes what fits its output queue; what does not is noted
// as not sent, and ends a repeat (the next send would not fit either).
SendOutcome sendSerial(SerialEndpoint *serial, const QByteArray &data, const SendControl &control)
{
    const qint64 size = data.size();
    if (!serial || !serial->isOpen()) {
        control.noteUnsent(size, size, UnsentReason::ConnectionGone);
        return {0, true};
    }
    const qint64 taken = serial->write(data);
    if (taken < size) {
        control.noteUnsent(size - taken, size, UnsentReason::NoRoom);
        return {taken, true};
    }
    return {taken, false};
}

SendOutcome sendThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control,
    const std::shared_ptr<ByteBudget> &budget)
{
    const EndpointKind kind = endpoint.kind;
    if (kind == EndpointKind::SerialPort)
        return sendSerial(endpoint.serialPort(), data, control);
    if (kind == EndpointKind::TcpClient) {
        if (auto *client = endpoint.tcpClient())
            return sendTcp({client->connection()}, data, control, false, budget);
        return {};
    }
    if (kind == EndpointKind::TcpAcceptedPeer)
        return sendTcp({endpoint.peerConnection()}, data, control, false, budget);
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
        return sendTcp(peers, data, control, true, budget);
    }
    return {data.size(), false};
}
