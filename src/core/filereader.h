#pragma once
// Reads a file the user chose to send, in blocks, on a thread of its own, so
// that a file system that stops answering holds that thread and never the
// caller's. The caller asks for the bytes at an offset: a block already read
// is handed over at once; otherwise it is asked for, with the few after it,
// and blockArrived() says when one came in.
//
// A file whose size says 0 may still hold something (those of /proc and /sys
// do): it is read whole when opened, waiting at most OpenWait for it, so that
// its size is known truthfully before anything is sent.
//
// Ownership and threading: owned by whoever sends the file; every method is
// called on the thread it lives on. The reader thread shares only the
// requests, the blocks it read and the descriptor, which it closes itself;
// destroying the reader never waits for it: a thread held in a read ends
// once the read comes back, and never reaches the reader again.

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>

class FileReader : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 BlockBytes = 64 * 1024;
    // Blocks kept read at most (the least recently used go first), and how
    // many are read ahead of the one asked for.
    static constexpr size_t MaxBlocks = 32;
    static constexpr qint64 ReadAhead = 4;
    // A file whose size says 0 is read whole up to this size.
    static constexpr qint64 MaxUnsizedBytes = 16 * 1024 * 1024;
    static constexpr std::chrono::milliseconds OpenWait{2000};

    explicit FileReader(QObject *parent = nullptr);
    ~FileReader() override;

    // Opens a regular file (never waiting on the node) and starts the reader
    // thread; false with *error set (the system's text, "不是普通文件", or
    // why a file whose size says 0 could not be read whole).
    bool open(const QString &path, QString *error);
    [[nodiscard]] qint64 size() const { return size_; }

    enum class State { Ready, Pending, Failed };
    struct Piece {
        State state = State::Pending;
        // Ready: the file's bytes from the offset to the end of its block
        // (or of the file as long as it was at the open); empty when the
        // file ends there now, cut short since. Valid until the next call.
        QByteArrayView bytes;
        QString error; // Failed: the system's text
    };
    // The bytes at offset (below size()). Pending asks for them;
    // blockArrived() follows.
    Piece at(qint64 offset);

signals:
    // From the event loop: a block asked for came in.
    void blockArrived();

private:
    struct Block {
        QByteArray bytes;
        int error = 0;
        quint64 lastUse = 0;
    };
    // What the reader and its thread share; the thread may outlive the
    // reader with it.
    struct Shared;

    static void readLoop(const std::shared_ptr<Shared> &shared);
    void takeArrived();
    void request(qint64 index, bool first);
    void dropOldBlocks(qint64 keep);
    void stopThread();

    std::shared_ptr<Shared> shared_;
    qint64 size_ = 0;
    // A file whose size said 0, read whole at the open.
    std::optional<QByteArray> whole_;
    std::map<qint64, Block> blocks_; // by index
    std::set<qint64> requested_; // asked for, not come yet
    quint64 uses_ = 0;
};
