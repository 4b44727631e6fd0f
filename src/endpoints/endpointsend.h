#pragma once
// Sending through an endpoint, kind by kind: a TCP connection takes the bytes
// as it has room (a server's send goes to every peer it holds), a UDP socket
// sends them as one datagram, a group member to its group. The data window
// gets this as its send function. UI thread only.

#include "datawindow/repeatsender.h"

#include <QByteArray>

class Endpoint;

class TcpConnection;

// True while a send through the connection waits for it to take the rest; a
// file is not sent into the middle of it.
[[nodiscard]] bool isTypedSendUnderWay(const TcpConnection *connection);

SendOutcome sendThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control);
