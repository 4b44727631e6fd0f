#include "app/headlessrun.h"

#include "app/commandline.h"
#include "core/errors.h"
#include "core/linewriter.h"
#include "core/usermessages.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/workspacesetup.h"
#include "net/tcp/hostlookup.h"
#include "net/tcp/tcpconnection.h"
#include "session/endpointsession.h"
#include "session/headlesslines.h"
#include "session/logentry.h"
#include "session/workspacefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The write end of the pipe a signal handler wakes the event loop through;
// a handler may do nothing more than write(2). A signal that comes before
// the pipe exists is remembered and told once the pipe is made.
std::atomic<int> signalPipeWrite = -1;
std::atomic<bool> endingSignalCame = false;
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void wakeLoop(int pipeWrite)
{
    const char byte = 1;
    // A full pipe already holds a wake-up: the byte is not needed.
    (void)!write(pipeWrite, &byte, 1);
}

void wakeOnSignal(int)
{
    const int saved = errno;
    endingSignalCame = true;
    if (const int pipeWrite = signalPipeWrite; pipeWrite >= 0)
        wakeLoop(pipeWrite);
    errno = saved;
}

void printForUser(const QString &text)
{
    std::fputs(QStringLiteral("portwright: %1\n").arg(text).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// The window's error box words a socket failure as the socket layer of the
// original design did ("... on API 'connect'"); a run without a window says
// it in this system's words.
QString failureText(const std::exception &e)
{
    if (const auto *socket = dynamic_cast<const SocketError *>(&e); socket && socket->code() != 0)
        return QCoreApplication::translate("HeadlessRun", "网络错误：%1")
            .arg(SocketErrorText(socket->code()));
    return ExceptionMessage(e);
}

LineDirection directionOf(LogEntry::Kind kind)
{
    switch (kind) {
    case LogEntry::Kind::Received:
        return LineDirection::Received;
    case LogEntry::Kind::Sent:
    case LogEntry::Kind::TimedSend:
        return LineDirection::Sent;
    case LogEntry::Kind::Reply:
        return LineDirection::Reply;
    case LogEntry::Kind::Status:
    case LogEntry::Kind::Line:
        break;
    }
    return LineDirection::Note;
}

// The run: the signals' pipe, the workspace reader, the controller and the
// endpoints it holds. Owns all of them; the line writer it writes to is the
// caller's, so that the writer is finished after the endpoints have logged
// their last lines. Lives on the application's thread.
class HeadlessRun : public QObject {
public:
    HeadlessRun(QCoreApplication &app, const HeadlessOptions &options, LineWriter &writer)
        : app_(app)
        , options_(options)
        , writer_(writer)
    {
    }

    ~HeadlessRun() override
    {
        signalPipeWrite = -1;
        for (const int fd : signalPipe_)
            if (fd >= 0)
                ::close(fd);
    }

    HeadlessRun(const HeadlessRun &) = delete;
    HeadlessRun &operator=(const HeadlessRun &) = delete;

    // False when the loop cannot be woken by the signals (caught since
    // catchEndingSignals); the run would not end cleanly.
    bool wakeOnSignals()
    {
        if (::pipe2(signalPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        signalPipeWrite = signalPipe_[1];
        auto *notifier = new QSocketNotifier(signalPipe_[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char bytes[16];
            while (::read(signalPipe_[0], bytes, sizeof bytes) > 0) { }
            end(HeadlessEnded);
        });
        // Came while the run was being set up: it ends as soon as the loop
        // runs.
        if (endingSignalCame)
            wakeLoop(signalPipe_[1]);
        return true;
    }

    void start()
    {
        connect(&controller_, &EndpointController::messageForUser, this, printForUser);
        connect(
            &controller_, &EndpointController::failureForUser, this, [](const std::exception_ptr &failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception &e) {
                    printForUser(failureText(e));
                }
            });
        connect(&controller_, &EndpointController::endpointAdded, this, &HeadlessRun::follow);
        connect(&controller_, &EndpointController::connectFailed, this, &HeadlessRun::connectFailed);
        connect(&reader_, &WorkspaceFileReader::failed, this, [this](const QString &message) {
            printForUser(message);
            end(HeadlessBadWorkspace);
        });
        connect(&reader_, &WorkspaceFileReader::loaded, this, &HeadlessRun::open);
        reader_.open(options_.workspace);
        // Counted from the start: a workspace that is slow to read does not
        // stretch the run.
        if (options_.duration)
            endAfter(QDeadlineTimer(*options_.duration, Qt::PreciseTimer));
    }

private:
    void open(const Workspace &workspace)
    {
        if (ended_)
            return;
        const std::vector<OpenedEndpoint> opened = openWorkspace(controller_, workspace);
        bool failed = false;
        for (size_t i = 0; i < opened.size(); ++i) {
            const OpenedEndpoint &made = opened[i];
            if (made.endpoint && made.problems.isEmpty())
                continue;
            const WorkspaceEndpoint &kept = workspace.endpoints.at(i);
            const QString name = made.endpoint ? made.endpoint->nodeText : nodeText(kept.address, kept.port);
            if (!made.endpoint || !notStarted_.contains(made.endpoint))
                tellNotStarted(kept.kind, name);
            failed = true;
        }
        if (failed && !options_.keepGoing) {
            end(HeadlessEndpointFailed);
        }
    }

    void tellNotStarted(EndpointKind kind, const QString &name)
    {
        printForUser(
            QCoreApplication::translate("HeadlessRun", "端点未能启动：%1 %2").arg(kindLabel(kind), name));
    }

    // A timer may fire a little early (a coarse one by up to 5 %): the run
    // lasts at least as long as asked.
    void endAfter(QDeadlineTimer deadline)
    {
        QTimer::singleShot(
            std::chrono::milliseconds(deadline.remainingTime()), Qt::PreciseTimer, this, [this, deadline] {
                if (deadline.hasExpired())
                    end(HeadlessEnded);
                else
                    endAfter(deadline);
            });
    }

    // A client that could not connect is a line of its own, and, unless the
    // others are to run on, an endpoint that did not come up. Told from
    // inside its connection's handling (or the opening of the workspace):
    // the endpoints are removed once that has returned.
    void connectFailed(Endpoint *client, const QString &reason)
    {
        LogEntry entry;
        entry.time = QDateTime::currentMSecsSinceEpoch();
        entry.text = QCoreApplication::translate("HeadlessRun", " 连接失败：%1").arg(reason);
        writeEntry(entry, client->session, client->nodeText, QString());
        if (options_.keepGoing || ended_ || notStarted_.contains(client))
            return;
        notStarted_.insert(client);
        tellNotStarted(client->kind, client->nodeText);
        QMetaObject::invokeMethod(
            this, [this] { end(HeadlessEndpointFailed); }, Qt::QueuedConnection);
    }

    void writeEntry(const LogEntry &entry, const EndpointSession *session, const QString &endpointName,
        const QString &peerName)
    {
        const bool milliseconds = session && session->showsMilliseconds();
        HeadlessLine line;
        line.time = entry.time;
        line.endpoint = endpointName;
        line.peer = peerName;
        line.direction = directionOf(entry.kind);
        line.bytes = entry.data;
        if (options_.json) {
            line.line = entryLine(entry, milliseconds);
            writer_.writeLine(headlessJsonLine(line));
        } else if (auto head = bytesLineHead(entry, milliseconds)) {
            line.line = std::move(*head);
            writer_.writeLine(headlessTextLineEndingInBytes(line));
        } else {
            line.line = entryLine(entry, milliseconds);
            writer_.writeLine(headlessTextLine(line));
        }
    }

    // Writes the endpoint's log lines from now on. The record may be freed
    // before its session: the names are read only while it lives.
    void follow(Endpoint *endpoint, Endpoint *server)
    {
        EndpointSession *session = endpoint->session;
        if (!session)
            return;
        connect(session, &EndpointSession::entryLogged, this,
            [this, endpoint, server, session, alive = endpoint->lifetime(),
                serverAlive = server ? server->lifetime() : std::weak_ptr<const Endpoint>(),
                ownName = endpoint->nodeText,
                serverName = server ? server->nodeText : QString()](const LogEntry &entry) mutable {
                if (!alive.expired())
                    ownName = endpoint->nodeText;
                if (server && !serverAlive.expired())
                    serverName = server->nodeText;
                writeEntry(entry, session, server ? serverName : ownName, server ? ownName : QString());
            });
    }

    // Closes the endpoints through the controller, peers with their
    // servers, so that they log their last lines, and leaves the loop.
    void end(int status)
    {
        if (ended_)
            return;
        ended_ = true;
        controller_.endAllSending();
        std::vector<Endpoint *> owned;
        for (Endpoint *endpoint : controller_.endpoints())
            if (!endpoint->peerConnection())
                owned.push_back(endpoint);
        for (Endpoint *endpoint : owned)
            if (controller_.endpoints().contains(endpoint))
                controller_.remove(endpoint);
        app_.exit(status);
    }

    QCoreApplication &app_;
    const HeadlessOptions &options_;
    LineWriter &writer_;
    int signalPipe_[2] = {-1, -1};
    WorkspaceFileReader reader_;
    EndpointController controller_;
    // Told as not come up already: a failed connect and the opening of the
    // workspace may both find one.
    QSet<const Endpoint *> notStarted_;
    bool ended_ = false;
};

} // namespace

int runHeadless(QCoreApplication &app, const HeadlessOptions &options)
{
    LineWriter::DroppedNote droppedNote;
    if (options.json)
        droppedNote = [](qint64 lines) {
            HeadlessLine note;
            note.time = QDateTime::currentMSecsSinceEpoch();
            note.line = LineWriter::droppedText(lines);
            return headlessJsonLine(note);
        };
    LineWriter writer(STDOUT_FILENO, {}, std::move(droppedNote));
    const UserMessageSink previousSink
        = SetUserMessageSink({printForUser, [](const std::exception &e) { printForUser(failureText(e)); }});
    const ExceptionReporter previousReporter
        = SetExceptionReporter([](const std::exception &e) { printForUser(failureText(e)); });
    int status = HeadlessEnded;
    {
        HeadlessRun run(app, options, writer);
        if (!run.wakeOnSignals()) {
            printForUser(QStringLiteral("cannot catch SIGINT and SIGTERM: %1").arg(qt_error_string(errno)));
            status = HeadlessEndpointFailed;
        } else {
            run.start();
            status = app.exec();
        }
    }
    // The endpoints are gone and their last lines queued.
    (void)writer.finish();
    SetExceptionReporter(previousReporter);
    SetUserMessageSink(previousSink);
    return status;
}

bool catchEndingSignals()
{
    struct sigaction action = {};
    action.sa_handler = wakeOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    // A reader of standard output that went away ends the writing, not the
    // run.
    const bool caught = ::sigaction(SIGINT, &action, nullptr) == 0
        && ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
    if (!caught) {
        printForUser(QStringLiteral("cannot catch SIGINT and SIGTERM: %1").arg(qt_error_string(errno)));
        return false;
    }
    // A parent that started us with them blocked (some service managers
    // and shells do) would leave the run deaf to them; the threads made
    // later inherit this mask.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
    return true;
}
