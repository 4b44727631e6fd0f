#include "endpoints/tcpendpointevents.h"

#include "core/logtexts.h"
#include "endpoints/connectionoutbox.h"
#include "endpoints/endpoint.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/filetransfer.h"
#include "endpoints/webreply.h"
#include "net/descriptorlimit.h"
#include "net/tcp/hostlookup.h"
#include "net/tcp/tcpsocket.h"
#include "session/endpointsession.h"

#include <QCoreApplication>
#include <QPointer>

#include <cerrno>

#include <vector>

namespace {

TcpServer *serverSocketOf(const Endpoint &endpoint)
{
    return endpoint.tcpServer();
}

TcpClient *clientSocketOf(const Endpoint &endpoint)
{
    return endpoint.tcpClient();
}

Endpoint *linkedOfKind(EndpointController &w, const Endpoint &endpoint, EndpointKind kind)
{
    Endpoint *partner = endpoint.partner;
    return partner && partner->kind == kind && w.endpoints().contains(partner) ? partner : nullptr;
}

void PeerConnected(EndpointController &w, Endpoint &server, TcpConnection *socket)
{
    auto record = makeEndpoint(EndpointKind::TcpAcceptedPeer);
    Endpoint *peer = record.get();
    peer->transport = socket;
    w.changed(server);

    const QString address = socket->peerAddress();
    const int port = socket->peerPort();
    peer->nodeText = nodeText(address, port);
    peer->state = EndpointState::Connected;
    peer->peerPort = port;
    peer->peerAddress = address;
    peer->localPort = socket->localPort();
    w.makeSession(*peer);
    w.attach(std::move(record), &server);
    // Known by its connection only once listed: a connection whose endpoint
    // was never made finds none.
    w.setEndpointOf(socket, peer);

    if (Endpoint *client = linkedOfKind(w, server, EndpointKind::TcpClient)) {
        TcpClient *clientSocket = clientSocketOf(*client);
        clientSocket->open();
        client->localPort = clientSocket->connection()->localPort();
        w.changed(*client);
    }
}

void PeerReceived(EndpointController &w, Endpoint &server, TcpConnection *socket)
{
    const QByteArray data = socket->readAvailable();
    Endpoint *peer = w.endpointOf(socket);
    if (!peer || !peer->session || data.isEmpty())
        return;
    peer->session->logReceived(data);
    if (!server.session)
        return;
    // The fixed web reply wins over the rules when both are on.
    if (w.isWebReplyOn(server)) {
        socket->send(FixedWebReply());
        socket->close();
        return;
    }
    // The server's rules answer every peer, in the peer's own window.
    if (const auto reply = server.session->autoReplyTo(data))
        peer->session->sendReply(*reply);
}

void PeerDisconnected(EndpointController &w, Endpoint &server, TcpConnection *socket)
{
    if (Endpoint *client = linkedOfKind(w, server, EndpointKind::TcpClient)) {
        QPointer<QObject> alive(client->transport);
        w.bringForward(*client);
        clientSocketOf(*client)->close();
        // The client's disconnection may have stopped this server and even
        // removed the client; only touch what is still listed.
        if (alive && w.endpoints().contains(client)) {
            client->state = EndpointState::Disconnected;
            w.changed(*client);
        }
    }

    Endpoint *peer = w.endpointOf(socket);
    if (!peer)
        return;
    w.setEndpointOf(socket, nullptr);
    peer->state = EndpointState::Disconnected;
    w.changed(*peer);
    w.remove(peer);
}

void PeerError(Endpoint &server, TcpConnection *socket, TcpErrorKind event, int &errorCode)
{
    // Into the log: written into the send box, the line would go out to the
    // peers with the next send.
    if (server.session)
        server.session->logLine(currentDateTimeText()
            + QCoreApplication::translate("TcpEndpointEvents", "Client Socket异常,代码=")
            + QString::number(errorCode));
    errorCode = 0;
    // A cleared error cancels the close it came with; a reset peer would
    // stay listed as connected on a dead connection. It goes as a peer that
    // closes does.
    if (event == TcpErrorKind::Disconnect && socket)
        socket->close();
}

// Peers wait in the listen queue until a descriptor is free; the user is
// told once per episode, with the limit, instead of seeing nothing happen.
void DescriptorsExhausted(Endpoint &server, int error)
{
    if (!server.session)
        return;
    // clang-format off
    const QString text = error == EMFILE
        ? QCoreApplication::translate("TcpEndpointEvents", " 接受连接失败：本程序可打开的文件描述符已用完（上限 %1），新的连接在队列中等待，有空闲描述符后继续接受")
        : QCoreApplication::translate("TcpEndpointEvents", " 接受连接失败：系统的文件描述符已用完（本程序上限 %1），新的连接在队列中等待，有空闲描述符后继续接受");
    // clang-format on
    server.session->logStatus(text.arg(descriptorLimit()));
}

void SuppressError(int &errorCode)
{
    errorCode = 0;
}

void ClientConnected(EndpointController &w, Endpoint &client)
{
    client.state = EndpointState::Connected;
    client.localPort = clientSocketOf(client)->connection()->localPort();
    w.changed(client);
}

void ClientReceived(EndpointController &w, TcpConnection *socket)
{
    const QByteArray data = socket->readAvailable();
    Endpoint *client = w.endpointOf(socket);
    if (!client || !client->session || data.isEmpty())
        return;
    client->session->logReceived(data);
    if (const auto reply = client->session->autoReplyTo(data))
        client->session->sendReply(*reply);
}

void ClientDisconnected(EndpointController &w, Endpoint &client)
{
    client.state = EndpointState::Disconnected;
    w.changed(client);
    if (Endpoint *server = linkedOfKind(w, client, EndpointKind::TcpServer))
        stopServer(w, *server);
}

} // namespace

