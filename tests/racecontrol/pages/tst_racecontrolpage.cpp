#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include "ostraui/pill.h"
#include "ostraui/toast.h"
#include "platform/storage/settingsfile.h"
#include "racecontrol/pages/racecarcard.h"
#include "racecontrol/pages/racecardialog.h"
#include "racecontrol/pages/racecontrolpage.h"
#include "racecontrol/pages/racedisplay.h"
#include "racecontrol/pages/racestationsdialog.h"
#include "racefleet.h"
#include "support/widgets/widgetlookup.h"

using corvane::RaceControl;
using corvane::RaceControlPage;

namespace {

QPushButton *button(QWidget *parent, const QString &text) { return ostratest::withText<QPushButton>(parent, text); }

QStringList labelTexts(QWidget *parent)
{
    QStringList texts;
    for (QLabel *label : parent->findChildren<QLabel *>())
        texts.append(label->text());
    return texts;
}

bool emptyStateShown(QWidget *page)
{
    for (QLabel *label : page->findChildren<QLabel *>()) {
        if (label->text() == "No stations chosen")
            return label->isVisible();
    }
    return false;
}

// The count labels in their order on the page: running, stopped, not ready.
QStringList counts(QWidget *page)
{
    QStringList result;
    for (QLabel *label : page->findChildren<QLabel *>()) {
        if (label->font().pixelSize() == 28 || qFuzzyCompare(label->font().pointSizeF(), 21.0))
            result.append(label->text());
    }
    return result;
}

QString toastText(QWidget *page)
{
    auto *toast = page->window()->findChild<ostra::Toast *>();
    return toast ? toast->text() : QString();
}

} // namespace

