#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUuid>

#include <algorithm>
#include <functional>
#include <limits>

#include "platform/storage/filewriter.h"
#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

using Settings = std::function<void(AxisSettings &)>;
using Act = std::function<void(TransmitRig &)>;

Settings esc(int neutral, int forward, int back)
{
    return [=](AxisSettings &s) {
        s.escMode = 2;
        s.escNeutral = neutral;
        s.escFullForward = forward;
        s.escFullReverse = back;
    };
}

Settings pit(int value)
{
    return [=](AxisSettings &s) { s.pitLimiterEnabled = true; s.pitLimiterValue = value; };
}

Settings gearLimit(int percent)
{
    return [=](AxisSettings &s) { s.gearThrottleLimitEnabled = true; s.gearThrottleLimitPercent.fill(percent); };
}

Settings reverse(int max, int button = -1)
{
    return [=](AxisSettings &s) { s.reverseEnabled = true; s.reverseMaxPercent = max; s.reverseButtonIndex = button; };
}

Settings softStart(int seconds)
{
    return [=](AxisSettings &s) { s.softStartEnabled = true; s.softStartDurationSec = seconds; };
}

Settings decel(int rate)
{
    return [=](AxisSettings &s) { s.smoothDeceleration = true; s.decelRate = rate; };
}

Act ticks(int count)
{
    return [=](TransmitRig &rig) { rig.tick(count); };
}

// Starts a car in this gear (1..7, -1 reverse; 0 without a shifter) with the pedals pressed
// fully when above 0; a pedal below 1 reads exactly its value, its output range pinned to it.
bool startCar(TransmitRig &rig, const Settings &change, int gear, float throttle, float brake, float wheel = 0)
{
    AxisSettings s = TransmitRig::plainSettings();
    if (change)
        change(s);
    if (throttle > 0.0f && throttle < 1.0f)
        s.throttle.minOutput = s.throttle.maxOutput = throttle;
    if (brake > 0.0f && brake < 1.0f)
        s.brake.minOutput = s.brake.maxOutput = brake;
    if (!rig.startCar(s, gear != 0))
        return false;
    if (gear != 0)
        rig.setButton(rig.shifter, gear == -1 ? 7 : gear - 1, true);
    rig.wheel->setAxis(0, wheel);
    rig.pedals->setAxis(1, throttle > 0.0f ? 1.0f : -1.0f);
    rig.pedals->setAxis(2, brake > 0.0f ? 1.0f : -1.0f);
    return rig.controller->currentGear() == gear;
}

// The channel values and end points of the car controls, in the order of the test tables.
constexpr int AxisSettings::*EndPointFields[] = {&AxisSettings::escNeutral, &AxisSettings::escFullForward,
    &AxisSettings::escFullReverse, &AxisSettings::steeringLeft, &AxisSettings::steeringCenter,
    &AxisSettings::steeringRight, &AxisSettings::pitLimiterValue};
const char *const EndPointKeys[] = {"escNeutral", "escFullForward", "escFullReverse", "steeringLeft",
    "steeringCenter", "steeringRight", "pitLimiterValue"};
constexpr int IntMax = std::numeric_limits<int>::max();
constexpr int IntMin = std::numeric_limits<int>::min();

bool within(int value, std::initializer_list<int> ends)
{
    return value >= std::min(ends) && value <= std::max(ends);
}

} // namespace

Q_DECLARE_METATYPE(Settings)
Q_DECLARE_METATYPE(Act)

