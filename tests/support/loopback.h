#pragma once
// Plain POSIX peers on 127.0.0.1 for the TCP component tests, plus small
// helpers to count descriptors and catch reported exceptions.

#include "core/errors.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QStringList>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace loopback_test {

inline sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

inline int localPort(int handle)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(handle, reinterpret_cast<sockaddr *>(&address), &size);
    return ntohs(address.sin_port);
}

// A descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int handle = -1)
        : handle_(handle)
    {
    }
    Fd(Fd &&other) noexcept
        : handle_(other.release())
    {
    }
    Fd &operator=(Fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~Fd() { reset(); }
    [[nodiscard]] int get() const { return handle_; }
    int release() { return std::exchange(handle_, -1); }
    void reset(int handle = -1)
    {
        if (handle_ != -1)
            ::close(handle_);
        handle_ = handle;
    }

private:
    int handle_;
};

// A blocking listener on 127.0.0.1 with a port of the kernel's choosing.
inline Fd listenOnLoopback()
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback(0);
    ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::listen(fd.get(), SOMAXCONN);
    return fd;
}

// Waits up to timeoutMs for a peer; -1 when none came.
inline Fd acceptWithin(int listener, int timeoutMs = 5000)
{
    pollfd wait{listener, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMs) != 1)
        return Fd();
    return Fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

inline Fd connectTo(int port, bool nonBlocking = false)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    const sockaddr_in address = loopback(port);
    ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return fd;
}

// A connection whose receive buffer is as small as the system allows, so
// that a peer that never reads leaves the other end's sends waiting soon.
inline Fd connectWithSmallReceiveBuffer(int port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int size = 1024;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    const sockaddr_in address = loopback(port);
    ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return fd;
}

inline void setReceiveQueue(int fd, int bytes)
{
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// A datagram socket on 127.0.0.1 with room for a whole test file; collect()
// takes what has arrived.
class DatagramReceiver {
public:
    DatagramReceiver()
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0))
    {
        const sockaddr_in address = loopback(0);
        ::bind(fd_.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
        setReceiveQueue(fd_.get(), 4 * 1024 * 1024);
    }
    [[nodiscard]] int port() const { return localPort(fd_.get()); }
    void sendTo(int port, const QByteArray &data) const
    {
        const sockaddr_in to = loopback(port);
        ::sendto(fd_.get(), data.constData(), size_t(data.size()), 0, reinterpret_cast<const sockaddr *>(&to),
            sizeof to);
    }
    int collect()
    {
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd_.get(), buffer, sizeof buffer, 0)) >= 0;)
            received << QByteArray(buffer, int(n));
        return int(received.size());
    }
    QList<QByteArray> received;

private:
    Fd fd_;
};

// A datagram port on 127.0.0.1 that is free now (taken and released again).
inline int unusedUdpPort()
{
    return DatagramReceiver().port();
}

// A port on 127.0.0.1 where nothing listens (taken and released again).
inline int unusedPort()
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback(0);
    ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return localPort(fd.get());
}

// Closing with a zero linger time resets the connection.
inline void resetAndClose(Fd &fd)
{
    const linger hard{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    fd.reset();
}

inline QByteArray readWithin(int handle, int timeoutMs = 5000)
{
    pollfd wait{handle, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMs) != 1)
        return "<timeout>";
    char buffer[65536];
    const ssize_t got = ::recv(handle, buffer, sizeof buffer, 0);
    return got < 0 ? QByteArray("<error>") : QByteArray(buffer, int(got));
}

inline int openDescriptorCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Lowers the soft descriptor limit to the lowest free descriptor number plus
// headroom, so that only `headroom` more can be opened (0: none). Returns
// that number, or -1 when it could not be done. The caller restores saved.
inline int tightenDescriptorLimit(const rlimit &saved, int headroom)
{
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (lowestFree < 0)
        return -1;
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowestFree + headroom);
    return ::setrlimit(RLIMIT_NOFILE, &tight) == 0 ? lowestFree : -1;
}

// Collects the messages of reported exceptions while it exists.
class ReportedMessages {
public:
    ReportedMessages()
        : previous_(
            SetExceptionReporter([this](const std::exception &e) { messages << ExceptionMessage(e); }))
    {
    }
    ~ReportedMessages() { SetExceptionReporter(previous_); }
    ReportedMessages(const ReportedMessages &) = delete;
    ReportedMessages &operator=(const ReportedMessages &) = delete;

    QStringList messages;

private:
    ExceptionReporter previous_;
};

} // namespace loopback_test
