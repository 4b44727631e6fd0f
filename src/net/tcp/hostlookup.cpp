#include "net/tcp/hostlookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

LookupResult resolveHost(const QByteArray &host)
{
    LookupResult result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int rc = ::getaddrinfo(host.constData(), nullptr, &hints, &found);
    if (rc != 0) {
        result.errorCode = rc == EAI_SYSTEM ? errno : rc;
        if (result.errorCode == 0)
            result.errorCode = EAI_FAIL;
        return result;
    }
    result.address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return result;
}

LookupResult resolveService(const QByteArray &service)
{
    LookupResult result;
    servent entry{};
    servent *found = nullptr;
    char buffer[1024];
    const int rc = ::getservbyname_r(service.constData(), "tcp", &entry, buffer, sizeof buffer, &found);
    if (rc != 0 || found == nullptr) {
        result.errorCode = EAI_SERVICE;
        return result;
    }
    result.port = std::uint16_t(found->s_port);
    return result;
}

} // namespace

HostLookup::HostLookup(QObject *receiver, Completion done)
    : receiver_(receiver)
    , done_(std::move(done))
{
}

std::shared_ptr<HostLookup> HostLookup::startHost(QObject *receiver, const QString &host, Completion done)
{
    return start(receiver, std::move(done), [name = host.toLocal8Bit()] { return resolveHost(name); });
}

std::shared_ptr<HostLookup> HostLookup::startService(
    QObject *receiver, const QString &service, Completion done)
{
    return start(receiver, std::move(done), [name = service.toLocal8Bit()] { return resolveService(name); });
}

std::shared_ptr<HostLookup> HostLookup::start(
    QObject *receiver, Completion done, std::function<LookupResult()> job)
{
    std::shared_ptr<HostLookup> lookup(new HostLookup(receiver, std::move(done)));
    // Detached: a resolver stuck on a dead name server must not hold up the
    // program; the worker keeps the shared state alive on its own.
    std::thread([lookup, job = std::move(job)] { lookup->deliver(job()); }).detach();
    return lookup;
}

void HostLookup::deliver(const LookupResult &result)
{
    std::lock_guard guard(mutex_);
    if (receiver_ == nullptr)
        return;
    // Posting under the mutex: cancel() (and so the receiver's destruction)
    // waits for it, and Qt drops the posted call if the receiver goes first.
    QMetaObject::invokeMethod(
        receiver_, [done = done_, result] { done(result); }, Qt::QueuedConnection);
}

void HostLookup::cancel()
{
    std::lock_guard guard(mutex_);
    receiver_ = nullptr;
}

QString SocketErrorText(int code)
{
    if (code < 0)
        return QString::fromLocal8Bit(::gai_strerror(code));
    return QString::fromLocal8Bit(std::strerror(code));
}
