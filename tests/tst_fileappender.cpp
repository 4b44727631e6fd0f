// The file appender: bytes reach the file in order without the caller
// waiting, within a second, and at stop or destruction; a write error or a
// disk that cannot keep up ends the appending with one report.

#include "core/fileappender.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int bytesWaitingIn(int pipe)
{
    int waiting = 0;
    return ::ioctl(pipe, FIONREAD, &waiting) == 0 ? waiting : -1;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<cannot be read>");
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

class TstFileAppender : public QObject {
    Q_OBJECT

private slots:
    void appendedBytesReachTheFileInOrderWithinASecondAndAtStop()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.txt"));
        {
            QFile existing(path);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("kept\n");
        }
        FileAppender appender;
        QCOMPARE(appender.open(path), QString());
        QVERIFY(appender.isOpen());
        QCOMPARE(appender.path(), path);
        QByteArray expected("kept\n");
        for (int i = 0; i < 2000; ++i) {
            const QByteArray line = QByteArray::number(i) + " 收到数据：\n";
            appender.append(line);
            expected += line;
        }
        // Without a stop, within a second.
        QTRY_COMPARE_WITH_TIMEOUT(fileBytes(path), expected, 1000);

        // What is still gathering is written at stop, not later.
        appender.append("last\n");
        appender.stop();
        QVERIFY(!appender.isOpen());
        QCOMPARE(fileBytes(path), expected + "last\n");
        appender.append("after stop\n");
        QCOMPARE(fileBytes(path), expected + "last\n");

        // Destruction is a stop.
        auto second = std::make_unique<FileAppender>();
        QCOMPARE(second->open(path), QString());
        second->append("from the second\n");
        second.reset();
        QCOMPARE(fileBytes(path), expected + "last\nfrom the second\n");
    }

    void aFileThatCannotBeOpenedIsRefusedAtOnce()
    {
        QTemporaryDir dir;
        FileAppender appender;
        QCOMPARE(appender.open(dir.filePath(QStringLiteral("missing/log.txt"))), systemText(ENOENT));
        QVERIFY(!appender.isOpen());
        appender.append("nowhere\n"); // ignored, no thread to hand it to
        appender.stop();
    }

    // /dev/full fails every write with ENOSPC, as a full disk does.
    void writeErrorIsReportedOnceAndLaterAppendsAreIgnored()
    {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("/dev/full is not there");
        FileAppender appender;
        QSignalSpy failures(&appender, &FileAppender::failed);
        QCOMPARE(appender.open(QStringLiteral("/dev/full")), QString());
        appender.append("one\n");
        QTRY_COMPARE(failures.size(), 1);
        QCOMPARE(failures.at(0).at(0).toString(), systemText(ENOSPC));
        for (int i = 0; i < 100; ++i)
            appender.append("more\n");
        QVERIFY(!failures.wait(300));
        QCOMPARE(failures.size(), 1);
        appender.stop();
    }

    // A reader that takes nothing stands for a disk that does not keep up:
    // the queue must not grow past its bound, and the appender says so.
    void aDiskThatCannotKeepUpIsReportedInsteadOfQueuedWithoutBound()
    {
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("slow")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        ::fcntl(reader, F_SETFL, 0);

        FileAppender appender;
        QSignalSpy failures(&appender, &FileAppender::failed);
        QCOMPARE(appender.open(QString::fromLocal8Bit(fifo)), QString());
        const QByteArray piece(1024 * 1024, 'x');
        const int pieces = int(FileAppender::MaxUnwrittenBytes / piece.size()) + 4;
        // Once the writer is held up in a write, the rest piles up behind it;
        // on a slow machine it might otherwise not have taken anything yet.
        appender.append(piece);
        QTRY_VERIFY(bytesWaitingIn(reader) > 0);
        for (int i = 1; i < pieces; ++i)
            appender.append(piece);
        QTRY_COMPARE(failures.size(), 1);
        QCOMPARE(failures.at(0).at(0).toString(), QStringLiteral("磁盘写入跟不上"));

        // The writer is held up in a write until the reader takes its bytes;
        // stopping waits for it, and closing the file ends the reading.
        qint64 drained = 0;
        std::thread drain([&] {
            char buffer[65536];
            ssize_t got;
            while ((got = ::read(reader, buffer, sizeof buffer)) > 0)
                drained += got;
        });
        appender.stop();
        drain.join();
        ::close(reader);
        QVERIFY(drained > 0);
        QVERIFY(drained < qint64(pieces) * piece.size());
        QCOMPARE(failures.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstFileAppender)
#include "tst_fileappender.moc"
