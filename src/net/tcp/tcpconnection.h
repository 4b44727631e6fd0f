#pragma once
// The connection objects of the TCP components: one non-blocking stream
// socket each, whose readiness is turned into socket events on the UI thread.

#include "core/errors.h"
#include "net/tcp/readinesswatch.h"

#include <QByteArray>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <netinet/in.h>

#include <cstdint>
#include <memory>

class HostLookup;
struct LookupResult;
class TcpConnection;

enum class TcpEvent { Lookup, Connecting, Connected, Disconnected, Listening, Accepted, Writable, Readable };
enum class TcpErrorKind { General, Send, Receive, Connect, Disconnect, Accept, Lookup };

// The message is the one the window's error box shows; code is the
// platform's (an errno value or a negative resolver code, 0 when the failure
// has none), for a view that says what went wrong in words of its own.
class SocketError : public Exception {
public:
    explicit SocketError(const QString &message, int code = 0)
        : Exception(message)
        , code_(code)
    {
    }
    [[nodiscard]] int code() const noexcept { return code_; }

private:
    int code_;
};

// The error code reported when a client has neither a host nor an address.
inline constexpr int NoAddressErrorCode = 1110;

// Urgent (out-of-band) bytes arrive in the stream like any other byte.
void ReadUrgentDataInline(int handle);

// "Windows socket error: <text> (<code>), on API '<api>'"
[[nodiscard]] QString SocketErrorMessage(int code, const char *api);

// Base of every connection object.
//
// Ownership and threading: owns its socket handle, its readiness watch, its
// lock and any pending lookup. Owned by its component, or, for an accepted
// peer, by the server object that accepted it. UI thread only; the lock is
// re-entrant so event handlers may call back into the same object.
//
// It reports through socketEvent and socketError (an accepted peer hands
// them to its listener instead), emitted inside its own notification
// handling: receivers run before the notification returns
// (the busy count that keeps a peer alive under its own handler relies on
// it), so connect them directly, never queued. A receiver may throw; the
// exception reaches whoever raised the event.
class TcpConnection : public QObject, public ReadinessClient {
    Q_OBJECT

public:
    // What bytesAvailable(), and so one readAvailable(), reports at most of
    // the data waiting.
    static constexpr int MaxReceiveLength = 256 * 1024;
    // What readAvailable() tries to read when nothing is counted as waiting.
    static constexpr int ReceiveProbeLength = 64 * 1024;

    explicit TcpConnection(int handle);
    ~TcpConnection() override;

    // Connects (client) or listens; used by the components' activation.
    void open(
        const QString &name, const QString &address, const QString &service, std::uint16_t port, bool client);
    void listen(const QString &name, const QString &address, const QString &service, std::uint16_t port,
        int queueSize);
    void close();

    int send(const void *data, int count);
    int send(const QByteArray &data);
    // Bytes waiting to be read, at most MaxReceiveLength; 0 when not connected.
    [[nodiscard]] int bytesAvailable();
    int receive(void *data, int count);
    QByteArray readAvailable();

    [[nodiscard]] int localPort();
    [[nodiscard]] QString peerAddress();
    [[nodiscard]] int peerPort();

    [[nodiscard]] int socketHandle() const { return socket_; }
    [[nodiscard]] bool isConnected() const { return connected_; }
    // A host lookup or a connect is under way.
    [[nodiscard]] bool isOpening() const;

    void lock() { lock_.lock(); }
    void unlock() { lock_.unlock(); }

signals:
    // One event of this object; socket is this object, or for Accepted the
    // peer just accepted. Its component (or, for an accepted peer, its
    // listener) turns these into signals of its own.
    void socketEvent(TcpConnection *socket, TcpEvent socketEvent);
    // A failure; a receiver that sets errorCode to 0 swallows it (a cleared
    // close, for one, leaves the handle open), otherwise it is raised as
    // SocketError. The reference works through direct connections only:
    // connect with Qt::DirectConnection.
    void socketError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode);
    // A client's attempt ended without a connection: the host lookup or the
    // connect failed, with the platform's code (an errno value or a negative
    // resolver code). Told after socketError, whether or not its receiver
    // cleared the code: the window shows nothing for a failed connect, a run
    // without a window reports it.
    void connectFailed(TcpConnection *socket, int errorCode);

