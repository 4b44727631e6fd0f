#include "net/serial/serialchannel.h"

#include "net/serial/modemlinewatcher.h"
#include "net/serial/serialdevicecalls.h"
#include "net/serial/serialdevicenode.h"
#include "net/serial/serialreader.h"

#include <QSocketNotifier>
#include <QTimer>

#include <asm/termbits.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

using OpenError = SerialChannel::OpenError;
using OpenResult = SerialChannel::OpenResult;

// A rate the driver reports back this far from the one asked for is one it
// could not make: the far end would read garbage (UARTs tolerate 2 to 5 %).
constexpr double kRateTolerance = 0.03;

bool noModemLines(int error)
{
    return error == ENOTTY || error == EINVAL;
}

OpenResult failure(OpenError error, int errorNumber)
{
    return {error, errorNumber};
}

OpenResult openFailure(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
        return failure(OpenError::NotFound, error);
    case EACCES:
    case EPERM:
        return failure(OpenError::Permission, error);
    case EBUSY:
        return failure(OpenError::Busy, error);
    case EISDIR:
        return failure(OpenError::NotATerminal, error);
    }
    return failure(OpenError::Other, error);
}

SerialChannel::ModemLines fromKernel(int lines)
{
    SerialChannel::ModemLines result;
    result.setFlag(SerialChannel::Dtr, lines & TIOCM_DTR);
    result.setFlag(SerialChannel::Rts, lines & TIOCM_RTS);
    result.setFlag(SerialChannel::Cts, lines & TIOCM_CTS);
    result.setFlag(SerialChannel::Dsr, lines & TIOCM_DSR);
    result.setFlag(SerialChannel::Dcd, lines & TIOCM_CD);
    result.setFlag(SerialChannel::Ri, lines & TIOCM_RNG);
    return result;
}

// Puts back the attributes and closes the descriptor of an open that did
// not get through.
struct PendingDescriptor {
    SerialDeviceCalls &calls;
    int fd = -1;
    std::optional<termios2> restore;
    bool claimed = false; // by this open: a refused claim is another's
    ~PendingDescriptor()
    {
        if (fd < 0)
            return;
        if (restore)
            (void)calls.setAttributes(fd, *restore);
        if (claimed)
            calls.unclaim(fd);
        calls.release(fd);
    }
};

} // namespace

SerialChannel::SerialChannel(QObject *parent, std::shared_ptr<SerialDeviceCalls> calls)
    : QObject(parent)
    , calls_(calls ? std::move(calls) : SerialDeviceCalls::system())
    , breakTimer_(new QTimer(this))
    , resumeTimer_(new QTimer(this))
{
    breakTimer_->setSingleShot(true);
    connect(breakTimer_, &QTimer::timeout, this, &SerialChannel::endBreak);
    // What waits is taken from the event loop, never inside the caller's
    // stack, which is most likely the receiver's own handling.
    resumeTimer_->setSingleShot(true);
    resumeTimer_->setInterval(0);
    connect(resumeTimer_, &QTimer::timeout, this, &SerialChannel::readFromDevice);
}

SerialChannel::~SerialChannel()
{
    close();
}

