#pragma once
// The data window: one per endpoint, a document inside the main window's
// document area. It puts together the status panel, the log, the send panel
// and the repeat sender, keeps the byte counters, and publishes what the user
// asks of the endpoint as signals; the endpoint's owner injects the function
// that sends through the endpoint and shows the status it gives. It knows no
// endpoint. Whoever removes the endpoint detaches the window and destroys it
// with destroyLater(). UI thread only.
//
// A server may hold ten thousand peers, each with its window, and most are
// never looked at: a window builds its widgets when it is first shown. Until
// then it keeps what they would show (the status, the counters line, the log
// entries, within the log's caps) and hands it over when it is built, so a
// window shows the same whenever it is built.

#include "session/repeatsender.h"
#include "datawindow/statuspanel.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <optional>

class ActivityBar;
class ReplyRuleSet;
struct KeptReplyRules;
class DocumentArea;
class LogFeed;
class LogView;
class SendPanel;

class DataWindow : public QWidget {
    Q_OBJECT

public:
    // With an area the window becomes one of its documents, shown in front.
    explicit DataWindow(DocumentArea *area = nullptr);
    ~DataWindow() override;

    // Builds the widgets now, shown or not; showing the window builds them.
    void build();
    [[nodiscard]] bool isBuilt() const { return sendPanel_ != nullptr; }
    void setVisible(bool visible) override;

    // The endpoint's side: how to send, what to show, and the end of it.
    void setSendFunction(SendFunction send);
    // Automatic replies go through reply, which may leave what the peer
    // cannot take yet waiting: hasRoom says whether a reply of that size may
    // still wait behind the others (or is dropped), idle that none waits.
    void setReplyFunction(
        SendFunction reply, std::function<bool(qsizetype size)> hasRoom, std::function<bool()> idle);
    void showStatus(const StatusPanel::Content &content);
    void showWebReplySwitch();
    [[nodiscard]] bool isWebReplyOn() const;
    // The endpoint is gone: sending ends and does nothing from now on.
    void detach();
    [[nodiscard]] bool isAttached() const;

    [[nodiscard]] qint64 sentBytes() const { return sentBytes_; }
    [[nodiscard]] qint64 receivedBytes() const { return receivedBytes_; }
    [[nodiscard]] bool isHexMode() const;
    // Adds to the byte counters and shows them.
    void addToCounters(qint64 received, qint64 sent);

    // The receive logging steps: log line, received bytes, counters line.
    void logReceived(const QByteArray &data);
    // Every log line and counters update goes through these two; the view
    // catches up in batches (flushLog brings it up to date at once).
    void appendLogLine(const QString &line);
    void updateCounters();
    void flushLog();
    [[nodiscard]] QString countersText() const;
    // The time text of the window's log lines: with milliseconds while the
    // log's menu has them switched on.
    [[nodiscard]] QString timeText() const;
    [[nodiscard]] bool showsMilliseconds() const { return showsMilliseconds_; }

    // The send button: logs the typed bytes and sends them as often as the
    // repeat count says, pausing the interval between the sends.
    void sendTyped();
    // Sends the bytes once through the endpoint; returns how many bytes count
    // as sent.
    qint64 sendToPeer(const QByteArray &data);
    void startTimedSending();
    void stopTimedSending();
    // Ends timed sending and any repeat, pause or wait for a slow peer in
    // progress; what was not handed to the transport is noted in the log.
    void endSending();
    void sendOnTimer();
    void resetCounters();

    // A file sent through the endpoint by its owner: the window logs its
    // start and end, counts what the transport took and shows the progress.
    enum class TransferEnd { Completed, Cancelled, Failed };
    void transferStarted(const QString &path, qint64 total);
    void transferProgressed(qint64 newlySent);
    void transferEnded(TransferEnd end, const QString &reason);
    [[nodiscard]] bool isTransferring() const { return transfer_.has_value(); }

