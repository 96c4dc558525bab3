#include "bridge/elrsparametermanager.h"

#include "bridge/corvaneserialport.h"
#include "bridge/crsfprotocol.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"

#include <QSignalSpy>

using corvane::CorvaneSerialPort;
using corvane::CrsfProtocol;
using corvane::ElrsParameter;
using corvane::ElrsParameterManager;
using ostratest::SimulatedTransmitter;

namespace {

// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

// Stands where the controller stands for the manager: the writer it calls by name, the codec
// fed from the port, and the text lines of the transmitter.
class Link : public QObject
{
    Q_OBJECT
public:
    Link()
    {
        connect(&port, &CorvaneSerialPort::dataReceived, this, [this](const QByteArray &data) {
            codec.feed(data);
            pending += data;
            qsizetype nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl).trimmed();
                pending.remove(0, nl + 1);
                if (!line.isEmpty() && manager)
                    manager->onTransmitterLine(QString::fromLatin1(line));
            }
        });
    }

    Q_INVOKABLE qlonglong serialWrite(const QByteArray &data) { return port.write(data); }

    CorvaneSerialPort port;
    CrsfProtocol codec;
    ElrsParameterManager *manager = nullptr;
    QByteArray pending;
};

QString hexLine(int id, const QByteArray &entry)
{
    return QStringLiteral("FIELD %1: %2").arg(id).arg(QString::fromLatin1(SimulatedTransmitter::hexBytes(entry)));
}

} // namespace

class TestElrsParameterManager : public QObject
{
    Q_OBJECT

    struct Rig
    {
        SimulatedTransmitter tx;
        Link link;
        ElrsParameterManager *manager = nullptr;

        Rig()
        {
            tx.setFields(SimulatedTransmitter::typicalFields());
            manager = new ElrsParameterManager(&link.codec, &link);
            link.manager = manager;
        }
        bool open()
        {
            if (!link.port.open(tx.portName(), 420000))
                return false;
            link.serialWrite("CFGMODE ON\n");
            manager->setConfigModeActive(true);
            return tx.waitFor([&] { return tx.configMode(); });
        }
        bool walk()
        {
            QSignalSpy complete(manager, &ElrsParameterManager::discoveryComplete);
            manager->startDiscovery();
            return complete.wait(Patience);
        }
    };

    static ElrsParameterManager *walkingManager(ElrsParameterManager &m)
    {
        m.setConfigModeActive(true);
        m.onTransmitterLine(QStringLiteral("WALK: starting"));
        return &m;
    }

private slots:
    void fullWalkAgainstTransmitter()
    {
        Rig rig;
        QVERIFY(rig.open());
        QSignalSpy started(rig.manager, &ElrsParameterManager::discoveryStarted);
        QSignalSpy progress(rig.manager, &ElrsParameterManager::discoveryProgress);
        QVERIFY(rig.walk());
        QCOMPARE(rig.tx.lineCount("WALKRF"), 1);
        QCOMPARE(rig.manager->state(), ElrsParameterManager::Ready);
        QVERIFY(!rig.manager->isDiscovering());
        QVERIFY(started.count() >= 1);
        QCOMPARE(progress.constLast().at(0).toInt(), 10);
        QCOMPARE(progress.constLast().at(1).toInt(), 8);

        const QList<ElrsParameter> params = rig.manager->parameters();
        QCOMPARE(params.size(), 10);
        const ElrsParameter *rate = rig.manager->findParameter(QStringLiteral("Packet Rate"));
        QVERIFY(rate);
        QCOMPARE(rate->id, quint8(1));
        QCOMPARE(rate->type, quint8(9));
        QCOMPARE(rate->options.size(), 6);
        QCOMPARE(rate->options.at(4).label, QStringLiteral("333Hz Full"));
        QCOMPARE(rate->options.at(4).index, 4);
        QCOMPARE(rate->value, 3);
        QCOMPARE(rate->max, 5);
        QCOMPARE(rate->defaultValue, 3);
        QCOMPARE(rate->units, QStringLiteral("Hz"));
        QVERIFY(!rate->readonly);

        const ElrsParameter *power = rig.manager->findParameter(QStringLiteral("Max Power"));
        QVERIFY(power);
        QCOMPARE(power->parent, quint8(4));
        QCOMPARE(power->units, QStringLiteral("mW"));
        QVERIFY(rig.manager->findParameter(QStringLiteral("TX Power"))->readonly);
        QVERIFY(rig.manager->findParameter(QStringLiteral("Version"))->readonly);
        const ElrsParameter *model = rig.manager->findParameter(QStringLiteral("Model Id"));
        QCOMPARE(model->max, 63);
        const ElrsParameter *wifi = rig.manager->findParameter(QStringLiteral("Enable WiFi"));
        QCOMPARE(wifi->id, quint8(16));
        QCOMPARE(wifi->type, quint8(13));
        QVERIFY(!wifi->readonly);
        QVERIFY(!rig.manager->findParameter(QStringLiteral("No Such")));
    }

