#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>

#include "platform/network/machinename.h"
#include "platform/network/networkinterfacelister.h"
#include "racecontrol/racecontrol.h"
#include "support/netnamespaces.h"
#include "support/testenvironment.h"

using corvane::NetworkInterfaceEntry;
using corvane::NetworkInterfaceLister;
using corvane::RaceControl;

Q_DECLARE_METATYPE(QList<NetworkInterfaceEntry>)

namespace {

NetworkInterfaceEntry iface(const QStringList &addresses, bool loopback = false, bool up = true)
{
    NetworkInterfaceEntry entry;
    entry.name = loopback ? "lo" : "eth0";
    entry.up = up;
    entry.running = up;
    entry.loopback = loopback;
    for (const QString &address : addresses)
        entry.addresses.append(QHostAddress(address));
    return entry;
}

QStringList hostsOf(const QString &prefix, const QStringList &except)
{
    QStringList hosts;
    for (int n = 1; n <= 254; ++n) {
        const QString host = prefix + QString::number(n);
        if (!except.contains(host))
            hosts.append(host);
    }
    return hosts;
}

} // namespace

// The scan's sweep list from installed interface data (no probes), and real scans only inside
// network namespaces the test makes.
class TestNetworkScan : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { NetworkInterfaceLister::useSystemInterfaces(); }

    void sweepList_data()
    {
        QTest::addColumn<QList<NetworkInterfaceEntry>>("interfaces");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two addresses in one /24")
            << QList<NetworkInterfaceEntry>{iface({"192.168.1.10", "192.168.1.20"})}
            << hostsOf("192.168.1.", {"192.168.1.10"});
        QTest::newRow("two networks, netmask ignored")
            << QList<NetworkInterfaceEntry>{iface({"10.1.2.200"}), iface({"172.16.9.1"})}
            << hostsOf("10.1.2.", {"10.1.2.200"}) + hostsOf("172.16.9.", {"172.16.9.1"});
        QTest::newRow("link-local only") << QList<NetworkInterfaceEntry>{iface({"169.254.10.20", "fe80::1"})} << QStringList();
        QTest::newRow("loopback only") << QList<NetworkInterfaceEntry>{iface({"127.0.0.1", "::1"}, true)} << QStringList();
        QTest::newRow("interface down") << QList<NetworkInterfaceEntry>{iface({"192.168.1.10"}, false, false)} << QStringList();
        QTest::newRow("IPv6 only") << QList<NetworkInterfaceEntry>{iface({"2001:db8::5"})} << QStringList();
    }

    void sweepList()
    {
        QFETCH(QList<NetworkInterfaceEntry>, interfaces);
        QFETCH(QStringList, expected);
        NetworkInterfaceLister::setFixedInterfaces(interfaces);
        QCOMPARE(RaceControl::sweepList(), expected);
    }

    void nothingToSweepEndsAtOnce()
    {
        NetworkInterfaceLister::setFixedInterfaces({iface({"127.0.0.1"}, true), iface({"169.254.1.1"})});
        RaceControl control;
        int calls = 0;
        control.scanNetwork([&calls](const QStringList &results) { calls += results.isEmpty() ? 1 : 100; });
        QCOMPARE(calls, 1);
    }

    void ownAddressesAreRefused_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("own");
        QTest::newRow("localhost") << "LocalHost" << true;
        QTest::newRow("localhost, final dot") << "localhost." << true;
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("loopback v6") << "::1" << true;
        QTest::newRow("unspecified") << "0.0.0.0" << true;
        QTest::newRow("own LAN address") << "192.168.1.10" << true;
        QTest::newRow("own LAN address, leading zeros") << "192.168.001.010" << true;
        QTest::newRow("neighbour, leading zeros") << "192.168.001.011" << false;
        QTest::newRow("neighbour") << "192.168.1.11" << false;
        QTest::newRow("host name") << "pit-3" << false;
    }

    void ownAddressesAreRefused()
    {
        QFETCH(QString, host);
        QFETCH(bool, own);
        NetworkInterfaceLister::setFixedInterfaces({iface({"192.168.1.10"}), iface({"127.0.0.1"}, true)});
        QCOMPARE(corvane::MachineName::isThisMachine(host), own);
    }

    void compareHostsNumerically()
    {
        QStringList results{"192.168.1.20|1.0", "192.168.1.3|", "not an address|x", "10.0.0.250|2"};
        std::sort(results.begin(), results.end(), corvane::compareHostsByIPv4);
        QCOMPARE(results, QStringList({"not an address|x", "10.0.0.250|2", "192.168.1.3|", "192.168.1.20|1.0"}));
    }

    void scanFindsStationsOnly()
    {
        const QString reason = ostratest::NetNamespaces::unavailableReason();
        if (!reason.isEmpty())
            QSKIP(qPrintable("scans run only inside network namespaces: " + reason));
        ostratest::NetNamespaces net;
        QVERIFY2(net.setUp({"10.77.0.3", "10.77.0.7", "10.77.0.20"}), qPrintable(net.error()));
        // Stations at .3 and .20 in a program of their own inside the stations namespace.
        QProcess stations;
        stations.start("ip", {"netns", "exec", net.stationsName(), FAKE_STATION_PROGRAM, "--version", "1.2.27",
                              "10.77.0.20", "10.77.0.3"});
        QVERIFY(stations.waitForReadyRead(10000));
        QCOMPARE(stations.readAllStandardOutput().trimmed(), QByteArray("listening"));
        // A device at .7 that accepts TCP but speaks no WebSocket.
        QTcpServer plain;
        net.inStations([&plain] { QVERIFY(plain.listen(QHostAddress("10.77.0.7"), 12345)); });
        // This PC's own address, which the scan must never touch.
        QTcpServer own;
        QVERIFY(own.listen(QHostAddress(ostratest::NetNamespaces::controlAddress()), 12345));

        RaceControl control;
        QStringList results{"not called"};
        control.scanNetwork([&results](const QStringList &found) { results = found; });
        QTRY_VERIFY_WITH_TIMEOUT(results != QStringList{"not called"}, 15000);
        QCOMPARE(results, QStringList({"10.77.0.3|1.2.27", "10.77.0.20|1.2.27"}));
        QVERIFY(plain.hasPendingConnections());
        QVERIFY(!own.hasPendingConnections());
        stations.kill();
        stations.waitForFinished(5000);
    }
};

OSTRA_TEST_MAIN_CORE(TestNetworkScan)
#include "tst_networkscan.moc"
