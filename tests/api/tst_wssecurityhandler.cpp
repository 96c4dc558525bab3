#include <QCoreApplication>
#include <QJsonArray>
#include <QTest>

#include "api/wssecurityhandler.h"
#include "apirig.h"
#include "bridge/devicesecurity.h"
#include "support/testenvironment.h"

using corvane::WsSecurityHandler;
using ostratest::ApiRig;

class TestWsSecurityHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsSecurityHandler>())); }
    void cleanup() { api.reset(); }

    // Provisioning adds the transmitter that reports in and pushes its authorization; the
    // allow-list then loses it again through a lower-case removal.
    void provisionAndRemove()
    {
        QVERIFY(api->client.subscribe({"event_transmitter_authorization"}));
        QCOMPARE(api->request("action_set_provisioning_mode", {{"enabled", true}}),
                 json(R"({"event":"action_set_provisioning_mode","success":true})"));
        QVERIFY(api->rig.openTransmitter());
        QCOMPARE(api->client.next(), json(R"({"event":"event_transmitter_authorization",
                                              "data":{"authorized":true,"deviceId":"QORTX01"}})"));

        QCOMPARE(api->request("action_remove_authorized_device", {{"deviceId", "qortx01"}}),
                 json(R"({"event":"action_remove_authorized_device","success":true})"));
        // Provisioning still lets it in.
        QCOMPARE(api->request("get_transmitter_security").value("data").toObject(),
                 json(R"({"authorized":true,"deviceId":"QORTX01","provisioningMode":true,
                          "authorizedDevices":[],"platform":"windows"})"));

        // An empty data object switches provisioning off; the empty list then lets it in no more.
        QCOMPARE(api->request("action_set_provisioning_mode"),
                 json(R"({"event":"action_set_provisioning_mode","success":true})"));
        QVERIFY(!api->rig.controller->deviceSecurity()->provisioningMode());
        QCOMPARE(api->request("get_transmitter_security").value("data").toObject().value("authorized"), QJsonValue(false));
    }

    // The reply names itself "transmitter_security", not the request, and carries no "success".
    void securityReply()
    {
        const QJsonObject reply = api->request("get_transmitter_security");
        QCOMPARE(reply.keys(), QStringList({"data", "event"}));
        QCOMPARE(reply.value("event").toString(), QStringLiteral("transmitter_security"));
        QCOMPARE(reply.value("data").toObject().value("deviceId"), QJsonValue(""));
        QCOMPARE(reply.value("data").toObject().value("authorized"), QJsonValue(false));
    }

    void removeRefusals_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QJsonObject>("reply");
        const QJsonObject missing = json(R"({"event":"action_remove_authorized_device","success":false,
                                             "message":"Missing 'deviceId' parameter"})");
        QTest::newRow("none") << QJsonObject() << missing;
        QTest::newRow("empty") << json(R"({"deviceId":""})") << missing;
        QTest::newRow("unknown") << json(R"({"deviceId":"nobody"})")
                                 << json(R"({"event":"action_remove_authorized_device","success":true})");
    }

    void removeRefusals()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QJsonObject, reply);
        QCOMPARE(api->request("action_remove_authorized_device", data), reply);
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsSecurityHandler)
#include "tst_wssecurityhandler.moc"
