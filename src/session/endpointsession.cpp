#include "session/endpointsession.h"

#include "core/errors.h"
#include "core/hexcodec.h"
#include "core/wholenumber.h"
#include "session/replyrulestore.h"
#include "session/seriallines.h"

#include <QDateTime>
#include <QPointer>

EndpointSession::EndpointSession(QObject *parent)
    : QObject(parent)
{
    rateTimer_.setInterval(1000);
    connect(&rateTimer_, &QTimer::timeout, this, [this] { Guarded([this] { measureRates(); }); });
}

EndpointSession::~EndpointSession() = default;

RepeatSender &EndpointSession::sender()
{
    if (sender_)
        return *sender_;
    sender_ = new RepeatSender(this);
    if (detached_)
        sender_->detach();
    sender_->setSendFunction(send_);
    sender_->setReplyFunction(reply_);
    // A repeat shows the counters when it ends, not after every send.
    connect(sender_, &RepeatSender::sent, this, [this](qint64 bytes) { sentBytes_ += bytes; });
    connect(sender_, &RepeatSender::sentLater, this, [this](qint64 bytes) {
        sentBytes_ += bytes;
        emit countersChanged();
    });
    connect(sender_, &RepeatSender::unsent, this, &EndpointSession::noteUnsent);
    connect(sender_, &RepeatSender::timerTicked, this, [this] { Guarded([this] { sendOnTimer(); }); });
    connect(sender_, &RepeatSender::progressed, this, &EndpointSession::repeatProgressed);
    // A reply that fails later (its host name did not resolve) ends
    // automatic replies as one that fails at once.
    connect(sender_, &RepeatSender::replyFailed, this, [this] {
        if (setup_.autoReply)
            giveUpReplies();
    });
    return *sender_;
}

SerialLines &EndpointSession::makeSerialLines()
{
    if (!serialLines_)
        serialLines_ = new SerialLines(this);
    return *serialLines_;
}

void EndpointSession::setSendFunction(SendFunction send)
{
    if (detached_)
        return;
    send_ = std::move(send);
    if (sender_)
        sender_->setSendFunction(send_);
}

void EndpointSession::setReplyFunction(
    SendFunction reply, std::function<ReplyRoom(qsizetype size)> hasRoom, std::function<bool()> idle)
{
    if (!detached_) {
        reply_ = std::move(reply);
        if (sender_)
            sender_->setReplyFunction(reply_);
    }
    replyHasRoom_ = std::move(hasRoom);
    repliesIdle_ = std::move(idle);
}

void EndpointSession::detach()
{
    detached_ = true;
    send_ = nullptr;
    reply_ = nullptr;
    if (sender_)
        sender_->detach();
}

bool EndpointSession::isAttached() const
{
    return !detached_;
}

SessionSetup EndpointSession::setup() const
{
    SessionSetup setup = setup_;
    if (viewEdits_)
        viewEdits_(setup);
    return setup;
}

void EndpointSession::setSetup(const SessionSetup &setup)
{
    const bool timed = setup.timedSending;
    // What the view holds is replaced: its edits count no more.
    SessionSetup taken = setup;
    taken.autoReply = setup.autoReply && autoReplyAvailable_;
    taken.timedSending = setup_.timedSending;
    changeSetup(taken);
    if (timed && !setup_.timedSending)
        (void)startTimedSending();
    else if (!timed && setup_.timedSending)
        endSending();
}

void EndpointSession::setViewEdits(std::function<void(SessionSetup &)> edits)
{
    viewEdits_ = std::move(edits);
}

void EndpointSession::changeSetup(const SessionSetup &setup)
{
    const bool autoReplyChange = setup.autoReply != setup_.autoReply;
    setup_ = setup;
    emit setupChanged(setup_);
    if (autoReplyChange)
        emit autoReplyChanged(setup_.autoReply);
}

void EndpointSession::setHexMode(bool hex)
{
    setup_.hexMode = hex;
}

void EndpointSession::setMilliseconds(bool on)
{
    setup_.milliseconds = on;
}

