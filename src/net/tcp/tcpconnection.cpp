#include "net/tcp/tcpconnection.h"

#include "net/tcp/hostlookup.h"

#include <QMutexLocker>

#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

bool wouldBlock(int code)
{
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

// Synchronous calls: would-block is not a failure, anything else raises.
void checkSocketResult(int code, const char *api)
{
    if (code != 0 && !wouldBlock(code))
        throw SocketError(SocketErrorMessage(code, api));
}

sockaddr_in emptyAddress()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    return address;
}

std::uint64_t nextLookupId()
{
    static std::uint64_t last = 0;
    return ++last;
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

bool TcpConnection::IsOpening() const
{
    return !connected_ && (pendingLookup_ != 0 || (watch_ && watch_->ConnectPending()));
}

void TcpConnection::closeAfterFailedStart() noexcept
{
    try {
        Disconnect(socket_);
    } catch (...) {
        // The failure that got us here is the one the caller must see.
        closeHandle();
    }
}

// ---- connecting and listening ----------------------------------------------

void TcpConnection::takeNewHandle()
{
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle == -1)
        throw SocketError(QStringLiteral("Can't create new socket"));
    ReadUrgentDataInline(handle);
    cancelLookup();
    replaceHandle(handle);
}

void TcpConnection::Open(
    const QString &Name, const QString &Address, const QString &Service, std::uint16_t Port, bool Client)
{
    if (connected_)
        throw SocketError(QStringLiteral("Socket already open"));
    takeNewHandle();
    try {
        Event(this, evLookup);
        if (!Name.isEmpty()) {
            lookupService_ = Service;
            lookupPort_ = Port;
            lookupClient_ = Client;
            lookupQueueSize_ = 0;
            lookupState_ = LookupState::Address;
            startLookup(true, Name);
            return;
        }
        if (Address.isEmpty()) {
            int code = NoAddressErrorCode;
            Error(this, errLookup, code);
            Disconnect(socket_);
            if (code != 0)
                throw SocketError(QStringLiteral("No address specified"));
            return;
        }
        addr_.sin_addr.s_addr = ::inet_addr(Address.toLatin1().constData());
        lookupState_ = LookupState::Address;
        continueWithService(Service, Port, Client, 0);
    } catch (...) {
        closeAfterFailedStart();
        throw;
    }
}

void TcpConnection::Listen(
    const QString &, const QString &, const QString &Service, std::uint16_t Port, int QueueSize)
{
    if (connected_)
        throw SocketError(QStringLiteral("Can't listen on an open socket"));
    takeNewHandle();
    try {
        Event(this, evLookup);
        addr_.sin_addr.s_addr = htonl(INADDR_ANY);
        lookupState_ = LookupState::Address;
        continueWithService(Service, Port, false, QueueSize);
    } catch (...) {
        closeAfterFailedStart();
        throw;
    }
}

void TcpConnection::continueWithService(
    const QString &service, std::uint16_t port, bool client, int queueSize)
{
    if (!service.isEmpty()) {
        lookupClient_ = client;
        lookupQueueSize_ = queueSize;
        lookupState_ = LookupState::Service;
        startLookup(false, service);
        return;
    }
    addr_.sin_port = htons(port);
    lookupState_ = LookupState::Service;
    finishOpen(client, queueSize);
}

void TcpConnection::finishOpen(bool client, int queueSize)
{
    lookupState_ = LookupState::Idle;
    if (client)
        connectNow();
    else
        listenNow(queueSize);
}

void TcpConnection::connectNow()
{
    SelectNotifications(NotifyRead | NotifyWrite | NotifyConnect | NotifyClose);
    Event(this, evConnecting);
    if (::connect(socket_, reinterpret_cast<const sockaddr *>(&addr_), sizeof addr_) != 0
        && errno != EINPROGRESS)
        checkSocketResult(errno, "connect");
}

void TcpConnection::listenNow(int queueSize)
{
    // Lets a server listen again at once on a port whose earlier connections
    // linger in TIME_WAIT; a port that another socket listens on still fails.
    const int reuse = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(socket_, reinterpret_cast<const sockaddr *>(&addr_), sizeof addr_) != 0)
        checkSocketResult(errno, "bind");
    SelectNotifications(NotifyAccept);
    Event(this, evListen);
    if (::listen(socket_, queueSize) != 0)
        checkSocketResult(errno, "listen");
    SetConnected(true);
}

// ---- lookups ------------------------------------------------------------------

void TcpConnection::startLookup(bool host, const QString &name)
{
    const std::uint64_t id = nextLookupId();
    auto done = [this, id](const LookupResult &result) { Guarded([&] { lookupComplete(id, result); }); };
    try {
        lookup_ = host ? HostLookup::StartHost(this, name, std::move(done))
                       : HostLookup::StartService(this, name, std::move(done));
    } catch (const std::system_error &e) {
        throw SocketError(
            SocketErrorMessage(e.code().value(), host ? "WSAASyncGetHostByName" : "WSAASyncGetServByName"));
    }
    pendingLookup_ = id;
}

void TcpConnection::cancelLookup()
{
    if (pendingLookup_ == 0)
        return;
    lookup_->Cancel();
    lookup_.reset();
    pendingLookup_ = 0;
}

void TcpConnection::lookupComplete(std::uint64_t id, const LookupResult &result)
{
    if (id != pendingLookup_)
        return;
    pendingLookup_ = 0;
    lookup_.reset();
    if (result.ErrorCode != 0) {
        int code = result.ErrorCode;
        Error(this, errLookup, code);
        Disconnect(socket_);
        if (code != 0)
            throw SocketError(SocketErrorMessage(code, "ASync Lookup"));
        return;
    }
    try {
        if (lookupState_ == LookupState::Address) {
            addr_.sin_addr.s_addr = result.Address;
            continueWithService(lookupService_, lookupPort_, lookupClient_, lookupQueueSize_);
        } else if (lookupState_ == LookupState::Service) {
            addr_.sin_port = result.Port;
            lookupPort_ = 0;
            lookupService_.clear();
            finishOpen(lookupClient_, lookupQueueSize_);
        }
    } catch (...) {
        closeAfterFailedStart();
        throw;
    }
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
