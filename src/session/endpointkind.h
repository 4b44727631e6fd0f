#pragma once
// What an endpoint is, as the engine, the views and workspaces name it.

#include <QString>

// A TcpAcceptedPeer is a connection a TCP Server accepted; its node hangs
// under its server's node.
enum class EndpointKind { TcpServer, TcpAcceptedPeer, TcpClient, UdpServer, UdpClient, UdpGroup, SerialPort };

// The kind's label, which is also the text of its kind node in the tree
// ("TCP Server", ...; an accepted peer's label names no node).
[[nodiscard]] QString kindLabel(EndpointKind kind);
