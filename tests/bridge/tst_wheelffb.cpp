#include "bridge/corvanecontroller.h"

#include "platform/input/virtualinputbackend.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"
#include "transmitrig.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>
#include <limits>
#include <memory>

using corvane::CorvaneController;
using corvane::InputEffectType;
using corvane::VirtualDeviceSpec;
using corvane::VirtualInputBackend;
using corvane::VirtualInputDevice;

namespace {

// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

// The owner's first timer of this interval (of those single-shot, or running, when asked).
QTimer *childTimer(const QObject *owner, int interval, bool singleShot = false, bool active = false)
{
    for (QTimer *timer : owner->findChildren<QTimer *>()) {
        if (timer->interval() == interval && (!singleShot || timer->isSingleShot()) && (!active || timer->isActive()))
            return timer;
    }
    return nullptr;
}

// A controller with a force-feedback wheel base at position 0 and a wheel base without force
// feedback at position 1.
struct WheelRig
{
    WheelRig()
    {
        input->reset();
        wheel = input->addDevice(VirtualDeviceSpec(QStringLiteral("MOZA R9 Base"), 8, 32, 1, true));
        input->addDevice(VirtualDeviceSpec(QStringLiteral("Logitech G29"), 8, 32, 1, false));
        controller = std::make_unique<CorvaneController>();
        levels = std::make_unique<QSignalSpy>(controller.get(), &CorvaneController::ffbLevelReceived);
    }
    ~WheelRig()
    {
        controller.reset();
        input->reset();
    }

    bool engage(float steer = 0.0f, float strength = 1.0f)
    {
        if (!controller->connectWheelBase(0))
            return false;
        wheel->setAxis(0, steer);
        controller->wheelBase()->poll();
        controller->setWheelFfbStrength(strength);
        return controller->startWheelFfb();
    }

    // One motion sample and one 20 ms tick; the loop's own timer is held so only the test ticks it.
    void tick(float lon, float lat, float vert, int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            controller->handleCarMotion(lon, lat, vert);
            childTimer(controller.get(), 20)->stop();
            idleTick();
        }
    }
    // A tick without a new sample.
    void idleTick() { QMetaObject::invokeMethod(controller.get(), "onFfbTick", Qt::DirectConnection); }

    QList<qint32> magnitudes() const
    {
        QList<qint32> list;
        for (const corvane::VirtualInputCall &call : wheel->calls(corvane::VirtualInputStep::SetEffectParameters)) {
            if (call.effectType == InputEffectType::ConstantForce)
                list << call.params.magnitude;
        }
        return list;
    }
    qint32 lastMagnitude() const { return magnitudes().isEmpty() ? 0 : magnitudes().last(); }
    float lastLevel() const { return levels->isEmpty() ? 0.0f : levels->last().at(0).toFloat(); }
    bool levelAndMagnitude(double level, int magnitude) const
    {
        return std::fabs(lastLevel() - level) < 2e-5 && std::abs(lastMagnitude() - magnitude) <= 1;
    }

    VirtualInputBackend *input = VirtualInputBackend::instance();
    VirtualInputDevice *wheel = nullptr;
    std::unique_ptr<CorvaneController> controller;
    std::unique_ptr<QSignalSpy> levels;
};

// Once the saves handed to the writer so far are on disk.
QByteArray fileBytes(const CorvaneController &controller, const QString &id)
{
    ostratest::writesDone();
    QFile file(controller.profileManager()->profileFilePath(id));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Strength, centering, native centering and auto-engage as the profile file holds them.
QString storedFfb(const CorvaneController &controller, const QString &id)
{
    const WheelFfbSettings s = WheelFfbSettings::fromJson(
        QJsonDocument::fromJson(fileBytes(controller, id)).object().value("wheelFfb").toObject());
    return QStringLiteral("%1 %2 %3 %4").arg(s.strength).arg(s.centering).arg(s.nativeCentering).arg(s.autoEngage);
}

} // namespace

