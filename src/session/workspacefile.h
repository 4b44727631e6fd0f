#pragma once
// Workspace files opened and saved.
//
// Opening never waits on the file in the caller's thread: the path is
// checked to name a regular file without waiting on the node (a pipe, a
// device or a directory is refused), a file larger than
// MaxWorkspaceFileBytes is refused by its size before anything is read, and
// the read and the check of the content happen on a thread of the reader's
// own. The outcome comes back to the caller's thread from its event loop.
//
// Ownership and threading: owned by whoever opens a workspace (the main
// window, the headless runner); every method is called on the thread it
// lives on. The thread shares with the reader only whether the reader still
// listens. Destroying the reader never waits for a read that hangs (the
// thread is left behind and ends when the read comes back, closing the
// file); it cancels a check of content already read and waits for it to
// end, which it does at its next endpoint or rule (a few milliseconds), so
// that no text is made once the reader is gone and the application may be
// ending. A new opening cancels the check of the one it replaces.

#include "session/workspace.h"

#include <QObject>
#include <QString>

#include <memory>

// 1,000 endpoints with their rules fit in far less.
constexpr qint64 MaxWorkspaceFileBytes = 16 * 1024 * 1024;

class WorkspaceFileReader : public QObject {
    Q_OBJECT

public:
    explicit WorkspaceFileReader(QObject *parent = nullptr);
    ~WorkspaceFileReader() override;
    WorkspaceFileReader(const WorkspaceFileReader &) = delete;
    WorkspaceFileReader &operator=(const WorkspaceFileReader &) = delete;

    // Starts opening the file and returns at once; loaded() or failed()
    // follows from the event loop, once. An opening still under way is
    // given up: its outcome is never told.
    void open(const QString &path);

signals:
    // Emitted on the reader's thread (connect directly or with a context
    // object of that thread).
    void loaded(const Workspace &workspace);
    // "无法打开工作区文件“<path>”：<why>", why being the system's text,
    // "不是普通文件", the size limit, or the content's first problem.
    void failed(const QString &message);

private:
    struct Shared;
    struct Outcome;

    static void readAndCheck(const std::shared_ptr<Shared> &shared, int fd, const QString &path);
    static void deliver(const std::shared_ptr<Shared> &shared, Outcome outcome);
    void stop();

    std::shared_ptr<Shared> shared_;
};

// Writes the workspace over a regular file or to a new one, whole or not at
// all (a failed save leaves the old file as it was); false with *error
// ("无法保存工作区文件“<path>”：<why>") otherwise. A workspace that could
// not be opened again as it is (see workspaceProblem) is not written.
[[nodiscard]] bool saveWorkspaceFile(const QString &path, const Workspace &workspace, QString *error);
