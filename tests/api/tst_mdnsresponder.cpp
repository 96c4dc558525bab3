#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTimer>
#include <QNetworkInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <tuple>

#include "api/mdnsresponder.h"
#include "support/netnamespaces.h"
#include "support/testenvironment.h"

using corvane::MdnsResponder;

namespace {

const QHostAddress kGroup(QStringLiteral("224.0.0.251"));
constexpr int Patience = 10000;

struct Question
{
    QByteArray name; // in label form
    quint16 type = 1;
    quint16 klass = 1;
};

void append16(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

QByteArray query(quint16 id, const QList<Question> &questions, quint16 flags = 0)
{
    QByteArray out;
    append16(out, id);
    append16(out, flags);
    append16(out, quint16(questions.size()));
    append16(out, 0);
    append16(out, 0);
    append16(out, 0);
    for (const Question &q : questions) {
        out.append(q.name);
        append16(out, q.type);
        append16(out, q.klass);
    }
    return out;
}

QByteArray label(const char *name)
{
    return MdnsResponder::encodeDnsName(QString::fromLatin1(name));
}

// A socket on 5353 in the group on lo, as other mDNS software is: it hears the queries and the
// answers that go out, with their IP TTL.
bool listenOnLoopback(QUdpSocket &socket, QString &why)
{
    const QNetworkInterface lo = QNetworkInterface::interfaceFromName(QStringLiteral("lo"));
    if (!socket.bind(QHostAddress::AnyIPv4, MdnsResponder::Port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        why = "port 5353 cannot be shared here: " + socket.errorString();
    else if (!socket.joinMulticastGroup(kGroup, lo))
        why = "no multicast on the loopback interface: " + socket.errorString();
    else
        socket.setMulticastInterface(lo);
    return why.isEmpty();
}

bool run(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("ip"), args) == 0;
}

// Switches the calling thread's network namespace; sockets keep the one they were made in.
bool enterNamespace(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

// The next datagram on `socket` that is a response (QR set), or empty.
QByteArray nextResponse(QUdpSocket &socket, int timeoutMs = 3000)
{
    QByteArray found;
    // Empty when the time runs out: the caller compares what was found.
    (void)QTest::qWaitFor([&] {
        while (socket.hasPendingDatagrams()) {
            const QByteArray bytes = socket.receiveDatagram().data();
            if (bytes.size() >= 12 && (quint8(bytes.at(2)) & 0x80)) {
                found = bytes;
                return true;
            }
        }
        return false;
    }, timeoutMs);
    return found;
}

} // namespace

class TestMdnsResponder : public QObject
{
    Q_OBJECT

private slots:
    void responseBytes()
    {
        const QByteArray name = label("qorvant-transmitter.local");
        const QByteArray bytes = MdnsResponder::buildResponse(0xBEEF, name, QHostAddress(QStringLiteral("192.168.1.20")));
        QByteArray expected("\xBE\xEF\x84\x00\x00\x00\x00\x01\x00\x00\x00\x00", 12);
        expected += name;
        expected += QByteArray("\x00\x01\x80\x01\x00\x00\x00\x78\x00\x04\xC0\xA8\x01\x14", 14);
        QCOMPARE(bytes, expected);
    }

    void questions_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("answered");
        const QByteArray ours = label("qorvant-transmitter.local");
        const QByteArray mixed = label("QorVant-TRANSMITTER.Local");
        const QByteArray other = label("_airplay._tcp.local");
        QTest::newRow("A, class IN") << query(1, {{ours}}) << true;
        QTest::newRow("A, mixed case") << query(1, {{mixed}}) << true;
        QTest::newRow("AAAA") << query(1, {{ours, 28}}) << false;
        QTest::newRow("ANY") << query(1, {{ours, 255}}) << true;
        QTest::newRow("class CH") << query(1, {{ours, 1, 3}}) << false;
        QTest::newRow("QR bit set") << query(1, {{ours}}, 0x8000) << false;
        QTest::newRow("fewer than 12 bytes") << query(1, {}).left(11) << false;
        QTest::newRow("ours in the second question") << query(1, {{other, 12}, {ours}}) << true;
        QTest::newRow("two questions") << query(1, {{ours}, {ours, 255}}) << true;
        QByteArray pointer = query(1, {{QByteArray("\xC0\x0C", 2)}, {ours}});
        QTest::newRow("pointer is skipped, not followed") << pointer << true;
        QByteArray overlong = query(3, {{ours}});
        overlong[5] = char(9); // claims nine questions, holds one
        QTest::newRow("more questions claimed than sent") << overlong << true;
        QByteArray badLabel = query(1, {{QByteArray("\x3F" "abc", 4)}});
        QTest::newRow("label running past the end") << badLabel << false;
    }

    void questions()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, answered);
        QCOMPARE(MdnsResponder::asksForName(datagram, label("qorvant-transmitter.local")), answered);
    }

