// Endurance: the main window under long runs of connects, disconnects, resets
// and deletions, with real peers on 127.0.0.1. Counts are scaled by
// PW_ENDURANCE_SCALE (default 1; the sanitizer build may set it lower); every
// loop also has a deadline.
#include "datawindow/datawindow.h"
#include "datawindow/repeatcountbox.h"
#include "datawindow/sendpanel.h"
#include "net/serial/serialport.h"
#include "net/tcp/readinessreactor.h"
#include "net/udp/udpsocket.h"
#include "support/datawindow_parts.h"
#include "support/endpoint_harness.h"
#include "support/loopback.h"
#include "ui/stateimages.h"

#include <QBuffer>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPointer>
#include <QtTest>

#include <fcntl.h>

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

// Processes events until the condition holds or the time is up.
bool serveUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool sawEnd(int handle)
{
    pollfd wait{handle, POLLIN, 0};
    if (::poll(&wait, 1, 0) != 1)
        return false;
    char buffer[4096];
    const ssize_t got = ::recv(handle, buffer, sizeof buffer, MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

Fd udpSink()
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const sockaddr_in address = loopback(0);
    ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return fd;
}

int drain(int handle)
{
    char buffer[65536];
    int total = 0;
    for (int i = 0; i < 10000; ++i) {
        const ssize_t got = ::recv(handle, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0)
            break;
        total += int(got);
    }
    return total;
}

} // namespace

