#include "bridge/elrsparametermanager.h"

#include "bridge/corvanecontroller.h"
#include "bridge/crsfprotocol.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"

#include <QSignalSpy>

using corvane::CrsfProtocol;
using corvane::ElrsParameter;
using corvane::ElrsParameterManager;
using ostratest::SimulatedTransmitter;

namespace {

// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

// The controller's manager between the simulated transmitter and the controller's link.
struct Rig
{
    SimulatedTransmitter tx;
    corvane::CorvaneController controller;
    ElrsParameterManager *manager = controller.elrsParameterManager();

    Rig() { tx.setFields(SimulatedTransmitter::typicalFields()); }
    bool open()
    {
        if (!controller.connectTransmitter(tx.portName(), 420000))
            return false;
        controller.startConfigMode();
        return tx.waitFor([&] { return tx.configMode(); });
    }
    // What reached the transmitter once the program has had time to write more.
    QByteArray sentAfterSettling()
    {
        QTest::qWait(150);
        tx.process();
        return tx.rawReceived();
    }
};

QString hexLine(int id, const QByteArray &entry)
{
    return QStringLiteral("FIELD %1: %2").arg(id).arg(QString::fromLatin1(entry.toHex(' ').toUpper()));
}

// Every parameter in a line: id, name, type, parent, value/min/max/default, options, units, read-only.
QStringList describeAll(const ElrsParameterManager &m)
{
    QStringList out;
    for (const ElrsParameter &p : m.parameters()) {
        QStringList options;
        for (const auto &option : p.options)
            options << option.label;
        out << QStringLiteral("%1 %2 t%3 p%4 %5/%6/%7/%8 [%9] %10%11")
                   .arg(p.id).arg(p.name).arg(p.type).arg(p.parent).arg(p.value).arg(p.min).arg(p.max)
                   .arg(p.defaultValue)
                   .arg(options.join(QLatin1Char(';')), p.units, p.readonly ? QStringLiteral(" ro") : QString())
                   .simplified();
    }
    return out;
}

void feedWalk(ElrsParameterManager &m, const QStringList &lines, bool done = false)
{
    m.setConfigModeActive(true);
    m.onTransmitterLine(QStringLiteral("WALK: starting"));
    for (const QString &line : lines)
        m.onTransmitterLine(line);
    if (done)
        m.onTransmitterLine(QStringLiteral("  WALK: done  "));
}

} // namespace

