#pragma once
// Catches a nested event loop: while a probe exists, it notes how many event
// loops were running (QThread::loopLevel(), counted from where the probe was
// made) at every event the main thread delivers, and a timer of its own that
// fires at every pass of any loop makes sure events keep coming even in a
// loop that would otherwise sit idle. A flow that opens a dialog with exec(),
// or any QEventLoop of its own, shows up one deeper than the loops the test
// itself runs. QTRY_* and QTest::qWait process events without a loop of their
// own, so a test that waits only with them runs at depth 0.
//
// A loop too short to be seen between two events (a quick host lookup) is
// still caught by inside(): the probe's timer must not fire while the call
// runs, which it does only when the call runs a loop. Main thread only.

#include <QCoreApplication>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace loop_test {

class LoopDepthProbe : public QObject {
public:
    LoopDepthProbe()
        : base_(QThread::currentThread()->loopLevel())
    {
        QCoreApplication::instance()->installEventFilter(this);
        connect(&ticks_, &QTimer::timeout, this, [this] {
            note();
            if (inside_ > 0)
                ++firedInside_;
        });
        ticks_.start(0);
        note();
    }
    ~LoopDepthProbe() override { QCoreApplication::instance()->removeEventFilter(this); }
    LoopDepthProbe(const LoopDepthProbe &) = delete;
    LoopDepthProbe &operator=(const LoopDepthProbe &) = delete;

    // The most event loops seen running at once since the probe was made.
    [[nodiscard]] int deepest() const { return deepest_; }
    // Runs the call as a watched part of the flow.
    void inside(const std::function<void()> &call)
    {
        ++inside_;
        call();
        --inside_;
    }
    // Every event the object gets (a timer's ticks) is a watched part.
    void watch(QObject *object) { watched_.insert(object); }
    // How often the probe's timer fired inside a watched part: never, unless
    // a watched part ran an event loop.
    [[nodiscard]] int firedInside() const { return firedInside_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        note();
        if (!watched_.contains(watched) || delivering_ == watched)
            return QObject::eventFilter(watched, event);
        delivering_ = watched;
        inside([&] { QCoreApplication::instance()->notify(watched, event); });
        delivering_ = nullptr;
        return true;
    }

private:
    void note() { deepest_ = std::max(deepest_, QThread::currentThread()->loopLevel() - base_); }

    QTimer ticks_;
    int base_;
    int deepest_ = 0;
    int firedInside_ = 0;
    int inside_ = 0;
    QSet<QObject *> watched_;
    QObject *delivering_ = nullptr;
};

} // namespace loop_test
