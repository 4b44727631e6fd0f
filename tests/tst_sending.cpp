// Sending and receiving through every kind of endpoint, with real peers on
// 127.0.0.1 (multicast only inside a private network namespace).
#include "core/replyrules.h"
#include "datawindow/datawindow.h"
#include "datawindow/repeatcountbox.h"
#include "datawindow/replyrulesdialog.h"
#include "datawindow/sendpanel.h"
#include "endpoints/serialbridge.h"
#include "endpoints/webreply.h"
#include "net/serial/serialport.h"
#include "support/contextmenu.h"
#include "support/datawindow_parts.h"
#include "support/endpoint_harness.h"
#include "support/loopback.h"
#include "support/replyrule.h"
#include "ui/messages.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>

using namespace endpoint_test;
using namespace loopback_test;

namespace {

// A plain datagram socket on 127.0.0.1 that collects what reaches it.
using UdpPeer = DatagramReceiver;

void send(Endpoint *endpoint, const QString &text, const QString &count = "1", const QString &interval = "0")
{
    DataWindow *w = windowOf(endpoint);
    child<SendEdit>(w, "sendEdit")->setPlainText(text);
    child<RepeatCountBox>(w, "repeatCountBox")->setEditText(count);
    child<QLineEdit>(w, "intervalEdit")->setText(interval);
    child<QPushButton>(w, "sendButton")->click();
    waitForRepeatsToEnd(w);
}

// Reads from any descriptor until `count` bytes came or the time is up,
// keeping the event loop running meanwhile.
QByteArray readServing(int fd, qsizetype count, int timeoutMs = 5000)
{
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (got.size() < count && !deadline.hasExpired()) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 0) == 1) {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        } else {
            QTest::qWait(2);
        }
    }
    return got;
}

// A pseudo-terminal whose far end the program opens as "com1" while this
// object exists.
class PtyAsCom1 {
public:
    PtyAsCom1()
        : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (master_.get() < 0 || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0)
            return;
        const QString slave = QString::fromLocal8Bit(::ptsname(master_.get()));
        previous_ = SerialPort::setDevicePathResolver([slave](const QString &name) {
            return name.compare(QStringLiteral("com1"), Qt::CaseInsensitive) == 0 ? slave : name;
        });
        ready_ = true;
    }
    ~PtyAsCom1() { SerialPort::setDevicePathResolver(previous_); }
    PtyAsCom1(const PtyAsCom1 &) = delete;
    PtyAsCom1 &operator=(const PtyAsCom1 &) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] int master() const { return master_.get(); }

private:
    Fd master_;
    SerialPort::DevicePathResolver previous_;
    bool ready_ = false;
};

// Picks "发送文件..." in the send box's context menu, as a user does; the
// file chooser, when asked, gives `path`.
void sendFileFromMenu(Endpoint *endpoint, const QString &path, bool asked = true)
{
    FileChoiceScript files;
    files.answers.push_back(path);
    chooseFromContextMenu(*child<SendEdit>(windowOf(endpoint), "sendEdit"), QStringLiteral("发送文件..."));
    QCOMPARE(files.answers.size(), size_t(asked ? 0 : 1));
}

// A file of `size` bytes whose content depends on every position.
QString makeFile(const QTemporaryDir &dir, const QString &name, qint64 size)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray block(64 * 1024, 0);
    for (qint64 at = 0; at < size; at += block.size()) {
        for (int i = 0; i < block.size(); ++i)
            block[i] = char((at + i) * 131 / 7);
        file.write(block.constData(), std::min<qint64>(block.size(), size - at));
    }
    return file.fileName();
}

} // namespace

