#pragma once
// The serial device as the kernel sees it: a non-blocking terminal file
// descriptor, its line attributes through termios2 (so that any bit rate,
// 28800 included, can be set), its modem-control lines and its queues.
//
// Plain functions over an fd; no state of their own. The termios2 calls live in
// the .cpp alone because <asm/termbits.h> and glibc's <termios.h> cannot share
// a translation unit. Callable from any thread; the caller serialises use of
// one fd.

#include <QString>

#include <cstdint>

struct termios2; // <asm/termbits.h>

namespace serial_device {

// Everything the component hands to the line discipline in one go.
struct LineSettings {
    std::uint32_t rate = 9600;
    int dataBits = 8; // 5..8; anything else is refused
    int parity = 0; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0; // 0 one, 1 one and a half (five data bits only), 2 two
    bool ctsRtsFlow = false;
    bool inputXonXoff = false; // we send XOFF when our input fills
    bool outputXonXoff = false; // we stop on a received XOFF
    bool parityCheck = false;
    bool hangUpOnClose = true; // drop DTR when the last user closes
    unsigned char xonChar = 0x11;
    unsigned char xoffChar = 0x13;
    bool dtr = false;
    bool rts = false;
};

// What the device reports back while open.
struct LineState {
    std::uint32_t rate = 0;
    bool ctsRtsFlow = false;
    bool inputXonXoff = false;
    bool outputXonXoff = false;
    bool modemLinesKnown = false; // false on devices without modem lines (pseudo-terminals)
    bool dtr = false;
    bool rts = false;
};

// Opaque copy of the attributes found at open time, restored at close.
struct SavedAttributes {
    alignas(8) unsigned char raw[64] = {};
    bool valid = false;
};

// Opens the device read-write, non-blocking, without making it our controlling
// terminal, and claims it exclusively. Returns -1 when it cannot be opened or
// another user holds it.
[[nodiscard]] int openDevice(const QString &path);
void closeDevice(int fd, SavedAttributes &saved, bool leaveDtr);

void saveAttributes(int fd, SavedAttributes &saved);
[[nodiscard]] bool applyLineSettings(int fd, const LineSettings &settings);
// Turns attributes read from a device into raw mode with the settings (all
// but the modem lines, which are not attributes). False, t untouched, for
// settings no device can have.
[[nodiscard]] bool composeAttributes(termios2 &t, const LineSettings &settings);
[[nodiscard]] bool readLineState(int fd, LineState &state);

// Discards both queues. False when the device refuses.
[[nodiscard]] bool flushQueues(int fd);
// Bytes waiting in the kernel's input or output queue; 0 where the device has
// no such query.
[[nodiscard]] int inputQueued(int fd);
[[nodiscard]] int outputQueued(int fd);

} // namespace serial_device
