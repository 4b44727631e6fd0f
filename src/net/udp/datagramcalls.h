#pragma once
// The WinSock 1.1 datagram calls the program makes directly (the multicast
// group endpoint, the local-port probe and the UDP component), over POSIX
// sockets. Each call keeps WinSock's contract: -1 (SOCKET_ERROR /
// INVALID_SOCKET) on failure with the reason in WSAGetLastError(), which every
// call also clears on success. Error codes are the platform's errno values,
// under their WinSock names below.
//
// htons, htonl, ntohs and inet_addr are the platform's own: they behave as
// WinSock's do and come with this header. The other calls live in namespace
// winsock because their names are taken by POSIX; call them qualified.
//
// Threads: the calls may be made from any thread, each thread has its own last
// error; WSAAsyncSelect, recvfrom and closesocket on a socket that has a window
// registered for readiness must be made on that window's thread.

#include <QEvent>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

class QObject;

namespace winsock {

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// The largest payload one IPv4 datagram can carry (65535 - 20 - 8): a buffer
// of this size receives every datagram whole.
inline constexpr int MaxUdpDatagram = 65507;

inline constexpr int WSAEWOULDBLOCK = EWOULDBLOCK;
inline constexpr int WSAEMSGSIZE = EMSGSIZE;
inline constexpr int WSAEADDRINUSE = EADDRINUSE;
inline constexpr int WSAENOPROTOOPT = ENOPROTOOPT;
inline constexpr int WSAEINVAL = EINVAL;
inline constexpr int WSAEFAULT = EFAULT;
inline constexpr int WSAENOTSOCK = ENOTSOCK;

// Option levels and numbers as WinSock 1.1 numbers them; setsockopt
// translates them to the platform's.
inline constexpr int WS_SOL_SOCKET = 0xFFFF;
inline constexpr int WS_SO_REUSEADDR = 0x0004;
inline constexpr int WS_SO_BROADCAST = 0x0020;
inline constexpr int WS_SO_DONTLINGER = 0xFF7F;
inline constexpr int WS_IPPROTO_IP = 0;
inline constexpr int WS_IP_ADD_MEMBERSHIP = 5;
inline constexpr int WS_IP_DROP_MEMBERSHIP = 6;

// Readiness events of WSAAsyncSelect. Datagram sockets only ever need reading.
inline constexpr long FD_READ = 1;

struct WSADATA {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    unsigned short iMaxSockets = 0;
    unsigned short iMaxUdpDg = 0;
};

// Starting and releasing the library: nothing to do on this platform, so both
// always succeed (WSAStartup fills data with version 1.1 when given).
int WSAStartup(std::uint16_t versionRequested, WSADATA *data);
int WSACleanup();

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr *name, int namelen);
int setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen);
// Receives one datagram. One longer than len fails with WSAEMSGSIZE and is
// dropped, as WinSock does, instead of being handed over cut short. Calling it
// re-arms the readiness notification of s (see WSAAsyncSelect).
int recvfrom(SOCKET s, char *buf, int len, int flags, sockaddr *from, int *fromlen);
int sendto(SOCKET s, const char *buf, int len, int flags, const sockaddr *to, int tolen);
// Closes s and cancels its readiness notification first, so no message about
// it (or about a later socket that reuses its number) reaches the old window.
int closesocket(SOCKET s);

[[nodiscard]] int WSAGetLastError();
void WSASetLastError(int code);

// Makes s non-blocking and, for events == FD_READ, delivers a TWinSockMessage
// with Msg = message, WParam = s and LParam = WSAMAKESELECTREPLY(FD_READ, 0)
// to window (synchronously, on its thread, inside Guarded) whenever a datagram
// waits. As in WinSock, after one message no further one is sent until
// recvfrom is called on s, so a handler that reads nothing is not called in a
// loop. events == 0 cancels; a new call replaces the previous one; the
// registration ends with closesocket or with the window.
int WSAAsyncSelect(SOCKET s, QObject *window, unsigned message, long events);

[[nodiscard]] constexpr long WSAMAKESELECTREPLY(long event, long error)
{
    return (event & 0xFFFF) | ((error & 0xFFFF) << 16);
}
[[nodiscard]] constexpr int WSAGETSELECTEVENT(long lParam)
{
    return int(lParam & 0xFFFF);
}
[[nodiscard]] constexpr int WSAGETSELECTERROR(long lParam)
{
    return int((lParam >> 16) & 0xFFFF);
}

// The window message of WSAAsyncSelect. A receiving window overrides event()
// and checks type() == TWinSockMessage::EventType() and then Msg.
class TWinSockMessage : public QEvent {
public:
    TWinSockMessage(unsigned msg, std::uintptr_t wParam, long lParam)
        : QEvent(EventType())
        , Msg(msg)
        , WParam(wParam)
        , LParam(lParam)
    {
    }
    [[nodiscard]] static QEvent::Type EventType();

    unsigned Msg;
    std::uintptr_t WParam;
    long LParam;
};

} // namespace winsock
