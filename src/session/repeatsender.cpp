#include "session/repeatsender.h"

#include "core/errors.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

namespace {

// Longest run of sends the transport takes at once before the window's own
// events get their turn: short enough to keep it answering, long enough
// that a repeat of small sends does not pay a pass of the event loop each.
constexpr qint64 SliceMs = 5;

bool alive(const QPointer<RepeatSender> &sender)
{
    return sender && !sender->isDetached();
}

} // namespace

struct RepeatSender::Repeat {
    quint64 id = 0;
    QByteArray data;
    int count = 0;
    int done = 0;
    std::function<int()> pauseMs;
    quint64 generation = 0;
    EndFunction ended;
    // The current send waits for the transport to take its bytes.
    bool waiting = false;
    // The transport settled the current send before it returned.
    bool settledEarly = false;
    // How the transport settled the current send.
    bool sendFailed = false;
    // Only the latest continuation scheduled goes on; older ones find
    // another step and do nothing.
    quint64 step = 0;
};

SendControl::SendControl(RepeatSender *sender, quint64 generation, quint64 repeat, bool reply)
    : sender_(sender)
    , generation_(generation)
    , repeat_(repeat)
    , reply_(reply)
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

void SendControl::settled() const
{
    if (alive(sender_) && repeat_ != 0)
        sender_->settle(repeat_, false);
}

void SendControl::failed() const
{
    if (!alive(sender_))
        return;
    if (repeat_ != 0)
        sender_->settle(repeat_, true);
    else if (reply_)
        emit sender_->replyFailed();
}

void SendControl::whenStopped(QObject *context, const std::function<void()> &stopped) const
{
    if (!sender_)
        return;
    if (sender_->stoppedSince(generation_)) {
        stopped();
        return;
    }
    QObject::connect(sender_, &RepeatSender::stopped, context, stopped, Qt::SingleShotConnection);
}

RepeatSender::RepeatSender(QObject *parent)
    : QObject(parent)
    , timer_(new QTimer(this))
{
    timer_->setObjectName(QStringLiteral("timer"));
    timer_->setInterval(1000);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &RepeatSender::timerTicked);
    // A repeat would otherwise go on, back to back, from whatever event
    // loop runs after the application's own has ended.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(
            application, &QCoreApplication::aboutToQuit, this, [this] { Guarded([this] { endRepeats(); }); });
}

RepeatSender::~RepeatSender() = default;

void RepeatSender::detach()
{
    detached_ = true;
    send_ = nullptr;
    reply_ = nullptr;
    repeats_.clear();
}

SendOutcome RepeatSender::sendOnce(const QByteArray &data)
{
    return sendAt(data, SendControl(this, stopGeneration_), send_);
}

SendOutcome RepeatSender::sendReply(const QByteArray &data)
{
    return sendAt(data, SendControl(this, stopGeneration_, 0, true), reply_ ? reply_ : send_);
}

SendOutcome RepeatSender::sendAt(
    const QByteArray &data, const SendControl &control, const SendFunction &through)
{
    if (detached_ || !through)
        return {};
    // A copy: the endpoint may go (and detach this sender) during the send.
    const SendFunction send = through;
    return send(data, control);
}

RepeatSender::Repeat *RepeatSender::find(quint64 id) const
{
    for (const auto &repeat : repeats_)
        if (repeat->id == id)
            return repeat.get();
    return nullptr;
}

void RepeatSender::repeat(const QByteArray &data, int count, std::function<int()> pauseMs, EndFunction ended)
{
    if (detached_)
        return;
    auto started = std::make_unique<Repeat>();
    started->id = ++lastRepeat_;
    started->data = data;
    started->count = count;
    started->pauseMs = std::move(pauseMs);
    started->generation = stopGeneration_;
    started->ended = std::move(ended);
    const quint64 id = started->id;
    repeats_.push_back(std::move(started));
    run(id);
}

