// A user and peers at once, at random: a timer fires random user actions
// (create, delete, stop, start, select, minimise, link, send with repeats,
// timed sending, open the repeat-count list) while peers connect, send,
// send urgent bytes, close and reset. Sends run nested event loops, so the
// timer's actions also land inside them. The run is seeded and bounded in
// steps and time; it checks that nothing crashes (run it under the
// sanitizers too), nothing unexpected is reported, and the tree and the
// endpoint list agree at the end.
#include "datawindow/datawindow.h"
#include "datawindow/repeatcountbox.h"
#include "datawindow/sendpanel.h"
#include "endpoints/endpointcontroller.h"
#include "net/serial/serialport.h"
#include "net/tcp/readinessreactor.h"
#include "support/datawindow_parts.h"
#include "support/endpoint_harness.h"
#include "support/loopback.h"
#include "ui/documentarea.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QMenu>
#include <QRandomGenerator>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <vector>

using namespace endpoint_test;
using namespace loopback_test;

namespace {

int scaled(int count)
{
    bool ok = false;
    const double scale = qEnvironmentVariable("PW_ENDURANCE_SCALE").toDouble(&ok);
    return std::max(1, int(count * (ok && scale > 0 ? scale : 1.0)));
}

class Monkey {
public:
    Monkey(Harness &h, quint32 seed)
        : h_(h)
        , random_(seed)
    {
    }

    int steps = 0;
    int nested = 0; // sends running further up the stack

    void step()
    {
        ++steps;
        switch (random_.bounded(20)) {
        case 0:
            createServer();
            break;
        case 1:
            createClient();
            break;
        case 2:
        case 3:
            connectPeer();
            break;
        case 4:
            peerTalks();
            break;
        case 5:
            dropPeer();
            break;
        case 6:
            selectSomething();
            break;
        case 7:
            if (random_.bounded(4) == 0)
                h_.form->deleteSelected(); // delete
            break;
        case 8:
            h_.form->stopSelected(); // stop
            break;
        case 9:
            if (DataWindow *w = someWindow())
                w->requestStart(); // start or connect
            break;
        case 10:
            child<QToolButton>(child<DocumentArea>(h_.form, "documents"), "minimizeButton")->click();
            break;
        case 11:
        case 12:
            send();
            break;
        case 13:
            timedSending();
            break;
        case 14:
            if (DataWindow *w = someWindow())
                child<QPushButton>(w, "stopTimerButton")->click();
            break;
        case 15:
            link();
            break;
        case 16:
            openAndCloseList();
            break;
        case 17:
            if (DataWindow *w = someWindow())
                child<QCheckBox>(w, "hexSwitch")->click();
            break;
        default:
            break;
        }
    }

    void dropAllPeers() { peers_.clear(); }

private:
    Endpoint *someEndpoint()
    {
        const int n = h_.form->endpoints().size();
        return n == 0 ? nullptr : h_.form->endpoints().at(int(random_.bounded(n)));
    }
    DataWindow *someWindow()
    {
        Endpoint *e = someEndpoint();
        return e ? windowOf(e) : nullptr;
    }
    QList<Endpoint *> servers() const { return h_.endpoints(EndpointKind::TcpServer); }

