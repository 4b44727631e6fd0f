#include "core/fileappender.h"

#include "core/filecalls.h"
#include "core/regularfile.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include <unistd.h>

namespace {

// A writer woken by the first bytes waits this long for more before writing,
// so a flood of short log lines costs a few writes a second.
constexpr auto GatherTime = std::chrono::milliseconds(100);
// Written at once rather than gathered any longer.
constexpr qsizetype GatherBytes = 256 * 1024;

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

struct FileAppender::Shared {
    int fd = -1; // the writer's alone; it closes it
    std::mutex mutex;
    std::condition_variable wake; // the writer waits for bytes or the stop
    std::condition_variable ended; // the stop waits for the writer
    QByteArray queued; // handed over, not yet taken by the writer
    qsizetype unwritten = 0; // queued plus what the writer holds
    bool stopping = false;
    bool failed = false;
    bool abandoned = false; // the stop gave up waiting
    // When the write under way began.
    std::optional<std::chrono::steady_clock::time_point> writingSince;
    bool done = false; // the file is closed and the writer ends
    // Told of a failure while it waits for the writer; nullptr from the
    // stop on.
    FileAppender *owner = nullptr;

    // Records the first failure and reports it on the owner's thread; the
    // caller holds the mutex.
    void failLocked(const QString &error)
    {
        if (failed)
            return;
        failed = true;
        queued = QByteArray();
        unwritten = 0;
        // Queued: reported on the owner's thread, and not at all once the
        // owner is gone (its end removes what was posted to it).
        if (FileAppender *to = owner)
            QMetaObject::invokeMethod(
                to, [to, error] { emit to->failed(error); }, Qt::QueuedConnection);
    }
};

FileAppender::FileAppender(QObject *parent)
    : QObject(parent)
{
}

FileAppender::~FileAppender()
{
    stop();
}

QString FileAppender::open(const QString &path)
{
    Q_ASSERT(!isOpen());
    QString error;
    const int fd = openRegularFileForAppending(path, &error);
    if (fd < 0)
        return error;
    path_ = path;
    shared_ = std::make_shared<Shared>();
    shared_->fd = fd;
    shared_->owner = this;
    writer_ = std::thread([shared = shared_] { writeLoop(shared); });
    return {};
}

void FileAppender::append(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    Shared &shared = *shared_;
    bool wake = false;
    {
        const std::lock_guard lock(shared.mutex);
        if (shared.failed || shared.stopping)
            return;
        if (shared.unwritten + bytes.size() > MaxUnwrittenBytes) {
            shared.failLocked(tr("磁盘写入跟不上"));
        } else {
            wake = shared.queued.isEmpty() || shared.queued.size() + bytes.size() >= GatherBytes;
            shared.queued.append(bytes);
            shared.unwritten += bytes.size();
        }
    }
    if (wake)
        shared.wake.notify_one();
}

qint64 FileAppender::stop()
{
    if (!isOpen())
        return 0;
    Shared &shared = *shared_;
    const auto stopBegan = std::chrono::steady_clock::now();
    qint64 unwritten = 0;
    bool finished = false;
    {
        std::unique_lock lock(shared.mutex);
        shared.stopping = true;
        shared.wake.notify_one();
        // A write under way for StopGrace already counts as stuck, so that
        // recordings stuck together (the windows closed as the application
        // quits) are given up together rather than one grace after another.
        for (;;) {
            finished = shared.done;
            auto deadline = stopBegan + StopGrace;
            if (shared.writingSince)
                deadline = std::min(deadline, *shared.writingSince + StopGrace);
            if (finished || std::chrono::steady_clock::now() >= deadline)
                break;
            shared.ended.wait_until(lock, deadline);
        }
        if (!finished) {
            shared.abandoned = true;
            unwritten = shared.unwritten;
            shared.queued = QByteArray();
        }
        shared.owner = nullptr;
    }
    if (finished)
        writer_.join();
    else
        writer_.detach();
    shared_.reset();
    return unwritten;
}

void FileAppender::writeLoop(const std::shared_ptr<Shared> &shared)
{
    Shared &s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] { return s.stopping || s.failed || !s.queued.isEmpty(); });
        if (!s.stopping && !s.failed)
            s.wake.wait_for(
                lock, GatherTime, [&s] { return s.stopping || s.failed || s.queued.size() >= GatherBytes; });
        if (s.failed || (s.queued.isEmpty() && s.stopping))
            break;
        QByteArray taken;
        taken.swap(s.queued);
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
            s.failLocked(systemErrorText(error));
            break;
        }
        if (!s.failed)
            s.unwritten -= taken.size();
    }
    const int fd = std::exchange(s.fd, -1);
    lock.unlock();
    ::close(fd);
    lock.lock();
    s.done = true;
    s.ended.notify_one();
}
