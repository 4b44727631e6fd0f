// The byte stream of a serial channel: what its reader's thread read, handed
// over in bounded pieces, and writing from the bounded queue on readiness.

#include "net/serial/serialchannel.h"

#include "net/serial/serialdevicecalls.h"
#include "net/serial/serialreader.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <poll.h>

namespace {

constexpr qsizetype kWriteLimit = 256 * 1024;

} // namespace

// What the reader's thread took from the device, a bounded piece per pass of
// the event loop; a lost device is told after every byte read before it.
void SerialChannel::readFromDevice()
{
    if (!reader_ || receivingPaused_)
        return;
    int lostError = 0;
    const QByteArray received = reader_->take(ReadLimit, &lostError);
    const QPointer<SerialChannel> self(this);
    if (!received.isEmpty()) {
        emit dataReceived(received);
        if (!self || !isOpen() || receivingPaused_)
            return;
    }
    if (lostError)
        loseDevice(lostError);
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
