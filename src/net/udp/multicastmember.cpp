#include "net/udp/multicastmember.h"

#include "net/localaddress.h"
#include "net/udp/datagramcalls.h"

MulticastMember::~MulticastMember()
{
    close();
}

MulticastMember::JoinReport MulticastMember::join(const QString &groupAddress, int port)
{
    JoinReport report;
    requestedPort_ = port;
    address_ = groupAddress;
    socket_ = dgram::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ == dgram::InvalidSocket) {
        report.socketFailed = true;
        report.socketError = dgram::lastError();
    }
    sockaddr_in bindAddress{};
    bindAddress.sin_family = AF_INET;
    bindAddress.sin_addr.s_addr = 0;
    bindAddress.sin_port = htons(quint16(port));
    if (dgram::bind(socket_, reinterpret_cast<const sockaddr *>(&bindAddress), sizeof bindAddress)
        == dgram::CallFailed)
        report.bindFailed = true;
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = inet_addr(groupAddress.toLocal8Bit().constData());
    membership.imr_interface.s_addr = 0;
    if (dgram::setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char *>(&membership),
            sizeof membership)
        == dgram::CallFailed)
        report.membershipFailed = true;
    sendTo_.sin_family = AF_INET;
    sendTo_.sin_port = htons(quint16(port));
    dgram::watchReadable(socket_, this, [this] { emit readable(); });
    return report;
}

QByteArray MulticastMember::receive()
{
    // Room for the largest datagram, so none is cut or lost to its size.
    static QByteArray buffer(dgram::MaxUdpDatagram, Qt::Uninitialized);
    // The sender's address lands in the send address: its port is where the
    // next datagram to the group goes.
    int length = sizeof sendTo_;
    const int n = dgram::recvfrom(
        socket_, buffer.data(), int(buffer.size()), 0, reinterpret_cast<sockaddr *>(&sendTo_), &length);
    return n > 0 ? buffer.left(n) : QByteArray();
}

MulticastMember::SendReport MulticastMember::send(const QByteArray &data)
{
    sendTo_.sin_addr.s_addr = inet_addr(address_.toLocal8Bit().constData());
    const int sent = dgram::sendto(socket_, data.constData(), int(data.size()), 0,
        reinterpret_cast<const sockaddr *>(&sendTo_), sizeof sendTo_);
    SendReport report;
    if (const int error = dgram::lastError(); error != 0 && error != EWOULDBLOCK)
        report.error = error;
    report.callFailed = sent == dgram::CallFailed;
    report.whole = sent == data.size();
    return report;
}

void MulticastMember::close()
{
    if (socket_ != dgram::InvalidSocket) {
        dgram::closesocket(socket_);
        socket_ = dgram::InvalidSocket;
    }
}

int MulticastMember::port() const
{
    return boundPort(socket_, requestedPort_);
}
