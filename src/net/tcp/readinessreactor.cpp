#include "net/tcp/readinessreactor.h"

#include "core/errors.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ReadinessReactor *ReadinessReactor::instance()
{
    static QPointer<ReadinessReactor> reactor;
    if (!reactor) {
        QCoreApplication *application = QCoreApplication::instance();
        if (application == nullptr)
            return nullptr;
        reactor = new ReadinessReactor;
        reactor->setParent(application);
    }
    return reactor;
}

ReadinessReactor::ReadinessReactor()
    : set_(::epoll_create1(EPOLL_CLOEXEC))
{
    if (set_ == -1)
        throw Exception(
            QStringLiteral("epoll_create1: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    notifier_ = new QSocketNotifier(set_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { dispatch(); });
}

ReadinessReactor::~ReadinessReactor()
{
    delete notifier_;
    ::close(set_);
}

void ReadinessReactor::watch(std::uint64_t &key, int handle, bool read, bool write, ReadyHandler ready)
{
    auto found = key != 0 ? entries_.find(key) : entries_.end();
    if (found != entries_.end() && (found->second.handle != handle || (!read && !write))) {
        forget(key);
        found = entries_.end();
    }
    if (handle == -1 || (!read && !write))
        return;
    const std::uint32_t events = (read ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u);
    if (found == entries_.end()) {
        key = ++nextKey_;
        epoll_event e{};
        e.events = events;
        e.data.u64 = key;
        int done = ::epoll_ctl(set_, EPOLL_CTL_ADD, handle, &e);
        // A handle closed and reused without being released first is still
        // in the set under its old key.
        if (done != 0 && errno == EEXIST)
            done = ::epoll_ctl(set_, EPOLL_CTL_MOD, handle, &e);
        if (done != 0) {
            const int error = errno;
            key = 0;
            throw Exception(
                QStringLiteral("epoll_ctl: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
        }
        entries_.emplace(key, Entry{handle, events, std::move(ready)});
        return;
    }
    Entry &entry = found->second;
    entry.ready = std::move(ready);
    if (entry.events == events)
        return;
    epoll_event e{};
    e.events = events;
    e.data.u64 = key;
    ::epoll_ctl(set_, EPOLL_CTL_MOD, handle, &e);
    entry.events = events;
}

void ReadinessReactor::forget(std::uint64_t &key)
{
    if (key == 0)
        return;
    const auto found = entries_.find(key);
    if (found != entries_.end()) {
        // Fails harmlessly for a handle that was closed already (closing
        // took it out of the set).
        ::epoll_ctl(set_, EPOLL_CTL_DEL, found->second.handle, nullptr);
        entries_.erase(found);
    }
    key = 0;
}

void ReadinessReactor::dispatch()
{
    epoll_event reports[MaxReportsPerWakeUp];
    const int count = ::epoll_wait(set_, reports, MaxReportsPerWakeUp, 0);
    for (int i = 0; i < count; ++i) {
        // Looked up anew for each report: a handler may have stopped or
        // moved any watch, its own included.
        const auto found = entries_.find(reports[i].data.u64);
        if (found == entries_.end())
            continue;
        const std::uint32_t got = reports[i].events;
        const std::uint32_t wanted = found->second.events;
        const bool failed = (got & (EPOLLERR | EPOLLHUP)) != 0;
        const bool readable = (wanted & EPOLLIN) && ((got & EPOLLIN) || failed);
        const bool writable = (wanted & EPOLLOUT) && ((got & EPOLLOUT) || failed);
        if (!readable && !writable)
            continue;
        // A copy: the handler may replace or drop the entry.
        const ReadyHandler ready = found->second.ready;
        Guarded([&] { ready(readable, writable); });
    }
}
