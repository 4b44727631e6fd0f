#include "net/udp/datagramcalls.h"

#include "core/errors.h"

#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

namespace dgram {

namespace {

thread_local int lastErrorCode = 0;

int fail()
{
    lastErrorCode = errno;
    return CallFailed;
}

int fail(int code)
{
    lastErrorCode = code;
    return CallFailed;
}

int succeed(int result)
{
    lastErrorCode = 0;
    return result;
}

// One socket's read-readiness watch. It is a child of its context object, so
// it goes when that goes.
//
// After a call of the callback no further one comes until the receiver calls
// recvfrom. `pending` is true from a delivery until that call.
// In the common case the handler reads at once and the notifier is never
// switched off; it is switched off only when a handler returns without reading
// or when a nested event loop inside the handler sees the same readiness again.
class ReadableWatch : public QSocketNotifier {
public:
    ReadableWatch(int s, QObject *context, std::function<void()> onReadable);
    ~ReadableWatch() override;

    void rearm();
    void cancel();

private:
    void deliver();

    int socket_;
    std::function<void()> onReadable_;
    bool pending_ = false;
    bool cancelled_ = false;
};

// UI thread only. Never destroyed: registrations that outlive main() (contexts
// leaked until exit) still find it.
std::unordered_map<int, ReadableWatch *> &registrations()
{
    static auto *map = new std::unordered_map<int, ReadableWatch *>;
    return *map;
}

ReadableWatch *registrationOf(int s)
{
    auto &map = registrations();
    if (map.empty())
        return nullptr;
    const auto it = map.find(s);
    return it == map.end() ? nullptr : it->second;
}

void cancelRegistration(int s)
{
    if (ReadableWatch *old = registrationOf(s))
        old->cancel();
}

ReadableWatch::ReadableWatch(int s, QObject *context, std::function<void()> onReadable)
    : QSocketNotifier(s, QSocketNotifier::Read, context)
    , socket_(s)
    , onReadable_(std::move(onReadable))
{
    connect(this, &QSocketNotifier::activated, this, &ReadableWatch::deliver);
    registrations()[s] = this;
}

ReadableWatch::~ReadableWatch()
{
    auto &map = registrations();
    const auto it = map.find(socket_);
    if (it != map.end() && it->second == this)
        map.erase(it);
}

void ReadableWatch::rearm()
{
    pending_ = false;
    if (!cancelled_ && !isEnabled())
        setEnabled(true);
}

// Called from inside the handler that closes the socket, so the object itself
// must outlive this call.
void ReadableWatch::cancel()
{
    cancelled_ = true;
    setEnabled(false);
    auto &map = registrations();
    const auto it = map.find(socket_);
    if (it != map.end() && it->second == this)
        map.erase(it);
    deleteLater();
}

void ReadableWatch::deliver()
{
    if (pending_) {
        setEnabled(false);
        return;
    }
    pending_ = true;
    QPointer<ReadableWatch> alive(this);
    // A copy: the callback may close the socket, which destroys this watch.
    const std::function<void()> onReadable = onReadable_;
    Guarded([&] { onReadable(); });
    if (alive && !cancelled_ && pending_)
        setEnabled(false);
}

} // namespace

int socket(int af, int type, int protocol)
{
    const int s = ::socket(af, type | SOCK_CLOEXEC, protocol);
    return s < 0 ? fail() : succeed(s);
}

int bind(int s, const sockaddr *name, int namelen)
{
    if (namelen < 0)
        return fail(EFAULT);
    return ::bind(s, name, socklen_t(namelen)) == 0 ? succeed(0) : fail();
}

int setsockopt(int s, int level, int optname, const char *optval, int optlen)
{
    if (optlen < 0)
        return fail(EFAULT);
    return ::setsockopt(s, level, optname, optval, socklen_t(optlen)) == 0 ? succeed(0) : fail();
}

bool isWatched(int s)
{
    return registrationOf(s) != nullptr;
}

int recvfrom(int s, char *buf, int len, int flags, sockaddr *from, int *fromlen)
{
    if (ReadableWatch *selection = registrationOf(s))
        selection->rearm();
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

int sendto(int s, const char *buf, int len, int flags, const sockaddr *to, int tolen)
{
    if (len < 0 || tolen < 0)
        return fail(EFAULT);
    ssize_t n;
    do {
        n = ::sendto(s, buf, std::size_t(len), flags | MSG_NOSIGNAL, to, socklen_t(tolen));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? fail() : succeed(int(n));
}

int closesocket(int s)
{
    cancelRegistration(s);
    return ::close(s) == 0 ? succeed(0) : fail();
}

int lastError()
{
    return lastErrorCode;
}

void setLastError(int code)
{
    lastErrorCode = code;
}

int watchReadable(int s, QObject *context, std::function<void()> onReadable)
{
    if (onReadable && !context)
        return fail(EINVAL);
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0)
        return fail(errno == EBADF ? ENOTSOCK : errno);
    cancelRegistration(s);
    if (onReadable)
        new ReadableWatch(s, context, std::move(onReadable)); // owned by context
    return succeed(0);
}

} // namespace dgram
