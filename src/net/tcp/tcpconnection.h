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
#include <functional>
#include <memory>

class HostLookup;
struct LookupResult;
class TcpConnection;

enum TSocketEventKind {
    evLookup,
    evConnecting,
    evConnect,
    evDisconnect,
    evListen,
    evAccept,
    evWrite,
    evRead
};
enum TErrorEvent { errGeneral, errSend, errReceive, errConnect, errDisconnect, errAccept, errLookup };

// Sender is the component, or for the client events of a server the
// server's listening connection object.
using TcpNotifyHandler = std::function<void(QObject *Sender, TcpConnection *Socket)>;
using TcpErrorHandler
    = std::function<void(QObject *Sender, TcpConnection *Socket, TErrorEvent ErrorEvent, int &ErrorCode)>;
using TcpEventHandler
    = std::function<void(TcpConnection *Sender, TcpConnection *Socket, TSocketEventKind SocketEvent)>;

class SocketError : public Exception {
public:
    using Exception::Exception;
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
class TcpConnection : public QObject {
    Q_OBJECT

public:
    // What ReceiveBuffer(nullptr, -1), and so one ReceiveString(), reports
    // at most of the data waiting.
    static constexpr int MaxReceiveLength = 256 * 1024;
    // What ReceiveString() tries to read when nothing is counted as waiting.
    static constexpr int ReceiveProbeLength = 64 * 1024;

    explicit TcpConnection(int ASocket);
    ~TcpConnection() override;

    // Connects (Client) or listens; used by the components' activation.
    void Open(
        const QString &Name, const QString &Address, const QString &Service, std::uint16_t Port, bool Client);
    void Listen(const QString &Name, const QString &Address, const QString &Service, std::uint16_t Port,
        int QueueSize);
    void Close();

    int SendBuffer(const void *Buf, int Count);
    int SendString(const QByteArray &S);
    int ReceiveBuffer(void *Buf, int Count);
    QByteArray ReceiveString();

    [[nodiscard]] int QueryLocalPort();
    [[nodiscard]] QString QueryRemoteAddress();
    [[nodiscard]] int QueryRemotePort();

    [[nodiscard]] int SocketHandle() const { return socket_; }
    [[nodiscard]] bool IsConnected() const { return connected_; }
    // A host lookup or a connect is under way.
    [[nodiscard]] bool IsOpening() const;
    [[nodiscard]] int NotificationMask() const { return mask_; }

    [[nodiscard]] void *UserData() const { return userData_; }
    void SetUserData(void *Value) { userData_ = Value; }
    [[nodiscard]] TcpErrorHandler ErrorSink() const { return errorSink_; }
    void SetErrorSink(TcpErrorHandler Value) { errorSink_ = std::move(Value); }
    [[nodiscard]] TcpEventHandler EventSink() const { return eventSink_; }
    void SetEventSink(TcpEventHandler Value) { eventSink_ = std::move(Value); }

    void Lock() { lock_.lock(); }
    void Unlock() { lock_.unlock(); }

protected:
    // One per kind of notification, each for the handle it was raised for.
    virtual void Accept(int Socket);
    virtual void Connect(int Socket);
    virtual void Disconnect(int Socket);
    virtual void Read(int Socket);
    virtual void Write(int Socket);

    void Event(TcpConnection *Socket, TSocketEventKind SocketEvent);
    void Error(TcpConnection *Socket, TErrorEvent ErrorEvent, int &ErrorCode);

    // Handles one readiness notification; ErrorCode 0 means none.
    void SocketMessage(int Socket, int Notification, int ErrorCode);

    // Registers the current handle for the notifications in mask.
    void SelectNotifications(int mask);
    void SetConnected(bool value);
    // A freshly connected handle can take data: one write notification.
    void ExpectWriteNotification();
    void PauseAcceptNotifications(int milliseconds);

    // True while one of this object's events is being handled.
    [[nodiscard]] bool Busy() const { return busy_ > 0; }
    // Called when the last running event of this object has returned.
    virtual void BecameIdle() { }
    // No more events or notifications from this object.
    void Silence();

private:
    friend class TcpListener; // retires and silences the peers it accepted

    enum class LookupState { Idle, Address, Service };

    // Synchronous calls: would-block is not a failure, anything else raises.
    static void checkSocketResult(int code, const char *api);

    void replaceHandle(int handle);
    int closeHandle();
    ReadinessWatch *watch();
    // The peer's address, under the lock; raises "getpeername" on failure.
    void peerAddress(sockaddr_in &peer);

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

    TcpEventHandler eventSink_;
    TcpErrorHandler errorSink_;
    QRecursiveMutex lock_;
    void *userData_ = nullptr;
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
    void Connect(int Socket) override;
};
