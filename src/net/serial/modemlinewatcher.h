#pragma once
// Waits for the modem status lines (CTS, DSR, DCD, RI) of an open device to
// change, on a thread of its own, since the kernel offers only a blocking
// wait for that, and hands each new state to its owner's thread.
//
// Ownership: owned by its SerialChannel while the device is open. The thread
// owns a duplicate of the channel's descriptor, so it never waits on a number
// the channel has closed and someone else reused; it shares the calls and a
// small state record with the queued hand-overs, which may run after the
// watcher is gone and then do nothing.
//
// Threading: constructor, start and stop on the owner's thread; the callback
// runs there too, from the event loop, never after stop. Changes that come
// faster than the owner's loop takes them are merged: at most one hand-over
// waits at a time and it carries the latest state.

#include <QObject>

#include <functional>
#include <memory>
#include <thread>

class SerialDeviceCalls;

class ModemLineWatcher {
public:
    using Changed = std::function<void(int lines)>; // TIOCM_* bits

    ModemLineWatcher(std::shared_ptr<SerialDeviceCalls> calls, QObject &context, Changed changed);
    ~ModemLineWatcher();
    ModemLineWatcher(const ModemLineWatcher &) = delete;
    ModemLineWatcher &operator=(const ModemLineWatcher &) = delete;

    // 0, or the errno value when no thread could be made.
    [[nodiscard]] int start(int fd);
    // Ends the wait and the thread. Returns within about half a second even
    // when the wait does not end: the thread is then left to finish alone,
    // holding its descriptor (and so the device) until it does.
    void stop();

private:
    struct Shared;

    static void run(const std::shared_ptr<Shared> &shared, int fd);

    std::shared_ptr<SerialDeviceCalls> calls_;
    QObject &context_;
    Changed changed_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
