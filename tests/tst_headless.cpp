// The real program run with --headless, without a display, against real
// peers on 127.0.0.1: what it answers, what it writes, how it ends.

#include "session/workspace.h"
#include "support/loopback.h"
#include "support/pseudoterminal.h"
#include "support/replyrule.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace loopback_test;

namespace {

// Ending and answering waits are liveness bounds, generous for 2 shared
// cores: a run that hangs fails instead of holding the suite.
constexpr int LivenessMs = 20000;

WorkspaceEndpoint udpServer(int port, const QString &pattern, const QString &reply)
{
    WorkspaceEndpoint server;
    server.kind = EndpointKind::UdpServer;
    server.port = port;
    server.setup.autoReply = true;
    server.rules.push_back(rule(MatchType::Contains, pattern, reply));
    return server;
}

WorkspaceEndpoint tcpServer(int port)
{
    WorkspaceEndpoint server;
    server.kind = EndpointKind::TcpServer;
    server.port = port;
    return server;
}

// The program under test with a workspace of its own, no display and no
// platform chosen in its environment.
class Run {
public:
    explicit Run(const QByteArray &workspaceText)
    {
        path_ = dir_.filePath(QStringLiteral("rack.json"));
        QFile file(path_);
        if (file.open(QIODevice::WriteOnly))
            file.write(workspaceText);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        // Settings of its own, to see what a run writes there.
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        process_.setProcessEnvironment(environment);
    }
    explicit Run(const Workspace &workspace)
        : Run(writeWorkspace(workspace))
    {
    }
    ~Run()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(LivenessMs);
        }
    }
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    // What the run left in its settings (empty when it wrote none).
    [[nodiscard]] QByteArray settings() const
    {
        QFile file(dir_.filePath(QStringLiteral("config/Portwright/portwright.conf")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Standard output goes into a pipe whose read end the test holds and
    // never reads.
    void stdoutToUnreadPipe()
    {
        int ends[2];
        QVERIFY(::pipe2(ends, O_CLOEXEC) == 0);
        unread_ = Fd(ends[0]);
        const int writeEnd = ends[1];
        process_.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
        writeEnd_ = Fd(writeEnd);
    }

    // Started as a careless parent may: standard streams closed, SIGTERM
    // blocked.
    void startNeglected()
    {
        process_.setChildProcessModifier([] {
            sigset_t term;
            sigemptyset(&term);
            sigaddset(&term, SIGTERM);
            ::sigprocmask(SIG_BLOCK, &term, nullptr);
            ::close(0), ::close(1), ::close(2);
        });
    }

    void start(const QStringList &options = {})
    {
        process_.start(
            QStringLiteral(PORTWRIGHT_BINARY), QStringList{QStringLiteral("--headless"), path_} + options);
        QVERIFY(process_.waitForStarted(LivenessMs));
        writeEnd_.reset();
    }
    [[nodiscard]] bool ended() { return process_.waitForFinished(LivenessMs); }
    void terminate() { ::kill(pid_t(process_.processId()), SIGTERM); }
    // What has come on standard output so far.
    QByteArray output()
    {
        out_ += process_.readAllStandardOutput();
        return out_;
    }
    [[nodiscard]] QByteArray errors() { return process_.readAllStandardError(); }
    [[nodiscard]] int status() const { return process_.exitCode(); }
    [[nodiscard]] QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    [[nodiscard]] const QString &path() const { return path_; }
    [[nodiscard]] QString openAs(int fd) const
    {
        return QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(process_.processId()).arg(fd));
    }

private:
    QTemporaryDir dir_;
    QString path_;
    QProcess process_;
    QByteArray out_;
    Fd unread_;
    Fd writeEnd_;
};

// Whether a TCP listener may take the port on 127.0.0.1 now.
bool tcpPortFree(int port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = loopback(port);
    return ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
        && ::listen(fd.get(), 1) == 0;
}

} // namespace

