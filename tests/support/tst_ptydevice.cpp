#include "support/ptydevice.h"
#include "support/testenvironment.h"

#include <QSerialPort>
#include <QStandardPaths>

using ostratest::PtyDevice;

// The harness itself: a serial port opened on the pty reaches the test and back, and the
// test process runs in its own fresh locations.
class TestPtyDevice : public QObject
{
    Q_OBJECT
private slots:
    void bytesBothWays()
    {
        PtyDevice pty;
        QVERIFY(pty.isOpen());
        QSerialPort port(pty.slavePath());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.write("HELLO\nWORLD\n");
        QVERIFY(port.waitForBytesWritten(1000));
        QCOMPARE(pty.readLine(), QByteArray("HELLO"));
        QCOMPARE(pty.readLine(), QByteArray("WORLD"));
        QVERIFY(pty.write(QByteArray("\xC8\x04\x28\x00\xEA\x54", 6)));
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += port.readAll()).size() >= 6, 2000);
        QCOMPARE(got, QByteArray("\xC8\x04\x28\x00\xEA\x54", 6));
    }

    void freshLocations()
    {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(data.startsWith(qEnvironmentVariable("HOME")));
        QVERIFY(data.contains(QStringLiteral("Qorvant OSTRA")));
    }
};

OSTRA_TEST_MAIN_CORE(TestPtyDevice)
#include "tst_ptydevice.moc"
