#include "app/Unit1.h"
#include "app/endpointtree.h"
#include "datapanel/datapanel.h"
#include "ui/documentarea.h"
#include "ui/infopanel.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

namespace {

// An endpoint as the create command leaves it: record, window and node under
// the kind node.
TMySocket *addEndpoint(TForm1 &form, const QString &kind, const QString &text, int image)
{
    form.tree->setCurrentItem(form.kindNode(kind));
    auto record = MakeRecord(kind);
    auto *window = new TFrmData(form.documents);
    record->DataForm = window;
    window->attachedEndpoint = record.get();
    return form.attach(std::move(record), text, image);
}

} // namespace

class TstMainWindow : public QObject {
    Q_OBJECT

private slots:
    void startsWithFiveKindNodesAndTheInformationPanel()
    {
        TForm1 form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Portwright V2.5"));
        QCOMPARE(form.size(), QSize(717, 541));
        QCOMPARE(form.tree->topLevelItemCount(), 5);
        const QStringList expected = {"TCP Server", "TCP Client", "UDP Server", "UDP Client", "UDP Group"};
        for (int i = 0; i < 5; ++i) {
            QTreeWidgetItem *node = form.tree->topLevelItem(i);
            QCOMPARE(node->text(0), expected[i]);
            QCOMPARE(StateIndex(node), int(ImgKindNode));
            QCOMPARE(EndpointOf(node), nullptr);
            QCOMPARE(node->childCount(), 0);
        }
        QCOMPARE(form.endpoints().Count(), 0);
        QVERIFY(form.isInfoPanelShown());
        QCOMPARE(form.createButton->text(), QStringLiteral("创建"));
        QCOMPARE(form.deleteButton->text(), QStringLiteral("删除"));
        QCOMPARE(form.exitButton->text(), QStringLiteral("退出"));
        QCOMPARE(form.stopButton->text(), QStringLiteral("停止 "));
        QVERIFY(form.startButton->isHidden() && form.stopButton->isHidden());
        QVERIFY(form.statusBar->isHidden());
    }

    void stateImagesAreDistinctPictures()
    {
        for (int i = 0; i < StateImageCount; ++i) {
            const QImage image = StateImage(i).toImage();
            QCOMPARE(image.size(), QSize(16, 16));
            for (int j = 0; j < i; ++j)
                QVERIFY2(
                    image != StateImage(j).toImage(), qPrintable(QStringLiteral("%1 == %2").arg(i).arg(j)));
        }
    }

    void webReplyTextsAreAsShipped()
    {
        TForm1 form;
        const QStringList header = form.infoPanel->WebStr1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(header.size(), 6);
        QCOMPARE(header.first(), QStringLiteral("HTTP/1.1 200 OK"));
        QCOMPARE(header.last(), QStringLiteral("ETag: \"0c76c133e39c71:8f6\""));
        const QStringList page = form.infoPanel->WebStr2->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(page.size(), 26);
        QCOMPARE(page[3], QStringLiteral("<meta http-equiv=\"Content-Type\" "));
        QCOMPARE(page[10], QStringLiteral("<title>New Page 1</title>"));
        QCOMPARE(page[14], QStringLiteral("<center>  "));
        QVERIFY(page[21].endsWith(QLatin1Char(' ')));
        QCOMPARE(page[25], QStringLiteral("</html>"));
        QVERIFY(form.infoPanel->WebStr1->isHidden() && form.infoPanel->WebStr2->isHidden());
    }

    void attachingANodeRegistersTheEndpoint()
    {
        TForm1 form;
        QTreeWidgetItem *kind = form.kindNode(Kinds::TcpClient);
        TMySocket *e = addEndpoint(form, Kinds::TcpClient, NodeText("10.0.0.2", 8080), ImgDisconnected);
        QCOMPARE(kind->childCount(), 1);
        QTreeWidgetItem *node = kind->child(0);
        QCOMPARE(node->text(0), QStringLiteral("10.0.0.2[8080]"));
        QVERIFY(kind->isExpanded());
        QCOMPARE(EndpointOf(node), e);
        QCOMPARE(e->Node, node);
        QCOMPARE(StateIndex(node), int(ImgDisconnected));
        QCOMPARE(form.tree->currentItem(), node);
        QCOMPARE(form.endpoints().Count(), 1);
        QCOMPARE(form.endpoints().Items(0), e);
        QCOMPARE(e->DataForm->stateLabel->text(), QStringLiteral("已断开")); // refreshed
        // Same text twice: both exist side by side.
        TMySocket *twin = addEndpoint(form, Kinds::TcpClient, NodeText("10.0.0.2", 8080), ImgDisconnected);
        QCOMPARE(kind->childCount(), 2);
        QVERIFY(twin != e);
        QCOMPARE(form.endpoints().Count(), 2);
    }