class TstSending : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No UDP Server made here reaches a real serial port; tests of the
        // bridge map "com1" to a pseudo-terminal of their own.
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
    }

    void sendLogLineRepeatsAndCounters()
    {
        Harness h;
        UdpPeer peer;
        Endpoint *client = h.udpClient(peer.port(), 0);
        QVERIFY(client);
        send(client, "abc");
        QTRY_COMPARE(peer.collect(), 1);
        QCOMPARE(peer.received.first(), QByteArray("abc"));
        QVERIFY(Harness::log(client).endsWith(QStringLiteral(" 发送数据：abc[1次]")));
        QVERIFY(child<SendEdit>(windowOf(client), "sendEdit")->toPlainText().isEmpty());
        QCOMPARE(windowOf(client)->sentBytes(), 3);
        QCOMPARE(windowOf(client)->countersText(), QStringLiteral("收：0字节，发:3字节"));

        send(client, "xy", "10", "2");
        QTRY_COMPARE(peer.collect(), 11);
        QCOMPARE(windowOf(client)->sentBytes(), 23);
        QVERIFY(Harness::log(client).endsWith(QStringLiteral(" 发送数据：xy[10次]")));
        QCOMPARE(Harness::log(client).count(QLatin1Char('\n')), 1); // one line per click

        send(client, "zz", "0");
        QVERIFY(Harness::log(client).endsWith(QStringLiteral(" 发送数据：zz[0次]")));
        QVERIFY(child<SendEdit>(windowOf(client), "sendEdit")->toPlainText().isEmpty());
        QCOMPARE(windowOf(client)->sentBytes(), 23);

        send(client, "q", "03");
        QVERIFY(Harness::log(client).endsWith(QStringLiteral("[03次]")));
        QTRY_COMPARE(peer.collect(), 14);
    }

    void hexModeAndLineBreaksSendTheBytesTheyStandFor()
    {
        Harness h;
        UdpPeer peer;
        Endpoint *client = h.udpClient(peer.port(), 0);
        send(client, "a\nb");
        QTRY_COMPARE(peer.collect(), 1);
        QCOMPARE(peer.received[0], QByteArray("a\r\nb"));

        child<QCheckBox>(windowOf(client), "hexSwitch")->setChecked(true);
        send(client, "41 42");
        QTRY_COMPARE(peer.collect(), 2);
        QCOMPARE(peer.received[1], QByteArray("\x41\x04"));
        QVERIFY(Harness::log(client).endsWith(QStringLiteral(" 发送数据：A\x04{41 04 }[1次]")));

        // Fewer than two digits: nothing at all happens.
        const QString before = Harness::log(client);
        send(client, "4");
        QCOMPARE(child<SendEdit>(windowOf(client), "sendEdit")->toPlainText(), QStringLiteral("4"));
        QCOMPARE(Harness::log(client), before);
    }

    void repeatCountThatIsNoNumberSendsNothing()
    {
        Harness h;
        UdpPeer peer;
        Endpoint *client = h.udpClient(peer.port(), 0);
        send(client, "data", "abc");
        QCOMPARE(h.recorder.exceptions, QStringList{"'abc' is not a valid integer value"});
        QVERIFY(Harness::log(client).endsWith(QStringLiteral(" 发送数据：data[abc次]")));
        QVERIFY(child<SendEdit>(windowOf(client), "sendEdit")->toPlainText().isEmpty());
        QCOMPARE(windowOf(client)->sentBytes(), 0);
        QTest::qWait(50);
        QCOMPARE(peer.collect(), 0);

        // A bad interval: the first sending is done and counted, then it ends.
        send(client, "data", "5", "x");
        QCOMPARE(h.recorder.exceptions.last(), QStringLiteral("'x' is not a valid integer value"));
        QTRY_COMPARE(peer.collect(), 1);
        QCOMPARE(windowOf(client)->sentBytes(), 4);
    }

    void tcpSendToAPeerThatHasGoneEndsWithALogLine()
    {
        Harness h;
        Fd listener = listenOnLoopback();
        Endpoint *client = h.tcpClient(localPort(listener.get()));
        windowOf(client)->requestStart();
        QTRY_COMPARE(client->state, EndpointState::Connected);
        Fd peer = acceptWithin(listener.get());
        send(client, "ping");
        QCOMPARE(readWithin(peer.get()), QByteArray("ping"));
        peer.reset();
        QTRY_COMPARE(client->state, EndpointState::Disconnected);
        send(client, "lost", "3");
        const QString log = Harness::log(client);
        QCOMPARE(log.count(QStringLiteral("发送失败：连接已断开")), 3);
        // Only what the connection took counts.
        QCOMPARE(windowOf(client)->sentBytes(), 4);
    }

    void deletingTheEndpointDuringALongRepeat()
    {
        Harness h;
        UdpPeer peer;
        Endpoint *client = h.udpClient(peer.port(), 0);
        QPointer<DataWindow> window(windowOf(client));
        QTimer::singleShot(150, h.form.get(), [&] {
            child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(client));
            h.form->deleteSelected();
        });
        send(client, "tick", "1000", "10");
        QVERIFY(!h.listed(client));
        QTRY_VERIFY(!window);
        const int got = peer.collect();
        QVERIFY2(got > 0 && got < 1000, qPrintable(QString::number(got)));
    }

    void stopTimedSendEndsARepeat()
    {
        Harness h;
        UdpPeer peer;
        Endpoint *client = h.udpClient(peer.port(), 0);
        QTimer::singleShot(
            100, windowOf(client), [&] { child<QPushButton>(windowOf(client), "stopTimerButton")->click(); });
        send(client, "r", "1000", "10");
        QTest::qWait(50);
        const int got = peer.collect();
        QVERIFY2(got > 0 && got < 1000, qPrintable(QString::number(got)));
        QCOMPARE(windowOf(client)->sentBytes(), got);
    }

    void udpServerRepliesToTheLatestSender()
    {
        Harness h;
        UdpPeer first, second;
        const int port = unusedUdpPort();
        Endpoint *server = h.udpServer(port);
        QVERIFY(server);
        child<QCheckBox>(windowOf(server), "hexSwitch")->setChecked(true);

        // Before any datagram the component refuses to send.
        send(server, "early");
        QCOMPARE(h.recorder.exceptions.size(), 1);

        first.sendTo(port, QByteArray("\x00\x01\x02\x03", 4));
        QTRY_COMPARE(server->peerPort, first.port());
        QCOMPARE(server->peerAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(child<QLabel>(windowOf(server), "peerPortLabel")->text(),
            QStringLiteral("对方端口:%1").arg(first.port()));
        QVERIFY(Harness::log(server).endsWith(QStringLiteral("{00 01 02 03 }")));
        QCOMPARE(windowOf(server)->receivedBytes(), 4);
        child<QCheckBox>(windowOf(server), "hexSwitch")->setChecked(false);
        send(server, "r1");
        child<QCheckBox>(windowOf(server), "hexSwitch")->setChecked(true);
        QTRY_COMPARE(first.collect(), 1);
        QCOMPARE(first.received[0], QByteArray("r1"));

        second.sendTo(port, QByteArray());
        QTRY_COMPARE(server->peerPort, second.port());
        QVERIFY(Harness::log(server).endsWith(QStringLiteral(" 收到数据：{}")));
        QCOMPARE(windowOf(server)->receivedBytes(), 4);
        send(server, "r2");
        QTRY_COMPARE(second.collect(), 1);
        QTest::qWait(20);
        QCOMPARE(first.collect(), 1);
        // The node keeps the text it was made with.
        QVERIFY(nodeOf(server)->text(0).endsWith(QStringLiteral("[%1]").arg(port)));
    }

    void udpServerAnswersEachSenderByTheFirstRuleThatMatches()
    {
        Harness h;
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        UdpPeer first, second;
        const int port = unusedUdpPort();
        Endpoint *server = h.udpServer(port);
        answerBy(h, server,
            {rule(MatchType::Regex, QStringLiteral("^ping (\\d+)$"), QStringLiteral("pong \\1 #{count}")),
                rule(MatchType::Contains, QStringLiteral("ping"),
                    QStringLiteral("never: the first rule wins")),
                rule(MatchType::HexBytes, QStringLiteral("00 FF"), QStringLiteral("4F 4B"), true)});
        first.sendTo(port, "ping 1");
        QTRY_COMPARE(first.collect(), 1);
        second.sendTo(port, "ping 2");
        QTRY_COMPARE(second.collect(), 1);
        first.sendTo(port, QByteArray("a\x00\xFFz", 4));
        QTRY_COMPARE(first.collect(), 2);
        second.sendTo(port, "no rule for this");
        first.sendTo(port, "ping 3");
        QTRY_COMPARE(first.collect(), 3);
        QCOMPARE(first.received, QList<QByteArray>({"pong 1 #1", "OK", "pong 3 #4"}));
        QCOMPARE(second.collect(), 1);
        QCOMPARE(second.received, QList<QByteArray>({"pong 2 #2"}));
        QCOMPARE(windowOf(server)->sentBytes(), 9 + 9 + 2 + 9);
        const QString log = Harness::log(server);
        QCOMPARE(log.count(QStringLiteral(" 自动应答：")), 4);
        QVERIFY(log.contains(QStringLiteral(" 自动应答：pong 2 #2")));
        QCOMPARE(h.recorder.messages + h.recorder.exceptions, QStringList());
    }

    void tcpServerRulesAnswerEveryPeerAndTheWebReplyWins()
    {
        Harness h;
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        answerBy(
            h, server, {rule(MatchType::StartsWith, QStringLiteral("hello"), QStringLiteral("hi {len}"))});
        Fd a = connectTo(port), b = connectTo(port);
        QTRY_COMPARE(peerCount(server), 2);
        QCOMPARE(::send(a.get(), "hello", 5, 0), 5);
        QCOMPARE(readServing(a.get(), 4), QByteArray("hi 5"));
        QCOMPARE(::send(b.get(), "hello there", 11, 0), 11);
        QCOMPARE(readServing(b.get(), 5), QByteArray("hi 11"));
        // Each answer is logged and counted in its peer's window.
        for (Endpoint *peer : h.endpoints(EndpointKind::TcpAcceptedPeer)) {
            QCOMPARE(Harness::log(peer).count(QStringLiteral(" 自动应答：hi ")), 1);
            QVERIFY(windowOf(peer)->sentBytes() == 4 || windowOf(peer)->sentBytes() == 5);
        }
        child<QCheckBox>(windowOf(server), "webReplySwitch")->setChecked(true);
        QCOMPARE(::send(a.get(), "hello", 5, 0), 5);
        const QByteArray page = readServing(a.get(), FixedWebReply().size());
        QCOMPARE(page, FixedWebReply());
        QTRY_COMPARE(peerCount(server), 1);
    }

    void tcpClientAnswersItsServer()
    {
        Harness h;
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        Harness::ConnectedClient client = h.connectedTcpClient();
        QVERIFY(client.endpoint && client.peer.get() >= 0);
        answerBy(h, client.endpoint,
            {rule(MatchType::Equals, QStringLiteral("STATUS?"), QStringLiteral("READY"))});
        QCOMPARE(::send(client.peer.get(), "STATUS?", 7, 0), 7);
        QCOMPARE(readServing(client.peer.get(), 5), QByteArray("READY"));
        QCOMPARE(windowOf(client.endpoint)->sentBytes(), 5);
    }

    // Over a link slower than the program a UDP socket runs out of room:
    // a datagram it refuses is sent again once there is room and counted
    // only then, so a file and a repeat arrive whole and the counter says
    // what went out.
    void udpOverASlowLinkLosesNothingAndCountsWhatWasTaken()
    {
        if (qEnvironmentVariableIsEmpty("PW_NETNS_SLOW_LO"))
            QSKIP("needs a slow loopback link (tests/netns-run --slow-lo)");
        Harness h;
        QTemporaryDir dir;
        const qint64 size = 2 * 1024 * 1024;
        const QString path = makeFile(dir, QStringLiteral("firmware.bin"), size);
        QFile source(path);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray expected = source.readAll();
        DatagramReceiver receiver;
        Endpoint *udp = h.udpClient(receiver.port(), 0);
        QVERIFY(udp);
        const auto arrived = [&] {
            receiver.collect();
            qint64 bytes = 0;
            for (const QByteArray &datagram : receiver.received)
                bytes += datagram.size();
            return bytes;
        };

        sendFileFromMenu(udp, path);
        QTRY_VERIFY_WITH_TIMEOUT((arrived(), !windowOf(udp)->isTransferring()), 60000);
        QTRY_COMPARE(arrived(), size);
        QCOMPARE(receiver.received.join(), expected);
        QCOMPARE(windowOf(udp)->sentBytes(), size);

        receiver.received.clear();
        const QString line(999, QLatin1Char('u'));
        constexpr int Repeats = 2000;
        fillSendBox(udp, line, QString::number(Repeats), QStringLiteral("0"));
        QTimer drain;
        connect(&drain, &QTimer::timeout, this, [&] { receiver.collect(); });
        drain.start(5);
        child<QPushButton>(windowOf(udp), "sendButton")->click();
        drain.stop();
        QTRY_COMPARE(arrived(), qint64(Repeats) * line.size());
        QCOMPARE(receiver.received.size(), Repeats);
        QCOMPARE(windowOf(udp)->sentBytes(), size + qint64(Repeats) * line.size());
        QVERIFY(!Harness::log(udp).contains(QStringLiteral("未发出")));
    }

    void aFileSentFromTheSendBoxArrivesWholeLoggedAndCounted()
    {
        Harness h;
        QTemporaryDir dir;
        const QString path = makeFile(dir, QStringLiteral("payload.bin"), 3 * 1024 * 1024 + 17);
        QFile source(path);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray expected = source.readAll();
        Harness::ConnectedClient client = h.connectedTcpClient();
        QVERIFY(client.endpoint && client.peer.get() >= 0);
        sendFileFromMenu(client.endpoint, path);
        QVERIFY(windowOf(client.endpoint)->isTransferring());
        QCOMPARE(readServing(client.peer.get(), expected.size(), 20000), expected);
        QTRY_VERIFY(!windowOf(client.endpoint)->isTransferring());
        QCOMPARE(windowOf(client.endpoint)->sentBytes(), expected.size());
        const QString log = Harness::log(client.endpoint);
        QVERIFY(log.contains(QStringLiteral(" 开始发送文件：%1，共 %2 字节").arg(path).arg(expected.size())));
        QVERIFY(
            log.contains(QStringLiteral(" 文件发送完成：%1，已发送 %2 字节").arg(path).arg(expected.size())));
        QCOMPARE(h.recorder.messages + h.recorder.exceptions, QStringList());
    }

    void aFileToAPeerThatDoesNotReadCanBeCancelledAndKeepsOtherSendsOut()
    {
        Harness h;
        QTemporaryDir dir;
        const qint64 size = 64 * 1024 * 1024;
        const QString path = makeFile(dir, QStringLiteral("big.bin"), size);
        Harness::ConnectedClient client = h.connectedTcpClient();
        QVERIFY(client.endpoint && client.peer.get() >= 0);
        DataWindow *w = windowOf(client.endpoint);
        sendFileFromMenu(client.endpoint, path);
        // The peer reads nothing: the transfer fills the connection and waits.
        QTRY_VERIFY(w->sentBytes() > 0);
        QTest::qWait(300);
        QVERIFY(w->isTransferring());
        QVERIFY(w->sentBytes() < size);
        // Typed bytes would land in the middle of the file: refused.
        send(client.endpoint, "typed");
        QTRY_VERIFY(Harness::log(client.endpoint)
                        .contains(QStringLiteral("发送失败：上一次发送尚未完成，5 字节未发出")));
        // So is a second file while the first is on its way.
        sendFileFromMenu(client.endpoint, path, false);
        QCOMPARE(h.recorder.messages, QStringList({QStringLiteral("上一个文件尚未发送完成")}));
        QTest::mouseClick(child<QToolButton>(w, "cancelButton"), Qt::LeftButton);
        QTRY_VERIFY(!w->isTransferring());
        const qint64 sentAtCancel = w->sentBytes();
        QVERIFY(Harness::log(client.endpoint)
                    .contains(QStringLiteral(" 文件发送已取消：%1，已发送 %2/%3 字节")
                                  .arg(path)
                                  .arg(sentAtCancel)
                                  .arg(size)));
        // What the transfer sent, and nothing after the cancel, reaches the
        // peer once it reads; then a typed send goes as usual.
        QCOMPARE(readServing(client.peer.get(), sentAtCancel, 20000).size(), sentAtCancel);
        send(client.endpoint, "after");
        QCOMPARE(readServing(client.peer.get(), 5), QByteArray("after"));
        QCOMPARE(w->sentBytes(), sentAtCancel + 5);
    }

    void aFileToAnEndpointWithNobodyToSendToIsRefusedInTheLog()
    {
        Harness h;
        QTemporaryDir dir;
        const QString path = makeFile(dir, QStringLiteral("a.bin"), 10);
        Endpoint *server = h.tcpServer(unusedPort());
        sendFileFromMenu(server, path);
        QVERIFY(!windowOf(server)->isTransferring());
        QVERIFY(
            Harness::log(server).contains(QStringLiteral(" 文件发送失败：%1：没有可发送的连接").arg(path)));
    }

    void udpClientIgnoresWhoSent()
    {
        Harness h;
        UdpPeer target, stranger;
        const int localPortNumber = unusedUdpPort();
        Endpoint *client = h.udpClient(target.port(), localPortNumber);
        QVERIFY(client);
        stranger.sendTo(localPortNumber, "hello");
        QTRY_VERIFY(Harness::log(client).endsWith(QStringLiteral(" 收到数据：hello")));
        QCOMPARE(windowOf(client)->receivedBytes(), 5);
        send(client, "answer");
        QTRY_COMPARE(target.collect(), 1);
        QCOMPARE(stranger.collect(), 0);
        QCOMPARE(child<QLabel>(windowOf(client), "peerPortLabel")->text(),
            QStringLiteral("对方端口:%1").arg(target.port()));
    }

    void timedSendingTextHexEmptyAndStop()
    {
        Harness h;
        UdpPeer peer;
        Endpoint *client = h.udpClient(peer.port(), 0);
        DataWindow *w = windowOf(client);
        child<SendEdit>(w, "sendEdit")->setPlainText("abc");
        child<QLineEdit>(w, "intervalEdit")->setText("50");
        child<QPushButton>(w, "startTimerButton")->click();
        QVERIFY(timedSendingTimer(w)->isActive());
        QCOMPARE(timedSendingTimer(w)->interval(), 50);
        QTRY_VERIFY(peer.collect() >= 3);
        QVERIFY(child<SendEdit>(w, "sendEdit")->toPlainText()
            == QStringLiteral("abc")); // a tick leaves the box alone
        QVERIFY(Harness::log(client).split('\n').first().endsWith(QStringLiteral(" 发送数据：abc[1次]")));

        child<QCheckBox>(w, "hexSwitch")->setChecked(true);
        child<SendEdit>(w, "sendEdit")->setPlainText("4142");
        const int before = peer.collect();
        QTRY_VERIFY(peer.collect() > before + 1);
        QCOMPARE(peer.received.last(), QByteArray("AB"));
        QVERIFY(Harness::log(client).contains(QStringLiteral(" 发送数据：{41 42 }AB[1次]")));

        child<SendEdit>(w, "sendEdit")->clear();
        QTest::qWait(60);
        const int idle = peer.collect();
        QTest::qWait(200);
        QCOMPARE(peer.collect(), idle);
        QVERIFY(timedSendingTimer(w)->isActive());

        child<QPushButton>(w, "stopTimerButton")->click();
        QVERIFY(!timedSendingTimer(w)->isActive());

        // A negative interval is refused and the timer keeps its state.
        child<QLineEdit>(w, "intervalEdit")->setText("-5");
        child<QPushButton>(w, "startTimerButton")->click();
        QCOMPARE(h.recorder.messages.size(), 1);
        QVERIFY(!timedSendingTimer(w)->isActive());
        QCOMPARE(timedSendingTimer(w)->interval(), 50);
        // Not a number: the error box, nothing else.
        child<QLineEdit>(w, "intervalEdit")->setText("soon");
        child<QPushButton>(w, "startTimerButton")->click();
        QCOMPARE(h.recorder.exceptions, QStringList{"'soon' is not a valid integer value"});
        QVERIFY(!timedSendingTimer(w)->isActive());
    }

    void resetWhileTrafficFlows()
    {
        Harness h;
        UdpPeer peer;
        Endpoint *client = h.udpClient(peer.port(), 0);
        DataWindow *w = windowOf(client);
        child<SendEdit>(w, "sendEdit")->setPlainText("tick");
        child<QLineEdit>(w, "intervalEdit")->setText("10");
        child<QPushButton>(w, "startTimerButton")->click();
        QTRY_VERIFY(w->sentBytes() >= 12);
        child<QPushButton>(w, "resetCountersButton")->click();
        QCOMPARE(w->countersText(), QStringLiteral("收：0字节，发:0字节"));
        QCOMPARE(w->sentBytes(), 0);
        QTRY_VERIFY(w->sentBytes() >= 4);
        QCOMPARE(w->sentBytes() % 4, 0);
        child<QPushButton>(w, "stopTimerButton")->click();
        QVERIFY(!Harness::log(client).isEmpty()); // the log stays
    }

    void tcpServerWindowSendsToEveryPeer()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        send(server, "nobody");
        QCOMPARE(windowOf(server)->sentBytes(), 0);
        Fd a = connectTo(port), b = connectTo(port);
        QTRY_COMPARE(nodeOf(server)->childCount(), 2);
        send(server, "hi");
        QCOMPARE(readWithin(a.get()), QByteArray("hi"));
        QCOMPARE(readWithin(b.get()), QByteArray("hi"));
        QCOMPARE(windowOf(server)->sentBytes(), 4);
        QCOMPARE(Harness::log(server).count(QStringLiteral("发送数据：")), 2);
    }

    void tcpPeerWindowSendsAndLogs()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd a = connectTo(port);
        QTRY_COMPARE(nodeOf(server)->childCount(), 1);
        Endpoint *peer = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        send(peer, "to you", "2");
        QCOMPARE(readServing(a.get(), 12), QByteArray("to youto you"));
        QCOMPARE(windowOf(peer)->sentBytes(), 12);
    }

    void udpServerShowsWhichSerialDeviceItBridgesTo()
    {
        {
            PtyAsCom1 pty;
            QVERIFY(pty.ready());
            Harness h;
            Endpoint *server = h.udpServer(unusedUdpPort());
            const QString device = SerialPort::devicePathFor(QStringLiteral("com1"));
            QVERIFY(device.startsWith(QStringLiteral("/dev/pts/")));
            QCOMPARE(child<QLabel>(windowOf(server), "spareLabel")->text(),
                QStringLiteral("串口已打开:%1").arg(device));
        }
        {
            // A device that is no terminal refuses the line settings: told,
            // and not kept open to flood the peer with what it reads.
            const auto previous = SerialPort::setDevicePathResolver(
                [](const QString &) { return QStringLiteral("/dev/zero"); });
            Harness h;
            Endpoint *server = h.udpServer(unusedUdpPort());
            SerialPort::setDevicePathResolver(previous);
            QCOMPARE(
                h.recorder.exceptions, QStringList{QStringLiteral("Unable to update device control block.")});
            QVERIFY(!server->serialBridge->port().isOpen());
            QCOMPARE(child<QLabel>(windowOf(server), "spareLabel")->text(),
                QStringLiteral("串口未打开:/dev/zero"));
        }
        Harness h; // "com1" leads nowhere here
        Endpoint *server = h.udpServer(unusedUdpPort());
        QCOMPARE(child<QLabel>(windowOf(server), "spareLabel")->text(),
            QStringLiteral("串口未打开:/nonexistent/com1"));
    }

    void serialBridgeBetweenPeerAndTerminal()
    {
        PtyAsCom1 pty;
        QVERIFY(pty.ready());
        const int master = pty.master();
        Harness h;
        const int port = unusedUdpPort();
        Endpoint *server = h.udpServer(port);
        QVERIFY(server);
        QVERIFY(server->serialBridge->port().isOpen());
        QVERIFY(h.recorder.exceptions.isEmpty());

        UdpPeer peer;
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        peer.sendTo(port, all);
        QCOMPARE(readServing(master, 256), all);
        QCOMPARE(windowOf(server)->receivedBytes(), 256); // logged and counted once

        const qint64 sentBefore = windowOf(server)->sentBytes();
        QCOMPARE(::write(master, "Zq#8!", 5), 5);
        QTRY_COMPARE(peer.collect(), 1);
        QCOMPARE(peer.received[0], QByteArray("Zq#8!"));
        QCOMPARE(windowOf(server)->sentBytes(), sentBefore); // neither logged nor counted
        QVERIFY(!Harness::log(server).contains(QStringLiteral("Zq#8!")));
    }

    void serialInputBeforeAnyPeerIsNotedAndKeepsWorking()
    {
        PtyAsCom1 pty;
        QVERIFY(pty.ready());
        const int master = pty.master();
        Harness h;
        const int port = unusedUdpPort();
        Endpoint *server = h.udpServer(port);
        QVERIFY(server->serialBridge->port().isOpen());
        QCOMPARE(::write(master, "early", 5), 5);
        QTRY_VERIFY(Harness::log(server).contains(QStringLiteral("串口数据转发失败")));
        // Told once while it goes on failing, not once per piece.
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(::write(master, "again", 5), 5);
            QTest::qWait(50);
        }
        QCOMPARE(Harness::log(server).count(QStringLiteral("串口数据转发失败")), 1);
        UdpPeer peer;
        peer.sendTo(port, "hi");
        QTRY_COMPARE(server->peerPort, peer.port());
        QCOMPARE(::write(master, "later", 5), 5);
        QTRY_COMPARE(peer.collect(), 1);
        QCOMPARE(peer.received[0], QByteArray("later"));
    }

    void groupEndpointsOnOnePortExchangeDatagrams()
    {
        if (!insideNamespace())
            QSKIP("multicast runs only inside a private network namespace (tests/netns-run)");
        Harness h;
        Endpoint *first = h.udpGroup("224.1.1.1", 65000);
        QVERIFY(first);
        QVERIFY(h.recorder.messages.isEmpty());
        QCOMPARE(nodeOf(first)->text(0), QStringLiteral("224.1.1.1[65000]"));
        QCOMPARE(
            child<QLabel>(windowOf(first), "peerAddressLabel")->text(), QStringLiteral("组播地址:224.1.1.1"));
        Endpoint *second = h.udpGroup("224.1.1.1", 65000);
        QVERIFY(second);
        QCOMPARE(h.recorder.messages, QStringList{"bind fail"});
        QCOMPARE(h.endpoints(EndpointKind::UdpGroup).size(), 2);

        // The second member, unbound, sends from a port of its own; the first
        // hears it and answers to that port.
        send(second, "hello");
        QTRY_VERIFY(Harness::log(first).contains(QStringLiteral(" 收到数据：hello")));
        QCOMPARE(windowOf(first)->receivedBytes(), 5);
        send(first, "back");
        QTRY_VERIFY(Harness::log(second).contains(QStringLiteral(" 收到数据：back")));
        QCOMPARE(windowOf(second)->receivedBytes(), 4);
        QCOMPARE(windowOf(first)->sentBytes(), 4);
        QVERIFY(h.recorder.messages.size() == 1);

        // Deleting a group closes its socket; nothing reaches a closed window.
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(second));
        h.form->deleteSelected();
        send(first, "gone");
        QTest::qWait(50);
        QVERIFY(!h.listed(second));
    }

    void groupSetupFailuresStillCreateTheEndpoint()
    {
        if (!insideNamespace())
            QSKIP("multicast runs only inside a private network namespace (tests/netns-run)");
        Harness h;
        Endpoint *group = h.udpGroup("not-an-address", 65001);
        QVERIFY(group);
        QCOMPARE(h.recorder.messages, QStringList{"无法进行UDP组播"});
        QCOMPARE(nodeOf(group)->text(0), QStringLiteral("not-an-address[65001]"));
    }
};

QTEST_MAIN(TstSending)
#include "tst_sending.moc"
