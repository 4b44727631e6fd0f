#include "net/serial/serialdevicecalls.h"

#include <asm/termbits.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// TIOCMIWAIT sleeps until a line changes and closing the descriptor does not
// wake it: a signal does. A real-time signal nobody else in the program uses,
// caught by a handler that does nothing and installed without SA_RESTART, so
// the ioctl returns EINTR instead of resuming. Its default action would end
// the process, so the handler is in place before the first signal is sent.
int wakeSignal()
{
    static const int number = SIGRTMIN + 3;
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action = {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(number, &action, nullptr);
    });
    return number;
}

int result(int r)
{
    return r == 0 ? 0 : errno;
}

} // namespace

int SerialDeviceCalls::open(const QByteArray &path, int &fd)
{
    fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? 0 : errno;
}

int SerialDeviceCalls::claim(int fd)
{
    // The lock holds even against root, for whom exclusive mode is not binding.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno;
    int exclusive = 0;
    int error = result(ioctl(fd, TIOCGEXCL, &exclusive));
    if (error == 0 && exclusive)
        error = EBUSY;
    if (error == 0)
        error = result(ioctl(fd, TIOCEXCL));
    if (error)
        (void)flock(fd, LOCK_UN);
    return error;
}

void SerialDeviceCalls::unclaim(int fd)
{
    (void)ioctl(fd, TIOCNXCL);
    (void)flock(fd, LOCK_UN);
}

void SerialDeviceCalls::release(int fd)
{
    ::close(fd);
}

QString SerialDeviceCalls::sysfsRoot() const
{
    return QStringLiteral("/sys");
}

int SerialDeviceCalls::getAttributes(int fd, termios2 &t)
{
    return result(ioctl(fd, TCGETS2, &t));
}

int SerialDeviceCalls::setAttributes(int fd, const termios2 &t)
{
    return result(ioctl(fd, TCSETS2, &t));
}

int SerialDeviceCalls::discardOutput(int fd)
{
    return result(ioctl(fd, TCFLSH, TCOFLUSH));
}

int SerialDeviceCalls::modemLines(int fd, int &lines)
{
    return result(ioctl(fd, TIOCMGET, &lines));
}

int SerialDeviceCalls::setModemLines(int fd, int lines, bool on)
{
    return result(ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &lines));
}

int SerialDeviceCalls::setBreak(int fd, bool on)
{
    return result(ioctl(fd, on ? TIOCSBRK : TIOCCBRK));
}

int SerialDeviceCalls::waitForModemChange(int fd, int lines)
{
    // The thread may have been made with the signal blocked.
    static thread_local bool unblocked = false;
    if (!unblocked) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, wakeSignal());
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        unblocked = true;
    }
    return result(ioctl(fd, TIOCMIWAIT, lines));
}

void SerialDeviceCalls::interruptWait(pthread_t waiter)
{
    pthread_kill(waiter, wakeSignal());
}

ssize_t SerialDeviceCalls::read(int fd, void *buffer, size_t size)
{
    return ::read(fd, buffer, size);
}

ssize_t SerialDeviceCalls::write(int fd, const void *bytes, size_t size)
{
    return ::write(fd, bytes, size);
}

std::shared_ptr<SerialDeviceCalls> SerialDeviceCalls::system()
{
    static const std::shared_ptr<SerialDeviceCalls> calls = std::make_shared<SerialDeviceCalls>();
    return calls;
}
