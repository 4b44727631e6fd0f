// Runs on a real X display (see smoke.sh): the program's start-up shows one
// top-level window with the kind nodes, drawn well enough to screenshot.
#include "app/Unit1.h"
#include "app/endpointtree.h"
#include "datapanel/datapanel.h"

#include <QCheckBox>
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
        for (int i = 0; i < form->TreeView1->topLevelItemCount(); ++i)
            kinds << form->TreeView1->topLevelItem(i)->text(0);
        QCOMPARE(kinds, QStringList({"TCP Server", "TCP Client", "UDP Server", "UDP Client", "UDP Group"}));

        QTest::qWait(200);
        const QPixmap shot = form->screen()->grabWindow(form->winId());
        QVERIFY(!shot.isNull());
        const QString path = qEnvironmentVariable("SMOKE_SHOT", QStringLiteral("smoke-window.png"));
        QVERIFY(shot.save(path));
        qInfo("screenshot %s", qPrintable(path));

        // A data window in front of the documents, for the eye.
        form->TreeView1->setCurrentItem(form->KindNode(Kinds::TcpClient));
        auto record = MakeRecord(Kinds::TcpClient);
        record->RemoteIP = QStringLiteral("127.0.0.1");
        record->RemotePort = 60000;
        auto *window = new TFrmData(form->Documents);
        record->DataForm = window;
        window->Endpoint = record.get();
        form->AttachEndpointNode(std::move(record), NodeText("127.0.0.1", 60000), ImgDisconnected);
        form->ShowInfoPanel(false);
        window->CheckBox2->setChecked(true);
        window->CheckBox2Click();
        window->LogReceived(QByteArray("hello\r\n\x00\x01 end", 13));
        window->LogReceived(QByteArray(3000, 'x'));
        window->FlushLog();
        QTest::qWait(200);
        QVERIFY(
            form->screen()->grabWindow(form->winId()).save(path.chopped(4) + QStringLiteral("-data.png")));
    }
};

QTEST_MAIN(TstSmoke)
#include "tst_smoke.moc"
