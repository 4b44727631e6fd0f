#include "net/serial/serialport.h"

#include "net/serial/serialmonitor.h"
#include "net/serial/serialport_internal.h"
#include "net/serial/serialwriter.h"

#include <QRegularExpression>

#include <utility>

using namespace serial_port_internal;

namespace {

SerialPort::DevicePathResolver &resolver()
{
    static SerialPort::DevicePathResolver current;
    return current;
}

} // namespace

// --- component ---------------------------------------------------------------

SerialPort::SerialPort(QObject *parent)
    : QObject(parent)
{
}

SerialPort::~SerialPort()
{
    destroying_ = true;
    if (isOpen())
        closeDevice();
}

QString SerialPort::defaultDevicePath(const QString &deviceName)
{
    static const QRegularExpression com(
        QStringLiteral("^COM([0-9]+)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(deviceName);
    if (match.hasMatch()) {
        bool ok = false;
        const int number = match.captured(1).toInt(&ok);
        if (ok && number >= 1)
            return QStringLiteral("/dev/ttyS%1").arg(number - 1);
    }
    return deviceName;
}

QString SerialPort::devicePathFor(const QString &deviceName)
{
    return resolver() ? resolver()(deviceName) : defaultDevicePath(deviceName);
}

SerialPort::DevicePathResolver SerialPort::setDevicePathResolver(DevicePathResolver next)
{
    return std::exchange(resolver(), std::move(next));
}

void SerialPort::setDeviceName(const QString &value)
{
    if (!isOpen() && value != deviceName_)
        deviceName_ = value;
}

void SerialPort::setSynchronize(bool value)
{
    synchronize_ = value;
    if (thread_)
        thread_->setSynchronize(value);
}

// --- open and close ----------------------------------------------------------

bool SerialPort::open()
{
    if (isOpen())
        fail("Device is allready opened.", kAlreadyOpened);
    lockFlags_ = 0;
    const QString path = devicePathFor(deviceName_);
    const int fd = serial_device::openDevice(path);
    if (fd < 0)
        return false;
    serial_device::saveAttributes(fd, saved_);
    fd_ = fd;

    // A queued hand-over dies with this object (it is the call's context), and
    // an unsynchronised one cannot outlive it: destruction ends the thread.
    auto thread = std::make_unique<SerialMonitor>(
        *this, fd, [this](DeviceEvents events) { dispatchDeviceEvents(events); });
    thread->setSynchronize(synchronize_);
    thread->setEventChar(static_cast<unsigned char>(eventChars_.eventChar()));
    thread->setInputLimit(queues_.inputSize());
    if (!thread->start()) {
        // Without its monitoring the port would be half open; treat it like a
        // device that cannot be opened.
        thread.reset();
        serial_device::closeDevice(fd_, saved_, false);
        fd_ = -1;
        return false;
    }
    thread_ = std::move(thread);

    applyLineSettings();
    applyQueues();
    applyTimeouts();
    return true;
}

void SerialPort::close()
{
    checkOpen();
    closeDevice();
}

void SerialPort::closeDevice()
{
    // Stopping cancels a hand-over the UI thread has not served yet, so the
    // thread can end without waiting for this (the UI) thread. The thread
    // object stays in place until the thread has ended: an unsynchronised
    // dispatch may still ask it for the queue count.
    closing_ = true;
    thread_->stop();
    thread_.reset();
    writer_.reset();
    serial_device::closeDevice(fd_, saved_, options_ & SerialOption::LeaveDtrOpen);
    fd_ = -1;
    closing_ = false;
}

int SerialPort::lockState() const
{
    return isOpen() ? lockFlags_ : kSendLockBit | kReadLockBit;
}

void SerialPort::checkOpen() const
{
    if (!isOpen())
        fail("Device not opened.", kNotOpened);
}
