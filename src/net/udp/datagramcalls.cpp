#include "net/udp/datagramcalls.h"

#include "core/errors.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace winsock {

namespace {

thread_local int lastError = 0;

int fail()
{
    lastError = errno;
    return SOCKET_ERROR;
}

int fail(int code)
{
    lastError = code;
    return SOCKET_ERROR;
}

int succeed(int result)
{
    lastError = 0;
    return result;
}

// One socket's read-readiness registration. It is a child of the window, so it
// goes when the window goes.
//
// WinSock's rule: after a read message, no further one is sent until the
// receiver calls recvfrom. `pending` is true from a delivery until that call.
// In the common case the handler reads at once and the notifier is never
// switched off; it is switched off only when a handler returns without reading
// or when a nested event loop inside the handler sees the same readiness again.
class AsyncSelection : public QSocketNotifier {
public:
    AsyncSelection(SOCKET s, QObject *window, unsigned message);
    ~AsyncSelection() override;

    void Rearm();
    void Cancel();

private:
    void Deliver();

    SOCKET socket_;
    QObject *window_;
    unsigned message_;
    bool pending_ = false;
    bool cancelled_ = false;
};

// UI thread only. Never destroyed: registrations that outlive main() (windows
// leaked until exit) still find it.
std::unordered_map<SOCKET, AsyncSelection *> &registrations()
{
    static auto *map = new std::unordered_map<SOCKET, AsyncSelection *>;
    return *map;
}

AsyncSelection *registrationOf(SOCKET s)
{
    auto &map = registrations();
    if (map.empty())
        return nullptr;
    const auto it = map.find(s);
    return it == map.end() ? nullptr : it->second;
}

void cancelRegistration(SOCKET s)
{
    if (AsyncSelection *old = registrationOf(s))
        old->Cancel();
}

AsyncSelection::AsyncSelection(SOCKET s, QObject *window, unsigned message)
    : QSocketNotifier(s, QSocketNotifier::Read, window)
    , socket_(s)
    , window_(window)
    , message_(message)
{
    connect(this, &QSocketNotifier::activated, this, &AsyncSelection::Deliver);
    registrations()[s] = this;
}

AsyncSelection::~AsyncSelection()
{
    auto &map = registrations();
    const auto it = map.find(socket_);
    if (it != map.end() && it->second == this)
        map.erase(it);
}

void AsyncSelection::Rearm()
{
    pending_ = false;
    if (!cancelled_ && !isEnabled())
        setEnabled(true);
}

// Called from inside the handler that closes the socket, so the object itself
// must outlive this call.
void AsyncSelection::Cancel()
{
    cancelled_ = true;
    setEnabled(false);
    auto &map = registrations();
    const auto it = map.find(socket_);
    if (it != map.end() && it->second == this)
        map.erase(it);
    deleteLater();
}

void AsyncSelection::Deliver()
{
    if (pending_) {
        setEnabled(false);
        return;
    }
    pending_ = true;
    QPointer<AsyncSelection> alive(this);
    TWinSockMessage message(message_, std::uintptr_t(socket_), WSAMAKESELECTREPLY(FD_READ, 0));
    Guarded([&] { QCoreApplication::sendEvent(window_, &message); });
    if (alive && !cancelled_ && pending_)
        setEnabled(false);
}

int translatedDontLinger(SOCKET s, const char *optval, int optlen)
{
    if (!optval || optlen < int(sizeof(int)))
        return fail(EFAULT);
    int dontLinger = 0;
    std::memcpy(&dontLinger, optval, sizeof dontLinger);
    linger current{};
    socklen_t length = sizeof current;
    if (::getsockopt(s, SOL_SOCKET, SO_LINGER, &current, &length) != 0)
        return fail();
    current.l_onoff = dontLinger ? 0 : 1;
    if (::setsockopt(s, SOL_SOCKET, SO_LINGER, &current, sizeof current) != 0)
        return fail();
    return succeed(0);
}

} // namespace

