// The delete and stop commands of the main window, and the removal of an
// endpoint that every path shares.

#include "app/Unit1.h"
#include "app/endpointtree.h"
#include "app/refreshstatus.h"
#include "app/tcpevents.h"
#include "datapanel/datapanel.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/udpsocket.h"
#include "ui/stateimages.h"

#include <QTreeWidgetItem>

void SilenceTransport(TMySocket &endpoint)
{
    QObject *transport = endpoint.Transport;
    if (endpoint.Kind == Kinds::TcpServerClient)
        return;
    if (auto *server = qobject_cast<TcpServer *>(transport)) {
        server->OnClientConnect = nullptr;
        server->OnClientDisconnect = nullptr;
        server->OnClientRead = nullptr;
        server->OnClientError = nullptr;
        server->Connection()->SetErrorSink(nullptr);
    } else if (auto *client = qobject_cast<TcpClient *>(transport)) {
        client->OnConnect = nullptr;
        client->OnRead = nullptr;
        client->OnDisconnect = nullptr;
        client->OnError = nullptr;
    } else if (auto *udp = qobject_cast<UdpSocket *>(transport)) {
        udp->OnDataReceived = nullptr;
    }
}

QObject *ReleaseTransport(TMySocket &endpoint)
{
    if (endpoint.Kind == Kinds::UdpGroup && endpoint.GroupSocket != winsock::INVALID_SOCKET) {
        winsock::closesocket(endpoint.GroupSocket);
        endpoint.GroupSocket = winsock::INVALID_SOCKET;
    }
    QObject *transport = endpoint.Transport;
    // Accepted connections belong to their server.
    if (endpoint.Kind == Kinds::TcpServerClient || !transport)
        return nullptr;
    SilenceTransport(endpoint);
    if (auto *server = qobject_cast<TcpServer *>(transport))
        server->Connection()->Close();
    else if (auto *client = qobject_cast<TcpClient *>(transport))
        client->Connection()->Close();
    else if (auto *udp = qobject_cast<UdpSocket *>(transport))
        winsock::closesocket(udp->SocketHandle());
    endpoint.Transport = nullptr;
    endpoint.UdpClient = nullptr;
    endpoint.UdpServer = nullptr;
    return transport;
}

void TForm1::removeEndpoint(TMySocket *endpoint)
{
    if (!endpoints().Contains(endpoint))
        return;
    // Peers of a server go first, through their own disconnection, so none
    // outlives the connection it stands for.
    if (endpoint->Kind == Kinds::TcpServer)
        StopServer(*endpoint);
    // Freed once control is back in the event loop: one of its handlers may
    // be what asked for the removal.
    if (QObject *transport = ReleaseTransport(*endpoint))
        transport->deleteLater();
    if (TFrmData *window = endpoint->DataForm) {
        window->attachedEndpoint = nullptr;
        window->destroyLater();
    }
    QTreeWidgetItem *node = endpoint->Node;
    endpoint->Node = nullptr;
    endpoints().Remove(endpoint);
    delete node; // selects another node, whose handler may run now
}

void TForm1::deleteSelected()
{
    TMySocket *endpoint = EndpointOf(tree->currentItem());
    if (!endpoint || !endpoints().Contains(endpoint))
        return;
    if (endpoint->Kind == Kinds::TcpServerClient) {
        // Its disconnection removes the endpoint.
        if (auto *connection = qobject_cast<TcpConnection *>(endpoint->Transport))
            connection->Close();
        return;
    }
    if (endpoint->Kind == Kinds::TcpClient) {
        // A connected client's disconnection runs first, as it would on its own.
        if (auto *client = qobject_cast<TcpClient *>(endpoint->Transport))
            client->Connection()->Close();
        if (!endpoints().Contains(endpoint))
            return;
    }
    removeEndpoint(endpoint);
    if (endpoints().Count() == 0)
        showInfoPanel(true);
}

void TForm1::stopSelected()
{
    TMySocket *endpoint = EndpointOf(tree->currentItem());
    if (endpoint && endpoints().Contains(endpoint))
        stopEndpoint(*endpoint);
}

void TForm1::stopEndpoint(TMySocket &endpoint)
{
    if (endpoint.Kind == Kinds::TcpServer) {
        StopServer(endpoint);
    } else if (endpoint.Kind == Kinds::TcpClient) {
        if (auto *client = qobject_cast<TcpClient *>(endpoint.Transport))
            client->Close();
        if (!endpoints().Contains(&endpoint))
            return;
        endpoint.State = 0;
        RefreshStatus(endpoint);
    } else if (endpoint.Kind == Kinds::TcpServerClient) {
        if (auto *connection = qobject_cast<TcpConnection *>(endpoint.Transport))
            connection->Close();
    }
}
