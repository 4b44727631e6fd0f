#pragma once
// The lines a run without a window writes to standard output, one per log
// line: a text line for people and the journal, or one JSON object for
// programs (JSON Lines). Either is a single line whatever the bytes hold, so
// that a reader can split the stream at line breaks. Pure functions, Qt Core
// only, callable from any thread.

#include <QByteArray>
#include <QString>

enum class LineDirection { Received, Sent, Reply, Note };

// The fields of one log line.
struct HeadlessLine {
    qint64 time = 0; // milliseconds since the epoch
    QString endpoint; // the endpoint's node text, e.g. "127.0.0.1[5000]"
    QString peer; // the accepted peer's node text, or empty
    LineDirection direction = LineDirection::Note;
    QByteArray bytes; // what was received or sent; empty for a note
    QString line; // the line as the window shows it
};

// "received", "sent", "reply" or "note".
[[nodiscard]] QString directionName(LineDirection direction);

// The time in ISO 8601 with milliseconds and the local offset, the endpoint,
// the peer if any, then the window's line, separated by blanks. Control
// characters (line breaks among them) are shown as their Unicode pictures
// (LF as U+240A), so that the line stays one line. UTF-8, without a line
// break at the end.
[[nodiscard]] QByteArray headlessTextLine(const HeadlessLine &line);
// The same for a line that ends in its bytes as they are: line.line holds
// only the text before them (bytesLineHead). The bytes must read alike in
// UTF-8 and as the window decodes them: ASCII.
[[nodiscard]] QByteArray headlessTextLineEndingInBytes(const HeadlessLine &line);

// {"time":...,"endpoint":...,"peer":...,"direction":...,"text":...,"hex":...,
// "line":...} in this order: "peer" is null for no peer, "text" the bytes
// decoded as UTF-8 (what is not UTF-8 becomes U+FFFD), "hex" the bytes as
// "41 42". UTF-8, without a line break at the end.
[[nodiscard]] QByteArray headlessJsonLine(const HeadlessLine &line);
