#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include "support/testenvironment.h"
#include "transmitrig.h"

using ostratest::TransmitRig;

namespace {

void invoke(corvane::CorvaneController *controller, const char *slot, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QMetaObject::invokeMethod(controller, slot, Qt::DirectConnection);
}

void pollTimes(corvane::InputDevice *device, int times)
{
    for (int i = 0; i < times; ++i)
        device->poll();
}

} // namespace

class TestButtonDetection : public QObject
{
    Q_OBJECT

private slots:
    void virtualButtons_data();
    void virtualButtons();
    void buttonDetection_data();
    void buttonDetection();
    void buttonDetectionRefusals_data();
    void buttonDetectionRefusals();
    void gearDetectionStoresMapping();
    void gearDetectionFailures_data();
    void gearDetectionFailures();
    void currentGear_data();
    void currentGear();
    void detectionStateName_data();
    void detectionStateName();
};

void TestButtonDetection::virtualButtons_data()
{
    QTest::addColumn<QString>("kind"); // "button", "hat <n>", "axis", "pedal"
    QTest::addColumn<int>("value");    // button index, hat hundredths, axis position in percent
    QTest::addColumn<QList<int>>("pressed");
    QTest::addColumn<QList<int>>("released");

    QTest::newRow("button") << "button" << 5 << QList<int>{5} << QList<int>{4, 6, 128, 144};
    QTest::newRow("hat up-right presses both") << "hat 0" << 4500 << QList<int>{128, 129} << QList<int>{130, 131};
    QTest::newRow("hat right") << "hat 0" << 9000 << QList<int>{129} << QList<int>{128, 130, 131};
    QTest::newRow("hat up-left") << "hat 0" << 31500 << QList<int>{128, 131} << QList<int>{129, 130};
    QTest::newRow("hat down") << "hat 0" << 18000 << QList<int>{130} << QList<int>{128, 129, 131};
    QTest::newRow("hat centred") << "hat 0" << -1 << QList<int>{} << QList<int>{128, 129, 130, 131};
    QTest::newRow("second hat down") << "hat 1" << 18000 << QList<int>{134} << QList<int>{130};
    QTest::newRow("centred axis pushed") << "axis" << 60 << QList<int>{148} << QList<int>{149};
    QTest::newRow("centred axis pulled") << "axis" << -70 << QList<int>{149} << QList<int>{148};
    QTest::newRow("centred axis short of half") << "axis" << 40 << QList<int>{} << QList<int>{148, 149};
    QTest::newRow("pedal never") << "pedal" << 100 << QList<int>{} << QList<int>{148, 149};
    QTest::newRow("outside the space") << "button" << 0 << QList<int>{0} << QList<int>{-1, 160, 200, 400};
}

void TestButtonDetection::virtualButtons()
{
    QFETCH(QString, kind);
    QFETCH(int, value);
    QFETCH(QList<int>, pressed);
    QFETCH(QList<int>, released);

    TransmitRig rig;
    corvane::InputDevice *device = rig.controller->shifter();
    QVERIFY(device->open(TransmitRig::ShifterPos));
    if (kind == "button") {
        rig.shifter->setButton(value, true);
    } else if (kind.startsWith("hat")) {
        const int hat = kind.section(' ', 1).toInt();
        if (value < 0)
            rig.shifter->centrePov(hat);
        else
            rig.shifter->setPov(hat, quint32(value));
    } else {
        // Axis 2: live once moved, then at rest at its centre (a stick) or an end (a pedal).
        const float rest = kind == "axis" ? 0.0f : -1.0f;
        rig.shifter->setAxis(2, 1.0f);
        device->poll();
        rig.shifter->setAxis(2, rest);
        pollTimes(device, 20);
        rig.shifter->setAxis(2, value / 100.0f);
    }
    pollTimes(device, 4);
    for (int number : pressed)
        QVERIFY2(corvane::CorvaneController::isVirtualButtonPressed(device, number), qPrintable(QString::number(number)));
    for (int number : released)
        QVERIFY2(!corvane::CorvaneController::isVirtualButtonPressed(device, number), qPrintable(QString::number(number)));
    QVERIFY(!corvane::CorvaneController::isVirtualButtonPressed(nullptr, 0));
}

