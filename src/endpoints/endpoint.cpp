#include "endpoints/endpoint.h"

#include "core/logtexts.h"
#include "endpoints/serialbridge.h"
#include "endpoints/serialendpoint.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/multicastmember.h"
#include "net/udp/udpsocket.h"

#include <QDateTime>

namespace {

void unlinkPartnerOf(Endpoint &record)
{
    if (record.partner && record.partner->partner == &record)
        record.partner->partner = nullptr;
    record.partner = nullptr;
}
} // namespace

Endpoint::Endpoint() = default;

Endpoint::~Endpoint() = default;

TcpServer *Endpoint::tcpServer() const
{
    return kind == EndpointKind::TcpServer ? qobject_cast<TcpServer *>(transport) : nullptr;
}

TcpClient *Endpoint::tcpClient() const
{
    return kind == EndpointKind::TcpClient ? qobject_cast<TcpClient *>(transport) : nullptr;
}

TcpConnection *Endpoint::peerConnection() const
{
    return kind == EndpointKind::TcpAcceptedPeer ? qobject_cast<TcpConnection *>(transport) : nullptr;
}

UdpSocket *Endpoint::udp() const
{
    const bool datagrams = kind == EndpointKind::UdpClient || kind == EndpointKind::UdpServer;
    return datagrams ? qobject_cast<UdpSocket *>(transport) : nullptr;
}

SerialEndpoint *Endpoint::serialPort() const
{
    return kind == EndpointKind::SerialPort ? qobject_cast<SerialEndpoint *>(transport) : nullptr;
}

std::unique_ptr<Endpoint> makeEndpoint(EndpointKind kind)
{
    auto record = std::make_unique<Endpoint>();
    record->kind = kind;
    record->createdText = currentDateTimeText();
    return record;
}

QString currentDateTimeText()
{
    // A burst of peers is stamped thousands of times a second; the text
    // changes once a second, and formatting it through the locale is dear.
    static qint64 cachedSecond = -1;
    static QString cached;
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second != cachedSecond) {
        cached = DateTimeText(QDateTime::fromSecsSinceEpoch(second));
        cachedSecond = second;
    }
    return cached;
}

QString nodeText(const QString &address, int port)
{
    return address + QLatin1Char('[') + QString::number(port) + QLatin1Char(']');
}

void EndpointList::add(std::unique_ptr<Endpoint> record)
{
    const Endpoint *key = record.get();
    items_.push_back(std::move(record));
    where_.emplace(key, std::prev(items_.end()));
}

void EndpointList::remove(Endpoint *record)
{
    const auto found = where_.find(record);
    if (found == where_.end())
        return;
    // Links are always mutual (linkEndpoints keeps them so), so the partner
    // is the only record that can point at this one.
    unlinkPartnerOf(*record);
    // Erase before the record dies, so nothing can find it half-destroyed.
    auto owned = std::move(*found->second);
    items_.erase(found->second);
    where_.erase(found);
}

Endpoint *EndpointList::at(int index) const
{
    if (index < 0 || index >= size())
        return nullptr;
    return std::next(items_.begin(), index)->get();
}

void linkEndpoints(Endpoint &target, Endpoint &dragged)
{
    unlinkPartnerOf(target);
    unlinkPartnerOf(dragged);
    target.partner = &dragged;
    dragged.partner = &target;
}
