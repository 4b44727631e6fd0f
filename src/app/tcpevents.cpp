#include "app/tcpevents.h"

#include "app/endpoint.h"
#include "app/mainwindow.h"
#include "app/refreshstatus.h"
#include "app/webreply.h"
#include "datawindow/datawindow.h"
#include "net/tcp/tcpsocket.h"
#include "ui/endpointtree.h"
#include "ui/infopanel.h"
#include "ui/stateimages.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTreeWidgetItem>

#include <vector>

namespace {

TcpServer *serverSocketOf(const Endpoint &endpoint)
{
    return qobject_cast<TcpServer *>(endpoint.transport);
}

TcpClient *clientSocketOf(const Endpoint &endpoint)
{
    return qobject_cast<TcpClient *>(endpoint.transport);
}

// The listed endpoint a connection object stands for, or nullptr once that
// endpoint is gone.
Endpoint *listedEndpoint(const TcpConnection *socket)
{
    auto *endpoint = static_cast<Endpoint *>(socket->UserData());
    return endpoint && Form1 && Form1->endpoints().contains(endpoint) ? endpoint : nullptr;
}

Endpoint *linkedOfKind(const Endpoint &endpoint, const QString &kind)
{
    Endpoint *partner = endpoint.partner;
    return partner && partner->kind == kind && Form1->endpoints().contains(partner) ? partner : nullptr;
}

void PeerConnected(Endpoint &server, TcpConnection *socket)
{
    auto record = MakeRecord(Kinds::TcpServerClient);
    Endpoint *peer = record.get();
    peer->transport = socket;
    socket->SetUserData(peer);
    RefreshStatus(server);

    const QString address = socket->QueryRemoteAddress();
    const int port = socket->QueryRemotePort();
    auto *node = new QTreeWidgetItem(server.node, {NodeText(address, port)});
    server.node->setExpanded(true);
    SetStateIndex(node, ImgConnected);
    Form1->tree->setCurrentItem(node);
    SetEndpointOf(node, peer);
    peer->node = node;

    Form1->makeWindow(*peer);
    peer->state = 1;
    peer->peerPort = port;
    peer->peerAddress = address;
    peer->localPort = socket->QueryLocalPort();
    RefreshStatus(*peer);
    Form1->endpoints().add(std::move(record));

    if (Endpoint *client = linkedOfKind(server, Kinds::TcpClient)) {
        TcpClient *clientSocket = clientSocketOf(*client);
        clientSocket->Open();
        client->localPort = clientSocket->Connection()->QueryLocalPort();
        RefreshStatus(*client);
    }
}

void PeerReceived(Endpoint &server, TcpConnection *socket)
{
    const QByteArray data = socket->ReceiveString();
    Endpoint *peer = listedEndpoint(socket);
    if (!peer || !peer->window || data.isEmpty())
        return;
    peer->window->logReceived(data);
    peer->window->forwardToSerial(data);
    if (server.window && server.window->webReplySwitch->isChecked()) {
        socket->SendString(BuildWebReply(
            Form1->infoPanel->WebStr1->toPlainText(), Form1->infoPanel->WebStr2->toPlainText()));
        socket->Close();
    }
}

void PeerDisconnected(Endpoint &server, TcpConnection *socket)
{
    if (Endpoint *client = linkedOfKind(server, Kinds::TcpClient)) {
        QPointer<QObject> alive(client->transport);
        Form1->tree->setCurrentItem(client->node);
        clientSocketOf(*client)->Close();
        // The client's disconnection may have stopped this server and even
        // removed the client; only touch what is still listed.
        if (alive && Form1->endpoints().contains(client)) {
            client->state = 0;
            RefreshStatus(*client);
        }
    }

    Endpoint *peer = listedEndpoint(socket);
    if (!peer)
        return;
    socket->SetUserData(nullptr);
    peer->state = 0;
    SetStateIndex(peer->node, ImgDisconnected);
    Form1->removeEndpoint(peer);
}

void PeerError(Endpoint &server, TcpConnection *socket, TErrorEvent event, int &errorCode)
{
    // Into the log: written into the send box, the line would go out to the
    // peers with the next send.
    if (server.window)
        server.window->appendLogLine(
            CurrentDateTimeText() + QStringLiteral("Client Socket异常,代码=") + QString::number(errorCode));
    errorCode = 0;
    // A cleared error cancels the close it came with; a reset peer would
    // stay listed as connected on a dead connection. It goes as a peer that
    // closes does.
    if (event == errDisconnect && socket)
        socket->Close();
}

void SuppressError(int &errorCode)
{
    errorCode = 0;
}

void ClientConnected(Endpoint &client)
{
    client.state = 1;
    client.localPort = clientSocketOf(client)->Connection()->QueryLocalPort();
    RefreshStatus(client);
    SetStateIndex(client.node, ImgConnected);
}

void ClientReceived(TcpConnection *socket)
{
    const QByteArray data = socket->ReceiveString();
    Endpoint *client = listedEndpoint(socket);
    if (client && client->window && !data.isEmpty())
        client->window->logReceived(data);
}

void ClientDisconnected(Endpoint &client)
{
    client.state = 0;
    RefreshStatus(client);
    SetStateIndex(client.node, ImgDisconnected);
    if (Endpoint *server = linkedOfKind(client, Kinds::TcpServer))
        StopServer(*server);
}

} // namespace

void AttachServerHandlers(Endpoint &server, TcpServer &socket)
{
    Endpoint *s = &server;
    socket.OnClientConnect = [s](QObject *, TcpConnection *peer) { PeerConnected(*s, peer); };
    socket.OnClientDisconnect = [s](QObject *, TcpConnection *peer) { PeerDisconnected(*s, peer); };
    socket.OnClientRead = [s](QObject *, TcpConnection *peer) { PeerReceived(*s, peer); };
    socket.OnClientError = [s](QObject *, TcpConnection *peer, TErrorEvent event, int &code) {
        PeerError(*s, peer, event, code);
    };
    socket.Connection()->SetErrorSink(
        [](QObject *, TcpConnection *, TErrorEvent, int &code) { SuppressError(code); });
}

void AttachClientHandlers(Endpoint &client, TcpClient &socket)
{
    Endpoint *c = &client;
    socket.OnConnect = [c](QObject *, TcpConnection *) { ClientConnected(*c); };
    socket.OnRead = [](QObject *, TcpConnection *connection) { ClientReceived(connection); };
    socket.OnDisconnect = [c](QObject *, TcpConnection *) { ClientDisconnected(*c); };
    socket.OnError = [](QObject *, TcpConnection *connection, TErrorEvent event, int &code) {
        SuppressError(code);
        // As for a server's peer: a reset must not leave the client shown as
        // connected on a dead connection.
        if (event == errDisconnect && connection)
            connection->Close();
    };
}

void StopServer(Endpoint &server)
{
    TcpServer *socket = serverSocketOf(server);
    if (!socket)
        return;
    // Closing a peer can run a whole monitoring-pipe chain, which may stop
    // this very server from inside; hold the peers weakly and close whichever
    // are still there, in list order.
    std::vector<QPointer<TcpPeerConnection>> peers;
    TcpListener *listener = socket->Connection();
    const int count = listener->ConnectionCount();
    for (int i = 0; i < count; ++i)
        peers.emplace_back(listener->ConnectionAt(i));
    for (const auto &peer : peers)
        if (peer)
            peer->Close();
    socket->Close();
    if (!Form1->endpoints().contains(&server))
        return;
    server.state = 0;
    RefreshStatus(server);
    SetStateIndex(server.node, ImgStopped);
}
