#include "net/serial/serialreader.h"

#include "net/serial/serialdevicecalls.h"

#include <QMetaObject>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr size_t kReadChunk = 64 * 1024;

// A terminal in raw mode with VMIN = VTIME = 0 answers read() with 0 when
// nothing is there; a hang-up (an unplugged adapter, a closed
// pseudo-terminal master) shows in poll(). Anything else that keeps waking
// the thread with nothing to read is a driver fault, answered by not
// listening for a while.
constexpr int kEmptyReadsBeforePause = 16;
constexpr auto kReadPause = std::chrono::milliseconds(200);

} // namespace

struct SerialReader::Shared {
    std::shared_ptr<SerialDeviceCalls> calls;
    QObject *context = nullptr;
    Ready ready;
    int wake = -1;

    std::atomic<bool> stopping{false};
    std::atomic<bool> handOverWaiting{false};

    std::mutex mutex;
    std::condition_variable cv; // room in pending, or stopping
    QByteArray pending;
    int lostError = 0;

    void handOver(const std::shared_ptr<Shared> &self)
    {
        if (handOverWaiting.exchange(true))
            return;
        // Dropped by Qt when the context object is destroyed first; stopping
        // covers a reader stopped while its context lives on.
        QMetaObject::invokeMethod(
            context,
            [self] {
                self->handOverWaiting = false;
                if (!self->stopping)
                    self->ready();
            },
            Qt::QueuedConnection);
    }

    // False when stopping ended the wait.
    bool waitForRoom()
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return stopping || pending.size() < PendingLimit; });
        return !stopping;
    }

    // False when stopping ended the pause.
    bool pause()
    {
        std::unique_lock lock(mutex);
        return !cv.wait_for(lock, kReadPause, [this] { return stopping.load(); });
    }
};

SerialReader::SerialReader(std::shared_ptr<SerialDeviceCalls> calls, QObject &context, Ready ready)
    : calls_(std::move(calls))
    , context_(context)
    , ready_(std::move(ready))
{
}

SerialReader::~SerialReader()
{
    stop();
}

int SerialReader::start(int fd)
{
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return errno;
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        const int error = errno;
        ::close(own);
        return error;
    }
    auto shared = std::make_shared<Shared>();
    shared->calls = calls_;
    shared->context = &context_;
    shared->ready = ready_;
    shared->wake = wake;
    try {
        thread_ = std::thread([shared, own] { run(shared, own); });
    } catch (const std::system_error &e) {
        ::close(own);
        ::close(wake);
        return e.code().value();
    }
    shared_ = std::move(shared);
    return 0;
}

void SerialReader::run(const std::shared_ptr<Shared> &shared, int fd)
{
    static thread_local char buffer[kReadChunk];
    int emptyReads = 0;
    int lost = 0;
    while (!lost && shared->waitForRoom()) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {shared->wake, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno != EINTR)
                lost = errno;
            continue;
        }
        if (waits[1].revents != 0)
            break;
        const ssize_t n = shared->calls->read(fd, buffer, sizeof buffer);
        if (n > 0) {
            emptyReads = 0;
            std::lock_guard lock(shared->mutex);
            shared->pending.append(buffer, n);
            shared->handOver(shared);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            lost = errno;
        else if ((waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            lost = EIO;
        else if (++emptyReads >= kEmptyReadsBeforePause) {
            emptyReads = 0;
            if (!shared->pause())
                break;
        }
    }
    ::close(fd);
    if (lost) {
        std::lock_guard lock(shared->mutex);
        shared->lostError = lost;
        shared->handOver(shared);
    }
}

void SerialReader::stop()
{
    if (!thread_.joinable())
        return;
    shared_->stopping = true;
    const quint64 one = 1;
    (void)!::write(shared_->wake, &one, sizeof one);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->cv.notify_all();
    }
    thread_.join();
    ::close(shared_->wake);
    shared_.reset();
}

QByteArray SerialReader::take(qsizetype limit, int *lostError)
{
    *lostError = 0;
    if (!shared_)
        return {};
    std::lock_guard lock(shared_->mutex);
    QByteArray piece;
    if (shared_->pending.size() <= limit) {
        piece.swap(shared_->pending);
    } else {
        piece = shared_->pending.first(limit);
        shared_->pending.remove(0, limit);
    }
    if (!shared_->pending.isEmpty())
        shared_->handOver(shared_);
    else
        *lostError = shared_->lostError;
    shared_->cv.notify_all();
    return piece;
}
