#pragma once
// The listening side of the TCP components: the server's connection object
// and the connection objects of the peers it accepts.

#include "net/tcp/tcpconnection.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class TcpPeerConnection;
class TcpListener;

// A handler may supply the object for a newly accepted handle; left empty,
// the server makes a plain TcpPeerConnection.
using TcpPeerFactory
    = std::function<void(QObject *sender, int socket, std::unique_ptr<TcpPeerConnection> &peer)>;

// The connection object of one accepted peer.
//
// Ownership and threading: owned by the TcpListener that accepted it,
// which destroys it on a later pass of the event loop after its
// disconnection, or when the server closes. UI thread only.
class TcpPeerConnection : public TcpConnection {
    Q_OBJECT

public:
    TcpPeerConnection(int socket, TcpListener *listener);

    [[nodiscard]] TcpListener *listener() const { return listener_; }

protected:
    void becameIdle() override;
    void deliverEvent(TcpConnection *socket, TcpEvent event) override;
    void deliverError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode) override;

private:
    friend class TcpListener;
    void start();

    TcpListener *listener_;
    bool retired_ = false; // out of the list, waiting for its running event to return
};

// The listening connection object of a server component.
//
// Ownership and threading: owns the accepted connection objects, in the
// order of acceptance. Owned by its TcpServer. UI thread only.
class TcpListener : public TcpConnection {
    Q_OBJECT

public:
    TcpListener();
    ~TcpListener() override;

    [[nodiscard]] int peerCount();
    // Raises IndexError for an index outside the list.
    [[nodiscard]] TcpPeerConnection *peerAt(int index);

    // Peers taken per accept notification at most, and the time after which
    // no further one is taken in the same notification.
    static constexpr int MaxAcceptsPerWakeUp = 1024;
    static constexpr std::chrono::milliseconds MaxAcceptTimePerWakeUp{20};
    // How long accepting rests when the process has no descriptor left.
    static constexpr int AcceptRetryAfterExhaustion = 100;
    // Descriptors peers never take (an eighth of the limit, at most this
    // many): the toolkit starts threads to paint, each needs descriptors for
    // its event loop, and without them the whole program aborts.
    static constexpr int MaxDescriptorReserve = 128;

    // UI thread only.
    void setPeerFactory(TcpPeerFactory f) { peerFactory_ = std::move(f); }

signals:
    // The accepted peers' events, emitted while the peer handles its
    // notification (connect directly; see TcpConnection). A peer is listed
    // before its peerConnected, and goes on a later pass of the event loop
    // after its peerDisconnected.
    void peerConnected(TcpConnection *peer);
    void peerDisconnected(TcpConnection *peer);
    void peerReadable(TcpConnection *peer);
    void peerWritable(TcpConnection *peer);
    // As TcpConnection::socketError: errorCode set to 0 swallows the error;
    // direct connections only.
    void peerErrorOccurred(TcpConnection *peer, TcpErrorKind errorEvent, int &errorCode);
    // Accepting failed, or stopped short of the reserve, because the process
    // or the system ran out of descriptors (the errno is passed). Told once,
    // and again only after a peer was accepted in between; accepting rests
    // and retries meanwhile.
    void descriptorsExhausted(int error);

protected:
    void handleAccept(int socket) override;
    void handleDisconnect(int socket) override;

private:
    // Accepts one waiting peer; false when none was waiting or accepting
    // must rest.
    bool acceptOne(int socket);
    [[nodiscard]] static int descriptorReserve();
    // Whether the lowest free descriptor lies below the reserve.
    [[nodiscard]] static bool reserveIsFree(int socket);
    // Rests accepting for a while; tells the first time of an episode.
    void restForDescriptors(int error);
    friend class TcpPeerConnection;

    void clientEvent(TcpConnection *socket, TcpEvent socketEvent);
    void clientError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode);
    void requestRelease(TcpPeerConnection *client);
    void release(TcpPeerConnection *client);
    void closeConnections();

    std::vector<std::unique_ptr<TcpPeerConnection>> connections_;
    std::vector<std::unique_ptr<TcpPeerConnection>> retired_;
    QRecursiveMutex listLock_;
    TcpPeerFactory peerFactory_;
    bool descriptorsExhausted_ = false;
};

// The list's index error.
class IndexError : public Exception {
public:
    using Exception::Exception;
};
