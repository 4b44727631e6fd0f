#include "app/commandline.h"

#include "net/serial/serialport.h"

#include <QCommandLineParser>

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

} // namespace

CommandLineResult parseCommandLine(
    const QStringList &arguments, const QString &languageVariable, const QString &serialDeviceVariable)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Portwright: TCP/UDP test tool"));
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
    parser.addOptions({help, showVersion, language, serialDevice});

    CommandLineResult result;
    const auto refuse = [&](const QString &why) {
        result.output = why + QLatin1Char('\n') + helpText(parser);
        result.toStandardError = true;
        result.exitCode = 2;
        return result;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("Unexpected argument: ") + parser.positionalArguments().first());
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
