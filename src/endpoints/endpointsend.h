#pragma once
// Sending through an endpoint, kind by kind: a TCP connection takes the bytes
// as it has room (a server's send goes to every peer it holds), a UDP socket
// sends them as one datagram, a group member to its group. The data window
// gets this as its send function. UI thread only.

#include "session/repeatsender.h"

#include <QByteArray>

#include <memory>

class ByteBudget;
class Endpoint;

class TcpConnection;

// True while a send through the connection waits for it to take the rest
// (automatic replies included); a file is not sent into the middle of it.
[[nodiscard]] bool isTypedSendUnderWay(const TcpConnection *connection);

// What waits on TCP connections is reserved from `budget`, the program's
// output budget; a send past it is refused.
SendOutcome sendThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control,
    const std::shared_ptr<ByteBudget> &budget);

// An automatic reply through the endpoint: as sendThrough, but a TCP
// connection that cannot take it all now keeps the rest waiting and writes
// it when there is room, instead of waiting here. dropped when too much
// waits already, for the peer or in the program.
SendOutcome replyThrough(Endpoint &endpoint, const QByteArray &data, const SendControl &control,
    const std::shared_ptr<ByteBudget> &budget);
// Whether a reply of that size may still wait for the endpoint's peer.
// A reply refused for the budget is counted there.
[[nodiscard]] ReplyRoom replyHasRoom(Endpoint &endpoint, qsizetype size, ByteBudget *budget);
// No reply waits for the endpoint's peer.
[[nodiscard]] bool repliesIdle(Endpoint &endpoint);
