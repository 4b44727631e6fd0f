// Files the user names: anything but a regular file is refused without
// waiting on it, a save may go only over a regular file, and a whole read
// goes to the end whatever size the file claims, up to its limit.

#include "core/regularfile.h"
#include "support/stalledfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TstRegularFile : public QObject {
    Q_OBJECT

private slots:
    void whatIsNotARegularFileIsRefusedWithoutWaiting()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString notRegular = QStringLiteral("不是普通文件");
        QCOMPARE(notRegularFileText(), notRegular);
        // Opened for reading, a pipe waits for a writer; for writing, for a
        // reader.
        for (const int otherEnd : {O_WRONLY, O_RDONLY}) {
            FifoRescue rescue(QFile::encodeName(fifo), otherEnd);
            QString error;
            const int fd = otherEnd == O_WRONLY ? openRegularFileForReading(fifo, &error)
                                                : openRegularFileForAppending(fifo, &error);
            rescue.disarm();
            QVERIFY2(!rescue.rescued(), "open() waited for the pipe's other end");
            QCOMPARE(fd, -1);
            QCOMPARE(error, notRegular);
        }
        for (const QString &path : {dir.path(), QStringLiteral("/dev/null")}) {
            QString error;
            QCOMPARE(openRegularFileForReading(path, &error), -1);
            QCOMPARE(error, notRegular);
            error.clear();
            QCOMPARE(openRegularFileForAppending(path, &error), -1);
            QCOMPARE(error, notRegular);
            error.clear();
            QVERIFY(!mayReplaceWithRegularFile(path, &error));
            QCOMPARE(error, notRegular);
        }
        QString error;
        QVERIFY(!mayReplaceWithRegularFile(fifo, &error));
        QCOMPARE(error, notRegular);

        // A missing file is created for appending, not for reading.
        const QString created = dir.filePath(QStringLiteral("new.log"));
        QVERIFY(mayReplaceWithRegularFile(created, nullptr));
        error.clear();
        QCOMPARE(openRegularFileForReading(created, &error), -1);
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
        const int fd = openRegularFileForAppending(created, &error);
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY(QFileInfo(created).isFile());
        QVERIFY(mayReplaceWithRegularFile(created, nullptr));
    }

    void aWholeReadGoesToTheEndWhateverTheSizeSaysUpToItsLimit()
    {
        QFile version(QStringLiteral("/proc/version"));
        if (version.open(QIODevice::ReadOnly)) {
            const QByteArray content = version.readAll();
            QCOMPARE(QFileInfo(version).size(), 0);
            QVERIFY(!content.isEmpty());
            QString error;
            QCOMPARE(readRegularFile(version.fileName(), 1024 * 1024, &error), std::optional(content));
        }

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sample"));
        QByteArray bytes(200 * 1024 + 7, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 + i / 251);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
        }
        QString error;
        QCOMPARE(readRegularFile(path, bytes.size(), &error), std::optional(bytes));
        QVERIFY(error.isEmpty());
        QCOMPARE(readRegularFile(path, bytes.size() - 1, &error), std::nullopt);
        QCOMPARE(error, QStringLiteral("文件过大（上限 %1 字节）").arg(bytes.size() - 1));
        QCOMPARE(readRegularFile(dir.filePath(QStringLiteral("missing")), 10, &error), std::nullopt);
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
    }
};

QTEST_GUILESS_MAIN(TstRegularFile)
#include "tst_regularfile.moc"
