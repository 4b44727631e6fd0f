#include "net/udp/datagramcalls.h"
#include "net/udp/multicastmember.h"

#include <QtTest>

#include <poll.h>

namespace {

bool insideNamespace()
{
    return qEnvironmentVariable("PW_NETNS") == QLatin1String("1");
}

// A plain member of the group, on its own port, to send to and hear from.
int plainMember(const char *group, int port)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(quint16(port));
    if (::bind(s, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0)
        return -1;
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = inet_addr(group);
    if (::setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
        return -1;
    return s;
}

QByteArray receiveWithin(int s, sockaddr_in *from, int ms)
{
    pollfd ready{s, POLLIN, 0};
    if (::poll(&ready, 1, ms) != 1)
        return {};
    QByteArray buffer(2048, '\0');
    socklen_t length = sizeof *from;
    const ssize_t n
        = ::recvfrom(s, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(from), &length);
    return buffer.left(int(std::max<ssize_t>(n, 0)));
}

} // namespace

// Multicast runs only inside a private network namespace (tests/netns-run),
// where 224.0.0.0/4 goes to lo; elsewhere every case skips.
class TstMulticastMember : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (!insideNamespace())
            QSKIP("multicast runs only inside a private network namespace (tests/netns-run)");
    }

    void hearsItsOwnAndOthersAndRepliesToTheLastSendersPort()
    {
        const int groupPort = 65000, otherPort = 65001;
        MulticastMember member;
        const MulticastMember::JoinReport report = member.join(QStringLiteral("224.1.1.1"), groupPort);
        QVERIFY(!report.socketFailed && !report.bindFailed && !report.membershipFailed);
        QCOMPARE(member.port(), groupPort);
        const int other = plainMember("224.1.1.1", otherPort);
        QVERIFY(other >= 0);

        QObject context;
        QList<QByteArray> heard;
        QObject::connect(&member, &MulticastMember::readable, &context, [&] { heard << member.receive(); });

        QVERIFY(member.send("own").ok());
        QTRY_COMPARE(heard, QList<QByteArray>{"own"});

        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(groupPort);
        group.sin_addr.s_addr = inet_addr("224.1.1.1");
        QCOMPARE(::sendto(other, "second", 6, 0, reinterpret_cast<sockaddr *>(&group), sizeof group), 6);
        QTRY_COMPARE(heard, (QList<QByteArray>{"own", "second"}));

        // The reply goes to the group at the port the last datagram came from.
        QVERIFY(member.send("reply").ok());
        sockaddr_in from{};
        QCOMPARE(receiveWithin(other, &from, 5000), QByteArray("reply"));
        QCOMPARE(ntohs(from.sin_port), groupPort);
        ::close(other);
    }

    void eachFailedStepIsReportedAndJoiningGoesOn()
    {
        MulticastMember first;
        QVERIFY(!first.join(QStringLiteral("224.1.1.2"), 65010).bindFailed);
        // A second member on the same port: the bind fails, the membership
        // still goes through on the unbound socket.
        MulticastMember second;
        const MulticastMember::JoinReport taken = second.join(QStringLiteral("224.1.1.2"), 65010);
        QVERIFY(!taken.socketFailed);
        QVERIFY(taken.bindFailed);
        QVERIFY(!taken.membershipFailed);

        MulticastMember notAGroup;
        const MulticastMember::JoinReport refused = notAGroup.join(QStringLiteral("10.0.0.1"), 65011);
        QVERIFY(!refused.bindFailed);
        QVERIFY(refused.membershipFailed);
    }

    void portZeroReportsThePortTheSystemPicked()
    {
        MulticastMember member;
        QVERIFY(!member.join(QStringLiteral("224.1.1.3"), 0).bindFailed);
        QVERIFY(member.port() > 0);
        member.close();
        QCOMPARE(member.socket(), -1);
        QCOMPARE(member.port(), 0); // closed: the port asked for
    }

    void aDatagramTooLongIsReportedNotCut()
    {
        MulticastMember member;
        QVERIFY(!member.join(QStringLiteral("224.1.1.4"), 65020).membershipFailed);
        const MulticastMember::SendReport report = member.send(QByteArray(70000, 'x'));
        QVERIFY(!report.ok());
        QVERIFY(report.callFailed);
        QVERIFY(!report.whole);
        QCOMPARE(report.error, EMSGSIZE);
    }
};

QTEST_GUILESS_MAIN(TstMulticastMember)
#include "tst_multicastmember.moc"
