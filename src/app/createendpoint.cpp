// The create command of the main window: shows the selected kind's dialog and
// sets up the new endpoint with its transport, data window and node.

#include "app/Unit1.h"
#include "app/dialogs/newclientsock.h"
#include "app/dialogs/newgroupsock.h"
#include "app/dialogs/newserversock.h"
#include "app/dialogs/newudpserver.h"
#include "app/dialogs/newudpsock.h"
#include "app/endpointtree.h"
#include "app/netcardinfo.h"
#include "app/refreshstatus.h"
#include "app/tcpevents.h"
#include "app/udpevents.h"
#include "datapanel/datapanel.h"
#include "net/serial/serialport.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/udpsocket.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QCheckBox>
#include <QTreeWidgetItem>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

// The port the system bound the handle to; `typed` when it is not bound. A
// port box takes any whole number and the socket layer keeps its low 16
// bits, so 65536 listens on a port the system picks and -1 on 65535.
int boundPort(int handle, int typed)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (handle < 0 || ::getsockname(handle, reinterpret_cast<sockaddr *>(&local), &size) != 0
        || local.sin_port == 0)
        return typed;
    return ntohs(local.sin_port);
}

} // namespace

void TForm1::createDialogs()
{
    if (!newTcpServerDialog)
        newTcpServerDialog = new TfrmNewServerSock(this);
    if (!newTcpClientDialog)
        newTcpClientDialog = new TfrmNewClientSock(this);
    if (!newUdpClientDialog)
        newUdpClientDialog = new TfrmNewUdpSock(this);
    if (!newUdpGroupDialog)
        newUdpGroupDialog = new TfrmNewGroupSock(this);
    if (!newUdpServerDialog)
        newUdpServerDialog = new TfrmNewUDPServer(this);
}

TFrmData *TForm1::makeWindow(TMySocket &endpoint)
{
    auto *window = new TFrmData(documents);
    endpoint.DataForm = window;
    window->attachedEndpoint = &endpoint;
    return window;
}

void TForm1::createForSelectedKind()
{
    if (!tree->currentItem())
        return;
    if (QTreeWidgetItem *parent = tree->currentItem()->parent())
        tree->setCurrentItem(parent);
    // Each comparison reads the selection afresh: after a set-up the new
    // endpoint's node is selected, so one click creates one endpoint at most.
    const auto selected
        = [this](const QString &kind) { return tree->currentItem() && tree->currentItem()->text(0) == kind; };
    createDialogs();
    if (selected(Kinds::TcpServer) && RunModal(*newTcpServerDialog) == TCreationDialog::Created)
        createTcpServer(newTcpServerDialog->port);
    if (selected(Kinds::TcpClient) && RunModal(*newTcpClientDialog) == TCreationDialog::Created)
        createTcpClient(newTcpClientDialog->address, newTcpClientDialog->port);
    if (selected(Kinds::UdpClient) && RunModal(*newUdpClientDialog) == TCreationDialog::Created)
        createUdpClient(
            newUdpClientDialog->address, newUdpClientDialog->remotePort, newUdpClientDialog->localPort);
    if (selected(Kinds::UdpServer) && RunModal(*newUdpServerDialog) == TCreationDialog::Created)
        createUdpServer(newUdpServerDialog->localPort);
    if (selected(Kinds::UdpGroup) && RunModal(*newUdpGroupDialog) == TCreationDialog::Created)
        createUdpGroup(newUdpGroupDialog->groupAddress, newUdpGroupDialog->groupPort);
    if (endpoints().Count() > 0)
        showInfoPanel(false);
}

TMySocket *TForm1::createTcpServer(int port)
{
    auto record = MakeRecord(Kinds::TcpServer);
    TMySocket *server = record.get();
    auto *socket = new TcpServer(this);
    socket->SetPort(port);
    server->Transport = socket;
    socket->Connection()->SetUserData(server);
    server->LocalPort = port;
    server->LocalIP = LocalIPAddress();
    server->CreateTime = CurrentDateTimeText();
    AttachServerHandlers(*server, *socket);

    // Under its kind node, whatever took the selection while the dialog was
    // open (a peer arriving selects its own node).
    QTreeWidgetItem *parent = kindNode(Kinds::TcpServer);
    auto *node = new QTreeWidgetItem(parent, {NodeText(server->LocalIP, port)});
    parent->setExpanded(true);
    SetEndpointOf(node, server);
    SetStateIndex(node, ImgStopped);
    server->Node = node;
    tree->setCurrentItem(node);

    try {
        socket->Open();
        server->State = 1;
        SetStateIndex(node, ImgListening);
        server->LocalPort = boundPort(socket->Connection()->SocketHandle(), port);
        node->setText(0, NodeText(server->LocalIP, server->LocalPort));
    } catch (const std::exception &) {
        ShowMessage(QStringLiteral("该端口已被占用,监听未启动!"));
    }

    makeWindow(*server)->webReplySwitch->setVisible(true);
    RefreshStatus(*server);
    endpoints().Add(std::move(record));
    return server;
}

