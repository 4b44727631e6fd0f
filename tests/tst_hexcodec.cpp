#include "core/hexcodec.h"

#include <QtTest>

class TstHexCodec : public QObject {
    Q_OBJECT

private slots:
    void byteToHexGivesTwoUppercaseDigitsForEveryByte()
    {
        for (int b = 0; b < 256; ++b)
            QCOMPARE(ByteToHex(quint8(b)), QString::asprintf("%02X", b));
    }

    void bytesToHexAndBlock_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("block");
        QTest::newRow("empty") << QByteArray() << ""
                               << "{}";
        QTest::newRow("AB") << QByteArray("AB") << "41 42 "
                            << "{41 42 }";
        QTest::newRow("zero and ff") << QByteArray("\x00\xff", 2) << "00 FF "
                                     << "{00 FF }";
        QTest::newRow("low nibble only") << QByteArray("\x0f") << "0F "
                                         << "{0F }";
    }
    void bytesToHexAndBlock()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, hex);
        QFETCH(QString, block);
        QCOMPARE(BytesToHex(data), hex);
        QCOMPARE(HexBlock(data), block);
    }

    void bytesToHexCoversAllByteValues()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString hex = BytesToHex(all);
        QCOMPARE(hex.size(), 256 * 3);
        for (int b = 0; b < 256; ++b)
            QCOMPARE(hex.mid(b * 3, 3), QString::asprintf("%02X ", b));
    }

    void hexToInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("41") << "41" << 0x41;
        QTest::newRow("lowercase") << "ff" << 255;
        QTest::newRow("mixed case") << "aB" << 0xAB;
        QTest::newRow("blank first is zero") << " 4" << 4;
        QTest::newRow("blank last is zero") << "4 " << 0x40;
        QTest::newRow("not a digit is zero") << "g1" << 1;
        QTest::newRow("long") << "7FFFFFFF" << 0x7FFFFFFF;
        QTest::newRow("wraps at 32 bits") << "100000001" << 1;
    }
    void hexToInt()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(HexToInt(text), value);
    }

    void hexTextToBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("pairs") << "4142" << QByteArray("AB");
        QTest::newRow("blank splits pieces") << "41 42" << QByteArray("\x41\x04", 2);
        QTest::newRow("odd last dropped") << "414" << QByteArray("A");
        QTest::newRow("single digit sends nothing") << "4" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("lowercase") << "ff" << QByteArray("\xff");
        QTest::newRow("a1 equals A1") << "a1A1" << QByteArray("\xa1\xa1");
        QTest::newRow("zero byte") << "00" << QByteArray("\x00", 1);
        QTest::newRow("non-digit counts as 0") << "zz4g" << QByteArray("\x00\x40", 2);
        // A line break is CR LF: "41", CR LF (both 0) and "42".
        QTest::newRow("line break") << "41\n42" << QByteArray("\x41\x00\x42", 3);
        // Multi-byte characters count by their bytes.
        QTest::newRow("wide character")
            << QStringLiteral("中41") << QByteArray("\x00\x04", 2); // E4 B8 AD 34 31
    }
    void hexTextToBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(HexTextToBytes(text), bytes);
    }

    void sendBoxBytesUsesCrLf()
    {
        QCOMPARE(SendBoxBytes(QStringLiteral("a\nb\n")), QByteArray("a\r\nb\r\n"));
        QCOMPARE(SendBoxBytes(QStringLiteral("中")), QByteArray("\xe4\xb8\xad"));
    }

    void hexKeysAreDigitsAndBackspaceOnly()
    {
        const QString allowed = QStringLiteral("0123456789ABCDEFabcdef");
        for (int c = 0; c < 0x3000; ++c) {
            const QChar ch(c);
            QCOMPARE(IsHexKey(ch), c == 8 || allowed.contains(ch));
        }
    }
};

QTEST_GUILESS_MAIN(TstHexCodec)
#include "tst_hexcodec.moc"
