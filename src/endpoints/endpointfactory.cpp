// The set-ups of the endpoint controller: each kind's transport and session.

#include "endpoints/endpointcontroller.h"
#include "endpoints/endpointsend.h"

#include "core/bytebudget.h"
#include "endpoints/filetransfer.h"
#include "endpoints/serialbridge.h"
#include "endpoints/serialendpoint.h"
#include "endpoints/tcpendpointevents.h"
#include "endpoints/udpendpointevents.h"
#include "net/localaddress.h"
#include "net/serial/serialport.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"
#include "session/endpointsession.h"

namespace {

// Automatic reply rules are kept per kind and port: a client's by the port
// it talks to, the others' by their own.
QString replyRulesKey(const Endpoint &endpoint)
{
    // A device path's slashes would make settings groups of its folders.
    if (endpoint.kind == EndpointKind::SerialPort)
        return QStringLiteral("replyRules/%1/%2")
            .arg(kindLabel(endpoint.kind),
                QString(endpoint.nodeText).replace(QLatin1Char('/'), QLatin1Char('_')));
    const bool client = endpoint.kind == EndpointKind::TcpClient || endpoint.kind == EndpointKind::UdpClient;
    return QStringLiteral("replyRules/%1/%2")
        .arg(kindLabel(endpoint.kind))
        .arg(client ? endpoint.peerPort : endpoint.localPort);
}

} // namespace

// A saved log is offered as "<kind>_<port>_<date>-<time>.log"; a peer's
// also names its address and port.
QString logFileNameBase(const Endpoint &endpoint)
{
    if (endpoint.kind == EndpointKind::TcpAcceptedPeer) {
        TcpConnection *connection = endpoint.peerConnection();
        return connection
            ? QStringLiteral("TCP_Peer_%1_%2").arg(connection->peerAddress()).arg(connection->peerPort())
            : QStringLiteral("TCP_Peer");
    }
    return replyRulesKey(endpoint).section(QLatin1Char('/'), 1).replace(QLatin1Char('/'), QLatin1Char('_'));
}

EndpointSession *EndpointController::makeSession(Endpoint &endpoint)
{
    auto *session = new EndpointSession(this);
    endpoint.session = session;
    // A peer answers by its server's rules.
    if (endpoint.kind == EndpointKind::TcpAcceptedPeer)
        session->setAutoReplyAvailable(false);
    else
        session->setReplyRulesKey(replyRulesKey(endpoint));
    Endpoint *record = &endpoint;
    const std::shared_ptr<ByteBudget> budget = outputBudget_;
    session->setSendFunction([record, budget](const QByteArray &data, const SendControl &control) {
        return sendThrough(*record, data, control, budget);
    });
    session->setReplyFunction(
        [record, budget](const QByteArray &data, const SendControl &control) {
            return replyThrough(*record, data, control, budget);
        },
        [record, budget](qsizetype size) { return replyHasRoom(*record, size, budget.get()); },
        [record] { return repliesIdle(*record); });
    return session;
}

FileTransfer *EndpointController::sendFile(Endpoint &endpoint, const QString &path)
{
    EndpointSession *session = list_.contains(&endpoint) ? endpoint.session.data() : nullptr;
    if (!session || session->isTransferring())
        return nullptr;
    QString error;
    // The session owns the transfer: removing the endpoint ends it with the
    // session, and the transfer notices a lost endpoint on its own.
    FileTransfer *transfer = FileTransfer::start(endpoint, path, session, &error);
    if (!transfer) {
        session->logStatus(tr(" 文件发送失败：%1：%2").arg(path, error));
        return nullptr;
    }
    session->transferStarted(path, transfer->total());
    connect(transfer, &FileTransfer::progressed, session, &EndpointSession::transferProgressed);
    connect(transfer, &FileTransfer::finished, session,
        [session, transfer](FileTransfer::Result result, const QString &reason) {
            using End = EndpointSession::TransferEnd;
            const auto end = result == FileTransfer::Result::Completed ? End::Completed
                : result == FileTransfer::Result::Cancelled            ? End::Cancelled
                                                                       : End::Failed;
            session->transferEnded(end, reason);
            transfer->deleteLater();
        });
    return transfer;
}

Endpoint *EndpointController::createTcpServer(int port)
{
    auto record = makeEndpoint(EndpointKind::TcpServer);
    Endpoint *server = record.get();
    auto *socket = new TcpServer(this);
    socket->setPort(port);
    server->transport = socket;
    server->localPort = port;
    server->localAddress = localIpAddress();
    server->createdText = currentDateTimeText();
    server->nodeText = nodeText(server->localAddress, port);
    bindTcpServerEvents(*this, *server, *socket);

    try {
        socket->open();
        server->state = EndpointState::Listening;
        server->localPort = boundPort(socket->listener()->socketHandle(), port);
        server->nodeText = nodeText(server->localAddress, server->localPort);
    } catch (const std::exception &) {
        emit messageForUser(tr("该端口已被占用,监听未启动!"));
    }

    makeSession(*server);
    return attach(std::move(record));
}

