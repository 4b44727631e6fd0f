#pragma once
// The serial devices the system has now, found through sysfs and /dev
// without opening any of them: /dev/ttyS* that are real UARTs, /dev/ttyUSB*
// and /dev/ttyACM*, with the stable names /dev/serial/by-id/ gives them and
// the USB vendor and product where the system knows them. Plain functions,
// any thread; the roots let tests describe a machine in a folder.

#include <QString>

#include <vector>

struct SerialDeviceInfo {
    QString path; // /dev/ttyUSB0
    QString stableName; // /dev/serial/by-id/usb-..., empty when it has none
    QString vendor; // USB manufacturer string, empty when unknown
    QString product; // USB product string, empty when unknown
    QString vendorId; // four hex digits ("0403"), empty when not USB
    QString productId;
    QString driver; // "serial8250", "ftdi_sio", "cdc_acm", ...

    bool operator==(const SerialDeviceInfo &) const = default;
};

struct SerialDiscoveryRoots {
    QString sys = QStringLiteral("/sys");
    QString dev = QStringLiteral("/dev");
};

// Sorted by path (ttyS before ttyUSB before ttyACM, numbers in numeric order).
[[nodiscard]] std::vector<SerialDeviceInfo> listSerialDevices(const SerialDiscoveryRoots &roots = {});

// Where a device name points now: a stable name or any other symlink resolved
// to the device it stands for (/dev/serial/by-id/usb-... -> /dev/ttyUSB1
// after a replug), a plain path as itself; empty while nothing is there.
// Nothing is opened.
[[nodiscard]] QString currentSerialDevicePath(const QString &name);
