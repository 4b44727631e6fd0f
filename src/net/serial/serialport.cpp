#include "net/serial/serialport.h"

#include "net/serial/serialmonitor.h"
#include "net/serial/serialwriter.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

enum DeviceErrorCodes {
    kNotOpened = 1,
    kAlreadyOpened = 2,
    kControlBlock = 3,
    kSendLocked = 4,
    kReadLocked = 5,
    kBuffers = 6,
    kTimeouts = 7,
    kReadFailed = 10,
    kWriterFailed = 11,
};

constexpr int kSendLockBit = 0x1;
constexpr int kReadLockBit = 0x2;
// A write piece never waits longer than this for the device.
constexpr int kPieceWaitCapMs = 1000;
// Pause while a write finds the output queue full or a read finds nothing yet.
constexpr int kIdleWaitMs = 5;

[[noreturn]] void fail(const char *message, int code)
{
    throw SerialPortError(QString::fromLatin1(message), code);
}

SerialPort::DevicePathResolver &resolver()
{
    static SerialPort::DevicePathResolver current;
    return current;
}

} // namespace

std::uint32_t BaudRateValue(TBaudRate rate)
{
    static constexpr std::uint32_t rates[]
        = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate >= br110 && rate < brCustom ? rates[rate] : 0;
}

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

// --- properties --------------------------------------------------------------

TBaudRate SerialPort::BaudRate()
{
    if (IsOpen() && baudRate_ != brCustom) {
        serial_device::LineState state;
        if (serial_device::ReadLineState(fd_, state)) {
            baudRate_ = brCustom;
            for (int r = br110; r < brCustom; ++r) {
                if (BaudRateValue(TBaudRate(r)) == state.rate) {
                    baudRate_ = TBaudRate(r);
                    break;
                }
            }
        }
    }
    return baudRate_;
}

void SerialPort::SetBaudRate(TBaudRate value)
{
    if (value == baudRate_)
        return;
    baudRate_ = value;
    if (value != brCustom) {
        baudValue_ = BaudRateValue(value);
        ApplyLineSettings();
    }
}

std::uint32_t SerialPort::BaudValue()
{
    serial_device::LineState state;
    if (IsOpen() && serial_device::ReadLineState(fd_, state))
        baudValue_ = state.rate;
    return baudValue_;
}

void SerialPort::SetBaudValue(std::uint32_t value)
{
    if (baudRate_ != brCustom || value == baudValue_)
        return;
    baudValue_ = value;
    ApplyLineSettings();
}

void SerialPort::SetDeviceName(const QString &value)
{
    if (!IsOpen() && value != deviceName_)
        deviceName_ = value;
}

TDTRSettings SerialPort::DTRSettings()
{
    serial_device::LineState state;
    if (!IsOpen() || !serial_device::ReadLineState(fd_, state) || !state.modemLinesKnown)
        return dtrSettings_;
    // DSR flow and DTR handshake have no counterpart in the line discipline;
    // they read back as set. Under handshake the line is held on, which does
    // not make it "enabled".
    TDTRSettings settings = dtrSettings_ & ~TDTRSettings(fsDTREnabled);
    if (state.dtr && !(dtrSettings_ & fsDTRHandshake))
        settings |= fsDTREnabled;
    return settings;
}

void SerialPort::SetDTRSettings(TDTRSettings value)
{
    if (flowControl_ != fcCustom)
        return;
    if (options_ & coLeaveDTROpen) {
        value &= ~TDTRSettings(fsDTRHandshake);
        value |= fsDTREnabled;
    }
    if ((value & fsDTREnabled) && (value & fsDTRHandshake)) {
        // Enabled and handshake exclude each other: the one just added wins.
        if (dtrSettings_ & fsDTRHandshake)
            value &= ~TDTRSettings(fsDTRHandshake);
        else
            value &= ~TDTRSettings(fsDTREnabled);
    }
    if (value == dtrSettings_)
        return;
    dtrSettings_ = value;
    ApplyLineSettings();
}

void SerialPort::SetFlowControl(TFlowControl value)
{
    if (value == flowControl_)
        return;
    flowControl_ = value;
    if (value == fcCustom)
        return;
    ApplyFlowControlTable();
    ApplyLineSettings();
}

void SerialPort::ApplyFlowControlTable()
{
    switch (flowControl_) {
    case fcNone:
        rtsSettings_ = {};
        dtrSettings_ = {};
        xonXoffSettings_ = {};
        break;
    case fcRtsCts:
        rtsSettings_ = fsCTSOut | fsRTSHandshake;
        dtrSettings_ = fsDTREnabled;
        xonXoffSettings_ = {};
        break;
    case fcDtrDsr:
        rtsSettings_ = fsRTSEnabled;
        dtrSettings_ = fsDSROut | fsDTREnabled;
        xonXoffSettings_ = {};
        break;
    case fcSoftware:
        rtsSettings_ = {};
        dtrSettings_ = fsDTREnabled;
        xonXoffSettings_ = fsInX | fsOutX;
        break;
    case fcCustom:
        break;
    }
    LeaveDtrOpenRule();
}

