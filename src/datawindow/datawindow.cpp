#include "datawindow/datawindow.h"

#include "core/errors.h"
#include "core/logtexts.h"
#include "core/replyrules.h"
#include "core/wholenumber.h"
#include "datawindow/activitybar.h"
#include "datawindow/layouthelpers.h"
#include "datawindow/replyrulesdialog.h"
#include "datawindow/sendpanel.h"
#include "ui/documentarea.h"
#include "ui/logfeed.h"
#include "ui/logview.h"
#include "ui/messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHash>
#include <QPointer>
#include <QSettings>
#include <QVBoxLayout>

using namespace layout_helpers;

DataWindow::DataWindow(DocumentArea *area)
    : sender_(new RepeatSender(this))
    , area_(area)
{
    setWindowTitle(tr("数据收发窗口"));
    resize(505, 503);
    // A repeat shows the counters when it ends, not after every send.
    connect(sender_, &RepeatSender::sent, this, [this](qint64 bytes) { sentBytes_ += bytes; });
    connect(sender_, &RepeatSender::sentLater, this, [this](qint64 bytes) {
        sentBytes_ += bytes;
        updateCounters();
    });
    connect(sender_, &RepeatSender::unsent, this, &DataWindow::noteUnsent);
    connect(sender_, &RepeatSender::timerTicked, this, [this] { Guarded([this] { sendOnTimer(); }); });
    connect(sender_, &RepeatSender::progressed, this, &DataWindow::showRepeatProgress);
    rateTimer_.setInterval(1000);
    connect(&rateTimer_, &QTimer::timeout, this, [this] { Guarded([this] { showRates(); }); });
    if (area)
        area->addDocument(this);
}

DataWindow::~DataWindow() = default;

namespace {

// Translated at first use, after main installed the translator; every
// window's build measures it.
const QString &receiveBoxTitle()
{
    static const QString title = QCoreApplication::translate("DataWindow", "数据接收及提示窗口");
    return title;
}

QSettings replyRuleSettings()
{
    return QSettings(QStringLiteral("Portwright"), QStringLiteral("portwright"));
}

} // namespace

// The rules of one key (two TCP clients of one port share it). Kept while a
// window of the key exists; the next window of a key nobody holds reads the
// settings, as after a restart.
struct KeptReplyRules {
    std::vector<ReplyRule> rules;
    quint64 version = 0; // counts the lists accepted for the key
};

namespace {

std::shared_ptr<KeptReplyRules> keptReplyRules(const QString &key)
{
    static QHash<QString, std::weak_ptr<KeptReplyRules>> kept;
    if (std::shared_ptr<KeptReplyRules> held = kept.value(key).lock())
        return held;
    kept.removeIf([](const auto &entry) { return entry.value().expired(); });
    auto fresh = std::make_shared<KeptReplyRules>();
    QSettings settings = replyRuleSettings();
    fresh->rules = loadRules(settings, key);
    kept.insert(key, fresh);
    return fresh;
}

} // namespace

void DataWindow::setVisible(bool visible)
{
    if (visible)
        build();
    QWidget::setVisible(visible);
}

void DataWindow::build()
{
    if (isBuilt())
        return;
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    statusPanel_ = new StatusPanel(this);
    layout->addWidget(statusPanel_);

    auto *body = new QWidget(this);
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);
    layout->addWidget(body, 1);
    buildReceiveArea(body);
    bodyLayout->addWidget(receiveArea_);
    sendPanel_ = new SendPanel(body);
    bodyLayout->addWidget(sendPanel_, 1);
    connectHandlers();
    connectActivity();
    connectLogTools();

    if (status_)
        statusPanel_->showContent(*status_);
    if (webReplySwitchShown_)
        statusPanel_->showWebReplySwitch();
    if (!countersShown_.isEmpty())
        sendPanel_->showCounters(countersShown_);
    sendPanel_->showAutoReply(autoReplyAvailable_);
    sendPanel_->setAutoReplyOn(autoReplyOn_);
    // Rates start from what the counters show now, not from what came
    // before the window was first shown.
    ratedReceived_ = receivedBytes_;
    ratedSent_ = sentBytes_;
    if (transfer_)
        showTransferProgress();
    if (!logFileNameBase_.isEmpty())
        log_->setFileNameBase(logFileNameBase_);
    if (feed_)
        feed_->setView(log_);
}

