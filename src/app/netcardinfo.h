#pragma once
// The local machine's own address, the directed broadcast address of its
// network, and the datagram port probe of the UDP creation dialogs.
// UI thread only: BroadcastAddress may show a message box.

#include <QByteArray>
#include <QString>

// For each IPv4 address of the first network adapter (the first interface
// other than loopback that has one), in the platform's order:
// "A: " address " M: " mask "\r". Empty when there is no such adapter or the
// adapter query fails.
[[nodiscard]] QString LocalAddressText();

// The first address of the first adapter, or "127.0.0.1" when there is none.
[[nodiscard]] QString LocalIPAddress();

// The four octets of a dotted quad, first field first; empty when the text is
// not four whole numbers of 0..255 separated by dots.
[[nodiscard]] QByteArray ParseDottedQuad(const QString &text);

// The directed broadcast address (every host bit set) of the first address in
// adapterText, which has the form LocalAddressText gives. Shows
// "请检查本机网络连接是否正常" when there is no adapter, when its address is
// 0.0.0.0, or when address or mask do not parse; returns an empty text when
// there is nothing to combine.
[[nodiscard]] QString BroadcastAddressOf(const QString &adapterText);
[[nodiscard]] QString BroadcastAddress();

// True when a datagram socket cannot be bound to the port (its low 16 bits) on
// every interface, or when the probe itself fails. TCP ports are not probed.
[[nodiscard]] bool PortInUse(int port);
