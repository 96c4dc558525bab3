#include <QSignalSpy>
#include <QTest>

#include <cmath>

#include "bridge/inputdevice.h"
#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"

using namespace corvane;

namespace {

using Raws = QList<int>;
using Flags = QList<bool>;
using Values = QList<float>;

// Raw value that reads `value` (-1..1) after normalisation, before the deadzone.
int rawFor(double value)
{
    return int(std::lround((value + 1.0) * 32767.5));
}

// Input that reads exactly `value` once the deadzone has been applied.
float beforeDeadzone(float value)
{
    return value == 0.0f ? 0.0f : (value > 0 ? 1.0f : -1.0f) * (std::fabs(value) * 0.98f + 0.02f);
}

} // namespace

class TestInputDevice : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_input = VirtualInputBackend::instance();
        QVERIFY(m_input);
        m_input->reset();
    }

    void enumerateDevices()
    {
        VirtualDeviceSpec wheel(QStringLiteral("MOZA R9 Base"), 6, 64, 1, true);
        wheel.productName = QStringLiteral("MOZA R9");
        wheel.vendorId = 0x346e;
        wheel.productId = 0x0006;
        m_input->addDevice(wheel);
        m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Unplugged")))->unplug();
        // A device whose capabilities cannot be read is listed without them.
        m_input->addDevice(VirtualDeviceSpec("Odd", 3, 0, 0))->failStep(VirtualInputStep::GetCapabilities);

        const QList<InputDeviceInfo> list = InputDevice::enumerateDevices();
        QStringList seen;
        for (const InputDeviceInfo &d : list)
            seen << QStringLiteral("%1 %2/%3 %4 %5 %6 %7").arg(d.index).arg(d.name, d.productName).arg(d.numAxes)
                        .arg(d.numButtons).arg(d.numPovs).arg(d.supportsFfb);
        QCOMPARE(seen, (QStringList{"0 MOZA R9 Base/MOZA R9 6 64 1 1", "1 Odd/Odd 0 0 0 0"}));
        QCOMPARE(list.at(0).productGuid, QStringLiteral("{0006346E-0000-0000-0000-504944564944}"));
        QCOMPARE(list.at(0).instanceGuid, m_input->device(0)->spec().instanceGuid.toString().toUpper());
        m_input->setContextFailure(true);
        QVERIFY(InputDevice::enumerateDevices().isEmpty());
    }

    void openFailures_data()
    {
        QTest::addColumn<VirtualInputStep>("step");
        QTest::addColumn<bool>("opens");
        QTest::newRow("device creation") << VirtualInputStep::CreateDevice << false;
        QTest::newRow("cooperative level") << VirtualInputStep::SetCooperativeLevel << false;
        QTest::newRow("acquire") << VirtualInputStep::Acquire << true;
    }

    void openFailures()
    {
        QFETCH(VirtualInputStep, step);
        QFETCH(bool, opens);
        VirtualInputDevice *virtualDevice = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel")));
        virtualDevice->failStep(step);
        InputDevice device;
        QCOMPARE(device.open(0), opens);
        QCOMPARE(device.isConnected(), opens);
        if (!opens)
            QVERIFY(!virtualDevice->isAcquired());
    }

    void openAndRelease()
    {
        VirtualDeviceSpec spec(QStringLiteral("Logitech G29 Driving Force Racing Wheel"), 6, 25, 1, false);
        spec.vendorId = 0x046d;
        spec.productId = 0xc24f;
        VirtualInputDevice *virtualDevice = m_input->addDevice(spec);
        InputDevice device;
        QVERIFY(device.open(0));
        QCOMPARE(device.productGuid(), QStringLiteral("{C24F046D-0000-0000-0000-504944564944}"));
        QCOMPARE(device.axisMapping().presetName, QStringLiteral("Logitech"));
        QVERIFY(virtualDevice->isAcquired() && !virtualDevice->isAcquiredExclusively());
        // An index outside the list keeps the open device.
        QVERIFY(!device.open(1) && !device.open(-1) && device.isConnected());

        // Hundredths of a degree become whole degrees.
        virtualDevice->setPov(0, 4599);
        virtualDevice->setButton(0, true);
        for (int i = 0; i < 4; ++i)
            device.poll();
        QVERIFY(device.button(0) && device.pov(0) == 45);
        QSignalSpy connected(&device, &InputDevice::connectedChanged);
        device.releaseDevice();
        QVERIFY(connected.size() == 1 && !connected.at(0).at(0).toBool());
        QVERIFY(!device.button(0) && device.pov(0) == -1 && device.deviceName().isEmpty() && device.numAxes() == 0);
        QVERIFY(!virtualDevice->isAcquired());
        // The mapping stays.
        QCOMPARE(device.axisMapping().presetName, QStringLiteral("Logitech"));
    }

    // Raw values of one axis, one per read, and what each read gives.
    void axisReads_data()
    {
        QTest::addColumn<int>("axis");
        QTest::addColumn<Raws>("raws");
        QTest::addColumn<Values>("expected");
        QTest::newRow("normalisation and dead zone of a live axis") << int(InputAxisX)
            << Raws{0, 65535, 32767, 32768, rawFor(0.019), rawFor(-0.019), rawFor(0.0299), rawFor(0.5), 70000}
            << Values{-1, 1, 0, 0, 0, 0, 0.0101f, 0.4898f, 1};
        QTest::newRow("untouched pedal reads released, small moves stay latched") << int(InputAxisZ)
            << Raws{32767, 32768, rawFor(0.1), rawFor(-0.1), rawFor(0.11)} << Values{-1, -1, -1, -1, -1};
        QTest::newRow("first real move frees it") << int(InputAxisZ) << Raws{32767, rawFor(0.5), 32767, 0}
                                                  << Values{-1, 0.4898f, 0, -1};
        QTest::newRow("released end counts as a move") << int(InputAxisZ) << Raws{0, 32767} << Values{-1, 0};
    }

    void axisReads()
    {
        QFETCH(int, axis);
        QFETCH(Raws, raws);
        QFETCH(Values, expected);
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device);
        QVERIFY(virtualDevice);
        for (int i = 0; i < raws.size(); ++i) {
            virtualDevice->setAxisRaw(InputAxis(axis), raws.at(i));
            device.poll();
            QVERIFY2(std::fabs(device.axis(axis) - expected.at(i)) < 1e-4f,
                     qPrintable(QStringLiteral("read %1: %2").arg(i).arg(device.axis(axis))));
        }
        // Indexes from outside are checked.
        QVERIFY(device.axis(-1) == 0.0f && device.axis(8) == 0.0f && !device.isAxisLive(8)
                && !device.axisRestsAtCentre(-1));
        QVERIFY(!device.button(-1) && !device.button(128) && device.pov(-1) == -1 && device.pov(4) == -1);
    }

    void buttonDebounce_data()
    {
        QTest::addColumn<Flags>("raws");     // raw state of button 3, one per read
        QTest::addColumn<Flags>("expected"); // debounced state after each read
        QTest::newRow("three-read flicker ignored")
            << Flags{true, true, true, false, true, true, true, false} << Flags(8, false);
        QTest::newRow("press and release need four reads")
            << Flags{true, true, true, true, false, false, false, true, false, false, false, false}
            << Flags{false, false, false, true, true, true, true, true, true, true, true, false};
    }

    void buttonDebounce()
    {
        QFETCH(Flags, raws);
        QFETCH(Flags, expected);
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device);
        for (int i = 0; i < raws.size(); ++i) {
            // Only bit 7 counts.
            virtualDevice->setButtonByte(3, raws.at(i) ? 0x80 : 0x7F);
            device.poll();
            QCOMPARE(device.button(3), expected.at(i));
        }
    }

    void restingAxes_data()
    {
        QTest::addColumn<Values>("values"); // steering axis values, one per read
        QTest::addColumn<bool>("restsAtCentre");
        const auto hold = [](float value, int reads) { return Values(reads, value); };
        QTest::newRow("fourteen still reads are not enough") << hold(0, 14) << false;
        QTest::newRow("still at an end") << hold(-1, 30) << false;
        QTest::newRow("fifteen still reads at centre, then between keeps the flag") << hold(0, 15) + hold(0.6f, 40)
                                                                                     << true;
        QTest::newRow("movement restarts the count") << hold(0, 10) + Values{0.2f} + hold(0, 14) << false;
    }

    void restingAxes()
    {
        QFETCH(Values, values);
        QFETCH(bool, restsAtCentre);
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device);
        for (float value : std::as_const(values)) {
            virtualDevice->setAxis(InputAxisX, beforeDeadzone(value));
            device.poll();
        }
        QCOMPARE(device.axisRestsAtCentre(InputAxisX), restsAtCentre);
    }

    void roleAxisValue_data()
    {
        QTest::addColumn<bool>("combined");
        QTest::addColumn<float>("centre");
        QTest::addColumn<bool>("throttleInverted");
        QTest::addColumn<float>("axisValue");
        QTest::addColumn<float>("throttle");
        QTest::addColumn<float>("brake");
        QTest::newRow("combined, pressed up") << true << 0.0f << false << 1.0f << 1.0f << -1.0f;
        QTest::newRow("combined, inverted halves") << true << 0.0f << true << 1.0f << -1.0f << 1.0f;
        QTest::newRow("combined, off centre below") << true << 0.5f << false << -0.25f << -1.0f << 0.0f;
        QTest::newRow("separate, inverted throttle") << false << 0.0f << true << 0.5f << -0.5f << 0.5f;
    }

    void roleAxisValue()
    {
        QFETCH(bool, combined);
        QFETCH(float, centre);
        QFETCH(bool, throttleInverted);
        QFETCH(float, axisValue);
        QFETCH(float, throttle);
        QFETCH(float, brake);
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device);
        AxisMapping mapping;
        mapping.map = {0, 0, 0, -1}; // everything on the steering axis, which is live
        mapping.inverted = {false, throttleInverted, false, false};
        mapping.combinedPedals = combined;
        mapping.combinedPedalsCenter = centre;
        device.setAxisMapping(mapping);
        virtualDevice->setAxis(InputAxisX, beforeDeadzone(axisValue));
        device.poll();
        const float t = device.roleAxisValue(InputDevice::Throttle);
        const float b = device.roleAxisValue(InputDevice::Brake);
        QVERIFY2(std::fabs(t - throttle) < 1e-3f && std::fabs(b - brake) < 1e-3f,
                 qPrintable(QStringLiteral("%1 %2").arg(t).arg(b)));
        QCOMPARE(device.roleAxisValue(InputDevice::Clutch), 0.0f); // no axis
        QVERIFY(device.roleAxisValue(-1) == 0.0f && device.roleAxisValue(8) == 0.0f);
    }

    void combinedPedalsCheck_data()
    {
        QTest::addColumn<int>("raw"); // where the shared pedal axis rests
        QTest::addColumn<float>("centre");
        QTest::addColumn<QString>("warning");
        QTest::newRow("rests at its centre") << 32767 << 0.0f << QString();
        QTest::newRow("declared centre is clamped, rests at an end")
            << 65535 << -1.0f
            << QStringLiteral("InputDevice: combinedPedals disabled — axis 4 rests at 1 but preset declares center "
                              "-0.95 (preset likely misapplied)");
    }

    void combinedPedalsCheck()
    {
        QFETCH(int, raw);
        QFETCH(float, centre);
        QFETCH(QString, warning);
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device, "Logitech G29 Driving Force Racing Wheel PS3");
        AxisMapping mapping = device.axisMapping();
        QVERIFY(mapping.combinedPedals);
        mapping.combinedPedalsCenter = centre;
        device.setAxisMapping(mapping);
        virtualDevice->setAxisRaw(InputAxisY, raw);
        for (int i = 0; i < 29; ++i)
            device.poll();
        QVERIFY(device.axisMapping().combinedPedals);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        device.poll();
        QCOMPARE(device.axisMapping().combinedPedals, warning.isEmpty());
    }

    // The preset as "name: steering throttle brake clutch axes, inverted flags, combined".
    void vendorFromName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("preset");
        const QString moza = "MOZA / Fanatec: 0 1 2 3, 0000, 0";
        const QString generic = "Generic: 0 5 3 4, 0111, 0";
        QTest::newRow("moza beats logitech") << "moza logitech bridge" << moza;
        QTest::newRow("g29 ps3") << "Logitech G29 Driving Force Racing Wheel PS3"
                                 << "Logitech (PS3/PS4): 0 4 4 -1, 0000, 1";
        QTest::newRow("ps3 without logitech key") << "Generic PS3 Pad" << generic;
        QTest::newRow("t300") << "T300RS Racing Wheel" << "Thrustmaster: 0 4 3 6, 0111, 0";
        QTest::newRow("tx without space") << "TXRacing" << generic;
    }

    void vendorFromName()
    {
        QFETCH(QString, name);
        QFETCH(QString, preset);
        const AxisMapping m = InputDevice::vendorFromName(name);
        QString inverted;
        for (const bool flag : m.inverted)
            inverted += flag ? '1' : '0';
        QCOMPARE(QStringLiteral("%1: %2 %3 %4 %5, %6, %7").arg(m.presetName).arg(m.map[0]).arg(m.map[1]).arg(m.map[2])
                     .arg(m.map[3]).arg(inverted).arg(int(m.combinedPedals)), preset);
    }

    void unplugDuringPoll()
    {
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device);
        QSignalSpy state(&device, &InputDevice::stateChanged);
        QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
        virtualDevice->setAxis(InputAxisX, 0.5f);
        device.poll();
        virtualDevice->unplug();
        device.poll();
        QVERIFY(lost.size() == 1 && state.size() == 1 && !device.isConnected());
        // The last values stay readable.
        QVERIFY(std::fabs(device.axis(0) - 0.4898f) < 1e-3f);

        virtualDevice->replug();
        virtualDevice->setAxis(InputAxisX, -1.0f);
        device.poll();
        QVERIFY(device.isConnected() && state.size() == 2);
        QCOMPARE(device.axis(0), -1.0f);
    }

    // A failed read reports the device lost; a lost input is acquired again, a few times at most.
    void readFailures_data()
    {
        QTest::addColumn<VirtualInputStep>("step");
        QTest::addColumn<int>("times");
        QTest::addColumn<int>("lostAcquires");
        QTest::addColumn<bool>("good");
        QTest::addColumn<int>("acquires");
        QTest::newRow("poll fails once, acquire recovers") << VirtualInputStep::Poll << 1 << 0 << true << 1;
        QTest::newRow("poll fails twice") << VirtualInputStep::Poll << 2 << 0 << false << 1;
        QTest::newRow("state read fails") << VirtualInputStep::GetState << 1 << 0 << false << 0;
        QTest::newRow("acquire gives up after three") << VirtualInputStep::Poll << 1 << 3 << false << 3;
    }

    void readFailures()
    {
        QFETCH(VirtualInputStep, step);
        QFETCH(int, times);
        QFETCH(int, lostAcquires);
        QFETCH(bool, good);
        QFETCH(int, acquires);
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device);
        QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
        virtualDevice->failStep(step, InputError::InputLost, times);
        virtualDevice->failStep(VirtualInputStep::Acquire, InputError::InputLost, lostAcquires);
        virtualDevice->clearCalls();
        device.poll();
        QCOMPARE(device.isConnected(), good);
        QCOMPARE(lost.size(), good ? 0 : 1);
        QCOMPARE(virtualDevice->callCount(VirtualInputStep::Acquire), acquires);
        virtualDevice->clearFailures();
        device.poll();
        QVERIFY(device.isConnected());
    }

private:
    // Adds a device and opens it as the only one; the steering axis of the preset (lX) is live.
    VirtualInputDevice *openOne(InputDevice &device, const QString &name = QStringLiteral("Wheel"))
    {
        VirtualInputDevice *virtualDevice = m_input->addDevice(VirtualDeviceSpec(name, 8, 32, 1));
        return device.open(m_input->devices().size() - 1) ? virtualDevice : nullptr;
    }

    VirtualInputBackend *m_input = nullptr;
};

OSTRA_TEST_MAIN_CORE(TestInputDevice)
#include "tst_inputdevice.moc"
