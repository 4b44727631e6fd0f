#include "core/throttle.h"

#include "core/errors.h"

Throttle::Throttle(std::chrono::milliseconds interval, std::function<void()> action, QObject *parent)
    : QObject(parent)
    , interval_(interval)
    , action_(std::move(action))
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { Guarded([this] { run(); }); });
}

void Throttle::request()
{
    if (timer_.isActive())
        return;
    const qint64 sinceLast = lastRun_.isValid() ? lastRun_.elapsed() : interval_.count();
    if (sinceLast >= interval_.count()) {
        run();
        return;
    }
    timer_.start(int(interval_.count() - sinceLast));
}

void Throttle::runNow()
{
    timer_.stop();
    run();
}

void Throttle::cancel()
{
    timer_.stop();
}

void Throttle::run()
{
    timer_.stop();
    lastRun_.start();
    action_();
}
