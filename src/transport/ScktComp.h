#pragma once
// The TCP socket components: TClientSocket connects to a server,
// TServerSocket listens on a port and accepts peers. Both are non-blocking
// and report everything through their events on the UI thread.

#include "transport/ScktCompServer.h"
#include "transport/ScktCompWinSocket.h"

#include <QObject>
#include <QString>

#include <memory>

// Properties shared by both components.
//
// Ownership and threading: owns nothing itself (its subclasses own their
// connection object). UI thread only.
class TAbstractSocket : public QObject {
    Q_OBJECT

public:
    explicit TAbstractSocket(QObject *parent = nullptr);

    // Active becomes true only when the connection or the listening is
    // established (and false at the disconnection); setting it starts or
    // ends that.
    [[nodiscard]] bool Active() const { return active_; }
    void SetActive(bool Value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    // Raise ESocketError "Can't change value while socket is active" while
    // Active, unless the value is unchanged.
    [[nodiscard]] int Port() const { return port_; }
    void SetPort(int Value);
    [[nodiscard]] QString Address() const { return address_; }
    void SetAddress(const QString &Value);
    [[nodiscard]] QString Host() const { return host_; }
    void SetHost(const QString &Value);
    [[nodiscard]] QString Service() const { return service_; }
    void SetService(const QString &Value);

protected:
    virtual void Event(TCustomWinSocket *Socket, TSocketEventKind SocketEvent) = 0;
    virtual void Error(TCustomWinSocket *Socket, TErrorEvent ErrorEvent, int &ErrorCode) = 0;
    virtual void DoActivate(bool Value) = 0;

    void SetActiveState(bool Value) { active_ = Value; }
    // Routes the connection object's events and errors to this component.
    void Route(TCustomWinSocket &Connection);

private:
    void checkInactive(bool changed) const;

    bool active_ = false;
    int port_ = 0;
    QString address_;
    QString host_;
    QString service_;
};

// The event slots; an unassigned slot is skipped.
//
// Ownership and threading: as TAbstractSocket.
class TCustomSocket : public TAbstractSocket {
    Q_OBJECT

public:
    using TAbstractSocket::TAbstractSocket;

    TSocketNotifyEvent OnLookup;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnConnecting;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnListen;
    TSocketNotifyEvent OnAccept;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;
    TSocketErrorEvent OnError;

protected:
    void Event(TCustomWinSocket *Socket, TSocketEventKind SocketEvent) override;
    void Error(TCustomWinSocket *Socket, TErrorEvent ErrorEvent, int &ErrorCode) override;
};

// Connects to Host (or Address) and Port.
//
// Ownership and threading: owns its TClientWinSocket. UI thread only.
class TClientSocket : public TCustomSocket {
    Q_OBJECT

public:
    explicit TClientSocket(QObject *parent = nullptr);
    ~TClientSocket() override;

    [[nodiscard]] TClientWinSocket *Connection() const { return connection_.get(); }
    [[nodiscard]] TClientType ClientType() const { return connection_->ClientType(); }

protected:
    void DoActivate(bool Value) override;

private:
    std::unique_ptr<TClientWinSocket> connection_;
};

// Ownership and threading: owns its TServerWinSocket (and through it the
// accepted peers). UI thread only.
class TCustomServerSocket : public TCustomSocket {
    Q_OBJECT

public:
    explicit TCustomServerSocket(QObject *parent = nullptr);
    ~TCustomServerSocket() override;

    [[nodiscard]] TServerWinSocket *Connection() const { return connection_.get(); }
    [[nodiscard]] TServerType ServerType() const { return connection_->ServerType(); }

protected:
    void DoActivate(bool Value) override;

private:
    std::unique_ptr<TServerWinSocket> connection_;
};

// Listens on Port on every local interface and accepts peers.
//
// The client events live in the listening connection object; the members
// below are those very slots, so assigning either is the same.
// Ownership and threading: as TCustomServerSocket.
class TServerSocket : public TCustomServerSocket {
    Q_OBJECT

public:
    explicit TServerSocket(QObject *parent = nullptr);

    [[nodiscard]] int ThreadCacheSize() const { return Connection()->ThreadCacheSize(); }
    void SetThreadCacheSize(int Value) { Connection()->SetThreadCacheSize(Value); }

    TGetSocketEvent &OnGetSocket;
    TSocketNotifyEvent &OnClientRead;
    TSocketNotifyEvent &OnClientWrite;
    TSocketNotifyEvent &OnClientConnect;
    TSocketNotifyEvent &OnClientDisconnect;
    TSocketErrorEvent &OnClientError;
};
