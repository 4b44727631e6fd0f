#pragma once
// What the engine tells the user: a message with one OK button, or a
// failure as the application's standard error box shows it. The engine does
// not know how that is shown; the window installs its message boxes as the
// sink, a run without a window its own. Code that holds no controller (a
// group send, say) tells through these. UI thread only.

#include <QString>

#include <exception>
#include <functional>

struct UserMessageSink {
    std::function<void(const QString &)> message;
    std::function<void(const std::exception &)> failure;
};

// Installs the sink and returns the previous one. With no sink installed the
// texts go to the warning log, so nothing the user was meant to read is lost.
UserMessageSink SetUserMessageSink(UserMessageSink sink);

void TellUser(const QString &text);
void TellUserFailure(const std::exception &e);
