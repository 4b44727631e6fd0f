// A serial endpoint in the engine, on pseudo-terminals: what arrives is
// framed into the log and answered, sends reach the device or are noted as
// not sent, a device that goes away is told once and opened again by its
// name when it comes back, and one that does not open is told.

#include "endpoints/endpoint.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/serialendpoint.h"
#include "endpoints/workspacesetup.h"
#include "session/endpointsession.h"
#include "session/seriallines.h"
#include "support/pseudoterminal.h"
#include "support/replyrule.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int WaitMs = 10000;

// The entries one session logs, in order.
struct Entries {
    explicit Entries(EndpointSession &session)
    {
        QObject::connect(&session, &EndpointSession::entryLogged, &session,
            [this](const LogEntry &e) { all.push_back(e); });
    }
    [[nodiscard]] QList<QByteArray> received() const
    {
        QList<QByteArray> found;
        for (const LogEntry &e : all)
            if (e.kind == LogEntry::Kind::Received)
                found << e.data;
        return found;
    }
    [[nodiscard]] int statusesContaining(const QString &text) const
    {
        int n = 0;
        for (const LogEntry &e : all)
            if (e.kind == LogEntry::Kind::Status && e.text.contains(text))
                ++n;
        return n;
    }
    std::vector<LogEntry> all;
};

SerialSetup setupFor(const QString &device)
{
    SerialSetup setup;
    setup.device = device;
    setup.framing = MessageFraming::Delimiter;
    setup.delimiter = QByteArrayLiteral("\n");
    return setup;
}

} // namespace

class SerialEndpointTest : public QObject {
    Q_OBJECT

private slots:
    void receivedBytesAreFramedIntoTheLogAndAnswered()
    {
        Pty pty;
        EndpointController controller;
        Endpoint *endpoint = controller.createSerialPort(setupFor(pty.path));
        QCOMPARE(endpoint->state, EndpointState::Connected);
        QVERIFY(endpoint->session->serialLines());
        QCOMPARE(endpoint->session->serialLines()->state(), SerialLines::State::OpenWithoutLines);
        Entries entries(*endpoint->session);
        endpoint->session->useReplyRules(
            {rule(MatchType::StartsWith, QStringLiteral("ping"), QStringLiteral("pong"))});
        endpoint->session->setAutoReplyOn(true);

        // Pieces that split the messages anywhere.
        pty.send("pi");
        QTest::qWait(30);
        pty.send("ng 1\nsta");
        QTest::qWait(30);
        pty.send("tus\n");
        QTRY_COMPARE_WITH_TIMEOUT(entries.received().size(), 2, WaitMs);
        QCOMPARE(entries.received(), (QList<QByteArray>{"ping 1\n", "status\n"}));
        QCOMPARE(endpoint->session->receivedBytes(), qint64(14));
        QCOMPARE(pty.receive(4), QByteArray("pong"));
    }

    void aSendThatDoesNotFitTheDevicesQueueIsNotedUnsent()
    {
        Pty pty; // its far end never reads
        EndpointController controller;
        Endpoint *endpoint = controller.createSerialPort(setupFor(pty.path));
        Entries entries(*endpoint->session);
        const QByteArray block(SerialChannel::OutputLimit, 'x');
        const qint64 first = endpoint->session->sendToPeer(block);
        const qint64 second = endpoint->session->sendToPeer(block);
        // The first fits the queue whole; of the second only what the
        // device took meanwhile.
        QCOMPARE(first, qint64(block.size()));
        QVERIFY2(second < block.size(), QByteArray::number(second).constData());
        QCOMPARE(entries.statusesContaining(QStringLiteral("发送失败：发送队列已满")), 1);
    }

