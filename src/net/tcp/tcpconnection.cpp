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
        throw SocketError(SocketErrorMessage(code, api));
}

TcpConnection::TcpConnection(int ASocket)
    : socket_(ASocket)
    , connected_(ASocket != -1)
{
    addr_ = emptyAddress();
}

TcpConnection::~TcpConnection()
{
    eventSink_ = nullptr;
    try {
        cancelLookup();
        if (connected_ && socket_ != -1)
            Disconnect(socket_);
        // A handle kept by a connect that failed is closed as well.
        closeHandle();
    } catch (...) {
        // Nothing may leave a destructor; the handle is gone either way.
    }
}

// ---- events -------------------------------------------------------------

void TcpConnection::Event(TcpConnection *Socket, TSocketEventKind SocketEvent)
{
    if (!eventSink_)
        return;
    BusyScope busy(busy_, [this] { BecameIdle(); });
    // A copy: the handler may rebind the sink while it runs.
    const TcpEventHandler sink = eventSink_;
    sink(this, Socket, SocketEvent);
}

void TcpConnection::Error(TcpConnection *Socket, TErrorEvent ErrorEvent, int &ErrorCode)
{
    if (!errorSink_)
        return;
    BusyScope busy(busy_, [this] { BecameIdle(); });
    const TcpErrorHandler sink = errorSink_;
    sink(this, Socket, ErrorEvent, ErrorCode);
}

void TcpConnection::SocketMessage(int Socket, int Notification, int ErrorCode)
{
    if (ErrorCode != 0) {
        TErrorEvent kind = errGeneral;
        switch (Notification) {
        case NotifyRead:
            kind = errReceive;
            break;
        case NotifyWrite:
            kind = errSend;
            break;
        case NotifyAccept:
            kind = errAccept;
            break;
        case NotifyConnect:
            kind = errConnect;
            break;
        case NotifyClose:
            kind = errDisconnect;
            break;
        }
        Error(this, kind, ErrorCode);
        // A cleared code cancels the notification: a reset close, for one,
        // leaves the handle open and connected.
        if (ErrorCode != 0)
            throw SocketError(QStringLiteral("Asynchronous socket error %1").arg(ErrorCode));
        return;
    }
    switch (Notification) {
    case NotifyRead:
        Read(Socket);
        break;
    case NotifyWrite:
        Write(Socket);
        break;
    case NotifyAccept:
        Accept(Socket);
        break;
    case NotifyConnect:
        Connect(Socket);
        break;
    case NotifyClose:
        Disconnect(Socket);
        break;
    }
}

void TcpConnection::Accept(int) { }

void TcpConnection::Connect(int) { }

void TcpConnection::Read(int Socket)
{
    if (Socket != -1 && Socket == socket_)
        Event(this, evRead);
}

void TcpConnection::Write(int Socket)
{
    if (Socket != -1 && Socket == socket_)
        Event(this, evWrite);
}

void TcpClientConnection::Connect(int)
{
    SetConnected(true);
    ExpectWriteNotification();
    Event(this, evConnect);
}

// ---- readiness ------------------------------------------------------------

ReadinessWatch *TcpConnection::watch()
{
    if (watch_ == nullptr) {
        watch_ = new ReadinessWatch(this);
        watch_->OnNotification
            = [this](int handle, int notification, int code) { SocketMessage(handle, notification, code); };
    }
    return watch_;
}

void TcpConnection::SelectNotifications(int mask)
{
    mask_ = mask;
    watch()->Select(socket_, mask, connected_);
}

void TcpConnection::SetConnected(bool value)
{
    connected_ = value;
    if (watch_)
        watch_->SetConnected(value);
}

void TcpConnection::ExpectWriteNotification()
{
    watch()->ExpectWrite();
}

void TcpConnection::PauseAcceptNotifications(int milliseconds)
{
    watch()->PauseAccepts(milliseconds);
}

void TcpConnection::Silence()
{
    eventSink_ = nullptr;
    errorSink_ = nullptr;
    if (watch_)
        watch_->Release();
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
        watch_->Release();
    const int handle = socket_;
    socket_ = -1;
    const int code = ::close(handle) == 0 || errno == EINTR ? 0 : errno;
    addr_ = emptyAddress();
    connected_ = false;
    return code;
}

void TcpConnection::Close()
{
    Disconnect(socket_);
}

void TcpConnection::Disconnect(int Socket)
{
    QMutexLocker locker(&lock_);
    cancelLookup();
    if (Socket == -1 || Socket != socket_)
        return;
    // A handler that closes the object whose disconnection it is handling
    // must not get a second disconnection event.
    if (disconnecting_)
        return;
    disconnecting_ = true;
    try {
        Event(this, evDisconnect);
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

int TcpConnection::SendString(const QByteArray &S)
{
    return SendBuffer(S.constData(), int(S.size()));
}

int TcpConnection::SendBuffer(const void *Buf, int Count)
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return 0;
    const ssize_t sent = ::send(socket_, Buf, size_t(qMax(Count, 0)), MSG_NOSIGNAL);
    if (sent >= 0)
        return int(sent);
    int code = errno;
    if (wouldBlock(code)) {
        // The platform tells when there is room again.
        ExpectWriteNotification();
        return -1;
    }
    Error(this, errSend, code);
    Disconnect(socket_);
    if (code != 0)
        throw SocketError(SocketErrorMessage(code, "send"));
    return -1;
}

QByteArray TcpConnection::ReceiveString()
{
    QByteArray data;
    const int pending = ReceiveBuffer(nullptr, -1);
    // Readiness may have seen bytes that the count does not show; a read of
    // nothing would leave them waiting and the notification coming again.
    data.resize(pending > 0 ? pending : ReceiveProbeLength);
    const int got = ReceiveBuffer(data.data(), int(data.size()));
    if (got <= 0)
        return {};
    data.truncate(got);
    return data;
}

int TcpConnection::ReceiveBuffer(void *Buf, int Count)
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return 0;
    if (Count == -1) {
        // Under a fast sender the kernel's queue grows to megabytes; handed
        // over whole, one read would make a log entry of megabytes that is
        // laid out in one go while the event loop waits. The rest stays
        // queued and raises the next read notification.
        int pending = 0;
        return ::ioctl(socket_, FIONREAD, &pending) == 0 ? std::min(pending, MaxReceiveLength) : 0;
    }
    if (watch_)
        watch_->ReceiveMade();
    const ssize_t got = ::recv(socket_, Buf, size_t(qMax(Count, 0)), 0);
    if (got >= 0)
        return int(got);
    int code = errno;
    if (wouldBlock(code))
        return -1;
    Error(this, errReceive, code);
    Disconnect(socket_);
    if (code != 0)
        throw SocketError(SocketErrorMessage(code, "recv"));
    return -1;
}

// ---- queries ----------------------------------------------------------------

int TcpConnection::QueryLocalPort()
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

void TcpConnection::peerAddress(sockaddr_in &peer)
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

QString TcpConnection::QueryRemoteAddress()
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return {};
    sockaddr_in peer{};
    peerAddress(peer);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

int TcpConnection::QueryRemotePort()
{
    QMutexLocker locker(&lock_);
    if (!connected_)
        return 0;
    sockaddr_in peer{};
    peerAddress(peer);
    return ntohs(peer.sin_port);
}
