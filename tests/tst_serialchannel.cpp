// The serial channel against real pseudo-terminals: the channel opens the
// terminal by path, the test plays the device at the master. What a
// pseudo-terminal cannot show (modem lines, a break, data bits and parity,
// which it forces to 8N, a permission refused to root) is played through
// FakeSerialCalls over the same terminal.

#include "net/serial/serialchannel.h"
#include "net/serial/serialdevicelist.h"
#include "support/fakeserialcalls.h"
#include "support/pseudoterminal.h"

#include <QtTest>

#include <atomic>
#include <poll.h>
#include <sys/file.h>
#include <thread>

namespace {

using OpenError = SerialChannel::OpenError;

serial_device::LineSettings settings8N1(std::uint32_t rate = 115200)
{
    serial_device::LineSettings s;
    s.rate = rate;
    s.dtr = true;
    s.rts = true;
    return s;
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xff);
    return bytes;
}

// Everything the channel hands over, and how it came.
struct Received {
    QByteArray bytes;
    qsizetype largestPiece = 0;
    int lost = 0;
    int lostError = 0;
    qint64 unsent = -1;
    QList<SerialChannel::ModemLines> lines;

    explicit Received(SerialChannel &channel)
    {
        QObject::connect(&channel, &SerialChannel::dataReceived, &channel, [this](const QByteArray &piece) {
            bytes += piece;
            largestPiece = std::max(largestPiece, piece.size());
        });
        QObject::connect(
            &channel, &SerialChannel::deviceLost, &channel, [this](int error, qint64 unsentBytes) {
                ++lost;
                lostError = error;
                unsent = unsentBytes;
            });
        QObject::connect(&channel, &SerialChannel::modemLinesChanged, &channel,
            [this](SerialChannel::ModemLines now) { lines << now; });
    }
};

