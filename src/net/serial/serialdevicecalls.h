#pragma once
// The calls a serial channel makes on its device, each one virtual so that a
// test can stand in for what a pseudo-terminal lacks (modem lines, a break, a
// port another program holds, a refused permission) while the bytes still
// pass through a real terminal. The base class makes the system's calls.
//
// Each call returns 0 or the errno value of its failure; read and write
// behave as read(2) and write(2). Line masks are the kernel's TIOCM_* bits.
//
// Threads: waitForModemChange and modemLines are also called on a channel's
// modem-line thread, interruptWait on the channel's thread to end such a
// wait; read on the channel's reader thread; everything else on the
// channel's thread. Shared by the channel and its threads, so it may outlive
// the channel.

#include <QByteArray>
#include <QString>

#include <memory>
#include <pthread.h>
#include <sys/types.h>

struct termios2; // <asm/termbits.h>

class SerialDeviceCalls {
public:
    SerialDeviceCalls() = default;
    virtual ~SerialDeviceCalls() = default;
    SerialDeviceCalls(const SerialDeviceCalls &) = delete;
    SerialDeviceCalls &operator=(const SerialDeviceCalls &) = delete;

    // Read-write, non-blocking, never our controlling terminal, closed on exec.
    virtual int open(const QByteArray &path, int &fd);
    // Makes the device ours alone: an advisory lock every well-behaved program
    // takes (EWOULDBLOCK while another holds it), then the terminal's
    // exclusive mode, so that a later open(2) by anyone but root fails EBUSY.
    // A terminal in exclusive mode already is another's (root got through
    // its open): EBUSY, and nothing of it is taken.
    virtual int claim(int fd);
    // Undoes a claim that succeeded on fd, and only such a one: exclusive
    // mode belongs to the terminal, not to the descriptor.
    virtual void unclaim(int fd);
    // Closes the descriptor.
    virtual void release(int fd);
    // Where sysfs is: whether a device is a terminal is read there before
    // it is opened.
    [[nodiscard]] virtual QString sysfsRoot() const;

    virtual int getAttributes(int fd, termios2 &t);
    virtual int setAttributes(int fd, const termios2 &t);
    // Drops what the device has not sent yet.
    virtual int discardOutput(int fd);

    virtual int modemLines(int fd, int &lines);
    virtual int setModemLines(int fd, int lines, bool on);
    virtual int setBreak(int fd, bool on);
    // Blocks until one of the lines changes; EINTR once interruptWait was
    // called for the waiting thread (or just before it began to wait).
    virtual int waitForModemChange(int fd, int lines);
    virtual void interruptWait(pthread_t waiter);

    virtual ssize_t read(int fd, void *buffer, size_t size);
    virtual ssize_t write(int fd, const void *bytes, size_t size);

    // The system's calls, shared by every channel that is given no others.
    [[nodiscard]] static std::shared_ptr<SerialDeviceCalls> system();
};
