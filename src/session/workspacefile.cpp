#include "session/workspacefile.h"

#include "core/regularfile.h"

#include <QCoreApplication>
#include <QSaveFile>

#include <atomic>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString openFailedText(const QString &path, const QString &why)
{
    return QCoreApplication::translate("Workspace", "无法打开工作区文件“%1”：%2").arg(path, why);
}

} // namespace

struct WorkspaceFileReader::Shared {
    std::mutex mutex;
    std::condition_variable checked; // a check of content under way ended
    // Told of the outcome; nullptr once the reader stopped listening.
    WorkspaceFileReader *owner = nullptr;
    bool checking = false;
    // Set with owner going: the check ends at its next endpoint or rule.
    std::atomic<bool> cancelled{false};
};

struct WorkspaceFileReader::Outcome {
    std::optional<Workspace> workspace;
    QString message; // when there is none
};

WorkspaceFileReader::WorkspaceFileReader(QObject *parent)
    : QObject(parent)
{
}

WorkspaceFileReader::~WorkspaceFileReader()
{
    if (shared_) {
        std::unique_lock lock(shared_->mutex);
        shared_->owner = nullptr;
        shared_->cancelled = true;
        shared_->checked.wait(lock, [this] { return !shared_->checking; });
    }
}

void WorkspaceFileReader::open(const QString &path)
{
    stop();
    shared_ = std::make_shared<Shared>();
    shared_->owner = this;
    QString error;
    int fd = openRegularFileForReading(path, &error);
    struct stat info = {};
    if (fd >= 0 && ::fstat(fd, &info) != 0)
        error = systemErrorText(errno);
    else if (fd >= 0 && info.st_size > MaxWorkspaceFileBytes)
        error = fileTooLargeText(MaxWorkspaceFileBytes);
    if (fd >= 0 && !error.isEmpty()) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        deliver(shared_, Outcome{std::nullopt, openFailedText(path, error)});
        return;
    }
    std::thread([shared = shared_, fd, path] { readAndCheck(shared, fd, path); }).detach();
}

void WorkspaceFileReader::stop()
{
    if (!shared_)
        return;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->owner = nullptr;
        shared_->cancelled = true;
    }
    shared_.reset();
}

void WorkspaceFileReader::readAndCheck(const std::shared_ptr<Shared> &shared, int fd, const QString &path)
{
    // Read again to the end under the limit: the file may have grown since
    // its size was looked at, and a file of /proc says 0.
    int code = 0;
    const std::optional<QByteArray> bytes = readToEnd(fd, MaxWorkspaceFileBytes, &code);
    ::close(fd);
    {
        const std::lock_guard lock(shared->mutex);
        if (!shared->owner)
            return;
        shared->checking = true;
    }
    Outcome outcome;
    if (!bytes) {
        outcome.message = openFailedText(
            path, code == EFBIG ? fileTooLargeText(MaxWorkspaceFileBytes) : systemErrorText(code));
    } else {
        QString problem;
        outcome.workspace = parseWorkspace(*bytes, &problem, &shared->cancelled);
        if (!outcome.workspace)
            outcome.message = openFailedText(path, problem);
    }
    {
        const std::lock_guard lock(shared->mutex);
        shared->checking = false;
    }
    shared->checked.notify_all();
    deliver(shared, std::move(outcome));
}

void WorkspaceFileReader::deliver(const std::shared_ptr<Shared> &shared, Outcome outcome)
{
    // Queued while the reader is known to be there; the call is dropped
    // with the reader if that goes first, and ignored by a reader that has
    // started another opening since.
    const std::lock_guard lock(shared->mutex);
    WorkspaceFileReader *to = shared->owner;
    if (!to)
        return;
    QMetaObject::invokeMethod(
        to,
        [to, shared, outcome = std::move(outcome)] {
            if (to->shared_ != shared)
                return;
            to->shared_.reset();
            if (outcome.workspace)
                emit to->loaded(*outcome.workspace);
            else
                emit to->failed(outcome.message);
        },
        Qt::QueuedConnection);
}

bool saveWorkspaceFile(const QString &path, const Workspace &workspace, QString *error)
{
    // Written on the caller's thread: the content is small and built in
    // memory, the path is checked not to be a pipe or a device first, and
    // QSaveFile writes a new file beside it and renames it into place, so
    // nothing waits on a node that blocks.
    QString problem = workspaceProblem(workspace);
    QByteArray bytes;
    if (problem.isEmpty()) {
        bytes = writeWorkspace(workspace);
        if (bytes.size() > MaxWorkspaceFileBytes)
            problem = fileTooLargeText(MaxWorkspaceFileBytes);
    }
    if (problem.isEmpty() && mayReplaceWithRegularFile(path, &problem)) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            problem = file.errorString();
    }
    if (problem.isEmpty())
        return true;
    if (error)
        *error = QCoreApplication::translate("Workspace", "无法保存工作区文件“%1”：%2").arg(path, problem);
    return false;
}
