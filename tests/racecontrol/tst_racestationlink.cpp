#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>

#include "racecontrol/racestationlink.h"
#include "support/fakeracestation.h"
#include "support/testenvironment.h"

using corvane::RaceStationLink;
using ostratest::FakeRaceStation;

namespace {

struct Outcome
{
    int calls = 0;
    bool ok = false;
    QJsonObject data;
    QString message;
};

RaceStationLink::Callback recorder(Outcome &outcome)
{
    return [&outcome](bool ok, const QJsonObject &data, const QString &message) {
        ++outcome.calls;
        outcome.ok = ok;
        outcome.data = data;
        outcome.message = message;
    };
}

} // namespace

// The link against fake stations on 127.0.0.1 at free ports.
class TestRaceStationLink : public QObject
{
    Q_OBJECT

private:
    // A link connected to the station, which starts listening on a free port when it does not yet.
    std::unique_ptr<RaceStationLink> connectedLink(FakeRaceStation &station)
    {
        if (station.port() == 0 && !station.listen())
            return nullptr;
        auto link = std::make_unique<RaceStationLink>(RaceStationLink::urlFor("127.0.0.1", station.port()));
        QSignalSpy opened(link.get(), &RaceStationLink::opened);
        if (!opened.wait(5000))
            return nullptr;
        return link;
    }

private slots:
    void repliesMatchByNameAndOrder_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        QTest::newRow("same name") << "get_axis_settings" << R"({"event":"get_axis_settings","data":{"n":1}})" << true << R"({"n":1})";
        QTest::newRow("without get_") << "get_lounge_state" << R"({"event":"lounge_state","data":{"n":2}})" << true << R"({"n":2})";
        QTest::newRow("no data: whole reply") << "set_axis_settings" << R"({"event":"set_axis_settings","success":true})" << true
                                              << R"({"event":"set_axis_settings","success":true})";
        QTest::newRow("error") << "get_lounge_state" << R"({"event":"error","source":"get_lounge_state","message":"Unknown event: get_lounge_state"})"
                               << false << "Unknown event: get_lounge_state";
    }

    void repliesMatchByNameAndOrder()
    {
        QFETCH(QString, request);
        QFETCH(QString, reply);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        FakeRaceStation station;
        station.setSilent(true);
        auto link = connectedLink(station);
        QVERIFY(link);
        QSignalSpy pushed(link.get(), &RaceStationLink::pushed);
        Outcome first, second;
        link->send(request, {}, recorder(first));
        link->send(request, {}, recorder(second));
        QTRY_COMPARE(station.requests(request).size(), 2);
        station.sendText(reply);
        QTRY_COMPARE(first.calls, 1);
        QCOMPARE(first.ok, ok);
        if (ok)
            QCOMPARE(first.data, QJsonDocument::fromJson(expected.toUtf8()).object());
        else
            QCOMPARE(first.message, expected);
        QCOMPARE(second.calls, 0);
        station.sendText(reply);
        QTRY_COMPARE(second.calls, 1);
        // A third reply finds nothing waiting: a reply is pushed, an error is dropped.
        station.sendText(reply);
        station.sendText(R"({"event":"marker"})");
        QTRY_VERIFY(!pushed.isEmpty() && pushed.last().at(0).toString() == "marker");
        QCOMPARE(pushed.size(), ok ? 2 : 1);
        QCOMPARE(first.calls + second.calls, 2);
    }

    void requestWireFormatAndPing()
    {
        FakeRaceStation station;
        auto link = connectedLink(station);
        QVERIFY(link);
        link->send("get_lounge_state");
        link->send("set_lounge_reverse", QJsonObject{{"allowed", false}});
        QMetaObject::invokeMethod(link.get(), "onKeepAliveTick");
        QTRY_COMPARE(station.messages().size(), 3);
        QCOMPARE(station.messages(), QStringList({R"({"event":"get_lounge_state"})",
                                                  R"({"data":{"allowed":false},"event":"set_lounge_reverse"})",
                                                  R"({"event":"ping"})"}));
    }

    void notConnectedFailsAtOnce()
    {
        QTcpServer nothing;
        QVERIFY(nothing.listen(QHostAddress::LocalHost));
        const quint16 port = nothing.serverPort();
        nothing.close();
        RaceStationLink link(RaceStationLink::urlFor("127.0.0.1", port));
        QSignalSpy closed(&link, &RaceStationLink::closed);
        Outcome outcome;
        link.send("get_lounge_state", {}, recorder(outcome));
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.message, QString("Not connected"));
        // Refused: one `closed` per failed attempt, and a new attempt later.
        QVERIFY(closed.wait(5000));
        QCOMPARE(closed.size(), 1);
    }

    void requestTimeoutAnswersNoAnswer()
    {
        FakeRaceStation station;
        station.setSilent(true);
        auto link = connectedLink(station);
        QVERIFY(link);
        QSignalSpy pushed(link.get(), &RaceStationLink::pushed);
        Outcome outcome;
        link->send("get_wheel_ffb", {}, recorder(outcome));
        QMetaObject::invokeMethod(link.get(), "onRequestTimeout", Q_ARG(QString, "get_wheel_ffb"), Q_ARG(quint64, 1));
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.message, QString("No answer"));
        // The late reply finds nothing waiting and is pushed.
        station.sendText(R"({"event":"get_wheel_ffb","data":{"strength":0.5}})");
        QVERIFY(pushed.wait(3000));
        QCOMPARE(outcome.calls, 1);
    }

    void stoppedStationFailsAndIsRetried()
    {
        FakeRaceStation station;
        station.setSilent(true);
        QVERIFY(station.listen());
        const quint16 port = station.port();
        auto link = connectedLink(station);
        QVERIFY(link);
        QSignalSpy closed(link.get(), &RaceStationLink::closed);
        QSignalSpy opened(link.get(), &RaceStationLink::opened);
        Outcome outcome;
        link->send("get_axis_settings", {}, recorder(outcome));
        QTRY_COMPARE(station.messages().size(), 1);
        station.stop();
        QVERIFY(closed.wait(3000));
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.message, QString("Connection lost"));
        QElapsedTimer sinceClosed;
        sinceClosed.start();
        QVERIFY(station.listen(QHostAddress::LocalHost, port));
        QVERIFY(opened.wait(6000));
        QVERIFY2(sinceClosed.elapsed() >= 2500, "the link waits 3 s before it reconnects");
        QCOMPARE(outcome.calls, 1);
    }

    void closeFailsEachPendingOnce()
    {
        FakeRaceStation station;
        station.setSilent(true);
        QVERIFY(station.listen());
        auto *link = new RaceStationLink(RaceStationLink::urlFor("127.0.0.1", station.port()));
        QSignalSpy opened(link, &RaceStationLink::opened);
        QVERIFY(opened.wait(5000));
        QPointer<RaceStationLink> guard(link);
        Outcome a, b;
        link->send("get_axis_settings", {}, recorder(a));
        link->send("get_wheel_ffb", {}, recorder(b));
        link->close();
        QCOMPARE(a.calls, 1);
        QCOMPARE(b.calls, 1);
        QCOMPARE(a.message, QString("Closed"));
        QCOMPARE(b.message, QString("Closed"));
        QTRY_VERIFY(guard.isNull());
        QTRY_COMPARE(station.closeCodes(), QList<int>({1000}));
        QCOMPARE(a.calls + b.calls, 2);
    }

    void silenceAfterPongEndsTheConnection()
    {
        FakeRaceStation station;
        auto link = connectedLink(station);
        QVERIFY(link);
        QSignalSpy closed(link.get(), &RaceStationLink::closed);
        QMetaObject::invokeMethod(link.get(), "onKeepAliveTick");
        QTRY_COMPARE(station.events().count("ping"), 1);
        QTest::qWait(100); // the pong arrives
        station.setSilent(true);
        QTest::qWait(3000);
        QMetaObject::invokeMethod(link.get(), "onKeepAliveTick");
        QCOMPARE(closed.size(), 0);
        QTest::qWait(3200);
        QMetaObject::invokeMethod(link.get(), "onKeepAliveTick");
        QVERIFY(closed.size() == 1 || closed.wait(2000));
    }

    void oversizedMessageEndsTheConnection()
    {
        FakeRaceStation station;
        auto link = connectedLink(station);
        QVERIFY(link);
        QSignalSpy pushed(link.get(), &RaceStationLink::pushed);
        QSignalSpy closed(link.get(), &RaceStationLink::closed);
        station.sendText(R"({"event":"event_lounge_live","data":{"pad":")" + QString(2 << 20, 'x') + R"("}})");
        QVERIFY(closed.wait(5000));
        QVERIFY(pushed.isEmpty());
    }

    void destructionDropsCallbacks()
    {
        FakeRaceStation station;
        station.setSilent(true);
        auto link = connectedLink(station);
        QVERIFY(link);
        Outcome outcome;
        link->send("get_axis_settings", {}, recorder(outcome));
        link.reset();
        QTest::qWait(50);
        QCOMPARE(outcome.calls, 0);
    }
};

OSTRA_TEST_MAIN_CORE(TestRaceStationLink)
#include "tst_racestationlink.moc"
