#include "motion/motionsystemcontroller.h"
#include "motion/motionsystemsettings.h"

#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"

#include <QSettings>
#include <QSignalSpy>

using corvane::MotionSystemController;
using corvane::MotionSystemSettings;

namespace {

QSettings store()
{
    return QSettings(QStringLiteral("Qorvant"), QStringLiteral("MotionSystem"));
}

MotionSystemSettings with(const std::function<void(MotionSystemSettings &)> &change)
{
    MotionSystemSettings s;
    change(s);
    return s;
}

} // namespace

class TestMotionSystemSettings : public QObject
{
    Q_OBJECT

private slots:
    // The file is the test's between the controllers' writes.
    void init()
    {
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        store().clear();
    }

    void clamp_data()
    {
        QTest::addColumn<MotionSystemSettings>("input");
        QTest::addColumn<MotionSystemSettings>("expected");
        QTest::newRow("short stroke limits travel")
            << with([](auto &s) { s.strokeMm = 40; s.travelMm = 140; })
            << with([](auto &s) { s.strokeMm = 50; s.travelMm = 40; s.parkMm = 45; });
        QTest::newRow("low limits") << with([](auto &s) { s.intensity = 0; s.travelMm = 3; s.speedPct = 5; s.accelPct = -1; s.parkMm = 0; s.sleepSeconds = 0; })
                                    << with([](auto &s) { s.intensity = 10; s.travelMm = 20; s.speedPct = 10; s.accelPct = 10; s.parkMm = 5; s.sleepSeconds = 1; });
        QTest::newRow("high limits") << with([](auto &s) { s.strokeMm = 999; s.intensity = 101; s.travelMm = 999; s.speedPct = 200; s.accelPct = 101; s.parkMm = 999; s.sleepSeconds = 5000; })
                                     << with([](auto &s) { s.strokeMm = 300; s.intensity = 100; s.travelMm = 290; s.speedPct = 100; s.accelPct = 100; s.parkMm = 295; s.sleepSeconds = 3600; });
        QTest::newRow("repeated slot resets the map") << with([](auto &s) { s.actuatorSlots = { 0, 1, 2, 3, 4, 4 }; })
                                                      << MotionSystemSettings();
        QTest::newRow("slot out of range resets the map") << with([](auto &s) { s.actuatorSlots = { 0, 1, 2, 3, 4, 6 }; })
                                                          << MotionSystemSettings();
    }

    void clamp()
    {
        QFETCH(MotionSystemSettings, input);
        QFETCH(MotionSystemSettings, expected);
        QCOMPARE(corvane::clampMotionSettings(input), expected);
    }

    void load_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<MotionSystemSettings>("expected");
        QTest::newRow("five-part map leaves the slots") << QVariantMap { { "actuatorSlots", "5,4,3,2,1" } } << MotionSystemSettings();
        QTest::newRow("six-part map taken") << QVariantMap { { "actuatorSlots", "1,0,,3,2,5,4" } }
                                            << with([](auto &s) { s.actuatorSlots = { 1, 0, 3, 2, 5, 4 }; });
        QTest::newRow("unparsable part reads 0 and the map resets") << QVariantMap { { "actuatorSlots", "x,0,2,3,4,5" } }
                                                                    << MotionSystemSettings();
        QTest::newRow("text reads 0, then clamped") << QVariantMap { { "intensity", "loud" }, { "sleepSeconds", 5000 } }
                                                    << with([](auto &s) { s.intensity = 10; s.sleepSeconds = 3600; });
    }

    void load()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(MotionSystemSettings, expected);
        {
            QSettings settings = store();
            for (auto it = stored.cbegin(); it != stored.cend(); ++it)
                settings.setValue(it.key(), it.value());
        }
        MotionSystemController controller;
        QCOMPARE(controller.settings(), expected);
    }

    // The keys set are stored, and those the limits changed (park follows the stroke); no other.
    void applyStoresTheKeysSet()
    {
        MotionSystemController controller;
        QSignalSpy applied(&controller, &MotionSystemController::settingsApplied);
        controller.applySettings(with([](auto &s) { s.strokeMm = 40; s.travelMm = 140; s.actuatorSlots = { 5, 4, 3, 2, 1, 0 }; s.sleepEnabled = true; s.sleepSeconds = 0; }),
                                 {"strokeMm", "travelMm", "actuatorSlots", "sleepEnabled", "sleepSeconds"});
        const MotionSystemSettings clamped = with([](auto &s) { s.strokeMm = 50; s.travelMm = 40; s.parkMm = 45; s.actuatorSlots = { 5, 4, 3, 2, 1, 0 }; s.sleepEnabled = true; s.sleepSeconds = 1; });
        QCOMPARE(applied.size(), 1);
        QCOMPARE(applied.first().first().value<MotionSystemSettings>(), clamped);
        QCOMPARE(controller.settings(), clamped);
        QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        QSettings settings = store();
        QCOMPARE(settings.allKeys().size(), 6);
        QCOMPARE(settings.value("parkMm").toInt(), 45);
        QCOMPARE(settings.value("actuatorSlots").toString(), QString("5,4,3,2,1,0"));
        QCOMPARE(settings.value("strokeMm").toInt(), 50);
        QCOMPARE(settings.value("sleepEnabled").toBool(), true);
        // A controller started later reads back what was applied.
        QCOMPARE(MotionSystemController().settings(), clamped);
    }
};

OSTRA_TEST_MAIN_CORE(TestMotionSystemSettings)
#include "tst_motionsystemsettings.moc"
