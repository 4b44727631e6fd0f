// Endpoints end to end: the main window driven as a user would, with real
// peers on 127.0.0.1.
#include "core/logtexts.h"
#include "datawindow/datawindow.h"
#include "datawindow/repeatcountbox.h"
#include "datawindow/sendpanel.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/serialbridge.h"
#include "endpoints/tcpendpointevents.h"
#include "endpoints/webreply.h"
#include "net/localaddress.h"
#include "net/serial/serialport.h"
#include "net/tcp/tcpsocket.h"
#include "support/datawindow_parts.h"
#include "support/endpoint_harness.h"
#include "support/loopback.h"
#include "ui/infopanel.h"
#include "ui/stateimages.h"

#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>

#include <map>
#include <vector>

using namespace endpoint_test;
using namespace loopback_test;

namespace {

bool peerSawEnd(int handle)
{
    pollfd wait{handle, POLLIN, 0};
    if (::poll(&wait, 1, 0) != 1)
        return false;
    char byte;
    return ::recv(handle, &byte, 1, MSG_PEEK) == 0;
}

bool connectRefused(int port)
{
    Fd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback(port);
    return ::connect(probe.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == -1
        && errno == ECONNREFUSED;
}

} // namespace

class TstEndpoints : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No UDP Server made here reaches a real serial port; tests of the
        // bridge map "com1" to a pseudo-terminal of their own.
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
    }

    void tcpServerListensAndEveryPeerBecomesAnEndpoint()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        QCOMPARE(nodeOf(server)->text(0), localIpAddress() + QStringLiteral("[%1]").arg(port));
        QCOMPARE(nodeImageOf(nodeOf(server)), NodeImage::Listening);
        QCOMPARE(server->state, EndpointState::Listening);
        QVERIFY(!child<QCheckBox>(windowOf(server), "webReplySwitch")->isHidden());
        QVERIFY(!h.form->isInfoPanelShown());
        QCOMPARE(child<QLabel>(windowOf(server), "stateLabel")->text(), QStringLiteral("已启动"));

        Fd a = connectTo(port), b = connectTo(port), c = connectTo(port);
        QTRY_COMPARE(peerCount(server), 3);
        const QList<Endpoint *> peers = h.endpoints(EndpointKind::TcpAcceptedPeer);
        QCOMPARE(peers.size(), 3);
        const int ports[] = {localPort(a.get()), localPort(b.get()), localPort(c.get())};
        for (int i = 0; i < 3; ++i) {
            Endpoint *peer = peers[i];
            QCOMPARE(nodeOf(peer)->parent(), nodeOf(server));
            QCOMPARE(nodeOf(peer)->text(0), QStringLiteral("127.0.0.1[%1]").arg(ports[i]));
            QCOMPARE(nodeImageOf(nodeOf(peer)), NodeImage::Connected);
            QCOMPARE(peer->localPort, port);
            QCOMPARE(child<QLabel>(windowOf(peer), "stateLabel")->text(), QStringLiteral("已连接"));
            QCOMPARE(child<QLabel>(windowOf(peer), "peerAddressLabel")->text(),
                QStringLiteral("对方IP:127.0.0.1"));
            QVERIFY(child<QCheckBox>(windowOf(peer), "webReplySwitch")->isHidden());
        }
        // The newest peer is selected and its window in front (peers that
        // arrive together are selected together, a moment later).
        QTRY_COMPARE(child<EndpointTree>(h.form, "tree")->currentItem(), nodeOf(peers[2]));
        QTRY_VERIFY(!windowOf(peers[2])->isHidden());

        // Data is logged in the sending peer's window only.
        child<QCheckBox>(windowOf(peers[1]), "hexSwitch")->setChecked(true);
        QCOMPARE(::send(b.get(), "hi\0x", 4, 0), 4);
        QTRY_VERIFY(Harness::log(peers[1]).contains(QStringLiteral(" 收到数据：hi\u2400x{68 69 00 78 }")));
        QCOMPARE(windowOf(peers[1])->receivedBytes(), 4);
        QVERIFY(Harness::log(peers[0]).isEmpty());
        QVERIFY(Harness::log(server).isEmpty());

        // A peer that leaves takes its endpoint, node and window along.
        QPointer<DataWindow> window(windowOf(peers[0]));
        a.reset();
        QTRY_COMPARE(peerCount(server), 2);
        QVERIFY(!h.listed(peers[0]));
        QTRY_VERIFY(!window);
        QCOMPARE(h.form->endpoints().size(), 3);
    }

    void stoppingAServerRemovesItsPeersNodesInRanges()
    {
        // Each removal from the tree costs work that grows with the rows
        // left, in the view and in an assistive technology's copy of it: the
        // peers go in a few ranges, not one by one.
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        auto *tree = child<EndpointTree>(h.form, "tree");
        const int count = 40;
        for (const bool newestSelected : {true, false}) {
            std::vector<Fd> peers;
            for (int i = 0; i < count; ++i)
                peers.push_back(connectTo(port));
            QTRY_COMPARE(peerCount(server), count);
            const QList<Endpoint *> listed = h.endpoints(EndpointKind::TcpAcceptedPeer);
            QTRY_COMPARE(tree->currentItem(), nodeOf(listed.last()));
            if (!newestSelected)
                tree->setCurrentItem(nodeOf(server));
            int removals = 0;
            const QPersistentModelIndex serverRow
                = tree->model()->index(nodeOf(server)->parent()->indexOfChild(nodeOf(server)), 0,
                    tree->model()->index(tree->indexOfTopLevelItem(nodeOf(server)->parent()), 0));
            const auto counting = connect(tree->model(), &QAbstractItemModel::rowsRemoved, tree,
                [&](const QModelIndex &parent) { removals += parent == serverRow ? 1 : 0; });
            windowOf(server)->requestStop();
            QCOMPARE(peerCount(server), 0);
            disconnect(counting);
            QVERIFY2(removals <= 2,
                qPrintable(QStringLiteral("%1 removals for %2 peers").arg(removals).arg(count)));
            QCOMPARE(h.endpoints(EndpointKind::TcpAcceptedPeer).size(), 0);
            QCOMPARE(tree->currentItem(), nodeOf(server));
            windowOf(server)->requestStart();
            QCOMPARE(server->state, EndpointState::Listening);
        }
    }

    void stoppingAServerRemovesItsPeersAndStopsListening()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd a = connectTo(port), b = connectTo(port), c = connectTo(port);
        QTRY_COMPARE(peerCount(server), 3);
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(server));
        h.form->stopSelected();
        QCOMPARE(peerCount(server), 0);
        QCOMPARE(h.endpoints(EndpointKind::TcpAcceptedPeer).size(), 0);
        QCOMPARE(server->state, EndpointState::Stopped);
        QCOMPARE(nodeImageOf(nodeOf(server)), NodeImage::Stopped);
        QCOMPARE(child<QLabel>(windowOf(server), "stateLabel")->text(), QStringLiteral("已停止"));
        QTRY_VERIFY(peerSawEnd(a.get()) && peerSawEnd(b.get()) && peerSawEnd(c.get()));
        QVERIFY(connectRefused(port));

        // Started again from its own window.
        windowOf(server)->requestStart();
        QCOMPARE(server->state, EndpointState::Listening);
        QCOMPARE(nodeImageOf(nodeOf(server)), NodeImage::Listening);
        Fd again = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        // And stopped from there with the right mouse button.
        QTest::mouseRelease(child<QPushButton>(windowOf(server), "stopButton"), Qt::RightButton);
        QCOMPARE(server->state, EndpointState::Stopped);
        QCOMPARE(peerCount(server), 0);
        QVERIFY(connectRefused(port));
    }

    // Peers arriving together build only the window that ends up in front;
    // the others keep what arrived and show it, counted and logged as it
    // would have been, when they are first brought to the front.
    void aBurstOfPeersBuildsOnlyTheWindowInFront()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        constexpr int count = 40;
        std::vector<Fd> peers;
        for (int i = 0; i < count; ++i)
            peers.push_back(connectTo(port));
        // Every peer says who it is; every third one says it twice.
        struct Said {
            QByteArray line;
            int repeats;
        };
        std::map<int, Said> said; // by the peer's port
        for (int i = 0; i < count; ++i) {
            const Said what{"peer " + QByteArray::number(i) + "\n", i % 3 == 0 ? 2 : 1};
            for (int r = 0; r < what.repeats; ++r)
                QCOMPARE(::send(peers[size_t(i)].get(), what.line.constData(), size_t(what.line.size()), 0),
                    what.line.size());
            said[localPort(peers[size_t(i)].get())] = what;
        }
        QTRY_COMPARE(peerCount(server), count);
        const QList<Endpoint *> endpoints = h.endpoints(EndpointKind::TcpAcceptedPeer);
        for (Endpoint *peer : endpoints)
            QTRY_COMPARE(windowOf(peer)->receivedBytes(),
                said.at(peer->peerPort).line.size() * said.at(peer->peerPort).repeats);
        // The newest is selected and in front, built; most others never were.
        QTRY_COMPARE(child<EndpointTree>(h.form, "tree")->currentItem(), nodeOf(endpoints.last()));
        QTRY_VERIFY(!windowOf(endpoints.last())->isHidden());
        QVERIFY(windowOf(endpoints.last())->isBuilt());
        const auto unbuilt = std::count_if(
            endpoints.begin(), endpoints.end(), [](const Endpoint *e) { return !windowOf(e)->isBuilt(); });
        QVERIFY2(unbuilt >= count - 10,
            qPrintable(QStringLiteral("%1 of %2 built").arg(count - unbuilt).arg(count)));

        for (qsizetype i = 0; i < endpoints.size(); ++i) {
            Endpoint *peer = endpoints[i];
            DataWindow *window = windowOf(peer);
            const Said &what = said.at(peer->peerPort);
            const QString counters = CountersLine(what.line.size() * what.repeats, 0);
            window->flushLog();
            QCOMPARE(window->countersText(), counters);
            const bool wasBuilt = window->isBuilt();
            // Half as a click on the node does (which refreshes the status),
            // half built as they stand, from what they kept.
            if (i % 2) {
                h.form->showSelectedEndpoint(nodeOf(peer));
                QVERIFY(!window->isHidden());
            } else {
                window->build();
            }
            QVERIFY(window->isBuilt());
            QCOMPARE(Harness::log(peer).count(QString::fromLatin1(what.line)), what.repeats);
            QCOMPARE(child<QLabel>(window, "countersLabel")->text(), counters);
            QCOMPARE(child<QLabel>(window, "stateLabel")->text(), QStringLiteral("已连接"));
            QCOMPARE(child<QLabel>(window, "peerPortLabel")->text(),
                QStringLiteral("对方端口:%1").arg(peer->peerPort));
            QVERIFY2(wasBuilt || child<QCheckBox>(window, "webReplySwitch")->isHidden(),
                "peer windows have no switch");
        }
    }

    void serverOnAPortInUseIsKeptStopped()
    {
        Harness h;
        Fd holder = listenOnLoopback();
        const int port = localPort(holder.get());
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        QCOMPARE(h.recorder.messages, QStringList{"该端口已被占用,监听未启动!"});
        QCOMPARE(server->state, EndpointState::Stopped);
        QCOMPARE(nodeImageOf(nodeOf(server)), NodeImage::Stopped);
        QVERIFY(h.listed(server));
        windowOf(server)->requestStart();
        QCOMPARE(h.recorder.messages.last(), QStringLiteral("Socket端口已经被占用!"));
        QCOMPARE(server->state, EndpointState::Stopped);
        holder.reset();
        windowOf(server)->requestStart();
        QCOMPARE(server->state, EndpointState::Listening);
        QCOMPARE(child<QLabel>(windowOf(server), "stateLabel")->text(), QStringLiteral("已启动"));
    }

    // A reset is written into the server's log (never into its send box,
    // whose text would go out with the next send) and takes the peer's
    // endpoint, window and descriptor along as a normal close does.
    void resetPeersAreLoggedAndRemoved()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        const int fdsBefore = openDescriptorCount();
        Fd a = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        QPointer<DataWindow> window(windowOf(h.endpoints(EndpointKind::TcpAcceptedPeer).first()));
        resetAndClose(a);
        QTRY_VERIFY(
            Harness::log(server).contains(QStringLiteral("Client Socket异常,代码=%1").arg(ECONNRESET)));
        QTRY_COMPARE(peerCount(server), 0);
        QVERIFY(h.endpoints(EndpointKind::TcpAcceptedPeer).isEmpty());
        QTRY_VERIFY(!window);
        QVERIFY(child<SendEdit>(windowOf(server), "sendEdit")->toPlainText().isEmpty());

        const int many = 300;
        for (int i = 0; i < many; ++i) {
            Fd peer = connectTo(port);
            resetAndClose(peer);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            Harness::log(server).count(QStringLiteral("Client Socket异常")) == many + 1, 20000);
        QTRY_COMPARE(peerCount(server), 0);
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptorCount(), fdsBefore, 10000);
        QCOMPARE(h.form->endpoints().size(), 1);
        QVERIFY(h.recorder.exceptions.isEmpty());

        // What the server window sends is what was typed, not an error line.
        Fd b = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        child<SendEdit>(windowOf(server), "sendEdit")->setPlainText(QStringLiteral("hello"));
        windowOf(server)->sendTyped();
        QCOMPARE(readWithin(b.get()), QByteArray("hello"));
    }

    void tcpClientConnectsLogsAndReconnects()
    {
        Harness h;
        Fd listener = listenOnLoopback();
        const int port = localPort(listener.get());
        Endpoint *client = h.tcpClient(port);
        QVERIFY(client);
        QCOMPARE(nodeOf(client)->text(0), QStringLiteral("127.0.0.1[%1]").arg(port));
        QCOMPARE(nodeOf(client)->parent(), h.form->kindNode(EndpointKind::TcpClient));
        QCOMPARE(client->state, EndpointState::Disconnected);
        QCOMPARE(client->localPort, 0);
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Disconnected);
        QVERIFY(child<QCheckBox>(windowOf(client), "webReplySwitch")->isHidden());

        windowOf(client)->requestStart();
        Fd peer = acceptServing(listener.get());
        QVERIFY(peer.get() >= 0);
        QTRY_COMPARE(client->state, EndpointState::Connected);
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Connected);
        sockaddr_in far{};
        socklen_t size = sizeof far;
        ::getpeername(peer.get(), reinterpret_cast<sockaddr *>(&far), &size);
        QCOMPARE(client->localPort, int(ntohs(far.sin_port)));
        QCOMPARE(child<QLabel>(windowOf(client), "localPortLabel")->text(),
            QStringLiteral("本地端口:%1").arg(client->localPort));

        ::send(peer.get(), "abc", 3, 0);
        QTRY_VERIFY(Harness::log(client).endsWith(QStringLiteral(" 收到数据：abc")));

        peer.reset();
        QTRY_COMPARE(client->state, EndpointState::Disconnected);
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Disconnected);
        QCOMPARE(child<QLabel>(windowOf(client), "stateLabel")->text(), QStringLiteral("已断开"));
        QVERIFY(h.listed(client));

        windowOf(client)->requestStart();
        Fd second = acceptServing(listener.get());
        QVERIFY(second.get() >= 0);
        QTRY_COMPARE(client->state, EndpointState::Connected);
        QVERIFY(h.recorder.messages.isEmpty());
    }

    void refusedConnectShowsNothing()
    {
        Harness h;
        Endpoint *client = h.tcpClient(unusedPort());
        windowOf(client)->requestStart();
        QTest::qWait(200);
        QCOMPARE(client->state, EndpointState::Disconnected);
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Disconnected);
        QVERIFY(h.recorder.messages.isEmpty());
        QVERIFY(h.recorder.exceptions.isEmpty());
    }

    void stoppingAClientFromItsWindow()
    {
        Harness h;
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        Fd &peer = connected.peer;
        QCOMPARE(client->state, EndpointState::Connected);
        // The tree's selection is elsewhere: the window stops its own endpoint.
        child<EndpointTree>(h.form, "tree")->setCurrentItem(h.form->kindNode(EndpointKind::UdpGroup));
        QTest::mouseRelease(child<QPushButton>(windowOf(client), "stopButton"), Qt::LeftButton);
        QCOMPARE(client->state, EndpointState::Disconnected);
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Disconnected);
        QTRY_VERIFY(peerSawEnd(peer.get()));
    }

    void stoppingAClientFromTheKeyboard()
    {
        Harness h;
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        auto *stop = child<QPushButton>(windowOf(client), "stopButton");
        QSignalSpy released(stop->parent(), SIGNAL(stopReleased()));
        QTest::keyClick(stop, Qt::Key_Space);
        QCOMPARE(client->state, EndpointState::Disconnected);
        QTRY_VERIFY(peerSawEnd(connected.peer.get()));
        QCOMPARE(released.count(), 1);
    }

    void stoppingAPeerFromItsOwnWindow()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd a = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        Endpoint *peer = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        QPointer<DataWindow> window(windowOf(peer));
        QTest::mouseRelease(child<QPushButton>(window, "stopButton"), Qt::LeftButton);
        QVERIFY(!h.listed(peer));
        QVERIFY(window); // gone only after the handler returned
        QTRY_VERIFY(!window);
        QTRY_VERIFY(peerSawEnd(a.get()));
    }

    void deletingEveryKindAndTheInformationPanel()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd a = connectTo(port), b = connectTo(port);
        QTRY_COMPARE(peerCount(server), 2);
        Endpoint *client = h.tcpClient(unusedPort());
        Endpoint *udpClient = h.udpClient(9, unusedUdpPort());
        QVERIFY(udpClient);
        Endpoint *udpServer = h.udpServer(unusedUdpPort());
        QVERIFY(udpServer);
        QCOMPARE(h.form->endpoints().size(), 6);

        // Deleting a peer closes its connection; the server keeps listening.
        Endpoint *peer = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(peer));
        h.form->deleteSelected();
        QVERIFY(!h.listed(peer));
        QTRY_VERIFY(peerSawEnd(a.get()));
        QCOMPARE(server->state, EndpointState::Listening);

        // Deleting a server with a peer ends the peer's endpoint first.
        QPointer<DataWindow> peerWindow(windowOf(h.endpoints(EndpointKind::TcpAcceptedPeer).first()));
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(server));
        h.form->deleteSelected();
        QVERIFY(!h.listed(server));
        QCOMPARE(h.endpoints(EndpointKind::TcpAcceptedPeer).size(), 0);
        QTRY_VERIFY(!peerWindow);
        QTRY_VERIFY(peerSawEnd(b.get()));
        QCOMPARE(h.form->kindNode(EndpointKind::TcpServer)->childCount(), 0);
        QVERIFY(connectRefused(port));

        // A kind node selected: nothing happens.
        child<EndpointTree>(h.form, "tree")->setCurrentItem(h.form->kindNode(EndpointKind::UdpServer));
        h.form->deleteSelected();
        QCOMPARE(h.form->endpoints().size(), 3);

        const QList<Endpoint *> rest = {client, udpClient, udpServer};
        for (int i = 0; i < rest.size(); ++i) {
            QPointer<DataWindow> window(windowOf(rest[i]));
            child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(rest[i]));
            h.form->deleteSelected();
            QVERIFY(!h.listed(rest[i]));
            QTRY_VERIFY(!window);
            QCOMPARE(h.form->isInfoPanelShown(), i == rest.size() - 1);
        }
        QCOMPARE(h.form->endpoints().size(), 0);
    }

    void portBoxesRefuseTextAndWrapAbove65535()
    {
        Harness h;
        Endpoint *none = h.create<NewTcpServerDialog>(h.form->kindNode(EndpointKind::TcpServer),
            [](NewTcpServerDialog &d) { child<QLineEdit>(d, "portEdit")->setText("abc"); });
        QVERIFY(!none);
        QCOMPARE(h.recorder.exceptions, QStringList{"'abc' is not a valid integer value"});
        QCOMPARE(h.script.unfinished, 1); // the dialog stayed open until cancelled
        QVERIFY(h.form->isInfoPanelShown());

        // Node and panel show the port the system bound, not the number typed.
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port + 65536);
        QVERIFY(server);
        QCOMPARE(server->localPort, port);
        QCOMPARE(nodeOf(server)->text(0), nodeText(localIpAddress(), port));
        QCOMPARE(child<QLabel>(windowOf(server), "localPortLabel")->text(),
            QStringLiteral("本地端口:%1").arg(port));
        Fd a = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);

        // 65536 is port 0 to the socket layer: the system picks one.
        Endpoint *anywhere = h.tcpServer(65536);
        QVERIFY(anywhere);
        QVERIFY(anywhere->localPort > 0 && anywhere->localPort < 65536);
        QCOMPARE(nodeOf(anywhere)->text(0), nodeText(localIpAddress(), anywhere->localPort));
        Fd b = connectTo(anywhere->localPort);
        QTRY_COMPARE(peerCount(anywhere), 1);
        // Listening again from its window picks a port anew and shows it.
        stopServer(h.form->controller(), *anywhere);
        windowOf(anywhere)->requestStart();
        QCOMPARE(anywhere->state, EndpointState::Listening);
        Fd c = connectTo(anywhere->localPort);
        QTRY_COMPARE(peerCount(anywhere), 1);
        QCOMPARE(nodeOf(anywhere)->text(0), nodeText(localIpAddress(), anywhere->localPort));

        Endpoint *udp = h.udpServer(65536);
        QVERIFY(udp);
        QVERIFY(udp->localPort > 0 && udp->localPort < 65536);
        QCOMPARE(nodeOf(udp)->text(0), nodeText(localIpAddress(), udp->localPort));
    }

    void createWithAnEndpointOrPeerSelected()
    {
        Harness h;
        Fd listener = listenOnLoopback();
        Endpoint *first = h.tcpClient(localPort(listener.get()));
        // An endpoint node selected: its kind's dialog.
        Endpoint *second = h.create<NewTcpClientDialog>(nodeOf(first), [&](NewTcpClientDialog &d) {
            child<QLineEdit>(d, "addressEdit")->setText("127.0.0.1");
            child<QLineEdit>(d, "portEdit")->setText(QString::number(localPort(listener.get())));
        });
        QVERIFY(second);
        QCOMPARE(nodeOf(second)->parent(), h.form->kindNode(EndpointKind::TcpClient));
        QCOMPARE(nodeOf(second)->text(0), nodeOf(first)->text(0));

        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Fd a = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1);
        Endpoint *peer = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        bool asked = false;
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(peer));
        h.script.push([&](QDialog &d) {
            asked = true;
            d.reject();
        });
        h.form->createForSelectedKind();
        h.script.steps.clear();
        QVERIFY(!asked);
        QCOMPARE(h.form->endpoints().size(), 4);
    }

    void clientDialogShowsTheLocalAddressEachTime()
    {
        Harness h;
        h.form->createDialogs();
        NewTcpClientDialog &d = *child<NewTcpClientDialog>(*h.form, "newTcpClientDialog");
        child<QLineEdit>(d, "addressEdit")->setText(QStringLiteral("10.9.9.9"));
        child<QLineEdit>(d, "portEdit")->setText(QStringLiteral("1234"));
        d.show();
        QCOMPARE(child<QLineEdit>(d, "addressEdit")->text(), localIpAddress());
        QCOMPARE(child<QLineEdit>(d, "portEdit")->text(), QStringLiteral("1234"));
        d.hide();
    }

    void udpDialogsProbeTheLocalPort()
    {
        Harness h;
        Fd held(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const sockaddr_in any = loopback(0);
        ::bind(held.get(), reinterpret_cast<const sockaddr *>(&any), sizeof any);
        const int busy = localPort(held.get());
        QVERIFY(!h.udpServer(busy));
        QCOMPARE(h.recorder.messages, QStringList{"本地端口已被占用，请重新选择本地端口号"});
        QVERIFY(!h.udpClient(9, busy));
        QCOMPARE(h.recorder.messages.size(), 2);
        QCOMPARE(child<QLineEdit>(child<NewUdpClientDialog>(h.form, "newUdpClientDialog"), "localPortEdit")
                     ->text(),
            QString::number(busy)); // kept as typed

        // A port held only by a TCP listener is free for datagrams.
        Fd tcp = listenOnLoopback();
        Endpoint *client = h.udpClient(9, localPort(tcp.get()));
        QVERIFY(client);
        QCOMPARE(client->localPort, localPort(tcp.get()));
        QCOMPARE(nodeOf(client)->text(0), QStringLiteral("127.0.0.1[9]"));
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Udp);
    }

    void udpServerWithoutSerialPortIsCreatedSilently()
    {
        Harness h;
        // "com1" leads nowhere here: the endpoint works without the bridge.
        auto previous = SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/portwright-serial"); });
        const int port = unusedUdpPort();
        Endpoint *server = h.udpServer(port);
        SerialPort::setDevicePathResolver(previous);
        QVERIFY(server);
        QVERIFY(h.recorder.messages.isEmpty());
        QVERIFY(h.recorder.exceptions.isEmpty());
        QCOMPARE(nodeOf(server)->text(0), localIpAddress() + QStringLiteral("[%1]").arg(port));
        QCOMPARE(server->localPort, port);
        QVERIFY(!server->serialBridge->port().isOpen());
        QCOMPARE(child<QLabel>(windowOf(server), "peerAddressLabel")->text(), QStringLiteral("对方IP:"));
        QCOMPARE(child<QLabel>(windowOf(server), "peerPortLabel")->text(), QStringLiteral("对方端口:0"));
    }

    void udpServerWhoseSerialPortRefusesItsSettingsIsCompleted()
    {
        Harness h;
        // A plain file opens but is no terminal, so it refuses the line settings.
        QTemporaryFile notATerminal;
        QVERIFY(notATerminal.open());
        const QString path = notATerminal.fileName();
        auto previous = SerialPort::setDevicePathResolver([path](const QString &) { return path; });
        Endpoint *server = h.udpServer(unusedUdpPort());
        SerialPort::setDevicePathResolver(previous);
        QVERIFY(server);
        QCOMPARE(h.recorder.exceptions.size(), 1);
        QVERIFY(h.listed(server));
        QVERIFY(nodeOf(server));
        QVERIFY(!h.form->isInfoPanelShown());
    }

    void closingTheWindowStopsEveryListeningServer()
    {
        Harness h;
        const int port1 = unusedPort(), port2 = unusedPort();
        Endpoint *one = h.tcpServer(port1);
        Endpoint *two = h.tcpServer(port2);
        Harness::ConnectedClient connected = h.connectedTcpClient();
        Endpoint *client = connected.endpoint;
        Fd &upstream = connected.peer;
        QCOMPARE(client->state, EndpointState::Connected);
        QVERIFY(one->state == EndpointState::Listening && two->state == EndpointState::Listening);
        h.form->show();
        QVERIFY(h.form->close());
        QVERIFY(connectRefused(port1));
        QVERIFY(connectRefused(port2));
        // The client is left to the end of the program.
        QCOMPARE(client->state, EndpointState::Connected);
        QVERIFY(!peerSawEnd(upstream.get()));
    }

    void cancelCreatesNothingButHidesThePanelWhenEndpointsExist()
    {
        Harness h;
        child<EndpointTree>(h.form, "tree")->setCurrentItem(h.form->kindNode(EndpointKind::UdpGroup));
        h.script.push([](QDialog &d) { dynamic_cast<CreationDialog &>(d).cancel(); });
        h.form->createForSelectedKind();
        QCOMPARE(h.form->endpoints().size(), 0);
        QVERIFY(h.form->isInfoPanelShown());
        Endpoint *server = h.tcpServer(unusedPort());
        h.form->showInfoPanel(true);
        child<EndpointTree>(h.form, "tree")->setCurrentItem(h.form->kindNode(EndpointKind::TcpClient));
        h.script.push([](QDialog &d) { d.reject(); });
        h.form->createForSelectedKind();
        QCOMPARE(h.form->endpoints().size(), 1);
        QVERIFY(h.listed(server));
        QVERIFY(!h.form->isInfoPanelShown());
    }

    void monitoringPipePeerOpensAndClosesTheClient()
    {
        Harness h;
        Fd upstream = listenOnLoopback();
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Endpoint *client = h.tcpClient(localPort(upstream.get()));
        h.form->linkDropped(nodeOf(client), nodeOf(server));
        QCOMPARE(h.recorder.messages, QStringList{"监听管道已经建立!"});

        Fd first = connectTo(port);
        Fd upstreamPeer = acceptServing(upstream.get());
        QVERIFY(upstreamPeer.get() >= 0);
        QTRY_COMPARE(client->state, EndpointState::Connected);
        // A second peer while the client is connected does not connect it again.
        Fd second = connectTo(port);
        QTRY_COMPARE(peerCount(server), 2);
        QVERIFY(acceptServing(upstream.get(), 300).get() < 0);

        // A peer leaves: the client is selected and closed, and since its link
        // points back, its disconnection stops the server with every peer.
        first.reset();
        QTRY_COMPARE(server->state, EndpointState::Stopped);
        QCOMPARE(client->state, EndpointState::Disconnected);
        QCOMPARE(peerCount(server), 0);
        QCOMPARE(h.endpoints(EndpointKind::TcpAcceptedPeer).size(), 0);
        QCOMPARE(nodeImageOf(nodeOf(server)), NodeImage::Stopped);
        QCOMPARE(child<QLabel>(windowOf(server), "stateLabel")->text(), QStringLiteral("已停止"));
        QTRY_VERIFY(peerSawEnd(upstreamPeer.get()));
        QTRY_VERIFY(peerSawEnd(second.get()));
        QTest::qWait(50); // deferred destructions run without a fault
        QCOMPARE(h.form->endpoints().size(), 2);
    }

    void monitoringPipeClientLossStopsTheServer()
    {
        Harness h;
        Fd upstream = listenOnLoopback();
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Endpoint *client = h.tcpClient(localPort(upstream.get()));
        h.form->linkDropped(nodeOf(server), nodeOf(client));
        Fd a = connectTo(port);
        Fd upstreamPeer = acceptServing(upstream.get());
        QTRY_COMPARE(client->state, EndpointState::Connected);
        QTRY_COMPARE(peerCount(server), 1);
        upstreamPeer.reset();
        QTRY_COMPARE(server->state, EndpointState::Stopped);
        QCOMPARE(peerCount(server), 0);
        QTRY_VERIFY(peerSawEnd(a.get()));
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Disconnected);
    }

    void deletingALinkedEndpointUnlinksItsPartner()
    {
        Harness h;
        Fd upstream = listenOnLoopback();
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        Endpoint *client = h.tcpClient(localPort(upstream.get()));
        h.form->linkDropped(nodeOf(client), nodeOf(server));
        child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(client));
        h.form->deleteSelected();
        QCOMPARE(server->partner, nullptr);
        Fd a = connectTo(port);
        QTRY_COMPARE(peerCount(server), 1); // accepting follows no stale link
        a.reset();
        QTRY_COMPARE(peerCount(server), 0);
        QCOMPARE(server->state, EndpointState::Listening);
    }

    void webReplyAnswersCurlAndClosesTheConnection()
    {
        const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
        if (curl.isEmpty())
            QSKIP("curl is not installed (scripts/install-deps.sh --test installs it)");
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        child<QCheckBox>(windowOf(server), "webReplySwitch")->setChecked(true);
        QProcess process;
        process.start(
            curl, {"-s", "-i", "--max-time", "10", QStringLiteral("http://127.0.0.1:%1/").arg(port)});
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 15000);
        QCOMPARE(process.exitCode(), 0);
        const QByteArray reply = process.readAllStandardOutput();
        const qsizetype split = reply.indexOf("\r\n\r\n");
        QVERIFY(split > 0);
        const QList<QByteArray> header = reply.left(split).split('\n');
        QCOMPARE(header.first(), QByteArray("HTTP/1.1 200 OK\r"));
        QCOMPARE(header.size(), 7);
        const QByteArray body = reply.mid(split + 4);
        QVERIFY(reply.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
        QVERIFY(body.contains("<title>New Page 1</title>"));
        QVERIFY(body.contains(EncodeGbk(QStringLiteral("宋体"))));
        QVERIFY(body.endsWith("</html>\r\n"));
        QCOMPARE(body, FixedWebReply().mid(split + 4));
        QTRY_COMPARE(peerCount(server), 0);
        QCOMPARE(h.endpoints(EndpointKind::TcpAcceptedPeer).size(), 0);
    }

    void webReplyRendersInAHeadlessBrowser()
    {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            QSKIP("chromium is not installed");
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        child<QCheckBox>(windowOf(server), "webReplySwitch")->setChecked(true);
        QTemporaryDir profile;
        QProcess browser;
        browser.start(chromium,
            {"--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--no-first-run",
                "--user-data-dir=" + profile.path(), "--dump-dom",
                QStringLiteral("http://127.0.0.1:%1/").arg(port)});
        QTRY_VERIFY_WITH_TIMEOUT(browser.state() == QProcess::NotRunning, 60000);
        const QByteArray dom = browser.readAllStandardOutput();
        QVERIFY2(dom.contains("<title>New Page 1</title>"), dom.left(400).constData());
        QVERIFY(dom.contains("HTTPS://PORTWRIGHT.EXAMPLE.ORG/"));
        QTRY_COMPARE(peerCount(server), 0);
    }
};

QTEST_MAIN(TstEndpoints)
#include "tst_endpoints.moc"