void DataWindow::buildReceiveArea(QWidget *body)
{
    receiveArea_ = new QWidget(body);
    receiveArea_->setFixedHeight(164);
    auto *receiveBox = new QGroupBox(receiveBoxTitle(), receiveArea_);
    receiveBox->setObjectName(QStringLiteral("receiveBox"));
    paintBackground(receiveBox, Colours::Cream);
    fill(receiveArea_, receiveBox)->setContentsMargins(0, 0, 0, 0);
    log_ = new LogView(receiveBox);
    log_->setObjectName(QStringLiteral("log"));
    paintBackground(log_, Colours::LogBackground, {QPalette::Base});
    fill(receiveBox, log_);
    // Over the free part of the box's title row, right of the title.
    activityBar_ = new ActivityBar(receiveArea_);
    activityBar_->raise();
    receiveArea_->installEventFilter(this);
    placeActivityBar();
}

void DataWindow::placeActivityBar()
{
    const int left = fontMetrics().horizontalAdvance(receiveBoxTitle()) + 24;
    activityBar_->setGeometry(left, 0, std::max(0, receiveArea_->width() - left - 6), 18);
}

bool DataWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == receiveArea_ && event->type() == QEvent::Resize)
        placeActivityBar();
    return QWidget::eventFilter(watched, event);
}

void DataWindow::connectHandlers()
{
    const auto guarded = [this](void (DataWindow::*handler)()) {
        return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
    };
    connect(sendPanel_, &SendPanel::sendClicked, this, guarded(&DataWindow::sendTyped));
    connect(sendPanel_, &SendPanel::resetClicked, this, guarded(&DataWindow::resetCounters));
    connect(sendPanel_, &SendPanel::startTimerClicked, this, guarded(&DataWindow::startTimedSending));
    connect(sendPanel_, &SendPanel::stopTimerClicked, this, guarded(&DataWindow::stopTimedSending));
    connect(statusPanel_, &StatusPanel::startClicked, this, guarded(&DataWindow::requestStart));
    connect(statusPanel_, &StatusPanel::stopReleased, this, guarded(&DataWindow::requestStop));
    connect(sendPanel_, &SendPanel::sendFileClicked, this, guarded(&DataWindow::chooseFileToSend));
    connect(sendPanel_, &SendPanel::autoReplyToggled, this, [this](bool on) { autoReplyOn_ = on; });
    connect(sendPanel_, &SendPanel::replyRulesClicked, this, guarded(&DataWindow::editReplyRules));
}

void DataWindow::connectActivity()
{
    connect(
        activityBar_, &ActivityBar::cancelClicked, this, [this] { Guarded([this] { cancelActivity(); }); });
}

void DataWindow::cancelActivity()
{
    if (transfer_)
        emit transferCancelRequested();
    else
        endSending();
}

void DataWindow::showRates()
{
    const qint64 received = std::max<qint64>(0, receivedBytes_ - ratedReceived_);
    const qint64 sent = std::max<qint64>(0, sentBytes_ - ratedSent_);
    ratedReceived_ = receivedBytes_;
    ratedSent_ = sentBytes_;
    if (!activityBar_)
        return;
    if (received == 0 && sent == 0) {
        activityBar_->clearRates();
        rateTimer_.stop();
        return;
    }
    activityBar_->showRates(received, sent);
}

void DataWindow::showRepeatProgress(int done, int count)
{
    if (done == 1)
        repeatClock_.start();
    // Only a repeat that lasts is worth a progress bar, and a bar redrawn
    // ten times a second is as good as one redrawn at every send.
    if (!activityBar_ || transfer_ || repeatClock_.elapsed() < 1000)
        return;
    if (done < count && progressShownAt_.isValid() && progressShownAt_.elapsed() < 100)
        return;
    progressShownAt_.start();
    if (done >= count) {
        activityBar_->hideProgress();
        return;
    }
    activityBar_->showProgress(tr("重复发送：%1/%2次").arg(done).arg(count), done, count);
}

void DataWindow::connectLogTools()
{
    connect(log_, &LogView::millisecondsToggled, this, [this](bool on) { showsMilliseconds_ = on; });
    connect(log_, &LogView::recordingRequested, this, [this](const QString &path) {
        Guarded([this, &path] {
            const QString error = feed().startRecording(path);
            log_->setRecordingShown(feed().isRecording());
            if (!error.isEmpty())
                ShowMessage(tr("记录日志失败：") + path + tr("：") + error);
        });
    });
    connect(log_, &LogView::stopRecordingRequested, this, [this] {
        feed().stopRecording();
        log_->setRecordingShown(false);
    });
    // Receiving, counting and the log go on; only the file is given up.
    connect(&feed(), &LogFeed::recordingFailed, this, [this](const QString &path, const QString &error) {
        log_->setRecordingShown(false);
        ShowMessage(tr("记录日志失败：") + path + tr("：") + error + tr("，已停止记录"));
    });
    // Told in the log rather than a box: the user asked for the stop, and
    // the window may be closing.
    connect(&feed(), &LogFeed::recordingAbandoned, this, [this](const QString &path, qint64 unwritten) {
        appendLogLine(timeText() + tr(" 停止记录：%1 无响应，%2 字节未写入").arg(path).arg(unwritten));
    });
}

