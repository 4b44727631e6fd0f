// The opening sequence of a connection object: open (connect) and listen
// start from a fresh handle and may wait for a host lookup and then a service
// lookup on a worker thread before they connect or listen. Each step that
// waits returns to the event loop; lookupComplete picks up where it left.
//
//   open(name, address, service, port)
//     | name given: startLookup(host) ... lookupComplete sets the address
//     v
//   continueWithService
//     | service given: startLookup(service) ... lookupComplete sets the port
//     v
//   finishOpen --> connectNow (client) or listenNow (server)
//
// listen skips the host step: a server listens on every interface.
// A failure on the way closes the handle (closeAfterFailedStart) and raises.

#include "net/tcp/tcpconnection.h"

#include "net/tcp/hostlookup.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

namespace {

std::uint64_t nextLookupId()
{
    static std::uint64_t last = 0;
    return ++last;
}

} // namespace

bool TcpConnection::isOpening() const
{
    return !connected_ && (pendingLookup_ != 0 || (watch_ && watch_->isConnectPending()));
}

void TcpConnection::closeAfterFailedStart() noexcept
{
    try {
        handleDisconnect(socket_);
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

void TcpConnection::open(
    const QString &name, const QString &address, const QString &service, std::uint16_t port, bool client)
{
    if (connected_)
        throw SocketError(QStringLiteral("Socket already open"));
    takeNewHandle();
    try {
        raiseEvent(this, TcpEvent::Lookup);
        if (!name.isEmpty()) {
            lookupService_ = service;
            lookupPort_ = port;
            lookupClient_ = client;
            lookupQueueSize_ = 0;
            lookupState_ = LookupState::address;
            startLookup(true, name);
            return;
        }
        if (address.isEmpty()) {
            int code = NoAddressErrorCode;
            raiseError(this, TcpErrorKind::Lookup, code);
            handleDisconnect(socket_);
            if (code != 0)
                throw SocketError(QStringLiteral("No address specified"));
            return;
        }
        addr_.sin_addr.s_addr = ::inet_addr(address.toLatin1().constData());
        lookupState_ = LookupState::address;
        continueWithService(service, port, client, 0);
    } catch (const SocketError &e) {
        closeAfterFailedStart();
        if (client && e.code() != 0)
            emit connectFailed(this, e.code());
        throw;
    } catch (...) {
        closeAfterFailedStart();
        throw;
    }
}

void TcpConnection::listen(
    const QString &, const QString &, const QString &service, std::uint16_t port, int queueSize)
{
    if (connected_)
        throw SocketError(QStringLiteral("Can't listen on an open socket"));
    takeNewHandle();
    try {
        raiseEvent(this, TcpEvent::Lookup);
        addr_.sin_addr.s_addr = htonl(INADDR_ANY);
        lookupState_ = LookupState::address;
        continueWithService(service, port, false, queueSize);
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
        lookupState_ = LookupState::service;
        startLookup(false, service);
        return;
    }
    addr_.sin_port = htons(port);
    lookupState_ = LookupState::service;
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
    selectNotifications(NotifyRead | NotifyWrite | NotifyConnect | NotifyClose);
    raiseEvent(this, TcpEvent::Connecting);
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
    selectNotifications(NotifyAccept);
    raiseEvent(this, TcpEvent::Listening);
    if (::listen(socket_, queueSize) != 0)
        checkSocketResult(errno, "listen");
    setConnected(true);
}

// ---- lookups ------------------------------------------------------------------

void TcpConnection::startLookup(bool host, const QString &name)
{
    const std::uint64_t id = nextLookupId();
    auto done = [this, id](const LookupResult &result) { Guarded([&] { lookupComplete(id, result); }); };
    try {
        lookup_ = host ? HostLookup::startHost(this, name, std::move(done))
                       : HostLookup::startService(this, name, std::move(done));
    } catch (const std::system_error &e) {
        throw SocketError(
            SocketErrorMessage(e.code().value(), host ? "WSAASyncGetHostByName" : "WSAASyncGetServByName"),
            e.code().value());
    }
    pendingLookup_ = id;
}

void TcpConnection::cancelLookup()
{
    if (pendingLookup_ == 0)
        return;
    lookup_->cancel();
    lookup_.reset();
    pendingLookup_ = 0;
}

void TcpConnection::lookupComplete(std::uint64_t id, const LookupResult &result)
{
    if (id != pendingLookup_)
        return;
    pendingLookup_ = 0;
    lookup_.reset();
    if (result.errorCode != 0) {
        int code = result.errorCode;
        raiseError(this, TcpErrorKind::Lookup, code);
        handleDisconnect(socket_);
        if (lookupClient_)
            emit connectFailed(this, result.errorCode);
        if (code != 0)
            throw SocketError(SocketErrorMessage(code, "ASync Lookup"), code);
        return;
    }
    try {
        if (lookupState_ == LookupState::address) {
            addr_.sin_addr.s_addr = result.address;
            continueWithService(lookupService_, lookupPort_, lookupClient_, lookupQueueSize_);
        } else if (lookupState_ == LookupState::service) {
            addr_.sin_port = result.port;
            lookupPort_ = 0;
            lookupService_.clear();
            finishOpen(lookupClient_, lookupQueueSize_);
        }
    } catch (const SocketError &e) {
        closeAfterFailedStart();
        if (lookupClient_ && e.code() != 0)
            emit connectFailed(this, e.code());
        throw;
    } catch (...) {
        closeAfterFailedStart();
        throw;
    }
}
