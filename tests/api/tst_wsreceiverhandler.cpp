#include <QCoreApplication>
#include <QJsonArray>
#include <QTest>

#include "api/wsreceiverhandler.h"
#include "apirig.h"
#include "support/testenvironment.h"

using corvane::WsReceiverHandler;

class TestWsReceiverHandler : public QObject
{
    Q_OBJECT

    // The receiver rig behind an API server with the receiver handler, and one client.
    std::unique_ptr<ostratest::ReceiverApiRig> api;
    WsReceiverHandler *handler = nullptr;

    // The reply without the state object, which each test looks into on its own.
    QJsonObject outcome(const QString &event, const QJsonObject &data = {})
    {
        QJsonObject reply = api->request(event, data);
        reply.remove(QStringLiteral("data"));
        return reply;
    }

private slots:
    void init() { QVERIFY((api = ostratest::ReceiverApiRig::started<WsReceiverHandler>(&handler))); }
    void cleanup() { api.reset(); }

    void stateWithoutReceiver()
    {
        QCOMPARE(api->request("get_receiver_config").value("data").toObject().value("usbStatus"), QJsonValue("Not connected"));
        QCOMPARE(outcome("action_receiver_sync"), refused("action_receiver_sync", "Receiver not connected"));
        QCOMPARE(outcome("action_receiver_command", {{"command", "VER"}}), refused("action_receiver_command", "Receiver not connected"));
        QCOMPARE(outcome("action_receiver_calibrate_gyro"),
                 refused("action_receiver_calibrate_gyro", "Connect the receiver (USB or ELRS) first"));
        QCOMPARE(outcome("action_receiver_detect_mounting", {{"step", 0}}),
                 refused("action_receiver_detect_mounting", "Connect the receiver (USB, or ELRS with firmware 4.4.3+) first"));
        QCOMPARE(outcome("action_receiver_search_elrs"), ok("action_receiver_search_elrs"));
    }

    void settingsChecks_data()
    {
        QTest::addColumn<QJsonObject>("settings");
        QTest::addColumn<QString>("message"); // empty: stored
        QTest::newRow("hud snapped") << json(R"({"hudTopKmh":62})") << QString();
        QTest::newRow("motion rate text") << json(R"({"motionRateHz":"20"})")
                                          << "'settings.motionRateHz' must be a whole number, not a string";
        QTest::newRow("gps rate 3") << json(R"({"gpsRateHz":3})") << "gpsRateHz must be 0, 1, 2, 4, 5 or 10";
        QTest::newRow("gps rate 0") << json(R"({"gpsRateHz":0})") << QString();
    }

    void settingsChecks()
    {
        QFETCH(QJsonObject, settings);
        QFETCH(QString, message);
        QVERIFY(api->rig.syncOverUsb());
        const ReceiverSettings before = api->rig.manager()->settings();
        const QJsonObject reply = api->request("set_receiver_config", {{"settings", settings}});
        const QJsonObject stored = reply.value("data").toObject().value("settings").toObject();
        if (!message.isEmpty()) {
            QCOMPARE(reply.value("message").toString(), message);
            QCOMPARE(stored, before.toJson());
            return;
        }
        QJsonObject expected = before.toJson();
        expected.insert("initialized", true);
        if (settings.contains("hudTopKmh"))
            expected.insert("hudTopKmh", 60);
        if (settings.contains("gpsRateHz"))
            expected.insert("gpsRateHz", 0);
        QCOMPARE(api->rig.profile()->receiverSettings.toJson(), expected);
        // Synced: the reply says which settings the receiver takes.
        QCOMPARE(reply.value("data").toObject().value("supports").toObject().size(), 9);
    }

