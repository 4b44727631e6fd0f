// The lines a run without a window writes: whatever the bytes and the
// window's line hold, the text line is one line and the JSON line is one
// valid JSON object that gives the fields back.
#include "session/headlesslines.h"

#include "core/logtexts.h"
#include "session/logentry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <ctime>

namespace {

HeadlessLine lineOf(const QByteArray &bytes, const QString &windowLine, const QString &peer = {})
{
    HeadlessLine line;
    line.time = 1714543533042; // 2024-05-01T06:05:33.042Z
    line.endpoint = QStringLiteral("127.0.0.1[5000]");
    line.peer = peer;
    line.direction = LineDirection::Received;
    line.bytes = bytes;
    line.line = windowLine;
    return line;
}

} // namespace

class TstHeadlessLines : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A zone without summer time that needs no zone database.
        qputenv("TZ", "CST-8");
        tzset();
    }

    void everyLineIsOneValidObject_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("windowLine");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("text"); // what "text" must give back
        QTest::newRow("plain") << QByteArray("AB") << QStringLiteral("14:05:33 收到数据：AB") << QString()
                               << QStringLiteral("AB");
        QTest::newRow("line breaks") << QByteArray("one\r\ntwo\rthree\n")
                                     << QStringLiteral("14:05:33 收到数据：one\ntwo\nthree\n")
                                     << QStringLiteral("10.0.0.2[40000]")
                                     << QStringLiteral("one\r\ntwo\rthree\n");
        QTest::newRow("controls") << QByteArray("\x01\x1b[2J\x7f\t", 7) << QStringLiteral("\x01\x1b[2J\x7f\t")
                                  << QString() << QStringLiteral("\x01\x1b[2J\x7f\t");
        QTest::newRow("zero bytes") << QByteArray("a\0b\0", 4)
                                    << QString(QStringLiteral("a") + QChar(0) + u'b') << QString()
                                    << QString(QStringLiteral("a") + QChar(0) + u'b' + QChar(0));
        QTest::newRow("quotes and backslashes") << QByteArray(R"("\"\\)") << QStringLiteral(R"(say "hi" \n\)")
                                                << QStringLiteral(R"(p"\)") << QStringLiteral(R"("\"\\)");
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe\xc3(\xe4\xb8") << QStringLiteral("ÿþÃ(")
                                   << QString() << QString::fromUtf8("\xff\xfe\xc3(\xe4\xb8");
        QTest::newRow("line separators")
            << QByteArray("\xe2\x80\xa8|\xe2\x80\xa9") << QString(QChar(0x2028)) << QString()
            << QString(QChar(0x2028) + QStringLiteral("|") + QChar(0x2029));
        QTest::newRow("surrogates") << QByteArray("\xf0\x9f\x98\x80")
                                    << QString(QChar(0xd800) + QStringLiteral("x")) << QString()
                                    << QString::fromUtf8("\xf0\x9f\x98\x80");
    }
    void everyLineIsOneValidObject()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, windowLine);
        QFETCH(QString, peer);
        QFETCH(QString, text);
        const HeadlessLine line = lineOf(bytes, windowLine, peer);

        const QByteArray json = headlessJsonLine(line);
        QVERIFY2(!json.contains('\n') && !json.contains('\r'), json.constData());
        QVERIFY2(!json.contains("\xe2\x80\xa8") && !json.contains("\xe2\x80\xa9"), json.constData());
        QVERIFY2(json.startsWith(R"({"time":"2024-05-01T14:05:33.042+08:00","endpoint":"127.0.0.1[5000]",)"),
            json.constData());
        QCOMPARE(QString::fromUtf8(json).toUtf8(), json); // valid UTF-8 throughout
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(json, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + ": " + json));
        QVERIFY(document.isObject());
        const QJsonObject object = document.object();
        QCOMPARE(object.size(), 7);
        QCOMPARE(object.value("endpoint").toString(), line.endpoint);
        if (peer.isEmpty())
            QVERIFY(object.value("peer").isNull());
        else
            QCOMPARE(object.value("peer").toString(), peer);
        QCOMPARE(object.value("direction").toString(), QStringLiteral("received"));
        QCOMPARE(object.value("text").toString(), text);
        QCOMPARE(object.value("hex").toString(), QString::fromLatin1(bytes.toHex(' ').toUpper()));
        if (!QStringView(windowLine).contains(QChar(0xd800)))
            QCOMPARE(object.value("line").toString(), windowLine);
        else // a lone surrogate has no UTF-8 form
            QCOMPARE(object.value("line").toString(), QString(QChar(QChar::ReplacementCharacter) + u'x'));

        const QByteArray textLine = headlessTextLine(line);
        QVERIFY2(!textLine.contains('\n') && !textLine.contains('\r'), textLine.constData());
        for (char c = 1; c < 0x20; ++c) {
            if (c != '\t')
                QVERIFY2(!textLine.contains(c), textLine.constData());
        }
        QVERIFY(!textLine.contains('\0') && !textLine.contains('\x7f'));
        const QString prefix = QStringLiteral("2024-05-01T14:05:33.042+08:00 127.0.0.1[5000] ")
            + (peer.isEmpty() ? QString() : peer + u' ');
        QVERIFY2(QString::fromUtf8(textLine).startsWith(prefix), textLine.constData());
    }

    void textLinesShowControlsAsPictures()
    {
        HeadlessLine line
            = lineOf("x\r\ny", QStringLiteral("收到数据：x\ny\x1b\x7f\tz"), QStringLiteral("10.0.0.2[1]"));
        QCOMPARE(QString::fromUtf8(headlessTextLine(line)),
            QStringLiteral("2024-05-01T14:05:33.042+08:00 127.0.0.1[5000] 10.0.0.2[1] "
                           "收到数据：x\u240ay\u241b\u2421\tz"));
        // Long enough that the controls fall inside the eight-byte steps of
        // the scan, one step holding nothing but tabs.
        HeadlessLine longer = line;
        longer.line = QStringLiteral("0123456\x7f\t\t\t\t\t\t\t\tabcdefg\x01\x1bxxxxxxxxxxxxxxx\x1f");
        QCOMPARE(QString::fromUtf8(headlessTextLine(longer)),
            QStringLiteral("2024-05-01T14:05:33.042+08:00 127.0.0.1[5000] 10.0.0.2[1] "
                           "0123456\u2421\t\t\t\t\t\t\t\tabcdefg\u2401\u241bxxxxxxxxxxxxxxx\u241f"));
        line.direction = LineDirection::Note;
        line.bytes.clear();
        line.peer.clear();
        line.time = 0;
        QCOMPARE(headlessJsonLine(line),
            QByteArray(R"({"time":"1970-01-01T08:00:00.000+08:00","endpoint":"127.0.0.1[5000]","peer":null,)"
                       R"("direction":"note","text":"","hex":"","line":"收到数据：x\ny\u001b\u007f\tz"})"));
        QCOMPARE(directionName(LineDirection::Sent), QStringLiteral("sent"));
        QCOMPARE(directionName(LineDirection::Reply), QStringLiteral("reply"));
    }

    // A received piece or a reply that the log shows as it is is written
    // from its bytes rather than from the window's line; either way the line
    // is the same.
    void bytesWrittenAsTheWindowShowsThem_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("asTheyAre");
        const QByteArray plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdef";
        QTest::newRow("plain") << plain << true;
        QTest::newRow("short") << QByteArray("ok") << true;
        QTest::newRow("controls") << QByteArray(plain).insert(17, "\n\t\x1b\x7f") << true;
        QTest::newRow("CR") << QByteArray(plain).insert(20, '\r') << false;
        QTest::newRow("CR LF at the end") << plain + "\r\n" << false;
        QTest::newRow("zero byte") << QByteArray(plain).insert(18, '\0') << false;
        QTest::newRow("UTF-8") << QByteArray(plain).insert(30, "\xc3\xa9") << false;
        QTest::newRow("not UTF-8") << QByteArray(plain).insert(3, '\xff') << false;
    }
    void bytesWrittenAsTheWindowShowsThem()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, asTheyAre);
        for (const LogEntry::Kind kind : {LogEntry::Kind::Received, LogEntry::Kind::Reply}) {
            LogEntry entry;
            entry.time = 1714543533042;
            entry.kind = kind;
            entry.data = bytes;
            HeadlessLine line = lineOf(bytes, entryLine(entry, false), QStringLiteral("10.0.0.2[1]"));
            const QByteArray windows = headlessTextLine(line);
            const std::optional<QString> head = bytesLineHead(entry, false);
            QCOMPARE(head.has_value(), asTheyAre);
            if (head) {
                line.line = *head;
                QCOMPARE(headlessTextLineEndingInBytes(line), windows);
            }
            entry.hex = true;
            QVERIFY(!bytesLineHead(entry, false));
        }
        // A reply longer than the log shows whole is cut in the window's line.
        LogEntry longReply;
        longReply.kind = LogEntry::Kind::Reply;
        longReply.data = QByteArray(LoggedReplyBytes + 1, 'r');
        QVERIFY(!bytesLineHead(longReply, false));
    }
};

QTEST_GUILESS_MAIN(TstHeadlessLines)
#include "tst_headlesslines.moc"
