#include "net/localaddress.h"
#include "net/udp/datagramcalls.h"

#include <QtTest>

namespace {

// The adapter cases hold only inside the namespace netns-run made for them.
bool insideNamespaceWith(const char *addresses)
{
    return qEnvironmentVariable("PW_NETNS") == QLatin1String("1")
        && qEnvironmentVariable("PW_NETNS_ADDRS") == QLatin1String(addresses);
}

int socketOn(int type, int port)
{
    const int s = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    if (type == SOCK_STREAM)
        ::listen(s, 1);
    return s;
}

int boundPort(int s)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    return ntohs(a.sin_port);
}

} // namespace

class TstLocalAddress : public QObject {
    Q_OBJECT

private slots:
    void dottedQuadsParseToOctets_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("octets");
        QTest::newRow("address") << "192.168.1.5" << QByteArray("\xC0\xA8\x01\x05", 4);
        QTest::newRow("zeros") << "0.0.0.0" << QByteArray(4, '\0');
        QTest::newRow("all ones") << "255.255.255.255" << QByteArray(4, '\xFF');
        QTest::newRow("run-time hex field") << "$C0.168.1.0x05" << QByteArray("\xC0\xA8\x01\x05", 4);
        QTest::newRow("leading blank") << " 10.1.2.3" << QByteArray("\x0A\x01\x02\x03", 4);
        QTest::newRow("two dots") << "192.168.1" << QByteArray();
        QTest::newRow("five fields") << "1.2.3.4.5" << QByteArray();
        QTest::newRow("above 255") << "256.1.1.1" << QByteArray();
        QTest::newRow("last above 255") << "1.1.1.256" << QByteArray();
        QTest::newRow("negative") << "1.-1.1.1" << QByteArray();
        QTest::newRow("letters") << "a.b.c.d" << QByteArray();
        QTest::newRow("empty field") << "1..2.3" << QByteArray();
        QTest::newRow("trailing blank") << "1.2.3.4 " << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
    }
    void dottedQuadsParseToOctets()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, octets);
        QCOMPARE(parseDottedQuad(text), octets);
    }

    void broadcastAddressSetsEveryHostBitOfFirstAddress_data()
    {
        QTest::addColumn<QString>("adapterText");
        QTest::addColumn<QString>("broadcast");
        QTest::addColumn<bool>("networkSuspect");
        QTest::newRow("class C") << "A: 192.168.1.5 M: 255.255.255.0\r"
                                 << "192.168.1.255" << false;
        QTest::newRow("class A") << "A: 10.1.2.3 M: 255.0.0.0\r"
                                 << "10.255.255.255" << false;
        QTest::newRow("mask off octet boundary") << "A: 172.16.5.4 M: 255.240.0.0\r"
                                                 << "172.31.255.255" << false;
        QTest::newRow("first of two") << "A: 192.168.7.9 M: 255.255.255.0\rA: 10.1.2.3 M: 255.0.0.0\r"
                                      << "192.168.7.255" << false;
        QTest::newRow("no address yet") << "A: 0.0.0.0 M: 0.0.0.0\r"
                                        << "255.255.255.255" << true;
        QTest::newRow("no adapter") << ""
                                    << "" << true;
        QTest::newRow("mask does not parse") << "A: 10.1.2.3 M: 255.0.0\r"
                                             << "" << true;
    }
    void broadcastAddressSetsEveryHostBitOfFirstAddress()
    {
        QFETCH(QString, adapterText);
        QFETCH(QString, broadcast);
        QFETCH(bool, networkSuspect);
        const BroadcastAddress result = broadcastAddressOf(adapterText);
        QCOMPARE(result.address, broadcast);
        QCOMPARE(result.networkSuspect, networkSuspect);
    }

    void portInUseSeesHeldDatagramPortsOnly()
    {
        const int udp = socketOn(SOCK_DGRAM, 0);
        const int port = boundPort(udp);
        QVERIFY(udpPortInUse(port));
        QVERIFY(udpPortInUse(port + 65536)); // only the low 16 bits count
        ::close(udp);
        QVERIFY(!udpPortInUse(port));
        const int again = socketOn(SOCK_DGRAM, port); // the probe left it free
        QVERIFY(again >= 0);
        ::close(again);

        const int tcp = socketOn(SOCK_STREAM, 0);
        QVERIFY(!udpPortInUse(boundPort(tcp)));
        ::close(tcp);
    }

    void firstAdapterWithOneAddress()
    {
        if (!insideNamespaceWith("10.1.2.3/8"))
            QSKIP("needs tests/netns-run --addr 10.1.2.3/8");
        QCOMPARE(adapterAddressText(), QStringLiteral("A: 10.1.2.3 M: 255.0.0.0\r"));
        QCOMPARE(localIpAddress(), QStringLiteral("10.1.2.3"));
        QCOMPARE(broadcastAddress().address, QStringLiteral("10.255.255.255"));
        QVERIFY(!broadcastAddress().networkSuspect);
    }

    void firstAdapterWithTwoAddresses()
    {
        if (!insideNamespaceWith("192.168.7.9/24 10.1.2.3/8"))
            QSKIP("needs tests/netns-run --addr 192.168.7.9/24 --addr 10.1.2.3/8");
        QCOMPARE(adapterAddressText(),
            QStringLiteral("A: 192.168.7.9 M: 255.255.255.0\rA: 10.1.2.3 M: 255.0.0.0\r"));
        QCOMPARE(localIpAddress(), QStringLiteral("192.168.7.9"));
        QCOMPARE(broadcastAddress().address, QStringLiteral("192.168.7.255"));
        QVERIFY(!broadcastAddress().networkSuspect);
    }

    void noAdapterFallsBackToLoopback()
    {
        if (!insideNamespaceWith(""))
            QSKIP("needs tests/netns-run --no-adapter");
        QCOMPARE(adapterAddressText(), QString());
        QCOMPARE(localIpAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(broadcastAddress().address, QString());
        QVERIFY(broadcastAddress().networkSuspect);
    }
};

QTEST_MAIN(TstLocalAddress)
#include "tst_localaddress.moc"
