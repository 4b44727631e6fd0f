#include "net/tcp/tcplistener.h"

#include "net/descriptorlimit.h"

#include <chrono>

#include <QMutexLocker>
#include <QPointer>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

class SocketLock {
public:
    explicit SocketLock(TcpConnection &socket)
        : socket_(socket)
    {
        socket_.lock();
    }
    ~SocketLock() { socket_.unlock(); }
    SocketLock(const SocketLock &) = delete;
    SocketLock &operator=(const SocketLock &) = delete;

private:
    TcpConnection &socket_;
};

} // namespace

// ---- accepted peers -----------------------------------------------------------

TcpPeerConnection::TcpPeerConnection(int socket, TcpListener *listener)
    : TcpConnection(socket)
    , listener_(listener)
{
}

// Straight to the listener, without a signal: two connections for each of
// ten thousand peers would cost more memory than the peers' own state.
void TcpPeerConnection::deliverEvent(TcpConnection *socket, TcpEvent event)
{
    listener_->clientEvent(socket, event);
}

void TcpPeerConnection::deliverError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode)
{
    listener_->clientError(socket, errorEvent, errorCode);
}

void TcpPeerConnection::start()
{
    selectNotifications(NotifyRead | NotifyWrite | NotifyConnect | NotifyClose);
    expectWriteNotification();
    if (isConnected())
        raiseEvent(this, TcpEvent::Connected);
}

void TcpPeerConnection::becameIdle()
{
    if (retired_ && listener_ != nullptr)
        listener_->requestRelease(this);
}

// ---- the listening object -------------------------------------------------------

TcpListener::TcpListener()
    : TcpConnection(-1)
{
}

TcpListener::~TcpListener()
{
    muteEvents();
    try {
        closeConnections();
        if (isConnected())
            TcpConnection::handleDisconnect(socketHandle());
    } catch (...) {
        // Nothing may leave a destructor; the handles are closed either way.
    }
    // A peer whose own handler destroyed the server (through the component)
    // is still on the stack: it goes on a later pass of the event loop.
    for (auto &peer : retired_) {
        if (peer->isBusy()) {
            peer->listener_ = nullptr;
            peer.release()->deleteLater();
        }
    }
}

int TcpListener::peerCount()
{
    QMutexLocker locker(&listLock_);
    return int(connections_.size());
}

TcpPeerConnection *TcpListener::peerAt(int index)
{
    QMutexLocker locker(&listLock_);
    if (index < 0 || index >= int(connections_.size()))
        throw IndexError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return connections_[size_t(index)].get();
}

void TcpListener::handleAccept(int socket)
{
    // A burst of connects is taken in batches bounded in count and time: the
    // screen is redrawn once per batch instead of once per peer, and the rest
    // of the program still gets its turn between batches. A handler that
    // closes the server ends the batch.
    const auto deadline = std::chrono::steady_clock::now() + MaxAcceptTimePerWakeUp;
    for (int taken = 0; taken < MaxAcceptsPerWakeUp; ++taken) {
        if (socket == -1 || socket != socketHandle() || !acceptOne(socket))
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
    }
    // More may be waiting. The handle is still readable, and asked again
    // straight away it would take the next batch before the timers that fell
    // due meanwhile (a repeated send, a timed send) get their turn.
    if (socket == socketHandle())
        pauseAcceptNotifications(0);
}

bool TcpListener::acceptOne(int socket)
{
    // While accepting rests for want of descriptors, a retry first looks
    // whether the reserve is whole again, so that no peer is taken into it.
    if (descriptorsExhausted_ && !reserveIsFree(socket)) {
        restForDescriptors(EMFILE);
        return false;
    }
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const int handle
        = ::accept4(socket, reinterpret_cast<sockaddr *>(&from), &fromSize, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (handle == -1) {
        // Out of descriptors or kernel memory: the peers stay in the listen
        // queue and the handle stays readable, so asking again at once would
        // spin the loop until something is closed.
        const int error = errno;
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM)
            restForDescriptors(error);
        return false;
    }
    // Descriptors are handed out lowest first: a handle this high means the
    // reserve is being eaten into. The peer is kept, but no further one.
    const bool intoReserve = handle >= descriptorLimit() - descriptorReserve();
    if (!intoReserve)
        descriptorsExhausted_ = false;
    ReadUrgentDataInline(handle);
    std::unique_ptr<TcpPeerConnection> owned;
    if (peerFactory_) {
        const TcpPeerFactory handler = peerFactory_;
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
    raiseEvent(client, TcpEvent::Accepted);
    if (intoReserve) {
        if (socket == socketHandle())
            restForDescriptors(EMFILE);
        return false;
    }
    return true;
}

int TcpListener::descriptorReserve()
{
    return std::min(MaxDescriptorReserve, descriptorLimit() / 8);
}

bool TcpListener::reserveIsFree(int socket)
{
    const int lowestFree = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
    if (lowestFree == -1)
        return false;
    ::close(lowestFree);
    return lowestFree < descriptorLimit() - descriptorReserve();
}

void TcpListener::restForDescriptors(int error)
{
    pauseAcceptNotifications(AcceptRetryAfterExhaustion);
    const bool firstOfEpisode = !descriptorsExhausted_;
    descriptorsExhausted_ = true;
    if (firstOfEpisode && (error == EMFILE || error == ENFILE))
        emit descriptorsExhausted(error);
}

// Closing the server: the accepted peers go first, silently (last first),
// then the listening handle with its own disconnection event.
void TcpListener::handleDisconnect(int socket)
{
    SocketLock locker(*this);
    closeConnections();
    TcpConnection::handleDisconnect(socket);
}

void TcpListener::closeConnections()
{
    QMutexLocker locker(&listLock_);
    // Oldest first: the event loop finds the oldest handles first when it
    // stops watching them, so ten thousand peers go in linear time.
    while (!connections_.empty())
        release(connections_.front().get());
}

void TcpListener::clientEvent(TcpConnection *socket, TcpEvent socketEvent)
{
    switch (socketEvent) {
    case TcpEvent::Connected:
        emit peerConnected(socket);
        break;
    case TcpEvent::Disconnected: {
        auto *client = static_cast<TcpPeerConnection *>(socket);
        try {
            emit peerDisconnected(socket);
        } catch (...) {
            requestRelease(client);
            throw;
        }
        requestRelease(client);
        break;
    }
    case TcpEvent::Writable:
        emit peerWritable(socket);
        break;
    case TcpEvent::Readable:
        emit peerReadable(socket);
        break;
    default:
        break;
    }
}

void TcpListener::clientError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode)
{
    emit peerErrorOccurred(socket, errorEvent, errorCode);
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
    if (client->isBusy()) {
        client->silence();
        client->retired_ = true;
        retired_.push_back(std::move(owned));
        return;
    }
    owned.reset();
}
