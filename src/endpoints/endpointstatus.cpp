#include "endpoints/endpointstatus.h"

#include "datawindow/datawindow.h"
#include "endpoints/endpoint.h"
#include "endpoints/serialbridge.h"
#include "net/serial/serialport.h"

#include <QCoreApplication>

namespace {

// A state other than stopped (0) or running (1) leaves the word and the
// buttons' enabled state as they are.
std::optional<QString> stateWord(int state, const QString &running, const QString &stopped)
{
    if (state == 1)
        return running;
    if (state == 0)
        return stopped;
    return std::nullopt;
}

std::optional<bool> runningState(int state)
{
    if (state == 1 || state == 0)
        return state == 1;
    return std::nullopt;
}

QString number(int value)
{
    return QString::number(value);
}

StatusPanel::Content serverStatus(const Endpoint &e)
{
    StatusPanel::Content c;
    c.state = stateWord(e.state, QCoreApplication::translate("EndpointStatus", "已启动"),
        QCoreApplication::translate("EndpointStatus", "已停止"));
    c.created = QCoreApplication::translate("EndpointStatus", "Socket服务器创建时间:") + e.createdText;
    c.startCaption = QCoreApplication::translate("EndpointStatus", "启动监听");
    c.stopCaption = QCoreApplication::translate("EndpointStatus", "停止监听");
    c.startVisible = true;
    c.stopVisible = true;
    c.localPort = QCoreApplication::translate("EndpointStatus", "本地端口:") + number(e.localPort);
    c.running = runningState(e.state);
    return c;
}

// TCP ServerClient and TCP Client; only a client can connect again.
StatusPanel::Content connectionStatus(const Endpoint &e, bool canConnect)
{
    StatusPanel::Content c;
    c.state = stateWord(e.state, QCoreApplication::translate("EndpointStatus", "已连接"),
        QCoreApplication::translate("EndpointStatus", "已断开"));
    c.created = QCoreApplication::translate("EndpointStatus", "Socket创建时间:") + e.createdText;
    c.peerAddress = QCoreApplication::translate("EndpointStatus", "对方IP:") + e.peerAddress;
    c.peerPort = QCoreApplication::translate("EndpointStatus", "对方端口:") + number(e.peerPort);
    c.localPort = QCoreApplication::translate("EndpointStatus", "本地端口:") + number(e.localPort);
    c.startCaption = QCoreApplication::translate("EndpointStatus", "连接");
    c.stopCaption = QCoreApplication::translate("EndpointStatus", "断开");
    c.startVisible = canConnect;
    c.stopVisible = true;
    c.running = runningState(e.state);
    return c;
}

// A UDP Server shows its status anew whenever a datagram comes from another
// sender than the last: the captions are translated once, at first use
// (after main installed the translator), not for every such datagram.
StatusPanel::Content datagramStatus(const Endpoint &e)
{
    static const QString created = QCoreApplication::translate("EndpointStatus", "Socket创建时间:");
    static const QString peerAddress = QCoreApplication::translate("EndpointStatus", "对方IP:");
    static const QString peerPort = QCoreApplication::translate("EndpointStatus", "对方端口:");
    static const QString localPort = QCoreApplication::translate("EndpointStatus", "本地端口:");
    StatusPanel::Content c;
    c.state = QString();
    c.created = created + e.createdText;
    c.peerAddress = peerAddress + e.peerAddress;
    c.peerPort = peerPort + number(e.peerPort);
    c.localPort = localPort + number(e.localPort);
    return c;
}

StatusPanel::Content groupStatus(const Endpoint &e)
{
    StatusPanel::Content c;
    c.state = QString();
    c.created = QCoreApplication::translate("EndpointStatus", "Socket创建时间:") + e.createdText;
    c.peerAddress = QCoreApplication::translate("EndpointStatus", "组播地址:") + e.localAddress;
    c.peerPort = QCoreApplication::translate("EndpointStatus", "组播端口:") + number(e.localPort);
    return c;
}

// A UDP Server's free line says which device its serial port is and whether
// it opened, since "com1" may name any device.
StatusPanel::Content bridgeStatus(const Endpoint &e, StatusPanel::Content c)
{
    if (!e.serialBridge)
        return c;
    // Translated once, as datagramStatus's captions are.
    static const QString openCaption = QCoreApplication::translate("EndpointStatus", "串口已打开:");
    static const QString closedCaption = QCoreApplication::translate("EndpointStatus", "串口未打开:");
    const SerialPort &port = e.serialBridge->port();
    // The state first: a long path is cut at the label's end.
    c.spare = (port.isOpen() ? openCaption : closedCaption) + SerialPort::devicePathFor(port.deviceName());
    return c;
}

} // namespace

StatusPanel::Content statusOf(const Endpoint &endpoint)
{
    switch (endpoint.kind) {
    case EndpointKind::TcpServer:
        return serverStatus(endpoint);
    case EndpointKind::TcpAcceptedPeer:
        return connectionStatus(endpoint, false);
    case EndpointKind::TcpClient:
        return connectionStatus(endpoint, true);
    case EndpointKind::UdpClient:
    case EndpointKind::UdpServer:
        return bridgeStatus(endpoint, datagramStatus(endpoint));
    case EndpointKind::UdpGroup:
        return groupStatus(endpoint);
    }
    return {};
}

void refreshStatus(const Endpoint &endpoint)
{
    if (DataWindow *window = endpoint.window)
        window->showStatus(statusOf(endpoint));
}