    void selectingANodeBringsItsWindowToFront()
    {
        TForm1 form;
        form.show();
        form.showInfoPanel(false);
        TMySocket *a = addEndpoint(form, Kinds::UdpClient, "127.0.0.1[1]", ImgUdp);
        TMySocket *b = addEndpoint(form, Kinds::UdpClient, "127.0.0.1[2]", ImgUdp);
        QCOMPARE(form.documents->ActiveDocument(), b->DataForm.data());
        a->RemotePort = 4321;
        form.tree->setCurrentItem(a->Node);
        QCOMPARE(form.documents->ActiveDocument(), a->DataForm.data());
        QCOMPARE(a->DataForm->peerPortLabel->text(), QStringLiteral("对方端口:4321"));
        // A kind node changes nothing in the document area.
        form.tree->setCurrentItem(form.kindNode(Kinds::TcpServer));
        QCOMPARE(form.documents->ActiveDocument(), a->DataForm.data());
        // A window minimised by its close box comes back when its node is selected.
        form.tree->setCurrentItem(b->Node);
        form.documents->minimizeButton->click();
        QVERIFY(form.documents->IsMinimized(b->DataForm));
        form.tree->setCurrentItem(a->Node);
        form.tree->setCurrentItem(b->Node);
        QVERIFY(!form.documents->IsMinimized(b->DataForm));
        QCOMPARE(form.documents->ActiveDocument(), b->DataForm.data());
    }

    void dragOverRules()
    {
        TForm1 form;
        TMySocket *server = addEndpoint(form, Kinds::TcpServer, "127.0.0.1[60000]", ImgListening);
        TMySocket *client = addEndpoint(form, Kinds::TcpClient, "127.0.0.1[60001]", ImgDisconnected);
        TMySocket *client2 = addEndpoint(form, Kinds::TcpClient, "127.0.0.1[60002]", ImgDisconnected);
        TMySocket *sameText = addEndpoint(form, Kinds::UdpClient, "127.0.0.1[60000]", ImgUdp);
        TMySocket *udp = addEndpoint(form, Kinds::UdpClient, "127.0.0.1[9]", ImgUdp);
        QTreeWidgetItem *kind = form.kindNode(Kinds::UdpGroup);

        QVERIFY(form.canLink(server->Node, nullptr)); // empty space
        QVERIFY(!form.canLink(server->Node, server->Node)); // itself
        QVERIFY(!form.canLink(server->Node, sameText->Node)); // same text, other kind
        QVERIFY(!form.canLink(server->Node, kind)); // onto a kind node
        QVERIFY(!form.canLink(kind, server->Node)); // a kind node dragged
        QVERIFY(!form.canLink(client->Node, client2->Node)); // same kind
        QVERIFY(form.canLink(server->Node, client->Node)); // server and client
        QVERIFY(form.canLink(udp->Node, server->Node)); // any two kinds
    }

    void dropLinksBothWaysAndRelinkingUnlinksTheOldPartner()
    {
        TForm1 form;
        MessageRecorder recorder;
        TMySocket *server = addEndpoint(form, Kinds::TcpServer, "127.0.0.1[60000]", ImgListening);
        TMySocket *client = addEndpoint(form, Kinds::TcpClient, "127.0.0.1[60001]", ImgDisconnected);
        TMySocket *udp = addEndpoint(form, Kinds::UdpClient, "127.0.0.1[9]", ImgUdp);

        form.linkDropped(client->Node, server->Node);
        QCOMPARE(server->Link, client);
        QCOMPARE(client->Link, server);
        QCOMPARE(recorder.messages, QStringList{"监听管道已经建立!"});

        form.linkDropped(udp->Node, server->Node);
        QCOMPARE(server->Link, udp);
        QCOMPARE(udp->Link, server);
        QCOMPARE(client->Link, nullptr); // no longer points at a partner that moved on
        QCOMPARE(recorder.messages.size(), 2);

        // Nothing under the pointer, or a kind node: nothing happens.
        form.linkDropped(udp->Node, nullptr);
        form.linkDropped(udp->Node, form.kindNode(Kinds::UdpGroup));
        QCOMPARE(recorder.messages.size(), 2);

        // Removing an endpoint unlinks its partner.
        form.endpoints().Remove(udp);
        QCOMPARE(server->Link, nullptr);
    }

