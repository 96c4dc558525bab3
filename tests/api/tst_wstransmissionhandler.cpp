#include <QCoreApplication>
#include <QJsonArray>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "api/wsaxishandler.h"
#include "api/wsdevicehandler.h"
#include "api/wsprofilehandler.h"
#include "api/wstransmissionhandler.h"
#include "apirig.h"
#include "bridge/devicesecurity.h"
#include "bridge/elrsparametermanager.h"
#include "platform/serial/serialportlister.h"
#include "profiles/profilemanager.h"
#include "support/heldrenames.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"

using corvane::CorvaneController;
using corvane::WsTransmissionHandler;
using ostratest::ApiRig;
using ostratest::SimulatedTransmitter;

namespace {

// The one port the port list offers, held open by another: a connect to it waits between attempts
// until the holder lets go.
struct BusyPort
{
    BusyPort() { corvane::SerialPortLister::setFixedPorts({{pty.slavePath(), QStringLiteral("Busy"), QString()}}); }
    ~BusyPort() { corvane::SerialPortLister::useSystemPorts(); }
    ostratest::PtyDevice pty;
    QSerialPort holder{pty.slavePath()};
};

} // namespace

class TestWsTransmissionHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsTransmissionHandler>(&handler))); }
    void cleanup() { api.reset(); }

    void setChannel_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message"); // empty: accepted
        const QString index = QStringLiteral("Invalid channel index. Must be 0-15.");
        const QString value = QStringLiteral("Invalid channel value. Must be 0-2047.");
        QTest::newRow("index tested first") << json(R"({"index":16,"value":5000})") << index;
        QTest::newRow("no value") << json(R"({"index":3})") << value;
        QTest::newRow("top value") << json(R"({"index":3,"value":2047})") << QString();
        QTest::newRow("value past the top") << json(R"({"index":3,"value":2048})") << value;
        QTest::newRow("index with a fraction") << json(R"({"index":2.5,"value":0})") << index;
        QTest::newRow("huge index") << json(R"({"index":4294967299,"value":0})") << index;
    }

    void setChannel()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        const int before = api->rig.ch(3);
        QJsonObject expected{{"event", "set_channel"}, {"success", message.isEmpty()}};
        if (!message.isEmpty())
            expected.insert("message", message);
        QCOMPARE(api->request("set_channel", data), expected);
        QCOMPARE(api->request("get_channels").value("data").toObject().value("channels").toArray().at(3).toInt(),
                 message.isEmpty() ? 2047 : before);
    }

    void start_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("ready"); // readyToTransmit
        QTest::addColumn<QJsonObject>("reply"); // %1: the transmitter's port
        QTest::newRow("nothing connected")
            << "none" << false
            << json(R"({"event":"action_start","success":false,"message":"Not ready to transmit. Ensure serial port and wheel base are connected."})");
        QTest::newRow("throttle pressed")
            << "throttle" << true
            << json(R"({"event":"action_start","success":false,"message":"Release the throttle pedal before starting transmission."})");
        QTest::newRow("transmitter not authorised")
            << "stranger" << true
            << json(R"({"event":"action_start","success":false,"message":"Transmitter device is not authorized. Cannot start transmission."})");
        QTest::newRow("transmitter yet to give its ID")
            << "waiting" << false
            << json(R"({"event":"action_start","success":false,"message":"%1 is open. Waiting for the transmitter to answer\u2026"})");
        QTest::newRow("starts") << "car" << true << json(R"({"event":"action_start","success":true})");
        QTest::newRow("already running") << "running" << true << json(R"({"event":"action_start","success":true,"message":"Already running"})");
    }

    void start()
    {
        QFETCH(QString, setup);
        QFETCH(bool, ready);
        QFETCH(QJsonObject, reply);
        CorvaneController *c = api->rig.controller.get();
        if (setup == "stranger") {
            c->deviceSecurity()->setProvisioningMode(false);
            api->rig.tx.setDeviceId(QStringLiteral("STRANGER"));
        }
        api->rig.tx.setAnswersId(setup != "waiting");
        if (setup != "none")
            QVERIFY(api->rig.connectCar());
        if (setup == "stranger")
            QVERIFY(api->rig.tx.waitFor([&] { return api->rig.tx.idQueries() >= 1 && !c->isTransmitterAuthorized(); }));
        if (setup == "throttle") {
            api->rig.pedals->setAxis(1, 1.0f);
            api->rig.pollAll();
        }
        if (setup == "running")
            QVERIFY(api->rig.start());
        QCOMPARE(api->request("get_transmission_status").value("data").toObject().value("readyToTransmit").toBool(), ready);
        QVERIFY(api->client.subscribe({"event_running_changed"}));
        api->client.send({{"event", "action_start"}});
        if (setup == "car")
            QCOMPARE(api->client.next(), json(R"({"event":"event_running_changed","data":{"running":true}})"));
        if (reply.contains("message"))
            reply["message"] = reply.value("message").toString().replace("%1", api->rig.tx.portName());
        QCOMPARE(api->client.next(), reply);
        QCOMPARE(c->isRunning(), reply.value("success").toBool());
    }

    void framesArePushed()
    {
        QVERIFY(api->rig.startCar());
        QVERIFY(api->client.subscribe({"event_frame_sent"}));
        const uint first = api->rig.controller->frameCount();
        api->rig.tick(3);
        for (uint n = first + 1; n <= first + 3; ++n)
            QCOMPARE(api->client.next(), (QJsonObject{{"event", "event_frame_sent"}, {"data", QJsonObject{{"frameNumber", qint64(n)}}}}));
        QCOMPARE(api->request("get_frame_count").value("data").toObject().value("frameCount").toInteger(), qint64(first + 3));
        // Config mode cannot be entered while transmitting.
        QCOMPARE(api->request("action_elrs_start_config"),
                 json(R"({"event":"action_elrs_start_config","success":false,"message":"Could not enter config mode. Stop transmission and ensure the bridge is connected."})"));
    }

    // Entering config mode pushes the state before the reply; discovery follows when the
    // timer fires, and not after config mode was left.
    void configModeAndDiscovery()
    {
        api->rig.tx.setFields(SimulatedTransmitter::typicalFields());
        QVERIFY(api->rig.openTransmitter());
        QVERIFY(api->client.subscribe({"event_elrs_state", "event_elrs_params"}));

        api->client.send({{"event", "action_elrs_start_config"}});
        const QJsonObject state = api->client.next();
        QCOMPARE(state.value("event").toString(), QStringLiteral("event_elrs_state"));
        QCOMPARE(state.value("data").toObject().value("configMode").toBool(), true);
        QCOMPARE(api->client.next(), json(R"({"event":"action_elrs_start_config","success":true})"));
        QVERIFY(api->rig.tx.waitFor([&] { return api->rig.tx.configMode(); }));
        QCOMPARE(api->rig.tx.lineCount("WALKRF"), 0);
        auto *discoveryTimer = handler->findChild<QTimer *>();
        QVERIFY(discoveryTimer && discoveryTimer->isActive());

        QMetaObject::invokeMethod(handler, "startDiscoveryIfIdle");
        QVERIFY(api->rig.tx.waitForLine("WALKRF"));
        QVERIFY(QTest::qWaitFor([&] {
            for (const QJsonObject &m : api->client.pending()) {
                if (m.value("event") == "event_elrs_params")
                    return true;
            }
            return false;
        }, 10000));
        api->client.skipAll();
        QVERIFY(!api->request("get_elrs_params").value("data").toObject().value("params").toArray().isEmpty());

        QVERIFY(api->request("action_elrs_start_config").value("success").toBool()); // already on: timer again
        QVERIFY(discoveryTimer->isActive());
        QCOMPARE(api->request("action_elrs_stop_config").value("success").toBool(), true);
        QVERIFY(!discoveryTimer->isActive());
        api->rig.tx.clearRecords();
        QMetaObject::invokeMethod(handler, "startDiscoveryIfIdle");
        api->rig.tx.waitFor([] { return false; }, 200);
        QCOMPARE(api->rig.tx.lineCount("WALKRF"), 0);
    }

    void setElrsParam_data()
    {
        QTest::addColumn<bool>("configMode");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<int>("fieldWritten"); // -1: nothing written
        const QString rejected = QStringLiteral("Write rejected (unknown param, value out of range, or not ready).");
        QTest::newRow("not in config mode") << false << QJsonObject{} << "Not in config mode." << -1;
        QTest::newRow("no value index") << true << json(R"({"id":5})") << "Missing or invalid valueIndex." << -1;
        QTest::newRow("neither id nor name") << true << json(R"({"valueIndex":1})") << "Missing param id/name." << -1;
        QTest::newRow("field before discovery") << true << json(R"({"id":5,"valueIndex":1})") << QString() << 5;
        QTest::newRow("id above 255") << true << json(R"({"id":261,"valueIndex":1})") << rejected << -1;
        QTest::newRow("value index above 255") << true << json(R"({"id":5,"valueIndex":256})") << rejected << -1;
    }

    void setElrsParam()
    {
        QFETCH(bool, configMode);
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QFETCH(int, fieldWritten);
        QVERIFY(api->rig.openTransmitter());
        if (configMode) {
            QVERIFY(api->request("action_elrs_start_config").value("success").toBool());
            QVERIFY(api->rig.tx.waitFor([&] { return api->rig.tx.configMode(); }));
        }
        QJsonObject expected{{"event", "set_elrs_param"}, {"success", message.isEmpty()}};
        if (!message.isEmpty())
            expected.insert("message", message);
        QCOMPARE(api->request("set_elrs_param", data), expected);
        if (fieldWritten >= 0) {
            QVERIFY(api->rig.tx.waitFor([&] { return !api->rig.tx.parameterWrites().isEmpty(); }));
            QCOMPARE(int(api->rig.tx.parameterWrites().first().field), fieldWritten);
        } else {
            api->rig.tx.waitFor([] { return false; }, 100);
            QVERIFY(api->rig.tx.parameterWrites().isEmpty());
        }
    }

    // Every request takes effect though a request sent before it waits for the disk: a start (or a
    // switch to a profile that starts by itself) sent between them is done before the stop, and the
    // stop holds, whoever stopped and however. A stop is applied at once, behind however much its
    // client has waiting (what passes the limit is refused) and while a connect waits for a busy
    // port. A start sent after the stop is not undone by it. Steps: "<a|b> <event> [x<times>] [long]"
    // for this client or another ("long": each too long to be read at once, slow to read), "desktop"
    // for the desktop's own Stop, "desktop start" for its Start, "desktop auto-start-off" for its switch.
    void stopBehindASlowWrite_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("stop") << QStringList{"a action_stop"};
        QTest::newRow("start, stop") << QStringList{"a action_start", "a action_stop"};
        QTest::newRow("auto-start on, stop") << QStringList{"a set_auto_start", "a action_stop"};
        QTest::newRow("start, another client's stop") << QStringList{"a action_start", "b action_stop"};
        QTest::newRow("start, the desktop's stop") << QStringList{"a action_start", "desktop"};
        QTest::newRow("start, another client's safety stop") << QStringList{"a action_start", "b set_axis_settings"};
        QTest::newRow("auto-start profile, another client's stop") << QStringList{"a set_active_profile", "b action_stop"};
        QTest::newRow("auto-start profile, the desktop's stop") << QStringList{"a set_active_profile", "desktop"};
        QTest::newRow("auto-start on, the desktop's off, stop")
            << QStringList{"a set_auto_start", "desktop auto-start-off", "a action_stop"};
        QTest::newRow("600 pipelined, stop") << QStringList{"a set_auto_start x600", "a action_stop"};
        // Below what is let go (which floodBeforeAStop covers): a phone's library drops what it has
        // not sent yet once it has its close.
        QTest::newRow("3000 pipelined, stop") << QStringList{"a set_auto_start x3000", "a action_stop"};
        QTest::newRow("400 long pipelined, stop") << QStringList{"a set_auto_start x400 long", "a action_stop"};
        // A long stop is read after all of them, while the write still waits: they are refused, not
        // let go. (A short one may take effect with hundreds still being read, which the write,
        // done by then, no longer holds: waiting their turn, they count in full towards letting go.)
        QTest::newRow("2000 long pipelined, long stop") << QStringList{"a set_auto_start x2000 long", "a action_stop long"};
        QTest::newRow("connect to a busy port, stop") << QStringList{"a action_connect_receiver", "a action_stop"};
        QTest::newRow("connect to a busy port, another client's stop")
            << QStringList{"a action_connect_receiver", "b action_stop"};
        QTest::newRow("connect to a busy port, start, another client's stop")
            << QStringList{"a action_connect_receiver", "a action_start", "b action_stop"};
        QTest::newRow("connect to a busy port, stop, the desktop's start")
            << QStringList{"a action_connect_receiver", "a action_stop", "desktop start"};
        QTest::newRow("connect to a busy port, start, another client's stop, the desktop's start")
            << QStringList{"a action_connect_receiver", "a action_start", "b action_stop", "desktop start"};
        QTest::newRow("connect to a busy port, start, another client's stop, its start")
            << QStringList{"a action_connect_receiver", "a action_start", "b action_stop", "b action_start"};
    }

    void stopBehindASlowWrite()
    {
        QFETCH(QStringList, steps);
        api->add<corvane::WsAxisHandler>();
        api->add<corvane::WsProfileHandler>();
        api->add<corvane::WsDeviceHandler>();
        BusyPort busy;
        QSerialPort &holder = busy.holder;
        QVERIFY(holder.open(QIODevice::ReadWrite));
        corvane::ProfileManager *store = api->rig.controller->profileManager();
        const QString autoStarting = store->createProfile(QStringLiteral("Auto"));
        store->mutableProfile(autoStarting)->autoStartEnabled = true;
        // Running, so that the stop shows when it is taken, and a start done after it would too.
        QVERIFY(api->rig.startCar());
        ostratest::WsTestClient another;
        QVERIFY(another.open(api->server.serverPort()));
        const QHash<QString, QJsonObject> data{{"set_auto_start", {{"enabled", true}}},
                                               {"set_active_profile", {{"id", autoStarting}}},
                                               {"set_axis_settings", {{"wheelRotationDeg", 540}}},
                                               {"action_connect_receiver", {{"port", busy.pty.slavePath()}}}};
        QHash<QString, QStringList> sent{{"a", {"set_axis_settings"}}};
        const bool startsLast = steps.constLast().endsWith("start");
        qsizetype stepsRun = 0;
        {
            // Held until the steps are done however slow the machine (thousands of long requests
            // under a sanitizer take seconds).
            ostratest::HeldRenames held(store->activeProfileId() + ".json", 120000);
            api->client.send({{"event", "set_axis_settings"}, {"data", QJsonObject{{"decelRate", 95}}}});
            QTRY_COMPARE(held.waiting(), 1);
            // The steps run from the event loop, as a connect's wait for its port runs it. The port
            // is let go once the car stops (or starts again, the last step): a stop that waited for
            // the connect would wait for its last attempt, long after the rename's patience.
            api->server.findChild<QTimer *>(QStringLiteral("heartbeatTimer"))->stop();
            connect(api->rig.controller.get(), &corvane::CorvaneController::runningChanged, &holder, [&](bool running) {
                if (running == startsLast)
                    holder.close();
            });
            int delayMs = 0;
            for (const QString &step : steps) {
                const QString who = step.section(' ', 0, 0);
                const QString event = step.section(' ', 1, 1);
                const int times = std::max(1, step.section(" x", 1).section(' ', 0, 0).toInt());
                const bool slowToRead = step.endsWith(" long");
                // Nothing shows that a request whose reply waits was read: loopback delivers it well within this.
                delayMs += who == "a" ? 0 : 200;
                QTimer::singleShot(delayMs, this, [&, who, event, times, slowToRead] {
                    ++stepsRun;
                    if (who == "desktop" && event.isEmpty())
                        return api->rig.controller->stopTransmissionAndHold();
                    if (who == "desktop" && event == "start") {
                        // Once the stop sent before it is seen applied, however long its reading takes.
                        QTRY_VERIFY_WITH_TIMEOUT(!api->rig.controller->isRunning(), 20000);
                        return api->rig.controller->startTransmission();
                    }
                    if (who == "desktop")
                        return api->rig.controller->setAutoStartEnabled(false);
                    QJsonObject sentData = data.value(event);
                    if (slowToRead)
                        sentData.insert("padding", QJsonArray::fromVariantList(QVariantList(2100, 0)));
                    for (int i = 0; i < times; ++i) {
                        (who == "a" ? api->client : another).send({{"event", event}, {"data", sentData}});
                        sent[who] << event;
                    }
                });
            }
            QTRY_COMPARE_WITH_TIMEOUT(stepsRun, steps.size(), 60000);
            QTRY_COMPARE_WITH_TIMEOUT(api->rig.controller->isRunning(), startsLast, 60000);
            QCOMPARE(held.waiting(), 1);
        }
        for (const QString &who : QStringList{"a", "b"}) {
            for (const QString &event : sent.value(who)) {
                const QJsonObject reply = (who == "a" ? api->client : another).next();
                QCOMPARE(reply.value("event"), QJsonValue(event));
                const bool tooMany = reply.value("message") == QJsonValue("Too many requests waiting for the disk: try again shortly");
                QVERIFY2(reply.value("success").toBool() || (tooMany && event == "set_auto_start"), qPrintable(reply.value("message").toString()));
                // A reply that waited tells the state as it is when it goes.
                if (reply.contains("data"))
                    QCOMPARE(reply.value("data")["enabled"], QJsonValue(api->rig.controller->autoStartEnabled()));
            }
        }
        QCOMPARE(api->rig.controller->isRunning(), startsLast);
        QVERIFY(api->rig.tx.waitFor([&] { return api->rig.tx.stopCount() > 0; }));
        QVERIFY(startsLast || api->rig.tx.lines().lastIndexOf("START") < api->rig.tx.lines().lastIndexOf("STOP"));
    }

    // A start that reached the machine before another client's stop does not run the car after
    // it, though the server read the stop first: the last command sent was Stop.
    void stopHoldsAgainstUnreadStart_data()
    {
        QTest::addColumn<int>("ahead"); // requests sent before the start
        QTest::addColumn<bool>("inHandshake"); // sent by a new client, with its opening request
        QTest::addColumn<int>("headerLines"); // of a kilobyte each, added to that request
        QTest::newRow("one ahead") << 1 << false << 0;
        QTest::newRow("2000 ahead") << 2000 << false << 0;
        QTest::newRow("one ahead, with the handshake") << 1 << true << 0;
        QTest::newRow("one ahead, with a long handshake") << 1 << true << 40;
    }

    void stopHoldsAgainstUnreadStart()
    {
        QFETCH(int, ahead);
        QFETCH(bool, inHandshake);
        QFETCH(int, headerLines);
        QVERIFY(api->rig.startCar());
        QCOMPARE(api->request("action_stop").value("success"), QJsonValue(true));
        ostratest::WsTestClient another;
        QVERIFY(another.open(api->server.serverPort()));
        ostratest::RawWsClient opening;
        if (inHandshake) {
            QVERIFY(opening.connectFrom(QHostAddress::LocalHost, api->server.serverPort()));
            QByteArray frames;
            for (int i = 0; i < ahead; ++i)
                frames += ostratest::wsClientFrame(0x81, R"({"event":"get_channels"})");
            QByteArray headers;
            for (int line = 0; line < headerLines; ++line)
                headers += "X-Padding-" + QByteArray::number(line) + ": " + QByteArray(1000, 'p') + "\r\n";
            opening.sendRequest(headers, frames + ostratest::wsClientFrame(0x81, R"({"event":"action_start"})"));
        } else {
            for (int i = 0; i < ahead; ++i)
                api->client.send({{"event", "get_channels"}});
            api->client.send({{"event", "action_start"}});
            api->client.socket->flush();
        }
        // With the system before the server has read, or taken in, anything of either.
        another.send({{"event", "action_stop"}});
        another.socket->flush();
        QCOMPARE(another.next().value("success"), QJsonValue(true));
        QList<QJsonObject> replies;
        if (inHandshake) {
            QVERIFY(opening.answered());
            QTRY_COMPARE(opening.frames().size(), ahead + 1);
            for (const ostratest::RawWsClient::Frame &frame : opening.frames())
                replies << QJsonDocument::fromJson(frame.payload).object();
        } else {
            for (int i = 0; i <= ahead; ++i)
                replies << api->client.next();
        }
        for (int i = 0; i < ahead; ++i)
            QCOMPARE(replies.at(i).value("event"), QJsonValue("get_channels"));
        QCOMPARE(replies.at(ahead).value("success"), QJsonValue(true));
        QVERIFY(!api->rig.controller->isRunning());
    }

    // A start sent after another client's stop runs the car and says so, whatever its client sent
    // before it, however its frame was split around the stop, and however long the stop is to read.
    void startAfterAStopRuns_data()
    {
        QTest::addColumn<QByteArray>("before"); // frames its client sent before the stop
        QTest::addColumn<int>("split"); // bytes of the start sent before the stop; negative: from its end
        QTest::addColumn<int>("longAhead"); // -1: a short stop; else long requests before a long stop
        QTest::newRow("a ping before") << ostratest::wsClientFrame(0x89, "p") << 0 << -1;
        QTest::newRow("a binary message before") << ostratest::wsClientFrame(0x82, "b") << 0 << -1;
        QTest::newRow("its header before") << QByteArray() << 2 << -1;
        QTest::newRow("all but its last byte before") << QByteArray() << -1 << -1;
        QTest::newRow("after a long stop read behind long requests") << QByteArray() << 0 << 8;
    }

    void startAfterAStopRuns()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, split);
        QFETCH(int, longAhead);
        QVERIFY(api->rig.startCar());
        ostratest::RawWsClient phone;
        ostratest::RawWsClient stopper;
        QVERIFY(phone.open(api->server.serverPort()) && stopper.open(api->server.serverPort()));
        const QByteArray start = ostratest::wsClientFrame(0x81, R"({"event":"action_start"})");
        const qsizetype first = split < 0 ? start.size() + split : split;
        // With the system before the stop is read, as loopback delivers a write at once.
        phone.socket.write(before + start.left(first));
        phone.socket.flush();
        // The rest once the server has taken a pong sent behind the stop, a long one still being read
        // then, behind the long requests ahead of it.
        for (QWebSocket *taker : api->server.findChildren<QWebSocket *>()) {
            if (taker->peerPort() == stopper.socket.localPort()) {
                connect(taker, &QWebSocket::pong, &phone.socket, [&] {
                    phone.socket.write(start.mid(first));
                    phone.socket.flush();
                }, Qt::SingleShotConnection);
            }
        }
        const QByteArray padding = R"(,"data":{"padding":[0)" + QByteArray(",0").repeated(29999) + "]}";
        QByteArray frames;
        for (int i = 0; i < longAhead; ++i)
            frames += ostratest::wsClientFrame(0x81, R"({"event":"get_channels")" + padding + "}");
        frames += ostratest::wsClientFrame(0x81, R"({"event":"action_stop")" + (longAhead < 0 ? "" : padding) + "}");
        stopper.socket.write(frames + ostratest::wsClientFrame(0x8A, {}));
        stopper.socket.flush();
        // The last reply a client has, when it answers `event`.
        const auto lastReply = [](ostratest::RawWsClient &client, const char *event) {
            QJsonObject reply;
            for (const ostratest::RawWsClient::Frame &frame : client.frames())
                reply = frame.opcode == 0x1 ? QJsonDocument::fromJson(frame.payload).object() : reply;
            return reply.value("event") == QLatin1String(event) ? reply : QJsonObject();
        };
        QJsonObject reply;
        QTRY_VERIFY(!(reply = lastReply(phone, "action_start")).isEmpty());
        QCOMPARE(reply.value("success"), QJsonValue(true));
        QTRY_VERIFY(!(reply = lastReply(stopper, "action_stop")).isEmpty());
        QCOMPARE(reply.value("success"), QJsonValue(true));
        // Whatever follows it on the server's side has had its turn.
        QCOMPARE(api->request("get_channels").value("event"), QJsonValue("get_channels"));
        QVERIFY(api->rig.controller->isRunning());
    }

    // The desktop's Start, queued as another client's long stop takes effect, is no part of the
    // connect that stop overtook, though it runs as that connect begins to wait for its busy port:
    // the stop is not applied again after the connect. The 7 ms timer held, no frame sent meanwhile
    // tells of the start.
    void startWhileAnOvertakenConnectWaits()
    {
        api->add<corvane::WsDeviceHandler>();
        BusyPort busy;
        QSerialPort &holder = busy.holder;
        QVERIFY(holder.open(QIODevice::ReadWrite));
        CorvaneController *c = api->rig.controller.get();
        QVERIFY(api->rig.startCar());
        ostratest::WsTestClient another;
        QVERIFY(another.open(api->server.serverPort()));
        connect(c, &CorvaneController::runningChanged, c, [this, c] {
            QMetaObject::invokeMethod(c, [this] { QVERIFY(api->rig.start()); }, Qt::QueuedConnection);
        }, Qt::SingleShotConnection);
        connect(c, &CorvaneController::runningChanged, &holder, [&](bool running) { if (running) holder.close(); });
        // The connect reaches the machine before the stop is taken, and is taken after it, behind a
        // ping: it waits for the stop's reading.
        const QJsonArray padding = QJsonArray::fromVariantList(QVariantList(3000, 0));
        another.send({{"event", "action_stop"}, {"data", QJsonObject{{"padding", padding}}}});
        another.socket->flush();
        api->client.socket->ping();
        api->client.send({{"event", "action_connect_receiver"}, {"data", QJsonObject{{"port", busy.pty.slavePath()}}}});
        api->client.socket->flush();
        QCOMPARE(another.next().value("success"), QJsonValue(true));
        QCOMPARE(api->client.next(10000).value("success"), QJsonValue(true));
        QVERIFY(c->isRunning());
    }

    void smallRequests()
    {
        QCOMPARE(api->request("set_auto_start", {{"enabled", true}}),
                 json(R"({"event":"set_auto_start","success":true,"data":{"enabled":true}})"));
        // Only a JSON bool switches it; 1 is refused and changes nothing.
        QCOMPARE(api->request("set_auto_start", {{"enabled", 1}}),
                 refused("set_auto_start", "'enabled' must be true or false, not a number"));
        QCOMPARE(api->request("get_auto_start").value("data"), QJsonValue(json(R"({"enabled":true})")));
        QCOMPARE(api->request("set_auto_start"), json(R"({"event":"set_auto_start","success":true,"data":{"enabled":false}})"));
        QCOMPARE(api->request("action_elrs_enter_wifi", {{"target", "RX"}}),
                 json(R"({"event":"action_elrs_enter_wifi","success":false,"message":"QOR Transmitter not connected"})"));
    }

private:
    std::unique_ptr<ApiRig> api;
    WsTransmissionHandler *handler = nullptr;
};

OSTRA_TEST_MAIN_CORE(TestWsTransmissionHandler)
#include "tst_wstransmissionhandler.moc"
