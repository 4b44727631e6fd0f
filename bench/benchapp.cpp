// The measured side of the benchmarks: Portwright's main window, headless
// (offscreen, unless the command line names a platform: "-platform xcb" puts
// it on an X display, where assistive technologies can reach it), with
// endpoints made by the same set-up functions the creation dialogs call. One
// scenario per run, chosen on the command line; the load comes from another
// process. Prints "READY" once the endpoint listens, then one line of
// key=value results. Every scenario ends by itself (its own time limit).
//
// Times are CLOCK_MONOTONIC nanoseconds, comparable with the load generator's.

#include "app/endpointviews.h"
#include "app/mainwindow.h"
#include "core/errors.h"
#include "core/replyrules.h"
#include "datawindow/datawindow.h"
#include "datawindow/replyrulesdialog.h"
#include "datawindow/sendpanel.h"
#include "endpoints/connectionoutbox.h"
#include "endpoints/endpoint.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/filetransfer.h"
#include "net/serial/serialport.h"
#include "session/endpointsession.h"
#include "session/serialsetup.h"
#include "ui/endpointtree.h"
#include "ui/logview.h"
#include "ui/messages.h"

// The program's budgets for waiting output and kept logs, where the build
// has them: the same scenario runs on a build from before them.
#if __has_include("core/bytebudget.h")
#include "core/bytebudget.h"
#include "core/logbudget.h"
#define PW_BENCH_BUDGETS 1
#endif

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QWindow>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// The one main window of a run; its views keep each endpoint's node and window.
MainWindow *benchForm = nullptr;

DataWindow *windowOf(const Endpoint *endpoint)
{
    return benchForm->views().windowOf(endpoint);
}

QTreeWidgetItem *nodeOf(const Endpoint *endpoint)
{
    return benchForm->views().nodeOf(endpoint);
}

qint64 nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

long statusKb(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0)
            return std::stol(line.substr(n + 1));
    return -1;
}

// Lets VmHWM start again from the current RSS, so that a peak read later
// belongs to what ran after this call and not to the start-up.
bool resetPeakRss()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return bool(out);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[index];
}

// How late the event loop serves a timer that is due every `periodMs` on an
// absolute schedule. A slot that was skipped altogether counts with the delay
// it saw.
class LatencyProbe : public QObject {
public:
    explicit LatencyProbe(int periodMs)
        : period_(qint64(periodMs) * 1000000)
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] { fired(); });
    }
    void Start()
    {
        lateMs_.clear();
        due_ = nowNs() + period_;
        arm();
    }
    void Stop() { timer_.stop(); }
    // When the slot that waited longest was served, CLOCK_MONOTONIC; 0
    // before any.
    [[nodiscard]] qint64 WorstAtNs() const { return worstAt_; }
    [[nodiscard]] QString Summary(const char *prefix) const
    {
        return QStringLiteral("%1_n=%2 %1_p99_ms=%3 %1_max_ms=%4")
            .arg(QLatin1String(prefix))
            .arg(lateMs_.size())
            .arg(percentile(lateMs_, 99), 0, 'f', 2)
            .arg(lateMs_.empty() ? 0.0 : *std::max_element(lateMs_.begin(), lateMs_.end()), 0, 'f', 2);
    }

private:
    void arm() { timer_.start(int(std::max<qint64>(0, (due_ - nowNs()) / 1000000))); }
    void fired()
    {
        const qint64 now = nowNs();
        // The timer may fire up to a millisecond early (whole milliseconds).
        while (due_ <= now + 1000000) {
            const double late = double(std::max<qint64>(0, now - due_)) / 1e6;
            if (lateMs_.empty() || late > worstMs_) {
                worstMs_ = late;
                worstAt_ = now;
            }
            lateMs_.push_back(late);
            due_ += period_;
        }
        arm();
    }

    qint64 period_;
    qint64 due_ = 0;
    double worstMs_ = 0;
    qint64 worstAt_ = 0;
    QTimer timer_;
    std::vector<double> lateMs_;
};

struct Options {
    std::map<std::string, std::string> values;
    [[nodiscard]] long long num(const std::string &key, long long fallback) const
    {
        const auto it = values.find(key);
        return it == values.end() ? fallback : std::stoll(it->second);
    }
    [[nodiscard]] bool flag(const std::string &key) const { return values.count(key) != 0; }
    [[nodiscard]] QString text(const std::string &key) const
    {
        const auto it = values.find(key);
        return it == values.end() ? QString() : QString::fromLocal8Bit(it->second.c_str());
    }
};

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 2; i < argc; ++i) {
        std::string key = argv[i];
        if (key.rfind("--", 0) != 0)
            continue;
        key = key.substr(2);
        if (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0)
            o.values[key] = argv[++i];
        else
            o.values[key] = "1";
    }
    return o;
}

void ready()
{
    std::printf("READY\n");
    std::fflush(stdout);
}

void result(const QString &line)
{
    std::printf("RESULT %s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Runs `step` every 2 ms until it returns true or the limit passes; then
// quits the loop.
void pollUntil(QTimer &poll, int limitMs, std::function<bool()> step, std::function<void(bool)> done)
{
    const qint64 deadline = nowNs() + qint64(limitMs) * 1000000;
    poll.setInterval(2);
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&poll, deadline, step, done] {
        const bool finished = step();
        if (finished || nowNs() > deadline) {
            poll.stop();
            done(finished);
        }
    });
    poll.start();
}

QList<Endpoint *> peersOf(MainWindow &form)
{
    QList<Endpoint *> peers;
    for (Endpoint *e : form.endpoints()) {
        if (e->kind == EndpointKind::TcpAcceptedPeer && windowOf(e) && nodeOf(e))
            peers << e;
    }
    return peers;
}

Endpoint *create(MainWindow &form, EndpointKind kind, const std::function<Endpoint *()> &setup)
{
    form.findChild<EndpointTree *>(QStringLiteral("tree"))->setCurrentItem(form.kindNode(kind));
    // As the creation dialog's OK does: the documents take the place of the
    // information panel.
    form.showInfoPanel(false);
    return setup();
}

// Lets the event loop run for a while. A local loop: quitting the application
// would close the main window, and closing it stops every listening server.
void settleFor(int ms)
{
    QEventLoop settle;
    QTimer::singleShot(ms, &settle, &QEventLoop::quit);
    settle.exec();
}

