// The file appender: bytes reach the file in order without the caller
// waiting, within a second, and at stop or destruction; a write error or a
// disk that cannot keep up ends the appending with one report; only regular
// files are opened, and a file system that stops answering holds neither the
// stop nor the end of the process.

#include "core/fileappender.h"
#include "support/stalledfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
        QCOMPARE(appender.stop(), 0);
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

    void writeErrorIsReportedOnceAndLaterAppendsAreIgnored()
    {
        QTemporaryDir dir;
        StalledFiles files;
        files.failWrites(ENOSPC); // a full disk
        FileAppender appender;
        QSignalSpy failures(&appender, &FileAppender::failed);
        QCOMPARE(appender.open(dir.filePath(QStringLiteral("full.log"))), QString());
        appender.append("one\n");
        QTRY_COMPARE(failures.size(), 1);
        QCOMPARE(failures.at(0).at(0).toString(), systemText(ENOSPC));
        for (int i = 0; i < 100; ++i)
            appender.append("more\n");
        QVERIFY(!failures.wait(300));
        QCOMPARE(failures.size(), 1);
        QCOMPARE(appender.stop(), 0);
    }

    // A file system that takes nothing more stands for a disk that does not
    // keep up: the queue must not grow past its bound, and the appender says
    // so.
    void aDiskThatCannotKeepUpIsReportedInsteadOfQueuedWithoutBound()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("slow.log"));
        StalledFiles files;
        files.stallWrites();
        FileAppender appender;
        QSignalSpy failures(&appender, &FileAppender::failed);
        QCOMPARE(appender.open(path), QString());
        const QByteArray piece(1024 * 1024, 'x');
        const int pieces = int(FileAppender::MaxUnwrittenBytes / piece.size()) + 4;
        // Once the writer is held up in a write, the rest piles up behind it;
        // on a slow machine it might otherwise not have taken anything yet.
        appender.append(piece);
        QTRY_COMPARE(files.stalledCalls(), 1);
        for (int i = 1; i < pieces; ++i)
            appender.append(piece);
        QTRY_COMPARE(failures.size(), 1);
        QCOMPARE(failures.at(0).at(0).toString(), QStringLiteral("磁盘写入跟不上"));

        // The writer finishes the write it was held up in and nothing more.
        files.release();
        QCOMPARE(appender.stop(), 0);
        QCOMPARE(QFileInfo(path).size(), piece.size());
        QCOMPARE(failures.size(), 1);
        QVERIFY(!files.gaveUp());
    }

    // A named pipe nobody reads would hold open() until a reader comes, and
    // a device is no file to keep a log in.
    void whatIsNotARegularFileIsRefusedAtOnce()
    {
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("pipe")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        FileAppender appender;
        {
            FifoRescue rescue(fifo, O_RDONLY);
            const QString error = appender.open(QString::fromLocal8Bit(fifo));
            rescue.disarm();
            QVERIFY2(!rescue.rescued(), "open() waited for a reader of the pipe");
            QCOMPARE(error, QStringLiteral("不是普通文件"));
        }
        QVERIFY(!appender.isOpen());
        QCOMPARE(appender.open(QStringLiteral("/dev/null")), QStringLiteral("不是普通文件"));
        QVERIFY(!appender.isOpen());
        QCOMPARE(appender.open(dir.path()), QStringLiteral("不是普通文件"));
    }

    // A file system that stops answering holds the writer in a write; the
    // stop (as closing the window does) gives up waiting for it, says what
    // was not written, and the writer, once back, writes nothing more.
    void stoppingGivesAStuckWriterUpAndSaysWhatWasNotWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stuck.log"));
        {
            StalledFiles files(std::chrono::seconds(10));
            files.stallWrites();
            FileAppender appender;
            QSignalSpy failures(&appender, &FileAppender::failed);
            QCOMPARE(appender.open(path), QString());
            appender.append("stuck\n");
            QTRY_COMPARE(files.stalledCalls(), 1);
            appender.append("behind\n");
            QCOMPARE(appender.stop(), qint64(sizeof "stuck\nbehind\n" - 1));
            QVERIFY2(!files.gaveUp(), "the stop waited until the file system answered");
            QVERIFY(!appender.isOpen());
            appender.append("after\n");

            // Back from its write, the writer closes the file and ends.
            files.release();
            QTRY_COMPARE(fileBytes(path), QByteArray("stuck\n"));
            QTest::qWait(300); // what it might still write, wrongly
            QCOMPARE(fileBytes(path), QByteArray("stuck\n"));
            QCOMPARE(failures.size(), 0);
        }

        // Destroyed instead of stopped; the writer comes back after the
        // appender is gone.
        StalledFiles files(std::chrono::seconds(10));
        files.stallWrites();
        auto appender = std::make_unique<FileAppender>();
        QCOMPARE(appender->open(path), QString());
        appender->append("second\n");
        QTRY_COMPARE(files.stalledCalls(), 1);
        appender.reset();
        QVERIFY(!files.gaveUp());
        files.release();
        QTRY_COMPARE(fileBytes(path), QByteArray("stuck\nsecond\n"));
    }

    // Quitting closes every window at once: recordings stuck on the same
    // file system are given up together, not one grace after another.
    // Compared with giving up one, so that a slow machine slows both.
    void stuckWritersStoppedTogetherAreGivenUpTogether()
    {
        QTemporaryDir dir;
        StalledFiles files(std::chrono::seconds(60));
        files.stallWrites();
        int made = 0;
        const auto stuckAppenders = [&](int count) {
            std::vector<std::unique_ptr<FileAppender>> appenders;
            for (int i = 0; i < count; ++i) {
                appenders.push_back(std::make_unique<FileAppender>());
                if (!appenders.back()->open(dir.filePath(QStringLiteral("%1.log").arg(made++))).isEmpty())
                    return decltype(appenders)();
                appenders.back()->append("stuck\n");
            }
            return appenders;
        };
        auto one = stuckAppenders(1);
        QCOMPARE(one.size(), size_t(1));
        QTRY_COMPARE(files.stalledCalls(), 1);
        QElapsedTimer clock;
        clock.start();
        one.clear();
        const qint64 givingUpOne = clock.elapsed();

        auto eight = stuckAppenders(8);
        QCOMPARE(eight.size(), size_t(8));
        QTRY_COMPARE(files.stalledCalls(), 9);
        clock.restart();
        eight.clear();
        const qint64 givingUpEight = clock.elapsed();
        QVERIFY2(givingUpEight < 4 * givingUpOne,
            qPrintable(QStringLiteral("one: %1 ms, eight: %2 ms").arg(givingUpOne).arg(givingUpEight)));
        QVERIFY(!files.gaveUp());
    }

    // Quitting with a recording stuck: the process ends although its writer
    // never comes back (run as a child, see main()).
    void theProcessEndsAlthoughAWriterIsStuck()
    {
        QTemporaryDir dir;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--stuck-writer"), dir.filePath(QStringLiteral("stuck.log"))});
        QVERIFY(child.waitForStarted());
        // Liveness only: the stop gives up after a couple of seconds; a
        // child that hangs in it never ends.
        const bool ended = child.waitForFinished(20000);
        if (!ended) {
            child.kill();
            child.waitForFinished();
        }
        QVERIFY2(ended, "the process did not end while its writer was stuck");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }
};

namespace {

// The child of theProcessEndsAlthoughAWriterIsStuck: records into a file
// whose writes never return, closes the recording as a window does, and
// ends as the application does when it quits.
int runWithAStuckWriter(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Never released, and never destroyed: the writer is still stuck when
    // the process ends (static, so that a leak check sees it held).
    static StalledFiles *const files = new StalledFiles(std::chrono::hours(1));
    files->stallWrites();
    auto appender = std::make_unique<FileAppender>();
    if (!appender->open(QString::fromLocal8Bit(argv[2])).isEmpty())
        return 2;
    appender->append("stuck\n");
    for (int i = 0; i < 10000 && files->stalledCalls() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (files->stalledCalls() == 0)
        return 3;
    appender.reset();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--stuck-writer") == 0)
        return runWithAStuckWriter(argc, argv);
    QCoreApplication app(argc, argv);
    TstFileAppender test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fileappender.moc"
