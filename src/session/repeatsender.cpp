#include "session/repeatsender.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

namespace {

bool alive(const QPointer<RepeatSender> &sender)
{
    return sender && !sender->isDetached();
}

} // namespace

SendControl::SendControl(RepeatSender *sender, quint64 generation)
    : sender_(sender)
    , generation_(generation)
{
}

bool SendControl::ownerGone() const
{
    return !alive(sender_);
}

bool SendControl::stopRequested() const
{
    return !sender_ || sender_->stoppedSince(generation_);
}

void SendControl::noteUnsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail) const
{
    if (alive(sender_) && unsent > 0)
        emit sender_->unsent(unsent, total, reason, detail);
}

void SendControl::noteSent(qint64 bytes) const
{
    if (alive(sender_) && bytes > 0)
        emit sender_->sentLater(bytes);
}

RepeatSender::RepeatSender(QObject *parent)
    : QObject(parent)
    , timer_(new QTimer(this))
{
    timer_->setObjectName(QStringLiteral("timer"));
    timer_->setInterval(1000);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &RepeatSender::timerTicked);
}

void RepeatSender::detach()
{
    detached_ = true;
    send_ = nullptr;
    reply_ = nullptr;
}

SendOutcome RepeatSender::sendOnce(const QByteArray &data)
{
    return sendAt(data, stopGeneration_, send_);
}

SendOutcome RepeatSender::sendReply(const QByteArray &data)
{
    return sendAt(data, stopGeneration_, reply_ ? reply_ : send_);
}

SendOutcome RepeatSender::sendAt(const QByteArray &data, quint64 generation, const SendFunction &through)
{
    if (detached_ || !through)
        return {};
    // A copy: the endpoint may go (and detach this sender) while the send
    // handles events.
    const SendFunction send = through;
    return send(data, SendControl(this, generation));
}

bool RepeatSender::pauseBetweenSends(int ms)
{
    if (ms <= 0)
        return true;
    QEventLoop loop;
    bool elapsed = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, [&] {
        elapsed = true;
        loop.quit();
    });
    // Stop, and the owner going away, end the pause at once.
    connect(this, &RepeatSender::stopped, &loop, &QEventLoop::quit);
    // Ended by anyone else, or never started, the loop is the application
    // quitting (which ends every event loop, and every new one at once).
    loop.exec();
    return elapsed;
}

RepeatSender::Outcome RepeatSender::repeat(
    const QByteArray &data, int count, const std::function<int()> &pauseMs)
{
    const QPointer<RepeatSender> self(this);
    ++sendsRunning_;
    const auto done = qScopeGuard([self] {
        if (self)
            --self->sendsRunning_;
    });
    const quint64 generation = stopGeneration_;
    for (int i = 0; i < count; ++i) {
        const SendOutcome result = sendAt(data, generation, send_);
        if (!alive(self))
            return Outcome::OwnerGone;
        emit sent(result.counted);
        if (!alive(self))
            return Outcome::OwnerGone;
        emit progressed(i + 1, count);
        if (!alive(self))
            return Outcome::OwnerGone;
        if (result.failed)
            return Outcome::Failed;
        if (stoppedSince(generation))
            return Outcome::Stopped;
        if (pauseMs) {
            const bool paused = pauseBetweenSends(std::max(0, pauseMs()));
            if (!alive(self))
                return Outcome::OwnerGone;
            if (!paused || self->stoppedSince(generation))
                return Outcome::Stopped;
        }
        QCoreApplication::processEvents();
        if (!alive(self))
            return Outcome::OwnerGone;
        if (self->stoppedSince(generation))
            return Outcome::Stopped;
    }
    return Outcome::Completed;
}

bool RepeatSender::startTimer(int intervalMs)
{
    if (intervalMs < 0)
        return false;
    if (intervalMs != timerInterval_) {
        timerInterval_ = intervalMs;
        timer_->setInterval(intervalMs); // restarts the count from now
    }
    timerOn_ = true;
    applyTimer();
    return true;
}

void RepeatSender::stop()
{
    timerOn_ = false;
    applyTimer();
    ++stopGeneration_;
    emit stopped();
}

void RepeatSender::applyTimer()
{
    // An interval of 0 leaves the timer on without ticking.
    if (timerOn_ && timerInterval_ > 0) {
        if (!timer_->isActive())
            timer_->start();
    } else {
        timer_->stop();
    }
}
