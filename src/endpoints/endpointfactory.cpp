// The set-ups of the endpoint controller: each kind's transport, data window
// and node.

#include "endpoints/endpointcontroller.h"
#include "endpoints/endpointsend.h"

#include "datawindow/datawindow.h"
#include "endpoints/endpointstatus.h"
#include "endpoints/filetransfer.h"
#include "endpoints/serialbridge.h"
#include "endpoints/tcpendpointevents.h"
#include "endpoints/udpendpointevents.h"
#include "net/localaddress.h"
#include "net/serial/serialport.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"
#include "ui/endpointtree.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QCheckBox>
#include <QTreeWidgetItem>

namespace {

// Automatic reply rules are kept per kind and port: a client's by the port
// it talks to, the others' by their own.
QString replyRulesKey(const Endpoint &endpoint)
{
    const bool client = endpoint.kind == EndpointKind::TcpClient || endpoint.kind == EndpointKind::UdpClient;
    return QStringLiteral("replyRules/%1/%2")
        .arg(kindLabel(endpoint.kind))
        .arg(client ? endpoint.peerPort : endpoint.localPort);
}

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

} // namespace

DataWindow *EndpointController::makeWindow(Endpoint &endpoint)
{
    auto *session = new EndpointSession(this);
    endpoint.session = session;
    auto *window = new DataWindow(&documents_, session);
    endpoint.window = window;
    windows_.insert(window, &endpoint);
    // A peer answers by its server's rules.
    if (endpoint.kind == EndpointKind::TcpAcceptedPeer)
        session->setAutoReplyAvailable(false);
    else
        session->setReplyRulesKey(replyRulesKey(endpoint));
    window->setLogFileNameBase(logFileNameBase(endpoint));
    Endpoint *record = &endpoint;
    session->setSendFunction([record](const QByteArray &data, const SendControl &control) {
        return sendThrough(*record, data, control);
    });
    session->setReplyFunction(
        [record](const QByteArray &data, const SendControl &control) {
            return replyThrough(*record, data, control);
        },
        [record](qsizetype size) { return replyHasRoom(*record, size); },
        [record] { return repliesIdle(*record); });
    // The window asks for its own endpoint, whichever node the tree has
    // selected; a window detached from its endpoint asks nothing.
    connect(window, &DataWindow::startRequested, this, [this, window] {
        if (Endpoint *own = endpointOfWindow(window))
            start(*own);
    });
    connect(window, &DataWindow::stopRequested, this, [this, window] {
        if (Endpoint *own = endpointOfWindow(window))
            stop(*own);
    });
    connect(window, &DataWindow::fileSendRequested, this,
        [this, window](const QString &path) { Guarded([&] { sendFile(window, path); }); });
    return window;
}

void EndpointController::sendFile(DataWindow *window, const QString &path)
{
    Endpoint *own = endpointOfWindow(window);
    EndpointSession *session = own ? own->session.data() : nullptr;
    if (!session || session->isTransferring())
        return;
    QString error;
    // The session owns the transfer: removing the endpoint ends it with the
    // session, and the transfer notices a lost endpoint on its own.
    FileTransfer *transfer = FileTransfer::start(*own, path, session, &error);
    if (!transfer) {
        session->logStatus(tr(" 文件发送失败：%1：%2").arg(path, error));
        return;
    }
    session->transferStarted(path, transfer->total());
    connect(transfer, &FileTransfer::progressed, session, &EndpointSession::transferProgressed);
    connect(window, &DataWindow::transferCancelRequested, transfer, &FileTransfer::cancel);
    connect(transfer, &FileTransfer::finished, session,
        [session, transfer](FileTransfer::Result result, const QString &reason) {
            using End = EndpointSession::TransferEnd;
            const auto end = result == FileTransfer::Result::Completed ? End::Completed
                : result == FileTransfer::Result::Cancelled            ? End::Cancelled
                                                                       : End::Failed;
            session->transferEnded(end, reason);
            transfer->deleteLater();
        });
}

