#include "core/errors.h"
#include "net/udp/datagramcalls.h"

#include <QtTest>

#include <poll.h>

#include <thread>

using namespace winsock;

namespace {

constexpr unsigned GroupReadMessage = 0x401;

// Stands in for a data window: records every read message and runs an
// optional handler for it.
class Window : public QObject {
public:
    std::function<void(const TWinSockMessage &)> onMessage;
    QList<long> lParams;
    QList<std::uintptr_t> wParams;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() != TWinSockMessage::EventType())
            return QObject::event(e);
        const auto &m = static_cast<const TWinSockMessage &>(*e);
        if (m.Msg == GroupReadMessage) {
            lParams << m.LParam;
            wParams << m.WParam;
            if (onMessage)
                onMessage(m);
        }
        return true;
    }
};

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    return a;
}

SOCKET boundSocket(int &port, const char *address = "127.0.0.1")
{
    const SOCKET s = winsock::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    a.sin_addr.s_addr = inet_addr(address);
    if (winsock::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    port = ntohs(a.sin_port);
    return s;
}

void sendTo(SOCKET from, int port, const QByteArray &data, const char *address = "127.0.0.1")
{
    sockaddr_in to = loopback(port);
    to.sin_addr.s_addr = inet_addr(address);
    QCOMPARE(winsock::sendto(
                 from, data.constData(), int(data.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
        int(data.size()));
}

QByteArray receive(SOCKET s, sockaddr_in *from = nullptr, int capacity = MaxUdpDatagram)
{
    QByteArray buffer(capacity, '\0');
    sockaddr_in ignored{};
    int length = sizeof ignored;
    const int n = winsock::recvfrom(
        s, buffer.data(), capacity, 0, reinterpret_cast<sockaddr *>(from ? from : &ignored), &length);
    return n < 0 ? QByteArray() : buffer.left(n);
}

void spinEvents()
{
    for (int i = 0; i < 100; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TstDatagramCalls : public QObject {
    Q_OBJECT

private slots:
    void readMessageCarriesSocketAndEventAndHandlerReadsEachDatagram()
    {
        int port = 0, senderPort = 0;
        const SOCKET s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        QList<QByteArray> got;
        QList<int> fromPorts;
        window.onMessage = [&](const TWinSockMessage &) {
            sockaddr_in from{};
            got << receive(s, &from);
            fromPorts << ntohs(from.sin_port);
        };
        QCOMPARE(WSAAsyncSelect(s, &window, GroupReadMessage, FD_READ), 0);
        for (const char *d : {"one", "two", "three"})
            sendTo(sender, port, d);
        QTRY_COMPARE(got.size(), 3);
        QCOMPARE(got, (QList<QByteArray>{"one", "two", "three"}));
        QCOMPARE(fromPorts, (QList<int>{senderPort, senderPort, senderPort}));
        QCOMPARE(window.wParams.first(), std::uintptr_t(s));
        QCOMPARE(WSAGETSELECTEVENT(window.lParams.first()), int(FD_READ));
        QCOMPARE(WSAGETSELECTERROR(window.lParams.first()), 0);
        closesocket(s);
        closesocket(sender);
    }

    void handlerThatReadsNothingIsNotCalledAgainUntilRecvfrom()
    {
        int port = 0, senderPort = 0;
        const SOCKET s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        QCOMPARE(WSAAsyncSelect(s, &window, GroupReadMessage, FD_READ), 0);
        sendTo(sender, port, "a");
        sendTo(sender, port, "b");
        QTRY_COMPARE(window.lParams.size(), 1);
        spinEvents();
        QCOMPARE(window.lParams.size(), 1);
        QCOMPARE(receive(s), QByteArray("a"));
        QTRY_COMPARE(window.lParams.size(), 2); // "b" still waits
        QCOMPARE(receive(s), QByteArray("b"));
        spinEvents();
        QCOMPARE(window.lParams.size(), 2);
        sendTo(sender, port, "c");
        QTRY_COMPARE(window.lParams.size(), 3);
        closesocket(s);
        closesocket(sender);
    }

    void nestedEventLoopInHandlerDoesNotRedeliverUnreadDatagram()
    {
        int port = 0, senderPort = 0;
        const SOCKET s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        window.onMessage = [&](const TWinSockMessage &) {
            if (window.lParams.size() == 1)
                spinEvents(); // as a send loop inside a handler does
            receive(s);
        };
        QCOMPARE(WSAAsyncSelect(s, &window, GroupReadMessage, FD_READ), 0);
        sendTo(sender, port, "x");
        QTRY_COMPARE(window.lParams.size(), 1);
        spinEvents();
        QCOMPARE(window.lParams.size(), 1);
        closesocket(s);
        closesocket(sender);
    }

    void closedSocketSendsNoMoreMessagesEvenWhenItsNumberIsReused()
    {
        int port = 0, senderPort = 0;
        const SOCKET s = boundSocket(port), sender = boundSocket(senderPort);
        Window first;
        first.onMessage = [&](const TWinSockMessage &) { closesocket(s); };
        QCOMPARE(WSAAsyncSelect(s, &first, GroupReadMessage, FD_READ), 0);
        sendTo(sender, port, "1");
        sendTo(sender, port, "2");
        QTRY_COMPARE(first.lParams.size(), 1);

        // A socket that reuses the number and is read without any registration
        // of its own must not wake the old window.
        int reusedPort = 0;
        const SOCKET reused = boundSocket(reusedPort);
        QCOMPARE(reused, s); // the lowest free number comes back
        sendTo(sender, reusedPort, "3");
        QCOMPARE(receive(reused), QByteArray("3"));
        sendTo(sender, reusedPort, "4");
        spinEvents();
        QCOMPARE(first.lParams.size(), 1);
        QCOMPARE(receive(reused), QByteArray("4"));
        closesocket(reused);
        closesocket(sender);
    }

    void cancelledReplacedOrOrphanedRegistrationSendsNothing()
    {
        int port = 0, senderPort = 0;
        const SOCKET s = boundSocket(port), sender = boundSocket(senderPort);
        Window replaced, current;
        auto gone = std::make_unique<Window>();
        QCOMPARE(WSAAsyncSelect(s, gone.get(), GroupReadMessage, FD_READ), 0);
        gone.reset();
        QCOMPARE(WSAAsyncSelect(s, &replaced, GroupReadMessage, FD_READ), 0);
        QCOMPARE(WSAAsyncSelect(s, &current, GroupReadMessage, FD_READ), 0);
        sendTo(sender, port, "r");
        QTRY_COMPARE(current.lParams.size(), 1);
        QCOMPARE(replaced.lParams.size(), 0);

        QCOMPARE(WSAAsyncSelect(s, &current, GroupReadMessage, 0), 0);
        QCOMPARE(receive(s), QByteArray("r"));
        sendTo(sender, port, "s");
        spinEvents();
        QCOMPARE(current.lParams.size(), 1);
        QCOMPARE(receive(s), QByteArray("s"));
        // The registration left the socket non-blocking: an empty queue is an error, not a hang.
        char byte;
        QCOMPARE(winsock::recvfrom(s, &byte, 1, 0, nullptr, nullptr), SOCKET_ERROR);
        QCOMPARE(WSAGetLastError(), WSAEWOULDBLOCK);
        closesocket(s);
        closesocket(sender);
    }

    void exceptionFromHandlerIsReportedAndMessagesGoOn()
    {
        QStringList reported;
        const auto previous = SetExceptionReporter([&](const std::exception &e) { reported << e.what(); });
        int port = 0, senderPort = 0;
        const SOCKET s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        window.onMessage = [&](const TWinSockMessage &) {
            receive(s);
            if (window.lParams.size() == 1)
                throw Exception(QStringLiteral("handler failed"));
        };
        QCOMPARE(WSAAsyncSelect(s, &window, GroupReadMessage, FD_READ), 0);
        sendTo(sender, port, "1");
        sendTo(sender, port, "2");
        QTRY_COMPARE(window.lParams.size(), 2);
        SetExceptionReporter(previous);
        QCOMPARE(reported, QStringList{"handler failed"});
        closesocket(s);
        closesocket(sender);
    }

    void datagramLongerThanBufferFailsWithMessageSize()
    {
        int port = 0, senderPort = 0;
        const SOCKET s = boundSocket(port), sender = boundSocket(senderPort);
        sendTo(sender, port, QByteArray(100, 'x'));
        sendTo(sender, port, "next");
        char buffer[50];
        QCOMPARE(winsock::recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr), SOCKET_ERROR);
        QCOMPARE(WSAGetLastError(), WSAEMSGSIZE);
        QCOMPARE(receive(s), QByteArray("next"));
        pollfd more{s, POLLIN, 0};
        QCOMPARE(::poll(&more, 1, 0), 0); // the long one is gone, not left waiting
        closesocket(s);
        closesocket(sender);
    }

    void lastErrorIsClearedBySuccessAndKeptPerThread()
    {
        int port = 0;
        const SOCKET holder = boundSocket(port);
        const SOCKET s = winsock::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in taken = loopback(port);
        QCOMPARE(winsock::bind(s, reinterpret_cast<const sockaddr *>(&taken), sizeof taken), SOCKET_ERROR);
        QCOMPARE(WSAGetLastError(), WSAEADDRINUSE);
        int otherThread = -1;
        std::thread([&] { otherThread = WSAGetLastError(); }).join();
        QCOMPARE(otherThread, 0);
        QCOMPARE(WSAGetLastError(), WSAEADDRINUSE);
        QCOMPARE(
            winsock::setsockopt(s, WS_IPPROTO_IP, IP_ADD_MEMBERSHIP, "", 0), SOCKET_ERROR); // Linux's number
        QCOMPARE(WSAGetLastError(), WSAENOPROTOOPT);
        QCOMPARE(closesocket(s), 0);
        QCOMPARE(WSAGetLastError(), 0);
        closesocket(holder);
    }

    // Only inside a private network namespace (netns-run), where 224.0.0.0/4 goes to lo.
    void groupMembersHearEachOtherAndReplyGoesToLastSenderPort()
    {
        if (qEnvironmentVariable("PW_NETNS") != QLatin1String("1"))
            QSKIP("multicast runs only inside a private network namespace (tests/netns-run)");
        WSADATA data;
        QCOMPARE(WSAStartup(0x0101, &data), 0);
        const auto member = [](int port) {
            int p = port;
            const SOCKET s = boundSocket(p, "0.0.0.0");
            ip_mreq membership{};
            membership.imr_multiaddr.s_addr = inet_addr("224.1.1.1");
            membership.imr_interface.s_addr = htonl(0);
            const int joined = winsock::setsockopt(s, 0, 5, reinterpret_cast<const char *>(&membership), 8);
            return joined == 0 ? s : INVALID_SOCKET;
        };
        const int groupPort = 65000, otherPort = 65001;
        const SOCKET group = member(groupPort), other = member(otherPort);
        QVERIFY(group != INVALID_SOCKET && other != INVALID_SOCKET);
        int samePort = groupPort;
        QCOMPARE(boundSocket(samePort, "0.0.0.0"), INVALID_SOCKET); // a second group endpoint: "bind fail"

        sockaddr_in groupAddr{};
        groupAddr.sin_family = AF_INET;
        groupAddr.sin_port = htons(groupPort);
        QList<QByteArray> heard;
        Window window;
        window.onMessage = [&](const TWinSockMessage &) {
            QByteArray buffer(MaxUdpDatagram, '\0');
            int length = sizeof groupAddr;
            const int n = winsock::recvfrom(group, buffer.data(), int(buffer.size()), 0,
                reinterpret_cast<sockaddr *>(&groupAddr), &length);
            heard << buffer.left(qMax(n, 0));
        };
        QCOMPARE(WSAAsyncSelect(group, &window, GroupReadMessage, FD_READ), 0);
        const auto sendToGroup = [&](SOCKET from, const QByteArray &d) {
            groupAddr.sin_addr.s_addr = inet_addr("224.1.1.1");
            return winsock::sendto(from, d.constData(), int(d.size()), 0,
                reinterpret_cast<const sockaddr *>(&groupAddr), sizeof groupAddr);
        };
        QCOMPARE(sendToGroup(group, "own"), 3);
        QTRY_COMPARE(heard, QList<QByteArray>{"own"});
        QCOMPARE(ntohs(groupAddr.sin_port), groupPort);

        sockaddr_in toGroup = groupAddr;
        toGroup.sin_addr.s_addr = inet_addr("224.1.1.1");
        QCOMPARE(
            winsock::sendto(other, "second", 6, 0, reinterpret_cast<sockaddr *>(&toGroup), sizeof toGroup),
            6);
        QTRY_COMPARE(heard, (QList<QByteArray>{"own", "second"}));
        QCOMPARE(ntohs(groupAddr.sin_port), otherPort);

        QCOMPARE(sendToGroup(group, "reply"), 5);
        pollfd replied{other, POLLIN, 0};
        QCOMPARE(::poll(&replied, 1, 5000), 1);
        sockaddr_in from{};
        QCOMPARE(receive(other, &from), QByteArray("reply"));
        QCOMPARE(ntohs(from.sin_port), groupPort);
        closesocket(group);
        closesocket(other);
    }
};

QTEST_GUILESS_MAIN(TstDatagramCalls)
#include "tst_datagramcalls.moc"
