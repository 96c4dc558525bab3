#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <limits>

#include "bridge/inputdevice.h"
#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"

using namespace corvane;

namespace {

enum class EffectFailure { None, ByOffsets, OneAxis, All };
enum class AcquireRefusal { None, Background, Both };

const quint32 kOffsets = InputEffectObjectOffsets | InputEffectCartesian;
const quint32 kIds = InputEffectObjectIds | InputEffectCartesian;

} // namespace

Q_DECLARE_METATYPE(EffectFailure)
Q_DECLARE_METATYPE(AcquireRefusal)

class TestInputDeviceFfb : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_input = VirtualInputBackend::instance();
        QVERIFY(m_input);
        m_input->reset();
    }

    void probe_data()
    {
        QTest::addColumn<QList<int>>("actuators");
        QTest::addColumn<EffectFailure>("effects");
        QTest::addColumn<AcquireRefusal>("acquire");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("diag");

        const QList<int> one{InputAxisX};
        const QList<int> two{InputAxisX, InputAxisY};
        QTest::newRow("first variant works") << one << EffectFailure::None << AcquireRefusal::None << true << 1
            << "bg axes=1 ofs=[0,0]  X/offset=0x00000000  OK via bg/X/offset";
        QTest::newRow("offsets refused, ids work")
            << one << EffectFailure::ByOffsets << AcquireRefusal::None << true << 3
            << "bg axes=1 ofs=[0,0]  X/offset=0x80004005  enum0/offset=0x80004005  "
               "enum0/id=0x00000000  OK via bg/enum0/id";
        QTest::newRow("two actuators, two axes needed")
            << two << EffectFailure::OneAxis << AcquireRefusal::None << true << 4
            << "bg axes=2 ofs=[0,16]  X/offset=0x80004005  enum0/offset=0x80004005  "
               "enum0/id=0x80004005  enum2/offset=0x00000000  OK via bg/enum2/offset";
        QTest::newRow("first actuator is not X")
            << QList<int>{InputAxisRz} << EffectFailure::None << AcquireRefusal::None << true << 2
            << "bg axes=1 ofs=[12,0]  X/offset=0x80070057  enum0/offset=0x00000000  "
               "OK via bg/enum0/offset";
        QTest::newRow("background refused, foreground works")
            << one << EffectFailure::None << AcquireRefusal::Background << true << 1
            << "acq:bg=0x80070005  fg axes=1 ofs=[0,0]  X/offset=0x00000000  OK via fg/X/offset";
        QTest::newRow("single actuator never tries two axes")
            << one << EffectFailure::All << AcquireRefusal::None << false << 6
            << "bg axes=1 ofs=[0,0]  X/offset=0x80004005  enum0/offset=0x80004005  "
               "enum0/id=0x80004005  fg axes=1 ofs=[0,0]  X/offset=0x80004005  "
               "enum0/offset=0x80004005  enum0/id=0x80004005";
        QTest::newRow("two actuators, nothing works")
            << two << EffectFailure::All << AcquireRefusal::None << false << 10
            << "bg axes=2 ofs=[0,16]  X/offset=0x80004005  enum0/offset=0x80004005  "
               "enum0/id=0x80004005  enum2/offset=0x80004005  enum2/id=0x80004005  "
               "fg axes=2 ofs=[0,16]  X/offset=0x80004005  enum0/offset=0x80004005  "
               "enum0/id=0x80004005  enum2/offset=0x80004005  enum2/id=0x80004005";
        QTest::newRow("no actuator axis") << QList<int>{} << EffectFailure::None << AcquireRefusal::None << false << 0
            << "bg:noaxis  fg:noaxis";
        QTest::newRow("never exclusive") << one << EffectFailure::None << AcquireRefusal::Both << false << 0
            << "acq:bg=0x80070005  acq:fg=0x80070005";
    }

    void probe()
    {
        QFETCH(QList<int>, actuators);
        QFETCH(EffectFailure, effects);
        QFETCH(AcquireRefusal, acquire);
        QFETCH(bool, succeeds);
        QFETCH(int, attempts);
        QFETCH(QString, diag);

        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device, actuators);
        QVERIFY(wheel);
        wheel->failWhen([effects](const VirtualInputCall &call) {
            if (call.step != VirtualInputStep::CreateEffect || call.effectType != InputEffectType::ConstantForce)
                return false;
            return effects == EffectFailure::All || (effects == EffectFailure::OneAxis && call.params.axisCount == 1)
                   || (effects == EffectFailure::ByOffsets && (call.params.flags & InputEffectObjectOffsets));
        });
        wheel->failWhen(
            [acquire](const VirtualInputCall &call) {
                return call.step == VirtualInputStep::Acquire && (call.cooperation & InputExclusive)
                    && (acquire == AcquireRefusal::Both
                        || (acquire == AcquireRefusal::Background && (call.cooperation & InputBackground)));
            },
            InputError::AccessDenied);

        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("[FFB] Wheel Base ") + diag));
        QCOMPARE(device.probeForceFeedback(), succeeds);
        int created = 0;
        for (const VirtualInputCall &call : wheel->calls(VirtualInputStep::CreateEffect))
            created += call.effectType == InputEffectType::ConstantForce ? 1 : 0;
        QCOMPARE(created, attempts);
        QCOMPARE(bool(wheel->effect(InputEffectType::ConstantForce)), succeeds);
        QVERIFY(wheel->isAcquired());
        QCOMPARE(wheel->isAcquiredExclusively(), succeeds);

        const FfbStatus status = device.ffbStatus();
        QCOMPARE(status.constantForce, succeeds);
        QCOMPARE(status.hasFfbAxis, !actuators.isEmpty());
        if (!succeeds) {
            QCOMPARE(status.diag, diag);
            // Every probe attempt of the status repeats the same story.
            QCOMPARE(status.errorCode, acquire == AcquireRefusal::Both ? InputError::AccessDenied
                                       : actuators.isEmpty()           ? InputError::Ok
                                                                       : InputError::Failed);
            // The status takes exclusive access again before it probes.
            QCOMPARE(status.exclusive, acquire == AcquireRefusal::None);
        }
        // Before the probe, auto-centring is switched off and the device reset in each exclusive mode.
        if (acquire != AcquireRefusal::Both) {
            QVERIFY(!wheel->calls(VirtualInputStep::SendCommand).isEmpty());
            QCOMPARE(wheel->calls(VirtualInputStep::SendCommand).first().command, InputFfCommand::Reset);
            QVERIFY(!wheel->autoCenter());
        }
    }

    void probeEffectShape()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device, {InputAxisX, InputAxisY});
        wheel->failWhen([](const VirtualInputCall &call) {
            return call.step == VirtualInputStep::CreateEffect && call.params.axisCount == 1;
        });
        QVERIFY(device.probeForceFeedback());
        const QList<VirtualInputCall> created = wheel->calls(VirtualInputStep::CreateEffect);
        QVERIFY(created.size() >= 4);
        const InputEffectParams one = created.at(2).params; // enum0/id
        QVERIFY(one.flags == kIds && one.axisCount == 1 && one.axes[0] == inputObjectId(InputObjectKind::Axis, 0)
                && one.direction[0] == 0);
        QVERIFY(one.duration == InputInfiniteDuration && one.samplePeriod == 0 && one.gain == quint32(InputForceMaximum)
                && one.triggerButton == InputNoTrigger && one.startDelay == 0 && one.magnitude == 0);

        const InputEffectParams pair = created.at(3).params; // enum2/offset
        QVERIFY(pair.flags == kOffsets && pair.axisCount == 2 && pair.axes[0] == inputAxisOffset(InputAxisX)
                && pair.axes[1] == inputAxisOffset(InputAxisY) && pair.direction[0] == 1 && pair.direction[1] == 0);
    }

    void probeStartsCentering()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        wheel->failWhen([](const VirtualInputCall &call) {
            return call.step == VirtualInputStep::CreateEffect && (call.params.flags & InputEffectObjectOffsets);
        });
        QVERIFY(device.probeForceFeedback());
        // The spring uses the addressing the probe found, at the initial strength of one half.
        const std::optional<VirtualEffect> spring = wheel->effect(InputEffectType::Spring);
        QVERIFY(spring && spring->playing);
        QVERIFY(spring->params.gain == 5000 && spring->params.flags == kIds
                && spring->params.axes[0] == inputObjectId(InputObjectKind::Axis, 0));

        // With the spring already running, a second probe leaves it alone.
        device.releaseDevice();
        QVERIFY(device.open(0));
        wheel->clearFailures();
        QVERIFY(device.setCentering(0.8f));
        wheel->clearCalls();
        QVERIFY(device.probeForceFeedback());
        QCOMPARE(wheel->callCount(VirtualInputStep::StartEffect), 0);
        QCOMPARE(wheel->effect(InputEffectType::Spring)->params.gain, 8000u);
    }

    void setForceFeedback_data()
    {
        QTest::addColumn<float>("strength");
        QTest::addColumn<int>("magnitude");

        QTest::newRow("beyond full") << 1.7f << 10000;
        QTest::newRow("quarter left") << -0.25f << -2500;
        QTest::newRow("third truncated") << 0.33333f << 3333;
        QTest::newRow("small negative truncated toward zero") << -0.00019f << -1;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0;
    }

    void setForceFeedback()
    {
        QFETCH(float, strength);
        QFETCH(int, magnitude);
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        QVERIFY(device.setForceFeedback(strength));
        const std::optional<VirtualEffect> force = wheel->effect(InputEffectType::ConstantForce);
        QVERIFY(force && force->playing);
        QCOMPARE(force->params.magnitude, magnitude);
        const VirtualInputCall last = wheel->calls(VirtualInputStep::SetEffectParameters).last();
        QCOMPARE(last.flags, quint32(InputEffectTypeSpecific | InputEffectStart));
        QCOMPARE(last.params.magnitude, magnitude);
        // The effect is created once.
        QVERIFY(device.setForceFeedback(0.1f));
        QCOMPARE(wheel->effect(InputEffectType::ConstantForce)->params.magnitude, 1000);
        QCOMPARE(wheel->callCount(VirtualInputStep::CreateEffect), 2); // the force and the spring
        // Stopping stops it once; the spring keeps holding the wheel.
        device.stopForceFeedback();
        device.stopForceFeedback();
        QVERIFY(!wheel->effect(InputEffectType::ConstantForce)->playing
                && wheel->effect(InputEffectType::Spring)->playing);
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect), 1);
    }

    void setForceFeedbackFailures()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        wheel->failStep(VirtualInputStep::CreateEffect);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^\\[FFB\\] Wheel Base "));
        QVERIFY(!device.setForceFeedback(0.5f));
        wheel->clearFailures();

        wheel->failWhen(
            [](const VirtualInputCall &call) {
                return call.step == VirtualInputStep::SetEffectParameters
                    && call.effectType == InputEffectType::ConstantForce;
            },
            InputError::InputLost, 1);
        QVERIFY(!device.setForceFeedback(0.5f));
        // Not playing, so stopping sends nothing.
        device.stopForceFeedback();
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect), 0);
        QVERIFY(device.setForceFeedback(0.5f));
    }

    void setCentering_data()
    {
        QTest::addColumn<float>("strength");
        QTest::addColumn<quint32>("gain");

        QTest::newRow("negative") << -0.3f << 0u;
        QTest::newRow("beyond full") << 2.0f << 10000u;
        QTest::newRow("truncated") << 0.33333f << 3333u;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0u;
    }

    void setCentering()
    {
        QFETCH(float, strength);
        QFETCH(quint32, gain);
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        QVERIFY(device.setCentering(strength));
        const std::optional<VirtualEffect> spring = wheel->effect(InputEffectType::Spring);
        QVERIFY(spring && spring->playing);
        QCOMPARE(spring->params.gain, gain);
        QCOMPARE(wheel->calls(VirtualInputStep::SetEffectParameters).last().flags,
                 quint32(InputEffectGain));
        QCOMPARE(wheel->calls(VirtualInputStep::StartEffect).last().flags, 1u); // one iteration
        QVERIFY(!wheel->autoCenter());

        device.stopCentering();
        QVERIFY(!wheel->effect(InputEffectType::Spring)->playing);
        device.stopCentering();
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect), 1);
        // The same spring is started again.
        QVERIFY(device.setCentering(1.0f));
        QCOMPARE(wheel->callCount(VirtualInputStep::CreateEffect), 1);
        QCOMPARE(wheel->effect(InputEffectType::Spring)->params.gain, 10000u);
    }

    void centeringWithoutProbe()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device, {InputAxisRz, InputAxisX});
        QVERIFY(device.setCentering(0.5f));
        const QList<VirtualInputCall> created = wheel->calls(VirtualInputStep::CreateEffect);
        QCOMPARE(created.size(), 1);
        const InputEffectParams params = created.first().params;
        QCOMPARE(created.first().effectType, InputEffectType::Spring);
        // The first actuator found, by offset.
        QVERIFY(params.flags == kOffsets && params.axisCount == 1 && params.axes[0] == inputAxisOffset(InputAxisX));
        QVERIFY(params.duration == InputInfiniteDuration && params.gain == quint32(InputForceMaximum)
                && params.triggerButton == InputNoTrigger);
        const InputCondition &c = params.condition;
        QVERIFY(c.offset == 0 && c.positiveCoefficient == 10000 && c.negativeCoefficient == 10000
                && c.positiveSaturation == 10000 && c.negativeSaturation == 10000 && c.deadBand == 0);
        // Auto-centring goes off before the spring is made.
        const QList<VirtualInputCall> calls = wheel->calls();
        QCOMPARE(calls.first().step, VirtualInputStep::SetAutoCenter);
        QCOMPARE(calls.first().on, false);
    }

    void centeringFailures()
    {
        InputDevice noAxis;
        VirtualInputDevice *plain = openWheel(noAxis, {});
        QVERIFY(!noAxis.setCentering(0.5f));
        QCOMPARE(plain->callCount(VirtualInputStep::CreateEffect), 0);

        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        wheel->failStep(VirtualInputStep::CreateEffect, InputError::Failed, 1);
        QVERIFY(!device.setCentering(0.5f));
        QVERIFY(!wheel->effect(InputEffectType::Spring));
        wheel->failStep(VirtualInputStep::StartEffect, InputError::Failed, 1);
        QVERIFY(!device.setCentering(0.5f));
        QVERIFY(!wheel->effect(InputEffectType::Spring)->playing);
        // Not active: stopping sends nothing.
        device.stopCentering();
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect), 0);
        QVERIFY(device.setCentering(0.5f));
        QCOMPARE(wheel->callCount(VirtualInputStep::CreateEffect), 2);
    }

    // Any level above zero switches it on; its result is ignored.
    void autoCenter()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        for (const auto &[strength, on] :
             QList<QPair<float, bool>>{{0.01f, true}, {0.0f, false}, {1.0f, true}, {-0.5f, false}}) {
            device.setAutoCenter(strength);
            QCOMPARE(wheel->autoCenter(), on);
        }
        wheel->failStep(VirtualInputStep::SetAutoCenter);
        device.setAutoCenter(1.0f);
        QCOMPARE(wheel->autoCenter(), false);
    }

    void acquireExclusive()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        QVERIFY(wheel->isAcquiredExclusively());

        // Another user holding the device exclusively forces plain access.
        wheel->failWhen([](const VirtualInputCall &call) {
            return call.step == VirtualInputStep::Acquire && (call.cooperation & InputExclusive);
        }, InputError::AccessDenied, 1);
        device.acquireExclusive(0);
        QVERIFY(wheel->isAcquired());
        QVERIFY(!wheel->isAcquiredExclusively());
        QCOMPARE(device.ffbStatus().exclusive, true); // the status asks again, and now gets it
        QVERIFY(wheel->isAcquiredExclusively());
    }

    // Expected flags in order: enumerated, capable, exclusive, axis, constant force, diagnostic text.
    void ffbStatus_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("ffb");
        QTest::addColumn<bool>("effectsFail");
        QTest::addColumn<QString>("flags");
        QTest::newRow("no device") << false << false << false << "000000";
        QTest::newRow("no force feedback") << true << false << false << "100000";
        QTest::newRow("ready") << true << true << false << "111110";
        QTest::newRow("effects refused") << true << true << true << "111101";
    }

    void ffbStatus()
    {
        QFETCH(bool, open);
        QFETCH(bool, ffb);
        QFETCH(bool, effectsFail);
        QFETCH(QString, flags);
        InputDevice device;
        VirtualInputDevice *wheel = open ? openWheel(device, {InputAxisX}, ffb) : nullptr;
        if (effectsFail)
            wheel->failStep(VirtualInputStep::CreateEffect);
        const FfbStatus s = device.ffbStatus();
        const QString seen = QStringLiteral("%1%2%3%4%5%6").arg(s.enumerated).arg(s.ffbCapable).arg(s.exclusive)
                                 .arg(s.hasFfbAxis).arg(s.constantForce).arg(!s.diag.isEmpty());
        QCOMPARE(seen, flags);
        QCOMPARE(s.errorCode, effectsFail ? InputError::Failed : InputError::Ok);
        if (ffb)
            return;
        // Without force feedback nothing is tried, and nothing breaks.
        QVERIFY(!device.probeForceFeedback() && !device.setForceFeedback(0.5f) && !device.setCentering(0.5f));
        device.stopForceFeedback();
        device.stopCentering();
        device.setAutoCenter(1.0f);
        if (wheel)
            QCOMPARE(wheel->callCount(VirtualInputStep::CreateEffect)
                         + wheel->callCount(VirtualInputStep::SetCooperativeLevel),
                     0);
    }

    void releaseStopsEffects()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        QVERIFY(device.setForceFeedback(0.6f));
        QVERIFY(device.setCentering(-0.3f));
        QCOMPARE(wheel->effects().size(), 2);
        device.releaseDevice();
        QVERIFY(wheel->effects().isEmpty() && !wheel->isAcquired() && !device.hasForceFeedback());
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect) + wheel->callCount(VirtualInputStep::ReleaseEffect), 4);
        QVERIFY(!device.setForceFeedback(0.6f));
        // The status of a released device is empty.
        const FfbStatus status = device.ffbStatus();
        QVERIFY(!status.enumerated && !status.ffbCapable && !status.exclusive && !status.constantForce);

        // The probe at the next open restarts the centring at the stored strength, 0 after the clamp.
        QVERIFY(device.open(0));
        QVERIFY(device.setForceFeedback(0.0f));
        QCOMPARE(wheel->effect(InputEffectType::Spring)->params.gain, 0u);
    }

private:
    VirtualInputDevice *openWheel(InputDevice &device, const QList<int> &actuators = {InputAxisX},
                                  bool ffb = true);
    VirtualInputBackend *m_input = nullptr;
};

VirtualInputDevice *TestInputDeviceFfb::openWheel(InputDevice &device, const QList<int> &actuators,
                                                  bool ffb)
{
    VirtualDeviceSpec spec(QStringLiteral("Wheel"), 8, 32, 1, ffb);
    spec.productName = QStringLiteral("Wheel Base");
    spec.ffActuators = actuators;
    VirtualInputDevice *wheel = m_input->addDevice(spec);
    if (!device.open(m_input->devices().size() - 1))
        return nullptr;
    wheel->clearCalls();
    return wheel;
}

OSTRA_TEST_MAIN_CORE(TestInputDeviceFfb)
#include "tst_inputdevice_ffb.moc"
