// The endpoint tree as an assistive technology hears it. Runs under
// tests/atspi-run: Qt tells changes only while an accessibility bus listens.
#include "net/serial/serialport.h"
#include "support/endpoint_harness.h"

#include <QAccessible>
#include <QtTest>

#include <map>
#include <vector>

using namespace endpoint_test;
using namespace loopback_test;

namespace {

// What the tree told, by kind ("116/4": a table change, rows removed).
std::map<QString, int> *heard = nullptr;
const QObject *tree = nullptr;

void hear(QAccessibleEvent *event)
{
    if (!heard || event->object() != tree)
        return;
    QString kind = QString::number(int(event->type()), 16);
    if (event->type() == QAccessible::TableModelChanged)
        kind += QStringLiteral("/%1").arg(
            int(static_cast<QAccessibleTableModelChangeEvent *>(event)->modelChangeType()));
    ++(*heard)[kind];
}

QString said(const std::map<QString, int> &told)
{
    QStringList parts;
    for (const auto &[kind, count] : told)
        parts << QStringLiteral("%1 x%2").arg(kind).arg(count);
    return parts.join(QStringLiteral(", "));
}

} // namespace

class TstTreeAccessibility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
        QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 10000);
        // Instead of the bridge: what would go onto the bus is counted here.
        QAccessible::installUpdateHandler(hear);
    }

    // Each change the tree tells makes a screen reader look at the tree
    // again. A server's stop tells the same with twice the peers, not a
    // change per peer, whether the server's node or a peer's is selected.
    void stoppingAServerTellsAsMuchWhateverThePeers()
    {
        Harness h;
        h.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        auto *view = child<EndpointTree>(h.form, "tree");
        tree = view;
        for (const bool peerSelected : {false, true}) {
            std::map<int, std::map<QString, int>> told;
            for (const int count : {100, 200}) {
                std::vector<Fd> peers;
                for (int i = 0; i < count; ++i)
                    peers.push_back(connectTo(port));
                QTRY_COMPARE(peerCount(server), count);
                view->setCurrentItem(peerSelected ? nodeOf(server)->child(0) : nodeOf(server));
                heard = &told[count];
                windowOf(server)->requestStop();
                QTRY_COMPARE(peerCount(server), 0);
                heard = nullptr;
                QCOMPARE(view->currentItem(), nodeOf(server));
                windowOf(server)->requestStart();
                QCOMPARE(server->state, EndpointState::Listening);
            }
            QVERIFY2(told[200] == told[100],
                qPrintable(QStringLiteral("selected %1; 100 peers: %2; 200 peers: %3")
                               .arg(peerSelected ? QStringLiteral("a peer") : QStringLiteral("the server"),
                                   said(told[100]), said(told[200]))));
        }
        QAccessible::installUpdateHandler(nullptr);
    }
};

QTEST_MAIN(TstTreeAccessibility)
#include "tst_treeaccessibility.moc"