// The race control page: counts, the all-cars cap, the fleet buttons, cards per chosen station.
class TestRaceControlPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void init() { corvane::SettingsFile().remove("raceControl"); }

    void noStationIsAllLocked()
    {
        RaceControl control;
        RaceControlPage page(&control);
        page.resize(1280, 800);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(counts(&page), QStringList({"0", "0", "0"}));
        QVERIFY(emptyStateShown(&page));
        QPushButton *stopAll = button(&page, "\u25A0  STOP ALL");
        QVERIFY(stopAll);
        QVERIFY(!stopAll->isEnabled());
        QCOMPARE(stopAll->property("txState").toString(), QString("locked"));
        QVERIFY(!button(&page, "Resume all")->isEnabled());
        for (const char *cap : {"Off", "75%", "50%", "30%"}) {
            QVERIFY(!button(&page, cap)->isEnabled());
            QVERIFY(!button(&page, cap)->isChecked());
        }
        QCOMPARE(page.findChild<ostra::Pill *>()->text(), QString("Safety link off"));
        QVERIFY(renderPage(&page, "page-empty"));

        // A station let go unconfirmed is told in the open stations dialog, else in a toast.
        page.openStationsDialog();
        emit control.errorOccurred("In the dialog");
        QCOMPARE(toastText(&page), QString());
        page.findChild<corvane::RaceStationsDialog *>()->close();
        emit control.errorOccurred("On the page");
        QCOMPARE(toastText(&page), QString("On the page"));
    }

    void fleetCountsCapsAndResume()
    {
        RaceFleet fleet;
        const QString reason = fleet.setUp();
        if (!reason.isEmpty())
            QSKIP(qPrintable("the page is tested against stations inside network namespaces: " + reason));
        QVERIFY(fleet.settle());
        RaceControlPage page(fleet.control.get());
        page.resize(1280, 800);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        // Running and stopped take race control; the other five are not ready.
        QCOMPARE(counts(&page), QStringList({"1", "1", "5"}));
        QVERIFY(!emptyStateShown(&page));
        // All-cars caps 50 and 75: mixed.
        QVERIFY(labelTexts(&page).contains("Mixed"));
        for (const char *cap : {"Off", "75%", "50%", "30%"}) {
            QVERIFY(button(&page, cap)->isEnabled());
            QVERIFY(!button(&page, cap)->isChecked());
        }
        QVERIFY(renderPage(&page, "page"));

        // A card opens its car's dialog with the card's own number.
        corvane::RaceCarCard *second = nullptr;
        for (corvane::RaceCarCard *card : page.findChildren<corvane::RaceCarCard *>())
            second = card->stationId() == RaceFleet::id(RaceFleet::Stopped) ? card : second;
        QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(second->width() - 20, 20));
        auto *dialog = page.findChild<corvane::RaceCarDialog *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("02 \u00B7 Pit 4"));
        dialog->close();

        // One click on Resume all arms it and sends nothing; a second within 3 s releases every
        // eligible car once.
        ostratest::FakeRaceStation *stopped = fleet.rig.station(RaceFleet::Stopped);
        ostratest::FakeRaceStation *running = fleet.rig.station(RaceFleet::Running);
        stopped->clearRecord();
        running->clearRecord();
        QPushButton *resume = button(&page, "Resume all");
        resume->click();
        QCOMPARE(resume->text(), QString("Click again to resume"));
        QCOMPARE(resume->property("txState").toString(), QString("go"));
        QTest::qWait(200);
        QCOMPARE(stopped->events().count("action_lounge_release"), 0);
        // A STOP ALL in between asks for both clicks again.
        button(&page, "\u25A0  STOP ALL")->click();
        QCOMPARE(resume->text(), QString("Resume all"));
        resume->click();
        resume->click();
        QTRY_COMPARE(stopped->events().count("action_lounge_release"), 1);
        QTRY_COMPARE(running->events().count("action_lounge_release"), 1);
        QTRY_COMPARE(counts(&page), QStringList({"2", "0", "5"}));
        QCOMPARE(button(&page, "Resume all")->isEnabled(), false);

        // The all-cars cap goes to every eligible car; equal caps select their button.
        page.setAllCarsCap(30);
        QTRY_VERIFY(button(&page, "30%")->isChecked());
        QVERIFY(labelTexts(&page).contains("Max 30% throttle"));
        QCOMPARE(stopped->requests("set_lounge_pit_limiter").last().value("data").toObject(),
                 QJsonObject({{"enabled", true}, {"percent", 30}}));
        page.setAllCarsCap(0);
        QTRY_VERIFY(button(&page, "Off")->isChecked());
        QVERIFY(labelTexts(&page).contains("No limit"));
        QCOMPARE(running->requests("set_lounge_pit_limiter").last().value("data").toObject(),
                 QJsonObject({{"enabled", false}}));
    }

    void carStateShown_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("counted");
        QTest::addColumn<QString>("safety");
        const QStringList running{"1", "0", "0"};
        QTest::newRow("running") << "" << "Running" << running << "Safety link on";
        QTest::newRow("transmitter not connected") << "no transmitter" << "No transmitter" << QStringList{"0", "0", "1"}
                                                   << "Safety link on";
        QTest::newRow("watchdog switched off elsewhere") << "watchdog 0" << "Not covered" << running
                                                         << "Safety link: 1 car not covered";
        QTest::newRow("slower watchdog set elsewhere") << "watchdog 5000" << "Not covered" << running
                                                       << "Safety link: 1 car not covered";
        QTest::newRow("stricter watchdog set elsewhere") << "watchdog 1000" << "Running" << running << "Safety link on";
        // It drives until its stop lands: counted as running, never as stopped.
        QTest::newRow("back unstopped after STOP ALL") << "back unstopped" << "Stopping" << QStringList{"1", "0", "0"}
                                                       << "Safety link on";
    }

    // With the safety link on: a car whose transmitter is not connected is not running, and one
    // whose watchdog is not armed as set (re-arming refused here) is shown without cover.
    void carStateShown()
    {
        QFETCH(QString, change);
        QFETCH(QString, state);
        QFETCH(QStringList, counted);
        QFETCH(QString, safety);
        RaceFleet fleet;
        const QString reason = fleet.setUp(RaceFleet::Stopped);
        if (!reason.isEmpty())
            QSKIP(qPrintable("the page is tested against stations inside network namespaces: " + reason));
        QVERIFY(fleet.settle(RaceFleet::Stopped));
        ostratest::FakeRaceStation *station = fleet.rig.station(RaceFleet::Running);
        fleet.control->setWatchdog(true, 2000);
        QTRY_VERIFY(station->loungeState().value("watchdog").toBool());
        RaceControlPage page(fleet.control.get());
        page.resize(1280, 800);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QTRY_COMPARE(page.findChild<ostra::Pill *>()->text(), QString("Safety link on"));
        if (change == "back unstopped") {
            // It refuses the stop here, so that the card shows the stop on its way.
            page.stopAll();
            QTRY_VERIFY(station->loungeState().value("stopped").toBool());
            station->stop();
            station->refuse("action_lounge_stop", "Station busy");
            station->setStateValue("stopped", false);
            fleet.rig.net()->inStations([station] { QVERIFY(station->listen(QHostAddress(RaceFleet::host(RaceFleet::Running)), 12345)); });
        } else if (change == "no transmitter") {
            station->pushLive({{"throttle", 0.0}, {"transmitterConnected", false}});
        } else if (change.startsWith("watchdog")) {
            const int timeout = change.section(' ', 1).toInt();
            station->refuse("set_lounge_watchdog", "Station busy");
            station->setStateValue("watchdog", timeout > 0);
            station->setStateValue("watchdogTimeoutMs", timeout ? timeout : 2000);
            station->pushState();
        }
        corvane::RaceCarCard *card = page.findChild<corvane::RaceCarCard *>();
        QTRY_COMPARE_WITH_TIMEOUT(card->findChild<ostra::Pill *>()->text(), state, 8000);
        QCOMPARE(counts(&page), counted);
        // A hold stays Resume all's to end, stopped or not.
        QCOMPARE(button(&page, "Resume all")->isEnabled(), change == "back unstopped");
        QCOMPARE(page.findChild<ostra::Pill *>()->text(), safety);
        QVERIFY(renderPage(&page, "page-" + QString(QTest::currentDataTag()).replace(' ', '-')));
    }

    void stopAllReports_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<int>("stopsSent");
        QTest::addColumn<QString>("then");
        QTest::addColumn<QString>("state");
        QTest::newRow("every car stops") << "" << "" << 2 << "" << "Stopped";
        QTest::newRow("one car refuses") << "refuse" << "Stopped 1 of 2 cars \u2014 check the others" << 2 << "" << "Stopped";
        QTest::newRow("the cars went offline") << "offline" << "No cars online to stop" << 0 << "" << "No signal";
        // Down at STOP ALL, or restarted before the stop was on its disk: the car comes back not
        // stopped and gets the stop again.
        QTest::newRow("a car down at STOP ALL comes up") << "offline" << "No cars online to stop" << 0 << "restarts" << "Stopped";
        QTest::newRow("a car restarts unstopped") << "" << "" << 2 << "restarts" << "Stopped";
        QTest::newRow("a car down at STOP ALL comes up refusing it") << "offline" << "No cars online to stop" << 0
                                                                     << "restarts refusing" << "Stopping";
        QTest::newRow("race control and a car restart") << "" << "" << 2 << "both restart" << "Stopped";
        QTest::newRow("a car resumed on its card") << "" << "" << 2 << "resumed" << "Running";
    }

    // STOP ALL can be clicked whatever the chosen stations' state, also when none is online.
    void stopAllReports()
    {
        QFETCH(QString, fault);
        QFETCH(QString, toast);
        QFETCH(int, stopsSent);
        QFETCH(QString, then);
        QFETCH(QString, state);
        RaceFleet fleet;
        const QString reason = fleet.setUp(RaceFleet::Helicopter);
        if (!reason.isEmpty())
            QSKIP(qPrintable("the page is tested against stations inside network namespaces: " + reason));
        QVERIFY(fleet.settle(RaceFleet::Helicopter));
        auto page = std::make_unique<RaceControlPage>(fleet.control.get());
        QPushButton *stopAll = button(page.get(), "\u25A0  STOP ALL");
        QVERIFY(stopAll->isEnabled());
        QList<ostratest::FakeRaceStation *> stations{fleet.rig.station(RaceFleet::Running),
                                                     fleet.rig.station(RaceFleet::Stopped)};
        if (fault == "refuse")
            stations.at(1)->refuse("action_lounge_stop", "Station busy");
        for (ostratest::FakeRaceStation *station : stations) {
            if (fault == "offline")
                station->stop();
            station->clearRecord();
        }
        if (fault == "offline") {
            for (int car : {int(RaceFleet::Running), int(RaceFleet::Stopped)})
                QTRY_COMPARE(fleet.control->findStation(RaceFleet::id(car))->status, int(corvane::NoSignal));
        }
        QSignalSpy changed(fleet.control.get(), &RaceControl::stationChanged);
        page->refresh();
        QVERIFY(stopAll->isEnabled());
        stopAll->click();
        if (toast.isEmpty()) {
            // Each car's stop shows twice, pushed by its station and then in the reply.
            for (int car : {int(RaceFleet::Running), int(RaceFleet::Stopped)})
                QTRY_VERIFY(std::count_if(changed.cbegin(), changed.cend(), [car](const QList<QVariant> &args) {
                                return args.at(0).toString() == RaceFleet::id(car);
                            }) >= 2);
        }
        QTRY_COMPARE(toastText(page.get()), toast);
        QCOMPARE(stations.at(0)->events().count("action_lounge_stop") + stations.at(1)->events().count("action_lounge_stop"),
                 stopsSent);

        ostratest::FakeRaceStation *car = stations.at(0);
        car->clearRecord();
        if (then == "resumed")
            corvane::toggleStationStop(fleet.control.get(), RaceFleet::id(RaceFleet::Running));
        if (then == "both restart") {
            page.reset();
            fleet.control.reset();
        }
        if (then.contains("restarts") || then == "both restart") {
            car->stop();
            if (fleet.control)
                QTRY_COMPARE(fleet.control->findStation(RaceFleet::id(RaceFleet::Running))->status, int(corvane::NoSignal));
            car->setStateValue("stopped", false);
            if (then.endsWith("refusing"))
                car->refuse("action_lounge_stop", "Station busy");
            fleet.rig.net()->inStations([car] { QVERIFY(car->listen(QHostAddress(RaceFleet::host(RaceFleet::Running)), 12345)); });
        }
        if (!fleet.control) {
            fleet.control = std::make_unique<RaceControl>();
            fleet.control->openIncludedStations();
            page = std::make_unique<RaceControlPage>(fleet.control.get());
        }
        // The running car's card is the first.
        auto cardState = [&page] {
            page->refresh();
            return page->findChild<corvane::RaceCarCard *>()->findChild<ostra::Pill *>()->text();
        };
        QTRY_COMPARE_WITH_TIMEOUT(cardState(), state, 8000);
        // One that keeps reporting its car not stopped gets the stop again each link period.
        if (then.endsWith("refusing"))
            QTRY_VERIFY(car->events().count("action_lounge_stop") >= 3);
        else
            QCOMPARE(car->events().count("action_lounge_stop"), int(then.contains("restart")));
        // A held car hears its stop before it is asked for its state, which then holds the stop.
        if (then.contains("restart"))
            QVERIFY(car->events().indexOf("action_lounge_stop") < car->events().indexOf("get_lounge_state"));
    }

    void renderDarkTheme() { QVERIFY(renderDarkToo({"noStationIsAllLocked", "fleetCountsCapsAndResume", "carStateShown"})); }

private:
    bool renderPage(QWidget *page, const QString &name)
    {
        QTest::qWait(50);
        return page->grab().toImage().save(racePicture(name));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestRaceControlPage)
#include "tst_racecontrolpage.moc"
