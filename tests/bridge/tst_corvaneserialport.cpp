#include <QPointer>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include "bridge/corvaneserialport.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"

using corvane::CorvaneSerialPort;
using corvane::SerialPortEntry;
using corvane::SerialPortLister;
using ostratest::PtyDevice;

namespace {

constexpr qint32 kBaud = 420000;

// Everything a listener of the port sees, in order.
struct PortLog : QObject
{
    explicit PortLog(CorvaneSerialPort &port)
    {
        connect(&port, &CorvaneSerialPort::portNameChanged, this,
                [this](const QString &name) { events << "name:" + name; });
        connect(&port, &CorvaneSerialPort::connectedChanged, this,
                [this](bool connected) { events << (connected ? "connected" : "disconnected"); });
        connect(&port, &CorvaneSerialPort::errorOccurred, this,
                [this](const QString &error) { events << "error:" + error; });
        connect(&port, &CorvaneSerialPort::dataReceived, this, [this](const QByteArray &data) { received += data; });
    }
    int count(const QString &prefix) const { return int(events.filter(QRegularExpression("^" + prefix)).size()); }
    QStringList events;
    QByteArray received;
};

// Debug lines of the code under test, for counting open attempts.
QStringList g_logLines;

struct LogCapture
{
    LogCapture()
    {
        g_logLines.clear();
        previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) { g_logLines << m; });
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
    int count(const QString &needle) const { return int(g_logLines.filter(needle).size()); }
    QtMessageHandler previous = nullptr;
};

void settle(int ms = 100)
{
    QTest::qWait(ms);
}

} // namespace

class TestCorvaneSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { SerialPortLister::useSystemPorts(); }

    // On a line without modem control the open succeeds quietly: the refused DTR and RTS
    // are no error.
    void bytesBothWays()
    {
        QByteArray out(16384, 'x');
        for (int i = 0; i < 256; ++i)
            out.append(char(i));
        const QByteArray in = QByteArray::fromHex("00FF0A0D11131A7F") + QByteArray(8192, 'y');
        PtyDevice pty;
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(port.open(pty.slavePath(), kBaud));
        QVERIFY(port.isConnected());

        QCOMPARE(port.write(out), qint64(out.size()));
        QCOMPARE(pty.readAtLeast(int(out.size())), out);
        QVERIFY(pty.write(in));
        QTRY_COMPARE(log.received.size(), in.size());
        QCOMPARE(log.received, in);
        settle();
        QCOMPARE(log.events, (QStringList{"name:" + pty.slavePath(), "connected"}));
    }

    void closeAndDestroy_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("close") << false;
        QTest::newRow("destructor") << true;
    }

    void closeAndDestroy()
    {
        QFETCH(bool, destroy);
        PtyDevice pty;
        auto port = std::make_unique<CorvaneSerialPort>();
        PortLog log(*port);
        QVERIFY(port->open(pty.slavePath(), kBaud));
        log.events.clear();
        // The last words before closing (a "STOP") still reach the device.
        QCOMPARE(port->write("STOP\n"), qint64(5));
        if (destroy)
            port.reset();
        else
            port->close();
        QCOMPARE(pty.readLine(), QByteArray("STOP"));
        QCOMPARE(log.events, (QStringList{"name:", "disconnected"}));
        if (destroy)
            return;
        QVERIFY(!port->isConnected());

        // Closed: nothing more is announced, written or read.
        port->close();
        QCOMPARE(port->write("abc"), qint64(-1));
        QVERIFY(pty.write("late"));
        settle();
        QMetaObject::invokeMethod(port.get(), "pollRead");
        QCOMPARE(log.events.size(), 2);
        QCOMPARE(log.received, QByteArray());
        QCOMPARE(pty.readAvailable(), QByteArray());
    }

    void reopenClosesFirst()
    {
        PtyDevice first;
        PtyDevice second;
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(port.open(first.slavePath(), kBaud));
        QVERIFY(port.open(second.slavePath(), 115200));
        QCOMPARE(log.events,
                 (QStringList{"name:" + first.slavePath(), "connected", "name:", "disconnected",
                              "name:" + second.slavePath(), "connected"}));
        QCOMPARE(port.write("to second"), qint64(9));
        QCOMPARE(second.readAtLeast(9), QByteArray("to second"));
        QCOMPARE(first.readAvailable(), QByteArray());
    }

    void missingPortFailsAtOnce()
    {
        const QString missing = QStringLiteral("/dev/ostra-no-such-port");
        QSerialPort reference(missing);
        QVERIFY(!reference.open(QIODevice::ReadWrite));

        LogCapture capture;
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(!port.open(missing, kBaud));
        QCOMPARE(log.events, QStringList{"error:" + reference.errorString()});
        QCOMPARE(capture.count("attempt"), 0);
    }

    // Another holder keeps the port busy; what happens during the waits between attempts
    // decides the outcome.
    void busyPort_data()
    {
        QTest::addColumn<QString>("during");
        QTest::addColumn<bool>("opened");
        QTest::newRow("holder lets go") << "release" << true;
        QTest::newRow("port closed meanwhile") << "close" << false;
        QTest::newRow("port deleted meanwhile") << "delete" << false;
        QTest::newRow("second open refused") << "reopen" << true;
    }

    void busyPort()
    {
        QFETCH(QString, during);
        QFETCH(bool, opened);
        PtyDevice pty;
        PtyDevice other;
        QSerialPort holder(pty.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));

        LogCapture capture;
        QPointer<CorvaneSerialPort> port = new CorvaneSerialPort;
        PortLog log(*port);
        int secondOpen = -1;
        QTimer::singleShot(400, [&] {
            if (during == "close") {
                port->close();
            } else if (during == "delete") {
                delete port;
            } else if (during == "reopen") {
                secondOpen = port->open(other.slavePath(), kBaud) ? 1 : 0;
                QTimer::singleShot(200, [&] { holder.close(); });
            } else {
                holder.close();
            }
        });
        const bool result = port->open(pty.slavePath(), kBaud);
        QCOMPARE(result, opened);
        if (during == "delete") {
            QVERIFY(port.isNull());
            QCOMPARE(log.events, QStringList());
            return;
        }
        QCOMPARE(port->isConnected(), opened);
        if (during == "reopen")
            QCOMPARE(secondOpen, 0);
        QVERIFY(capture.count("attempt 1 failed") == 1);
        if (opened) {
            QCOMPARE(log.events, (QStringList{"name:" + pty.slavePath(), "connected"}));
            QCOMPARE(capture.count("succeeded on attempt"), 1);
            QCOMPARE(port->write("ok"), qint64(2));
            QCOMPARE(pty.readAtLeast(2), QByteArray("ok"));
        } else {
            QCOMPARE(log.events, QStringList());
            QCOMPARE(port->portName(), QString());
        }
        delete port;
    }

    void busyPortGivesUp()
    {
        PtyDevice pty;
        QSerialPort holder(pty.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        LogCapture capture;
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(!port.open(pty.slavePath(), kBaud));
        QCOMPARE(capture.count("failed:"), 24);
        QCOMPARE(log.events.size(), 1);
        const QString message = log.events.first();
        QVERIFY2(message.startsWith("error:") && message.contains(pty.slavePath()) && message.contains("stayed busy")
                     && message.contains("Wait a few seconds and try again."), qPrintable(message));
    }

    void hangUp_data()
    {
        QTest::addColumn<QString>("activity");
        QTest::newRow("idle") << "idle";
        QTest::newRow("transmitting") << "writing";
        QTest::newRow("unread bytes pending") << "pending";
    }

    // The device vanishing closes the port once and reports once, in that order, and the
    // port can be opened again when a device comes back.
    void hangUp()
    {
        QFETCH(QString, activity);
        auto pty = std::make_unique<PtyDevice>();
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(port.open(pty->slavePath(), kBaud));
        QTimer ticker;
        ticker.setInterval(7);
        QObject::connect(&ticker, &QTimer::timeout, [&] { port.write(QByteArray(26, '\x55')); });
        if (activity == "writing")
            ticker.start();
        if (activity == "pending")
            QVERIFY(pty->write("last words"));
        settle(50);
        log.events.clear();

        pty->hangUp();
        QTRY_VERIFY(!port.isConnected());
        settle(300);
        ticker.stop();
        QCOMPARE(log.events.size(), 3);
        QCOMPARE(log.events.mid(0, 2), (QStringList{"name:", "disconnected"}));
        QVERIFY(log.events.at(2).startsWith("error:") && log.events.at(2).size() > 6);
        QCOMPARE(port.write("x"), qint64(-1));
        if (activity == "pending")
            QCOMPARE(log.received, QByteArray("last words"));

        pty = std::make_unique<PtyDevice>();
        QVERIFY(port.open(pty->slavePath(), kBaud));
        QCOMPARE(port.write("again"), qint64(5));
        QCOMPARE(pty->readAtLeast(5), QByteArray("again"));
        settle();
        QCOMPARE(log.count("error:"), 1);
    }

    // Pseudo-terminals are not among the system's ports; a test installs the list it needs,
    // and can take it back.
    void portList()
    {
        PtyDevice pty;
        const QList<SerialPortEntry> installed{{"ttyACM1", "QOR Receiver", "Qorvant", 0x0483, 0x5740},
                                               {pty.slavePath(), "QOR Transmitter", "Qorvant", 0x2E8A, 0x000A}};
        SerialPortLister::setFixedPorts(installed);
        QStringList listed;
        for (const SerialPortEntry &e : CorvaneSerialPort::availablePorts())
            listed << QStringLiteral("%1 %2 %3 %4 %5")
                          .arg(e.portName, e.description, e.manufacturer)
                          .arg(e.vendorId)
                          .arg(e.productId);
        QCOMPARE(listed, (QStringList{"ttyACM1 QOR Receiver Qorvant 1155 22336",
                                      pty.slavePath() + " QOR Transmitter Qorvant 11914 10"}));
        SerialPortLister::useSystemPorts();
        QCOMPARE(CorvaneSerialPort::availablePorts().size(), SerialPortLister::systemPorts().size());
        for (const SerialPortEntry &entry : CorvaneSerialPort::availablePorts())
            QVERIFY(!pty.slavePath().endsWith(entry.portName));
    }
};

OSTRA_TEST_MAIN_CORE(TestCorvaneSerialPort)
#include "tst_corvaneserialport.moc"
