#include "net/tcp/tcpsocket.h"

#include <sys/socket.h>

namespace {

void fire(const TcpNotifyHandler &slot, QObject *sender, TcpConnection *socket)
{
    if (!slot)
        return;
    const TcpNotifyHandler handler = slot; // the handler may rebind the slot
    handler(sender, socket);
}

} // namespace

// ---- TcpSocket -------------------------------------------------------------

TcpSocket::TcpSocket(QObject *parent)
    : QObject(parent)
{
}

void TcpSocket::SetActive(bool Value)
{
    // Active itself changes only with the connection's events.
    if (Value != active_)
        DoActivate(Value);
}

void TcpSocket::checkInactive(bool changed) const
{
    if (changed && active_)
        throw SocketError(QStringLiteral("Can't change value while socket is active"));
}

void TcpSocket::SetPort(int Value)
{
    checkInactive(Value != port_);
    port_ = Value;
}

void TcpSocket::SetAddress(const QString &Value)
{
    if (Value.compare(address_, Qt::CaseInsensitive) == 0)
        return;
    checkInactive(true);
    address_ = Value;
}

void TcpSocket::SetHost(const QString &Value)
{
    if (Value.compare(host_, Qt::CaseInsensitive) == 0)
        return;
    checkInactive(true);
    host_ = Value;
}

void TcpSocket::SetService(const QString &Value)
{
    if (Value.compare(service_, Qt::CaseInsensitive) == 0)
        return;
    checkInactive(true);
    service_ = Value;
}

void TcpSocket::Route(TcpConnection &Connection)
{
    Connection.SetEventSink(
        [this](TcpConnection *, TcpConnection *socket, TSocketEventKind kind) { Event(socket, kind); });
    Connection.SetErrorSink(
        [this](QObject *, TcpConnection *socket, TErrorEvent kind, int &code) { Error(socket, kind, code); });
}

void TcpSocket::Event(TcpConnection *Socket, TSocketEventKind SocketEvent)
{
    switch (SocketEvent) {
    case evLookup:
        fire(OnLookup, this, Socket);
        break;
    case evConnecting:
        fire(OnConnecting, this, Socket);
        break;
    case evConnect:
        active_ = true;
        fire(OnConnect, this, Socket);
        break;
    case evDisconnect:
        active_ = false;
        fire(OnDisconnect, this, Socket);
        break;
    case evListen:
        active_ = true;
        fire(OnListen, this, Socket);
        break;
    case evAccept:
        fire(OnAccept, this, Socket);
        break;
    case evWrite:
        fire(OnWrite, this, Socket);
        break;
    case evRead:
        fire(OnRead, this, Socket);
        break;
    }
}

void TcpSocket::Error(TcpConnection *Socket, TErrorEvent ErrorEvent, int &ErrorCode)
{
    if (!OnError)
        return;
    const TcpErrorHandler handler = OnError;
    handler(this, Socket, ErrorEvent, ErrorCode);
}

// ---- TcpClient -------------------------------------------------------------

TcpClient::TcpClient(QObject *parent)
    : TcpSocket(parent)
    , connection_(std::make_unique<TcpClientConnection>())
{
    Route(*connection_);
}

TcpClient::~TcpClient() = default;

void TcpClient::DoActivate(bool Value)
{
    // Closing while a lookup or connect is under way leaves it running: the
    // connection object is not connected yet. Opening then leaves it running
    // too: starting over would cancel a connect that may be about to succeed
    // (a monitoring pipe whose client points at its own server opens it
    // again for every peer, its own connect among them).
    if (Value) {
        if (!connection_->IsConnected() && !connection_->IsOpening())
            connection_->Open(Host(), Address(), Service(), std::uint16_t(Port()), true);
    } else if (connection_->IsConnected()) {
        connection_->Close();
    }
}

// ---- TcpServer -------------------------------------------------------------

TcpServer::TcpServer(QObject *parent)
    : TcpSocket(parent)
    , connection_(std::make_unique<TcpListener>())
    , OnGetSocket(connection_->OnGetSocket)
    , OnClientRead(connection_->OnClientRead)
    , OnClientWrite(connection_->OnClientWrite)
    , OnClientConnect(connection_->OnClientConnect)
    , OnClientDisconnect(connection_->OnClientDisconnect)
    , OnClientError(connection_->OnClientError)
{
    Route(*connection_);
}

TcpServer::~TcpServer() = default;

void TcpServer::DoActivate(bool Value)
{
    if (Value) {
        if (!connection_->IsConnected())
            // The platform's longest queue: with a short one a burst of
            // connects loses or stalls peers.
            connection_->Listen(Host(), Address(), Service(), std::uint16_t(Port()), SOMAXCONN);
    } else if (connection_->IsConnected()) {
        connection_->Close();
    }
}
