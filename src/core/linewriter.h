#pragma once
// Writes whole lines to a descriptor (standard output) on a thread of its
// own, so that a slow reader, or a pipe nobody reads, never holds the caller
// and never grows memory without bound. The queue holds at most
// Limits::lines lines and Limits::bytes bytes; a line that does not fit is
// dropped and counted, and the next line that fits is preceded by one line
// saying how many were dropped (the dropped note), so a reader sees where the
// gap is. A reader gone (EPIPE) or any other write error ends the writing
// quietly; later lines are dropped without a count.
//
// finish() writes what is queued for as long as the reader reads, but waits
// at most FinishGrace for a reader that does not: the end of a run never
// hangs on its output.
//
// The writer works on a duplicate of the descriptor, so the caller's stays
// open and usable. Owned by whoever runs without a window; every method is
// called from the thread that owns it.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class WriterThread;

// At namespace scope: a nested struct with member initializers cannot be a
// default argument of its own class's constructor.
// Bytes: a peer streaming at close to a gigabyte a second fills 4 MB in a
// few milliseconds, less than the writer thread may wait for its turn on a
// busy machine, and lines were dropped while standard output was a file.
struct LineWriterLimits {
    qsizetype lines = 10000;
    qsizetype bytes = 32 * 1024 * 1024;
};

class LineWriter {
public:
    using Limits = LineWriterLimits;
    static constexpr std::chrono::milliseconds FinishGrace{2000};
    // The writer, woken by a line, waits this long for more, or until so
    // many bytes are queued, and writes them together.
    static constexpr std::chrono::milliseconds GatherTime{10};
    static constexpr qsizetype GatherBytes = 64 * 1024;
    // The dropped note for so many lines, without its line break; a run that
    // writes JSON Lines gives one that makes a JSON object of droppedText().
    using DroppedNote = std::function<QByteArray(qint64 lines)>;

    explicit LineWriter(int fd, Limits limits = {}, DroppedNote droppedNote = {});
    ~LineWriter();
    LineWriter(const LineWriter &) = delete;
    LineWriter &operator=(const LineWriter &) = delete;

    // "已丢弃 N 行输出", translated; the default dropped note in UTF-8.
    [[nodiscard]] static QString droppedText(qint64 lines);

    // Queues one line, given without its line break, or drops it. A line
    // handed over whole, with room for the break, is queued without a copy.
    void writeLine(QByteArray line);
    // Writes the dropped note if lines were dropped since the last one,
    // then what is queued, and ends the writer (see FinishGrace). Returns
    // how many bytes were not written; later lines are dropped.
    qint64 finish();

    // Queued and not yet written, the write under way included.
    [[nodiscard]] qsizetype queuedLines() const;
    [[nodiscard]] qsizetype queuedBytes() const;
    // All the lines dropped so far for want of room.
    [[nodiscard]] qint64 droppedLines() const { return droppedTotal_; }
    // False once finished, or once a write failed (the reader went away).
    [[nodiscard]] bool isWriting() const;

private:
    DroppedNote droppedNote_;
    std::unique_ptr<WriterThread> writer_;
    qint64 droppedSinceNote_ = 0;
    qint64 droppedTotal_ = 0;
};