void RepeatSender::run(quint64 id)
{
    const QPointer<RepeatSender> self(this);
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        Repeat *repeat = find(id);
        if (!repeat || repeat->waiting)
            return;
        if (stoppedSince(repeat->generation)) {
            end(id, Outcome::Stopped);
            return;
        }
        if (repeat->done >= repeat->count) {
            end(id, Outcome::Completed);
            return;
        }
        // Copies: the repeat may end during the send.
        const QByteArray data = repeat->data;
        const quint64 generation = repeat->generation;
        SendOutcome result;
        try {
            result = sendAt(data, SendControl(this, generation, id), send_);
        } catch (...) {
            if (alive(self) && find(id))
                end(id, Outcome::Failed);
            throw;
        }
        if (!alive(self) || !find(id))
            return;
        emit sent(result.counted);
        repeat = alive(self) ? find(id) : nullptr;
        if (!repeat)
            return;
        bool failed = result.failed;
        if (result.pending && !failed) {
            if (!std::exchange(repeat->settledEarly, false)) {
                repeat->waiting = true;
                return;
            }
            failed = repeat->sendFailed;
        }
        if (!sendDone(id, failed))
            return;
        if (slice.elapsed() >= SliceMs) {
            continueLater(id, 0, false);
            return;
        }
    }
}

bool RepeatSender::sendDone(quint64 id, bool failed)
{
    const QPointer<RepeatSender> self(this);
    Repeat *repeat = find(id);
    if (!repeat)
        return false;
    ++repeat->done;
    emit progressed(repeat->done, repeat->count);
    if (!alive(self) || !(repeat = find(id)))
        return false;
    if (failed) {
        end(id, Outcome::Failed);
        return false;
    }
    if (stoppedSince(repeat->generation)) {
        end(id, Outcome::Stopped);
        return false;
    }
    if (!repeat->pauseMs)
        return true;
    // The interval as it reads now: it may have been edited since.
    int ms = 0;
    try {
        ms = std::max(0, repeat->pauseMs());
    } catch (...) {
        if (alive(self) && find(id))
            end(id, Outcome::Failed);
        throw;
    }
    if (!alive(self) || !find(id))
        return false;
    if (ms == 0)
        return true;
    continueLater(id, ms, false);
    return false;
}

void RepeatSender::continueLater(quint64 id, int ms, bool sendDoneFirst)
{
    Repeat *repeat = find(id);
    if (!repeat)
        return;
    const quint64 step = ++repeat->step;
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, id, step, sendDoneFirst] {
        Guarded([&] {
            const Repeat *repeat = find(id);
            if (!repeat || repeat->step != step)
                return;
            if (sendDoneFirst && !sendDone(id, repeat->sendFailed))
                return;
            run(id);
        });
    });
}

void RepeatSender::settle(quint64 id, bool failed)
{
    Repeat *repeat = find(id);
    if (!repeat)
        return;
    repeat->sendFailed = failed;
    if (!repeat->waiting) {
        repeat->settledEarly = true;
        return;
    }
    repeat->waiting = false;
    // Not from here: the transport that settles is in the middle of its own
    // handling, and the next send goes through it again.
    continueLater(id, 0, true);
}

void RepeatSender::end(quint64 id, Outcome outcome)
{
    const auto at = std::find_if(
        repeats_.begin(), repeats_.end(), [id](const std::unique_ptr<Repeat> &r) { return r->id == id; });
    if (at == repeats_.end())
        return;
    const std::unique_ptr<Repeat> ended = std::move(*at);
    repeats_.erase(at);
    if (ended->ended)
        ended->ended(outcome);
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
    endRepeats();
}

void RepeatSender::endRepeats()
{
    const QPointer<RepeatSender> self(this);
    ++stopGeneration_;
    // The transport notes what it gives up first, then each repeat ends.
    emit stopped();
    std::vector<quint64> under;
    for (const auto &repeat : repeats_)
        if (stoppedSince(repeat->generation))
            under.push_back(repeat->id);
    for (const quint64 id : under) {
        if (!alive(self))
            return;
        end(id, Outcome::Stopped);
    }
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
