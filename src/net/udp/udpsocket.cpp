#include "net/udp/udpsocket.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QIODevice>
#include <QPointer>
#include <QSocketNotifier>

#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const QString HostLookupCanceled = QStringLiteral("Host Lookup Canceled");

// What a lookup worker hands back. The worker may outlive the wait (when the
// application quits during a lookup), so it shares this instead of pointing
// into the waiting frame; `waiter` is cleared under the lock before the
// event loop it names goes away.
struct Lookup {
    std::mutex lock;
    QEventLoop *waiter = nullptr;
    bool done = false;
    bool found = false;
    in_addr address{};
};

// Resolves name to its first IPv4 address on a worker thread while this
// thread keeps serving its events. False when the name does not resolve or
// the event loop is told to exit before the answer comes.
bool LookUpHost(const QByteArray &name, in_addr &address)
{
    if (name.contains('\0'))
        return false;
    auto lookup = std::make_shared<Lookup>();
    QEventLoop loop;
    lookup->waiter = &loop;
    std::thread([lookup, name] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo *result = nullptr;
        const bool found = ::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0 && result;
        in_addr first{};
        if (found)
            first = reinterpret_cast<const sockaddr_in *>(result->ai_addr)->sin_addr;
        if (result)
            ::freeaddrinfo(result);
        const std::lock_guard guard(lookup->lock);
        lookup->done = true;
        lookup->found = found;
        lookup->address = first;
        if (lookup->waiter)
            QMetaObject::invokeMethod(lookup->waiter, &QEventLoop::quit, Qt::QueuedConnection);
    }).detach();

    loop.exec();

    const std::lock_guard guard(lookup->lock);
    lookup->waiter = nullptr;
    if (!lookup->done || !lookup->found)
        return false;
    address = lookup->address;
    return true;
}

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

UdpSocket::~UdpSocket() = default;

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
    receive();
    for (int taken = 1; taken < MaxDatagramsPerWakeup; ++taken) {
        // Costly handlers (reply rules, large pieces logged) end the batch
        // early: the rest come on the next pass, after the window's events.
        if (!alive || socket_ != handle || !isRegistered() || spent.elapsed() >= WakeUpBudgetMs)
            return;
        pollfd waiting{handle, POLLIN, 0};
        if (::poll(&waiting, 1, 0) != 1 || !(waiting.revents & POLLIN))
            return;
        receive();
    }
}

// The socket's read registration (a child notifier) is live: closing the
// socket cancels it.
bool UdpSocket::isRegistered() const
{
    const auto notifiers = findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly);
    return std::any_of(notifiers.begin(), notifiers.end(),
        [this](const QSocketNotifier *n) { return n->socket() == socket_ && n->isEnabled(); });
}

void UdpSocket::receive()
{
    sockaddr_in from{};
    int fromLength = sizeof from;
    received_ = dgram::recvfrom(
        socket_, buffer_.get(), dgram::MaxUdpDatagram, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (!datagramHandler_)
        return;
    if (lastSenderText_.isNull() || from.sin_addr.s_addr != lastSender_) {
        const auto *octets = reinterpret_cast<const unsigned char *>(&from.sin_addr.s_addr);
        lastSender_ = from.sin_addr.s_addr;
        lastSenderText_ = QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    }
    datagramHandler_(this, received_, lastSenderText_, ntohs(from.sin_port));
}

void UdpSocket::readDatagram(QIODevice &stream)
{
    if (received_ > 0)
        stream.write(buffer_.get(), received_);
    stream.seek(0);
}

int UdpSocket::sendDatagram(QIODevice &stream)
{
    for (bool firstLook = true; stream.size() == 0; firstLook = false) {
        if (!firstLook || !invalidDataHandler_)
            throw Exception(QStringLiteral("Invalid stream"));
        bool handled = false;
        invalidDataHandler_(handled, stream);
        if (!handled)
            throw Exception(QStringLiteral("Invalid stream"));
    }
    if (!stream.isReadable())
        throw Exception(QStringLiteral("Invalid stream"));
    if (stream.size() > dgram::MaxUdpDatagram)
        throw UdpSocketError(QStringLiteral("Datagram too large: %1 bytes, one datagram carries at most %2")
                                 .arg(stream.size())
                                 .arg(dgram::MaxUdpDatagram));

    const in_addr_t address = resolveRemoteHost();
    if (address == 0)
        throw UdpSocketError(QStringLiteral("Null Remote Address"));
    report(2, QStringLiteral("Sending Data"));

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(remotePort_));
    remote.sin_addr.s_addr = address;
    stream.seek(0);
    const QByteArray bytes = stream.read(dgram::MaxUdpDatagram);
    if (dgram::sendto(socket_, bytes.constData(), int(bytes.size()), 0,
            reinterpret_cast<const sockaddr *>(&remote), sizeof remote)
        == dgram::CallFailed)
        return dgram::lastError();
    if (sentHandler_)
        sentHandler_(this);
    return 0;
}

bool UdpSocket::hasNoRoom(int error)
{
    // ENOBUFS: the adapter's queue dropped it for want of room.
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS;
}

// Address in network byte order; 0 for an empty host. A dotted quad is taken
// as it is, anything else (255.255.255.255 among them, which reads as the
// all-ones failure value) is looked up, once more if the invalid-host handler asks.
in_addr_t UdpSocket::resolveRemoteHost()
{
    if (remoteHost_.isEmpty())
        return 0;
    const QByteArray name = remoteHost_.toLocal8Bit();
    if (!name.contains('\0')) {
        const in_addr_t numeric = inet_addr(name.constData());
        if (numeric != INADDR_NONE)
            return numeric;
    }
    const QPointer<UdpSocket> alive(this);
    for (int failures = 0;;) {
        in_addr found{};
        const bool resolved = LookUpHost(name, found);
        if (!alive)
            throw UdpSocketError(HostLookupCanceled);
        if (resolved)
            return found.s_addr;
        if (++failures == 2)
            throw UdpSocketError(HostLookupCanceled);
        bool handled = false;
        if (invalidHostHandler_)
            invalidHostHandler_(handled);
        if (!handled)
            throw UdpSocketError(HostLookupCanceled);
    }
}

void UdpSocket::report(int level, const QString &text)
{
    if (reportLevel_ < level)
        return;
    status_ = text;
    if (statusHandler_)
        statusHandler_(this, text);
}

// After a failed start-up or socket creation. The code is taken before the
// status handler runs, so a handler that makes socket calls cannot change it.
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