void TestButtonDetection::buttonDetection_data()
{
    QTest::addColumn<int>("heldAtStart");
    QTest::addColumn<QList<int>>("pressed");
    QTest::addColumn<bool>("releaseHeldAndPressAgain");
    QTest::addColumn<int>("expected");

    QTest::newRow("first press") << -1 << QList<int>{7} << false << 7;
    QTest::newRow("lower of two wins") << -1 << QList<int>{12, 4} << false << 4;
    QTest::newRow("held at start is skipped") << 3 << QList<int>{9} << false << 9;
    QTest::newRow("held at start counts after release") << 3 << QList<int>{} << true << 3;
}

void TestButtonDetection::buttonDetection()
{
    QFETCH(int, heldAtStart);
    QFETCH(QList<int>, pressed);
    QFETCH(bool, releaseHeldAndPressAgain);
    QFETCH(int, expected);

    TransmitRig rig;
    QVERIFY(rig.controller->wheelBase()->open(TransmitRig::WheelPos));
    if (heldAtStart >= 0) {
        rig.wheel->setButton(heldAtStart, true);
        pollTimes(rig.controller->wheelBase(), 4);
    }
    QSignalSpy started(rig.controller.get(), &corvane::CorvaneController::buttonDetectionStarted);
    QSignalSpy result(rig.controller.get(), &corvane::CorvaneController::buttonDetectionResult);
    rig.controller->startButtonDetection(QStringLiteral("wheelbase"));
    QCOMPARE(started.count(), 1);
    QCOMPARE(started.first().at(0).toString(), QStringLiteral("wheelbase"));

    invoke(rig.controller.get(), "onButtonDetectionPoll", 6);
    QCOMPARE(result.count(), 0); // the held button is not an answer

    for (int button : pressed)
        rig.wheel->setButton(button, true);
    if (releaseHeldAndPressAgain) {
        rig.wheel->setButton(heldAtStart, false);
        invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
        QCOMPARE(result.count(), 0);
        rig.wheel->setButton(heldAtStart, true);
    }
    invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
    QCOMPARE(result.count(), 1);
    QCOMPARE(result.first().at(0).toInt(), expected);
    QCOMPARE(result.first().at(1).toBool(), true);

    // Finished: neither the poll nor the time-out answer again.
    invoke(rig.controller.get(), "onButtonDetectionPoll");
    invoke(rig.controller.get(), "onButtonDetectionTimeout");
    QCOMPARE(result.count(), 1);
}

void TestButtonDetection::buttonDetectionRefusals_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("event"); // what happens after the start
    QTest::addColumn<bool>("started");

    QTest::newRow("unknown role") << "Wheelbase" << "" << false;
    QTest::newRow("device not connected") << "pedals" << "" << false;
    QTest::newRow("time-out") << "wheelbase" << "timeout" << true;
    QTest::newRow("device lost") << "wheelbase" << "unplug" << true;
}

void TestButtonDetection::buttonDetectionRefusals()
{
    QFETCH(QString, role);
    QFETCH(QString, event);
    QFETCH(bool, started);

    TransmitRig rig;
    QVERIFY(rig.controller->wheelBase()->open(TransmitRig::WheelPos));
    QSignalSpy startedSpy(rig.controller.get(), &corvane::CorvaneController::buttonDetectionStarted);
    QSignalSpy result(rig.controller.get(), &corvane::CorvaneController::buttonDetectionResult);
    rig.controller->startButtonDetection(role);
    QCOMPARE(startedSpy.count(), started ? 1 : 0);
    if (event == "timeout") {
        invoke(rig.controller.get(), "onButtonDetectionTimeout");
    } else if (event == "unplug") {
        rig.wheel->unplug();
        invoke(rig.controller.get(), "onButtonDetectionPoll", 2);
    }
    QCOMPARE(result.count(), 1);
    QCOMPARE(result.first(), (QVariantList{-1, false}));
    rig.wheel->replug();
    invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
    QCOMPARE(result.count(), 1);
}

