// The device list against a machine described in a folder: sysfs and /dev
// laid out with the directories and relative symlinks the kernel and udev
// make, device nodes as empty files (they are never opened).

#include "net/serial/serialdevicelist.h"

#include <QtTest>

namespace {

class FakeMachine {
public:
    FakeMachine() { QVERIFY(dir_.isValid()); }

    [[nodiscard]] SerialDiscoveryRoots roots() const { return {dir_.filePath("sys"), dir_.filePath("dev")}; }
    [[nodiscard]] QString dev(const QString &name) const { return dir_.filePath("dev/" + name); }

    // A serial-core UART: the tty's device is the core's port device, below
    // its controller, below the hardware the driver binds to.
    void addUart(const QString &name, const QString &hardware, const QString &driver, const QByteArray &type)
    {
        const QString hw = "devices/" + hardware;
        addDriver(hw, driver, "platform");
        const QString port = hw + "/" + name.mid(3) + ":0/" + name.mid(3) + ":0.0";
        addDriver(hw + "/" + name.mid(3) + ":0", "ctrl", "serial-base");
        addDriver(port, "port", "serial-base");
        addTty(name, port, "tty/" + name);
        if (!type.isNull())
            write("sys/" + port + "/tty/" + name + "/type", type);
    }

    // A USB device with one interface whose driver makes the tty; the
    // usb-serial drivers put a port device between interface and tty.
    void addUsb(const QString &name, const QString &driver, const QMap<QString, QByteArray> &usbAttributes,
        bool portDevice = true)
    {
        const QString usbPort = "1-" + QString::number(++usbPorts_);
        const QString usbDevice = "devices/pci0000:00/0000:00:14.0/usb1/" + usbPort;
        mkdir("sys/" + usbDevice);
        for (auto it = usbAttributes.begin(); it != usbAttributes.end(); ++it)
            write("sys/" + usbDevice + "/" + it.key(), it.value());
        const QString interface = usbDevice + "/" + usbPort + ":1.0";
        QString device = interface;
        if (portDevice) {
            device = interface + "/" + name;
            addDriver(device, driver, "usb-serial");
        } else {
            addDriver(interface, driver, "usb");
        }
        addTty(name, device, "tty/" + name);
    }

    // A terminal with no hardware: no device link.
    void addVirtual(const QString &name)
    {
        mkdir("sys/devices/virtual/tty/" + name);
        link("sys/class/tty/" + name, "../../devices/virtual/tty/" + name);
        write("dev/" + name, {});
    }

    void addById(const QString &id, const QString &target)
    {
        mkdir("dev/serial/by-id");
        link("dev/serial/by-id/" + id, "../../" + target);
    }

