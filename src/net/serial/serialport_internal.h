#pragma once
// What the source files of SerialPort (serialport.cpp, serialport_lines.cpp,
// serialport_io.cpp) share: the codes SerialPortError carries and the lock
// bits of lockState. Not for other users of the component.

#include "net/serial/serialport.h"

#include <QString>

namespace serial_port_internal {

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

inline constexpr int kSendLockBit = 0x1;
inline constexpr int kReadLockBit = 0x2;

[[noreturn]] inline void fail(const char *message, int code)
{
    throw SerialPortError(QString::fromLatin1(message), code);
}

} // namespace serial_port_internal
