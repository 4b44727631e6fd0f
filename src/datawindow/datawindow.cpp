#include "datawindow/datawindow.h"

#include "core/errors.h"
#include "core/logtexts.h"
#include "datawindow/activitybar.h"
#include "datawindow/layouthelpers.h"
#include "datawindow/modemlinesstrip.h"
#include "datawindow/replyrulesdialog.h"
#include "datawindow/sendpanel.h"
#include "session/logentry.h"
#include "session/seriallines.h"
#include "ui/documentarea.h"
#include "ui/logfeed.h"
#include "ui/logview.h"
#include "ui/messages.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QVBoxLayout>

using namespace layout_helpers;

DataWindow::DataWindow(DocumentArea *area, EndpointSession *session)
    : session_(session ? session : new EndpointSession(this))
    , area_(area)
{
    setWindowTitle(tr("数据收发窗口"));
    resize(505, 503);
    connectSession();
    if (area)
        area->addDocument(this);
}

DataWindow::~DataWindow()
{
    // A session that outlives its window (its endpoint's) reads no edits of
    // widgets that are gone.
    if (session_)
        session_->setViewEdits(nullptr);
}

namespace {

// Translated at first use, after main installed the translator; every
// window's build measures it.
const QString &receiveBoxTitle()
{
    static const QString title = QCoreApplication::translate("DataWindow", "数据接收及提示窗口");
    return title;
}

} // namespace

void DataWindow::connectSession()
{
    EndpointSession *session = session_;
    connect(session, &EndpointSession::entryLogged, this, &DataWindow::showEntry);
    connect(session, &EndpointSession::countersChanged, this, &DataWindow::updateCounters);
    connect(session, &EndpointSession::flushRequested, this, &DataWindow::flushLog);
}

// What only a built window shows: a server may hold ten thousand windows
// never shown, and each connection costs every one of them memory. build()
// shows what the session holds at that moment.
void DataWindow::connectSessionToWidgets()
{
    EndpointSession *session = session_;
    connect(session, &EndpointSession::ratesMeasured, this, &DataWindow::showRates);
    connect(session, &EndpointSession::repeatProgressed, this, &DataWindow::showRepeatProgress);
    connect(session, &EndpointSession::repeatEnded, this, &DataWindow::hideRepeatProgress);
    connect(session, &EndpointSession::setupChanged, this, &DataWindow::showSetup);
    connect(session, &EndpointSession::autoReplyAvailableChanged, this, [this](bool available) {
        if (sendPanel_)
            sendPanel_->showAutoReply(available);
    });
    connect(session, &EndpointSession::transferChanged, this, [this](bool started) {
        if (started || !progressShownAt_.isValid() || progressShownAt_.elapsed() >= 100)
            showTransferProgress();
    });
    connect(session, &EndpointSession::transferFinished, this, [this] {
        if (activityBar_)
            activityBar_->hideProgress();
    });
}

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
    // What the session holds, before the panel's boxes count as its edits.
    const SessionSetup setup = session_->setup();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    statusPanel_ = new StatusPanel(this);
    // A serial port has no socket to name.
    if (session_->serialLines())
        statusPanel_->setTitle(tr("串口状态"));
    layout->addWidget(statusPanel_);
    buildModemLinesStrip(layout);

    auto *body = new QWidget(this);
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);
    layout->addWidget(body, 1);
    buildReceiveArea(body);
    // The modem lines take their height from the log, not from the send
    // panel, whose controls need all of theirs in a window of the usual size.
    if (modemLinesStrip_)
        receiveArea_->setFixedHeight(receiveArea_->maximumHeight() - modemLinesStrip_->sizeHint().height());
    bodyLayout->addWidget(receiveArea_);
    sendPanel_ = new SendPanel(body);
    bodyLayout->addWidget(sendPanel_, 1);
    connectHandlers();
    connectActivity();
    connectLogTools();
    connectSessionToWidgets();

    if (status_)
        statusPanel_->showContent(*status_);
    if (webReplySwitchShown_)
        statusPanel_->showWebReplySwitch();
    statusPanel_->setWebReplyOn(webReplyOn_);
    connect(statusPanel_, &StatusPanel::webReplyToggled, this, [this](bool on) {
        webReplyOn_ = on;
        emit webReplyToggled(on);
    });
    if (!countersShown_.isEmpty())
        sendPanel_->showCounters(countersShown_);
    sendPanel_->showAutoReply(session_->isAutoReplyAvailable());
    showSetup(setup);
    // Rates start from what the counters show now, not from what came
    // before the window was first shown.
    session_->resetRateBase();
    if (session_->isTransferring())
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
    log_->setEntryText(&entryLine);
    paintBackground(log_, Colours::LogBackground, {QPalette::Base});
    fill(receiveBox, log_);
    // Over the free part of the box's title row, right of the title.
    activityBar_ = new ActivityBar(receiveArea_);
    activityBar_->raise();
    receiveArea_->installEventFilter(this);
    placeActivityBar();
}

