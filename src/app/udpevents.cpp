#include "app/udpevents.h"

#include "app/mysocket.h"
#include "app/refreshstatus.h"
#include "datapanel/datapanel.h"
#include "net/udp/datagramcalls.h"
#include "net/udp/udpsocket.h"

#include <QBuffer>

namespace {

QByteArray readDatagram(UdpSocket &udp, int count)
{
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    udp.ReadDatagram(stream);
    QByteArray data = stream.buffer();
    data.truncate(count);
    return data;
}

void UdpClientReceived(TMySocket &client, int numberBytes)
{
    if (numberBytes == -1 || !client.UdpClient || !client.DataForm)
        return;
    client.DataForm->logReceived(readDatagram(*client.UdpClient, numberBytes));
}

void UdpServerReceived(TMySocket &server, int numberBytes, const QString &fromIP, int port)
{
    if (numberBytes == -1 || !server.UdpServer || !server.DataForm)
        return;
    const QByteArray data = readDatagram(*server.UdpServer, numberBytes);
    server.DataForm->logReceived(data);
    server.UdpServer->SetRemoteHost(fromIP);
    server.UdpServer->SetRemotePort(port);
    // The panel shows nothing new while the same peer keeps sending.
    if (server.RemoteIP != fromIP || server.RemotePort != port) {
        server.RemoteIP = fromIP;
        server.RemotePort = port;
        RefreshStatus(server);
    }
    server.DataForm->forwardToSerial(data);
}

} // namespace

void AttachUdpClientHandler(TMySocket &client, UdpSocket &udp)
{
    TMySocket *c = &client;
    udp.OnDataReceived
        = [c](QObject *, int numberBytes, const QString &, int) { UdpClientReceived(*c, numberBytes); };
}

void AttachUdpServerHandler(TMySocket &server, UdpSocket &udp)
{
    TMySocket *s = &server;
    udp.OnDataReceived = [s](QObject *, int numberBytes, const QString &fromIP, int port) {
        UdpServerReceived(*s, numberBytes, fromIP, port);
    };
}

void GroupReceived(TMySocket &group, long lParam)
{
    using namespace winsock;
    QByteArray data;
    if (WSAGETSELECTEVENT(lParam) == FD_READ) {
        // Room for the largest datagram, so none is cut or lost to its size.
        static QByteArray buffer(MaxUdpDatagram, Qt::Uninitialized);
        int length = sizeof group.GroupAddr;
        const int n = winsock::recvfrom(group.GroupSocket, buffer.data(), int(buffer.size()), 0,
            reinterpret_cast<sockaddr *>(&group.GroupAddr), &length);
        if (n > 0)
            data = buffer.left(n);
    }
    if (group.DataForm)
        group.DataForm->logReceived(data);
}
