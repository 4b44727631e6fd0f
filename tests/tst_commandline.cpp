// The command line: what each option does, what is refused with status 2,
// and the real program answering without a display.
#include "app/commandline.h"
#include "net/serial/serialport.h"

#include <QProcess>
#include <QtTest>

class TstCommandLine : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutStarting_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("toStandardError");
        QTest::addColumn<QString>("contains");
        QTest::newRow("version") << QStringList{"--version"} << 0 << false << "Portwright 2.5\n";
        QTest::newRow("help") << QStringList{"--help"} << 0 << false << "--serial-device <PATH>";
        QTest::newRow("usage names the program")
            << QStringList{"--help"} << 0 << false << "Usage: portwright [options] [FILE]\n";
        QTest::newRow("short help") << QStringList{"-h"} << 0 << false << "--lang <zh|en>";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << true << "Unknown option 'bogus'";
        QTest::newRow("a refusal names the program")
            << QStringList{"--bogus"} << 2 << true << "portwright: Unknown option 'bogus'.\n";
        QTest::newRow("help names every kind")
            << QStringList{"--help"} << 0 << false << "TCP, UDP and serial port";
        QTest::newRow("a second file")
            << QStringList{"rack.portwright", "file.txt"} << 2 << true << "Unexpected argument: file.txt";
        QTest::newRow("help names the workspace options")
            << QStringList{"--help"} << 0 << false << "--headless <WORKSPACE>";
        QTest::newRow("help names the run's length")
            << QStringList{"--help"} << 0 << false << "--duration <SECONDS>";
        QTest::newRow("help names the file") << QStringList{"--help"} << 0 << false << "[options] [FILE]";
        QTest::newRow("json without headless")
            << QStringList{"--json"} << 2 << true << "--json needs --headless";
        QTest::newRow("duration without headless")
            << QStringList{"--duration", "5"} << 2 << true << "--duration needs --headless";
        QTest::newRow("keep going without headless, with a file")
            << QStringList{"--keep-going", "a.portwright"} << 2 << true << "--keep-going needs --headless";
        QTest::newRow("headless and a file") << QStringList{"--headless", "a.json", "b.json"} << 2 << true
                                             << "a FILE besides it is for the window: b.json";
        QTest::newRow("headless without a workspace")
            << QStringList{"--headless"} << 2 << true << "Missing value";
        QTest::newRow("headless with an empty workspace")
            << QStringList{"--headless="} << 2 << true << "--headless needs a workspace file";
        QTest::newRow("an empty file") << QStringList{""} << 2 << true << "FILE needs a workspace file";
        for (const char *bad : {"0", "0.0", "0.0004", "-1", "+3", "abc", "1e3", "inf", "nan", "1.2.3", ".",
                 "", " 5", "2073600.001", "99999999999999999999"}) {
            QTest::newRow(qPrintable(QStringLiteral("duration '%1'").arg(bad)))
                << QStringList{"--headless", "a.json", "--duration", bad} << 2 << true
                << QStringLiteral("--duration takes seconds, from 0.001 to 2073600: %1").arg(bad);
        }
        QTest::newRow("unknown language")
            << QStringList{"--lang", "fr"} << 2 << true << "Unknown language: fr";
        QTest::newRow("option without its value")
            << QStringList{"--serial-device"} << 2 << true << "Missing value";
        QTest::newRow("empty device path")
            << QStringList{"--serial-device="} << 2 << true << "--serial-device needs a device path";
        QTest::newRow("empty device path, separate")
            << QStringList{"--serial-device", ""} << 2 << true << "--serial-device needs a device path";
    }
    void answersWithoutStarting()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(bool, toStandardError);
        QFETCH(QString, contains);
        const CommandLineResult result = parseCommandLine(QStringList{"portwright"} + arguments, {}, {});
        QVERIFY(!result.start);
        QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(result.toStandardError, toStandardError);
        QVERIFY2(result.output.contains(contains), qPrintable(result.output));
        // A refusal is one line, for a script's log.
        if (exitCode != 0)
            QCOMPARE(result.output.count(QLatin1Char('\n')), 1);
    }

    void optionsWinOverTheirVariables()
    {
        auto start = parseCommandLine({"portwright"}, {}, {}).start;
        QVERIFY(start);
        QCOMPARE(start->language, QStringLiteral("zh"));
        QCOMPARE(start->serialDevice, QString());
        start = parseCommandLine({"portwright"}, "en", "/dev/ttyUSB0").start;
        QCOMPARE(start->language, QStringLiteral("en"));
        QCOMPARE(start->serialDevice, QStringLiteral("/dev/ttyUSB0"));
        start = parseCommandLine(
            {"portwright", "--lang", "zh", "--serial-device", "/dev/ttyACM1"}, "en", "/dev/ttyUSB0")
                    .start;
        QCOMPARE(start->language, QStringLiteral("zh"));
        QCOMPARE(start->serialDevice, QStringLiteral("/dev/ttyACM1"));
        // A bad variable is refused like a bad option.
        QCOMPARE(parseCommandLine({"portwright"}, "de", {}).exitCode, 2);
    }

    void aWorkspaceIsCarriedToTheWindowOrTheRun()
    {
        auto start = parseCommandLine({"portwright", "rack.portwright"}, {}, {}).start;
        QVERIFY(start);
        QCOMPARE(start->workspace, QStringLiteral("rack.portwright"));
        QVERIFY(!start->headless);

        start = parseCommandLine({"portwright", "--headless", "rack.json", "--lang", "en"}, {}, {}).start;
        QVERIFY(start);
        QCOMPARE(start->workspace, QString());
        QCOMPARE(start->language, QStringLiteral("en"));
        QVERIFY(start->headless);
        QCOMPARE(start->headless->workspace, QStringLiteral("rack.json"));
        QVERIFY(!start->headless->json);
        QVERIFY(!start->headless->keepGoing);
        QVERIFY(!start->headless->duration);

        start = parseCommandLine({"portwright", "--json", "--duration=0.5", "--keep-going",
                                     "--headless=/etc/portwright/rack1.json"},
            {}, {})
                    .start;
        QVERIFY(start && start->headless);
        QCOMPARE(start->headless->workspace, QStringLiteral("/etc/portwright/rack1.json"));
        QVERIFY(start->headless->json);
        QVERIFY(start->headless->keepGoing);
        QCOMPARE(start->headless->duration, std::chrono::milliseconds(500));

        const auto durationOf = [](const QString &seconds) {
            const auto run
                = parseCommandLine({"portwright", "--headless", "a.json", "--duration", seconds}, {}, {});
            return run.start && run.start->headless ? run.start->headless->duration : std::nullopt;
        };
        QCOMPARE(durationOf("30"), std::chrono::milliseconds(30000));
        QCOMPARE(durationOf(".25"), std::chrono::milliseconds(250));
        QCOMPARE(durationOf("0.001"), std::chrono::milliseconds(1));
        QCOMPARE(durationOf("1.0005"), std::chrono::milliseconds(1001));
        QCOMPARE(durationOf("2073600"), LongestDuration);
    }

    void theSerialDeviceRenamesOnlyCom1()
    {
        const auto previous = SerialPort::setDevicePathResolver({});
        useSerialDevice(QStringLiteral("/dev/ttyUSB3"));
        QCOMPARE(SerialPort::devicePathFor("com1"), QStringLiteral("/dev/ttyUSB3"));
        QCOMPARE(SerialPort::devicePathFor("COM1"), QStringLiteral("/dev/ttyUSB3"));
        QCOMPARE(SerialPort::devicePathFor("COM2"), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(SerialPort::devicePathFor("/dev/ttyACM0"), QStringLiteral("/dev/ttyACM0"));
        SerialPort::setDevicePathResolver({});
        useSerialDevice({}); // nothing given: the usual mapping stays
        QCOMPARE(SerialPort::devicePathFor("com1"), QStringLiteral("/dev/ttyS0"));
        SerialPort::setDevicePathResolver(previous);
    }

    // The real program, with no display at all: it answers and ends.
    void theProgramAnswersWithoutADisplay()
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(PORTWRIGHT_BINARY), {QStringLiteral("--version")});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(program.readAllStandardOutput(), QByteArray("Portwright 2.5\n"));
        program.start(QStringLiteral(PORTWRIGHT_BINARY), {QStringLiteral("--no-such-option")});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 2);
        QCOMPARE(
            program.readAllStandardError(), QByteArray("portwright: Unknown option 'no-such-option'.\n"));
        // A headless option given alone is refused before a display is asked for.
        program.start(QStringLiteral(PORTWRIGHT_BINARY), {QStringLiteral("--json")});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 2);
        QCOMPARE(program.readAllStandardError(), QByteArray("portwright: --json needs --headless\n"));

        // Starting for real says in one line what is missing.
        const QByteArray noDisplay
            = "portwright: no graphical display: set DISPLAY or WAYLAND_DISPLAY, or use a "
              "desktop session, or run a workspace with --headless FILE\n";
        program.start(QStringLiteral(PORTWRIGHT_BINARY), {});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardError(), noDisplay);
        // A display that is named but not there ends the same way, with
        // nothing of what Qt tried before.
        for (const char *display : {"DISPLAY", "WAYLAND_DISPLAY"}) {
            QProcessEnvironment named = environment;
            named.insert(QLatin1String(display), QStringLiteral(":97"));
            program.setProcessEnvironment(named);
            program.start(QStringLiteral(PORTWRIGHT_BINARY), {});
            QVERIFY(program.waitForFinished(10000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 1);
            QCOMPARE(program.readAllStandardError(), noDisplay);
        }
    }
};

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_commandline.moc"
