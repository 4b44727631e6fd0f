// Received bytes cut into messages: a delimiter ends its message however the
// reads split it, also across a cap boundary; a gap ends a message once the
// line is quiet; every byte comes out once and in order whatever the setup;
// a new setup applies to the bytes after it; a delimiter that never comes
// costs each byte one look.

#include "session/messageframer.h"
#include "support/growth.h"

#include <QtTest>

#include <cstring>

Q_DECLARE_METATYPE(SerialSetup)

namespace {

SerialSetup delimited(const QByteArray &delimiter, int cap = DefaultSerialMessageCap)
{
    SerialSetup setup;
    setup.framing = MessageFraming::Delimiter;
    setup.delimiter = delimiter;
    setup.messageCap = cap;
    return setup;
}

SerialSetup byGap(int gapMs, int cap = DefaultSerialMessageCap)
{
    SerialSetup setup;
    setup.framing = MessageFraming::Gap;
    setup.gapMs = gapMs;
    setup.messageCap = cap;
    return setup;
}

// Every message the framer emits, in order.
class Messages {
public:
    explicit Messages(MessageFramer &framer)
    {
        QObject::connect(
            &framer, &MessageFramer::message, [this](const QByteArray &bytes) { all.append(bytes); });
    }
    QByteArrayList all;
};

QString shown(const QByteArrayList &messages)
{
    QStringList shown;
    for (const QByteArray &message : messages)
        shown.append(QString::fromLatin1(message.toPercentEncoding()));
    return u'[' + shown.join(QStringLiteral(" | ")) + u']';
}

QTimer *quietTimer(MessageFramer &framer)
{
    return framer.findChild<QTimer *>();
}

// All 256 byte values in a different order each round, with the delimiter
// now and then and its beginning without its end more often.
QByteArray everyByteWith(const QByteArray &delimiter)
{
    QByteArray stream;
    for (int round = 0; round < 4; ++round) {
        for (int k = 0; k < 256; ++k) {
            stream.append(char((k * (2 * round + 1) + round) & 0xff));
            if (!delimiter.isEmpty() && k % 37 == round)
                stream.append(delimiter);
            if (delimiter.size() > 1 && k % 23 == 0)
                stream.append(delimiter.left(delimiter.size() - 1));
        }
    }
    return stream;
}

} // namespace

class TstMessageFramer : public QObject {
    Q_OBJECT

private slots:
    void aDelimiterEndsItsMessageWhereverTheReadsSplitIt_data()
    {
        QTest::addColumn<QByteArray>("delimiter");
        QTest::addColumn<int>("cap");
        QTest::addColumn<QByteArray>("stream");
        // What is left after the last delimiter comes from the flush at the end.
        QTest::addColumn<QByteArrayList>("messages");

        QTest::newRow("CRLF") << QByteArray("\r\n") << 4096 << QByteArray("AT\r\nOK\r\n\r\nrest")
                              << QByteArrayList{"AT\r\n", "OK\r\n", "\r\n", "rest"};
        QTest::newRow("a lone CR or LF ends nothing")
            << QByteArray("\r\n") << 4096 << QByteArray("a\rb\nc\r\r\n") << QByteArrayList{"a\rb\nc\r\r\n"};
        QTest::newRow("LF") << QByteArray("\n") << 4096 << QByteArray("\none\n\ntwo")
                            << QByteArrayList{"\n", "one\n", "\n", "two"};
        QTest::newRow("a delimiter that overlaps itself ends at its first whole")
            << QByteArray("aa") << 4096 << QByteArray("xaaay aaaa") << QByteArrayList{"xaa", "ay aa", "aa"};
        QTest::newRow("four bytes and false starts")
            << QByteArray("END!") << 4096 << QByteArray("xEND!EN D!END!END")
            << QByteArrayList{"xEND!", "EN D!END!", "END"};
        QTest::newRow("sixteen bytes") << QByteArray("0123456789abcdef") << 4096
                                       << QByteArray("01234567890123456789abcdefX0123456789abcde")
                                       << QByteArrayList{"01234567890123456789abcdef", "X0123456789abcde"};
        QTest::newRow("a long message in pieces of the cap") << QByteArray(
            "\n") << 4 << QByteArray("abcdefghij\nxy\n") << QByteArrayList{"abcd", "efgh", "ij\n", "xy\n"};
        QTest::newRow("a message of the cap exactly")
            << QByteArray("\n") << 3 << QByteArray("ab\ncd\n") << QByteArrayList{"ab\n", "cd\n"};
        QTest::newRow("the cap falls inside the CRLF")
            << QByteArray("\r\n") << 4 << QByteArray("abc\r\nxyz\r\nq")
            << QByteArrayList{"abc\r", "\n", "xyz\r", "\n", "q"};
        QTest::newRow("the cap falls inside a four-byte delimiter") << QByteArray(
            "END!") << 3 << QByteArray("abEND!cEND!") << QByteArrayList{"abE", "ND!", "cEN", "D!"};
        QTest::newRow("a cap of one byte")
            << QByteArray("\r\n") << 1 << QByteArray("a\r\nb") << QByteArrayList{"a", "\r", "\n", "b"};
        QTest::newRow("NUL and FF") << QByteArray("\x00\xff", 2) << 5
                                    << QByteArray("\xff\x00\x00\xff\x00\xff\xff", 7)
                                    << QByteArrayList{QByteArray("\xff\x00\x00\xff", 4),
                                           QByteArray("\x00\xff", 2), QByteArray("\xff")};
    }