void DataWindow::buildModemLinesStrip(QBoxLayout *layout)
{
    SerialLines *lines = session_->serialLines();
    if (!lines)
        return;
    modemLinesStrip_ = new ModemLinesStrip(this);
    paintBackground(modemLinesStrip_, Colours::Cream);
    layout->addWidget(modemLinesStrip_);
    // The strip publishes what the user asks; the endpoint carries it out
    // and answers through changed(), which sets the switches back to what
    // the device holds.
    connect(modemLinesStrip_, &ModemLinesStrip::dtrToggled, lines, &SerialLines::requestDtr);
    connect(modemLinesStrip_, &ModemLinesStrip::rtsToggled, lines, &SerialLines::requestRts);
    connect(modemLinesStrip_, &ModemLinesStrip::breakRequested, lines, &SerialLines::requestBreak);
    connect(lines, &SerialLines::changed, this, &DataWindow::showSerialLines);
    showSerialLines();
}

void DataWindow::showSerialLines()
{
    const SerialLines *lines = session_ ? session_->serialLines() : nullptr;
    if (!lines || !modemLinesStrip_)
        return;
    switch (lines->state()) {
    case SerialLines::State::Closed:
        modemLinesStrip_->setState(ModemLinesStrip::State::Closed);
        break;
    case SerialLines::State::OpenWithoutLines:
        modemLinesStrip_->setState(ModemLinesStrip::State::OpenWithoutModemLines);
        break;
    case SerialLines::State::Open:
        modemLinesStrip_->setState(ModemLinesStrip::State::Open);
        break;
    }
    const SerialLines::Levels levels = lines->levels();
    modemLinesStrip_->showOutputLines(levels.dtr, levels.rts);
    modemLinesStrip_->showLines(levels.cts, levels.dsr, levels.dcd, levels.ri);
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
    const auto toSession = [this](void (EndpointSession::*request)()) {
        return [this, request] {
            Guarded([this, request] {
                if (session_)
                    (session_->*request)();
            });
        };
    };
    connect(sendPanel_, &SendPanel::sendClicked, this, toSession(&EndpointSession::sendTyped));
    connect(sendPanel_, &SendPanel::resetClicked, this, toSession(&EndpointSession::resetCounters));
    connect(sendPanel_, &SendPanel::startTimerClicked, this, guarded(&DataWindow::startTimedSending));
    connect(sendPanel_, &SendPanel::stopTimerClicked, this, guarded(&DataWindow::stopTimedSending));
    connect(statusPanel_, &StatusPanel::startClicked, this, guarded(&DataWindow::requestStart));
    connect(statusPanel_, &StatusPanel::stopReleased, this, guarded(&DataWindow::requestStop));
    connect(sendPanel_, &SendPanel::sendFileClicked, this, guarded(&DataWindow::chooseFileToSend));
    connect(sendPanel_, &SendPanel::autoReplyToggled, this, [this](bool on) {
        if (session_)
            session_->setAutoReplyOn(on);
    });
    connect(sendPanel_, &SendPanel::hexModeToggled, this, [this](bool hex) {
        if (session_)
            session_->setHexMode(hex);
    });
    connect(sendPanel_, &SendPanel::replyRulesClicked, this, guarded(&DataWindow::editReplyRules));
    // The boxes' texts are read when the session needs them, not copied at
    // every key.
    session_->setViewEdits([panel = sendPanel_](SessionSetup &setup) {
        setup.sendText = panel->typedText();
        setup.repeatCount = panel->repeatCountText();
        setup.interval = panel->intervalText();
    });
}

void DataWindow::showSetup(const SessionSetup &setup)
{
    if (!sendPanel_)
        return;
    sendPanel_->setTypedText(setup.sendText);
    sendPanel_->setHexMode(setup.hexMode);
    sendPanel_->setRepeatCountText(setup.repeatCount);
    sendPanel_->setIntervalText(setup.interval);
    sendPanel_->setAutoReplyOn(setup.autoReply);
    log_->setMillisecondsShown(setup.milliseconds);
}

void DataWindow::showEntry(const LogEntry &entry)
{
    // The log makes the line when it shows it, with the milliseconds as they
    // are switched now.
    LogEntry kept = entry;
    kept.milliseconds = session_->showsMilliseconds();
    feed().append(std::move(kept));
}

void DataWindow::connectActivity()
{
    connect(
        activityBar_, &ActivityBar::cancelClicked, this, [this] { Guarded([this] { cancelActivity(); }); });
}

void DataWindow::cancelActivity()
{
    if (!session_)
        return;
    if (session_->isTransferring())
        emit transferCancelRequested();
    else
        session_->endSending();
}