    // Automatic replies: whether this window offers them (an accepted peer
    // answers by its server's rules) and whether the user switched them on.
    void setAutoReplyAvailable(bool available);
    [[nodiscard]] bool isAutoReplyOn() const { return autoReplyOn_; }
    void setAutoReplyOn(bool on);
    // What the name a saved or recorded log is offered under starts with.
    void setLogFileNameBase(const QString &base);
    // Where the rules are kept across restarts (the endpoint's kind and
    // port); they are read when first needed. The windows of one key answer
    // by one list: what one of them accepts the others take up.
    void setReplyRulesKey(const QString &key);
    // The reply the rules give to a received piece while automatic replies
    // are on; nullopt when they are off or no rule matches. A rule whose
    // regular expression gave up on the piece is told in the log, once a
    // second at most.
    [[nodiscard]] std::optional<QByteArray> autoReplyTo(const QByteArray &received);
    // The rules dialog of the rules button; the rules it accepts are kept,
    // and a message says so when the settings cannot be written.
    void editReplyRules();
    // Sends an automatic reply through the endpoint as the send button does,
    // logged as its own line and counted. A reply that comes while another is
    // still on its way (a peer that does not read) waits its turn, up to a
    // thousand waiting (here, or behind the endpoint's reply function); stop
    // ends the waiting ones. A reply that fails switches automatic replies
    // off, so a failing send does not repeat with every piece that arrives.
    void sendReply(const QByteArray &reply);

    // What the start and stop buttons do: ask the endpoint's owner.
    void requestStart();
    void requestStop();

    // Shows the window and brings it in front of the other documents.
    void bringToFront();
    // Destroys the window once control is back in the event loop, so a
    // handler of the window may call it.
    void destroyLater();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void startRequested();
    void stopRequested();
    void fileSendRequested(const QString &path);
    void transferCancelRequested();

private:
    void buildReceiveArea(QWidget *body);
    void connectHandlers();
    // Recording, and the time text's milliseconds, as the log's menu asks.
    void connectLogTools();
    void noteUnsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail);
    void connectActivity();
    void placeActivityBar();
    void chooseFileToSend();
    void showRates();
    void showRepeatProgress(int done, int count);
    void showTransferProgress();
    void cancelActivity();
    ReplyRuleSet &replyRules();
    // The log's feed, made with the first entry or counters update.
    LogFeed &feed();
    // What the user typed and chose; asking for it builds the window.
    SendPanel &sendPanel();

    qint64 sentBytes_ = 0;
    qint64 receivedBytes_ = 0;
    // What the widgets show, kept whether they are built or not.
    std::optional<StatusPanel::Content> status_;
    bool webReplySwitchShown_ = false;
    QString countersShown_;
    bool showsMilliseconds_ = false;
    bool autoReplyAvailable_ = true;
    bool autoReplyOn_ = false;
    QString logFileNameBase_;
    QString replyRulesKey_;
    // Made when first needed: most windows (a server's peers) never have any.
    std::unique_ptr<ReplyRuleSet> replyRules_;
    // The list of the key, shared with its other windows, and the version of
    // it replyRules_ was last given.
    std::shared_ptr<KeptReplyRules> keptRules_;
    quint64 keptRulesVersion_ = 0;
    static constexpr size_t MaxWaitingReplies = 1000;
    std::deque<QByteArray> pendingReplies_;
    qint64 droppedReplies_ = 0;
    bool replying_ = false;
    std::function<bool(qsizetype size)> replyHasRoom_;
    std::function<bool()> repliesIdle_;

    // The rates: the counters as the last tick saw them, a tick a second
    // while they move.
    QTimer rateTimer_;
    qint64 ratedReceived_ = 0;
    qint64 ratedSent_ = 0;
    QElapsedTimer repeatClock_;
    QElapsedTimer progressShownAt_;
    struct Transfer {
        QString path;
        qint64 total = 0;
        qint64 sent = 0;
        QElapsedTimer clock;
    };
    std::optional<Transfer> transfer_;

    StatusPanel *statusPanel_ = nullptr;
    QWidget *receiveArea_ = nullptr;
    LogView *log_ = nullptr;
    SendPanel *sendPanel_ = nullptr;
    ActivityBar *activityBar_ = nullptr;
    RepeatSender *sender_;
    LogFeed *feed_ = nullptr;
    DocumentArea *area_ = nullptr;
};