    void informationPanelLinksOpenTheirPages()
    {
        TForm1 form;
        form.show();
        MessageRecorder recorder;
        QTest::mouseClick(form.infoPanel->tcpTitle, Qt::LeftButton);
        QTest::mouseClick(form.infoPanel->udpPicture, Qt::LeftButton);
        QTest::mouseClick(form.infoPanel->vendorTitle, Qt::LeftButton);
        QCOMPARE(recorder.addresses,
            QStringList({TInfoPanel::TcpPage, TInfoPanel::UdpPage, TInfoPanel::HomePage}));
        QVERIFY(!form.infoPanel->tcpPicture->pixmap().isNull());
        QCOMPARE(form.infoPanel->tcpPicture->cursor().shape(), Qt::PointingHandCursor);
    }

    void informationPanelCoversTheDocuments()
    {
        TForm1 form;
        form.show();
        QVERIFY(form.infoPanel->isVisible());
        QVERIFY(!form.documents->isVisible());
        form.showInfoPanel(false);
        QVERIFY(!form.infoPanel->isVisible());
        QVERIFY(form.documents->isVisible());
        form.showInfoPanel(true);
        QVERIFY(form.infoPanel->isVisible());
    }

    void exitStopsTheEventLoop()
    {
        TForm1 form;
        QEventLoop loop;
        QTimer::singleShot(0, form.exitButton, &QPushButton::click);
        QTimer::singleShot(5000, &loop, [&] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
    }

    // What a user meets in the window: the counters line whole however large
    // the numbers, the selected node standing for the window in front (also
    // after minimising it), and whole node texts once the tree scrolls.
    void windowLayoutAndSelectionStayInStep()
    {
        TForm1 form;
        form.resize(1024, 734);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TMySocket *a = addEndpoint(form, Kinds::UdpClient, "127.0.0.1[7001]", ImgUdp);
        TMySocket *b = addEndpoint(form, Kinds::UdpClient, "127.0.0.1[7002]", ImgUdp);
        form.showInfoPanel(false);

        TFrmData *w = b->DataForm;
        w->receivedBytes = 12345678901;
        w->sentBytes = 50000000000;
        w->updateCounters();
        w->flushLog();
        QApplication::processEvents();
        const QString line = w->countersText();
        QVERIFY(line.contains(QStringLiteral("50000000000")));
        QLabel *counters = nullptr;
        for (QLabel *label : w->countersBar->findChildren<QLabel *>())
            if (label->text() == line)
                counters = label;
        QVERIFY(counters);
        QTRY_VERIFY2(counters->contentsRect().width() >= counters->fontMetrics().horizontalAdvance(line),
            qPrintable(QStringLiteral("%1 px for %2 px")
                           .arg(counters->contentsRect().width())
                           .arg(counters->fontMetrics().horizontalAdvance(line))));

        // Minimising the front window selects the node of the one now in front.
        QCOMPARE(form.tree->currentItem(), b->Node);
        QCOMPARE(form.documents->ActiveDocument(), b->DataForm.data());
        form.documents->minimizeButton->click();
        QCOMPARE(form.documents->ActiveDocument(), a->DataForm.data());
        QCOMPARE(form.tree->currentItem(), a->Node);
        // With none in front, a click on the selected node brings its window.
        form.documents->minimizeButton->click();
        QCOMPARE(form.documents->ActiveDocument(), nullptr);
        QCOMPARE(form.tree->currentItem(), a->Node);
        const QRect row = form.tree->visualItemRect(a->Node);
        QTest::mouseClick(form.tree->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(form.documents->ActiveDocument(), a->DataForm.data());
        QTest::mouseClick(
            form.tree->viewport(), Qt::LeftButton, {}, form.tree->visualItemRect(b->Node).center());
        QCOMPARE(form.documents->ActiveDocument(), b->DataForm.data());

        // Enough nodes for a vertical scroll bar, one of them long and deep.
        TMySocket *server = addEndpoint(form, Kinds::TcpServer, "192.168.100.200[60000]", ImgListening);
        auto *deep = new QTreeWidgetItem(server->Node, {QStringLiteral("192.168.100.201[65535] and more")});
        SetStateIndex(deep, ImgConnected);
        server->Node->setExpanded(true);
        for (int i = 0; i < 60; ++i)
            addEndpoint(form, Kinds::UdpClient, QStringLiteral("10.0.0.%1[%2]").arg(i).arg(9000 + i), ImgUdp);
        QApplication::processEvents();
        QTRY_VERIFY(form.tree->verticalScrollBar()->isVisible());
        const int textWidth = form.tree->fontMetrics().horizontalAdvance(deep->text(0));
        const QRect deepRow = form.tree->visualItemRect(deep);
        QVERIFY2(deepRow.width() >= textWidth + form.tree->iconSize().width(),
            qPrintable(QStringLiteral("%1 px for %2 px of text").arg(deepRow.width()).arg(textWidth)));
        QVERIFY(form.tree->columnWidth(0) >= form.tree->viewport()->width());
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
