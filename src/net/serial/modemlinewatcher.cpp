#include "net/serial/modemlinewatcher.h"

#include "net/serial/serialdevicecalls.h"

#include <QMetaObject>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr int kWatchedLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;

// A driver that has no wait for line changes is asked this often instead.
constexpr auto kPollInterval = std::chrono::milliseconds(100);

// stop() interrupts the wait, looks whether the thread has ended, and tries
// again: a signal sent just before the thread began to wait is lost.
constexpr auto kInterruptRetry = std::chrono::milliseconds(5);
constexpr int kInterruptTries = 100;

} // namespace

struct ModemLineWatcher::Shared {
    std::shared_ptr<SerialDeviceCalls> calls;
    QObject *context = nullptr;
    Changed changed;

    std::atomic<bool> stopping{false};
    std::atomic<int> latest{0};
    std::atomic<bool> handOverWaiting{false};

    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;

    void publish(int lines, const std::shared_ptr<Shared> &self)
    {
        latest = lines;
        if (handOverWaiting.exchange(true))
            return;
        // Dropped by Qt when the context object is destroyed first; stopping
        // covers a watcher stopped while its context lives on.
        QMetaObject::invokeMethod(
            context,
            [self] {
                self->handOverWaiting = false;
                if (!self->stopping)
                    self->changed(self->latest);
            },
            Qt::QueuedConnection);
    }

    // False when stopping ended the pause.
    bool pause()
    {
        std::unique_lock lock(mutex);
        return !cv.wait_for(lock, kPollInterval, [this] { return stopping.load(); });
    }
};

ModemLineWatcher::ModemLineWatcher(
    std::shared_ptr<SerialDeviceCalls> calls, QObject &context, Changed changed)
    : calls_(std::move(calls))
    , context_(context)
    , changed_(std::move(changed))
{
}

ModemLineWatcher::~ModemLineWatcher()
{
    stop();
}

int ModemLineWatcher::start(int fd)
{
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return errno;
    auto shared = std::make_shared<Shared>();
    shared->calls = calls_;
    shared->context = &context_;
    shared->changed = changed_;
    try {
        thread_ = std::thread([shared, own] { run(shared, own); });
    } catch (const std::system_error &e) {
        ::close(own);
        return e.code().value();
    }
    shared_ = std::move(shared);
    return 0;
}

void ModemLineWatcher::run(const std::shared_ptr<Shared> &shared, int fd)
{
    bool canWait = true;
    int lines = 0;
    while (!shared->stopping && shared->calls->modemLines(fd, lines) == 0) {
        shared->publish(lines, shared);
        if (shared->stopping)
            break;
        if (!canWait) {
            if (!shared->pause())
                break;
            continue;
        }
        const int error = shared->calls->waitForModemChange(fd, kWatchedLines);
        if (error == ENOTTY || error == EINVAL)
            canWait = false;
        else if (error != 0 && error != EINTR)
            break; // the device is gone; its reader says so
    }
    ::close(fd);
    {
        std::lock_guard lock(shared->mutex);
        shared->finished = true;
    }
    shared->cv.notify_all();
}

void ModemLineWatcher::stop()
{
    if (!thread_.joinable())
        return;
    shared_->stopping = true;
    std::unique_lock lock(shared_->mutex);
    shared_->cv.notify_all();
    for (int i = 0; i < kInterruptTries && !shared_->finished; ++i) {
        lock.unlock();
        calls_->interruptWait(thread_.native_handle());
        lock.lock();
        shared_->cv.wait_for(lock, kInterruptRetry, [this] { return shared_->finished; });
    }
    const bool finished = shared_->finished;
    lock.unlock();
    if (finished)
        thread_.join();
    else
        thread_.detach();
    shared_.reset();
}
