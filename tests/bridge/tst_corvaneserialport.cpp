#include <QFile>
#include <QPointer>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "bridge/corvaneserialport.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"

using corvane::CorvaneSerialPort;
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
    QStringList events;
    QByteArray received;
};

// The port's failed open attempts, as its log reports them.
int failedAttempts = 0;

void countAttempts(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.contains(QLatin1String(" attempt ")) && message.contains(QLatin1String("failed:")))
        ++failedAttempts;
}

} // namespace

class TestCorvaneSerialPort : public QObject
{
    Q_OBJECT
private slots:
    // A line without modem control opens quietly: the refused DTR and RTS are no error.
    void bytesBothWaysThenClose()
    {
        const QByteArray out = QByteArray(16384, 'x') + QByteArray::fromHex("00FF0A0D11131A7F");
        const QByteArray in = QByteArray::fromHex("00FF0A0D11131A7F") + QByteArray(8192, 'y');
        PtyDevice pty;
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(port.open(pty.slavePath(), kBaud));
        QCOMPARE(port.write(out), qint64(out.size()));
        QCOMPARE(pty.readAtLeast(int(out.size())), out);
        QVERIFY(pty.write(in));
        QTRY_COMPARE(log.received, in);
        QTest::qWait(100);
        // The last words before closing still reach the device; then nothing more moves.
        QCOMPARE(port.write("STOP\n"), qint64(5));
        port.close();
        QCOMPARE(pty.readLine(), QByteArray("STOP"));
        QCOMPARE(port.write("abc"), qint64(-1));
        QVERIFY(pty.write("late"));
        QTest::qWait(100);
        QMetaObject::invokeMethod(&port, "pollRead");
        QCOMPARE(log.received, in);
        QCOMPARE(log.events, (QStringList{"name:" + pty.slavePath(), "connected", "name:", "disconnected"}));
    }

    // Writes go to the line at once, but a line that takes no more never holds the caller: the
    // rest waits in the port and follows, in order, as the device reads.
    void fullLineNeverBlocksTheWriter()
    {
        PtyDevice pty;
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(port.open(pty.slavePath(), kBaud));
        QByteArray out;
        for (int i = 0; i < 4096; ++i) {
            const QByteArray chunk = QByteArray::number(i).rightJustified(63, '.') + '\n';
            QCOMPARE(port.write(chunk), qint64(chunk.size()));
            out += chunk;
        }
        QCOMPARE(pty.readAtLeast(int(out.size()), 10000), out);
        QCOMPARE(log.events, (QStringList{"name:" + pty.slavePath(), "connected"}));
    }

    void missingPortFailsAtOnce()
    {
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(!port.open(QStringLiteral("/dev/ostra-no-such-port"), kBaud));
        QVERIFY(log.events.size() == 1 && log.events.first().startsWith("error:"));
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
        QTest::newRow("holder keeps it") << "keep" << false;
    }

    void busyPort()
    {
        QFETCH(QString, during);
        QFETCH(bool, opened);
        PtyDevice pty;
        QSerialPort holder(pty.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        QPointer<CorvaneSerialPort> port = new CorvaneSerialPort;
        PortLog log(*port);
        QTimer::singleShot(400, [&] {
            if (during == "close")
                port->close();
            else if (during == "delete")
                delete port;
            else if (during == "release")
                holder.close();
        });
        failedAttempts = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countAttempts);
        const bool result = port->open(pty.slavePath(), kBaud);
        qInstallMessageHandler(previous);
        QCOMPARE(result, opened);
        if (during == "keep") {
            // Every attempt is made, then the user hears why.
            QCOMPARE(failedAttempts, CorvaneSerialPort::OpenAttempts);
            QCOMPARE(log.events.size(), 1);
            QVERIFY2(log.events.first().startsWith("error:")
                         && log.events.first().endsWith(pty.slavePath() + " stayed busy — it may be in use by another "
                                                        "application, or the transmitter is still starting up. Wait a "
                                                        "few seconds and try again."),
                     qPrintable(log.events.first()));
            delete port;
            return;
        }
        if (during == "delete") {
            QVERIFY(port.isNull());
            QCOMPARE(log.events, QStringList());
            return;
        }
        if (opened) {
            QCOMPARE(log.events, (QStringList{"name:" + pty.slavePath(), "connected"}));
            QCOMPARE(port->write("ok"), qint64(2));
            QCOMPARE(pty.readAtLeast(2), QByteArray("ok"));
        } else {
            QCOMPARE(log.events, QStringList());
        }
        delete port;
    }

    // A port this user may not open says so, not that it is busy, after the same attempts
    // (a device node just plugged in gets its group a moment later).
    void deniedPortSaysSo()
    {
        PtyDevice pty;
        const QByteArray path = QFile::encodeName(pty.slavePath());
        QCOMPARE(::chmod(path.constData(), 0), 0);
        // Root opens it whatever its mode: the check runs as nobody.
        if (::geteuid() == 0 && ::seteuid(65534) != 0)
            QSKIP("cannot take another user's rights");
        CorvaneSerialPort port;
        PortLog log(port);
        failedAttempts = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countAttempts);
        const bool opened = port.open(pty.slavePath(), kBaud);
        qInstallMessageHandler(previous);
        if (::getuid() == 0)
            QCOMPARE(::seteuid(0), 0);
        QVERIFY(!opened);
        QCOMPARE(failedAttempts, CorvaneSerialPort::OpenAttempts);
        const QString message = "No permission to open " + pty.slavePath()
                                + ". Add your user to the port's group (often dialout), then log in again.";
        QCOMPARE(log.events, QStringList{"error:" + message});
        QCOMPARE(port.openError(), message);
    }

    // The device vanishing while frames go out closes the port once and reports once, and
    // the port opens again when a device comes back.
    void hangUp()
    {
        auto pty = std::make_unique<PtyDevice>();
        CorvaneSerialPort port;
        PortLog log(port);
        QVERIFY(port.open(pty->slavePath(), kBaud));
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { port.write(QByteArray(26, '\x55')); });
        ticker.start(7);
        QTest::qWait(50);
        log.events.clear();
        pty->hangUp();
        QTRY_VERIFY(!port.isConnected());
        QTest::qWait(300);
        ticker.stop();
        QCOMPARE(log.events.mid(0, 2), (QStringList{"name:", "disconnected"}));
        QCOMPARE(log.events.size(), 3);
        QVERIFY(log.events.at(2).startsWith("error:"));

        pty = std::make_unique<PtyDevice>();
        QVERIFY(port.open(pty->slavePath(), kBaud));
        QCOMPARE(port.write("again"), qint64(5));
        QCOMPARE(pty->readAtLeast(5), QByteArray("again"));
    }
};

OSTRA_TEST_MAIN_CORE(TestCorvaneSerialPort)
#include "tst_corvaneserialport.moc"
