#pragma once
// The program's command line: --help, --version, --lang and --serial-device,
// with their environment variables. Parsing prints nothing itself; the caller
// prints what it returns, so a test can run it without ending the process.

#include <QString>
#include <QStringList>

#include <optional>

struct StartOptions {
    QString language = QStringLiteral("zh"); // "zh" or "en"
    QString serialDevice; // what "com1" names; empty keeps /dev/ttyS0
};

struct CommandLineResult {
    // Set when the program goes on to open its window.
    std::optional<StartOptions> start;
    // Otherwise: what to print, where, and the exit status.
    QString output;
    bool toStandardError = false;
    int exitCode = 0;
};

// arguments as QCoreApplication::arguments() gives them (the program first);
// languageVariable and serialDeviceVariable are PORTWRIGHT_LANG and
// PORTWRIGHT_SERIAL_DEVICE (empty when unset). An option wins over its
// variable.
[[nodiscard]] CommandLineResult parseCommandLine(
    const QStringList &arguments, const QString &languageVariable, const QString &serialDeviceVariable);

// "com1" (in any case) names the device; every other name keeps its usual
// mapping. Nothing changes for an empty device.
void useSerialDevice(const QString &device);
