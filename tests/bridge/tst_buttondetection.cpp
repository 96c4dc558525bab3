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
    void virtualButtons_data()
    {
        QTest::addColumn<QString>("kind"); // "button", "hat <n>", "axis", "pedal"
        QTest::addColumn<int>("value");    // button index, hat hundredths, axis position in percent
        QTest::addColumn<QList<int>>("pressed");
        QTest::addColumn<QList<int>>("released");

        QTest::newRow("button") << "button" << 5 << QList<int>{5} << QList<int>{4, 6, 128, 144};
        QTest::newRow("hat up-right presses both") << "hat 0" << 4500 << QList<int>{128, 129} << QList<int>{130, 131};
        QTest::newRow("hat right") << "hat 0" << 9000 << QList<int>{129} << QList<int>{128, 130, 131};
        QTest::newRow("hat up-left") << "hat 0" << 31500 << QList<int>{128, 131} << QList<int>{129, 130};
        QTest::newRow("hat centred") << "hat 0" << -1 << QList<int>{} << QList<int>{128, 129, 130, 131};
        QTest::newRow("second hat down") << "hat 1" << 18000 << QList<int>{134} << QList<int>{130};
        QTest::newRow("centred axis pushed") << "axis" << 60 << QList<int>{148} << QList<int>{149};
        QTest::newRow("centred axis pulled") << "axis" << -70 << QList<int>{149} << QList<int>{148};
        QTest::newRow("centred axis short of half") << "axis" << 40 << QList<int>{} << QList<int>{148, 149};
        QTest::newRow("pedal never") << "pedal" << 100 << QList<int>{} << QList<int>{148, 149};
        QTest::newRow("outside the space") << "button" << 0 << QList<int>{0} << QList<int>{-1, 160, 200, 400};
    }

    void virtualButtons()
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
            rig.shifter->setAxis(2, 1.0f);
            device->poll();
            rig.shifter->setAxis(2, kind == "axis" ? 0.0f : -1.0f);
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

    void buttonDetection_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<int>("heldAtStart");
        QTest::addColumn<QList<int>>("pressed");
        QTest::addColumn<QString>("event"); // after the presses
        QTest::addColumn<QVariantList>("result");

        const QVariantList none{-1, false};
        QTest::newRow("first press") << "wheelbase" << -1 << QList<int>{7} << "" << QVariantList{7, true};
        QTest::newRow("lower of two wins") << "wheelbase" << -1 << QList<int>{12, 4} << "" << QVariantList{4, true};
        QTest::newRow("held at start is skipped") << "wheelbase" << 3 << QList<int>{9} << "" << QVariantList{9, true};
        QTest::newRow("held at start counts after release")
            << "wheelbase" << 3 << QList<int>{} << "releaseHeld" << QVariantList{3, true};
        QTest::newRow("unknown role") << "Wheelbase" << -1 << QList<int>{} << "" << none;
        QTest::newRow("device not connected") << "pedals" << -1 << QList<int>{} << "" << none;
        QTest::newRow("time-out") << "wheelbase" << -1 << QList<int>{} << "timeout" << none;
        QTest::newRow("device lost") << "wheelbase" << -1 << QList<int>{} << "unplug" << none;
    }

    void buttonDetection()
    {
        QFETCH(QString, role);
        QFETCH(int, heldAtStart);
        QFETCH(QList<int>, pressed);
        QFETCH(QString, event);
        QFETCH(QVariantList, result);

        TransmitRig rig;
        QVERIFY(rig.controller->wheelBase()->open(TransmitRig::WheelPos));
        if (heldAtStart >= 0) {
            rig.wheel->setButton(heldAtStart, true);
            pollTimes(rig.controller->wheelBase(), 4);
        }
        QSignalSpy started(rig.controller.get(), &corvane::CorvaneController::buttonDetectionStarted);
        QSignalSpy results(rig.controller.get(), &corvane::CorvaneController::buttonDetectionResult);
        rig.controller->startButtonDetection(role);
        QCOMPARE(started.count(), role == "wheelbase" ? 1 : 0);
        invoke(rig.controller.get(), "onButtonDetectionPoll", 6);
        if (role == "wheelbase")
            QCOMPARE(results.count(), 0); // a button held at the start is not an answer

        for (int button : pressed)
            rig.wheel->setButton(button, true);
        if (event == "releaseHeld") {
            rig.wheel->setButton(heldAtStart, false);
            invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
            QCOMPARE(results.count(), 0);
            rig.wheel->setButton(heldAtStart, true);
        } else if (event == "timeout") {
            invoke(rig.controller.get(), "onButtonDetectionTimeout");
        } else if (event == "unplug") {
            rig.wheel->unplug();
        }
        invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
        QCOMPARE(results.count(), 1);
        QCOMPARE(results.first(), result);

        // Finished: neither the poll nor the time-out answer again.
        rig.wheel->replug();
        rig.wheel->setButton(1, true);
        invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
        invoke(rig.controller.get(), "onButtonDetectionTimeout");
        QCOMPARE(results.count(), 1);
    }

    void gearDetection_data()
    {
        QTest::addColumn<int>("gear");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QVariantList>("result"); // empty: no signal at all

        QTest::newRow("button found and stored") << 4 << true << "press" << QVariantList{4, 11, true};
        QTest::newRow("index beyond the table") << 9 << true << "" << QVariantList{};
        QTest::newRow("negative index") << -1 << true << "" << QVariantList{};
        QTest::newRow("no shifter") << 2 << false << "" << QVariantList{2, -1, false};
        QTest::newRow("time-out") << 3 << true << "timeout" << QVariantList{3, -1, false};
        // The answer names the gear being detected, as the time-out does.
        QTest::newRow("shifter lost") << 5 << true << "unplug" << QVariantList{5, -1, false};
        QTest::newRow("cancelled") << 6 << true << "cancel" << QVariantList{};
    }

    void gearDetection()
    {
        QFETCH(int, gear);
        QFETCH(bool, connected);
        QFETCH(QString, event);
        QFETCH(QVariantList, result);

        TransmitRig rig;
        if (connected) {
            QVERIFY(rig.controller->shifter()->open(TransmitRig::ShifterPos));
            // The identity a connect stores: a slot without one is not written to the file.
            DeviceConnection slot;
            slot.productName = rig.controller->shifter()->productName();
            rig.controller->profileManager()->setShifterDevice(slot);
        }
        QSignalSpy started(rig.controller.get(), &corvane::CorvaneController::shifterDetectionStarted);
        QSignalSpy results(rig.controller.get(), &corvane::CorvaneController::shifterDetectionResult);
        QSignalSpy changed(rig.controller.get(), &corvane::CorvaneController::shifterMappingChanged);
        rig.controller->startShifterDetection(gear);
        QCOMPARE(started.count(), (connected && gear >= 0 && gear <= 8) ? 1 : 0);
        invoke(rig.controller.get(), "onShifterDetectionPoll", 3);
        QCOMPARE(results.count(), connected ? 0 : 1);
        if (event == "press") {
            rig.shifter->setButton(11, true);
        } else if (event == "timeout") {
            invoke(rig.controller.get(), "onShifterDetectionTimeout");
        } else if (event == "unplug") {
            rig.shifter->unplug();
        } else if (event == "cancel") {
            rig.controller->cancelShifterDetection();
            rig.shifter->setButton(1, true);
        }
        invoke(rig.controller.get(), "onShifterDetectionPoll", 5);
        invoke(rig.controller.get(), "onShifterDetectionTimeout");
        QCOMPARE(results.count(), result.isEmpty() ? 0 : 1);
        if (!result.isEmpty())
            QCOMPARE(results.first(), result);
        QCOMPARE(changed.count(), event == "press" ? 1 : 0);
        QCOMPARE(rig.controller->shifterMapping()[4], event == "press" ? 11 : ShifterMapping()[4]);

        // Saved at once in the active profile's file.
        rig.controller.reset();
        const DeviceConnection shifter = corvane::CorvaneController().profileManager()->deviceConnections().shifter;
        QCOMPARE(shifter.hasCustomShifterMapping, event == "press");
        if (event == "press") {
            QCOMPARE(shifter.shifterMapping[4], 11);
            QCOMPARE(shifter.shifterMapping[1], 7);
        }
    }

    void currentGear_data()
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

    void currentGear()
    {
        QFETCH(QList<int>, mapping);
        QFETCH(QList<int>, down);
        QFETCH(float, lever);
        QFETCH(int, expected);

        TransmitRig rig;
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

        rig.shifter->unplug(); // a lost shifter engages nothing
        rig.controller->updateCurrentGear();
        rig.controller->updateCurrentGear();
        QCOMPARE(rig.controller->currentGear(), 0);
    }
};

OSTRA_TEST_MAIN_CORE(TestButtonDetection)
#include "tst_buttondetection.moc"
