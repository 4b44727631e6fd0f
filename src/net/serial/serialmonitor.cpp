#include "net/serial/serialmonitor.h"

#include <QMetaObject>

#include <cerrno>
#include <exception>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// After a hang-up (the far end of a pseudo-terminal closed) the device stays
// readable-at-end-of-file for ever; it is looked at again this often instead of
// being polled in a tight loop.
constexpr int kHungUpRetryMs = 100;

constexpr int kReadChunk = 4096;

} // namespace

// One hand-over at a time travels between the monitoring thread and the UI
// thread. Shared with the queued call, which may run after the thread object
// has gone (port closed): stopped then makes it do nothing.
struct SerialMonitor::HandOver {
    std::mutex mutex;
    std::condition_variable cv;
    std::uint64_t pending = 0; // id of the hand-over the thread waits for
    std::uint64_t served = 0;
    bool failed = false;
    bool stopped = false;
};

SerialMonitor::SerialMonitor(QObject &owner, int fd, Dispatch dispatch)
    : owner_(owner)
    , fd_(fd)
    , dispatch_(std::move(dispatch))
    , handOver_(std::make_shared<HandOver>())
{
}

SerialMonitor::~SerialMonitor()
{
    stop();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool SerialMonitor::start()
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

void SerialMonitor::stop()
{
    stopping_ = true;
    {
        std::lock_guard lock(handOver_->mutex);
        handOver_->stopped = true;
    }
    handOver_->cv.notify_all();
    wake();
    if (thread_.joinable())
        thread_.join();
}

void SerialMonitor::wake()
{
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
}

void SerialMonitor::setInputLimit(int bytes)
{
    inputLimit_ = bytes;
    wake(); // more room may let the thread read again
}

int SerialMonitor::queued() const
{
    std::lock_guard lock(inputMutex_);
    return int(input_.size());
}

int SerialMonitor::take(char *dest, int count, int &error)
{
    std::lock_guard lock(inputMutex_);
    const bool wasFull = input_.size() >= inputLimit_;
    int taken = int(std::min<qsizetype>(count, input_.size()));
    std::copy_n(input_.constData(), taken, dest);
    input_.remove(0, taken);
    if (taken < count) {
        const ssize_t n = ::read(fd_, dest + taken, size_t(count - taken));
        if (n > 0) {
            taken += int(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            error = errno;
            return -1;
        }
    }
    if (wasFull)
        wake();
    return taken;
}

void SerialMonitor::discard()
{
    std::lock_guard lock(inputMutex_);
    input_.clear();
    wake();
}

DeviceEvents SerialMonitor::fill(bool &hungUp)
{
    std::lock_guard lock(inputMutex_);
    const int room = inputLimit_ - int(input_.size());
    if (room <= 0)
        return {};
    char chunk[kReadChunk];
    const ssize_t n = ::read(fd_, chunk, size_t(std::min(room, kReadChunk)));
    if (n <= 0) {
        // End of file or an error other than "nothing there": the device has
        // hung up (or cannot be read at all).
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            hungUp = true;
        return {};
    }
    input_.append(chunk, n);
    DeviceEvents events = DeviceEvent::CharReceived;
    if (QByteArrayView(chunk, n).contains(char(eventChar_.load())))
        events |= DeviceEvent::EventChar;
    return events;
}

void SerialMonitor::run()
{
    bool hungUp = false;
    while (!stopping_) {
        bool haveRoom;
        {
            std::lock_guard lock(inputMutex_);
            haveRoom = input_.size() < inputLimit_;
        }
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {haveRoom && !hungUp ? fd_ : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 2, hungUp ? kHungUpRetryMs : -1);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(wakeFd_, &count, sizeof count);
        }
        if (stopping_)
            break;
        if (ready == 0) {
            hungUp = false; // look at the device again
            continue;
        }
        if (fds[1].revents & POLLNVAL)
            break;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const DeviceEvents events = fill(hungUp);
            if (events && !deliver(events))
                break;
        }
    }
}

bool SerialMonitor::deliver(DeviceEvents events)
{
    if (!synchronize_) {
        try {
            dispatch_(events);
            return true;
        } catch (...) {
            // Reported where reports belong, on the UI thread; the monitoring
            // ends as it does for a handed-over dispatch.
            QMetaObject::invokeMethod(
                &owner_,
                [error = std::current_exception()] { Guarded([&] { std::rethrow_exception(error); }); },
                Qt::QueuedConnection);
            return false;
        }
    }

    const std::shared_ptr<HandOver> shared = handOver_;
    std::unique_lock lock(shared->mutex);
    if (shared->stopped)
        return false;
    const std::uint64_t id = ++shared->pending;
    QMetaObject::invokeMethod(
        &owner_,
        [shared, id, events, dispatch = dispatch_] {
            {
                std::lock_guard lock(shared->mutex);
                if (shared->stopped || shared->pending != id)
                    return;
            }
            bool ok = false;
            Guarded([&] {
                dispatch(events);
                ok = true;
            });
            {
                std::lock_guard lock(shared->mutex);
                shared->served = id;
                shared->failed = !ok;
            }
            shared->cv.notify_all();
        },
        Qt::QueuedConnection);
    shared->cv.wait(lock, [&] { return shared->stopped || shared->served == id; });
    return !shared->stopped && !shared->failed;
}
