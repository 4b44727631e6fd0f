#pragma once
// What an endpoint's status strip shows: its state word, when it was made,
// its peer (or group) address and port, a free line, its local port, and the
// captions, visibility and enabled state of the start and stop buttons. The
// engine computes it; a view shows it. A plain value.

#include <QString>

#include <optional>

struct StatusContent {
    // An empty optional leaves that part as it is.
    std::optional<QString> state;
    QString created, peerAddress, peerPort, spare, localPort;
    std::optional<QString> startCaption, stopCaption;
    bool startVisible = false;
    bool stopVisible = false;
    // Running enables stop and disables start; stopped the other way.
    std::optional<bool> running;
    bool operator==(const StatusContent &) const = default;
    // Takes in what showing `newer` after this would leave on the strip.
    void takeIn(const StatusContent &newer);
};