    void aLostDeviceIsToldOnceAndOpenedAgainByItsNameWhenBack()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("adapter"));
        auto first = std::make_unique<Pty>();
        QVERIFY(QFile::link(first->path, link));
        EndpointController controller;
        QList<Endpoint *> changed;
        connect(&controller, &EndpointController::endpointChanged, this, [&](Endpoint *e) { changed << e; });
        Endpoint *endpoint = controller.createSerialPort(setupFor(link));
        QCOMPARE(endpoint->state, EndpointState::Connected);
        Entries entries(*endpoint->session);

        // Unplugged: the bytes sent before it went are still a message.
        first->send("last words");
        QTest::qWait(100);
        QVERIFY(entries.received().isEmpty());
        first->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(endpoint->state, EndpointState::Disconnected, WaitMs);
        // Logged as the device goes, before the line that says so.
        QCOMPARE(entries.received(), QList<QByteArray>{"last words"});
        QCOMPARE(entries.all.back().kind, LogEntry::Kind::Status);
        QCOMPARE(endpoint->session->serialLines()->state(), SerialLines::State::Closed);
        QFile::remove(link);
        QTest::qWait(3 * SerialEndpoint::ReconnectPollMs);
        QCOMPARE(endpoint->state, EndpointState::Disconnected);

        // Plugged back, as another device behind the same name.
        Pty second;
        QVERIFY(QFile::link(second.path, link));
        QTRY_COMPARE_WITH_TIMEOUT(endpoint->state, EndpointState::Connected, WaitMs);
        QCOMPARE(entries.statusesContaining(QStringLiteral("串口已断开")), 1);
        QCOMPARE(entries.statusesContaining(QStringLiteral("串口已重新打开")), 1);
        second.send("back\n");
        QTRY_COMPARE_WITH_TIMEOUT(entries.received().size(), 2, WaitMs);
        QCOMPARE(entries.received().last(), QByteArray("back\n"));
        QVERIFY(changed.contains(endpoint));
    }

    void aDeviceThatDoesNotOpenIsToldAndLookedForWhileReconnecting()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("later"));
        EndpointController controller;
        QStringList told;
        connect(&controller, &EndpointController::messageForUser, this, [&](const QString &t) { told << t; });
        Endpoint *endpoint = controller.createSerialPort(setupFor(link));
        QCOMPARE(endpoint->state, EndpointState::Disconnected);
        QCOMPARE(told, QStringList{QStringLiteral("无法打开串口 %1：设备不存在").arg(link)});

        Pty pty;
        QVERIFY(QFile::link(pty.path, link));
        QTRY_COMPARE_WITH_TIMEOUT(endpoint->state, EndpointState::Connected, WaitMs);

        // A second endpoint on the same device is refused: it is taken.
        Endpoint *other = controller.createSerialPort(setupFor(pty.path));
        QCOMPARE(other->state, EndpointState::Disconnected);
        QCOMPARE(told.last(), QStringLiteral("无法打开串口 %1：设备正被其他程序使用").arg(pty.path));
        // Closed by the user, the first frees the device and stays closed.
        controller.stop(*endpoint);
        QCOMPARE(endpoint->state, EndpointState::Disconnected);
        controller.start(*other);
        QCOMPARE(other->state, EndpointState::Connected);
        QTest::qWait(2 * SerialEndpoint::ReconnectPollMs);
        QCOMPARE(endpoint->state, EndpointState::Disconnected);
    }

    // What the window saves is what opens again: the device, its settings
    // and the levels last switched, as another run opens them.
    void aSavedSerialPortOpensAgainAsItWasLeft()
    {
        Pty pty;
        SerialSetup setup = setupFor(pty.path);
        setup.baud = 250000;
        setup.parity = SerialParity::Even;
        Workspace saved;
        {
            EndpointController controller;
            Endpoint *endpoint = controller.createSerialPort(setup);
            endpoint->session->serialLines()->requestDtr(false);
            saved = workspaceOf(controller);
        }
        QCOMPARE(saved.endpoints.size(), size_t(1));
        QCOMPARE(saved.endpoints[0].kind, EndpointKind::SerialPort);
        SerialSetup expected = setup;
        expected.dtr = false;
        QVERIFY(saved.endpoints[0].serial == expected);

        EndpointController again;
        const std::vector<OpenedEndpoint> opened = openWorkspace(again, saved);
        QCOMPARE(opened.size(), size_t(1));
        QCOMPARE(opened[0].problems, QStringList());
        QCOMPARE(opened[0].endpoint->state, EndpointState::Connected);
        QVERIFY(opened[0].endpoint->serialPort()->setup() == expected);
        QCOMPARE(pty.attributes().c_ospeed, 250000U);
    }
};

QTEST_GUILESS_MAIN(SerialEndpointTest)
#include "tst_serialendpoint.moc"
