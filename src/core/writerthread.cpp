#include "core/writerthread.h"

#include "core/filecalls.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

// Writes all of bytes; false with errno set on an error.
bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = writeToFile(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd room{fd, POLLOUT, 0};
                if (::poll(&room, 1, -1) < 0 && errno != EINTR)
                    return false;
                continue;
            }
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Only this thread's mask: a write to a pipe without a reader then fails
// with EPIPE, and the signal it raises stays pending on a thread that never
// takes it.
void blockBrokenPipeSignal()
{
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
}

} // namespace

struct WriterThread::Shared {
    explicit Shared(const Settings &settings)
        : settings(settings)
    {
    }

    const Settings settings;
    int fd = -1; // the writer's alone; it closes it
    mutable std::mutex mutex;
    std::condition_variable wake; // the writer waits for bytes or the stop
    std::condition_variable ended; // the stop waits for the writer
    QByteArray queued; // handed over, not yet taken by the writer
    qsizetype queuedPieces = 0;
    qsizetype unwritten = 0; // queued plus what the writer holds
    qsizetype unwrittenPieces = 0;
    bool stopping = false;
    bool failed = false;
    bool abandoned = false; // the stop gave up waiting
    // When the write under way began.
    std::optional<std::chrono::steady_clock::time_point> writingSince;
    bool done = false; // the descriptor is closed and the writer ends
    // Empty from the stop on.
    FailureReport report;

    // Records the first failure and reports it; the caller holds the mutex.
    void failLocked(const QString &error)
    {
        if (failed)
            return;
        failed = true;
        queued = QByteArray();
        queuedPieces = 0;
        unwritten = 0;
        unwrittenPieces = 0;
        if (report)
            report(error);
    }
};

WriterThread::WriterThread(int fd, const Settings &settings, FailureReport report)
    : shared_(std::make_shared<Shared>(settings))
{
    shared_->fd = fd;
    shared_->report = std::move(report);
    writer_ = std::thread([shared = shared_] {
        blockBrokenPipeSignal();
        writeLoop(shared);
    });
}

WriterThread::~WriterThread()
{
    stop();
}

WriterThread::Handed WriterThread::hand(const QByteArray &bytes, qsizetype pieces)
{
    if (!shared_)
        return Handed::Ended;
    Shared &shared = *shared_;
    bool wake = false;
    {
        const std::lock_guard lock(shared.mutex);
        if (shared.failed || shared.stopping)
            return Handed::Ended;
        if (bytes.isEmpty())
            return Handed::Queued;
        if (bytes.size() > shared.settings.maxBytes - shared.unwritten
            || pieces > shared.settings.maxPieces - shared.unwrittenPieces)
            return Handed::Full;
        wake = shared.queued.isEmpty() || shared.queued.size() + bytes.size() >= shared.settings.gatherBytes;
        shared.queued.append(bytes);
        shared.queuedPieces += pieces;
        shared.unwritten += bytes.size();
        shared.unwrittenPieces += pieces;
    }
    if (wake)
        shared.wake.notify_one();
    return Handed::Queued;
}

void WriterThread::fail(const QString &error)
{
    if (!shared_)
        return;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->failLocked(error);
    }
    shared_->wake.notify_one();
}

qint64 WriterThread::stop()
{
    if (!shared_)
        return 0;
    Shared &shared = *shared_;
    const auto stopBegan = std::chrono::steady_clock::now();
    const auto grace = shared.settings.stopGrace;
    qint64 unwritten = 0;
    bool finished = false;
    {
        std::unique_lock lock(shared.mutex);
        shared.stopping = true;
        shared.wake.notify_one();
        // A write under way for the grace already counts as stuck, so that
        // writers stuck together (the windows closed as the application
        // quits) are given up together rather than one grace after another.
        for (;;) {
            finished = shared.done;
            auto deadline = stopBegan + grace;
            if (shared.writingSince)
                deadline = std::min(deadline, *shared.writingSince + grace);
            if (finished || std::chrono::steady_clock::now() >= deadline)
                break;
            shared.ended.wait_until(lock, deadline);
        }
        if (!finished) {
            shared.abandoned = true;
            unwritten = shared.unwritten;
            shared.queued = QByteArray();
        }
        shared.report = nullptr;
    }
    if (finished)
        writer_.join();
    else
        writer_.detach();
    shared_.reset();
    return unwritten;
}

qsizetype WriterThread::unwrittenBytes() const
{
    if (!shared_)
        return 0;
    const std::lock_guard lock(shared_->mutex);
    return shared_->unwritten;
}

qsizetype WriterThread::unwrittenPieces() const
{
    if (!shared_)
        return 0;
    const std::lock_guard lock(shared_->mutex);
    return shared_->unwrittenPieces;
}

bool WriterThread::hasFailed() const
{
    if (!shared_)
        return false;
    const std::lock_guard lock(shared_->mutex);
    return shared_->failed;
}

void WriterThread::writeLoop(const std::shared_ptr<Shared> &shared)
{
    Shared &s = *shared;
    const Settings &settings = s.settings;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] { return s.stopping || s.failed || !s.queued.isEmpty(); });
        if (!s.stopping && !s.failed && settings.gatherTime.count() > 0)
            s.wake.wait_for(lock, settings.gatherTime, [&s, &settings] {
                return s.stopping || s.failed || s.queued.size() >= settings.gatherBytes;
            });
        if (s.failed || (s.queued.isEmpty() && s.stopping))
            break;
        QByteArray taken;
        taken.swap(s.queued);
        const qsizetype takenPieces = std::exchange(s.queuedPieces, 0);
        s.writingSince = std::chrono::steady_clock::now();
        lock.unlock();
        const bool written = writeAll(s.fd, taken);
        const int error = errno;
        lock.lock();
        s.writingSince.reset();
        // Given up: nobody waits for what follows, nor hears of it.
        if (s.abandoned)
            break;
        if (!written) {
            s.failLocked(QString::fromLocal8Bit(std::strerror(error)));
            break;
        }
        if (!s.failed) {
            s.unwritten -= taken.size();
            s.unwrittenPieces -= takenPieces;
        }
    }
    const int fd = std::exchange(s.fd, -1);
    lock.unlock();
    ::close(fd);
    lock.lock();
    s.done = true;
    s.ended.notify_one();
}
