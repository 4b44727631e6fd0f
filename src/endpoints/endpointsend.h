#pragma once
// Sending through an endpoint, kind by kind: a TCP connection takes the bytes
// as it has room (a server's send goes to every peer it holds), a UDP socket
// sends them as one datagram, a group member to its group. The data window
// gets this as its send function. UI thread only.

#include "session/repeatsender.h"

#include <QByteArray>

class Endpoint;

class TcpConnection;

// True while a send through the connection waits for it to take the rest
// (automatic replies included); a file is not sent into the middle of it.
[[nodiscard]] bool isTypedSendUnderWay(const TcpConnection *connection);

SendOutcome sendThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control);

// An automatic reply through the endpoint: as sendThrough, but a TCP
// connection that cannot take it all now keeps the rest waiting and writes
// it when there is room, instead of waiting here. dropped when too much
// waits already.
SendOutcome replyThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control);
// Whether a reply of that size may still wait for the endpoint's peer.
[[nodiscard]] bool replyHasRoom(Endpoint &endpoint, qsizetype size);
// No reply waits for the endpoint's peer.
[[nodiscard]] bool repliesIdle(Endpoint &endpoint);
