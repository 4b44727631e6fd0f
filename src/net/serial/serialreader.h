#pragma once
// Reads an open serial device on a thread of its own, blocked in poll() as
// a plain reader is blocked in read(), so that the device is drained while
// the owner's thread frames, logs and paints what came before. What it read
// waits here for the owner, merged while the owner is busy, and is handed
// over in pieces.
//
// Ownership: owned by its SerialChannel while the device is open. The thread
// owns a duplicate of the channel's descriptor and a wake-up descriptor; it
// shares the calls and a small state record with the queued hand-overs,
// which may run after the reader is gone and then do nothing.
//
// Threading: constructor, start, stop and take on the owner's thread; the
// callback runs there too, from the event loop, never after stop. At most
// PendingLimit bytes wait for the owner: beyond that the thread stops
// reading and the kernel holds the device back (its buffer, flow control).

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>
#include <thread>

class SerialDeviceCalls;

class SerialReader {
public:
    // Something waits to be taken.
    using Ready = std::function<void()>;
    static constexpr qsizetype PendingLimit = 256 * 1024;

    SerialReader(std::shared_ptr<SerialDeviceCalls> calls, QObject &context, Ready ready);
    ~SerialReader();
    SerialReader(const SerialReader &) = delete;
    SerialReader &operator=(const SerialReader &) = delete;

    // 0, or the errno value when no thread could be made.
    [[nodiscard]] int start(int fd);
    // Ends the thread and waits for it: it never blocks anywhere a stop
    // does not reach.
    void stop();
    // Up to limit bytes read and not taken yet. Once every byte read before
    // the device went has been taken, *lostError holds why it went (else 0).
    // More waiting is handed over again from the event loop.
    [[nodiscard]] QByteArray take(qsizetype limit, int *lostError);

private:
    struct Shared;

    static void run(const std::shared_ptr<Shared> &shared, int fd);

    std::shared_ptr<SerialDeviceCalls> calls_;
    QObject &context_;
    Ready ready_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
