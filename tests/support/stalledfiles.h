#pragma once
// A file system that stalls or fails, standing in for the system's calls of
// core/filecalls.h while one exists: what a network file system that stops
// answering, a hung disk or a full disk does to the program's reads and
// writes, on demand.
//
// A stalled call waits in the kernel (a read of a pipe), as a call into a
// stalled file system does, until release() or the stand-in's end, then
// makes the system's call. So that a regression fails a test instead of
// hanging it, a stall also lets go by itself after giveUpAfter (generous: it
// only has to outlast what the program waits for) and says so.
// One at a time; created and destroyed on the test's thread.

#include "core/filecalls.h"

#include <QByteArray>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

class StalledFiles {
public:
    enum class Mode { System, Stall, Fail };

    explicit StalledFiles(std::chrono::milliseconds giveUpAfter = std::chrono::seconds(20))
    {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) != 0)
            qFatal("no pipe for the stalled file system");
        state().releaseRead.store(ends[0]);
        state().releaseWrite.store(ends[1]);
        state().giveUpMs.store(int(giveUpAfter.count()));
        state().stalled.store(0);
        state().testThread.store(std::this_thread::get_id());
        state().stalledOnTestThread.store(false);
        state().gaveUp.store(false);
        state().writes.store(Mode::System);
        state().reads.store(Mode::System);
        replaceFileCalls(&calls());
    }

    // Lets every stalled call go on and hands the calls back to the system.
    // Calls still waiting leave the pipe before it is closed.
    ~StalledFiles()
    {
        state().writes.store(Mode::System);
        state().reads.store(Mode::System);
        release();
        for (int i = 0; i < 5000 && state().inside.load() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (state().inside.load() == 0)
            ::close(state().releaseRead.exchange(-1));
        replaceFileCalls(nullptr);
    }

    StalledFiles(const StalledFiles &) = delete;
    StalledFiles &operator=(const StalledFiles &) = delete;

    void stallWrites() { state().writes.store(Mode::Stall); }
    void stallReads() { state().reads.store(Mode::Stall); }
    // Every write fails with the error, as on a full disk (ENOSPC).
    void failWrites(int error)
    {
        state().error.store(error);
        state().writes.store(Mode::Fail);
    }
    // The stalled calls go on, and none stalls again.
    void release()
    {
        state().writes.store(state().writes.load() == Mode::Stall ? Mode::System : state().writes.load());
        state().reads.store(state().reads.load() == Mode::Stall ? Mode::System : state().reads.load());
        const int end = state().releaseWrite.exchange(-1);
        if (end != -1)
            ::close(end);
    }

    // Calls that stalled so far.
    [[nodiscard]] int stalledCalls() const { return state().stalled.load(); }
    // A call stalled on the thread that made the stand-in (the test's, the
    // one the window runs on).
    [[nodiscard]] bool stalledOnTestThread() const { return state().stalledOnTestThread.load(); }
    // A stall ran out of patience: whatever waited on it waited far too long.
    [[nodiscard]] bool gaveUp() const { return state().gaveUp.load(); }

private:
    struct State {
        std::atomic<Mode> writes{Mode::System};
        std::atomic<Mode> reads{Mode::System};
        std::atomic<int> error{0};
        std::atomic<int> releaseRead{-1};
        std::atomic<int> releaseWrite{-1};
        std::atomic<int> giveUpMs{0};
        std::atomic<int> inside{0};
        std::atomic<int> stalled{0};
        std::atomic<std::thread::id> testThread{};
        std::atomic<bool> stalledOnTestThread{false};
        std::atomic<bool> gaveUp{false};
    };

    // Never destroyed: a thread left stalled by one case may still be
    // inside when the process ends.
    static State &state()
    {
        static State *const shared = new State;
        return *shared;
    }

    // False when the call is to fail instead (errno set).
    static bool pass(const std::atomic<Mode> &mode)
    {
        state().inside.fetch_add(1);
        if (mode.load() == Mode::Fail) {
            state().inside.fetch_sub(1);
            errno = state().error.load();
            return false;
        }
        if (mode.load() == Mode::Stall) {
            state().stalled.fetch_add(1);
            if (std::this_thread::get_id() == state().testThread.load())
                state().stalledOnTestThread.store(true);
            pollfd released{state().releaseRead.load(), POLLIN, 0};
            int ready = 0;
            do {
                ready = ::poll(&released, 1, state().giveUpMs.load());
            } while (ready < 0 && errno == EINTR);
            if (ready == 0)
                state().gaveUp.store(true);
        }
        state().inside.fetch_sub(1);
        return true;
    }

    static const FileCalls &calls()
    {
        static const FileCalls standIn{
            [](int fd, const void *data, size_t size) -> ssize_t {
                return pass(state().writes) ? ::write(fd, data, size) : -1;
            },
            [](int fd, void *data, size_t size) -> ssize_t {
                return pass(state().reads) ? ::read(fd, data, size) : -1;
            },
            [](int fd, void *data, size_t size, off_t offset) -> ssize_t {
                return pass(state().reads) ? ::pread(fd, data, size, offset) : -1;
            },
        };
        return standIn;
    }
};

// Opens the other end of a named pipe after a generous while unless disarmed
// first, so that an open() that waits for a peer on the pipe lets go and the
// test fails instead of hanging. otherEnd is O_RDONLY or O_WRONLY.
class FifoRescue {
public:
    FifoRescue(
        const QByteArray &path, int otherEnd, std::chrono::milliseconds after = std::chrono::seconds(10))
        : thread_([this, path, otherEnd, after] {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, after, [this] { return disarmed_; }))
                return;
            peer_ = ::open(path.constData(), otherEnd | O_NONBLOCK | O_CLOEXEC);
            rescued_ = true;
        })
    {
    }
    ~FifoRescue()
    {
        disarm();
        thread_.join();
        if (peer_ != -1)
            ::close(peer_);
    }
    FifoRescue(const FifoRescue &) = delete;
    FifoRescue &operator=(const FifoRescue &) = delete;

    void disarm()
    {
        {
            const std::lock_guard lock(mutex_);
            disarmed_ = true;
        }
        wake_.notify_one();
    }
    // Whether the open had to be rescued: it waited for the pipe's peer.
    [[nodiscard]] bool rescued()
    {
        const std::lock_guard lock(mutex_);
        return rescued_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool disarmed_ = false;
    bool rescued_ = false;
    int peer_ = -1;
    std::thread thread_; // last: it starts with everything above in place
};
