#include "app/headlessrun.h"

#include "app/commandline.h"
#include "core/errors.h"
#include "core/linewriter.h"
#include "core/usermessages.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/workspacesetup.h"
#include "session/endpointsession.h"
#include "session/headlesslines.h"
#include "session/logentry.h"
#include "session/workspacefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

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
// a handler may do nothing more than write(2).
int signalPipeWrite = -1;

void wakeOnSignal(int)
{
    const int saved = errno;
    if (signalPipeWrite >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up: the byte is not needed.
        (void)!write(signalPipeWrite, &byte, 1);
    }
    errno = saved;
}

void printForUser(const QString &text)
{
    std::fputs(QStringLiteral("portwright: %1\n").arg(text).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
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

    // False when the signals cannot be caught; the run would not end
    // cleanly.
    bool catchSignals()
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
        struct sigaction action = {};
        action.sa_handler = wakeOnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        // A reader of standard output that went away ends the writing, not
        // the run.
        return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0
            && ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
    }

    void start()
    {
        connect(&controller_, &EndpointController::messageForUser, this, printForUser);
        connect(
            &controller_, &EndpointController::failureForUser, this, [](const std::exception_ptr &failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception &e) {
                    printForUser(ExceptionMessage(e));
                }
            });
        connect(&controller_, &EndpointController::endpointAdded, this, &HeadlessRun::follow);
        connect(&reader_, &WorkspaceFileReader::failed, this, [this](const QString &message) {
            printForUser(message);
            end(HeadlessBadWorkspace);
        });
        connect(&reader_, &WorkspaceFileReader::loaded, this, &HeadlessRun::open);
        reader_.open(options_.workspace);
        // Counted from the start: a workspace that is slow to read does not
        // stretch the run.
        if (options_.duration)
            QTimer::singleShot(*options_.duration, this, [this] { end(HeadlessEnded); });
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
            printForUser(QCoreApplication::translate("HeadlessRun", "端点未能启动：%1 %2")
                             .arg(kindLabel(kept.kind), name));
            failed = true;
        }
        if (failed && !options_.keepGoing) {
            end(HeadlessEndpointFailed);
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
                HeadlessLine line;
                line.time = entry.time;
                line.endpoint = server ? serverName : ownName;
                line.peer = server ? ownName : QString();
                line.direction = directionOf(entry.kind);
                line.bytes = entry.data;
                if (options_.json) {
                    line.line = entryLine(entry, session->showsMilliseconds());
                    writer_.writeLine(headlessJsonLine(line));
                } else if (auto head = bytesLineHead(entry, session->showsMilliseconds())) {
                    line.line = std::move(*head);
                    writer_.writeLine(headlessTextLineEndingInBytes(line));
                } else {
                    line.line = entryLine(entry, session->showsMilliseconds());
                    writer_.writeLine(headlessTextLine(line));
                }
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
    const UserMessageSink previousSink = SetUserMessageSink(
        {printForUser, [](const std::exception &e) { printForUser(ExceptionMessage(e)); }});
    const ExceptionReporter previousReporter
        = SetExceptionReporter([](const std::exception &e) { printForUser(ExceptionMessage(e)); });
    int status = HeadlessEnded;
    {
        HeadlessRun run(app, options, writer);
        if (!run.catchSignals()) {
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
