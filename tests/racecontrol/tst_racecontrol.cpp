#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QJsonArray>
#include <QSignalSpy>

#include "bridge/devicesecurity.h"
#include "loungestation.h"
#include "platform/network/machinename.h"
#include "platform/storage/settingsfile.h"
#include "racecontrol/racecontrol.h"
#include "racecontrol/racestationlink.h"
#include "support/heldrenames.h"
#include "support/racestationrig.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

using corvane::RaceControl;
using corvane::RaceStation;
using corvane::RaceStationLink;
using ostratest::FakeRaceStation;

namespace {

const QStringList kStationHosts = {"10.77.0.3", "10.77.0.4", "10.77.0.5"};

int statusOf(const RaceControl &control, const QString &id)
{
    const RaceStation *station = control.findStation(id);
    return station ? station->status : -1;
}

bool armedAt(const LoungeStation &station, int timeoutMs)
{
    return station.lounge().watchdogEnabled && station.lounge().watchdogTimeoutMs == timeoutMs;
}

// A name other than "localhost" and this PC's own that the hosts file gives the loopback, if any.
QString loopbackAlias()
{
    QFile hosts("/etc/hosts");
    const QStringList lines = hosts.open(QIODevice::ReadOnly) ? QString::fromLatin1(hosts.readAll()).split('\n') : QStringList();
    for (const QString &line : lines) {
        const QStringList fields = line.section('#', 0, 0).simplified().split(' ');
        for (const QString &name : fields.mid(1)) {
            if (QHostAddress(fields.first()).isLoopback() && name.compare("localhost", Qt::CaseInsensitive) != 0
                && !corvane::MachineName::isNamedBy(name))
                return name;
        }
    }
    return QString();
}

} // namespace

// Race control refuses loopback and its own addresses, so it runs in a network namespace of its
// own with the fake stations in another one, on 10.77.0.0/24.
class TestRaceControl : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ostratest::RaceStationRig> m_rig;

    std::unique_ptr<LoungeStation> m_station;

    FakeRaceStation *station(int i) { return m_rig->station(i); }

    // The test meets a real station at 10.77.0.3 instead of the fake ones.
    bool useRealStation()
    {
        m_rig.reset();
        m_station = std::make_unique<LoungeStation>();
        return m_station->setUp("10.77.0.3");
    }

