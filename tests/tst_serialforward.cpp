// Datagrams forwarded to the serial port from a data window, with "com1" a
// real pseudo-terminal whose far end (the master) the test reads or leaves
// unread. No test ever resolves a name to /dev/ttyS*.

#include "datawindow/datawindow.h"
#include "endpoints/serialbridge.h"
#include "net/serial/serialport.h"
#include "support/datawindow_parts.h"
#include "ui/logview.h"

#include <QPointer>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

const QString kOverflowLine = QStringLiteral("串口发送缓冲区已满，已丢弃");
constexpr qsizetype kDatagramSize = 2048;
// Enough to fill the terminal's own buffer and the port's write queue many
// times over.
constexpr int kMaxDatagrams = 400;
constexpr int kFeedLimitMs = 20000;

// A pseudo-terminal that the program opens as "com1" while this object exists.
class PtyAsCom1 {
public:
    PtyAsCom1()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        const QString slave = QString::fromLocal8Bit(ptsname(master_));
        previous_ = SerialPort::setDevicePathResolver([slave](const QString &name) {
            return name.compare(QStringLiteral("com1"), Qt::CaseInsensitive) == 0
                ? slave
                : QStringLiteral("/nonexistent");
        });
        ready_ = true;
    }
    ~PtyAsCom1()
    {
        SerialPort::setDevicePathResolver(std::move(previous_));
        if (master_ >= 0)
            ::close(master_);
    }
    PtyAsCom1(const PtyAsCom1 &) = delete;
    PtyAsCom1 &operator=(const PtyAsCom1 &) = delete;

    [[nodiscard]] bool ready() const { return ready_; }

    // What the far end has received, until `expected` bytes or the wait ends.
    [[nodiscard]] QByteArray receive(qsizetype expected, int waitMs = 10000) const
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < expected && clock.elapsed() < waitMs) {
            char buf[8192];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
            else
                QTest::qWait(5);
        }
        return got;
    }

private:
    int master_ = -1;
    SerialPort::DevicePathResolver previous_;
    bool ready_ = false;
};

// The bridge a UDP Server sets up, noting into the window; nullptr when
// "com1" did not open.
std::unique_ptr<SerialBridge> openBridge(DataWindow &w)
{
    auto bridge = std::make_unique<SerialBridge>(w.session(), nullptr);
    return bridge->open() ? std::move(bridge) : nullptr;
}

QByteArray datagram(int index, qsizetype size = kDatagramSize)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((index * 131 + i) % 251);
    return bytes;
}

QStringList overflowLines(DataWindow &w)
{
    w.flushLog();
    QStringList found;
    for (const QString &line : child<LogView>(w, "log")->toPlainText().split(QLatin1Char('\n')))
        if (line.contains(kOverflowLine))
            found << line;
    return found;
}

// The bytes the line dropped, read back from its text.
qsizetype droppedIn(const QString &line)
{
    static const QRegularExpression form(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d 串口发送缓冲区已满，已丢弃 (\\d+) 字节$"));
    const QRegularExpressionMatch match = form.match(line);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// How a feed of datagrams into a line nobody reads went.
struct Feed {
    QByteArray accepted; // what should reach the far end, in order
    qint64 callsNs = 0; // inside the forwards, all together
    qint64 stalledMs = 0; // the event loop's stalls, all together
    qint64 elapsedMs = 0;
    int datagrams = 0;
};

// A forward that waits for the device holds the window for about a second
// (the port's write time-outs) every time, tens of seconds over a feed; the
// bound on the sums is seconds, far above what a loaded machine adds to
// forwards that return at once.
constexpr qint64 kFeedHoldUpLimitMs = 3000;

// Forwards 2 KB datagrams, letting the event loop run between them, until
// the log reports an overflow and `afterOverflow` more went in, or the bounds
// end it. A 10 ms timer measures how long the event loop was held up: a tick
// that comes over 100 ms late counts as a stall.
Feed feedUntilOverflow(SerialBridge &bridge, DataWindow &w, int firstIndex, int afterOverflow)
{
    Feed feed;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        if (gap > 110)
            feed.stalledMs += gap;
    });
    ticker.start(10);
    const qsizetype linesBefore = overflowLines(w).size();
    int overflowAt = -1;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kMaxDatagrams && clock.elapsed() < kFeedLimitMs; ++i) {
        const QByteArray bytes = datagram(firstIndex + i);
        QElapsedTimer call;
        call.start();
        bridge.forwardToSerial(bytes);
        feed.callsNs += call.nsecsElapsed();
        ++feed.datagrams;
        const QStringList lines = overflowLines(w);
        if (overflowAt < 0 && lines.size() > linesBefore) {
            overflowAt = i;
            feed.accepted += bytes.left(bytes.size() - droppedIn(lines.last()));
        } else if (overflowAt < 0) {
            feed.accepted += bytes;
        }
        if (overflowAt >= 0 && i - overflowAt >= afterOverflow)
            break;
        QTest::qWait(2);
    }
    feed.elapsedMs = clock.elapsed();
    ticker.stop();
    return feed;
}

} // namespace

