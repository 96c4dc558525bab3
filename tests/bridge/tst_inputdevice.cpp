#include <QRegularExpression>
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
        m_input->addDevice(VirtualDeviceSpec(QStringLiteral("SRP Pedals"), 3, 0, 0));
        m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Unplugged")))->unplug();

        const QList<InputDeviceInfo> list = InputDevice::enumerateDevices();
        QStringList seen;
        for (const InputDeviceInfo &d : list)
            seen << QStringLiteral("%1 %2/%3 %4 %5 %6 %7").arg(d.index).arg(d.name, d.productName).arg(d.numAxes)
                        .arg(d.numButtons).arg(d.numPovs).arg(d.supportsFfb);
        QCOMPARE(seen, (QStringList{"0 MOZA R9 Base/MOZA R9 6 64 1 1", "1 SRP Pedals/SRP Pedals 3 0 0 0"}));
        QCOMPARE(list.at(0).productGuid, QStringLiteral("{0006346E-0000-0000-0000-504944564944}"));
        QCOMPARE(list.at(0).instanceGuid, m_input->device(0)->spec().instanceGuid.toString().toUpper());
        // Listing leaves no client behind.
        QCOMPARE(m_input->liveContexts(), 0);
    }

    void enumerateFailures()
    {
        m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Odd"), 8, 32, 1, true))
            ->failStep(VirtualInputStep::GetCapabilities);
        m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Fine"), 2, 4, 0))
            ->failStep(VirtualInputStep::CreateDevice, InputError::Failed, 1);
        // A device whose capabilities cannot be read is listed without them.
        const QList<InputDeviceInfo> list = InputDevice::enumerateDevices();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).numAxes + list.at(0).numButtons + int(list.at(0).supportsFfb) + list.at(1).numAxes, 0);
        QCOMPARE(InputDevice::enumerateDevices().at(1).numAxes, 2);

        m_input->setContextFailure(true);
        QVERIFY(InputDevice::enumerateDevices().isEmpty());
        InputDevice device;
        QVERIFY(!device.initDirectInput());
        QVERIFY(!device.open(0));
    }

    void openFailures_data()
    {
        QTest::addColumn<VirtualInputStep>("step");
        QTest::addColumn<bool>("opens");
        QTest::newRow("device creation") << VirtualInputStep::CreateDevice << false;
        QTest::newRow("data format") << VirtualInputStep::SetDataFormat << false;
        QTest::newRow("cooperative level") << VirtualInputStep::SetCooperativeLevel << false;
        QTest::newRow("object enumeration") << VirtualInputStep::EnumObjects << true;
        QTest::newRow("axis range") << VirtualInputStep::SetAxisRange << true;
        QTest::newRow("acquire") << VirtualInputStep::Acquire << true;
        QTest::newRow("capabilities") << VirtualInputStep::GetCapabilities << true;
        QTest::newRow("device information") << VirtualInputStep::GetDeviceInfo << true;
    }

    void openFailures()
    {
        QFETCH(VirtualInputStep, step);
        QFETCH(bool, opens);
        VirtualInputDevice *virtualDevice = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel")));
        virtualDevice->failStep(step);
        InputDevice device;
        QSignalSpy connected(&device, &InputDevice::connectedChanged);
        QCOMPARE(device.open(0), opens);
        QCOMPARE(device.isConnected(), opens);
        // The release that starts every open, then the open if it succeeded.
        QCOMPARE(connected.size(), opens ? 2 : 1);
        QCOMPARE(connected.last().at(0).toBool(), opens);
        if (!opens)
            QVERIFY(!virtualDevice->isAcquired());
    }

    void openSucceeds()
    {
        VirtualDeviceSpec spec(QStringLiteral("Logitech G29 Driving Force Racing Wheel"), 6, 25, 1, false);
        spec.vendorId = 0x046d;
        spec.productId = 0xc24f;
        m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Other")));
        VirtualInputDevice *virtualDevice = m_input->addDevice(spec);
        InputDevice device;
        QSignalSpy named(&device, &InputDevice::deviceNameChanged);
        QVERIFY(device.open(1));
        QCOMPARE(named.last().at(0).toString(), spec.instanceName);
        QCOMPARE(device.instanceGuid(), inputGuidText(virtualDevice->spec().instanceGuid));
        QCOMPARE(device.productGuid(), QStringLiteral("{C24F046D-0000-0000-0000-504944564944}"));
        QCOMPARE(device.axisMapping().presetName, QStringLiteral("Logitech"));
        QVERIFY(virtualDevice->isAcquired() && !virtualDevice->isAcquiredExclusively());
        // Every axis was given the full range.
        QCOMPARE(virtualDevice->callCount(VirtualInputStep::SetAxisRange), 6);

        // An index outside the list keeps the open device.
        QSignalSpy connected(&device, &InputDevice::connectedChanged);
        QVERIFY(!device.open(2) && !device.open(-1));
        QVERIFY(device.isConnected());
        QCOMPARE(device.deviceName(), spec.instanceName);
        QCOMPARE(connected.size(), 0);
    }

    void openForceFeedbackAcquiresExclusively_data()
    {
        QTest::addColumn<bool>("exclusiveRefused");
        QTest::newRow("exclusive granted") << false;
        QTest::newRow("exclusive refused") << true;
    }

    void openForceFeedbackAcquiresExclusively()
    {
        QFETCH(bool, exclusiveRefused);
        VirtualInputDevice *virtualDevice
            = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("MOZA R5"), 8, 32, 1, true));
        if (exclusiveRefused) {
            virtualDevice->failWhen([](const VirtualInputCall &call) {
                return call.step == VirtualInputStep::Acquire && (call.cooperation & InputExclusive);
            }, InputError::AccessDenied);
        }
        InputDevice device;
        QVERIFY(device.open(0));
        QVERIFY(device.hasForceFeedback());
        QVERIFY(virtualDevice->isAcquired());
        QCOMPARE(virtualDevice->isAcquiredExclusively(), !exclusiveRefused);
        QCOMPARE(device.ffbStatus().exclusive, !exclusiveRefused);
        QCOMPARE(virtualDevice->calls(VirtualInputStep::SetCooperativeLevel).last().flags,
                 quint32((exclusiveRefused ? InputNonExclusive : InputExclusive) | InputBackground));
    }

    void releaseResetsAndAnnounces()
    {
        InputDevice device;
        QSignalSpy connected(&device, &InputDevice::connectedChanged);
        QSignalSpy named(&device, &InputDevice::deviceNameChanged);
        // Nothing open: both signals still come.
        device.releaseDevice();
        QCOMPARE(connected.size() + named.size(), 2);

        VirtualInputDevice *virtualDevice = openOne(device);
        device.setAxisMapping(InputDevice::vendorFromName(QStringLiteral("MOZA")));
        virtualDevice->setAxis(InputAxisX, 0.8f);
        virtualDevice->setPov(0, 9000);
        virtualDevice->setButton(0, true);
        for (int i = 0; i < 4; ++i)
            device.poll();
        QVERIFY(device.button(0) && device.pov(0) == 90);
        connected.clear();
        named.clear();
        device.releaseDevice();
        QCOMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(0).toBool(), false);
        QCOMPARE(named.at(0).at(0).toString(), QString());
        QCOMPARE(device.axis(0), 0.0f);
        QVERIFY(!device.button(0));
        QCOMPARE(device.pov(0), -1);
        QVERIFY(device.deviceName().isEmpty() && device.instanceGuid().isEmpty() && device.numAxes() == 0);
        QVERIFY(!virtualDevice->isAcquired());
        // The mapping stays.
        QCOMPARE(device.axisMapping().presetName, QStringLiteral("MOZA / Fanatec"));
    }

    void shutdownLetsClientGo()
    {
        InputDevice device;
        QVERIFY(openOne(device));
        QCOMPARE(m_input->liveContexts(), 1);
        device.shutdownDirectInput();
        QCOMPARE(m_input->liveContexts(), 0);
        QVERIFY(!device.isConnected());
        QVERIFY(device.open(0));
        QCOMPARE(m_input->liveContexts(), 1);
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
        QTest::newRow("fully pressed at once") << int(InputAxisZ) << Raws{65535, 32767} << Values{1, 0};
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
        // Before the first read, too, an untouched axis is released.
        if (axis == InputAxisZ)
            QCOMPARE(device.axis(axis), -1.0f);
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

    void liveLatchOutlivesRelease()
    {
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device, QStringLiteral("Pedals"));
        virtualDevice->setAxis(InputAxisZ, 0.5f);
        device.poll();
        device.releaseDevice();
        QVERIFY(device.isAxisLive(InputAxisZ));
        QVERIFY(device.open(0));
        virtualDevice->setAxisRaw(InputAxisZ, 32767);
        device.poll();
        QCOMPARE(device.axis(InputAxisZ), 0.0f);
        // A fresh object starts latched again.
        InputDevice other;
        QVERIFY(other.open(0));
        other.poll();
        QCOMPARE(other.axis(InputAxisZ), -1.0f);
    }

    void buttonDebounce_data()
    {
        QTest::addColumn<Flags>("raws");     // raw state of button 3, one per read
        QTest::addColumn<Flags>("expected"); // debounced state after each read
        QTest::newRow("press held four reads")
            << Flags{true, true, true, true, true} << Flags{false, false, false, true, true};
        QTest::newRow("three-read flicker ignored")
            << Flags{true, true, true, false, true, true, true, false} << Flags(8, false);
        QTest::newRow("release also needs four")
            << Flags{true, true, true, true, false, false, false, true, false, false, false, false}
            << Flags{false, false, false, true, true, true, true, true, true, true, true, false};
    }

    void buttonDebounce()
    {
        QFETCH(Flags, raws);
        QFETCH(Flags, expected);
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device, QStringLiteral("Shifter"));
        for (int i = 0; i < raws.size(); ++i) {
            // Only bit 7 counts.
            virtualDevice->setButtonByte(3, raws.at(i) ? 0x80 : 0x7F);
            device.poll();
            QCOMPARE(device.button(3), expected.at(i));
            QVERIFY(!device.button(4));
        }
    }

    void hats()
    {
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device, QStringLiteral("Stick"), 4);
        // Hundredths of a degree become whole degrees; either centred form reads -1.
        const QList<QPair<quint32, int>> reads{{0, 0}, {4599, 45}, {27000, 270}, {0xFFFFFFFF, -1}, {0x0000FFFF, -1}};
        for (const auto &[raw, degrees] : reads) {
            virtualDevice->setPov(2, raw);
            device.poll();
            QCOMPARE(device.pov(2), degrees);
            QCOMPARE(device.pov(0), -1);
        }
    }

    void restingAxes_data()
    {
        QTest::addColumn<Values>("values"); // steering axis values, one per read
        QTest::addColumn<bool>("restsAtCentre");
        const auto hold = [](float value, int reads) { return Values(reads, value); };
        QTest::newRow("fourteen still reads are not enough") << hold(0, 14) << false;
        QTest::newRow("fifteen still reads at centre") << hold(0, 15) << true;
        QTest::newRow("still near centre") << hold(0.25f, 16) << true;
        QTest::newRow("still at an end") << hold(-1, 30) << false;
        QTest::newRow("between keeps the flag") << hold(0, 16) + hold(0.6f, 40) << true;
        QTest::newRow("centre then end") << hold(0, 16) + hold(1, 16) << false;
        QTest::newRow("movement restarts the count") << hold(0, 10) + Values{0.2f} + hold(0, 14) << false;
        QTest::newRow("slow creep still counts") << Values{0,     0.04f, 0.08f, 0.12f, 0.16f, 0.2f,  0.24f, 0.2f,
                                                           0.16f, 0.12f, 0.08f, 0.04f, 0,     0.04f, 0.08f, 0.12f}
                                                 << true;
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
        // An axis never made live is never classified.
        QVERIFY(!device.axisRestsAtCentre(InputAxisZ));
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
        QTest::newRow("combined, at rest") << true << 0.0f << false << 0.0f << -1.0f << -1.0f;
        QTest::newRow("combined, pressed down") << true << 0.0f << false << -1.0f << -1.0f << 1.0f;
        QTest::newRow("combined, half up") << true << 0.0f << false << 0.5f << 0.0f << -1.0f;
        QTest::newRow("combined, inverted halves") << true << 0.0f << true << 1.0f << -1.0f << 1.0f;
        QTest::newRow("combined, off centre") << true << 0.5f << false << 0.75f << 0.0f << -1.0f;
        QTest::newRow("combined, off centre below") << true << 0.5f << false << -0.25f << -1.0f << 0.0f;
        QTest::newRow("combined, centre clamped") << true << 1.0f << false << 1.0f << 1.0f << -1.0f;
        QTest::newRow("combined, centre clamped low") << true << -1.0f << false << -1.0f << -1.0f << 1.0f;
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
        QVERIFY(std::fabs(device.steering() - axisValue) < 1e-4f);
        QCOMPARE(device.roleAxisValue(InputDevice::Clutch), 0.0f); // no axis
        QVERIFY(device.roleAxisValue(-1) == 0.0f && device.roleAxisValue(8) == 0.0f);
        QCOMPARE(device.roleAxisValue(7), device.axis(7));
    }

    void setAxisMappingMarksLive()
    {
        InputDevice device;
        VirtualInputDevice *virtualDevice = openOne(device, QStringLiteral("Pedals"));
        AxisMapping mapping;
        mapping.map = {2, 3, 6, 7};
        device.setAxisMapping(mapping);
        QVERIFY(device.isAxisLive(2) && !device.isAxisLive(3));
        // Combined pedals: the throttle's axis is live; an index beyond the axes reads 0.
        mapping.map = {9, 7, 6, 5};
        mapping.combinedPedals = true;
        device.setAxisMapping(mapping);
        QVERIFY(device.isAxisLive(7) && !device.isAxisLive(6));
        virtualDevice->setAxisRaw(InputAxisSlider1, 32767);
        device.poll();
        QCOMPARE(device.axis(7), 0.0f);
        QCOMPARE(device.roleAxisValue(InputDevice::Steering), 0.0f);
    }

    void combinedPedalsCheck_data()
    {
        QTest::addColumn<int>("raw"); // where the shared pedal axis rests
        QTest::addColumn<float>("centre");
        QTest::addColumn<QString>("warning");
        QTest::newRow("rests at its centre") << 32767 << 0.0f << QString();
        QTest::newRow("rests near its centre") << rawFor(0.4) << 0.0f << QString();
        QTest::newRow("rests at an end")
            << 0 << 0.0f
            << QStringLiteral("InputDevice: combinedPedals disabled — axis 4 rests at -1 but preset declares center 0 "
                              "(preset likely misapplied)");
        QTest::newRow("declared centre is clamped")
            << 65535 << -1.0f
            << QStringLiteral(
                   "InputDevice: combinedPedals disabled — axis 4 rests at 1 but preset declares center -0.95 "
                   "(preset likely misapplied)");
    }

    void combinedPedalsCheck()
    {
        QFETCH(int, raw);
        QFETCH(float, centre);
        QFETCH(QString, warning);
        const bool keeps = warning.isEmpty();
        InputDevice device;
        VirtualInputDevice *virtualDevice
            = openOne(device, QStringLiteral("Logitech G29 Driving Force Racing Wheel PS3"));
        QVERIFY(virtualDevice);
        AxisMapping mapping = device.axisMapping();
        QVERIFY(mapping.combinedPedals);
        mapping.combinedPedalsCenter = centre;
        device.setAxisMapping(mapping);
        virtualDevice->setAxisRaw(InputAxisY, raw);
        for (int i = 0; i < 29; ++i)
            device.poll();
        QVERIFY(device.axisMapping().combinedPedals);
        if (!keeps)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        device.poll();
        QCOMPARE(device.axisMapping().combinedPedals, keeps);
        // The check is done: a later misplacement goes unnoticed.
        virtualDevice->setAxisRaw(InputAxisY, 0);
        for (int i = 0; i < 40; ++i)
            device.poll();
        QCOMPARE(device.axisMapping().combinedPedals, keeps);
        if (!keeps)
            return;
        // A new mapping restarts it.
        device.setAxisMapping(device.axisMapping());
        for (int i = 0; i < 29; ++i)
            device.poll();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("combinedPedals disabled"));
        device.poll();
        QVERIFY(!device.axisMapping().combinedPedals);
    }

    // The preset as "name: steering throttle brake clutch axes, inverted flags, combined".
    void vendorFromName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("preset");
        const QString moza = "MOZA / Fanatec: 0 1 2 3, 0000, 0";
        const QString logitech = "Logitech: 0 5 3 4, 0111, 0";
        const QString generic = "Generic: 0 5 3 4, 0111, 0";
        const QString thrustmaster = "Thrustmaster: 0 4 3 6, 0111, 0";
        QTest::newRow("moza") << "MOZA R9 Base" << moza;
        QTest::newRow("fanatec capitals") << "FANATEC CSL DD" << moza;
        QTest::newRow("moza beats logitech") << "moza logitech bridge" << moza;
        QTest::newRow("g29 ps3") << "Logitech G29 Driving Force Racing Wheel PS3"
                                 << "Logitech (PS3/PS4): 0 4 4 -1, 0000, 1";
        QTest::newRow("ps3 without logitech key") << "Generic PS3 Pad" << generic;
        QTest::newRow("g920") << "Logitech G920 Driving Force Racing Wheel USB" << logitech;
        QTest::newRow("t300") << "T300RS Racing Wheel" << thrustmaster;
        QTest::newRow("tx with space") << "TX Racing Wheel" << thrustmaster;
        QTest::newRow("tx without space") << "TXRacing" << generic;
        QTest::newRow("none") << "Simucube 2 Pro" << generic;
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
        QSignalSpy state(&device, &InputDevice::stateChanged);
        QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
        // Nothing open: a poll does nothing.
        device.poll();
        QCOMPARE(state.size() + lost.size(), 0);

        VirtualInputDevice *virtualDevice = openOne(device);
        QSignalSpy connected(&device, &InputDevice::connectedChanged);
        virtualDevice->setAxis(InputAxisX, 0.5f);
        device.poll();
        QCOMPARE(state.size(), 1);
        virtualDevice->unplug();
        device.poll();
        QCOMPARE(lost.size(), 1);
        QCOMPARE(state.size(), 1);
        QVERIFY(!device.isConnected());
        // The device stays open and its last values stay readable.
        QCOMPARE(device.deviceName(), QStringLiteral("Wheel"));
        QVERIFY(std::fabs(device.axis(0) - 0.4898f) < 1e-3f);
        device.poll();
        QCOMPARE(lost.size(), 2);

        virtualDevice->replug();
        virtualDevice->setAxis(InputAxisX, -1.0f);
        device.poll();
        QVERIFY(device.isConnected());
        QCOMPARE(state.size(), 2);
        QCOMPARE(device.axis(0), -1.0f);
        QCOMPARE(connected.size(), 0);
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
        QTest::newRow("acquire recovers on the third try") << VirtualInputStep::Poll << 1 << 2 << true << 3;
        QTest::newRow("acquire gives up after three") << VirtualInputStep::Poll << 1 << 3 << false << 3;
        QTest::newRow("acquire never back") << VirtualInputStep::Poll << 1 << -1 << false << 3;
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
        QSignalSpy state(&device, &InputDevice::stateChanged);
        QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
        virtualDevice->failStep(step, InputError::InputLost, times);
        virtualDevice->failStep(VirtualInputStep::Acquire, InputError::InputLost, lostAcquires);
        virtualDevice->clearCalls();
        device.poll();
        QCOMPARE(device.isConnected(), good);
        QCOMPARE(state.size(), good ? 1 : 0);
        QCOMPARE(lost.size(), good ? 0 : 1);
        QCOMPARE(virtualDevice->callCount(VirtualInputStep::Acquire), acquires);
        if (lostAcquires >= 0) {
            virtualDevice->clearFailures();
            device.poll();
            QVERIFY(device.isConnected());
        }
    }

private:
    // Adds a device and opens it as the only one; the steering axis of the preset (lX) is live.
    VirtualInputDevice *openOne(InputDevice &device, const QString &name = QStringLiteral("Wheel"), int povs = 1);
    VirtualInputBackend *m_input = nullptr;
};

VirtualInputDevice *TestInputDevice::openOne(InputDevice &device, const QString &name, int povs)
{
    VirtualInputDevice *virtualDevice = m_input->addDevice(VirtualDeviceSpec(name, 8, 32, povs));
    if (!device.initDirectInput() || !device.open(m_input->devices().size() - 1))
        return nullptr;
    return virtualDevice;
}

OSTRA_TEST_MAIN_CORE(TestInputDevice)
#include "tst_inputdevice.moc"
