#include "endpoints/endpointstatus.h"

#include "datawindow/datawindow.h"
#include "endpoints/endpoint.h"
#include "endpoints/serialbridge.h"
#include "net/serial/serialport.h"

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
    c.state = stateWord(e.state, QStringLiteral("已启动"), QStringLiteral("已停止"));
    c.created = QStringLiteral("Socket服务器创建时间:") + e.createdText;
    c.startCaption = QStringLiteral("启动监听");
    c.stopCaption = QStringLiteral("停止监听");
    c.startVisible = true;
    c.stopVisible = true;
    c.localPort = QStringLiteral("本地端口:") + number(e.localPort);
    c.running = runningState(e.state);
    return c;
}

// TCP ServerClient and TCP Client; only a client can connect again.
StatusPanel::Content connectionStatus(const Endpoint &e, bool canConnect)
{
    StatusPanel::Content c;
    c.state = stateWord(e.state, QStringLiteral("已连接"), QStringLiteral("已断开"));
    c.created = QStringLiteral("Socket创建时间:") + e.createdText;
    c.peerAddress = QStringLiteral("对方IP:") + e.peerAddress;
    c.peerPort = QStringLiteral("对方端口:") + number(e.peerPort);
    c.localPort = QStringLiteral("本地端口:") + number(e.localPort);
    c.startCaption = QStringLiteral("连接");
    c.stopCaption = QStringLiteral("断开");
    c.startVisible = canConnect;
    c.stopVisible = true;
    c.running = runningState(e.state);
    return c;
}

StatusPanel::Content datagramStatus(const Endpoint &e)
{
    StatusPanel::Content c;
    c.state = QString();
    c.created = QStringLiteral("Socket创建时间:") + e.createdText;
    c.peerAddress = QStringLiteral("对方IP:") + e.peerAddress;
    c.peerPort = QStringLiteral("对方端口:") + number(e.peerPort);
    c.localPort = QStringLiteral("本地端口:") + number(e.localPort);
    return c;
}

StatusPanel::Content groupStatus(const Endpoint &e)
{
    StatusPanel::Content c;
    c.state = QString();
    c.created = QStringLiteral("Socket创建时间:") + e.createdText;
    c.peerAddress = QStringLiteral("组播地址:") + e.localAddress;
    c.peerPort = QStringLiteral("组播端口:") + number(e.localPort);
    return c;
}

// A UDP Server's free line says which device its serial port is and whether
// it opened, since "com1" may name any device.
StatusPanel::Content bridgeStatus(const Endpoint &e, StatusPanel::Content c)
{
    if (!e.serialBridge)
        return c;
    const SerialPort &port = e.serialBridge->port();
    // The state first: a long path is cut at the label's end.
    c.spare = (port.isOpen() ? QStringLiteral("串口已打开:") : QStringLiteral("串口未打开:"))
        + SerialPort::devicePathFor(port.deviceName());
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
