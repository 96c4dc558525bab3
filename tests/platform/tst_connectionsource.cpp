#include <QHostAddress>
#include <QTest>

#include "platform/network/connectionsource.h"
#include "support/testenvironment.h"

class TestConnectionSource : public QObject
{
    Q_OBJECT

private slots:
    // Whom a connection counts against: an IPv4 peer however it arrives, an IPv6 host by its /64.
    void connectionSource_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("source");
        QTest::newRow("IPv4") << "192.168.1.20" << "192.168.1.20";
        QTest::newRow("IPv4 through a dual-stack listener") << "::ffff:192.168.1.20" << "192.168.1.20";
        QTest::newRow("IPv6 host") << "2001:db8:1:2:aaaa:bbbb:cccc:dddd" << "2001:db8:1:2::";
        QTest::newRow("IPv6 host, another address of its /64") << "2001:db8:1:2::7" << "2001:db8:1:2::";
        QTest::newRow("IPv6 loopback") << "::1" << "::";
    }

    void connectionSource()
    {
        QFETCH(QString, peer);
        QFETCH(QString, source);
        QCOMPARE(corvane::connectionSource(QHostAddress(peer)), QHostAddress(source));
    }
};

OSTRA_TEST_MAIN_CORE(TestConnectionSource)
#include "tst_connectionsource.moc"
