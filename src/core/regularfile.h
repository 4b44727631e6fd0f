#pragma once
// Files the user names (to record into, to send, to import rules from, to
// save a log or rules over) must be regular files. A named pipe, a device or
// a socket would make open() wait for the other end, a read never end, or a
// save replace the node with a file of its own; none of that may happen on
// the UI thread, so such paths are refused before anything waits on them.
// Free functions, callable from any thread.

#include <QByteArray>
#include <QString>

#include <optional>

// "不是普通文件", in the interface's language.
[[nodiscard]] QString notRegularFileText();

// Opens an existing regular file for reading; never waits on the node.
// -1 with *error set (the system's text, or notRegularFileText()) otherwise.
[[nodiscard]] int openRegularFileForReading(const QString &path, QString *error);

// Opens a regular file for appending, creating it when it does not exist;
// never waits on the node. -1 with *error set otherwise.
[[nodiscard]] int openRegularFileForAppending(const QString &path, QString *error);

// True when the path names a regular file or nothing yet, so that a save
// may put a file there; false with *error set otherwise.
[[nodiscard]] bool mayReplaceWithRegularFile(const QString &path, QString *error);

// "文件过大（上限 maxBytes 字节）", in the interface's language.
[[nodiscard]] QString fileTooLargeText(qint64 maxBytes);

// What is left of an open file from where it stands, at most maxBytes;
// nullopt with *errorCode set to the system's error, or to EFBIG when there
// is more. Reads to the end whatever size the file claims. Makes no text, so
// that a thread may call it while the application ends.
[[nodiscard]] std::optional<QByteArray> readToEnd(int fd, qint64 maxBytes, int *errorCode);

// The whole content of a regular file of at most maxBytes; nullopt with
// *error set when it is not one, cannot be read or is larger. Reads to the
// end whatever size the file claims (a file of /proc says 0).
[[nodiscard]] std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *error);