class HeadlessTest : public QObject {
    Q_OBJECT

private slots:
    void udpServerAnswersByRuleAndWritesJsonLines();
    void tcpServerLogsItsPeersData();
    void udpClientSendsOnTimeAndEndsOnSigterm();
    void badWorkspaceEndsBeforeAnythingListens();
    void portInUseEndsTheRunUnlessKeepGoing();
    void unreadOutputNeitherStopsAnswersNorTheEnd();
    void serialPortLogsWhatItsDeviceSendsAndAnswers();
    void clientThatCannotConnectIsLoggedAndEndsTheRun();
    void neglectedStartStillEndsCleanlyAndWritesNowhereElse();
    void runLastsAtLeastItsDuration();
    void readmeExampleAnswersAPeer();
};

void HeadlessTest::udpServerAnswersByRuleAndWritesJsonLines()
{
    const int port = unusedUdpPort();
    Run run(Workspace{{udpServer(port, QStringLiteral("ping"), QStringLiteral("pong"))}, {}});
    run.start({QStringLiteral("--json")});
    DatagramReceiver peer;
    // Sent until answered: the server may not be bound yet.
    QTRY_VERIFY_WITH_TIMEOUT((peer.sendTo(port, "ping"), peer.collect() > 0), LivenessMs);
    QCOMPARE(peer.received.first(), QByteArray("pong"));
    QTRY_VERIFY_WITH_TIMEOUT(run.output().contains("\"direction\":\"reply\""), LivenessMs);
    const QByteArray out = run.output();
    QVERIFY2(out.contains("\"direction\":\"received\",\"text\":\"ping\""), out.constData());
    QVERIFY2(out.contains("\"direction\":\"reply\",\"text\":\"pong\""), out.constData());
    for (const QByteArray &line : out.split('\n'))
        if (!line.isEmpty())
            QVERIFY2(line.startsWith('{') && line.endsWith('}'), line.constData());
    run.terminate();
    QVERIFY(run.ended());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.status(), 0);
    // The workspace keeps its rules: a run leaves the user's own alone.
    QVERIFY2(!run.settings().contains("replyRules"), run.settings().constData());
}

void HeadlessTest::tcpServerLogsItsPeersData()
{
    const int port = unusedPort();
    Run run(Workspace{{tcpServer(port)}, {}});
    run.start();
    Fd peer;
    // Connected again until the server listens.
    QTRY_VERIFY_WITH_TIMEOUT(
        (peer = connectTo(port), ::send(peer.get(), "hello-from-peer", 15, MSG_NOSIGNAL) == 15), LivenessMs);
    const QByteArray peerName = QByteArray::number(localPort(peer.get()));
    QTRY_VERIFY_WITH_TIMEOUT(run.output().contains("hello-from-peer"), LivenessMs);
    QByteArray line;
    for (const QByteArray &each : run.output().split('\n'))
        if (each.contains("hello-from-peer"))
            line = each;
    // The server's node text, then the peer's, then the window's line.
    QVERIFY2(line.contains("[" + QByteArray::number(port) + "] "), line.constData());
    QVERIFY2(line.contains("[" + peerName + "] "), line.constData());
    run.terminate();
    QVERIFY(run.ended());
    QCOMPARE(run.status(), 0);
}

void HeadlessTest::udpClientSendsOnTimeAndEndsOnSigterm()
{
    DatagramReceiver receiver;
    WorkspaceEndpoint client;
    client.kind = EndpointKind::UdpClient;
    client.address = QStringLiteral("127.0.0.1");
    client.port = receiver.port();
    client.localPort = unusedUdpPort();
    client.setup.sendText = QStringLiteral("tick");
    client.setup.interval = QStringLiteral("20");
    client.setup.timedSending = true;
    Run run(Workspace{{client}, {}});
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(receiver.collect() >= 3, LivenessMs);
    QCOMPARE(receiver.received.first(), QByteArray("tick"));
    QTRY_VERIFY_WITH_TIMEOUT(run.output().count("tick") >= 3, LivenessMs);
    run.terminate();
    QVERIFY(run.ended());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.status(), 0);
    // Every line written whole, the last one included.
    const QByteArray out = run.output();
    QVERIFY(out.endsWith('\n'));
    QVERIFY(out.count("tick") >= 3);
}