    // On the loopback interface, with another socket already on 5353.
    void answersOnLoopback()
    {
        QUdpSocket asker;
        QString why;
        if (!listenOnLoopback(asker, why))
            QSKIP(qPrintable(why));

        MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
        const QString host = QStringLiteral("Ostra-Test-%1").arg(QCoreApplication::applicationPid());
        MdnsResponder responder(host);
        QVERIFY(responder.start());

        asker.writeDatagram(query(0x4242, {{label(qPrintable(host.toLower() + ".local"))}}), kGroup, MdnsResponder::Port);
        const QByteArray answer = nextResponse(asker);
        QCOMPARE(answer, MdnsResponder::buildResponse(0x4242, label(qPrintable(host + ".local")),
                                                      QHostAddress(QStringLiteral("127.0.0.1"))));
        responder.stop();
        asker.writeDatagram(query(8, {{label(qPrintable(host + ".local"))}}), kGroup, MdnsResponder::Port);
        QVERIFY(nextResponse(asker, 300).isEmpty());
        MdnsResponder::setServedInterfaceNames({});
    }

    // A flood costs the event loop a bounded pass at a time and draws at most ten answers a
    // second, each with IP TTL 255; a resolver asking now and then is always answered.
    void floods_data()
    {
        QTest::addColumn<int>("copies"); // of the question in each query
        QTest::addColumn<int>("queries");
        QTest::addColumn<int>("stepMs"); // on the responder's clock between queries; 0: at once
        QTest::addColumn<int>("probeAfterMs"); // one more query this long after the rest; -1: none
        QTest::addColumn<int>("answers");
        QTest::newRow("one query") << 1 << 1 << 0 << -1 << 1;
        QTest::newRow("the question 2,000 times in one query") << 2000 << 1 << 0 << -1 << 1;
        QTest::newRow("2,000 queries at once") << 1 << 2000 << 0 << -1 << 10;
        QTest::newRow("a query a second after the flood") << 1 << 2000 << 0 << 1000 << 11;
        QTest::newRow("a query 50 ms after the flood") << 1 << 2000 << 0 << 50 << 10;
        QTest::newRow("a query every 100 ms") << 1 << 30 << 100 << -1 << 30;
    }

