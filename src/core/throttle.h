#pragma once
// Runs an action at most once per interval however often it is asked for.
// Asked when the action has not run for a whole interval, it runs at once,
// inside the call; asked again sooner, it runs once when the interval is
// over, for all the requests in between. A burst of ten thousand requests so
// costs a handful of runs, while a lone request is served without delay.
// Owned by whoever owns the action; UI thread (or the owner's thread) only.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class Throttle : public QObject {
    Q_OBJECT

public:
    Throttle(std::chrono::milliseconds interval, std::function<void()> action, QObject *parent = nullptr);

    // Runs the action now, or marks it to run when the interval is over.
    void request();
    // Runs a pending action now instead of at the end of the interval.
    void runNow();
    // Forgets a pending run.
    void cancel();

private:
    void run();

    std::chrono::milliseconds interval_;
    std::function<void()> action_;
    QTimer timer_;
    QElapsedTimer lastRun_;
};
