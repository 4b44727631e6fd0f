#pragma once
// One line of an endpoint's log as the engine keeps it: what happened, when,
// and the bytes, not yet made into text. Each view formats it the way it
// shows the log (the data window with the log texts of core/logtexts, through
// entryLine of session/logentry). Here, below the views and the engine alike,
// so that a log view can keep entries rather than their text. A plain value.

#include <QByteArray>
#include <QString>

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
    // Whether the time text shows milliseconds: the log's switch as it was
    // when a view took the entry in (the engine leaves it off).
    bool milliseconds = false;
};
