// Two things at once around a nested event loop: a repeat pausing, a drop-down
// or a creation dialog open, the application quitting, while peers arrive and
// leave. Real peers on 127.0.0.1; run under the sanitizers too.
#include "datawindow/datawindow.h"
#include "datawindow/repeatcountbox.h"
#include "datawindow/sendpanel.h"
#include "endpoints/endpointcontroller.h"
#include "net/serial/serialport.h"
#include "support/contextmenu.h"
#include "support/datawindow_parts.h"
#include "support/endpoint_harness.h"
#include "support/endpointviews.h"
#include "support/loopback.h"
#include "support/loopdepth.h"
#include "ui/documentarea.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <optional>

using namespace endpoint_test;
using namespace loopback_test;
using loop_test::LoopDepthProbe;

namespace {

// Datagrams waiting on a non-blocking socket, taken off it.
int drainDatagrams(int fd)
{
    int count = 0;
    char buffer[2048];
    while (::recv(fd, buffer, sizeof buffer, 0) >= 0)
        ++count;
    return count;
}

Fd udpReceiver()
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const sockaddr_in address = loopback(0);
    ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return fd;
}

// Runs the application's own event loop, as the program does, with the given
// steps scheduled on it; returns how long until the loop ended. A watchdog
// stops every send of the form's windows and ends a loop that would not end
// by itself.
qint64 runApplication(MainWindow &form, const std::function<void()> &start, int watchdogMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(0, qApp, start);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [&form] {
        for (DataWindow *window : form.findChildren<DataWindow *>())
            child<QPushButton>(window, "stopTimerButton")->click();
        QCoreApplication::exit(1);
    });
    watchdog.start(watchdogMs);
    QCoreApplication::exec();
    return clock.elapsed();
}

// The main window as the program has it, without the test seams for dialogs:
// the creation dialogs open for real. Boxes are recorded unless asked for.
struct PlainForm {
    explicit PlainForm(bool recordBoxes = true)
    {
        if (recordBoxes)
            recorder.emplace();
        form->createDialogs();
    }
    std::optional<MessageRecorder> recorder;
    std::unique_ptr<MainWindow> form = std::make_unique<MainWindow>();

    [[nodiscard]] QList<Endpoint *> endpoints(EndpointKind kind) const
    {
        return endpointsOfKind(*form, kind);
    }
};

// The loop ends soon after the close or the quit; the bound is seconds, for
// a loaded machine, and well short of the watchdog and of the repeats below
// running to their end (20 s and more).
constexpr qint64 kEndsSoonMs = 10000;

} // namespace

