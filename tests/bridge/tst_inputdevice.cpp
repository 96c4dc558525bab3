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

// Raw value that reads `value` (-1..1) after normalisation, before the deadzone.
int rawFor(double value)
{
    return int(std::lround((value + 1.0) * 32767.5));
}

} // namespace

class TestInputDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void enumerateDevices();
    void enumerateWithoutBackend();
    void enumerateCapabilityFailure();
    void openFailures_data();
    void openFailures();
    void openSucceedsAndAnnounces();
    void openOutOfRangeKeepsDevice_data();
    void openOutOfRangeKeepsDevice();
    void openForceFeedbackAcquiresExclusively_data();
    void openForceFeedbackAcquiresExclusively();
    void releaseResetsAndAnnounces();
    void shutdownLetsClientGo();

    void axisNormalisation_data();
    void axisNormalisation();
    void liveLatch_data();
    void liveLatch();
    void liveLatchOutlivesRelease();
    void buttonDebounce_data();
    void buttonDebounce();
    void hats_data();
    void hats();
    void restingAxes_data();
    void restingAxes();
    void outOfRangeAccessors();

    void roleAxisValue_data();
    void roleAxisValue();
    void setAxisMappingMarksLive();
    void combinedPedalsCheck_data();
    void combinedPedalsCheck();
    void vendorFromName_data();
    void vendorFromName();

    void pollWithoutDevice();
    void unplugDuringPoll();
    void readFailures_data();
    void readFailures();
    void lostInputRetriedBoundedly_data();
    void lostInputRetriedBoundedly();
    void platformAnswers();

private:
    // Adds a device and opens it as the only one; the steering axis of the preset (lX) is live.
    VirtualInputDevice *openOne(InputDevice &device, const VirtualDeviceSpec &spec);
    VirtualInputBackend *m_input = nullptr;
};

void TestInputDevice::init()
{
    m_input = VirtualInputBackend::instance();
    QVERIFY(m_input);
    m_input->reset();
}

VirtualInputDevice *TestInputDevice::openOne(InputDevice &device, const VirtualDeviceSpec &spec)
{
    VirtualInputDevice *virtualDevice = m_input->addDevice(spec);
    if (!device.initDirectInput() || !device.open(m_input->devices().size() - 1))
        return nullptr;
    return virtualDevice;
}

void TestInputDevice::enumerateDevices()
{
    VirtualDeviceSpec wheel(QStringLiteral("MOZA R9 Base"), 6, 64, 1, true);
    wheel.productName = QStringLiteral("MOZA R9");
    wheel.vendorId = 0x346e;
    wheel.productId = 0x0006;
    m_input->addDevice(wheel);
    m_input->addDevice(VirtualDeviceSpec(QStringLiteral("SRP Pedals"), 3, 0, 0));
    VirtualInputDevice *gone = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Unplugged")));
    gone->unplug();

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

void TestInputDevice::enumerateWithoutBackend()
{
    m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel")));
    m_input->setContextFailure(true);
    QVERIFY(InputDevice::enumerateDevices().isEmpty());
    InputDevice device;
    QVERIFY(!device.initDirectInput());
    QVERIFY(!device.open(0));
}

void TestInputDevice::enumerateCapabilityFailure()
{
    VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Odd"), 8, 32, 1, true));
    device->failStep(VirtualInputStep::GetCapabilities);
    m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Fine"), 2, 4, 0))
        ->failStep(VirtualInputStep::CreateDevice, InputError::Failed, 1);
    const QList<InputDeviceInfo> list = InputDevice::enumerateDevices();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).name, QStringLiteral("Odd"));
    QCOMPARE(list.at(0).numAxes, 0);
    QCOMPARE(list.at(0).numButtons, 0);
    QVERIFY(!list.at(0).supportsFfb);
    QCOMPARE(list.at(1).numAxes, 0);
    QCOMPARE(InputDevice::enumerateDevices().at(1).numAxes, 2);
}

void TestInputDevice::openFailures_data()
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

