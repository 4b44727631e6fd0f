// Workspaces: every kind and option comes back from its file as it was
// written; a damaged or hostile file is refused whole with its first problem
// and where it is; opening never waits on the file in the caller's thread,
// and a save never replaces what is not a regular file.

#include "core/boundedregex.h"
#include "session/workspace.h"
#include "session/workspacefile.h"
#include "support/replyrule.h"
#include "support/stalledfiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

Q_DECLARE_METATYPE(Workspace)

namespace {

const QString formatError = QStringLiteral("工作区文件格式错误：");

WorkspaceEndpoint endpoint(EndpointKind kind, int port, const QString &address = {})
{
    WorkspaceEndpoint e;
    e.kind = kind;
    e.port = port;
    e.address = address;
    return e;
}

// A setup with nothing left at its default.
SessionSetup changedSetup()
{
    SessionSetup setup;
    setup.sendText = QStringLiteral("AT+GMR\r\n");
    setup.hexMode = true;
    setup.repeatCount = QStringLiteral("0x10");
    setup.interval = QStringLiteral(" 250");
    setup.milliseconds = true;
    setup.autoReply = true;
    setup.timedSending = true;
    return setup;
}

std::vector<ReplyRule> everyMatchType()
{
    std::vector<ReplyRule> rules = {
        rule(MatchType::Equals, QStringLiteral("PING"), QStringLiteral("PONG {count}")),
        rule(MatchType::Contains, QString(), QStringLiteral("ok\\r\\n")),
        rule(MatchType::StartsWith, QStringLiteral("GET "), QStringLiteral("48 54"), true),
        rule(MatchType::EndsWith, QStringLiteral("\r\n"), QStringLiteral("{len} at {time}")),
        rule(MatchType::Regex, QStringLiteral("^id=(\\d+)\"$"), QStringLiteral("got \\1")),
        rule(MatchType::HexBytes, QStringLiteral("AA 55"), QStringLiteral("55AA"), true),
    };
    rules[1].enabled = false;
    return rules;
}

// A document around the given endpoints and links, written as a person
// would write one.
QByteArray document(const QByteArray &endpoints, const QByteArray &links = "[]")
{
    return R"({"format": 1, "endpoints": [)" + endpoints + R"(], "links": )" + links + "}";
}

const QByteArray server = R"({"kind": "tcpServer", "port": 60000})";
const QByteArray client = R"({"kind": "tcpClient", "address": "127.0.0.1", "port": 60000})";

QByteArray repeated(const QByteArray &item, int count)
{
    QByteArrayList items;
    for (int k = 0; k < count; ++k)
        items.append(item);
    return items.join(", ");
}

QByteArray withRules(const QByteArray &rules)
{
    return document(R"({"kind": "tcpServer", "port": 1, "rules": [)" + rules + "]}");
}

// Regular expressions of (?:\w\d){repeat}, which compiles to 12 bytes a
// repeat: 5,000 of repeat 10,000 fit in 330 KB of file and compile to 600 MB.
QByteArray costlyRules(int count, int repeat)
{
    return repeated(
        R"({"match": "regex", "pattern": "(?:\\w\\d){)" + QByteArray::number(repeat) + R"(}", "reply": "x"})",
        count);
}

QByteArray costlyServer(int count, int repeat)
{
    return R"({"kind": "udpServer", "port": 1, "rules": [)" + costlyRules(count, repeat) + "]}";
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QString openFailed(const QString &path, const QString &why)
{
    return QStringLiteral("无法打开工作区文件“%1”：%2").arg(path, why);
}

// Keys of a later version beside those this one knows.
const QByteArray handWritten = R"({
        "format": 1, "comment": "from a later version",
        "endpoints": [
            {"kind": "tcpServer", "port": 60000, "colour": "red"},
            {"kind": "udpClient", "address": "127.0.0.1", "port": 2, "localPort": 0, "webReply": "n/a",
             "setup": {"sendText": "hi", "font": 12},
             "rules": [{"match": "equals", "pattern": "a", "reply": "b", "weight": 3}]}
        ]
    })";
const QByteArray outOfRange = document(R"({"kind": "udpServer", "port": 65536})");

