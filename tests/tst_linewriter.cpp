// The line writer: the caller never waits for a reader, memory stays within
// the queue's bounds, a gap left by dropped lines is marked where it is, a
// reader gone ends the writing without ending the process, and a reader that
// keeps up gets every line in order.
#include "core/linewriter.h"

#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Both ends of a pipe, closed at the end of the test.
struct Pipe {
    int read = -1;
    int write = -1;

    Pipe()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            read = ends[0];
            write = ends[1];
        }
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    void closeRead()
    {
        if (read >= 0)
            ::close(std::exchange(read, -1));
    }
    void closeWrite()
    {
        if (write >= 0)
            ::close(std::exchange(write, -1));
    }
    // Whatever can be read now, without waiting (the read end is
    // non-blocking).
    QByteArray readAvailable() const
    {
        QByteArray got;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(read, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return got;
        }
    }
};

QByteArray numbered(int i)
{
    return QByteArray("line ") + QByteArray::number(i).rightJustified(6, '0');
}

} // namespace

class TstLineWriter : public QObject {
    Q_OBJECT

private slots:
    void aPipeNobodyReadsNeitherHoldsTheCallerNorGrowsTheQueue()
    {
        Pipe pipe;
        QVERIFY(pipe.write >= 0);
        QVERIFY(::fcntl(pipe.read, F_SETFL, O_NONBLOCK) == 0);
        // The smallest pipe the system allows, so that it fills at once.
        QVERIFY(::fcntl(pipe.write, F_SETPIPE_SZ, 4096) >= 0);
        const LineWriter::Limits limits{100, 1000};
        LineWriter writer(pipe.write, limits);

        // On a thread of its own so that a caller held by the writer shows
        // as a count that stops, not as a test that hangs.
        constexpr int Lines = 20000;
        std::atomic<int> calls{0};
        qsizetype mostBytes = 0;
        qsizetype mostLines = 0;
        std::thread caller([&] {
            for (int i = 0; i < Lines; ++i) {
                writer.writeLine(numbered(i));
                mostBytes = std::max(mostBytes, writer.queuedBytes());
                mostLines = std::max(mostLines, writer.queuedLines());
                ++calls;
            }
        });
        // Liveness only (CI shares two cores): all calls return.
        QTRY_COMPARE_WITH_TIMEOUT(calls.load(), Lines, 60000);
        caller.join();
        QVERIFY2(mostBytes <= limits.bytes, qPrintable(QString::number(mostBytes)));
        QVERIFY2(mostLines <= limits.lines, qPrintable(QString::number(mostLines)));
        QVERIFY(writer.droppedLines() > 0);
        QVERIFY(writer.isWriting());

        // Read now: the dropped lines are marked at their place, and so is
        // the tail dropped before the next line that fits.
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += pipe.readAvailable(), writer.queuedLines() == 0), 30000);
        writer.writeLine("after");
        QTRY_VERIFY_WITH_TIMEOUT((output += pipe.readAvailable(), output.endsWith("after\n")), 30000);

        const QRegularExpression note(QStringLiteral("^标准输出的读取方跟不上，已丢弃 (\\d+) 行输出$"));
        const QList<QByteArray> lines = output.split('\n');
        int next = 0;
        qint64 dropped = 0;
        bool noteBefore = false;
        for (qsizetype i = 0; i + 2 < lines.size(); ++i) {
            const QRegularExpressionMatch match = note.match(QString::fromUtf8(lines.at(i)));
            if (match.hasMatch()) {
                QVERIFY2(!noteBefore, "two notes in a row");
                noteBefore = true;
                next += match.captured(1).toInt();
                dropped += match.captured(1).toInt();
                continue;
            }
            QCOMPARE(lines.at(i), numbered(next));
            ++next;
            noteBefore = false;
        }
        QCOMPARE(next, Lines);
        QCOMPARE(dropped, writer.droppedLines());
        QVERIFY(noteBefore); // the tail's note, just before "after"
        QCOMPARE(lines.at(lines.size() - 2), QByteArray("after"));
        QCOMPARE(writer.finish(), 0);
    }

    void theEndDoesNotWaitForAReaderThatNeverReads()
    {
        Pipe pipe;
        QVERIFY(pipe.write >= 0);
        const int pipeSize = ::fcntl(pipe.write, F_SETPIPE_SZ, 4096);
        QVERIFY(pipeSize > 0);
        LineWriter writer(pipe.write, {100, 100000});
        // More than the pipe holds, whenever the writer gets to write.
        for (int i = 0; i < 90; ++i)
            writer.writeLine(numbered(i) + QByteArray(990, 'x'));
        QCOMPARE(writer.droppedLines(), 0);
        QVERIFY(writer.queuedBytes() > pipeSize);
        // Returns (after LineWriter::FinishGrace) with what is left unwritten.
        QVERIFY(writer.finish() > 0);
        // The writer left behind in its write ends with EPIPE.
        pipe.closeRead();
    }

    void aReaderGoneEndsTheWritingButNotTheProcess()
    {
        Pipe pipe;
        QVERIFY(pipe.write >= 0);
        pipe.closeRead();
        LineWriter writer(pipe.write);
        writer.writeLine("nobody reads this");
        // Without SIGPIPE blocked the process ends here.
        QTRY_VERIFY_WITH_TIMEOUT(!writer.isWriting(), 30000);
        writer.writeLine("nor this");
        QCOMPARE(writer.queuedLines(), 0);
        QCOMPARE(writer.finish(), 0);
        // The caller's descriptor stays its own.
        QVERIFY(::fcntl(pipe.write, F_GETFD) >= 0);
    }

    void aReaderThatReadsGetsEveryLineInOrder()
    {
        Pipe pipe;
        QVERIFY(pipe.write >= 0);
        // A standard output another program made non-blocking.
        QVERIFY(::fcntl(pipe.write, F_SETFL, O_NONBLOCK) == 0);
        QVERIFY(::fcntl(pipe.write, F_SETPIPE_SZ, 4096) >= 0);
        QByteArray output;
        std::thread reader([&output, fd = pipe.read] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0)
                    output.append(buffer, n);
                else if (n == 0 || errno != EINTR)
                    return;
            }
        });
        constexpr int Lines = 5000;
        QByteArray expected;
        {
            LineWriter writer(pipe.write);
            for (int i = 0; i < Lines; ++i) {
                const QByteArray line = numbered(i) + " 收到数据：\"\\\t";
                writer.writeLine(line);
                expected += line + '\n';
            }
            QCOMPARE(writer.finish(), 0);
            QCOMPARE(writer.droppedLines(), 0);
        }
        pipe.closeWrite();
        reader.join();
        QCOMPARE(output.size(), expected.size());
        QCOMPARE(output, expected);
    }
};

QTEST_GUILESS_MAIN(TstLineWriter)
#include "tst_linewriter.moc"
