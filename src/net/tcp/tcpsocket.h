#pragma once
// The TCP socket components: TcpClient connects to a server,
// TcpServer listens on a port and accepts peers. Both are non-blocking
// and report everything through their events on the UI thread.

#include "net/tcp/tcpconnection.h"
#include "net/tcp/tcplistener.h"

#include <QObject>
#include <QString>

#include <memory>

// What both components share: the active state, the address properties and
// the event slots (an unassigned slot is skipped). A subclass owns the
// connection object, routes its events here and says how activation opens or
// closes it.
//
// Ownership and threading: owns nothing itself (its subclasses own their
// connection object). UI thread only.
class TcpSocket : public QObject {
    Q_OBJECT

public:
    explicit TcpSocket(QObject *parent = nullptr);

    // Active becomes true only when the connection or the listening is
    // established (and false at the disconnection); setting it starts or
    // ends that.
    [[nodiscard]] bool Active() const { return active_; }
    void SetActive(bool Value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    // Raise SocketError "Can't change value while socket is active" while
    // Active, unless the value is unchanged.
    [[nodiscard]] int Port() const { return port_; }
    void SetPort(int Value);
    [[nodiscard]] QString Address() const { return address_; }
    void SetAddress(const QString &Value);
    [[nodiscard]] QString Host() const { return host_; }
    void SetHost(const QString &Value);
    [[nodiscard]] QString Service() const { return service_; }
    void SetService(const QString &Value);

    TcpNotifyHandler OnLookup;
    TcpNotifyHandler OnConnect;
    TcpNotifyHandler OnConnecting;
    TcpNotifyHandler OnDisconnect;
    TcpNotifyHandler OnListen;
    TcpNotifyHandler OnAccept;
    TcpNotifyHandler OnRead;
    TcpNotifyHandler OnWrite;
    TcpErrorHandler OnError;

protected:
    virtual void DoActivate(bool Value) = 0;

    // Routes the connection object's events and errors to this component.
    void Route(TcpConnection &Connection);

private:
    void Event(TcpConnection *Socket, TSocketEventKind SocketEvent);
    void Error(TcpConnection *Socket, TErrorEvent ErrorEvent, int &ErrorCode);
    void checkInactive(bool changed) const;

    bool active_ = false;
    int port_ = 0;
    QString address_;
    QString host_;
    QString service_;
};

// Connects to Host (or Address) and Port.
//
// Ownership and threading: owns its TcpClientConnection. UI thread only.
class TcpClient : public TcpSocket {
    Q_OBJECT

public:
    explicit TcpClient(QObject *parent = nullptr);
    ~TcpClient() override;

    [[nodiscard]] TcpClientConnection *Connection() const { return connection_.get(); }

protected:
    void DoActivate(bool Value) override;

private:
    std::unique_ptr<TcpClientConnection> connection_;
};

// Listens on Port on every local interface and accepts peers.
//
// The client events live in the listening connection object; the members
// below are those very slots, so assigning either is the same.
// Ownership and threading: owns its TcpListener (and through it the
// accepted peers). UI thread only.
class TcpServer : public TcpSocket {
    Q_OBJECT

    // Declared first: the slot references below are bound to its members.
    std::unique_ptr<TcpListener> connection_;

public:
    explicit TcpServer(QObject *parent = nullptr);
    ~TcpServer() override;

    [[nodiscard]] TcpListener *Connection() const { return connection_.get(); }

    TcpPeerFactory &OnGetSocket;
    TcpNotifyHandler &OnClientRead;
    TcpNotifyHandler &OnClientWrite;
    TcpNotifyHandler &OnClientConnect;
    TcpNotifyHandler &OnClientDisconnect;
    TcpErrorHandler &OnClientError;

protected:
    void DoActivate(bool Value) override;
};