void TestInputDevice::openFailures()
{
    QFETCH(VirtualInputStep, step);
    QFETCH(bool, opens);
    VirtualInputDevice *virtualDevice = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel")));
    virtualDevice->failStep(step);
    InputDevice device;
    QSignalSpy connected(&device, &InputDevice::connectedChanged);
    QCOMPARE(device.open(0), opens);
    QCOMPARE(device.isConnected(), opens);
    if (opens) {
        QCOMPARE(connected.size(), 2); // the release before opening, then the open
        QCOMPARE(connected.last().at(0).toBool(), true);
    } else {
        // Only the release that starts every open announced anything.
        QCOMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(0).toBool(), false);
        QVERIFY(!virtualDevice->isAcquired());
    }
}

void TestInputDevice::openSucceedsAndAnnounces()
{
    VirtualDeviceSpec spec(QStringLiteral("Logitech G29 Driving Force Racing Wheel"), 6, 25, 1, false);
    spec.productName = QStringLiteral("G29 Driving Force Racing Wheel");
    spec.vendorId = 0x046d;
    spec.productId = 0xc24f;
    m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Other")));
    VirtualInputDevice *virtualDevice = m_input->addDevice(spec);

    InputDevice device;
    QSignalSpy connected(&device, &InputDevice::connectedChanged);
    QSignalSpy named(&device, &InputDevice::deviceNameChanged);
    QVERIFY(device.initDirectInput());
    QVERIFY(device.open(1));
    QVERIFY(device.isConnected());
    QVERIFY(device.property("connected").toBool());
    QCOMPARE(device.deviceIndex(), 1);
    QCOMPARE(device.deviceName(), spec.instanceName);
    QCOMPARE(device.name(), spec.instanceName);
    QCOMPARE(device.productName(), spec.productName);
    QCOMPARE(device.numAxes(), 6);
    QCOMPARE(device.numButtons(), 25);
    QCOMPARE(device.numPovs(), 1);
    QVERIFY(!device.hasForceFeedback());
    QCOMPARE(device.instanceGuid(), inputGuidText(virtualDevice->spec().instanceGuid));
    QCOMPARE(device.productGuid(), QStringLiteral("{C24F046D-0000-0000-0000-504944564944}"));
    QCOMPARE(device.axisMapping().presetName, QStringLiteral("Logitech"));
    QCOMPARE(connected.last().at(0).toBool(), true);
    QCOMPARE(named.last().at(0).toString(), spec.instanceName);
    QVERIFY(virtualDevice->isAcquired());
    QVERIFY(!virtualDevice->isAcquiredExclusively());
    // Every axis was given the full range.
    QCOMPARE(virtualDevice->callCount(VirtualInputStep::SetAxisRange), 6);
}

void TestInputDevice::openOutOfRangeKeepsDevice_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("one past the end") << 1;
    QTest::newRow("negative") << -1;
}

void TestInputDevice::openOutOfRangeKeepsDevice()
{
    QFETCH(int, index);
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel")));
    QVERIFY(virtualDevice);
    QSignalSpy connected(&device, &InputDevice::connectedChanged);
    QVERIFY(!device.open(index));
    QVERIFY(device.isConnected());
    QCOMPARE(device.deviceName(), QStringLiteral("Wheel"));
    QCOMPARE(connected.size(), 0);
    virtualDevice->setAxis(InputAxisX, 1.0f);
    device.poll();
    QCOMPARE(device.axis(0), 1.0f);
}

void TestInputDevice::openForceFeedbackAcquiresExclusively_data()
{
    QTest::addColumn<bool>("exclusiveRefused");
    QTest::newRow("exclusive granted") << false;
    QTest::newRow("exclusive refused") << true;
}

void TestInputDevice::openForceFeedbackAcquiresExclusively()
{
    QFETCH(bool, exclusiveRefused);
    VirtualInputDevice *virtualDevice
        = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("MOZA R5"), 8, 32, 1, true));
    if (exclusiveRefused) {
        virtualDevice->failWhen(
            [](const VirtualInputCall &call) {
                return call.step == VirtualInputStep::Acquire && (call.cooperation & InputExclusive);
            },
            InputError::AccessDenied);
    }
    InputDevice device;
    QVERIFY(device.open(0));
    QVERIFY(device.hasForceFeedback());
    QVERIFY(virtualDevice->isAcquired());
    QCOMPARE(virtualDevice->isAcquiredExclusively(), !exclusiveRefused);
    QCOMPARE(device.ffbStatus().exclusive, !exclusiveRefused);
    const QList<VirtualInputCall> levels = virtualDevice->calls(VirtualInputStep::SetCooperativeLevel);
    QCOMPARE(levels.last().flags,
             exclusiveRefused ? quint32(InputNonExclusive | InputBackground)
                              : quint32(InputExclusive | InputBackground));
}

