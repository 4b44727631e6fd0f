#pragma once
// An endpoint's session: the traffic state of one endpoint, whether a window
// shows it or not. It counts the bytes, measures the rates while a view
// watches them, sends what was typed (once, repeated or timed) through the
// send function its owner injected, answers received pieces by the reply
// rules (one queue of waiting replies, bounded), follows a file transfer, and
// logs all of it as structured entries. It holds the setup the send panel
// shows. It knows no endpoint and no widget: views connect to its signals and
// call its requests. Owned by its endpoint's record (or by a window made
// without one) and destroyed with deleteLater(), since its own handlers
// (a send, a reply) may be on the stack; UI thread only.
//
// A server may hold ten thousand peers, each with a session: a session makes
// no timer tick and no rule list until it needs one.

#include "core/replyrules.h"
#include "session/logentry.h"
#include "session/repeatsender.h"
#include "session/sessionsetup.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class SerialLines;
struct KeptReplyRules;

class EndpointSession : public QObject {
    Q_OBJECT

public:
    explicit EndpointSession(QObject *parent = nullptr);
    ~EndpointSession() override;

    // A serial endpoint's modem lines; none for other kinds. Made by the
    // endpoint once, owned by the session.
    SerialLines &makeSerialLines();
    [[nodiscard]] SerialLines *serialLines() const { return serialLines_; }

    // The endpoint's side: how to send, and the end of it.
    void setSendFunction(SendFunction send);
    // Automatic replies go through reply, which may leave what the peer
    // cannot take yet waiting: hasRoom says whether a reply of that size may
    // still wait behind the others (or is dropped, and why), idle that none
    // waits.
    void setReplyFunction(
        SendFunction reply, std::function<ReplyRoom(qsizetype size)> hasRoom, std::function<bool()> idle);
    // The endpoint is gone: sending ends and does nothing from now on.
    void detach();
    [[nodiscard]] bool isAttached() const;

    // The setup. A view that holds edits not reported yet (the texts of its
    // boxes) gives a function that adds them, asked whenever the setup is
    // read; setSetup shows a new setup in the view through setupChanged.
    [[nodiscard]] SessionSetup setup() const;
    void setSetup(const SessionSetup &setup);
    void setViewEdits(std::function<void(SessionSetup &)> edits);
    void setHexMode(bool hex);
    [[nodiscard]] bool isHexMode() const { return setup_.hexMode; }
    void setMilliseconds(bool on);
    [[nodiscard]] bool showsMilliseconds() const { return setup_.milliseconds; }
    // The bytes the send text stands for in the present mode.
    [[nodiscard]] QByteArray typedBytes() const;

    [[nodiscard]] qint64 sentBytes() const { return sentBytes_; }
    [[nodiscard]] qint64 receivedBytes() const { return receivedBytes_; }
    void addToCounters(qint64 received, qint64 sent);
    void resetCounters();

    // A received piece: its entry, then the counters.
    void logReceived(const QByteArray &data);
    // A status line: the time, then the text.
    void logStatus(const QString &text);
    // A line that brings its own time text.
    void logLine(const QString &line);

    // The send button: logs the typed bytes and starts sending them as often
    // as the repeat count says, pausing the interval between the sends;
    // repeatEnded tells the end.
    void sendTyped();
    // A repeat of the send button or of the timer is under way.
    [[nodiscard]] bool isRepeating() const { return sender_ && sender_->isSending(); }
    // What sends, repeats and times the sends. Made by the first send,
    // repeat, timer or reply (or by this call): ten thousand accepted peers
    // that only listen do not each carry one.
    [[nodiscard]] RepeatSender &sender();
    // Sends the bytes once through the endpoint; returns how many bytes count
    // as sent.
    qint64 sendToPeer(const QByteArray &data);
    // False when the interval is negative: timed sending stays as it was.
    [[nodiscard]] bool startTimedSending();
    // Ends timed sending and any repeat, pause or wait for a slow peer in
    // progress, and the replies waiting; what was not handed to the
    // transport is noted in the log.
    void endSending();
    void sendOnTimer();

    // A file sent through the endpoint by its owner: its start and end are
    // logged, and what the transport took is counted.
    enum class TransferEnd { Completed, Cancelled, Failed };
    struct Transfer {
        QString path;
        qint64 total = 0;
        qint64 sent = 0;
        QElapsedTimer clock;
    };
    void transferStarted(const QString &path, qint64 total);
    void transferProgressed(qint64 newlySent);
    void transferEnded(TransferEnd end, const QString &reason);
    [[nodiscard]] const std::optional<Transfer> &transfer() const { return transfer_; }
    [[nodiscard]] bool isTransferring() const { return transfer_.has_value(); }

