// The endpoint controller: the list it owns, and the removal and stopping of
// endpoints that every path shares.

#include "endpoints/endpointcontroller.h"

#include "datawindow/datawindow.h"
#include "endpoints/endpointstatus.h"
#include "endpoints/tcpendpointevents.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"
#include "ui/endpointtree.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QTreeWidgetItem>

void unbindTransport(Endpoint &endpoint)
{
    // An accepted connection's handlers belong to its server.
    if (auto *server = endpoint.tcpServer()) {
        server->setPeerConnectedHandler(nullptr);
        server->setPeerDisconnectedHandler(nullptr);
        server->setPeerReadableHandler(nullptr);
        server->setPeerWritableHandler(nullptr);
        server->setPeerErrorHandler(nullptr);
        server->listener()->setErrorHandler(nullptr);
    } else if (auto *client = endpoint.tcpClient()) {
        client->setConnectedHandler(nullptr);
        client->setReadableHandler(nullptr);
        client->setWritableHandler(nullptr);
        client->setDisconnectedHandler(nullptr);
        client->setErrorHandler(nullptr);
    } else if (auto *udp = endpoint.udp()) {
        udp->setDatagramHandler(nullptr);
    }
}

QObject *releaseTransport(Endpoint &endpoint)
{
    if (endpoint.group)
        endpoint.group->close();
    QObject *transport = endpoint.transport;
    // Accepted connections belong to their server.
    if (endpoint.kind == EndpointKind::TcpAcceptedPeer || !transport)
        return nullptr;
    unbindTransport(endpoint);
    if (auto *server = endpoint.tcpServer())
        server->listener()->close();
    else if (auto *client = endpoint.tcpClient())
        client->connection()->close();
    else if (auto *udp = endpoint.udp())
        dgram::closesocket(udp->socketHandle());
    endpoint.transport = nullptr;
    return transport;
}

EndpointController::EndpointController(EndpointTree &tree, DocumentArea &documents, QObject *parent)
    : QObject(parent)
    , tree_(tree)
    , documents_(documents)
{
}

EndpointController::~EndpointController()
{
    // Transports go before the records; none may report into a record that
    // is already gone.
    for (Endpoint *endpoint : list_)
        delete releaseTransport(*endpoint);
}

QTreeWidgetItem *EndpointController::kindNode(EndpointKind kind) const
{
    const QString label = kindLabel(kind);
    for (int i = 0; i < tree_.topLevelItemCount(); ++i)
        if (tree_.topLevelItem(i)->text(0) == label)
            return tree_.topLevelItem(i);
    return nullptr;
}

Endpoint *EndpointController::attach(std::unique_ptr<Endpoint> record, const QString &text, NodeImage image)
{
    // Under the kind node, not under whatever is selected now: a peer that
    // arrived while the creation dialog was open has taken the selection.
    QTreeWidgetItem *parent = kindNode(record->kind);
    auto *node = new QTreeWidgetItem(parent, {text});
    parent->setExpanded(true);
    Endpoint *endpoint = record.get();
    setEndpointAt(node, endpoint);
    setNodeImage(node, image);
    endpoint->node = node;
    tree_.setCurrentItem(node);
    refreshStatus(*endpoint);
    list_.add(std::move(record));
    return endpoint;
}

void EndpointController::endAllSending()
{
    // A session's stop reaches whoever listens to it: walk a copy, so that a
    // listener removing an endpoint cannot pull the list from under the walk.
    std::vector<QPointer<EndpointSession>> sessions;
    for (Endpoint *endpoint : list_)
        if (endpoint->session)
            sessions.emplace_back(endpoint->session);
    for (const QPointer<EndpointSession> &session : sessions)
        if (session)
            session->endSending();
}

void EndpointController::stopAllServers()
{
    // A monitoring pipe may stop or remove other endpoints on the way.
    std::vector<Endpoint *> servers;
    for (Endpoint *endpoint : list_)
        if (endpoint->kind == EndpointKind::TcpServer)
            servers.push_back(endpoint);
    for (Endpoint *server : servers)
        if (list_.contains(server))
            stopServer(*this, *server);
}

void EndpointController::remove(Endpoint *endpoint)
{
    if (!list_.contains(endpoint))
        return;
    // Peers of a server go first, through their own disconnection, so none
    // outlives the connection it stands for.
    if (endpoint->kind == EndpointKind::TcpServer)
        stopServer(*this, *endpoint);
    // Freed once control is back in the event loop: one of its handlers may
    // be what asked for the removal.
    if (QObject *transport = releaseTransport(*endpoint))
        transport->deleteLater();
    EndpointSession *session = endpoint->session;
    if (session)
        session->detach();
    if (DataWindow *window = endpoint->window) {
        windows_.remove(window);
        window->destroyLater();
    }
    // Its own loops may be on the stack: they notice the detach and end.
    if (session) {
        session->endSending();
        session->deleteLater();
    }
    QTreeWidgetItem *node = endpoint->node;
    endpoint->node = nullptr;
    list_.remove(endpoint);
    delete node; // selects another node, whose handler may run now
}

void EndpointController::stop(Endpoint &endpoint)
{
    if (endpoint.kind == EndpointKind::TcpServer) {
        stopServer(*this, endpoint);
    } else if (endpoint.kind == EndpointKind::TcpClient) {
        if (auto *client = endpoint.tcpClient())
            client->close();
        if (!list_.contains(&endpoint))
            return;
        endpoint.state = 0;
        refreshStatus(endpoint);
    } else if (endpoint.kind == EndpointKind::TcpAcceptedPeer) {
        if (auto *connection = endpoint.peerConnection())
            connection->close();
    }
}

Endpoint *EndpointController::endpointOfWindow(const QWidget *window) const
{
    return windows_.value(window, nullptr);
}

void EndpointController::start(Endpoint &endpoint)
{
    if (endpoint.kind == EndpointKind::TcpServer) {
        if (auto *server = endpoint.tcpServer()) {
            try {
                server->open();
                setNodeImage(endpoint.node, NodeImage::Listening);
                endpoint.state = 1;
                // Port 0 (or a box that wrapped to it) listens anew on
                // whatever port the system picks this time.
                if (const int bound = server->listener()->localPort(); bound > 0) {
                    endpoint.localPort = bound;
                    endpoint.node->setText(0, nodeText(endpoint.localAddress, bound));
                }
            } catch (const std::exception &) {
                ShowMessage(tr("Socket端口已经被占用!"));
            }
        }
        refreshStatus(endpoint);
    }
    if (endpoint.kind == EndpointKind::TcpClient) {
        try {
            auto *client = endpoint.tcpClient();
            if (!client)
                return;
            client->open();
            endpoint.localPort = client->connection()->localPort();
            refreshStatus(endpoint);
        } catch (const std::exception &) {
            ShowMessage(tr("连接失败!"));
        }
    }
}
