#pragma once
// The listening side of the TCP components: the server's connection object
// and the connection objects of the peers it accepts.

#include "net/tcp/tcpconnection.h"

#include <chrono>
#include <memory>
#include <vector>

class TcpPeerConnection;
class TcpListener;

// A handler may supply the object for a newly accepted handle; left empty,
// the server makes a plain TcpPeerConnection.
using TcpPeerFactory
    = std::function<void(QObject *Sender, int Socket, std::unique_ptr<TcpPeerConnection> &ClientSocket)>;

// The connection object of one accepted peer.
//
// Ownership and threading: owned by the TcpListener that accepted it,
// which destroys it on a later pass of the event loop after its
// disconnection, or when the server closes. UI thread only.
class TcpPeerConnection : public TcpConnection {
    Q_OBJECT

public:
    TcpPeerConnection(int Socket, TcpListener *ServerWinSocket);

    [[nodiscard]] TcpListener *ServerWinSocket() const { return server_; }

protected:
    void BecameIdle() override;

private:
    friend class TcpListener;
    void start();

    TcpListener *server_;
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

    [[nodiscard]] int ConnectionCount();
    // Raises IndexError for an index outside the list.
    [[nodiscard]] TcpPeerConnection *ConnectionAt(int Index);

    // Peers taken per accept notification at most, and the time after which
    // no further one is taken in the same notification.
    static constexpr int MaxAcceptsPerWakeUp = 64;
    static constexpr std::chrono::milliseconds MaxAcceptTimePerWakeUp{20};
    // How long accepting rests when the process has no descriptor left.
    static constexpr int AcceptRetryAfterExhaustion = 100;

    TcpPeerFactory OnGetSocket;
    TcpNotifyHandler OnClientRead;
    TcpNotifyHandler OnClientWrite;
    TcpNotifyHandler OnClientConnect;
    TcpNotifyHandler OnClientDisconnect;
    TcpErrorHandler OnClientError;

protected:
    void Accept(int Socket) override;
    void Disconnect(int Socket) override;

private:
    // Accepts one waiting peer; false when none was waiting.
    bool acceptOne(int Socket);
    friend class TcpPeerConnection;

    void clientEvent(TcpConnection *Socket, TSocketEventKind SocketEvent);
    void clientError(TcpConnection *Socket, TErrorEvent ErrorEvent, int &ErrorCode);
    void requestRelease(TcpPeerConnection *client);
    void release(TcpPeerConnection *client);
    void closeConnections();

    std::vector<std::unique_ptr<TcpPeerConnection>> connections_;
    std::vector<std::unique_ptr<TcpPeerConnection>> retired_;
    QRecursiveMutex listLock_;
};

// The list's index error.
class IndexError : public Exception {
public:
    using Exception::Exception;
};
