#pragma once
// Appends bytes to a file without ever making the caller wait for the disk.
// append() only hands the bytes over to a queue; a writer thread of the
// appender's own takes what has gathered and writes it, so many small pieces
// reach the file in few writes, each within a fraction of a second. stop()
// (and destruction) lets the writer write what is still queued, close the
// file and end.
//
// The first write error (disk full, file system gone, ...) or a queue grown
// past MaxUnwrittenBytes (a disk that cannot keep up) ends the appending:
// failed() is emitted once, queued to the appender's thread, and later
// appends are dropped.
//
// A file system that stops answering holds the writer in a write for as long
// as it likes. stop() waits for the writer at most StopGrace, and not past
// StopGrace from the start of the write under way; then it leaves the writer
// behind with the queue's state and the descriptor, which the writer alone
// shares and closes once its write comes back, and says what was left
// unwritten. A writer left behind never reaches the appender again.
//
// The writing itself is a WriterThread's (core/writerthread.h).
//
// Owned by whoever records (the log feed); every method is called from the
// thread the appender lives on.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class WriterThread;

class FileAppender : public QObject {
    Q_OBJECT

public:
    // More than this waiting unwritten counts as a failure rather than
    // growing without bound.
    static constexpr qsizetype MaxUnwrittenBytes = 64 * 1024 * 1024;
    // How long a stop waits for the writer to finish.
    static constexpr std::chrono::milliseconds StopGrace{2000};

    explicit FileAppender(QObject *parent = nullptr);
    ~FileAppender() override;

    // Opens the file for appending (creating it) and starts the writer;
    // returns why it cannot be opened (the system's text, or "不是普通文件"
    // for anything but a regular file), else empty. Never waits on the node.
    [[nodiscard]] QString open(const QString &path);
    void append(const QByteArray &bytes);
    // Writes what is queued, closes the file and ends the writer thread, or
    // gives a writer that has not finished within StopGrace (or whose write
    // has been under way that long) up. Returns how
    // many bytes handed over were not written then (0 when all were, or when
    // the appending had failed and said so).
    qint64 stop();

    [[nodiscard]] bool isOpen() const { return writer_ != nullptr; }
    [[nodiscard]] QString path() const { return path_; }

signals:
    // Once, on the appender's thread, with the error's text.
    void failed(const QString &error);

private:
    QString path_;
    std::unique_ptr<WriterThread> writer_;
};
