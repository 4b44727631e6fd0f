// The byte stream of a serial channel: reading on readiness with a bound
// per wake-up, writing from the bounded queue on readiness, and telling a
// device that went away from one that merely has nothing to say.

#include "net/serial/serialchannel.h"

#include "net/serial/serialdevicecalls.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <poll.h>

namespace {

constexpr qsizetype kReadChunk = 64 * 1024;
constexpr qsizetype kWriteLimit = 256 * 1024;

// A terminal in raw mode with VMIN = VTIME = 0 answers read() with 0 both
// when nothing is there and after a hang-up (an unplugged adapter, a closed
// pseudo-terminal master), where it is also readable for ever. A hang-up
// shows in poll(); anything else that keeps waking us with nothing to read
// is a driver fault, answered by not listening for a while.
constexpr int kEmptyReadsBeforePause = 16;
constexpr int kReadPauseMs = 200;

// A pseudo-terminal, or an adapter in full flow, hands its input over a few
// KB at a time (the line discipline's buffer), refilled a moment after each
// read. Waiting that moment here, within a bound, takes a flood in large
// pieces: one trip through the event loop, the framer and the log per
// refill cost more than the refill itself, and the device waited meanwhile.
constexpr long kRefillWaitNs = 200'000;
constexpr qint64 kRefillBudgetNs = 2'000'000;

bool refilledSoon(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    const timespec wait = {0, kRefillWaitNs};
    return ::ppoll(&p, 1, &wait, nullptr) == 1 && p.revents == POLLIN;
}

bool hungUp(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace

void SerialChannel::readFromDevice()
{
    QByteArray received;
    int lostError = 0;
    QElapsedTimer spent;
    spent.start();
    while (received.size() < ReadLimit) {
        const qsizetype offset = received.size();
        const qsizetype room = std::min(kReadChunk, ReadLimit - offset);
        received.resize(offset + room);
        const ssize_t n = calls_->read(fd_, received.data() + offset, size_t(room));
        received.resize(offset + std::max<ssize_t>(n, 0));
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            lostError = errno;
        else if (n == 0 && received.isEmpty() && hungUp(fd_))
            lostError = EIO;
        else if (!received.isEmpty() && spent.nsecsElapsed() < kRefillBudgetNs && refilledSoon(fd_))
            continue;
        break;
    }

    const QPointer<SerialChannel> self(this);
    if (!received.isEmpty()) {
        emptyReads_ = 0;
        emit dataReceived(received);
        if (!self || !isOpen())
            return;
    } else if (!lostError) {
        noteEmptyRead();
    }
    if (lostError)
        loseDevice(lostError);
}

void SerialChannel::noteEmptyRead()
{
    if (++emptyReads_ < kEmptyReadsBeforePause)
        return;
    emptyReads_ = 0;
    readNotifier_->setEnabled(false);
    readResumeTimer_->start(kReadPauseMs);
}

qsizetype SerialChannel::write(QByteArrayView bytes)
{
    if (!isOpen())
        return 0;
    const qsizetype taken = std::min(bytes.size(), OutputLimit - bytesToWrite());
    if (taken <= 0)
        return 0;
    if (outputHead_ > 0 && outputHead_ >= output_.size() / 2) {
        output_.remove(0, outputHead_);
        outputHead_ = 0;
    }
    output_.append(bytes.first(taken));
    writeNotifier_->setEnabled(true);
    return taken;
}

void SerialChannel::writeToDevice()
{
    qint64 written = 0;
    int lostError = 0;
    while (bytesToWrite() > 0 && written < kWriteLimit) {
        const ssize_t n = calls_->write(fd_, output_.constData() + outputHead_, size_t(bytesToWrite()));
        if (n > 0) {
            outputHead_ += n;
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            lostError = errno;
        break;
    }
    if (bytesToWrite() == 0) {
        output_.clear();
        outputHead_ = 0;
        writeNotifier_->setEnabled(false);
    }

    const QPointer<SerialChannel> self(this);
    if (written > 0) {
        emit bytesWritten(written);
        if (!self || !isOpen())
            return;
    }
    if (lostError)
        loseDevice(lostError);
}

void SerialChannel::loseDevice(int error)
{
    const qint64 unsent = bytesToWrite();
    tearDown(true);
    emit deviceLost(error, unsent);
}
