// A serial setup in words: its line form, its delimiter as text and back,
// and its place in a workspace: every field and value comes back as it was
// written, and a wrong type, a value out of range, an unknown choice or a
// bad delimiter is refused with the key it is under.

#include "session/serialsetup.h"
#include "session/workspace.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

Q_DECLARE_METATYPE(SerialSetup)
Q_DECLARE_METATYPE(SerialParity)

namespace {

const QString where = QStringLiteral("endpoints[2].serial");

SerialSetup onDevice(const QString &device = QStringLiteral("/dev/ttyUSB0"))
{
    SerialSetup setup;
    setup.device = device;
    return setup;
}

// The setup's object as it stands in a file, read back from its text.
QJsonObject inFile(const SerialSetup &setup)
{
    QJsonObject object;
    writeSerialSetup(setup, object);
    return QJsonDocument::fromJson(QJsonDocument(object).toJson()).object();
}

QJsonObject parsed(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("test data is not JSON: %s", json.constData());
    return document.object();
}

// Raw strings stay out of the test class, whose body moc cannot read with
// them. Keys of a later version beside those this one knows.
const QByteArray handWritten = R"({"device": "/dev/ttyACM0", "colour": "red", "parity": "even",
    "flow": "xonxoff", "framing": "delimiter", "delimiter": " 0d0a ", "stopBits": 2.0})";
const QByteArray deviceAlone = R"({"device": "/dev/pts/1"})";