// Picks an item of the log's context menu as a right click on the log offers
// it. The menu opens without a loop of its own, so the item is triggered
// directly; false when the menu did not open or lacks the item.
bool chooseFromContextMenu(DataWindow &window, const QString &caption)
{
    auto *log = window.findChild<LogView *>(QStringLiteral("log"));
    if (!log)
        return false;
    QWidget *surface = log->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), surface->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(surface, &event);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
        return false;
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == caption)
            chosen = action;
    }
    menu->close();
    if (chosen)
        chosen->trigger();
    return chosen != nullptr;
}

[[nodiscard]] bool isRecording(DataWindow &window)
{
    const auto *log = window.findChild<LogView *>(QStringLiteral("log"));
    return log && log->isRecordingShown();
}

void setHex(DataWindow &window)
{
    // As the user does it: the switch's click also retitles the send box.
    // A window nobody brought to the front has no switch yet.
    window.build();
    window.findChild<QCheckBox *>(QStringLiteral("hexSwitch"))->click();
}

QString logText(Endpoint &endpoint)
{
    if (!windowOf(&endpoint))
        return {};
    windowOf(&endpoint)->flushLog();
    const auto *log = windowOf(&endpoint)->findChild<LogView *>(QStringLiteral("log"));
    return log ? log->toPlainText() : QString();
}

// Gives the window these rules through its rules button, as a user does,
// and switches automatic replies on.
void answerBy(DataWindow &window, const std::vector<ReplyRule> &rules)
{
    ModalScript script;
    script.push([&rules](QDialog &dialog) {
        qobject_cast<ReplyRulesDialog *>(&dialog)->setRules(rules);
        dialog.done(ReplyRulesDialog::Accepted);
    });
    window.findChild<QPushButton *>(QStringLiteral("replyRulesButton"))->click();
    window.findChild<QCheckBox *>(QStringLiteral("autoReplySwitch"))->click();
}

// Twenty automatic reply rules, given through the rules button as a user
// does: nineteen that the requests never match (every kind of match), and
// last the one regular expression that answers "req <n>" with "ack <n>".
void answerRequests(DataWindow &window)
{
    std::vector<ReplyRule> rules;
    const MatchType kinds[] = {MatchType::Equals, MatchType::Contains, MatchType::StartsWith,
        MatchType::EndsWith, MatchType::HexBytes};
    for (int i = 0; i < 19; ++i) {
        ReplyRule rule;
        rule.match = kinds[i % 5];
        rule.pattern = rule.match == MatchType::HexBytes
            ? QStringLiteral("FE %1").arg(i, 2, 16, QLatin1Char('0'))
            : QStringLiteral("cmd-%1").arg(i);
        rule.reply = QStringLiteral("r%1").arg(i);
        rules.push_back(rule);
    }
    ReplyRule answer;
    answer.match = MatchType::Regex;
    answer.pattern = QStringLiteral("^req (\\d+)$");
    answer.reply = QStringLiteral("ack \\1");
    rules.push_back(answer);
    answerBy(window, rules);
}

// One rule, given through the rules button as a user does: any piece that
// contains "q" is answered with `bytes` printable bytes, then automatic
// replies switched on.
void answerWithLargeReply(DataWindow &window, qsizetype bytes)
{
    QString reply(bytes, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes; ++i)
        reply[i] = QLatin1Char(char('A' + i % 26));
    ReplyRule rule;
    rule.match = MatchType::Contains;
    rule.pattern = QStringLiteral("q");
    rule.reply = reply;
    const std::vector<ReplyRule> rules{rule};
    answerBy(window, rules);
}

// The user clicks `clicks` peers' nodes, spread over the tree, one every
// 150 ms. For each: the time from the click until its window is in front
// with its log showing what that peer sent ("port=<its port>"). Also what
// the windows built by the clicks added to the memory, per window.
QString clickThrough(MainWindow &form, int clicks)
{
    auto *tree = form.findChild<EndpointTree *>(QStringLiteral("tree"));
    const QList<Endpoint *> peers = peersOf(form);
    std::vector<double> ms;
    int logsRight = 0;
    int builtByClicks = 0;
    const long rssBefore = statusKb("VmRSS:");
    for (int i = 0; i < clicks && !peers.isEmpty(); ++i) {
        Endpoint *peer = peers[int((qint64(i) * peers.size()) / clicks)];
        const QString expected = QStringLiteral("port=%1").arg(peer->peerPort);
        if (windowOf(peer) && !windowOf(peer)->isBuilt())
            ++builtByClicks;
        const qint64 t0 = nowNs();
        tree->setCurrentItem(nodeOf(peer));
        const qint64 deadline = t0 + 2000000000LL;
        bool shown = false;
        while (nowNs() < deadline) {
            if (windowOf(peer) && windowOf(peer)->isVisible()) {
                shown = true;
                break;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        ms.push_back(double(nowNs() - t0) / 1e6);
        if (shown && logText(*peer).contains(expected))
            ++logsRight;
        settleFor(150);
    }
    const long rssAfter = statusKb("VmRSS:");
    return QStringLiteral("click_n=%1 click_median_ms=%2 click_max_ms=%3 click_logs_right=%4 "
                          "click_built=%5 click_kb_per_built_window=%6")
        .arg(ms.size())
        .arg(percentile(ms, 50), 0, 'f', 2)
        .arg(ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()), 0, 'f', 2)
        .arg(logsRight)
        .arg(builtByClicks)
        .arg(builtByClicks > 0 ? double(rssAfter - rssBefore) / builtByClicks : 0.0, 0, 'f', 1);
}

// Whether assistive technologies are heard, and whether the main window is
// on a screen that paints it: runs with and without an accessibility bus are
// compared only if these differ as intended.
QString displayState()
{
    const QWindow *handle = benchForm->windowHandle();
    return QStringLiteral("a11y_active=%1 exposed=%2")
        .arg(QAccessible::isActive() ? 1 : 0)
        .arg(handle && handle->isExposed() ? 1 : 0);
}

// Stops the server as its stop button does; the time until no peer endpoint
// and no peer node is left.
QString stopServer(MainWindow &form, Endpoint &server)
{
    QTreeWidgetItem *serverNode = nodeOf(&server);
    const qint64 t0 = nowNs();
    form.controller().stop(server);
    const qint64 deadline = t0 + 30000000000LL;
    while (nowNs() < deadline && (!peersOf(form).isEmpty() || serverNode->childCount() > 0))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 t1 = nowNs();
    return QStringLiteral("stop_s=%1 peers_left=%2")
        .arg(double(t1 - t0) / 1e9, 0, 'f', 3)
        .arg(peersOf(form).size());
}

// The next line of standard input, the event loop running meanwhile; empty
// at the input's end or after `limitMs`.
QByteArray nextInputLine(int limitMs)
{
    static QByteArray pending;
    if (!pending.contains('\n')) {
        QEventLoop wait;
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &wait, [&] {
            char piece[256];
            const ssize_t got = ::read(STDIN_FILENO, piece, sizeof piece);
            if (got > 0)
                pending.append(piece, got);
            if (got <= 0 || pending.contains('\n')) {
                input.setEnabled(false);
                wait.quit();
            }
        });
        QTimer::singleShot(limitMs, &wait, &QEventLoop::quit);
        wait.exec();
    }
    const qsizetype end = pending.indexOf('\n');
    if (end < 0)
        return {};
    const QByteArray line = pending.left(end).trimmed();
    pending.remove(0, end + 1);
    return line;
}

