#include "session/endpointkind.h"

QString kindLabel(EndpointKind kind)
{
    switch (kind) {
    case EndpointKind::TcpServer:
        return QStringLiteral("TCP Server");
    case EndpointKind::TcpAcceptedPeer:
        return QStringLiteral("TCP ServerClient");
    case EndpointKind::TcpClient:
        return QStringLiteral("TCP Client");
    case EndpointKind::UdpServer:
        return QStringLiteral("UDP Server");
    case EndpointKind::UdpClient:
        return QStringLiteral("UDP Client");
    case EndpointKind::UdpGroup:
        return QStringLiteral("UDP Group");
    case EndpointKind::SerialPort:
        return QStringLiteral("Serial Port");
    }
    return {};
}