// Raw strings stay out of the test class, whose body moc cannot read with
// them.
void addDamagedFiles()
{
    QTest::addColumn<QByteArray>("file");
    // The message begins with the place, then says what is wrong there.
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("what");

    QTest::newRow("not JSON") << QByteArray(R"({"format": 1,, "endpoints": []})") << QString()
                              << QStringLiteral("(位置 14)");
    QTest::newRow("not an object") << QByteArray("[1]") << QString() << QStringLiteral("不是工作区文件");
    QTest::newRow("no format") << QByteArray(R"({"endpoints": []})") << QStringLiteral("format")
                               << QStringLiteral("缺失");
    QTest::newRow("later format") << QByteArray(R"({"format": 2, "endpoints": []})")
                                  << QStringLiteral("format") << QStringLiteral("不支持的格式版本 2");
    QTest::newRow("format as text") << QByteArray(R"({"format": "1", "endpoints": []})")
                                    << QStringLiteral("format") << QStringLiteral("应为整数");
    QTest::newRow("no endpoints") << QByteArray(R"({"format": 1})") << QStringLiteral("endpoints")
                                  << QStringLiteral("缺失");
    QTest::newRow("endpoint not an object")
        << document(server + ", 5") << QStringLiteral("endpoints[1]") << QStringLiteral("应为对象");
    QTest::newRow("unknown kind") << document(R"({"kind": "tcpServerClient", "port": 1})")
                                  << QStringLiteral("endpoints[0].kind")
                                  << QStringLiteral("未知的端点类型“tcpServerClient”");
    QTest::newRow("port missing") << document(server + R"(, {"kind": "tcpClient", "address": "h"})")
                                  << QStringLiteral("endpoints[1].port") << QStringLiteral("缺失");
    QTest::newRow("port as text") << document(R"({"kind": "tcpServer", "port": "60000"})")
                                  << QStringLiteral("endpoints[0].port") << QStringLiteral("应为整数");
    QTest::newRow("port not whole") << document(R"({"kind": "udpServer", "port": 1.5})")
                                    << QStringLiteral("endpoints[0].port") << QStringLiteral("应为整数");
    for (const QByteArray &port : {QByteArray("-1"), QByteArray("65536"), QByteArray("1e10")}) {
        QTest::addRow("port %s", port.constData())
            << document(R"({"kind": "udpGroup", "address": "224.1.1.1", "port": )" + port + "}")
            << QStringLiteral("endpoints[0].port") << QStringLiteral("端口超出范围（0～65535）");
    }
    QTest::newRow("local port out of range")
        << document(R"({"kind": "udpClient", "address": "h", "port": 1, "localPort": 70000})")
        << QStringLiteral("endpoints[0].localPort") << QStringLiteral("端口超出范围（0～65535）");
    QTest::newRow("address as number")
        << document(R"({"kind": "tcpClient", "address": 127, "port": 1})")
        << QStringLiteral("endpoints[0].address") << QStringLiteral("应为文本");
    QTest::newRow("address too long")
        << document(R"({"kind": "tcpClient", "address": ")" + QByteArray(256, 'a') + R"(", "port": 1})")
        << QStringLiteral("endpoints[0].address") << QStringLiteral("过长：256 个字符，最多 255 个");
    QTest::newRow("web reply as number")
        << document(R"({"kind": "tcpServer", "port": 1, "webReply": 1})")
        << QStringLiteral("endpoints[0].webReply") << QStringLiteral("应为 true 或 false");
    QTest::newRow("setup not an object")
        << document(R"({"kind": "tcpServer", "port": 1, "setup": []})")
        << QStringLiteral("endpoints[0].setup") << QStringLiteral("应为对象");
    QTest::newRow("hex mode as text")
        << document(R"({"kind": "tcpServer", "port": 1, "setup": {"hexMode": "true"}})")
        << QStringLiteral("endpoints[0].setup.hexMode") << QStringLiteral("应为 true 或 false");
    QTest::newRow("repeat count as number")
        << document(R"({"kind": "tcpServer", "port": 1, "setup": {"repeatCount": 5}})")
        << QStringLiteral("endpoints[0].setup.repeatCount") << QStringLiteral("应为文本");
    QTest::newRow("interval too long")
        << document(
               R"({"kind": "tcpServer", "port": 1, "setup": {"interval": ")" + QByteArray(65, '1') + "\"}}")
        << QStringLiteral("endpoints[0].setup.interval") << QStringLiteral("过长：65 个字符，最多 64 个");
    QTest::newRow("rules not a list") << document(R"({"kind": "tcpServer", "port": 1, "rules": {}})")
                                      << QStringLiteral("endpoints[0].rules") << QStringLiteral("应为列表");
    QTest::newRow("unknown match") << withRules(R"({"match": "like", "pattern": "a", "reply": "b"})")
                                   << QStringLiteral("endpoints[0].rules[0].match")
                                   << QStringLiteral("未知的匹配方式“like”");
    QTest::newRow("rule without reply")
        << withRules(R"({"match": "equals", "pattern": "a"})")
        << QStringLiteral("endpoints[0].rules[0].reply") << QStringLiteral("缺失");
    QTest::newRow("invalid regular expression")
        << withRules(R"({"match": "equals", "pattern": "a", "reply": "b"},
                        {"match": "regex", "pattern": "(a", "reply": "b"})")
        << QStringLiteral("endpoints[0].rules[1]") << QStringLiteral("第2条规则的正则表达式无效：");
    QTest::newRow("too many rules") << withRules(
        repeated(R"({"match": "equals", "pattern": "a", "reply": "b"})", MaxReplyRules + 1))
                                    << QStringLiteral("endpoints[0].rules")
                                    << QStringLiteral("规则过多：5001 条，最多 5000 条");
    QTest::newRow("too many endpoints")
        << document(repeated(server, MaxWorkspaceEndpoints + 1)) << QStringLiteral("endpoints")
        << QStringLiteral("端点过多：1001 个，最多 1000 个");
    QTest::newRow("the first of two problems")
        << document(server + R"(, {"kind": "tcpServer", "port": -1}, {"kind": "tcpServer", "port": "x"})")
        << QStringLiteral("endpoints[1].port") << QStringLiteral("端口超出范围");
    QTest::newRow("link to no endpoint")
        << document(server + ", " + client, "[[0, 2]]") << QStringLiteral("links[0][1]")
        << QStringLiteral("没有序号为 2 的端点（共 2 个，从 0 起）");
    QTest::newRow("link to itself") << document(server + ", " + client, "[[1, 1]]")
                                    << QStringLiteral("links[0]")
                                    << QStringLiteral("端点不能与自身建立监听管道");
    QTest::newRow("link of one kind")
        << document(server + ", " + server, "[[0, 1]]") << QStringLiteral("links[0]")
        << QStringLiteral("同类端点之间不能建立监听管道");
    QTest::newRow("endpoint in two links")
        << document(server + ", " + client + R"(, {"kind": "udpServer", "port": 1})", "[[0, 1], [2, 1]]")
        << QStringLiteral("links[1]") << QStringLiteral("端点 1 已在 links[0] 的监听管道中");
    QTest::newRow("serial port without its setup")
        << document(R"({"kind": "serialPort"})") << QStringLiteral("endpoints[0].serial")
        << QStringLiteral("缺失");
    QTest::newRow("serial rate as text")
        << document(R"({"kind": "serialPort", "serial": {"device": "/dev/ttyUSB0", "baud": "fast"}})")
        << QStringLiteral("endpoints[0].serial.baud") << QStringLiteral("应为整数");
    QTest::newRow("link not a pair") << document(server + ", " + client, "[[0, \"1\"]]")
                                     << QStringLiteral("links[0]")
                                     << QStringLiteral("应为两个端点序号的列表");
}

} // namespace

