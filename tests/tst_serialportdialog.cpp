#include "app/dialogs/newserialportdialog.h"
#include "datawindow/modemlinesstrip.h"
#include "support/widgets.h"
#include "ui/messages.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>

namespace {

SerialDeviceInfo ftdiAdapter()
{
    return {QStringLiteral("/dev/ttyUSB0"),
        QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
        QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"), QStringLiteral("0403"),
        QStringLiteral("6001"), QStringLiteral("ftdi_sio")};
}

SerialDeviceInfo onboardUart()
{
    return {QStringLiteral("/dev/ttyS0"), {}, {}, {}, {}, {}, QStringLiteral("serial8250")};
}

SerialDeviceInfo acmBoard()
{
    return {QStringLiteral("/dev/ttyACM0"), {}, {}, QStringLiteral("Pico"), QStringLiteral("2e8a"),
        QStringLiteral("000a"), QStringLiteral("cdc_acm")};
}

// A machine whose devices the test changes, and which counts the listings.
struct FakeMachine {
    std::vector<SerialDeviceInfo> devices;
    int listings = 0;

    SerialDeviceLister lister()
    {
        return [this] {
            ++listings;
            return devices;
        };
    }
};

// The main side of a fresh pseudo-terminal and the name of its other side.
struct PseudoTerminal {
    int main = -1;
    QString name;

    PseudoTerminal()
    {
        main = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (main >= 0 && ::grantpt(main) == 0 && ::unlockpt(main) == 0)
            name = QString::fromLocal8Bit(::ptsname(main));
    }
    ~PseudoTerminal()
    {
        if (main >= 0)
            ::close(main);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;
};

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QString accessibleText(QWidget *widget, QAccessible::Text kind)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(kind) : QStringLiteral("<no interface>");
}

// The control that holds the keyboard, named as the form names it: an
// editable box's own line edit counts as the box.
QString focusedControl()
{
    QWidget *focus = QApplication::focusWidget();
    if (focus && !focus->objectName().isEmpty())
        return focus->objectName();
    return focus && focus->parentWidget() ? focus->parentWidget()->objectName() : QString();
}

QString describe(const SerialSetup &s)
{
    return QStringLiteral("%1 %2 %3/%4/%5 flow %6 dtr %7 rts %8 framing %9 gap %10 delimiter %11 cap %12 "
                          "reconnect %13")
        .arg(s.device)
        .arg(s.baud)
        .arg(s.dataBits)
        .arg(int(s.parity))
        .arg(s.stopBits)
        .arg(int(s.flow))
        .arg(s.dtr)
        .arg(s.rts)
        .arg(int(s.framing))
        .arg(s.gapMs)
        .arg(QString::fromLatin1(s.delimiter.toHex(' ')))
        .arg(s.messageCap)
        .arg(s.autoReconnect);
}

void showActive(QWidget &widget)
{
    widget.show();
    QApplication::setActiveWindow(&widget);
    QVERIFY(QTest::qWaitForWindowActive(&widget));
}

} // namespace