void TestInputDevice::releaseResetsAndAnnounces()
{
    InputDevice device;
    {
        // Nothing open: both signals still come.
        QSignalSpy connected(&device, &InputDevice::connectedChanged);
        QSignalSpy named(&device, &InputDevice::deviceNameChanged);
        device.releaseDevice();
        QCOMPARE(connected.size(), 1);
        QCOMPARE(named.size(), 1);
    }

    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel"), 8, 8, 1));
    AxisMapping mapping = InputDevice::vendorFromName(QStringLiteral("MOZA"));
    device.setAxisMapping(mapping);
    virtualDevice->setAxis(InputAxisX, 0.8f);
    virtualDevice->setPov(0, 9000);
    virtualDevice->setButton(0, true);
    for (int i = 0; i < 4; ++i)
        device.poll();
    QVERIFY(device.button(0));

    QSignalSpy connected(&device, &InputDevice::connectedChanged);
    QSignalSpy named(&device, &InputDevice::deviceNameChanged);
    device.releaseDevice();
    QCOMPARE(connected.size(), 1);
    QCOMPARE(connected.at(0).at(0).toBool(), false);
    QCOMPARE(named.at(0).at(0).toString(), QString());
    QVERIFY(!device.isConnected());
    QCOMPARE(device.axis(0), 0.0f);
    QVERIFY(!device.button(0));
    QCOMPARE(device.pov(0), -1);
    QCOMPARE(device.deviceIndex(), 0);
    QVERIFY(device.deviceName().isEmpty());
    QVERIFY(device.productName().isEmpty());
    QVERIFY(device.instanceGuid().isEmpty());
    QCOMPARE(device.numAxes(), 0);
    QVERIFY(!virtualDevice->isAcquired());
    // The mapping stays.
    QCOMPARE(device.axisMapping().presetName, QStringLiteral("MOZA / Fanatec"));
}

void TestInputDevice::shutdownLetsClientGo()
{
    InputDevice device;
    QVERIFY(openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel"))));
    QCOMPARE(m_input->liveContexts(), 1);
    device.shutdownDirectInput();
    QCOMPARE(m_input->liveContexts(), 0);
    QVERIFY(!device.isConnected());
    // The next open creates a client again.
    QVERIFY(device.open(0));
    QCOMPARE(m_input->liveContexts(), 1);
}

void TestInputDevice::axisNormalisation_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<float>("expected");

    QTest::newRow("minimum") << 0 << -1.0f;
    QTest::newRow("maximum") << 65535 << 1.0f;
    QTest::newRow("centre low") << 32767 << 0.0f;
    QTest::newRow("inside deadzone") << rawFor(0.019) << 0.0f;
    QTest::newRow("just outside deadzone") << rawFor(0.0299) << 0.0101f;
    QTest::newRow("half") << rawFor(0.5) << 0.4898f;
    QTest::newRow("above range clamps") << 70000 << 1.0f;
}

void TestInputDevice::axisNormalisation()
{
    QFETCH(int, raw);
    QFETCH(float, expected);
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel")));
    QVERIFY(virtualDevice);
    virtualDevice->setAxisRaw(InputAxisX, raw); // the steering axis, live from the open
    device.poll();
    QVERIFY(std::fabs(device.axis(0) - expected) < 1e-4f);
}

void TestInputDevice::liveLatch_data()
{
    QTest::addColumn<Raws>("raws");       // raw values of lZ (index 5), one per read
    QTest::addColumn<QList<float>>("expected");

    QTest::newRow("untouched pedal at centre reads released")
        << Raws{32767, 32767, 32768} << QList<float>{-1.0f, -1.0f, -1.0f};
    QTest::newRow("small moves stay latched")
        << Raws{rawFor(0.1), rawFor(-0.1), rawFor(0.11)} << QList<float>{-1.0f, -1.0f, -1.0f};
    QTest::newRow("first real move frees it")
        << Raws{32767, rawFor(0.5), 32767, 0}
        << QList<float>{-1.0f, 0.4898f, 0.0f, -1.0f};
    QTest::newRow("fully pressed at once") << Raws{65535, 32767} << QList<float>{1.0f, 0.0f};
    QTest::newRow("released end counts as a move") << Raws{0, 32767} << QList<float>{-1.0f, 0.0f};
}

