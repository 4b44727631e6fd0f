#pragma once
// Log entries for tests that give a log view or a log feed lines of text:
// each entry carries its line whole, as the data window's own lines do.

#include "core/logentry.h"

#include <QStringList>

#include <vector>

inline LogEntry lineEntry(const QString &line)
{
    LogEntry entry;
    entry.kind = LogEntry::Kind::Line;
    entry.text = line;
    return entry;
}

inline std::vector<LogEntry> lineEntries(const QStringList &lines)
{
    std::vector<LogEntry> entries;
    entries.reserve(size_t(lines.size()));
    for (const QString &line : lines)
        entries.push_back(lineEntry(line));
    return entries;
}
