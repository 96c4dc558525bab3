#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "api/wstelemetryhandler.h"
#include "apirig.h"
#include "profiles/profilemanager.h"
#include "support/testenvironment.h"

using corvane::TelemetrySensor;
using corvane::WsTelemetryHandler;
using ostratest::ApiRig;

namespace {

// The handler's 250 ms tick held still: the test runs each tick itself.
void holdTimers(WsTelemetryHandler *handler)
{
    for (QTimer *timer : handler->findChildren<QTimer *>())
        timer->stop();
}

void tick(WsTelemetryHandler *handler)
{
    QMetaObject::invokeMethod(handler, "pushTelemetry", Qt::DirectConnection);
}

// The pushes a tick sends, in order, once they have arrived.
QList<QJsonObject> pushesOfTick(ApiRig &api, WsTelemetryHandler *handler)
{
    api.client.skipAll();
    tick(handler);
    // A ping round trip: every push of the tick is in before the pong.
    api.client.send({{"event", "ping"}});
    QList<QJsonObject> pushes;
    for (QJsonObject message = api.client.next(); message != json(R"({"event":"pong"})"); message = api.client.next())
        pushes.append(message);
    return pushes;
}

QStringList eventsOf(const QList<QJsonObject> &messages)
{
    QStringList events;
    for (const QJsonObject &message : messages)
        events.append(message.value("event").toString());
    return events;
}

} // namespace

