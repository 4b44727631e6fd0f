#pragma once
// Device calls for serial channel tests: bytes and attributes go to the real
// pseudo-terminal underneath (pass-through by default), while the modem
// lines, the break and chosen failures are played by the test. Every call
// that touches the device is logged in order, so a test can see what came
// first.
//
// Threads: the modem-line calls come from the channel's watcher thread, the
// rest from the test's; everything shared is under mutex.

#include "net/serial/serialdevicecalls.h"

#include <QStringList>

#include <asm/termbits.h>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/ioctl.h>

class FakeSerialCalls : public SerialDeviceCalls {
public:
    // Set before the open they are for.
    int openError = 0;
    int claimError = 0;
    std::optional<unsigned> rateTaken; // what the device reports back instead of the rate set
    QString sysRoot; // a sysfs tree in a folder; empty: the system's
    bool emulateModemLines = true; // false: the pseudo-terminal's own answers
    // Read on the channel's reader thread while the test sets them.
    std::atomic<bool> zeroReads{false}; // every read returns 0 and takes nothing
    std::atomic<bool> endlessReads{false}; // every read fills the buffer, as a device that never stops

    int open(const QByteArray &path, int &fd) override
    {
        note("open");
        if (openError)
            return openError;
        return SerialDeviceCalls::open(path, fd);
    }
    int claim(int fd) override
    {
        note("claim");
        return claimError ? claimError : SerialDeviceCalls::claim(fd);
    }
    void unclaim(int fd) override
    {
        note("unclaim");
        SerialDeviceCalls::unclaim(fd);
    }
    [[nodiscard]] QString sysfsRoot() const override
    {
        return sysRoot.isEmpty() ? SerialDeviceCalls::sysfsRoot() : sysRoot;
    }
    void release(int fd) override
    {
        note("release");
        SerialDeviceCalls::release(fd);
    }
    int getAttributes(int fd, termios2 &t) override
    {
        const int error = SerialDeviceCalls::getAttributes(fd, t);
        if (rateTaken)
            t.c_ospeed = t.c_ispeed = *rateTaken;
        return error;
    }
    int setAttributes(int fd, const termios2 &t) override
    {
        {
            std::lock_guard lock(mutex_);
            attributesSet_.push_back(t);
        }
        note("attributes");
        return SerialDeviceCalls::setAttributes(fd, t);
    }

    int modemLines(int fd, int &lines) override
    {
        if (!emulateModemLines)
            return SerialDeviceCalls::modemLines(fd, lines);
        std::lock_guard lock(mutex_);
        lines = lines_;
        return 0;
    }
    int setModemLines(int fd, int lines, bool on) override
    {
        note(QStringLiteral("%1 %2").arg(lineName(lines), on ? "on" : "off"));
        if (!emulateModemLines)
            return SerialDeviceCalls::setModemLines(fd, lines, on);
        std::lock_guard lock(mutex_);
        lines_ = on ? (lines_ | lines) : (lines_ & ~lines);
        return 0;
    }
    int setBreak(int, bool on) override
    {
        note(on ? "break on" : "break off");
        return 0;
    }
    int waitForModemChange(int, int) override
    {
        std::unique_lock lock(mutex_);
        ++waits_;
        const int seen = changes_;
        cv_.wait(lock, [&] { return changes_ != seen || interrupted_ || released_; });
        ++waitsEnded_;
        if (interrupted_) {
            interrupted_ = false;
            return EINTR;
        }
        return released_ ? EIO : 0;
    }
    void interruptWait(pthread_t) override
    {
        std::lock_guard lock(mutex_);
        ++interrupts_;
        if (!ignoreInterrupts_)
            interrupted_ = true;
        cv_.notify_all();
    }
    ssize_t read(int fd, void *buffer, size_t size) override
    {
        ++reads;
        if (zeroReads)
            return 0;
        if (endlessReads) {
            memset(buffer, 'z', size);
            return ssize_t(size);
        }
        return SerialDeviceCalls::read(fd, buffer, size);
    }
    ssize_t write(int fd, const void *bytes, size_t size) override
    {
        ++writes;
        return SerialDeviceCalls::write(fd, bytes, size);
    }

    // The far end changes its lines (TIOCM_* bits): a pending wait returns.
    void setLines(int lines)
    {
        std::lock_guard lock(mutex_);
        lines_ = lines;
        ++changes_;
        cv_.notify_all();
    }
    // A wait that a signal does not end, as if the interruption never came.
    void ignoreInterrupts(bool ignore)
    {
        std::lock_guard lock(mutex_);
        ignoreInterrupts_ = ignore;
    }
    // Ends every wait for good, as a device that went away does.
    void releaseWaits()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }

    [[nodiscard]] QStringList log() const
    {
        std::lock_guard lock(mutex_);
        return log_;
    }
    [[nodiscard]] std::vector<termios2> attributesSet() const
    {
        std::lock_guard lock(mutex_);
        return attributesSet_;
    }
    [[nodiscard]] int waits() const
    {
        std::lock_guard lock(mutex_);
        return waits_;
    }
    [[nodiscard]] int waitsEnded() const
    {
        std::lock_guard lock(mutex_);
        return waitsEnded_;
    }
    [[nodiscard]] int interrupts() const
    {
        std::lock_guard lock(mutex_);
        return interrupts_;
    }

    std::atomic<int> reads{0};
    std::atomic<int> writes{0};

private:
    static QString lineName(int lines)
    {
        return lines == TIOCM_DTR ? QStringLiteral("DTR")
            : lines == TIOCM_RTS  ? QStringLiteral("RTS")
                                  : QString::number(lines);
    }
    void note(const QString &call)
    {
        std::lock_guard lock(mutex_);
        log_ << call;
    }

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    QStringList log_;
    std::vector<termios2> attributesSet_;
    int lines_ = TIOCM_CTS | TIOCM_DSR;
    int changes_ = 0;
    int waits_ = 0;
    int waitsEnded_ = 0;
    int interrupts_ = 0;
    bool interrupted_ = false;
    bool ignoreInterrupts_ = false;
    bool released_ = false;
};
