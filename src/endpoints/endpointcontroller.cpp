// The endpoint controller: the list it owns, and the removal and stopping of
// endpoints that every path shares.

#include "endpoints/endpointcontroller.h"

#include "core/bytebudget.h"
#include "endpoints/serialendpoint.h"
#include "endpoints/tcpendpointevents.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"
#include "session/endpointsession.h"

#include <vector>

namespace {

// The TCP connection an endpoint's record is found by, while it exists.
TcpConnection *connectionOf(const Endpoint &endpoint)
{
    if (TcpConnection *peer = endpoint.peerConnection())
        return peer;
    if (TcpClient *client = endpoint.tcpClient())
        return client->connection();
    return nullptr;
}

} // namespace

void EndpointController::unbindTransport(Endpoint &endpoint)
{
    // An accepted connection's signals are its server's.
    if (auto *server = endpoint.tcpServer()) {
        QObject::disconnect(server->listener(), nullptr, this, nullptr);
        QObject::disconnect(server, nullptr, this, nullptr);
    } else if (auto *client = endpoint.tcpClient()) {
        QObject::disconnect(client, nullptr, this, nullptr);
    } else if (auto *udp = endpoint.udp()) {
        QObject::disconnect(udp, nullptr, this, nullptr);
    }
}

QObject *EndpointController::releaseTransport(Endpoint &endpoint)
{
    if (endpoint.group)
        endpoint.group->close();
    QObject *transport = endpoint.transport;
    // Accepted connections belong to their server.
    if (endpoint.kind == EndpointKind::TcpAcceptedPeer || !transport)
        return nullptr;
    unbindTransport(endpoint);
    if (auto *serial = endpoint.serialPort())
        serial->shutDown();
    else if (auto *server = endpoint.tcpServer())
        server->listener()->close();
    else if (auto *client = endpoint.tcpClient())
        client->connection()->close();
    else if (auto *udp = endpoint.udp())
        dgram::closesocket(udp->socketHandle());
    endpoint.transport = nullptr;
    return transport;
}

void EndpointController::setEndpointOf(TcpConnection *connection, Endpoint *endpoint)
{
    if (!connection)
        return;
    // One removed meanwhile (from a handler of its announcement) is not
    // recorded: nothing would take its entry away.
    if (!endpoint || !list_.contains(endpoint)) {
        byConnection_.remove(connection);
        return;
    }
    const bool known = byConnection_.contains(connection);
    byConnection_.insert(connection, endpoint);
    // A connection freed under a listed record (a server closed without its
    // peers' events) takes its entry along, so that no connection made later
    // at the same address finds that record.
    if (!known)
        connect(
            connection, &QObject::destroyed, this, [this, connection] { byConnection_.remove(connection); });
}

EndpointController::EndpointController(QObject *parent)
    : QObject(parent)
    , outputBudget_(std::make_shared<ByteBudget>(budgetFromEnvironment("PORTWRIGHT_OUTPUT_BUDGET_MB")))
{
}

EndpointController::~EndpointController()
{
    // Transports go before the records; none may report into a record that
    // is already gone.
    for (Endpoint *endpoint : list_)
        delete releaseTransport(*endpoint);
}

Endpoint *EndpointController::attach(std::unique_ptr<Endpoint> record, Endpoint *server)
{
    Endpoint *endpoint = record.get();
    list_.add(std::move(record));
    emit endpointAdded(endpoint, server);
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
    // Nothing finds the record from its connection any more, though the
    // connection may outlive it (freed later, or its server's).
    if (const TcpConnection *connection = connectionOf(*endpoint);
        connection && endpointOf(connection) == endpoint)
        byConnection_.remove(connection);
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
    // The views let go of it now; one may select another endpoint, whose
    // handlers may run now.
    emit endpointAboutToBeRemoved(endpoint);
    // Its own loops may be on the stack: they notice the detach and end.
    if (session) {
        session->endSending();
        session->deleteLater();
    }
    list_.remove(endpoint);
}

bool EndpointController::deleteByUser(Endpoint *endpoint)
{
    if (!list_.contains(endpoint))
        return false;
    if (endpoint->kind == EndpointKind::TcpAcceptedPeer) {
        // Its disconnection removes the endpoint.
        if (auto *connection = endpoint->peerConnection())
            connection->close();
        return false;
    }
    if (endpoint->kind == EndpointKind::TcpClient) {
        // A connected client's disconnection runs first, as it would on its own.
        if (auto *client = endpoint->tcpClient())
            client->connection()->close();
        if (!list_.contains(endpoint))
            return false;
    }
    remove(endpoint);
    return true;
}

bool EndpointController::canLink(const Endpoint *dragged, const Endpoint *target) const
{
    if (!dragged || !target || !list_.contains(dragged) || !list_.contains(target))
        return false;
    return dragged->nodeText != target->nodeText && dragged->kind != target->kind;
}

void EndpointController::setWebReplyOn(Endpoint &server, bool on)
{
    if (server.webReplyOn == on)
        return;
    server.webReplyOn = on;
    changed(server);
}

void EndpointController::link(Endpoint &dragged, Endpoint &target)
{
    linkEndpoints(target, dragged);
    emit messageForUser(tr("监听管道已经建立!"));
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
        endpoint.state = EndpointState::Disconnected;
        changed(endpoint);
    } else if (endpoint.kind == EndpointKind::TcpAcceptedPeer) {
        if (auto *connection = endpoint.peerConnection())
            connection->close();
    } else if (auto *serial = endpoint.serialPort()) {
        serial->close();
    }
}

void EndpointController::start(Endpoint &endpoint)
{
    if (auto *serial = endpoint.serialPort()) {
        (void)serial->open();
        return;
    }
    if (endpoint.kind == EndpointKind::TcpServer) {
        if (auto *server = endpoint.tcpServer()) {
            try {
                server->open();
                endpoint.state = EndpointState::Listening;
                // Port 0 (or a box that wrapped to it) listens anew on
                // whatever port the system picks this time.
                if (const int bound = server->listener()->localPort(); bound > 0) {
                    endpoint.localPort = bound;
                    endpoint.nodeText = nodeText(endpoint.localAddress, bound);
                }
            } catch (const std::exception &) {
                emit messageForUser(tr("Socket端口已经被占用!"));
            }
        }
        changed(endpoint);
    }
    if (endpoint.kind == EndpointKind::TcpClient) {
        try {
            auto *client = endpoint.tcpClient();
            if (!client)
                return;
            client->open();
            endpoint.localPort = client->connection()->localPort();
            changed(endpoint);
        } catch (const std::exception &) {
            emit messageForUser(tr("连接失败!"));
        }
    }
}
