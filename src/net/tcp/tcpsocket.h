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
// the signals its connection object's events become. A subclass owns the
// connection object, routes its events here and says how activation opens or
// closes it.
//
// The signals are emitted while the connection object handles its
// notification, and receivers run before it goes on: connect them directly
// (an automatic connection on the UI thread is direct), never queued. A
// receiver may throw; the exception reaches whoever raised the event.
//
// Ownership and threading: owns nothing itself (its subclasses own their
// connection object). UI thread only.
class TcpSocket : public QObject {
    Q_OBJECT

public:
    explicit TcpSocket(QObject *parent = nullptr);

    // The component becomes active only when the connection or the
    // listening is established (and inactive at the disconnection); setting
    // it starts or ends that.
    [[nodiscard]] bool isActive() const { return active_; }
    void setActive(bool value);
    void open() { setActive(true); }
    void close() { setActive(false); }

    // Raise SocketError "Can't change value while socket is active" while
    // active, unless the value is unchanged.
    [[nodiscard]] int port() const { return port_; }
    void setPort(int value);
    [[nodiscard]] QString address() const { return address_; }
    void setAddress(const QString &value);
    [[nodiscard]] QString host() const { return host_; }
    void setHost(const QString &value);
    [[nodiscard]] QString service() const { return service_; }
    void setService(const QString &value);

signals:
    // Each names the connection object it comes from (for accepted, the
    // peer just accepted; the peers' own events come from the listener).
    void lookingUp(TcpConnection *socket);
    void connecting(TcpConnection *socket);
    void connected(TcpConnection *socket);
    void disconnected(TcpConnection *socket);
    void listening(TcpConnection *socket);
    void accepted(TcpConnection *socket);
    void readable(TcpConnection *socket);
    void writable(TcpConnection *socket);
    // As TcpConnection::socketError: errorCode set to 0 swallows the error;
    // direct connections only.
    void errorOccurred(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode);
    // As TcpConnection::connectFailed.
    void connectFailed(TcpConnection *socket, int errorCode);

protected:
    virtual void activate(bool value) = 0;

    // Routes the connection object's events and errors to this component.
    void route(TcpConnection &connection);

private:
    void raiseEvent(TcpConnection *socket, TcpEvent socketEvent);
    void raiseError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode);
    void checkInactive(bool changed) const;

    bool active_ = false;
    int port_ = 0;
    QString address_;
    QString host_;
    QString service_;
};

// Connects to host() (or address()) and port().
//
// Ownership and threading: owns its TcpClientConnection. UI thread only.
class TcpClient : public TcpSocket {
    Q_OBJECT

public:
    explicit TcpClient(QObject *parent = nullptr);
    ~TcpClient() override;

    [[nodiscard]] TcpClientConnection *connection() const { return connection_.get(); }

protected:
    void activate(bool value) override;

private:
    std::unique_ptr<TcpClientConnection> connection_;
};

// Listens on port() on every local interface and accepts peers.
//
// The peers' events are the listener's signals (listener()->peerReadable
// and so on); the listening object's own events come from here.
// Ownership and threading: owns its TcpListener (and through it the
// accepted peers). UI thread only.
class TcpServer : public TcpSocket {
    Q_OBJECT

public:
    explicit TcpServer(QObject *parent = nullptr);
    ~TcpServer() override;

    [[nodiscard]] TcpListener *listener() const { return listener_.get(); }

    // UI thread only.
    void setPeerFactory(TcpPeerFactory f) { listener_->setPeerFactory(std::move(f)); }

protected:
    void activate(bool value) override;

private:
    std::unique_ptr<TcpListener> listener_;
};
