#include "endpoints/workspacesetup.h"

#include "endpoints/endpointcontroller.h"
#include "endpoints/serialendpoint.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/udpsocket.h"
#include "session/endpointsession.h"

#include <QHash>

#include <algorithm>

#include <exception>

namespace {

// The local port as the user gave it, which the transport keeps: 0 ("the
// system picks") stays 0, and the port the system picked this time is not
// written, so that the file opens again as it was asked for. The bound port
// where the transport is gone.
int askedTcpPort(const Endpoint &endpoint)
{
    const TcpServer *server = endpoint.tcpServer();
    return server ? server->port() : endpoint.localPort;
}

int askedUdpPort(const Endpoint &endpoint)
{
    const UdpSocket *socket = endpoint.udp();
    return socket ? socket->localPort() : endpoint.localPort;
}

} // namespace

Workspace workspaceOf(EndpointController &controller)
{
    Workspace workspace;
    QHash<const Endpoint *, int> places;
    for (Endpoint *endpoint : controller.endpoints()) {
        if (endpoint->kind == EndpointKind::TcpAcceptedPeer)
            continue;
        WorkspaceEndpoint kept;
        kept.kind = endpoint->kind;
        switch (endpoint->kind) {
        case EndpointKind::TcpServer:
            kept.port = askedTcpPort(*endpoint);
            kept.webReply = endpoint->webReplyOn;
            break;
        case EndpointKind::TcpClient:
            kept.address = endpoint->peerAddress;
            kept.port = endpoint->peerPort;
            break;
        case EndpointKind::UdpServer:
            kept.port = askedUdpPort(*endpoint);
            kept.serialDevice = endpoint->serialDevice;
            break;
        case EndpointKind::UdpClient:
            kept.address = endpoint->peerAddress;
            kept.port = endpoint->peerPort;
            kept.localPort = askedUdpPort(*endpoint);
            break;
        case EndpointKind::UdpGroup:
            kept.address = endpoint->localAddress;
            kept.port = endpoint->localPort;
            break;
        case EndpointKind::SerialPort:
            if (const SerialEndpoint *serial = endpoint->serialPort())
                kept.serial = serial->setup();
            break;
        case EndpointKind::TcpAcceptedPeer:
            break;
        }
        if (EndpointSession *session = endpoint->session) {
            kept.setup = session->setup();
            kept.rules = session->replyRules();
        }
        places.insert(endpoint, int(workspace.endpoints.size()));
        workspace.endpoints.push_back(std::move(kept));
    }
    for (auto at = places.cbegin(); at != places.cend(); ++at) {
        const Endpoint *partner = at.key()->partner;
        // Each pipe once, from the end that comes first.
        if (partner && places.contains(partner) && at.value() < places.value(partner))
            workspace.links.emplace_back(at.value(), places.value(partner));
    }
    std::sort(workspace.links.begin(), workspace.links.end());
    return workspace;
}

namespace {

Endpoint *make(EndpointController &controller, const WorkspaceEndpoint &kept)
{
    switch (kept.kind) {
    case EndpointKind::TcpServer:
        return controller.createTcpServer(kept.port);
    case EndpointKind::TcpClient: {
        Endpoint *client = controller.createTcpClient(kept.address, kept.port);
        controller.start(*client);
        return client;
    }
    case EndpointKind::UdpServer:
        return controller.createUdpServer(kept.port, kept.serialDevice);
    case EndpointKind::UdpClient:
        return controller.createUdpClient(kept.address, kept.port, kept.localPort);
    case EndpointKind::UdpGroup:
        return controller.createUdpGroup(kept.address, kept.port);
    case EndpointKind::SerialPort:
        return controller.createSerialPort(kept.serial);
    case EndpointKind::TcpAcceptedPeer:
        break;
    }
    return nullptr;
}

} // namespace

std::vector<OpenedEndpoint> openWorkspace(EndpointController &controller, const Workspace &workspace)
{
    std::vector<OpenedEndpoint> opened;
    opened.reserve(workspace.endpoints.size());
    for (const WorkspaceEndpoint &kept : workspace.endpoints) {
        OpenedEndpoint made;
        // What the controller tells the user while it makes this endpoint
        // belongs to this endpoint; the user is told all the same.
        const QMetaObject::Connection told
            = QObject::connect(&controller, &EndpointController::messageForUser, &controller,
                [&made](const QString &text) { made.problems << text; });
        const QMetaObject::Connection failed = QObject::connect(&controller,
            &EndpointController::failureForUser, &controller, [&made](const std::exception_ptr &failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception &e) {
                    made.problems << QString::fromLocal8Bit(e.what());
                }
            });
        try {
            made.endpoint = make(controller, kept);
        } catch (const std::exception &) {
            // A transport that could not even be made: the dialog would have
            // refused the values; the others still come up.
            emit controller.failureForUser(std::current_exception());
        }
        QObject::disconnect(told);
        QObject::disconnect(failed);
        if (Endpoint *endpoint = made.endpoint; endpoint && controller.endpoints().contains(endpoint)) {
            if (EndpointSession *session = endpoint->session) {
                if (!kept.rules.empty())
                    session->useReplyRules(kept.rules, kept.prepared.compiled);
                session->setSetup(kept.setup);
            }
            if (kept.kind == EndpointKind::TcpServer)
                controller.setWebReplyOn(*endpoint, kept.webReply);
        } else {
            made.endpoint = nullptr;
        }
        opened.push_back(std::move(made));
    }
    for (const auto &[first, second] : workspace.links) {
        Endpoint *a = opened.at(size_t(first)).endpoint;
        Endpoint *b = opened.at(size_t(second)).endpoint;
        if (a && b && controller.canLink(b, a))
            linkEndpoints(*a, *b);
    }
    return opened;
}
