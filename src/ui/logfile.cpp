// LogView, continued: saving the log to a file and asking for the file to
// record it to.

#include "ui/logview.h"

#include "core/errors.h"
#include "core/regularfile.h"
#include "ui/messages.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// The folder of the last file chosen, for the next suggestion; shared by
// every window, as the user's working folder is.
QString &lastFolder()
{
    static QString folder;
    return folder;
}

bool isUnsafeInFileName(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control || QStringView(u"/\\:*?\"<>|").contains(c);
}

} // namespace

void LogView::setFileNameBase(const QString &base)
{
    QString safe = base;
    for (QChar &c : safe) {
        if (isUnsafeInFileName(c))
            c = QLatin1Char('_');
    }
    fileNameBase_ = safe.isEmpty() ? QStringLiteral("portwright") : safe;
}

QString LogView::suggestedFilePath() const
{
    const QString folder = lastFolder().isEmpty() ? QDir::homePath() : lastFolder();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    return QDir(folder).filePath(fileNameBase_ + QLatin1Char('_') + stamp + QStringLiteral(".log"));
}

void LogView::setRecordingShown(bool recording)
{
    recordingShown_ = recording;
}

void LogView::saveLog()
{
    // A peer that leaves while the dialog is open takes the view with it,
    // and then nothing is written.
    AskFileNameThen(
        FileDialogKind::Save, tr("保存日志"), suggestedFilePath(), this, [this](const QString &path) {
            lastFolder() = QFileInfo(path).absolutePath();
            const QString error = writeLogFile(path);
            if (!error.isEmpty())
                ShowMessage(tr("保存日志失败：") + path + tr("：") + error);
        });
}

QString LogView::writeLogFile(const QString &path) const
{
    // The save puts a file of its own in the old one's place: a named pipe
    // or a device node there would be replaced, not written to.
    QString refused;
    if (!mayReplaceWithRegularFile(path, &refused))
        return refused;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Entry by entry: the whole log as one text would be several times the
    // bytes the log keeps.
    QByteArray bytes;
    for (size_t i = 0; i < entries_.size(); ++i) {
        bytes = makeLine(i).toUtf8();
        bytes += '\n';
        if (file.write(bytes) != bytes.size())
            break; // the commit tells why
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

void LogView::askToRecord()
{
    AskFileNameThen(
        FileDialogKind::Record, tr("记录到文件"), suggestedFilePath(), this, [this](const QString &path) {
            lastFolder() = QFileInfo(path).absolutePath();
            emit recordingRequested(path);
        });
}