QByteArray EndpointSession::typedBytes() const
{
    const SessionSetup now = setup();
    return now.hexMode ? HexTextToBytes(now.sendText) : SendBoxBytes(now.sendText);
}

void EndpointSession::addToCounters(qint64 received, qint64 sent)
{
    receivedBytes_ += received;
    sentBytes_ += sent;
    emit countersChanged();
}

void EndpointSession::resetCounters()
{
    sentBytes_ = 0;
    receivedBytes_ = 0;
    // The next rate counts from zero, not from the old totals.
    ratedReceived_ = 0;
    ratedSent_ = 0;
    emit countersChanged();
    emit flushRequested();
}

void EndpointSession::log(LogEntry::Kind kind, const QByteArray &data, const QString &repeatCount)
{
    emit entryLogged(
        LogEntry{QDateTime::currentMSecsSinceEpoch(), kind, setup_.hexMode, data, repeatCount, QString()});
}

void EndpointSession::logReceived(const QByteArray &data)
{
    log(LogEntry::Kind::Received, data);
    receivedBytes_ += data.size();
    emit countersChanged();
}

void EndpointSession::logStatus(const QString &text)
{
    emit entryLogged(
        LogEntry{QDateTime::currentMSecsSinceEpoch(), LogEntry::Kind::Status, setup_.hexMode, {}, {}, text});
}

void EndpointSession::logLine(const QString &line)
{
    emit entryLogged(
        LogEntry{QDateTime::currentMSecsSinceEpoch(), LogEntry::Kind::Line, setup_.hexMode, {}, {}, line});
}

void EndpointSession::sendTyped()
{
    SessionSetup now = setup();
    const QByteArray data = now.hexMode ? HexTextToBytes(now.sendText) : SendBoxBytes(now.sendText);
    if (data.isEmpty())
        return;
    log(LogEntry::Kind::Sent, data, now.repeatCount);
    now.sendText.clear();
    changeSetup(now);
    const int count = ParseWholeNumber(now.repeatCount);
    const QPointer<EndpointSession> self(this);
    auto pause = [self] { return self ? ParseWholeNumber(self->setup().interval) : 0; };
    // The counters show when the repeat ends, not after every send.
    sender().repeat(data, count, std::move(pause), [this](RepeatSender::Outcome) {
        emit countersChanged();
        emit repeatEnded();
    });
}

qint64 EndpointSession::sendToPeer(const QByteArray &data)
{
    return sender().sendOnce(data).counted;
}

void EndpointSession::noteUnsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail)
{
    QString text;
    if (reason == UnsentReason::ConnectionGone && unsent == total)
        text = tr(" 发送失败：连接已断开，数据未发出");
    else if (reason == UnsentReason::ConnectionGone)
        text = tr(" 发送失败：连接已断开，%1 字节未发出").arg(unsent);
    else if (reason == UnsentReason::ConnectionBusy)
        text = tr(" 发送失败：上一次发送尚未完成，%1 字节未发出").arg(unsent);
    else if (reason == UnsentReason::PeerNotReading)
        text = tr(" 发送超时：对方未接收数据，%1 字节未发出").arg(unsent);
    else if (reason == UnsentReason::NoRoom)
        text = tr(" 发送失败：发送队列已满，%1 字节未发出").arg(unsent);
    else if (reason == UnsentReason::OutputBudget)
        text = tr(" 发送失败：全部连接等待发送的数据已达上限，%1 字节未发出").arg(unsent);
    else if (reason == UnsentReason::SendError)
        text = tr(" 发送失败：%2，%1 字节未发出").arg(QString::number(unsent), detail);
    else
        text = tr(" 发送已停止，%1 字节未发出").arg(unsent);
    logStatus(text);
}

bool EndpointSession::startTimedSending()
{
    if (!sender().startTimer(ParseWholeNumber(setup().interval)))
        return false;
    if (!setup_.timedSending) {
        SessionSetup now = setup();
        now.timedSending = true;
        changeSetup(now);
    }
    return true;
}

void EndpointSession::endSending()
{
    // Stop also ends the answers waiting for a peer that does not read.
    pendingReplies_.clear();
    if (sender_)
        sender_->stop();
    if (setup_.timedSending) {
        SessionSetup now = setup();
        now.timedSending = false;
        changeSetup(now);
    }
}