    void write(const QString &relative, const QByteArray &bytes)
    {
        mkdir(QFileInfo(relative).path());
        QFile file(dir_.filePath(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    void remove(const QString &relative) { QVERIFY(QFile::remove(dir_.filePath(relative))); }

private:
    void mkdir(const QString &relative) { QVERIFY(QDir(dir_.path()).mkpath(relative)); }
    void link(const QString &relative, const QString &target)
    {
        QVERIFY(QFile::link(target, dir_.filePath(relative)));
    }
    // "../" as often as needed to get from sys/<from>'s folder to sys/.
    static QString up(const QString &from) { return QString("../").repeated(int(from.count('/'))); }

    void addDriver(const QString &device, const QString &driver, const QString &bus)
    {
        mkdir("sys/" + device);
        mkdir("sys/bus/" + bus + "/drivers/" + driver);
        link("sys/" + device + "/driver", up(device + "/driver") + "bus/" + bus + "/drivers/" + driver);
        link("sys/" + device + "/subsystem", up(device + "/subsystem") + "bus/" + bus);
    }

    void addTty(const QString &name, const QString &device, const QString &below)
    {
        const QString tty = device + "/" + below;
        mkdir("sys/" + tty);
        mkdir("sys/class/tty");
        link("sys/class/tty/" + name, "../../" + tty);
        link("sys/" + tty + "/device", up(tty + "/device") + device);
        write("dev/" + name, {});
    }

    QTemporaryDir dir_;
    int usbPorts_ = 0;
};

QStringList paths(const std::vector<SerialDeviceInfo> &devices)
{
    QStringList list;
    for (const SerialDeviceInfo &d : devices)
        list << QFileInfo(d.path).fileName();
    return list;
}

const QMap<QString, QByteArray> kFtdi = {{"idVendor", "0403\n"}, {"idProduct", "6001\n"},
    {"manufacturer", "FTDI\n"}, {"product", "FT232R USB UART\n"}};

} // namespace

class TestSerialDeviceList : public QObject {
    Q_OBJECT

private slots:
    void listsUartsButNotPlaceholdersOrVirtualTerminals()
    {
        FakeMachine m;
        m.addUart("ttyS0", "pnp0/00:05", "serial", "4\n");
        m.addUart("ttyS1", "platform/serial8250", "serial8250", "0\n");
        m.addUart("ttyS4", "pci0000:00/0000:00:16.3", "serial", "garbage\n");
        m.addUart("ttyS5", "platform/soc-uart", "soc_uart", QByteArray()); // no type attribute
        m.addVirtual("tty0");
        m.addVirtual("ttyS9"); // a name alone is not a UART

        const auto devices = listSerialDevices(m.roots());
        QCOMPARE(paths(devices), QStringList({"ttyS0", "ttyS5"}));
        QCOMPARE(devices[0].path, m.dev("ttyS0"));
        QCOMPARE(devices[0].driver, "serial");
        QCOMPARE(devices[1].driver, "soc_uart");
        QVERIFY(devices[0].vendorId.isEmpty());
        QVERIFY(devices[0].stableName.isEmpty());
    }

    void usbAdaptersCarryTheirStringsAndStableNames()
    {
        FakeMachine m;
        m.addUsb("ttyUSB0", "ftdi_sio", kFtdi);
        m.addUsb("ttyACM3", "cdc_acm",
            {{"idVendor", "2341"}, {"idProduct", "0043"}, {"manufacturer", "Arduino (www.arduino.cc)"}},
            false);
        m.addById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
        m.addById("usb-Arduino_Uno_7563-if00", "ttyACM3");
        m.addById("usb-Gone_Adapter-if00-port0", "ttyUSB7"); // dangling

        const auto devices = listSerialDevices(m.roots());
        QCOMPARE(paths(devices), QStringList({"ttyUSB0", "ttyACM3"}));
        const SerialDeviceInfo ftdi{m.dev("ttyUSB0"),
            m.dev("serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"), "FTDI", "FT232R USB UART",
            "0403", "6001", "ftdi_sio"};
        QCOMPARE(devices[0], ftdi);
        const SerialDeviceInfo acm{m.dev("ttyACM3"), m.dev("serial/by-id/usb-Arduino_Uno_7563-if00"),
            "Arduino (www.arduino.cc)", "", "2341", "0043", "cdc_acm"};
        QCOMPARE(devices[1], acm);
    }

    void missingOrGarbledUsbAttributesLeaveOnlyTheirFieldEmpty()
    {
        FakeMachine m;
        m.addUsb("ttyUSB0", "pl2303", {{"idVendor", "67b\n"}, {"idProduct", "23a3\n"}});
        const auto devices = listSerialDevices(m.roots());
        QCOMPARE(devices.size(), 1u);
        QCOMPARE(devices[0].vendorId, "");
        QCOMPARE(devices[0].productId, "23a3");
        QCOMPARE(devices[0].vendor, "");
        QCOMPARE(devices[0].product, "");
        QCOMPARE(devices[0].driver, "pl2303");
    }

    void sortsByFamilyThenNumber()
    {
        FakeMachine m;
        for (const char *name : {"ttyACM0", "ttyUSB10", "ttyS10", "ttyUSB2", "ttyS2"}) {
            const QString n = QString::fromLatin1(name);
            if (n.startsWith("ttyS"))
                m.addUart(n, "pnp0/" + n, "serial", "4");
            else
                m.addUsb(n, n.startsWith("ttyACM") ? "cdc_acm" : "ch341", kFtdi, !n.startsWith("ttyACM"));
        }
        QCOMPARE(paths(listSerialDevices(m.roots())),
            QStringList({"ttyS2", "ttyS10", "ttyUSB2", "ttyUSB10", "ttyACM0"}));
    }

    void aDeviceWhoseNodeIsGoneIsNotListed()
    {
        FakeMachine m;
        m.addUsb("ttyUSB0", "ftdi_sio", kFtdi);
        m.addUsb("ttyUSB1", "ftdi_sio", kFtdi);
        m.remove("dev/ttyUSB0");
        QCOMPARE(paths(listSerialDevices(m.roots())), QStringList({"ttyUSB1"}));
    }

    void aStableNameFollowsTheDeviceItPointsTo()
    {
        FakeMachine m;
        m.addUsb("ttyUSB0", "ftdi_sio", kFtdi);
        m.addById("usb-FTDI-if00-port0", "ttyUSB0");
        const QString stable = m.dev("serial/by-id/usb-FTDI-if00-port0");
        QCOMPARE(currentSerialDevicePath(stable), m.dev("ttyUSB0"));

        m.remove("dev/ttyUSB0");
        QCOMPARE(currentSerialDevicePath(stable), QString());

        // Replugged, the adapter comes back under another number.
        m.remove("dev/serial/by-id/usb-FTDI-if00-port0");
        m.write("dev/ttyUSB1", {});
        m.addById("usb-FTDI-if00-port0", "ttyUSB1");
        QCOMPARE(currentSerialDevicePath(stable), m.dev("ttyUSB1"));
        QCOMPARE(currentSerialDevicePath(m.dev("ttyUSB1")), m.dev("ttyUSB1"));
        QCOMPARE(currentSerialDevicePath(m.dev("nothing")), QString());
    }
};

QTEST_GUILESS_MAIN(TestSerialDeviceList)
#include "tst_serialdevicelist.moc"
