#include "net/udp/udpsocket.h"

#include <QtTest>

#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// Closes the handle before the component goes, as the program does.
struct CloseAndDelete {
    void operator()(UdpSocket *u) const
    {
        dgram::closesocket(u->SocketHandle());
        std::default_delete<UdpSocket>()(u);
    }
};
using Udp = std::unique_ptr<UdpSocket, CloseAndDelete>;

struct Datagram {
    int bytes;
    QString fromIP;
    int port;
    QByteArray data;
};

// A component on `port` whose handler copies every datagram out, as the
// program's receive handlers do.
Udp listening(int port, QList<Datagram> &into)
{
    Udp u(new UdpSocket);
    u->SetLocalPort(port);
    UdpSocket *self = u.get();
    u->OnDataReceived = [self, &into](QObject *sender, int n, const QString &ip, int from) {
        QCOMPARE(sender, self);
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        self->ReadDatagram(stream);
        QCOMPARE(stream.pos(), 0);
        into << Datagram{n, ip, from, stream.data()};
    };
    return u;
}

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

int plainSocket(const char *address, int port = 0)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = inet_addr(address);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return s;
}

int portOf(int s)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    return ntohs(a.sin_port);
}

void plainSend(int s, int port, const QByteArray &data)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(port));
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    QCOMPARE(::sendto(s, data.constData(), data.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
        ssize_t(data.size()));
}

void send(UdpSocket &u, const QByteArray &data)
{
    QBuffer stream;
    stream.setData(data);
    stream.open(QIODevice::ReadWrite);
    u.SendDatagram(stream);
}

QString sendError(UdpSocket &u, const QByteArray &data)
{
    try {
        send(u, data);
    } catch (const UdpSocketError &e) {
        return e.Message();
    }
    return QStringLiteral("no UdpSocketError");
}

} // namespace