// The order matters:
//   1. claim the device (after making sure it is a terminal) before touching
//   it, so that the lines of a port
//      another program uses are never changed;
//   2. set DTR and RTS as asked before anything else, so a device that
//      resets on DTR (many boards do) sees no more than the kernel did;
//   3. the line settings, with hang-up on close only when DTR is meant to be
//      high, so that closing leaves a low DTR (and RTS) alone.
// What cannot be prevented from here: the tty layer raises DTR and RTS on
// the first open of most serial drivers, before open(2) returns, so the
// device may see a short pulse whatever was asked for.
SerialChannel::OpenResult SerialChannel::open(
    const QString &path, const serial_device::LineSettings &settings)
{
    if (isOpen())
        return failure(OpenError::Other, EALREADY);
    using serial_node::Kind;
    const serial_node::Node node = serial_node::inspect(path, calls_->sysfsRoot());
    if (node.kind == Kind::Missing)
        return openFailure(node.error);
    if (node.kind == Kind::NotACharacterDevice)
        return failure(OpenError::NotATerminal, 0);
    if (node.kind == Kind::NotATerminal)
        return failure(OpenError::NotATerminal, ENOTTY);

    PendingDescriptor device{*calls_, -1, std::nullopt};
    if (const int error = calls_->open(path.toLocal8Bit(), device.fd))
        return openFailure(error);
    // The name may have been pointed elsewhere since it was looked at.
    struct stat opened = {};
    if (::fstat(device.fd, &opened) != 0 || !S_ISCHR(opened.st_mode)
        || opened.st_rdev != node.identity.device)
        return failure(OpenError::NotFound, ENODEV);
    termios2 original = {};
    if (const int error = calls_->getAttributes(device.fd, original))
        return failure(error == ENOTTY ? OpenError::NotATerminal : OpenError::Other, error);
    if (const int error = calls_->claim(device.fd))
        return failure(error == EWOULDBLOCK || error == EBUSY ? OpenError::Busy : OpenError::Other, error);
    device.claimed = true;

    bool hasModemLines = true;
    for (const auto &[line, on] : {std::pair{TIOCM_DTR, settings.dtr}, std::pair{TIOCM_RTS, settings.rts}}) {
        const int error = calls_->setModemLines(device.fd, line, on);
        if (noModemLines(error))
            hasModemLines = false;
        else if (error)
            return failure(OpenError::Other, error);
    }

    serial_device::LineSettings wanted = settings;
    wanted.hangUpOnClose = settings.dtr;
    termios2 attributes = original;
    if (!serial_device::composeAttributes(attributes, wanted))
        return failure(OpenError::SettingsRefused, EINVAL);
    device.restore = original;
    if (const int error = calls_->setAttributes(device.fd, attributes))
        return failure(OpenError::SettingsRefused, error);
    termios2 taken = {};
    if (const int error = calls_->getAttributes(device.fd, taken))
        return failure(OpenError::Other, error);
    if (std::abs(double(taken.c_ospeed) - double(settings.rate)) > kRateTolerance * settings.rate)
        return failure(OpenError::SettingsRefused, EINVAL);

    int kernelLines = 0;
    if (hasModemLines && noModemLines(calls_->modemLines(device.fd, kernelLines)))
        hasModemLines = false;
    ModemLines lines = hasModemLines ? fromKernel(kernelLines) : ModemLines();
    if (!hasModemLines) {
        lines.setFlag(Dtr, settings.dtr);
        lines.setFlag(Rts, settings.rts);
    }

    auto watcher = hasModemLines
        ? std::make_unique<ModemLineWatcher>(calls_, *this, [this](int now) { setLines(fromKernel(now)); })
        : nullptr;
    if (watcher) {
        if (const int error = watcher->start(device.fd))
            return failure(OpenError::Other, error);
    }
    auto reader = std::make_unique<SerialReader>(calls_, *this, [this] { readFromDevice(); });
    if (const int error = reader->start(device.fd))
        return failure(OpenError::Other, error);

    fd_ = std::exchange(device.fd, -1);
    path_ = path;
    identity_ = node.identity;
    receivingPaused_ = false;
    std::memcpy(saved_.raw, &original, sizeof original);
    saved_.valid = true;
    hangUpOnClose_ = settings.dtr;
    hasModemLines_ = hasModemLines;
    lines_ = lines;
    watcher_ = std::move(watcher);
    reader_ = std::move(reader);
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &SerialChannel::writeToDevice);
    return {};
}

void SerialChannel::close()
{
    tearDown(false);
}

void SerialChannel::tearDown(bool deviceGone)
{
    if (!isOpen())
        return;
    // The thread first: it waits on a duplicate of the descriptor.
    watcher_.reset();
    reader_.reset();
    resumeTimer_->stop();
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    if (breakTimer_->isActive()) {
        breakTimer_->stop();
        if (!deviceGone)
            (void)calls_->setBreak(fd_, false);
    }
    if (!deviceGone) {
        // The tty layer would otherwise hold close(2) until the output
        // drained, up to 30 s on a line held by flow control.
        (void)calls_->discardOutput(fd_);
        termios2 restored;
        std::memcpy(&restored, saved_.raw, sizeof restored);
        if (!hangUpOnClose_ || !lines_.testFlag(Dtr))
            restored.c_cflag &= ~tcflag_t(HUPCL);
        (void)calls_->setAttributes(fd_, restored);
    }
    // Ours: the open failed unless the claim was made.
    calls_->unclaim(fd_);
    calls_->release(fd_);
    fd_ = -1;
    saved_ = {};
    output_.clear();
    outputHead_ = 0;
}

void SerialChannel::resumeReceiving()
{
    if (!std::exchange(receivingPaused_, false))
        return;
    if (isOpen())
        resumeTimer_->start();
}

void SerialChannel::setLines(ModemLines lines)
{
    if (lines == lines_)
        return;
    lines_ = lines;
    emit modemLinesChanged(lines_);
}

int SerialChannel::setLine(int kernelLine, ModemLine line, bool on)
{
    if (!isOpen())
        return EBADF;
    const int error = calls_->setModemLines(fd_, kernelLine, on);
    if (error && !(noModemLines(error) && !hasModemLines_))
        return error;
    ModemLines lines = lines_;
    lines.setFlag(line, on);
    setLines(lines);
    return 0;
}

int SerialChannel::setDtr(bool on)
{
    return setLine(TIOCM_DTR, Dtr, on);
}

int SerialChannel::setRts(bool on)
{
    return setLine(TIOCM_RTS, Rts, on);
}

int SerialChannel::sendBreak(int ms)
{
    if (!isOpen())
        return EBADF;
    if (breakTimer_->isActive())
        return EALREADY;
    if (const int error = calls_->setBreak(fd_, true))
        return error;
    breakTimer_->start(std::max(ms, 1));
    return 0;
}

void SerialChannel::endBreak()
{
    if (isOpen())
        (void)calls_->setBreak(fd_, false);
}