void TestButtonDetection::gearDetectionStoresMapping()
{
    {
        TransmitRig rig;
        QVERIFY(rig.controller->shifter()->open(TransmitRig::ShifterPos));
        // The identity a connect stores: a slot without one is not written to the file.
        DeviceConnection slot;
        slot.productName = rig.controller->shifter()->productName();
        rig.controller->profileManager()->setShifterDevice(slot);
        QSignalSpy started(rig.controller.get(), &corvane::CorvaneController::shifterDetectionStarted);
        QSignalSpy result(rig.controller.get(), &corvane::CorvaneController::shifterDetectionResult);
        QSignalSpy changed(rig.controller.get(), &corvane::CorvaneController::shifterMappingChanged);
        rig.controller->startShifterDetection(4);
        QCOMPARE(started.count(), 1);
        invoke(rig.controller.get(), "onShifterDetectionPoll", 3);
        QCOMPARE(result.count(), 0);
        rig.shifter->setButton(11, true);
        invoke(rig.controller.get(), "onShifterDetectionPoll", 4);
        QCOMPARE(result.count(), 1);
        QCOMPARE(result.first(), (QVariantList{4, 11, true}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(rig.controller->shifterMapping()[4], 11);
        invoke(rig.controller.get(), "onShifterDetectionTimeout");
        QCOMPARE(result.count(), 1);
        rig.controller.reset();
    }
    // Saved at once in the active profile's file.
    corvane::CorvaneController controller;
    const DeviceConnection shifter = controller.profileManager()->deviceConnections().shifter;
    QVERIFY(shifter.hasCustomShifterMapping);
    QCOMPARE(shifter.shifterMapping[4], 11);
    QCOMPARE(shifter.shifterMapping[1], 7);
}

void TestButtonDetection::gearDetectionFailures_data()
{
    QTest::addColumn<int>("gear");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QVariantList>("result"); // empty: no signal at all

    QTest::newRow("index beyond the table") << 9 << true << "" << QVariantList{};
    QTest::newRow("negative index") << -1 << true << "" << QVariantList{};
    QTest::newRow("no shifter") << 2 << false << "" << QVariantList{2, -1, false};
    QTest::newRow("time-out") << 3 << true << "timeout" << QVariantList{3, -1, false};
    // The answer names the gear being detected, as the time-out does.
    QTest::newRow("shifter lost") << 5 << true << "unplug" << QVariantList{5, -1, false};
    QTest::newRow("cancelled") << 6 << true << "cancel" << QVariantList{};
}

void TestButtonDetection::gearDetectionFailures()
{
    QFETCH(int, gear);
    QFETCH(bool, connected);
    QFETCH(QString, event);
    QFETCH(QVariantList, result);

    TransmitRig rig;
    if (connected)
        QVERIFY(rig.controller->shifter()->open(TransmitRig::ShifterPos));
    QSignalSpy spy(rig.controller.get(), &corvane::CorvaneController::shifterDetectionResult);
    QSignalSpy started(rig.controller.get(), &corvane::CorvaneController::shifterDetectionStarted);
    rig.controller->startShifterDetection(gear);
    if (event == "timeout") {
        invoke(rig.controller.get(), "onShifterDetectionTimeout");
    } else if (event == "unplug") {
        invoke(rig.controller.get(), "onShifterDetectionPoll");
        rig.shifter->unplug();
        invoke(rig.controller.get(), "onShifterDetectionPoll", 2);
    } else if (event == "cancel") {
        rig.controller->cancelShifterDetection();
        rig.shifter->setButton(1, true);
        invoke(rig.controller.get(), "onShifterDetectionPoll", 5);
        invoke(rig.controller.get(), "onShifterDetectionTimeout");
    }
    if (result.isEmpty()) {
        QCOMPARE(spy.count(), 0);
    } else {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first(), result);
    }
    QCOMPARE(started.count(), (connected && gear >= 0 && gear <= 8) ? 1 : 0);
    QCOMPARE(rig.controller->shifterMapping().buttonIndex, ShifterMapping().buttonIndex);
}

void TestButtonDetection::currentGear_data()
{
    QTest::addColumn<QList<int>>("mapping"); // empty: the default table
    QTest::addColumn<QList<int>>("down");
    QTest::addColumn<float>("lever");
    QTest::addColumn<int>("expected");

    QTest::newRow("nothing engaged") << QList<int>{} << QList<int>{} << 0.0f << 0;
    QTest::newRow("third gear") << QList<int>{} << QList<int>{2} << 0.0f << 3;
    QTest::newRow("seventh gear") << QList<int>{} << QList<int>{6} << 0.0f << 7;
    QTest::newRow("reverse") << QList<int>{} << QList<int>{7} << 0.0f << -1;
    QTest::newRow("reverse before gears") << QList<int>{} << QList<int>{7, 1} << 0.0f << -1;
    QTest::newRow("neutral wins") << QList<int>{10, 7, 0, 1, 2, 3, 4, 5, 6} << QList<int>{10, 2} << 0.0f << 0;
    // Gears are shifter buttons: a hat direction's number engages nothing.
    QTest::newRow("hat number is no gear") << QList<int>{-1, 7, 129, -1, -1, -1, -1, -1, -1} << QList<int>{129} << 0.0f << 0;
    const QList<int> noGears{-1, 7, -1, -1, -1, -1, -1, -1, -1};
    QTest::newRow("sequential lever back") << noGears << QList<int>{} << 0.8f << -1;
    QTest::newRow("sequential lever forward") << noGears << QList<int>{} << -0.8f << 1;
    QTest::newRow("sequential lever centred") << noGears << QList<int>{} << 0.2f << 0;
    QTest::newRow("only reverse assigned reads the lever") << noGears << QList<int>{7} << 0.8f << -1;
}

void TestButtonDetection::currentGear()
{
    QFETCH(QList<int>, mapping);
    QFETCH(QList<int>, down);
    QFETCH(float, lever);
    QFETCH(int, expected);

    TransmitRig rig;
    QCOMPARE(rig.controller->currentGear(), 0);
    QVERIFY(rig.controller->shifter()->open(TransmitRig::ShifterPos));
    TransmitRig::wake(rig.shifter, rig.controller->shifter());
    if (!mapping.isEmpty()) {
        ShifterMapping table;
        for (int i = 0; i < ShifterMapping::Size; ++i)
            table[i] = mapping.at(i);
        rig.controller->setShifterMapping(table);
    }
    for (int button : down) {
        if (button >= 128)
            rig.shifter->setPov(0, 9000);
        else
            rig.shifter->setButton(button, true);
    }
    rig.shifter->setAxis(1, lever);
    for (int i = 0; i < 4; ++i)
        rig.controller->updateCurrentGear();
    QCOMPARE(rig.controller->currentGear(), expected);

    rig.shifter->unplug();
    rig.controller->updateCurrentGear();
    rig.controller->updateCurrentGear();
    QCOMPARE(rig.controller->currentGear(), 0);
}

void TestButtonDetection::detectionStateName_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("name");
    QTest::newRow("1") << 1 << "checking";
    QTest::newRow("2") << 2 << "detected";
    QTest::newRow("3") << 3 << "missing";
    QTest::newRow("0") << 0 << "unknown";
    QTest::newRow("7") << 7 << "unknown";
}

void TestButtonDetection::detectionStateName()
{
    QFETCH(int, state);
    QFETCH(QString, name);
    QCOMPARE(corvane::CorvaneController::detectionStateName(state), name);
}

OSTRA_TEST_MAIN_CORE(TestButtonDetection)
#include "tst_buttondetection.moc"
