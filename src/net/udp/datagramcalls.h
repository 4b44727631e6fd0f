#pragma once
// The datagram socket calls the program makes directly (the multicast group
// endpoint, the local-port probe and the UDP component), over POSIX sockets.
// Each call returns -1 (CallFailed, or InvalidSocket from socket()) on failure
// with the errno value in lastError(), which every call also clears on
// success. Option levels and numbers are the platform's own.
//
// htons, htonl, ntohs and inet_addr come with this header. The other calls
// live in namespace dgram because their names are taken by POSIX; call them
// qualified.
//
// Threads: the calls may be made from any thread, each thread has its own last
// error; watchReadable, recvfrom and closesocket on a watched socket must be
// made on the thread of the watch's context object.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <functional>

class QObject;

namespace dgram {

inline constexpr int InvalidSocket = -1;
inline constexpr int CallFailed = -1;

// The largest payload one IPv4 datagram can carry (65535 - 20 - 8): a buffer
// of this size receives every datagram whole.
inline constexpr int MaxUdpDatagram = 65507;

int socket(int af, int type, int protocol);
int bind(int s, const sockaddr *name, int namelen);
int setsockopt(int s, int level, int optname, const char *optval, int optlen);
// Receives one datagram. One longer than len fails with EMSGSIZE and is
// dropped instead of being handed over cut short. Calling it re-arms the
// readiness notification of s (see watchReadable).
int recvfrom(int s, char *buf, int len, int flags, sockaddr *from, int *fromlen);
int sendto(int s, const char *buf, int len, int flags, const sockaddr *to, int tolen);
// Closes s and cancels its readiness watch first, so no call about it (or
// about a later socket that reuses its number) reaches the old callback.
int closesocket(int s);

[[nodiscard]] int lastError();
void setLastError(int code);

// Makes s non-blocking and calls onReadable (on context's thread, inside
// Guarded) whenever a datagram waits. After one call no further one comes
// until recvfrom is called on s, so a callback that reads nothing is not
// called in a loop. An empty onReadable cancels; a new call replaces the
// previous one; the watch ends with closesocket or with context.
int watchReadable(int s, QObject *context, std::function<void()> onReadable);
// Whether s has a live watch (closing it, or its context going, ends it).
[[nodiscard]] bool isWatched(int s);

} // namespace dgram