QString DataWindow::timeText() const
{
    return showsMilliseconds_ ? TimeTextWithMilliseconds() : TimeText();
}

LogFeed &DataWindow::feed()
{
    if (!feed_) {
        feed_ = new LogFeed(this);
        feed_->setView(log_);
        connect(feed_, &LogFeed::flushed, this, [this] {
            countersShown_ = CountersLine(receivedBytes_, sentBytes_);
            if (sendPanel_)
                sendPanel_->showCounters(countersShown_);
            if (activityBar_ && !rateTimer_.isActive())
                rateTimer_.start();
        });
    }
    return *feed_;
}

SendPanel &DataWindow::sendPanel()
{
    build();
    return *sendPanel_;
}

void DataWindow::setSendFunction(SendFunction send)
{
    sender_->setSendFunction(std::move(send));
}

void DataWindow::setReplyFunction(
    SendFunction reply, std::function<bool(qsizetype size)> hasRoom, std::function<bool()> idle)
{
    sender_->setReplyFunction(std::move(reply));
    replyHasRoom_ = std::move(hasRoom);
    repliesIdle_ = std::move(idle);
}

void DataWindow::showStatus(const StatusPanel::Content &content)
{
    if (status_)
        status_->takeIn(content);
    else
        status_ = content;
    if (statusPanel_)
        statusPanel_->showContent(content);
}

void DataWindow::showWebReplySwitch()
{
    webReplySwitchShown_ = true;
    if (statusPanel_)
        statusPanel_->showWebReplySwitch();
}

bool DataWindow::isWebReplyOn() const
{
    // Nobody could have switched it on before it was built.
    return statusPanel_ && statusPanel_->isWebReplyOn();
}

void DataWindow::detach()
{
    sender_->detach();
}

bool DataWindow::isAttached() const
{
    return !sender_->isDetached();
}

bool DataWindow::isHexMode() const
{
    return sendPanel_ && sendPanel_->isHexMode();
}

void DataWindow::logReceived(const QByteArray &data)
{
    appendLogLine(ReceiveLogLine(timeText(), data, isHexMode()));
    receivedBytes_ += data.size();
    updateCounters();
}

void DataWindow::addToCounters(qint64 received, qint64 sent)
{
    receivedBytes_ += received;
    sentBytes_ += sent;
    updateCounters();
}

void DataWindow::appendLogLine(const QString &line)
{
    feed().append(line);
}

void DataWindow::updateCounters()
{
    feed().touch();
}

void DataWindow::flushLog()
{
    if (feed_)
        feed_->flush();
}

QString DataWindow::countersText() const
{
    return countersShown_;
}

void DataWindow::sendTyped()
{
    const QByteArray data = sendPanel().typedBytes();
    if (data.isEmpty())
        return;
    const QString countText = sendPanel_->repeatCountText();
    appendLogLine(SendLogLine(timeText(), data, isHexMode(), countText));
    sendPanel_->clearTyped();
    const int count = ParseWholeNumber(countText);
    const QPointer<DataWindow> self(this);
    const auto pause = [self] { return self ? ParseWholeNumber(self->sendPanel_->intervalText()) : 0; };
    try {
        if (sender_->repeat(data, count, pause) != RepeatSender::Outcome::OwnerGone) {
            updateCounters();
            if (activityBar_ && !transfer_)
                activityBar_->hideProgress();
        }
    } catch (...) {
        if (self && self->isAttached())
            updateCounters();
        throw;
    }
}

qint64 DataWindow::sendToPeer(const QByteArray &data)
{
    return sender_->sendOnce(data).counted;
}

void DataWindow::noteUnsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail)
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
    else if (reason == UnsentReason::SendError)
        text = tr(" 发送失败：%2，%1 字节未发出").arg(QString::number(unsent), detail);
    else
        text = tr(" 发送已停止，%1 字节未发出").arg(unsent);
    appendLogLine(timeText() + text);
}

void DataWindow::startTimedSending()
{
    if (!sender_->startTimer(ParseWholeNumber(sendPanel().intervalText())))
        ShowMessage(tr("定时间隔不能为负数，定时发送保持原状"));
}

