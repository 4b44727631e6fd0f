#include "core/fileappender.h"

#include "core/regularfile.h"
#include "core/writerthread.h"

namespace {

// A writer woken by the first bytes waits this long for more before writing,
// so a flood of short log lines costs a few writes a second.
constexpr auto GatherTime = std::chrono::milliseconds(100);
// Written at once rather than gathered any longer.
constexpr qsizetype GatherBytes = 256 * 1024;

} // namespace

FileAppender::FileAppender(QObject *parent)
    : QObject(parent)
{
}

FileAppender::~FileAppender()
{
    stop();
}

QString FileAppender::open(const QString &path)
{
    Q_ASSERT(!isOpen());
    QString error;
    const int fd = openRegularFileForAppending(path, &error);
    if (fd < 0)
        return error;
    path_ = path;
    WriterThread::Settings settings;
    settings.maxBytes = MaxUnwrittenBytes;
    settings.gatherTime = GatherTime;
    settings.gatherBytes = GatherBytes;
    settings.stopGrace = StopGrace;
    // Reported on the appender's thread, and not at all once the appender is
    // gone: the stop silences the writer, and the appender's end removes what
    // was posted to it.
    writer_ = std::make_unique<WriterThread>(fd, settings, [this](const QString &why) {
        QMetaObject::invokeMethod(
            this, [this, why] { emit failed(why); }, Qt::QueuedConnection);
    });
    return {};
}

void FileAppender::append(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    if (writer_->hand(bytes) == WriterThread::Handed::Full)
        writer_->fail(tr("磁盘写入跟不上"));
}

qint64 FileAppender::stop()
{
    if (!isOpen())
        return 0;
    const qint64 unwritten = writer_->stop();
    writer_.reset();
    return unwritten;
}