protected:
    // One per kind of notification, each for the handle it was raised for.
    virtual void handleAccept(int socket);
    virtual void handleConnect(int socket);
    virtual void handleDisconnect(int socket);
    virtual void handleRead(int socket);
    virtual void handleWrite(int socket);

    void raiseEvent(TcpConnection *socket, TcpEvent socketEvent);
    // Where raised events and errors go: this object's signals, unless a
    // subclass hands them on itself.
    virtual void deliverEvent(TcpConnection *socket, TcpEvent event);
    virtual void deliverError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode);
    void raiseError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode);

    // Handles one readiness notification; errorCode 0 means none.
    void handleNotification(int socket, int notification, int errorCode) override;

    // Registers the current handle for the notifications in mask.
    void selectNotifications(int mask);
    void setConnected(bool value);
    // A freshly connected handle can take data: one write notification.
    void expectWriteNotification();
    // A send would have blocked: one write notification once there is room.
    void awaitRoom();
    void pauseAcceptNotifications(int milliseconds);

    // True while one of this object's events is being handled.
    [[nodiscard]] bool isBusy() const { return busy_ > 0; }
    // Called when the last running event of this object has returned.
    virtual void becameIdle() { }
    // No more events or notifications from this object.
    void silence();
    // No more events from this object; the handle stays watched (for a
    // destructor that still closes it).
    void muteEvents() { muted_ = true; }

private:
    friend class TcpListener; // retires and silences the peers it accepted

    enum class LookupState { Idle, address, service };

    // Synchronous calls: would-block is not a failure, anything else raises.
    static void checkSocketResult(int code, const char *api);

    void replaceHandle(int handle);
    int closeHandle();
    ReadinessWatch *watch();
    // The peer's address, under the lock; raises "getpeername" on failure.
    void peerSocketAddress(sockaddr_in &peer);

    // The opening sequence (connectsequence.cpp).
    // A fresh non-blocking handle in place of the old one (and of any lookup).
    void takeNewHandle();
    void cancelLookup();
    void startLookup(bool host, const QString &name);
    void lookupComplete(std::uint64_t id, const LookupResult &result);
    void continueWithService(const QString &service, std::uint16_t port, bool client, int queueSize);
    void finishOpen(bool client, int queueSize);
    void connectNow();
    void listenNow(int queueSize);
    void closeAfterFailedStart() noexcept;

    int socket_ = -1;
    bool connected_ = false;
    sockaddr_in addr_{};
    int mask_ = NotifyRead | NotifyWrite | NotifyConnect | NotifyClose;
    // Where an accepted handle came from, as accept() told it: a peer that
    // resets before its acceptance is handled leaves getpeername() nothing
    // to say, yet its endpoint is still made and shown under that address.
    sockaddr_in acceptedPeer_{};
    bool acceptedPeerKnown_ = false;

    LookupState lookupState_ = LookupState::Idle;
    std::uint64_t pendingLookup_ = 0;
    std::shared_ptr<HostLookup> lookup_;
    QString lookupService_;
    std::uint16_t lookupPort_ = 0;
    bool lookupClient_ = false;
    int lookupQueueSize_ = 0;

    QRecursiveMutex lock_;
    bool muted_ = false; // silenced or on its way out: nothing is emitted
    ReadinessWatch *watch_ = nullptr; // child QObject, made when first needed

    int busy_ = 0;
    bool disconnecting_ = false;
};

// The connection object of a client component.
//
// Ownership and threading: as TcpConnection; owned by its TcpClient.
class TcpClientConnection : public TcpConnection {
    Q_OBJECT

public:
    TcpClientConnection()
        : TcpConnection(-1)
    {
    }

protected:
    void handleConnect(int socket) override;
};
