#include "net/udp/udpsocket.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QIODevice>
#include <QPointer>
#include <cerrno>
#include <memory>

namespace {

const QString HostLookupCanceled = QStringLiteral("Host Lookup Canceled");
const QString NullRemoteAddress = QStringLiteral("Null Remote Address");

} // namespace

UdpSocket::UdpSocket(QObject *owner)
    : QObject(owner)
    , buffer_(std::make_unique<char[]>(dgram::MaxUdpDatagram))
{
    report(8, QStringLiteral("Initializing Winsock"));
    socket_ = dgram::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ == dgram::InvalidSocket)
        checkError();
    initialised_ = true;
}

UdpSocket::~UdpSocket()
{
    if (lookup_)
        lookup_->cancel();
    endWaiting(LookupFailed);
}

void UdpSocket::setLocalPort(int port)
{
    // -1 is "no socket"; 0 is a valid descriptor here.
    if (socket_ != dgram::InvalidSocket) {
        dgram::closesocket(socket_);
        socket_ = dgram::InvalidSocket;
    }
    socket_ = dgram::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ == dgram::InvalidSocket)
        checkError();
    localPort_ = port;
    bindAndRegister();
}

void UdpSocket::bindAndRegister()
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(localPort_));
    local.sin_addr.s_addr = inet_addr("0.0.0.0");
    // Room for a burst: the default queue holds only a few hundred small
    // datagrams, and whatever arrives while it is full is lost before the
    // program ever sees it. The kernel caps the size at its own limit.
    const int queueBytes = ReceiveQueueBytes;
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &queueBytes, sizeof queueBytes);
    // A port in use leaves the socket unbound; the dialogs probe the port first.
    dgram::bind(socket_, reinterpret_cast<const sockaddr *>(&local), sizeof local);
    dgram::watchReadable(socket_, this, [this, handle = socket_] {
        if (initialised_ && handle == socket_)
            receiveWaiting();
    });
}

// A flood is taken several datagrams per wake-up: a pass of the event loop
// for every datagram costs more than the datagram itself, and the bound keeps
// one socket from starving the others and the timers. Each datagram still
// raises a datagram event of its own. The handler may close the socket (its
// registration goes with it) or make a new one: then the batch ends.
void UdpSocket::receiveWaiting()
{
    const QPointer<UdpSocket> alive(this);
    const int handle = socket_;
    QElapsedTimer spent;
    spent.start();
    receive(0);
    for (int taken = 1; taken < MaxDatagramsPerWakeup; ++taken) {
        // Costly handlers (reply rules, large pieces logged) end the batch
        // early: the rest come on the next pass, after the window's events.
        if (!alive || socket_ != handle || !dgram::isWatched(handle) || spent.elapsed() >= WakeUpBudgetMs)
            return;
        // Asking the socket itself costs one call where a readiness check
        // first cost two; an empty queue ends the batch without an event.
        if (!receive(MSG_DONTWAIT))
            return;
    }
}

