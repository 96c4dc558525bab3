#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

#include <optional>

#include "api/wsloungehandler.h"
#include "apirig.h"
#include "platform/storage/settingsfile.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "racecontrol/racestationlink.h"
#include "support/heldrenames.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

using corvane::RaceStationLink;
using corvane::WsLoungeHandler;
using ostratest::ApiRig;

namespace {

// One request of race control's link, waited for; the reply's data, empty on failure.
QJsonObject raceRequest(RaceStationLink &link, const QString &event, const QJsonObject &data = {})
{
    bool done = false;
    QJsonObject result;
    link.send(event, data, [&](bool ok, const QJsonObject &reply, const QString &) {
        done = true;
        if (ok)
            result = reply;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        return {};
    return result;
}

QJsonObject stateOf(const QJsonObject &reply)
{
    return reply.value("data").toObject();
}

int countEvents(const QList<QJsonObject> &messages, const char *event)
{
    int count = 0;
    for (const QJsonObject &message : messages)
        count += message.value("event").toString() == QLatin1String(event) ? 1 : 0;
    return count;
}

} // namespace

class TestWsLoungeHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsLoungeHandler>())); }
    void cleanup() { api.reset(); }

    // Missing or mistyped values keep the stored ones; out-of-range ones are clamped.
    void settersRead_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("stored");
        QTest::newRow("watchdog 100") << "set_lounge_watchdog" << json(R"({"enabled":true,"timeoutMs":100})") << "watchdogTimeoutMs" << QJsonValue(500);
        QTest::newRow("watchdog 60000") << "set_lounge_watchdog" << json(R"({"enabled":true,"timeoutMs":60000})") << "watchdogTimeoutMs" << QJsonValue(30000);
        QTest::newRow("cap 150") << "set_lounge_speed_cap" << json(R"({"enabled":true,"percent":150})") << "speedCapPercent" << QJsonValue(100);
        QTest::newRow("cap 12.5") << "set_lounge_speed_cap" << json(R"({"percent":12.5})") << "speedCapPercent" << QJsonValue(60);
        QTest::newRow("cap flag kept") << "set_lounge_speed_cap" << json(R"({"percent":40,"enabled":1})") << "speedCap" << QJsonValue(false);
        QTest::newRow("pit no percent") << "set_lounge_pit_limiter" << json(R"({"enabled":true})") << "pitLimiterPercent" << QJsonValue(30);
        QTest::newRow("reverse locked") << "set_lounge_reverse" << json(R"({"allowed":false})") << "reverseAllowed" << QJsonValue(false);
    }

    void settersRead()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, key);
        QFETCH(QJsonValue, stored);
        // Never refused: the reply is the station's state.
        const QJsonObject reply = api->request(event, data);
        QCOMPARE(reply.value("event").toString(), event);
        QCOMPARE(stateOf(reply).value(key), stored);
    }

    // The watchdog latches its stop: heartbeats after it do not free the car, a release does.
    void watchdogStopsASilentStation()
    {
        QVERIFY(api->client.subscribe({"event_lounge_state"}));
        QCOMPARE(stateOf(api->request("set_lounge_watchdog", json(R"({"enabled":true,"timeoutMs":500})"))).value("watchdog"),
                 QJsonValue(true));
        QCOMPARE(api->request("lounge_heartbeat"), json(R"({"event":"lounge_heartbeat","data":{"stopped":false}})"));
        api->client.skipAll();
        // The controller's own 250 ms tick runs; the only real wait is the silence itself.
        QJsonObject pushed;
        QVERIFY(QTest::qWaitFor([&] {
            for (const QJsonObject &message : api->client.pending()) {
                if (message.value("event") == QLatin1String("event_lounge_state"))
                    pushed = message.value("data").toObject();
            }
            return !pushed.isEmpty();
        }, 5000));
        QCOMPARE(pushed.value("stopped"), QJsonValue(true));
        QCOMPARE(pushed.value("stopReason"), QJsonValue("connection_lost"));

        QCOMPARE(api->request("lounge_heartbeat"), json(R"({"event":"lounge_heartbeat","data":{"stopped":true}})"));
        const QJsonObject released = stateOf(api->request("action_lounge_release"));
        QCOMPARE(released.value("stopped"), QJsonValue(false));
        QCOMPARE(released.value("stopReason"), QJsonValue(""));
    }

    // A heartbeat counts when it arrives, and so do race control's commands, also while the
    // station's disk is slow to store a command sent before them: in the order they came, so a
    // release sent before a stop cannot undo it, and a stop however many come before it. Their
    // replies still come after that command's.
    void behindASlowWrite_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QStringList>("after"); // sent after the command, once
        QTest::addColumn<bool>("beating");
        QTest::addColumn<QString>("reason"); // why the car stands while the write is held; empty: it drives
        const QJsonObject cap = json(R"({"enabled":true,"percent":40})");
        QTest::newRow("heartbeats go on") << "set_lounge_pit_limiter" << cap << QStringList() << true << "";
        QTest::newRow("race control silent") << "set_lounge_reverse" << json(R"({"allowed":false})") << QStringList() << false
                                             << "connection_lost";
        QTest::newRow("stop") << "set_lounge_speed_cap" << cap << QStringList{"action_lounge_stop"} << true << "operator";
        QTest::newRow("stop, release, stop")
            << "set_lounge_speed_cap" << cap << QStringList{"action_lounge_stop", "action_lounge_release", "action_lounge_stop"}
            << true << "operator";
        QTest::newRow("200 pipelined, stop") << "set_lounge_speed_cap" << cap
                                             << (QStringList(200, "set_lounge_pit_limiter") << "action_lounge_stop") << true
                                             << "operator";
        QStringList changing;
        for (int i = 0; i < 300; ++i)
            changing << "set_lounge_pit_limiter" << "set_lounge_speed_cap";
        QTest::newRow("600 changing, heartbeats go on") << "set_lounge_reverse" << json(R"({"allowed":false})") << changing
                                                        << true << "";
    }

    void behindASlowWrite()
    {
        QFETCH(QString, command);
        QFETCH(QJsonObject, data);
        QFETCH(QStringList, after);
        QFETCH(bool, beating);
        QFETCH(QString, reason);
        QVERIFY(api->rig.startCar());
        api->rig.pedals->setAxis(1, 1.0f);
        api->request("set_lounge_watchdog", json(R"({"enabled":true,"timeoutMs":1000})"));
        QVERIFY(ostratest::writesDone());
        api->client.skipAll();
        {
            ostratest::HeldRenames held(QFileInfo(corvane::SettingsFile().fileName()).fileName());
            api->client.send({{"event", command}, {"data", data}});
            QTRY_COMPARE(held.waiting(), 1);
            for (const QString &event : after)
                api->client.send({{"event", event}});
            // Twice the time-out: a watchdog fed only once the write has ended stops the car.
            for (int beat = 0; beat < 20; ++beat) {
                if (beating)
                    api->client.send({{"event", "lounge_heartbeat"}});
                QTest::qWait(100);
            }
            QCOMPARE(api->rig.controller->loungeSettings().stopReason, reason);
            // The frames the transmitter gets: CH2 neutral only while the car is stopped.
            api->rig.tick();
            QVERIFY(api->rig.tx.waitForChannelFrames(int(api->rig.controller->frameCount())));
            QCOMPARE(api->rig.tx.lastChannels()[1] == 992, !reason.isEmpty());
            QCOMPARE(held.waiting(), 1);
        }
        QCOMPARE(api->client.next().value("event"), QJsonValue(command));
        for (const QString &event : after) {
            // Or refused, for what waited.
            const QJsonObject reply = api->client.next();
            QCOMPARE(reply.value(reply.contains("source") ? "source" : "event"), QJsonValue(event));
        }
        const QJsonObject heartbeatReply{{"event", "lounge_heartbeat"}, {"data", QJsonObject{{"stopped", !reason.isEmpty()}}}};
        for (int beat = 0; beating && beat < 20; ++beat)
            QCOMPARE(api->client.next(), heartbeatReply);
        QVERIFY(ostratest::writesDone());
        QCOMPARE(api->rig.controller->loungeSettings().stopReason, reason);
    }

    // A reply that waited for the disk tells the state as it is when it goes, stored or not:
    // another race control's stop, pushed meanwhile, is not undone in this one's view by an older
    // state.
    void replyAfterAnotherStop_data()
    {
        QTest::addColumn<bool>("fails"); // a second command, whose write fails
        QTest::newRow("stored") << false;
        QTest::newRow("not stored") << true;
    }

    void replyAfterAnotherStop()
    {
        QFETCH(bool, fails);
        QVERIFY(api->client.subscribe({"event_lounge_state"}));
        ostratest::WsTestClient other;
        QVERIFY(other.open(api->server.serverPort()));
        std::optional<ostratest::Starved> failing;
        {
            ostratest::HeldRenames held(QFileInfo(corvane::SettingsFile().fileName()).fileName());
            api->client.send({{"event", "set_lounge_pit_limiter"}, {"data", json(R"({"enabled":true,"percent":40})")}});
            QTRY_COMPARE(held.waiting(), 1);
            // The write held has been synced: only the next one fails.
            if (fails) {
                failing.emplace("failing sync");
                api->client.send({{"event", "set_lounge_speed_cap"}, {"data", json(R"({"enabled":true,"percent":70})")}});
                QTRY_VERIFY(api->rig.controller->loungeSettings().speedCap);
            }
            other.send({{"event", "action_lounge_stop"}});
            QTRY_VERIFY(api->rig.controller->isLoungeStopApplied());
        }
        QJsonObject heard; // the last message this race control heard, pushed or replied
        for (QJsonObject message = api->client.next(); !message.isEmpty(); message = api->client.next(1000))
            heard = message;
        QCOMPARE(heard.contains("success"), fails);
        QCOMPARE(stateOf(heard).value("stopped"), QJsonValue(true));
    }

    void secondStopKeepsItsReason()
    {
        api->rig.controller->raceControlStop("connection_lost");
        QVERIFY(api->client.subscribe({"event_lounge_state"}));
        const QJsonObject reply = api->request("action_lounge_stop", json(R"({"reason":"anything"})"));
        QCOMPARE(stateOf(reply).value("stopReason"), QJsonValue("connection_lost"));
        // A ping round trip after the reply: any push of the stop would have arrived first.
        QCOMPARE(api->request("ping").value("event").toString(), QString("pong"));
        QCOMPARE(countEvents(api->client.received, "event_lounge_state"), 0);
        // A stop from a free car is the operator's and is pushed.
        api->request("action_lounge_release");
        QCOMPARE(stateOf(api->request("action_lounge_stop")).value("stopReason"), QJsonValue("operator"));
        QCOMPARE(countEvents(api->client.received, "event_lounge_state"), 2);
    }

    // Race control hears of a start, a stop and another profile without asking.
    void statePushedOnRunAndProfile()
    {
        QVERIFY(api->client.subscribe({"event_lounge_state"}));
        QVERIFY(api->rig.startCar());
        QCOMPARE(api->client.next().value("data").toObject().value("live").toObject().value("running"), QJsonValue(true));
        api->rig.controller->stopTransmissionAndHold();
        QCOMPARE(api->client.next().value("event"), QJsonValue("event_lounge_state"));

        corvane::ProfileManager *store = api->rig.controller->profileManager();
        const QString id = store->createProfile("Second car");
        QVERIFY(store->setActiveProfile(id));
        QVERIFY(QTest::qWaitFor([&] {
            for (const QJsonObject &message : api->client.pending()) {
                if (message.value("data").toObject().value("profileName") == QLatin1String("Second car"))
                    return true;
            }
            return false;
        }, 5000));
    }

    void helicopterStationRefusesActions()
    {
        api->rig.controller->profileManager()->mutableActiveProfile()->vehicleType = QString(VehicleType::Helicopter);
        const QString refusal = QStringLiteral("Race control is for RC cars; this station drives a helicopter");
        for (const char *event : {"action_lounge_stop", "action_lounge_release"}) {
            QCOMPARE(api->request(event), (QJsonObject{{"event", "error"}, {"source", event}, {"message", refusal}}));
        }
        QCOMPARE(api->rig.controller->loungeSettings().stopped, false);
        const QJsonObject capped = stateOf(api->request("set_lounge_speed_cap", json(R"({"enabled":true,"percent":45})")));
        QCOMPARE(capped.value("speedCapPercent"), QJsonValue(45));
        QCOMPARE(capped.value("supported"), QJsonValue(false));
    }

    void liveFollowsTheInputs()
    {
        QVERIFY(api->rig.connectCar());
        api->rig.wheel->setAxis(0, -1.0f);
        api->rig.pedals->setAxis(1, 1.0f);
        api->rig.pollAll();
        QVERIFY(api->rig.tx.sendLinkStatistics(-60, -62, 87, 9));
        QVERIFY(QTest::qWaitFor([&] { return api->rig.controller->hasLinkStatistics(); }, 5000));
        const QJsonObject live = stateOf(api->request("get_lounge_state")).value("live").toObject();
        QCOMPARE(live.value("carLinked"), QJsonValue(true));
        QCOMPARE(live.value("linkQuality"), QJsonValue(87));
        QCOMPARE(live.value("steering").toDouble(), -1.0);
        QCOMPARE(live.value("throttle").toDouble(), 1.0);
    }

    // Race control's own link against this program's server: a stop holds CH2 at neutral, a
    // release frees it. (The watchdog's stop is the controller's, tested with the lounge.)
    void raceControlDrivesTheCar()
    {
        QVERIFY(api->rig.startCar());
        auto *link = new RaceStationLink(RaceStationLink::urlFor("127.0.0.1", api->server.serverPort()));
        QVERIFY(QTest::qWaitFor([&] { return link->isConnected(); }, 5000));
        api->rig.pedals->setAxis(1, 1.0f);
        api->rig.tick();
        QCOMPARE(api->rig.ch(1), 1811);

        QCOMPARE(raceRequest(*link, "action_lounge_stop").value("stopReason"), QJsonValue("operator"));
        api->rig.tick(3);
        QCOMPARE(api->rig.ch(1), 992);

        QCOMPARE(raceRequest(*link, "action_lounge_release").value("stopped"), QJsonValue(false));
        api->rig.pedals->setAxis(1, -1.0f);
        api->rig.tick();
        api->rig.pedals->setAxis(1, 1.0f);
        api->rig.tick();
        QCOMPARE(api->rig.ch(1), 1811);
        link->close();
    }

    // The live push runs on its own 100 ms timer, whether anyone asked or not.
    void livePushPace()
    {
        QVERIFY(api->client.subscribe({"event_lounge_live"}));
        api->client.skipAll();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(1000);
        const qint64 elapsed = clock.elapsed();
        const int count = countEvents(api->client.pending(), "event_lounge_live");
        const double perSecond = count * 1000.0 / double(elapsed);
        QVERIFY2(perSecond >= 5 && perSecond <= 12, qPrintable(QString::number(perSecond)));
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsLoungeHandler)
#include "tst_wsloungehandler.moc"