void SerialPort::LeaveDtrOpenRule()
{
    if (options_ & coLeaveDTROpen) {
        dtrSettings_ &= ~TDTRSettings(fsDTRHandshake);
        dtrSettings_ |= fsDTREnabled;
    }
}

void SerialPort::SetOptions(TCommOptions value)
{
    if (value == options_)
        return;
    options_ = value;
    ApplyLineSettings();
}

TRTSSettings SerialPort::RTSSettings()
{
    serial_device::LineState state;
    if (!IsOpen() || !serial_device::ReadLineState(fd_, state))
        return rtsSettings_;
    // One termios flag stands for both CTS output flow and RTS handshake.
    const TRTSSettings flow = fsCTSOut | fsRTSHandshake;
    TRTSSettings settings = rtsSettings_ & ~flow;
    if (state.ctsRtsFlow)
        settings |= (rtsSettings_ & flow) ? (rtsSettings_ & flow) : flow;
    if (state.modemLinesKnown && !state.ctsRtsFlow) {
        settings &= ~TRTSSettings(fsRTSEnabled);
        if (state.rts)
            settings |= fsRTSEnabled;
    }
    return settings;
}

void SerialPort::SetRTSSettings(TRTSSettings value)
{
    if (flowControl_ != fcCustom || value == rtsSettings_)
        return;
    rtsSettings_ = value;
    ApplyLineSettings();
}

void SerialPort::SetSynchronize(bool value)
{
    synchronize_ = value;
    if (thread_)
        thread_->SetSynchronize(value);
}

TXOnXOffSettings SerialPort::XOnXOffSettings()
{
    serial_device::LineState state;
    if (!IsOpen() || !serial_device::ReadLineState(fd_, state))
        return xonXoffSettings_;
    TXOnXOffSettings settings;
    if (state.inputXonXoff)
        settings |= fsInX;
    if (state.outputXonXoff)
        settings |= fsOutX;
    return settings;
}

void SerialPort::SetXOnXOffSettings(TXOnXOffSettings value)
{
    if (flowControl_ != fcCustom || value == xonXoffSettings_)
        return;
    xonXoffSettings_ = value;
    ApplyLineSettings();
}

// --- applying settings to the open device ------------------------------------

void SerialPort::ApplyLineSettings()
{
    if (!IsOpen())
        return;
    serial_device::LineSettings s;
    s.rate = baudValue_;
    s.dataBits = 4 + int(dataControl_.DataBits());
    s.parity = int(dataControl_.Parity());
    s.stopBits = int(dataControl_.StopBits());
    s.ctsRtsFlow = (rtsSettings_ & (fsCTSOut | fsRTSHandshake)) != 0;
    s.inputXonXoff = (xonXoffSettings_ & fsInX) != 0;
    s.outputXonXoff = (xonXoffSettings_ & fsOutX) != 0;
    s.parityCheck = (options_ & coParityCheck) != 0;
    s.hangUpOnClose = !(options_ & coLeaveDTROpen);
    // The end-of-file and error characters have no use on a raw line, and the
    // line discipline keeps its own XON/XOFF thresholds.
    s.xonChar = static_cast<unsigned char>(eventChars_.XonChar());
    s.xoffChar = static_cast<unsigned char>(eventChars_.XoffChar());
    // DTR handshake has no line-discipline counterpart; the line is held on.
    s.dtr = (dtrSettings_ & (fsDTREnabled | fsDTRHandshake)) || (options_ & coLeaveDTROpen);
    s.rts = (rtsSettings_ & fsRTSEnabled) != 0;
    if (thread_)
        thread_->SetEventChar(static_cast<unsigned char>(eventChars_.EventChar()));
    if (!serial_device::ApplyLineSettings(fd_, s))
        fail("Unable to update device control block.", kControlBlock);
}

void SerialPort::ApplyBuffers()
{
    if (!IsOpen())
        return;
    // The kernel's queues have fixed sizes; ours bounds the bytes the
    // monitoring thread takes in ahead of ReadData, and OutputSize bounds
    // each write piece.
    if (thread_) {
        thread_->SetInputLimit(buffers_.InputSize());
        thread_->Discard();
    }
    if (!serial_device::FlushQueues(fd_))
        fail("Unable to update IO buffers.", kBuffers);
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
