// SerialPort's reading and writing: synchronous writes and reads bounded by
// the time-outs, the queued write through the writer thread, the queue counts
// and the dispatch of device events to the handlers.

#include "net/serial/serialport.h"

#include "net/serial/serialmonitor.h"
#include "net/serial/serialport_internal.h"
#include "net/serial/serialwriter.h"

#include <QElapsedTimer>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace serial_port_internal;

namespace {

// A write piece never waits longer than this for the device.
constexpr int kPieceWaitCapMs = 1000;
// Pause while a write finds the output queue full or a read finds nothing yet.
constexpr int kIdleWaitMs = 5;

} // namespace

// --- queues ------------------------------------------------------------------

int SerialPort::QueuedInput()
{
    CheckOpen();
    return (thread_ ? thread_->Queued() : 0) + serial_device::InputQueued(fd_);
}

int SerialPort::QueuedOutput()
{
    CheckOpen();
    return serial_device::OutputQueued(fd_);
}

// --- events ------------------------------------------------------------------

void SerialPort::DispatchDeviceEvents(TDeviceEvents events)
{
    if (!IsOpen() || closing_ || destroying_)
        return;
    QPointer<SerialPort> self(this);
    if ((events & (deChar | deFlag)) && OnData) {
        OnData(this, QueuedInput());
        if (!self || !IsOpen())
            return;
    }
    const TDeviceEvents monitored = events & monitorEvents_;
    if (monitored && OnCommEvent)
        OnCommEvent(this, monitored);
}

bool SerialPort::RunLocked(int lockBit, const std::function<void(QObject *)> &handler)
{
    if (!handler)
        return true;
    QPointer<SerialPort> self(this);
    lockFlags_ |= lockBit;
    // The bit must not outlive a handler that throws, or the port would refuse
    // that direction until it is reopened.
    try {
        handler(this);
    } catch (...) {
        if (self)
            lockFlags_ &= ~lockBit;
        throw;
    }
    if (!self)
        return false;
    lockFlags_ &= ~lockBit;
    return true;
}

// --- writing -----------------------------------------------------------------

bool SerialPort::WriteString(const QByteArray &data)
{
    return WriteData(data.constData(), int(data.size()), buffers_.OutputTimeout()) == data.size();
}

int SerialPort::PieceWaitMs(int size) const
{
    const std::uint64_t limit
        = std::uint64_t(timeouts_.WriteMultiplier()) * std::uint64_t(size) + timeouts_.WriteConstant();
    // No time-out at all means the device may take as long as it likes.
    if (limit == 0 || limit > kPieceWaitCapMs)
        return kPieceWaitCapMs;
    return int(limit);
}

int SerialPort::WritePiece(const char *data, int size, int waitMs)
{
    QElapsedTimer clock;
    clock.start();
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size_t(size - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return done > 0 ? done : -1;
        const qint64 left = waitMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, int(left)) > 0 && !(p.revents & POLLOUT))
            return done > 0 ? done : -1; // hung up or failed
    }
    return done;
}

int SerialPort::WriteData(const char *data, int count, int limitMs)
{
    CheckOpen();
    if (lockFlags_ & kSendLockBit)
        fail("Device locked. Cannot perform send operations.", kSendLocked);
    if (count <= 0)
        return 0;

    QPointer<SerialPort> self(this);
    QElapsedTimer clock;
    clock.start();
    int total = 0;
    while (total < count) {
        const int room = buffers_.OutputSize() - QueuedOutput();
        int written = 0;
        if (room > 0) {
            const int piece = std::min(room, count - total);
            written = WritePiece(data + total, piece, PieceWaitMs(piece));
            if (written < 0)
                break; // the device failed: nothing more will go out
            // The piece is finished either way; nothing of it is used below.
            DispatchDeviceEvents(deOutEmpty);
            if (!self || !IsOpen())
                break;
            if (written > 0) {
                total += written;
                if (!RunLocked(kSendLockBit, OnSend) || !IsOpen())
                    break;
                continue;
            }
        }
        if (clock.elapsed() > limitMs)
            break;
        if (room <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
    }
    return total;
}

qsizetype SerialPort::QueueWrite(const QByteArray &data)
{
    CheckOpen();
    if (!writer_) {
        auto writer = std::make_unique<SerialWriter>(fd_, WriteQueueCapacity);
        if (!writer->Start())
            fail("Unable to start the serial writer.", kWriterFailed);
        writer_ = std::move(writer);
    }
    return writer_->Enqueue(data);
}

qsizetype SerialPort::QueuedForWriting()
{
    CheckOpen();
    return writer_ ? writer_->Queued() : 0;
}

// --- reading -----------------------------------------------------------------

bool SerialPort::ReadString(QByteArray &data)
{
    data.resize(QueuedInput());
    const int n = ReadData(data.data(), int(data.size()), buffers_.InputTimeout());
    data.resize(n);
    return n > 0;
}

int SerialPort::ReadData(char *buffer, int count, int limitMs)
{
    CheckOpen();
    if (lockFlags_ & kReadLockBit)
        fail("Device locked. Cannot perform read operations.", kReadLocked);
    if (count <= 0)
        return 0;

    QElapsedTimer clock;
    clock.start();
    int total = 0;
    while (total < count) {
        const int available = QueuedInput();
        int read = 0;
        if (available > 0) {
            int error = 0;
            read = thread_->Take(buffer + total, std::min(available, count - total), error);
            if (read < 0) {
                throw SerialPortError(QStringLiteral("%1 (Win32 error %2: %3)")
                                          .arg(QStringLiteral("Unable to read from port."))
                                          .arg(error)
                                          .arg(QString::fromLocal8Bit(std::strerror(error))),
                    kReadFailed);
            }
            total += read;
            if (!RunLocked(kReadLockBit, read > 0 ? OnRead : nullptr) || !IsOpen())
                break;
        }
        // A queue count that yields nothing (the bytes went meanwhile) must
        // not loop without looking at the clock.
        if (read == 0) {
            if (clock.elapsed() > limitMs)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
        }
    }
    return total;
}
