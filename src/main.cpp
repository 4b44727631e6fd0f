#include "app/commandline.h"
#include "app/headlessrun.h"
#include "app/language.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <vector>

namespace {

const char noDisplayText[]
    = "portwright: no graphical display: set DISPLAY or WAYLAND_DISPLAY, or use a desktop session, or run a "
      "workspace with --headless FILE\n";

// Whether the window system Qt will ask for has nowhere to connect to. A
// platform chosen by hand (offscreen, vnc, ...) needs no display.
bool displayMissing()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb"))
        && !platform.startsWith(QLatin1String("wayland")))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Started with standard input, output or error closed, the next descriptor
// opened would take its number: the event loop's wake-up descriptor, a
// socket or a device would then receive what is written as output.
void keepStandardDescriptorsOpen()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            (void)::open("/dev/null", O_RDWR); // the lowest free number: fd
}

QtMessageHandler qtHandler = nullptr;

// What Qt said while it looked for a window system, said once it found one.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> heldMessages;

// A display that is named but cannot be reached ends Qt's start with
// warnings of each plugin tried and a fatal message that speaks of
// reinstalling; say in one line what is wrong instead.
void startupMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        std::fputs(noDisplayText, stderr);
        std::_Exit(1);
    }
    heldMessages.push_back({type, QByteArray(context.category), message});
}

void releaseStartupMessages()
{
    qInstallMessageHandler(qtHandler);
    for (const HeldMessage &held : heldMessages)
        qtHandler(held.type,
            QMessageLogContext(
                nullptr, 0, nullptr, held.category.isEmpty() ? nullptr : held.category.constData()),
            held.text);
    heldMessages.clear();
}

} // namespace

int main(int argc, char *argv[])
{
    keepStandardDescriptorsOpen();
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
    // The run without a window asks for no window system at all: it works
    // where no display exists and no platform plugin is installed.
    if (command.start->headless) {
        if (!catchEndingSignals())
            return 1;
        QCoreApplication app(argc, argv);
        // No font is drawn, so Chinese needs no glyphs here.
        if (!useLanguage(app, command.start->language))
            std::fputs(
                "portwright: the English catalogue could not be loaded; the messages stay Chinese\n", stderr);
        useSerialDevice(command.start->serialDevice);
        return runHeadless(app, *command.start->headless);
    }
    if (displayMissing()) {
        std::fputs(noDisplayText, stderr);
        return 1;
    }
    qtHandler = qInstallMessageHandler(startupMessage);
    QApplication app(argc, argv);
    releaseStartupMessages();
    QString why;
    const QString language = usableLanguage(command.start->language, &why);
    if (!why.isEmpty())
        std::fputs(QStringLiteral("portwright: %1\n").arg(why).toLocal8Bit().constData(), stderr);
    if (!useLanguage(app, language))
        std::fputs(
            "portwright: the English catalogue could not be loaded; the interface stays Chinese\n", stderr);
    useSerialDevice(command.start->serialDevice);
    return RunPortwright(app, command.start->workspace);
}
