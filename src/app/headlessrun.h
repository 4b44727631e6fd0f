#pragma once
// A workspace run without a window: its endpoints come up as the window
// would open them, and every log line of every endpoint and accepted peer
// goes to standard output as one line; messages for the user go to standard
// error. Creates no widget and needs no platform plugin: a QCoreApplication
// is enough.

struct HeadlessOptions;
class QCoreApplication;

// Exit statuses of a run.
enum HeadlessStatus : int {
    HeadlessEnded = 0, // ended by a signal or by its duration
    HeadlessEndpointFailed = 1, // an endpoint did not come up (without --keep-going)
    HeadlessBadWorkspace = 2, // the workspace could not be read
};

// Catches SIGINT and SIGTERM, ignores SIGPIPE, for the rest of the process,
// and unblocks the first two where they came blocked. Call first of all in a
// run without a window, before anything is opened: a signal from then on
// ends the run cleanly, even one that comes before its loop runs. False
// (and said on standard error) when they cannot be caught.
[[nodiscard]] bool catchEndingSignals();

// Runs until SIGINT, SIGTERM, the end of the duration or an endpoint that
// cannot start, and returns the exit status; after catchEndingSignals. Call
// once, on the application's thread, before its event loop runs.
[[nodiscard]] int runHeadless(QCoreApplication &app, const HeadlessOptions &options);