class TstEndurance : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No endpoint ever reaches a real serial port.
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/endurance"); });
        // The TCP handles' readiness set is one descriptor for the life of
        // the application, not something an endpoint leaks.
        QVERIFY(ReadinessReactor::instance());
        fdsAtStart_ = openDescriptorCount();
    }

    // Peers come and go in batches, half of them leaving before they are even
    // accepted, a quarter with a reset. Every one becomes an endpoint and goes
    // by itself when its peer leaves, with or without a reset. Nothing is
    // reported and the server holds no descriptor more than before.
    void serverOutlivesManyConnectDisconnectCycles()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        const int fdsBefore = openDescriptorCount();
        const int cycles = scaled(10000);
        const int batch = 40;
        QDeadlineTimer deadline(240000);
        int done = 0;
        while (done < cycles && !deadline.hasExpired()) {
            const int n = std::min(batch, cycles - done);
            std::vector<Fd> peers;
            for (int i = 0; i < n; ++i)
                peers.push_back(connectTo(port, true));
            for (int i = 0; i < n; i += 2) {
                if (i % 4 == 0)
                    resetAndClose(peers[size_t(i)]);
                else
                    peers[size_t(i)].reset();
            }
            const int staying = n - (n + 1) / 2;
            QVERIFY2(serveUntil([&] { return peerCount(server) == staying; }, 20000),
                qPrintable(QStringLiteral("cycle %1: %2 peers, %3 staying")
                               .arg(done)
                               .arg(peerCount(server))
                               .arg(staying)));
            for (Endpoint *left : h.endpoints(EndpointKind::TcpAcceptedPeer)) {
                QCOMPARE(left->state, EndpointState::Connected);
                QVERIFY(left->peerPort > 0);
            }
            for (auto &peer : peers)
                peer.reset();
            QVERIFY2(serveUntil([&] { return peerCount(server) == 0; }, 20000),
                qPrintable(QStringLiteral("cycle %1: %2 peers left").arg(done).arg(peerCount(server))));
            done += n;
        }
        QCOMPARE(done, cycles);
        // Late accepts of peers that had already gone settle too.
        QVERIFY2(
            serveUntil([&] { return peerCount(server) == 0 && openDescriptorCount() == fdsBefore; }, 10000),
            qPrintable(QStringLiteral("%1 peers, %2 descriptors, %3 before")
                           .arg(peerCount(server))
                           .arg(openDescriptorCount())
                           .arg(fdsBefore)));
        QCOMPARE(h.form->endpoints().size(), 1);
        QVERIFY2(h.recorder.exceptions.isEmpty(), qPrintable(h.recorder.exceptions.value(0)));
        QVERIFY(h.recorder.messages.isEmpty());
        QVERIFY(Harness::log(server).contains(QStringLiteral("Client Socket异常,代码=")));

        // Still serving as on the first day.
        Fd last = connectTo(port);
        QVERIFY(serveUntil([&] { return peerCount(server) == 1; }, 5000));
        QCOMPARE(::send(last.get(), "still here", 10, 0), 10);
        Endpoint *peer = h.endpoints(EndpointKind::TcpAcceptedPeer).first();
        QVERIFY(serveUntil([&] { return windowOf(peer)->receivedBytes() == 10; }, 5000));
        QVERIFY(Harness::log(peer).endsWith(QStringLiteral(" 收到数据：still here")));
    }

    // A TCP Client connects to a plain peer and is disconnected, in turn by
    // the peer and by its own stop button, over and over.
    void clientOutlivesManyConnectDisconnectCycles()
    {
        Harness h;
        Fd listener = listenOnLoopback();
        ::fcntl(listener.get(), F_SETFL, O_NONBLOCK);
        Endpoint *client = h.tcpClient(localPort(listener.get()));
        QVERIFY(client);
        const int fdsBefore = openDescriptorCount();
        const int cycles = scaled(10000);
        QDeadlineTimer deadline(240000);
        int done = 0;
        for (; done < cycles && !deadline.hasExpired(); ++done) {
            windowOf(client)->requestStart();
            Fd peer;
            QVERIFY(serveUntil(
                [&] {
                    if (peer.get() < 0)
                        peer = Fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
                    return peer.get() >= 0 && client->state == EndpointState::Connected;
                },
                10000));
            if (done % 2 == 0) {
                peer.reset();
                QVERIFY2(serveUntil([&] { return client->state == EndpointState::Disconnected; }, 10000),
                    qPrintable(QStringLiteral("cycle %1").arg(done)));
            } else {
                windowOf(client)->requestStop();
                QCOMPARE(client->state, EndpointState::Disconnected);
                QVERIFY(serveUntil([&] { return sawEnd(peer.get()); }, 10000));
            }
        }
        QCOMPARE(done, cycles);
        QCOMPARE(nodeImageOf(nodeOf(client)), NodeImage::Disconnected);
        QVERIFY(serveUntil([&] { return openDescriptorCount() == fdsBefore; }, 10000));
        QCOMPARE(openDescriptorCount(), fdsBefore);
        QVERIFY(h.recorder.exceptions.isEmpty());
        QVERIFY(h.recorder.messages.isEmpty());
    }

    // A server with many peers is stopped, started again, filled again and
    // deleted: every peer sees its end, nothing is left behind.
    void stoppingAndDeletingAServerWithManyPeers()
    {
        const int fdsBefore = openDescriptorCount();
        {
            Harness h;
            const int port = unusedPort();
            Endpoint *server = h.tcpServer(port);
            QVERIFY(server);
            const int count = scaled(1000);
            std::vector<Fd> peers;
            for (int i = 0; i < count; ++i)
                peers.push_back(connectTo(port, true));
            QVERIFY2(serveUntil([&] { return peerCount(server) == count; }, 60000),
                qPrintable(QStringLiteral("%1 of %2 peers").arg(peerCount(server)).arg(count)));

            child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(server));
            h.form->stopSelected();
            QCOMPARE(peerCount(server), 0);
            QCOMPARE(h.endpoints(EndpointKind::TcpAcceptedPeer).size(), 0);
            QCOMPARE(server->state, EndpointState::Stopped);
            QVERIFY(serveUntil(
                [&] {
                    return std::all_of(
                        peers.begin(), peers.end(), [](const Fd &p) { return sawEnd(p.get()); });
                },
                20000));

            peers.clear();
            windowOf(server)->requestStart();
            QCOMPARE(server->state, EndpointState::Listening);
            for (int i = 0; i < count; ++i)
                peers.push_back(connectTo(port, true));
            QVERIFY(serveUntil([&] { return peerCount(server) == count; }, 60000));
            // Some of them are busy talking when the server goes.
            for (int i = 0; i < count; i += 10)
                ::send(peers[size_t(i)].get(), "bye", 3, MSG_NOSIGNAL);
            QPointer<DataWindow> window(windowOf(server));
            child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(server));
            h.form->deleteSelected();
            QVERIFY(!h.listed(server));
            QCOMPARE(h.form->endpoints().size(), 0);
            QVERIFY(serveUntil(
                [&] {
                    return !window && std::all_of(peers.begin(), peers.end(), [](const Fd &p) {
                        return sawEnd(p.get());
                    });
                },
                20000));
            QVERIFY(h.recorder.exceptions.isEmpty());
        }
        QVERIFY(serveUntil([&] { return openDescriptorCount() == fdsBefore; }, 10000));
        QCOMPARE(openDescriptorCount(), fdsBefore);
    }

    // Peers stream data while some of them reset: the ones that stay have
    // every byte counted, the reset ones are gone from the tree, and deleting
    // the server frees all of it.
    void peersResettingWhileDataFlows()
    {
        const int fdsBefore = openDescriptorCount();
        {
            Harness h;
            const int port = unusedPort();
            Endpoint *server = h.tcpServer(port);
            const int count = 20;
            struct Talker {
                Fd fd;
                qint64 sent = 0;
                int port = 0;
                bool reset = false;
            };
            std::vector<Talker> talkers(count);
            for (auto &t : talkers)
                t.fd = connectTo(port, true);
            QVERIFY(serveUntil([&] { return peerCount(server) == count; }, 10000));
            for (auto &t : talkers)
                t.port = localPort(t.fd.get());

            const QByteArray chunk(1500, 'z');
            const int rounds = scaled(2000);
            QDeadlineTimer deadline(60000);
            for (int round = 0; round < rounds && !deadline.hasExpired(); ++round) {
                for (auto &t : talkers) {
                    if (t.reset)
                        continue;
                    const ssize_t sent = ::send(
                        t.fd.get(), chunk.constData(), size_t(chunk.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
                    if (sent > 0)
                        t.sent += sent;
                }
                // A quarter of the talkers reset, spread over the run.
                const int every = std::max(1, rounds / (count / 4 + 1));
                if (round % every == every / 2) {
                    Talker &victim = talkers[size_t(round / every % count)];
                    if (!victim.reset) {
                        victim.reset = true;
                        resetAndClose(victim.fd);
                    }
                }
                QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            }

            // The ones still talking have all their bytes counted in their own window.
            const auto windowOfTalker = [&](const Talker &t) -> DataWindow * {
                for (Endpoint *peer : h.endpoints(EndpointKind::TcpAcceptedPeer))
                    if (peer->peerPort == t.port)
                        return windowOf(peer);
                return nullptr;
            };
            QVERIFY(serveUntil(
                [&] {
                    return std::all_of(talkers.begin(), talkers.end(), [&](const Talker &t) {
                        DataWindow *w = windowOfTalker(t);
                        return t.reset ? w == nullptr : (w && w->receivedBytes() == t.sent);
                    });
                },
                20000));
            int resets = 0;
            for (const auto &t : talkers) {
                resets += t.reset;
                if (DataWindow *w = windowOfTalker(t))
                    QVERIFY(w->receivedBytes() <= t.sent);
            }
            QVERIFY(resets > 0);
            QVERIFY(h.recorder.exceptions.isEmpty());

            QPointer<DataWindow> window(windowOf(server));
            child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(server));
            h.form->deleteSelected();
            QCOMPARE(h.form->endpoints().size(), 0);
            QVERIFY(serveUntil([&] { return !window; }, 5000));
        }
        QVERIFY(serveUntil([&] { return openDescriptorCount() == fdsBefore; }, 10000));
        QCOMPARE(openDescriptorCount(), fdsBefore);
    }

    // Endpoints deleted from inside their own repeated sends and timer ticks:
    // the sends stop, the windows go, nothing is reported.
    void deletingEndpointsWhileRepeatsAndTimersSend()
    {
        const int fdsBefore = openDescriptorCount();
        {
            Harness h;
            Fd sink = udpSink();
            Fd listener = listenOnLoopback();
            ::fcntl(listener.get(), F_SETFL, O_NONBLOCK);
            const int rounds = scaled(20);
            QDeadlineTimer deadline(60000);
            for (int round = 0; round < rounds && !deadline.hasExpired(); ++round) {
                Endpoint *udp = h.udpClient(localPort(sink.get()), 0);
                Endpoint *tcp = h.tcpClient(localPort(listener.get()));
                QVERIFY(udp && tcp);
                windowOf(tcp)->requestStart();
                Fd peer;
                QVERIFY(serveUntil(
                    [&] {
                        if (peer.get() < 0)
                            peer = Fd(
                                ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
                        drain(peer.get());
                        return peer.get() >= 0 && tcp->state == EndpointState::Connected;
                    },
                    10000));
                QPointer<DataWindow> udpWindow(windowOf(udp)), tcpWindow(windowOf(tcp));
                for (DataWindow *w : {udpWindow.data(), tcpWindow.data()}) {
                    child<SendEdit>(w, "sendEdit")->setPlainText(QStringLiteral("tick"));
                    child<RepeatCountBox>(w, "repeatCountBox")->setEditText(QStringLiteral("50"));
                    child<QLineEdit>(w, "intervalEdit")->setText(QStringLiteral("1"));
                    w->startTimedSending();
                }

                // A repeat of 100000 sends is cut short by deleting its endpoint
                // from the loop it runs; the peer keeps reading meanwhile.
                Endpoint *victim = round % 2 ? udp : tcp;
                Endpoint *other = round % 2 ? tcp : udp;
                child<RepeatCountBox>(windowOf(victim), "repeatCountBox")
                    ->setEditText(QStringLiteral("100000"));
                child<QLineEdit>(windowOf(victim), "intervalEdit")->setText(QStringLiteral("0"));
                QTimer::singleShot(30 + round % 7, h.form.get(), [&h, victim, &peer] {
                    drain(peer.get());
                    child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(victim));
                    h.form->deleteSelected();
                });
                QTimer drainer;
                QObject::connect(&drainer, &QTimer::timeout, [&] {
                    drain(peer.get());
                    drain(sink.get());
                });
                drainer.start(1);
                windowOf(victim)->sendTyped();
                QVERIFY(serveUntil([&] { return !h.listed(victim); }, 10000));

                // The other one is deleted between its timer's ticks.
                QVERIFY(serveUntil([&] { return windowOf(other)->sentBytes() >= 4 * 50; }, 10000));
                child<EndpointTree>(h.form, "tree")->setCurrentItem(nodeOf(other));
                h.form->deleteSelected();
                QVERIFY(!h.listed(other));
                QVERIFY(serveUntil([&] { return !udpWindow && !tcpWindow; }, 5000));
                drainer.stop();
                QCOMPARE(h.form->endpoints().size(), 0);
            }
            QVERIFY(!deadline.hasExpired());
            QVERIFY2(h.recorder.exceptions.isEmpty(), qPrintable(h.recorder.exceptions.join('\n')));
            QVERIFY2(h.recorder.messages.isEmpty(), qPrintable(h.recorder.messages.join('\n')));
        }
        QVERIFY(serveUntil([&] { return openDescriptorCount() == fdsBefore; }, 10000));
        QCOMPARE(openDescriptorCount(), fdsBefore);
    }

    // A burst far larger than one wake-up's batch reaches the handler whole,
    // one call per datagram, in order. A handler that closes the socket ends
    // the batch: a new socket that takes over the same descriptor number is
    // left alone.
    void udpBurstArrivesDatagramByDatagram()
    {
        const int fdsBefore = openDescriptorCount();
        {
            auto udp = std::make_unique<UdpSocket>();
            udp->setLocalPort(0);
            const int port = localPort(udp->socketHandle());
            QStringList seen;
            const auto reading = QObject::connect(udp.get(), &UdpSocket::datagramReceived, [&](int n) {
                QBuffer stream;
                stream.open(QIODevice::ReadWrite);
                udp->readDatagram(stream);
                seen << QString::fromLatin1(stream.data().left(n));
            });
            Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
            const sockaddr_in to = loopback(port);
            const int burst = 10 * UdpSocket::MaxDatagramsPerWakeup + 3;
            for (int i = 0; i < burst; ++i) {
                const QByteArray d = QByteArray::number(i);
                ::sendto(sender.get(), d.constData(), size_t(d.size()), 0,
                    reinterpret_cast<const sockaddr *>(&to), sizeof to);
            }
            QVERIFY(serveUntil([&] { return seen.size() >= burst; }, 5000));
            for (int i = 0; i < burst; ++i)
                QCOMPARE(seen[i], QString::number(i));

            // Closed from the handler, with more datagrams waiting; the
            // descriptor number goes at once to another socket with data.
            Fd other;
            int otherPort = 0;
            QObject::disconnect(reading);
            QObject::connect(udp.get(), &UdpSocket::datagramReceived, [&] {
                seen << QStringLiteral("closing");
                const int number = udp->socketHandle();
                dgram::closesocket(number);
                other = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
                const sockaddr_in any = loopback(0);
                ::bind(other.get(), reinterpret_cast<const sockaddr *>(&any), sizeof any);
                otherPort = localPort(other.get());
                const sockaddr_in there = loopback(otherPort);
                ::sendto(
                    sender.get(), "mine", 4, 0, reinterpret_cast<const sockaddr *>(&there), sizeof there);
                pollfd arrived{other.get(), POLLIN, 0};
                ::poll(&arrived, 1, 1000);
            });
            seen.clear();
            for (int i = 0; i < 5; ++i)
                ::sendto(sender.get(), "x", 1, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            QVERIFY(serveUntil([&] { return !seen.isEmpty(); }, 5000));
            QTest::qWait(50);
            QCOMPARE(seen, QStringList{QStringLiteral("closing")});
            char buffer[16];
            QCOMPARE(::recv(other.get(), buffer, sizeof buffer, MSG_DONTWAIT), ssize_t(4));
            udp.reset(); // its handle is closed already
        }
        QVERIFY(serveUntil([&] { return openDescriptorCount() == fdsBefore; }, 5000));
        QCOMPARE(openDescriptorCount(), fdsBefore);
    }

    void cleanupTestCase()
    {
        QVERIFY(serveUntil([&] { return openDescriptorCount() == fdsAtStart_; }, 10000));
        QCOMPARE(openDescriptorCount(), fdsAtStart_);
    }

private:
    int fdsAtStart_ = 0;
};

QTEST_MAIN(TstEndurance)
#include "tst_endurance.moc"
