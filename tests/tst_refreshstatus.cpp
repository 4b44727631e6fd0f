#include "datawindow/datawindow.h"
#include "endpoints/endpoint.h"
#include "endpoints/endpointstatus.h"
#include "support/datawindow_parts.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

struct Panel {
    QString l1, l2, l3, l4, l5, l6, b5, b6;
    bool b5Visible, b6Visible, b5Enabled, b6Enabled;
};

Panel read(DataWindow &w)
{
    return {child<QLabel>(w, "stateLabel")->text(), child<QLabel>(w, "createdLabel")->text(),
        child<QLabel>(w, "peerAddressLabel")->text(), child<QLabel>(w, "peerPortLabel")->text(),
        child<QLabel>(w, "spareLabel")->text(), child<QLabel>(w, "localPortLabel")->text(),
        child<QPushButton>(w, "startButton")->text(), child<QPushButton>(w, "stopButton")->text(),
        !child<QPushButton>(w, "startButton")->isHidden(), !child<QPushButton>(w, "stopButton")->isHidden(),
        child<QPushButton>(w, "startButton")->isEnabled(), child<QPushButton>(w, "stopButton")->isEnabled()};
}

} // namespace

class TstRefreshStatus : public QObject {
    Q_OBJECT

private slots:
    void panelForEveryKindAndState_data()
    {
        QTest::addColumn<EndpointKind>("kind");
        QTest::addColumn<EndpointState>("state");
        QTest::addColumn<QStringList>("labels"); // state, created, peer address, peer port, spare, local port
        QTest::addColumn<QStringList>("buttons"); // captions of the start and stop buttons
        QTest::addColumn<QString>("visible"); // "56", "6" or ""
        QTest::addColumn<QString>("enabled"); // which of the visible buttons are enabled

        const QString created = QStringLiteral("2026/12/7 14:05:33");
        QTest::newRow("server listening")
            << EndpointKind::TcpServer << EndpointState::Listening
            << QStringList{"已启动", "Socket服务器创建时间:" + created, "", "", "", "本地端口:60000"}
            << QStringList{"启动监听", "停止监听"} << "56"
            << "6";
        QTest::newRow("server stopped")
            << EndpointKind::TcpServer << EndpointState::Stopped
            << QStringList{"已停止", "Socket服务器创建时间:" + created, "", "", "", "本地端口:60000"}
            << QStringList{"启动监听", "停止监听"} << "56"
            << "5";
        QTest::newRow("peer connected") << EndpointKind::TcpAcceptedPeer << EndpointState::Connected
                                        << QStringList{"已连接", "Socket创建时间:" + created,
                                               "对方IP:10.0.0.2", "对方端口:8080", "", "本地端口:60000"}
                                        << QStringList{"连接", "断开"} << "6"
                                        << "6";
        QTest::newRow("client connected") << EndpointKind::TcpClient << EndpointState::Connected
                                          << QStringList{"已连接", "Socket创建时间:" + created,
                                                 "对方IP:10.0.0.2", "对方端口:8080", "", "本地端口:60000"}
                                          << QStringList{"连接", "断开"} << "56"
                                          << "6";
        QTest::newRow("client disconnected") << EndpointKind::TcpClient << EndpointState::Disconnected
                                             << QStringList{"已断开", "Socket创建时间:" + created,
                                                    "对方IP:10.0.0.2", "对方端口:8080", "", "本地端口:60000"}
                                             << QStringList{"连接", "断开"} << "56"
                                             << "5";
        QTest::newRow("udp client") << EndpointKind::UdpClient << EndpointState::Open
                                    << QStringList{"", "Socket创建时间:" + created, "对方IP:10.0.0.2",
                                           "对方端口:8080", "", "本地端口:60000"}
                                    << QStringList{"", ""} << ""
                                    << "";
        QTest::newRow("udp server") << EndpointKind::UdpServer << EndpointState::Open
                                    << QStringList{"", "Socket创建时间:" + created, "对方IP:10.0.0.2",
                                           "对方端口:8080", "", "本地端口:60000"}
                                    << QStringList{"", ""} << ""
                                    << "";
        QTest::newRow("udp group") << EndpointKind::UdpGroup << EndpointState::Open
                                   << QStringList{"", "Socket创建时间:" + created, "组播地址:224.1.1.1",
                                          "组播端口:60000", "", ""}
                                   << QStringList{"", ""} << ""
                                   << "";
    }
    void panelForEveryKindAndState()
    {
        QFETCH(EndpointKind, kind);
        QFETCH(EndpointState, state);
        QFETCH(QStringList, labels);
        QFETCH(QStringList, buttons);
        QFETCH(QString, visible);
        QFETCH(QString, enabled);

        DataWindow w;
        Endpoint r;
        r.kind = kind;
        r.state = state;
        r.createdText = QStringLiteral("2026/12/7 14:05:33");
        r.localPort = 60000;
        r.peerAddress = QStringLiteral("10.0.0.2");
        r.peerPort = 8080;
        if (kind == EndpointKind::UdpGroup)
            r.localAddress = QStringLiteral("224.1.1.1");

        for (int pass = 0; pass < 2; ++pass) { // a second refresh changes nothing
            w.showStatus(statusOf(r));
            const Panel p = read(w);
            QCOMPARE(QStringList({p.l1, p.l2, p.l3, p.l4, p.l5, p.l6}), labels);
            QCOMPARE(p.b5Visible, visible.contains(QLatin1Char('5')));
            QCOMPARE(p.b6Visible, visible.contains(QLatin1Char('6')));
            if (!visible.isEmpty()) {
                QCOMPARE(QStringList({p.b5, p.b6}), buttons);
                QCOMPARE(p.b6Enabled, enabled.contains(QLatin1Char('6')));
                if (p.b5Visible)
                    QCOMPARE(p.b5Enabled, enabled.contains(QLatin1Char('5')));
            }
            QVERIFY(child<QLabel>(w, "createdLabel")->isHidden());
        }
    }

    void unknownStateLeavesStateWordAndButtons()
    {
        DataWindow w;
        Endpoint r;
        r.kind = EndpointKind::TcpClient;
        r.state = EndpointState::Connected;
        w.showStatus(statusOf(r));
        // An open UDP endpoint's state has no word.
        r.state = EndpointState::Open;
        w.showStatus(statusOf(r));
        QCOMPARE(child<QLabel>(w, "stateLabel")->text(), QStringLiteral("已连接"));
        QVERIFY(!child<QPushButton>(w, "startButton")->isEnabled());
        QVERIFY(child<QPushButton>(w, "stopButton")->isEnabled());
    }

    void negativePortAndEmptyPeerShowAsTheyAre()
    {
        DataWindow w;
        Endpoint r;
        r.kind = EndpointKind::UdpServer;
        w.showStatus(statusOf(r));
        QCOMPARE(child<QLabel>(w, "peerAddressLabel")->text(), QStringLiteral("对方IP:"));
        QCOMPARE(child<QLabel>(w, "peerPortLabel")->text(), QStringLiteral("对方端口:0"));
        r.kind = EndpointKind::TcpClient;
        r.localPort = -1;
        w.showStatus(statusOf(r));
        QCOMPARE(child<QLabel>(w, "localPortLabel")->text(), QStringLiteral("本地端口:-1"));
    }
};

QTEST_MAIN(TstRefreshStatus)
#include "tst_refreshstatus.moc"