void EndpointSession::sendOnTimer()
{
    // A tick while the last one's send still waits for a slow peer is
    // skipped: timed sending goes at the pace the peer takes.
    if (isRepeating())
        return;
    const SessionSetup now = setup();
    const QByteArray data = now.hexMode ? HexTextToBytes(now.sendText) : SendBoxBytes(now.sendText);
    if (data.isEmpty())
        return;
    log(LogEntry::Kind::TimedSend, data, now.repeatCount);
    sender().repeat(data, ParseWholeNumber(now.repeatCount), nullptr, [this](RepeatSender::Outcome outcome) {
        // A send that fails ends timed sending: the next tick would only
        // fail again, each time with its message boxes.
        if (outcome == RepeatSender::Outcome::Failed)
            endSending();
        emit countersChanged();
        emit repeatEnded();
    });
}

void EndpointSession::transferStarted(const QString &path, qint64 total)
{
    transfer_ = Transfer{path, total, 0, {}};
    transfer_->clock.start();
    logStatus(tr(" 开始发送文件：%1，共 %2 字节").arg(path).arg(total));
    emit transferChanged(true);
}

void EndpointSession::transferProgressed(qint64 newlySent)
{
    if (!transfer_)
        return;
    transfer_->sent += newlySent;
    sentBytes_ += newlySent;
    emit countersChanged();
    emit transferChanged(false);
}

void EndpointSession::transferEnded(TransferEnd end, const QString &reason)
{
    if (!transfer_)
        return;
    const Transfer done = *transfer_;
    transfer_.reset();
    emit transferFinished();
    QString text;
    if (end == TransferEnd::Completed)
        text = tr(" 文件发送完成：%1，已发送 %2 字节").arg(done.path).arg(done.sent);
    else if (end == TransferEnd::Cancelled)
        text = tr(" 文件发送已取消：%1，已发送 %2/%3 字节").arg(done.path).arg(done.sent).arg(done.total);
    else
        text = tr(" 文件发送失败：%1：%2，已发送 %3/%4 字节")
                   .arg(done.path, reason)
                   .arg(done.sent)
                   .arg(done.total);
    logStatus(text);
    emit flushRequested();
}

void EndpointSession::setAutoReplyAvailable(bool available)
{
    autoReplyAvailable_ = available;
    if (!available && setup_.autoReply)
        setAutoReplyOn(false);
    emit autoReplyAvailableChanged(available);
}

void EndpointSession::setAutoReplyOn(bool on)
{
    SessionSetup now = setup();
    now.autoReply = on && autoReplyAvailable_;
    if (now.autoReply != setup_.autoReply)
        changeSetup(now);
}

void EndpointSession::setReplyRulesKey(const QString &key)
{
    replyRulesKey_ = key;
    replyRules_.reset();
    keptRules_.reset();
    ownReplyRules_ = false;
}

ReplyRuleSet &EndpointSession::ruleSet()
{
    if (!replyRules_) {
        replyRules_ = std::make_unique<ReplyRuleSet>();
        replyRules_->setLimitHandler([this](int number) {
            logStatus(tr(" 自动应答规则 %1 的正则表达式匹配超出限制，按不匹配处理").arg(number));
        });
        if (!replyRulesKey_.isEmpty() && !ownReplyRules_) {
            keptRules_ = keptReplyRules(replyRulesKey_);
            keptRulesVersion_ = keptRules_->version;
            replyRules_->setRules(keptRules_->rules);
        }
    }
    // Another session of the key accepted a list since.
    if (keptRules_ && keptRules_->version != keptRulesVersion_) {
        replyRules_->setRules(keptRules_->rules);
        keptRulesVersion_ = keptRules_->version;
    }
    return *replyRules_;
}

const std::vector<ReplyRule> &EndpointSession::replyRules()
{
    return ruleSet().rules();
}

bool EndpointSession::acceptReplyRules(const std::vector<ReplyRule> &rules, QString *unsavedTo)
{
    ruleSet().setRules(rules);
    if (!keptRules_)
        return true;
    keptRules_->rules = rules;
    keptRulesVersion_ = ++keptRules_->version;
    return storeReplyRules(replyRulesKey_, rules, unsavedTo);
}

