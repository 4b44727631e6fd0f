// SerialPort's reading and writing: synchronous writes and reads bounded by
// the time-outs, the queued write through the writer thread, the queue counts
// and the dispatch of device events as signals.

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

int SerialPort::queuedInput()
{
    checkOpen();
    return (thread_ ? thread_->queued() : 0) + serial_device::inputQueued(fd_);
}

int SerialPort::queuedOutput()
{
    checkOpen();
    return serial_device::outputQueued(fd_);
}

// --- events ------------------------------------------------------------------

void SerialPort::dispatchDeviceEvents(DeviceEvents events)
{
    if (!isOpen() || closing_ || destroying_)
        return;
    QPointer<SerialPort> self(this);
    if (events & (DeviceEvent::CharReceived | DeviceEvent::EventChar)) {
        emit dataReceived(queuedInput());
        if (!self || !isOpen())
            return;
    }
    const DeviceEvents monitored = events & monitorEvents_;
    if (monitored)
        emit deviceEventsOccurred(monitored);
}

bool SerialPort::emitLocked(int lockBit, void (SerialPort::*signal)())
{
    QPointer<SerialPort> self(this);
    lockFlags_ |= lockBit;
    // The bit must not outlive a receiver that throws, or the port would
    // refuse that direction until it is reopened.
    try {
        (this->*signal)();
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

bool SerialPort::write(const QByteArray &data)
{
    return writeData(data.constData(), int(data.size()), queues_.outputTimeout()) == data.size();
}

int SerialPort::pieceWaitMs(int size) const
{
    const std::uint64_t limit
        = std::uint64_t(timeouts_.writeMultiplier()) * std::uint64_t(size) + timeouts_.writeConstant();
    // No time-out at all means the device may take as long as it likes.
    if (limit == 0 || limit > kPieceWaitCapMs)
        return kPieceWaitCapMs;
    return int(limit);
}

int SerialPort::writePiece(const char *data, int size, int waitMs)
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

int SerialPort::writeData(const char *data, int count, int limitMs)
{
    checkOpen();
    if (lockFlags_ & kSendLockBit)
        fail("Device locked. Cannot perform send operations.", kSendLocked);
    if (count <= 0)
        return 0;

    QPointer<SerialPort> self(this);
    QElapsedTimer clock;
    clock.start();
    int total = 0;
    while (total < count) {
        const int room = queues_.outputSize() - queuedOutput();
        int written = 0;
        if (room > 0) {
            const int piece = std::min(room, count - total);
            written = writePiece(data + total, piece, pieceWaitMs(piece));
            if (written < 0)
                break; // the device failed: nothing more will go out
            // The piece is finished either way; nothing of it is used below.
            dispatchDeviceEvents(DeviceEvent::OutputEmpty);
            if (!self || !isOpen())
                break;
            if (written > 0) {
                total += written;
                if (!emitLocked(kSendLockBit, &SerialPort::pieceSent) || !isOpen())
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

qsizetype SerialPort::queueWrite(const QByteArray &data)
{
    checkOpen();
    if (!writer_) {
        auto writer = std::make_unique<SerialWriter>(fd_, WriteQueueCapacity);
        if (!writer->start())
            fail("Unable to start the serial writer.", kWriterFailed);
        writer_ = std::move(writer);
    }
    return writer_->enqueue(data);
}

qsizetype SerialPort::queuedForWriting()
{
    checkOpen();
    return writer_ ? writer_->queued() : 0;
}

// --- reading -----------------------------------------------------------------

bool SerialPort::read(QByteArray &data)
{
    data.resize(queuedInput());
    const int n = readData(data.data(), int(data.size()), queues_.inputTimeout());
    data.resize(n);
    return n > 0;
}

int SerialPort::readData(char *buffer, int count, int limitMs)
{
    checkOpen();
    if (lockFlags_ & kReadLockBit)
        fail("Device locked. Cannot perform read operations.", kReadLocked);
    if (count <= 0)
        return 0;

    QElapsedTimer clock;
    clock.start();
    int total = 0;
    while (total < count) {
        const int available = queuedInput();
        int read = 0;
        if (available > 0) {
            int error = 0;
            read = thread_->take(buffer + total, std::min(available, count - total), error);
            if (read < 0) {
                throw SerialPortError(QStringLiteral("%1 (Win32 error %2: %3)")
                                          .arg(QStringLiteral("Unable to read from port."))
                                          .arg(error)
                                          .arg(QString::fromLocal8Bit(std::strerror(error))),
                    kReadFailed);
            }
            total += read;
            if ((read > 0 && !emitLocked(kReadLockBit, &SerialPort::pieceRead)) || !isOpen())
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
