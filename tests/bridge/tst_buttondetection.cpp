#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include "support/testenvironment.h"
#include "transmitrig.h"

using corvane::CorvaneController;
using ostratest::TransmitRig;

namespace {

void invoke(CorvaneController *controller, const char *slot, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QMetaObject::invokeMethod(controller, slot, Qt::DirectConnection);
}

} // namespace

class TestButtonDetection : public QObject
{
    Q_OBJECT

private slots:
    // Buttons, hat directions (a diagonal presses both) and the halves of a centred stick.
    void virtualButtons()
    {
        TransmitRig rig;
        corvane::InputDevice *device = rig.controller->shifter();
        QVERIFY(device->open(TransmitRig::ShifterPos));
        TransmitRig::wake(rig.shifter, device);
        for (int i = 0; i < 20; ++i) // a stick at rest at its centre splits into two halves
            device->poll();
        rig.shifter->setButton(5, true);
        rig.shifter->setPov(0, 4500);
        rig.shifter->setAxis(2, 0.6f);
        for (int i = 0; i < 4; ++i)
            device->poll();
        for (int number : {5, 128, 129, 148})
            QVERIFY2(CorvaneController::isVirtualButtonPressed(device, number), qPrintable(QString::number(number)));
        for (int number : {-1, 4, 130, 131, 149, 160, 400})
            QVERIFY2(!CorvaneController::isVirtualButtonPressed(device, number), qPrintable(QString::number(number)));
    }

    // A button held when detection starts is no answer; the lower of two new ones is, and a
    // lost device ends detection without one.
    void buttonDetection()
    {
        TransmitRig rig;
        QVERIFY(rig.controller->wheelBase()->open(TransmitRig::WheelPos));
        rig.wheel->setButton(3, true);
        for (int i = 0; i < 4; ++i)
            rig.controller->wheelBase()->poll();
        QSignalSpy results(rig.controller.get(), &CorvaneController::buttonDetectionResult);
        rig.controller->startButtonDetection("wheelbase");
        invoke(rig.controller.get(), "onButtonDetectionPoll", 6);
        QCOMPARE(results.count(), 0);
        rig.wheel->setButton(12, true);
        rig.wheel->setButton(4, true);
        invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
        QCOMPARE(results, (QList<QVariantList>{{4, true}}));
        rig.controller->startButtonDetection("wheelbase");
        rig.wheel->unplug();
        invoke(rig.controller.get(), "onButtonDetectionPoll", 5);
        QCOMPARE(results.last(), (QVariantList{-1, false}));
    }

    void gearDetection_data()
    {
        QTest::addColumn<int>("gear");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QVariantList>("result");
        QTest::newRow("button found and stored") << 4 << "press" << QVariantList{4, 11, true};
        QTest::newRow("time-out") << 3 << "timeout" << QVariantList{3, -1, false};
        // The answer names the gear being detected, as the time-out does.
        QTest::newRow("shifter lost") << 5 << "unplug" << QVariantList{5, -1, false};
    }

    void gearDetection()
    {
        QFETCH(int, gear);
        QFETCH(QString, event);
        QFETCH(QVariantList, result);
        TransmitRig rig;
        QVERIFY(rig.controller->shifter()->open(TransmitRig::ShifterPos));
        // The identity a connect stores: a slot without one is not written to the file.
        DeviceConnection slot;
        slot.productName = rig.controller->shifter()->productName();
        rig.controller->profileManager()->setShifterDevice(slot);
        QSignalSpy results(rig.controller.get(), &CorvaneController::shifterDetectionResult);
        rig.controller->startShifterDetection(gear);
        invoke(rig.controller.get(), "onShifterDetectionPoll", 3);
        if (event == "press")
            rig.shifter->setButton(11, true);
        else if (event == "timeout")
            invoke(rig.controller.get(), "onShifterDetectionTimeout");
        else if (event == "unplug")
            rig.shifter->unplug();
        invoke(rig.controller.get(), "onShifterDetectionPoll", 5);
        invoke(rig.controller.get(), "onShifterDetectionTimeout");
        QCOMPARE(results.count(), 1);
        QCOMPARE(results.first(), result);
        // Saved at once in the active profile's file.
        rig.controller.reset();
        const DeviceConnection shifter = CorvaneController().profileManager()->deviceConnections().shifter;
        QCOMPARE(shifter.shifterMapping[4], event == "press" ? 11 : ShifterMapping()[4]);
    }

