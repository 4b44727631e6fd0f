// Runs on a real X display (see smoke.sh): the program's start-up shows one
// top-level window with the kind nodes, drawn well enough to screenshot.
#include "app/dialogs/newtcpclientdialog.h"
#include "app/dialogs/newtcpserverdialog.h"
#include "app/dialogs/newudpclientdialog.h"
#include "app/dialogs/newudpgroupdialog.h"
#include "app/dialogs/newudpserverdialog.h"
#include "app/endpointviews.h"
#include "app/mainwindow.h"
#include "datawindow/datawindow.h"
#include "endpoints/endpointcontroller.h"
#include "support/datawindow_parts.h"
#include "ui/endpointtree.h"

#include <QCheckBox>
#include <QDialog>
#include <QProcess>
#include <QScreen>
#include <QtTest>

class TstSmoke : public QObject {
    Q_OBJECT

private slots:
    void mainWindowAppearsWithTheKindNodes()
    {
        const auto form = StartPortwright();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QList<QWidget *> windows;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible())
                windows << w;
        QCOMPARE(windows.size(), 1);
        QCOMPARE(windows.first()->windowTitle(), QStringLiteral("Portwright V2.5"));
        QStringList kinds;
        for (int i = 0; i < child<EndpointTree>(form, "tree")->topLevelItemCount(); ++i)
            kinds << child<EndpointTree>(form, "tree")->topLevelItem(i)->text(0);
        QCOMPARE(kinds,
            QStringList(
                {"TCP Server", "TCP Client", "UDP Server", "UDP Client", "UDP Group", "Serial Port"}));

        QTest::qWait(200);
        const QPixmap shot = form->screen()->grabWindow(form->winId());
        QVERIFY(!shot.isNull());
        const QString path = qEnvironmentVariable("SMOKE_SHOT", QStringLiteral("smoke-window.png"));
        QVERIFY(shot.save(path));
        qInfo("screenshot %s", qPrintable(path));

        // A data window in front of the documents, for the eye.
        child<EndpointTree>(form, "tree")->setCurrentItem(form->kindNode(EndpointKind::TcpClient));
        auto record = makeEndpoint(EndpointKind::TcpClient);
        record->peerAddress = QStringLiteral("127.0.0.1");
        record->peerPort = 60000;
        record->state = EndpointState::Disconnected;
        record->nodeText = nodeText("127.0.0.1", 60000);
        form->controller().makeSession(*record);
        DataWindow *window = form->views().windowOf(form->controller().attach(std::move(record)));
        form->showInfoPanel(false);
        child<QCheckBox>(window, "hexSwitch")->click();
        window->logReceived(QByteArray("hello\r\n\x00\x01 end", 13));
        window->logReceived(QByteArray(3000, 'x'));
        window->flushLog();
        QTest::qWait(200);
        QVERIFY(
            form->screen()->grabWindow(form->winId()).save(path.chopped(4) + QStringLiteral("-data.png")));
    }

    // Every dialog's title on the display is its own caption, with nothing
    // appended; the main window's stays the program's name.
    void windowTitlesAreExactlyTheirCaptions()
    {
        const auto form = StartPortwright();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const auto titleOnDisplay = [](QWidget *w) {
            QProcess xprop;
            xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-id"), QString::number(w->winId()), QStringLiteral("_NET_WM_NAME")});
            xprop.waitForFinished(5000);
            const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
            const int quote = out.indexOf(QLatin1Char('"'));
            return quote < 0 ? out : out.mid(quote + 1).chopped(1);
        };
        QCOMPARE(titleOnDisplay(form.get()), QStringLiteral("Portwright V2.5"));
        const QList<QDialog *> dialogs = {child<NewTcpServerDialog>(form, "newTcpServerDialog"),
            child<NewTcpClientDialog>(form, "newTcpClientDialog"),
            child<NewUdpClientDialog>(form, "newUdpClientDialog"),
            child<NewUdpGroupDialog>(form, "newUdpGroupDialog"),
            child<NewUdpServerDialog>(form, "newUdpServerDialog")};
        for (QDialog *dialog : dialogs) {
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            QCOMPARE(titleOnDisplay(dialog), dialog->windowTitle());
            QVERIFY(!dialog->windowTitle().contains(QStringLiteral("Portwright")));
            dialog->hide();
        }
    }
};

QTEST_MAIN(TstSmoke)
#include "tst_smoke.moc"