// Every value of each choice and the ends of each range, one change a row.
void addEveryFieldAndValue()
{
    QTest::addColumn<SerialSetup>("setup");
    QTest::newRow("defaults") << onDevice();
    QTest::newRow("a long device path, not ASCII")
        << onDevice(QStringLiteral("/dev/serial/by-id/usb-Ünï_\"q\"_") + QString(4000, u'x'));
    QTest::newRow("the longest device path") << onDevice(u'/' + QString(MaxDevicePathLength - 1, u'd'));
    for (const std::uint32_t baud : {1U, 300U, 9600U, 250'000U, MaxSerialBaud}) {
        SerialSetup setup = onDevice();
        setup.baud = baud;
        QTest::addRow("%u baud", baud) << setup;
    }
    for (const int bits : {5, 6, 7}) {
        SerialSetup setup = onDevice();
        setup.dataBits = bits;
        QTest::addRow("%d data bits", bits) << setup;
    }
    for (const SerialParity parity :
        {SerialParity::Odd, SerialParity::Even, SerialParity::Mark, SerialParity::Space}) {
        SerialSetup setup = onDevice();
        setup.parity = parity;
        QTest::addRow("parity %d", int(parity)) << setup;
    }
    SerialSetup twoStops = onDevice();
    twoStops.stopBits = 2;
    QTest::newRow("two stop bits") << twoStops;
    for (const SerialFlow flow : {SerialFlow::RtsCts, SerialFlow::XonXoff}) {
        SerialSetup setup = onDevice();
        setup.flow = flow;
        QTest::addRow("flow %d", int(flow)) << setup;
    }
    SerialSetup linesLow = onDevice();
    linesLow.dtr = false;
    linesLow.rts = false;
    linesLow.autoReconnect = false;
    QTest::newRow("DTR and RTS low, no reconnecting") << linesLow;
    SerialSetup dtrOnly = onDevice();
    dtrOnly.rts = false;
    QTest::newRow("DTR alone") << dtrOnly;
    for (const int gap : {0, 1, MaxSerialGapMs}) {
        SerialSetup setup = onDevice();
        setup.gapMs = gap;
        QTest::addRow("gap %d ms", gap) << setup;
    }
    for (const int cap : {1, MaxSerialMessageCap}) {
        SerialSetup setup = onDevice();
        setup.messageCap = cap;
        QTest::addRow("cap %d", cap) << setup;
    }
    QByteArray everyLength;
    for (int k = 0; k < MaxSerialDelimiterBytes; ++k)
        everyLength.append(char(0xff - k * 17));
    for (const QByteArray &delimiter : {QByteArray("\r"), QByteArray("\r\n"), QByteArray("\n\r"),
             QByteArray(1, '\0'), QByteArray("\x03"), QByteArray("\xff\xfe"), everyLength}) {
        SerialSetup setup = onDevice();
        setup.framing = MessageFraming::Delimiter;
        setup.delimiter = delimiter;
        QTest::addRow("delimiter %s", delimiter.toHex(' ').constData()) << setup;
    }
}

void addRefusedValues()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("what");
    const QByteArray device = R"("device": "/dev/pts/3")";
    const auto with = [&device](const QByteArray &more) { return '{' + device + ", " + more + '}'; };

    QTest::newRow("no device") << QByteArray(R"({"baud": 9600})") << "device"
                               << "缺失";
    QTest::newRow("device as number") << QByteArray(R"({"device": 3})") << "device"
                                      << "应为文本";
    QTest::newRow("empty device") << QByteArray(R"({"device": ""})") << "device"
                                  << "不能为空";
    QTest::newRow("device too long") << QByteArray(R"({"device": "/)" + QByteArray(MaxDevicePathLength, 'd')
        + "\"}") << "device"
                                     << "过长：4096 个字符，最多 4095 个";
    QTest::newRow("baud as text") << with(R"("baud": "9600")") << "baud"
                                  << "应为整数";
    QTest::newRow("baud not whole") << with(R"("baud": 9600.5)") << "baud"
                                    << "应为整数";
    for (const QByteArray &baud :
        {QByteArray("0"), QByteArray("-9600"), QByteArray("20000001"), QByteArray("1e12")})
        QTest::addRow("baud %s", baud.constData()) << with(R"("baud": )" + baud) << "baud"
                                                   << "超出范围（1～20000000）";
    for (const QByteArray &bits : {QByteArray("4"), QByteArray("9")})
        QTest::addRow("%s data bits", bits.constData()) << with(R"("dataBits": )" + bits) << "dataBits"
                                                        << "超出范围（5～8）";
    for (const QByteArray &bits : {QByteArray("0"), QByteArray("3")})
        QTest::addRow("%s stop bits", bits.constData()) << with(R"("stopBits": )" + bits) << "stopBits"
                                                        << "超出范围（1～2）";
    QTest::newRow("stop bits as 1.5") << with(R"("stopBits": 1.5)") << "stopBits"
                                      << "应为整数";
    QTest::newRow("parity as a letter") << with(R"("parity": "N")") << "parity"
                                        << "未知的取值“N”（可为：none, odd, even, mark, space）";
    QTest::newRow("parity as number") << with(R"("parity": 0)") << "parity"
                                      << "应为文本";
    QTest::newRow("flow in capitals") << with(R"("flow": "RTSCTS")") << "flow"
                                      << "未知的取值“RTSCTS”（可为：none, rtscts, xonxoff）";
    QTest::newRow("flow as null") << with(R"("flow": null)") << "flow"
                                  << "应为文本";
    QTest::newRow("unknown framing") << with(R"("framing": "line")") << "framing"
                                     << "未知的取值“line”（可为：gap, delimiter）";
    QTest::newRow("DTR as number") << with(R"("dtr": 1)") << "dtr"
                                   << "应为 true 或 false";
    QTest::newRow("RTS as text") << with(R"("rts": "true")") << "rts"
                                 << "应为 true 或 false";
    QTest::newRow("reconnecting as text") << with(R"("autoReconnect": "yes")") << "autoReconnect"
                                          << "应为 true 或 false";
    QTest::newRow("negative gap") << with(R"("gapMs": -1)") << "gapMs"
                                  << "超出范围（0～60000）";
    QTest::newRow("gap too long") << with(R"("gapMs": 60001)") << "gapMs"
                                  << "超出范围（0～60000）";
    QTest::newRow("cap 0") << with(R"("messageCap": 0)") << "messageCap"
                           << "超出范围（1～1048576）";
    QTest::newRow("cap too large") << with(R"("messageCap": 1048577)") << "messageCap"
                                   << "超出范围（1～1048576）";
    QTest::newRow("delimiter as bytes") << with(R"("delimiter": [13, 10])") << "delimiter"
                                        << "应为文本";
    QTest::newRow("empty delimiter") << with(R"("delimiter": " ")") << "delimiter"
                                     << "分隔符不能为空";
    QTest::newRow("delimiter not hex") << with(R"("delimiter": "0D 0G")") << "delimiter"
                                       << "“G”不是十六进制数字";
    QTest::newRow("delimiter as an escape") << with(R"("delimiter": "\\r\\n")") << "delimiter"
                                            << "“\\”不是十六进制数字";
    QTest::newRow("delimiter with half a byte") << with(R"("delimiter": "0D A")") << "delimiter"
                                                << "“A”的十六进制数字个数为奇数，每个字节需两位";
    QTest::newRow("delimiter too long")
        << with(R"("delimiter": ")" + QByteArray(34, 'a') + "\"") << "delimiter"
        << "分隔符过长：17 个字节，最多 16 个";
    // Types are checked for every key before any range.
    QTest::newRow("the first problem") << with(R"("baud": 0, "parity": "x", "gapMs": "20")") << "parity"
                                       << "未知的取值“x”";
    QTest::newRow("the first range") << with(R"("dataBits": 9, "baud": 0)") << "baud"
                                     << "超出范围";
}

} // namespace

