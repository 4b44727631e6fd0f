#include "net/tcp/tcpconnection.h"

#include "net/tcp/hostlookup.h"

#include <QMutexLocker>

#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

bool wouldBlock(int code)
{
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

sockaddr_in emptyAddress()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    return address;
}

// Counts the events of one object in progress, so that nobody destroys it
// under its own handler.
class BusyScope {
public:
    BusyScope(int &count, std::function<void()> idle)
        : count_(count)
        , idle_(std::move(idle))
    {
        ++count_;
    }
    ~BusyScope()
    {
        if (--count_ == 0)
            idle_();
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    int &count_;
    std::function<void()> idle_;
};

} // namespace

void ReadUrgentDataInline(int handle)
{
    // An urgent byte kept out of band stops the count of waiting bytes at
    // its mark while readiness still says there is something to read: the
    // two would never agree again. Inline it is an ordinary byte of the
    // stream. Accepted handles inherit the setting from the listening one.
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
}

QString SocketErrorMessage(int code, const char *api)
{
    return QStringLiteral("Windows socket error: %1 (%2), on API '%3'")
        .arg(SocketErrorText(code))
        .arg(code)
        .arg(QLatin1String(api));
}

void TcpConnection::checkSocketResult(int code, const char *api)
{
    if (code != 0 && !wouldBlock(code))
        throw SocketError(SocketErrorMessage(code, api), code);
}

TcpConnection::TcpConnection(int handle)
    : socket_(handle)
    , connected_(handle != -1)
{
    addr_ = emptyAddress();
}

TcpConnection::~TcpConnection()
{
    muteEvents();
    try {
        cancelLookup();
        if (connected_ && socket_ != -1)
            handleDisconnect(socket_);
        // A handle kept by a connect that failed is closed as well.
        closeHandle();
    } catch (...) {
        // Nothing may leave a destructor; the handle is gone either way.
    }
}

// ---- events -------------------------------------------------------------

void TcpConnection::raiseEvent(TcpConnection *socket, TcpEvent socketEvent)
{
    if (muted_)
        return;
    BusyScope busy(busy_, [this] { becameIdle(); });
    deliverEvent(socket, socketEvent);
}

void TcpConnection::raiseError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode)
{
    if (muted_)
        return;
    BusyScope busy(busy_, [this] { becameIdle(); });
    deliverError(socket, errorEvent, errorCode);
}

void TcpConnection::deliverEvent(TcpConnection *socket, TcpEvent event)
{
    emit socketEvent(socket, event);
}

void TcpConnection::deliverError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode)
{
    emit socketError(socket, errorEvent, errorCode);
}

void TcpConnection::handleNotification(int socket, int notification, int errorCode)
{
    if (errorCode != 0) {
        TcpErrorKind kind = TcpErrorKind::General;
        switch (notification) {
        case NotifyRead:
            kind = TcpErrorKind::Receive;
            break;
        case NotifyWrite:
            kind = TcpErrorKind::Send;
            break;
        case NotifyAccept:
            kind = TcpErrorKind::Accept;
            break;
        case NotifyConnect:
            kind = TcpErrorKind::Connect;
            break;
        case NotifyClose:
            kind = TcpErrorKind::Disconnect;
            break;
        }
        const int platformCode = errorCode;
        raiseError(this, kind, errorCode);
        if (kind == TcpErrorKind::Connect)
            emit connectFailed(this, platformCode);
        // A cleared code cancels the notification: a reset close, for one,
        // leaves the handle open and connected.
        if (errorCode != 0)
            throw SocketError(QStringLiteral("Asynchronous socket error %1").arg(errorCode));
        return;
    }
    switch (notification) {
    case NotifyRead:
        handleRead(socket);
        break;
    case NotifyWrite:
        handleWrite(socket);
        break;
    case NotifyAccept:
        handleAccept(socket);
        break;
    case NotifyConnect:
        handleConnect(socket);
        break;
    case NotifyClose:
        handleDisconnect(socket);
        break;
    }
}

void TcpConnection::handleAccept(int) { }

void TcpConnection::handleConnect(int) { }

void TcpConnection::handleRead(int socket)
{
    if (socket != -1 && socket == socket_)
        raiseEvent(this, TcpEvent::Readable);
}

void TcpConnection::handleWrite(int socket)
{
    if (socket != -1 && socket == socket_)
        raiseEvent(this, TcpEvent::Writable);
}

void TcpClientConnection::handleConnect(int)
{
    setConnected(true);
    expectWriteNotification();
    raiseEvent(this, TcpEvent::Connected);
}

// ---- readiness ------------------------------------------------------------

ReadinessWatch *TcpConnection::watch()
{
    if (watch_ == nullptr) {
        watch_ = new ReadinessWatch(this, *this);
    }
    return watch_;
}

void TcpConnection::selectNotifications(int mask)
{
    mask_ = mask;
    watch()->select(socket_, mask, connected_);
}

