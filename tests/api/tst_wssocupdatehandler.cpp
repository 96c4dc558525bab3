#include "api/wssocupdatehandler.h"

#include "apirig.h"
#include "support/firmwarefixtures.h"
#include "support/testenvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <vector>

using corvane::WsSocUpdateHandler;

using ostratest::TimerGate;

namespace {

constexpr int Patience = 10000;

} // namespace

class TestWsSocUpdateHandler : public QObject
{
    Q_OBJECT

    QTemporaryDir m_bin;
    QByteArray m_path;
    std::unique_ptr<ostratest::ApiRig> m_api;
    WsSocUpdateHandler *m_handler = nullptr;
    TimerGate m_gate;

    // What the fake python3 prints for a command word; `sleepSeconds` first when given.
    void can(const char *command, const QByteArray &output, const QByteArray &sleepSeconds = QByteArray())
    {
        QFile out(m_bin.filePath(QLatin1String(command) + ".out"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(output);
        out.close();
        QFile::remove(m_bin.filePath(QLatin1String(command) + ".sleep"));
        if (!sleepSeconds.isEmpty()) {
            QFile sleep(m_bin.filePath(QLatin1String(command) + ".sleep"));
            QVERIFY(sleep.open(QIODevice::WriteOnly));
            sleep.write(sleepSeconds);
        }
    }

    QStringList calls() const
    {
        QFile log(m_bin.filePath("args.log"));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QTimer *statusTimer() { return m_handler->findChild<QTimer *>("statusTimer"); }

    // The script for this command word runs until release() is called.
    void hold(const char *command)
    {
        QFile file(m_bin.filePath(QLatin1String(command) + ".hold"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void release(const char *command) { QVERIFY(QFile::remove(m_bin.filePath(QLatin1String(command) + ".hold"))); }

    QJsonObject startUpdate()
    {
        can("start", R"({"ok": true, "target_version": "2.0.0"})");
        return m_api->request("soc_update_start");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bin.isValid());
        QDir(m_bin.path()).mkdir("bin");
        QFile fake(m_bin.filePath("bin/python3"));
        QVERIFY(fake.open(QIODevice::WriteOnly));
        const QByteArray dir = m_bin.path().toUtf8();
        fake.write("#!/bin/sh\necho \"$@\" >> '" + dir + "/args.log'\n"
                   "[ -f '" + dir + "/'\"$2\".sleep ] && sleep \"$(cat '" + dir + "/'\"$2\".sleep)\"\n"
                   "while [ -f '" + dir + "/'\"$2\".hold ]; do sleep 0.05; done\n"
                   "[ -f '" + dir + "/'\"$2\".out ] && cat '" + dir + "/'\"$2\".out\n"
                   "exit 0\n");
        fake.close();
        QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_path = qgetenv("PATH");
        qputenv("PATH", m_bin.filePath("bin").toUtf8() + ':' + m_path);
        QDir(m_bin.path()).mkdir("script");
        QFile script(m_bin.filePath("script/updater.py"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        WsSocUpdateHandler::setScriptPath(script.fileName());
    }

    void cleanupTestCase()
    {
        qputenv("PATH", m_path);
        WsSocUpdateHandler::setScriptPath(QString());
    }

    void init()
    {
        for (const QString &name : QDir(m_bin.path()).entryList(QDir::Files))
            QFile::remove(m_bin.filePath(name));
        m_api = std::make_unique<ostratest::ApiRig>();
        m_handler = m_api->add<WsSocUpdateHandler>();
        statusTimer()->installEventFilter(&m_gate);
        QVERIFY(m_api->start());
    }

    void cleanup() { m_api.reset(); }

    void replies_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QJsonObject>("reply");
        QTest::newRow("check ok") << "soc_update_check"
            << QByteArray(R"(  {"ok": true, "current_version": "1.0.0", "latest_version": "1.1.0", "update_available": true, "notes": "Faster"})" "\n")
            << json(R"({"event":"soc_update_check","success":true,"currentVersion":"1.0.0","latestVersion":"1.1.0","updateAvailable":true,"notes":"Faster"})");
        QTest::newRow("check failed") << "soc_update_check" << QByteArray(R"({"ok": false, "error": "No network"})")
            << json(R"({"event":"soc_update_check","success":false,"message":"No network"})");
        QTest::newRow("check error not a string") << "soc_update_check" << QByteArray(R"({"error": 5})")
            << json(R"({"event":"soc_update_check","success":false,"message":"Could not check for updates"})");
        QTest::newRow("array") << "soc_update_check" << QByteArray("[1, 2]")
            << json(R"({"event":"soc_update_check","success":false,"message":"Unexpected updater response"})");
        QTest::newRow("start failed, message") << "soc_update_start" << QByteArray(R"({"ok": false, "message": "Busy", "error": "E"})")
            << json(R"({"event":"soc_update_start","success":false,"message":"Busy"})");
        QTest::newRow("start failed, bare") << "soc_update_start" << QByteArray(R"({"ok": false})")
            << json(R"({"event":"soc_update_start","success":false,"message":"Could not start the update"})");
        QTest::newRow("cancel") << "soc_update_cancel" << QByteArray(R"({"ok": true, "message": "Cancelling"})")
            << json(R"({"event":"soc_update_cancel","success":true,"message":"Cancelling"})");
        QTest::newRow("reboot, bare") << "soc_update_reboot" << QByteArray("{}")
            << json(R"({"event":"soc_update_reboot","success":false,"message":""})");
    }

    void replies()
    {
        QFETCH(QString, event);
        QFETCH(QByteArray, output);
        QFETCH(QJsonObject, reply);
        const QString command = event.mid(QStringLiteral("soc_update_").size());
        can(command.toLatin1().constData(), output);
        QCOMPARE(m_api->request(event), reply);
        QCOMPARE(calls(), QStringList({ QStringLiteral("%1 %2").arg(WsSocUpdateHandler::scriptPath(), command) }));
    }

    void pollsFollowTheUpdate()
    {
        QVERIFY(m_api->client.subscribe({ "event_soc_update_progress" }));
        QCOMPARE(startUpdate(), json(R"({"event":"soc_update_start","success":true,"latestVersion":"2.0.0"})"));
        // A second start is refused without running the script.
        QCOMPARE(m_api->request("soc_update_start"),
                 json(R"({"event":"soc_update_start","success":false,"message":"An update is already in progress"})"));
        QCOMPARE(calls().filter(" start").size(), 1);

        can("status", R"({"state": "downloading", "percent": 42})");
        QVERIFY(QMetaObject::invokeMethod(m_handler, "onStatusTimer"));
        QCOMPARE(m_api->client.next(Patience),
                 json(R"({"event":"event_soc_update_progress","data":{"state":"downloading","progress":42,"message":""}})"));

        // An error reply is pushed as "idle" and polling goes on.
        can("status", "[]");
        QVERIFY(QMetaObject::invokeMethod(m_handler, "onStatusTimer"));
        QCOMPARE(m_api->client.next(Patience),
                 json(R"({"event":"event_soc_update_progress","data":{"state":"idle","progress":0,"message":""}})"));
        QVERIFY(statusTimer()->isActive());

        can("status", R"({"state": "success", "percent": 100, "message": "Installed", "target_version": "2.0.0"})");
        QVERIFY(QMetaObject::invokeMethod(m_handler, "onStatusTimer"));
        QCOMPARE(m_api->client.next(Patience),
                 json(R"({"event":"event_soc_update_progress","data":{"state":"success","progress":100,"message":"Installed","latestVersion":"2.0.0"}})"));
        QVERIFY(!statusTimer()->isActive());
        QCOMPARE(startUpdate().value("success").toBool(), true);
    }

    void pollLimit()
    {
        QVERIFY(m_api->client.subscribe({ "event_soc_update_progress" }));
        startUpdate();
        can("status", R"({"state": "installing", "percent": 60})");
        QSignalSpy pushes(m_handler, &WsSocUpdateHandler::pushEvent);
        for (int poll = 1; poll <= WsSocUpdateHandler::MaxPolls; ++poll) {
            QVERIFY(QMetaObject::invokeMethod(m_handler, "onStatusTimer"));
            QVERIFY(pushes.wait(Patience));
        }
        QVERIFY(QMetaObject::invokeMethod(m_handler, "onStatusTimer"));
        QTRY_COMPARE_WITH_TIMEOUT(pushes.count(), 302, Patience);
        QCOMPARE(pushes.last().at(1).toJsonObject(),
                 json(R"({"state":"failed","message":"The update timed out","progress":0})"));
        QVERIFY(!statusTimer()->isActive());
        QCOMPARE(calls().filter(" status").size(), 301);
    }

    // Without python3, or without the script (every desktop), no request runs anything useful.
    void noPython_data()
    {
        QTest::addColumn<bool>("python");
        QTest::addColumn<QString>("event");
        QTest::newRow("no python3") << false << "soc_update_check";
        QTest::newRow("no script, check") << true << "soc_update_check";
        QTest::newRow("no script, start") << true << "soc_update_start";
        QTest::newRow("no script, cancel") << true << "soc_update_cancel";
        QTest::newRow("no script, reboot") << true << "soc_update_reboot";
    }

    void noPython()
    {
        QFETCH(bool, python);
        QFETCH(QString, event);
        const QByteArray path = qgetenv("PATH");
        QTemporaryDir empty;
        qputenv("PATH", python ? path : empty.path().toUtf8());
        const QString script = WsSocUpdateHandler::scriptPath();
        if (python)
            WsSocUpdateHandler::setScriptPath(empty.filePath("updater.py"));
        const QJsonObject reply = m_api->request(event);
        qputenv("PATH", path);
        WsSocUpdateHandler::setScriptPath(script);
        QCOMPARE(reply, QJsonObject({ { "event", event }, { "success", false },
                                      { "message", "Updater is not available on this device" } }));
        QVERIFY(calls().isEmpty());
    }

    // The status poll runs beside the GUI thread's timers, not in their way.
    void slowPollLeavesTheGuiThreadRunning()
    {
        startUpdate();
        can("status", R"({"state": "installing"})", "0.5");
        int ticks = 0;
        QTimer ten;
        connect(&ten, &QTimer::timeout, [&ticks] { ++ticks; });
        ten.start(10);
        QSignalSpy pushes(m_handler, &WsSocUpdateHandler::pushEvent);
        QVERIFY(QMetaObject::invokeMethod(m_handler, "onStatusTimer"));
        const int ticksAtStart = ticks;
        // A poll while one is under way does not run a second script.
        QVERIFY(QMetaObject::invokeMethod(m_handler, "onStatusTimer"));
        QTRY_COMPARE_WITH_TIMEOUT(pushes.count(), 1, Patience);
        QVERIFY2(ticks - ticksAtStart >= 3, qPrintable(QString::number(ticks - ticksAtStart)));
        QCOMPARE(calls().filter(" status").size(), 1);
    }

    // The script runs beside the rest of the program: another client is answered meanwhile,
    // and the asking client's next request after the script's reply.
    void scriptRunsInTheBackground_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QJsonObject>("reply");
        QTest::newRow("check") << "soc_update_check" << QByteArray(R"({"ok": false, "error": "No network"})")
            << json(R"({"event":"soc_update_check","success":false,"message":"No network"})");
        QTest::newRow("start") << "soc_update_start" << QByteArray(R"({"ok": true, "target_version": "2.0.0"})")
            << json(R"({"event":"soc_update_start","success":true,"latestVersion":"2.0.0"})");
        QTest::newRow("reboot") << "soc_update_reboot" << QByteArray(R"({"ok": true, "message": "Rebooting"})")
            << json(R"({"event":"soc_update_reboot","success":true,"message":"Rebooting"})");
    }

    void scriptRunsInTheBackground()
    {
        QFETCH(QString, event);
        QFETCH(QByteArray, output);
        QFETCH(QJsonObject, reply);
        const QByteArray command = event.mid(QStringLiteral("soc_update_").size()).toLatin1();
        can(command.constData(), output);
        hold(command.constData());
        ostratest::WsTestClient other;
        QVERIFY(other.open(m_api->server.serverPort()));
        m_api->client.send({ { "event", event } });
        m_api->client.send({ { "event", "ping" } });
        QTRY_COMPARE(calls().size(), 1);
        QCOMPARE(other.request("ping"), json(R"({"event":"pong"})"));
        // A second start while the first one's script runs is refused without another run.
        if (event == "soc_update_start") {
            QCOMPARE(other.request("soc_update_start"),
                     json(R"({"event":"soc_update_start","success":false,"message":"An update is already in progress"})"));
        }
        QVERIFY(m_api->client.pending().isEmpty());
        release(command.constData());
        QCOMPARE(m_api->client.next(Patience), reply);
        QCOMPARE(m_api->client.next(), json(R"({"event":"pong"})"));
        QCOMPARE(calls().size(), 1);
    }

    // Checks, cancels and reboots asked for while one of their kind runs wait for it and get its
    // answer; later ones run again.
    void requestsShareARun_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<bool>("together");
        QTest::addColumn<int>("runs");
        const QByteArray noNetwork = R"({"ok": false, "error": "No network"})";
        const QJsonObject checkReply = json(R"({"event":"soc_update_check","success":false,"message":"No network"})");
        QTest::newRow("at once") << "soc_update_check" << noNetwork << checkReply << true << 1;
        QTest::newRow("one after another") << "soc_update_check" << noNetwork << checkReply << false << 3;
        QTest::newRow("cancels at once") << "soc_update_cancel" << QByteArray(R"({"ok": true, "message": "Cancelling"})")
            << json(R"({"event":"soc_update_cancel","success":true,"message":"Cancelling"})") << true << 1;
        QTest::newRow("reboots at once") << "soc_update_reboot" << QByteArray(R"({"ok": true, "message": "Rebooting"})")
            << json(R"({"event":"soc_update_reboot","success":true,"message":"Rebooting"})") << true << 1;
    }

    void requestsShareARun()
    {
        QFETCH(QString, event);
        QFETCH(QByteArray, output);
        QFETCH(QJsonObject, reply);
        QFETCH(bool, together);
        QFETCH(int, runs);
        const QByteArray command = event.mid(QStringLiteral("soc_update_").size()).toLatin1();
        can(command.constData(), output);
        if (together)
            hold(command.constData());
        std::vector<std::unique_ptr<ostratest::WsTestClient>> phones;
        for (int i = 0; i < 3; ++i) {
            phones.push_back(std::make_unique<ostratest::WsTestClient>());
            QVERIFY(phones.back()->open(m_api->server.serverPort()));
            phones.back()->send({ { "event", event } });
            if (!together)
                QCOMPARE(phones.back()->next(Patience), reply);
        }
        if (together) {
            QTRY_COMPARE(calls().size(), 1);
            QTest::qWait(100); // the other requests come in meanwhile
            release(command.constData());
            for (const auto &phone : phones)
                QCOMPARE(phone->next(Patience), reply);
        }
        QCOMPARE(int(calls().size()), runs);
    }

    // Polls and script time-outs are counted in seconds: a coarse timer would move them by 5 %.
    void statusPollIsPrecise() { QCOMPARE(statusTimer()->timerType(), Qt::PreciseTimer); }

    // Asked for an answer at once, the handler never hands back an empty one and runs no script.
    void answersAtOnce_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("updating");
        QTest::addColumn<QJsonObject>("reply");
        QTest::newRow("unknown event") << "soc_update_now" << false
            << json(R"({"event":"error","source":"soc_update_now","message":"Unhandled event in SOC update handler"})");
        QTest::newRow("check") << "soc_update_check" << false
            << json(R"({"event":"soc_update_check","success":false,"message":"The updater answers this request when it has run"})");
        QTest::newRow("second start") << "soc_update_start" << true
            << json(R"({"event":"soc_update_start","success":false,"message":"An update is already in progress"})");
    }

    void answersAtOnce()
    {
        QFETCH(QString, event);
        QFETCH(bool, updating);
        QFETCH(QJsonObject, reply);
        if (updating)
            QCOMPARE(startUpdate().value("success").toBool(), true);
        const int runs = int(calls().size());
        QCOMPARE(m_handler->handleEvent(event, {}), reply);
        QCOMPARE(int(calls().size()), runs);
    }

    void refusedWhileTransmitting()
    {
        QVERIFY(m_api->rig.startCar());
        for (const char *event : { "soc_update_check", "soc_update_start", "soc_update_cancel", "soc_update_reboot" }) {
            QCOMPARE(m_api->request(QLatin1String(event)),
                     QJsonObject({ { "event", event }, { "success", false },
                                   { "message", "Stop transmission before updating the system software" } }));
        }
        QVERIFY(calls().isEmpty());
    }
};

OSTRA_TEST_MAIN_CORE(TestWsSocUpdateHandler)
#include "tst_wssocupdatehandler.moc"