void HeadlessTest::badWorkspaceEndsBeforeAnythingListens()
{
    const int port = unusedPort();
    WorkspaceEndpoint bad = tcpServer(port);
    QByteArray text = writeWorkspace(Workspace{{bad, tcpServer(port + 1)}, {}});
    // The second endpoint's port out of range: the file as a whole is
    // refused.
    text.replace("\"port\": " + QByteArray::number(port + 1), "\"port\": 70000");
    Run run(text);
    run.start();
    QVERIFY(run.ended());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.status(), 2);
    const QString errors = QString::fromLocal8Bit(run.errors());
    QVERIFY2(errors.startsWith(QLatin1String("portwright: ")), qPrintable(errors));
    QVERIFY2(errors.contains(run.path()), qPrintable(errors));
    QVERIFY(run.output().isEmpty());
    QVERIFY(tcpPortFree(port));
}

void HeadlessTest::portInUseEndsTheRunUnlessKeepGoing()
{
    Fd holder = listenOnLoopback();
    const int taken = localPort(holder.get());
    const int free = unusedUdpPort();
    const Workspace workspace{
        {tcpServer(taken), udpServer(free, QStringLiteral("ping"), QStringLiteral("pong"))}, {}};
    {
        Run run(workspace);
        run.start();
        QVERIFY(run.ended());
        QCOMPARE(run.status(), 1);
        const QByteArray errors = run.errors();
        QVERIFY2(errors.contains("TCP Server") && errors.contains("[" + QByteArray::number(taken) + "]"),
            errors.constData());
    }
    Run run(workspace);
    run.start({QStringLiteral("--keep-going")});
    DatagramReceiver peer;
    QTRY_VERIFY_WITH_TIMEOUT((peer.sendTo(free, "ping"), peer.collect() > 0), LivenessMs);
    QCOMPARE(peer.received.first(), QByteArray("pong"));
    run.terminate();
    QVERIFY(run.ended());
    QCOMPARE(run.status(), 0);
    QVERIFY(run.errors().contains("TCP Server"));
}

void HeadlessTest::unreadOutputNeitherStopsAnswersNorTheEnd()
{
    const int port = unusedUdpPort();
    Run run(Workspace{{udpServer(port, QStringLiteral("ping"), QStringLiteral("pong"))}, {}});
    run.stdoutToUnreadPipe();
    run.start();
    DatagramReceiver peer;
    QTRY_VERIFY_WITH_TIMEOUT((peer.sendTo(port, "ping"), peer.collect() > 0), LivenessMs);
    // Far more log than a pipe holds.
    const QByteArray load(2000, 'x');
    for (int i = 0; i < 500; ++i)
        peer.sendTo(port, load);
    peer.received.clear();
    QTRY_VERIFY_WITH_TIMEOUT((peer.sendTo(port, "ping"), peer.collect() > 0), LivenessMs);
    QVERIFY(peer.received.contains(QByteArray("pong")));
    run.terminate();
    QVERIFY(run.ended());
    QCOMPARE(run.status(), 0);
}

QTEST_GUILESS_MAIN(HeadlessTest)
#include "tst_headless.moc"

void HeadlessTest::serialPortLogsWhatItsDeviceSendsAndAnswers()
{
    Pty pty;
    WorkspaceEndpoint serial;
    serial.kind = EndpointKind::SerialPort;
    serial.serial.device = pty.path;
    serial.serial.framing = MessageFraming::Delimiter;
    serial.setup.autoReply = true;
    serial.rules.push_back(rule(MatchType::StartsWith, QStringLiteral("AT"), QStringLiteral("OK")));
    Run run(Workspace{{serial}, {}});
    run.start();
    // The run has the device once it made the line raw.
    QTRY_VERIFY_WITH_TIMEOUT(!(pty.attributes().c_lflag & ICANON), LivenessMs);
    pty.send("AT+GMR\n");
    QCOMPARE(pty.receive(2, LivenessMs), QByteArray("OK"));
    QTRY_VERIFY_WITH_TIMEOUT(run.output().contains("AT+GMR"), LivenessMs);
    QByteArray line;
    for (const QByteArray &each : run.output().split('\n'))
        if (each.contains("AT+GMR"))
            line = each;
    // The device's name, then the window's line.
    QVERIFY2(line.contains(pty.path.toUtf8() + " "), line.constData());
    run.terminate();
    QVERIFY(run.ended());
    QCOMPARE(run.status(), 0);
}