class TestWsTelemetryHandler : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY((api = ApiRig::started<WsTelemetryHandler>(&handler)));
        holdTimers(handler);
    }
    void cleanup() { api.reset(); }

    // Many frames between two ticks make one push of each kind; a quiet tick sends nothing.
    void linkStatisticsThrottled()
    {
        QVERIFY(api->client.subscribe({"event_link_statistics", "event_telemetry_sensors", "event_gps"}));
        QVERIFY(api->rig.openTransmitter());
        QSignalSpy frames(api->rig.controller.get(), &corvane::CorvaneController::linkStatisticsUpdated);
        for (int i = 0; i < 10; ++i)
            QVERIFY(api->rig.tx.sendLinkStatistics(-60, -62, 90 + i, 9));
        QTRY_COMPARE(frames.size(), 10);

        const QList<QJsonObject> pushes = pushesOfTick(*api, handler);
        QCOMPARE(eventsOf(pushes), (QStringList{"event_link_statistics", "event_telemetry_sensors"}));
        const QJsonObject stats = pushes.at(0).value("data").toObject();
        QCOMPARE(stats.value("linkQuality"), QJsonValue(99));
        QCOMPARE(stats, api->request("get_link_statistics").value("data").toObject());
        QCOMPARE(pushesOfTick(*api, handler), QList<QJsonObject>());

        // A GPS frame marks only the GPS body.
        QSignalSpy gps(api->rig.controller.get(), &corvane::CorvaneController::gpsUpdated);
        QVERIFY(api->rig.tx.sendGps(47.5, 8.25, 36.0, 90.0, 410, 9));
        QTRY_COMPARE(gps.size(), 1);
        const QList<QJsonObject> gpsPushes = pushesOfTick(*api, handler);
        // Its values also show as sensors.
        QCOMPARE(eventsOf(gpsPushes), (QStringList{"event_gps", "event_telemetry_sensors"}));
        const QJsonObject body = gpsPushes.at(0).value("data").toObject();
        QCOMPARE(body.value("hasFix"), QJsonValue(true));
        QCOMPARE(body.value("altitudeM"), QJsonValue(410));
    }

    void staleAfterTwoSeconds_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<bool>("stale");
        QTest::newRow("2000 ms") << qint64(2000) << false;
        QTest::newRow("2001 ms") << qint64(2001) << true;
        QTest::newRow("never") << qint64(-1) << true;
    }

    void staleAfterTwoSeconds()
    {
        QFETCH(qint64, ageMs);
        QFETCH(bool, stale);
        const qint64 now = 1'700'000'000'000;
        TelemetrySensor sensor{"RQly", "Link quality", "99%", "", ageMs < 0 ? 0 : now - ageMs};
        TelemetrySensor named{"1RSS", "RSSI 1", "-60dBm", "Antenna", now};
        QCOMPARE(WsTelemetryHandler::sensorsJson({sensor, named}, {"1RSS", "x"}, false, now),
                 (QJsonObject{{"sensors", QJsonArray{
                                  QJsonObject{{"id", "RQly"}, {"label", "Link quality"}, {"defaultLabel", "Link quality"},
                                              {"value", "99%"}, {"stale", stale}, {"pinned", false}},
                                  QJsonObject{{"id", "1RSS"}, {"label", "Antenna"}, {"defaultLabel", "RSSI 1"},
                                              {"value", "-60dBm"}, {"stale", false}, {"pinned", true}}}},
                              {"discover", false}}));
    }

    void dashboardAndSensors()
    {
        QVERIFY(api->rig.openTransmitter());
        QSignalSpy frames(api->rig.controller.get(), &corvane::CorvaneController::linkStatisticsUpdated);
        QVERIFY(api->rig.tx.sendLinkStatistics(-60, -62, 100, 9));
        QTRY_COMPARE(frames.size(), 1);
        const QList<TelemetrySensor> sensors = api->rig.controller->telemetrySensors();
        QVERIFY(sensors.size() >= 2);
        const QString first = sensors.at(0).id;
        const QString second = sensors.at(1).id;
        QVERIFY(api->client.subscribe({"event_telemetry_dashboard"}));

        // A new list pushes the dashboard while the request runs; the same list again does not.
        const QJsonObject pinned{{"pinned", QJsonArray{first, ""}}};
        api->client.send({{"event", "set_telemetry_dashboard"}, {"data", QJsonObject{{"pinned", QJsonArray{first, 5}}}}});
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "event_telemetry_dashboard"}, {"data", pinned}}));
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "set_telemetry_dashboard"}, {"success", true}, {"data", pinned}}));
        api->client.send({{"event", "set_telemetry_dashboard"}, {"data", pinned}});
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "set_telemetry_dashboard"}, {"success", true}, {"data", pinned}}));

        const QJsonObject renamed = api->request("action_telemetry_sensor_rename", {{"id", second}, {"name", "  Mine "}});
        QCOMPARE(renamed.value("data").toObject().value("sensors").toArray().at(1).toObject().value("label"), QJsonValue("Mine"));

        // Deleting a pinned sensor unpins it.
        const QJsonObject deleted = api->request("action_telemetry_sensor_delete", {{"id", first}});
        const QJsonArray left = deleted.value("data").toObject().value("sensors").toArray();
        QCOMPARE(left.at(0).toObject().value("id").toString(), second);
        QCOMPARE(api->rig.controller->profileManager()->activeProfile()->telemetryDashboard, QStringList{""});

        QCOMPARE(api->request("action_telemetry_sensors_clear"),
                 json(R"({"event":"action_telemetry_sensors_clear","success":true,"data":{"sensors":[],"discover":true}})"));
    }

    // A sensor's name follows the rule of the other names; blanks bring back the label, and the
    // name it has passes, so that an app can send back what it read.
    void sensorRename_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("message"); // empty: renamed
        const QString overrides = "Sensor name cannot contain line breaks, tabs, other control characters or text direction overrides";
        QTest::newRow("trimmed") << "" << "  Mine " << "Mine" << "";
        QTest::newRow("blank: the label") << "Mine" << "  " << "" << "";
        QTest::newRow("direction override") << "" << "Mine\u202E (4 axes)" << "" << overrides;
        QTest::newRow("line break") << "Mine" << "A\nB" << "Mine" << overrides;
        QTest::newRow("invisible only") << "" << "\u200B" << ""
                                        << "'name' has nothing visible: it holds only blanks or invisible characters";
        QTest::newRow("as stored") << "Old\u202E" << "Old\u202E" << "Old\u202E" << "";
    }

    void sensorRename()
    {
        QFETCH(QString, stored);
        QFETCH(QString, sent);
        QFETCH(QString, message);
        corvane::CorvaneController *c = api->rig.controller.get();
        c->profileManager()->mutableProfile(c->profileManager()->activeProfileId())->telemetrySensors = {{"RQly", "Link quality", stored}};
        c->loadTelemetrySensors();
        const QJsonObject reply = api->request("action_telemetry_sensor_rename", {{"id", "RQly"}, {"name", sent}});
        QCOMPARE(reply.value("success").toBool(), message.isEmpty());
        QCOMPARE(reply.value("message").toString(), message);
        QTEST(c->findTelemetrySensor("RQly").name, "kept");
    }

    // The list is kept without repeats and capped; a request that leaves it as it was writes it all
    // the same, as an earlier save of it may have failed.
    void dashboardListBounded_data()
    {
        QTest::addColumn<QJsonArray>("sent");
        QTest::addColumn<QStringList>("kept");
        QJsonArray many;
        QStringList first64;
        for (int i = 0; i < 100; ++i) {
            many.append(QString("S%1").arg(i));
            if (i < WsTelemetryHandler::MaxPinned)
                first64.append(QString("S%1").arg(i));
        }
        QJsonArray repeated;
        for (int i = 0; i < 1000; ++i)
            repeated.append(i % 2 ? "GSpd" : "RQly");
        QTest::newRow("same list") << QJsonArray{"RQly", "GSpd"} << QStringList{"RQly", "GSpd"};
        QTest::newRow("same list, repeats") << QJsonArray{"RQly", "RQly", "GSpd", "RQly"} << QStringList{"RQly", "GSpd"};
        QTest::newRow("same list, 1000 entries") << repeated << QStringList{"RQly", "GSpd"};
        QTest::newRow("reordered") << QJsonArray{"GSpd", "RQly", "GSpd"} << QStringList{"GSpd", "RQly"};
        QTest::newRow("100 sensors") << many << first64;
        QTest::newRow("non-strings once") << QJsonArray{"RQly", 5, true, "GSpd"} << QStringList{"RQly", "", "GSpd"};
    }

    void dashboardListBounded()
    {
        QFETCH(QJsonArray, sent);
        QFETCH(QStringList, kept);
        corvane::ProfileManager *store = api->rig.controller->profileManager();
        api->rig.controller->setTelemetryDashboard({"RQly", "GSpd"});
        QVERIFY(ostratest::writesDone());
        QFile file(store->profileFilePath(store->activeProfileId()));
        QVERIFY(file.remove());
        const QJsonObject reply = api->request("set_telemetry_dashboard", {{"pinned", sent}});
        QCOMPARE(reply.value("data").toObject().value("pinned").toArray(), QJsonArray::fromStringList(kept));
        QCOMPARE(api->rig.controller->telemetryDashboard(), kept);
        QVERIFY(file.exists());
    }

private:
    std::unique_ptr<ApiRig> api;
    WsTelemetryHandler *handler = nullptr;
};

OSTRA_TEST_MAIN_CORE(TestWsTelemetryHandler)
#include "tst_wstelemetryhandler.moc"