void TcpConnection::setConnected(bool value)
{
    connected_ = value;
    if (watch_)
        watch_->setConnected(value);
}

void TcpConnection::expectWriteNotification()
{
    watch()->oweWrite();
}

void TcpConnection::awaitRoom()
{
    watch()->expectWrite();
}

void TcpConnection::pauseAcceptNotifications(int milliseconds)
{
    watch()->pauseAccepts(milliseconds);
}

void TcpConnection::silence()
{
    muteEvents();
    if (watch_)
        watch_->release();
}

// ---- handles --------------------------------------------------------------

void TcpConnection::replaceHandle(int handle)
{
    // A handle left by a failed connect would otherwise leak with every retry.
    closeHandle();
    socket_ = handle;
    addr_ = emptyAddress();
}

// Closes the handle without any event; returns the close error, if any.
int TcpConnection::closeHandle()
{
    if (socket_ == -1)
        return 0;
    if (watch_)
        watch_->release();
    const int handle = socket_;
    socket_ = -1;
    const int code = ::close(handle) == 0 || errno == EINTR ? 0 : errno;
    addr_ = emptyAddress();
    connected_ = false;
    return code;
}

void TcpConnection::close()
{
    handleDisconnect(socket_);
}

void TcpConnection::handleDisconnect(int socket)
{
    QMutexLocker locker(&lock_);
    cancelLookup();
    if (socket == -1 || socket != socket_)
        return;
    // A handler that closes the object whose disconnection it is handling
    // must not get a second disconnection event.
    if (disconnecting_)
        return;
    disconnecting_ = true;
    try {
        raiseEvent(this, TcpEvent::Disconnected);
    } catch (...) {
        closeHandle();
        disconnecting_ = false;
        throw;
    }
    const int code = closeHandle();
    disconnecting_ = false;
    checkSocketResult(code, "closesocket");
}

// ---- data -------------------------------------------------------------------

int TcpConnection::send(const QByteArray &data)
{
    return send(data.constData(), int(data.size()));
}

int TcpConnection::send(const void *data, int count)
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return 0;
    const ssize_t sent = ::send(socket_, data, size_t(qMax(count, 0)), MSG_NOSIGNAL);
    if (sent >= 0)
        return int(sent);
    int code = errno;
    if (wouldBlock(code)) {
        // The platform tells when there is room again.
        awaitRoom();
        return -1;
    }
    raiseError(this, TcpErrorKind::Send, code);
    handleDisconnect(socket_);
    if (code != 0)
        throw SocketError(SocketErrorMessage(code, "send"), code);
    return -1;
}

QByteArray TcpConnection::readAvailable()
{
    QByteArray data;
    const int pending = bytesAvailable();
    // Readiness may have seen bytes that the count does not show; a read of
    // nothing would leave them waiting and the notification coming again.
    data.resize(pending > 0 ? pending : ReceiveProbeLength);
    const int got = receive(data.data(), int(data.size()));
    if (got <= 0)
        return {};
    data.truncate(got);
    return data;
}

int TcpConnection::bytesAvailable()
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return 0;
    // Under a fast sender the kernel's queue grows to megabytes; handed
    // over whole, one read would make a log entry of megabytes that is
    // laid out in one go while the event loop waits. The rest stays
    // queued and raises the next read notification.
    int pending = 0;
    return ::ioctl(socket_, FIONREAD, &pending) == 0 ? std::min(pending, MaxReceiveLength) : 0;
}

int TcpConnection::receive(void *data, int count)
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return 0;
    if (watch_)
        watch_->receiveMade();
    const ssize_t got = ::recv(socket_, data, size_t(qMax(count, 0)), 0);
    if (got >= 0)
        return int(got);
    int code = errno;
    if (wouldBlock(code))
        return -1;
    raiseError(this, TcpErrorKind::Receive, code);
    handleDisconnect(socket_);
    if (code != 0)
        throw SocketError(SocketErrorMessage(code, "recv"), code);
    return -1;
}

// ---- queries ----------------------------------------------------------------

int TcpConnection::localPort()
{
    QMutexLocker locker(&lock_);
    if (socket_ == -1)
        return -1;
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(socket_, reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return -1;
    // Port 0: the handle is not bound yet (still resolving); it has no
    // local address to report.
    return local.sin_port == 0 ? -1 : ntohs(local.sin_port);
}

void TcpConnection::peerSocketAddress(sockaddr_in &peer)
{
    socklen_t size = sizeof peer;
    if (::getpeername(socket_, reinterpret_cast<sockaddr *>(&peer), &size) == 0)
        return;
    const int code = errno;
    if (code == ENOTCONN && acceptedPeerKnown_) {
        peer = acceptedPeer_;
        return;
    }
    checkSocketResult(code, "getpeername");
}

QString TcpConnection::peerAddress()
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return {};
    sockaddr_in peer{};
    peerSocketAddress(peer);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

int TcpConnection::peerPort()
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return 0;
    sockaddr_in peer{};
    peerSocketAddress(peer);
    return ntohs(peer.sin_port);
}