class TstSerialSetup : public QObject {
    Q_OBJECT

private slots:
    void everyFieldAndValueComesBackAsWritten_data() { addEveryFieldAndValue(); }

    void everyFieldAndValueComesBackAsWritten()
    {
        QFETCH(SerialSetup, setup);
        QCOMPARE(serialSetupProblem(setup, where), QString());
        const QJsonObject object = inFile(setup);
        const QStringList keys = {"autoReconnect", "baud", "dataBits", "delimiter", "device", "dtr", "flow",
            "framing", "gapMs", "messageCap", "parity", "rts", "stopBits"};
        QCOMPARE(object.keys(), keys);
        QString problem = QStringLiteral("not emptied");
        const std::optional<SerialSetup> read = readSerialSetup(object, where, &problem);
        QCOMPARE(problem, QString());
        QVERIFY(read);
        QVERIFY(*read == setup);
    }

    void aHandWrittenSetupTakesDefaultsAndIgnoresUnknownKeys()
    {
        QString problem;
        std::optional<SerialSetup> read = readSerialSetup(parsed(handWritten), where, &problem);
        QCOMPARE(problem, QString());
        QVERIFY(read);
        SerialSetup expected = onDevice(QStringLiteral("/dev/ttyACM0"));
        expected.parity = SerialParity::Even;
        expected.flow = SerialFlow::XonXoff;
        expected.framing = MessageFraming::Delimiter;
        expected.delimiter = "\r\n";
        expected.stopBits = 2;
        QVERIFY(*read == expected);

        read = readSerialSetup(parsed(deviceAlone), where, &problem);
        QVERIFY(read);
        QVERIFY(*read == onDevice(QStringLiteral("/dev/pts/1")));
    }

    void aWrongValueIsRefusedWithItsKey_data() { addRefusedValues(); }