void bindTcpServerEvents(EndpointController &window, Endpoint &server, TcpServer &socket)
{
    Endpoint *s = &server;
    EndpointController *w = &window;
    TcpListener *listener = socket.listener();
    QObject::connect(listener, &TcpListener::peerConnected, w,
        [w, s](TcpConnection *peer) { PeerConnected(*w, *s, peer); });
    QObject::connect(listener, &TcpListener::peerDisconnected, w,
        [w, s](TcpConnection *peer) { PeerDisconnected(*w, *s, peer); });
    QObject::connect(
        listener, &TcpListener::peerReadable, w, [w, s](TcpConnection *peer) { PeerReceived(*w, *s, peer); });
    QObject::connect(listener, &TcpListener::peerWritable, w, [](TcpConnection *peer) {
        ConnectionOutbox::connectionWritable(peer);
        FileTransfer::connectionWritable(peer);
    });
    // The code is cleared in place, which only a direct call can do.
    QObject::connect(
        listener, &TcpListener::peerErrorOccurred, w,
        [s](TcpConnection *peer, TcpErrorKind event, int &code) { PeerError(*s, peer, event, code); },
        Qt::DirectConnection);
    QObject::connect(
        listener, &TcpListener::descriptorsExhausted, w, [s](int error) { DescriptorsExhausted(*s, error); });
    QObject::connect(
        &socket, &TcpSocket::errorOccurred, w,
        [](TcpConnection *, TcpErrorKind, int &code) { SuppressError(code); }, Qt::DirectConnection);
}

void bindTcpClientEvents(EndpointController &window, Endpoint &client, TcpClient &socket)
{
    Endpoint *c = &client;
    EndpointController *w = &window;
    QObject::connect(&socket, &TcpSocket::connected, w, [w, c] { ClientConnected(*w, *c); });
    QObject::connect(
        &socket, &TcpSocket::readable, w, [w](TcpConnection *connection) { ClientReceived(*w, connection); });
    QObject::connect(&socket, &TcpSocket::writable, w, [](TcpConnection *connection) {
        ConnectionOutbox::connectionWritable(connection);
        FileTransfer::connectionWritable(connection);
    });
    QObject::connect(&socket, &TcpSocket::disconnected, w, [w, c] { ClientDisconnected(*w, *c); });
    QObject::connect(&socket, &TcpSocket::connectFailed, w,
        [w, c](TcpConnection *, int code) { emit w->connectFailed(c, SocketErrorText(code)); });
    QObject::connect(
        &socket, &TcpSocket::errorOccurred, w,
        [](TcpConnection *connection, TcpErrorKind event, int &code) {
            SuppressError(code);
            // As for a server's peer: a reset must not leave the client shown
            // as connected on a dead connection.
            if (event == TcpErrorKind::Disconnect && connection)
                connection->close();
        },
        Qt::DirectConnection);
}

void stopServer(EndpointController &window, Endpoint &server)
{
    TcpServer *socket = serverSocketOf(server);
    if (!socket)
        return;
    // Closing a peer can run a whole monitoring-pipe chain, which may stop
    // this very server from inside; hold the peers weakly and close whichever
    // are still there, in list order.
    std::vector<QPointer<TcpPeerConnection>> peers;
    TcpListener *listener = socket->listener();
    const int count = listener->peerCount();
    peers.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        peers.emplace_back(listener->peerAt(i));
    for (const auto &peer : peers)
        if (peer)
            peer->close();
    socket->close();
    if (!window.endpoints().contains(&server))
        return;
    server.state = EndpointState::Stopped;
    window.changed(server);
}