    // Automatic replies: whether this session offers them (an accepted peer
    // answers by its server's rules) and whether the user switched them on.
    void setAutoReplyAvailable(bool available);
    [[nodiscard]] bool isAutoReplyAvailable() const { return autoReplyAvailable_; }
    [[nodiscard]] bool isAutoReplyOn() const { return setup_.autoReply; }
    void setAutoReplyOn(bool on);
    // Where the rules are kept across restarts (the endpoint's kind and
    // port); they are read when first needed. The sessions of one key answer
    // by one list: what one of them accepts the others take up.
    void setReplyRulesKey(const QString &key);
    [[nodiscard]] const std::vector<ReplyRule> &replyRules();
    // Takes the rules up and keeps them under the key; false when they could
    // not be written (they hold for this run), with where they should have
    // gone in unsavedTo. A session with rules of its own (useReplyRules)
    // takes them up for itself alone and writes nothing.
    [[nodiscard]] bool acceptReplyRules(const std::vector<ReplyRule> &rules, QString *unsavedTo);
    // Gives the session rules of its own for this run, compiled already
    // when compiled is given (compileReplyRules of these rules): the
    // workspace they came from keeps them. The other sessions of the key
    // and the user's kept rules are left as they are, and the session no
    // longer follows them.
    void useReplyRules(
        const std::vector<ReplyRule> &rules, std::shared_ptr<const CompiledReplyRules> compiled = nullptr);
    // The reply the rules give to a received piece while automatic replies
    // are on; nullopt when they are off or no rule matches. A rule whose
    // regular expression gave up on the piece is told in the log, once a
    // second at most.
    [[nodiscard]] std::optional<QByteArray> autoReplyTo(const QByteArray &received);
    // Sends an automatic reply through the endpoint, logged as its own entry
    // and counted. A reply that comes while another is still on its way (a
    // peer that does not read) waits its turn, up to a thousand waiting (here,
    // or behind the endpoint's reply function); endSending ends the waiting
    // ones. A reply that fails switches automatic replies off, so a failing
    // send does not repeat with every piece that arrives.
    void sendReply(const QByteArray &reply);

    // The rates: a view that shows them starts the tick when bytes move; it
    // runs a second at a time and stops on a second without traffic.
    void startRateTicks();
    // Rates count from the counters as they are now.
    void resetRateBase();

signals:
    void entryLogged(const LogEntry &entry);
    void countersChanged();
    // What is logged and counted should show now, not with the next batch.
    void flushRequested();
    // Bytes of the last second; both 0 when the traffic stopped.
    void ratesMeasured(qint64 received, qint64 sent);
    // A repeat has made `done` of its `count` sends.
    void repeatProgressed(int done, int count);
    // A send of the send button or of the timer has ended.
    void repeatEnded();
    // A transfer started, or more of it was sent.
    void transferChanged(bool started);
    void transferFinished();
    void autoReplyChanged(bool on);
    void autoReplyAvailableChanged(bool available);
    void setupChanged(const SessionSetup &setup);

private:
    void log(LogEntry::Kind kind, const QByteArray &data, const QString &repeatCount = {});
    void noteUnsent(qint64 unsent, qint64 total, UnsentReason reason, const QString &detail);
    // A reply failed: automatic replies go off, and the waiting ones with them.
    void giveUpReplies();
    void measureRates();
    ReplyRuleSet &ruleSet();
    void changeSetup(const SessionSetup &setup);

    SessionSetup setup_;
    std::function<void(SessionSetup &)> viewEdits_;
    qint64 sentBytes_ = 0;
    qint64 receivedBytes_ = 0;
    bool autoReplyAvailable_ = true;
    QString replyRulesKey_;
    // Made when first needed: most sessions (a server's peers) never have any.
    std::unique_ptr<ReplyRuleSet> replyRules_;
    // The list of the key, shared with its other sessions, and the version
    // of it replyRules_ was last given.
    std::shared_ptr<KeptReplyRules> keptRules_;
    quint64 keptRulesVersion_ = 0;
    // The rules are the session's own, not the key's.
    bool ownReplyRules_ = false;
    static constexpr size_t MaxWaitingReplies = 1000;
    std::deque<QByteArray> pendingReplies_;
    qint64 droppedReplies_ = 0;
    bool replying_ = false;
    std::function<ReplyRoom(qsizetype size)> replyHasRoom_;
    std::function<bool()> repliesIdle_;

    // The counters as the last tick saw them.
    QTimer rateTimer_;
    qint64 ratedReceived_ = 0;
    qint64 ratedSent_ = 0;
    std::optional<Transfer> transfer_;
    RepeatSender *sender_ = nullptr;
    SerialLines *serialLines_ = nullptr;
    SendFunction send_;
    SendFunction reply_;
    bool detached_ = false;
};
