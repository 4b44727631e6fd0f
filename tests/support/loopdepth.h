#pragma once
// Catches a nested event loop: while a probe exists, it notes how many event
// loops were running (QThread::loopLevel()) at every event the main thread
// delivers, and a timer of its own makes sure events keep coming even in a
// loop that would otherwise sit idle. A flow that opens a dialog with exec(),
// or any QEventLoop of its own, shows up one deeper than the loops the test
// itself runs. QTRY_* and QTest::qWait process events without a loop of
// their own, so a test that waits only with them runs at depth 0; one that
// runs QCoreApplication::exec() runs at depth 1. Main thread only.

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace loop_test {

class LoopDepthProbe : public QObject {
public:
    LoopDepthProbe()
    {
        QCoreApplication::instance()->installEventFilter(this);
        connect(&ticks_, &QTimer::timeout, this, [this] { note(); });
        ticks_.start(1);
        note();
    }
    ~LoopDepthProbe() override { QCoreApplication::instance()->removeEventFilter(this); }
    LoopDepthProbe(const LoopDepthProbe &) = delete;
    LoopDepthProbe &operator=(const LoopDepthProbe &) = delete;

    // The most event loops seen running at once since the probe was made.
    [[nodiscard]] int deepest() const { return deepest_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        note();
        return QObject::eventFilter(watched, event);
    }

private:
    void note() { deepest_ = std::max(deepest_, QThread::currentThread()->loopLevel()); }

    QTimer ticks_;
    int deepest_ = 0;
};

} // namespace loop_test
