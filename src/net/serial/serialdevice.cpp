#include "net/serial/serialdevice.h"

// Only the kernel's view of the terminal structures here: glibc's <termios.h>
// defines a different struct termios and must not be included.
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace serial_device {

namespace {

static_assert(sizeof(termios2) <= sizeof(SavedAttributes::raw));

// Devices without modem-control lines (pseudo-terminals) answer these
// requests with ENOTTY or EINVAL; that is not a failure of the settings.
bool noModemLines(int error)
{
    return error == ENOTTY || error == EINVAL;
}

bool setModemLine(int fd, int line, bool on)
{
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return true;
    return noModemLines(errno);
}

tcflag_t dataBitsFlag(int bits)
{
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    }
    return CS8;
}

} // namespace

int openDevice(const QString &path)
{
    const QByteArray name = path.toLocal8Bit();
    if (name.isEmpty())
        return -1;
    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Exclusive use: the advisory lock holds even against root, for whom the
    // terminal's own exclusive mode is not binding.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    (void)ioctl(fd, TIOCEXCL);
    return fd;
}

void closeDevice(int fd, SavedAttributes &saved, bool leaveDtr)
{
    if (fd < 0)
        return;
    if (saved.valid) {
        termios2 t;
        std::memcpy(&t, saved.raw, sizeof t);
        if (leaveDtr)
            t.c_cflag &= ~tcflag_t(HUPCL);
        (void)ioctl(fd, TCSETS2, &t);
        saved.valid = false;
    }
    (void)ioctl(fd, TIOCNXCL);
    ::close(fd);
}

void saveAttributes(int fd, SavedAttributes &saved)
{
    termios2 t;
    saved.valid = ioctl(fd, TCGETS2, &t) == 0;
    if (saved.valid)
        std::memcpy(saved.raw, &t, sizeof t);
}

bool composeAttributes(termios2 &t, const LineSettings &s)
{
    if (s.dataBits < 5 || s.dataBits > 8 || s.rate == 0 || s.parity < 0 || s.parity > 4)
        return false;
    // One and a half stop bits exist on the wire only with five data bits,
    // where the UART makes them out of the two-stop-bit flag.
    if (s.stopBits == 1 && s.dataBits != 5)
        return false;

    // Raw mode: bytes pass untouched in both directions.
    t.c_iflag &= ~tcflag_t(
        IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~tcflag_t(
        CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= dataBitsFlag(s.dataBits) | CLOCAL | CREAD;

    switch (s.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (s.stopBits != 0)
        t.c_cflag |= CSTOPB;
    if (s.ctsRtsFlow)
        t.c_cflag |= CRTSCTS;
    if (s.hangUpOnClose)
        t.c_cflag |= HUPCL;
    if (s.inputXonXoff)
        t.c_iflag |= IXOFF;
    if (s.outputXonXoff)
        t.c_iflag |= IXON;
    if (s.parityCheck)
        t.c_iflag |= INPCK;

    // Any rate, standard or not, through the "other" rate code.
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = s.rate;
    t.c_ospeed = s.rate;

    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    // Reads never block in the driver: the fd is non-blocking and the
    // component does its own waiting with time limits.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    return true;
}

bool applyLineSettings(int fd, const LineSettings &s)
{
    termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0 || !composeAttributes(t, s))
        return false;

    // Drivers adjust what their hardware cannot do (a pseudo-terminal keeps
    // eight bits and no parity) without failing; what they report back is
    // what the getters show.
    if (ioctl(fd, TCSETS2, &t) != 0)
        return false;

    // With hardware handshake the driver owns RTS.
    if (!s.ctsRtsFlow && !setModemLine(fd, TIOCM_RTS, s.rts))
        return false;
    return setModemLine(fd, TIOCM_DTR, s.dtr);
}

bool readLineState(int fd, LineState &state)
{
    termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    state.rate = t.c_ospeed;
    state.ctsRtsFlow = (t.c_cflag & CRTSCTS) != 0;
    state.inputXonXoff = (t.c_iflag & IXOFF) != 0;
    state.outputXonXoff = (t.c_iflag & IXON) != 0;
    int lines = 0;
    state.modemLinesKnown = ioctl(fd, TIOCMGET, &lines) == 0;
    state.dtr = state.modemLinesKnown && (lines & TIOCM_DTR) != 0;
    state.rts = state.modemLinesKnown && (lines & TIOCM_RTS) != 0;
    return true;
}

bool flushQueues(int fd)
{
    return ioctl(fd, TCFLSH, TCIOFLUSH) == 0;
}

int inputQueued(int fd)
{
    int n = 0;
    return ioctl(fd, TIOCINQ, &n) == 0 && n > 0 ? n : 0;
}

int outputQueued(int fd)
{
    int n = 0;
    return ioctl(fd, TIOCOUTQ, &n) == 0 && n > 0 ? n : 0;
}

} // namespace serial_device
