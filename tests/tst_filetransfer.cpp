// Files sent through endpoints in pieces, to real peers on 127.0.0.1: whole
// and unchanged at the far end, with flat memory, and ended cleanly by a
// cancel, a peer that leaves, a removed endpoint or a file cut short.
#include "endpoints/endpointcontroller.h"
#include "endpoints/filetransfer.h"
#include "net/serial/serialport.h"
#include "net/udp/udpsocket.h"
#include "support/endpoint_harness.h"
#include "support/loopback.h"
#include "support/stalledfiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <sys/stat.h>

using namespace endpoint_test;
using namespace loopback_test;

namespace {

using Result = FileTransfer::Result;

// A file whose bytes follow a pseudo-random sequence, so that a piece sent
// twice, lost or out of place changes the checksum.
struct SampleFile {
    QString path;
    qint64 size = 0;
    QByteArray checksum;
};

SampleFile writeSample(const QTemporaryDir &dir, const QString &name, qint64 size)
{
    SampleFile sample{dir.filePath(name), size, {}};
    QFile file(sample.path);
    if (!file.open(QIODevice::WriteOnly))
        return sample;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint32 state = quint32(size) ^ 0x9e3779b9u;
    for (qint64 written = 0; written < size;) {
        for (char &byte : block) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = char(state);
        }
        const qint64 n = std::min<qint64>(block.size(), size - written);
        file.write(block.constData(), n);
        hash.addData(QByteArrayView(block.constData(), n));
        written += n;
    }
    sample.checksum = hash.result();
    return sample;
}

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The far end of a TCP connection: what it read so far, and its checksum.
class Receiver {
public:
    explicit Receiver(int fd)
        : fd_(fd)
    {
    }
    // Reads what waits now; false when nothing did.
    bool drain()
    {
        bool any = false;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return any;
            hash_.addData(QByteArrayView(buffer, n));
            received += n;
            any = true;
        }
    }
    [[nodiscard]] QByteArray checksum() const { return hash_.result(); }
    qint64 received = 0;

private:
    int fd_;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
};

// Runs the event loop and reads for the receivers until done() holds or the
// time is up; notes the highest resident size seen.
template <typename Done>
bool serveUntil(const std::vector<Receiver *> &receivers, Done done, int timeoutMs, qint64 *peakKb = nullptr)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        bool any = false;
        for (Receiver *receiver : receivers)
            any = receiver->drain() || any;
        if (peakKb)
            *peakKb = std::max(*peakKb, residentKb());
        if (done())
            return true;
        if (any)
            QCoreApplication::processEvents();
        else
            QTest::qWait(1);
    }
    return done();
}

// What a transfer told, as it told it.
struct Outcome {
    explicit Outcome(FileTransfer *transfer)
    {
        QObject::connect(
            transfer, &FileTransfer::progressed, transfer, [this](qint64 n) { progressed += n; });
        QObject::connect(transfer, &FileTransfer::finished, transfer, [this](Result r, const QString &why) {
            ++finishedCount;
            result = r;
            reason = why;
        });
    }
    qint64 progressed = 0;
    int finishedCount = 0;
    Result result = Result::Completed;
    QString reason;
};

// Waits until the transfer stopped moving: its peer does not read.
bool stalls(FileTransfer *transfer)
{
    qint64 before = -1;
    for (int i = 0; i < 50; ++i) {
        QTest::qWait(100);
        if (transfer->sent() > 0 && transfer->sent() == before)
            return true;
        before = transfer->sent();
    }
    return false;
}

} // namespace

class TstFileTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No UDP Server made here reaches a real serial port.
        SerialPort::setDevicePathResolver(
            [](const QString &) { return QStringLiteral("/nonexistent/com1"); });
        QVERIFY(dir_.isValid());
    }

    void largeFileArrivesWholeWithFlatMemory()
    {
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        const SampleFile file = writeSample(dir_, QStringLiteral("large"), 64LL * 1024 * 1024);
        Receiver peer(c.peer.get());
        const qint64 before = residentKb();
        qint64 peak = before;
        QString error;
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, file.path, &owner, &error);
        QVERIFY2(transfer, qPrintable(error));
        QCOMPARE(transfer->fileSize(), file.size);
        QCOMPARE(transfer->total(), file.size);
        Outcome outcome(transfer);
        QVERIFY(serveUntil(
            {&peer}, [&] { return outcome.finishedCount > 0; }, 60000, &peak));
        QCOMPARE(outcome.result, Result::Completed);
        QVERIFY(outcome.reason.isEmpty());
        QVERIFY(serveUntil(
            {&peer}, [&] { return peer.received >= file.size; }, 10000));
        QCOMPARE(peer.received, file.size);
        QCOMPARE(peer.checksum(), file.checksum);
        QCOMPARE(transfer->sent(), file.size);
        QCOMPARE(outcome.progressed, file.size);
        QVERIFY(!transfer->isRunning());
        QVERIFY2(peak - before < 32 * 1024, qPrintable(QStringLiteral("grew by %1 kB").arg(peak - before)));
        QTest::qWait(50);
        QCOMPARE(outcome.finishedCount, 1);
    }

    void slowReaderStillGetsEverything()
    {
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        const SampleFile file = writeSample(dir_, QStringLiteral("slow"), 24LL * 1024 * 1024);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, file.path, &owner, nullptr);
        QVERIFY(transfer);
        Outcome outcome(transfer);
        // Nothing is read for a while: several room checks go by without room.
        QVERIFY(stalls(transfer));
        QTest::qWait(500);
        QVERIFY(transfer->sent() < transfer->total());
        QVERIFY(transfer->isRunning());
        QCOMPARE(outcome.finishedCount, 0);

        // Once reading resumes, the connection's room reports drive the
        // transfer: it moves far more often than the 200 ms retry could.
        int moves = 0;
        QObject::connect(transfer, &FileTransfer::progressed, transfer, [&moves] { ++moves; });
        QElapsedTimer resumed;
        resumed.start();
        Receiver peer(c.peer.get());
        QVERIFY(serveUntil(
            {&peer}, [&] { return outcome.finishedCount > 0; }, 60000));
        QCOMPARE(outcome.result, Result::Completed);
        QVERIFY2(moves > resumed.elapsed() / 200 + 2,
            qPrintable(QStringLiteral("%1 moves in %2 ms").arg(moves).arg(resumed.elapsed())));
        QVERIFY(serveUntil(
            {&peer}, [&] { return peer.received >= file.size; }, 10000));
        QCOMPARE(peer.checksum(), file.checksum);
        QCOMPARE(outcome.progressed, file.size);
    }

    void serverSendsToEveryPeerConnectedAtStart()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        Fd first = connectTo(port);
        Fd second = connectTo(port);
        QTRY_COMPARE(peerCount(server), 2);
        const SampleFile file = writeSample(dir_, QStringLiteral("both"), 4LL * 1024 * 1024);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*server, file.path, &owner, nullptr);
        QVERIFY(transfer);
        QCOMPARE(transfer->total(), 2 * file.size);
        Outcome outcome(transfer);
        // A peer that comes later is not part of this transfer.
        Fd late = connectTo(port);
        Receiver a(first.get());
        Receiver b(second.get());
        Receiver c(late.get());
        QVERIFY(serveUntil(
            {&a, &b, &c}, [&] { return outcome.finishedCount > 0; }, 60000));
        QCOMPARE(outcome.result, Result::Completed);
        QVERIFY(serveUntil(
            {&a, &b}, [&] { return a.received >= file.size && b.received >= file.size; }, 10000));
        QCOMPARE(a.checksum(), file.checksum);
        QCOMPARE(b.checksum(), file.checksum);
        QCOMPARE(c.received, 0);
        QCOMPARE(transfer->sent(), 2 * file.size);
        QCOMPARE(outcome.progressed, 2 * file.size);
    }

    void peerLeavingMidFileFailsWhileOthersGetAll()
    {
        Harness h;
        const int port = unusedPort();
        Endpoint *server = h.tcpServer(port);
        QVERIFY(server);
        Fd staying = connectTo(port);
        Fd leaving = connectTo(port);
        QTRY_COMPARE(peerCount(server), 2);
        const SampleFile file = writeSample(dir_, QStringLiteral("leave"), 32LL * 1024 * 1024);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*server, file.path, &owner, nullptr);
        QVERIFY(transfer);
        Outcome outcome(transfer);
        QVERIFY(stalls(transfer));
        // Unread data makes the close a reset.
        leaving.reset();
        Receiver peer(staying.get());
        QVERIFY(serveUntil(
            {&peer}, [&] { return outcome.finishedCount > 0; }, 60000));
        QCOMPARE(outcome.result, Result::Failed);
        QCOMPARE(outcome.reason, QStringLiteral("连接已断开"));
        QVERIFY(transfer->sent() < transfer->total());
        QVERIFY(serveUntil(
            {&peer}, [&] { return peer.received >= file.size; }, 10000));
        QCOMPARE(peer.checksum(), file.checksum);

        // A client's only peer: nothing is left to send to.
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        FileTransfer *toClient = FileTransfer::start(*c.endpoint, file.path, &owner, nullptr);
        QVERIFY(toClient);
        Outcome clientOutcome(toClient);
        QVERIFY(stalls(toClient));
        c.peer.reset();
        QTRY_COMPARE_WITH_TIMEOUT(clientOutcome.finishedCount, 1, 10000);
        QCOMPARE(clientOutcome.result, Result::Failed);
        QCOMPARE(clientOutcome.reason, QStringLiteral("连接已断开"));
    }

    void cancelStopsItAndNothingMoreGoes()
    {
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        const SampleFile file = writeSample(dir_, QStringLiteral("cancel"), 32LL * 1024 * 1024);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, file.path, &owner, nullptr);
        QVERIFY(transfer);
        Outcome outcome(transfer);
        QVERIFY(stalls(transfer));
        transfer->cancel();
        transfer->cancel();
        QVERIFY(!transfer->isRunning());
        QCOMPARE(outcome.finishedCount, 0); // told from the event loop, not from inside cancel()
        QTRY_COMPARE(outcome.finishedCount, 1);
        QCOMPARE(outcome.result, Result::Cancelled);
        QVERIFY(outcome.reason.isEmpty());
        const qint64 sent = transfer->sent();
        QVERIFY(sent < transfer->total());
        QCOMPARE(outcome.progressed, sent);

        // The peer gets exactly what was taken, and nothing once read up.
        Receiver peer(c.peer.get());
        QVERIFY(serveUntil(
            {&peer}, [&] { return peer.received >= sent; }, 10000));
        QVERIFY(!serveUntil(
            {&peer}, [&] { return peer.received > sent; }, 500));
        QCOMPARE(transfer->sent(), sent);
        QCOMPARE(outcome.finishedCount, 1);
    }

    void removingTheEndpointOrTheTransferMidFileIsSafe()
    {
        Harness h;
        const SampleFile file = writeSample(dir_, QStringLiteral("remove"), 16LL * 1024 * 1024);

        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, file.path, &owner, nullptr);
        QVERIFY(transfer);
        Outcome outcome(transfer);
        QVERIFY(stalls(transfer));
        h.form->controller().remove(c.endpoint);
        Receiver peer(c.peer.get());
        QVERIFY(serveUntil(
            {&peer}, [&] { return outcome.finishedCount > 0; }, 10000));
        QCOMPARE(outcome.result, Result::Failed);
        QCOMPARE(outcome.reason, QStringLiteral("连接已断开"));

        // The transfer itself goes while it waits for room; the connection's
        // later room and the next transfer on it find nothing stale.
        auto d = h.connectedTcpClient();
        QCOMPARE(d.endpoint->state, EndpointState::Connected);
        auto parent = std::make_unique<QObject>();
        QVERIFY(FileTransfer::start(*d.endpoint, file.path, parent.get(), nullptr));
        QTest::qWait(300);
        parent.reset();
        Receiver next(d.peer.get());
        // What the first one had handed over still arrives; then nothing.
        (void)serveUntil(
            {&next}, [] { return false; }, 300);
        const qint64 before = next.received;
        const SampleFile small = writeSample(dir_, QStringLiteral("after"), 256 * 1024);
        FileTransfer *again = FileTransfer::start(*d.endpoint, small.path, &owner, nullptr);
        QVERIFY(again);
        Outcome againOutcome(again);
        QVERIFY(serveUntil(
            {&next}, [&] { return againOutcome.finishedCount > 0; }, 10000));
        QCOMPARE(againOutcome.result, Result::Completed);
        QVERIFY(serveUntil(
            {&next}, [&] { return next.received >= before + small.size; }, 10000));
        QCOMPARE(next.received, before + small.size);

        // A UDP Client removed from inside the transfer's own progress signal.
        DatagramReceiver receiver;
        Endpoint *udp = h.udpClient(receiver.port(), 0);
        QVERIFY(udp);
        FileTransfer *datagrams = FileTransfer::start(*udp, file.path, &owner, nullptr);
        QVERIFY(datagrams);
        Outcome udpOutcome(datagrams);
        QObject::connect(datagrams, &FileTransfer::progressed, datagrams,
            [&h, &udp] { h.form->controller().remove(std::exchange(udp, nullptr)); });
        QTRY_COMPARE(udpOutcome.finishedCount, 1);
        QCOMPARE(udpOutcome.result, Result::Failed);
        QCOMPARE(udpOutcome.reason, QStringLiteral("连接已断开"));
        QVERIFY(datagrams->sent() < file.size);
    }

    void udpKindsSendOrderedDatagrams()
    {
        Harness h;
        DatagramReceiver receiver;
        Endpoint *udp = h.udpClient(receiver.port(), 0);
        QVERIFY(udp);
        const SampleFile file = writeSample(dir_, QStringLiteral("datagrams"), 100000);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*udp, file.path, &owner, nullptr);
        QVERIFY(transfer);
        Outcome outcome(transfer);
        QTRY_COMPARE(outcome.finishedCount, 1);
        QCOMPARE(outcome.result, Result::Completed);
        QTRY_COMPARE(receiver.collect(), 98); // ceil(100000 / 1024)
        QByteArray whole;
        for (int i = 0; i < receiver.received.size(); ++i) {
            QCOMPARE(receiver.received[i].size(), i < 97 ? 1024 : 100000 - 97 * 1024);
            whole += receiver.received[i];
        }
        QCOMPARE(QCryptographicHash::hash(whole, QCryptographicHash::Sha256), file.checksum);
        QCOMPARE(transfer->sent(), file.size);

        // A UDP Server sends to whoever sent to it last.
        const int serverPort = DatagramReceiver().port();
        Endpoint *server = h.udpServer(serverPort);
        QVERIFY(server);
        DatagramReceiver asker;
        asker.sendTo(serverPort, "?");
        QTRY_COMPARE(server->peerPort, asker.port());
        FileTransfer *reply = FileTransfer::start(*server, file.path, &owner, nullptr);
        QVERIFY(reply);
        Outcome replyOutcome(reply);
        QTRY_COMPARE(replyOutcome.finishedCount, 1);
        QCOMPARE(replyOutcome.result, Result::Completed);
        QTRY_COMPARE(asker.collect(), 98);
        QByteArray replied;
        for (const QByteArray &datagram : asker.received)
            replied += datagram;
        QCOMPARE(QCryptographicHash::hash(replied, QCryptographicHash::Sha256), file.checksum);

        // A send the socket refuses ends it with the socket's message.
        udp->udp()->setRemoteHost(QStringLiteral("0.0.0.0"));
        FileTransfer *refused = FileTransfer::start(*udp, file.path, &owner, nullptr);
        QVERIFY(refused);
        Outcome refusedOutcome(refused);
        QTRY_COMPARE(refusedOutcome.finishedCount, 1);
        QCOMPARE(refusedOutcome.result, Result::Failed);
        QCOMPARE(refusedOutcome.reason, QStringLiteral("Null Remote Address"));
        QCOMPARE(refused->sent(), 0);
    }

    void startRefusesWhatCannotBeSentAndEmptyFilesCompleteAtOnce()
    {
        Harness h;
        QObject owner;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        QString error;
        QVERIFY(!FileTransfer::start(*c.endpoint, dir_.filePath(QStringLiteral("missing")), &owner, &error));
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));

        const SampleFile file = writeSample(dir_, QStringLiteral("refused"), 1000);
        Endpoint *idleClient = h.tcpClient(unusedPort());
        Endpoint *lonelyServer = h.tcpServer(unusedPort());
        const int udpPort = DatagramReceiver().port();
        Endpoint *udpServer = h.udpServer(udpPort);
        for (Endpoint *endpoint : {idleClient, lonelyServer, udpServer}) {
            QVERIFY2(endpoint, qPrintable(h.recorder.messages.join(';')));
            error.clear();
            QVERIFY(!FileTransfer::start(*endpoint, file.path, &owner, &error));
            QCOMPARE(error, QStringLiteral("没有可发送的连接"));
        }

        const SampleFile empty = writeSample(dir_, QStringLiteral("empty"), 0);
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, empty.path, &owner, &error);
        QVERIFY(transfer);
        Outcome outcome(transfer);
        QCOMPARE(outcome.finishedCount, 0);
        QTRY_COMPARE(outcome.finishedCount, 1);
        QCOMPARE(outcome.result, Result::Completed);
        QCOMPARE(transfer->total(), 0);
        QCOMPARE(transfer->sent(), 0);
        QCOMPARE(outcome.progressed, 0);
    }

    void fileCutShortMidSendFails()
    {
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        const SampleFile file = writeSample(dir_, QStringLiteral("cut"), 32LL * 1024 * 1024);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, file.path, &owner, nullptr);
        QVERIFY(transfer);
        Outcome outcome(transfer);
        QVERIFY(stalls(transfer));
        QVERIFY(QFile::resize(file.path, transfer->sent()));
        Receiver peer(c.peer.get());
        QVERIFY(serveUntil(
            {&peer}, [&] { return outcome.finishedCount > 0; }, 10000));
        QCOMPARE(outcome.result, Result::Failed);
        QCOMPARE(outcome.reason, QStringLiteral("读取文件失败：文件比开始发送时短"));
        QVERIFY(serveUntil(
            {&peer}, [&] { return peer.received >= transfer->sent(); }, 10000));
        QCOMPARE(peer.received, transfer->sent());
    }

    // What was appended after the start is not sent: the total said at the
    // start holds.
    void aFileThatGrowsMidSendIsSentAsLongAsItWas()
    {
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        const SampleFile file = writeSample(dir_, QStringLiteral("grows"), 32LL * 1024 * 1024 + 1000);
        QObject owner;
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, file.path, &owner, nullptr);
        QVERIFY(transfer);
        QCOMPARE(transfer->total(), file.size);
        Outcome outcome(transfer);
        QVERIFY(stalls(transfer));
        {
            QFile grown(file.path);
            QVERIFY(grown.open(QIODevice::Append));
            QCOMPARE(grown.write(QByteArray(100 * 1024, 'g')), 100 * 1024);
        }
        Receiver peer(c.peer.get());
        QVERIFY(serveUntil(
            {&peer}, [&] { return outcome.finishedCount > 0; }, 60000));
        QCOMPARE(outcome.result, Result::Completed);
        QCOMPARE(transfer->sent(), file.size);
        QCOMPARE(outcome.progressed, file.size);
        QVERIFY(serveUntil(
            {&peer}, [&] { return peer.received >= file.size; }, 10000));
        QVERIFY(!serveUntil(
            {&peer}, [&] { return peer.received > file.size; }, 300));
        QCOMPARE(peer.received, file.size);
        QCOMPARE(peer.checksum(), file.checksum);
    }

    // A named pipe would hold open() until a writer comes; a folder or a
    // device is nothing to send.
    void whatIsNotARegularFileIsRefusedAtOnce()
    {
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        const QByteArray fifo = QFile::encodeName(dir_.filePath(QStringLiteral("pipe")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QObject owner;
        QString error;
        {
            FifoRescue rescue(fifo, O_WRONLY);
            const FileTransfer *transfer
                = FileTransfer::start(*c.endpoint, QString::fromLocal8Bit(fifo), &owner, &error);
            rescue.disarm();
            QVERIFY2(!rescue.rescued(), "open() waited for a writer to the pipe");
            QVERIFY(!transfer);
            QCOMPARE(error, QStringLiteral("不是普通文件"));
        }
        for (const QString &path : {dir_.path(), QStringLiteral("/dev/null")}) {
            error.clear();
            QVERIFY(!FileTransfer::start(*c.endpoint, path, &owner, &error));
            QCOMPARE(error, QStringLiteral("不是普通文件"));
        }
    }

    // A file of /proc says it holds nothing, yet has content.
    void aFileThatSaysItIsEmptyIsSentToItsEnd()
    {
        QFile version(QStringLiteral("/proc/version"));
        if (!version.open(QIODevice::ReadOnly))
            QSKIP("no /proc/version");
        const QByteArray content = version.readAll();
        QVERIFY(!content.isEmpty());
        QCOMPARE(QFileInfo(version).size(), 0);
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        QObject owner;
        QString error;
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, version.fileName(), &owner, &error);
        QVERIFY2(transfer, qPrintable(error));
        QCOMPARE(transfer->total(), content.size());
        Outcome outcome(transfer);
        Receiver peer(c.peer.get());
        QVERIFY(serveUntil(
            {&peer}, [&] { return outcome.finishedCount > 0 && peer.received >= content.size(); }, 10000));
        QCOMPARE(outcome.result, Result::Completed);
        QCOMPARE(peer.received, content.size());
        QCOMPARE(peer.checksum(), QCryptographicHash::hash(content, QCryptographicHash::Sha256));
        QCOMPARE(outcome.progressed, content.size());
    }

    // A file system that stops answering holds whatever reads from it; the
    // window must go on, and the transfer end when asked.
    void aReadThatStallsHoldsNeitherTheWindowNorTheEnd()
    {
        Harness h;
        auto c = h.connectedTcpClient();
        QCOMPARE(c.endpoint->state, EndpointState::Connected);
        const SampleFile file = writeSample(dir_, QStringLiteral("stalled"), 1024 * 1024);
        StalledFiles files(std::chrono::seconds(10));
        files.stallReads();
        auto owner = std::make_unique<QObject>();
        FileTransfer *transfer = FileTransfer::start(*c.endpoint, file.path, owner.get(), nullptr);
        QVERIFY(transfer);
        QCOMPARE(transfer->total(), file.size);
        Outcome outcome(transfer);
        QTRY_VERIFY(files.stalledCalls() > 0);
        QVERIFY2(!files.stalledOnTestThread(), "the window's thread read the file");
        QVERIFY(!files.gaveUp());
        transfer->cancel();
        QTRY_COMPARE(outcome.finishedCount, 1);
        QCOMPARE(outcome.result, Result::Cancelled);
        QCOMPARE(transfer->sent(), 0);
        owner.reset();
        files.release();

        // A file whose size says 0 is read whole before the start, for a
        // while only.
        const SampleFile empty = writeSample(dir_, QStringLiteral("unsized"), 0);
        StalledFiles unsized(std::chrono::seconds(10));
        unsized.stallReads();
        QObject parent;
        QString error;
        QVERIFY(!FileTransfer::start(*c.endpoint, empty.path, &parent, &error));
        QCOMPARE(error, QStringLiteral("读取文件无响应"));
        QCOMPARE(unsized.stalledCalls(), 1);
        QVERIFY2(!unsized.gaveUp(), "the start waited until the file system answered");
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(TstFileTransfer)
#include "tst_filetransfer.moc"
