#include "app/commandline.h"
#include "app/language.h"
#include "app/mainwindow.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Answered before any window system is asked for: --help and --version
    // work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineResult command = parseCommandLine(
        arguments, qEnvironmentVariable("PORTWRIGHT_LANG"), qEnvironmentVariable("PORTWRIGHT_SERIAL_DEVICE"));
    if (!command.start) {
        std::fputs(command.output.toLocal8Bit().constData(), command.toStandardError ? stderr : stdout);
        return command.exitCode;
    }
    QApplication app(argc, argv);
    if (!useLanguage(app, command.start->language))
        std::fputs(
            "portwright: the English catalogue could not be loaded; the interface stays Chinese\n", stderr);
    useSerialDevice(command.start->serialDevice);
    return RunPortwright(app);
}
