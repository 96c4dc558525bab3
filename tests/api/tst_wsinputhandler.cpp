#include <QCoreApplication>
#include <QJsonArray>
#include <QTest>

#include "api/wsinputhandler.h"
#include "apirig.h"
#include "support/testenvironment.h"

using corvane::WsInputHandler;
using ostratest::ApiRig;
using ostratest::TransmitRig;

class TestWsInputHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsInputHandler>())); }
    void cleanup() { api.reset(); }

    void rawState_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("povs");
        QTest::addColumn<int>("buttonsListed");
        QTest::addColumn<int>("povsListed");
        QTest::newRow("12 buttons, 1 hat") << 12 << 1 << 12 << 1;
        QTest::newRow("200 buttons") << 200 << 4 << 128 << 4;
        QTest::newRow("no buttons, no hats") << 0 << 0 << 0 << 0;
    }

    void rawState()
    {
        QFETCH(int, buttons);
        QFETCH(int, povs);
        QFETCH(int, buttonsListed);
        QFETCH(int, povsListed);
        auto *shifter = api->rig.input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Odd Shifter"), 8, buttons, povs));
        QVERIFY(api->rig.controller->shifter()->open(6));
        if (povs > 0)
            shifter->setPov(0, 9000); // pushed right
        if (buttons > 1)
            shifter->setButton(1, true);
        for (int read = 0; read < 4; ++read) // a button change passes a four-read debounce
            api->rig.controller->shifter()->poll();
        const QJsonObject raw = api->request("get_raw_input_state", {{"device", "shifter"}}).value("data").toObject();
        QCOMPARE(raw.value("buttons").toArray().size(), buttonsListed);
        QCOMPARE(raw.value("povs").toArray().size(), povsListed);
        if (povs > 0) {
            QCOMPARE(raw.value("povs").toArray().at(0).toInt(), 90);
            if (povs > 1)
                QCOMPARE(raw.value("povs").toArray().at(1).toInt(), -1); // centred
        }
        if (buttons > 1)
            QCOMPARE(raw.value("buttons").toArray().at(1).toBool(), true);
    }

    void deviceErrors_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("Invalid 'device' parameter. Must be 'wheelbase', 'pedals', or 'shifter'.");
        QTest::newRow("words are case-sensitive") << "get_raw_input_state" << json(R"({"device":"Pedals"})") << invalid;
        QTest::newRow("no data") << "get_raw_input_state" << QJsonObject{} << invalid;
        QTest::newRow("not connected") << "get_button_states" << json(R"({"device":"shifter"})") << "shifter is not connected";
    }

    void deviceErrors()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QCOMPARE(api->request(event, data), (QJsonObject{{"event", "error"}, {"source", event}, {"message", message}}));
    }

    void steeringAngle_data()
    {
        QTest::addColumn<int>("angle");
        QTest::addColumn<int>("reported");
        QTest::newRow("narrower angle") << 540 << 540;
        QTest::newRow("none set") << 0 << 900;
        QTest::newRow("wider than the rotation") << 1080 << 900;
    }

    void steeringAngle()
    {
        QFETCH(int, angle);
        QFETCH(int, reported);
        AxisSettings settings = TransmitRig::plainSettings();
        settings.wheelRotationDeg = 900;
        settings.steeringAngleDeg = angle;
        QVERIFY(api->rig.controller->setAxisSettings(settings));
        const QJsonObject state = api->request("get_input_state").value("data").toObject();
        QCOMPARE(state.value("steeringAngleDeg").toInt(), reported);
        // Nothing connected: pedals read released, steering centred.
        QCOMPARE(state.value("throttle").toDouble(), -1.0);
        QCOMPARE(state.value("brake").toDouble(), -1.0);
    }

    // One push per monitor tick, whether or not anything moved.
    void pushedEveryTick()
    {
        QVERIFY(api->client.subscribe({"event_input_changed"}));
        const QJsonObject state = api->request("get_input_state").value("data").toObject();
        api->client.received.clear();
        api->client.taken = 0;
        for (int i = 0; i < 3; ++i)
            QMetaObject::invokeMethod(api->rig.controller.get(), "onMonitorTimer", Qt::DirectConnection);
        QVERIFY(QTest::qWaitFor([&] { return api->client.received.size() >= 3; }, 5000));
        QTest::qWait(20); // the real 16 ms timer may add some of its own
        for (const QJsonObject &push : std::as_const(api->client.received)) {
            QCOMPARE(push.value("event").toString(), QStringLiteral("event_input_changed"));
            QCOMPARE(push.value("data").toObject(), state);
        }
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsInputHandler)
#include "tst_wsinputhandler.moc"