    void floods()
    {
        QFETCH(int, copies);
        QFETCH(int, queries);
        QFETCH(int, stepMs);
        QFETCH(int, probeAfterMs);
        QFETCH(int, answers);
        // As root the flood stays in a namespace of its own, away from other processes' sockets.
        const ostratest::OwnLoopback ownLoopback;
        QUdpSocket listener;
        QString why;
        if (!listenOnLoopback(listener, why))
            QSKIP(qPrintable(why));
        // It hears every query and answer: room for a burst of each.
        listener.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress::AnyIPv4, 0));
        sender.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));

        MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
        const QString host = QStringLiteral("ostra-flood-%1").arg(QCoreApplication::applicationPid());
        const QByteArray name = label(qPrintable(host + ".local"));
        MdnsResponder responder(host);
        qint64 clock = 50000;
        responder.setClock([&clock] { return clock; });
        QVERIFY(responder.start());
        // Only to know when the responder has read everything sent.
        const QUdpSocket *inbox = responder.findChild<QUdpSocket *>();
        QVERIFY(inbox);

        int queriesHeard = 0;
        QList<int> ttls;
        const auto listen = [&] {
            while (listener.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = listener.receiveDatagram();
                const QByteArray bytes = datagram.data();
                if (bytes.size() < 12 + name.size() || bytes.mid(12, name.size()) != name)
                    continue;
                if (quint8(bytes.at(2)) & 0x80)
                    ttls.append(datagram.hopLimit());
                else
                    ++queriesHeard;
            }
        };
        int sent = 0;
        // The listener hears each query as the responder does: once it has them all and the
        // responder's socket is empty, the responder has read them all.
        const auto allRead = [&] {
            return QTest::qWaitFor([&] {
                listen();
                return queriesHeard == sent && !inbox->hasPendingDatagrams();
            }, Patience);
        };
        const auto send = [&](quint16 id) {
            sender.writeDatagram(query(id, QList<Question>(copies, Question {name})), kGroup, MdnsResponder::Port);
            ++sent;
        };

        // Sent in bursts the socket buffers hold; the event loop turns between passes.
        constexpr int Burst = 100;
        int turnsWhileReading = 0;
        QTimer turn;
        turn.setInterval(0);
        connect(&turn, &QTimer::timeout, [&] {
            listen();
            if (queriesHeard == sent && !inbox->hasPendingDatagrams())
                turn.stop();
            else
                ++turnsWhileReading;
        });
        for (int i = 1; i <= queries; ++i) {
            send(quint16(i));
            if (stepMs == 0 && i % Burst != 0 && i != queries)
                continue;
            if (i == Burst)
                turn.start();
            QVERIFY(allRead());
            clock += stepMs;
        }
        if (queries >= Burst)
            QVERIFY2(turnsWhileReading >= 2, qPrintable(QString::number(turnsWhileReading)));
        if (probeAfterMs >= 0) {
            clock += probeAfterMs;
            send(0xBEEF);
            QVERIFY(allRead());
        }
        QTRY_COMPARE_WITH_TIMEOUT(ttls.size(), answers, Patience);
        listen();
        QCOMPARE(ttls, QList<int>(answers, 255));
        MdnsResponder::setServedInterfaceNames({});
    }

    // Two network namespaces joined by a veth pair: the phone's side asks, the PC's side
    // answers with the address of the interface the question came in on.
    void answersAcrossNamespaces()
    {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            QSKIP("needs root and the ip tool to make network namespaces");
        const QString tag = QString::number(QCoreApplication::applicationPid());
        const QString pcNs = QStringLiteral("ostra-mdns-%1-pc").arg(tag);
        const QString phoneNs = QStringLiteral("ostra-mdns-%1-ph").arg(tag);
        const QString pcIf = QStringLiteral("omd%1p").arg(tag);
        const QString phoneIf = QStringLiteral("omd%1f").arg(tag);
        struct Cleanup
        {
            QStringList names;
            int home = -1;
            ~Cleanup()
            {
                if (home >= 0) {
                    ::setns(home, CLONE_NEWNET);
                    ::close(home);
                }
                for (const QString &ns : names)
                    QProcess::execute(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), ns});
            }
        } cleanup;
        if (!run({"netns", "add", pcNs}))
            QSKIP("network namespaces cannot be made here");
        cleanup.names << pcNs;
        QVERIFY(run({"netns", "add", phoneNs}));
        cleanup.names << phoneNs;
        QVERIFY(run({"link", "add", pcIf, "type", "veth", "peer", "name", phoneIf}));
        for (const auto &[ns, iface, address] : {std::tuple{pcNs, pcIf, "10.77.53.1/24"}, {phoneNs, phoneIf, "10.77.53.2/24"}}) {
            QVERIFY(run({"link", "set", iface, "netns", ns}));
            QVERIFY(run({"-n", ns, "addr", "add", address, "dev", iface}));
            QVERIFY(run({"-n", ns, "link", "set", iface, "up"}));
        }

        cleanup.home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        QVERIFY(cleanup.home >= 0);
        const QString pcPath = "/var/run/netns/" + pcNs;
        const QString phonePath = "/var/run/netns/" + phoneNs;

        // The phone's socket, made in its namespace.
        QVERIFY(enterNamespace(phonePath));
        QUdpSocket phone;
        QVERIFY(phone.bind(QHostAddress::AnyIPv4, MdnsResponder::Port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
        const QNetworkInterface phoneIface = QNetworkInterface::interfaceFromName(phoneIf);
        QTRY_VERIFY(QNetworkInterface::interfaceFromName(phoneIf).flags().testFlag(QNetworkInterface::IsRunning));
        QVERIFY(phone.joinMulticastGroup(kGroup, phoneIface));
        phone.setMulticastInterface(phoneIface);

        // The PC's side: the test stays there, so the responder looks up its own interfaces.
        QVERIFY(enterNamespace(pcPath));
        QTRY_VERIFY(QNetworkInterface::interfaceFromName(pcIf).flags().testFlag(QNetworkInterface::IsRunning));
        // The default choice, which here sees only this namespace: the veth, not lo.
        MdnsResponder::setServedInterfaceNames({});
        const QByteArray narrowed = qgetenv("OSTRA_MDNS_INTERFACES");
        qunsetenv("OSTRA_MDNS_INTERFACES");
        const QList<QNetworkInterface> served = MdnsResponder::servedInterfaces();
        qputenv("OSTRA_MDNS_INTERFACES", narrowed);
        QCOMPARE(served.size(), 1);
        QCOMPARE(served.first().name(), pcIf);
        MdnsResponder::setServedInterfaceNames({pcIf});
        MdnsResponder responder(QStringLiteral("qorvant-transmitter"));
        qint64 clock = 0;
        responder.setClock([&clock] { return clock; });
        QVERIFY(responder.start());

        const QByteArray name = label("qorvant-transmitter.local");
        phone.writeDatagram(query(0x0101, {{name, 1, 0x8001}}), kGroup, MdnsResponder::Port);
        QCOMPARE(nextResponse(phone), MdnsResponder::buildResponse(0x0101, name, QHostAddress(QStringLiteral("10.77.53.1"))));

        // The addresses held are looked up again in time for a changed one to be answered.
        QVERIFY(run({"-n", pcNs, "addr", "del", "10.77.53.1/24", "dev", pcIf}));
        QVERIFY(run({"-n", pcNs, "addr", "add", "10.77.53.9/24", "dev", pcIf}));
        clock += MdnsResponder::AddressRefreshMs;
        phone.writeDatagram(query(0x0202, {{name}}), kGroup, MdnsResponder::Port);
        QCOMPARE(nextResponse(phone), MdnsResponder::buildResponse(0x0202, name, QHostAddress(QStringLiteral("10.77.53.9"))));
    }
};

OSTRA_TEST_MAIN_CORE(TestMdnsResponder)
#include "tst_mdnsresponder.moc"
