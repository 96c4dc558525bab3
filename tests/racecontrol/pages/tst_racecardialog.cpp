#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "ostraui/pill.h"
#include "racecontrol/pages/racecardialog.h"
#include "racecontrol/pages/racedisplay.h"
#include "racefleet.h"
#include "support/widgets/widgetlookup.h"

using corvane::RaceCarDialog;

namespace {

QLabel *stepperValue(QWidget *dialog, const QString &stepper)
{
    return dialog->findChild<QWidget *>(stepper)->findChild<QLabel *>();
}

void clickStepper(QWidget *dialog, const QString &stepper, int step)
{
    dialog->findChild<QWidget *>(stepper)->findChild<QPushButton *>(step < 0 ? "minus" : "plus")->click();
}

bool labelShown(QWidget *parent, const QString &text)
{
    for (QLabel *label : parent->findChildren<QLabel *>()) {
        if (label->text() == text)
            return label->isVisibleTo(parent);
    }
    return false;
}

} // namespace

// The car dialog against a running and a stopped car at fake stations.
class TestRaceCarDialog : public QObject
{
    Q_OBJECT

private:
    RaceFleet m_fleet;
    ostratest::FakeRaceStation *running() { return m_fleet.rig.station(RaceFleet::Running); }
    const QString m_id = RaceFleet::id(RaceFleet::Running);

    // A dialog on the running car, its tuning loaded.
    std::unique_ptr<RaceCarDialog> openLoaded()
    {
        auto dialog = std::make_unique<RaceCarDialog>(m_fleet.control.get(), m_id, 0);
        if (!QTest::qWaitFor([&] { return !labelShown(dialog.get(), "Loading car settings\u2026")
                                          && stepperValue(dialog.get(), "strength")->text() != "0%"; }, 5000))
            return nullptr;
        running()->clearRecord();
        return dialog;
    }

