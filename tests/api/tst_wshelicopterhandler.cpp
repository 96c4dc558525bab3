#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTest>

#include "api/wsdevicehandler.h"
#include "api/wshelicopterhandler.h"
#include "api/wstransmissionhandler.h"
#include "apirig.h"
#include "platform/serial/serialportlister.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "support/heldrenames.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"

using corvane::WsHelicopterHandler;
using ostratest::ApiRig;

namespace {

QJsonObject configOf(ApiRig &api)
{
    return api.request("get_helicopter_config").value("data").toObject();
}

bool setConfig(ApiRig &api, const QJsonObject &partial)
{
    return api.request("set_helicopter_config", partial) == QJsonObject{{"event", "set_helicopter_config"}, {"success", true}};
}

// Sets one member of a nested object by its dotted path.
void setPath(QJsonObject &object, const QStringList &path, const QJsonValue &value)
{
    if (path.size() == 1) {
        object.insert(path.first(), value);
        return;
    }
    QJsonObject child = object.value(path.first()).toObject();
    setPath(child, path.mid(1), value);
    object.insert(path.first(), child);
}

// A float field as the setup stores and writes it back.
double f(double value)
{
    return double(float(value));
}

QJsonObject axisRecord(const QString &name)
{
    return {{"name", name}, {"inverted", false}, {"deadzone", 0.0}, {"minOutput", 0.0}, {"maxOutput", 1.0},
            {"curve", 0}, {"curveExponent", 2.0}, {"expo", 0.0}, {"inputMin", -1.0}, {"inputMax", 1.0},
            {"inputCenter", 0.0}, {"useCalibration", false}};
}

// The rudder channel in the active profile's file.
int storedRudderChannel(const corvane::ProfileManager &store)
{
    QFile file(store.profileFilePath(store.activeProfileId()));
    if (!file.open(QIODevice::ReadOnly))
        return -100;
    const QJsonObject profile = QJsonDocument::fromJson(file.readAll()).object();
    return profile.value("helicopterConfig").toObject().value("channels").toObject().value("rudder").toInt(-100);
}

QJsonObject outputOf(ApiRig &api)
{
    return api.request("get_helicopter_output").value("data").toObject();
}

QJsonObject channel(int number, int value, int micros, int percent)
{
    return {{"channel", number}, {"value", value}, {"micros", micros}, {"percent", percent}};
}

} // namespace

class TestWsHelicopterHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsHelicopterHandler>())); }
    void cleanup() { api.reset(); }

    // `before` is merged first; then `request`; the result is the record after `before`
    // with the listed members changed, or unchanged when the request is refused.
    void merge_data()
    {
        QTest::addColumn<QJsonObject>("before");
        QTest::addColumn<QJsonObject>("request");
        QTest::addColumn<QJsonObject>("changes"); // dotted path -> value
        QTest::addColumn<QString>("refusal");     // empty: accepted

        QJsonObject rollRecord = axisRecord("");
        rollRecord.insert("inputMin", f(-0.8));
        QJsonObject curve{{"enabled", true}, {"points", QJsonArray{f(0.2), f(0.4), 0.5, 0.75, 1.0}}};

        QTest::newRow("one channel") << QJsonObject() << json(R"({"channels":{"roll":3}})")
                                     << QJsonObject{{"channels.roll", 3}} << QString();
        QTest::newRow("axis record whole")
            << json(R"({"calibration":{"roll":{"name":"Roll","useCalibration":true,"maxOutput":0.5,"inputMax":0.9}}})")
            << json(R"({"calibration":{"roll":{"inputMin":-0.8}}})") << QJsonObject{{"calibration.roll", rollRecord}} << QString();
        QTest::newRow("short points") << QJsonObject() << json(R"({"fly":{"pitchCurve":{"enabled":true,"points":[0.2,0.4]}}})")
                                      << QJsonObject{{"fly.pitchCurve", curve}} << QString();
        QTest::newRow("inputs not object") << QJsonObject() << json(R"({"inputs":5})") << QJsonObject()
                                           << "'inputs' must be an object, not a number";
        QTest::newRow("fractional channel") << QJsonObject() << json(R"({"channels":{"pitch":2.5}})") << QJsonObject()
                                            << "'channels.pitch' must be a whole number from 0 to 15";
        QTest::newRow("1e39 scalar") << json(R"({"channels":{"roll":6}})")
                                     << json(R"({"channels":{"roll":1e39},"fly":{"softStartSec":1e39}})") << QJsonObject()
                                     << "'channels.roll' must be a whole number from 0 to 15";
        QTest::newRow("1e39 in record") << json(R"({"calibration":{"pitch":{"deadzone":0.2}}})")
                                        << json(R"({"calibration":{"pitch":{"deadzone":1e39}}})") << QJsonObject()
                                        << "'calibration.pitch.deadzone' must be a number from 0 to 0.5";
        QTest::newRow("device ignored") << QJsonObject()
                                        << json(R"({"inputs":{"joystick":{"device":{"productName":"Fake","instanceGuid":"{1}"},"xAxis":2}}})")
                                        << QJsonObject{{"inputs.joystick.xAxis", 2}} << QString();
        QTest::newRow("wrong types refused")
            << QJsonObject() << json(R"({"fly":{"armAtIdle":1,"motorChannel":"6"},"attitude":{"invertYaw":true},"unknown":1})")
            << QJsonObject() << "'fly.armAtIdle' must be true or false, not a number";
    }

    void merge()
    {
        QFETCH(QJsonObject, before);
        QFETCH(QJsonObject, request);
        QFETCH(QJsonObject, changes);
        QFETCH(QString, refusal);
        QVERIFY(setConfig(*api, before));
        QJsonObject expected = configOf(*api);
        for (auto it = changes.begin(); it != changes.end(); ++it)
            setPath(expected, it.key().split('.'), it.value());
        const QString event = "set_helicopter_config";
        QCOMPARE(api->request(event, request), refusal.isEmpty() ? ok(event) : refused(event, refusal));
        QCOMPARE(configOf(*api), expected);
        // Stored in the active profile, and not written to its file yet.
        corvane::ProfileManager *store = api->rig.controller->profileManager();
        QCOMPARE(store->helicopterConfig().toJson(), expected);
    }

    void rateMode_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<int>("mode");
        QTest::newRow("7") << json(R"({"mode":7})") << 2;
        QTest::newRow("-1") << json(R"({"mode":-1})") << 0;
        QTest::newRow("1") << json(R"({"mode":1})") << 1;
    }

    void rateMode()
    {
        QFETCH(QJsonObject, data);
        QFETCH(int, mode);
        api->rig.controller->setHeliRateMode(mode == 0 ? 2 : 0);
        QVERIFY(api->client.subscribe({"event_heli_rate_mode"}));
        api->client.skipAll();
        api->client.send({{"event", "action_set_rate_mode"}, {"data", data}});
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "event_heli_rate_mode"}, {"data", QJsonObject{{"mode", mode}}}}));
        QCOMPARE(api->client.next(), (QJsonObject{{"event", "action_set_rate_mode"}, {"success", true},
                                                 {"data", QJsonObject{{"mode", mode}}}}));
        QCOMPARE(api->rig.controller->heliRateMode(), mode);
    }

    void arming()
    {
        QVERIFY(api->rig.connectHelicopter());
        api->rig.lever->setAxis(5, -1.0f);
        api->rig.pollAll();
        QVERIFY(api->client.subscribe({"event_heli_armed"}));
        // Only for a run: armed before it, the motor would go live with the first frame.
        QCOMPARE(api->request("action_set_heli_armed", json(R"({"armed":true})")),
                 json(R"({"event":"action_set_heli_armed","success":false,"message":"Start transmission before arming the motor.","data":{"armed":false}})"));
        QVERIFY(api->rig.start());
        QCOMPARE(api->request("action_set_heli_armed", json(R"({"armed":true})")),
                 json(R"({"event":"action_set_heli_armed","success":true,"data":{"armed":true}})"));
        QCOMPARE(api->request("get_heli_armed"), json(R"({"event":"get_heli_armed","data":{"armed":true}})"));
        QCOMPARE(api->request("action_set_heli_armed"), json(R"({"event":"action_set_heli_armed","success":true,"data":{"armed":false}})"));
        QCOMPARE(api->client.received.at(2), json(R"({"event":"event_heli_armed","data":{"armed":true}})"));

        // The collective above idle: the controller refuses, and the reply says why, as the desktop does.
        api->rig.lever->setAxis(5, 1.0f);
        api->rig.pollAll();
        QCOMPARE(api->request("action_set_heli_armed", json(R"({"armed":true})")),
                 json(R"({"event":"action_set_heli_armed","success":false,"message":"Lower the collective before arming the motor.","data":{"armed":false}})"));
        QCOMPARE(api->rig.lastError(), QString("Lower the collective before arming the motor."));
    }

    // A disarm takes the motor away when it arrives, though a save sent before it waits for the
    // disk, or a connect for a busy port. An arming sent between them does not undo it, whether it
    // or a stop came by the API or from the desktop; the arming's reply tells the motor as it goes.
    void disarmBehindASlowWrite_data()
    {
        QTest::addColumn<QString>("disarm"); // empty: the desktop's own button
        QTest::addColumn<bool>("busyPort"); // behind a connect to a busy port instead of a save
        QTest::newRow("disarm") << "action_set_heli_armed" << false;
        QTest::newRow("stop") << "action_stop" << false;
        QTest::newRow("the desktop's disarm") << QString() << false;
        QTest::newRow("disarm, behind a busy port") << "action_set_heli_armed" << true;
    }

    void disarmBehindASlowWrite()
    {
        QFETCH(QString, disarm);
        QFETCH(bool, busyPort);
        api->add<corvane::WsTransmissionHandler>();
        api->add<corvane::WsDeviceHandler>();
        QVERIFY(api->rig.connectHelicopter());
        api->rig.lever->setAxis(5, -1.0f);
        api->rig.pollAll();
        QVERIFY(api->rig.start());
        QCOMPARE(api->request("action_set_heli_armed", json(R"({"armed":true})")).value("data"), QJsonValue(json(R"({"armed":true})")));
        ostratest::PtyDevice pty;
        QSerialPort holder(pty.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        corvane::SerialPortLister::setFixedPorts({{pty.slavePath(), QStringLiteral("Busy"), QString()}});
        const auto systemPorts = qScopeGuard([] { corvane::SerialPortLister::useSystemPorts(); });
        const QString first = busyPort ? "action_connect_receiver" : "action_save_helicopter_profile";
        {
            ostratest::HeldRenames held(api->rig.controller->profileManager()->activeProfileId() + ".json");
            if (busyPort) {
                api->client.send({{"event", first}, {"data", QJsonObject{{"port", pty.slavePath()}}}});
            } else {
                api->client.send({{"event", first}, {"data", json(R"({"name":"Bird"})")}});
                QTRY_COMPARE(held.waiting(), 1);
            }
            api->client.send({{"event", "action_set_heli_armed"}, {"data", json(R"({"armed":true})")}});
            if (disarm.isEmpty()) {
                // Nothing shows a request that waits has arrived: loopback delivers it well within this.
                QTest::qWait(200);
                api->rig.controller->setHeliArmed(false);
            } else {
                api->client.send({{"event", disarm}, {"data", json(R"({"armed":false})")}});
            }
            QTRY_VERIFY(!api->rig.controller->isHeliArmed());
            QCOMPARE(held.waiting(), busyPort ? 0 : 1);
        }
        holder.close();
        QCOMPARE(api->client.next().value("event"), QJsonValue(first));
        // A stop goes ahead of the arming when they arrive together: the arming is refused then.
        const QJsonObject arming = api->client.next();
        QCOMPARE(arming.value("event"), QJsonValue("action_set_heli_armed"));
        QCOMPARE(arming.value("data"), QJsonValue(json(R"({"armed":false})")));
        if (!disarm.isEmpty())
            QCOMPARE(api->client.next().value("event"), QJsonValue(disarm));
        QVERIFY(!api->rig.controller->isHeliArmed());
    }

    // The roll stick on axis 0, or split pedals on axes 3 (left) and 2, both at `axis`; the lever
    // down. Each output is the value the channel frame carries, in the microseconds the page shows.
    void stickOutput_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<float>("axis");
        QTest::addColumn<bool>("jump"); // the stick goes to `axis` only after a frame at its centre
        QTest::addColumn<QJsonObject>("output");
        QTest::newRow("centre") << "roll" << 0.0f << false << channel(1, 992, 1500, 0);
        QTest::newRow("right") << "roll" << 1.0f << false << channel(1, 1811, 2012, 100);
        QTest::newRow("left") << "roll" << -1.0f << false << channel(1, 173, 988, -100);
        // As CH4 sends it: the two pedals mixed, not the left one alone (-100 %).
        QTest::newRow("split pedals, both up") << "rudder" << -1.0f << false << channel(4, 992, 1500, 0);
        QTest::newRow("collective at rest") << "throttle" << 0.0f << false << channel(3, 172, 988, 0);
        QTest::newRow("jump held back by the glitch filter") << "roll" << 1.0f << true << channel(1, 992, 1500, 0);
    }

    void stickOutput()
    {
        QFETCH(QString, function);
        QFETCH(float, axis);
        QFETCH(bool, jump);
        QFETCH(QJsonObject, output);
        QVERIFY(api->rig.connectHelicopter());
        QVERIFY(setConfig(*api, json(R"({"fly":{"dualRates":{"enabled":false}},
            "inputs":{"pedals":{"axis":3,"axis2":2,"differential":true}}})")));
        api->rig.joystick->setAxis(0, jump ? 0.0f : axis);
        api->rig.rudder->setAxis(3, axis);
        api->rig.rudder->setAxis(2, axis);
        api->rig.lever->setAxis(5, -1.0f);
        api->rig.pollAll();
        QCOMPARE(outputOf(*api).value(function).toObject(), output);
        QVERIFY(api->rig.start());
        api->rig.tick();
        if (jump) {
            api->rig.joystick->setAxis(0, axis);
            api->rig.tick();
        }
        QVERIFY(api->rig.tx.waitForChannelFrames(int(api->rig.controller->frameCount())));
        QCOMPARE(api->rig.tx.lastChannels()[size_t(output.value("channel").toInt() - 1)], output.value("value").toInt());
        QCOMPARE(outputOf(*api).value(function).toObject(), output);
    }

    void pitchCurveAndDualRates()
    {
        QVERIFY(api->rig.connectHelicopter());
        QVERIFY(setConfig(*api, json(R"({"channels":{"throttle":6},
            "fly":{"pitchCurve":{"enabled":true,"points":[0.5,0.5,0.5,0.5,0.5]}}})")));
        api->rig.joystick->setAxis(0, 1.0f);
        for (float lever : {-1.0f, 0.3f, 1.0f}) {
            api->rig.lever->setAxis(5, lever);
            api->rig.pollAll();
            const QJsonObject output = outputOf(*api);
            QCOMPARE(output.value("throttle").toObject(), channel(7, 992, 1500, 50));
            // Beginner rate at 60 %: full roll reports 60 %.
            QCOMPARE(output.value("roll").toObject(), channel(1, 1484, 1808, 60));
            QCOMPARE(output.value("rateMode"), QJsonValue(0));
        }
    }

    void captureFromStick()
    {
        QVERIFY(api->rig.connectHelicopter());
        api->rig.joystick->setAxis(4, -0.5f);
        api->rig.pollAll();
        const QJsonObject reply = api->request("action_capture_helicopter_calibration", json(R"({"function":"pitch","point":"min"})"));
        QCOMPARE(reply.value("success"), QJsonValue(true));
        const double raw = reply.value("value").toDouble();
        QVERIFY(raw < -0.45 && raw > -0.55);
        const QJsonObject pitch = configOf(*api).value("calibration").toObject().value("pitch").toObject();
        QCOMPARE(pitch.value("inputMin").toDouble(), raw);
        QCOMPARE(pitch.value("useCalibration"), QJsonValue(true));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message");
        QTest::newRow("no index") << "action_connect_helicopter_device" << json(R"({"role":"joystick"})") << "Missing or invalid 'index'";
        QTest::newRow("capital role") << "action_connect_helicopter_device" << json(R"({"role":"Joystick","index":0})") << "Unknown role: Joystick";
        QTest::newRow("no such device") << "action_connect_helicopter_device" << json(R"({"role":"pedals","index":40})") << "Failed to connect pedals";
        QTest::newRow("yaw") << "action_capture_helicopter_calibration" << json(R"({"function":"yaw","point":"min"})") << "Unknown function";
        QTest::newRow("mid") << "action_capture_helicopter_calibration" << json(R"({"function":"roll","point":"mid"})") << "Unknown point: mid";
        // What the reply repeats of a long text is cut.
        QTest::newRow("long role") << "action_connect_helicopter_device" << QJsonObject{{"role", QString(5000, 'r')}, {"index", 0}}
                                   << "Unknown role: " + QString(64, 'r');
        QTest::newRow("long point") << "action_capture_helicopter_calibration"
                                    << QJsonObject{{"function", "roll"}, {"point", QString(5000, 'p')}} << "Unknown point: " + QString(64, 'p');
    }

    void refusals()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        const QJsonObject before = configOf(*api);
        QCOMPARE(api->request(event, data), refused(event, message));
        QCOMPARE(configOf(*api), before);
    }

    void devices()
    {
        const QJsonArray devices = api->request("get_helicopter_devices").value("data").toObject().value("devices").toArray();
        QCOMPARE(devices.at(3).toObject().value("productName"), QJsonValue("Virtual Flight Stick"));

        QVERIFY(api->client.subscribe({"event_helicopter_device_changed"}));
        api->request("action_connect_helicopter_device", json(R"({"role":"joystick","index":3})"));
        QVERIFY(api->client.received.contains(json(R"({"event":"event_helicopter_device_changed","data":{"role":"joystick","connected":true}})")));
        // The connected device's record is in the setup, and a set request cannot overwrite it.
        QVERIFY(setConfig(*api, json(R"({"inputs":{"joystick":{"device":{"productName":"Fake"}}}})")));
        QCOMPARE(configOf(*api).value("inputs").toObject().value("joystick").toObject().value("device").toObject().value("productName"),
                 QJsonValue("Virtual Flight Stick"));

        api->request("action_disconnect_helicopter_device", json(R"({"role":"joystick"})"));
        QVERIFY(!api->rig.controller->isHeliJoystickConnected());
    }

    void vehicleAndSave()
    {
        corvane::ProfileManager *store = api->rig.controller->profileManager();
        QCOMPARE(api->request("action_select_helicopter"), json(R"({"event":"action_select_helicopter","success":true})"));
        QCOMPARE(api->rig.controller->vehicleType(), QString("rc_helicopter"));
        QVERIFY(setConfig(*api, json(R"({"channels":{"rudder":9}})")));
        QCOMPARE(storedRudderChannel(*store), 3); // stored in the profile, not yet written

        const QJsonObject reply = api->request("action_save_helicopter_profile", json(R"({"name":"   "})"));
        const QString id = store->activeProfileId();
        QCOMPARE(reply, (QJsonObject{{"event", "action_save_helicopter_profile"}, {"success", true},
                                     {"data", QJsonObject{{"profileId", id}, {"name", "RC Helicopter"}}}}));
        QCOMPARE(storedRudderChannel(*store), 9);
        QCOMPARE(api->request("action_save_helicopter_profile", json(R"({"name":"  Blade 230  "})")).value("data").toObject().value("name"),
                 QJsonValue("Blade 230"));
        // The car profile's name in other letters: the reply gives the name the store keeps.
        QCOMPARE(api->request("action_save_helicopter_profile", json(R"({"name":"DEFAULT"})")).value("data").toObject().value("name"),
                 QJsonValue("DEFAULT (2)"));
        QCOMPARE(api->request("action_select_car"), json(R"({"event":"action_select_car","success":true})"));
        QCOMPARE(api->rig.controller->vehicleType(), QString("rc_car"));
    }

    // A name the store refuses is refused before anything changes: the station stays a car.
    void saveRefusesName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        const QString forbidden =
            "Profile name cannot contain line breaks, tabs, other control characters or text direction overrides";
        QTest::newRow("5000 characters") << QString(5000, 'x') << "Profile name is too long: at most 64 characters";
        QTest::newRow("line break") << "Blade\n230" << forbidden;
        QTest::newRow("right-to-left override") << "Blade\u202E032" << forbidden;
        QTest::newRow("nothing visible") << QString::fromUtf16(u"\u200B\u3164")
                                         << "'name' has nothing visible: it holds only blanks or invisible characters";
    }

    void saveRefusesName()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        corvane::ProfileManager *store = api->rig.controller->profileManager();
        // A helicopter profile exists for the switch to pick.
        QVERIFY(api->request("action_select_helicopter").value("success").toBool());
        QVERIFY(api->request("action_select_car").value("success").toBool());
        const QString carId = store->activeProfileId();
        const int profiles = int(store->profiles().size());
        const QString event = "action_save_helicopter_profile";
        QCOMPARE(api->request(event, {{"name", name}}), refused(event, message));
        QCOMPARE(api->rig.controller->vehicleType(), QString("rc_car"));
        QCOMPARE(store->activeProfileId(), carId);
        QCOMPARE(store->profiles().size(), profiles);
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsHelicopterHandler)
#include "tst_wshelicopterhandler.moc"
