#pragma once
// One file sent through one endpoint, read in pieces as the transports take
// them, so neither the file's size nor a slow peer holds the window: a TCP
// connection is fed whenever it reports room, UDP datagrams go out in short
// batches between which the event loop runs.
//
// The file is read on a thread of its own (a FileReader), so a file system
// that stops answering holds that thread and not the window: a piece not
// read yet is waited for from the event loop.
//
// Ownership and threading: owns the file's reader, its timers and the read
// buffer. Refers to the endpoint only weakly (its record's lifetime and the
// connections as QPointers), so removing the endpoint mid-way ends the
// transfer instead of leaving it with freed objects. Its parent (usually the
// data window) owns it; destroying it at any time is safe. UI thread only.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

class Endpoint;
class FileReader;
class QSocketNotifier;
class QTimer;
class TcpConnection;

class FileTransfer : public QObject {
    Q_OBJECT

public:
    enum class Result { Completed, Cancelled, Failed };

    // Opens the file and starts sending it through the endpoint; nullptr with
    // *error set when it cannot start (the system's text for a file that
    // cannot be opened, "不是普通文件" for anything but a regular file,
    // "没有可发送的连接" when there is no one to send to). An empty file
    // completes at once.
    static FileTransfer *start(Endpoint &endpoint, const QString &path, QObject *parent, QString *error);

    // True while a transfer feeds the connection; a typed send waits for
    // none and is refused instead of mixing its bytes into the file's.
    [[nodiscard]] static bool isSendingTo(const TcpConnection *connection);
    // Where the endpoint's handlers report that a connection has room again.
    static void connectionWritable(TcpConnection *connection);

    ~FileTransfer() override;

    [[nodiscard]] qint64 fileSize() const { return fileSize_; }
    // The file's size once per target (a TCP Server sends it to every peer
    // connected at the start).
    [[nodiscard]] qint64 total() const { return fileSize_ * targetCount_; }
    // What the transports took so far.
    [[nodiscard]] qint64 sent() const { return sent_; }
    [[nodiscard]] bool isRunning() const { return running_; }
    // Ends the transfer as Cancelled; finished comes from the event loop.
    void cancel();

signals:
    // Bytes the transports took since the last signal.
    void progressed(qint64 newlySent);
    // Exactly once, always from the event loop; reason is empty unless Failed.
    void finished(FileTransfer::Result result, const QString &reason);

private:
    // Serial: pieces of a datagram's size, each written once the device's
    // queue has room for all of it.
    enum class Mode { Stream, Datagrams, Group, Serial };
    static constexpr int SerialRoomRetryMs = 10;
    enum class TargetState { Ready, Waiting, Done, Lost };

    // One connection's share: the file from offset on.
    struct Target {
        QPointer<TcpConnection> connection;
        const TcpConnection *key = nullptr; // its entry among the running transfers
        int handle = -1; // the connection's handle at the start; another one is another peer
        qint64 offset = 0;
        TargetState state = TargetState::Ready;
        QString lostReason;
    };

    FileTransfer(Endpoint &endpoint, Mode mode, QObject *parent);
    bool openFile(const QString &path, QString *error);
    void begin();

    // Feeds every target that can take more, then settles the outcome.
    void pump(TcpConnection *only = nullptr);
    // False when the transfer ended (or this object went away) meanwhile.
    bool feedTarget(Target &target, const QElapsedTimer &pass);
    bool sendDatagrams(const QElapsedTimer &pass);
    enum class DatagramResult { Taken, NoRoom, Ended };
    DatagramResult sendOneDatagram(const QByteArray &datagram);
    // The socket had no room for the next datagram: the pass goes on once
    // it has (or, when the adapter dropped it for want of room, a moment
    // later), and sends that datagram again.
    void awaitDatagramRoom(int handle, bool writable);
    void loseTarget(Target &target, const QString &reason);
    void settle();
    void reportProgress();
    [[nodiscard]] bool endpointGone() const;

    // Puts the file's bytes at offset into the buffer (at most its size);
    // how many, or 0 when there are none yet: the transfer has failed then,
    // or it goes on with a pass once they have been read.
    qint64 readAt(qint64 offset);
    void finish(Result result, const QString &reason = QString());
    void unregister(const Target &target);

    std::weak_ptr<const Endpoint> endpoint_;
    Endpoint *record_; // only followed while endpoint_ has not expired
    Mode mode_;
    std::unique_ptr<FileReader> reader_;
    qint64 fileSize_ = 0;
    qint64 targetCount_ = 1;
    qint64 sent_ = 0;
    qint64 unreported_ = 0;
    qint64 datagramOffset_ = 0;
    bool running_ = false;
    bool pumping_ = false;
    // Room was reported while a pass was under way (a nested event loop
    // inside a send); one more pass follows.
    bool pumpAgain_ = false;
    // Where the next pass starts, so no peer of a server is always served last.
    size_t firstTarget_ = 0;
    std::vector<Target> targets_;
    // A pass that ran out of time goes on from here, after the loop's events.
    QTimer *continuation_;
    // Tries again when a connection stayed quiet, so that one lost room
    // notification cannot stall the transfer.
    QTimer *stallCheck_;
    QElapsedTimer sinceProgress_;
    // One buffer for every read, so a file of any size costs the same
    // memory. For datagrams it holds the piece of the file at blockStart_:
    // the next datagrams mostly lie in it.
    QByteArray buffer_;
    // Made when a socket first has no room for a datagram.
    QSocketNotifier *datagramRoom_ = nullptr;
    qint64 blockStart_ = 0;
    qint64 blockSize_ = 0;
};
