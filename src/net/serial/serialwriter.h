#pragma once
// The serial port's writer thread and the bounded queue that feeds it.
//
// A device that does not drain (nobody reads the far end, flow control holds
// it) would keep a synchronous write waiting for its time-out on the caller's
// thread. Queued writes go here instead: the caller appends what fits and
// returns at once, and the thread hands the bytes to the device as it takes
// them, in order, for as long as it takes.
//
// Ownership: owned by its SerialPort for as long as the port is open; uses
// the device fd but never owns or closes it, and knows no QObject.
//
// Threading: start, stop and enqueue are called on the component's (UI)
// thread; run is the thread. The queue is the only state both touch, under
// queueMutex_; the stop flag is atomic and the eventfd wakes the thread.
//
//   enqueue --append (up to capacity)--> queue_ --run: write()--> device

#include <QByteArray>

#include <atomic>
#include <mutex>
#include <thread>

class SerialWriter {
public:
    SerialWriter(int fd, qsizetype capacity);
    ~SerialWriter();
    SerialWriter(const SerialWriter &) = delete;
    SerialWriter &operator=(const SerialWriter &) = delete;

    // False when the thread or its wake-up event could not be made.
    [[nodiscard]] bool start();
    // Ends the thread and waits for it; what is still queued is dropped.
    // Never waits for the device.
    void stop();

    // Queues as much of the bytes as there is room for, in order; returns how
    // many were queued.
    qsizetype enqueue(const QByteArray &data);
    // Bytes queued and not yet taken by the device.
    [[nodiscard]] qsizetype queued() const;

private:
    enum class WriteResult { Progress, Stalled, Failed };

    void run();
    // Hands the device what it takes of the queue's head.
    WriteResult writeHead();
    void wake();

    const int fd_;
    const qsizetype capacity_;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex queueMutex_;
    QByteArray queue_;
};
