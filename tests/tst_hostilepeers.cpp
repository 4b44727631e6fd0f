// Peers that misbehave, and sends that cannot finish: urgent bytes, peers
// that never read, huge sends, pipes that point back at themselves, sends
// that fail inside a repeat. Real peers on 127.0.0.1.
#include "core/hexcodec.h"
#include "core/logtexts.h"
#include "datawindow/repeatcountbox.h"
#include "net/serial/serialport.h"
#include "net/tcp/tcpsocket.h"
#include "support/datawindow_parts.h"
#include "support/endpoint_harness.h"
#include "support/loopback.h"
#include "support/loopdepth.h"
#include "support/replyrule.h"
#include "ui/stateimages.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

using namespace endpoint_test;
using namespace loopback_test;

namespace {

// About `chars` characters of text in lines of 1,000 (one long line would
// measure the send box's layout instead of the send).
QString bulkText(qint64 chars, char fill = 'x')
{
    QString text;
    text.reserve(chars + 1000);
    const QString line = QString(999, QLatin1Char(fill)) + QLatin1Char('\n');
    while (text.size() < chars)
        text += line;
    return text;
}

// What the last timedClick's probe saw.
int clickLoopLevel = 0;
int clickNestedTicks = 0;

// Milliseconds from the send button's click to the end of its repeat.
qint64 timedClick(Endpoint *endpoint)
{
    loop_test::LoopDepthProbe probe;
    QElapsedTimer clock;
    clock.start();
    probe.inside([&] { child<QPushButton>(windowOf(endpoint), "sendButton")->click(); });
    waitForRepeatsToEnd(windowOf(endpoint), 60000);
    clickLoopLevel = probe.deepest();
    clickNestedTicks = probe.firedInside();
    return clock.elapsed();
}

// Reads everything from a blocking socket on a thread of its own until the
// peer closes or `limit` bytes came, so the program's send can run meanwhile.
class Reader {
public:
    explicit Reader(int fd, qint64 limit = -1, int closeAfter = -1)
        : thread_([this, fd, limit, closeAfter] {
            char buffer[65536];
            for (;;) {
                pollfd wait{fd, POLLIN, 0};
                if (::poll(&wait, 1, 20000) != 1)
                    break;
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                std::lock_guard guard(mutex_);
                data_.append(buffer, int(n));
                if ((limit >= 0 && data_.size() >= limit) || (closeAfter >= 0 && data_.size() >= closeAfter))
                    break;
            }
            done_ = true;
        })
    {
    }
    ~Reader() { thread_.join(); }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    [[nodiscard]] bool done() const { return done_; }
    [[nodiscard]] QByteArray data()
    {
        std::lock_guard guard(mutex_);
        return data_;
    }

private:
    std::mutex mutex_;
    QByteArray data_;
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

} // namespace

class TstHostilePeers : public QObject {
    Q_OBJECT

private slots:
    // Out of descriptors, the server's window says so once, with the limit,
    // and every waiting peer gets its endpoint once descriptors are free.
    void runningOutOfDescriptorsIsToldOnceInTheServersLog()
    {
#ifdef __SANITIZE_ADDRESS__
        // The sanitizers' runtime needs a descriptor of its own to check a
        // call on an object of a type it has not met, and the window's event
        // handling meets new ones; tst_tcpsockets covers the listener itself
        // under the sanitizers.
        QSKIP("no descriptor is left for the sanitizers' runtime in this case");
#endif
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        std::vector<Fd> peers;
        for (int i = 0; i < 4; ++i)
            peers.push_back(connectTo(port));
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = tightenDescriptorLimit(saved, 0);
        QVERIFY(lowestFree >= 0);
        QTest::qWait(500);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        QCOMPARE(peerCount(server), 0);
        QTRY_COMPARE_WITH_TIMEOUT(peerCount(server), 4, 5000);
        const QString log = Harness::log(server);
        const QString told
            = QStringLiteral("接受连接失败：本程序可打开的文件描述符已用完（上限 %1）").arg(lowestFree);
        QCOMPARE(log.count(told), 1);
        QCOMPARE(log.count(QStringLiteral("接受连接失败")), 1);
    }

