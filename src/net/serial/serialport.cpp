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
    if (IsOpen())
        CloseDevice();
}

QString SerialPort::DefaultDevicePath(const QString &deviceName)
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

SerialPort::DevicePathResolver SerialPort::SetDevicePathResolver(DevicePathResolver next)
{
    return std::exchange(resolver(), std::move(next));
}

void SerialPort::SetDeviceName(const QString &value)
{
    if (!IsOpen() && value != deviceName_)
        deviceName_ = value;
}

void SerialPort::SetSynchronize(bool value)
{
    synchronize_ = value;
    if (thread_)
        thread_->SetSynchronize(value);
}

// --- open and close ----------------------------------------------------------

bool SerialPort::Open()
{
    if (IsOpen())
        fail("Device is allready opened.", kAlreadyOpened);
    lockFlags_ = 0;
    const QString path = resolver() ? resolver()(deviceName_) : DefaultDevicePath(deviceName_);
    const int fd = serial_device::OpenDevice(path);
    if (fd < 0)
        return false;
    serial_device::SaveAttributes(fd, saved_);
    fd_ = fd;

    // A queued hand-over dies with this object (it is the call's context), and
    // an unsynchronised one cannot outlive it: destruction ends the thread.
    auto thread = std::make_unique<SerialMonitor>(
        *this, fd, [this](TDeviceEvents events) { DispatchDeviceEvents(events); });
    thread->SetSynchronize(synchronize_);
    thread->SetEventChar(static_cast<unsigned char>(eventChars_.EventChar()));
    thread->SetInputLimit(buffers_.InputSize());
    if (!thread->Start()) {
        // Without its monitoring the port would be half open; treat it like a
        // device that cannot be opened.
        thread.reset();
        serial_device::CloseDevice(fd_, saved_, false);
        fd_ = -1;
        return false;
    }
    thread_ = std::move(thread);

    ApplyLineSettings();
    ApplyBuffers();
    ApplyTimeouts();
    return true;
}

void SerialPort::Close()
{
    CheckOpen();
    CloseDevice();
}

void SerialPort::CloseDevice()
{
    // Stopping cancels a hand-over the UI thread has not served yet, so the
    // thread can end without waiting for this (the UI) thread. The thread
    // object stays in place until the thread has ended: an unsynchronised
    // dispatch may still ask it for the queue count.
    closing_ = true;
    thread_->Stop();
    thread_.reset();
    writer_.reset();
    serial_device::CloseDevice(fd_, saved_, options_ & coLeaveDTROpen);
    fd_ = -1;
    closing_ = false;
}

int SerialPort::LockState() const
{
    return IsOpen() ? lockFlags_ : kSendLockBit | kReadLockBit;
}

void SerialPort::CheckOpen() const
{
    if (!IsOpen())
        fail("Device not opened.", kNotOpened);
}