    void aWrongValueIsRefusedWithItsKey()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, key);
        QFETCH(QString, what);
        QString problem;
        QVERIFY(!readSerialSetup(parsed(json), where, &problem));
        const QString expected = QStringLiteral("工作区文件格式错误：") + where + u'.' + key + u'：' + what;
        QVERIFY2(problem.startsWith(expected), qPrintable(problem));
    }

    // What the reader cannot be given, a workspace in memory may hold.
    void aSetupInMemoryIsCheckedAsAFileIs()
    {
        SerialSetup setup = onDevice();
        setup.delimiter.clear();
        QCOMPARE(serialSetupProblem(setup, where),
            QStringLiteral("工作区文件格式错误：endpoints[2].serial.delimiter：分隔符不能为空"));
        setup.delimiter = QByteArray(MaxSerialDelimiterBytes + 1, '\n');
        QCOMPARE(serialSetupProblem(setup, QString()),
            QStringLiteral("工作区文件格式错误：delimiter：分隔符过长：17 个字节，最多 16 个"));
        setup = onDevice();
        setup.parity = SerialParity(7);
        QVERIFY(serialSetupProblem(setup, where).contains(QStringLiteral("serial.parity：未知的取值“7”")));
    }

    void theLineFormNamesRateDataBitsParityAndStopBits_data()
    {
        QTest::addColumn<std::uint32_t>("baud");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<SerialParity>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<QString>("form");
        QTest::newRow("8N1") << 115200U << 8 << SerialParity::None << 1 << "115200 8N1";
        QTest::newRow("7E2") << 9600U << 7 << SerialParity::Even << 2 << "9600 7E2";
        QTest::newRow("odd") << 300U << 5 << SerialParity::Odd << 1 << "300 5O1";
        QTest::newRow("mark") << 1U << 6 << SerialParity::Mark << 2 << "1 6M2";
        QTest::newRow("space") << MaxSerialBaud << 8 << SerialParity::Space << 1 << "20000000 8S1";
    }

    void theLineFormNamesRateDataBitsParityAndStopBits()
    {
        QFETCH(std::uint32_t, baud);
        QFETCH(int, dataBits);
        QFETCH(SerialParity, parity);
        QFETCH(int, stopBits);
        QFETCH(QString, form);
        SerialSetup setup;
        setup.baud = baud;
        setup.dataBits = dataBits;
        setup.parity = parity;
        setup.stopBits = stopBits;
        QCOMPARE(serialLineForm(setup), form);
    }

    void aDelimiterTextStandsForItsBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        // As written back: the name, or the bytes in hex.
        QTest::addColumn<QString>("written");
        QTest::newRow("CR") << "CR" << QByteArray("\r") << "CR";
        QTest::newRow("LF") << "LF" << QByteArray("\n") << "LF";
        QTest::newRow("CRLF") << "CRLF" << QByteArray("\r\n") << "CRLF";
        QTest::newRow("names in any case, blanks around") << " crLf\t" << QByteArray("\r\n") << "CRLF";
        QTest::newRow("hex of a name") << "0d" << QByteArray("\r") << "CR";
        QTest::newRow("spaced") << "0D 0A" << QByteArray("\r\n") << "CRLF";
        QTest::newRow("run together") << "0d0a0d" << QByteArray("\r\n\r") << "0D 0A 0D";
        QTest::newRow("both") << "0D0A  0a\t0D" << QByteArray("\r\n\n\r") << "0D 0A 0A 0D";
        QTest::newRow("ETX") << "03" << QByteArray("\x03") << "03";
        QTest::newRow("NUL") << "00" << QByteArray(1, '\0') << "00";
        QTest::newRow("sixteen bytes")
            << "000102030405060708090a0b0c0d0e0f" << QByteArray::fromHex("000102030405060708090a0b0c0d0e0f")
            << "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
    }

    void aDelimiterTextStandsForItsBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, written);
        QString problem = QStringLiteral("not emptied");
        QCOMPARE(serialDelimiterFromText(text, &problem).value_or("none"), bytes);
        QCOMPARE(problem, QString());
        QCOMPARE(serialDelimiterText(bytes), written);
    }

    void everyByteValueComesBackFromItsDelimiterText()
    {
        for (int value = 0; value < 256; ++value) {
            for (const QByteArray &delimiter : {QByteArray(1, char(value)), QByteArray(2, char(value)),
                     QByteArray(MaxSerialDelimiterBytes, char(value))}) {
                const QString text = serialDelimiterText(delimiter);
                QString problem;
                QCOMPARE(serialDelimiterFromText(text, &problem).value_or("none"), delimiter);
            }
        }
    }

    void aTextThatIsNoDelimiterSaysWhy_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("why");
        QTest::newRow("nothing") << ""
                                 << "分隔符不能为空";
        QTest::newRow("blanks") << " \t "
                                << "分隔符不能为空";
        QTest::newRow("a name run on") << "CRLFX"
                                       << "“R”不是十六进制数字";
        QTest::newRow("an escape") << "\\n"
                                   << "“\\”不是十六进制数字";
        QTest::newRow("a prefix") << "0x0D"
                                  << "“x”不是十六进制数字";
        QTest::newRow("full-width digits") << "０Ａ"
                                           << "“０”不是十六进制数字";
        QTest::newRow("half a byte") << "0D A"
                                     << "“A”的十六进制数字个数为奇数，每个字节需两位";
        QTest::newRow("an odd run") << "0D0"
                                    << "“0D0”的十六进制数字个数为奇数，每个字节需两位";
        QTest::newRow("seventeen bytes") << QString(34, u'f') << "分隔符过长：17 个字节，最多 16 个";
    }

    void aTextThatIsNoDelimiterSaysWhy()
    {
        QFETCH(QString, text);
        QFETCH(QString, why);
        QString problem;
        QVERIFY(!serialDelimiterFromText(text, &problem));
        QCOMPARE(problem, why);
    }
};

QTEST_GUILESS_MAIN(TstSerialSetup)
#include "tst_serialsetup.moc"