class TstNestedLoops : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
    }

    // Closing the main window while a peer's window repeats a send: the
    // server stops as the stop command stops it (peer endpoints first) and
    // the repeat ends with the application.
    void closingTheWindowWhileAPeerWindowRepeats()
    {
        Harness h;
        h.form->show();
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd peer = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        Endpoint *endpoint = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        fillSendBox(endpoint, QStringLiteral("x"), QStringLiteral("100"), QStringLiteral("500"));
        const qint64 took = runApplication(*h.form, [&] {
            QTimer::singleShot(700, h.form.get(), [&] { h.form->close(); });
            child<QPushButton>(windowOf(endpoint), "sendButton")->click();
        });
        QVERIFY2(took < kEndsSoonMs, qPrintable(QString::number(took)));
        QCOMPARE(peerCount(server), 0);
        QCOMPARE(server->state, EndpointState::Stopped);
        QVERIFY(h.endpoints(EndpointKind::TcpAcceptedPeer).isEmpty());
        QByteArray got;
        char buffer[64];
        for (ssize_t n; (n = ::recv(peer.get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            got.append(buffer, int(n));
        QVERIFY2(got.size() >= 1 && got.size() <= 3, got.constData());
    }

    // The same with timed sending every 10 ms.
    void closingTheWindowDuringTimedSendingToAPeer()
    {
        Harness h;
        h.form->show();
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd peer = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        QPointer<DataWindow> window(windowOf(h.endpoints(EndpointKind::TcpAcceptedPeer).first()));
        fillSendBox(h.endpoints(EndpointKind::TcpAcceptedPeer).first(), QStringLiteral("x"),
            QStringLiteral("1"), QStringLiteral("10"));
        const qint64 took = runApplication(*h.form, [&] {
            child<QPushButton>(window, "startTimerButton")->click();
            QTimer::singleShot(200, h.form.get(), [&] { h.form->close(); });
        });
        QVERIFY2(took < kEndsSoonMs, qPrintable(QString::number(took)));
        QCOMPARE(peerCount(server), 0);
        QTest::qWait(50);
        QVERIFY(!window);
    }

    // Quitting ends a repeat that would run for ever, and "退出" during a
    // paced repeat does not send the rest back to back.
    void quittingEndsRepeats()
    {
        Harness h;
        h.form->show();
        Fd receiver = udpReceiver();
        Endpoint *udp = h.udpClient(localPort(receiver.get()), 0);
        fillSendBox(udp, QStringLiteral("x"), QStringLiteral("2147483647"), QStringLiteral("0"));
        qint64 took = runApplication(*h.form, [&] {
            QTimer::singleShot(300, h.form.get(), [&] { h.form->close(); });
            child<QPushButton>(windowOf(udp), "sendButton")->click();
        });
        QVERIFY2(took < kEndsSoonMs, qPrintable(QString::number(took)));
        drainDatagrams(receiver.get());
        QTest::qWait(100);
        QCOMPARE(drainDatagrams(receiver.get()), 0);

        h.form->show();
        fillSendBox(udp, QStringLiteral("y"), QStringLiteral("100"), QStringLiteral("200"));
        took = runApplication(*h.form, [&] {
            QTimer::singleShot(300, h.form.get(), [&] { child<QPushButton>(h.form, "exitButton")->click(); });
            child<QPushButton>(windowOf(udp), "sendButton")->click();
        });
        QVERIFY2(took < kEndsSoonMs, qPrintable(QString::number(took)));
        const int sent = drainDatagrams(receiver.get());
        QVERIFY2(sent >= 1 && sent <= 3, qPrintable(QString::number(sent)));
    }

    // The repeat-count list open while its window's peer leaves.
    void peerLeavesWhileTheRepeatCountListIsOpen()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd peer = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        QPointer<DataWindow> window(windowOf(h.endpoints(EndpointKind::TcpAcceptedPeer).first()));
        QPointer<QWidget> list;
        QTimer::singleShot(100, window, [&] {
            list = QApplication::activePopupWidget();
            peer.reset();
        });
        // Should the list block, it is closed once the window has gone.
        QTimer::singleShot(3000, qApp, [] {
            if (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
        });
        child<RepeatCountBox>(window, "repeatCountBox")->showPopup();
        QTRY_VERIFY(!window);
        QVERIFY(!list);
        QCOMPARE(peerCount(server), 0);
    }

    // The peer leaves, and its window goes, while the file dialog that
    // "发送文件..." opened from the send box's menu is still open; then the
    // user picks a file. Nothing is sent and nothing freed is touched.
    void peerLeavesWhileTheSendFileDialogIsOpen()
    {
        Harness h;
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("f.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("payload") == 7);
        file.close();
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd peer = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        QPointer<DataWindow> window(windowOf(h.endpoints(EndpointKind::TcpAcceptedPeer).first()));
        window->bringToFront();
        bool dialogSeen = false;
        bool windowGoneWhileOpen = false;
        std::function<void()> whileOpen = [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog) {
                QTimer::singleShot(20, qApp, whileOpen); // not shown yet
                return;
            }
            dialogSeen = true;
            peer.reset();
            QTRY_VERIFY(!window); // inside the dialog's own loop
            windowGoneWhileOpen = true;
            dialog->selectFile(file.fileName());
            static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
        };
        QTimer::singleShot(50, qApp, whileOpen);
        // Should the dialog block, it is closed after a while.
        QTimer::singleShot(8000, qApp, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        chooseFromContextMenu(*child<SendEdit>(window, "sendEdit"), QStringLiteral("发送文件..."));
        QTRY_VERIFY(dialogSeen);
        QTRY_VERIFY(windowGoneWhileOpen);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(peerCount(server), 0);
        QCOMPARE(windowOf(server)->sentBytes(), 0);
        QCOMPARE(h.recorder.messages + h.recorder.exceptions, QStringList());
    }

    // A peer arrives, and takes the selection, while a creation dialog is
    // open: the new endpoint still goes under its kind node, and outlives the
    // peer.
    void peerArrivesWhileACreationDialogIsOpen()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *first = h.tcpServer(port);
        Fd peer;
        const int second = unusedPort();
        const auto arriveThenFill = [&](QLineEdit *portBox, int value) {
            peer = connectTo(port);
            QTRY_COMPARE(peerCount(first), 1);
            const auto peerSelected = [&] {
                const Endpoint *selected
                    = h.form->views().endpointOfNode(child<EndpointTree>(h.form, "tree")->currentItem());
                return selected && selected->kind == EndpointKind::TcpAcceptedPeer;
            };
            QTRY_VERIFY(peerSelected());
            portBox->setText(QString::number(value));
        };
        Endpoint *server = h.create<NewTcpServerDialog>(h.form->kindNode(EndpointKind::TcpServer),
            [&](NewTcpServerDialog &d) { arriveThenFill(child<QLineEdit>(d, "portEdit"), second); });
        QVERIFY(server);
        QCOMPARE(nodeOf(server)->parent(), h.form->kindNode(EndpointKind::TcpServer));
        peer.reset();
        QTRY_COMPARE(peerCount(first), 0);
        Fd other = connectTo(second);
        QTRY_COMPARE(peerCount(server), 1);
        other.reset();
        QTRY_COMPARE(peerCount(server), 0);

        Fd listener = listenOnLoopback();
        Endpoint *client = h.create<NewTcpClientDialog>(
            h.form->kindNode(EndpointKind::TcpClient), [&](NewTcpClientDialog &d) {
                child<QLineEdit>(d, "addressEdit")->setText(QStringLiteral("127.0.0.1"));
                arriveThenFill(child<QLineEdit>(d, "portEdit"), localPort(listener.get()));
            });
        QVERIFY(client);
        QCOMPARE(nodeOf(client)->parent(), h.form->kindNode(EndpointKind::TcpClient));
        peer.reset();
        QTRY_COMPARE(peerCount(first), 0);
        windowOf(client)->requestStart();
        QTRY_COMPARE(client->state, EndpointState::Connected);
        QVERIFY(h.recorder.exceptions.isEmpty());
    }

    // A creation dialog opened from a server's node stays open while peers
    // arrive at that server and leave, and the server itself is deleted;
    // answered then, it makes a new server under its kind node.
    void creationDialogAnsweredAfterItsServerWasDeleted()
    {
        PlainForm p;
        p.form->show();
        LoopDepthProbe probe;
        const int port = unusedPort();
        Endpoint *first = p.form->controller().createTcpServer(port);
        QVERIFY(first);
        child<EndpointTree>(p.form, "tree")->setCurrentItem(nodeOf(first));
        child<QPushButton>(p.form, "createButton")->click();
        auto *dialog = child<NewTcpServerDialog>(p.form, "newTcpServerDialog");
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(QApplication::activeModalWidget(), dialog);

        for (int round = 0; round < 3; ++round) {
            Fd peer = connectTo(port);
            QTRY_COMPARE(peerCount(first), 1);
            peer.reset();
            QTRY_COMPARE(peerCount(first), 0);
        }
        Fd last = connectTo(port);
        QTRY_COMPARE(peerCount(first), 1);
        child<EndpointTree>(p.form, "tree")->setCurrentItem(nodeOf(first));
        p.form->deleteSelected();
        QVERIFY(!p.form->endpoints().contains(first));
        QVERIFY(dialog->isVisible());

        const int second = unusedPort();
        child<QLineEdit>(dialog, "portEdit")->setText(QString::number(second));
        child<QPushButton>(dialog, "okButton")->click();
        QVERIFY(!dialog->isVisible());
        const QList<Endpoint *> servers = p.endpoints(EndpointKind::TcpServer);
        QCOMPARE(servers.size(), 1);
        QCOMPARE(nodeOf(servers[0])->parent(), p.form->kindNode(EndpointKind::TcpServer));
        QCOMPARE(servers[0]->localPort, second);
        Fd other = connectTo(second);
        QTRY_COMPARE(peerCount(servers[0]), 1);
        QCOMPARE(p.recorder->messages + p.recorder->exceptions, QStringList());
        QCOMPARE(probe.deepest(), 0);
    }

    // The application quits while a creation dialog, a dialog that goes when
    // closed and a message box are open: the box and the dialog go with the
    // loop, the kept creation dialog with its window, and nothing answers.
    void quittingWhileDialogsAndABoxAreOpen()
    {
        PlainForm p(false);
        p.form->show();
        int answered = 0;
        QPointer<QDialog> owned = new QDialog;
        QPointer<QMessageBox> box;
        bool boxSeen = false;
        QPointer<QDialog> creation = child<NewUdpServerDialog>(p.form, "newUdpServerDialog");
        const qint64 took = runApplication(*p.form, [&] {
            child<EndpointTree>(p.form, "tree")->setCurrentItem(p.form->kindNode(EndpointKind::UdpServer));
            child<QPushButton>(p.form, "createButton")->click();
            OpenDialog(owned, p.form.get(), [&](int) { ++answered; });
            ShowMessage(QStringLiteral("open at quit"));
            QTimer::singleShot(0, qApp, [&] {
                for (QWidget *top : QApplication::topLevelWidgets())
                    if (auto *shown = qobject_cast<QMessageBox *>(top); shown && shown->isVisible())
                        box = shown;
                boxSeen = !box.isNull() && box->text() == QStringLiteral("open at quit");
                QCoreApplication::exit(0);
            });
        });
        QVERIFY2(took < kEndsSoonMs, qPrintable(QString::number(took)));
        QVERIFY(boxSeen);
        QVERIFY(box.isNull());
        QVERIFY(owned.isNull());
        QVERIFY(creation && creation->isVisible());
        p.form.reset();
        QVERIFY(creation.isNull());
        QCOMPARE(answered, 0);
    }

    // The file dialog of "保存日志..." answered after the peer left and took
    // its window with it: nothing is written and nothing freed is touched.
    void logFileChosenAfterItsWindowWentWritesNothing()
    {
        PlainForm p;
        p.form->show();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("late.log"));
        const int port = unusedPort();
        Endpoint *server = p.form->controller().createTcpServer(port);
        Fd peer = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        QPointer<DataWindow> window(windowOf(p.endpoints(EndpointKind::TcpAcceptedPeer).first()));
        window->bringToFront();
        chooseFromContextMenu(*child<LogView>(window, "log"), QStringLiteral("保存日志..."));
        QPointer<QFileDialog> dialog;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        peer.reset();
        QTRY_VERIFY(!window);
        QVERIFY(dialog);
        child<QLineEdit>(dialog, "fileNameEdit")->setText(path);
        static_cast<QDialog *>(dialog.data())->done(QDialog::Accepted);
        QTRY_VERIFY(!dialog);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(p.recorder->messages + p.recorder->exceptions, QStringList());
    }

    // A peer that arrives during a drag takes the selection; the drop links
    // the node that was dragged.
    void dropLinksTheDraggedNodeAfterAPeerArrived()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd listener = listenOnLoopback();
        Endpoint *client = h.tcpClient(localPort(listener.get()));
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(client));
        child<EndpointTree>(h.form, "tree")->setDraggedNode(nodeOf(client));
        Fd peer = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        QVERIFY(child<EndpointTree>(h.form, "tree")->currentItem() != nodeOf(client));
        EndpointTree *tree = child<EndpointTree>(h.form, "tree");
        emit tree->linkRequested(tree->draggedNode(), nodeOf(server));
        QCOMPARE(server->partner, client);
        QCOMPARE(client->partner, server);
    }
};

QTEST_MAIN(TstNestedLoops)
#include "tst_nestedloops.moc"