    void aDelimiterEndsItsMessageWhereverTheReadsSplitIt()
    {
        QFETCH(QByteArray, delimiter);
        QFETCH(int, cap);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArrayList, messages);
        const auto framed = [&](const QList<QByteArray> &reads) {
            MessageFramer framer(delimited(delimiter, cap));
            Messages out(framer);
            for (const QByteArray &read : reads)
                framer.feed(read);
            framer.flush();
            return out.all;
        };
        // Three reads split at every two places, the empty ones included.
        for (qsizetype first = 0; first <= stream.size(); ++first) {
            for (qsizetype second = first; second <= stream.size(); ++second) {
                const QByteArrayList out
                    = framed({stream.left(first), stream.mid(first, second - first), stream.mid(second)});
                QVERIFY2(out == messages,
                    qPrintable(
                        QStringLiteral("split at %1 and %2: %3").arg(first).arg(second).arg(shown(out))));
            }
        }
        QByteArrayList bytes;
        for (const char byte : stream)
            bytes.append(QByteArray(1, byte));
        const QByteArrayList out = framed(bytes);
        QVERIFY2(out == messages, qPrintable(QStringLiteral("byte by byte: %1").arg(shown(out))));
    }

    void everyByteComesOutOnceAndInOrder_data()
    {
        QTest::addColumn<SerialSetup>("setup");
        QTest::newRow("each read, cap 7") << byGap(0, 7);
        QTest::newRow("gap, cap 64") << byGap(MaxSerialGapMs, 64);
        QTest::newRow("gap, cap 1") << byGap(MaxSerialGapMs, 1);
        QTest::newRow("LF") << delimited("\n");
        QTest::newRow("CRLF, cap 5") << delimited("\r\n", 5);
        QTest::newRow("CRLF, cap 1") << delimited("\r\n", 1);
        QTest::newRow("NUL FF, cap 3") << delimited(QByteArray("\x00\xff", 2), 3);
        QTest::newRow("aa, cap 2") << delimited("aa", 2);
        QTest::newRow("sixteen bytes, cap 16") << delimited("\xf0\xf1\xf2\xf3\xf4\xf5\xf6\xf7"
                                                            "\xf8\xf9\xfa\xfb\xfc\xfd\xfe\xff",
            16);
    }

    void everyByteComesOutOnceAndInOrder()
    {
        QFETCH(SerialSetup, setup);
        const bool byDelimiter = setup.framing == MessageFraming::Delimiter;
        const QByteArray stream = everyByteWith(byDelimiter ? setup.delimiter : QByteArray());
        MessageFramer framer(setup);
        Messages out(framer);
        // Reads of many sizes, most not a multiple of the cap.
        const int sizes[] = {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233};
        QByteArrayList reads;
        for (qsizetype at = 0, k = 0; at < stream.size(); at += reads.last().size(), ++k)
            reads.append(stream.mid(at, sizes[k % std::size(sizes)]));
        for (const QByteArray &read : reads) {
            framer.feed(read);
            QVERIFY(framer.heldBytes() < setup.messageCap);
        }
        framer.flush();

        QCOMPARE(out.all.join(), stream);
        for (const QByteArray &message : std::as_const(out.all)) {
            QVERIFY(!message.isEmpty());
            QVERIFY(message.size() <= setup.messageCap);
            // Nothing runs on past a delimiter.
            if (byDelimiter) {
                const qsizetype at = message.indexOf(setup.delimiter);
                QVERIFY2(
                    at < 0 || at == message.size() - setup.delimiter.size(), qPrintable(shown({message})));
            }
        }
        if (!byDelimiter && setup.gapMs == 0) {
            // Each read on its own, in pieces of the cap.
            QByteArrayList pieces;
            for (const QByteArray &read : std::as_const(reads)) {
                for (qsizetype at = 0; at < read.size(); at += setup.messageCap)
                    pieces.append(read.mid(at, setup.messageCap));
            }
            QCOMPARE(out.all, pieces);
        } else if (!byDelimiter) {
            // Nothing quiet during the test: pieces of the cap, then the flush.
            for (qsizetype k = 0; k + 1 < out.all.size(); ++k)
                QCOMPARE(out.all[k].size(), qsizetype(setup.messageCap));
        }
    }

    void aQuietGapEndsTheMessage()
    {
        MessageFramer framer(byGap(30));
        Messages out(framer);
        framer.feed("ab");
        framer.feed("cd");
        QCOMPARE(out.all, QByteArrayList());
        QTRY_COMPARE(out.all, QByteArrayList{"abcd"});
        QCOMPARE(framer.heldBytes(), 0);
        framer.feed("ef");
        QTRY_COMPARE(out.all, (QByteArrayList{"abcd", "ef"}));
    }

    void aGapOfZeroPassesEachReadOnAsItComes()
    {
        MessageFramer framer(byGap(0, 4));
        Messages out(framer);
        framer.feed("abc");
        QCOMPARE(out.all, QByteArrayList{"abc"});
        framer.feed("0123456789");
        QCOMPARE(out.all, (QByteArrayList{"abc", "0123", "4567", "89"}));
        QCOMPARE(framer.heldBytes(), 0);
        QVERIFY(!quietTimer(framer)->isActive());
    }

    // A prompt without a line end is shown once the line is quiet for a
    // while, not at the gap, which would cut lines a slow device writes in
    // bursts.
    void whatFollowsTheLastDelimiterComesOutOnceQuiet()
    {
        MessageFramer framer(delimited("\n"));
        Messages out(framer);
        QElapsedTimer clock;
        clock.start();
        framer.feed("ok\nlogin: ");
        QCOMPARE(out.all, QByteArrayList{"ok\n"});
        QTest::qWait(10 * DefaultSerialGapMs);
        // A busy machine may have slept past the quiet time already.
        if (clock.elapsed() < MessageFramer::QuietFlushMs)
            QCOMPARE(out.all, QByteArrayList{"ok\n"});
        QTRY_COMPARE_WITH_TIMEOUT(
            out.all, (QByteArrayList{"ok\n", "login: "}), 10 * MessageFramer::QuietFlushMs);
        // A coarse timer may fire up to a twentieth of its time early.
        QVERIFY(clock.elapsed() >= MessageFramer::QuietFlushMs - MessageFramer::QuietFlushMs / 20);
        QCOMPARE(framer.heldBytes(), 0);

        // A CR shown while quiet still ends its message by the LF after it.
        MessageFramer crlf(delimited("\r\n"));
        Messages lines(crlf);
        crlf.feed("ok\r");
        QTRY_COMPARE_WITH_TIMEOUT(lines.all, QByteArrayList{"ok\r"}, 10 * MessageFramer::QuietFlushMs);
        crlf.feed("\nnext\r\n");
        QCOMPARE(lines.all, (QByteArrayList{"ok\r", "\n", "next\r\n"}));
        QVERIFY(!quietTimer(crlf)->isActive());
    }

    void flushEndsTheMessageAndResetDropsIt()
    {
        MessageFramer framer(delimited("\r\n"));
        Messages out(framer);
        framer.flush();
        QCOMPARE(out.all, QByteArrayList());
        framer.feed("a\r");
        framer.flush();
        QCOMPARE(out.all, QByteArrayList{"a\r"});
        QVERIFY(!quietTimer(framer)->isActive());
        // After a flush the device may be another: its LF ends nothing.
        framer.feed("\nb\r\n");
        QCOMPARE(out.all, (QByteArrayList{"a\r", "\nb\r\n"}));

        framer.feed("c\r");
        framer.reset();
        QCOMPARE(framer.heldBytes(), 0);
        QVERIFY(!quietTimer(framer)->isActive());
        framer.feed("\nd\r\n");
        QCOMPARE(out.all, (QByteArrayList{"a\r", "\nb\r\n", "\nd\r\n"}));
    }

    void aNewSetupAppliesToTheBytesAfterIt()
    {
        MessageFramer framer(delimited("\n"));
        Messages out(framer);
        framer.feed("abc");
        // What does not frame changes nothing.
        SerialSetup sameFraming = delimited("\n");
        sameFraming.device = QStringLiteral("/dev/pts/9");
        sameFraming.baud = 9600;
        sameFraming.gapMs = 500;
        framer.setSetup(sameFraming);
        QCOMPARE(framer.heldBytes(), 3);
        QCOMPARE(out.all, QByteArrayList());

        framer.setSetup(byGap(0));
        QCOMPARE(out.all, QByteArrayList{"abc"});
        framer.feed("x\ny");
        QCOMPARE(out.all, (QByteArrayList{"abc", "x\ny"}));

        framer.setSetup(delimited("\r\n", 4));
        QCOMPARE(out.all.size(), 2);
        framer.feed("12345\r\nab\r");
        QCOMPARE(out.all, (QByteArrayList{"abc", "x\ny", "1234", "5\r\n"}));

        // Held bytes come out under the cap they came in with, and the CR
        // among them ends nothing under the new one.
        framer.setSetup(delimited("\r\n", 100));
        QCOMPARE(out.all.last(), QByteArray("ab\r"));
        framer.feed("\nz\r\n");
        QCOMPARE(out.all.last(), QByteArray("\nz\r\n"));

        framer.setSetup(byGap(MaxSerialGapMs));
        framer.feed("held");
        framer.setSetup(byGap(MaxSerialGapMs - 1));
        QCOMPARE(out.all.last(), QByteArray("held"));
        QCOMPARE(out.all.size(), 7);
    }

    void aFloodWithoutTheDelimiterComesOutWholeInPiecesOfTheCap()
    {
        MessageFramer framer(delimited("\r\n"));
        QByteArray read(64 * 1024, '\0');
        // Every byte value but LF, and CRs that begin no delimiter.
        for (qsizetype k = 0; k < read.size(); ++k)
            read[k] = char(k & 0xff) == '\n' ? 'n' : char(k & 0xff);
        constexpr int Reads = 800; // 50 MiB
        qint64 seen = 0;
        bool whole = true;
        QObject::connect(&framer, &MessageFramer::message, [&](const QByteArray &message) {
            const qsizetype at = seen % read.size();
            whole = whole && message.size() == DefaultSerialMessageCap && at + message.size() <= read.size()
                && std::memcmp(message.constData(), read.constData() + at, size_t(message.size())) == 0;
            seen += message.size();
        });
        for (int k = 0; k < Reads; ++k)
            framer.feed(read);
        QVERIFY(whole);
        QCOMPARE(seen, qint64(Reads) * read.size());
    }

    // A flood of one-byte messages is framed a time budget per pass; the
    // rest waits, and comes out whole and in order from the event loop.
    void aFloodOfTinyMessagesLeavesTheLoopItsTurn_data()
    {
        QTest::addColumn<SerialSetup>("setup");
        QTest::newRow("gap 0") << byGap(0, 1);
        QTest::newRow("gap 20") << byGap(20, 1);
        QTest::newRow("CR LF") << delimited("\r\n", 1);
        QTest::newRow("CR LF, cap 3") << delimited("\r\n", 3);
    }
    void aFloodOfTinyMessagesLeavesTheLoopItsTurn()
    {
        QFETCH(SerialSetup, setup);
        MessageFramer framer(setup);
        QByteArray flood(64 * 1024, 'x');
        for (qsizetype k = 0; k < flood.size(); k += 7) {
            flood[k] = '\r';
            flood[k + 1] = '\n';
        }
        QByteArray out;
        bool slow = true;
        QObject::connect(&framer, &MessageFramer::message, [&](const QByteArray &message) {
            out += message;
            QElapsedTimer busy;
            busy.start();
            while (slow && busy.nsecsElapsed() < 20'000) { }
        });
        framer.feed(flood.first(100));
        framer.feed(flood.sliced(100));
        QVERIFY2(out.size() < flood.size(), QByteArray::number(out.size()).constData());
        slow = false;
        QTRY_COMPARE_WITH_TIMEOUT(out.size(), flood.size(), 30'000);
        QVERIFY(out == flood);
    }

    // A naive framer searches all it holds again on each read: one message
    // twice as long then costs four times as much.
    void aDelimiterThatNeverComesCostsEachByteOneLook()
    {
        const QByteArray read(256, 'x');
        const auto feedNs = [&](bool twice) {
            MessageFramer framer(delimited("\r\n", MaxSerialMessageCap));
            const int reads = (twice ? 2 : 1) * MaxSerialMessageCap / 4 / int(read.size());
            return growth_test::cpuNs([&] {
                for (int k = 0; k < reads; ++k)
                    framer.feed(read);
            });
        };
        const growth_test::Fastest ns = growth_test::fastestAtNAndTwiceN(feedNs);
        qInfo("a message of %d and of %d bytes held, read by read: %lld and %lld us", MaxSerialMessageCap / 4,
            MaxSerialMessageCap / 2, ns.atN / 1000, ns.atTwiceN / 1000);
        QVERIFY2(ns.atTwiceN < 3 * ns.atN,
            qPrintable(QStringLiteral("%1 us, then %2 us").arg(ns.atN / 1000).arg(ns.atTwiceN / 1000)));
    }
};

QTEST_GUILESS_MAIN(TstMessageFramer)
#include "tst_messageframer.moc"