    // A gear table set is the one in use after a restart, after a switch of profiles and back, and
    // once a shifter is connected, also when it was set before any shifter was connected; one kept
    // for another product is not.
    void shifterMappingKept_data()
    {
        QTest::addColumn<int>("setWith"); // position of the shifter connected when it was set
        QTest::addColumn<bool>("switched");
        QTest::addColumn<bool>("inUseAtStart");
        QTest::addColumn<bool>("inUseConnected");
        QTest::newRow("set before any shifter was connected") << -1 << false << true << true;
        QTest::newRow("set with the shifter connected") << int(TransmitRig::ShifterPos) << false << false << true;
        QTest::newRow("set for another shifter") << int(TransmitRig::RudderPos) + 1 << false << false << false;
        QTest::newRow("set before any shifter, switched") << -1 << true << true << true;
        QTest::newRow("set with the shifter, switched") << int(TransmitRig::ShifterPos) << true << false << true;
    }

    void shifterMappingKept()
    {
        QFETCH(int, setWith);
        QFETCH(bool, switched);
        QFETCH(bool, inUseAtStart);
        QFETCH(bool, inUseConnected);
        TransmitRig rig;
        rig.input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Other Shifter"), 8, 16, 0));
        if (setWith >= 0)
            QVERIFY(rig.controller->connectShifter(setWith));
        ShifterMapping table;
        table[1] = 9;
        rig.controller->setShifterMapping(table);
        const auto inUse = [&] { return rig.controller->shifterMapping().buttonIndex == table.buttonIndex; };
        if (switched) { // to a profile with a table of its own and back
            corvane::ProfileManager *store = rig.controller->profileManager();
            const QString first = store->activeProfileId();
            QVERIFY(store->setActiveProfile(store->createProfile("Other")));
            rig.controller->setShifterMapping(ShifterMapping());
            QVERIFY(store->setActiveProfile(first) && inUse());
        }
        for (int start = 0; start < 2; ++start) {
            rig.controller = std::make_unique<CorvaneController>();
            QCOMPARE(inUse(), inUseAtStart && start == 0);
            QVERIFY(rig.controller->connectShifter(TransmitRig::ShifterPos));
            QCOMPARE(inUse(), inUseConnected);
        }
    }

    void currentGear_data()
    {
        QTest::addColumn<bool>("sequential"); // only reverse assigned: the lever shifts
        QTest::addColumn<QList<int>>("down");
        QTest::addColumn<float>("lever");
        QTest::addColumn<int>("expected");
        QTest::newRow("third gear") << false << QList<int>{2} << 0.0f << 3;
        QTest::newRow("reverse before gears") << false << QList<int>{7, 1} << 0.0f << -1;
        QTest::newRow("sequential lever back") << true << QList<int>{} << 0.8f << -1;
    }

    void currentGear()
    {
        QFETCH(bool, sequential);
        QFETCH(QList<int>, down);
        QFETCH(float, lever);
        QFETCH(int, expected);
        TransmitRig rig;
        QVERIFY(rig.controller->shifter()->open(TransmitRig::ShifterPos));
        TransmitRig::wake(rig.shifter, rig.controller->shifter());
        if (sequential) {
            ShifterMapping table;
            for (int i = 0; i < ShifterMapping::Size; ++i)
                table[i] = i == 1 ? 7 : -1;
            rig.controller->setShifterMapping(table);
        }
        for (int button : down)
            rig.shifter->setButton(button, true);
        rig.shifter->setAxis(1, lever);
        for (int i = 0; i < 4; ++i)
            rig.controller->readControllers();
        QCOMPARE(rig.controller->currentGear(), expected);
    }
};

OSTRA_TEST_MAIN_CORE(TestButtonDetection)
#include "tst_buttondetection.moc"
