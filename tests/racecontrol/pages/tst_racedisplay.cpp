#include <QApplication>
#include <QPushButton>

#include "racecontrol/pages/racecardialog.h"
#include "racecontrol/pages/racedisplay.h"
#include "racecontrol/racecontrol.h"
#include "support/testenvironment.h"

using namespace corvane;

Q_DECLARE_METATYPE(RaceStation)

namespace {

RaceStation stationWith(int status, const QJsonObject &state = {})
{
    RaceStation station;
    station.host = "10.77.0.3";
    station.status = status;
    station.state = state;
    return station;
}

const QJsonObject kRunning{{"supported", true}, {"stopped", false}};
const QJsonObject kStopped{{"supported", true}, {"stopped", true}, {"stopReason", "operator"}};
const QJsonObject kLost{{"supported", true}, {"stopped", true}, {"stopReason", "connection_lost"}};
const QJsonObject kHeli{{"supported", false}};

} // namespace

// The display functions shared by the card, the page and both dialogs.
class TestRaceDisplay : public QObject
{
    Q_OBJECT

private slots:
    void steeringText_data()
    {
        QTest::addColumn<double>("steering");
        QTest::addColumn<QString>("text");
        QTest::newRow("inside dead band") << -0.04 << "0";
        QTest::newRow("left, rounded") << -0.237 << "L24";
        QTest::newRow("half away from zero") << 0.125 << "R13";
        QTest::newRow("full right") << 1.0 << "R100";
    }
    void steeringText()
    {
        QFETCH(double, steering);
        QFETCH(QString, text);
        QCOMPARE(corvane::steeringText(steering), text);
    }

    void shortTexts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("gear -1") << gearText(-1) << "R";
        QTest::newRow("gear 0") << gearText(0) << "N";
        QTest::newRow("gear 3") << gearText(3) << "3";
        QTest::newRow("car 0") << carNumberText(0) << "01";
        QTest::newRow("car 9") << carNumberText(9) << "10";
        QTest::newRow("cap 0") << capText(0) << "Full";
        QTest::newRow("cap 30") << capText(30) << "30%";
        QTest::newRow("palette 0") << carPalette(0).name() << "#0f8fd4";
        QTest::newRow("palette 8") << carPalette(8).name() << "#0f8fd4";
    }
    void shortTexts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void statusTexts_data()
    {
        QTest::addColumn<RaceStation>("station");
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("txState");
        QTest::addColumn<QString>("reason");
        QTest::newRow("connecting") << stationWith(Connecting) << "Connecting" << 2 << "Offline" << "locked" << "";
        QTest::newRow("no signal") << stationWith(NoSignal, kRunning) << "No signal" << 0 << "Offline" << "locked"
                                   << "10.77.0.3 isn't reachable. Check the station is on and on this network.";
        QTest::newRow("wrong car") << stationWith(WrongCar, kRunning) << "Wrong car" << 4 << "Offline" << "locked"
                                   << "A different transmitter answered at 10.77.0.3. Commands are blocked.";
        QTest::newRow("update firmware") << stationWith(UpdateFirmware) << "Update firmware" << 2 << "Unavailable" << "locked"
                                         << "This transmitter's firmware has no race control. Update it to 1.2.27 or later.";
        QTest::newRow("running") << stationWith(Linked, kRunning) << "Running" << 3 << "Stop" << "stop" << "";
        QTest::newRow("stopped") << stationWith(Linked, kStopped) << "Stopped" << 4 << "Resume" << "go"
                                 << "Stopped from race control. The driver has no throttle until you resume it.";
        QTest::newRow("safety link") << stationWith(Linked, kLost) << "Stopped" << 4 << "Resume" << "go"
                                     << "Stopped by the safety link: the station stopped hearing race control. Resume it when the track is clear.";
        QTest::newRow("helicopter") << stationWith(Linked, kHeli) << "Helicopter" << 0 << "Offline" << "locked" << "";
        RaceStation unplugged = stationWith(Linked, kRunning);
        unplugged.live = {{"transmitterConnected", false}};
        QTest::newRow("transmitter not connected") << unplugged << "No transmitter" << 2 << "Stop" << "stop" << "";
        unplugged.state = kStopped;
        QTest::newRow("stopped, transmitter not connected") << unplugged << "Stopped" << 4 << "Resume" << "go"
                                                            << "Stopped from race control. The driver has no throttle until you resume it.";
        RaceStation uncovered = stationWith(Linked, kRunning);
        uncovered.uncovered = true;
        QTest::newRow("not covered") << uncovered << "Not covered" << 2 << "Stop" << "stop" << "";
    }
    void statusTexts()
    {
        QFETCH(RaceStation, station);
        QFETCH(QString, word);
        QFETCH(int, level);
        QFETCH(QString, button);
        QFETCH(QString, txState);
        QFETCH(QString, reason);
        QCOMPARE(stationStatusText(station).text, word);
        QCOMPARE(stationStatusText(station).level, level);
        QCOMPARE(stopReasonText(station), reason);
        QPushButton stop;
        applyStopButtonState(&stop, station, "Stop", "Resume");
        QCOMPARE(stop.text(), button);
        QCOMPARE(stop.property("txState").toString(), txState);
        QCOMPARE(stop.isEnabled(), txState != "locked");
    }

    void capReaders()
    {
        const RaceStation capped = stationWith(Linked, {{"speedCap", true}, {"speedCapPercent", 40},
                                                        {"pitLimiter", false}, {"pitLimiterPercent", 30}});
        QCOMPARE(speedCapPercentOf(capped), 40);
        QCOMPARE(pitLimiterPercentOf(capped), 0);
        QCOMPARE(capCommandData(0), QJsonObject({{"enabled", false}}));
        QCOMPARE(capCommandData(75), QJsonObject({{"enabled", true}, {"percent", 75}}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestRaceDisplay)
#include "tst_racedisplay.moc"