void TestInputDevice::liveLatch()
{
    QFETCH(Raws, raws);
    QFETCH(QList<float>, expected);
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Pedals")));
    QVERIFY(virtualDevice);
    QVERIFY(!device.isAxisLive(InputAxisZ));
    // Before the first read, too, an untouched axis is released.
    QCOMPARE(device.axis(InputAxisZ), -1.0f);
    for (int i = 0; i < raws.size(); ++i) {
        virtualDevice->setAxisRaw(InputAxisZ, raws.at(i));
        device.poll();
        QVERIFY2(std::fabs(device.axis(InputAxisZ) - expected.at(i)) < 1e-4f,
                 qPrintable(QStringLiteral("read %1: %2").arg(i).arg(device.axis(InputAxisZ))));
    }
}

void TestInputDevice::liveLatchOutlivesRelease()
{
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Pedals")));
    virtualDevice->setAxis(InputAxisZ, 0.5f);
    device.poll();
    QVERIFY(device.isAxisLive(InputAxisZ));
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

void TestInputDevice::buttonDebounce_data()
{
    QTest::addColumn<Flags>("raws");     // raw state of button 3, one per read
    QTest::addColumn<Flags>("expected"); // debounced state after each read

    QTest::newRow("press held four reads")
        << Flags{true, true, true, true, true} << Flags{false, false, false, true, true};
    QTest::newRow("three-read flicker ignored")
        << Flags{true, true, true, false, true, true, true, false}
        << Flags{false, false, false, false, false, false, false, false};
    QTest::newRow("single spike ignored") << Flags{true, false, false, false}
                                          << Flags{false, false, false, false};
    QTest::newRow("release also needs four")
        << Flags{true, true, true, true, false, false, false, true, false, false, false, false}
        << Flags{false, false, false, true, true, true, true, true, true, true, true, false};
}

void TestInputDevice::buttonDebounce()
{
    QFETCH(Flags, raws);
    QFETCH(Flags, expected);
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Shifter")));
    for (int i = 0; i < raws.size(); ++i) {
        // Only bit 7 counts.
        virtualDevice->setButtonByte(3, raws.at(i) ? 0x80 : 0x7F);
        device.poll();
        QCOMPARE(device.button(3), expected.at(i));
        QVERIFY(!device.button(4));
    }
}

void TestInputDevice::hats_data()
{
    QTest::addColumn<quint32>("raw");
    QTest::addColumn<int>("expected");

    QTest::newRow("up") << 0u << 0;
    QTest::newRow("diagonal") << 4500u << 45;
    QTest::newRow("left") << 27000u << 270;
    QTest::newRow("odd hundredths truncated") << 4599u << 45;
    QTest::newRow("centred, all bits") << 0xFFFFFFFFu << -1;
    QTest::newRow("centred, low 16 bits") << 0x0000FFFFu << -1;
}

void TestInputDevice::hats()
{
    QFETCH(quint32, raw);
    QFETCH(int, expected);
    InputDevice device;
    VirtualInputDevice *virtualDevice
        = openOne(device, VirtualDeviceSpec(QStringLiteral("Stick"), 4, 12, 4));
    virtualDevice->setPov(2, raw);
    device.poll();
    QCOMPARE(device.pov(2), expected);
    QCOMPARE(device.pov(0), -1);
}

void TestInputDevice::restingAxes_data()
{
    QTest::addColumn<QList<float>>("values"); // steering axis values, one per read
    QTest::addColumn<bool>("restsAtCentre");

    const auto hold = [](float value, int reads) { return QList<float>(reads, value); };
    QTest::newRow("fourteen still reads are not enough") << hold(0.0f, 14) << false;
    QTest::newRow("fifteen still reads at centre") << hold(0.0f, 15) << true;
    QTest::newRow("still near centre") << hold(0.25f, 16) << true;
    QTest::newRow("still at an end") << hold(-1.0f, 30) << false;
    QTest::newRow("between keeps the flag") << hold(0.0f, 16) + hold(0.6f, 40) << true;
    QTest::newRow("centre then end")
        << hold(0.0f, 16) + hold(1.0f, 16) << false;
    QTest::newRow("movement restarts the count")
        << hold(0.0f, 10) + QList<float>{0.2f} + hold(0.0f, 14) << false;
    QTest::newRow("slow creep still counts")
        << QList<float>{0.0f, 0.04f, 0.08f, 0.12f, 0.16f, 0.2f, 0.24f, 0.2f, 0.16f, 0.12f, 0.08f,
                        0.04f, 0.0f, 0.04f, 0.08f, 0.12f}
        << true;
}

void TestInputDevice::restingAxes()
{
    QFETCH(QList<float>, values);
    QFETCH(bool, restsAtCentre);
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel")));
    for (float value : std::as_const(values)) {
        // Undo the deadzone so the axis reads exactly `value`.
        const float raw = value == 0.0f ? 0.0f : (value > 0 ? 1.0f : -1.0f) * (std::fabs(value) * 0.98f + 0.02f);
        virtualDevice->setAxis(InputAxisX, raw);
        device.poll();
    }
    QCOMPARE(device.axisRestsAtCentre(InputAxisX), restsAtCentre);
    // An axis never made live is never classified.
    QVERIFY(!device.axisRestsAtCentre(InputAxisZ));
}

void TestInputDevice::outOfRangeAccessors()
{
    InputDevice device;
    QVERIFY(openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel"))));
    device.poll();
    QCOMPARE(device.axis(-1), 0.0f);
    QCOMPARE(device.axis(8), 0.0f);
    QVERIFY(!device.button(-1));
    QVERIFY(!device.button(128));
    QCOMPARE(device.pov(-1), -1);
    QCOMPARE(device.pov(4), -1);
    QVERIFY(!device.isAxisLive(8));
    QVERIFY(!device.axisRestsAtCentre(-1));
}

void TestInputDevice::roleAxisValue_data()
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
    QTest::newRow("combined, inverted down") << true << 0.0f << true << -1.0f << 1.0f << -1.0f;
    QTest::newRow("combined, off centre") << true << 0.5f << false << 0.75f << 0.0f << -1.0f;
    QTest::newRow("combined, off centre below") << true << 0.5f << false << -0.25f << -1.0f << 0.0f;
    QTest::newRow("combined, centre clamped") << true << 1.0f << false << 1.0f << 1.0f << -1.0f;
    QTest::newRow("combined, centre clamped low") << true << -1.0f << false << -1.0f << -1.0f << 1.0f;
    QTest::newRow("separate, inverted throttle") << false << 0.0f << true << 0.5f << -0.5f << 0.5f;
    QTest::newRow("separate, plain") << false << 0.0f << false << -0.25f << -0.25f << -0.25f;
}

void TestInputDevice::roleAxisValue()
{
    QFETCH(bool, combined);
    QFETCH(float, centre);
    QFETCH(bool, throttleInverted);
    QFETCH(float, axisValue);
    QFETCH(float, throttle);
    QFETCH(float, brake);

    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel")));
    AxisMapping mapping;
    mapping.map = {0, 0, 0, -1}; // everything on the steering axis, which is live
    mapping.inverted = {false, throttleInverted, false, false};
    mapping.combinedPedals = combined;
    mapping.combinedPedalsCenter = centre;
    device.setAxisMapping(mapping);
    const float raw = axisValue == 0.0f ? 0.0f
                                        : (axisValue > 0 ? 1.0f : -1.0f)
                                              * (std::fabs(axisValue) * 0.98f + 0.02f);
    virtualDevice->setAxis(InputAxisX, raw);
    device.poll();
    QVERIFY(std::fabs(device.axis(0) - axisValue) < 1e-4f);
    QVERIFY2(std::fabs(device.roleAxisValue(InputDevice::Throttle) - throttle) < 1e-3f,
             qPrintable(QString::number(device.roleAxisValue(InputDevice::Throttle))));
    QVERIFY2(std::fabs(device.roleAxisValue(InputDevice::Brake) - brake) < 1e-3f,
             qPrintable(QString::number(device.roleAxisValue(InputDevice::Brake))));
    QVERIFY(std::fabs(device.property("throttle").toFloat() - throttle) < 1e-3f);
    QVERIFY(std::fabs(device.brake() - brake) < 1e-3f);
    QVERIFY(std::fabs(device.steering() - axisValue) < 1e-4f);
    QCOMPARE(device.roleAxisValue(InputDevice::Clutch), 0.0f); // no axis
    QCOMPARE(device.roleAxisValue(-1), 0.0f);
    QCOMPARE(device.roleAxisValue(8), 0.0f);
    QCOMPARE(device.roleAxisValue(4), device.axis(4));
    QCOMPARE(device.roleAxisValue(7), device.axis(7));
}

void TestInputDevice::setAxisMappingMarksLive()
{
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Pedals")));
    AxisMapping mapping;
    mapping.map = {2, 3, 6, 7};
    device.setAxisMapping(mapping);
    QVERIFY(device.isAxisLive(2));
    QVERIFY(!device.isAxisLive(3));
    mapping.map = {9, 7, 6, 5};
    mapping.combinedPedals = true;
    device.setAxisMapping(mapping);
    QVERIFY(device.isAxisLive(7));
    QVERIFY(!device.isAxisLive(6));
    virtualDevice->setAxisRaw(InputAxisSlider1, 32767);
    device.poll();
    QCOMPARE(device.axis(7), 0.0f);
    QCOMPARE(device.roleAxisValue(InputDevice::Steering), 0.0f); // index 9 is no axis
}

void TestInputDevice::combinedPedalsCheck_data()
{
    QTest::addColumn<int>("raw");       // where the shared pedal axis rests
    QTest::addColumn<float>("centre");
    QTest::addColumn<bool>("keeps");
    QTest::addColumn<QString>("warning");

    QTest::newRow("rests at its centre") << 32767 << 0.0f << true << QString();
    QTest::newRow("rests near its centre") << rawFor(0.4) << 0.0f << true << QString();
    QTest::newRow("rests at an end")
        << 0 << 0.0f << false
        << QStringLiteral("InputDevice: combinedPedals disabled — axis 4 rests at -1 but preset "
                          "declares center 0 (preset likely misapplied)");
    QTest::newRow("declared centre is clamped")
        << 65535 << -1.0f << false
        << QStringLiteral("InputDevice: combinedPedals disabled — axis 4 rests at 1 but preset "
                          "declares center -0.95 (preset likely misapplied)");
}

void TestInputDevice::combinedPedalsCheck()
{
    QFETCH(int, raw);
    QFETCH(float, centre);
    QFETCH(bool, keeps);
    QFETCH(QString, warning);

    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(
        device, VirtualDeviceSpec(QStringLiteral("Logitech G29 Driving Force Racing Wheel PS3")));
    QVERIFY(virtualDevice);
    AxisMapping mapping = device.axisMapping();
    QCOMPARE(mapping.presetName, QStringLiteral("Logitech (PS3/PS4)"));
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
    QCOMPARE(device.axisMapping().combinedPedals, keeps);
    // The check is done: a later misplacement goes unnoticed.
    virtualDevice->setAxisRaw(InputAxisY, 0);
    for (int i = 0; i < 40; ++i)
        device.poll();
    QCOMPARE(device.axisMapping().combinedPedals, keeps);
    // A new mapping restarts it.
    if (keeps) {
        device.setAxisMapping(device.axisMapping());
        for (int i = 0; i < 29; ++i)
            device.poll();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("combinedPedals disabled"));
        device.poll();
        QVERIFY(!device.axisMapping().combinedPedals);
    }
}