class TstSerialPortDialog : public QObject {
    Q_OBJECT

private slots:
    // The box lists the machine's devices as path, maker, product and ids,
    // and picking one puts the name it is opened by into the box. While the
    // dialog is open the list follows the machine at most once a second,
    // and what the user is typing stays as it was, cursor included; hidden,
    // it lists nothing.
    void deviceBoxFollowsTheMachineAndKeepsWhatIsTyped()
    {
        FakeMachine machine;
        machine.devices = {onboardUart(), ftdiAdapter()};
        NewSerialPortDialog dialog(machine.lister());
        QElapsedTimer open;
        open.start();
        showActive(dialog);
        auto *box = child<SerialDeviceBox>(dialog, "deviceBox");
        QCOMPARE(
            itemTexts(box), (QStringList{"/dev/ttyS0", "/dev/ttyUSB0  FTDI FT232R USB UART (0403:6001)"}));
        QCOMPARE(box->currentText(), QStringLiteral("/dev/ttyS0"));

        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(box->currentText(), ftdiAdapter().stableName);
        QCOMPARE(box->device(), ftdiAdapter().stableName);
        // A long name shows from its start, and the list is wide enough
        // for the whole of each description.
        QCOMPARE(box->lineEdit()->cursorPosition(), 0);
        QVERIFY(box->view()->minimumWidth() > box->view()->fontMetrics().horizontalAdvance(box->itemText(1)));

        box->lineEdit()->setText(QStringLiteral("/dev/pts/"));
        QTest::keyClicks(box->lineEdit(), "17");
        box->lineEdit()->setCursorPosition(5);
        machine.devices.push_back(acmBoard());
        QTRY_COMPARE(box->count(), 3);
        QCOMPARE(box->itemText(2), QStringLiteral("/dev/ttyACM0  Pico (2e8a:000a)"));
        QCOMPARE(box->currentText(), QStringLiteral("/dev/pts/17"));
        QCOMPARE(box->lineEdit()->cursorPosition(), 5);
        QCOMPARE(box->device(), QStringLiteral("/dev/pts/17"));

        box->lineEdit()->setSelection(5, 4);
        machine.devices.erase(machine.devices.begin());
        QTRY_COMPARE(box->count(), 2);
        QCOMPARE(box->currentText(), QStringLiteral("/dev/pts/17"));
        QCOMPARE(box->lineEdit()->selectedText(), QStringLiteral("pts/"));

        // A tick under a loaded machine may come late, never early.
        QVERIFY2(machine.listings <= 2 + open.elapsed() / 1000,
            qPrintable(QStringLiteral("%1 listings in %2 ms").arg(machine.listings).arg(open.elapsed())));
        dialog.hide();
        const int listedWhileOpen = machine.listings;
        QTest::qWait(1500);
        QCOMPARE(machine.listings, listedWhileOpen);
    }

    // A value out of range is named in a message and nothing is yielded;
    // the dialog stays open. The bounds themselves are taken.
    void eachValueIsCheckedAtOK_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("byDelimiter");
        QTest::addColumn<QString>("message");

