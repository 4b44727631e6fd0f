// The serial component against real pseudo-terminals: the component opens the
// terminal side through a redirected device name, the test plays the device at
// the other end (the master) and inspects the line attributes on its own fd.
// No test ever resolves a name to /dev/ttyS*.

#include "net/serial/serialport.h"
#include "support/pseudoterminal.h"

#include <QtTest>

#include <asm/termbits.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

const QString kPtyName = QStringLiteral("PTY");

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// "code message" of the SerialPortError that f raises, empty when none.
template <typename F> QString deviceError(F &&f)
{
    try {
        f();
    } catch (const SerialPortError &e) {
        return QStringLiteral("%1 %2").arg(e.code()).arg(e.Message());
    }
    return {};
}

const QString kNotOpened = QStringLiteral("1 Device not opened.");
const QString kControlBlock = QStringLiteral("3 Unable to update device control block.");

// Collects what reaches the exception reporter while it lives.
struct ReportRecorder {
    QStringList messages;
    ExceptionReporter previous;
    ReportRecorder()
    {
        previous = SetExceptionReporter([this](const std::exception &e) { messages << ExceptionMessage(e); });
    }
    ~ReportRecorder() { SetExceptionReporter(std::move(previous)); }
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TstSerialPort : public QObject {
    Q_OBJECT

    std::unique_ptr<Pty> pty;
    SerialPort::DevicePathResolver previousResolver;

    // A component configured the way a UDP server endpoint configures it.
    static void configureAsBridge(SerialPort &comm)
    {
        comm.setBaudRate(BaudRate::Custom);
        comm.setBaudValue(28800);
        comm.setDeviceName(kPtyName);
        comm.setFlowControl(FlowControl::Custom);
        comm.setDtrSettings(DtrSetting::On);
        comm.setRtsSettings(RtsSetting::On);
        comm.timeouts().setWriteConstant(500);
        comm.timeouts().setWriteMultiplier(20);
        comm.timeouts().setReadInterval(100);
        comm.timeouts().setReadConstant(20);
        comm.timeouts().setReadMultiplier(20);
    }

private slots:
    void init()
    {
        pty = std::make_unique<Pty>();
        QVERIFY2(pty->master >= 0 && pty->slave >= 0, "no pseudo-terminal");
        const QString path = pty->path;
        // Only the test's name reaches a device; every other name is missing.
        previousResolver = SerialPort::setDevicePathResolver([path](const QString &name) {
            return name == kPtyName ? path : QStringLiteral("/nonexistent/") + name;
        });
    }
    void cleanup()
    {
        SerialPort::setDevicePathResolver(std::move(previousResolver));
        pty.reset();
    }

    void comNamesMapToSerialDevices_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("com1") << "com1"
                              << "/dev/ttyS0";
        QTest::newRow("COM2") << "COM2"
                              << "/dev/ttyS1";
        QTest::newRow("mixed case two digits") << "cOm12"
                                               << "/dev/ttyS11";
        QTest::newRow("COM0 is a path") << "COM0"
                                        << "COM0";
        QTest::newRow("trailing text") << "COM1x"
                                       << "COM1x";
        QTest::newRow("device path") << "/dev/ttyUSB0"
                                     << "/dev/ttyUSB0";
    }
    void comNamesMapToSerialDevices()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(SerialPort::defaultDevicePath(name), path);
    }

    void baudValueAndLineSetsFollowTheirSwitches()
    {
        SerialPort comm;
        QCOMPARE(comm.baudRate(), BaudRate::Baud9600);
        comm.setBaudValue(28800);
        QCOMPARE(comm.baudValue(), 9600u);
        comm.setBaudRate(BaudRate::Baud115200);
        QCOMPARE(comm.baudValue(), 115200u);
        comm.setBaudRate(BaudRate::Custom);
        QCOMPARE(comm.baudValue(), 115200u);
        comm.setBaudValue(28800);
        QCOMPARE(comm.baudValue(), 28800u);

        comm.setDtrSettings(DtrSetting::On);
        comm.setRtsSettings(RtsSetting::On);
        comm.setXonXoffSettings(XonXoff::Input);
        QCOMPARE(comm.dtrSettings(), DtrSettings());
        QCOMPARE(comm.rtsSettings(), RtsSettings());
        QCOMPARE(comm.xonXoffSettings(), XonXoffSettings());
        comm.setFlowControl(FlowControl::Custom);
        comm.setDtrSettings(DtrSetting::On);
        comm.setRtsSettings(RtsSetting::On);
        comm.setXonXoffSettings(XonXoff::Input);
        QCOMPARE(comm.dtrSettings(), DtrSettings(DtrSetting::On));
        QCOMPARE(comm.rtsSettings(), RtsSettings(RtsSetting::On));
        QCOMPARE(comm.xonXoffSettings(), XonXoffSettings(XonXoff::Input));
    }

    void dtrEnabledAndHandshakeExcludeEachOther()
    {
        SerialPort comm;
        comm.setFlowControl(FlowControl::Custom);
        comm.setDtrSettings(DtrSetting::Handshake);
        comm.setDtrSettings(DtrSetting::On | DtrSetting::Handshake);
        QCOMPARE(comm.dtrSettings(), DtrSettings(DtrSetting::On));
        comm.setDtrSettings(DtrSetting::On | DtrSetting::Handshake);
        QCOMPARE(comm.dtrSettings(), DtrSettings(DtrSetting::Handshake));
        comm.setOptions(SerialOption::LeaveDtrOpen);
        comm.setDtrSettings(DtrSetting::DsrOutputFlow | DtrSetting::Handshake);
        QCOMPARE(comm.dtrSettings(), DtrSetting::DsrOutputFlow | DtrSetting::On);
    }

    void flowControlSetsTheLineSets_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<bool>("leaveDtrOpen");
        QTest::addColumn<int>("rts");
        QTest::addColumn<int>("dtr");
        QTest::addColumn<int>("xonxoff");
        QTest::newRow("none") << int(FlowControl::None) << false << 0 << 0 << 0;
        QTest::newRow("rts/cts") << int(FlowControl::RtsCts) << false
                                 << int(RtsSetting::CtsOutputFlow | RtsSetting::Handshake)
                                 << int(DtrSetting::On) << 0;
        QTest::newRow("dtr/dsr") << int(FlowControl::DtrDsr) << false << int(RtsSetting::On)
                                 << int(DtrSetting::DsrOutputFlow | DtrSetting::On) << 0;
        QTest::newRow("software") << int(FlowControl::Software) << false << 0 << int(DtrSetting::On)
                                  << int(XonXoff::Input | XonXoff::Output);
        QTest::newRow("none, DTR left open")
            << int(FlowControl::None) << true << 0 << int(DtrSetting::On) << 0;
    }
    void flowControlSetsTheLineSets()
    {
        QFETCH(int, flow);
        QFETCH(bool, leaveDtrOpen);
        QFETCH(int, rts);
        QFETCH(int, dtr);
        QFETCH(int, xonxoff);
        SerialPort comm;
        comm.setFlowControl(FlowControl::Custom);
        comm.setRtsSettings(RtsSetting::Handshake | RtsSetting::On);
        comm.setDtrSettings(DtrSetting::DsrOutputFlow);
        comm.setXonXoffSettings(XonXoff::Output);
        if (leaveDtrOpen)
            comm.setOptions(SerialOption::LeaveDtrOpen);
        comm.setFlowControl(FlowControl(flow));
        QCOMPARE(int(comm.rtsSettings()), rts);
        QCOMPARE(int(comm.dtrSettings()), dtr);
        QCOMPARE(int(comm.xonXoffSettings()), xonxoff);
    }

    void queueSizesAreClamped_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("stored");
        QTest::newRow("below") << 1 << 128;
        QTest::newRow("inside") << 1000 << 1000;
        QTest::newRow("above") << 65535 << 4096;
    }
    void queueSizesAreClamped()
    {
        QFETCH(int, value);
        QFETCH(int, stored);
        SerialPort comm;
        comm.queues().setInputSize(value);
        comm.queues().setOutputSize(value);
        QCOMPARE(comm.queues().inputSize(), stored);
        QCOMPARE(comm.queues().outputSize(), stored);
    }

    void missingDeviceDoesNotOpen()
    {
        SerialPort comm;
        comm.setDeviceName(QStringLiteral("COM1"));
        bool opened = true;
        QCOMPARE(deviceError([&] { opened = comm.open(); }), QString());
        QVERIFY(!opened);
        QVERIFY(!comm.isOpen());
    }

    void closedPortRefusesOperations()
    {
        SerialPort comm;
        char buf[4];
        QByteArray text;
        QCOMPARE(deviceError([&] { comm.close(); }), kNotOpened);
        QCOMPARE(deviceError([&] { comm.writeData("ab", 2, 10); }), kNotOpened);
        QCOMPARE(deviceError([&] { comm.readData(buf, 4, 10); }), kNotOpened);
        QCOMPARE(deviceError([&] { comm.read(text); }), kNotOpened);
        QCOMPARE(deviceError([&] { (void)comm.queuedInput(); }), kNotOpened);
        QCOMPARE(deviceError([&] { (void)comm.queuedOutput(); }), kNotOpened);
        QCOMPARE(deviceError([&] { comm.queueWrite("ab"); }), kNotOpened);
        QCOMPARE(deviceError([&] { (void)comm.queuedForWriting(); }), kNotOpened);
    }

    void openCloseAndOpenAgain()
    {
        SerialPort comm;
        comm.setDeviceName(QStringLiteral("COM1"));
        comm.setDeviceName(kPtyName);
        QCOMPARE(comm.deviceName(), kPtyName);
        QVERIFY(comm.open());
        QVERIFY(comm.isOpen());
        QCOMPARE(comm.lockState(), 0);
        QCOMPARE(deviceError([&] { comm.open(); }), QStringLiteral("2 Device is allready opened."));
        QVERIFY(comm.isOpen());
        comm.setDeviceName(QStringLiteral("COM2"));
        QCOMPARE(comm.deviceName(), kPtyName);
        comm.close();
        QVERIFY(!comm.isOpen());
        QCOMPARE(comm.lockState(), 3);
        QVERIFY(comm.open());
        comm.close();
        // Letter case counts: "com1" replaces "COM1".
        comm.setDeviceName(QStringLiteral("COM1"));
        comm.setDeviceName(QStringLiteral("com1"));
        QCOMPARE(comm.deviceName(), QStringLiteral("com1"));
    }

    void deviceIsHeldExclusively()
    {
        SerialPort first;
        SerialPort second;
        first.setDeviceName(kPtyName);
        second.setDeviceName(kPtyName);
        QVERIFY(first.open());
        QVERIFY(!second.open());
        first.close();
        QVERIFY(second.open());
    }

    void lineSettingsReachTheTerminal_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        // A pseudo-terminal forces eight bits without parity enable; it keeps
        // the odd, mark/space and stop-bit flags, which tell the rows apart.
        QTest::addColumn<uint>("cflags");
        QTest::newRow("9600 8N1") << int(BaudRate::Baud9600) << int(DataBits::Eight) << int(Parity::None)
                                  << int(StopBits::One) << uint(CS8);
        QTest::newRow("115200 7E2") << int(BaudRate::Baud115200) << int(DataBits::Seven) << int(Parity::Even)
                                    << int(StopBits::Two) << uint(CS7 | PARENB | CSTOPB);
        QTest::newRow("300 6O1") << int(BaudRate::Baud300) << int(DataBits::Six) << int(Parity::Odd)
                                 << int(StopBits::One) << uint(CS6 | PARENB | PARODD);
        QTest::newRow("mark") << int(BaudRate::Baud2400) << int(DataBits::Eight) << int(Parity::Mark)
                              << int(StopBits::One) << uint(CS8 | PARENB | PARODD | CMSPAR);
        QTest::newRow("space") << int(BaudRate::Baud2400) << int(DataBits::Eight) << int(Parity::Space)
                               << int(StopBits::One) << uint(CS8 | PARENB | CMSPAR);
        QTest::newRow("5 bits 1.5 stop") << int(BaudRate::Baud110) << int(DataBits::Five) << int(Parity::None)
                                         << int(StopBits::OneAndHalf) << uint(CS5 | CSTOPB);
    }
    void lineSettingsReachTheTerminal()
    {
        QFETCH(int, rate);
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(uint, cflags);
        // Start from a cooked terminal so that raw mode has to be made.
        termios2 cooked = pty->attributes();
        cooked.c_lflag |= ICANON | ECHO | ISIG;
        cooked.c_iflag |= ICRNL;
        cooked.c_oflag |= OPOST;
        pty->setAttributes(cooked);

        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.setBaudRate(BaudRate(rate));
        comm.framing().setDataBits(DataBits(dataBits));
        comm.framing().setParity(Parity(parity));
        comm.framing().setStopBits(StopBits(stopBits));
        QVERIFY(comm.open());

        const termios2 t = pty->attributes();
        QCOMPARE(t.c_ospeed, BaudRateValue(BaudRate(rate)));
        QCOMPARE(t.c_ispeed, BaudRateValue(BaudRate(rate)));
        QCOMPARE(uint(t.c_cflag & (PARODD | CMSPAR | CSTOPB)), cflags & (PARODD | CMSPAR | CSTOPB));
        QCOMPARE(uint(t.c_cflag & (CLOCAL | CREAD)), uint(CLOCAL | CREAD));
        QCOMPARE(uint(t.c_lflag & (ICANON | ECHO | ISIG)), 0u);
        QCOMPARE(uint(t.c_iflag & ICRNL), 0u);
        QCOMPARE(uint(t.c_oflag & OPOST), 0u);
        QCOMPARE(int(t.c_cc[VMIN]), 0);
        QCOMPARE(int(t.c_cc[VTIME]), 0);
        QCOMPARE(comm.baudRate(), BaudRate(rate));

        comm.close();
        const termios2 restored = pty->attributes();
        QCOMPARE(uint(restored.c_lflag & ICANON), uint(ICANON));
        QCOMPARE(restored.c_ospeed, cooked.c_ospeed);
    }

    void bridgeSettingsTakeEffect()
    {
        SerialPort comm;
        configureAsBridge(comm);
        QVERIFY(comm.open());
        const termios2 t = pty->attributes();
        QCOMPARE(t.c_ospeed, 28800u);
        QCOMPARE(uint(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)), uint(CS8));
        QCOMPARE(uint(t.c_iflag & (IXON | IXOFF)), 0u);
        QCOMPARE(comm.baudRate(), BaudRate::Custom);
        QCOMPARE(comm.baudValue(), 28800u);
        // A pseudo-terminal has no modem lines; the sets read back as made.
        QCOMPARE(comm.dtrSettings(), DtrSettings(DtrSetting::On));
        QCOMPARE(comm.rtsSettings(), RtsSettings(RtsSetting::On));
    }

    void changesWhileOpenTakeEffectAtOnce()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        QVERIFY(comm.open());
        QCOMPARE(pty->attributes().c_ospeed, 9600u);

        comm.setBaudRate(BaudRate::Custom);
        comm.setBaudValue(28800);
        QCOMPARE(pty->attributes().c_ospeed, 28800u);
        comm.framing().setDataBits(DataBits::Seven);
        comm.framing().setParity(Parity::Even);
        comm.framing().setStopBits(StopBits::Two);
        QCOMPARE(uint(pty->attributes().c_cflag & CSTOPB), uint(CSTOPB));
        comm.framing().setParity(Parity::Odd);
        QCOMPARE(uint(pty->attributes().c_cflag & PARODD), uint(PARODD));

        comm.setFlowControl(FlowControl::Software);
        QCOMPARE(uint(pty->attributes().c_iflag & (IXON | IXOFF)), uint(IXON | IXOFF));
        comm.eventChars().setXonChar('Q');
        comm.eventChars().setXoffChar('S');
        QCOMPARE(pty->attributes().c_cc[VSTART], cc_t('Q'));
        QCOMPARE(pty->attributes().c_cc[VSTOP], cc_t('S'));

        comm.setFlowControl(FlowControl::RtsCts);
        QCOMPARE(uint(pty->attributes().c_cflag & CRTSCTS), uint(CRTSCTS));
        QCOMPARE(uint(pty->attributes().c_iflag & (IXON | IXOFF)), 0u);
        QCOMPARE(comm.rtsSettings(), RtsSetting::CtsOutputFlow | RtsSetting::Handshake);
        comm.setFlowControl(FlowControl::None);
        QCOMPARE(uint(pty->attributes().c_cflag & CRTSCTS), 0u);
    }

    void gettersReadTheDeviceWhileOpen()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.setFlowControl(FlowControl::Custom);
        QVERIFY(comm.open());
        termios2 t = pty->attributes();
        t.c_cflag = (t.c_cflag & ~tcflag_t(CBAUD)) | BOTHER;
        t.c_ospeed = t.c_ispeed = 57600;
        t.c_cflag |= CRTSCTS;
        t.c_iflag |= IXOFF;
        pty->setAttributes(t);
        QCOMPARE(comm.baudRate(), BaudRate::Baud57600);
        QCOMPARE(comm.baudValue(), 57600u);
        QCOMPARE(comm.rtsSettings(), RtsSetting::CtsOutputFlow | RtsSetting::Handshake);
        QCOMPARE(comm.xonXoffSettings(), XonXoffSettings(XonXoff::Input));

        t.c_ospeed = t.c_ispeed = 12345;
        pty->setAttributes(t);
        QCOMPARE(comm.baudRate(), BaudRate::Custom);
        QCOMPARE(comm.baudValue(), 12345u);
        comm.close();
        // A rate that names no value left the component at BaudRate::Custom.
        QCOMPARE(comm.baudRate(), BaudRate::Custom);
        QCOMPARE(comm.baudValue(), 12345u);
    }

    void refusedLineSettingsRaiseCode3AndLeaveThePortOpen()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.framing().setDataBits(DataBits::Four);
        QCOMPARE(deviceError([&] { comm.open(); }), kControlBlock);
        QVERIFY(comm.isOpen());
        comm.framing().setDataBits(DataBits::Eight);
        comm.framing().setStopBits(StopBits::Two);
        QCOMPARE(uint(pty->attributes().c_cflag & CSTOPB), uint(CSTOPB));
        QCOMPARE(deviceError([&] { comm.framing().setStopBits(StopBits::OneAndHalf); }), kControlBlock);
        comm.close();
    }

    void nonTerminalDeviceRefusesLineSettings()
    {
        // A plain file of our own: opens, but is no terminal.
        QTemporaryFile file;
        QVERIFY(file.open());
        SerialPort comm;
        comm.setDeviceName(file.fileName());
        SerialPort::setDevicePathResolver({});
        QCOMPARE(deviceError([&] { comm.open(); }), kControlBlock);
        QVERIFY(comm.isOpen());
        // Its monitoring must not spin on a device that is always "readable".
        const double before = cpuSeconds();
        QTest::qWait(300);
        QVERIFY2(cpuSeconds() - before < 0.15, "monitoring thread spins");
        comm.close();
    }

    void writeStringArrivesAtTheFarEnd()
    {
        SerialPort comm;
        configureAsBridge(comm);
        QVERIFY(comm.open());
        const QByteArray bytes = allByteValues();
        QVERIFY(comm.write(bytes));
        QCOMPARE(pty->receive(bytes.size()), bytes);
    }

    void readStringTakesWhatTheFarEndSent()
    {
        SerialPort comm;
        configureAsBridge(comm);
        QVERIFY(comm.open());
        const QByteArray bytes = allByteValues();
        pty->send(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(comm.queuedInput(), int(bytes.size()), 5000);
        QByteArray got;
        QVERIFY(comm.read(got));
        QCOMPARE(got, bytes);
        QCOMPARE(comm.queuedInput(), 0);
    }

    void streamedInputArrivesWholeAndInOrder()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.queues().setInputSize(256);
        QByteArray got;
        QObject::connect(&comm, &SerialPort::dataReceived, [&] {
            QByteArray piece;
            if (comm.read(piece))
                got += piece;
        });
        QVERIFY(comm.open());
        QByteArray bytes(200 * 1024, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 31 + (i >> 8));
        std::thread writer([&bytes, master = pty->master] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            qsizetype sent = 0;
            while (sent < bytes.size() && std::chrono::steady_clock::now() < deadline) {
                const ssize_t n = ::write(master, bytes.constData() + sent, size_t(bytes.size() - sent));
                if (n > 0) {
                    sent += n;
                } else {
                    pollfd p{master, POLLOUT, 0};
                    (void)::poll(&p, 1, 100);
                }
            }
        });
        const auto joinWriter = qScopeGuard([&] { writer.join(); });
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), bytes.size(), 30000);
        QVERIFY(got == bytes);
    }

    void readStringOnEmptyQueueReturnsAtOnce()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        // A read that waited for data would wait this long, well past the
        // bound below.
        comm.queues().setInputTimeout(30000);
        QVERIFY(comm.open());
        QElapsedTimer clock;
        clock.start();
        QByteArray got("stale");
        QVERIFY(!comm.read(got));
        QVERIFY(got.isEmpty());
        // At once; seconds only for a loaded machine.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }

    void readDataWaitsForTheRestWithinItsLimit()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        QVERIFY(comm.open());
        std::thread late([master = pty->master] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            (void)!::write(master, "later", 5);
        });
        char buf[16];
        QElapsedTimer clock;
        clock.start();
        const int n = comm.readData(buf, 10, 600);
        late.join();
        QCOMPARE(n, 5);
        QCOMPARE(QByteArray(buf, n), QByteArray("later"));
        QVERIFY(clock.elapsed() >= 600);
    }

    void onDataRunsOnTheUiThreadWithTheQueuedCount()
    {
        SerialPort comm;
        configureAsBridge(comm);
        QByteArray received;
        QList<int> counts;
        bool onUiThread = true;
        // A receiver object of the UI thread, which can tell who emitted.
        struct Receiver : QObject {
            using QObject::sender;
        } receiver;
        QObject::connect(&comm, &SerialPort::dataReceived, &receiver, [&](int count) {
            QCOMPARE(receiver.sender(), &comm);
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
            counts << count;
            QByteArray piece;
            if (comm.read(piece))
                received += piece;
        });
        QVERIFY(comm.open());
        pty->send("hello");
        QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("hello"), 5000);
        QVERIFY(onUiThread);
        QVERIFY(!counts.isEmpty());
        QVERIFY(counts.first() >= 1 && counts.first() <= 5);
    }

    void eventCharacterRaisesFlag()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.setMonitorEvents(DeviceEvent::CharReceived | DeviceEvent::EventChar);
        QList<DeviceEvents> seen;
        QObject::connect(&comm, &SerialPort::deviceEventsOccurred, [&](DeviceEvents events) {
            seen << events;
            QByteArray drain;
            comm.read(drain);
        });
        QVERIFY(comm.open());
        pty->send("ab");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 5000);
        QCOMPARE(seen.last(), DeviceEvents(DeviceEvent::CharReceived));
        pty->send("c\n");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 5000);
        QCOMPARE(seen.last(), DeviceEvent::CharReceived | DeviceEvent::EventChar);
    }

    void handlerExceptionStopsDataEventsUntilReopened()
    {
        ReportRecorder reports;
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        int calls = 0;
        QObject::connect(&comm, &SerialPort::dataReceived, [&] {
            ++calls;
            throw Exception(QStringLiteral("peer refused"));
        });
        QVERIFY(comm.open());
        pty->send("x");
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(reports.messages, QStringList{QStringLiteral("peer refused")}, 5000);
        pty->send("y");
        // Nothing comes for a quiet spell in which an event would have come.
        QTest::qWait(300);
        QCOMPARE(calls, 1);
        QVERIFY(comm.isOpen());
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT(comm.queuedInput() == 2, 5000);
        QVERIFY(comm.read(got));
        QCOMPARE(got, QByteArray("xy"));

        comm.close();
        QVERIFY(comm.open());
        pty->send("z");
        QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 5000);
    }

    void unsynchronisedEventsRunOnTheMonitoringThread()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.setSynchronize(false);
        std::atomic<int> calls{0};
        std::atomic<bool> onUiThread{false};
        QObject::connect(&comm, &SerialPort::dataReceived, [&] {
            onUiThread = QThread::currentThread() == qApp->thread();
            ++calls;
        });
        QVERIFY(comm.open());
        pty->send("x");
        QTRY_VERIFY_WITH_TIMEOUT(calls.load() >= 1, 5000);
        QVERIFY(!onUiThread);
    }

    void closingWhileDataFloodsInNeverDeadlocks()
    {
        std::atomic<bool> stop{false};
        std::thread flood([&, master = pty->master] {
            const QByteArray chunk(512, 'f');
            while (!stop) {
                if (::write(master, chunk.data(), chunk.size()) < 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                // The far end also drains what the component might write.
                char sink[512];
                (void)!::read(master, sink, sizeof sink);
            }
        });
        QElapsedTimer total;
        total.start();
        int rounds = 0;
        for (; rounds < 150 && total.elapsed() < 60000; ++rounds) {
            SerialPort comm;
            comm.setDeviceName(kPtyName);
            int events = 0;
            QObject::connect(&comm, &SerialPort::dataReceived, [&] {
                ++events;
                QByteArray piece;
                comm.read(piece);
                comm.write("echo");
            });
            QVERIFY(comm.open());
            // Once a hand-over has been served, keep the UI thread away from
            // its event loop for a moment: the next one is then handed over
            // and waiting when the port closes (every third round by
            // destruction).
            QTRY_VERIFY_WITH_TIMEOUT(events > 0, 5000);
            QTest::qSleep(1 + rounds % 3);
            QElapsedTimer closing;
            closing.start();
            if (rounds % 3 == 0)
                continue;
            comm.close();
            // A deadlock never returns; seconds only for a loaded machine.
            QVERIFY2(closing.elapsed() < 10000, "Close took too long");
        }
        stop = true;
        flood.join();
        QVERIFY(rounds >= 20);
    }

    void closingFromInsideTheDataHandler()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        int calls = 0;
        QObject::connect(&comm, &SerialPort::dataReceived, [&] {
            ++calls;
            comm.close();
        });
        QVERIFY(comm.open());
        pty->send("abc");
        QTRY_VERIFY_WITH_TIMEOUT(!comm.isOpen(), 5000);
        QCOMPARE(calls, 1);
        QVERIFY(comm.open());
    }

    void destroyingAnOpenPortReleasesTheDevice()
    {
        termios2 before = pty->attributes();
        {
            auto comm = std::make_unique<SerialPort>();
            configureAsBridge(*comm);
            QObject::connect(comm.get(), &SerialPort::dataReceived, [] { QFAIL("event after destruction"); });
            QVERIFY(comm->open());
            pty->send("pending");
            // Let a hand-over get queued but not served.
            QTest::qSleep(50);
        }
        QCoreApplication::processEvents();
        QCOMPARE(pty->attributes().c_ospeed, before.c_ospeed);
        SerialPort again;
        again.setDeviceName(kPtyName);
        QVERIFY(again.open());
    }

    void hungUpFarEndDoesNotSpin()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        int calls = 0;
        QObject::connect(&comm, &SerialPort::dataReceived, [&] { ++calls; });
        QVERIFY(comm.open());
        ::close(pty->slave); // the far end's hang-up reaches the terminal only when no other handle holds it
        pty->slave = -1;
        pty->closeMaster();
        const double before = cpuSeconds();
        QTest::qWait(400);
        QVERIFY2(cpuSeconds() - before < 0.2, "monitoring thread spins on a hung-up line");
        QCOMPARE(calls, 0);
        QVERIFY(!comm.write("gone"));
        comm.close();
    }

    void writeIntoStalledLineReturnsShortAfterTheTimeout()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.queues().setOutputTimeout(300);
        QVERIFY(comm.open());
        QByteArray bytes(256 * 1024, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!comm.write(bytes));
        QVERIFY(clock.elapsed() >= 300);
        // The time-out and at most one piece's wait, with seconds to spare
        // for a loaded machine; the whole write would take for ever.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));

        // What WriteData reports is exactly what went out, byte for byte.
        (void)pty->receive(bytes.size(), 200);
        const int n = comm.writeData(bytes.constData(), int(bytes.size()), 100);
        QVERIFY(n > 0 && n < bytes.size());
        QCOMPARE(pty->receive(n), bytes.left(n));
    }

    // Queued writes never wait: a line nobody reads fills the terminal and
    // then the bounded queue, the rest is refused, and once the far end reads
    // every queued byte arrives once and in order.
    void queuedWritesKeepOrderAndRefuseWhatDoesNotFit()
    {
        SerialPort comm;
        configureAsBridge(comm);
        QVERIFY(comm.open());
        QByteArray queued;
        int refused = 0; // pieces not taken whole
        qint64 callsNs = 0;
        for (int i = 0; i < 200 && refused < 20; ++i) {
            QByteArray piece(2000, '\0');
            for (qsizetype k = 0; k < piece.size(); ++k)
                piece[k] = char((i * 7 + k) % 253);
            QElapsedTimer call;
            call.start();
            const qsizetype taken = comm.queueWrite(piece);
            callsNs += call.nsecsElapsed();
            queued += piece.left(taken);
            refused += taken < piece.size() ? 1 : 0;
            QTest::qWait(1); // the writer fills the terminal meanwhile
        }
        QCOMPARE(refused, 20);
        // A write that waited for the device would wait about a second (the
        // write time-outs) for each piece once the terminal is full, one that
        // waited for room half a second for each of the twenty refused; all
        // the writes together get seconds, for a loaded machine.
        QVERIFY2(callsNs < 3'000'000'000, qPrintable(QString::number(callsNs / 1'000'000)));
        QCOMPARE(comm.queuedForWriting(), SerialPort::WriteQueueCapacity);
        QCOMPARE(comm.queueWrite("more"), 0);
        QCOMPARE(pty->receive(int(queued.size()), 10000), queued);
        QTRY_COMPARE(comm.queuedForWriting(), 0);
        QCOMPARE(comm.queueWrite("after"), 5);
        QCOMPARE(pty->receive(5), QByteArray("after"));
    }

    void fullWriteQueueEndsPromptly()
    {
        for (const bool destroy : {false, true}) {
            auto comm = std::make_unique<SerialPort>();
            configureAsBridge(*comm);
            QVERIFY(comm->open());
            const QByteArray piece(8192, 'f');
            for (int i = 0; i < 100 && comm->queueWrite(piece) == piece.size(); ++i)
                QTest::qWait(1);
            QCOMPARE(comm->queuedForWriting(), SerialPort::WriteQueueCapacity);
            // A close that waited for the queue to go out would wait this
            // long, well past the bound below, before giving up.
            comm->queues().setOutputTimeout(30000);
            QElapsedTimer clock;
            clock.start();
            if (destroy)
                comm.reset();
            else
                comm->close();
            // At once; seconds only for a loaded machine.
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            (void)pty->receive(1 << 20, 200);
        }
    }

    // A line whose far end hung up takes nothing ever again: its queue is
    // emptied rather than held full, and the writer does not spin.
    void hungUpLineEmptiesTheWriteQueue()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        QVERIFY(comm.open());
        ::close(pty->slave);
        pty->slave = -1;
        pty->closeMaster();
        const double before = cpuSeconds();
        QVERIFY(comm.queueWrite(QByteArray(1000, 'h')) > 0);
        QTRY_COMPARE(comm.queuedForWriting(), 0);
        QTest::qWait(300);
        QVERIFY2(cpuSeconds() - before < 0.2, "writer thread spins on a hung-up line");
        comm.close();
    }

    void eachWritePieceReportsOutputEmptyAndSend()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.queues().setOutputSize(128);
        int outEmpty = 0;
        int sends = 0;
        QString locked;
        QObject::connect(&comm, &SerialPort::deviceEventsOccurred, [&](DeviceEvents events) {
            QCOMPARE(events, DeviceEvents(DeviceEvent::OutputEmpty));
            ++outEmpty;
        });
        QObject::connect(&comm, &SerialPort::pieceSent, [&] {
            ++sends;
            QCOMPARE(comm.lockState(), 1);
            locked = deviceError([&] { comm.writeData("x", 1, 10); });
        });
        QVERIFY(comm.open());
        const QByteArray bytes(1000, 'w');
        QCOMPARE(comm.writeData(bytes.constData(), int(bytes.size()), 500), 1000);
        QCOMPARE(outEmpty, 8);
        QCOMPARE(sends, 8);
        QCOMPARE(locked, QStringLiteral("4 Device locked. Cannot perform send operations."));
        QCOMPARE(comm.lockState(), 0);
        QCOMPARE(pty->receive(1000), bytes);

        comm.setMonitorEvents(DeviceEvent::CharReceived);
        QVERIFY(comm.write("more"));
        QCOMPARE(outEmpty, 8);
    }

    void throwingHandlerReleasesItsLock()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        const auto failingSend = QObject::connect(
            &comm, &SerialPort::pieceSent, [] { throw Exception(QStringLiteral("send handler failed")); });
        QObject::connect(
            &comm, &SerialPort::pieceRead, [] { throw Exception(QStringLiteral("read handler failed")); });
        QVERIFY(comm.open());
        QVERIFY_THROWS_EXCEPTION(Exception, comm.writeData("a", 1, 100));
        QCOMPARE(comm.lockState(), 0);
        pty->send("b");
        QTRY_COMPARE_WITH_TIMEOUT(comm.queuedInput(), 1, 5000);
        char c;
        QVERIFY_THROWS_EXCEPTION(Exception, comm.readData(&c, 1, 100));
        QCOMPARE(comm.lockState(), 0);
        QObject::disconnect(failingSend);
        QVERIFY(comm.write("c"));
        QCOMPARE(pty->receive(2), QByteArray("ac"));
    }

    void readLockGuardsTheReadHandler()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        int reads = 0;
        QString locked;
        QObject::connect(&comm, &SerialPort::pieceRead, [&] {
            ++reads;
            QCOMPARE(comm.lockState(), 2);
            char c;
            locked = deviceError([&] { comm.readData(&c, 1, 10); });
        });
        QVERIFY(comm.open());
        pty->send("read me");
        QTRY_COMPARE_WITH_TIMEOUT(comm.queuedInput(), 7, 5000);
        QByteArray got;
        QVERIFY(comm.read(got));
        QCOMPARE(got, QByteArray("read me"));
        QCOMPARE(reads, 1);
        QCOMPARE(locked, QStringLiteral("5 Device locked. Cannot perform read operations."));
        QCOMPARE(comm.lockState(), 0);
    }

    void inputSizeBoundsWhatIsTakenAhead()
    {
        SerialPort comm;
        comm.setDeviceName(kPtyName);
        comm.queues().setInputSize(128);
        QVERIFY(comm.open());
        QByteArray bytes(1000, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i);
        pty->send(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(comm.queuedInput(), 1000, 5000);
        // Every byte arrives once and in order across the component's queue
        // and the terminal's.
        QByteArray got;
        QVERIFY(comm.read(got));
        QCOMPARE(got, bytes);
    }
};

QTEST_GUILESS_MAIN(TstSerialPort)
#include "tst_serialport.moc"
