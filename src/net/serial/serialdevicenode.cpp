#include "net/serial/serialdevicenode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The kernel's Unix98 pseudo-terminal slaves: majors 136 to 143.
constexpr unsigned kPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;

// A tty's device sits this far at most below the USB device with the
// strings: port -> interface -> device, hubs being above.
constexpr int kMaxUsbWalk = 4;
constexpr qint64 kMaxAttribute = 256;

QString charDeviceDir(dev_t device, const QString &sysRoot)
{
    return sysRoot + QStringLiteral("/dev/char/%1:%2").arg(major(device)).arg(minor(device));
}

bool inTtyClass(dev_t device, const QString &sysRoot)
{
    const QString link
        = QFileInfo(charDeviceDir(device, sysRoot) + QStringLiteral("/subsystem")).symLinkTarget();
    return !link.isEmpty() && QFileInfo(link).fileName() == u"tty";
}

QString usbSerialOf(dev_t device, const QString &sysRoot)
{
    QDir dir(QFileInfo(charDeviceDir(device, sysRoot) + QStringLiteral("/device")).canonicalFilePath());
    if (dir.path().isEmpty() || dir.path() == u".")
        return {};
    for (int step = 0; step <= kMaxUsbWalk; ++step) {
        if (dir.exists(QStringLiteral("idVendor"))) {
            QFile serial(dir.filePath(QStringLiteral("serial")));
            if (!serial.open(QIODevice::ReadOnly))
                return {};
            return QString::fromUtf8(serial.read(kMaxAttribute)).trimmed();
        }
        if (!dir.cdUp())
            break;
    }
    return {};
}

} // namespace

namespace serial_node {

bool isPseudoTerminal(dev_t device)
{
    return major(device) >= kPtySlaveMajor && major(device) < kPtySlaveMajor + kPtySlaveMajors;
}

Node inspect(const QString &path, const QString &sysRoot)
{
    Node node;
    const QByteArray name = path.toLocal8Bit();
    struct stat status = {};
    if (name.isEmpty() || ::stat(name.constData(), &status) != 0) {
        node.error = name.isEmpty() ? ENOENT : errno;
        return node;
    }
    if (!S_ISCHR(status.st_mode)) {
        node.kind = Kind::NotACharacterDevice;
        return node;
    }
    node.identity.device = status.st_rdev;
    if (isPseudoTerminal(status.st_rdev)) {
        node.kind = Kind::PseudoTerminal;
    } else if (inTtyClass(status.st_rdev, sysRoot)) {
        node.kind = Kind::Terminal;
        node.identity.usbSerial = usbSerialOf(status.st_rdev, sysRoot);
    } else {
        node.kind = Kind::NotATerminal;
    }
    return node;
}

} // namespace serial_node