    void initTestCase()
    {
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
    }

    // An urgent byte is an ordinary byte of the stream: it and what follows
    // arrive in the log and the counter, without a storm of empty reads.
    void urgentByteAndWhatFollowsAreReceived()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd a = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        Endpoint *peer = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        QCOMPARE(::send(a.get(), "!", 1, MSG_OOB), 1);
        QCOMPARE(::send(a.get(), "abc", 3, 0), 3);
        QTRY_COMPARE(windowOf(peer)->receivedBytes(), 4);
        QTest::qWait(200);
        const QString log = Harness::log(peer);
        QVERIFY2(log.count(QStringLiteral("收到数据：")) <= 2, qPrintable(log.left(300)));
        QVERIFY(log.contains(QStringLiteral("abc")));
        QCOMPARE(windowOf(peer)->receivedBytes(), 4);

        // The same for a TCP Client.
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        Fd &upstream = connected.peer;
        QCOMPARE(client->state, EndpointState::Connected);
        QCOMPARE(::send(upstream.get(), "xy", 2, 0), 2);
        QCOMPARE(::send(upstream.get(), "!", 1, MSG_OOB), 1);
        QCOMPARE(::send(upstream.get(), "abc", 3, 0), 3);
        QTRY_COMPARE(windowOf(client)->receivedBytes(), 6);
        QTest::qWait(200);
        QVERIFY(Harness::log(client).count(QStringLiteral("收到数据：")) <= 3);
        QCOMPARE(windowOf(client)->receivedBytes(), 6);
    }

