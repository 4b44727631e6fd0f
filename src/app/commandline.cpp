#include "app/commandline.h"

#include "net/serial/serialport.h"

#include <QCommandLineParser>

#include <cmath>

namespace {

const QString version = QStringLiteral("Portwright 2.5");

// The help text names the program as it is installed: Qt takes the name from
// the application object, which the answers before a window do not have, and
// then writes "<executable_name>".
QString helpText(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    const QString head = QStringLiteral("Usage: ");
    const qsizetype nameEnd = text.indexOf(QLatin1Char(' '), head.size());
    if (text.startsWith(head) && nameEnd > 0)
        text.replace(head.size(), nameEnd - head.size(), QStringLiteral("portwright"));
    return text;
}

bool isLanguage(const QString &value)
{
    return value == QLatin1String("zh") || value == QLatin1String("en");
}

// Seconds as plain digits with an optional fraction ("30", "0.5", ".25");
// signs, exponents, "inf" and "nan" are mistakes here, not numbers. Nothing
// for a value that is none, below a millisecond or past LongestDuration.
std::optional<std::chrono::milliseconds> durationFrom(const QString &value)
{
    int digits = 0;
    int points = 0;
    for (const QChar c : value) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
        else if (c == QLatin1Char('.'))
            ++points;
        else
            return std::nullopt;
    }
    if (digits == 0 || points > 1)
        return std::nullopt;
    const double milliseconds = std::round(value.toDouble() * 1000.0);
    if (milliseconds < 1.0 || milliseconds > double(LongestDuration.count()))
        return std::nullopt;
    return std::chrono::milliseconds(qint64(milliseconds));
}

} // namespace

CommandLineResult parseCommandLine(
    const QStringList &arguments, const QString &languageVariable, const QString &serialDeviceVariable)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Portwright: TCP, UDP and serial port test tool"));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption showVersion(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption language(QStringLiteral("lang"),
        QStringLiteral("Interface language: zh (default) or en; also PORTWRIGHT_LANG."),
        QStringLiteral("zh|en"));
    const QCommandLineOption serialDevice(QStringLiteral("serial-device"),
        QStringLiteral("The device the UDP Server's serial port \"com1\" opens (default /dev/ttyS0); also "
                       "PORTWRIGHT_SERIAL_DEVICE."),
        QStringLiteral("PATH"));
    const QCommandLineOption headless(QStringLiteral("headless"),
        QStringLiteral("Run the workspace's endpoints without a window, logging to standard output, until "
                       "SIGINT or SIGTERM."),
        QStringLiteral("WORKSPACE"));
    const QCommandLineOption json(
        QStringLiteral("json"), QStringLiteral("With --headless: log JSON Lines instead of text lines."));
    const QCommandLineOption duration(QStringLiteral("duration"),
        QStringLiteral("With --headless: end the run after this many seconds (fractions allowed, at most "
                       "24 days)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption keepGoing(QStringLiteral("keep-going"),
        QStringLiteral("With --headless: an endpoint that cannot start does not end the run."));
    parser.addOptions({help, showVersion, language, serialDevice, headless, json, duration, keepGoing});
    parser.addPositionalArgument(QStringLiteral("FILE"),
        QStringLiteral("A workspace to open in the window at start."), QStringLiteral("[FILE]"));

    CommandLineResult result;
    // One line, as a mistake in a script's command line is best read in
    // its log; --help shows the usage.
    const auto refuse = [&](const QString &why) {
        result.output = QStringLiteral("portwright: ") + why + QLatin1Char('\n');
        result.toStandardError = true;
        result.exitCode = 2;
        return result;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return refuse(QStringLiteral("Unexpected argument: ") + files.at(1));
    if (parser.isSet(help)) {
        result.output = helpText(parser);
        return result;
    }
    if (parser.isSet(showVersion)) {
        result.output = version + QLatin1Char('\n');
        return result;
    }
    StartOptions start;
    const QString chosenLanguage = parser.isSet(language) ? parser.value(language) : languageVariable;
    if (!chosenLanguage.isEmpty()) {
        if (!isLanguage(chosenLanguage))
            return refuse(QStringLiteral("Unknown language: %1 (zh or en)").arg(chosenLanguage));
        start.language = chosenLanguage;
    }
    // An empty variable means "not set"; an empty option is a mistake that
    // would otherwise open the default device unasked.
    if (parser.isSet(serialDevice) && parser.value(serialDevice).isEmpty())
        return refuse(QStringLiteral("--serial-device needs a device path"));
    start.serialDevice = parser.isSet(serialDevice) ? parser.value(serialDevice) : serialDeviceVariable;

    if (!parser.isSet(headless)) {
        // Said rather than ignored: a run meant to end by itself would
        // otherwise open a window that never does.
        for (const QCommandLineOption *only : {&json, &duration, &keepGoing}) {
            if (parser.isSet(*only))
                return refuse(QStringLiteral("--%1 needs --headless").arg(only->names().constFirst()));
        }
        if (!files.isEmpty() && files.constFirst().isEmpty())
            return refuse(QStringLiteral("FILE needs a workspace file"));
        start.workspace = files.value(0);
        result.start = start;
        return result;
    }
    if (!files.isEmpty())
        return refuse(QStringLiteral("--headless takes its workspace as its value; a FILE besides it is "
                                     "for the window: ")
            + files.constFirst());
    HeadlessOptions run;
    run.workspace = parser.value(headless);
    if (run.workspace.isEmpty())
        return refuse(QStringLiteral("--headless needs a workspace file"));
    run.json = parser.isSet(json);
    run.keepGoing = parser.isSet(keepGoing);
    if (parser.isSet(duration)) {
        run.duration = durationFrom(parser.value(duration));
        if (!run.duration)
            return refuse(QStringLiteral("--duration takes seconds, from 0.001 to %1: %2")
                              .arg(LongestDuration.count() / 1000)
                              .arg(parser.value(duration)));
    }
    start.headless = run;
    result.start = start;
    return result;
}

void useSerialDevice(const QString &device)
{
    if (device.isEmpty())
        return;
    SerialPort::setDevicePathResolver([device](const QString &name) {
        return name.compare(QLatin1String("com1"), Qt::CaseInsensitive) == 0
            ? device
            : SerialPort::defaultDevicePath(name);
    });
}