void clickAt(QWidget *widget, QPoint at)
{
    const QPointF global = widget->mapToGlobal(QPointF(at));
    QMouseEvent press(
        QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(
        QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void pressKey(QWidget *widget, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// The stop as a user makes it with a screen reader following the window:
// the first peer's node clicked, Home and Down to the server's node (its
// window comes to the front), then "SHOWN" printed; on the line "stop" the
// stop button is pressed, "STOPPED stop_ns=..." printed, and the run goes
// on (the screen reader asking the tree meanwhile) until the line "end".
// Times the stop until no peer endpoint and no peer node is left.
QString stopByUser(MainWindow &form, Endpoint &server)
{
    auto *tree = form.findChild<EndpointTree *>(QStringLiteral("tree"));
    QTreeWidgetItem *serverNode = nodeOf(&server);
    if (serverNode->childCount() > 0) {
        QTreeWidgetItem *first = serverNode->child(0);
        tree->scrollToItem(first);
        tree->setFocus();
        clickAt(tree->viewport(), tree->visualItemRect(first).center());
        settleFor(300);
    }
    pressKey(tree, Qt::Key_Home);
    settleFor(100);
    pressKey(tree, Qt::Key_Down);
    settleFor(300);
    DataWindow *window = windowOf(&server);
    const bool serverInFront = tree->currentItem() == serverNode && window->isVisible();
    std::printf("SHOWN server_front=%d\n", serverInFront ? 1 : 0);
    std::fflush(stdout);
    if (nextInputLine(180000) != "stop")
        return QStringLiteral("server_front=%1 stop_ns=0 stop_s=0").arg(serverInFront ? 1 : 0);
    auto *stopButton = window->findChild<QPushButton *>(QStringLiteral("stopButton"));
    // How the peers' nodes left: in how many removals from under the server.
    int removals = 0;
    const QPersistentModelIndex serverRow(tree->model()->index(serverNode->parent()->indexOfChild(serverNode),
        0, tree->model()->index(tree->indexOfTopLevelItem(serverNode->parent()), 0)));
    const auto counting = QObject::connect(tree->model(), &QAbstractItemModel::rowsRemoved, tree,
        [&](const QModelIndex &parent) { removals += parent == serverRow ? 1 : 0; });
    const qint64 t0 = nowNs();
    clickAt(stopButton, stopButton->rect().center());
    std::printf("STOPPED stop_ns=%lld\n", (long long)t0);
    std::fflush(stdout);
    qint64 clear = 0;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (peersOf(form).isEmpty() && serverNode->childCount() == 0) {
            clear = nowNs();
            check.stop();
        }
    });
    check.start(5);
    (void)nextInputLine(60000);
    if (clear == 0) {
        // Told to end before the check saw the tree clear: it may still.
        QEventLoop wait;
        QObject::connect(&check, &QTimer::timeout, &wait, [&] {
            if (clear != 0)
                wait.quit();
        });
        QTimer::singleShot(30000, &wait, &QEventLoop::quit);
        if (check.isActive())
            wait.exec();
    }
    check.stop();
    QObject::disconnect(counting);
    return QStringLiteral("server_front=%1 stop_ns=%2 stop_s=%3 peers_left=%4 tree_removals=%5")
        .arg(serverInFront ? 1 : 0)
        .arg(t0)
        .arg(clear ? double(clear - t0) / 1e9 : -1.0, 0, 'f', 3)
        .arg(peersOf(form).size())
        .arg(removals);
}

// A serial endpoint on `setup`, made as the creation dialog makes one, its
// window brought to the front (the tree has no kind node for serial ports
// yet, so no node is selected that would bring it); null when its device did
// not open.
Endpoint *openSerial(MainWindow &form, const SerialSetup &setup)
{
    form.showInfoPanel(false);
    Endpoint *serial = form.controller().createSerialPort(setup);
    if (!serial || serial->state != EndpointState::Connected || !windowOf(serial)) {
        std::fprintf(stderr, "benchapp: %s did not open\n", qPrintable(setup.device));
        return nullptr;
    }
    windowOf(serial)->bringToFront();
    return serial;
}

// The end of the load generator's stream of `bytes` bytes (byte i is
// 'A' + (i % 65536) % 26), at most `length` of them.
QString streamTail(qint64 bytes, int length)
{
    QString tail;
    for (qint64 i = std::max<qint64>(0, bytes - length); i < bytes; ++i)
        tail += QLatin1Char(char('A' + (i % 65536) % 26));
    return tail;
}

// The stream of `bytes` written into the device's far side; the run ends
// when the window has counted them all and its log is on screen, as B1's
// peer window. What the session logged as received is added up on the way,
// and the newest line of the log is checked to end with the stream's end.
int serialReceive(MainWindow &form, const Options &opt, LatencyProbe &probe, QTimer &poll, int limitMs)
{
    const qint64 bytes = opt.num("bytes", 0);
    SerialSetup setup;
    setup.device = opt.text("device");
    Endpoint *serial = openSerial(form, setup);
    if (!serial)
        return 3;
    DataWindow *window = windowOf(serial);
    qint64 loggedBytes = 0;
    QObject::connect(serial->session, &EndpointSession::entryLogged, window, [&](const LogEntry &entry) {
        if (entry.kind == LogEntry::Kind::Received)
            loggedBytes += entry.data.size();
    });
    int exitCode = 1;
    const long rssBefore = statusKb("VmRSS:");
    probe.Start();
    ready();
    pollUntil(
        poll, limitMs, [&] { return window->receivedBytes() >= bytes; },
        [&](bool finished) {
            window->flushLog();
            const qint64 end = nowNs();
            probe.Stop();
            const qint64 received = window->receivedBytes();
            const auto *log = window->findChild<LogView *>(QStringLiteral("log"));
            const bool tailShown = log->lastLines(1, 16).endsWith(streamTail(bytes, 16));
            exitCode = finished && received == bytes ? 0 : 1;
            result(QStringLiteral("end_ns=%1 received=%2 logged_bytes=%3 log_entries=%4 log_kept_bytes=%5 "
                                  "log_tail_ok=%6 hwm_kb=%7 rss_kb=%8 rss_before_kb=%9 peer_shown=%10 %11")
                       .arg(end)
                       .arg(received)
                       .arg(loggedBytes)
                       .arg(log->entryCount())
                       .arg(log->keptBytesCount())
                       .arg(tailShown ? 1 : 0)
                       .arg(statusKb("VmHWM:"))
                       .arg(statusKb("VmRSS:"))
                       .arg(rssBefore)
                       .arg(window->isVisible() ? 1 : 0)
                       .arg(probe.Summary("probe")));
            QCoreApplication::exit(0);
        });
    QCoreApplication::exec();
    return exitCode;
}

// Requests typed into the send box and sent by its button, as a user does:
// "ping <n>" and a line break, which the box sends as CR LF. The device on
// the far side writes each line back; the time is taken from the click until
// the session logs the answer (framed by its "\n"). The next request goes
// once the answer is in, or once --answer-ms passed without one.
int serialEcho(MainWindow &form, const Options &opt, LatencyProbe &probe, int limitMs)
{
    const int count = int(opt.num("count", 1000));
    const int answerMs = int(opt.num("answer-ms", 2000));
    SerialSetup setup;
    setup.device = opt.text("device");
    setup.framing = MessageFraming::Delimiter;
    setup.delimiter = QByteArrayLiteral("\n");
    Endpoint *serial = openSerial(form, setup);
    if (!serial)
        return 3;
    DataWindow *window = windowOf(serial);
    window->build();
    auto *edit = window->findChild<SendEdit *>(QStringLiteral("sendEdit"));
    auto *button = window->findChild<QPushButton *>(QStringLiteral("sendButton"));
    std::vector<double> ms;
    int asked = 0;
    int unanswered = 0;
    qint64 sentAt = 0;
    QByteArray expected;
    QTimer giveUp;
    giveUp.setSingleShot(true);
    giveUp.setInterval(answerMs);
    const qint64 deadline = nowNs() + qint64(limitMs) * 1000000;
    const auto finish = [&] {
        giveUp.stop();
        probe.Stop();
        const auto worst = ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end());
        result(QStringLiteral("asked=%1 answered=%2 unanswered=%3 rtt_p50_ms=%4 rtt_p99_ms=%5 rtt_max_ms=%6 "
                              "sent_bytes=%7 received_bytes=%8 %9")
                   .arg(asked)
                   .arg(ms.size())
                   .arg(unanswered)
                   .arg(percentile(ms, 50), 0, 'f', 3)
                   .arg(percentile(ms, 99), 0, 'f', 3)
                   .arg(worst, 0, 'f', 3)
                   .arg(window->sentBytes())
                   .arg(window->receivedBytes())
                   .arg(probe.Summary("probe")));
        QCoreApplication::exit(0);
    };
    const auto askNext = [&] {
        if (asked == count || nowNs() > deadline) {
            finish();
            return;
        }
        expected = QStringLiteral("ping %1").arg(asked).toLatin1();
        edit->setPlainText(QString::fromLatin1(expected) + QLatin1Char('\n'));
        ++asked;
        giveUp.start();
        sentAt = nowNs();
        button->click();
    };
    QObject::connect(&giveUp, &QTimer::timeout, window, [&] {
        ++unanswered;
        sentAt = 0;
        askNext();
    });
    QObject::connect(serial->session, &EndpointSession::entryLogged, window, [&](const LogEntry &entry) {
        if (entry.kind != LogEntry::Kind::Received || sentAt == 0 || entry.data.trimmed() != expected)
            return;
        ms.push_back(double(nowNs() - sentAt) / 1e6);
        sentAt = 0;
        giveUp.stop();
        // Not from inside the session's signal: the next click starts afresh.
        QTimer::singleShot(0, window, askNext);
    });
    probe.Start();
    ready();
    QTimer::singleShot(0, window, askNext);
    QCoreApplication::exec();
    return ms.size() == size_t(count) ? 0 : 1;
}

// The device, a link to a pseudo-terminal, goes away and comes back while a
// stream arrives. Each time the log says the device was opened again,
// "REOPENED k=<n>" is printed (the harness lets the far side go on). The run
// ends once --reopens were logged and the stream after the last one has
// been quiet for --quiet-ms; the latency probe runs from READY until then.
int serialUnplug(MainWindow &form, const Options &opt, LatencyProbe &probe, QTimer &poll, int limitMs)
{
    const int wanted = int(opt.num("reopens", 10));
    const qint64 quietNs = opt.num("quiet-ms", 1000) * 1000000;
    SerialSetup setup;
    setup.device = opt.text("device");
    Endpoint *serial = openSerial(form, setup);
    if (!serial)
        return 3;
    DataWindow *window = windowOf(serial);
    int reopened = 0;
    int lost = 0;
    qint64 lastReopenNs = 0;
    QObject::connect(serial->session, &EndpointSession::entryLogged, window, [&](const LogEntry &entry) {
        if (entry.kind != LogEntry::Kind::Status)
            return;
        if (entry.text.contains(QStringLiteral("串口已断开")))
            ++lost;
        if (entry.text.contains(QStringLiteral("串口已重新打开"))) {
            ++reopened;
            lastReopenNs = nowNs();
            std::printf("REOPENED k=%d at_ns=%lld\n", reopened, (long long)lastReopenNs);
            std::fflush(stdout);
        }
    });
    qint64 last = -1;
    qint64 lastChangeNs = 0;
    int exitCode = 1;
    probe.Start();
    ready();
    pollUntil(
        poll, limitMs,
        [&] {
            const qint64 now = nowNs();
            if (window->receivedBytes() != last) {
                last = window->receivedBytes();
                lastChangeNs = now;
            }
            return reopened >= wanted && lastChangeNs > lastReopenNs && now - lastChangeNs > quietNs;
        },
        [&](bool finished) {
            window->flushLog();
            probe.Stop();
            exitCode = finished ? 0 : 1;
            result(QStringLiteral("reopened=%1 lost=%2 received=%3 log_entries=%4 open=%5 hwm_kb=%6 "
                                  "peer_shown=%7 %8")
                       .arg(reopened)
                       .arg(lost)
                       .arg(window->receivedBytes())
                       .arg(window->findChild<LogView *>(QStringLiteral("log"))->entryCount())
                       .arg(serial->state == EndpointState::Connected ? 1 : 0)
                       .arg(statusKb("VmHWM:"))
                       .arg(window->isVisible() ? 1 : 0)
                       .arg(probe.Summary("probe")));
            QCoreApplication::exit(0);
        });
    QCoreApplication::exec();
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    // A "-platform" argument overrides this; QApplication takes it out of argv.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Each scenario ends its event loop with QCoreApplication::exit(), not
    // quit(): quitting closes the main window, and closing it stops every
    // server and removes its peers before they are counted.
    if (argc < 2) {
        std::fprintf(stderr,
            "usage: benchapp tcp-recv|file-send|udp-recv|tcp-accept|tcp-stalled-replies|timer-send|"
            "serial-recv|serial-echo|serial-unplug|crowd-budgets|idle "
            "[--key value]...\n");
        return 2;
    }
    const std::string scenario = argv[1];
    const Options opt = parse(argc, argv);

    MessageRecorder recorder; // no box ever waits for a click
    // The UDP Server's serial bridge leads nowhere: no real port is opened.
    SerialPort::setDevicePathResolver(
        [](const QString &) { return QStringLiteral("/nonexistent/bench-serial"); });

    // As the program starts (the descriptor limit raised, the window shown).
    auto form = StartPortwright();
    benchForm = form.get();

    LatencyProbe probe(int(opt.num("probe-ms", 100)));
    QTimer poll;
    int exitCode = 0;
    const int limitMs = int(opt.num("timeout-ms", 120000));
    const int port = int(opt.num("port", 0));

    if (scenario == "tcp-recv") {
        // One accepted peer receives `bytes`; the run ends when its window has
        // counted them all and its log is on screen.
        const qint64 bytes = opt.num("bytes", 0);
        const bool hex = opt.flag("hex");
        const int rssEveryMs = int(opt.num("rss-every-ms", 0));
        // --record FILE: the peer's log is recorded to FILE through its menu,
        // from before the first byte until the end, when the menu stops it.
        const QString recordPath = opt.text("record");
        FileChoiceScript choices;
        qint64 receivedWhenRecording = -1;
        if (!create(*form, EndpointKind::TcpServer, [&] { return form->controller().createTcpServer(port); }))
            return 3;
        auto *rssLog = new QString;
        QTimer rssTimer;
        const qint64 t0 = nowNs();
        if (rssEveryMs > 0) {
            QObject::connect(&rssTimer, &QTimer::timeout, [&] {
                *rssLog += QStringLiteral("%1:%2,").arg((nowNs() - t0) / 1000000).arg(statusKb("VmRSS:"));
            });
            rssTimer.start(rssEveryMs);
        }
        Endpoint *peer = nullptr;
        probe.Start();
        ready();
        pollUntil(
            poll, limitMs,
            [&] {
                if (!peer) {
                    const auto peers = peersOf(*form);
                    if (peers.isEmpty())
                        return false;
                    peer = peers.first();
                    if (hex)
                        setHex(*windowOf(peer));
                    if (!recordPath.isEmpty()) {
                        // As the user does it: the window in front, then the menu.
                        windowOf(peer)->bringToFront();
                        choices.answers.push_back(recordPath);
                        if (!chooseFromContextMenu(*windowOf(peer), QStringLiteral("记录到文件...")))
                            return true; // reported as not recording below
                    }
                }
                if (!form->endpoints().contains(peer))
                    return true; // gone: reported as a shortfall below
                // The menu's item starts recording on a later loop pass; what
                // had arrived by then is not in the file.
                if (!recordPath.isEmpty() && receivedWhenRecording < 0) {
                    if (!isRecording(*windowOf(peer)))
                        return false;
                    receivedWhenRecording = windowOf(peer)->receivedBytes();
                }
                return windowOf(peer)->receivedBytes() >= bytes;
            },
            [&](bool finished) {
                const bool listed = peer && form->endpoints().contains(peer);
                // Painted only if in front: B1 and B16 measure a window the user sees.
                const bool shown = listed && windowOf(peer)->isVisible();
                qint64 received = -1;
                int blocks = -1;
                bool recorded = false;
                if (listed) {
                    windowOf(peer)->flushLog();
                    received = windowOf(peer)->receivedBytes();
                    blocks = windowOf(peer)->findChild<LogView *>(QStringLiteral("log"))->entryCount();
                    // Stopping writes out what waits and closes the file, so
                    // the file is whole when the harness counts it.
                    if (!recordPath.isEmpty() && isRecording(*windowOf(peer)))
                        recorded = chooseFromContextMenu(*windowOf(peer), QStringLiteral("停止记录"))
                            && !isRecording(*windowOf(peer));
                }
                const qint64 end = nowNs();
                probe.Stop();
                rssTimer.stop();
                exitCode = finished && received == bytes && (recordPath.isEmpty() || recorded) ? 0 : 1;
                QString recording;
                if (!recordPath.isEmpty())
                    recording = QStringLiteral(" recorded=%1 received_when_recording=%2")
                                    .arg(recorded ? 1 : 0)
                                    .arg(receivedWhenRecording);
                result(QStringLiteral("end_ns=%1 received=%2 blocks=%3 hwm_kb=%4 rss_kb=%5 %6%7 rss=%8 "
                                      "peer_shown=%9 %10")
                           .arg(end)
                           .arg(received)
                           .arg(blocks)
                           .arg(statusKb("VmHWM:"))
                           .arg(statusKb("VmRSS:"))
                           .arg(probe.Summary("probe"), recording)
                           .arg(rssLog->isEmpty() ? QStringLiteral("-") : *rssLog)
                           .arg(shown ? 1 : 0)
                           .arg(displayState()));
                QCoreApplication::exit(0);
            });
        app.exec();
        delete rssLog;
    } else if (scenario == "file-send") {
        // A TCP Client sends --file to a sink at --port through the same
        // function the send box's menu calls. Measured from the call until
        // the transfer has ended, with the peak memory over that time against
        // the idle window's just before.
        const QString path = opt.text("file");
        Endpoint *client = create(*form, EndpointKind::TcpClient,
            [&] { return form->controller().createTcpClient(QStringLiteral("127.0.0.1"), port); });
        if (!client)
            return 3;
        const QPointer<DataWindow> window = windowOf(client);
        ready();
        // A new client connects when its start button is pressed; the
        // connect waits for the host lookup, which answers on the loop.
        window->requestStart();
        const qint64 connectDeadline = nowNs() + 30000000000LL;
        while (client->state != EndpointState::Connected && nowNs() < connectDeadline)
            settleFor(5);
        if (client->state != EndpointState::Connected || !window) {
            result(QStringLiteral("connected=0"));
            return 4;
        }
        settleFor(500);
        const long idleKb = statusKb("VmRSS:");
        const bool peakReset = resetPeakRss();
        probe.Start();
        const qint64 start = nowNs();
        if (FileTransfer *transfer = form->controller().sendFile(*client, path))
            QObject::connect(window, &DataWindow::transferCancelRequested, transfer, &FileTransfer::cancel);
        pollUntil(
            poll, limitMs, [&] { return !window || !window->isTransferring(); },
            [&](bool finished) {
                const qint64 end = nowNs();
                probe.Stop();
                const long hwmKb = statusKb("VmHWM:");
                const qint64 sent = window ? window->sentBytes() : -1;
                const bool completed = window
                    && logText(*client).contains(
                        QStringLiteral(" 文件发送完成：%1，已发送 %2 字节").arg(path).arg(sent));
                exitCode = finished && completed ? 0 : 1;
                result(QStringLiteral("start_ns=%1 end_ns=%2 sent=%3 completed=%4 idle_rss_kb=%5 hwm_kb=%6 "
                                      "peak_reset=%7 %8")
                           .arg(start)
                           .arg(end)
                           .arg(sent)
                           .arg(completed ? 1 : 0)
                           .arg(idleKb)
                           .arg(hwmKb)
                           .arg(peakReset ? 1 : 0)
                           .arg(probe.Summary("probe")));
                QCoreApplication::exit(0);
            });
        app.exec();
    } else if (scenario == "udp-recv") {
        // A UDP Server takes what arrives; the run ends when `count` datagrams
        // were counted, or once nothing more came for `quiet-ms`.
        const qint64 count = opt.num("count", 0);
        const qint64 size = opt.num("size", 64);
        const qint64 quietMs = opt.num("quiet-ms", 1500);
        Endpoint *server = create(
            *form, EndpointKind::UdpServer, [&] { return form->controller().createUdpServer(port); });
        if (!server)
            return 3;
        if (opt.flag("answer"))
            answerRequests(*windowOf(server));
        qint64 last = -1;
        qint64 lastChange = nowNs();
        probe.Start();
        ready();
        pollUntil(
            poll, limitMs,
            [&] {
                const qint64 got = windowOf(server)->receivedBytes();
                if (got != last) {
                    last = got;
                    lastChange = nowNs();
                }
                return got >= count * size || (got > 0 && nowNs() - lastChange > quietMs * 1000000);
            },
            [&](bool) {
                windowOf(server)->flushLog();
                const qint64 end = nowNs();
                probe.Stop();
                const qint64 got = windowOf(server)->receivedBytes();
                const int blocks
                    = windowOf(server)->findChild<LogView *>(QStringLiteral("log"))->entryCount();
                result(QStringLiteral("end_ns=%1 datagrams=%2 bytes=%3 log_lines=%4 sent_bytes=%5 %6")
                           .arg(end)
                           .arg(got / size)
                           .arg(got)
                           .arg(got > 0 ? blocks : 0)
                           .arg(windowOf(server)->sentBytes())
                           .arg(probe.Summary("probe")));
                QCoreApplication::exit(0);
            });
        app.exec();
    } else if (scenario == "tcp-accept") {
        // `count` peers connect at once; the run times until every one has its
        // node and window, then weighs the idle peers. --distinct counts every
        // peer ever accepted instead of those present (for a descriptor limit
        // below the count, where peers must leave for others to come in).
        // Then, optionally, the user clicks through --click peers' nodes, and
        // --stop stops the server (--stop-by-user: as stopByUser says).
        const int count = int(opt.num("count", 1000));
        const bool distinct = opt.flag("distinct");
        Endpoint *server = create(
            *form, EndpointKind::TcpServer, [&] { return form->controller().createTcpServer(port); });
        if (!server)
            return 3;
        // Let the first window's one-off costs (fonts, styles) settle first.
        settleFor(300);
        const long rssBefore = statusKb("VmRSS:");
        QSet<int> seenPorts;
        const auto arrived = [&] {
            const QList<Endpoint *> peers = peersOf(*form);
            if (!distinct)
                return int(peers.size());
            for (const Endpoint *peer : peers)
                seenPorts.insert(peer->peerPort);
            return int(seenPorts.size());
        };
        qint64 end = 0;
        const auto finish = [&] {
            if (end != 0)
                return;
            end = nowNs();
            probe.Stop();
            QCoreApplication::exit(0);
        };
        // Looked at as nodes come: polling on a short timer would itself be
        // a loop pass, and each pass of a loop that watches ten thousand
        // sockets costs what polling them costs.
        QTreeWidgetItem *serverNode = nodeOf(server);
        bool checkQueued = false;
        int nextMark = 1000;
        const auto check = [&] {
            checkQueued = false;
            // Progress on stderr, every 1000 nodes: where a burst slows down.
            while (serverNode->childCount() >= nextMark) {
                std::fprintf(stderr, "nodes=%d at_ns=%lld\n", nextMark, (long long)nowNs());
                nextMark += 1000;
            }
            if (serverNode->childCount() >= count && form->endpoints().size() - 1 >= count)
                finish();
        };
        if (!distinct)
            QObject::connect(form->findChild<EndpointTree *>(QStringLiteral("tree"))->model(),
                &QAbstractItemModel::rowsInserted, &app, [&] {
                    if (!checkQueued) {
                        checkQueued = true;
                        QTimer::singleShot(0, &app, check);
                    }
                });
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &app, finish);
        deadline.start(limitMs);
        probe.Start();
        ready();
        if (distinct) {
            poll.setInterval(10);
            QObject::connect(&poll, &QTimer::timeout, &app, [&] {
                if (arrived() >= count)
                    finish();
            });
            poll.start();
        }
        app.exec();
        poll.stop();
        deadline.stop();
        // When the loop was held up longest, to tell the burst from what
        // came before it.
        const QString acceptProbe
            = probe.Summary("probe") + QStringLiteral(" probe_worst_at_ns=%1").arg(probe.WorstAtNs());
        const int peers = distinct ? arrived() : int(peersOf(*form).size());
        // Settle, then weigh and watch the idle loop.
        settleFor(1000);
        const long rssAfter = statusKb("VmRSS:");
        const double cpu0 = cpuSeconds();
        const qint64 idle0 = nowNs();
        settleFor(int(opt.num("idle-ms", 2000)));
        const double idleCpu = (cpuSeconds() - cpu0) / (double(nowNs() - idle0) / 1e9);
        const int built = int(std::count_if(form->endpoints().begin(), form->endpoints().end(),
            [](const Endpoint *e) { return windowOf(e) && windowOf(e)->isBuilt(); }));
        const QString serverLog = logText(*server);
        exitCode = peers == count ? 0 : 1;
        QString extra = QStringLiteral("windows_built=%1 exhaustion_lines=%2")
                            .arg(built)
                            .arg(serverLog.count(QStringLiteral("文件描述符已用完")));
        if (const int clicks = int(opt.num("click", 0)); clicks > 0)
            extra += QLatin1Char(' ') + clickThrough(*form, clicks);
        if (opt.flag("stop"))
            extra += QLatin1Char(' ') + stopServer(*form, *server);
        else if (opt.flag("stop-by-user"))
            extra += QLatin1Char(' ') + stopByUser(*form, *server);
        extra += QLatin1Char(' ') + displayState();
        result(QStringLiteral("end_ns=%1 peers=%2 rss_before_kb=%3 rss_after_kb=%4 idle_cpu_pct=%5 %6 %7")
                   .arg(end)
                   .arg(peers)
                   .arg(rssBefore)
                   .arg(rssAfter)
                   .arg(idleCpu * 100, 0, 'f', 2)
                   .arg(acceptProbe, extra));
    } else if (scenario == "tcp-stalled-replies") {
        // `count` peers each send a piece the server's rule answers with
        // --reply-bytes, and never read. The run ends once every peer was
        // accepted and none of them has a reply waiting any more (each given
        // up by then, or taken whole), or at the time limit; the latency
        // probe runs from READY until then. Afterwards each peer's window is
        // built to read its log: whether it tells that the peer was given up.
        const int count = int(opt.num("count", 2000));
        const qsizetype replyBytes = qsizetype(opt.num("reply-bytes", 256 * 1024));
        Endpoint *server = create(
            *form, EndpointKind::TcpServer, [&] { return form->controller().createTcpServer(port); });
        if (!server)
            return 3;
        answerWithLargeReply(*windowOf(server), replyBytes);
        // Let the first window's one-off costs (fonts, styles) settle first.
        settleFor(300);
        const long rssBefore = statusKb("VmRSS:");
        const bool peakReset = resetPeakRss();
        int accepted = 0;
        int settled = 0;
        qint64 end = 0;
        const qint64 t0 = nowNs();
        qint64 nextProgress = t0;
        // A coarse look: each one walks every peer, and a pass of a loop that
        // watches thousands of sockets is not free either.
        QTimer check;
        check.setInterval(50);
        QObject::connect(&check, &QTimer::timeout, &app, [&] {
            const QList<Endpoint *> peers = peersOf(*form);
            accepted = std::max(accepted, int(peers.size()));
            // A peer's piece is answered as it is received: once counted,
            // its reply was handed over.
            settled = int(std::count_if(peers.begin(), peers.end(), [](const Endpoint *peer) {
                return windowOf(peer)->receivedBytes() > 0
                    && !ConnectionOutbox::isWaiting(peer->peerConnection());
            }));
            const qint64 now = nowNs();
            // Progress on stderr, once a second: where the time goes.
            if (now >= nextProgress) {
                std::fprintf(stderr, "t_ms=%lld peers=%d settled=%d\n", (long long)(now - t0) / 1000000,
                    int(peers.size()), settled);
                nextProgress += 1000000000;
            }
            if ((accepted >= count && settled >= count) || now - t0 > qint64(limitMs) * 1000000) {
                end = now;
                check.stop();
                probe.Stop();
                QCoreApplication::exit(0);
            }
        });
        probe.Start();
        ready();
        check.start();
        app.exec();
        const long hwmKb = statusKb("VmHWM:");
        const long rssEndKb = statusKb("VmRSS:");
        const QList<Endpoint *> peers = peersOf(*form);
        int givenUp = 0;
        qint64 sent = 0;
        const qint64 countStart = nowNs();
        for (Endpoint *peer : peers) {
            windowOf(peer)->build();
            if (logText(*peer).contains(QStringLiteral("发送超时：对方未接收数据")))
                ++givenUp;
            sent += windowOf(peer)->sentBytes();
            // Each build posts layout and polish events. Left to pile up
            // (the loop does not run here), every later post and every
            // widget destroyed at the end would scan all of them.
            QCoreApplication::sendPostedEvents();
        }
        std::fprintf(stderr, "logs read in %.3f s\n", double(nowNs() - countStart) / 1e9);
        exitCode = accepted == count && givenUp == count ? 0 : 1;
        result(QStringLiteral("end_ns=%1 seconds=%2 peers=%3 settled=%4 given_up=%5 sent_bytes=%6 "
                              "rss_before_kb=%7 hwm_kb=%8 rss_kb=%9 peak_reset=%10 %11 probe_max_at_ms=%12")
                   .arg(end)
                   .arg(double(end - t0) / 1e9, 0, 'f', 3)
                   .arg(accepted)
                   .arg(settled)
                   .arg(givenUp)
                   .arg(sent)
                   .arg(rssBefore)
                   .arg(hwmKb)
                   .arg(rssEndKb)
                   .arg(peakReset ? 1 : 0)
                   .arg(probe.Summary("probe"))
                   .arg(probe.WorstAtNs() > 0 ? (probe.WorstAtNs() - t0) / 1000000 : -1));
    } else if (scenario == "crowd-budgets") {
        // `count` peers of a TCP Server, from the load generator: with
        // --reply-bytes each asks a rule for that many bytes again and again
        // and reads slowly; without, each sends a stream and stays. The run
        // lasts --seconds from READY (or ends once --expect-bytes have been
        // received in all); then the peak RSS since READY, the peers whose
        // log tells of dropped replies, and what the budgets counted.
        const int count = int(opt.num("count", 1000));
        const qsizetype replyBytes = qsizetype(opt.num("reply-bytes", 0));
        const qint64 expectBytes = opt.num("expect-bytes", 0);
        const qint64 seconds = opt.num("seconds", 10);
        Endpoint *server = create(
            *form, EndpointKind::TcpServer, [&] { return form->controller().createTcpServer(port); });
        if (!server)
            return 3;
        if (replyBytes > 0)
            answerWithLargeReply(*windowOf(server), replyBytes);
        settleFor(300);
        const long rssBefore = statusKb("VmRSS:");
        const bool peakReset = resetPeakRss();
        int accepted = 0;
        qint64 received = 0;
        qint64 end = 0;
        const qint64 t0 = nowNs();
        QTimer check;
        check.setInterval(100);
        QObject::connect(&check, &QTimer::timeout, &app, [&] {
            const QList<Endpoint *> peers = peersOf(*form);
            accepted = std::max(accepted, int(peers.size()));
            received = 0;
            for (const Endpoint *peer : peers)
                received += windowOf(peer)->receivedBytes();
            const qint64 now = nowNs();
            if ((expectBytes > 0 && received >= expectBytes) || now - t0 > seconds * 1000000000) {
                end = now;
                check.stop();
                probe.Stop();
                QCoreApplication::exit(0);
            }
        });
        probe.Start();
        ready();
        check.start();
        app.exec();
        const long hwmKb = statusKb("VmHWM:");
        const long rssEndKb = statusKb("VmRSS:");
        // Peers whose log tells of replies dropped past their own bound, and
        // past the program's total.
        int refusing = 0;
        int refusingTotal = 0;
        qint64 sent = 0;
        for (Endpoint *peer : peersOf(*form)) {
            sent += windowOf(peer)->sentBytes();
            if (replyBytes == 0)
                continue;
            windowOf(peer)->build();
            const QString log = logText(*peer);
            if (log.contains(QStringLiteral("全部连接等待发送的数据已达上限")))
                ++refusingTotal;
            else if (log.contains(QStringLiteral("新的应答将被丢弃")))
                ++refusing;
            QCoreApplication::sendPostedEvents();
        }
#ifdef PW_BENCH_BUDGETS
        const QString budgets
            = QStringLiteral("output_refusals=%1 output_peak_kb=%2 log_used_kb=%3 log_evicted_kb=%4")
                  .arg(form->controller().outputBudget().refusals())
                  .arg(form->controller().outputBudget().peak() / 1024)
                  .arg(form->views().logBudget().used() / 1024)
                  .arg(form->views().logBudget().evicted() / 1024);
#else
        const QString budgets
            = QStringLiteral("output_refusals=-1 output_peak_kb=-1 log_used_kb=-1 log_evicted_kb=-1");
#endif
        exitCode = accepted == count ? 0 : 1;
        result(QStringLiteral("end_ns=%1 peers=%2 received=%3 sent=%4 refusing_peers=%5 rss_before_kb=%6 "
                              "hwm_kb=%7 rss_kb=%8 peak_reset=%9 %10 %11 refusing_total_peers=%12")
                   .arg(end)
                   .arg(accepted)
                   .arg(received)
                   .arg(sent)
                   .arg(refusing)
                   .arg(rssBefore)
                   .arg(hwmKb)
                   .arg(rssEndKb)
                   .arg(peakReset ? 1 : 0)
                   .arg(probe.Summary("probe"))
                   .arg(budgets)
                   .arg(refusingTotal));
    } else if (scenario == "timer-send") {
        // A UDP Client sends one byte per tick of its timer to the sink; an
        // optional UDP Server meanwhile takes a datagram load.
        const int sinkPort = int(opt.num("sink-port", 0));
        const int ticks = int(opt.num("ticks", 1000));
        const int loadPort = int(opt.num("load-port", 0));
        Endpoint *client = create(*form, EndpointKind::UdpClient,
            [&] { return form->controller().createUdpClient(QStringLiteral("127.0.0.1"), sinkPort, 0); });
        if (!client)
            return 3;
        Endpoint *loaded = nullptr;
        if (loadPort)
            loaded = create(
                *form, EndpointKind::UdpServer, [&] { return form->controller().createUdpServer(loadPort); });
        DataWindow &w = *windowOf(client);
        w.findChild<SendEdit *>(QStringLiteral("sendEdit"))->setPlainText(QStringLiteral("x"));
        w.findChild<QLineEdit *>(QStringLiteral("intervalEdit"))
            ->setText(QString::number(opt.num("interval", 10)));
        ready();
        // The load starts when the sender reads READY; give it a moment.
        settleFor(int(opt.num("start-delay-ms", 300)));
        w.startTimedSending();
        pollUntil(
            poll, limitMs, [&] { return w.sentBytes() >= ticks; },
            [&](bool finished) {
                w.stopTimedSending();
                exitCode = finished ? 0 : 1;
                result(QStringLiteral("sent=%1 load_received=%2")
                           .arg(w.sentBytes())
                           .arg(loaded ? windowOf(loaded)->receivedBytes() : 0));
                QCoreApplication::exit(0);
            });
        app.exec();
    } else if (scenario == "serial-recv") {
        exitCode = serialReceive(*form, opt, probe, poll, limitMs);
    } else if (scenario == "serial-echo") {
        exitCode = serialEcho(*form, opt, probe, limitMs);
    } else if (scenario == "serial-unplug") {
        exitCode = serialUnplug(*form, opt, probe, poll, limitMs);
    } else if (scenario == "idle") {
        probe.Start();
        ready();
        QTimer::singleShot(int(opt.num("ms", 3000)), &app, [&] {
            probe.Stop();
            result(probe.Summary("probe"));
            QCoreApplication::exit(0);
        });
        app.exec();
    } else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    form.reset();
    return exitCode;
}