    // A client whose server resets is shown disconnected, and connects again.
    void resetClientIsShownDisconnected()
    {
        Harness h;
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        Fd &upstream = connected.peer;
        Fd &listener = connected.listener;
        QCOMPARE(client->state, EndpointState::Connected);
        resetAndClose(upstream);
        QTRY_COMPARE(client->state, EndpointState::Disconnected);
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Disconnected);
        QVERIFY(h.recorder.exceptions.isEmpty());
        windowOf(client)->requestStart();
        Fd again = acceptServing(listener.get());
        QTRY_COMPARE(client->state, EndpointState::Connected);
    }

    // The dialogs' defaults give this pipe: each peer the server accepts
    // opens the client, which connects to that very server.
    void pipeWhoseClientPointsAtItsOwnServerSettles()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Endpoint *client = h.tcpClient(port);
        h.form->linkDropped(nodeOf(client), nodeOf(server));
        Fd outsider = connectTo(port);
        QTRY_COMPARE(client->state, EndpointState::Connected);
        QTRY_COMPARE(peerCount(server), 2);
        // Settled: no connection is restarted over and over.
        QTest::qWait(500);
        QCOMPARE(client->state, EndpointState::Connected);
        QCOMPARE(peerCount(server), 2);
        QVERIFY(h.recorder.exceptions.isEmpty());
    }

    // Stop ends a repeat whose peer never reads, however much is left, and
    // a long pause between repetitions; the counters line then shows what
    // was sent.
    void stopEndsWaitsAndPausesAtOnce()
    {
        Harness h;
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        Fd &sleeper = connected.peer;
        QCOMPARE(client->state, EndpointState::Connected);
        fillSendBox(client, bulkText(65536), QStringLiteral("100000"), QStringLiteral("0"));
        QTimer::singleShot(
            300, windowOf(client), [&] { child<QPushButton>(windowOf(client), "stopTimerButton")->click(); });
        // Should stop fail, closing the peer ends the send all the same.
        QTimer::singleShot(30000, windowOf(client), [&] { sleeper.reset(); });
        const qint64 took = timedClick(client);
        // Well before the peer is closed at 30 s; loose, for a loaded machine.
        QVERIFY2(took < 15000, qPrintable(QString::number(took)));
        DataWindow *w = windowOf(client);
        QVERIFY(w->sentBytes() > 0);
        QVERIFY(w->sentBytes() < 70000LL * 100000);
        QVERIFY(Harness::log(client).contains(QStringLiteral("发送已停止")));
        QCOMPARE(w->countersText(), CountersLine(w->receivedBytes(), w->sentBytes()));
        // The wait for the peer ran no event loop of its own.
        QCOMPARE(clickNestedTicks, 0);
        QCOMPARE(clickLoopLevel, 0);

        DatagramReceiver receiver;
        Endpoint *udp = h.udpClient(receiver.port(), 0);
        fillSendBox(udp, QStringLiteral("ping"), QStringLiteral("3"), QStringLiteral("30000"));
        QTimer::singleShot(
            200, windowOf(udp), [&] { child<QPushButton>(windowOf(udp), "stopTimerButton")->click(); });
        const qint64 paused = timedClick(udp);
        // Well short of one pause of 30 s; loose, for a loaded machine.
        QVERIFY2(paused < 15000, qPrintable(QString::number(paused)));
        QCOMPARE(windowOf(udp)->sentBytes(), 4);
        windowOf(udp)->flushLog();
        QCOMPARE(windowOf(udp)->countersText(), CountersLine(0, 4));
        // Nor did the pause.
        QCOMPARE(clickNestedTicks, 0);
        QCOMPARE(clickLoopLevel, 0);
    }

    // A server window's send reaches the peers that read, whole, even while
    // one peer never reads; that peer's share is given up after a while and
    // the log says how much.
    void serverSendIsNotHeldUpByAPeerThatNeverReads()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd sleeper = connectTo(port);
        Fd reader = connectTo(port);
        QTRY_COMPARE(peerCount(server), 2);
        const QString text = bulkText(16 * 1024 * 1024, 'y');
        const qint64 size = SendBoxBytes(text).size();
        Reader reading(reader.get(), size);
        fillSendBox(server, text, QStringLiteral("1"), QStringLiteral("0"));
        QTimer::singleShot(60000, windowOf(server), [&] { sleeper.reset(); });
        const qint64 took = timedClick(server);
        // Well before the sleeper is closed at 60 s; loose, for a loaded
        // machine (the sleeper is given up after 3 s without progress).
        QVERIFY2(took < 40000, qPrintable(QString::number(took)));
        QTRY_VERIFY(reading.done());
        QCOMPARE(reading.data().size(), size);
        QVERIFY(Harness::log(server).contains(QStringLiteral("发送超时：对方未接收数据")));
        QCOMPARE(clickNestedTicks, 0);
        QCOMPARE(clickLoopLevel, 0);
        // Everything the reader got, and no more than the other could hold.
        QVERIFY(windowOf(server)->sentBytes() >= size);
        QVERIFY(windowOf(server)->sentBytes() < 2 * size);
    }

    // Automatic replies to peers that never read wait on their connections,
    // never in an event loop nested inside another peer's reply: a crowd of
    // such peers costs no stack (a thousand overflowed it), a peer that reads
    // gets its reply whole meanwhile, and each stalled peer is given up with
    // one line saying how much it did not take.
    void repliesToPeersThatNeverReadWaitOnTheirConnections()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        // More than a connection's send buffer grows to (4 MB by default).
        const QString reply(6 * 1024 * 1024, QLatin1Char('r'));
        answerBy(h, server, {rule(MatchType::Contains, QStringLiteral("q"), reply)});

        // Where the event loop runs its timers: a nested loop runs them
        // deeper down the stack.
        quintptr deepest = ~quintptr(0);
        quintptr shallowest = 0;
        QTimer probe;
        probe.setInterval(1);
        connect(&probe, &QTimer::timeout, this, [&] {
            const auto here = quintptr(__builtin_frame_address(0));
            deepest = std::min(deepest, here);
            shallowest = std::max(shallowest, here);
        });
        probe.start();

        constexpr int Sleepers = 20;
        std::vector<Fd> sleepers;
        for (int i = 0; i < Sleepers; ++i) {
            sleepers.push_back(connectWithSmallReceiveBuffer(port));
            QCOMPARE(::send(sleepers.back().get(), "q", 1, MSG_NOSIGNAL), ssize_t(1));
            QTest::qWait(1);
        }
        QTRY_COMPARE(peerCount(server), Sleepers);
        Fd reader = connectTo(port);
        Reader reading(reader.get(), reply.size());
        QCOMPARE(::send(reader.get(), "q", 1, MSG_NOSIGNAL), ssize_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(reading.done(), 20000);
        QCOMPARE(reading.data(), reply.toLatin1());

        const QList<Endpoint *> peers = h.endpoints(EndpointKind::TcpAcceptedPeer);
        QCOMPARE(peers.size(), Sleepers + 1);
        const auto givenUp = [&] {
            int count = 0;
            for (Endpoint *peer : peers)
                count += Harness::log(peer).count(QStringLiteral("发送超时：对方未接收数据"));
            return count;
        };
        QTRY_COMPARE_WITH_TIMEOUT(givenUp(), Sleepers, 30000);
        probe.stop();
        // Twenty replies nested one in another took over 150 KB of stack.
        QVERIFY2(shallowest - deepest < 64 * 1024, qPrintable(QString::number(shallowest - deepest)));
        for (Endpoint *peer : peers)
            QVERIFY(windowOf(peer)->sentBytes() <= reply.size());
        QCOMPARE(windowOf(peers.last())->sentBytes(), reply.size());
    }

    // A crowd of peers that never read is answered within the program's
    // total for waiting output, not within a bound per peer times the crowd:
    // past the total a new reply is refused, and each peer's log says so
    // once. (The total comes from the environment, read once at start.)
    void repliesToACrowdThatNeverReadsWaitWithinTheProgramsTotal()
    {
        qputenv("PORTWRIGHT_OUTPUT_BUDGET_MB", "16");
        Harness h;
        qunsetenv("PORTWRIGHT_OUTPUT_BUDGET_MB");
        const qint64 budget = 16 * 1024 * 1024;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        // More than a connection's send buffer grows to, so most of each
        // reply waits.
        const qint64 replySize = 6 * 1024 * 1024;
        answerBy(h, server,
            {rule(MatchType::Contains, QStringLiteral("q"), QString(replySize, QLatin1Char('r')))});
        constexpr int Peers = 6;
        constexpr int Asks = 3;
        std::vector<Fd> sleepers;
        for (int i = 0; i < Peers; ++i)
            sleepers.push_back(connectWithSmallReceiveBuffer(port));
        QTRY_COMPARE(peerCount(server), Peers);
        const QList<Endpoint *> peers = h.endpoints(EndpointKind::TcpAcceptedPeer);
        for (int ask = 0; ask < Asks; ++ask) {
            for (const Fd &sleeper : sleepers)
                QCOMPARE(::send(sleeper.get(), "q", 1, MSG_NOSIGNAL), ssize_t(1));
            for (Endpoint *peer : peers)
                QTRY_COMPARE(windowOf(peer)->receivedBytes(), qint64(ask + 1));
        }
        const QString answered = QStringLiteral("（共 %1 字节）").arg(replySize);
        const QString refused = QStringLiteral("全部连接等待发送的数据已达上限，新的应答将被丢弃");
        qint64 waiting = 0;
        int refusedPeers = 0;
        for (Endpoint *peer : peers) {
            const QString log = Harness::log(peer);
            waiting += log.count(answered) * replySize - windowOf(peer)->sentBytes();
            QVERIFY(log.count(refused) <= 1);
            refusedPeers += log.count(refused);
        }
        QVERIFY2(waiting <= budget, qPrintable(QString::number(waiting)));
        QVERIFY(refusedPeers > 0);
    }

    // What every peer's log keeps, shown or not, is held to one total for
    // the program: past it the logs of the peers that sent least recently
    // give up their oldest entries, while the counters keep every byte and
    // the peer that sent last keeps its newest.
    void peersLogsKeepWithinTheProgramsTotal()
    {
        qputenv("PORTWRIGHT_LOG_BUDGET_MB", "4");
        Harness h;
        qunsetenv("PORTWRIGHT_LOG_BUDGET_MB");
        const qsizetype budget = 4 * 1024 * 1024;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        constexpr int Peers = 6;
        const qint64 each = 2 * 1024 * 1024;
        std::vector<Fd> senders;
        for (int i = 0; i < Peers; ++i)
            senders.push_back(connectTo(port, true));
        QTRY_COMPARE(peerCount(server), Peers);
        const QList<Endpoint *> peers = h.endpoints(EndpointKind::TcpAcceptedPeer);
        for (int i = 0; i < Peers; ++i) {
            const QByteArray data(each, char('a' + i));
            for (qint64 sent = 0; sent < each;) {
                const ssize_t n
                    = ::send(senders[i].get(), data.constData() + sent, size_t(each - sent), MSG_NOSIGNAL);
                QVERIFY(n > 0 || errno == EAGAIN);
                sent += std::max<ssize_t>(n, 0);
                QTest::qWait(n > 0 ? 0 : 1);
            }
            QTRY_COMPARE(windowOf(peers[i])->receivedBytes(), each);
        }
        qsizetype kept = 0;
        for (Endpoint *peer : peers) {
            windowOf(peer)->flushLog();
            kept += child<LogView>(windowOf(peer), "log")->keptBytesCount();
        }
        QVERIFY2(kept <= budget, qPrintable(QString::number(kept)));
        QVERIFY(Harness::log(peers.last()).endsWith(QLatin1Char(char('a' + Peers - 1))));
    }

    // A send larger than the socket takes at once goes out whole, byte for
    // byte; a connection that goes away halfway is noted with what was lost,
    // and only what the socket took is counted.
    void largeSendGoesOutWholeOrSaysWhatWasNotSent()
    {
        Harness h;
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        Fd &upstream = connected.peer;
        QCOMPARE(client->state, EndpointState::Connected);

        QString text = bulkText(10 * 1024 * 1024);
        // Every line different, so a piece sent twice or skipped shows.
        for (qsizetype at = 0, n = 0; at < text.size(); at += 1000, ++n)
            text.replace(at, 8, QString::number(n).rightJustified(8, QLatin1Char('0')));
        const QByteArray expected = SendBoxBytes(text);
        {
            Reader reading(upstream.get(), expected.size());
            fillSendBox(client, text, QStringLiteral("1"), QStringLiteral("0"));
            timedClick(client);
            QTRY_VERIFY(reading.done());
            QVERIFY(reading.data() == expected);
        }
        QCOMPARE(windowOf(client)->sentBytes(), expected.size());

        {
            // Small queues on both sides, so that most of the send is still
            // the program's when the peer goes, however much a loopback
            // connection would queue in the kernel otherwise.
            const int queue = 64 * 1024;
            setReceiveQueue(upstream.get(), queue);
            const int sending = client->tcpClient()->connection()->socketHandle();
            ::setsockopt(sending, SOL_SOCKET, SO_SNDBUF, &queue, sizeof queue);
            Reader reading(upstream.get(), -1, 1024 * 1024);
            // As soon as the send is under way (it goes on from the event
            // loop, and the buffers of a loopback connection take most of it
            // in a moment).
            QTimer::singleShot(0, windowOf(client), [&] {
                // The peer stops reading after a megabyte and goes away.
                QTRY_VERIFY(reading.done());
                resetAndClose(upstream);
            });
            fillSendBox(client, text, QStringLiteral("1"), QStringLiteral("0"));
            timedClick(client);
        }
        const QString log = Harness::log(client);
        QVERIFY2(log.contains(QStringLiteral("字节未发出")), qPrintable(log.right(300)));
        QVERIFY(windowOf(client)->sentBytes() < 2 * expected.size());
    }

    // Timed sending to a peer that does not read waits for it as state, not
    // in an event loop inside the tick: the ticks meanwhile are skipped, stop
    // ends the wait with a note of what was not sent, and an endpoint removed
    // while its send waits is left alone afterwards.
    void timedSendingWaitsForAPeerThatDoesNotRead()
    {
        Harness h;
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        QCOMPARE(client->state, EndpointState::Connected);
        QPointer<DataWindow> w(windowOf(client));
        // More than the connection's buffers take.
        fillSendBox(client, bulkText(16 * 1024 * 1024), QStringLiteral("1"), QStringLiteral("20"));
        QTimer *timer = timedSendingTimer(w);
        int ticks = 0;
        connect(timer, &QTimer::timeout, this, [&] { ++ticks; });
        loop_test::LoopDepthProbe probe;
        probe.watch(timer);
        // Should a tick wait inside itself, this ends the wait all the same.
        QTimer::singleShot(10000, w, [&] { child<QPushButton>(w, "stopTimerButton")->click(); });
        child<QPushButton>(w, "startTimerButton")->click();
        QTRY_VERIFY(ticks >= 5);
        QVERIFY(w->session()->isRepeating());
        child<QPushButton>(w, "stopTimerButton")->click();
        QVERIFY(!w->session()->isRepeating());
        QVERIFY(Harness::log(client).contains(QStringLiteral("发送已停止")));
        QCOMPARE(probe.firedInside(), 0);
        QCOMPARE(probe.deepest(), 0);

        child<QPushButton>(w, "startTimerButton")->click();
        QTRY_VERIFY(w->session()->isRepeating());
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(client));
        h.form->deleteSelected();
        QVERIFY(!h.listed(client));
        QTRY_VERIFY(!w);
        QCOMPARE(h.recorder.messages + h.recorder.exceptions, QStringList());
    }

    // A send made while another still waits for room on the same connection
    // (a click or a tick in the meantime) does not put its bytes into the
    // middle of the other's: it is refused with a log line.
    void sendsDoNotInterleaveOnOneConnection()
    {
        Harness h;
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        Fd &upstream = connected.peer;
        QCOMPARE(client->state, EndpointState::Connected);
        const QString first = bulkText(8 * 1024 * 1024, 'a');
        const QByteArray expected = SendBoxBytes(first);
        std::unique_ptr<Reader> reading;
        QTimer::singleShot(200, windowOf(client), [&] {
            fillSendBox(client, bulkText(100000, 'b'), QStringLiteral("1"), QStringLiteral("0"));
            child<QPushButton>(windowOf(client), "sendButton")->click();
            reading = std::make_unique<Reader>(upstream.get(), expected.size());
        });
        fillSendBox(client, first, QStringLiteral("1"), QStringLiteral("0"));
        timedClick(client);
        QVERIFY(reading);
        QTRY_VERIFY(reading->done());
        QVERIFY(reading->data() == expected);
        QVERIFY(Harness::log(client).contains(QStringLiteral("上一次发送尚未完成")));
        QCOMPARE(windowOf(client)->sentBytes(), expected.size());
    }

    // A send that raises an error inside a repeat ends the repeat, and timed
    // sending stops: the error is shown once, not once per repetition.
    void failingSendEndsItsRepeatAndTimedSending()
    {
        Harness h;
        DatagramReceiver receiver;
        Endpoint *udp = h.udpClient(receiver.port(), 0);
        // Larger than any datagram: the component refuses it.
        const QString tooLarge = bulkText(70000, 'z');
        fillSendBox(udp, tooLarge, QStringLiteral("100"), QStringLiteral("0"));
        timedClick(udp);
        QCOMPARE(h.recorder.exceptions.size(), 1);
        windowOf(udp)->flushLog();
        QCOMPARE(windowOf(udp)->countersText(), CountersLine(0, 0));

        fillSendBox(udp, tooLarge, QStringLiteral("1"), QStringLiteral("10"));
        child<QPushButton>(windowOf(udp), "startTimerButton")->click();
        QTRY_COMPARE(h.recorder.exceptions.size(), 2);
        QTest::qWait(200);
        QCOMPARE(h.recorder.exceptions.size(), 2);
        QVERIFY(!timedSendingTimer(windowOf(udp))->isActive());
    }

    // A repeat to a host name waits for the lookup as state, not in an event
    // loop inside the click: its datagrams go out in order once the name is
    // known, and each is counted.
    void repeatToAHostNameWaitsForTheLookupWithoutALoop()
    {
        Harness h;
        DatagramReceiver receiver;
        Endpoint *udp = h.udpClient(receiver.port(), 0, QStringLiteral("localhost"));
        QVERIFY(udp);
        fillSendBox(udp, QStringLiteral("named"), QStringLiteral("3"), QStringLiteral("0"));
        timedClick(udp);
        QCOMPARE(clickNestedTicks, 0);
        QCOMPARE(clickLoopLevel, 0);
        QTRY_COMPARE(receiver.collect(), 3);
        QCOMPARE(receiver.received, QList<QByteArray>({"named", "named", "named"}));
        QCOMPARE(windowOf(udp)->sentBytes(), 15);
        QCOMPARE(h.recorder.messages + h.recorder.exceptions, QStringList());
    }

    // An automatic reply to a host name that does not resolve fails as any
    // failed reply does: the error is shown once and automatic replies go
    // off, so the next piece does not fail again (inside a private network
    // namespace only: there the name cannot reach a resolver).
    void replyToANameThatDoesNotResolveSwitchesRepliesOff()
    {
        if (!insideNamespace())
            QSKIP("needs a private network namespace (tests/netns-run)");
        Harness h;
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        const int port = unusedUdpPort();
        Endpoint *udp = h.udpClient(9, port, QString(200, QLatin1Char('a')) + QStringLiteral(".invalid"));
        QVERIFY(udp);
        answerBy(h, udp, {rule(MatchType::Contains, QStringLiteral("q"), QStringLiteral("answer"))});
        DatagramReceiver asker;
        asker.sendTo(port, "q");
        QTRY_VERIFY(!windowOf(udp)->session()->isAutoReplyOn());
        QCOMPARE(h.recorder.exceptions, QStringList{QStringLiteral("Host Lookup Canceled")});
        QVERIFY(Harness::log(udp).contains(QStringLiteral("自动应答已关闭：发送失败")));
        asker.sendTo(port, "q");
        QTRY_VERIFY(Harness::log(udp).count(QStringLiteral("收到数据")) == 2);
        QCOMPARE(h.recorder.exceptions.size(), 1);
    }

    // The same for a multicast member, whose failed send shows its boxes
    // (inside a private network namespace only).
    void failingGroupSendShowsItsBoxesOnce()
    {
        if (!insideNamespace())
            QSKIP("needs a private network namespace (tests/netns-run)");
        Harness h;
        Endpoint *group = h.udpGroup(QStringLiteral("224.1.1.1"), unusedUdpPort());
        QVERIFY(group);
        h.recorder.messages.clear();
        const QString tooLarge = bulkText(70000, 'z');
        fillSendBox(group, tooLarge, QStringLiteral("100"), QStringLiteral("0"));
        timedClick(group);
        const int boxes = int(h.recorder.messages.size());
        QVERIFY(boxes > 0 && boxes <= 3);

        fillSendBox(group, tooLarge, QStringLiteral("1"), QStringLiteral("10"));
        child<QPushButton>(windowOf(group), "startTimerButton")->click();
        QTRY_COMPARE(h.recorder.messages.size(), 2 * boxes);
        QTest::qWait(200);
        QCOMPARE(h.recorder.messages.size(), 2 * boxes);
        QVERIFY(!timedSendingTimer(windowOf(group))->isActive());
    }
};

QTEST_MAIN(TstHostilePeers)
#include "tst_hostilepeers.moc"
