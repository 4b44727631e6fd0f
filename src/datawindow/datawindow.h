#pragma once
// The data window: one per endpoint, a document inside the main window's
// document area, and a view of the endpoint's session. It puts together the
// status panel, the log, the send panel and the activity strip, hands the
// session's log entries to the log (which makes their lines with entryLine
// when it shows them), shows its counters, rates and
// progress, and hands the user's requests and edits to the session; start,
// stop and a file to send go to the endpoint's owner as signals. It knows no
// endpoint. Whoever removes the endpoint detaches the session and destroys
// the window with destroyLater(). UI thread only.
//
// A server may hold ten thousand peers, each with its window, and most are
// never looked at: a window builds its widgets when it is first shown. Until
// then it keeps what they would show (the status, the counters line, the log
// entries, within the log's caps) and hands it over when it is built, so a
// window shows the same whenever it is built.

#include "datawindow/statuspanel.h"
#include "session/endpointsession.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QBoxLayout;
class ActivityBar;
class DocumentArea;
class LogBudget;
class LogFeed;
class LogView;
class ModemLinesStrip;
class SendPanel;

class DataWindow : public QWidget {
    Q_OBJECT

public:
    // With an area the window becomes one of its documents, shown in front.
    // Without a session the window makes one of its own.
    explicit DataWindow(DocumentArea *area = nullptr, EndpointSession *session = nullptr);
    ~DataWindow() override;

    [[nodiscard]] EndpointSession *session() const { return session_; }

    // Builds the widgets now, shown or not; showing the window builds them.
    void build();
    [[nodiscard]] bool isBuilt() const { return sendPanel_ != nullptr; }
    void setVisible(bool visible) override;

    // What the endpoint's status panel shows.
    void showStatus(const StatusPanel::Content &content);
    void showWebReplySwitch();
    // The switch of the fixed web reply, as the endpoint holds it; the
    // user's toggles are told through webReplyToggled.
    void showWebReplyOn(bool on);
    [[nodiscard]] bool isWebReplyOn() const { return webReplyOn_; }

    // The session's side, for an owner that holds only the window.
    using TransferEnd = EndpointSession::TransferEnd;
    void setSendFunction(SendFunction send) { session_->setSendFunction(std::move(send)); }
    void setReplyFunction(
        SendFunction reply, std::function<ReplyRoom(qsizetype size)> hasRoom, std::function<bool()> idle)
    {
        session_->setReplyFunction(std::move(reply), std::move(hasRoom), std::move(idle));
    }
    void detach() { session_->detach(); }
    [[nodiscard]] bool isAttached() const { return session_ && session_->isAttached(); }
    [[nodiscard]] qint64 sentBytes() const { return session_->sentBytes(); }
    [[nodiscard]] qint64 receivedBytes() const { return session_->receivedBytes(); }
    [[nodiscard]] bool isHexMode() const { return session_->isHexMode(); }
    void addToCounters(qint64 received, qint64 sent) { session_->addToCounters(received, sent); }
    void logReceived(const QByteArray &data) { session_->logReceived(data); }
    void sendTyped() { session_->sendTyped(); }
    qint64 sendToPeer(const QByteArray &data) { return session_->sendToPeer(data); }
    void endSending() { session_->endSending(); }
    void sendOnTimer() { session_->sendOnTimer(); }
    void resetCounters() { session_->resetCounters(); }
    void transferStarted(const QString &path, qint64 total) { session_->transferStarted(path, total); }
    void transferProgressed(qint64 newlySent) { session_->transferProgressed(newlySent); }
    void transferEnded(TransferEnd end, const QString &reason) { session_->transferEnded(end, reason); }
    [[nodiscard]] bool isTransferring() const { return session_->isTransferring(); }
    void setAutoReplyAvailable(bool available) { session_->setAutoReplyAvailable(available); }
    [[nodiscard]] bool isAutoReplyOn() const { return session_->isAutoReplyOn(); }
    void setAutoReplyOn(bool on) { session_->setAutoReplyOn(on); }
    void setReplyRulesKey(const QString &key) { session_->setReplyRulesKey(key); }
    [[nodiscard]] std::optional<QByteArray> autoReplyTo(const QByteArray &received)
    {
        return session_->autoReplyTo(received);
    }
    void sendReply(const QByteArray &reply) { session_->sendReply(reply); }

    // A line of the view's own (the log's recording); the session's entries
    // come through entryLogged. The view catches up in batches (flushLog
    // brings it up to date at once).
    void appendLogLine(const QString &line);
    void updateCounters();
    void flushLog();
    [[nodiscard]] QString countersText() const;
    // The time text of the window's log lines: with milliseconds while the
    // log's menu has them switched on.
    [[nodiscard]] QString timeText() const;
    [[nodiscard]] bool showsMilliseconds() const { return session_->showsMilliseconds(); }

    // The timer buttons; a negative interval is told in a message.
    void startTimedSending();
    void stopTimedSending();

    // What the name a saved or recorded log is offered under starts with.
    void setLogFileNameBase(const QString &base);
    // The budget the log's entries count against, shared by every log.
    void setLogBudget(const std::shared_ptr<LogBudget> &budget);
    // The window in front: its log gives up entries to the budget last.
    void setLogInFront(bool inFront);
    // The rules dialog of the rules button; the rules it accepts are kept,
    // and a message says so when the settings cannot be written.
    void editReplyRules();

    // What the start and stop buttons do: ask the endpoint's owner.
    void requestStart();
    void requestStop();

    // Shows the window and brings it in front of the other documents.
    void bringToFront();
    // Destroys the window once control is back in the event loop, so a
    // handler of the window may call it; sending of its session ends.
    void destroyLater();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void startRequested();
    void stopRequested();
    void fileSendRequested(const QString &path);
    void transferCancelRequested();
    void webReplyToggled(bool on);

private:
    void connectSession();
    void connectSessionToWidgets();
    void buildReceiveArea(QWidget *body);
    // A serial session's modem lines, under the status panel.
    void buildModemLinesStrip(QBoxLayout *layout);
    void showSerialLines();
    void connectHandlers();
    // Recording, and the time text's milliseconds, as the log's menu asks.
    void connectLogTools();
    void connectActivity();
    void placeActivityBar();
    void chooseFileToSend();
    void showEntry(const LogEntry &entry);
    void showSetup(const SessionSetup &setup);
    void showRates(qint64 received, qint64 sent);
    void showRepeatProgress(int done, int count);
    void hideRepeatProgress();
    void showTransferProgress();
    void cancelActivity();
    // The log's feed, made with the first entry or counters update.
    LogFeed &feed();

    QPointer<EndpointSession> session_;
    // What the widgets show, kept whether they are built or not.
    std::optional<StatusPanel::Content> status_;
    bool webReplySwitchShown_ = false;
    bool webReplyOn_ = false;
    QString countersShown_;
    QString logFileNameBase_;
    std::shared_ptr<LogBudget> logBudget_;
    bool logInFront_ = false;

    QElapsedTimer repeatClock_;
    QElapsedTimer progressShownAt_;

    StatusPanel *statusPanel_ = nullptr;
    ModemLinesStrip *modemLinesStrip_ = nullptr; // a serial session's only
    QWidget *receiveArea_ = nullptr;
    LogView *log_ = nullptr;
    SendPanel *sendPanel_ = nullptr;
    ActivityBar *activityBar_ = nullptr;
    LogFeed *feed_ = nullptr;
    DocumentArea *area_ = nullptr;
};
