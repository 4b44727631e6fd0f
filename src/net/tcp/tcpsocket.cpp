#include "net/tcp/tcpsocket.h"

#include <sys/socket.h>

// ---- TcpSocket -------------------------------------------------------------

TcpSocket::TcpSocket(QObject *parent)
    : QObject(parent)
{
}

void TcpSocket::setActive(bool value)
{
    // The active state itself changes only with the connection's events.
    if (value != active_)
        activate(value);
}

void TcpSocket::checkInactive(bool changed) const
{
    if (changed && active_)
        throw SocketError(QStringLiteral("Can't change value while socket is active"));
}

void TcpSocket::setPort(int value)
{
    checkInactive(value != port_);
    port_ = value;
}

void TcpSocket::setAddress(const QString &value)
{
    if (value.compare(address_, Qt::CaseInsensitive) == 0)
        return;
    checkInactive(true);
    address_ = value;
}

void TcpSocket::setHost(const QString &value)
{
    if (value.compare(host_, Qt::CaseInsensitive) == 0)
        return;
    checkInactive(true);
    host_ = value;
}

void TcpSocket::setService(const QString &value)
{
    if (value.compare(service_, Qt::CaseInsensitive) == 0)
        return;
    checkInactive(true);
    service_ = value;
}

void TcpSocket::route(TcpConnection &connection)
{
    connect(&connection, &TcpConnection::socketEvent, this, &TcpSocket::raiseEvent, Qt::DirectConnection);
    connect(&connection, &TcpConnection::socketError, this, &TcpSocket::raiseError, Qt::DirectConnection);
    connect(
        &connection, &TcpConnection::connectFailed, this, &TcpSocket::connectFailed, Qt::DirectConnection);
}

void TcpSocket::raiseEvent(TcpConnection *socket, TcpEvent socketEvent)
{
    switch (socketEvent) {
    case TcpEvent::Lookup:
        emit lookingUp(socket);
        break;
    case TcpEvent::Connecting:
        emit connecting(socket);
        break;
    case TcpEvent::Connected:
        active_ = true;
        emit connected(socket);
        break;
    case TcpEvent::Disconnected:
        active_ = false;
        emit disconnected(socket);
        break;
    case TcpEvent::Listening:
        active_ = true;
        emit listening(socket);
        break;
    case TcpEvent::Accepted:
        emit accepted(socket);
        break;
    case TcpEvent::Writable:
        emit writable(socket);
        break;
    case TcpEvent::Readable:
        emit readable(socket);
        break;
    }
}

void TcpSocket::raiseError(TcpConnection *socket, TcpErrorKind errorEvent, int &errorCode)
{
    emit errorOccurred(socket, errorEvent, errorCode);
}

// ---- TcpClient -------------------------------------------------------------

TcpClient::TcpClient(QObject *parent)
    : TcpSocket(parent)
    , connection_(std::make_unique<TcpClientConnection>())
{
    route(*connection_);
}

TcpClient::~TcpClient() = default;

void TcpClient::activate(bool value)
{
    // Closing while a lookup or connect is under way leaves it running: the
    // connection object is not connected yet. Opening then leaves it running
    // too: starting over would cancel a connect that may be about to succeed
    // (a monitoring pipe whose client points at its own server opens it
    // again for every peer, its own connect among them).
    if (value) {
        if (!connection_->isConnected() && !connection_->isOpening())
            connection_->open(host(), address(), service(), std::uint16_t(port()), true);
    } else if (connection_->isConnected()) {
        connection_->close();
    }
}

// ---- TcpServer -------------------------------------------------------------

TcpServer::TcpServer(QObject *parent)
    : TcpSocket(parent)
    , listener_(std::make_unique<TcpListener>())
{
    route(*listener_);
}

TcpServer::~TcpServer() = default;

void TcpServer::activate(bool value)
{
    if (value) {
        if (!listener_->isConnected())
            // The longest queue the system allows: it cuts the request down
            // to net.core.somaxconn (4,096 by default). A burst beyond the
            // queue waits for its handshakes to be repeated, a second and
            // more later; where the setting is raised, the queue grows with
            // it instead of stopping at the compiled-in SOMAXCONN.
            listener_->listen(host(), address(), service(), std::uint16_t(port()), 65535);
    } else if (listener_->isConnected()) {
        listener_->close();
    }
}
