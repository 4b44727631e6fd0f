#include "app/dialogs/newserialportdialog.h"
#include "app/dialogs/newtcpclientdialog.h"
#include "app/dialogs/newtcpserverdialog.h"
#include "app/dialogs/newudpclientdialog.h"
#include "app/dialogs/newudpgroupdialog.h"
#include "app/dialogs/newudpserverdialog.h"
#include "app/mainwindow.h"
#include "datawindow/datawindow.h"
#include "datawindow/modemlinesstrip.h"
#include "datawindow/sendpanel.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/serialendpoint.h"
#include "endpoints/webreply.h"
#include "net/serial/serialport.h"
#include "support/contextmenu.h"
#include "support/datawindow_parts.h"
#include "support/endpointviews.h"
#include "support/loopback.h"
#include "support/loopdepth.h"
#include "support/modalanswer.h"
#include "support/pseudoterminal.h"
#include "ui/documentarea.h"
#include "ui/endpointtree.h"
#include "ui/infopanel.h"
#include "ui/logview.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <sys/socket.h>

namespace {

// An endpoint as the create command leaves it: record, window and node under
// the kind node.
Endpoint *addEndpoint(MainWindow &form, EndpointKind kind, const QString &text, EndpointState state)
{
    child<EndpointTree>(form, "tree")->setCurrentItem(form.kindNode(kind));
    auto record = makeEndpoint(kind);
    record->state = state;
    record->nodeText = text;
    form.controller().makeSession(*record);
    return form.controller().attach(std::move(record));
}

// Presses "创建" with the kind node selected and answers the real dialog with
// fill and OK once it shows; true when one new endpoint came of it.
template <class Dialog>
bool createThroughDialog(MainWindow &form, EndpointKind kind, const std::function<void(Dialog &)> &fill)
{
    const int before = form.endpoints().size();
    child<EndpointTree>(form, "tree")->setCurrentItem(form.kindNode(kind));
    modal_test::answerWhenShown<Dialog>([fill](Dialog &dialog) {
        fill(dialog);
        child<QPushButton>(dialog, "okButton")->click();
    });
    child<QPushButton>(form, "createButton")->click();
    return QTest::qWaitFor([&] { return form.endpoints().size() == before + 1; }, 10000);
}

// Types a whole path into the file dialog's name box, as a user may: that
// holds whatever folder the dialog shows and however soon it has read it.
void typeFileName(QFileDialog &dialog, const QString &path)
{
    child<QLineEdit>(dialog, "fileNameEdit")->setText(path);
}

// The message boxes on the screen, with their texts.
QStringList shownBoxes()
{
    QStringList texts;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
            texts << box->text();
    return texts;
}

// A machine with one adapter that no test opens: the dialog's list shows it,
// the tests type the device they mean.
SerialDeviceLister fakeMachine(int *listings)
{
    return [listings] {
        ++*listings;
        return std::vector<SerialDeviceInfo>{{QStringLiteral("/nonexistent/ttyUSB0"), {},
            QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"), QStringLiteral("0403"),
            QStringLiteral("6001"), QStringLiteral("ftdi_sio")}};
    };
}

// Creates a serial port on the device typed into the dialog's device box.
bool createSerialPort(MainWindow &form, const QString &device)
{
    return createThroughDialog<NewSerialPortDialog>(form, EndpointKind::SerialPort,
        [device](NewSerialPortDialog &d) { child<SerialDeviceBox>(d, "deviceBox")->setEditText(device); });
}

// The log's lines that contain the text.
qsizetype logLinesWith(DataWindow *window, const QString &text)
{
    window->flushLog();
    return child<LogView>(window, "log")->toPlainText().split(QLatin1Char('\n')).filter(text).size();
}

} // namespace

class TstMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
    }

    // Each kind made through its own dialog, answered once it is on the
    // screen: the dialog opens and the creation follows without an event
    // loop inside the click's handling.
    void creatingEachKindThroughItsDialogNestsNoLoop()
    {
        MainWindow form;
        form.show();
        form.createDialogs();
        MessageRecorder recorder; // a group join without a multicast route says so
        loop_test::LoopDepthProbe probe;
        const loopback_test::Fd listener = loopback_test::listenOnLoopback();
        const QString peerPort = QString::number(loopback_test::localPort(listener.get()));

        QVERIFY(createThroughDialog<NewTcpServerDialog>(form, EndpointKind::TcpServer,
            [](NewTcpServerDialog &d) { child<QLineEdit>(d, "portEdit")->setText(QStringLiteral("0")); }));
        QVERIFY(createThroughDialog<NewTcpClientDialog>(
            form, EndpointKind::TcpClient, [&](NewTcpClientDialog &d) {
                child<QLineEdit>(d, "addressEdit")->setText(QStringLiteral("127.0.0.1"));
                child<QLineEdit>(d, "portEdit")->setText(peerPort);
            }));
        QVERIFY(
            createThroughDialog<NewUdpServerDialog>(form, EndpointKind::UdpServer, [](NewUdpServerDialog &d) {
                child<QLineEdit>(d, "localPortEdit")->setText(QStringLiteral("0"));
            }));
        QVERIFY(createThroughDialog<NewUdpClientDialog>(
            form, EndpointKind::UdpClient, [&](NewUdpClientDialog &d) {
                child<QLineEdit>(d, "addressEdit")->setText(QStringLiteral("127.0.0.1"));
                child<QLineEdit>(d, "remotePortEdit")->setText(peerPort);
                child<QLineEdit>(d, "localPortEdit")->setText(QStringLiteral("0"));
            }));
        QVERIFY(
            createThroughDialog<NewUdpGroupDialog>(form, EndpointKind::UdpGroup, [](NewUdpGroupDialog &d) {
                child<QLineEdit>(d, "groupAddressEdit")->setText(QStringLiteral("224.1.1.1"));
                child<QLineEdit>(d, "groupPortEdit")->setText(QStringLiteral("0"));
            }));
        QCOMPARE(form.endpoints().size(), 5);
        QVERIFY(!form.isInfoPanelShown());
        QCOMPARE(probe.deepest(), 0);
    }

    // Saving the log and recording it, each through the real file dialog.
    void logFileChoosersNestNoLoop()
    {
        QTemporaryDir dir;
        MainWindow form;
        form.show();
        Endpoint *udp = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[9]", EndpointState::Open);
        form.showInfoPanel(false);
        windowOf(udp)->appendLogLine(QStringLiteral("line"));
        windowOf(udp)->flushLog();
        auto *log = child<LogView>(windowOf(udp), "log");
        loop_test::LoopDepthProbe probe;

        const QString saved = dir.filePath(QStringLiteral("saved.log"));
        QString caption;
        modal_test::answerWhenShown<QFileDialog>([&](QFileDialog &d) {
            caption = d.windowTitle();
            typeFileName(d, saved);
            static_cast<QDialog &>(d).done(QDialog::Accepted);
        });
        chooseFromContextMenu(*log, QStringLiteral("保存日志..."));
        QTRY_VERIFY(QFile::exists(saved));
        QCOMPARE(caption, QStringLiteral("保存日志"));

        const QString recorded = dir.filePath(QStringLiteral("recorded.log"));
        modal_test::answerWhenShown<QFileDialog>([&](QFileDialog &d) {
            caption = d.windowTitle();
            typeFileName(d, recorded);
            static_cast<QDialog &>(d).done(QDialog::Accepted);
        });
        chooseFromContextMenu(*log, QStringLiteral("记录到文件..."));
        QTRY_VERIFY(contextMenuTexts(*log).contains(QStringLiteral("停止记录")));
        QCOMPARE(caption, QStringLiteral("记录到文件"));
        chooseFromContextMenu(*log, QStringLiteral("停止记录"));
        QCOMPARE(probe.deepest(), 0);
    }

    // A box told while datagrams keep arriving: they go on being received
    // while it is open. The same text again adds no box; another text waits
    // for the one on the screen to be answered, so they read in the order
    // they were told.
    void messageBoxesDuringTrafficNestNoLoopNorPileUp()
    {
        MainWindow form;
        form.show();
        Endpoint *server = form.controller().createUdpServer(0);
        QVERIFY(server);
        Endpoint *client
            = addEndpoint(form, EndpointKind::TcpClient, "127.0.0.1[9]", EndpointState::Disconnected);
        loopback_test::Fd sender(::socket(AF_INET, SOCK_DGRAM, 0));
        const sockaddr_in to = loopback_test::loopback(server->localPort);
        QTimer traffic;
        QObject::connect(&traffic, &QTimer::timeout, &traffic, [&] {
            (void)::sendto(sender.get(), "ping", 4, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        });
        traffic.start(5);
        loop_test::LoopDepthProbe probe;

        bool answered = false;
        qint64 receivedWhileOpen = -1;
        modal_test::answerWhenShown<QMessageBox>(
            [&](QMessageBox &box) {
                const qint64 before = windowOf(server)->receivedBytes();
                receivedWhileOpen
                    = QTest::qWaitFor([&] { return windowOf(server)->receivedBytes() > before; }, 5000)
                    ? windowOf(server)->receivedBytes() - before
                    : 0;
                box.button(QMessageBox::Ok)->click();
            },
            &answered);
        form.linkDropped(nodeOf(client), nodeOf(server));
        QTRY_VERIFY_WITH_TIMEOUT(answered, 15000);
        QTRY_COMPARE(shownBoxes(), QStringList());
        QVERIFY(receivedWhileOpen > 0);
        QCOMPARE(probe.deepest(), 0);

        form.linkDropped(nodeOf(client), nodeOf(server));
        QCOMPARE(shownBoxes(), QStringList{QStringLiteral("监听管道已经建立!")});
        for (int i = 0; i < 100; ++i)
            form.linkDropped(nodeOf(client), nodeOf(server));
        ShowMessage(QStringLiteral("second"));
        ShowMessage(QStringLiteral("second"));
        QCOMPARE(shownBoxes(), QStringList{QStringLiteral("监听管道已经建立!")});
        auto *first = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("Portwright V2.5"));
        first->button(QMessageBox::Ok)->click();
        QTRY_COMPARE(shownBoxes(), QStringList{QStringLiteral("second")});
        qobject_cast<QMessageBox *>(QApplication::activeModalWidget())->button(QMessageBox::Ok)->click();
        QTRY_COMPARE(shownBoxes(), QStringList());
        QCOMPARE(probe.deepest(), 0);
    }

    // The serial port's kind node comes last, under the five network kinds
    // as they always were.
    void startsWithSixKindNodesAndTheInformationPanel()
    {
        MainWindow form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Portwright V2.5"));
        QCOMPARE(form.size(), QSize(717, 541));
        QCOMPARE(child<EndpointTree>(form, "tree")->topLevelItemCount(), 6);
        const QStringList expected
            = {"TCP Server", "TCP Client", "UDP Server", "UDP Client", "UDP Group", "Serial Port"};
        QCOMPARE(form.kindNode(EndpointKind::SerialPort), child<EndpointTree>(form, "tree")->topLevelItem(5));
        for (int i = 0; i < 6; ++i) {
            QTreeWidgetItem *node = child<EndpointTree>(form, "tree")->topLevelItem(i);
            QCOMPARE(node->text(0), expected[i]);
            QCOMPARE(nodeImageOf(node), NodeImage::KindNode);
            QCOMPARE(form.views().endpointOfNode(node), nullptr);
            QCOMPARE(node->childCount(), 0);
        }
        QCOMPARE(form.endpoints().size(), 0);
        QVERIFY(form.isInfoPanelShown());
        QCOMPARE(child<QPushButton>(form, "createButton")->text(), QStringLiteral("创建"));
        QCOMPARE(child<QPushButton>(form, "deleteButton")->text(), QStringLiteral("删除"));
        QCOMPARE(child<QPushButton>(form, "exitButton")->text(), QStringLiteral("退出"));
        QCOMPARE(child<QPushButton>(form, "stopCommandButton")->text(), QStringLiteral("停止 "));
        QVERIFY(child<QPushButton>(form, "startCommandButton")->isHidden()
            && child<QPushButton>(form, "stopCommandButton")->isHidden());
        QVERIFY(child<QStatusBar>(form, "statusBar")->isHidden());
    }

    // A serial port made through its dialog on a pseudo-terminal: its node
    // under "Serial Port" shows it open, its window the device, the line
    // settings, the open and close buttons and the strip of a device without
    // modem lines. Linked to another endpoint it forwards nothing and goes
    // on receiving. When the far end goes, the node shows it closed and the
    // log says so once; deleting it takes node and window away.
    void aSerialPortMadeThroughItsDialogShowsItsDeviceOpenAndGone()
    {
        MainWindow form;
        int listings = 0;
        form.setSerialDeviceLister(fakeMachine(&listings));
        form.show();
        form.createDialogs();
        MessageRecorder recorder;
        loop_test::LoopDepthProbe probe;
        Pty pty;
        QVERIFY(!pty.path.isEmpty());

        QVERIFY(createSerialPort(form, pty.path));
        QVERIFY(listings > 0);
        QCOMPARE(probe.deepest(), 0);
        QCOMPARE(recorder.messages, QStringList());
        Endpoint *serial = form.endpoints().at(0);
        QCOMPARE(serial->kind, EndpointKind::SerialPort);
        QTreeWidgetItem *node = nodeOf(serial);
        QCOMPARE(node->parent(), form.kindNode(EndpointKind::SerialPort));
        QCOMPARE(node->text(0), pty.path);
        QCOMPARE(nodeImageOf(node), NodeImage::Connected);
        QVERIFY(!form.isInfoPanelShown());
        DataWindow *window = windowOf(serial);
        QVERIFY(window->isVisible());
        QCOMPARE(child<ModemLinesStrip>(window, "modemLinesStrip")->state(),
            ModemLinesStrip::State::OpenWithoutModemLines);
        QCOMPARE(child<QLabel>(window, "stateLabel")->text(), QStringLiteral("已打开"));
        QCOMPARE(child<QLabel>(window, "peerAddressLabel")->text(), QStringLiteral("设备:") + pty.path);
        QCOMPARE(child<QLabel>(window, "peerPortLabel")->text(), QStringLiteral("参数:115200 8N1"));
        QCOMPARE(child<QPushButton>(window, "startButton")->text(), QStringLiteral("打开"));
        QCOMPARE(child<QPushButton>(window, "stopButton")->text(), QStringLiteral("关闭"));
        QVERIFY(!child<QPushButton>(window, "startButton")->isEnabled());
        QVERIFY(child<QPushButton>(window, "stopButton")->isEnabled());
        // In a main window of the size it opens with, the strip leaves the
        // send panel its room: the timer's buttons stay clear of the counters.
        QCOMPARE(form.size(), QSize(717, 541));
        const auto bottomOf = [&](const char *name) {
            auto *widget = child<QWidget>(window, name);
            return widget->mapTo(window, QPoint(0, widget->height())).y();
        };
        const int countersTop = child<QWidget>(window, "countersBar")->mapTo(window, QPoint(0, 0)).y();
        QVERIFY2(bottomOf("stopTimerButton") <= countersTop && bottomOf("startTimerButton") <= countersTop,
            qPrintable(QStringLiteral("timer buttons end at %1, counters start at %2")
                           .arg(bottomOf("stopTimerButton"))
                           .arg(countersTop)));
        QVERIFY(bottomOf("sendPanel") <= window->height());

        Endpoint *client
            = addEndpoint(form, EndpointKind::TcpClient, "127.0.0.1[60001]", EndpointState::Disconnected);
        QVERIFY(form.canLink(nodeOf(serial), nodeOf(client)));
        QVERIFY(form.canLink(nodeOf(client), nodeOf(serial)));
        form.linkDropped(nodeOf(serial), nodeOf(client));
        QCOMPARE(serial->partner, client);
        pty.send("hello\n");
        QTRY_COMPARE(logLinesWith(window, QStringLiteral("收到数据：hello")), 1);
        QCOMPARE(windowOf(client)->sentBytes(), 0);

        pty.closeMaster();
        QTRY_COMPARE(nodeImageOf(node), NodeImage::Disconnected);
        QCOMPARE(child<QLabel>(window, "stateLabel")->text(), QStringLiteral("已关闭"));
        QCOMPARE(child<ModemLinesStrip>(window, "modemLinesStrip")->state(), ModemLinesStrip::State::Closed);
        QVERIFY(child<QPushButton>(window, "startButton")->isEnabled());
        QTRY_COMPARE(logLinesWith(window, QStringLiteral(" 串口已断开：")), 1);
        // Looking for the device again adds nothing to the log.
        QTest::qWait(3 * SerialEndpoint::ReconnectPollMs);
        QCOMPARE(logLinesWith(window, QStringLiteral(" 串口已断开：")), 1);

        const QPointer<DataWindow> gone(window);
        child<EndpointTree>(form, "tree")->setCurrentItem(nodeOf(serial));
        child<QPushButton>(form, "deleteButton")->click();
        QCOMPARE(form.endpoints().size(), 1);
        QCOMPARE(form.kindNode(EndpointKind::SerialPort)->childCount(), 0);
        QCOMPARE(client->partner, nullptr);
        QTRY_VERIFY(!gone);
        QCOMPARE(recorder.messages, QStringList{"监听管道已经建立!"});
    }

    // A device that cannot be opened is told in a message box; the endpoint
    // stays, closed, its open button ready for another try.
    void aSerialPortThatDoesNotOpenIsToldAndStaysClosed()
    {
        MainWindow form;
        int listings = 0;
        form.setSerialDeviceLister(fakeMachine(&listings));
        form.show();
        MessageRecorder recorder;
        const QString missing = QStringLiteral("/nonexistent/portwright-tty");

        QVERIFY(createSerialPort(form, missing));
        QCOMPARE(recorder.messages.size(), 1);
        QVERIFY2(recorder.messages[0].contains(missing), qPrintable(recorder.messages[0]));
        Endpoint *serial = form.endpoints().at(0);
        QCOMPARE(nodeOf(serial)->parent(), form.kindNode(EndpointKind::SerialPort));
        QCOMPARE(nodeImageOf(nodeOf(serial)), NodeImage::Disconnected);
        DataWindow *window = windowOf(serial);
        QCOMPARE(child<QLabel>(window, "stateLabel")->text(), QStringLiteral("已关闭"));
        QCOMPARE(child<ModemLinesStrip>(window, "modemLinesStrip")->state(), ModemLinesStrip::State::Closed);
        QVERIFY(child<QPushButton>(window, "startButton")->isEnabled());
        QVERIFY(!child<QPushButton>(window, "stopButton")->isEnabled());
    }

    void stateImagesAreDistinctPictures()
    {
        for (int i = 0; i < StateImageCount; ++i) {
            const QImage image = statePicture(i).toImage();
            QCOMPARE(image.size(), QSize(16, 16));
            for (int j = 0; j < i; ++j)
                QVERIFY2(
                    image != statePicture(j).toImage(), qPrintable(QStringLiteral("%1 == %2").arg(i).arg(j)));
        }
    }

    void webReplyTextsAreAsShipped()
    {
        const QStringList header = WebReplyHeaderText().split(QLatin1Char('\n'));
        QCOMPARE(header.size(), 6);
        QCOMPARE(header.first(), QStringLiteral("HTTP/1.1 200 OK"));
        QCOMPARE(header.last(), QStringLiteral("ETag: \"0c76c133e39c71:8f6\""));
        const QStringList page = WebReplyPageText().split(QLatin1Char('\n'));
        QCOMPARE(page.size(), 26);
        QCOMPARE(page[3], QStringLiteral("<meta http-equiv=\"Content-Type\" "));
        QCOMPARE(page[10], QStringLiteral("<title>New Page 1</title>"));
        QCOMPARE(page[14], QStringLiteral("<center>  "));
        QVERIFY(page[21].endsWith(QLatin1Char(' ')));
        QCOMPARE(page[25], QStringLiteral("</html>"));
    }

    void attachingANodeRegistersTheEndpoint()
    {
        MainWindow form;
        QTreeWidgetItem *kind = form.kindNode(EndpointKind::TcpClient);
        Endpoint *e = addEndpoint(
            form, EndpointKind::TcpClient, nodeText("10.0.0.2", 8080), EndpointState::Disconnected);
        QCOMPARE(kind->childCount(), 1);
        QTreeWidgetItem *node = kind->child(0);
        QCOMPARE(node->text(0), QStringLiteral("10.0.0.2[8080]"));
        QVERIFY(kind->isExpanded());
        QCOMPARE(form.views().endpointOfNode(node), e);
        QCOMPARE(nodeOf(e), node);
        QCOMPARE(nodeImageOf(node), NodeImage::Disconnected);
        QCOMPARE(child<EndpointTree>(form, "tree")->currentItem(), node);
        QCOMPARE(form.endpoints().size(), 1);
        QCOMPARE(form.endpoints().at(0), e);
        QCOMPARE(child<QLabel>(windowOf(e), "stateLabel")->text(), QStringLiteral("已断开")); // refreshed
        // Same text twice: both exist side by side.
        Endpoint *twin = addEndpoint(
            form, EndpointKind::TcpClient, nodeText("10.0.0.2", 8080), EndpointState::Disconnected);
        QCOMPARE(kind->childCount(), 2);
        QVERIFY(twin != e);
        QCOMPARE(form.endpoints().size(), 2);
    }

    void selectingANodeBringsItsWindowToFront()
    {
        MainWindow form;
        form.show();
        form.showInfoPanel(false);
        Endpoint *a = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[1]", EndpointState::Open);
        Endpoint *b = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[2]", EndpointState::Open);
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(b));
        a->peerPort = 4321;
        child<EndpointTree>(form, "tree")->setCurrentItem(nodeOf(a));
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(a));
        QCOMPARE(child<QLabel>(windowOf(a), "peerPortLabel")->text(), QStringLiteral("对方端口:4321"));
        // A kind node changes nothing in the document area.
        child<EndpointTree>(form, "tree")->setCurrentItem(form.kindNode(EndpointKind::TcpServer));
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(a));
        // A window minimised by its close box comes back when its node is selected.
        child<EndpointTree>(form, "tree")->setCurrentItem(nodeOf(b));
        child<QToolButton>(child<DocumentArea>(form, "documents"), "minimizeButton")->click();
        QVERIFY(child<DocumentArea>(form, "documents")->isMinimized(windowOf(b)));
        child<EndpointTree>(form, "tree")->setCurrentItem(nodeOf(a));
        child<EndpointTree>(form, "tree")->setCurrentItem(nodeOf(b));
        QVERIFY(!child<DocumentArea>(form, "documents")->isMinimized(windowOf(b)));
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(b));
    }

    void dragOverRules()
    {
        MainWindow form;
        Endpoint *server
            = addEndpoint(form, EndpointKind::TcpServer, "127.0.0.1[60000]", EndpointState::Listening);
        Endpoint *client
            = addEndpoint(form, EndpointKind::TcpClient, "127.0.0.1[60001]", EndpointState::Disconnected);
        Endpoint *client2
            = addEndpoint(form, EndpointKind::TcpClient, "127.0.0.1[60002]", EndpointState::Disconnected);
        Endpoint *sameText
            = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[60000]", EndpointState::Open);
        Endpoint *udp = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[9]", EndpointState::Open);
        QTreeWidgetItem *kind = form.kindNode(EndpointKind::UdpGroup);

        QVERIFY(form.canLink(nodeOf(server), nullptr)); // empty space
        QVERIFY(!form.canLink(nodeOf(server), nodeOf(server))); // itself
        QVERIFY(!form.canLink(nodeOf(server), nodeOf(sameText))); // same text, other kind
        QVERIFY(!form.canLink(nodeOf(server), kind)); // onto a kind node
        QVERIFY(!form.canLink(kind, nodeOf(server))); // a kind node dragged
        QVERIFY(!form.canLink(nodeOf(client), nodeOf(client2))); // same kind
        QVERIFY(form.canLink(nodeOf(server), nodeOf(client))); // server and client
        QVERIFY(form.canLink(nodeOf(udp), nodeOf(server))); // any two kinds
    }

    void dropLinksBothWaysAndRelinkingUnlinksTheOldPartner()
    {
        MainWindow form;
        MessageRecorder recorder;
        Endpoint *server
            = addEndpoint(form, EndpointKind::TcpServer, "127.0.0.1[60000]", EndpointState::Listening);
        Endpoint *client
            = addEndpoint(form, EndpointKind::TcpClient, "127.0.0.1[60001]", EndpointState::Disconnected);
        Endpoint *udp = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[9]", EndpointState::Open);

        form.linkDropped(nodeOf(client), nodeOf(server));
        QCOMPARE(server->partner, client);
        QCOMPARE(client->partner, server);
        QCOMPARE(recorder.messages, QStringList{"监听管道已经建立!"});

        form.linkDropped(nodeOf(udp), nodeOf(server));
        QCOMPARE(server->partner, udp);
        QCOMPARE(udp->partner, server);
        QCOMPARE(client->partner, nullptr); // no longer points at a partner that moved on
        QCOMPARE(recorder.messages.size(), 2);

        // Nothing under the pointer, or a kind node: nothing happens.
        form.linkDropped(nodeOf(udp), nullptr);
        form.linkDropped(nodeOf(udp), form.kindNode(EndpointKind::UdpGroup));
        QCOMPARE(recorder.messages.size(), 2);

        // Removing an endpoint unlinks its partner.
        form.endpoints().remove(udp);
        QCOMPARE(server->partner, nullptr);
    }

    void informationPanelLinksOpenTheirPages()
    {
        MainWindow form;
        form.show();
        MessageRecorder recorder;
        const InfoPanel *panel = child<InfoPanel>(form, "infoPanel");
        QTest::mouseClick(child<QLabel>(panel, "tcpTitle"), Qt::LeftButton);
        QTest::mouseClick(child<QLabel>(panel, "udpPicture"), Qt::LeftButton);
        QTest::mouseClick(child<QLabel>(panel, "vendorTitle"), Qt::LeftButton);
        QCOMPARE(
            recorder.addresses, QStringList({InfoPanel::TcpPage, InfoPanel::UdpPage, InfoPanel::HomePage}));
        const QLabel *tcpPicture = child<QLabel>(panel, "tcpPicture");
        QVERIFY(!tcpPicture->pixmap().isNull());
        QCOMPARE(tcpPicture->cursor().shape(), Qt::PointingHandCursor);
    }

    void informationPanelCoversTheDocuments()
    {
        MainWindow form;
        form.show();
        QVERIFY(child<InfoPanel>(form, "infoPanel")->isVisible());
        QVERIFY(!child<DocumentArea>(form, "documents")->isVisible());
        form.showInfoPanel(false);
        QVERIFY(!child<InfoPanel>(form, "infoPanel")->isVisible());
        QVERIFY(child<DocumentArea>(form, "documents")->isVisible());
        form.showInfoPanel(true);
        QVERIFY(child<InfoPanel>(form, "infoPanel")->isVisible());
    }

    void exitStopsTheEventLoop()
    {
        MainWindow form;
        QEventLoop loop;
        QTimer::singleShot(0, child<QPushButton>(form, "exitButton"), &QPushButton::click);
        QTimer::singleShot(5000, &loop, [&] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
    }

    // What a user meets in the window: the counters line whole however large
    // the numbers, the selected node standing for the window in front (also
    // after minimising it), and whole node texts once the tree scrolls.
    void windowLayoutAndSelectionStayInStep()
    {
        MainWindow form;
        form.resize(1024, 734);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Endpoint *a = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[7001]", EndpointState::Open);
        Endpoint *b = addEndpoint(form, EndpointKind::UdpClient, "127.0.0.1[7002]", EndpointState::Open);
        form.showInfoPanel(false);

        DataWindow *w = windowOf(b);
        w->addToCounters(12345678901, 50000000000);
        w->flushLog();
        QApplication::processEvents();
        const QString line = w->countersText();
        QVERIFY(line.contains(QStringLiteral("50000000000")));
        QLabel *counters = nullptr;
        for (QLabel *label : child<QStatusBar>(w, "countersBar")->findChildren<QLabel *>())
            if (label->text() == line)
                counters = label;
        QVERIFY(counters);
        QTRY_VERIFY2(counters->contentsRect().width() >= counters->fontMetrics().horizontalAdvance(line),
            qPrintable(QStringLiteral("%1 px for %2 px")
                           .arg(counters->contentsRect().width())
                           .arg(counters->fontMetrics().horizontalAdvance(line))));

        // Minimising the front window selects the node of the one now in front.
        QCOMPARE(child<EndpointTree>(form, "tree")->currentItem(), nodeOf(b));
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(b));
        child<QToolButton>(child<DocumentArea>(form, "documents"), "minimizeButton")->click();
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(a));
        QCOMPARE(child<EndpointTree>(form, "tree")->currentItem(), nodeOf(a));
        // With none in front, a click on the selected node brings its window.
        child<QToolButton>(child<DocumentArea>(form, "documents"), "minimizeButton")->click();
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), nullptr);
        QCOMPARE(child<EndpointTree>(form, "tree")->currentItem(), nodeOf(a));
        const QRect row = child<EndpointTree>(form, "tree")->visualItemRect(nodeOf(a));
        QTest::mouseClick(child<EndpointTree>(form, "tree")->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(a));
        QTest::mouseClick(child<EndpointTree>(form, "tree")->viewport(), Qt::LeftButton, {},
            child<EndpointTree>(form, "tree")->visualItemRect(nodeOf(b)).center());
        QCOMPARE(child<DocumentArea>(form, "documents")->activeDocument(), windowOf(b));

        // Enough nodes for a vertical scroll bar, one of them long and deep.
        Endpoint *server
            = addEndpoint(form, EndpointKind::TcpServer, "192.168.100.200[60000]", EndpointState::Listening);
        auto *deep = new QTreeWidgetItem(nodeOf(server), {QStringLiteral("192.168.100.201[65535] and more")});
        setNodeImage(deep, NodeImage::Connected);
        nodeOf(server)->setExpanded(true);
        for (int i = 0; i < 60; ++i)
            addEndpoint(form, EndpointKind::UdpClient, QStringLiteral("10.0.0.%1[%2]").arg(i).arg(9000 + i),
                EndpointState::Open);
        QApplication::processEvents();
        QTRY_VERIFY(child<EndpointTree>(form, "tree")->verticalScrollBar()->isVisible());
        const int textWidth
            = child<EndpointTree>(form, "tree")->fontMetrics().horizontalAdvance(deep->text(0));
        const QRect deepRow = child<EndpointTree>(form, "tree")->visualItemRect(deep);
        QVERIFY2(deepRow.width() >= textWidth + child<EndpointTree>(form, "tree")->iconSize().width(),
            qPrintable(QStringLiteral("%1 px for %2 px of text").arg(deepRow.width()).arg(textWidth)));
        QVERIFY(child<EndpointTree>(form, "tree")->columnWidth(0)
            >= child<EndpointTree>(form, "tree")->viewport()->width());
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
