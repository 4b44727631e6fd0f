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
// the event handlers (an event without a handler is skipped). A subclass owns the
// connection object, routes its events here and says how activation opens or
// closes it.
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

    // The event handlers; an empty one is skipped. UI thread only.
    void setLookupHandler(TcpNotifyHandler h) { lookupHandler_ = std::move(h); }
    void setConnectingHandler(TcpNotifyHandler h) { connectingHandler_ = std::move(h); }
    void setConnectedHandler(TcpNotifyHandler h) { connectedHandler_ = std::move(h); }
    void setDisconnectedHandler(TcpNotifyHandler h) { disconnectedHandler_ = std::move(h); }
    void setListeningHandler(TcpNotifyHandler h) { listeningHandler_ = std::move(h); }
    void setAcceptedHandler(TcpNotifyHandler h) { acceptedHandler_ = std::move(h); }
    void setReadableHandler(TcpNotifyHandler h) { readableHandler_ = std::move(h); }
    void setWritableHandler(TcpNotifyHandler h) { writableHandler_ = std::move(h); }
    void setErrorHandler(TcpErrorHandler h) { errorHandler_ = std::move(h); }

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
    TcpNotifyHandler lookupHandler_;
    TcpNotifyHandler connectingHandler_;
    TcpNotifyHandler connectedHandler_;
    TcpNotifyHandler disconnectedHandler_;
    TcpNotifyHandler listeningHandler_;
    TcpNotifyHandler acceptedHandler_;
    TcpNotifyHandler readableHandler_;
    TcpNotifyHandler writableHandler_;
    TcpErrorHandler errorHandler_;
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
// The peers' events come from the listener; the peer handlers set here are
// the listener's own.
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
    void setPeerConnectedHandler(TcpNotifyHandler h) { listener_->setPeerConnectedHandler(std::move(h)); }
    void setPeerDisconnectedHandler(TcpNotifyHandler h)
    {
        listener_->setPeerDisconnectedHandler(std::move(h));
    }
    void setPeerReadableHandler(TcpNotifyHandler h) { listener_->setPeerReadableHandler(std::move(h)); }
    void setPeerWritableHandler(TcpNotifyHandler h) { listener_->setPeerWritableHandler(std::move(h)); }
    void setPeerErrorHandler(TcpErrorHandler h) { listener_->setPeerErrorHandler(std::move(h)); }

protected:
    void activate(bool value) override;

private:
    std::unique_ptr<TcpListener> listener_;
};
