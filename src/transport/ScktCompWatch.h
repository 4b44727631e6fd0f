#pragma once
// Readiness of one socket handle, reported on the UI thread: the stand-in
// for registering a handle with a hidden window for socket messages.
//
// Ownership and threading: owned by its connection object; owns its two
// QSocketNotifiers (created on first use, parented to the watch). UI thread
// only. The handle itself belongs to the connection object: the watch never
// closes it, and must be told (Watch(-1, ...)) before the handle is closed.

#include <QObject>

#include <functional>

class QSocketNotifier;

class TSocketWatch : public QObject {
    Q_OBJECT

public:
    explicit TSocketWatch(QObject *parent);

    // Watches handle for the readiness asked for; -1 or false/false stops.
    void Watch(int handle, bool read, bool write);

    // Called with the watched handle; run inside the exception guard.
    std::function<void(int)> OnReadable;
    std::function<void(int)> OnWritable;

private:
    void apply(QSocketNotifier *&slot, bool forRead, bool enable);

    int handle_ = -1;
    QSocketNotifier *read_ = nullptr;
    QSocketNotifier *write_ = nullptr;
};
