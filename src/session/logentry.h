#pragma once
// One line of an endpoint's log as the engine keeps it: what happened, when,
// and the bytes, not yet made into text. Each view formats it the way it
// shows the log (the data window with the log texts of core/logtexts).

#include <QByteArray>
#include <QString>

#include <optional>

struct LogEntry {
    enum class Kind {
        Received, // bytes from the peer
        Sent, // typed bytes sent by the send button
        TimedSend, // typed bytes sent by timed sending
        Reply, // an automatic reply
        Status, // a fixed text after the time of the entry
        Line, // a whole line that carries its own time text
    };

    qint64 time = 0; // ms since the epoch
    Kind kind = Kind::Status;
    // The hex switch as it was when the entry was logged.
    bool hex = false;
    QByteArray data;
    // The repeat count as typed, for Sent and TimedSend.
    QString repeatCount;
    // The text of a Status or Line entry.
    QString text;
};

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
