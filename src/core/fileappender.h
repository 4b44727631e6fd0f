#pragma once
// Appends bytes to a file without ever making the caller wait for the disk.
// append() only hands the bytes over to a queue; a writer thread of the
// appender's own takes what has gathered and writes it, so many small pieces
// reach the file in few writes, each within a fraction of a second. stop()
// (and destruction) writes what is still queued, closes the file and ends the
// thread.
//
// The first write error (disk full, file system gone, ...) or a queue grown
// past MaxUnwrittenBytes (a disk that cannot keep up) ends the appending:
// failed() is emitted once, queued to the appender's thread, and later
// appends are dropped.
//
// Owned by whoever records (the log feed); every method is called from the
// thread the appender lives on. The writer thread touches only the queue (under
// the mutex) and the file descriptor.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

class FileAppender : public QObject {
    Q_OBJECT

public:
    // More than this waiting unwritten counts as a failure rather than
    // growing without bound.
    static constexpr qsizetype MaxUnwrittenBytes = 64 * 1024 * 1024;

    explicit FileAppender(QObject *parent = nullptr);
    ~FileAppender() override;

    // Opens the file for appending (creating it) and starts the writer;
    // returns the system's error text when it cannot be opened, else empty.
    [[nodiscard]] QString open(const QString &path);
    void append(const QByteArray &bytes);
    // Writes what is queued, closes the file and ends the writer thread.
    void stop();

    [[nodiscard]] bool isOpen() const { return writer_.joinable(); }
    [[nodiscard]] QString path() const { return path_; }

signals:
    // Once, on the appender's thread, with the error's text.
    void failed(const QString &error);

private:
    void writeLoop();
    // Writes all of bytes; false with errno set on an error.
    bool writeAll(const QByteArray &bytes);
    // Records the first failure and reports it on the owner's thread; the
    // caller holds mutex_.
    void failLocked(const QString &error);

    QString path_;
    int fd_ = -1;
    std::thread writer_;

    std::mutex mutex_;
    std::condition_variable wake_;
    QByteArray queued_; // handed over, not yet taken by the writer
    qsizetype unwritten_ = 0; // queued plus what the writer holds
    bool stopping_ = false;
    bool failed_ = false;
};