TMySocket *TForm1::createTcpClient(const QString &address, int port)
{
    auto record = MakeRecord(Kinds::TcpClient);
    auto *socket = new TcpClient(this);
    socket->SetPort(port);
    socket->SetHost(address);
    record->Transport = socket;
    record->RemotePort = port;
    record->RemoteIP = address;
    socket->Connection()->SetUserData(record.get());
    AttachClientHandlers(*record, *socket);
    makeWindow(*record);
    return attach(std::move(record), NodeText(address, port), ImgDisconnected);
}

TMySocket *TForm1::createUdpClient(const QString &address, int remotePort, int localPort)
{
    auto record = MakeRecord(Kinds::UdpClient);
    auto *udp = new UdpSocket(this);
    record->UdpClient = udp;
    udp->SetLocalPort(localPort);
    udp->SetRemotePort(remotePort);
    udp->SetRemoteHost(address);
    AttachUdpClientHandler(*record, *udp);
    record->Transport = udp;
    record->LocalPort = boundPort(udp->SocketHandle(), udp->LocalPort());
    record->RemotePort = remotePort;
    record->RemoteIP = address;
    makeWindow(*record);
    return attach(std::move(record), NodeText(address, remotePort), ImgUdp);
}

TMySocket *TForm1::createUdpServer(int localPort)
{
    auto record = MakeRecord(Kinds::UdpServer);
    auto *udp = new UdpSocket(this);
    record->UdpServer = udp;
    udp->SetLocalPort(localPort);
    udp->SetRemoteHost(QString());
    AttachUdpServerHandler(*record, *udp);
    record->Transport = udp;
    record->LocalPort = boundPort(udp->SocketHandle(), udp->LocalPort());
    TFrmData *window = makeWindow(*record);

    SerialPort &serial = *window->serialPort;
    serial.SetBaudRate(brCustom);
    serial.SetBaudValue(28800);
    serial.SetDeviceName(QStringLiteral("com1"));
    serial.SetFlowControl(fcCustom);
    serial.SetDTRSettings(TDTRSettings(fsDTREnabled));
    serial.SetRTSSettings(TRTSSettings(fsRTSEnabled));
    serial.Timeouts().SetWriteConstant(500);
    serial.Timeouts().SetWriteMultiplier(20);
    serial.Timeouts().SetReadInterval(100);
    serial.Timeouts().SetReadConstant(20);
    serial.Timeouts().SetReadMultiplier(20);
    // A port that opens but refuses its settings is reported once; the
    // endpoint is completed all the same and works without the bridge.
    try {
        (void)serial.Open();
    } catch (const std::exception &e) {
        ShowException(e);
    }
    const int port = record->LocalPort;
    return attach(std::move(record), NodeText(LocalIPAddress(), port), ImgUdp);
}

TMySocket *TForm1::createUdpGroup(const QString &groupIP, int groupPort)
{
    using namespace winsock;
    auto record = MakeRecord(Kinds::UdpGroup);
    TMySocket &group = *record;
    TFrmData *window = makeWindow(group);

    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0)
        ShowMessage(QStringLiteral("StartUp Error!"));
    group.GroupSocket = winsock::socket(AF_INET, SOCK_DGRAM, 0);
    if (group.GroupSocket == INVALID_SOCKET) {
        ShowMessage(QString::number(WSAGetLastError()) + QStringLiteral("  Socket创建失败"));
        winsock::closesocket(group.GroupSocket);
    }
    group.BindAddr.sin_family = AF_INET;
    group.BindAddr.sin_addr.s_addr = 0;
    group.GroupPort = groupPort;
    group.BindAddr.sin_port = htons(quint16(groupPort));
    if (winsock::bind(
            group.GroupSocket, reinterpret_cast<const sockaddr *>(&group.BindAddr), sizeof group.BindAddr)
        == SOCKET_ERROR)
        ShowMessage(QStringLiteral("bind fail"));
    group.GroupIP = groupIP;
    group.Membership.imr_multiaddr.s_addr = inet_addr(groupIP.toLocal8Bit().constData());
    group.Membership.imr_interface.s_addr = 0;
    if (winsock::setsockopt(group.GroupSocket, WS_IPPROTO_IP, WS_IP_ADD_MEMBERSHIP,
            reinterpret_cast<const char *>(&group.Membership), sizeof group.Membership)
        == SOCKET_ERROR)
        ShowMessage(QStringLiteral("无法进行UDP组播"));
    WSAAsyncSelect(group.GroupSocket, window, GroupReadMessage, FD_READ);
    group.GroupAddr.sin_family = AF_INET;
    group.GroupAddr.sin_port = htons(quint16(groupPort));
    group.LocalIP = groupIP;
    group.LocalPort = boundPort(group.GroupSocket, groupPort);
    const int port = group.LocalPort;
    return attach(std::move(record), NodeText(groupIP, port), ImgGroup);
}