void DataWindow::showRates(qint64 received, qint64 sent)
{
    if (!activityBar_)
        return;
    if (received == 0 && sent == 0)
        activityBar_->clearRates();
    else
        activityBar_->showRates(received, sent);
}

void DataWindow::showRepeatProgress(int done, int count)
{
    if (done == 1)
        repeatClock_.start();
    // Only a repeat that lasts is worth a progress bar, and a bar redrawn
    // ten times a second is as good as one redrawn at every send.
    if (!activityBar_ || session_->isTransferring() || repeatClock_.elapsed() < 1000)
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

void DataWindow::hideRepeatProgress()
{
    if (activityBar_ && !session_->isTransferring())
        activityBar_->hideProgress();
}

void DataWindow::connectLogTools()
{
    connect(log_, &LogView::millisecondsToggled, this, [this](bool on) {
        if (session_)
            session_->setMilliseconds(on);
    });
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
    return showsMilliseconds() ? TimeTextWithMilliseconds() : TimeText();
}

LogFeed &DataWindow::feed()
{
    if (!feed_) {
        feed_ = new LogFeed(this);
        feed_->setEntryText(&entryLine);
        feed_->setInFront(logInFront_);
        feed_->setBudget(logBudget_);
        feed_->setView(log_);
        connect(feed_, &LogFeed::flushed, this, [this] {
            if (!session_)
                return;
            countersShown_ = CountersLine(session_->receivedBytes(), session_->sentBytes());
            if (sendPanel_)
                sendPanel_->showCounters(countersShown_);
            if (activityBar_)
                session_->startRateTicks();
        });
    }
    return *feed_;
}

void DataWindow::setLogBudget(const std::shared_ptr<LogBudget> &budget)
{
    logBudget_ = budget;
    if (feed_)
        feed_->setBudget(budget);
}

void DataWindow::setLogInFront(bool inFront)
{
    logInFront_ = inFront;
    if (feed_)
        feed_->setInFront(inFront);
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

void DataWindow::showWebReplyOn(bool on)
{
    webReplyOn_ = on;
    if (statusPanel_)
        statusPanel_->setWebReplyOn(on);
}

void DataWindow::appendLogLine(const QString &line)
{
    LogEntry entry;
    entry.time = QDateTime::currentMSecsSinceEpoch();
    entry.kind = LogEntry::Kind::Line;
    entry.text = line;
    feed().append(std::move(entry));
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

void DataWindow::startTimedSending()
{
    if (!session_->startTimedSending())
        ShowMessage(tr("定时间隔不能为负数，定时发送保持原状"));
}

void DataWindow::stopTimedSending()
{
    session_->endSending();
}

void DataWindow::chooseFileToSend()
{
    if (session_->isTransferring()) {
        ShowMessage(tr("上一个文件尚未发送完成"));
        return;
    }
    // The endpoint may go while the dialog is open: a window that outlives
    // it is detached by then and asks for nothing.
    AskFileNameThen(FileDialogKind::Open, tr("发送文件"), QString(), this, [this](const QString &path) {
        if (isAttached())
            emit fileSendRequested(path);
    });
}

void DataWindow::showTransferProgress()
{
    if (!activityBar_ || !session_->isTransferring())
        return;
    const EndpointSession::Transfer &transfer = *session_->transfer();
    progressShownAt_.start();
    const qint64 ms = std::max<qint64>(1, transfer.clock.elapsed());
    // %1 stays for the file's name, which the bar shortens to fit.
    const QString text = tr("发送文件 %1：%2/%3，%4/s")
                             .arg(QStringLiteral("%1"), ByteSizeText(transfer.sent),
                                 ByteSizeText(transfer.total), ByteSizeText(transfer.sent * 1000 / ms));
    activityBar_->showProgress(text, transfer.sent, transfer.total, QFileInfo(transfer.path).fileName());
}

void DataWindow::setLogFileNameBase(const QString &base)
{
    logFileNameBase_ = base;
    if (log_)
        log_->setFileNameBase(base);
}

void DataWindow::editReplyRules()
{
    const QPointer<EndpointSession> session(session_);
    // Not a child of the window: a peer may take the window away while the
    // dialog is open. It answers only while the window is there.
    auto *dialog = new ReplyRulesDialog();
    dialog->setRules(session_->replyRules());
    OpenDialog(dialog, this, [dialog, session](int result) {
        if (!session || result != ReplyRulesDialog::Accepted)
            return;
        QString unsavedTo;
        if (!session->acceptReplyRules(dialog->rules(), &unsavedTo))
            ShowMessage(tr("自动应答规则无法保存到 %1，只在本次运行中有效").arg(unsavedTo));
    });
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
    if (session_)
        session_->endSending();
    if (area_)
        area_->remove(this);
    hide();
    deleteLater();
}
