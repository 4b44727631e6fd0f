#pragma once
// The line of a log entry (core/logentry) as the data window shows it.

#include "core/logentry.h"

#include <QString>

// The entry as a data window shows it in its log, time text first (with the
// milliseconds when asked). A run without a window writes the same text, so
// that a line reads alike in both. UI thread only: the time text of the
// current second is kept between calls.
[[nodiscard]] QString entryLine(const LogEntry &entry, bool milliseconds);
