#pragma once
// The program's command line: --help, --version, --lang and --serial-device,
// with their environment variables; a workspace FILE to open in the window,
// or --headless WORKSPACE with --json, --duration and --keep-going to run one
// without a window. Parsing prints nothing itself; the caller prints what it
// returns, so a test can run it without ending the process.

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// A workspace run without a window.
struct HeadlessOptions {
    QString workspace; // the file to run
    bool json = false; // JSON Lines on standard output instead of text lines
    // The run ends by itself after this long; unset runs until a signal.
    std::optional<std::chrono::milliseconds> duration;
    bool keepGoing = false; // an endpoint that cannot start does not end the run
};

struct StartOptions {
    QString language = QStringLiteral("zh"); // "zh" or "en"
    QString serialDevice; // what "com1" names; empty keeps /dev/ttyS0
    QString workspace; // opened in the window at start; empty opens none
    std::optional<HeadlessOptions> headless; // set: no window at all
};

struct CommandLineResult {
    // Set when the program goes on to open its window or run headless.
    std::optional<StartOptions> start;
    // Otherwise: what to print, where, and the exit status.
    QString output;
    bool toStandardError = false;
    int exitCode = 0;
};

// The longest --duration: a run of more than a few weeks is a run without
// one, and a timer counts at most about 24.8 days in milliseconds.
constexpr std::chrono::milliseconds LongestDuration = std::chrono::hours(24 * 24);

// arguments as QCoreApplication::arguments() gives them (the program first);
// languageVariable and serialDeviceVariable are PORTWRIGHT_LANG and
// PORTWRIGHT_SERIAL_DEVICE (empty when unset). An option wins over its
// variable.
[[nodiscard]] CommandLineResult parseCommandLine(
    const QStringList &arguments, const QString &languageVariable, const QString &serialDeviceVariable);

// "com1" (in any case) names the device; every other name keeps its usual
// mapping. Nothing changes for an empty device.
void useSerialDevice(const QString &device);