void EndpointSession::useReplyRules(
    const std::vector<ReplyRule> &rules, std::shared_ptr<const CompiledReplyRules> compiled)
{
    // Neither the key's list nor the settings are read: they are not these.
    ownReplyRules_ = true;
    keptRules_.reset();
    ruleSet().setRules(rules, std::move(compiled));
}

namespace {

// The local time of day a reply's {time} shows. Local time asks the C
// library, which looks at the zone file on the disk each time: a flood of
// requests would pay a file system call for each one. The time of the
// second is made anew only when the second changes (a zone's offset changes
// on a whole second). UI thread only.
QTime replyTime()
{
    static qint64 cachedSecond = -1;
    static QTime cached;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000;
    if (second != cachedSecond) {
        cached = QDateTime::fromSecsSinceEpoch(second).time();
        cachedSecond = second;
    }
    return cached.addMSecs(int(now - second * 1000));
}

} // namespace

std::optional<QByteArray> EndpointSession::autoReplyTo(const QByteArray &received)
{
    if (!setup_.autoReply)
        return std::nullopt;
    return ruleSet().replyTo(received, replyTime());
}

void EndpointSession::sendReply(const QByteArray &reply)
{
    ReplyRoom room = ReplyRoom::Room;
    if (replying_ && pendingReplies_.size() >= MaxWaitingReplies)
        room = ReplyRoom::PeerBacklog;
    else if (replyHasRoom_)
        room = replyHasRoom_(reply.size());
    if (room != ReplyRoom::Room) {
        // A peer that sends and never reads would make the queue grow
        // without end, and a crowd of them the program's memory; past the
        // bound its answers are dropped, and told once.
        if (droppedReplies_++ == 0)
            logStatus(room == ReplyRoom::PeerBacklog
                    ? tr(" 自动应答积压过多（对方未接收数据），新的应答将被丢弃")
                    : tr(" 全部连接等待发送的数据已达上限，新的应答将被丢弃"));
        return;
    }
    pendingReplies_.push_back(reply);
    if (replying_)
        return;
    replying_ = true;
    const QPointer<EndpointSession> self(this);
    try {
        while (!pendingReplies_.empty() && isAttached()) {
            const QByteArray next = pendingReplies_.front();
            pendingReplies_.pop_front();
            log(LogEntry::Kind::Reply, next);
            const SendOutcome outcome = sender().sendReply(next);
            if (!self)
                return;
            sentBytes_ += outcome.counted;
            emit countersChanged();
            if (outcome.failed)
                giveUpReplies();
        }
    } catch (...) {
        if (self) {
            replying_ = false;
            giveUpReplies();
        }
        throw;
    }
    pendingReplies_.clear();
    replying_ = false;
    // Replies waiting behind the endpoint's reply function go out after this
    // loop; the drops are told with a reply once none waits there.
    if (droppedReplies_ > 0 && isAttached() && (!repliesIdle_ || repliesIdle_()))
        logStatus(tr(" 已丢弃 %1 条自动应答").arg(std::exchange(droppedReplies_, 0)));
}

void EndpointSession::giveUpReplies()
{
    pendingReplies_.clear();
    setAutoReplyOn(false);
    logStatus(tr(" 自动应答已关闭：") + tr("发送失败"));
}

void EndpointSession::startRateTicks()
{
    if (!rateTimer_.isActive())
        rateTimer_.start();
}

void EndpointSession::resetRateBase()
{
    ratedReceived_ = receivedBytes_;
    ratedSent_ = sentBytes_;
}

void EndpointSession::measureRates()
{
    const qint64 received = std::max<qint64>(0, receivedBytes_ - ratedReceived_);
    const qint64 sent = std::max<qint64>(0, sentBytes_ - ratedSent_);
    ratedReceived_ = receivedBytes_;
    ratedSent_ = sentBytes_;
    if (received == 0 && sent == 0)
        rateTimer_.stop();
    emit ratesMeasured(received, sent);
}