void DataWindow::stopTimedSending()
{
    endSending();
}

void DataWindow::endSending()
{
    // Stop also ends the answers waiting for a peer that does not read.
    pendingReplies_.clear();
    sender_->stop();
}

void DataWindow::sendOnTimer()
{
    // A tick while the last one's send still waits for a slow peer is
    // skipped: timed sending goes at the pace the peer takes.
    if (sender_->isSending())
        return;
    const QByteArray data = sendPanel().typedBytes();
    if (data.isEmpty())
        return;
    const QString countText = sendPanel_->repeatCountText();
    appendLogLine(TimedSendLogLine(timeText(), data, isHexMode(), countText));
    const QPointer<DataWindow> self(this);
    // A send that fails ends timed sending: the next tick would only fail
    // again, each time with its message boxes.
    auto outcome = RepeatSender::Outcome::Failed;
    try {
        outcome = sender_->repeat(data, ParseWholeNumber(countText), nullptr);
    } catch (...) {
        if (self && self->isAttached()) {
            endSending();
            updateCounters();
        }
        throw;
    }
    if (outcome == RepeatSender::Outcome::OwnerGone)
        return;
    if (outcome == RepeatSender::Outcome::Failed)
        endSending();
    updateCounters();
    if (activityBar_ && !transfer_)
        activityBar_->hideProgress();
}

void DataWindow::resetCounters()
{
    sentBytes_ = 0;
    receivedBytes_ = 0;
    // The next rate counts from zero, not from the old totals.
    ratedReceived_ = 0;
    ratedSent_ = 0;
    updateCounters();
    flushLog();
}

void DataWindow::chooseFileToSend()
{
    if (transfer_) {
        ShowMessage(tr("上一个文件尚未发送完成"));
        return;
    }
    const QPointer<DataWindow> self(this);
    const QString path = AskFileName(FileDialogKind::Open, tr("发送文件"), QString());
    // The dialog ran the event loop: the endpoint may have gone meanwhile.
    if (self && !path.isEmpty() && isAttached())
        emit fileSendRequested(path);
}

void DataWindow::transferStarted(const QString &path, qint64 total)
{
    transfer_ = Transfer{path, total, 0, {}};
    transfer_->clock.start();
    appendLogLine(timeText() + tr(" 开始发送文件：%1，共 %2 字节").arg(path).arg(total));
    showTransferProgress();
}

void DataWindow::transferProgressed(qint64 newlySent)
{
    if (!transfer_)
        return;
    transfer_->sent += newlySent;
    sentBytes_ += newlySent;
    updateCounters();
    if (!progressShownAt_.isValid() || progressShownAt_.elapsed() >= 100)
        showTransferProgress();
}

void DataWindow::showTransferProgress()
{
    if (!activityBar_ || !transfer_)
        return;
    progressShownAt_.start();
    const qint64 ms = std::max<qint64>(1, transfer_->clock.elapsed());
    // %1 stays for the file's name, which the bar shortens to fit.
    const QString text = tr("发送文件 %1：%2/%3，%4/s")
                             .arg(QStringLiteral("%1"), ByteSizeText(transfer_->sent),
                                 ByteSizeText(transfer_->total), ByteSizeText(transfer_->sent * 1000 / ms));
    activityBar_->showProgress(
        text, transfer_->sent, transfer_->total, QFileInfo(transfer_->path).fileName());
}

void DataWindow::transferEnded(TransferEnd end, const QString &reason)
{
    if (!transfer_)
        return;
    const Transfer done = *transfer_;
    transfer_.reset();
    if (activityBar_)
        activityBar_->hideProgress();
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
    appendLogLine(timeText() + text);
    flushLog();
}

void DataWindow::setAutoReplyAvailable(bool available)
{
    autoReplyAvailable_ = available;
    if (!available)
        autoReplyOn_ = false;
    if (sendPanel_)
        sendPanel_->showAutoReply(available);
}

void DataWindow::setAutoReplyOn(bool on)
{
    autoReplyOn_ = on && autoReplyAvailable_;
    if (sendPanel_)
        sendPanel_->setAutoReplyOn(autoReplyOn_);
}

void DataWindow::setLogFileNameBase(const QString &base)
{
    logFileNameBase_ = base;
    if (log_)
        log_->setFileNameBase(base);
}

void DataWindow::setReplyRulesKey(const QString &key)
{
    replyRulesKey_ = key;
    replyRules_.reset();
    keptRules_.reset();
}

