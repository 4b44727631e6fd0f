#pragma once
// What an endpoint's window holds that belongs to the setup rather than to
// the traffic: kept by the endpoint's session, shown and edited by its
// window, and saved in workspaces. The texts stay as typed: a count or an
// interval is read when it is used, as the window reads its boxes.

#include <QString>

struct SessionSetup {
    QString sendText;
    bool hexMode = false;
    QString repeatCount = QStringLiteral("1");
    QString interval = QStringLiteral("1000");
    // The log's time texts carry milliseconds.
    bool milliseconds = false;
    bool autoReply = false;
    bool timedSending = false;

    bool operator==(const SessionSetup &) const = default;
};
