#include "net/serial/serialdevicelist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <array>

// Everything here is read from sysfs attribute files, symlinks and directory
// listings: a /dev node is only ever looked at with stat, since opening one
// may raise DTR on a device that someone else is using, or block.

namespace {

// The families shown, in the order the list shows them.
constexpr std::array<QLatin1StringView, 3> kFamilies
    = {QLatin1StringView("ttyS"), QLatin1StringView("ttyUSB"), QLatin1StringView("ttyACM")};

// How far above a tty's device the USB device holding the strings may be:
// port -> interface -> device is two steps for every usb-serial and cdc-acm
// adapter; a hub in between adds none, since hubs are above the device.
constexpr int kMaxUsbWalk = 4;

// A USB string or id attribute is a line; longer is not an attribute.
constexpr qint64 kMaxAttribute = 256;

struct Name {
    int family = -1;
    qint64 number = -1;
};

Name parseName(QStringView name)
{
    for (int i = 0; i < int(kFamilies.size()); ++i) {
        if (!name.startsWith(kFamilies[i]))
            continue;
        const QStringView digits = name.mid(kFamilies[i].size());
        bool ok = false;
        const qint64 number = digits.toLongLong(&ok);
        // ttyS with letters after it belongs to no family (ttyUSB is its own).
        if (ok && !digits.isEmpty() && digits.front().isDigit())
            return {i, number};
    }
    return {};
}

QString readAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(kMaxAttribute)).trimmed();
}

QString linkName(const QString &link)
{
    const QString target = QFileInfo(link).canonicalFilePath();
    return target.isEmpty() ? QString() : QFileInfo(target).fileName();
}

// Four hex digits in lower case, or nothing for a value that is not one.
QString usbId(const QString &text)
{
    if (text.size() != 4)
        return {};
    for (const QChar c : text) {
        if (!c.isDigit() && !(c.toLower() >= u'a' && c.toLower() <= u'f'))
            return {};
    }
    return text.toLower();
}

// The driver of the hardware, not of the serial core's own port and
// controller devices that newer kernels put between the tty and it.
QString driverOf(const QString &deviceDir)
{
    QDir dir(deviceDir);
    for (int step = 0; step < kMaxUsbWalk; ++step) {
        if (linkName(dir.filePath(QStringLiteral("subsystem"))) != u"serial-base")
            return linkName(dir.filePath(QStringLiteral("driver")));
        if (!dir.cdUp())
            break;
    }
    return {};
}

void addUsbStrings(const QString &deviceDir, SerialDeviceInfo &info)
{
    QDir dir(deviceDir);
    for (int step = 0; step <= kMaxUsbWalk; ++step) {
        if (dir.exists(QStringLiteral("idVendor"))) {
            info.vendorId = usbId(readAttribute(dir.filePath(QStringLiteral("idVendor"))));
            info.productId = usbId(readAttribute(dir.filePath(QStringLiteral("idProduct"))));
            info.vendor = readAttribute(dir.filePath(QStringLiteral("manufacturer")));
            info.product = readAttribute(dir.filePath(QStringLiteral("product")));
            return;
        }
        if (!dir.cdUp())
            return;
    }
}

// A ttyS is listed only when a UART answers behind it: the 8250 driver makes
// placeholders (type 0, "unknown port") for every possible port. A type that
// cannot be read as a number is treated as a placeholder; a driver without
// the attribute at all is believed.
bool isRealUart(const QString &ttyDir)
{
    const QString typePath = ttyDir + QStringLiteral("/type");
    if (!QFileInfo::exists(typePath))
        return true;
    bool ok = false;
    const int type = readAttribute(typePath).toInt(&ok);
    return ok && type > 0;
}

// Device name -> its stable name; the first by-id name in order when an
// adapter has several.
QHash<QString, QString> stableNames(const QString &devRoot)
{
    QHash<QString, QString> names;
    const QDir byId(devRoot + QStringLiteral("/serial/by-id"));
    const QFileInfoList links
        = byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        if (!link.isSymLink())
            continue;
        const QString target = linkName(link.absoluteFilePath());
        if (!target.isEmpty() && !names.contains(target))
            names.insert(target, link.absoluteFilePath());
    }
    return names;
}

} // namespace

std::vector<SerialDeviceInfo> listSerialDevices(const SerialDiscoveryRoots &roots)
{
    const QDir ttyClass(roots.sys + QStringLiteral("/class/tty"));
    const QStringList entries = ttyClass.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);

    std::vector<std::pair<Name, SerialDeviceInfo>> found;
    QHash<QString, QString> byId;
    bool byIdRead = false;
    for (const QString &entry : entries) {
        const Name name = parseName(entry);
        if (name.family < 0)
            continue;
        const QString devPath = roots.dev + u'/' + entry;
        if (!QFileInfo::exists(devPath))
            continue;
        const QString ttyDir = ttyClass.filePath(entry);
        const QString deviceDir = QFileInfo(ttyDir + QStringLiteral("/device")).canonicalFilePath();
        if (deviceDir.isEmpty())
            continue; // a terminal without hardware (console, virtual terminal)
        if (kFamilies[name.family] == QLatin1StringView("ttyS") && !isRealUart(ttyDir))
            continue;

        if (!byIdRead) {
            byId = stableNames(roots.dev);
            byIdRead = true;
        }
        SerialDeviceInfo info;
        info.path = devPath;
        info.stableName = byId.value(entry);
        info.driver = driverOf(deviceDir);
        addUsbStrings(deviceDir, info);
        found.emplace_back(name, std::move(info));
    }

    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        return std::tie(a.first.family, a.first.number) < std::tie(b.first.family, b.first.number);
    });
    std::vector<SerialDeviceInfo> devices;
    devices.reserve(found.size());
    for (auto &item : found)
        devices.push_back(std::move(item.second));
    return devices;
}

QString currentSerialDevicePath(const QString &name)
{
    return QFileInfo(name).canonicalFilePath();
}
