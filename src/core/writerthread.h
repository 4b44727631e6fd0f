#pragma once
// A thread that writes the bytes handed to it to one descriptor, so that the
// caller never waits for a disk, a file system or the reader at the other end
// of a pipe. hand() only queues, up to a bound in bytes and in pieces (what
// one hand() counts as: a line, say); what does not fit is refused, and the
// owner decides what a refusal means. The writer takes what has gathered and
// writes it in one go; it owns the descriptor and closes it when it ends.
//
// The first failure (a write error, or the owner's fail()) ends the writing:
// the report is called once, with the writer's lock held, on the thread that
// failed (so it may only post), what is queued is dropped, and later hands
// are refused.
//
// SIGPIPE is blocked on the writer's thread: a reader gone ends the writing
// with EPIPE rather than the process. A descriptor that is non-blocking (a
// standard output shared with a program that set it so) is waited on for
// room rather than failing with EAGAIN.
//
// A descriptor that stops taking bytes holds the writer in a write for as
// long as it likes. stop() waits for the writer at most its grace, and not
// past the grace from the start of the write under way; then it leaves the
// writer behind with the queue's state and the descriptor, which the writer
// alone shares and closes once its write comes back. A writer left behind
// never reports again.
//
// Owned by one object (file appender, line writer); every method is called
// from the thread that owner lives on.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

class WriterThread {
public:
    struct Settings {
        qsizetype maxBytes = std::numeric_limits<qsizetype>::max(); // unwritten at most
        qsizetype maxPieces = std::numeric_limits<qsizetype>::max();
        // A writer woken by the first bytes waits this long for more, or
        // until gatherBytes have gathered, so that a flood of short pieces
        // costs a few writes a second. Zero writes at once.
        std::chrono::milliseconds gatherTime{0};
        qsizetype gatherBytes = 0;
        std::chrono::milliseconds stopGrace{2000};
    };
    // With a failure's text: the system's for a write error.
    using FailureReport = std::function<void(const QString &error)>;
    enum class Handed { Queued, Full, Ended };

    // Starts the writer on fd, which it closes when it ends.
    WriterThread(int fd, const Settings &settings, FailureReport report);
    ~WriterThread();
    WriterThread(const WriterThread &) = delete;
    WriterThread &operator=(const WriterThread &) = delete;

    // Queues bytes as so many pieces; Full when they do not fit under the
    // bounds (nothing is queued then), Ended once the writing has failed or
    // stopped. Empty bytes are not queued.
    Handed hand(const QByteArray &bytes, qsizetype pieces = 1);
    // Ends the writing as a write error would, reporting error.
    void fail(const QString &error);
    // Writes what is queued and ends the writer, or gives it up after the
    // grace. Returns how many bytes handed over were not written (0 when all
    // were, or after a failure). Later calls return 0.
    qint64 stop();

    // Handed over and not yet written, the write under way included.
    [[nodiscard]] qsizetype unwrittenBytes() const;
    [[nodiscard]] qsizetype unwrittenPieces() const;
    [[nodiscard]] bool hasFailed() const;

private:
    // What the owner and its writer share; the writer may outlive the owner
    // with it.
    struct Shared;

    static void writeLoop(const std::shared_ptr<Shared> &shared);

    std::shared_ptr<Shared> shared_;
    std::thread writer_;
};
