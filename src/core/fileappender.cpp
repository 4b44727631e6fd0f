#include "core/fileappender.h"

#include "core/filecalls.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
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

} // namespace

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
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return systemErrorText(errno);
    path_ = path;
    fd_ = fd;
    stopping_ = false;
    failed_ = false;
    writer_ = std::thread([this] { writeLoop(); });
    return {};
}

void FileAppender::append(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        if (failed_ || stopping_)
            return;
        if (unwritten_ + bytes.size() > MaxUnwrittenBytes) {
            failLocked(tr("磁盘写入跟不上"));
        } else {
            wake = queued_.isEmpty() || queued_.size() + bytes.size() >= GatherBytes;
            queued_.append(bytes);
            unwritten_ += bytes.size();
        }
    }
    if (wake)
        wake_.notify_one();
}

void FileAppender::stop()
{
    if (!isOpen())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    ::close(fd_);
    fd_ = -1;
}

void FileAppender::failLocked(const QString &error)
{
    if (failed_)
        return;
    failed_ = true;
    queued_ = QByteArray();
    unwritten_ = 0;
    // Queued: reported on the owner's thread, and not at all once the
    // appender is gone.
    QMetaObject::invokeMethod(
        this, [this, error] { emit failed(error); }, Qt::QueuedConnection);
}

void FileAppender::writeLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || failed_ || !queued_.isEmpty(); });
        if (failed_)
            return;
        if (!stopping_)
            wake_.wait_for(
                lock, GatherTime, [this] { return stopping_ || failed_ || queued_.size() >= GatherBytes; });
        if (failed_)
            return;
        if (queued_.isEmpty() && stopping_)
            return;
        QByteArray taken;
        taken.swap(queued_);
        lock.unlock();
        const bool written = writeAll(taken);
        const int error = errno;
        lock.lock();
        if (!written) {
            failLocked(systemErrorText(error));
            return;
        }
        if (!failed_)
            unwritten_ -= taken.size();
    }
}

bool FileAppender::writeAll(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = writeToFile(fd_, data, size_t(left));
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
