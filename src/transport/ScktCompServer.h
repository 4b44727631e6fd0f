#pragma once
// The listening side of the TCP components: the server's connection object
// and the connection objects of the peers it accepts.

#include "transport/ScktCompWinSocket.h"

#include <chrono>
#include <memory>
#include <vector>

class TServerClientWinSocket;
class TServerWinSocket;

// A handler may supply the object for a newly accepted handle; left empty,
// the server makes a plain TServerClientWinSocket.
using TGetSocketEvent
    = std::function<void(QObject *Sender, int Socket, std::unique_ptr<TServerClientWinSocket> &ClientSocket)>;

// The connection object of one accepted peer.
//
// Ownership and threading: owned by the TServerWinSocket that accepted it,
// which destroys it on a later pass of the event loop after its
// disconnection, or when the server closes. UI thread only.
class TServerClientWinSocket : public TCustomWinSocket {
    Q_OBJECT

public:
    TServerClientWinSocket(int Socket, TServerWinSocket *ServerWinSocket);

    [[nodiscard]] TServerWinSocket *ServerWinSocket() const { return server_; }

protected:
    void BecameIdle() override;

private:
    friend class TServerWinSocket;
    void start();

    TServerWinSocket *server_;
    bool retired_ = false; // out of the list, waiting for its running event to return
};

// The listening connection object of a server component.
//
// Ownership and threading: owns the accepted connection objects, in the
// order of acceptance. Owned by its TServerSocket. UI thread only.
class TServerWinSocket : public TCustomWinSocket {
    Q_OBJECT

public:
    TServerWinSocket();
    ~TServerWinSocket() override;

    [[nodiscard]] int ConnectionCount();
    // Raises EListError for an index outside the list.
    [[nodiscard]] TServerClientWinSocket *ConnectionAt(int Index);

    // Peers taken per accept notification at most, and the time after which
    // no further one is taken in the same notification.
    static constexpr int MaxAcceptsPerWakeUp = 64;
    static constexpr std::chrono::milliseconds MaxAcceptTimePerWakeUp{20};
    // How long accepting rests when the process has no descriptor left.
    static constexpr int AcceptRetryAfterExhaustion = 100;

    [[nodiscard]] TServerType ServerType() const { return stNonBlocking; }
    [[nodiscard]] int ThreadCacheSize() const { return threadCacheSize_; }
    void SetThreadCacheSize(int Value) { threadCacheSize_ = Value; }

    TGetSocketEvent OnGetSocket;
    TSocketNotifyEvent OnClientRead;
    TSocketNotifyEvent OnClientWrite;
    TSocketNotifyEvent OnClientConnect;
    TSocketNotifyEvent OnClientDisconnect;
    TSocketErrorEvent OnClientError;

protected:
    void Accept(int Socket) override;
    void Disconnect(int Socket) override;

private:
    // Accepts one waiting peer; false when none was waiting.
    bool acceptOne(int Socket);
    friend class TServerClientWinSocket;

    void clientEvent(TCustomWinSocket *Socket, TSocketEventKind SocketEvent);
    void clientError(TCustomWinSocket *Socket, TErrorEvent ErrorEvent, int &ErrorCode);
    void requestRelease(TServerClientWinSocket *client);
    void release(TServerClientWinSocket *client);
    void closeConnections();

    std::vector<std::unique_ptr<TServerClientWinSocket>> connections_;
    std::vector<std::unique_ptr<TServerClientWinSocket>> retired_;
    QRecursiveMutex listLock_;
    int threadCacheSize_ = 10;
};

// The list's index error.
class EListError : public Exception {
public:
    using Exception::Exception;
};