private slots:
    void init()
    {
        corvane::SettingsFile().remove("raceControl");
        const QString reason = ostratest::NetNamespaces::unavailableReason();
        if (!reason.isEmpty())
            QSKIP(qPrintable("race control is tested only inside network namespaces: " + reason));
        m_rig = std::make_unique<ostratest::RaceStationRig>();
        QVERIFY2(m_rig->setUp(kStationHosts), qPrintable(m_rig->error()));
    }

    void cleanup()
    {
        m_rig.reset();
        m_station.reset();
    }

    void openingSubscribesArmsWatchdogAndBeats()
    {
        ostratest::storeRaceStations({"10.77.0.3"}, true);
        RaceControl control;
        QCOMPARE(statusOf(control, "s3"), int(corvane::Connecting));
        control.openIncludedStations();
        QTRY_COMPARE(statusOf(control, "s3"), int(corvane::Linked));
        QTRY_VERIFY(station(0)->events().count("lounge_heartbeat") >= 2);
        const QStringList events = station(0)->events();
        QCOMPARE(events.mid(0, 3), QStringList({"action_subscribe", "get_lounge_state", "set_lounge_watchdog"}));
        QCOMPARE(station(0)->requests("action_subscribe").first().value("data").toObject(),
                 QJsonObject({{"events", QJsonArray{"event_lounge_live", "event_lounge_state"}}}));
        QCOMPARE(station(0)->requests("set_lounge_watchdog").first().value("data").toObject(),
                 QJsonObject({{"enabled", true}, {"timeoutMs", 2000}}));
        // Pushed live values are kept for the readers; a pushed state changes the status.
        station(0)->pushLive(QJsonObject{{"throttle", 0.4}});
        QTRY_COMPARE(control.findStation("s3")->live.value("throttle").toDouble(), 0.4);
    }

    void softwareWithoutLoungeNeedsUpdate()
    {
        ostratest::storeRaceStations({"10.77.0.3"}, false);
        station(0)->setUnknownEvents({"get_lounge_state"});
        RaceControl control;
        QSignalSpy changed(&control, &RaceControl::stationChanged);
        control.openIncludedStations();
        QTRY_COMPARE(statusOf(control, "s3"), int(corvane::UpdateFirmware));
        QVERIFY(!changed.isEmpty());
    }

    void otherCarIsBlocked()
    {
        ostratest::storeRaceStations({"10.77.0.3"}, true);
        station(0)->setDeviceId("A");
        RaceControl control;
        control.openIncludedStations();
        QTRY_COMPARE(statusOf(control, "s3"), int(corvane::Linked));
        QCOMPARE(control.findStation("s3")->deviceId, QString("A"));
        station(0)->setDeviceId("B");
        station(0)->pushState();
        QTRY_COMPARE(statusOf(control, "s3"), int(corvane::WrongCar));
        QCOMPARE(control.findStation("s3")->deviceId, QString("A"));
        // The first identity learned is the one kept.
        RaceControl reloaded;
        QCOMPARE(reloaded.findStation("s3")->deviceId, QString("A"));
        int calls = 0;
        control.command("s3", "action_lounge_stop", {}, [&calls](bool ok) { calls += ok ? 100 : 1; });
        QCOMPARE(calls, 1);
        station(0)->clearRecord();
        QMetaObject::invokeMethod(&control, "sendHeartbeats");
        QTest::qWait(200);
        QVERIFY(station(0)->events().isEmpty());
    }

    void heartbeatOnlyToCarsUnderControl_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("beats");
        QTest::newRow("linked car") << "car" << int(corvane::Linked) << true;
        QTest::newRow("helicopter") << "helicopter" << int(corvane::Linked) << false;
        QTest::newRow("no signal: state refused") << "refusing" << int(corvane::NoSignal) << false;
        QTest::newRow("no signal: back after a drop, state refused") << "dropped" << int(corvane::NoSignal) << false;
    }

    // A station that race control does not hold gets no heartbeat, so its own watchdog stays the
    // judge of whether its car may drive.
    void heartbeatOnlyToCarsUnderControl()
    {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QFETCH(bool, beats);
        ostratest::storeRaceStations({"10.77.0.3"}, false);
        if (kind == "helicopter")
            station(0)->setSupported(false);
        if (kind == "refusing")
            station(0)->refuse("get_lounge_state", "Station busy");
        RaceControl control;
        control.openIncludedStations();
        if (kind == "dropped") {
            // Linked once, so the station's last state (a car under race control) is kept.
            QTRY_COMPARE(statusOf(control, "s3"), int(corvane::Linked));
            station(0)->stop();
            QTRY_COMPARE(statusOf(control, "s3"), int(corvane::NoSignal));
            station(0)->refuse("get_lounge_state", "Station busy");
            station(0)->clearRecord();
            m_rig->net()->inStations([this] { QVERIFY(station(0)->listen(QHostAddress("10.77.0.3"), 12345)); });
            QTRY_VERIFY_WITH_TIMEOUT(station(0)->events().contains("get_lounge_state"), 8000);
            QVERIFY(control.findStation("s3")->state.value("supported").toBool());
        }
        QTRY_COMPARE(statusOf(control, "s3"), status);
        station(0)->clearRecord();
        QMetaObject::invokeMethod(&control, "sendHeartbeats");
        // The link's next keep-alive ping comes after anything sent now.
        QTRY_VERIFY(station(0)->events().contains("ping"));
        const QStringList events = station(0)->events();
        QCOMPARE(events.mid(0, events.indexOf("ping")).contains("lounge_heartbeat"), beats);
    }

    // Switching the safety link off disarms each station's watchdog, keeping the timeout, and
    // ends the heartbeats.
    void safetyLinkOffDisarmsAndStopsHeartbeats()
    {
        ostratest::storeRaceStations({"10.77.0.3"}, true);
        RaceControl control;
        control.openIncludedStations();
        QTRY_COMPARE(statusOf(control, "s3"), int(corvane::Linked));
        QTRY_VERIFY(station(0)->events().contains("lounge_heartbeat"));
        control.setWatchdog(false, 5000);
        QVERIFY(!control.watchdog());
        QVERIFY(!corvane::SettingsFile().value("raceControl/watchdog").toBool());
        QTRY_COMPARE(station(0)->requests("set_lounge_watchdog").size(), 2);
        QCOMPARE(station(0)->requests("set_lounge_watchdog").last().value("data").toObject(),
                 QJsonObject({{"enabled", false}, {"timeoutMs", 5000}}));
        QVERIFY(!station(0)->loungeState().value("watchdog").toBool());
        // Two keep-alive pings later (over 2 s, four heartbeat periods) nothing followed the
        // switch-off but pings.
        station(0)->clearRecord();
        QTRY_VERIFY_WITH_TIMEOUT(station(0)->events().count("ping") >= 2, 6000);
        QCOMPARE(station(0)->events().count("lounge_heartbeat"), 0);
    }

    void commandAllCountsAnswers()
    {
        ostratest::storeRaceStations(kStationHosts, false);
        {
            RaceControl idle;
            QList<int> result;
            idle.commandAll("set_lounge_reverse", {}, [&result](int total, int ok) { result = {total, ok}; });
            QCOMPARE(result, QList<int>({0, 0}));
        }
        RaceControl control;
        control.openIncludedStations();
        for (const char *id : {"s3", "s4", "s5"})
            QTRY_COMPARE(statusOf(control, id), int(corvane::Linked));
        station(1)->setSilent(true);
        QList<int> result;
        control.commandAll("action_lounge_stop", {}, [&result](int total, int ok) { result = {total, ok}; });
        // The silent station's request runs into its 8 s time-out.
        QTRY_COMPARE_WITH_TIMEOUT(result, QList<int>({3, 2}), 12000);
        QVERIFY(control.findStation("s3")->state.value("stopped").toBool());
        QCOMPARE(station(1)->events().count("action_lounge_stop"), 1);
    }

    void addingStations()
    {
        RaceControl control;
        QSignalSpy listChanged(&control, &RaceControl::stationsChanged);
        for (const char *own : {"localhost", "127.0.0.1", "10.77.0.1", " "}) {
            int result = -1;
            control.addStation(own, [&result](bool ok) { result = ok; });
            QCOMPARE(result, 0);
        }
        int unreachable = -1;
        control.addStation("10.77.0.99", [&unreachable](bool ok) { unreachable = ok; });
        QTRY_COMPARE_WITH_TIMEOUT(unreachable, 0, 6000);
        QVERIFY(control.stations().isEmpty());
        int added = -1;
        control.addStation(" 10.77.0.3 ", [&added](bool ok) { added = ok; });
        QTRY_COMPARE(added, 1);
        QCOMPARE(control.stations().size(), 1);
        const RaceStation first = control.stations().first();
        QCOMPARE(first.host, QString("10.77.0.3"));
        QCOMPARE(first.name, QString("Station 1"));
        QVERIFY(control.isIncluded(first.id));
        QCOMPARE(listChanged.size(), 1);
        // The same host again only marks it chosen.
        control.setStationIncluded(first.id, false);
        added = -1;
        control.addStation("10.77.0.3", [&added](bool ok) { added = ok; });
        QCOMPARE(added, 1);
        QCOMPARE(control.stations().size(), 1);
        QVERIFY(control.isIncluded(first.id));
    }

    void safetyLinkKeepsItsCover_data()
    {
        QTest::addColumn<QString>("other");
        QTest::newRow("another race control arms its 2 s") << "arms";
        QTest::newRow("another race control switches its safety link off") << "switches off";
        QTest::newRow("another race control closes") << "closes";
        QTest::newRow("another client disarms it") << "client";
    }

    // A race control whose safety link is on arms its stations again when something else changes
    // their watchdog; killed afterwards, its car still stops by itself.
    void safetyLinkKeepsItsCover()
    {
        QFETCH(QString, other);
        QVERIFY2(useRealStation(), qPrintable(m_station->error()));
        LoungeStation &station = *m_station;
        QList<QPair<bool, int>> watchdogSeen;
        connect(station.rig.controller.get(), &corvane::CorvaneController::loungeStateChanged, this, [&] {
            watchdogSeen.append({station.lounge().watchdogEnabled, station.lounge().watchdogTimeoutMs});
        });
        ostratest::storeRaceStations({"10.77.0.3"});
        auto first = std::make_unique<RaceControl>();
        auto second = std::make_unique<RaceControl>();
        first->openIncludedStations();
        second->openIncludedStations();
        QTRY_COMPARE(statusOf(*first, "s3"), int(corvane::Linked));
        QTRY_COMPARE(statusOf(*second, "s3"), int(corvane::Linked));
        first->setWatchdog(true, 1000);
        QTRY_VERIFY(armedAt(station, 1000) && !first->findStation("s3")->uncovered);

        watchdogSeen.clear();
        std::unique_ptr<RaceStationLink> client;
        if (other == "client") {
            client = std::make_unique<RaceStationLink>(RaceStationLink::urlFor("10.77.0.3", 12345));
            QTRY_VERIFY(client->isConnected());
            client->send("set_lounge_watchdog", QJsonObject{{"enabled", false}});
        } else {
            second->setWatchdog(true, 2000);
            if (other != "arms") {
                QTRY_VERIFY(!watchdogSeen.isEmpty());
                // Its letting go must reach the station too before this race control is judged.
                watchdogSeen.clear();
                other == "closes" ? second->shutdown() : second->setWatchdog(false, 2000);
            }
        }
        // The other side's change reached the station, and this race control undid it.
        QTRY_VERIFY(std::any_of(watchdogSeen.cbegin(), watchdogSeen.cend(), [](const QPair<bool, int> &seen) {
            return !seen.first || seen.second != 1000;
        }));
        QTRY_VERIFY(armedAt(station, 1000) && !first->findStation("s3")->uncovered);
        QVERIFY(!station.lounge().stopped);

        // Gone without a word, as when killed (the other one too, where it still beats): the
        // station's own watchdog stops the car.
        second.reset();
        first.reset();
        QTRY_VERIFY(station.lounge().stopped);
        QCOMPARE(station.lounge().stopReason, QString("connection_lost"));
    }

    void heldStopOutlastsAReleaseElsewhere_data()
    {
        QTest::addColumn<bool>("all"); // STOP ALL, else the car's own Stop
        QTest::addColumn<QString>("release");
        QTest::newRow("STOP ALL, a phone releases the car") << true << "phone";
        QTest::newRow("STOP ALL, a phone releases the car twice") << true << "phone twice";
        QTest::newRow("the car's Stop, another race control resumes it") << false << "race control";
    }

    // A stop held here is sent again as soon as the station reports its car not stopped, while
    // the stops before it still wait for the station's disk to answer them.
    void heldStopOutlastsAReleaseElsewhere()
    {
        QFETCH(bool, all);
        QFETCH(QString, release);
        QVERIFY2(useRealStation(), qPrintable(m_station->error()));
        LoungeStation &station = *m_station;
        ostratest::storeRaceStations({"10.77.0.3"});
        RaceControl first;
        RaceControl second;
        first.openIncludedStations();
        second.openIncludedStations();
        RaceStationLink phone(RaceStationLink::urlFor("10.77.0.3", 12345));
        QTRY_VERIFY(statusOf(first, "s3") == int(corvane::Linked) && statusOf(second, "s3") == int(corvane::Linked)
                    && phone.isConnected());
        int freed = 0;
        bool stopped = station.lounge().stopped;
        connect(station.rig.controller.get(), &corvane::CorvaneController::loungeStateChanged, &phone, [&] {
            freed += stopped && !station.lounge().stopped;
            stopped = station.lounge().stopped;
        });
        ostratest::HeldRenames slowDisk(QFileInfo(corvane::SettingsFile().fileName()).fileName(), 60000);
        all ? first.commandAll("action_lounge_stop", QJsonObject()) : first.command("s3", "action_lounge_stop", QJsonObject());
        QTRY_VERIFY(station.lounge().stopped);
        for (int i = 0; i < (release == "phone twice" ? 2 : 1); ++i) {
            release == "race control" ? second.command("s3", "action_lounge_release", QJsonObject())
                                      : phone.send("action_lounge_release");
            QTRY_COMPARE(freed, i + 1);
            QTRY_VERIFY(station.lounge().stopped);
        }
        QVERIFY(slowDisk.waiting() > 0);
        QTRY_VERIFY(first.findStation("s3")->state.value("stopped").toBool());
        slowDisk.release();
        QVERIFY(ostratest::writesDone());
        QVERIFY(station.lounge().stopped && first.findStation("s3")->stopHeld);
    }

    void lettingGoDisarms_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("reach");
        QTest::newRow("switched off in the list") << "exclude" << "answers";
        QTest::newRow("removed") << "remove" << "answers";
        QTest::newRow("list cleared") << "clear" << "answers";
        QTest::newRow("switched off in the list, station gone") << "exclude" << "gone";
        QTest::newRow("removed, network cut") << "remove" << "cut";
        QTest::newRow("safety link switched off, station gone, then back") << "switch off" << "back";
        QTest::newRow("safety link switched off, station never reached, back armed by another") << "switch off" << "never";
        QTest::newRow("switched off in the list, station gone, then the safety link, chosen again")
            << "exclude, switch off" << "back";
    }

    // A station let go while the safety link is on has its watchdog switched off first, so its
    // car does not stop off the page, where nobody can resume it. One that cannot confirm is let
    // go all the same, and the user hears that its car may stop by itself.
    void lettingGoDisarms()
    {
        QFETCH(QString, how);
        QFETCH(QString, reach);
        QVERIFY2(useRealStation(), qPrintable(m_station->error()));
        LoungeStation &station = *m_station;
        ostratest::storeRaceStations({"10.77.0.3"}, true);
        corvane::SettingsFile().setValue("raceControl/watchdogTimeoutMs", 1000);
        RaceControl control;
        QSignalSpy errors(&control, &RaceControl::errorOccurred);
        if (reach == "never")
            station.server.stop();
        control.openIncludedStations();
        QTRY_VERIFY(armedAt(station, 1000) || reach == "never");
        QTRY_COMPARE(station.server.clientCount(), int(reach != "never"));
        if (reach == "gone" || reach == "back") {
            station.server.stop();
            QTRY_COMPARE(statusOf(control, "s3"), int(corvane::NoSignal));
        } else if (reach == "cut") {
            QVERIFY(station.net.setStationsLinkUp(false));
        }
        if (how.startsWith("exclude"))
            control.setStationIncluded("s3", false);
        else if (how == "remove")
            control.removeStation("s3");
        else if (how == "clear")
            control.clearIncluded();
        if (how.endsWith("switch off"))
            control.setWatchdog(false, 1000);
        if (how == "exclude, switch off")
            control.setStationIncluded("s3", true);
        QCOMPARE(control.includedStations().isEmpty(), !how.endsWith("switch off"));
        if (reach == "never") {
            // Another race control's cover, which a station held since its restart waits for.
            station.rig.controller->setLoungeWatchdog(true, 30000);
            station.net.inStations([&station] { QVERIFY(station.server.start(12345)); });
            QTRY_COMPARE_WITH_TIMEOUT(statusOf(control, "s3"), int(corvane::Linked), 15000);
            control.command("s3", "set_lounge_reverse", QJsonObject{{"allowed", false}});
            QTRY_VERIFY(!station.lounge().reverseAllowed);
            QVERIFY(station.lounge().watchdogEnabled);
        } else if (reach == "back") {
            // Left armed, it would stop its car again after each resume, with no heartbeat coming.
            station.net.inStations([&station] { QVERIFY(station.server.start(12345)); });
            QTRY_VERIFY(!station.lounge().watchdogEnabled);
        } else if (reach == "answers") {
            QTRY_VERIFY(!station.lounge().watchdogEnabled);
            QTRY_COMPARE(station.server.clientCount(), 0);
            QVERIFY(!station.lounge().stopped);
            QVERIFY(errors.isEmpty());
        } else {
            QTRY_COMPARE(errors.size(), 1);
            QCOMPARE(errors.first().at(0).toString(), QString("Couldn't switch off the safety link of Pit 3: it may "
                                                              "stop its car by itself. Choose it again to resume it."));
        }
    }

    // A station not heard for longer than its watchdog's time-out has stopped its car: race
    // control shows no signal then, not "Running" until the keep-alive gives up; also when the
    // network went while the station's answer to the arming was on its way.
    void cutOffStationIsNoSignal_data()
    {
        QTest::addColumn<bool>("beforeAnswer");
        QTest::newRow("armed and answered") << false;
        QTest::newRow("cut as the station arms") << true;
    }

    void cutOffStationIsNoSignal()
    {
        QFETCH(bool, beforeAnswer);
        QVERIFY2(useRealStation(), qPrintable(m_station->error()));
        LoungeStation &station = *m_station;
        ostratest::storeRaceStations({"10.77.0.3"}, true);
        corvane::SettingsFile().setValue("raceControl/watchdogTimeoutMs", 1000);
        bool cut = false;
        QObject watching;
        if (beforeAnswer) {
            QObject::connect(station.rig.controller.get(), &corvane::CorvaneController::loungeStateChanged,
                             &watching, [&] {
                                 if (!cut && station.lounge().watchdogEnabled)
                                     cut = station.net.setStationsLinkUp(false);
                             });
        }
        RaceControl control;
        control.openIncludedStations();
        QTRY_VERIFY(armedAt(station, 1000));
        if (beforeAnswer) {
            QVERIFY(cut);
        } else {
            QTRY_VERIFY(control.findStation("s3")->state.value("watchdog").toBool());
            QVERIFY(station.net.setStationsLinkUp(false));
        }
        QTRY_VERIFY(station.lounge().stopped);
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(control, "s3"), int(corvane::NoSignal), 1000);
        QVERIFY(station.net.setStationsLinkUp(true));
    }

    void thisPcIsNoStation_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("stored");
        const QString name = QHostInfo::localHostName();
        QTest::newRow("own name") << name << false;
        QTest::newRow("own name in capitals") << name.toUpper() << false;
        QTest::newRow("own name on the LAN") << name + ".local" << false;
        QTest::newRow("a name of this PC's loopback") << loopbackAlias() << false;
        QTest::newRow("own name, stored") << name.toUpper() << true;
        QTest::newRow("a name of this PC's loopback, stored") << loopbackAlias() << true;
        QTest::newRow("own address, stored (its lease moved here)") << ostratest::NetNamespaces::controlAddress() << true;
    }

    // This PC's own API answers on its names as on its addresses: race control takes it for no
    // station there either (refused at once by name), so STOP ALL never stops this PC's own car.
    // A stored one goes from the list with a word that names it.
    void thisPcIsNoStation()
    {
        QFETCH(QString, host);
        QFETCH(bool, stored);
        if (host.isEmpty())
            QSKIP("the hosts file gives this PC's loopback no other name");
        FakeRaceStation ownApi;
        QVERIFY(ownApi.listen(QHostAddress::Any, 12345));
        ostratest::storeRaceStations(stored ? QStringList{host} : QStringList());
        RaceControl control;
        QSignalSpy errors(&control, &RaceControl::errorOccurred);
        const RaceStation was = control.stations().value(0);
        QCOMPARE(was.host.isEmpty(), !stored);
        int result = stored ? 0 : -1;
        stored ? control.openIncludedStations() : control.addStation(host, [&result](bool ok) { result = ok; });
        const bool byName = host != loopbackAlias();
        QCOMPARE(control.stations().isEmpty() && result == 0, byName);
        QTRY_VERIFY(control.stations().isEmpty() && result == 0);
        QVERIFY(!ownApi.events().contains("get_lounge_state"));
        QCOMPARE(errors.size(), int(stored));
        if (stored) {
            QCOMPARE(errors.first().at(0).toString(), QString("%1 (%2) now leads to this PC: it is no longer in the list. "
                                                              "Add that station again by its new address.")
                                                          .arg(was.name, was.host));
            QVERIFY(RaceControl().stations().isEmpty());
        }
    }

    void sameCarUnderAnotherSpelling_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("added");
        QTest::newRow("leading zero added") << QStringList{"10.77.0.3"} << "10.77.0.03";
        QTest::newRow("zeros everywhere added") << QStringList{"10.77.0.3"} << "010.077.000.003";
        QTest::newRow("zeros and a final dot added") << QStringList{"10.77.0.3"} << "010.077.000.003.";
        QTest::newRow("IPv4 in IPv6 added") << QStringList{"10.77.0.3"} << "::ffff:10.77.0.3";
        QTest::newRow("stored twice") << QStringList{"10.77.0.3", "10.77.0.03"} << "";
        QTest::newRow("added twice at once") << QStringList() << "10.77.0.3";
    }

    // One car, one record, however its address is spelt: un-choosing it lets it go for good.
    void sameCarUnderAnotherSpelling()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, added);
        ostratest::storeRaceStations(stored);
        RaceControl control;
        const int adds = stored.isEmpty() ? 2 : int(!added.isEmpty());
        if (adds)
            control.setStationIncluded("s3", false);
        QList<bool> results;
        for (int i = 0; i < adds; ++i)
            control.addStation(added, [&results](bool ok) { results.append(ok); });
        QTRY_COMPARE(results, QList<bool>(adds, true));
        QCOMPARE(control.stations().size(), 1);
        QCOMPARE(control.stations().first().host, QString("10.77.0.3"));
        QCOMPARE(control.included(), QStringList{control.stations().first().id});
    }

    void stationTurnedAwayIsLetGo_data()
    {
        QTest::addColumn<QString>("turn");
        QTest::addColumn<bool>("stopsByItself");
        QTest::newRow("another car answers at its address") << "other car at first" << false;
        QTest::newRow("another car while armed") << "other car" << true;
        // As a disconnect of its transmitter leaves it: it names none.
        QTest::newRow("another car, then without its transmitter") << "other car, then none" << true;
        // Nothing names the car then: the record remembers.
        QTest::newRow("another car at first, its link lost while it names none")
            << "other car at first, then none, link lost" << false;
        QTest::newRow("another car at first, STOP ALL while its link is lost")
            << "other car at first, STOP ALL, link lost" << false;
        QTest::newRow("another car at first, race control restarted while it names none")
            << "other car at first, then none, race control restarted" << false;
        QTest::newRow("a helicopter while armed") << "helicopter" << false;
    }

    // Race control arms only a car it sends heartbeats to. The same car armed and then no longer
    // one it controls (a helicopter) is let go: it never stops by itself for want of heartbeats.
    // A wrong car is left exactly as it is, also when un-chosen: whatever watchdog it runs, this
    // race control's or another's, stops it, which is the safe direction. It stays a wrong car
    // until it names this car again, across lost links and restarts, never armed meanwhile.
    void stationTurnedAwayIsLetGo()
    {
        QFETCH(QString, turn);
        QFETCH(bool, stopsByItself);
        QVERIFY2(useRealStation(), qPrintable(m_station->error()));
        corvane::CorvaneController *car = m_station->rig.controller.get();
        QTRY_VERIFY(!car->deviceSecurity()->currentDeviceId().isEmpty());
        const bool otherAtFirst = turn.startsWith("other car at first");
        ostratest::storeRaceStations({"10.77.0.3"}, true, otherAtFirst ? "QORTX99" : "");
        corvane::SettingsFile().setValue("raceControl/watchdogTimeoutMs", 1000);
        auto control = std::make_unique<RaceControl>();
        control->openIncludedStations();
        if (!otherAtFirst)
            QTRY_VERIFY(armedAt(*m_station, 1000));
        if (turn == "helicopter")
            car->profileManager()->switchVehicleType("rc_helicopter", "Heli");
        if (turn == "other car" || turn == "other car, then none")
            car->deviceSecurity()->checkDevice("QORTX99");
        car->setLoungeReverseAllowed(true);
        QTRY_VERIFY(statusOf(*control, "s3") == int(corvane::WrongCar)
                    || !control->findStation("s3")->state.value("supported").toBool(true));
        if (turn.contains("then none")) {
            car->deviceSecurity()->checkDevice(QString());
            car->setLoungeReverseAllowed(false);
            QTRY_VERIFY(control->findStation("s3")->state.value("deviceId").toString().isEmpty());
        }
        if (turn.endsWith("link lost")) {
            m_station->server.stop();
            QTRY_COMPARE(statusOf(*control, "s3"), int(corvane::NoSignal));
            if (turn.contains("STOP ALL"))
                control->commandAll("action_lounge_stop", QJsonObject());
            m_station->net.inStations([this] { QVERIFY(m_station->server.start(12345)); });
        } else if (turn.endsWith("race control restarted")) {
            control.reset();
            control = std::make_unique<RaceControl>();
            control->openIncludedStations();
        }
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(*control, "s3"), int(turn == "helicopter" ? corvane::Linked : corvane::WrongCar), 8000);
        if (stopsByItself) {
            QTRY_VERIFY(m_station->lounge().stopped);
            QCOMPARE(m_station->lounge().stopReason, QString("connection_lost"));
            control->setStationIncluded("s3", false);
            QTRY_COMPARE(m_station->server.clientCount(), 0);
            QVERIFY(m_station->lounge().watchdogEnabled);
            return;
        }
        // Longer than the watchdog's time-out: nothing armed it, nothing stopped the car.
        QTest::qWait(1500);
        QVERIFY(!m_station->lounge().watchdogEnabled && !m_station->lounge().stopped);
        if (turn == "helicopter") {
            car->profileManager()->switchVehicleType("rc_car", QString());
            QTRY_VERIFY(armedAt(*m_station, 1000) && statusOf(*control, "s3") == int(corvane::Linked));
        }
    }

    void shutdownSwitchesWatchdogOffBeforeClosing()
    {
        ostratest::storeRaceStations({"10.77.0.3"}, true);
        RaceControl control;
        control.openIncludedStations();
        QTRY_COMPARE(statusOf(control, "s3"), int(corvane::Linked));
        // Two heartbeats: the arming that came with the link is over a heartbeat period old, so
        // the station reporting its watchdog off could be armed again at once.
        QTRY_VERIFY(station(0)->events().count("lounge_heartbeat") >= 2);
        QStringList seenAtClose;
        connect(station(0), &FakeRaceStation::clientClosed, this,
                [&seenAtClose, this](int code) { seenAtClose = station(0)->events() << QString::number(code); });
        control.shutdown();
        QTRY_VERIFY(!seenAtClose.isEmpty());
        QCOMPARE(seenAtClose.last(), QString("1000"));
        QCOMPARE(station(0)->requests("set_lounge_watchdog").last().value("data").toObject(),
                 QJsonObject({{"enabled", false}}));
        QVERIFY(seenAtClose.contains("set_lounge_watchdog"));
        // The stored setting stays on for the next start.
        QVERIFY(corvane::SettingsFile().value("raceControl/watchdog").toBool());
    }
};

OSTRA_TEST_MAIN_CORE(TestRaceControl)
#include "tst_racecontrol.moc"