    void setOwnCap(bool on, int percent)
    {
        running()->setStateValue("speedCap", on);
        running()->setStateValue("speedCapPercent", percent);
        running()->pushState();
        QVERIFY(QTest::qWaitFor([&] { return corvane::speedCapPercentOf(*m_fleet.control->findStation(m_id)) == (on ? percent : 0); }));
    }

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        const QString reason = m_fleet.setUp(RaceFleet::Helicopter);
        if (!reason.isEmpty())
            QSKIP(qPrintable("the car dialog is tested against stations inside network namespaces: " + reason));
        QVERIFY(m_fleet.settle(RaceFleet::Helicopter));
    }

    void fineTuneSteps_data()
    {
        QTest::addColumn<int>("own");
        QTest::addColumn<int>("step");
        QTest::addColumn<QJsonObject>("sent");
        QTest::newRow("- at no cap") << 0 << -1 << QJsonObject{{"enabled", true}, {"percent", 95}};
        QTest::newRow("+ at no cap sends nothing") << 0 << 1 << QJsonObject();
        QTest::newRow("+ at 95 lifts the cap") << 95 << 1 << QJsonObject{{"enabled", false}};
        QTest::newRow("- at 10 sends nothing") << 10 << -1 << QJsonObject();
        QTest::newRow("+ at 42 snaps to 45") << 42 << 1 << QJsonObject{{"enabled", true}, {"percent", 45}};
    }

    void fineTuneSteps()
    {
        QFETCH(int, own);
        QFETCH(int, step);
        QFETCH(QJsonObject, sent);
        setOwnCap(own != 0, own);
        auto dialog = openLoaded();
        QVERIFY(dialog);
        clickStepper(dialog.get(), "fineTune", step);
        QTest::qWait(200);
        const QList<QJsonObject> requests = running()->requests("set_lounge_speed_cap");
        QCOMPARE(requests.size(), sent.isEmpty() ? 0 : 1);
        if (!sent.isEmpty())
            QCOMPARE(requests.first().value("data").toObject(), sent);
    }

    void capStatusTexts()
    {
        setOwnCap(false, 0);
        auto dialog = openLoaded();
        QVERIFY(dialog);
        // The all-cars cap of the fleet is 50 on this car.
        QVERIFY(labelShown(dialog.get(), "All-cars cap 50%"));
        QCOMPARE(stepperValue(dialog.get(), "fineTune")->text(), QString("Full"));
        setOwnCap(true, 75);
        dialog->refresh();
        QVERIFY(labelShown(dialog.get(), "75% \u00B7 all-cars 50% applies"));
        setOwnCap(true, 30);
        dialog->refresh();
        QVERIFY(labelShown(dialog.get(), "Max 30% throttle"));
    }

    void tuningSteps_data()
    {
        QTest::addColumn<QString>("stepper");
        QTest::addColumn<int>("step");
        QTest::addColumn<QJsonObject>("axis");
        QTest::addColumn<QJsonObject>("ffb");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("sent");
        const QJsonObject axis{{"steeringCenter", 992}, {"smoothDeceleration", true}, {"decelRate", 5}};
        const QJsonObject ffb{{"enabled", true}, {"strength", 0.33}, {"centering", 1.0}, {"capable", true}};
        QTest::newRow("trim + at 2047") << "trim" << 1 << QJsonObject{{"steeringCenter", 2047}} << ffb
                                        << "set_axis_settings" << QJsonObject{{"steeringCenter", 2047}};
        QTest::newRow("trim - at 0") << "trim" << -1 << QJsonObject{{"steeringCenter", 0}} << ffb
                                     << "set_axis_settings" << QJsonObject{{"steeringCenter", 0}};
        QTest::newRow("rate - at 5") << "rate" << -1 << axis << ffb << "set_axis_settings" << QJsonObject{{"decelRate", 1}};
        QTest::newRow("strength 0.33 +") << "strength" << 1 << axis << ffb << "set_wheel_ffb" << QJsonObject{{"strength", 0.38}};
        QTest::newRow("centering 1.0 +") << "centering" << 1 << axis << ffb << "set_wheel_ffb" << QJsonObject{{"centering", 1.0}};
    }

    void tuningSteps()
    {
        QFETCH(QString, stepper);
        QFETCH(int, step);
        QFETCH(QJsonObject, axis);
        QFETCH(QJsonObject, ffb);
        QFETCH(QString, event);
        QFETCH(QJsonObject, sent);
        running()->setAxisSettings(axis);
        running()->setWheelFfb(ffb);
        auto dialog = openLoaded();
        QVERIFY(dialog);
        clickStepper(dialog.get(), stepper, step);
        QTRY_COMPARE(running()->requests(event).size(), 1);
        QCOMPARE(running()->requests(event).first().value("data").toObject(), sent);
    }

    void undoSendsTheFirstValue()
    {
        running()->setAxisSettings({{"steeringCenter", 1000}, {"smoothDeceleration", false}, {"decelRate", 50}});
        auto dialog = openLoaded();
        QVERIFY(dialog);
        QPushButton *undo = ostratest::withText<QPushButton>(dialog.get(), "Undo");
        QVERIFY(!undo->isEnabled());
        clickStepper(dialog.get(), "trim", 1);
        QCOMPARE(stepperValue(dialog.get(), "trim")->text(), QString("1001"));
        QVERIFY(undo->isEnabled());
        undo->click();
        QTRY_COMPARE(running()->requests("set_axis_settings").size(), 2);
        QCOMPARE(running()->requests("set_axis_settings").last().value("data").toObject(), QJsonObject({{"steeringCenter", 1000}}));
    }

    // The big button stops this car alone and, once its station reports it stopped, resumes it.
    void bigButtonStopsAndResumesThisCar()
    {
        auto dialog = openLoaded();
        QVERIFY(dialog);
        ostratest::FakeRaceStation *other = m_fleet.rig.station(RaceFleet::Stopped);
        other->clearRecord();
        ostratest::withText<QPushButton>(dialog.get(), "\u25A0  Stop car 01")->click();
        QTRY_VERIFY(corvane::isStationStopped(*m_fleet.control->findStation(m_id)));
        dialog->refresh();
        QVERIFY(labelShown(dialog.get(), "Stopped from race control. The driver has no throttle until you resume it."));
        QPushButton *resume = ostratest::withText<QPushButton>(dialog.get(), "\u25B6  Resume car 01");
        QVERIFY(resume);
        QCOMPARE(resume->property("txState").toString(), QString("go"));
        QCOMPARE(running()->events().count("action_lounge_release"), 0);
        resume->click();
        QTRY_VERIFY(!corvane::isStationStopped(*m_fleet.control->findStation(m_id)));
        dialog->refresh();
        QVERIFY(ostratest::withText<QPushButton>(dialog.get(), "\u25A0  Stop car 01"));
        QCOMPARE(running()->events().count("action_lounge_stop"), 1);
        QCOMPARE(running()->events().count("action_lounge_release"), 1);
        QVERIFY(!other->events().contains("action_lounge_stop"));
        QVERIFY(!other->events().contains("action_lounge_release"));
    }

    void wheelWithoutForceFeedback()
    {
        running()->setWheelFfb({{"enabled", true}, {"strength", 0.5}, {"centering", 0.5}, {"capable", false}});
        auto dialog = openLoaded();
        QVERIFY(dialog);
        QVERIFY(labelShown(dialog.get(), "No force-feedback wheel connected to this station"));
        QVERIFY(!dialog->findChild<QWidget *>("strength")->isVisibleTo(dialog.get()));
    }

    void nameEditsFollowTheNameRule_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("storedName");
        QTest::addColumn<QString>("storedDriver");
        QTest::newRow("renamed") << "Red Five" << "Ann" << "Red Five" << "Ann";
        QTest::newRow("direction override in the car name") << "abc\u202Eexe.live" << "Ann" << "Pit 3" << "Ann";
        QTest::newRow("tab in the driver") << "Pit 3" << "Ann\tBo" << "Pit 3" << "";
        QTest::newRow("names that show nothing") << "\u200B\u200B" << "\u2800" << "Pit 3" << "";
    }

    // Car and driver names follow the rule of profile names, and say why a name is refused; the
    // title follows the car's name.
    void nameEditsFollowTheNameRule()
    {
        QFETCH(QString, name);
        QFETCH(QString, driver);
        corvane::RaceControl *control = m_fleet.control.get();
        control->renameStation(m_id, "Pit 3");
        control->setDriverName(m_id, QString());
        RaceCarDialog dialog(control, m_id, 0);
        dialog.findChildren<QLineEdit *>().at(0)->setText(name);
        dialog.findChildren<QLineEdit *>().at(1)->setText(driver);
        dialog.commitNameEdits();
        dialog.refresh();
        QTEST(control->findStation(m_id)->name, "storedName");
        QTEST(control->driverName(m_id), "storedDriver");
        QCOMPARE(dialog.windowTitle(), "01 \u00B7 " + control->findStation(m_id)->name);
        const QString refused = name.contains(QChar(0x202E)) ? "A car name" : driver.contains('\t') ? "A driver's name" : "";
        QCOMPARE(labelShown(&dialog, refused + " cannot contain line breaks, tabs, other control characters or text "
                                                "direction overrides."), !refused.isEmpty());
        control->renameStation(m_id, "Pit 3");
    }

    void render()
    {
        running()->setAxisSettings({{"steeringCenter", 1000}, {"smoothDeceleration", true}, {"decelRate", 40}});
        running()->setWheelFfb({{"enabled", true}, {"strength", 0.6}, {"centering", 0.3}, {"capable", true}});
        setOwnCap(true, 75);
        for (int car : {int(RaceFleet::Running), int(RaceFleet::Stopped)}) {
            QWidget parent;
            parent.resize(900, 1000);
            parent.show();
            RaceCarDialog dialog(m_fleet.control.get(), RaceFleet::id(car), car, &parent);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTest::qWait(300);
            QVERIFY(ostratest::composeDialog(&parent, &dialog).save(racePicture(car == RaceFleet::Running ? "car-dialog" : "car-dialog-stopped")));
        }
    }

    // A station left silent keeps its unanswered requests first in line for a while, so these run last.
    void silentStationKeepsLoading()
    {
        running()->setSilent(true);
        RaceCarDialog dialog(m_fleet.control.get(), m_id, 0);
        QTest::qWait(300);
        QVERIFY(labelShown(&dialog, "Loading car settings\u2026"));
        QVERIFY(labelShown(&dialog, "This station doesn't report force feedback"));
        QCOMPARE(stepperValue(&dialog, "trim")->text(), QString("\u2014"));
        running()->setSilent(false);
    }

    void repliesAfterCloseAreDropped()
    {
        QPointer<RaceCarDialog> dialog = new RaceCarDialog(m_fleet.control.get(), m_id, 0);
        const int before = running()->requests("get_axis_settings").size();
        delete dialog;
        // The replies still arrive and find the dialog gone.
        QTRY_COMPARE(running()->requests("get_wheel_ffb").size(), before + 1);
        QTest::qWait(100);
        QVERIFY(dialog.isNull());
    }

    void renderDarkTheme() { QVERIFY(renderDarkToo({"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestRaceCarDialog)
#include "tst_racecardialog.moc"
