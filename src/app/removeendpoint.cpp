// The delete and stop commands of the main window, and the removal of an
// endpoint that every path shares.

#include "app/mainwindow.h"
#include "app/refreshstatus.h"
#include "app/tcpevents.h"
#include "datawindow/datawindow.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/udpsocket.h"
#include "ui/endpointtree.h"
#include "ui/stateimages.h"

#include <QTreeWidgetItem>

void SilenceTransport(Endpoint &endpoint)
{
    QObject *transport = endpoint.transport;
    if (endpoint.kind == Kinds::TcpServerClient)
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

QObject *ReleaseTransport(Endpoint &endpoint)
{
    if (endpoint.kind == Kinds::UdpGroup && endpoint.groupSocket != dgram::InvalidSocket) {
        dgram::closesocket(endpoint.groupSocket);
        endpoint.groupSocket = dgram::InvalidSocket;
    }
    QObject *transport = endpoint.transport;
    // Accepted connections belong to their server.
    if (endpoint.kind == Kinds::TcpServerClient || !transport)
        return nullptr;
    SilenceTransport(endpoint);
    if (auto *server = qobject_cast<TcpServer *>(transport))
        server->Connection()->Close();
    else if (auto *client = qobject_cast<TcpClient *>(transport))
        client->Connection()->Close();
    else if (auto *udp = qobject_cast<UdpSocket *>(transport))
        dgram::closesocket(udp->SocketHandle());
    endpoint.transport = nullptr;
    endpoint.udpClient = nullptr;
    endpoint.udpServer = nullptr;
    return transport;
}

void MainWindow::removeEndpoint(Endpoint *endpoint)
{
    if (!endpoints().contains(endpoint))
        return;
    // Peers of a server go first, through their own disconnection, so none
    // outlives the connection it stands for.
    if (endpoint->kind == Kinds::TcpServer)
        StopServer(*this, *endpoint);
    // Freed once control is back in the event loop: one of its handlers may
    // be what asked for the removal.
    if (QObject *transport = ReleaseTransport(*endpoint))
        transport->deleteLater();
    if (DataWindow *window = endpoint->window) {
        window->attachedEndpoint = nullptr;
        window->destroyLater();
    }
    QTreeWidgetItem *node = endpoint->node;
    endpoint->node = nullptr;
    endpoints().remove(endpoint);
    delete node; // selects another node, whose handler may run now
}

void MainWindow::deleteSelected()
{
    Endpoint *endpoint = EndpointOf(tree->currentItem());
    if (!endpoint || !endpoints().contains(endpoint))
        return;
    if (endpoint->kind == Kinds::TcpServerClient) {
        // Its disconnection removes the endpoint.
        if (auto *connection = qobject_cast<TcpConnection *>(endpoint->transport))
            connection->Close();
        return;
    }
    if (endpoint->kind == Kinds::TcpClient) {
        // A connected client's disconnection runs first, as it would on its own.
        if (auto *client = qobject_cast<TcpClient *>(endpoint->transport))
            client->Connection()->Close();
        if (!endpoints().contains(endpoint))
            return;
    }
    removeEndpoint(endpoint);
    if (endpoints().size() == 0)
        showInfoPanel(true);
}

void MainWindow::stopSelected()
{
    Endpoint *endpoint = EndpointOf(tree->currentItem());
    if (endpoint && endpoints().contains(endpoint))
        stopEndpoint(*endpoint);
}

void MainWindow::stopEndpoint(Endpoint &endpoint)
{
    if (endpoint.kind == Kinds::TcpServer) {
        StopServer(*this, endpoint);
    } else if (endpoint.kind == Kinds::TcpClient) {
        if (auto *client = qobject_cast<TcpClient *>(endpoint.transport))
            client->Close();
        if (!endpoints().contains(&endpoint))
            return;
        endpoint.state = 0;
        RefreshStatus(endpoint);
    } else if (endpoint.kind == Kinds::TcpServerClient) {
        if (auto *connection = qobject_cast<TcpConnection *>(endpoint.transport))
            connection->Close();
    }
}