class TestWheelFfb : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
    }

    void forceFromMotion_data()
    {
        QTest::addColumn<float>("steer");
        QTest::addColumn<float>("lon");
        QTest::addColumn<float>("lat");
        QTest::addColumn<float>("vert");
        QTest::addColumn<float>("strength");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<double>("level");
        QTest::addColumn<int>("magnitude");
        // Each filter reaches target x (1 - e^(-n dt / tau)) after n ticks.
        QTest::newRow("cornering, third tick, half strength")
            << 0.0f << 0.0f << 1.0f << 0.0f << 0.5f << 3 << -0.3792723 << -2544;
        QTest::newRow("steered, braking beyond 1.5 g")
            << -1.0f << 8.0f << 0.0f << 0.0f << 1.0f << 40 << -0.5249998 << -5629;
        QTest::newRow("sensor full scale, force capped")
            << 0.0f << 0.0f << 16.0f << 0.0f << 1.0f << 3 << -1.0 << -10000;
    }

    // The level every view sees and the magnitude the wheel base receives.
    void forceFromMotion()
    {
        QFETCH(float, steer);
        QFETCH(float, lon);
        QFETCH(float, lat);
        QFETCH(float, vert);
        QFETCH(float, strength);
        QFETCH(int, ticks);
        QFETCH(double, level);
        QFETCH(int, magnitude);
        WheelRig rig;
        QVERIFY(rig.engage(steer, strength));
        rig.tick(lon, lat, vert, ticks);
        QVERIFY2(rig.levelAndMagnitude(level, magnitude), qPrintable(QString::number(rig.lastMagnitude())));
    }

    // Faulty samples push nothing, and the loop follows the next good sample normally.
    void faultyMotionGivesNoForce()
    {
        WheelRig rig;
        QVERIFY(rig.engage(1.0f));
        rig.tick(0.0f, NaN, 0.0f, 30);
        rig.tick(0.0f, 30.0f, 0.0f, 30);
        QCOMPARE(rig.magnitudes(), QList<qint32>(rig.magnitudes().size(), 0));
        QVERIFY(rig.levels->isEmpty());
        rig.tick(0.0f, 0.5f, 0.0f);
        QVERIFY(rig.levelAndMagnitude(-0.0850406, -1582));
    }

    // On a poor link the filters fall towards 0 with tau = 0.25 s; with transmission stopped
    // the loop then goes idle and stops its timer.
    void staleMotionDecays()
    {
        WheelRig rig;
        QVERIFY(rig.engage());
        rig.tick(0.0f, 0.5f, 0.0f, 10);
        corvane::LinkStatistics stats;
        stats.linkQuality = 19;
        QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onLinkStatisticsReceived",
                                          Q_ARG(corvane::LinkStatistics, stats)));
        QTimer *loop = childTimer(rig.controller.get(), 20);
        loop->start();
        rig.idleTick();
        // 0.5 (1 - e^(-10/3)) e^(-0.08) lateral
        QVERIFY(std::fabs(rig.lastLevel() - -0.2670556) < 2e-5);
        for (int ticks = 0; loop->isActive() && ticks < 500; ++ticks)
            rig.idleTick();
        QVERIFY(!loop->isActive());
        QCOMPARE(rig.lastMagnitude(), 0);
    }

    void engageAndRelease()
    {
        WheelRig rig;
        CorvaneController *c = rig.controller.get();
        QVERIFY(c->connectWheelBase(1));
        QVERIFY(!c->startWheelFfb());
        QVERIFY(!c->setWheelForce(0.5f));

        QVERIFY(c->connectWheelBase(0));
        QVERIFY(c->startWheelFfb());
        c->setWheelFfbCentering(1.7f);
        QCOMPARE(c->wheelFfbCentering(), 1.0f);
        QCOMPARE(rig.wheel->effect(InputEffectType::Spring)->params.gain, 10000u);
        // The check dialog's test force: clamped, and a NaN is no force.
        QVERIFY(c->setWheelForce(-1.7f));
        QCOMPARE(rig.lastMagnitude(), -10000);
        QVERIFY(c->setWheelForce(NaN));
        QCOMPARE(rig.lastMagnitude(), 0);

        c->stopWheelFfb();
        QVERIFY(!rig.wheel->effect(InputEffectType::ConstantForce)->playing);
        QVERIFY(rig.wheel->autoCenter());
    }

    // Several changes within 500 ms reach the profile file in one save, after the last one.
    // Loading a profile applies its values at once and saves nothing; a change still waiting
    // belongs to the profile it was made on, also when the program ends within the 500 ms.
    void debouncedSave()
    {
        QString first;
        QString second;
        {
            WheelRig rig;
            CorvaneController &c = *rig.controller;
            QVERIFY(c.connectWheelBase(0));
            corvane::ProfileManager *store = c.profileManager();
            first = store->activeProfileId();
            second = store->createProfile(QStringLiteral("Rally"));
            store->mutableProfile(second)->wheelFfb = WheelFfbSettings { 0.8f, 0.1f, 0.0f, true };
            QVERIFY(store->saveProfile(second));
            const QByteArray before = fileBytes(c, first);
            const QByteArray secondBefore = fileBytes(c, second);
            c.setWheelFfbStrength(0.9f);
            QSignalSpy saves(childTimer(&c, 500, true), &QTimer::timeout);
            c.setWheelFfbCentering(0.2f);
            c.setWheelNativeCentering(0.5f);
            c.setWheelFfbAutoEngage(true);
            QCOMPARE(fileBytes(c, first), before);
            QTRY_COMPARE_WITH_TIMEOUT(saves.size(), 1, Patience);
            QCOMPARE(storedFfb(c, first), QStringLiteral("0.9 0.2 0.5 1"));

            c.setWheelFfbStrength(0.75f);
            QVERIFY(store->setActiveProfile(second));
            QCOMPARE(storedFfb(c, first), QStringLiteral("0.75 0.2 0.5 1"));
            QCOMPARE((QList<float> { c.wheelFfbStrength(), c.wheelFfbCentering(), c.wheelNativeCentering() }),
                     (QList<float> { 0.8f, 0.1f, 0.0f }));
            QCOMPARE(fileBytes(c, second), secondBefore);
            c.setWheelFfbCentering(0.9f);
        }
        CorvaneController again;
        QCOMPARE(storedFfb(again, second), QStringLiteral("0.8 0.9 0 1"));
        QCOMPARE(storedFfb(again, first), QStringLiteral("0.75 0.2 0.5 1"));
    }

    // Waiting after a start, no response when no motion comes, active with motion, off with the port.
    void receiverStates()
    {
        ostratest::TransmitRig rig;
        QVERIFY(rig.connectCar());
        CorvaneController *c = rig.controller.get();
        QSignalSpy changes(c, &CorvaneController::receiverFfbStateChanged);
        QVERIFY(rig.start());
        childTimer(c, 5000, false, true)->start(0);
        QTRY_COMPARE_WITH_TIMEOUT(c->receiverFfbState(), corvane::ReceiverFfbNoResponse, Patience);
        c->stopTransmissionAndHold();
        QVERIFY(rig.start());
        c->handleCarMotion(0.1f, 0.0f, 0.0f);
        c->stopTransmissionAndHold();
        c->disconnectTransmitter();
        QList<int> seen;
        for (const QList<QVariant> &args : changes)
            seen << args.at(0).value<corvane::ReceiverFfbState>();
        QCOMPARE(seen, (QList<int> { 1, 3, 1, 2, 0 }));
    }
};

OSTRA_TEST_MAIN_CORE(TestWheelFfb)
#include "tst_wheelffb.moc"
