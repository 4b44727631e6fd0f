#pragma once
// The serial port's monitoring thread and the input queue it fills.
//
// Ownership: owned by its SerialPort for as long as the port is open; it
// refers to the component (its QObject, for queued calls to the UI thread, and
// the dispatch function) but owns neither, and never owns the device fd.
//
// Threading: start, stop, take, queued, discard and the setters are called on
// the component's (UI) thread; run is the thread. The input queue is the only
// state both touch, under inputMutex_. A hand-over to the UI thread goes through
// a HandOver record shared with the queued call, so the call stays harmless
// when it runs after the thread object is gone.
//
//   device --read--> input_ (at most the input limit) --take--> readData
//                    and a fresh byte raises DeviceEvent::CharReceived (DeviceEvent::EventChar for the event
//                    char)

#include "net/serial/serialport.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class SerialMonitor {
public:
    using Dispatch = std::function<void(DeviceEvents)>;

    SerialMonitor(QObject &owner, int fd, Dispatch dispatch);
    ~SerialMonitor();
    SerialMonitor(const SerialMonitor &) = delete;
    SerialMonitor &operator=(const SerialMonitor &) = delete;

    // False when the thread or its stop event could not be made.
    [[nodiscard]] bool start();
    // Ends the thread and waits for it. A hand-over that is pending or being
    // waited for is cancelled, so this never waits for the UI thread.
    void stop();

    void setSynchronize(bool on) { synchronize_ = on; }
    void setEventChar(unsigned char c) { eventChar_ = c; }
    void setInputLimit(int bytes);

    // Bytes taken from the device and not read yet.
    [[nodiscard]] int queued() const;
    // Up to count bytes: first the queue, then straight from the device, so
    // reading goes on after the monitoring has ended. Returns the bytes
    // copied, or -1 with error set when the device read failed.
    int take(char *dest, int count, int &error);
    void discard();

private:
    struct HandOver;

    void run();
    // Reads what the device has into the queue; the events it makes.
    DeviceEvents fill(bool &hungUp);
    // Raises the events, on the UI thread when synchronising. False when a
    // handler failed or the thread is being stopped.
    bool deliver(DeviceEvents events);
    void wake();

    QObject &owner_;
    const int fd_;
    Dispatch dispatch_;
    int wakeFd_ = -1;
    std::thread thread_;
    std::shared_ptr<HandOver> handOver_;

    std::atomic<bool> stopping_{false};
    std::atomic<bool> synchronize_{true};
    std::atomic<unsigned char> eventChar_{0x0A};
    std::atomic<int> inputLimit_{2048};

    mutable std::mutex inputMutex_;
    QByteArray input_;
};
