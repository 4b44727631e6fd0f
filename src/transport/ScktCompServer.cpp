#include "transport/ScktCompServer.h"

#include <chrono>

#include <QMutexLocker>
#include <QPointer>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace {

class SocketLock {
public:
    explicit SocketLock(TCustomWinSocket &socket)
        : socket_(socket)
    {
        socket_.Lock();
    }
    ~SocketLock() { socket_.Unlock(); }
    SocketLock(const SocketLock &) = delete;
    SocketLock &operator=(const SocketLock &) = delete;

private:
    TCustomWinSocket &socket_;
};

void fire(const TSocketNotifyEvent &slot, QObject *sender, TCustomWinSocket *socket)
{
    if (!slot)
        return;
    const TSocketNotifyEvent handler = slot; // the handler may rebind the slot
    handler(sender, socket);
}

} // namespace

// ---- accepted peers -----------------------------------------------------------

TServerClientWinSocket::TServerClientWinSocket(int Socket, TServerWinSocket *ServerWinSocket)
    : TCustomWinSocket(Socket)
    , server_(ServerWinSocket)
{
    SetEventSink([server = server_](TCustomWinSocket *, TCustomWinSocket *socket, TSocketEventKind kind) {
        server->clientEvent(socket, kind);
    });
    SetErrorSink([server = server_](QObject *, TCustomWinSocket *socket, TErrorEvent kind, int &code) {
        server->clientError(socket, kind, code);
    });
}

void TServerClientWinSocket::start()
{
    SelectNotifications(NotifyRead | NotifyWrite | NotifyConnect | NotifyClose);
    ExpectWriteNotification();
    if (IsConnected())
        Event(this, evConnect);
}

void TServerClientWinSocket::BecameIdle()
{
    if (retired_ && server_ != nullptr)
        server_->requestRelease(this);
}

// ---- the listening object -------------------------------------------------------

TServerWinSocket::TServerWinSocket()
    : TCustomWinSocket(-1)
{
}

TServerWinSocket::~TServerWinSocket()
{
    SetEventSink(nullptr);
    try {
        closeConnections();
        if (IsConnected())
            TCustomWinSocket::Disconnect(SocketHandle());
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

int TServerWinSocket::ConnectionCount()
{
    QMutexLocker locker(&listLock_);
    return int(connections_.size());
}

TServerClientWinSocket *TServerWinSocket::ConnectionAt(int Index)
{
    QMutexLocker locker(&listLock_);
    if (Index < 0 || Index >= int(connections_.size()))
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(Index));
    return connections_[size_t(Index)].get();
}

void TServerWinSocket::Accept(int Socket)
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

bool TServerWinSocket::acceptOne(int Socket)
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
    std::unique_ptr<TServerClientWinSocket> owned;
    if (OnGetSocket) {
        const TGetSocketEvent handler = OnGetSocket;
        handler(this, handle, owned);
    }
    if (!owned)
        owned = std::make_unique<TServerClientWinSocket>(handle, this);
    TServerClientWinSocket *client = owned.get();
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
void TServerWinSocket::Disconnect(int Socket)
{
    SocketLock locker(*this);
    closeConnections();
    TCustomWinSocket::Disconnect(Socket);
}

void TServerWinSocket::closeConnections()
{
    QMutexLocker locker(&listLock_);
    while (!connections_.empty())
        release(connections_.back().get());
}

void TServerWinSocket::clientEvent(TCustomWinSocket *Socket, TSocketEventKind SocketEvent)
{
    switch (SocketEvent) {
    case evConnect:
        fire(OnClientConnect, this, Socket);
        break;
    case evDisconnect: {
        auto *client = static_cast<TServerClientWinSocket *>(Socket);
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

void TServerWinSocket::clientError(TCustomWinSocket *Socket, TErrorEvent ErrorEvent, int &ErrorCode)
{
    if (!OnClientError)
        return;
    const TSocketErrorEvent handler = OnClientError;
    handler(this, Socket, ErrorEvent, ErrorCode);
}

// Deferred destruction: the peer stays listed (closed) until the event loop
// comes round again; if the server destroys it first, the request lapses.
void TServerWinSocket::requestRelease(TServerClientWinSocket *client)
{
    QMetaObject::invokeMethod(
        this,
        [this, peer = QPointer<TServerClientWinSocket>(client)] {
            Guarded([&] {
                if (peer)
                    release(peer);
            });
        },
        Qt::QueuedConnection);
}

// Destroys a peer, unless one of its own events is being handled: then it
// leaves the list at once, falls silent, and goes when that event returns.
void TServerWinSocket::release(TServerClientWinSocket *client)
{
    QMutexLocker locker(&listLock_);
    std::unique_ptr<TServerClientWinSocket> owned;
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