class TestCarTick : public QObject
{
    Q_OBJECT

private slots:
    void steering_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<float>("wheel");
        QTest::addColumn<int>("ch1");
        const Settings none;
        const Settings endPoints = [](AxisSettings &s) {
            s.steeringLeft = 1000;
            s.steeringCenter = 1500;
            s.steeringRight = 2000;
            s.steering.deadzone = 0.5f;
        };
        QTest::newRow("full left") << none << -1.0f << 0;
        const Settings deadZone = [](AxisSettings &s) { s.steering.deadzone = 0.5f; };
        QTest::newRow("dead zone swallows a small turn") << deadZone << 0.3f << 1023;
        QTest::newRow("half the rotation reaches full lock")
            << Settings([](AxisSettings &s) { s.steeringAngleDeg = 450; }) << 0.6f << 2047;
        QTest::newRow("custom end points, full left") << endPoints << -1.0f << 1000;
        QTest::newRow("calibrated half travel is full lock") << Settings([](AxisSettings &s) {
            s.steering.useCalibration = true;
            s.steering.inputMin = -0.5f;
            s.steering.inputMax = 0.5f;
        }) << 0.6f << 2047;
    }

    void steering()
    {
        QFETCH(Settings, settings);
        QFETCH(float, wheel);
        QFETCH(int, ch1);
        TransmitRig rig;
        QVERIFY(startCar(rig, settings, 0, 0, 0, wheel));
        rig.tick(2);
        QCOMPARE(rig.ch(0), ch1);
    }

    void throttle_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<int>("gear");
        QTest::addColumn<float>("throttle");
        QTest::addColumn<float>("brake");
        QTest::addColumn<Act>("act"); // after the start; without one the car ticks twice
        QTest::addColumn<int>("ch2");
        const auto row = [](const char *name, const Settings &settings, int gear, float throttle, float brake,
                            const Act &act, int ch2) {
            QTest::newRow(name) << settings << gear << throttle << brake << (act ? act : ticks(2)) << ch2;
        };
        const Settings none;
        const Act twice;
        const Act noReverse = [](TransmitRig &rig) { rig.controller->setLoungeReverseAllowed(false); rig.tick(2); };
        const Act speedCap = [](TransmitRig &rig) { rig.controller->setLoungeSpeedCap(true, 50); rig.tick(2); };
        const Act releaseAndPress = [](TransmitRig &rig) {
            rig.tick(20);
            rig.releasePedals();
            rig.tick();
            rig.pedals->setAxis(1, 1.0f);
            rig.tick();
        };
        const Act unplug = [](TransmitRig &rig) {
            rig.tick();
            rig.pedals->unplug();
            rig.tick();
            QCOMPARE(rig.ch(1), 992);
            rig.tick(50);
        };
        const Act letGo = [](TransmitRig &rig) { rig.tick(); rig.releasePedals(); rig.tick(); };
        const Act reverseButton = [](TransmitRig &rig) { rig.setButton(rig.wheel, 9, true); };

        row("full throttle", none, 0, 1, 0, twice, 1811);
        row("throttle inside the dead band", none, 0, 0.0244f, 0, twice, 992);
        row("half throttle", none, 0, 0.5f, 0, twice, 1391);
        row("light brake halves the throttle", none, 0, 1, 0.05f, twice, 1391);
        row("brake 0.55 in single precision", none, 0, 0, 0.55f, twice, 581);
        row("pit limiter caps at its value", pit(1200), 0, 1, 0, twice, 1200);
        row("third gear at 50 percent", gearLimit(50), 3, 1, 0, twice, 1401);
        row("reverse limited to half", reverse(50), -1, 1, 0, twice, 582);
        row("negative reverse maximum never drives forward", reverse(-100), -1, 1, 0, twice, 992);
        row("lounge forbids reverse", reverse(100), -1, 1, 0, noReverse, 992);
        // An ESC set up reversed: forward lies below neutral, and the cap holds back that side.
        row("reversed ESC, speed cap, full throttle", esc(992, 172, 1811), 0, 1, 0, speedCap, 582);
        // 7 ms into 30 s: limit 0.10021, just above the floor of ten percent.
        row("soft start, first tick", softStart(30), 0, 1, 0, ticks(1), 1055);
        // More milliseconds than an int holds: still ramps from the floor.
        row("soft start of a very long duration", softStart(3000000), 0, 1, 0, ticks(10), 1055);
        const Settings stuck = [](AxisSettings &s) { s.stuckThrottleDetectionEnabled = true; };
        row("stuck throttle: pressed from the first tick, held", stuck, 0, 1, 0, ticks(20), 992);
        row("stuck throttle: released and pressed again", stuck, 0, 1, 0, releaseAndPress, 1811);
        row("pedals unplugged at full throttle: the next tick and on", none, 0, 1, 0, unplug, 992);
        row("smooth deceleration, first step", decel(20), 0, 1, 0, letGo, 1809);
        // A negative stored rate must not raise the throttle when the pedal is let go.
        row("negative deceleration rate coasts like rate 0", decel(-20), 0, 1, 0, letGo, 1804);
        row("reverse button pressed", reverse(100, 9), 0, 1, 0, reverseButton, 172);
    }

    void throttle()
    {
        QFETCH(Settings, settings);
        QFETCH(int, gear);
        QFETCH(float, throttle);
        QFETCH(float, brake);
        QFETCH(Act, act);
        QFETCH(int, ch2);
        TransmitRig rig;
        QVERIFY(startCar(rig, settings, gear, throttle, brake));
        act(rig);
        QCOMPARE(rig.ch(1), ch2);
        QVERIFY(rig.controller->isRunning());
        QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
        QCOMPARE(rig.tx.lastChannels()[1], ch2);
    }

    void throttleSpikeStopsAfterSendingNeutral()
    {
        TransmitRig rig;
        AxisSettings s = TransmitRig::plainSettings();
        s.throttleSpikeRejectionEnabled = true;
        QVERIFY(rig.startCar(s));
        rig.tick(3);
        rig.pedals->setAxis(1, 1.0f);
        rig.tick();
        QCOMPARE(rig.ch(1), 992);
        QVERIFY(rig.controller->isRunning()); // the stop waits until the tick has sent its frame
        QTRY_VERIFY(!rig.controller->isRunning());
        QCOMPARE(rig.lastError(),
                 QStringLiteral("Transmission stopped for safety: impossible throttle spike detected. "
                                "Verify the pedals and press Start Transmission again."));
        QVERIFY(rig.tx.waitForLine("STOP"));
        QCOMPARE(rig.tx.lastChannels()[1], 992);
        QCOMPARE(rig.tx.channelFrameCount(), 4);
    }

    // A profile edited by hand, or a record some caller stored as it stood: whatever the ESC and
    // steering end points, the car tick computes within range and the frames stay inside them.
    void handEditedEndPoints_data()
    {
        QTest::addColumn<bool>("fromFile"); // else stored in the store's record, past every reader
        QTest::addColumn<QList<int>>("endPoints"); // in the order of EndPointFields
        QTest::addColumn<int>("gearPercent");
        const QList<QList<int>> rows{{IntMax, IntMin, IntMax, IntMin, IntMax, IntMin, IntMax},
            {-5, -1000, -1, -300, -1, -2, -1200}, {2048, -1, 2048, -1, 2048, 2049, -1},
            {1500, 300, 1900, 1800, 1000, 200, 1000}};
        const char *const names[] = {"32-bit limits", "negative", "just outside", "inside, reversed"};
        const int gearPercents[] = {IntMax, IntMin, 101, 50};
        for (bool fromFile : {true, false}) {
            for (int i = 0; i < rows.size(); ++i) {
                QTest::addRow("%s, %s", fromFile ? "file" : "stored", names[i])
                    << fromFile << rows[i] << gearPercents[i];
            }
        }
    }

    void handEditedEndPoints()
    {
        QFETCH(bool, fromFile);
        QFETCH(QList<int>, endPoints);
        QFETCH(int, gearPercent);
        TransmitRig rig;
        corvane::ProfileManager *store = rig.controller->profileManager();
        QJsonObject axis{{"escMode", 2}, {"pitLimiterEnabled", true}, {"smoothDeceleration", true},
                         {"gearThrottleLimitEnabled", true}, {"softStartEnabled", false},
                         {"stuckThrottleDetectionEnabled", false}, {"throttleSpikeRejectionEnabled", false}};
        QJsonArray gearLimits;
        for (int gear = 0; gear < 7; ++gear)
            gearLimits.append(gearPercent);
        axis.insert("gearThrottleLimitPercent", gearLimits);
        for (int i = 0; i < endPoints.size(); ++i)
            axis.insert(EndPointKeys[i], endPoints[i]);
        const QJsonObject mapping{{"buttonIndex", 0}, {"channel", 3}, {"mode", 0}, {"outputValue", endPoints[0]},
                                  {"startValue", endPoints[1]}};
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QJsonObject document{{"id", id}, {"name", "Hand edited"}, {"axisSettings", axis},
                                   {"buttonMappings", QJsonArray{mapping}}};
        QVERIFY(ostratest::writesDone());
        QVERIFY(corvane::FileWriter::writeFile(store->profileFilePath(id), QJsonDocument(document).toJson()));
        store->loadProfiles();
        if (!fromFile) {
            AxisSettings &stored = store->mutableProfile(id)->axisSettings;
            for (int i = 0; i < endPoints.size(); ++i)
                stored.*EndPointFields[i] = endPoints[i];
            stored.gearThrottleLimitPercent.fill(gearPercent);
        }
        QVERIFY(store->setActiveProfile(id));
        QVERIFY(rig.connectCar(true, true));
        QVERIFY(rig.start());
        rig.setButton(rig.shifter, 2, true);
        QCOMPARE(rig.controller->currentGear(), 3);

        int limited[7];
        for (int i = 0; i < 7; ++i)
            limited[i] = std::clamp(endPoints[i], 0, 2047);
        if (fromFile) {
            for (int i = 0; i < 7; ++i)
                QCOMPARE(rig.controller->axisSettings().*EndPointFields[i], limited[i]);
        }
        const auto [neutral, forward, reverse, left, center, right, pit] = limited;
        Q_UNUSED(pit)
        for (float wheel : {-1.0f, -0.4f, 0.0f, 0.7f, 1.0f}) {
            for (const auto &[throttle, brake] : {std::pair(1.0f, -1.0f), std::pair(-1.0f, 1.0f),
                                                  std::pair(-1.0f, -1.0f), std::pair(1.0f, 0.0f)}) {
                rig.wheel->setAxis(0, wheel);
                rig.pedals->setAxis(1, throttle);
                rig.pedals->setAxis(2, brake);
                rig.tick(3);
                QVERIFY2(within(rig.ch(0), {left, center, right}), qPrintable(QString::number(rig.ch(0))));
                QVERIFY2(within(rig.ch(1), {neutral, forward, reverse}), qPrintable(QString::number(rig.ch(1))));
                if (fromFile)
                    QVERIFY(within(rig.ch(3), {0, 2047}));
                QVERIFY(rig.tx.waitForChannelFrames(int(rig.controller->frameCount())));
                const auto sent = rig.tx.lastChannels();
                QCOMPARE(sent[0], rig.ch(0));
                QCOMPARE(sent[1], rig.ch(1));
            }
        }
        // Every frame arrived whole: the transmitter counts only frames with a good checksum.
        QCOMPARE(rig.tx.channelFrameCount(), int(rig.controller->frameCount()));
        QVERIFY(rig.controller->isRunning());
    }

    // What the mobile app or a dialog passes to the setters is held within 0..2047 too, in the
    // controller's working copy and in the saved profile.
    void settersLimitChannelValues_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("kept");
        QTest::newRow("32-bit maximum") << IntMax << 2047;
        QTest::newRow("32-bit minimum") << IntMin << 0;
        QTest::newRow("just below") << -1 << 0;
        QTest::newRow("just above") << 2048 << 2047;
        QTest::newRow("inside") << 1500 << 1500;
    }

    void settersLimitChannelValues()
    {
        QFETCH(int, value);
        QFETCH(int, kept);
        TransmitRig rig;
        corvane::CorvaneController *controller = rig.controller.get();
        AxisSettings settings;
        for (int AxisSettings::*field : EndPointFields)
            settings.*field = value;
        QVERIFY(controller->setAxisSettings(settings));
        ButtonMappingSet mappings;
        ButtonMapping mapping = TransmitRig::buttonMapping(0, 4, 1, value, value);
        mapping.minValue = mapping.maxValue = value;
        mappings.mappings = {mapping};
        QVERIFY(controller->setButtonMappings(mappings));

        QVERIFY(ostratest::writesDone());
        QFile file(controller->profileManager()->profileFilePath(controller->profileManager()->activeProfileId()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const Profile saved = Profile::fromJson(QJsonDocument::fromJson(file.readAll()).object());
        for (const AxisSettings &s : {controller->axisSettings(), controller->profileManager()->axisSettings(),
                                      saved.axisSettings}) {
            for (int AxisSettings::*field : EndPointFields)
                QCOMPARE(s.*field, kept);
        }
        for (const ButtonMappingSet &set : {controller->buttonMappings(),
                                            controller->profileManager()->buttonMappings(), saved.buttonMappings}) {
            const ButtonMapping &m = set.mappings.at(0);
            QCOMPARE(m.outputValue, kept);
            QCOMPARE(m.minValue, kept);
            QCOMPARE(m.maxValue, kept);
            QCOMPARE(m.startValue, kept);
        }

        // The store holds the same limits for whoever sets its records directly.
        corvane::ProfileManager *store = controller->profileManager();
        store->setAxisSettings(settings);
        store->setButtonMappings(mappings);
        for (int AxisSettings::*field : EndPointFields)
            QCOMPARE(store->axisSettings().*field, kept);
        QCOMPARE(store->buttonMappings().mappings.at(0).outputValue, kept);

        controller->setSteeringCalibration(value, value, value);
        const AxisSettings live = controller->axisSettings();
        QCOMPARE(live.steeringLeft, kept);
        QCOMPARE(live.steeringCenter, kept);
        QCOMPARE(live.steeringRight, kept);
    }

    // Whoever hears of reverse mode during a tick may stop the car: that tick's frame must not
    // follow the "STOP".
    void stopDuringTickSendsNoFrame()
    {
        TransmitRig rig;
        QVERIFY(startCar(rig, reverse(100, 9), 0, 0, 0));
        rig.tick();
        QObject::connect(rig.controller.get(), &corvane::CorvaneController::reverseModeChanged,
                         rig.controller.get(), &corvane::CorvaneController::stopTransmissionAndHold);
        rig.setButton(rig.wheel, 9, true);
        QVERIFY(rig.tx.waitForLine("STOP"));
        QVERIFY(rig.tx.rawReceived().endsWith("STOP\n"));
        QCOMPARE(rig.tx.channelFrameCount(), int(rig.controller->frameCount()));
    }
};

OSTRA_TEST_MAIN_CORE(TestCarTick)
#include "tst_cartick.moc"