class TstWorkspace : public QObject {
    Q_OBJECT

private slots:
    void everyKindAndOptionComesBackAsWritten_data()
    {
        QTest::addColumn<Workspace>("workspace");
        // The keys each endpoint is written with, in order: what the window
        // and the headless mode read.
        QTest::addColumn<QStringList>("keys");
        const QStringList tail = {QStringLiteral("setup"), QStringLiteral("rules")};

        QTest::newRow("nothing") << Workspace{} << QStringList();

        Workspace tcpServer;
        tcpServer.endpoints.push_back(endpoint(EndpointKind::TcpServer, 60000));
        tcpServer.endpoints[0].webReply = true;
        tcpServer.endpoints[0].setup = changedSetup();
        tcpServer.endpoints[0].rules = everyMatchType();
        QTest::newRow("TCP Server, web reply, setup, rules")
            << tcpServer << QStringList{"kind", "port", "webReply"} + tail;

        Workspace anyPort;
        anyPort.endpoints.push_back(endpoint(EndpointKind::TcpServer, 0));
        QTest::newRow("TCP Server on a port the system picks")
            << anyPort << QStringList{"kind", "port", "webReply"} + tail;

        Workspace tcpClient;
        tcpClient.endpoints.push_back(
            endpoint(EndpointKind::TcpClient, 65535, QStringLiteral("peer.example")));
        tcpClient.endpoints[0].setup.sendText = QStringLiteral("GET / HTTP/1.0\r\n\r\n");
        QTest::newRow("TCP Client") << tcpClient << QStringList{"kind", "address", "port"} + tail;

        Workspace udpServer;
        udpServer.endpoints.push_back(endpoint(EndpointKind::UdpServer, 60000));
        udpServer.endpoints.push_back(endpoint(EndpointKind::UdpServer, 60001));
        udpServer.endpoints[1].serialDevice = QStringLiteral("/dev/pts/7");
        QTest::newRow("UDP Server, own and named device")
            << udpServer << QStringList{"kind", "port", "serialDevice"} + tail;

        Workspace udpClient;
        udpClient.endpoints.push_back(
            endpoint(EndpointKind::UdpClient, 60000, QStringLiteral("255.255.255.255")));
        udpClient.endpoints[0].localPort = 10000;
        udpClient.endpoints[0].rules = {rule(MatchType::Contains, QStringLiteral("a"), QStringLiteral("b"))};
        QTest::newRow("UDP Client") << udpClient
                                    << QStringList{"kind", "address", "port", "localPort"} + tail;

        Workspace udpGroup;
        udpGroup.endpoints.push_back(endpoint(EndpointKind::UdpGroup, 65000, QStringLiteral("224.1.1.1")));
        udpGroup.endpoints[0].setup.milliseconds = true;
        QTest::newRow("UDP Group") << udpGroup << QStringList{"kind", "address", "port"} + tail;

        Workspace linked;
        linked.endpoints = {endpoint(EndpointKind::TcpServer, 7000),
            endpoint(EndpointKind::TcpClient, 7001, QStringLiteral("10.1.2.3")),
            endpoint(EndpointKind::UdpServer, 7002),
            endpoint(EndpointKind::UdpClient, 7003, QStringLiteral("::1"))};
        linked.links = {{0, 1}, {3, 2}};
        QTest::newRow("two links") << linked << QStringList{"kind", "port", "webReply"} + tail;

        // No port: the device and its settings are all there is.
        Workspace serial;
        serial.endpoints.push_back(endpoint(EndpointKind::SerialPort, 0));
        serial.endpoints[0].serial.device = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
        serial.endpoints[0].serial.baud = 250000;
        serial.endpoints[0].serial.parity = SerialParity::Mark;
        serial.endpoints[0].serial.framing = MessageFraming::Delimiter;
        serial.endpoints[0].serial.delimiter = QByteArrayLiteral("\r\n");
        serial.endpoints[0].serial.dtr = false;
        serial.endpoints.push_back(endpoint(EndpointKind::TcpServer, 7000));
        serial.links = {{0, 1}};
        QTest::newRow("Serial Port, linked") << serial << QStringList{"kind", "serial"} + tail;

        // Texts that JSON escapes or that are not ASCII.
        Workspace texts;
        texts.endpoints.push_back(endpoint(EndpointKind::TcpServer, 1));
        texts.endpoints[0].setup.sendText
            = QStringLiteral("\"quoted\" back\\slash\ttab\x01\x1f 中文 \U0001F600 \u2028 end");
        texts.endpoints[0].rules = {rule(
            MatchType::Regex, QStringLiteral("(\\w+)\\s*=\\s*\"([^\"]*)\""), QStringLiteral("\\2=\\1\\\\"))};
        QTest::newRow("escaped and wide texts") << texts << QStringList{"kind", "port", "webReply"} + tail;
    }

