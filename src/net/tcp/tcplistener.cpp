#include "net/tcp/tcplistener.h"

#include <chrono>

#include <QMutexLocker>
#include <QPointer>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace {

class SocketLock {
public:
    explicit SocketLock(TcpConnection &socket)
        : socket_(socket)
    {
        socket_.Lock();
    }
    ~SocketLock() { socket_.Unlock(); }
    SocketLock(const SocketLock &) = delete;
    SocketLock &operator=(const SocketLock &) = delete;

private:
    TcpConnection &socket_;
};

void fire(const TcpNotifyHandler &slot, QObject *sender, TcpConnection *socket)
{
    if (!slot)
        return;
    const TcpNotifyHandler handler = slot; // the handler may rebind the slot
    handler(sender, socket);
}

} // namespace

// ---- accepted peers -----------------------------------------------------------

TcpPeerConnection::TcpPeerConnection(int Socket, TcpListener *ServerWinSocket)
    : TcpConnection(Socket)
    , server_(ServerWinSocket)
{
    SetEventSink([server = server_](TcpConnection *, TcpConnection *socket, TSocketEventKind kind) {
        server->clientEvent(socket, kind);
    });
    SetErrorSink([server = server_](QObject *, TcpConnection *socket, TErrorEvent kind, int &code) {
        server->clientError(socket, kind, code);
    });
}

void TcpPeerConnection::start()
{
    SelectNotifications(NotifyRead | NotifyWrite | NotifyConnect | NotifyClose);
    ExpectWriteNotification();
    if (IsConnected())
        Event(this, evConnect);
}

void TcpPeerConnection::BecameIdle()
{
    if (retired_ && server_ != nullptr)
        server_->requestRelease(this);
}

// ---- the listening object -------------------------------------------------------

TcpListener::TcpListener()
    : TcpConnection(-1)
{
}

TcpListener::~TcpListener()
{
    SetEventSink(nullptr);
    try {
        closeConnections();
        if (IsConnected())
            TcpConnection::Disconnect(SocketHandle());
    } catch (...) {
        // Nothing may leave a destructor; the handles are closed either way.
    }
    // A peer whose own handler destroyed the server (through the component)
    // is still on the stack: it goes on a later pass of the event loop.
    for (auto &peer : retired_) {
        if (peer->Busy()) {
            peer->server_ = nullptr;
            peer.release()->deleteLater();
        }
    }
}

int TcpListener::ConnectionCount()
{
    QMutexLocker locker(&listLock_);
    return int(connections_.size());
}

TcpPeerConnection *TcpListener::ConnectionAt(int Index)
{
    QMutexLocker locker(&listLock_);
    if (Index < 0 || Index >= int(connections_.size()))
        throw IndexError(QStringLiteral("List index out of bounds (%1)").arg(Index));
    return connections_[size_t(Index)].get();
}

void TcpListener::Accept(int Socket)
{
    // A burst of connects is taken in batches bounded in count and time: the
    // screen is redrawn once per batch instead of once per peer, and the rest
    // of the program still gets its turn between batches. A handler that
    // closes the server ends the batch.
    const auto deadline = std::chrono::steady_clock::now() + MaxAcceptTimePerWakeUp;
    for (int taken = 0; taken < MaxAcceptsPerWakeUp; ++taken) {
        if (Socket == -1 || Socket != SocketHandle() || !acceptOne(Socket))
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
    }
    // More may be waiting. The handle is still readable, and asked again
    // straight away it would take the next batch before the timers that fell
    // due meanwhile (a repeated send, a timed send) get their turn.
    if (Socket == SocketHandle())
        PauseAcceptNotifications(0);
}

bool TcpListener::acceptOne(int Socket)
{
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const int handle
        = ::accept4(Socket, reinterpret_cast<sockaddr *>(&from), &fromSize, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (handle == -1) {
        // Out of descriptors or kernel memory: the peers stay in the listen
        // queue and the handle stays readable, so asking again at once would
        // spin the loop until something is closed.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            PauseAcceptNotifications(AcceptRetryAfterExhaustion);
        return false;
    }
    ReadUrgentDataInline(handle);
    std::unique_ptr<TcpPeerConnection> owned;
    if (OnGetSocket) {
        const TcpPeerFactory handler = OnGetSocket;
        handler(this, handle, owned);
    }
    if (!owned)
        owned = std::make_unique<TcpPeerConnection>(handle, this);
    TcpPeerConnection *client = owned.get();
    if (from.sin_family == AF_INET) {
        client->acceptedPeer_ = from;
        client->acceptedPeerKnown_ = true;
    }
    {
        QMutexLocker locker(&listLock_);
        connections_.push_back(std::move(owned));
    }
    client->start();
    Event(client, evAccept);
    return true;
}

// Closing the server: the accepted peers go first, silently (last first),
// then the listening handle with its own disconnection event.
void TcpListener::Disconnect(int Socket)
{
    SocketLock locker(*this);
    closeConnections();
    TcpConnection::Disconnect(Socket);
}

void TcpListener::closeConnections()
{
    QMutexLocker locker(&listLock_);
    while (!connections_.empty())
        release(connections_.back().get());
}

void TcpListener::clientEvent(TcpConnection *Socket, TSocketEventKind SocketEvent)
{
    switch (SocketEvent) {
    case evConnect:
        fire(OnClientConnect, this, Socket);
        break;
    case evDisconnect: {
        auto *client = static_cast<TcpPeerConnection *>(Socket);
        try {
            fire(OnClientDisconnect, this, Socket);
        } catch (...) {
            requestRelease(client);
            throw;
        }
        requestRelease(client);
        break;
    }
    case evWrite:
        fire(OnClientWrite, this, Socket);
        break;
    case evRead:
        fire(OnClientRead, this, Socket);
        break;
    default:
        break;
    }
}

void TcpListener::clientError(TcpConnection *Socket, TErrorEvent ErrorEvent, int &ErrorCode)
{
    if (!OnClientError)
        return;
    const TcpErrorHandler handler = OnClientError;
    handler(this, Socket, ErrorEvent, ErrorCode);
}

// Deferred destruction: the peer stays listed (closed) until the event loop
// comes round again; if the server destroys it first, the request lapses.
void TcpListener::requestRelease(TcpPeerConnection *client)
{
    QMetaObject::invokeMethod(
        this,
        [this, peer = QPointer<TcpPeerConnection>(client)] {
            Guarded([&] {
                if (peer)
                    release(peer);
            });
        },
        Qt::QueuedConnection);
}

// Destroys a peer, unless one of its own events is being handled: then it
// leaves the list at once, falls silent, and goes when that event returns.
void TcpListener::release(TcpPeerConnection *client)
{
    QMutexLocker locker(&listLock_);
    std::unique_ptr<TcpPeerConnection> owned;
    for (auto *list : {&connections_, &retired_}) {
        const auto found = std::find_if(
            list->begin(), list->end(), [client](const auto &entry) { return entry.get() == client; });
        if (found != list->end()) {
            owned = std::move(*found);
            list->erase(found);
            break;
        }
    }
    if (!owned)
        return;
    if (client->Busy()) {
        client->Silence();
        client->retired_ = true;
        retired_.push_back(std::move(owned));
        return;
    }
    owned.reset();
}