    void writeByFieldSendsThreeFrames()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.manager->writeOptionByField(16, 1);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.parameterWrites().size() >= 3; }));
        QTest::qWait(150);
        const QList<SimulatedTransmitter::ParameterWrite> writes = rig.tx.parameterWrites();
        QCOMPARE(writes.size(), 3);
        for (const auto &w : writes) {
            QCOMPARE(w.destination, quint8(0xEE));
            QCOMPARE(w.origin, quint8(0xEF));
            QCOMPARE(w.field, quint8(16));
            QCOMPARE(w.value, QByteArray(1, '\x01'));
        }
        // The same bytes as a frame built by hand.
        const QByteArray frame = CrsfProtocol::buildParameterWrite(16, QByteArray(1, '\x01'), 0xEE, 0xEF);
        QCOMPARE(rig.tx.rawReceived().count(frame), 3);
    }

    void destroyedManagerStopsRepeating()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.manager->writeOptionByField(17, 4);
        delete rig.manager;
        rig.link.manager = nullptr;
        QVERIFY(rig.tx.waitFor([&] { return !rig.tx.parameterWrites().isEmpty(); }));
        QTest::qWait(200);
        rig.tx.process();
        QCOMPARE(rig.tx.parameterWrites().size(), 1);
    }

    void writeByNameThenWalkAgain()
    {
        Rig rig;
        QVERIFY(rig.open());
        QVERIFY(rig.walk());
        QSignalSpy updated(rig.manager, &ElrsParameterManager::parameterUpdated);
        QVERIFY(rig.manager->setParameterByIndex(QStringLiteral("Packet Rate"), 5));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(updated.at(0).at(0).toString(), QStringLiteral("Packet Rate"));
        QCOMPARE(rig.manager->findParameter(QStringLiteral("Packet Rate"))->value, 5);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.parameterWrites().size() == 1; }));
        QCOMPARE(rig.tx.parameterWrites().at(0).field, quint8(1));
        QCOMPARE(rig.tx.parameterWrites().at(0).value, QByteArray(1, '\x05'));
        // The module keeps the value: the next walk reads it back.
        QVERIFY(rig.walk());
        QCOMPARE(rig.manager->findParameter(QStringLiteral("Packet Rate"))->value, 5);
    }

    void sendOnlyTransmitter()
    {
        Rig rig;
        rig.tx.setFields({});
        QVERIFY(rig.open());
        QSignalSpy errors(rig.manager, &ElrsParameterManager::error);
        rig.manager->startDiscovery();
        QVERIFY(errors.wait(Patience));
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("No ELRS parameters could be read — this transmitter may be send-only (no half-duplex)."));
        QCOMPARE(rig.manager->state(), ElrsParameterManager::Idle);
    }

    void fieldLines_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("progress");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<int>>("numbers"); // value, min, max, default
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("units");

        const QByteArray threeOptions("\x00\x09Mode\x00" "A;;C\x00\x01\x00", 14);
        QTest::newRow("selection with empty option, no max byte")
            << QStringList { hexLine(3, threeOptions) } << 1 << 1 << "Mode" << 9 << QList<int> { 1, 0, 2, 0 }
            << QStringList { "A", "", "C" } << QString();
        QTest::newRow("read failed")
            << QStringList { QStringLiteral("FIELD 4: (READ FAILED)") } << 0 << 1 << QString() << 0 << QList<int>()
            << QStringList() << QString();
        QTest::newRow("non-numeric id")
            << QStringList { QStringLiteral("FIELD x1: 00 0B 41 00") } << 0 << -1 << QString() << 0 << QList<int>()
            << QStringList() << QString();
        QTest::newRow("no colon")
            << QStringList { QStringLiteral("FIELD 5 00 0B 41 00") } << 0 << -1 << QString() << 0 << QList<int>()
            << QStringList() << QString();
        QTest::newRow("id beyond a byte")
            << QStringList { QStringLiteral("FIELD 300: 00 0B 41 00") } << 0 << -1 << QString() << 0
            << QList<int>() << QStringList() << QString();
        QTest::newRow("hex above a byte")
            << QStringList { QStringLiteral("FIELD 6: 00 0B 141 00") } << 0 << 1 << QString() << 0 << QList<int>()
            << QStringList() << QString();
        QTest::newRow("not hex")
            << QStringList { QStringLiteral("FIELD 6: 00 0B zz 00") } << 0 << 1 << QString() << 0 << QList<int>()
            << QStringList() << QString();
        QTest::newRow("one byte")
            << QStringList { QStringLiteral("FIELD 6: 00") } << 0 << -1 << QString() << 0 << QList<int>()
            << QStringList() << QString();
        QTest::newRow("signed numbers with units")
            << QStringList { QStringLiteral("  junk FIELD 7: 0 1 54 72 69 6d 0 FE 80 7F 0 64 42 0  ") } << 1 << 1
            << "Trim" << 1 << QList<int> { -2, -128, 127, 0 } << QStringList() << "dB";
        QTest::newRow("unsigned too short for numbers")
            << QStringList { QStringLiteral("FIELD 8: 0 0 4E 0 75 73") } << 1 << 1 << "N" << 0
            << QList<int> { 0, 0, 0, 0 } << QStringList() << "us";
        QTest::newRow("repeated header keeps the last copy")
            << QStringList { QStringLiteral("FIELD 9: 00 09 52 00 61 3B 62 00 00 09 52 00 78 3B 79 3B 7A 00 02 00 02 01") }
            << 1 << 1 << "R" << 9 << QList<int> { 2, 0, 2, 1 } << QStringList { "x", "y", "z" } << QString();
        QTest::newRow("hidden type decodes nothing")
            << QStringList { QStringLiteral("FIELD 10: 00 89 48 00 61 3B 62 00 01") } << 1 << 1 << "H" << 0x89
            << QList<int> { 0, 0, 0, 0 } << QStringList() << QString();
        QTest::newRow("name without terminator")
            << QStringList { QStringLiteral("FIELD 11: 00 09 4C 4F 4E 47") } << 1 << 1 << "LONG" << 9
            << QList<int> { 0, 0, 0, 0 } << QStringList { "" } << QString();
    }

    void fieldLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, count);
        QFETCH(int, progress);
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(QList<int>, numbers);
        QFETCH(QStringList, options);
        QFETCH(QString, units);

        ElrsParameterManager m(nullptr);
        walkingManager(m);
        QSignalSpy progressSpy(&m, &ElrsParameterManager::discoveryProgress);
        for (const QString &line : lines)
            m.onTransmitterLine(line);
        QCOMPARE(m.parameters().size(), count);
        if (progress < 0)
            QCOMPARE(progressSpy.count(), 0);
        else
            QCOMPARE(progressSpy.constLast().at(0).toInt(), progress);
        QCOMPARE(m.state(), ElrsParameterManager::WalkingFields);
        if (count == 0)
            return;
        const ElrsParameter p = m.parameters().constFirst();
        QCOMPARE(p.name, name);
        QCOMPARE(int(p.type), type);
        QCOMPARE((QList<int> { p.value, p.min, p.max, p.defaultValue }), numbers);
        QStringList labels;
        for (int i = 0; i < p.options.size(); ++i) {
            QCOMPARE(p.options.at(i).index, i);
            labels << p.options.at(i).label;
        }
        QCOMPARE(labels, options);
        QCOMPARE(p.units, units);
    }

    void fieldLineOutsideWalkIsIgnored()
    {
        ElrsParameterManager m(nullptr);
        m.setConfigModeActive(true);
        m.onTransmitterLine(hexLine(1, SimulatedTransmitter::folderEntry(0, "X")));
        QCOMPARE(m.parameters().size(), 0);
        QSignalSpy errors(&m, &ElrsParameterManager::error);
        m.onTransmitterLine(QStringLiteral("WALK: done"));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(m.state(), ElrsParameterManager::Idle);
    }

    void writeByNameRefusals_data()
    {
        QTest::addColumn<bool>("configMode");
        QTest::addColumn<bool>("walked");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("message");
        QTest::newRow("config mode off") << false << false << "Packet Rate" << 1
                                         << "Start configuring to read/change ELRS RF settings.";
        QTest::newRow("not discovered") << true << false << "Packet Rate" << 1 << "ELRS parameters are not yet discovered.";
        QTest::newRow("unknown") << true << true << "Nope" << 1 << "Unknown ELRS parameter: Nope";
        QTest::newRow("folder") << true << true << "TX Power" << 0 << "Parameter 'TX Power' is not an enum (text selection).";
        QTest::newRow("past the options") << true << true << "Packet Rate" << 6
                                          << "Option index 6 out of range for 'Packet Rate'.";
        QTest::newRow("negative") << true << true << "Packet Rate" << -1
                                  << "Option index -1 out of range for 'Packet Rate'.";
    }

    void writeByNameRefusals()
    {
        QFETCH(bool, configMode);
        QFETCH(bool, walked);
        QFETCH(QString, name);
        QFETCH(int, index);
        QFETCH(QString, message);
        Link link;
        ElrsParameterManager *m = new ElrsParameterManager(&link.codec, &link);
        m->setConfigModeActive(true);
        if (walked) {
            m->onTransmitterLine(QStringLiteral("WALK: starting"));
            for (const auto &f : SimulatedTransmitter::typicalFields())
                m->onTransmitterLine(hexLine(f.id, f.entry));
            m->onTransmitterLine(QStringLiteral("WALK: done"));
            QCOMPARE(m->state(), ElrsParameterManager::Ready);
        }
        m->setConfigModeActive(configMode);
        QSignalSpy errors(m, &ElrsParameterManager::error);
        QSignalSpy updated(m, &ElrsParameterManager::parameterUpdated);
        QVERIFY(!m->setParameterByIndex(name, index));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message);
        QCOMPARE(updated.count(), 0);
    }

    void writeByFieldRefusals_data()
    {
        QTest::addColumn<bool>("configMode");
        QTest::addColumn<bool>("codec");
        QTest::addColumn<bool>("parent");
        QTest::addColumn<uint>("index");
        QTest::addColumn<QString>("message");
        QTest::newRow("config mode off") << false << true << true << 1u << "Start configuring to read/change ELRS RF settings.";
        QTest::newRow("no codec") << true << false << true << 1u << "ELRS parameter manager: no CRSF protocol bound.";
        QTest::newRow("no writer") << true << true << false << 1u << "ELRS parameter manager: no serial writer.";
        QTest::newRow("beyond a byte") << true << true << true << 300u << "ELRS option index 300 out of byte range.";
    }

    void writeByFieldRefusals()
    {
        QFETCH(bool, configMode);
        QFETCH(bool, codec);
        QFETCH(bool, parent);
        QFETCH(uint, index);
        QFETCH(QString, message);
        Rig rig;
        QVERIFY(rig.link.port.open(rig.tx.portName(), 420000));
        ElrsParameterManager m(codec ? &rig.link.codec : nullptr, parent ? &rig.link : nullptr);
        m.setConfigModeActive(configMode);
        QSignalSpy errors(&m, &ElrsParameterManager::error);
        m.writeOptionByField(16, index);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message);
        QTest::qWait(150);
        rig.tx.process();
        QCOMPARE(rig.tx.parameterWrites().size(), 0);
    }

    void discoveryRefusals()
    {
        ElrsParameterManager noCodec(nullptr);
        QSignalSpy errors(&noCodec, &ElrsParameterManager::error);
        noCodec.startDiscovery();
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Start configuring to read/change ELRS RF settings."));
        noCodec.setConfigModeActive(true);
        noCodec.startDiscovery();
        QCOMPARE(errors.at(1).at(0).toString(), QStringLiteral("ELRS parameter manager: no CRSF protocol bound."));
        QCOMPARE(noCodec.state(), ElrsParameterManager::Idle);
    }

    void lifecycle()
    {
        ElrsParameterManager m(nullptr);
        walkingManager(m);
        QVERIFY(m.isDiscovering());
        QSignalSpy aborted(&m, &ElrsParameterManager::discoveryAborted);
        m.setConfigModeActive(false);
        QCOMPARE(m.state(), ElrsParameterManager::Aborted);
        QCOMPARE(aborted.count(), 1);
        m.abortDiscovery();
        QCOMPARE(aborted.count(), 1);

        walkingManager(m);
        m.onTransmitterLine(hexLine(1, SimulatedTransmitter::folderEntry(0, "F")));
        m.onTransmitterLine(QStringLiteral("  WALK: done  "));
        QCOMPARE(m.state(), ElrsParameterManager::Ready);
        m.setConfigModeActive(false);
        QCOMPARE(m.state(), ElrsParameterManager::Ready);
        QCOMPARE(aborted.count(), 1);
        // An explicit abort leaves Ready, but keeps the list.
        m.abortDiscovery();
        QCOMPARE(m.state(), ElrsParameterManager::Aborted);
        QCOMPARE(m.parameters().size(), 1);
    }

    void walkTimesOut()
    {
        ElrsParameterManager m(nullptr);
        QSignalSpy errors(&m, &ElrsParameterManager::error);
        QMetaObject::invokeMethod(&m, "onWalkTimeout");
        QCOMPARE(errors.count(), 0);
        walkingManager(m);
        QMetaObject::invokeMethod(&m, "onWalkTimeout");
        QCOMPARE(m.state(), ElrsParameterManager::Idle);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("ELRS walk timed out"));
    }

    void sameNameTwiceFindsTheLater()
    {
        ElrsParameterManager m(nullptr);
        walkingManager(m);
        m.onTransmitterLine(hexLine(1, SimulatedTransmitter::uint8Entry(0, "Dup", 1, 0, 9, 0)));
        m.onTransmitterLine(hexLine(2, SimulatedTransmitter::uint8Entry(0, "Dup", 7, 0, 9, 0)));
        QCOMPARE(m.parameters().size(), 2);
        QCOMPARE(m.findParameter(QStringLiteral("Dup"))->id, quint8(2));
    }
};

OSTRA_TEST_MAIN_CORE(TestElrsParameterManager)
#include "tst_elrsparametermanager.moc"