    void everyKindAndOptionComesBackAsWritten()
    {
        QFETCH(Workspace, workspace);
        QFETCH(QStringList, keys);
        QCOMPARE(workspaceProblem(workspace), QString());
        const QByteArray written = writeWorkspace(workspace);
        QString problem = QStringLiteral("not emptied");
        const std::optional<Workspace> read = parseWorkspace(written, &problem);
        QCOMPARE(problem, QString());
        QVERIFY(read);
        QVERIFY(*read == workspace);
        QCOMPARE(writeWorkspace(*read), written);

        const QJsonObject root = QJsonDocument::fromJson(written).object();
        QCOMPARE(root.value(QStringLiteral("format")), QJsonValue(1));
        if (!workspace.endpoints.empty()) {
            // In the order written, not QJsonObject's.
            QStringList found;
            for (const QByteArray &line : written.split('\n')) {
                if (line.startsWith("            \"") && found.size() < keys.size())
                    found.append(QString::fromUtf8(line.trimmed().split('"')[1]));
            }
            QCOMPARE(found, keys);
        }
    }

    void aHandWrittenFileTakesDefaultsAndIgnoresUnknownKeys()
    {
        QString problem;
        const std::optional<Workspace> read = parseWorkspace(handWritten, &problem);
        QCOMPARE(problem, QString());
        QVERIFY(read);
        Workspace expected;
        expected.endpoints = {endpoint(EndpointKind::TcpServer, 60000),
            endpoint(EndpointKind::UdpClient, 2, QStringLiteral("127.0.0.1"))};
        expected.endpoints[1].setup.sendText = QStringLiteral("hi");
        expected.endpoints[1].rules = {rule(MatchType::Equals, QStringLiteral("a"), QStringLiteral("b"))};
        QVERIFY(*read == expected);
    }