Endpoint *EndpointController::createTcpClient(const QString &address, int port)
{
    auto record = makeEndpoint(EndpointKind::TcpClient);
    auto *socket = new TcpClient(this);
    socket->setPort(port);
    socket->setHost(address);
    record->transport = socket;
    record->peerPort = port;
    record->peerAddress = address;
    record->state = EndpointState::Disconnected;
    record->nodeText = nodeText(address, port);
    bindTcpClientEvents(*this, *record, *socket);
    makeSession(*record);
    Endpoint *client = attach(std::move(record));
    setEndpointOf(socket->connection(), client);
    return client;
}

Endpoint *EndpointController::createUdpClient(const QString &address, int remotePort, int localPort)
{
    auto record = makeEndpoint(EndpointKind::UdpClient);
    auto *udp = new UdpSocket(this);
    udp->setLocalPort(localPort);
    udp->setRemotePort(remotePort);
    udp->setRemoteHost(address);
    bindUdpClientEvents(*this, *record, *udp);
    record->transport = udp;
    record->state = EndpointState::Open;
    record->localPort = boundPort(udp->socketHandle(), udp->localPort());
    record->peerPort = remotePort;
    record->peerAddress = address;
    record->nodeText = nodeText(address, remotePort);
    makeSession(*record);
    return attach(std::move(record));
}

Endpoint *EndpointController::createUdpServer(int localPort, const QString &serialDevice)
{
    auto record = makeEndpoint(EndpointKind::UdpServer);
    auto *udp = new UdpSocket(this);
    udp->setLocalPort(localPort);
    udp->setRemoteHost(QString());
    bindUdpServerEvents(*this, *record, *udp);
    record->transport = udp;
    record->state = EndpointState::Open;
    record->localPort = boundPort(udp->socketHandle(), udp->localPort());
    record->nodeText = nodeText(localIpAddress(), record->localPort);
    EndpointSession *session = makeSession(*record);

    record->serialDevice = serialDevice;
    record->serialBridge = std::make_unique<SerialBridge>(
        session, [session](const QByteArray &data) { (void)session->sendToPeer(data); }, serialDevice);
    // A port that opens but refuses its settings is reported once; the
    // endpoint is completed all the same and works without the bridge.
    try {
        (void)record->serialBridge->open();
    } catch (const std::exception &) {
        emit failureForUser(std::current_exception());
    }
    return attach(std::move(record));
}

Endpoint *EndpointController::createUdpGroup(const QString &groupAddress, int groupPort)
{
    auto record = makeEndpoint(EndpointKind::UdpGroup);
    Endpoint &endpoint = *record;
    endpoint.state = EndpointState::Open;
    EndpointSession *session = makeSession(endpoint);

    endpoint.group = std::make_unique<MulticastMember>();
    MulticastMember &group = *endpoint.group;
    // Each failed step is told, and the set-up goes on: the endpoint is made
    // all the same.
    const MulticastMember::JoinReport joined = group.join(groupAddress, groupPort);
    if (joined.socketFailed)
        emit messageForUser(QString::number(joined.socketError) + tr("  Socket创建失败"));
    if (joined.bindFailed)
        emit messageForUser(QStringLiteral("bind fail"));
    if (joined.membershipFailed)
        emit messageForUser(tr("无法进行UDP组播"));
    // The membership goes with the record, and closing its socket ends the
    // signal first.
    connect(&group, &MulticastMember::readable, session, [record = &endpoint] { onGroupDatagram(*record); });
    endpoint.localAddress = groupAddress;
    endpoint.localPort = group.port();
    endpoint.nodeText = nodeText(groupAddress, endpoint.localPort);
    session->setReplyRulesKey(replyRulesKey(endpoint));
    return attach(std::move(record));
}

Endpoint *EndpointController::createSerialPort(const SerialSetup &setup)
{
    auto record = makeEndpoint(EndpointKind::SerialPort);
    Endpoint &endpoint = *record;
    endpoint.state = EndpointState::Disconnected;
    endpoint.nodeText = setup.device;
    endpoint.createdText = currentDateTimeText();
    makeSession(endpoint);
    auto *serial = new SerialEndpoint(*this, endpoint, setup);
    endpoint.transport = serial;
    Endpoint *made = attach(std::move(record));
    // Opened once its views exist, so that what the open reports (the lines,
    // a failure) reaches them.
    (void)serial->open();
    return made;
}
