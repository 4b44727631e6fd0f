#include "core/errors.h"
#include "net/udp/datagramcalls.h"

#include <QtTest>

#include <poll.h>

#include <thread>

using namespace dgram;

namespace {

// Stands in for a data window: counts the readiness calls and runs an
// optional handler for each.
class Window : public QObject {
public:
    std::function<void()> onMessage;
    int calls = 0;

    void notified()
    {
        ++calls;
        if (onMessage)
            onMessage();
    }
};

int watch(int s, Window *window)
{
    return watchReadable(s, window, [window] { window->notified(); });
}

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    return a;
}

int boundSocket(int &port, const char *address = "127.0.0.1")
{
    const int s = dgram::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    a.sin_addr.s_addr = inet_addr(address);
    if (dgram::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        closesocket(s);
        return InvalidSocket;
    }
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    port = ntohs(a.sin_port);
    return s;
}

void sendTo(int from, int port, const QByteArray &data, const char *address = "127.0.0.1")
{
    sockaddr_in to = loopback(port);
    to.sin_addr.s_addr = inet_addr(address);
    QCOMPARE(dgram::sendto(
                 from, data.constData(), int(data.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
        int(data.size()));
}

QByteArray receive(int s, sockaddr_in *from = nullptr, int capacity = MaxUdpDatagram)
{
    QByteArray buffer(capacity, '\0');
    sockaddr_in ignored{};
    int length = sizeof ignored;
    const int n = dgram::recvfrom(
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
    void handlerReadsEachDatagramWithItsSender()
    {
        int port = 0, senderPort = 0;
        const int s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        QList<QByteArray> got;
        QList<int> fromPorts;
        window.onMessage = [&]() {
            sockaddr_in from{};
            got << receive(s, &from);
            fromPorts << ntohs(from.sin_port);
        };
        QCOMPARE(watch(s, &window), 0);
        for (const char *d : {"one", "two", "three"})
            sendTo(sender, port, d);
        QTRY_COMPARE(got.size(), 3);
        QCOMPARE(got, (QList<QByteArray>{"one", "two", "three"}));
        QCOMPARE(fromPorts, (QList<int>{senderPort, senderPort, senderPort}));
        closesocket(s);
        closesocket(sender);
    }

    void handlerThatReadsNothingIsNotCalledAgainUntilRecvfrom()
    {
        int port = 0, senderPort = 0;
        const int s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        QCOMPARE(watch(s, &window), 0);
        sendTo(sender, port, "a");
        sendTo(sender, port, "b");
        QTRY_COMPARE(window.calls, 1);
        spinEvents();
        QCOMPARE(window.calls, 1);
        QCOMPARE(receive(s), QByteArray("a"));
        QTRY_COMPARE(window.calls, 2); // "b" still waits
        QCOMPARE(receive(s), QByteArray("b"));
        spinEvents();
        QCOMPARE(window.calls, 2);
        sendTo(sender, port, "c");
        QTRY_COMPARE(window.calls, 3);
        closesocket(s);
        closesocket(sender);
    }

    void nestedEventLoopInHandlerDoesNotRedeliverUnreadDatagram()
    {
        int port = 0, senderPort = 0;
        const int s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        window.onMessage = [&]() {
            if (window.calls == 1)
                spinEvents(); // as a send loop inside a handler does
            receive(s);
        };
        QCOMPARE(watch(s, &window), 0);
        sendTo(sender, port, "x");
        QTRY_COMPARE(window.calls, 1);
        spinEvents();
        QCOMPARE(window.calls, 1);
        closesocket(s);
        closesocket(sender);
    }

    void closedSocketSendsNoMoreMessagesEvenWhenItsNumberIsReused()
    {
        int port = 0, senderPort = 0;
        const int s = boundSocket(port), sender = boundSocket(senderPort);
        Window first;
        first.onMessage = [&]() { closesocket(s); };
        QCOMPARE(watch(s, &first), 0);
        sendTo(sender, port, "1");
        sendTo(sender, port, "2");
        QTRY_COMPARE(first.calls, 1);

        // A socket that reuses the number and is read without any registration
        // of its own must not wake the old window.
        int reusedPort = 0;
        const int reused = boundSocket(reusedPort);
        QCOMPARE(reused, s); // the lowest free number comes back
        sendTo(sender, reusedPort, "3");
        QCOMPARE(receive(reused), QByteArray("3"));
        sendTo(sender, reusedPort, "4");
        spinEvents();
        QCOMPARE(first.calls, 1);
        QCOMPARE(receive(reused), QByteArray("4"));
        closesocket(reused);
        closesocket(sender);
    }

    void cancelledReplacedOrOrphanedRegistrationSendsNothing()
    {
        int port = 0, senderPort = 0;
        const int s = boundSocket(port), sender = boundSocket(senderPort);
        Window replaced, current;
        auto gone = std::make_unique<Window>();
        QCOMPARE(watch(s, gone.get()), 0);
        gone.reset();
        QCOMPARE(watch(s, &replaced), 0);
        QCOMPARE(watch(s, &current), 0);
        sendTo(sender, port, "r");
        QTRY_COMPARE(current.calls, 1);
        QCOMPARE(replaced.calls, 0);

        QCOMPARE(watchReadable(s, &current, {}), 0);
        QCOMPARE(receive(s), QByteArray("r"));
        sendTo(sender, port, "s");
        spinEvents();
        QCOMPARE(current.calls, 1);
        QCOMPARE(receive(s), QByteArray("s"));
        // The registration left the socket non-blocking: an empty queue is an error, not a hang.
        char byte;
        QCOMPARE(dgram::recvfrom(s, &byte, 1, 0, nullptr, nullptr), CallFailed);
        QCOMPARE(lastError(), EWOULDBLOCK);
        closesocket(s);
        closesocket(sender);
    }

    void exceptionFromHandlerIsReportedAndMessagesGoOn()
    {
        QStringList reported;
        const auto previous = SetExceptionReporter([&](const std::exception &e) { reported << e.what(); });
        int port = 0, senderPort = 0;
        const int s = boundSocket(port), sender = boundSocket(senderPort);
        Window window;
        window.onMessage = [&]() {
            receive(s);
            if (window.calls == 1)
                throw Exception(QStringLiteral("handler failed"));
        };
        QCOMPARE(watch(s, &window), 0);
        sendTo(sender, port, "1");
        sendTo(sender, port, "2");
        QTRY_COMPARE(window.calls, 2);
        SetExceptionReporter(previous);
        QCOMPARE(reported, QStringList{"handler failed"});
        closesocket(s);
        closesocket(sender);
    }

    void datagramLongerThanBufferFailsWithMessageSize()
    {
        int port = 0, senderPort = 0;
        const int s = boundSocket(port), sender = boundSocket(senderPort);
        sendTo(sender, port, QByteArray(100, 'x'));
        sendTo(sender, port, "next");
        char buffer[50];
        QCOMPARE(dgram::recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr), CallFailed);
        QCOMPARE(lastError(), EMSGSIZE);
        QCOMPARE(receive(s), QByteArray("next"));
        pollfd more{s, POLLIN, 0};
        QCOMPARE(::poll(&more, 1, 0), 0); // the long one is gone, not left waiting
        closesocket(s);
        closesocket(sender);
    }

    void lastErrorIsClearedBySuccessAndKeptPerThread()
    {
        int port = 0;
        const int holder = boundSocket(port);
        const int s = dgram::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in taken = loopback(port);
        QCOMPARE(dgram::bind(s, reinterpret_cast<const sockaddr *>(&taken), sizeof taken), CallFailed);
        QCOMPARE(lastError(), EADDRINUSE);
        int otherThread = -1;
        std::thread([&] { otherThread = lastError(); }).join();
        QCOMPARE(otherThread, 0);
        QCOMPARE(lastError(), EADDRINUSE);
        QCOMPARE(dgram::setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, "", 0), CallFailed); // too short
        QCOMPARE(lastError(), EINVAL);
        QCOMPARE(closesocket(s), 0);
        QCOMPARE(lastError(), 0);
        closesocket(holder);
    }
};

QTEST_GUILESS_MAIN(TstDatagramCalls)
#include "tst_datagramcalls.moc"
