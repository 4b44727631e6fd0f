#pragma once
// The local machine's own address, the directed broadcast address of its
// network, and the datagram port probe of the UDP creation dialogs.

#include <QByteArray>
#include <QString>

// For each IPv4 address of the first network adapter (the first interface
// other than loopback that has one), in the platform's order:
// "A: " address " M: " mask "\r". Empty when there is no such adapter or the
// adapter query fails.
[[nodiscard]] QString adapterAddressText();

// The first address of the first adapter, or "127.0.0.1" when there is none.
[[nodiscard]] QString localIpAddress();

// The four octets of a dotted quad, first field first; empty when the text is
// not four whole numbers of 0..255 separated by dots.
[[nodiscard]] QByteArray parseDottedQuad(const QString &text);

struct BroadcastAddress {
    QString address; // empty when there is nothing to combine
    // No adapter, an adapter without an address yet (0.0.0.0), or an address
    // or mask that does not parse: the user is asked to check the network.
    bool networkSuspect = false;
};

// The directed broadcast address (every host bit set) of the first address in
// adapterText, which has the form adapterAddressText gives.
[[nodiscard]] BroadcastAddress broadcastAddressOf(const QString &adapterText);
[[nodiscard]] BroadcastAddress broadcastAddress();

// The port the system bound the handle to; `typed` when it is not bound. A
// port box takes any whole number and the socket layer keeps its low 16
// bits, so 65536 listens on a port the system picks and -1 on 65535.
[[nodiscard]] int boundPort(int handle, int typed);

// True when a datagram socket cannot be bound to the port (its low 16 bits) on
// every interface, or when the probe itself fails. TCP ports are not probed.
[[nodiscard]] bool udpPortInUse(int port);
