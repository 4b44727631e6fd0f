#include "endpoints/udpendpointevents.h"

#include "endpoints/endpoint.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/serialbridge.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"
#include "session/endpointsession.h"

namespace {

void answer(Endpoint &endpoint, const QByteArray &data)
{
    if (!endpoint.session)
        return;
    if (const auto reply = endpoint.session->autoReplyTo(data))
        endpoint.session->sendReply(*reply);
}

void UdpClientReceived(Endpoint &client, int numberBytes)
{
    if (numberBytes == -1 || !client.udp() || !client.session)
        return;
    const QByteArray data = client.udp()->lastDatagram();
    client.session->logReceived(data);
    answer(client, data);
}

void UdpServerReceived(
    EndpointController &w, Endpoint &server, int numberBytes, const QString &fromIP, int port)
{
    if (numberBytes == -1 || !server.udp() || !server.session)
        return;
    const QByteArray data = server.udp()->lastDatagram();
    server.session->logReceived(data);
    server.udp()->setRemoteHost(fromIP);
    server.udp()->setRemotePort(port);
    // The panel shows nothing new while the same peer keeps sending.
    if (server.peerAddress != fromIP || server.peerPort != port) {
        server.peerAddress = fromIP;
        server.peerPort = port;
        w.changed(server);
    }
    if (server.serialBridge)
        server.serialBridge->forwardToSerial(data);
    // To the sender of this datagram: it is the server's peer by now.
    answer(server, data);
}

} // namespace

void bindUdpClientEvents(EndpointController &controller, Endpoint &client, UdpSocket &udp)
{
    Endpoint *c = &client;
    QObject::connect(&udp, &UdpSocket::datagramReceived, &controller,
        [c](int numberBytes) { UdpClientReceived(*c, numberBytes); });
}

void bindUdpServerEvents(EndpointController &controller, Endpoint &server, UdpSocket &udp)
{
    Endpoint *s = &server;
    EndpointController *w = &controller;
    QObject::connect(
        &udp, &UdpSocket::datagramReceived, w, [w, s](int numberBytes, const QString &fromIP, int port) {
            UdpServerReceived(*w, *s, numberBytes, fromIP, port);
        });
}

void onGroupDatagram(Endpoint &endpoint)
{
    if (!endpoint.group)
        return;
    const QByteArray data = endpoint.group->receive();
    if (!endpoint.session)
        return;
    endpoint.session->logReceived(data);
    answer(endpoint, data);
}