    void aDamagedFileIsRefusedWholeWithItsFirstProblemAndPlace_data() { addDamagedFiles(); }

    void aDamagedFileIsRefusedWholeWithItsFirstProblemAndPlace()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, place);
        QFETCH(QString, what);
        QString problem;
        QVERIFY(!parseWorkspace(file, &problem));
        const QString expected
            = formatError + (place.isEmpty() ? QString() : place + QStringLiteral("：")) + what;
        QVERIFY2(
            problem.startsWith(expected) || (place.isEmpty() && problem.endsWith(what)), qPrintable(problem));
    }

    void aSavedWorkspaceOpensAgainWithoutTheCallerWaiting()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("setup.pwws"));
        writeFile(path, "an older file, replaced whole");
        Workspace workspace;
        workspace.endpoints = {endpoint(EndpointKind::TcpServer, 60000),
            endpoint(EndpointKind::TcpClient, 60000, QStringLiteral("127.0.0.1"))};
        workspace.endpoints[0].rules = everyMatchType();
        workspace.links = {{1, 0}};
        QString error;
        QVERIFY2(saveWorkspaceFile(path, workspace, &error), qPrintable(error));

        WorkspaceFileReader reader;
        QSignalSpy loaded(&reader, &WorkspaceFileReader::loaded);
        QSignalSpy failed(&reader, &WorkspaceFileReader::failed);
        reader.open(path);
        // Told from the event loop, never inside open().
        QCOMPARE(loaded.count() + failed.count(), 0);
        QTRY_COMPARE(loaded.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(loaded.first().first().value<Workspace>() == workspace);

        // The file's name and the content's first problem, with its place.
        writeFile(path, outOfRange);
        reader.open(path);
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(),
            openFailed(path, formatError + QStringLiteral("endpoints[0].port：端口超出范围（0～65535）")));
        QCOMPARE(loaded.count(), 1);
    }

    void whatIsNotARegularFileIsRefusedWithoutWaitingOnIt_data()
    {
        QTest::addColumn<QString>("node");
        QTest::newRow("named pipe") << QStringLiteral("pipe");
        QTest::newRow("endless device") << QStringLiteral("/dev/zero");
        QTest::newRow("directory") << QStringLiteral(".");
    }

    void whatIsNotARegularFileIsRefusedWithoutWaitingOnIt()
    {
        QFETCH(QString, node);
        QTemporaryDir dir;
        const QString path = node.startsWith(u'/') ? node : dir.filePath(node);
        if (node == QStringLiteral("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        // Opened for reading, a pipe waits for a writer.
        FifoRescue rescue(QFile::encodeName(path), O_WRONLY);
        WorkspaceFileReader reader;
        QSignalSpy failed(&reader, &WorkspaceFileReader::failed);
        reader.open(path);
        rescue.disarm();
        QVERIFY2(!rescue.rescued(), "the open waited for the pipe's other end");
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), openFailed(path, QStringLiteral("不是普通文件")));
    }

    void aFileTooLargeIsRefusedBeforeAnythingIsRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("huge.pwws"));
        {
            QFile huge(path);
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.resize(MaxWorkspaceFileBytes + 1)); // sparse: no disk is filled
        }
        // Any read would stall and be counted.
        StalledFiles files;
        files.stallReads();
        WorkspaceFileReader reader;
        QSignalSpy failed(&reader, &WorkspaceFileReader::failed);
        reader.open(path);
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(),
            openFailed(path, QStringLiteral("文件过大（上限 %1 字节）").arg(MaxWorkspaceFileBytes)));
        QCOMPARE(files.stalledCalls(), 0);
    }

    void aStalledReadHoldsNeitherTheCallerNorTheReadersEnd()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("slow.pwws"));
        Workspace workspace;
        workspace.endpoints = {endpoint(EndpointKind::UdpGroup, 65000, QStringLiteral("224.1.1.1"))};
        writeFile(path, writeWorkspace(workspace));

        auto reader = std::make_unique<WorkspaceFileReader>();
        QSignalSpy loaded(reader.get(), &WorkspaceFileReader::loaded);
        {
            StalledFiles files;
            files.stallReads();
            reader->open(path);
            QVERIFY2(!files.stalledOnTestThread(), "the file was read in the caller's thread");
            QTRY_COMPARE(files.stalledCalls(), 1);
            QCOMPARE(loaded.count(), 0);
            files.release();
            QTRY_COMPARE(loaded.count(), 1);
            QVERIFY(loaded.first().first().value<Workspace>() == workspace);
        }

        // Stalled again, the reader is destroyed (the program quits): that
        // returns without the read, which ends later and tells no one.
        StalledFiles files;
        files.stallReads();
        reader->open(path);
        QTRY_COMPARE(files.stalledCalls(), 1);
        reader.reset();
        QVERIFY2(!files.gaveUp(), "destroying the reader waited for the stalled read");
    }

    // The budget is the whole file's: two endpoints that each fit are
    // refused at the rule of the second that goes past it.
    void rulesPastTheFilesCompileBudgetAreRefusedAtTheirPlace()
    {
        const QByteArray half = costlyServer(200, 10000);
        QString problem;
        QVERIFY(!parseWorkspace(document(half + ", " + half), &problem));
        QVERIFY2(
            problem.startsWith(formatError + QStringLiteral("endpoints[1].rules[")), qPrintable(problem));
        QVERIFY2(problem.contains(QStringLiteral("规则使正则表达式编译后的总大小超出 32 MB")),
            qPrintable(problem));
    }

    // The reader going (a new file opened, the window closed, a signal in
    // a run without one) ends a check under way at its next rule.
    void aCheckUnderWayEndsWithItsReader()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("costly.pwws"));
        writeFile(path, document(costlyServer(MaxReplyRules, 500)));
        const quint64 before = RegexCode::compilations();
        auto reader = std::make_unique<WorkspaceFileReader>();
        reader->open(path);
        QTRY_VERIFY(RegexCode::compilations() > before);
        reader.reset();
        QVERIFY(RegexCode::compilations() - before < quint64(MaxReplyRules));
    }

    void aSaveReplacesOnlyARegularFileAndOnlyWithWhatOpensAgain()
    {
        QTemporaryDir dir;
        Workspace workspace;
        workspace.endpoints = {endpoint(EndpointKind::TcpServer, 1)};

        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QString error;
        QVERIFY(!saveWorkspaceFile(fifo, workspace, &error));
        QCOMPARE(error, QStringLiteral("无法保存工作区文件“%1”：不是普通文件").arg(fifo));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(fifo).constData(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode));

        // Linked to itself, it could not be opened again: nothing is written.
        const QString path = dir.filePath(QStringLiteral("self.pwws"));
        workspace.links = {{0, 0}};
        QVERIFY(!saveWorkspaceFile(path, workspace, &error));
        QCOMPARE(error,
            QStringLiteral("无法保存工作区文件“%1”：%2")
                .arg(path, formatError + QStringLiteral("links[0]：端点不能与自身建立监听管道")));
        QVERIFY(!QFile::exists(path));

        workspace.links.clear();
        error.clear();
        QVERIFY(!saveWorkspaceFile(dir.filePath(QStringLiteral("missing/x.pwws")), workspace, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstWorkspace)
#include "tst_workspace.moc"