void HeadlessTest::clientThatCannotConnectIsLoggedAndEndsTheRun()
{
    WorkspaceEndpoint client;
    client.kind = EndpointKind::TcpClient;
    client.address = QStringLiteral("127.0.0.1");
    client.port = unusedPort();
    Run run(Workspace{{client}, {}});
    run.start({QStringLiteral("--duration"), QStringLiteral("600")});
    QVERIFY(run.ended());
    QCOMPARE(run.status(), 1);
    const QString name = QStringLiteral("127.0.0.1[%1]").arg(client.port);
    const QString out = QString::fromUtf8(run.output());
    QVERIFY2(out.contains(name + QStringLiteral(" "))
            && out.contains(QStringLiteral("连接失败：Connection refused")),
        qPrintable(out));
    QVERIFY(QString::fromUtf8(run.errors()).contains(QStringLiteral("TCP Client ") + name));
}

void HeadlessTest::neglectedStartStillEndsCleanlyAndWritesNowhereElse()
{
    const int port = unusedUdpPort();
    Run run(Workspace{{udpServer(port, QStringLiteral("ping"), QStringLiteral("pong"))}, {}});
    run.startNeglected();
    run.start({QStringLiteral("--duration"), QStringLiteral("600")});
    DatagramReceiver peer;
    QTRY_VERIFY_WITH_TIMEOUT((peer.sendTo(port, "ping"), peer.collect() > 0), LivenessMs);
    for (int fd = 0; fd <= 2; ++fd)
        QCOMPARE(run.openAs(fd), QStringLiteral("/dev/null"));
    run.terminate();
    QVERIFY(run.ended());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.status(), 0);
}

void HeadlessTest::runLastsAtLeastItsDuration()
{
    // A timer that fires early does so in some runs only: several at once,
    // shortest first, each timed to its end.
    std::vector<std::pair<std::unique_ptr<Run>, QElapsedTimer>> runs;
    for (const int ms : {2100, 2450, 2800, 3150, 3500}) {
        auto &[run, clock]
            = runs.emplace_back(std::make_unique<Run>(Workspace{{tcpServer(0)}, {}}), QElapsedTimer());
        clock.start();
        run->start({QStringLiteral("--duration"), QString::number(ms / 1000.0)});
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        QVERIFY(runs[i].first->ended());
        QVERIFY2(runs[i].second.elapsed() >= 2100 + 350 * qint64(i),
            qPrintable(QString::number(runs[i].second.elapsed())));
    }
}

// The README's example, run as it says (on a free port), answers a peer and
// its own client.
void HeadlessTest::readmeExampleAnswersAPeer()
{
    QFile readme(QStringLiteral(PORTWRIGHT_SOURCE_DIR "/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const auto example = QRegularExpression(QStringLiteral("## Workspaces\\n.*?```json\\n(.*?)```"),
        QRegularExpression::DotMatchesEverythingOption)
                             .match(QString::fromUtf8(readme.readAll()));
    const int port = unusedPort();
    Run run(example.captured(1).replace(QStringLiteral("60000"), QString::number(port)).toUtf8());
    run.start();
    Fd peer;
    QTRY_VERIFY_WITH_TIMEOUT(
        (peer = connectTo(port), ::send(peer.get(), "PING", 4, MSG_NOSIGNAL) == 4), LivenessMs);
    QCOMPARE(readWithin(peer.get(), LivenessMs), QByteArray("PONG"));
    QTRY_VERIFY_WITH_TIMEOUT(run.output().contains("收到数据：PONG"), LivenessMs);
}
