#include "core/linewriter.h"

#include "core/writerthread.h"

#include <QCoreApplication>

#include <utility>

#include <fcntl.h>

LineWriter::LineWriter(int fd, Limits limits, DroppedNote droppedNote)
    : droppedNote_(std::move(droppedNote))
{
    if (!droppedNote_)
        droppedNote_ = [](qint64 lines) { return droppedText(lines).toUtf8(); };
    // Without a duplicate (no descriptor left) nothing is written: output is
    // not worth ending a run for.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return;
    WriterThread::Settings settings;
    settings.maxBytes = limits.bytes;
    settings.maxPieces = limits.lines;
    settings.stopGrace = FinishGrace;
    // A flood of short lines (a server answering thousands of requests a
    // second) would otherwise wake the writer, and switch threads, for
    // every line; a few milliseconds of delay is not seen by a reader.
    settings.gatherTime = GatherTime;
    settings.gatherBytes = GatherBytes;
    writer_ = std::make_unique<WriterThread>(own, settings, nullptr);
}

LineWriter::~LineWriter()
{
    finish();
}

QString LineWriter::droppedText(qint64 lines)
{
    return QCoreApplication::translate("LineWriter", "标准输出的读取方跟不上，已丢弃 %1 行输出").arg(lines);
}

void LineWriter::writeLine(QByteArray line)
{
    if (!writer_)
        return;
    QByteArray bytes;
    qsizetype lines = 1;
    if (droppedSinceNote_ > 0) {
        bytes = droppedNote_(droppedSinceNote_);
        bytes += '\n';
        bytes += line;
        ++lines;
    } else {
        bytes = std::move(line);
    }
    bytes += '\n';
    switch (writer_->hand(bytes, lines)) {
    case WriterThread::Handed::Queued:
        droppedSinceNote_ = 0;
        break;
    case WriterThread::Handed::Full:
        ++droppedSinceNote_;
        ++droppedTotal_;
        break;
    case WriterThread::Handed::Ended:
        break;
    }
}

qint64 LineWriter::finish()
{
    if (!writer_)
        return 0;
    if (droppedSinceNote_ > 0
        && writer_->hand(droppedNote_(droppedSinceNote_) + '\n') == WriterThread::Handed::Queued)
        droppedSinceNote_ = 0;
    const qint64 unwritten = writer_->stop();
    writer_.reset();
    return unwritten;
}

qsizetype LineWriter::queuedLines() const
{
    return writer_ ? writer_->unwrittenPieces() : 0;
}

qsizetype LineWriter::queuedBytes() const
{
    return writer_ ? writer_->unwrittenBytes() : 0;
}

bool LineWriter::isWriting() const
{
    return writer_ && !writer_->hasFailed();
}