Endpoint *EndpointController::createTcpServer(int port)
{
    auto record = makeEndpoint(EndpointKind::TcpServer);
    Endpoint *server = record.get();
    auto *socket = new TcpServer(this);
    socket->setPort(port);
    server->transport = socket;
    socket->listener()->setContext(server);
    server->localPort = port;
    server->localAddress = localIpAddress();
    server->createdText = currentDateTimeText();
    bindTcpServerEvents(*this, *server, *socket);

    // Under its kind node, whatever took the selection while the dialog was
    // open (a peer arriving selects its own node).
    QTreeWidgetItem *parent = kindNode(EndpointKind::TcpServer);
    auto *node = new QTreeWidgetItem(parent, {nodeText(server->localAddress, port)});
    parent->setExpanded(true);
    setEndpointAt(node, server);
    setNodeImage(node, NodeImage::Stopped);
    server->node = node;
    tree_.setCurrentItem(node);

    try {
        socket->open();
        server->state = 1;
        setNodeImage(node, NodeImage::Listening);
        server->localPort = boundPort(socket->listener()->socketHandle(), port);
        node->setText(0, nodeText(server->localAddress, server->localPort));
    } catch (const std::exception &) {
        ShowMessage(tr("该端口已被占用,监听未启动!"));
    }

    makeWindow(*server)->showWebReplySwitch();
    refreshStatus(*server);
    endpoints().add(std::move(record));
    return server;
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
    socket->connection()->setContext(record.get());
    bindTcpClientEvents(*this, *record, *socket);
    makeWindow(*record);
    return attach(std::move(record), nodeText(address, port), NodeImage::Disconnected);
}

Endpoint *EndpointController::createUdpClient(const QString &address, int remotePort, int localPort)
{
    auto record = makeEndpoint(EndpointKind::UdpClient);
    auto *udp = new UdpSocket(this);
    udp->setLocalPort(localPort);
    udp->setRemotePort(remotePort);
    udp->setRemoteHost(address);
    bindUdpClientEvents(*record, *udp);
    record->transport = udp;
    record->localPort = boundPort(udp->socketHandle(), udp->localPort());
    record->peerPort = remotePort;
    record->peerAddress = address;
    makeWindow(*record);
    return attach(std::move(record), nodeText(address, remotePort), NodeImage::Udp);
}

Endpoint *EndpointController::createUdpServer(int localPort)
{
    auto record = makeEndpoint(EndpointKind::UdpServer);
    auto *udp = new UdpSocket(this);
    udp->setLocalPort(localPort);
    udp->setRemoteHost(QString());
    bindUdpServerEvents(*record, *udp);
    record->transport = udp;
    record->localPort = boundPort(udp->socketHandle(), udp->localPort());
    DataWindow *window = makeWindow(*record);

    EndpointSession *session = window->session();
    record->serialBridge = std::make_unique<SerialBridge>(
        session, [session](const QByteArray &data) { (void)session->sendToPeer(data); });
    // A port that opens but refuses its settings is reported once; the
    // endpoint is completed all the same and works without the bridge.
    try {
        (void)record->serialBridge->open();
    } catch (const std::exception &e) {
        ShowException(e);
    }
    const int port = record->localPort;
    return attach(std::move(record), nodeText(localIpAddress(), port), NodeImage::Udp);
}

Endpoint *EndpointController::createUdpGroup(const QString &groupAddress, int groupPort)
{
    auto record = makeEndpoint(EndpointKind::UdpGroup);
    Endpoint &endpoint = *record;
    DataWindow *window = makeWindow(endpoint);

    endpoint.group = std::make_unique<MulticastMember>();
    MulticastMember &group = *endpoint.group;
    // Each failed step is told, and the set-up goes on: the endpoint is made
    // all the same.
    const MulticastMember::JoinReport joined = group.join(groupAddress, groupPort);
    if (joined.socketFailed)
        ShowMessage(QString::number(joined.socketError) + tr("  Socket创建失败"));
    if (joined.bindFailed)
        ShowMessage(QStringLiteral("bind fail"));
    if (joined.membershipFailed)
        ShowMessage(tr("无法进行UDP组播"));
    // The watch belongs to the session, and closing the socket ends it first.
    group.setReadableHandler(window->session(), [record = &endpoint] { onGroupDatagram(*record); });
    endpoint.localAddress = groupAddress;
    endpoint.localPort = group.port();
    window->session()->setReplyRulesKey(replyRulesKey(endpoint));
    window->setLogFileNameBase(logFileNameBase(endpoint));
    const int port = endpoint.localPort;
    return attach(std::move(record), nodeText(groupAddress, port), NodeImage::Group);
}