    void consoleCommands()
    {
        QVERIFY(api->rig.syncOverUsb());
        QVERIFY(api->client.subscribe({"event_receiver_console"}));
        api->rig.rx.clearRecords();
        QCOMPARE(outcome("action_receiver_command", {{"command", " VER "}}), ok("action_receiver_command"));
        QCOMPARE(api->client.next(), json(R"({"event":"event_receiver_console","data":{"line":"QOR:4.5.3"}})"));
        QCOMPARE(api->rig.rx.lines(), QList<QByteArray>{"VER"});

        for (const char *command : {"dfu", "DFU", "GPS_DEBUG 1\nDFU", "", "  "})
            QCOMPARE(outcome("action_receiver_command", {{"command", command}}), refused("action_receiver_command", "Command refused"));
        QCOMPARE(outcome("action_receiver_command", {{"command", 5}}), refused("action_receiver_command", "Command refused"));
        QTest::qWait(2 * corvane::ReceiverConfigManager::CommandPacingMs);
        QCOMPARE(api->rig.rx.lines(), QList<QByteArray>{"VER"});

        QCOMPARE(outcome("action_receiver_sync"), ok("action_receiver_sync"));
    }

    // A client fills the receiver's queue only so far and is told so; every command it was told
    // is queued reaches the receiver, in order.
    void commandQueueBounded()
    {
        QVERIFY(api->rig.syncOverUsb());
        api->rig.rx.clearRecords();
        const int sent = 2 * corvane::ReceiverConfigManager::MaxQueuedCommands;
        for (int i = 0; i < sent; ++i)
            api->client.send({{"event", "action_receiver_command"}, {"data", QJsonObject{{"command", QString("NOTE %1").arg(i)}}}});
        QList<QByteArray> queued;
        for (int i = 0; i < sent; ++i) {
            QJsonObject reply = api->client.next();
            reply.remove("data");
            if (reply == ok("action_receiver_command"))
                queued.append(QString("NOTE %1").arg(i).toLatin1());
            else
                QCOMPARE(reply, refused("action_receiver_command",
                                        "Too many commands waiting for the receiver (at most 32): try again shortly"));
        }
        QVERIFY(queued.size() < sent);
        QVERIFY(api->rig.rx.waitForLine(queued.last()));
        QCOMPARE(api->rig.rx.lines(), queued);
    }

    void mountingAndMode()
    {
        QVERIFY(api->rig.syncOverUsb());
        for (const QJsonObject &data : {json(R"({"step":2})"), json(R"({"step":0.5})")})
            QCOMPARE(outcome("action_receiver_detect_mounting", data), refused("action_receiver_detect_mounting", "step must be 0 or 1"));
        const QJsonObject started = api->request("action_receiver_detect_mounting", {{"step", 0.0}});
        QCOMPARE(started.value("data").toObject().value("mounting"), QJsonValue("running"));
        QCOMPARE(outcome("action_receiver_detect_mounting", {{"step", 1}}),
                 refused("action_receiver_detect_mounting", "A step is already running"));

        QCOMPARE(outcome("action_receiver_set_mode", {{"mode", "Heli"}}), refused("action_receiver_set_mode", "mode must be car or heli"));
        // Already a car receiver: nothing to change.
        QCOMPARE(outcome("action_receiver_set_mode", {{"mode", "car"}}), ok("action_receiver_set_mode"));
    }

    // Reachable over the air only: a USB resync has nothing to talk to.
    void syncOverAirRefused()
    {
        QVERIFY(api->rig.startAndSyncOverAir());
        const QJsonObject reply = api->request("action_receiver_sync");
        QCOMPARE(reply.value("message"), QJsonValue("Receiver not connected"));
        QCOMPARE(reply.value("data").toObject().value("overElrs"), QJsonValue(true));
    }

    void burstGivesOnePush()
    {
        QVERIFY(api->client.subscribe({"event_receiver_config"}));
        emit api->rig.manager()->stateChanged();
        emit api->rig.manager()->settingsChanged();
        emit api->rig.manager()->mountingChanged();
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "event_receiver_config"}, {"data", handler->receiverStateJson()}}));
        // Nothing else follows.
        QTest::qWait(2 * WsReceiverHandler::PushDebounceMs);
        QCOMPARE(api->client.pending(), QList<QJsonObject>());
    }
};

OSTRA_TEST_MAIN_CORE(TestWsReceiverHandler)
#include "tst_wsreceiverhandler.moc"
