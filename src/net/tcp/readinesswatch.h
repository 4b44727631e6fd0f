#pragma once
// Readiness of one socket handle turned into the socket notifications of the
// TCP components, on the UI thread: the stand-in for registering a handle
// with a hidden window for socket messages.
//
// Ownership and threading: owned by its connection object; its handle is
// watched through the thread's ReadinessReactor while something is wanted
// of it. UI thread only. The handle belongs to the connection object: the watch never closes
// it, and must be released before the handle is closed.

#include <QObject>

#include <cstdint>

class QTimer;

// Notification bits, as registered for a handle.
enum TSocketNotification : int {
    NotifyRead = 1,
    NotifyWrite = 2,
    NotifyAccept = 8,
    NotifyConnect = 16,
    NotifyClose = 32,
};

// What a watch reports to: its connection object. Called inside the
// exception guard, on the UI thread; one notification (an error code, or 0)
// is handled before the next one comes.
class ReadinessClient {
public:
    virtual void handleNotification(int handle, int notification, int errorCode) = 0;

protected:
    ~ReadinessClient() = default;
};

class ReadinessWatch : public QObject {
    Q_OBJECT

public:
    // The client is the owner: a plain call, not a signal, as every peer has
    // a watch of its own.
    ReadinessWatch(QObject *parent, ReadinessClient &client);
    ~ReadinessWatch() override;

    // Registers handle for the notifications in mask. A handle that is not
    // connected yet reports its connect outcome first.
    void select(int handle, int mask, bool connected);
    // No more notifications; call before the handle is closed.
    void release();
    void setConnected(bool connected);
    // A connect was started on the watched handle and its outcome is not in.
    [[nodiscard]] bool isConnectPending() const { return handle_ != -1 && connectPending_; }
    // One write notification is owed once the handle has room again: after a
    // send that would have blocked.
    void expectWrite();
    // One write notification is owed on a handle that has room now (one just
    // accepted or connected). It comes on the next pass of the loop without
    // watching the handle: each watch started and stopped costs a walk over
    // every handle the loop watches, which ten thousand peers arriving at
    // once would pay twice each.
    void oweWrite();
    // A receive was made: the next read notification may come.
    void receiveMade();
    // No accept notification for a while; with 0, until the timers that are
    // due have run.
    void pauseAccepts(int milliseconds);

private:
    void update();
    void makeResumeTimer();
    void readable(int handle);
    void writable(int handle);
    void deliverOwedWrite(quint64 call, int handle);
    void notify(int handle, int notification, int code);

    ReadinessClient &client_;
    int handle_ = -1;
    int mask_ = 0;
    bool connected_ = false;
    bool connectPending_ = false; // the outcome of a connect comes as write readiness
    bool writeWanted_ = false;
    bool writeOwed_ = false; // oweWrite()'s notification is on its way
    quint64 owedWriteCall_ = 0; // which posted call carries it
    bool readDelivered_ = false; // the next read notification waits for a receive
    bool closeDelivered_ = false; // the close was reported; nothing more comes for this handle
    bool acceptsPaused_ = false;
    std::uint64_t watchKey_ = 0; // the handle's watch in the thread's reactor
    QTimer *resumeAccepts_ = nullptr;
};