ReplyRuleSet &DataWindow::replyRules()
{
    if (!replyRules_) {
        replyRules_ = std::make_unique<ReplyRuleSet>();
        replyRules_->setLimitHandler([this](int number) {
            appendLogLine(
                timeText() + tr(" 自动应答规则 %1 的正则表达式匹配超出限制，按不匹配处理").arg(number));
        });
        if (!replyRulesKey_.isEmpty()) {
            keptRules_ = keptReplyRules(replyRulesKey_);
            keptRulesVersion_ = keptRules_->version;
            replyRules_->setRules(keptRules_->rules);
        }
    }
    // Another window of the key accepted a list since.
    if (keptRules_ && keptRules_->version != keptRulesVersion_) {
        replyRules_->setRules(keptRules_->rules);
        keptRulesVersion_ = keptRules_->version;
    }
    return *replyRules_;
}

std::optional<QByteArray> DataWindow::autoReplyTo(const QByteArray &received)
{
    if (!autoReplyOn_)
        return std::nullopt;
    return replyRules().replyTo(received);
}

void DataWindow::editReplyRules()
{
    const QPointer<DataWindow> self(this);
    // Not a child of the window: a peer may take the window away while the
    // dialog is open, and the dialog must outlive its own modal loop.
    auto dialog = std::make_unique<ReplyRulesDialog>();
    dialog->setRules(replyRules().rules());
    dialog->setFileChooser([](bool save, const QString &caption) {
        return AskFileName(save ? FileDialogKind::Save : FileDialogKind::Open, caption, QString());
    });
    const int result = RunModal(*dialog);
    // The dialog ran the event loop; the window may have gone with it.
    if (!self || result != ReplyRulesDialog::Accepted)
        return;
    const std::vector<ReplyRule> rules = dialog->rules();
    replyRules().setRules(rules);
    if (!keptRules_)
        return;
    keptRules_->rules = rules;
    keptRulesVersion_ = ++keptRules_->version;
    QSettings settings = replyRuleSettings();
    if (!saveRules(settings, replyRulesKey_, rules))
        ShowMessage(tr("自动应答规则无法保存到 %1，只在本次运行中有效").arg(settings.fileName()));
}

void DataWindow::sendReply(const QByteArray &reply)
{
    if ((replying_ && pendingReplies_.size() >= MaxWaitingReplies)
        || (replyHasRoom_ && !replyHasRoom_(reply.size()))) {
        // A peer that sends and never reads would make the queue grow
        // without end; past the bound its answers are dropped, and told.
        if (droppedReplies_++ == 0)
            appendLogLine(timeText() + tr(" 自动应答积压过多（对方未接收数据），新的应答将被丢弃"));
        return;
    }
    pendingReplies_.push_back(reply);
    if (replying_)
        return;
    replying_ = true;
    const QPointer<DataWindow> self(this);
    const auto giveUp = [this](const QString &why) {
        pendingReplies_.clear();
        setAutoReplyOn(false);
        appendLogLine(timeText() + tr(" 自动应答已关闭：") + why);
    };
    try {
        while (!pendingReplies_.empty() && isAttached()) {
            const QByteArray next = pendingReplies_.front();
            pendingReplies_.pop_front();
            appendLogLine(ReplyLogLine(timeText(), next, isHexMode()));
            const SendOutcome outcome = sender_->sendReply(next);
            if (!self)
                return;
            sentBytes_ += outcome.counted;
            updateCounters();
            if (outcome.failed)
                giveUp(tr("发送失败"));
        }
    } catch (...) {
        if (self) {
            replying_ = false;
            giveUp(tr("发送失败"));
        }
        throw;
    }
    pendingReplies_.clear();
    replying_ = false;
    // Replies waiting behind the endpoint's reply function go out after this
    // loop; the drops are told with a reply once none waits there.
    if (droppedReplies_ > 0 && isAttached() && (!repliesIdle_ || repliesIdle_()))
        appendLogLine(timeText() + tr(" 已丢弃 %1 条自动应答").arg(std::exchange(droppedReplies_, 0)));
}

void DataWindow::requestStart()
{
    if (isAttached())
        emit startRequested();
}

void DataWindow::requestStop()
{
    if (isAttached())
        emit stopRequested();
}

void DataWindow::bringToFront()
{
    if (area_) {
        area_->activate(this);
        return;
    }
    show();
    raise();
}

void DataWindow::destroyLater()
{
    // Nothing reaches a window on its way out: no ticks, and a repeat or pause
    // running under it ends.
    endSending();
    if (area_)
        area_->remove(this);
    hide();
    deleteLater();
}
