#include "net/tcp/readinessreactor.h"

#include "core/errors.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

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
    continuation_ = new QTimer(this);
    continuation_->setSingleShot(true);
    continuation_->setInterval(0);
    connect(continuation_, &QTimer::timeout, this, [this] {
        if (!deferred_.empty())
            dispatch();
    });
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
    // Reports left over go first; the set is asked again only once they are
    // served, so that no handle is served twice for one readiness and none
    // waits behind others that are ready again and again.
    std::vector<Report> reports = std::exchange(deferred_, {});
    if (reports.empty()) {
        epoll_event ready[MaxReportsPerWakeUp];
        const int count = ::epoll_wait(set_, ready, MaxReportsPerWakeUp, 0);
        for (int i = 0; i < count; ++i)
            reports.push_back(Report{ready[i].data.u64, ready[i].events});
    }
    QElapsedTimer spent;
    spent.start();
    const QPointer<ReadinessReactor> self(this);
    for (size_t i = 0; i < reports.size(); ++i) {
        if (i > 0 && spent.elapsed() >= WakeUpBudgetMs) {
            deferred_.assign(reports.begin() + qsizetype(i), reports.end());
            // The set may have nothing ready by then; the rest must come all
            // the same. A timer, not a posted call: posted calls run before
            // the timers that fell due meanwhile.
            continuation_->start();
            return;
        }
        serve(reports[i]);
        if (!self)
            return;
    }
}

void ReadinessReactor::serve(const Report &report)
{
    // Looked up anew for each report: a handler may have stopped or moved
    // any watch, its own included.
    const auto found = entries_.find(report.key);
    if (found == entries_.end())
        return;
    const std::uint32_t got = report.events;
    const std::uint32_t wanted = found->second.events;
    const bool failed = (got & (EPOLLERR | EPOLLHUP)) != 0;
    const bool readable = (wanted & EPOLLIN) && ((got & EPOLLIN) || failed);
    const bool writable = (wanted & EPOLLOUT) && ((got & EPOLLOUT) || failed);
    if (!readable && !writable)
        return;
    // A copy: the handler may replace or drop the entry.
    const ReadyHandler ready = found->second.ready;
    Guarded([&] { ready(readable, writable); });
}
