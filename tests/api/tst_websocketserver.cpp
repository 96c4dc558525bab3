#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

#include "api/apihandlers.h"
#include "api/mdnsresponder.h"
#include "api/websocketserver.h"
#include "api/wsdevicehandler.h"
#include "api/wshandler.h"
#include "bridge/corvanecontroller.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"
#include "wstestclient.h"

using corvane::WebSocketServer;
using ostratest::RawWsClient;
using ostratest::WsTestClient;

namespace {

QtMessageHandler previousHandler = nullptr;
QStringList firewallLines;

void collectFirewallLines(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("firewall")))
        firewallLines.append(message);
    if (previousHandler)
        previousHandler(type, context, message);
}

// Answers "get_echo" with its data and pushes on request.
class EchoHandler : public corvane::WsHandler
{
public:
    explicit EchoHandler(QObject *parent) : WsHandler(nullptr, parent) {}
    QStringList supportedEvents() const override { return {QStringLiteral("get_echo")}; }
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override
    {
        return {{QStringLiteral("event"), event}, {QStringLiteral("data"), data}};
    }
    void push(const QString &event, const QJsonObject &data) { emit pushEvent(event, data); }
};

QJsonObject parsed(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

// A listening server on a free port with a clock the test moves by hand.
struct ServerRig
{
    ServerRig()
    {
        server.setClock([this] { return clock; });
        echo = new EchoHandler(&server);
        server.registerHandler(echo);
        started = server.start(0);
    }

    // A tick, as the 2000 ms timer would run it, at clock time `at`.
    void tickAt(qint64 at)
    {
        clock = at;
        QMetaObject::invokeMethod(&server, "onHeartbeatTick", Qt::DirectConnection);
    }

    qint64 clock = 0;
    WebSocketServer server{nullptr};
    EchoHandler *echo = nullptr;
    bool started = false;
};

} // namespace

class TestWebSocketServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The responder the server starts stays on the loopback interface.
        corvane::MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
        previousHandler = qInstallMessageHandler(collectFirewallLines);
    }

    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    // Runs first: the firewall check happens once per process, whatever later starts do.
    void firewallCheckOnce()
    {
        WebSocketServer server(nullptr);
        QVERIFY(server.start(0));
        QVERIFY(server.start(0)); // already listening
        server.stop();
        QVERIFY(server.start(0));
        WebSocketServer second(nullptr);
        QVERIFY(second.start(0));
        QCOMPARE(firewallLines.size(), 1);
        QVERIFY(firewallLines.first().contains(QLatin1String("not checked")));
    }

    void envelope_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QJsonObject>("reply"); // empty: sent as binary, gets none
        QJsonParseError noError{};
        QJsonParseError brace{};
        QJsonDocument::fromJson("{", &brace);
        const QString invalid = QStringLiteral("Invalid JSON: ");
        QTest::newRow("ping with data") << R"({"event":"ping","data":{"x":1}})" << parsed(R"({"event":"pong"})");
        QTest::newRow("array") << "[1]"
                               << QJsonObject{{"event", "error"}, {"message", invalid + noError.errorString()}};
        QTest::newRow("lone brace") << "{"
                                    << QJsonObject{{"event", "error"}, {"message", invalid + brace.errorString()}};
        QTest::newRow("no event") << R"({"data":{}})"
                                  << parsed(R"({"event":"error","message":"Missing 'event' field"})");
        QTest::newRow("names are case-sensitive")
            << R"({"event":"PING"})" << parsed(R"({"event":"error","source":"PING","message":"Unknown event: PING"})");
        QTest::newRow("handler reply unchanged")
            << R"({"event":"get_echo","data":{"a":[1,2]}})" << parsed(R"({"event":"get_echo","data":{"a":[1,2]}})");
        QTest::newRow("binary") << R"({"event":"ping"})" << QJsonObject();
    }

    void envelope()
    {
        QFETCH(QString, text);
        QFETCH(QJsonObject, reply);
        ServerRig rig;
        QVERIFY(rig.started);
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        if (reply.isEmpty())
            client.socket->sendBinaryMessage(text.toUtf8());
        else
            client.socket->sendTextMessage(text);
        if (!reply.isEmpty())
            QCOMPARE(client.next(), reply);
        // Exactly one reply, and the connection stays open.
        QCOMPARE(client.request("ping"), parsed(R"({"event":"pong"})"));
        QVERIFY(client.pending().isEmpty());
        QCOMPARE(client.binaryReceived, 0);
    }

    void subscriptions()
    {
        ServerRig rig;
        WsTestClient subscriber;
        WsTestClient other;
        QVERIFY(subscriber.open(rig.server.serverPort()));
        QVERIFY(other.open(rig.server.serverPort()));

        // A string instead of an array: success, and nothing subscribed.
        QCOMPARE(subscriber.request("action_subscribe", {{"events", "event_gps"}}),
                 parsed(R"({"event":"action_subscribe","success":true})"));
        rig.echo->push("event_gps", {{"n", 1}});
        // Twice then once: a set, not a count.
        QVERIFY(subscriber.subscribe({"event_gps", "event_gps", "event_other"}));
        QVERIFY(subscriber.subscribe({"event_gps"}));
        subscriber.request("action_unsubscribe", {{"events", QJsonArray{"event_gps"}}});
        rig.echo->push("event_gps", {{"n", 2}});
        rig.echo->push("event_other", {{"n", 3}});
        rig.echo->push("event_oth", {{"n", 4}}); // no prefixes
        subscriber.request("ping");
        other.request("ping");
        const auto pushes = [](const WsTestClient &client) {
            QList<QJsonObject> found;
            for (const QJsonObject &m : client.received) {
                if (m.value("event").toString().startsWith("event_"))
                    found.append(m);
            }
            return found;
        };
        QCOMPARE(pushes(subscriber), QList<QJsonObject>{parsed(R"({"event":"event_other","data":{"n":3}})")});
        QVERIFY(pushes(other).isEmpty());
    }

    // A client may hold at most 256 names; the reply does not change.
    void subscriptionLimit()
    {
        ServerRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        QStringList names;
        for (int i = 0; i < 300; ++i)
            names.append(QStringLiteral("event_%1").arg(i));
        QVERIFY(client.subscribe(names));
        rig.echo->push("event_255", {});
        rig.echo->push("event_256", {});
        QCOMPARE(client.request("ping").value("event").toString(), QStringLiteral("pong"));
        QCOMPARE(client.received.size(), 3); // subscribe reply, the one push, pong
        QCOMPARE(client.received.at(1).value("event").toString(), QStringLiteral("event_255"));
    }

    // Client kinds: "raw" never answers pings, "qt" answers them by itself.
    void heartbeat_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("at7000"); // what the client sends at 7000 ms
        QTest::addColumn<QList<qint64>>("ticks");
        QTest::addColumn<bool>("dropped");
        const QList<qint64> to8001{4000, 8000, 8001};
        QTest::newRow("silent for 8000 ms: pinged") << "raw" << "" << QList<qint64>{4000, 8000} << false;
        QTest::newRow("silent for 8001 ms: dropped") << "raw" << "" << to8001 << true;
        QTest::newRow("binary is no sign of life") << "raw" << "binary" << to8001 << true;
        QTest::newRow("text is a sign of life") << "raw" << "text" << to8001 << false;
        QTest::newRow("answers pings") << "qt" << "" << QList<qint64>{4000, 8000, 12000, 16000, 20000} << false;
        QTest::newRow("a gap between ticks drops nobody") << "raw" << "" << QList<qint64>{4000, 64000} << false;
    }

    void heartbeat()
    {
        QFETCH(QString, kind);
        QFETCH(QString, at7000);
        QFETCH(QList<qint64>, ticks);
        QFETCH(bool, dropped);
        ServerRig rig;
        QSignalSpy count(&rig.server, &WebSocketServer::clientCountChanged);
        RawWsClient raw;
        WsTestClient qt;
        if (kind == "raw")
            QVERIFY(raw.open(rig.server.serverPort()));
        else
            QVERIFY(qt.open(rig.server.serverPort()));
        QTRY_COMPARE(rig.server.clientCount(), 1);
        count.clear();
        // The server's side of the connection: its pongs tell when the client has answered.
        const auto sides = rig.server.findChildren<QWebSocket *>();
        QCOMPARE(sides.size(), 1);
        QSignalSpy pongs(sides.first(), &QWebSocket::pong);
        QByteArray rawIn;
        for (qint64 at : ticks) {
            if (at > 7000 && !at7000.isEmpty()) {
                rig.clock = 7000;
                if (at7000 == "binary") {
                    raw.sendFrame(0x82, "{\"event\":\"ping\"}");
                    QTest::qWait(50);
                } else {
                    raw.sendText("{\"event\":\"ping\"}");
                    QTRY_VERIFY((rawIn += raw.socket.readAll()).contains("pong"));
                }
                at7000.clear();
            }
            const int answered = pongs.count();
            rig.tickAt(at);
            if (kind == "qt")
                QTRY_COMPARE(pongs.count(), answered + 1);
            else
                QTest::qWait(30); // a raw client's ping arrives unanswered
            rawIn += raw.socket.readAll();
        }
        QTest::qWait(50);
        QCOMPARE(rig.server.clientCount(), dropped ? 0 : 1);
        QCOMPARE(count.count(), dropped ? 1 : 0);
        if (kind == "raw" && !dropped) {
            rawIn += raw.socket.readAll();
            QVERIFY(rawIn.contains(QByteArray("\x89\x00", 2))); // the empty ping
        }
        if (dropped)
            QTRY_VERIFY(!raw.isConnected());
    }

    void tooLargeMessageClosesOnlyItsClient()
    {
        ServerRig rig;
        WsTestClient big;
        WsTestClient other;
        QVERIFY(big.open(rig.server.serverPort()));
        QVERIFY(other.open(rig.server.serverPort()));
        QSignalSpy closed(big.socket.get(), &QWebSocket::disconnected);
        big.socket->sendTextMessage(QString(2 * 1024 * 1024, QLatin1Char('x')));
        QVERIFY(closed.wait(10000));
        QCOMPARE(int(big.socket->closeCode()), int(QWebSocketProtocol::CloseCodeTooMuchData));
        QTRY_COMPARE(rig.server.clientCount(), 1);
        QCOMPARE(other.request("ping"), parsed(R"({"event":"pong"})"));
    }

    void clientLimit()
    {
        ServerRig rig;
        std::vector<std::unique_ptr<WsTestClient>> clients;
        for (int i = 0; i < WebSocketServer::MaxClients; ++i) {
            clients.push_back(std::make_unique<WsTestClient>());
            QVERIFY(clients.back()->open(rig.server.serverPort()));
        }
        QTRY_COMPARE(rig.server.clientCount(), WebSocketServer::MaxClients);
        // Read off the wire: Qt's own client reports codes from 1012 on as a protocol error.
        RawWsClient extra;
        QVERIFY(extra.open(rig.server.serverPort()));
        QTRY_VERIFY(extra.readAll().size() >= 4);
        const QByteArray closeFrame = extra.readAll();
        QCOMPARE(quint8(closeFrame.at(0)), quint8(0x88));
        QCOMPARE((quint8(closeFrame.at(2)) << 8) | quint8(closeFrame.at(3)), WebSocketServer::CloseCodeTryAgainLater);
        QCOMPARE(rig.server.clientCount(), WebSocketServer::MaxClients);
    }

    void stalledSubscriberIsDropped()
    {
        ServerRig rig;
        QSignalSpy count(&rig.server, &WebSocketServer::clientCountChanged);
        RawWsClient stalled;
        WsTestClient reader;
        QVERIFY(stalled.open(rig.server.serverPort()));
        QVERIFY(reader.open(rig.server.serverPort()));
        stalled.sendText(R"({"event":"action_subscribe","data":{"events":["event_frame_sent"]}})");
        QVERIFY(reader.subscribe({"event_frame_sent"}));
        QTRY_VERIFY(stalled.socket.bytesAvailable() > 0); // its subscribe reply
        stalled.stopReading();
        QTRY_COMPARE(rig.server.clientCount(), 2);
        count.clear();
        const QJsonObject bulk{{"pad", QString(32 * 1024, QLatin1Char('p'))}};
        int pushes = 0;
        while (rig.server.clientCount() == 2 && pushes < 2000) {
            rig.echo->push("event_frame_sent", bulk);
            ++pushes;
            QTest::qWait(1);
        }
        QCOMPARE(count.count(), 1);
        rig.echo->push("event_frame_sent", {{"frameNumber", 1}});
        QTRY_VERIFY(!reader.received.isEmpty()
                    && reader.received.last() == parsed(R"({"event":"event_frame_sent","data":{"frameNumber":1}})"));
        QVERIFY(reader.isConnected());
    }

    // A connect request waits between attempts on a busy port; the requesting client leaves
    // meanwhile. It gets no reply and nothing breaks.
    void clientGoneDuringRequest()
    {
        ServerRig rig;
        corvane::CorvaneController controller;
        rig.server.registerHandler(new corvane::WsDeviceHandler(&controller, &rig.server));
        ostratest::PtyDevice pty;
        QSerialPort holder(pty.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        auto leaving = std::make_unique<WsTestClient>();
        WsTestClient staying;
        QVERIFY(leaving->open(rig.server.serverPort()));
        QVERIFY(staying.open(rig.server.serverPort()));
        QTimer::singleShot(300, [&] { leaving.reset(); });
        QTimer::singleShot(900, [&] { staying.send({{"event", "ping"}}); });
        QTimer::singleShot(1200, [&] { holder.close(); });
        leaving->send({{"event", "action_connect_receiver"}, {"data", QJsonObject{{"port", pty.slavePath()}}}});
        QTRY_COMPARE_WITH_TIMEOUT(controller.isReceiverConnected(), true, 15000);
        QCOMPARE(rig.server.clientCount(), 1);
        QCOMPARE(staying.next(), parsed(R"({"event":"pong"})"));
        QCOMPARE(staying.request("get_receiver_status").value("data").toObject().value("connected"), QJsonValue(true));
    }

    // The program's set of handlers, registered as the main window does: each request goes to
    // the handler that lists it.
    void programHandlers()
    {
        corvane::CorvaneController controller;
        WebSocketServer server(&controller);
        corvane::registerApiHandlers(&server, &controller);
        QVERIFY(server.start(0));
        WsTestClient client;
        QVERIFY(client.open(server.serverPort()));
        QCOMPARE(client.request("get_app_mode"), parsed(R"({"event":"get_app_mode","data":{"mode":"pc"}})"));
        QCOMPARE(client.request("get_frame_count"), parsed(R"({"event":"get_frame_count","data":{"frameCount":0}})"));
    }

    void stopClosesClients()
    {
        ServerRig rig;
        WsTestClient client;
        QVERIFY(client.open(rig.server.serverPort()));
        QTRY_COMPARE(rig.server.clientCount(), 1);
        QSignalSpy count(&rig.server, &WebSocketServer::clientCountChanged);
        QSignalSpy closed(client.socket.get(), &QWebSocket::disconnected);
        rig.server.stop();
        QCOMPARE(count.count(), 1);
        QCOMPARE(count.first().first().toInt(), 0);
        QVERIFY(closed.wait(5000));
        QCOMPARE(int(client.socket->closeCode()), int(QWebSocketProtocol::CloseCodeNormal));
        // The registry survives a stop.
        QVERIFY(rig.server.start(0));
        WsTestClient again;
        QVERIFY(again.open(rig.server.serverPort()));
        QCOMPARE(again.request("get_echo").value("event").toString(), QStringLiteral("get_echo"));
    }
};

OSTRA_TEST_MAIN_CORE(TestWebSocketServer)
#include "tst_websocketserver.moc"
