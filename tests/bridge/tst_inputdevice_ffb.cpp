#include <QRegularExpression>
#include <QTest>

#include <limits>

#include "bridge/inputdevice.h"
#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"

using namespace corvane;

namespace {

enum class EffectFailure { None, ByOffsets, OneAxis, All };
enum class AcquireRefusal { None, Background, Both };

const float kNaN = std::numeric_limits<float>::quiet_NaN();

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

    // The addressing variants are tried in order until a constant force can be made; the diagnostic
    // text tells each attempt.
    void probe_data()
    {
        QTest::addColumn<QList<int>>("actuators");
        QTest::addColumn<EffectFailure>("effects");
        QTest::addColumn<AcquireRefusal>("acquire");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QString>("diag");
        const QList<int> one{InputAxisX};
        QTest::newRow("first variant works") << one << EffectFailure::None << AcquireRefusal::None << true
            << "bg axes=1 ofs=[0,0]  X/offset=0x00000000  OK via bg/X/offset";
        QTest::newRow("offsets refused, ids work") << one << EffectFailure::ByOffsets << AcquireRefusal::None << true
            << "bg axes=1 ofs=[0,0]  X/offset=0x80004005  enum0/offset=0x80004005  "
               "enum0/id=0x00000000  OK via bg/enum0/id";
        QTest::newRow("two actuators, two axes needed")
            << QList<int>{InputAxisX, InputAxisY} << EffectFailure::OneAxis << AcquireRefusal::None << true
            << "bg axes=2 ofs=[0,16]  X/offset=0x80004005  enum0/offset=0x80004005  "
               "enum0/id=0x80004005  enum2/offset=0x00000000  OK via bg/enum2/offset";
        QTest::newRow("background refused, foreground works") << one << EffectFailure::None
            << AcquireRefusal::Background << true
            << "acq:bg=0x80070005  fg axes=1 ofs=[0,0]  X/offset=0x00000000  OK via fg/X/offset";
        QTest::newRow("single actuator never tries two axes") << one << EffectFailure::All << AcquireRefusal::None
            << false << "bg axes=1 ofs=[0,0]  X/offset=0x80004005  enum0/offset=0x80004005  "
                        "enum0/id=0x80004005  fg axes=1 ofs=[0,0]  X/offset=0x80004005  "
                        "enum0/offset=0x80004005  enum0/id=0x80004005";
        QTest::newRow("no actuator axis") << QList<int>{} << EffectFailure::None << AcquireRefusal::None << false
                                          << "bg:noaxis  fg:noaxis";
        QTest::newRow("never exclusive") << one << EffectFailure::None << AcquireRefusal::Both << false
                                         << "acq:bg=0x80070005  acq:fg=0x80070005";
    }

    void probe()
    {
        QFETCH(QList<int>, actuators);
        QFETCH(EffectFailure, effects);
        QFETCH(AcquireRefusal, acquire);
        QFETCH(bool, succeeds);
        QFETCH(QString, diag);
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device, actuators);
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
        QCOMPARE(bool(wheel->effect(InputEffectType::ConstantForce)), succeeds);
        QVERIFY(wheel->isAcquired());
        QCOMPARE(wheel->isAcquiredExclusively(), succeeds);
        // The status probes again and tells the same story.
        const FfbStatus status = device.ffbStatus();
        QCOMPARE(status.constantForce, succeeds);
        QCOMPARE(status.hasFfbAxis, !actuators.isEmpty());
        if (!succeeds)
            QCOMPARE(status.diag, diag);
        // Before the probe, auto-centring is switched off and the device reset.
        if (acquire != AcquireRefusal::Both) {
            QCOMPARE(wheel->calls(VirtualInputStep::SendCommand).value(0).command, InputFfCommand::Reset);
            QVERIFY(!wheel->autoCenter());
        }
    }

    void setForceFeedback_data()
    {
        QTest::addColumn<float>("strength");
        QTest::addColumn<int>("magnitude");
        QTest::newRow("beyond full") << 1.7f << 10000;
        QTest::newRow("small negative truncated toward zero") << -0.00019f << -1;
        QTest::newRow("not a number") << kNaN << 0;
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
        // The effect is created once; stopping stops it once and the spring keeps holding the wheel.
        QVERIFY(device.setForceFeedback(0.1f));
        QCOMPARE(wheel->callCount(VirtualInputStep::CreateEffect), 2); // the force and the spring
        device.stopForceFeedback();
        device.stopForceFeedback();
        QVERIFY(!wheel->effect(InputEffectType::ConstantForce)->playing
                && wheel->effect(InputEffectType::Spring)->playing);
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect), 1);
    }

    void setCentering_data()
    {
        QTest::addColumn<float>("strength");
        QTest::addColumn<quint32>("gain");
        QTest::newRow("negative") << -0.3f << 0u;
        QTest::newRow("truncated") << 0.33333f << 3333u;
        QTest::newRow("not a number") << kNaN << 0u;
    }

    void setCentering()
    {
        QFETCH(float, strength);
        QFETCH(quint32, gain);
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        QVERIFY(device.setCentering(strength));
        QCOMPARE(wheel->effect(InputEffectType::Spring)->params.gain, gain);
        QVERIFY(wheel->effect(InputEffectType::Spring)->playing && !wheel->autoCenter());
        device.stopCentering();
        device.stopCentering();
        QVERIFY(!wheel->effect(InputEffectType::Spring)->playing);
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect), 1);
    }

    // A refused effect is reported and tried again on the next call; what is not playing is not stopped.
    void effectFailures()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        wheel->failStep(VirtualInputStep::CreateEffect, InputError::Failed, 1);
        QVERIFY(!device.setCentering(0.5f));
        device.stopCentering();
        QVERIFY(device.setCentering(0.5f));

        wheel->failStep(VirtualInputStep::SetEffectParameters, InputError::InputLost, 1);
        QVERIFY(!device.setForceFeedback(0.5f));
        device.stopForceFeedback();
        QCOMPARE(wheel->callCount(VirtualInputStep::StopEffect), 0);
        QVERIFY(device.setForceFeedback(0.5f));
    }

    // Any level above zero switches it on; its result is ignored.
    void autoCenter()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        for (const auto &[strength, on] : QList<QPair<float, bool>>{{0.01f, true}, {0.0f, false}, {-0.5f, false}}) {
            device.setAutoCenter(strength);
            QCOMPARE(wheel->autoCenter(), on);
        }
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
        // Without force feedback nothing is tried.
        QVERIFY(!device.probeForceFeedback() && !device.setForceFeedback(0.5f) && !device.setCentering(0.5f));
    }

    void releaseStopsEffects()
    {
        InputDevice device;
        VirtualInputDevice *wheel = openWheel(device);
        QVERIFY(device.setForceFeedback(0.6f) && device.setCentering(0.3f));
        device.releaseDevice();
        QVERIFY(wheel->effects().isEmpty() && !wheel->isAcquired() && !device.hasForceFeedback());
        QVERIFY(!device.setForceFeedback(0.6f));
    }

private:
    VirtualInputDevice *openWheel(InputDevice &device, const QList<int> &actuators = {InputAxisX}, bool ffb = true)
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

    VirtualInputBackend *m_input = nullptr;
};

OSTRA_TEST_MAIN_CORE(TestInputDeviceFfb)
#include "tst_inputdevice_ffb.moc"