    void createServer()
    {
        if (servers().size() >= 3)
            return;
        h_.tcpServer(unusedPort());
    }
    void createClient()
    {
        const QList<Endpoint *> s = servers();
        if (s.isEmpty() || h_.endpoints(EndpointKind::TcpClient).size() >= 3)
            return;
        h_.tcpClient(s[int(random_.bounded(s.size()))]->localPort);
    }
    void connectPeer()
    {
        const QList<Endpoint *> s = servers();
        if (s.isEmpty() || peers_.size() >= 30)
            return;
        peers_.push_back(connectTo(s[int(random_.bounded(s.size()))]->localPort, true));
    }
    void peerTalks()
    {
        if (peers_.empty())
            return;
        Fd &peer = peers_[random_.bounded(quint32(peers_.size()))];
        if (random_.bounded(3) == 0)
            (void)::send(peer.get(), "!", 1, MSG_OOB | MSG_DONTWAIT | MSG_NOSIGNAL);
        const QByteArray data(int(random_.bounded(1, 3000)), 'p');
        (void)::send(peer.get(), data.constData(), size_t(data.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        // Drain what the program sent, so most peers keep reading.
        char buffer[65536];
        while (::recv(peer.get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0) { }
    }
    void dropPeer()
    {
        if (peers_.empty())
            return;
        const auto at = peers_.begin() + random_.bounded(quint32(peers_.size()));
        if (random_.bounded(2) == 0)
            resetAndClose(*at);
        peers_.erase(at);
    }
    void selectSomething()
    {
        if (Endpoint *e = someEndpoint())
            child<EndpointTree>(h_.form, "tree")->setCurrentItem(nodeOf(e));
        else
            child<EndpointTree>(h_.form, "tree")->setCurrentItem(h_.form->kindNode(EndpointKind::TcpServer));
    }
    void send()
    {
        DataWindow *w = someWindow();
        if (!w || nested >= 3)
            return;
        child<SendEdit>(w, "sendEdit")->setPlainText(QString(int(random_.bounded(1, 200)), QLatin1Char('s')));
        child<RepeatCountBox>(w, "repeatCountBox")->setEditText(QString::number(random_.bounded(1, 6)));
        child<QLineEdit>(w, "intervalEdit")->setText(QString::number(random_.bounded(0, 15)));
        ++nested;
        child<QPushButton>(w, "sendButton")->click();
        --nested;
    }
    void timedSending()
    {
        DataWindow *w = someWindow();
        if (!w)
            return;
        child<SendEdit>(w, "sendEdit")->setPlainText(QStringLiteral("t"));
        child<QLineEdit>(w, "intervalEdit")->setText(QString::number(random_.bounded(5, 30)));
        child<QPushButton>(w, "startTimerButton")->click();
    }
    void link()
    {
        Endpoint *a = someEndpoint();
        Endpoint *b = someEndpoint();
        if (a && b && h_.form->canLink(nodeOf(a), nodeOf(b)))
            h_.form->linkDropped(nodeOf(a), nodeOf(b));
    }
    void openAndCloseList()
    {
        DataWindow *w = someWindow();
        if (!w)
            return;
        child<RepeatCountBox>(w, "repeatCountBox")->showPopup();
        if (random_.bounded(2) == 0)
            if (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
    }

    Harness &h_;
    QRandomGenerator random_;
    std::vector<Fd> peers_;
};

} // namespace

class TstMonkey : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
    }

    void userAndPeersAtRandom_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u})
            QTest::addRow("seed %u", seed) << seed;
    }

    void userAndPeersAtRandom()
    {
        QFETCH(quint32, seed);
        // The TCP handles' readiness set lives as long as the application.
        QVERIFY(ReadinessReactor::instance());
        const int fdsBefore = openDescriptorCount();
        {
            Harness h;
            Monkey monkey(h, seed);
            const int steps = scaled(3000);
            QTimer timer;
            timer.setInterval(1);
            QObject::connect(&timer, &QTimer::timeout, [&] {
                if (monkey.steps < steps)
                    Guarded([&] { monkey.step(); });
            });
            timer.start();
            QDeadlineTimer deadline(90000);
            while (monkey.steps < steps && !deadline.hasExpired()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
            timer.stop();
            qInfo("seed %u: %d steps, %d endpoints, %lld messages, %lld errors", seed, monkey.steps,
                h.form->endpoints().size(), qsizetype(h.recorder.messages.size()),
                qsizetype(h.recorder.exceptions.size()));

            // Only what a user may legitimately be told: a port in use, a
            // failed connect, a client opened twice.
            for (const QString &e : std::as_const(h.recorder.exceptions))
                QVERIFY2(e.contains(QStringLiteral("Socket already open"))
                        || e.contains(QStringLiteral("connect"))
                        || e.contains(QStringLiteral("Asynchronous socket error")),
                    qPrintable(e));

            // The tree and the list agree.
            for (Endpoint *e : h.form->endpoints()) {
                QVERIFY(nodeOf(e));
                QCOMPARE(h.form->views().endpointOfNode(nodeOf(e)), e);
                QVERIFY(windowOf(e));
                QCOMPARE(h.form->views().endpointOfWindow(windowOf(e)), e);
            }
            monkey.dropAllPeers();
            h.form->close();
            for (Endpoint *server : h.endpoints(EndpointKind::TcpServer))
                QCOMPARE(nodeOf(server)->childCount(), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptorCount(), fdsBefore, 10000);
    }
};

QTEST_MAIN(TstMonkey)
#include "tst_monkey.moc"