class TestElrsParameterManager : public QObject
{
    Q_OBJECT

private slots:
    // A full walk, then a write by name: sent, and the list updated at once.
    void walkAndWrite()
    {
        Rig rig;
        QVERIFY(rig.open());
        QSignalSpy complete(rig.manager, &ElrsParameterManager::discoveryComplete);
        rig.manager->startDiscovery();
        QVERIFY(complete.wait(Patience));
        QCOMPARE(describeAll(*rig.manager), (QStringList {
            "1 Packet Rate t9 p0 3/0/5/3 [50Hz;100Hz Full;150Hz;250Hz;333Hz Full;500Hz] Hz",
            "2 Telem Ratio t9 p0 0/0/9/0 [Std;Off;1:128;1:64;1:32;1:16;1:8;1:4;1:2;Race]",
            "3 Switch Mode t9 p0 1/0/1/1 [Wide;Hybrid]",
            "4 TX Power t11 p0 0/0/0/0 [] ro",
            "5 Max Power t9 p4 3/0/4/2 [10;25;50;100;250] mW",
            "6 Dynamic t9 p4 1/0/1/0 [Off;On]",
            "7 Model Id t0 p0 0/0/63/0 []",
            "8 Version t12 p0 0/0/0/0 [] ro",
            "16 Enable WiFi t13 p0 0/0/0/0 []",
            "17 Enable Rx WiFi t13 p0 0/0/0/0 []",
        }));
        QSignalSpy updated(rig.manager, &ElrsParameterManager::parameterUpdated);
        QVERIFY(rig.manager->setParameterByIndex(QStringLiteral("Packet Rate"), 5));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(rig.manager->findParameter(QStringLiteral("Packet Rate"))->value, 5);
        const QByteArray frame = CrsfProtocol::buildParameterWrite(1, QByteArray(1, '\x05'), 0xEE, 0xEF);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.rawReceived().contains(frame); }));
    }

    void writeSendsThreeFrames_data()
    {
        QTest::addColumn<bool>("destroyed");
        QTest::newRow("manager alive") << false;
        QTest::newRow("manager destroyed after the first") << true;
    }

    void writeSendsThreeFrames()
    {
        QFETCH(bool, destroyed);
        Rig rig;
        QVERIFY(rig.open());
        auto *manager = new ElrsParameterManager(rig.controller.crsfProtocol(), &rig.controller);
        manager->setConfigModeActive(true);
        manager->writeOptionByField(16, 1);
        if (destroyed)
            delete manager;
        const QByteArray frame = CrsfProtocol::buildParameterWrite(16, QByteArray(1, '\x01'), 0xEE, 0xEF);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.parameterWrites().size() >= (destroyed ? 1 : 3); }));
        QCOMPARE(rig.sentAfterSettling().count(frame), destroyed ? 1 : 3);
    }

    void fieldLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("progress"); // fields counted
        QTest::addColumn<QString>("parameter");
        QTest::newRow("selection with empty option, no max byte")
            << hexLine(3, QByteArray("\x00\x09Mode\x00" "A;;C\x00\x01\x00", 14)) << 1 << "3 Mode t9 p0 1/0/2/0 [A;;C]";
        QTest::newRow("read failed") << "FIELD 4: (READ FAILED)" << 1 << "";
        QTest::newRow("id beyond a byte") << "FIELD 300: 00 0B 41 00" << 0 << "";
        QTest::newRow("one byte") << "FIELD 6: 00" << 0 << "";
        QTest::newRow("signed numbers with units")
            << "  junk FIELD 7: 0 1 54 72 69 6d 0 FE 80 7F 0 64 42 0  " << 1 << "7 Trim t1 p0 -2/-128/127/0 [] dB";
    }

    void fieldLines()
    {
        QFETCH(QString, line);
        QFETCH(int, progress);
        QFETCH(QString, parameter);
        ElrsParameterManager m(nullptr);
        QSignalSpy progressSpy(&m, &ElrsParameterManager::discoveryProgress);
        feedWalk(m, { line });
        QCOMPARE(describeAll(m).join(QString()), parameter);
        QCOMPARE(progressSpy.constLast().at(0).toInt(), progress);
    }

    // A module that goes on sending the same field (a chunk repeated, a line looping) leaves one
    // entry per field id, the last one, found under its last name only.
    void fieldSentAgainReplacesItsEntry()
    {
        ElrsParameterManager m(nullptr);
        QStringList lines;
        for (int i = 0; i < 1000; ++i)
            lines << hexLine(3, QByteArray("\x00\x09Mode\x00" "A;B\x00\x01\x00", 13));
        lines << hexLine(3, QByteArray("\x00\x09Rate\x00" "X;Y;Z\x00\x02\x00", 15));
        feedWalk(m, lines, true);
        QCOMPARE(describeAll(m), QStringList { "3 Rate t9 p0 2/0/2/0 [X;Y;Z]" });
        QVERIFY(m.findParameter(QStringLiteral("Rate")));
        QVERIFY(!m.findParameter(QStringLiteral("Mode")));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("config mode off")
            << "walked off" << "name|Packet Rate|1" << "Start configuring to read/change ELRS RF settings.";
        QTest::newRow("unknown name") << "walked" << "name|Nope|1" << "Unknown ELRS parameter: Nope";
        QTest::newRow("option beyond a byte") << "" << "field|300" << "ELRS option index 300 out of byte range.";
    }

    // A refused request says why, changes nothing and sends nothing.
    void refusals()
    {
        QFETCH(QString, setup);
        QFETCH(QString, action);
        QFETCH(QString, message);
        Rig rig;
        QVERIFY(rig.controller.connectTransmitter(rig.tx.portName(), 420000));
        ElrsParameterManager m(rig.controller.crsfProtocol(), &rig.controller);
        QStringList walk;
        for (const SimulatedTransmitter::Field &f : SimulatedTransmitter::typicalFields())
            walk << hexLine(f.id, f.entry);
        if (setup.contains("walked"))
            feedWalk(m, walk, true);
        m.setConfigModeActive(!setup.contains("off"));
        QSignalSpy errors(&m, &ElrsParameterManager::error);
        const QStringList parts = action.split(QLatin1Char('|'));
        if (parts.at(0) == "name")
            QVERIFY(!m.setParameterByIndex(parts.at(1), parts.at(2).toInt()));
        else
            m.writeOptionByField(16, parts.at(1).toUInt());
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message);
        rig.sentAfterSettling();
        QVERIFY(rig.tx.parameterWrites().isEmpty());
    }

    // Once the ID queries have given up, configuring ends: a search under way is aborted and
    // none starts. Configuring again asks the transmitter first; its answer lets the search run.
    void silentTransmitter_data()
    {
        QTest::addColumn<bool>("searching"); // a search under way when the queries give up
        QTest::newRow("search under way") << true;
        QTest::newRow("search started after") << false;
    }

    void silentTransmitter()
    {
        QFETCH(bool, searching);
        Rig rig;
        rig.tx.setSilent(true);
        QVERIFY(rig.controller.connectTransmitter(rig.tx.portName(), 420000));
        rig.controller.startConfigMode();
        QSignalSpy aborted(rig.manager, &ElrsParameterManager::discoveryAborted);
        QSignalSpy errors(rig.manager, &ElrsParameterManager::error);
        if (searching)
            rig.manager->startDiscovery();
        QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
        for (int query = 0; query < 4; ++query)
            QVERIFY(QMetaObject::invokeMethod(&rig.controller, "onDeviceIdRetry"));
        QVERIFY(!rig.controller.isConfigMode());
        if (!searching)
            rig.manager->startDiscovery();
        QVERIFY(!rig.manager->isDiscovering());
        QCOMPARE(aborted.size() + errors.size(), 1);
        rig.tx.setSilent(false);
        rig.controller.startConfigMode();
        QVERIFY(rig.tx.waitFor([&] { return rig.controller.isTransmitterAnswered() && rig.tx.configMode(); }));
        rig.manager->startDiscovery();
        QVERIFY(rig.tx.waitFor([&] { return rig.manager->state() == ElrsParameterManager::Ready; }));
    }

    // Leaving config mode aborts a walk, once; a walk that hears nothing times out.
    void states()
    {
        ElrsParameterManager m(nullptr);
        QSignalSpy errors(&m, &ElrsParameterManager::error);
        QSignalSpy aborted(&m, &ElrsParameterManager::discoveryAborted);
        feedWalk(m, {});
        m.setConfigModeActive(false);
        m.abortDiscovery();
        QCOMPARE(m.state(), ElrsParameterManager::Aborted);
        QCOMPARE(aborted.count(), 1);
        feedWalk(m, {});
        QMetaObject::invokeMethod(&m, "onWalkTimeout");
        QCOMPARE(m.state(), ElrsParameterManager::Idle);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("ELRS walk timed out"));
    }
};

OSTRA_TEST_MAIN_CORE(TestElrsParameterManager)
#include "tst_elrsparametermanager.moc"
