#include "net/serial/serialwriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr qsizetype kWriteChunk = 4096;
// A device that reports room and then takes nothing is asked again after this
// pause rather than in a tight loop.
constexpr int kStalledRetryMs = 5;

} // namespace

SerialWriter::SerialWriter(int fd, qsizetype capacity)
    : fd_(fd)
    , capacity_(capacity)
{
}

SerialWriter::~SerialWriter()
{
    stop();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool SerialWriter::start()
{
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return false;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void SerialWriter::stop()
{
    stopping_ = true;
    wake();
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(queueMutex_);
    queue_.clear();
}

void SerialWriter::wake()
{
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
}

qsizetype SerialWriter::enqueue(const QByteArray &data)
{
    qsizetype taken = 0;
    {
        std::lock_guard lock(queueMutex_);
        if (stopping_)
            return 0;
        taken = std::min(data.size(), capacity_ - queue_.size());
        if (taken <= 0)
            return 0;
        queue_.append(data.constData(), taken);
    }
    wake();
    return taken;
}

qsizetype SerialWriter::queued() const
{
    std::lock_guard lock(queueMutex_);
    return queue_.size();
}

void SerialWriter::run()
{
    bool stalled = false;
    while (!stopping_) {
        bool pending;
        {
            std::lock_guard lock(queueMutex_);
            pending = !queue_.isEmpty();
        }
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {pending && !stalled ? fd_ : -1, POLLOUT, 0}};
        const int ready = ::poll(fds, 2, stalled ? kStalledRetryMs : -1);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(wakeFd_, &count, sizeof count);
        }
        if (stopping_)
            break;
        if (stalled) {
            stalled = false;
            continue;
        }
        if (fds[1].revents & POLLNVAL)
            break;
        if (!(fds[1].revents & (POLLOUT | POLLERR | POLLHUP)))
            continue;
        switch (writeHead()) {
        case WriteResult::Progress:
            break;
        case WriteResult::Stalled:
            stalled = true;
            break;
        case WriteResult::Failed: {
            // Nothing queued can reach a device that failed (a hung-up line);
            // keeping it would only hold the queue full.
            std::lock_guard lock(queueMutex_);
            queue_.clear();
            break;
        }
        }
    }
}

// Only this thread removes bytes from the queue's head, and the caller only
// appends, so the head copied out stays the head while it is written.
SerialWriter::WriteResult SerialWriter::writeHead()
{
    char chunk[kWriteChunk];
    qsizetype size;
    {
        std::lock_guard lock(queueMutex_);
        size = std::min(queue_.size(), kWriteChunk);
        std::memcpy(chunk, queue_.constData(), size_t(size));
    }
    const ssize_t n = ::write(fd_, chunk, size_t(size));
    if (n > 0) {
        std::lock_guard lock(queueMutex_);
        queue_.remove(0, qsizetype(n));
        return WriteResult::Progress;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        return WriteResult::Failed;
    return WriteResult::Stalled;
}
