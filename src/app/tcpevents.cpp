#include "app/tcpevents.h"

#include "app/Unit1.h"
#include "app/endpointtree.h"
#include "app/mysocket.h"
#include "app/refreshstatus.h"
#include "app/webreply.h"
#include "datapanel/datapanel.h"
#include "net/tcp/tcpsocket.h"
#include "ui/infopanel.h"
#include "ui/stateimages.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTreeWidgetItem>

#include <vector>

namespace {

TcpServer *serverSocketOf(const TMySocket &endpoint)
{
    return qobject_cast<TcpServer *>(endpoint.Transport);
}

TcpClient *clientSocketOf(const TMySocket &endpoint)
{
    return qobject_cast<TcpClient *>(endpoint.Transport);
}

// The listed endpoint a connection object stands for, or nullptr once that
// endpoint is gone.
TMySocket *listedEndpoint(const TcpConnection *socket)
{
    auto *endpoint = static_cast<TMySocket *>(socket->UserData());
    return endpoint && Form1 && Form1->endpoints().Contains(endpoint) ? endpoint : nullptr;
}

TMySocket *linkedOfKind(const TMySocket &endpoint, const QString &kind)
{
    TMySocket *partner = endpoint.Link;
    return partner && partner->Kind == kind && Form1->endpoints().Contains(partner) ? partner : nullptr;
}

void PeerConnected(TMySocket &server, TcpConnection *socket)
{
    auto record = MakeRecord(Kinds::TcpServerClient);
    TMySocket *peer = record.get();
    peer->Transport = socket;
    socket->SetUserData(peer);
    RefreshStatus(server);

    const QString address = socket->QueryRemoteAddress();
    const int port = socket->QueryRemotePort();
    auto *node = new QTreeWidgetItem(server.Node, {NodeText(address, port)});
    server.Node->setExpanded(true);
    SetStateIndex(node, ImgConnected);
    Form1->tree->setCurrentItem(node);
    SetEndpointOf(node, peer);
    peer->Node = node;

    Form1->makeWindow(*peer);
    peer->State = 1;
    peer->RemotePort = port;
    peer->RemoteIP = address;
    peer->LocalPort = socket->QueryLocalPort();
    RefreshStatus(*peer);
    Form1->endpoints().Add(std::move(record));

    if (TMySocket *client = linkedOfKind(server, Kinds::TcpClient)) {
        TcpClient *clientSocket = clientSocketOf(*client);
        clientSocket->Open();
        client->LocalPort = clientSocket->Connection()->QueryLocalPort();
        RefreshStatus(*client);
    }
}

void PeerReceived(TMySocket &server, TcpConnection *socket)
{
    const QByteArray data = socket->ReceiveString();
    TMySocket *peer = listedEndpoint(socket);
    if (!peer || !peer->DataForm || data.isEmpty())
        return;
    peer->DataForm->logReceived(data);
    peer->DataForm->forwardToSerial(data);
    if (server.DataForm && server.DataForm->webReplySwitch->isChecked()) {
        socket->SendString(BuildWebReply(
            Form1->infoPanel->WebStr1->toPlainText(), Form1->infoPanel->WebStr2->toPlainText()));
        socket->Close();
    }
}

void PeerDisconnected(TMySocket &server, TcpConnection *socket)
{
    if (TMySocket *client = linkedOfKind(server, Kinds::TcpClient)) {
        QPointer<QObject> alive(client->Transport);
        Form1->tree->setCurrentItem(client->Node);
        clientSocketOf(*client)->Close();
        // The client's disconnection may have stopped this server and even
        // removed the client; only touch what is still listed.
        if (alive && Form1->endpoints().Contains(client)) {
            client->State = 0;
            RefreshStatus(*client);
        }
    }

    TMySocket *peer = listedEndpoint(socket);
    if (!peer)
        return;
    socket->SetUserData(nullptr);
    peer->State = 0;
    SetStateIndex(peer->Node, ImgDisconnected);
    Form1->removeEndpoint(peer);
}

void PeerError(TMySocket &server, TcpConnection *socket, TErrorEvent event, int &errorCode)
{
    // Into the log: written into the send box, the line would go out to the
    // peers with the next send.
    if (server.DataForm)
        server.DataForm->appendLogLine(
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

void ClientConnected(TMySocket &client)
{
    client.State = 1;
    client.LocalPort = clientSocketOf(client)->Connection()->QueryLocalPort();
    RefreshStatus(client);
    SetStateIndex(client.Node, ImgConnected);
}

void ClientReceived(TcpConnection *socket)
{
    const QByteArray data = socket->ReceiveString();
    TMySocket *client = listedEndpoint(socket);
    if (client && client->DataForm && !data.isEmpty())
        client->DataForm->logReceived(data);
}

void ClientDisconnected(TMySocket &client)
{
    client.State = 0;
    RefreshStatus(client);
    SetStateIndex(client.Node, ImgDisconnected);
    if (TMySocket *server = linkedOfKind(client, Kinds::TcpServer))
        StopServer(*server);
}

} // namespace

void AttachServerHandlers(TMySocket &server, TcpServer &socket)
{
    TMySocket *s = &server;
    socket.OnClientConnect = [s](QObject *, TcpConnection *peer) { PeerConnected(*s, peer); };
    socket.OnClientDisconnect = [s](QObject *, TcpConnection *peer) { PeerDisconnected(*s, peer); };
    socket.OnClientRead = [s](QObject *, TcpConnection *peer) { PeerReceived(*s, peer); };
    socket.OnClientError = [s](QObject *, TcpConnection *peer, TErrorEvent event, int &code) {
        PeerError(*s, peer, event, code);
    };
    socket.Connection()->SetErrorSink(
        [](QObject *, TcpConnection *, TErrorEvent, int &code) { SuppressError(code); });
}

void AttachClientHandlers(TMySocket &client, TcpClient &socket)
{
    TMySocket *c = &client;
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

void StopServer(TMySocket &server)
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
    if (!Form1->endpoints().Contains(&server))
        return;
    server.State = 0;
    RefreshStatus(server);
    SetStateIndex(server.Node, ImgStopped);
}
