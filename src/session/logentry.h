#pragma once
// The line of a log entry (core/logentry) as the data window shows it.

#include "core/logentry.h"

#include <QString>

#include <optional>

// The entry as a data window shows it in its log, time text first (with the
// milliseconds when asked). A run without a window writes the same text, so
// that a line reads alike in both. UI thread only: the time text of the
// current second is kept between calls.
[[nodiscard]] QString entryLine(const LogEntry &entry, bool milliseconds);

// For received bytes or a reply logged as text that the log shows as they
// are (ASCII without a CR, which it makes a line break, and without a zero
// byte, which it shows as a picture; a reply no longer than the log shows
// whole): entryLine's text before them, so that the line is this text
// followed by the bytes. nullopt for any other entry. Lets a view that
// writes bytes (a run without a window) skip decoding megabytes into a
// string only to encode them again. UI thread only, as entryLine.
[[nodiscard]] std::optional<QString> bytesLineHead(const LogEntry &entry, bool milliseconds);
