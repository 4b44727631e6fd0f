#include "core/regularfile.h"

#include "core/filecalls.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QString systemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Looks at the node before opening it, so that a pipe or a device is never
// opened at all (opening a terminal can already change its modem lines), and
// again at what was opened, in case the path changed in between.
int openRegular(const QString &path, int flags, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info { };
    if (::stat(name.constData(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            setError(error, notRegularFileText());
            return -1;
        }
    } else if (errno != ENOENT || !(flags & O_CREAT)) {
        setError(error, systemErrorText(errno));
        return -1;
    }
    int fd = -1;
    do {
        fd = ::open(name.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setError(error, systemErrorText(errno));
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        setError(error, notRegularFileText());
        return -1;
    }
    return fd;
}

} // namespace

QString notRegularFileText()
{
    return QCoreApplication::translate("RegularFile", "不是普通文件");
}

int openRegularFileForReading(const QString &path, QString *error)
{
    return openRegular(path, O_RDONLY, error);
}

int openRegularFileForAppending(const QString &path, QString *error)
{
    return openRegular(path, O_WRONLY | O_CREAT | O_APPEND, error);
}

bool mayReplaceWithRegularFile(const QString &path, QString *error)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return true; // nothing there yet, or the save itself will say why not
    if (S_ISREG(info.st_mode))
        return true;
    setError(error, notRegularFileText());
    return false;
}

QString fileTooLargeText(qint64 maxBytes)
{
    return QCoreApplication::translate("RegularFile", "文件过大（上限 %1 字节）").arg(maxBytes);
}

std::optional<QByteArray> readToEnd(int fd, qint64 maxBytes, int *errorCode)
{
    QByteArray content;
    constexpr qint64 Piece = 64 * 1024;
    for (;;) {
        // One byte past the limit tells a file that is too large.
        const qint64 want = std::min(Piece, maxBytes + 1 - content.size());
        const qsizetype at = content.size();
        content.resize(at + want);
        const ssize_t got = readFromFile(fd, content.data() + at, size_t(want));
        if (got < 0 && errno == EINTR) {
            content.resize(at);
            continue;
        }
        if (got < 0) {
            *errorCode = errno;
            return std::nullopt;
        }
        content.resize(at + got);
        if (got == 0)
            return content;
        if (content.size() > maxBytes) {
            *errorCode = EFBIG;
            return std::nullopt;
        }
    }
}

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *error)
{
    const int fd = openRegularFileForReading(path, error);
    if (fd < 0)
        return std::nullopt;
    int code = 0;
    std::optional<QByteArray> content = readToEnd(fd, maxBytes, &code);
    ::close(fd);
    if (!content)
        setError(error, code == EFBIG ? fileTooLargeText(maxBytes) : systemErrorText(code));
    return content;
}