class TstUdpSocket : public QObject {
    Q_OBJECT

private slots:
    void datagramArrivesWithSenderAddressAndPort_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("one byte") << 1;
        QTest::newRow("2048") << 2048;
        QTest::newRow("2049") << 2049;
        QTest::newRow("largest") << dgram::MaxUdpDatagram;
    }
    void datagramArrivesWithSenderAddressAndPort()
    {
        QFETCH(int, size);
        QList<Datagram> got;
        const int receiverPort = freePort(), senderPort = freePort();
        Udp receiver = listening(receiverPort, got);
        Udp sender(new UdpSocket);
        sender->SetLocalPort(senderPort);
        sender->SetRemoteHost(QStringLiteral("127.0.0.1"));
        sender->SetRemotePort(receiverPort + 65536); // only the low 16 bits count
        int sent = 0;
        sender->OnDataSend = [&](QObject *s) { sent += s == sender.get(); };
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char(i * 7 % 251);
        send(*sender, data);
        QCOMPARE(sent, 1);
        QTRY_COMPARE(got.size(), 1);
        QCOMPARE(got[0].bytes, size);
        QCOMPARE(got[0].data, data);
        QCOMPARE(got[0].fromIP, QStringLiteral("127.0.0.1"));
        QCOMPARE(got[0].port, senderPort);
    }

    void eachNotificationDeliversOneDatagramInOrder()
    {
        QList<Datagram> got;
        const int port = freePort();
        Udp receiver = listening(port, got);
        bool nested = false, inside = false;
        auto copy = receiver->OnDataReceived;
        receiver->OnDataReceived = [&](QObject *s, int n, const QString &ip, int p) {
            nested |= inside;
            inside = true;
            copy(s, n, ip, p);
            inside = false;
        };
        const int a = plainSocket("127.0.0.1"), b = plainSocket("127.0.0.2");
        plainSend(a, port, QByteArray()); // a datagram of no bytes is a datagram too
        QList<QByteArray> expected{QByteArray()};
        for (int i = 0; i < 100; ++i) {
            expected << QByteArray::number(i);
            plainSend(i % 2 ? b : a, port, expected.last());
        }
        QTRY_COMPARE(got.size(), expected.size());
        QVERIFY(!nested);
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].data, expected[i]);
            QCOMPARE(got[i].bytes, expected[i].size());
            const bool fromB = i > 0 && (i - 1) % 2;
            QCOMPARE(got[i].fromIP, fromB ? QStringLiteral("127.0.0.2") : QStringLiteral("127.0.0.1"));
            QCOMPARE(got[i].port, portOf(fromB ? b : a));
        }
        ::close(a);
        ::close(b);
    }

    void refusedSendSendsNothing_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("error");
        QTest::newRow("any address") << "0.0.0.0" << 4 << "Null Remote Address";
        QTest::newRow("empty host") << "" << 4 << "Null Remote Address";
        QTest::newRow("too large") << "127.0.0.1" << dgram::MaxUdpDatagram + 1
                                   << "Datagram too large: 65508 bytes, one datagram carries at most 65507";
    }
    void refusedSendSendsNothing()
    {
        QFETCH(QString, host);
        QFETCH(int, size);
        QFETCH(QString, error);
        QList<Datagram> got;
        const int port = freePort();
        Udp receiver = listening(port, got);
        Udp sender(new UdpSocket);
        sender->SetLocalPort(freePort());
        sender->SetRemotePort(port);
        sender->SetRemoteHost(host);
        int sent = 0;
        sender->OnDataSend = [&](QObject *) { ++sent; };
        QCOMPARE(sendError(*sender, QByteArray(size, 'x')), error);
        QCOMPARE(sent, 0);
        sender->SetRemoteHost(QStringLiteral("127.0.0.1"));
        send(*sender, "marker");
        QTRY_COMPARE(got.size(), 1);
        QCOMPARE(got[0].data, QByteArray("marker"));
    }

    void emptyStreamIsInvalidUnlessHandlerFillsIt()
    {
        Udp u(new UdpSocket);
        u->SetLocalPort(freePort());
        u->SetRemoteHost(QStringLiteral("127.0.0.1"));
        u->SetRemotePort(freePort());
        const auto invalid = [&] {
            try {
                send(*u, QByteArray());
            } catch (const UdpSocketError &) {
                return false;
            } catch (const Exception &e) {
                return e.Message() == QLatin1String("Invalid stream");
            }
            return false;
        };
        QVERIFY(invalid());
        int calls = 0;
        u->OnStreamInvalid = [&](bool &handled, QIODevice &) { ++calls, handled = true; };
        QVERIFY(invalid());
        QCOMPARE(calls, 1);
        u->OnStreamInvalid = [&](bool &handled, QIODevice &stream) { handled = stream.write("filled") == 6; };
        int sent = 0;
        u->OnDataSend = [&](QObject *) { ++sent; };
        send(*u, QByteArray());
        QCOMPARE(sent, 1);
    }

    void hostNameIsLookedUpWhileEventsKeepRunning()
    {
        QList<Datagram> got;
        const int port = freePort();
        Udp receiver = listening(port, got);
        Udp sender(new UdpSocket);
        sender->SetLocalPort(freePort());
        sender->SetRemoteHost(QStringLiteral("localhost"));
        sender->SetRemotePort(port);
        bool ranDuringLookup = false;
        QMetaObject::invokeMethod(
            this, [&] { ranDuringLookup = true; }, Qt::QueuedConnection);
        send(*sender, "by name");
        QVERIFY(ranDuringLookup);
        QTRY_COMPARE(got.size(), 1);
        QCOMPARE(got[0].data, QByteArray("by name"));
    }

    void componentDestroyedDuringLookupIsLeftAlone()
    {
        Udp doomed(new UdpSocket);
        doomed->SetLocalPort(freePort());
        doomed->SetRemoteHost(QStringLiteral("localhost"));
        doomed->SetRemotePort(freePort());
        UdpSocket *raw = doomed.get();
        int sent = 0;
        doomed->OnDataSend = [&](QObject *) { ++sent; };
        QMetaObject::invokeMethod(
            this, [&] { doomed.reset(); }, Qt::QueuedConnection);
        QCOMPARE(sendError(*raw, "late"), QStringLiteral("Host Lookup Canceled"));
        QVERIFY(!doomed);
        QCOMPARE(sent, 0);
    }

    // Only inside a private network namespace: there the name cannot reach a resolver.
    void unresolvableNameFailsFastAfterOneRetryWhenHandled()
    {
        if (qEnvironmentVariable("PW_NETNS") != QLatin1String("1"))
            QSKIP("needs a private network namespace (tests/netns-run)");
        Udp u(new UdpSocket);
        u->SetLocalPort(freePort());
        u->SetRemoteHost(
            QString(200, QLatin1Char('a')) + QStringLiteral(".invalid")); // longer than 127: whole
        u->SetRemotePort(9);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(sendError(*u, "x"), QStringLiteral("Host Lookup Canceled"));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        int asked = 0;
        u->OnInvalidHost = [&](bool &handled) { ++asked, handled = true; };
        QCOMPARE(sendError(*u, "x"), QStringLiteral("Host Lookup Canceled"));
        QCOMPARE(asked, 1);
        u->OnInvalidHost = [&](bool &) { ++asked; };
        QCOMPARE(sendError(*u, "x"), QStringLiteral("Host Lookup Canceled"));
        QCOMPARE(asked, 2);
    }

    void portInUseLeavesSocketUnboundSilently()
    {
        const int holder = plainSocket("0.0.0.0");
        const int held = portOf(holder);
        const int peer = plainSocket("127.0.0.1");
        Udp u(new UdpSocket);
        QStringList statuses;
        u->SetReportLevel(8); // every report but the error manager's
        u->OnStatus = [&](QObject *, const QString &s) { statuses << s; };
        u->SetLocalPort(held);
        QCOMPARE(statuses, QStringList());
        u->SetRemoteHost(QStringLiteral("127.0.0.1"));
        u->SetRemotePort(portOf(peer));
        send(*u, "from elsewhere");
        QCOMPARE(statuses, QStringList{"Sending Data"});
        QCOMPARE(u->Status(), QStringLiteral("Sending Data"));
        pollfd ready{peer, POLLIN, 0};
        QCOMPARE(::poll(&ready, 1, 5000), 1);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        char buffer[64];
        QCOMPARE(
            ::recvfrom(peer, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length), 14);
        QVERIFY(ntohs(from.sin_port) != held);
        ::close(holder);
        ::close(peer);
    }

    void settingLocalPortAgainMakesNewSocket()
    {
        QList<Datagram> got;
        const int port = freePort();
        Udp u = listening(port, got);
        struct stat before { };
        ::fstat(u->SocketHandle(), &before);
        const int peer = plainSocket("127.0.0.1");
        plainSend(peer, port, "queued on the old socket");
        pollfd ready{u->SocketHandle(), POLLIN, 0};
        QCOMPARE(::poll(&ready, 1, 5000), 1);
        u->SetLocalPort(port);
        struct stat after { };
        ::fstat(u->SocketHandle(), &after);
        QVERIFY(before.st_ino != after.st_ino);
        QCOMPARE(u->LocalPort(), port);
        plainSend(peer, port, "new");
        QTRY_COMPARE(got.size(), 1);
        QCOMPARE(got[0].data, QByteArray("new"));
        ::close(peer);
    }

    void socketCreationFailureRaisesUnknownError()
    {
        Udp u(new UdpSocket);
        QStringList statuses;
        u->SetReportLevel(16);
        u->OnStatus = [&](QObject *, const QString &s) { statuses << s; };
        // Fill every free descriptor below the component's socket and forbid
        // higher ones, so the socket that replaces it cannot be made.
        std::vector<int> fillers;
        int fd;
        while ((fd = ::dup(0)) >= 0 && fd < u->SocketHandle())
            fillers.push_back(fd);
        ::close(fd);
        rlimit saved{};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(u->SocketHandle());
        ::setrlimit(RLIMIT_NOFILE, &tight);
        QString message;
        try {
            u->SetLocalPort(freePort());
        } catch (const UdpSocketError &e) {
            message = e.Message();
        }
        ::setrlimit(RLIMIT_NOFILE, &saved);
        for (int fd : fillers)
            ::close(fd);
        const QString expected = QStringLiteral("Unknown Error No. %1").arg(EMFILE);
        QCOMPARE(message, expected);
        QCOMPARE(u->LastError(), EMFILE);
        QCOMPARE(statuses,
            (QStringList{"Checking Error In Error Manager", "Looking Up Error Message" + expected}));
        QCOMPARE(u->SocketHandle(), dgram::InvalidSocket);
    }
};

QTEST_GUILESS_MAIN(TstUdpSocket)
#include "tst_udpsocket.moc"