bool UdpSocket::receive(int flags)
{
    sockaddr_in from{};
    int fromLength = sizeof from;
    received_ = dgram::recvfrom(socket_, buffer_.get(), dgram::MaxUdpDatagram, flags,
        reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (received_ < 0 && (flags & MSG_DONTWAIT)
        && (dgram::lastError() == EAGAIN || dgram::lastError() == EWOULDBLOCK))
        return false;
    if (lastSenderText_.isNull() || from.sin_addr.s_addr != lastSender_) {
        const auto *octets = reinterpret_cast<const unsigned char *>(&from.sin_addr.s_addr);
        lastSender_ = from.sin_addr.s_addr;
        lastSenderText_ = QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    }
    emit datagramReceived(received_, lastSenderText_, ntohs(from.sin_port));
    return true;
}

QByteArray UdpSocket::lastDatagram() const
{
    return received_ > 0 ? QByteArray(buffer_.get(), received_) : QByteArray();
}

void UdpSocket::readDatagram(QIODevice &stream)
{
    if (received_ > 0)
        stream.write(buffer_.get(), received_);
    stream.seek(0);
}

int UdpSocket::sendDatagram(QIODevice &stream, SendDone done)
{
    for (bool firstLook = true; stream.size() == 0; firstLook = false) {
        if (!firstLook)
            throw Exception(QStringLiteral("Invalid stream"));
        bool handled = false;
        emit invalidData(handled, stream);
        if (!handled)
            throw Exception(QStringLiteral("Invalid stream"));
    }
    if (!stream.isReadable())
        throw Exception(QStringLiteral("Invalid stream"));
    if (stream.size() > dgram::MaxUdpDatagram)
        throw UdpSocketError(QStringLiteral("Datagram too large: %1 bytes, one datagram carries at most %2")
                                 .arg(stream.size())
                                 .arg(dgram::MaxUdpDatagram));

    if (remoteHost_.isEmpty())
        throw UdpSocketError(NullRemoteAddress);
    stream.seek(0);
    return sendChecked(stream.read(dgram::MaxUdpDatagram), std::move(done));
}

int UdpSocket::sendBytes(const QByteArray &bytes, SendDone done)
{
    if (bytes.isEmpty()) {
        // An empty datagram takes the stream's way: its receivers may fill it.
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        return sendDatagram(stream, std::move(done));
    }
    if (bytes.size() > dgram::MaxUdpDatagram)
        throw UdpSocketError(QStringLiteral("Datagram too large: %1 bytes, one datagram carries at most %2")
                                 .arg(bytes.size())
                                 .arg(dgram::MaxUdpDatagram));
    if (remoteHost_.isEmpty())
        throw UdpSocketError(NullRemoteAddress);
    return sendChecked(bytes, std::move(done));
}

int UdpSocket::sendChecked(const QByteArray &bytes, SendDone done)
{
    const in_addr_t numeric = remoteAddress();
    if (numeric == 0)
        throw UdpSocketError(NullRemoteAddress);
    if (numeric != INADDR_NONE)
        return sendTo(bytes, numeric, remotePort_);
    if (waiting_.size() >= MaxWaitingDatagrams)
        return ENOBUFS;
    waiting_.push_back(WaitingDatagram{bytes, remotePort_, std::move(done)});
    if (!lookup_)
        lookUp();
    return SendPending;
}

// A dotted quad is taken as it is; anything else (255.255.255.255 among
// them, which reads as the all-ones failure value) is looked up. A server
// answers its last sender many times a second: the address is read once
// for each remote host text.
in_addr_t UdpSocket::remoteAddress()
{
    if (!parsedHost_.isSharedWith(remoteHost_) && parsedHost_ != remoteHost_) {
        const QByteArray name = remoteHost_.toLocal8Bit();
        if (name.contains('\0'))
            throw UdpSocketError(HostLookupCanceled);
        parsedAddress_ = inet_addr(name.constData());
        parsedHost_ = remoteHost_;
    }
    return parsedAddress_;
}

int UdpSocket::sendTo(const QByteArray &bytes, in_addr_t address, int port)
{
    report(2, QStringLiteral("Sending Data"));
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    remote.sin_addr.s_addr = address;
    if (dgram::sendto(socket_, bytes.constData(), int(bytes.size()), 0,
            reinterpret_cast<const sockaddr *>(&remote), sizeof remote)
        == dgram::CallFailed)
        return dgram::lastError();
    emit datagramSent();
    return 0;
}

void UdpSocket::lookUp()
{
    lookup_ = HostLookup::startHost(
        this, remoteHost_, [this](const LookupResult &result) { Guarded([&] { lookedUp(result); }); });
}

void UdpSocket::lookedUp(const LookupResult &result)
{
    lookup_.reset();
    const QPointer<UdpSocket> alive(this);
    if (result.errorCode == 0 && result.address != 0) {
        lookupFailures_ = 0;
        // The ones waiting now go to this address; any that come in meanwhile
        // (from the handlers) wait for a lookup of their own.
        std::deque<WaitingDatagram> due;
        due.swap(waiting_);
        for (WaitingDatagram &datagram : due) {
            const int error = sendTo(datagram.bytes, result.address, datagram.port);
            if (!alive)
                return;
            if (datagram.done)
                datagram.done(error);
            if (!alive)
                return;
        }
        if (!waiting_.empty() && !lookup_)
            lookUp();
        return;
    }
    if (++lookupFailures_ < 2) {
        bool handled = false;
        emit invalidHost(handled);
        if (!alive)
            return;
        if (handled) {
            lookUp();
            return;
        }
    }
    lookupFailures_ = 0;
    endWaiting(LookupFailed);
    if (alive)
        throw UdpSocketError(HostLookupCanceled);
}

void UdpSocket::endWaiting(int result)
{
    std::deque<WaitingDatagram> ended;
    ended.swap(waiting_);
    for (WaitingDatagram &datagram : ended)
        if (datagram.done)
            datagram.done(result);
}

bool UdpSocket::hasNoRoom(int error)
{
    // ENOBUFS: the adapter's queue dropped it for want of room.
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS;
}

void UdpSocket::report(int level, const QString &text)
{
    if (reportLevel_ < level)
        return;
    status_ = text;
    emit statusReported(text);
}

// After a failed start-up or socket creation. The code is taken before the
// status is reported, so a receiver that makes socket calls cannot change it.
void UdpSocket::checkError()
{
    lastError_ = dgram::lastError();
    report(16, QStringLiteral("Checking Error In Error Manager"));
    if (lastError_ == EWOULDBLOCK)
        return;
    const QString text
        = QStringLiteral("Unknown Error No. ") + (lastError_ ? QString::number(lastError_) : QString());
    report(8, QStringLiteral("Looking Up Error Message") + text);
    throw UdpSocketError(text);
}
