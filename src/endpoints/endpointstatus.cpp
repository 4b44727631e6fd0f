#include "endpoints/endpointstatus.h"

#include "endpoints/endpoint.h"
#include "endpoints/serialbridge.h"
#include "endpoints/serialendpoint.h"
#include "net/serial/serialport.h"

#include <QCoreApplication>

namespace {

// An open UDP endpoint has no word of its own: the word and the buttons'
// enabled state stay as they are.
std::optional<QString> stateWord(EndpointState state, const QString &running, const QString &stopped)
{
    if (state == EndpointState::Open)
        return std::nullopt;
    return isRunning(state) ? running : stopped;
}

std::optional<bool> runningState(EndpointState state)
{
    if (state == EndpointState::Open)
        return std::nullopt;
    return isRunning(state);
}

QString number(int value)
{
    return QString::number(value);
}

StatusContent serverStatus(const Endpoint &e)
{
    StatusContent c;
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
StatusContent connectionStatus(const Endpoint &e, bool canConnect)
{
    StatusContent c;
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
StatusContent datagramStatus(const Endpoint &e)
{
    static const QString created = QCoreApplication::translate("EndpointStatus", "Socket创建时间:");
    static const QString peerAddress = QCoreApplication::translate("EndpointStatus", "对方IP:");
    static const QString peerPort = QCoreApplication::translate("EndpointStatus", "对方端口:");
    static const QString localPort = QCoreApplication::translate("EndpointStatus", "本地端口:");
    StatusContent c;
    c.state = QString();
    c.created = created + e.createdText;
    c.peerAddress = peerAddress + e.peerAddress;
    c.peerPort = peerPort + number(e.peerPort);
    c.localPort = localPort + number(e.localPort);
    return c;
}

StatusContent groupStatus(const Endpoint &e)
{
    StatusContent c;
    c.state = QString();
    c.created = QCoreApplication::translate("EndpointStatus", "Socket创建时间:") + e.createdText;
    c.peerAddress = QCoreApplication::translate("EndpointStatus", "组播地址:") + e.localAddress;
    c.peerPort = QCoreApplication::translate("EndpointStatus", "组播端口:") + number(e.localPort);
    return c;
}

// A UDP Server's free line says which device its serial port is and whether
// it opened, since "com1" may name any device.
StatusContent bridgeStatus(const Endpoint &e, StatusContent c)
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

// The device, its line settings in the usual short form, and whether it is
// open; open and close as the start and stop buttons.
StatusContent serialStatus(const Endpoint &e)
{
    StatusContent c;
    c.state = stateWord(e.state, QCoreApplication::translate("EndpointStatus", "已打开"),
        QCoreApplication::translate("EndpointStatus", "已关闭"));
    c.created = QCoreApplication::translate("EndpointStatus", "串口创建时间:") + e.createdText;
    if (const SerialEndpoint *serial = e.serialPort()) {
        c.peerAddress = QCoreApplication::translate("EndpointStatus", "设备:") + serial->setup().device;
        c.peerPort = QCoreApplication::translate("EndpointStatus", "参数:") + serialLineForm(serial->setup());
        // The device a stable name stands for, when it is another name.
        if (serial->isOpen() && serial->openedPath() != serial->setup().device)
            c.spare = serial->openedPath();
    }
    c.startCaption = QCoreApplication::translate("EndpointStatus", "打开");
    c.stopCaption = QCoreApplication::translate("EndpointStatus", "关闭");
    c.startVisible = true;
    c.stopVisible = true;
    c.running = runningState(e.state);
    return c;
}

} // namespace

StatusContent statusOf(const Endpoint &endpoint)
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
    case EndpointKind::SerialPort:
        return serialStatus(endpoint);
    }
    return {};
}