// Runs the event loop for count passes of a zero-time timer: a number of
// turns of the loop, not a length of time.
void spinLoop(int count)
{
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(0);
    while (ticks < count)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Waits for another thread without running the event loop, so that what
// that thread hands to the loop stays queued.
template <class Condition> bool waitOffLoop(Condition condition)
{
    for (int i = 0; i < 10'000 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return condition();
}

} // namespace

class TestSerialChannel : public QObject {
    Q_OBJECT

private slots:
    void bytesPassBothWaysWholeAndInOrder()
    {
        Pty pty;
        SerialChannel channel;
        Received received(channel);
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        QVERIFY(!channel.hasModemLines());
        QCOMPARE(channel.modemLines(), SerialChannel::Dtr | SerialChannel::Rts);

        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        const QByteArray out = all.repeated(8);
        qint64 written = 0;
        connect(&channel, &SerialChannel::bytesWritten, this, [&](qint64 n) { written += n; });
        QCOMPARE(channel.write(out), out.size());
        QCOMPARE(pty.receive(int(out.size())), out);
        QTRY_COMPARE(written, out.size());
        QCOMPARE(channel.bytesToWrite(), 0);

        pty.send(all);
        pty.send(all);
        QTRY_COMPARE(received.bytes, all + all);
        QCOMPARE(received.lost, 0);
    }

    void lineSettingsReachTheDevice_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<QString>("flow");
        QTest::addColumn<uint>("frame"); // CSIZE, PARENB, PARODD, CMSPAR and CSTOPB asked for

        QTest::newRow("8N1 115200") << 115200 << 8 << 0 << 0 << "none" << uint(CS8);
        QTest::newRow("7E2 9600") << 9600 << 7 << 2 << 2 << "none" << uint(CS7 | PARENB | CSTOPB);
        QTest::newRow("7O1 rts/cts") << 19200 << 7 << 1 << 0 << "rts/cts" << uint(CS7 | PARENB | PARODD);
        QTest::newRow("8M1 250000") << 250000 << 8 << 3 << 0 << "none"
                                    << uint(CS8 | PARENB | PARODD | CMSPAR);
        QTest::newRow("8S1 31250 xon/xoff")
            << 31250 << 8 << 4 << 0 << "xon/xoff" << uint(CS8 | PARENB | CMSPAR);
        QTest::newRow("5N1 110") << 110 << 5 << 0 << 0 << "none" << uint(CS5);
    }

    // A pseudo-terminal keeps the rate, stop bits, flow control and raw mode
    // it is given but forces eight bits without parity: those two are checked
    // on what the channel asked the device for.
    void lineSettingsReachTheDevice()
    {
        QFETCH(int, rate);
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(QString, flow);
        QFETCH(uint, frame);

        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        serial_device::LineSettings s = settings8N1(std::uint32_t(rate));
        s.dataBits = dataBits;
        s.parity = parity;
        s.stopBits = stopBits;
        s.ctsRtsFlow = flow == "rts/cts";
        s.inputXonXoff = s.outputXonXoff = flow == "xon/xoff";
        QVERIFY(channel.open(pty.path, s).ok());

        const tcflag_t frameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
        QCOMPARE(calls->attributesSet().size(), 1u);
        QCOMPARE(calls->attributesSet().front().c_cflag & frameBits, frame);

        const termios2 t = pty.attributes();
        QCOMPARE(t.c_ospeed, uint(rate));
        QCOMPARE(t.c_ispeed, uint(rate));
        QCOMPARE(t.c_cflag & (CSTOPB | PARODD | CMSPAR), frame & (CSTOPB | PARODD | CMSPAR));
        QCOMPARE((t.c_cflag & CRTSCTS) != 0, flow == "rts/cts");
        QCOMPARE(t.c_iflag & (IXON | IXOFF), flow == "xon/xoff" ? tcflag_t(IXON | IXOFF) : 0u);
        QCOMPARE(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        QCOMPARE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
        QCOMPARE(t.c_oflag & OPOST, 0u);
        QCOMPARE(t.c_cc[VMIN], 0);
        QCOMPARE(t.c_cc[VTIME], 0);
    }

    void aRateTheDeviceCannotMakeIsRefused()
    {
        Pty pty;
        const termios2 before = pty.attributes();
        auto calls = std::make_shared<FakeSerialCalls>();
        calls->rateTaken = 9600; // as a UART driver falls back for a rate beyond its clock
        SerialChannel channel(nullptr, calls);
        const auto result = channel.open(pty.path, settings8N1(3'000'000));
        QCOMPARE(result.error, OpenError::SettingsRefused);
        QVERIFY(!channel.isOpen());
        QCOMPARE(calls->log().last(), "release");
        calls->rateTaken.reset();
        QVERIFY(channel.open(pty.path, settings8N1(3'000'000)).ok());
        channel.close();
        QCOMPARE(pty.attributes().c_ospeed, before.c_ospeed);

        serial_device::LineSettings nine = settings8N1();
        nine.dataBits = 9;
        QCOMPARE(channel.open(pty.path, nine).error, OpenError::SettingsRefused);
    }

    // Two endpoints, or another program, never share a device unawares; a
    // symlink to the device is the same device.
    void aDeviceInUseIsBusyUntilReleased()
    {
        Pty pty;
        QTemporaryDir dir;
        const QString link = dir.filePath("by-id-link");
        QVERIFY(QFile::link(pty.path, link));

        SerialChannel first;
        SerialChannel second;
        QVERIFY(first.open(pty.path, settings8N1()).ok());
        auto result = second.open(link, settings8N1());
        QCOMPARE(result.error, OpenError::Busy);
        QCOMPARE(result.errorNumber, EWOULDBLOCK);
        first.close();
        QVERIFY(second.open(link, settings8N1()).ok());
        second.close();

        // Another program holding the lock.
        const int other
            = ::open(pty.path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(other >= 0);
        QCOMPARE(flock(other, LOCK_EX | LOCK_NB), 0);
        QCOMPARE(first.open(pty.path, settings8N1()).error, OpenError::Busy);
        ::close(other);
        QVERIFY(first.open(pty.path, settings8N1()).ok());
    }

    // Refused, a second endpoint (or root, past another program's exclusive
    // mode) leaves the claim it did not make to its holder.
    void aRefusedOpenLeavesTheHoldersClaimAlone()
    {
        Pty pty;
        const auto exclusive = [&] {
            int on = 0;
            return ioctl(pty.slave, TIOCGEXCL, &on) == 0 && on != 0;
        };
        SerialChannel first;
        SerialChannel second;
        QVERIFY(first.open(pty.path, settings8N1()).ok());
        QCOMPARE(second.open(pty.path, settings8N1()).error, OpenError::Busy);
        QVERIFY(exclusive());
        first.close();
        QVERIFY(!exclusive());

        QCOMPARE(ioctl(pty.slave, TIOCEXCL), 0);
        QCOMPARE(second.open(pty.path, settings8N1()).error, OpenError::Busy);
        QVERIFY(exclusive());
    }

    // Opening a device may set it going (a watchdog arms): one that is no
    // terminal is refused from its node, unopened.
    void aDeviceThatIsNoTerminalIsNeverOpened()
    {
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        QCOMPARE(channel.open("/dev/null", settings8N1()).error, OpenError::NotATerminal);
        QCOMPARE(channel.open("/dev/zero", settings8N1()).error, OpenError::NotATerminal);
        QCOMPARE(calls->log().count("open"), 0);

        // The sysfs given is what decides.
        QTemporaryDir sys;
        QVERIFY(QDir(sys.path()).mkpath("dev/char/1:3"));
        QVERIFY(QFile::link("../../../class/tty", sys.filePath("dev/char/1:3/subsystem")));
        calls->sysRoot = sys.path();
        QCOMPARE(channel.open("/dev/null", settings8N1()).errorNumber, ENOTTY);
        QCOMPARE(calls->log().count("open"), 1);
    }

    void openFailuresAreClassified()
    {
        QTemporaryDir dir;
        SerialChannel channel;
        QCOMPARE(channel.open(dir.filePath("ttyUSB9"), settings8N1()).error, OpenError::NotFound);
        QCOMPARE(channel.open(QString(), settings8N1()).error, OpenError::NotFound);
        QCOMPARE(channel.open(dir.path(), settings8N1()).error, OpenError::NotATerminal);
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QCOMPARE(channel.open(plain.fileName(), settings8N1()).error, OpenError::NotATerminal);
        // A character device that is no terminal.
        const auto null = channel.open("/dev/null", settings8N1());
        QCOMPARE(null.error, OpenError::NotATerminal);
        QCOMPARE(null.errorNumber, ENOTTY);
        QVERIFY(!channel.isOpen());

        // Root is never refused, and only root may ignore exclusive mode:
        // the system's answers are played.
        Pty pty;
        const std::pair<int, OpenError> refusals[]
            = {{EACCES, OpenError::Permission}, {EPERM, OpenError::Permission}, {EBUSY, OpenError::Busy},
                {ENXIO, OpenError::NotFound}, {EIO, OpenError::Other}};
        for (const auto &[error, expected] : refusals) {
            auto calls = std::make_shared<FakeSerialCalls>();
            calls->openError = error;
            SerialChannel played(nullptr, calls);
            const auto result = played.open(pty.path, settings8N1());
            QCOMPARE(result.error, expected);
            QCOMPARE(result.errorNumber, error);
        }
    }

    // DTR and RTS are set before anything else reaches the device, once it
    // is ours; with DTR low, closing must not touch the lines.
    void theModemLinesAreSetFirstAndCloseLeavesALowDtr()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        serial_device::LineSettings s = settings8N1();
        s.dtr = false;
        s.rts = true;
        QVERIFY(channel.open(pty.path, s).ok());
        QCOMPARE(calls->log(), QStringList({"open", "claim", "DTR off", "RTS on", "attributes"}));
        QCOMPARE(calls->attributesSet().front().c_cflag & HUPCL, 0u);
        QCOMPARE(channel.modemLines() & (SerialChannel::Dtr | SerialChannel::Rts), SerialChannel::Rts);
        channel.close();
        QCOMPARE(calls->attributesSet().size(), 2u);
        QCOMPARE(calls->attributesSet().back().c_cflag & HUPCL, 0u);

        auto high = std::make_shared<FakeSerialCalls>();
        SerialChannel other(nullptr, high);
        QVERIFY(other.open(pty.path, settings8N1()).ok());
        QCOMPARE(high->log().mid(2, 2), QStringList({"DTR on", "RTS on"}));
        QCOMPARE(high->attributesSet().front().c_cflag & HUPCL, tcflag_t(HUPCL));
    }

    void aBreakEndsFromTheEventLoop()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        QCOMPARE(channel.sendBreak(10), EBADF);
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        QCOMPARE(channel.sendBreak(20), 0);
        QCOMPARE(calls->log().last(), "break on");
        QCOMPARE(channel.sendBreak(20), EALREADY);
        QTRY_COMPARE(calls->log().last(), "break off");
        QCOMPARE(calls->log().count("break on"), 1);

        // Closed during a break: the line is released before the device.
        QCOMPARE(channel.sendBreak(60'000), 0);
        channel.close();
        const QStringList log = calls->log();
        QCOMPARE(log.count("break off"), 2);
        QVERIFY(log.lastIndexOf("break off") < log.lastIndexOf("release"));
    }

    void modemLineChangesAreReportedOnce()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        Received received(channel);
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        QVERIFY(channel.hasModemLines());
        using L = SerialChannel;
        QCOMPARE(channel.modemLines(), L::Dtr | L::Rts | L::Cts | L::Dsr);
        QTRY_COMPARE(calls->waits(), 1);

        calls->setLines(TIOCM_DTR | TIOCM_RTS | TIOCM_DSR | TIOCM_CD);
        QTRY_COMPARE(received.lines.size(), 1);
        QCOMPARE(received.lines.front(), L::Dtr | L::Rts | L::Dsr | L::Dcd);
        QTRY_COMPARE(calls->waits(), 2);
        spinLoop(50);
        QCOMPARE(received.lines.size(), 1);

        QCOMPARE(channel.setRts(false), 0);
        QCOMPARE(received.lines.last(), L::Dtr | L::Dsr | L::Dcd);
        QCOMPARE(calls->log().last(), "RTS off");
    }

    // The wait for a line change is ended by the channel, not by the device:
    // closing and destroying return, and nothing arrives after.
    void closingDuringAWaitEndsItAndDeliversNothingAfter()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        Received received(channel);
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        QTRY_COMPARE(calls->waits(), 1);
        channel.close();
        QCOMPARE(calls->waitsEnded(), 1);
        QVERIFY(calls->interrupts() >= 1);
        calls->setLines(TIOCM_CD);
        spinLoop(50);
        QVERIFY(received.lines.isEmpty());

        // A change handed over but not yet delivered when the channel goes.
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        QTRY_COMPARE(calls->waits(), 2);
        calls->setLines(TIOCM_CTS);
        QVERIFY(waitOffLoop([&] { return calls->waits() == 3; })); // the change waits in the loop
        channel.close();
        spinLoop(50);
        QVERIFY(received.lines.isEmpty());

        auto destroyed = std::make_unique<SerialChannel>(nullptr, calls);
        QVERIFY(destroyed->open(pty.path, settings8N1()).ok());
        QTRY_COMPARE(calls->waits(), 4);
        destroyed.reset();
        QCOMPARE(calls->waitsEnded(), 4);
    }

    // The system's interruption ends a blocking call with EINTR rather than
    // restarting it (or ending the process, the signal's default action).
    void theSystemsInterruptionEndsABlockingCall()
    {
        int pipeFds[2];
        QCOMPARE(::pipe2(pipeFds, O_CLOEXEC), 0);
        std::atomic<int> result = 0;
        std::atomic<bool> returned = false;
        std::thread blocked([&] {
            char c;
            result = ::read(pipeFds[0], &c, 1) < 0 ? errno : 0;
            returned = true;
        });
        const auto calls = SerialDeviceCalls::system();
        for (int i = 0; i < 2000 && !returned; ++i) {
            calls->interruptWait(blocked.native_handle());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!returned)
            (void)!::write(pipeFds[1], "x", 1); // lets the thread end before failing
        blocked.join();
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        QCOMPARE(result.load(), EINTR);
    }

    // Even a wait that ignores being interrupted does not hold close().
    void aWaitThatDoesNotEndDoesNotHoldClose()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        calls->ignoreInterrupts(true);
        auto channel = std::make_unique<SerialChannel>(nullptr, calls);
        QVERIFY(channel->open(pty.path, settings8N1()).ok());
        QTRY_COMPARE(calls->waits(), 1);
        channel.reset();
        QCOMPARE(calls->waitsEnded(), 0);
        QVERIFY(calls->interrupts() > 1);
        calls->releaseWaits();
        QTRY_COMPARE(calls->waitsEnded(), 1);
        // The thread let go of the device as it ended.
        SerialChannel again;
        QTRY_VERIFY(again.isOpen() || again.open(pty.path, settings8N1()).ok());
    }

    void aPseudoTerminalStartsNoModemLineThread()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        calls->emulateModemLines = false;
        SerialChannel channel(nullptr, calls);
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        QVERIFY(!channel.hasModemLines());
        spinLoop(20);
        QCOMPARE(calls->waits(), 0);
        QCOMPARE(channel.setDtr(false), 0);
        QCOMPARE(channel.modemLines(), SerialChannel::Rts);
    }

    void aVanishedDeviceIsReportedOnce_data()
    {
        QTest::addColumn<bool>("outputWaiting");
        QTest::newRow("idle") << false; // seen by reading alone
        QTest::newRow("output waiting") << true;
    }

    // The far end going away (an adapter unplugged) is one deviceLost with
    // what was not sent; the channel closes and does not read on.
    void aVanishedDeviceIsReportedOnce()
    {
        QFETCH(bool, outputWaiting);
        auto pty = std::make_unique<Pty>();
        QTemporaryDir dir;
        const QString link = dir.filePath("usb-Adapter-if00-port0");
        QVERIFY(QFile::link(pty->path, link));
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        Received received(channel);
        QVERIFY(channel.open(link, settings8N1()).ok());

        qint64 waiting = 0;
        if (outputWaiting) {
            // More than the terminal takes, so some stays in the queue.
            const QByteArray out = pattern(512 * 1024);
            QCOMPARE(channel.write(out), out.size());
            QTRY_VERIFY(channel.bytesToWrite() < out.size());
            spinLoop(20);
            waiting = channel.bytesToWrite();
            QVERIFY(waiting > 0);
        }

        pty.reset();
        QVERIFY(QFile::remove(link));
        QTRY_COMPARE(received.lost, 1);
        QVERIFY(!channel.isOpen());
        QCOMPARE(received.unsent, waiting);
        QCOMPARE(channel.bytesToWrite(), 0);
        QCOMPARE(currentSerialDevicePath(link), QString());

        const int readsAtLoss = calls->reads;
        spinLoop(200);
        QCOMPARE(calls->reads.load(), readsAtLoss);
        QCOMPARE(received.lost, 1);
        QCOMPARE(channel.write("more"), 0);
    }

    // Readable, yet every read comes back empty: the channel stops asking
    // for a while instead of spinning.
    void aStormOfEmptyReadsDoesNotSpin()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        Received received(channel);
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        calls->zeroReads = true;
        pty.send("x");
        QTRY_VERIFY(calls->reads > 0);

        const int before = calls->reads;
        spinLoop(2000);
        QVERIFY2(calls->reads - before < 500, qPrintable(QString::number(calls->reads - before)));
        QCOMPARE(received.lost, 0);
        QVERIFY(channel.isOpen());

        calls->zeroReads = false;
        QTRY_COMPARE(received.bytes, "x");
    }

    // A device that always has more: each wake-up reads a bounded amount,
    // and the loop gets its turn between them.
    void anEndlessStreamLeavesTheLoopItsTurn()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        int pieces = 0;
        qsizetype largest = 0;
        connect(&channel, &SerialChannel::dataReceived, this, [&](const QByteArray &piece) {
            ++pieces;
            largest = std::max(largest, piece.size());
        });
        QVERIFY(channel.open(pty.path, settings8N1()).ok());
        calls->endlessReads = true;
        pty.send("x");
        // Read on the reader's thread: the pieces come while ticks go on.
        QTRY_VERIFY(pieces >= 3);
        spinLoop(20);
        calls->endlessReads = false;
        QVERIFY(pieces > 0);
        QCOMPARE(largest, SerialChannel::ReadLimit);
    }

    // The far end never reads: the queue fills to its bound and refuses the
    // rest, the loop goes on and the channel does not retry in a loop.
    void aDeviceThatNeverDrainsDoesNotHoldTheLoop()
    {
        Pty pty;
        auto calls = std::make_shared<FakeSerialCalls>();
        SerialChannel channel(nullptr, calls);
        QVERIFY(channel.open(pty.path, settings8N1()).ok());

        const QByteArray piece = pattern(64 * 1024);
        qint64 taken = 0;
        qint64 refused = 0;
        for (int i = 0; i < 48; ++i) { // 3 MiB
            const qsizetype n = channel.write(piece);
            taken += n;
            refused += piece.size() - n;
            spinLoop(2);
        }
        QCOMPARE(taken + refused, 48 * piece.size());
        QVERIFY(refused > 0);
        QCOMPARE(channel.bytesToWrite(), SerialChannel::OutputLimit);

        const int writesBefore = calls->writes;
        spinLoop(500);
        QVERIFY2(
            calls->writes - writesBefore < 50, qPrintable(QString::number(calls->writes - writesBefore)));
        QCOMPARE(channel.bytesToWrite(), SerialChannel::OutputLimit);

        // Once the far end reads, it all goes out in order.
        const QByteArray got = pty.receive(int(taken), 30'000);
        QCOMPARE(got.size(), taken);
        QCOMPARE(got.left(piece.size()), piece);
    }

    // About 10 MB/s for half a second from the far end arrives whole, and
    // no single hand-over is larger than the per-wake bound.
    void aFloodArrivesWhole()
    {
        Pty pty;
        SerialChannel channel;
        Received received(channel);
        QVERIFY(channel.open(pty.path, settings8N1(4'000'000)).ok());

        const QByteArray flood = pattern(5 * 1024 * 1024);
        std::atomic<bool> done = false;
        std::thread sender([&] {
            qsizetype sent = 0;
            QElapsedTimer clock;
            clock.start();
            while (sent < flood.size() && clock.elapsed() < 60'000) {
                // Paced to about 10 MB/s: 10 KB per millisecond.
                const qsizetype due = std::min<qsizetype>(flood.size(), (clock.elapsed() + 1) * 10'000);
                if (sent >= due) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                const ssize_t n = ::write(pty.master, flood.constData() + sent, size_t(due - sent));
                if (n > 0) {
                    sent += n;
                } else {
                    pollfd p = {pty.master, POLLOUT, 0};
                    ::poll(&p, 1, 100);
                }
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done && received.bytes.size() == flood.size(), 90'000);
        sender.join();
        QVERIFY(received.bytes == flood);
        QVERIFY(received.largestPiece <= SerialChannel::ReadLimit);
        QCOMPARE(received.lost, 0);
    }
};

QTEST_GUILESS_MAIN(TestSerialChannel)
#include "tst_serialchannel.moc"
