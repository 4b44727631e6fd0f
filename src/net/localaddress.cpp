#include "net/localaddress.h"

#include "core/errors.h"
#include "core/wholenumber.h"
#include "net/udp/datagramcalls.h"

#include <QStringList>

#include <ifaddrs.h>
#include <net/if.h>

#include <memory>

namespace {

QString dottedQuad(const sockaddr *address)
{
    if (!address || address->sa_family != AF_INET)
        return QStringLiteral("0.0.0.0");
    const auto *octets = reinterpret_cast<const unsigned char *>(
        &reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
    return QStringLiteral("%1.%2.%3.%4").arg(octets[0]).arg(octets[1]).arg(octets[2]).arg(octets[3]);
}

// An alias such as "eth0:1" belongs to the adapter "eth0".
QByteArray adapterName(const char *interfaceName)
{
    QByteArray name(interfaceName);
    const qsizetype colon = name.indexOf(':');
    return colon < 0 ? name : name.left(colon);
}

// The blank-trimmed text strictly between the first `from` and the first
// `to` after it; a null string when either is missing.
QString textBetween(const QString &text, const QString &from, const QString &to)
{
    const qsizetype start = text.indexOf(from);
    if (start < 0)
        return {};
    const qsizetype end = text.indexOf(to, start + from.size());
    if (end < 0)
        return {};
    return text.mid(start + from.size(), end - start - from.size()).trimmed();
}

bool toOctet(const QString &field, unsigned char &octet)
{
    int value = 0;
    try {
        value = ParseWholeNumber(field);
    } catch (const ConversionError &) {
        return false;
    }
    if (value < 0 || value > 255)
        return false;
    octet = static_cast<unsigned char>(value);
    return true;
}

} // namespace

QString adapterAddressText()
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);

    QString text;
    QByteArray firstAdapter;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        const QByteArray name = adapterName(entry->ifa_name);
        if (firstAdapter.isNull())
            firstAdapter = name;
        else if (name != firstAdapter)
            continue;
        text += QStringLiteral("A: ") + dottedQuad(entry->ifa_addr) + QStringLiteral(" M: ")
            + dottedQuad(entry->ifa_netmask) + QChar(13);
    }
    return text;
}

QString localIpAddress()
{
    const QString text = adapterAddressText();
    if (text.isEmpty())
        return QStringLiteral("127.0.0.1");
    return textBetween(text, QStringLiteral("A:"), QStringLiteral("M:"));
}

QByteArray parseDottedQuad(const QString &text)
{
    QString rest = text;
    QStringList fields;
    for (int i = 0; i < 3; ++i) {
        const qsizetype dot = rest.indexOf(QLatin1Char('.'));
        if (dot < 0)
            return {};
        fields << rest.left(dot);
        rest = rest.mid(dot + 1);
    }
    fields << rest; // a fifth field stays attached to the fourth and fails it

    QByteArray octets(4, '\0');
    for (int i = 0; i < 4; ++i) {
        unsigned char octet = 0;
        if (!toOctet(fields[i], octet))
            return {};
        octets[i] = char(octet);
    }
    return octets;
}

BroadcastAddress broadcastAddressOf(const QString &adapterText)
{
    if (adapterText.isEmpty())
        return {QString(), true};
    const QString ip = textBetween(adapterText, QStringLiteral("A:"), QStringLiteral("M:"));
    const bool noAddressYet = ip == QLatin1String("0.0.0.0");
    const QString mask = textBetween(adapterText, QStringLiteral("M:"), QString(QChar(13)));
    const QByteArray address = parseDottedQuad(ip);
    const QByteArray netmask = parseDottedQuad(mask);
    if (address.isEmpty() || netmask.isEmpty())
        return {QString(), true};

    QStringList octets;
    for (int i = 0; i < 4; ++i) {
        const auto a = static_cast<unsigned char>(address[i]);
        const auto k = static_cast<unsigned char>(netmask[i]);
        octets << QString::number((a & k) | static_cast<unsigned char>(~k));
    }
    return {octets.join(QLatin1Char('.')), noAddressYet};
}

BroadcastAddress broadcastAddress()
{
    return broadcastAddressOf(adapterAddressText());
}

int boundPort(int handle, int typed)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (handle < 0 || ::getsockname(handle, reinterpret_cast<sockaddr *>(&local), &size) != 0
        || local.sin_port == 0)
        return typed;
    return ntohs(local.sin_port);
}

bool udpPortInUse(int port)
{
    const int s = dgram::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == dgram::InvalidSocket)
        return true;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(static_cast<std::uint16_t>(port));
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool bound = dgram::bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any) == 0;
    dgram::closesocket(s);
    return !bound;
}