void TestInputDevice::vendorFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QList<int>>("map");
    QTest::addColumn<Flags>("inverted");
    QTest::addColumn<bool>("combined");

    const QList<int> moza{0, 1, 2, 3};
    const QList<int> logitech{0, 5, 3, 4};
    const QList<int> ps3{0, 4, 4, -1};
    const QList<int> thrustmaster{0, 4, 3, 6};
    const Flags none{false, false, false, false};
    const Flags pedals{false, true, true, true};

    QTest::newRow("moza") << "MOZA R9 Base" << "MOZA / Fanatec" << moza << none << false;
    QTest::newRow("fanatec capitals") << "FANATEC CSL DD" << "MOZA / Fanatec" << moza << none << false;
    QTest::newRow("moza beats logitech") << "moza logitech bridge" << "MOZA / Fanatec" << moza << none << false;
    QTest::newRow("g29 ps3") << "Logitech G29 Driving Force Racing Wheel PS3" << "Logitech (PS3/PS4)"
                             << ps3 << none << true;
    QTest::newRow("ps3 without logitech key") << "Generic PS3 Pad" << "Generic" << logitech << pedals << false;
    QTest::newRow("g920") << "Logitech G920 Driving Force Racing Wheel USB" << "Logitech" << logitech
                          << pedals << false;
    QTest::newRow("t300") << "T300RS Racing Wheel" << "Thrustmaster" << thrustmaster << pedals << false;
    QTest::newRow("tx with space") << "TX Racing Wheel" << "Thrustmaster" << thrustmaster << pedals << false;
    QTest::newRow("tx without space") << "TXRacing" << "Generic" << logitech << pedals << false;
    QTest::newRow("none") << "Simucube 2 Pro" << "Generic" << logitech << pedals << false;
}

