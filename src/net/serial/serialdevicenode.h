#pragma once
// What a device path names, told from stat and sysfs alone: nothing is
// opened, since opening a device that is no terminal may already act (a
// watchdog arms, a modem dials) and opening one raises DTR. A terminal is a
// character device of sysfs's tty class, or a Unix98 pseudo-terminal (their
// slaves have no sysfs entry). Plain functions, any thread; the sysfs root
// lets tests describe a machine in a folder.

#include <QString>

#include <sys/types.h>

namespace serial_node {

// The device behind a path, to know it again after it went: the kernel's
// number for it, and for a USB adapter the serial number its maker gave it
// (an adapter plugged elsewhere gets another number, and another adapter may
// get this one).
struct Identity {
    dev_t device = 0;
    QString usbSerial; // empty when not USB or it has none

    bool operator==(const Identity &) const = default;
};

enum class Kind {
    Missing, // stat failed: see error
    NotATerminal,
    NotACharacterDevice,
    Terminal,
    PseudoTerminal,
};

struct Node {
    Kind kind = Kind::Missing;
    int error = 0; // errno of stat
    Identity identity;
};

[[nodiscard]] Node inspect(const QString &path, const QString &sysRoot = QStringLiteral("/sys"));
[[nodiscard]] bool isPseudoTerminal(dev_t device);

} // namespace serial_node