class TstSerialForward : public QObject {
    Q_OBJECT

private slots:
    // A line that nobody reads fills; the window stays responsive, the excess
    // is dropped with one log line per episode, and what was queued arrives
    // in order once the far end reads.
    void forwardingIntoAStalledLineDropsWithoutFreezing()
    {
        PtyAsCom1 pty;
        QVERIFY(pty.ready());
        DataWindow w;
        const auto bridge = openBridge(w);
        QVERIFY(bridge);

        const Feed first = feedUntilOverflow(*bridge, w, 0, 20);
        qInfo("first episode: %d datagrams in %lld ms, forwards %lld ms in all, event loop stalled %lld ms",
            first.datagrams, first.elapsedMs, first.callsNs / 1'000'000, first.stalledMs);
        QVERIFY2(first.callsNs < kFeedHoldUpLimitMs * 1'000'000,
            qPrintable(QStringLiteral("the forwards took %1 ms").arg(first.callsNs / 1'000'000)));
        QVERIFY2(first.stalledMs < kFeedHoldUpLimitMs,
            qPrintable(QStringLiteral("the event loop stood still for %1 ms").arg(first.stalledMs)));
        QStringList lines = overflowLines(w);
        QCOMPARE(lines.size(), 1);
        const qsizetype dropped = droppedIn(lines.first());
        QVERIFY2(dropped > 0 && dropped <= kDatagramSize, qPrintable(lines.first()));
        QCOMPARE(bridge->port().queuedForWriting(), SerialPort::WriteQueueCapacity);

        // Reading drains the queue: every queued byte arrives once, in order,
        // and nothing of the datagrams dropped whole follows.
        QByteArray got = pty.receive(first.accepted.size());
        QCOMPARE(got.size(), first.accepted.size());
        QVERIFY(got == first.accepted);
        QTRY_COMPARE(bridge->port().queuedForWriting(), 0);
        QVERIFY(pty.receive(1, 200).isEmpty());

        // A datagram that fits ends the episode and goes out.
        const QByteArray fits = datagram(9999, 100);
        bridge->forwardToSerial(fits);
        QVERIFY(pty.receive(fits.size()) == fits);
        QCOMPARE(overflowLines(w).size(), 1);

        // So the next overflow is a new episode with a line of its own.
        const Feed second = feedUntilOverflow(*bridge, w, 1000, 3);
        QVERIFY2(second.callsNs < kFeedHoldUpLimitMs * 1'000'000,
            qPrintable(QStringLiteral("the forwards took %1 ms").arg(second.callsNs / 1'000'000)));
        lines = overflowLines(w);
        QCOMPARE(lines.size(), 2);
        QVERIFY(droppedIn(lines.last()) > 0);
    }

    // Closing the port or destroying the bridge (its endpoint goes) while the
    // queue is full and the device takes nothing returns at once and leaves no
    // thread behind.
    void fullQueueDoesNotHoldUpCloseOrDestruction()
    {
        PtyAsCom1 pty;
        QVERIFY(pty.ready());
        for (const bool destroy : {false, true}) {
            DataWindow w;
            auto bridge = openBridge(w);
            QVERIFY(bridge);
            (void)feedUntilOverflow(*bridge, w, 0, 2);
            QCOMPARE(bridge->port().queuedForWriting(), SerialPort::WriteQueueCapacity);
            // A close that waited for the queue to go out would wait this
            // long, well past the bound below, before giving up.
            bridge->port().queues().setOutputTimeout(30000);
            QElapsedTimer clock;
            clock.start();
            if (destroy) {
                bridge.reset();
            } else {
                bridge->close();
                QVERIFY(!bridge->port().isOpen());
            }
            qInfo("%s with a full queue took %lld ms", destroy ? "destroying the bridge" : "closing the port",
                clock.elapsed());
            // Returns at once; seconds only for a loaded machine.
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            (void)pty.receive(1 << 20, 300); // empty the terminal for the next round
        }
    }
};

QTEST_MAIN(TstSerialForward)
#include "tst_serialforward.moc"
