#include "net/tcp/readinesswatch.h"

#include "core/errors.h"
#include "net/tcp/readinessreactor.h"

#include <QPointer>
#include <QTimer>

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

ReadinessWatch::ReadinessWatch(QObject *parent, ReadinessClient &client)
    : QObject(parent)
    , client_(client)
{
}

ReadinessWatch::~ReadinessWatch()
{
    if (ReadinessReactor *reactor = ReadinessReactor::instance())
        reactor->forget(watchKey_);
}

void ReadinessWatch::select(int handle, int mask, bool connected)
{
    handle_ = handle;
    mask_ = mask;
    connected_ = connected;
    connectPending_ = (mask & NotifyConnect) != 0 && !connected;
    writeWanted_ = false;
    writeOwed_ = false;
    readDelivered_ = false;
    closeDelivered_ = false;
    acceptsPaused_ = false;
    if (mask & NotifyAccept)
        makeResumeTimer();
    if (resumeAccepts_)
        resumeAccepts_->stop();
    update();
}

void ReadinessWatch::release()
{
    handle_ = -1;
    mask_ = 0;
    update();
}

void ReadinessWatch::setConnected(bool connected)
{
    connected_ = connected;
    update();
}

void ReadinessWatch::expectWrite()
{
    writeWanted_ = true;
    update();
}

void ReadinessWatch::oweWrite()
{
    if (writeOwed_)
        return;
    writeOwed_ = true;
    const quint64 call = ++owedWriteCall_;
    const int handle = handle_;
    QMetaObject::invokeMethod(
        this, [this, call, handle] { Guarded([&] { deliverOwedWrite(call, handle); }); },
        Qt::QueuedConnection);
}

void ReadinessWatch::deliverOwedWrite(quint64 call, int handle)
{
    // A notification from the watched handle meanwhile paid the debt, a new
    // selection cancelled it, and a handle released, closed or replaced is
    // owed nothing.
    if (!writeOwed_ || call != owedWriteCall_)
        return;
    writeOwed_ = false;
    if (handle == -1 || handle != handle_ || closeDelivered_ || !connected_ || (mask_ & NotifyWrite) == 0)
        return;
    notify(handle, NotifyWrite, 0);
}

void ReadinessWatch::receiveMade()
{
    if (readDelivered_) {
        readDelivered_ = false;
        update();
    }
}

// Made when a handle starts listening, so that pausing needs no allocation
// (the pause comes when the process may be out of descriptors and memory).
void ReadinessWatch::makeResumeTimer()
{
    if (resumeAccepts_ != nullptr)
        return;
    // A timer object even for no delay: a zero-delay single shot would be a
    // posted call, which runs ahead of timers that are already due.
    resumeAccepts_ = new QTimer(this);
    resumeAccepts_->setSingleShot(true);
    connect(resumeAccepts_, &QTimer::timeout, this, [this] {
        acceptsPaused_ = false;
        update();
    });
}

void ReadinessWatch::pauseAccepts(int milliseconds)
{
    if (acceptsPaused_)
        return;
    makeResumeTimer();
    acceptsPaused_ = true;
    update();
    resumeAccepts_->start(milliseconds);
}

// A connecting handle is watched only for write (its outcome), a connected
// one for read (data or the close) and, only while a write notification is
// owed, for write: watching write all the time would wake the loop on every
// pass for nothing.
void ReadinessWatch::update()
{
    bool read = false;
    bool write = false;
    if (handle_ != -1 && mask_ != 0 && !closeDelivered_) {
        if (mask_ & NotifyAccept)
            read = !acceptsPaused_;
        else if (connectPending_)
            write = true;
        else if (connected_) {
            read = !readDelivered_ && (mask_ & (NotifyRead | NotifyClose)) != 0;
            write = writeWanted_ && (mask_ & NotifyWrite) != 0;
        }
    }
    ReadinessReactor *reactor = ReadinessReactor::instance();
    if (reactor == nullptr)
        return;
    const int handle = handle_;
    reactor->watch(watchKey_, handle, read, write, [this, handle](bool readable, bool writable) {
        const QPointer<ReadinessWatch> self(this);
        if (readable)
            this->readable(handle);
        // The read handler may have closed the handle, stopped watching for
        // room, or destroyed this watch with its connection.
        if (writable && self && handle_ == handle && watchKey_ != 0)
            this->writable(handle);
    });
}

void ReadinessWatch::notify(int handle, int notification, int code)
{
    client_.handleNotification(handle, notification, code);
}

void ReadinessWatch::readable(int handle)
{
    if (mask_ & NotifyAccept) {
        notify(handle, NotifyAccept, 0);
        return;
    }
    int pending = 0;
    int code = 0;
    if (::ioctl(handle, FIONREAD, &pending) != 0 || pending == 0) {
        socklen_t size = sizeof code;
        ::getsockopt(handle, SOL_SOCKET, SO_ERROR, &code, &size);
        if (code == 0) {
            char probe;
            const ssize_t got = ::recv(handle, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            pending = got > 0 ? int(got) : 0;
            code = got < 0 ? errno : 0;
        }
    }
    if (pending > 0) {
        // Like the platform's read notification: the next one only after a
        // receive, so a handler that leaves the data alone is not called in
        // a busy loop.
        readDelivered_ = true;
        update();
        notify(handle, NotifyRead, 0);
        return;
    }
    // End of stream or a reset: reported once, whatever the handler does.
    closeDelivered_ = true;
    update();
    notify(handle, NotifyClose, code);
}

void ReadinessWatch::writable(int handle)
{
    if (connectPending_) {
        connectPending_ = false;
        int code = 0;
        socklen_t size = sizeof code;
        if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &code, &size) != 0)
            code = errno;
        update();
        notify(handle, NotifyConnect, code);
        return;
    }
    writeWanted_ = false;
    writeOwed_ = false;
    update();
    notify(handle, NotifyWrite, 0);
}