QEvent::Type TWinSockMessage::EventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

int WSAStartup(std::uint16_t, WSADATA *data)
{
    if (data) {
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0101;
        data->iMaxSockets = 0xFFFF;
        data->iMaxUdpDg = MaxUdpDatagram;
    }
    return 0;
}

int WSACleanup()
{
    return succeed(0);
}

SOCKET socket(int af, int type, int protocol)
{
    const int s = ::socket(af, type | SOCK_CLOEXEC, protocol);
    return s < 0 ? fail() : succeed(s);
}

int bind(SOCKET s, const sockaddr *name, int namelen)
{
    if (namelen < 0)
        return fail(EFAULT);
    return ::bind(s, name, socklen_t(namelen)) == 0 ? succeed(0) : fail();
}

int setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen)
{
    if (optlen < 0)
        return fail(EFAULT);
    int platformLevel = 0;
    int platformName = 0;
    if (level == WS_SOL_SOCKET && optname == WS_SO_DONTLINGER)
        return translatedDontLinger(s, optval, optlen);
    if (level == WS_SOL_SOCKET && optname == WS_SO_REUSEADDR) {
        platformLevel = SOL_SOCKET;
        platformName = SO_REUSEADDR;
    } else if (level == WS_SOL_SOCKET && optname == WS_SO_BROADCAST) {
        platformLevel = SOL_SOCKET;
        platformName = SO_BROADCAST;
    } else if (level == WS_IPPROTO_IP && optname == WS_IP_ADD_MEMBERSHIP) {
        platformLevel = IPPROTO_IP;
        platformName = IP_ADD_MEMBERSHIP;
    } else if (level == WS_IPPROTO_IP && optname == WS_IP_DROP_MEMBERSHIP) {
        platformLevel = IPPROTO_IP;
        platformName = IP_DROP_MEMBERSHIP;
    } else {
        return fail(ENOPROTOOPT);
    }
    return ::setsockopt(s, platformLevel, platformName, optval, socklen_t(optlen)) == 0 ? succeed(0) : fail();
}

int recvfrom(SOCKET s, char *buf, int len, int flags, sockaddr *from, int *fromlen)
{
    if (AsyncSelection *selection = registrationOf(s))
        selection->Rearm();
    if (len < 0 || (from && (!fromlen || *fromlen < 0)))
        return fail(EFAULT);

    iovec part{buf, std::size_t(len)};
    msghdr header{};
    header.msg_name = from;
    header.msg_namelen = from ? socklen_t(*fromlen) : 0;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    ssize_t n;
    do {
        n = ::recvmsg(s, &header, flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return fail();
    if (from)
        *fromlen = std::min(*fromlen, int(header.msg_namelen));
    if (header.msg_flags & MSG_TRUNC)
        return fail(EMSGSIZE);
    return succeed(int(n));
}

int sendto(SOCKET s, const char *buf, int len, int flags, const sockaddr *to, int tolen)
{
    if (len < 0 || tolen < 0)
        return fail(EFAULT);
    ssize_t n;
    do {
        n = ::sendto(s, buf, std::size_t(len), flags | MSG_NOSIGNAL, to, socklen_t(tolen));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? fail() : succeed(int(n));
}

int closesocket(SOCKET s)
{
    cancelRegistration(s);
    return ::close(s) == 0 ? succeed(0) : fail();
}

int WSAGetLastError()
{
    return lastError;
}

void WSASetLastError(int code)
{
    lastError = code;
}

int WSAAsyncSelect(SOCKET s, QObject *window, unsigned message, long events)
{
    if ((events & ~FD_READ) != 0 || (events != 0 && !window))
        return fail(EINVAL);
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0)
        return fail(errno == EBADF ? ENOTSOCK : errno);
    cancelRegistration(s);
    if (events != 0)
        new AsyncSelection(s, window, message); // owned by window
    return succeed(0);
}

} // namespace winsock
