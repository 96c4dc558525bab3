#include <QTest>

#include "platform/serial/serialportlister.h"
#include "support/testenvironment.h"

using corvane::SerialPortEntry;
using corvane::SerialPortLister;

namespace {

// "name" or "name@vid" (hex) per entry.
QList<SerialPortEntry> entries(const QStringList &specs)
{
    QList<SerialPortEntry> list;
    for (const QString &spec : specs) {
        SerialPortEntry entry;
        entry.portName = spec.section(QLatin1Char('@'), 0, 0);
        entry.vendorId = quint16(spec.section(QLatin1Char('@'), 1).toUInt(nullptr, 16));
        list << entry;
    }
    return list;
}

QStringList names(const QList<SerialPortEntry> &list)
{
    QStringList out;
    for (const SerialPortEntry &entry : list)
        out << entry.portName;
    return out;
}

} // namespace

class TestSerialPortLister : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SerialPortLister::useSystemPorts(); }

    void usbPortsFirst_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("expected");
        const auto l = [](const char *text) { return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts); };
        QTest::newRow("on-board UARTs after USB") << l("ttyS0 ttyS1 ttyUSB0 ttyACM0") << l("ttyUSB0 ttyACM0 ttyS0 ttyS1");
        QTest::newRow("USB ports keep their own order") << l("ttyACM1 ttyS0 ttyUSB0 ttyACM0") << l("ttyACM1 ttyUSB0 ttyACM0 ttyS0");
        QTest::newRow("a USB vendor id counts") << l("ttyS0 ttyAMA0@0483 ttyS1") << l("ttyAMA0@0483 ttyS0 ttyS1");
        QTest::newRow("device paths") << l("/dev/ttyS0 /dev/ttyUSB3") << l("/dev/ttyUSB3 /dev/ttyS0");
        QTest::newRow("no USB port: unchanged") << l("ttyS1 ttyS0 /dev/pts/4") << l("ttyS1 ttyS0 /dev/pts/4");
        QTest::newRow("only USB ports: unchanged") << l("ttyUSB1 ttyUSB0") << l("ttyUSB1 ttyUSB0");
        QTest::newRow("USB-like text elsewhere in the name") << l("ttyS0 xttyUSB0") << l("ttyS0 xttyUSB0");
        QTest::newRow("nothing listed") << QStringList() << QStringList();
    }

    void usbPortsFirst()
    {
        QFETCH(QStringList, listed);
        QFETCH(QStringList, expected);
        SerialPortLister::setFixedPorts(entries(listed));
        QCOMPARE(names(SerialPortLister::availablePorts()), names(entries(expected)));
        QCOMPARE(names(SerialPortLister::recentPorts()), names(entries(expected)));
    }

    void entriesStayWhole()
    {
        const SerialPortEntry board { QStringLiteral("ttyACM0"), QStringLiteral("STM32 STLink"), QStringLiteral("STMicroelectronics"), 0x0483, 0x374B };
        SerialPortLister::setFixedPorts({ { QStringLiteral("ttyS0"), QString(), QString(), 0, 0 }, board });
        const QList<SerialPortEntry> listed = SerialPortLister::availablePorts();
        QCOMPARE(listed.size(), 2);
        QCOMPARE(listed.first().description, board.description);
        QCOMPARE(listed.first().manufacturer, board.manufacturer);
        QCOMPARE(listed.first().productId, board.productId);
    }
};

OSTRA_TEST_MAIN_CORE(TestSerialPortLister)
#include "tst_serialportlister.moc"