void TestInputDevice::vendorFromName()
{
    QFETCH(QString, name);
    QFETCH(QString, preset);
    QFETCH(QList<int>, map);
    QFETCH(Flags, inverted);
    QFETCH(bool, combined);
    const AxisMapping mapping = InputDevice::vendorFromName(name);
    QCOMPARE(mapping.presetName, preset);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(mapping.map[size_t(i)], map.at(i));
        QCOMPARE(mapping.inverted[size_t(i)], inverted.at(i));
    }
    QCOMPARE(mapping.combinedPedals, combined);
}

void TestInputDevice::pollWithoutDevice()
{
    InputDevice device;
    QSignalSpy state(&device, &InputDevice::stateChanged);
    QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
    device.poll();
    QVERIFY(!device.isConnected());
    QCOMPARE(state.size(), 0);
    QCOMPARE(lost.size(), 0);
}

void TestInputDevice::unplugDuringPoll()
{
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel")));
    QSignalSpy state(&device, &InputDevice::stateChanged);
    QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
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

void TestInputDevice::readFailures_data()
{
    QTest::addColumn<VirtualInputStep>("step");
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("good");

    QTest::newRow("poll fails once, acquire recovers") << VirtualInputStep::Poll << 1 << true;
    QTest::newRow("poll fails twice") << VirtualInputStep::Poll << 2 << false;
    QTest::newRow("state read fails") << VirtualInputStep::GetState << 1 << false;
}

void TestInputDevice::readFailures()
{
    QFETCH(VirtualInputStep, step);
    QFETCH(int, times);
    QFETCH(bool, good);
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel")));
    QSignalSpy state(&device, &InputDevice::stateChanged);
    QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
    virtualDevice->failStep(step, InputError::InputLost, times);
    device.poll();
    QCOMPARE(device.isConnected(), good);
    QCOMPARE(state.size(), good ? 1 : 0);
    QCOMPARE(lost.size(), good ? 0 : 1);
    device.poll();
    QVERIFY(device.isConnected());
}

void TestInputDevice::lostInputRetriedBoundedly_data()
{
    QTest::addColumn<int>("lostAcquires");
    QTest::addColumn<bool>("good");
    QTest::addColumn<int>("acquires");

    QTest::newRow("recovers on the second try") << 1 << true << 2;
    QTest::newRow("gives up after three") << 3 << false << 3;
    QTest::newRow("never back") << -1 << false << 3;
}

void TestInputDevice::lostInputRetriedBoundedly()
{
    QFETCH(int, lostAcquires);
    QFETCH(bool, good);
    QFETCH(int, acquires);
    InputDevice device;
    VirtualInputDevice *virtualDevice = openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel")));
    QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
    virtualDevice->failStep(VirtualInputStep::Poll, InputError::InputLost, 1);
    virtualDevice->failStep(VirtualInputStep::Acquire, InputError::InputLost, lostAcquires);
    virtualDevice->clearCalls();
    device.poll();
    QCOMPARE(device.isConnected(), good);
    QCOMPARE(lost.size(), good ? 0 : 1);
    QCOMPARE(virtualDevice->callCount(VirtualInputStep::Acquire), acquires);
}

void TestInputDevice::platformAnswers()
{
    InputDevice device;
    QVERIFY(openOne(device, VirtualDeviceSpec(QStringLiteral("Wheel"), 8, 32, 1, true)));
    QVERIFY(!device.setHardwareRotation(540));
    QVERIFY(!device.setHardwareRotation(0));
    QVERIFY(!isEmbeddedPlatform());
}

OSTRA_TEST_MAIN_CORE(TestInputDevice)
#include "tst_inputdevice.moc"