        const QString baud = QStringLiteral("波特率须为 1 到 20000000 之间的整数");
        const QString gap = QStringLiteral("间隔须为 0 到 60000 毫秒之间的整数");
        const QString delimiter
            = QStringLiteral("分隔符须为 CR、LF、CRLF 或 1 到 16 个十六进制字节（如 0D 0A）");
        const QString cap = QStringLiteral("最大包长须为 1 到 1048576 字节之间的整数");
        QTest::newRow("no device") << "deviceBox"
                                   << "  " << false << QStringLiteral("请选择或输入串口设备");
        QTest::newRow("baud not a number") << "baudBox"
                                           << "fast" << false << baud;
        QTest::newRow("baud in hex") << "baudBox"
                                     << "0x100" << false << baud;
        QTest::newRow("baud zero") << "baudBox"
                                   << "0" << false << baud;
        QTest::newRow("baud negative") << "baudBox"
                                       << "-9600" << false << baud;
        QTest::newRow("baud above the top") << "baudBox"
                                            << "20000001" << false << baud;
        QTest::newRow("baud at the top") << "baudBox"
                                         << "20000000" << false << QString();
        QTest::newRow("baud of one") << "baudBox"
                                     << "1" << false << QString();
        QTest::newRow("gap negative") << "gapEdit"
                                      << "-1" << false << gap;
        QTest::newRow("gap above the top") << "gapEdit"
                                           << "60001" << false << gap;
        QTest::newRow("gap of zero") << "gapEdit"
                                     << "0" << false << QString();
        QTest::newRow("gap unused while by delimiter") << "gapEdit"
                                                       << "x" << true << QString();
        QTest::newRow("delimiter odd digits") << "delimiterBox"
                                              << "0D 0" << true << delimiter;
        QTest::newRow("delimiter not hex") << "delimiterBox"
                                           << "ZZ" << true << delimiter;
        QTest::newRow("delimiter empty") << "delimiterBox"
                                         << "" << true << delimiter;
        QTest::newRow("delimiter of 17 bytes")
            << "delimiterBox" << QString("00").repeated(17) << true << delimiter;
        QTest::newRow("delimiter of 16 bytes")
            << "delimiterBox" << QString("0a ").repeated(16) << true << QString();
        QTest::newRow("delimiter by name") << "delimiterBox"
                                           << "crlf" << true << QString();
        QTest::newRow("cap zero") << "messageCapEdit"
                                  << "0" << false << cap;
        QTest::newRow("cap above the top") << "messageCapEdit"
                                           << "1048577" << false << cap;
        QTest::newRow("cap at the top") << "messageCapEdit"
                                        << "1048576" << false << QString();
    }
    void eachValueIsCheckedAtOK()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(bool, byDelimiter);
        QFETCH(QString, message);
        MessageRecorder recorder;
        FakeMachine machine;
        machine.devices = {ftdiAdapter()};
        NewSerialPortDialog dialog(machine.lister());
        dialog.show();
        child<QComboBox>(dialog, "framingBox")->setCurrentIndex(byDelimiter ? 1 : 0);
        QWidget *box = child<QWidget>(dialog, field.toLatin1().constData());
        if (auto *combo = qobject_cast<QComboBox *>(box))
            combo->setEditText(typed);
        else
            qobject_cast<QLineEdit *>(box)->setText(typed);

        child<QPushButton>(dialog, "okButton")->click();
        if (message.isEmpty()) {
            QCOMPARE(recorder.messages, QStringList());
            QCOMPARE(dialog.result(), int(CreationDialog::Created));
            QVERIFY(!dialog.isVisible());
            return;
        }
        QCOMPARE(recorder.messages, QStringList{message});
        QVERIFY(recorder.exceptions.isEmpty());
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
        QVERIFY(dialog.setup() == SerialSetup{});
    }

    // Every choice of the form reaches the setup: a pseudo-terminal's name
    // typed in, a rate off the list, seven data bits with mark parity and
    // two stop bits, hardware flow, DTR low and RTS high, messages cut at
    // CR LF typed as hex, a cap of its own, no reconnecting.
    void everyChoiceReachesTheSetup()
    {
        PseudoTerminal pty;
        QVERIFY(!pty.name.isEmpty());
        FakeMachine machine;
        machine.devices = {ftdiAdapter(), onboardUart()};
        NewSerialPortDialog dialog(machine.lister());
        dialog.show();
        child<SerialDeviceBox>(dialog, "deviceBox")->setEditText(pty.name);
        child<QComboBox>(dialog, "baudBox")->setEditText(QStringLiteral(" 250000"));
        child<QComboBox>(dialog, "dataBitsBox")->setCurrentText(QStringLiteral("7"));
        child<QComboBox>(dialog, "parityBox")->setCurrentText(QStringLiteral("标记"));
        child<QComboBox>(dialog, "stopBitsBox")->setCurrentText(QStringLiteral("2"));
        child<QComboBox>(dialog, "flowBox")->setCurrentText(QStringLiteral("RTS/CTS"));
        child<QCheckBox>(dialog, "dtrSwitch")->click();
        child<QComboBox>(dialog, "framingBox")->setCurrentText(QStringLiteral("按分隔符"));
        child<QComboBox>(dialog, "delimiterBox")->setEditText(QStringLiteral("0D 0A"));
        child<QLineEdit>(dialog, "messageCapEdit")->setText(QStringLiteral("512"));
        child<QCheckBox>(dialog, "autoReconnectSwitch")->click();
        child<QPushButton>(dialog, "okButton")->click();

        QCOMPARE(dialog.result(), int(CreationDialog::Created));
        SerialSetup expected;
        expected.device = pty.name;
        expected.baud = 250000;
        expected.dataBits = 7;
        expected.parity = SerialParity::Mark;
        expected.stopBits = 2;
        expected.flow = SerialFlow::RtsCts;
        expected.dtr = false;
        expected.rts = true;
        expected.framing = MessageFraming::Delimiter;
        expected.delimiter = QByteArrayLiteral("\r\n");
        expected.messageCap = 512;
        expected.autoReconnect = false;
        QVERIFY2(dialog.setup() == expected, qPrintable(describe(dialog.setup())));

        // Untouched, the form stands for the default setup with the first
        // device listed.
        NewSerialPortDialog untouched(machine.lister());
        untouched.show();
        child<QPushButton>(untouched, "okButton")->click();
        SerialSetup defaults;
        defaults.device = ftdiAdapter().stableName;
        QVERIFY2(untouched.setup() == defaults, qPrintable(describe(untouched.setup())));
    }

    // Tab walks the form from the top down, through the buttons and back;
    // the box of the framing not in use is left out. Each control is named
    // to assistive technologies.
    void tabReachesEveryControlAndEachHasAName()
    {
        FakeMachine machine;
        NewSerialPortDialog dialog(machine.lister());
        showActive(dialog);
        const QHash<QString, QString> names{{"deviceBox", "串口设备"}, {"baudBox", "波特率"},
            {"dataBitsBox", "数据位"}, {"parityBox", "校验位"}, {"stopBitsBox", "停止位"},
            {"flowBox", "流控制"}, {"dtrSwitch", "DTR 置位"}, {"rtsSwitch", "RTS 置位"},
            {"framingBox", "分包方式"}, {"gapEdit", "间隔(毫秒)"}, {"delimiterBox", "分隔符"},
            {"messageCapEdit", "最大包长(字节)"}, {"autoReconnectSwitch", "自动重连"}, {"okButton", "确定"},
            {"cancelButton", "取消"}};
        for (const bool byDelimiter : {false, true}) {
            child<QComboBox>(dialog, "framingBox")->setCurrentIndex(byDelimiter ? 1 : 0);
            child<QWidget>(dialog, "deviceBox")->setFocus();
            QTRY_COMPARE(focusedControl(), QStringLiteral("deviceBox"));
            QStringList reached;
            for (int k = 0; k < 14; ++k) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                reached << focusedControl();
                QCOMPARE(
                    accessibleText(child<QWidget>(dialog, qPrintable(reached.last())), QAccessible::Name),
                    names.value(reached.last()));
            }
            QCOMPARE(reached,
                (QStringList{"baudBox", "dataBitsBox", "parityBox", "stopBitsBox", "flowBox", "dtrSwitch",
                    "rtsSwitch", "framingBox", byDelimiter ? "delimiterBox" : "gapEdit", "messageCapEdit",
                    "autoReconnectSwitch", "okButton", "cancelButton", "deviceBox"}));
        }
        // Named by its label, a box still reads out what it holds.
        QCOMPARE(
            accessibleText(child<QWidget>(dialog, "baudBox"), QAccessible::Value), QStringLiteral("115200"));
    }

    // The strip publishes what the keyboard asks for, in Tab order, and
    // nothing for levels it is told; each input line reads as on or off to
    // assistive technologies and on screen besides its colour.
    void stripPublishesKeyPressesAndReadsOutTheLevels()
    {
        ModemLinesStrip strip;
        strip.setState(ModemLinesStrip::State::Open);
        strip.showOutputLines(true, true);
        showActive(strip);
        QSignalSpy dtr(&strip, &ModemLinesStrip::dtrToggled);
        QSignalSpy rts(&strip, &ModemLinesStrip::rtsToggled);
        QSignalSpy breaks(&strip, &ModemLinesStrip::breakRequested);

        child<QWidget>(strip, "dtrSwitch")->setFocus();
        QTRY_COMPARE(focusedControl(), QStringLiteral("dtrSwitch"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusedControl(), QStringLiteral("rtsSwitch"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusedControl(), QStringLiteral("breakButton"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(dtr.size(), 1);
        QCOMPARE(dtr.at(0).at(0).toBool(), false);
        QCOMPARE(rts.size(), 2);
        QCOMPARE(rts.at(1).at(0).toBool(), true);
        QCOMPARE(breaks.size(), 1);

        strip.showOutputLines(true, false);
        QCOMPARE(dtr.size(), 1);
        QCOMPARE(rts.size(), 2);
        QVERIFY(child<QCheckBox>(strip, "dtrSwitch")->isChecked());
        QVERIFY(!child<QCheckBox>(strip, "rtsSwitch")->isChecked());

        strip.showLines(true, false, true, false);
        const char *const names[] = {"ctsIndicator", "dsrIndicator", "dcdIndicator", "riIndicator"};
        const QStringList captions{"CTS", "DSR", "DCD", "RI"};
        const QStringList levels{"开", "关", "开", "关"};
        for (int i = 0; i < 4; ++i) {
            auto *indicator = child<QLabel>(strip, names[i]);
            QCOMPARE(accessibleText(indicator, QAccessible::Name), captions[i]);
            QCOMPARE(accessibleText(indicator, QAccessible::Description), levels[i]);
        }
        // The mark's shape, not only its colour, tells on from off.
        const QString on = child<QLabel>(strip, "ctsIndicator")->text();
        const QString off = child<QLabel>(strip, "dsrIndicator")->text();
        QVERIFY(on.contains(QStringLiteral("&#x25CF;")) && !on.contains(QStringLiteral("&#x25CB;")));
        QVERIFY(off.contains(QStringLiteral("&#x25CB;")) && !off.contains(QStringLiteral("&#x25CF;")));
    }

    // Closed, nothing acts; on a pseudo-terminal only the break does, and
    // the lines say why they are unavailable instead of showing levels.
    void stripStatesDisableWhatCannotAct()
    {
        ModemLinesStrip strip;
        strip.show();
        const char *const lines[]
            = {"dtrSwitch", "rtsSwitch", "ctsIndicator", "dsrIndicator", "dcdIndicator", "riIndicator"};
        QCOMPARE(strip.state(), ModemLinesStrip::State::Closed);
        for (const char *name : lines)
            QVERIFY2(!child<QWidget>(strip, name)->isEnabled(), name);
        QVERIFY(!child<QWidget>(strip, "breakButton")->isEnabled());

        strip.setState(ModemLinesStrip::State::Open);
        strip.showLines(true, true, true, true);
        strip.setState(ModemLinesStrip::State::OpenWithoutModemLines);
        strip.showLines(true, true, true, true);
        QVERIFY(child<QWidget>(strip, "breakButton")->isEnabled());
        for (const char *name : lines) {
            QWidget *line = child<QWidget>(strip, name);
            QVERIFY2(!line->isEnabled(), name);
            QCOMPARE(line->toolTip(), QStringLiteral("伪终端没有调制解调器控制线"));
        }
        QCOMPARE(accessibleText(child<QLabel>(strip, "ctsIndicator"), QAccessible::Description),
            QStringLiteral("无此线"));
        QVERIFY(!child<QLabel>(strip, "ctsIndicator")->text().contains(QStringLiteral("&#x25CF;")));

        strip.setState(ModemLinesStrip::State::Open);
        for (const char *name : lines) {
            QWidget *line = child<QWidget>(strip, name);
            QVERIFY2(line->isEnabled(), name);
            QVERIFY2(line->toolTip() != QStringLiteral("伪终端没有调制解调器控制线"), name);
        }
        QCOMPARE(accessibleText(child<QLabel>(strip, "ctsIndicator"), QAccessible::Description),
            QStringLiteral("关"));
    }
};

QTEST_MAIN(TstSerialPortDialog)
#include "tst_serialportdialog.moc"
