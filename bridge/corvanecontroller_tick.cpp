#include "bridge/corvanecontroller.h"

#include <QBitArray>
#include <QDebug>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

#include "bridge/axisresponse.h"
#include "bridge/helicopterinput.h"
#include "bridge/steeringmonitor.h"
#include "profiles/channelvalue.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

constexpr float PedalDeadBand = 0.024425989f; // 50 / 2047
constexpr float PedalSpan = 0.975574f;        // 1 - PedalDeadBand
// The lever's share at or below which the collective counts as down, for arming and starting.
constexpr float HeliIdleShare = 0.1f;

int smoothDecelLogCounter = 0;

// Visits buttonIndex and the extra buttons without building a list: the tick must not allocate.
template<typename Visit>
void forEachButton(const ButtonMapping &mapping, Visit visit)
{
    if (mapping.buttonIndex >= 0)
        visit(mapping.buttonIndex);
    for (int button : mapping.extraButtons) {
        if (button >= 0)
            visit(button);
    }
}

bool anyButtonHeld(const ButtonMapping &mapping, const std::function<bool(int)> &buttonTest)
{
    if (mapping.buttonIndex >= 0 && buttonTest(mapping.buttonIndex))
        return true;
    for (int button : mapping.extraButtons) {
        if (button >= 0 && buttonTest(button))
            return true;
    }
    return false;
}

bool validChannel(int index)
{
    return index >= 0 && index < CorvaneController::ChannelCount;
}

// A soft start of many days would run its millisecond count past the int range: it stays at
// the last count instead, and so does the ramp.
void advanceElapsed(int &elapsedMs, int stepMs)
{
    if (elapsedMs <= std::numeric_limits<int>::max() - stepMs)
        elapsedMs += stepMs;
}

} // namespace

bool CorvaneController::isVirtualButtonPressed(const InputDevice *device, int number)
{
    if (!device || number < 0)
        return false;
    if (number < 128)
        return device->button(number);
    if (number < 144) {
        const int angle = device->pov((number - 128) / 4);
        if (angle == -1)
            return false;
        switch ((number - 128) % 4) {
        case 0: return angle <= 45 || angle >= 315;
        case 1: return angle >= 45 && angle <= 135;
        case 2: return angle >= 135 && angle <= 225;
        default: return angle >= 225 && angle <= 315;
        }
    }
    if (number < 160) {
        const int axis = (number - 144) / 2;
        if (!device->isAxisLive(axis) || !device->axisRestsAtCentre(axis))
            return false;
        const float value = device->axis(axis);
        return (number % 2 == 0) ? value >= 0.5f : value <= -0.5f;
    }
    return false;
}

InputDevice *CorvaneController::deviceForRole(const QString &role) const
{
    if (role == QLatin1String("wheelbase"))
        return m_wheelBase;
    if (role == QLatin1String("pedals"))
        return m_pedals;
    if (role == QLatin1String("shifter"))
        return m_shifter;
    return nullptr;
}

void CorvaneController::startButtonDetection(const QString &role)
{
    InputDevice *device = deviceForRole(role);
    if (!device || !device->isConnected()) {
        emit buttonDetectionResult(-1, false);
        return;
    }
    cancelButtonDetection();
    m_detectingButtons = true;
    m_detectionRole = role;
    device->poll();
    m_heldAtStart.resize(128);
    for (int i = 0; i < 128; ++i)
        m_heldAtStart.setBit(i, device->button(i));
    if (!m_buttonPollTimer) {
        m_buttonPollTimer = new QTimer(this);
        connect(m_buttonPollTimer, &QTimer::timeout, this,
                &CorvaneController::onButtonDetectionPoll);
        m_buttonTimeoutTimer = new QTimer(this);
        m_buttonTimeoutTimer->setSingleShot(true);
        m_buttonPollTimer->setTimerType(Qt::PreciseTimer);
        m_buttonTimeoutTimer->setTimerType(Qt::PreciseTimer);
        connect(m_buttonTimeoutTimer, &QTimer::timeout, this,
                &CorvaneController::onButtonDetectionTimeout);
    }
    emit buttonDetectionStarted(role);
    m_buttonPollTimer->start(25);
    m_buttonTimeoutTimer->start(10000);
}

void CorvaneController::cancelButtonDetection()
{
    if (m_buttonPollTimer) {
        m_buttonPollTimer->stop();
        m_buttonTimeoutTimer->stop();
    }
    m_detectingButtons = false;
    m_heldAtStart.clear();
}

void CorvaneController::onButtonDetectionPoll()
{
    if (!m_detectingButtons)
        return;
    InputDevice *device = deviceForRole(m_detectionRole);
    if (!device || !device->isConnected()) {
        cancelButtonDetection();
        emit buttonDetectionResult(-1, false);
        return;
    }
    device->poll();
    int found = -1;
    for (int i = 0; i < 128; ++i) {
        const bool down = device->button(i);
        if (m_heldAtStart.testBit(i)) {
            if (!down)
                m_heldAtStart.clearBit(i);
            continue;
        }
        if (down && found < 0)
            found = i;
    }
    if (found >= 0) {
        cancelButtonDetection();
        emit buttonDetectionResult(found, true);
    }
}

void CorvaneController::onButtonDetectionTimeout()
{
    if (!m_detectingButtons)
        return;
    cancelButtonDetection();
    emit buttonDetectionResult(-1, false);
}

void CorvaneController::startShifterDetection(int gearIndex)
{
    if (gearIndex < 0 || gearIndex >= ShifterMapping::Size)
        return;
    if (!m_shifter->isConnected()) {
        emit shifterDetectionResult(gearIndex, -1, false);
        return;
    }
    cancelShifterDetection();
    m_gearBeingDetected = gearIndex;
    if (!m_gearPollTimer) {
        m_gearPollTimer = new QTimer(this);
        connect(m_gearPollTimer, &QTimer::timeout, this,
                &CorvaneController::onShifterDetectionPoll);
        m_gearTimeoutTimer = new QTimer(this);
        m_gearTimeoutTimer->setSingleShot(true);
        m_gearPollTimer->setTimerType(Qt::PreciseTimer);
        m_gearTimeoutTimer->setTimerType(Qt::PreciseTimer);
        connect(m_gearTimeoutTimer, &QTimer::timeout, this,
                &CorvaneController::onShifterDetectionTimeout);
    }
    emit shifterDetectionStarted(gearIndex);
    m_gearPollTimer->start(33);
    m_gearTimeoutTimer->start(5000);
}

void CorvaneController::cancelShifterDetection()
{
    if (m_gearPollTimer) {
        m_gearPollTimer->stop();
        m_gearTimeoutTimer->stop();
    }
    m_gearBeingDetected = -1;
}

void CorvaneController::onShifterDetectionPoll()
{
    const int gearIndex = m_gearBeingDetected;
    if (gearIndex < 0)
        return;
    if (!m_shifter->isConnected()) {
        cancelShifterDetection();
        // The caller asked about one gear: the answer names it, as the time-out does.
        emit shifterDetectionResult(gearIndex, -1, false);
        return;
    }
    m_shifter->poll();
    int button = -1;
    for (int i = 0; i < 128 && button < 0; ++i) {
        if (m_shifter->button(i))
            button = i;
    }
    if (button < 0)
        return;
    cancelShifterDetection();
    m_shifterMapping[gearIndex] = button;
    storeShifterMapping();
    emit shifterDetectionResult(gearIndex, button, true);
    emit shifterMappingChanged();
}

void CorvaneController::onShifterDetectionTimeout()
{
    const int gearIndex = m_gearBeingDetected;
    if (gearIndex < 0)
        return;
    cancelShifterDetection();
    emit shifterDetectionResult(gearIndex, -1, false);
}

void CorvaneController::setShifterMapping(const ShifterMapping &mapping)
{
    m_shifterMapping = mapping;
    storeShifterMapping();
    emit shifterMappingChanged();
}

void CorvaneController::storeShifterMapping()
{
    DeviceConnection shifter = m_profiles->deviceConnections().shifter;
    shifter.shifterMapping = m_shifterMapping;
    shifter.hasCustomShifterMapping = true;
    m_profiles->setShifterDevice(shifter);
    m_profiles->saveActiveProfile();
}

void CorvaneController::readControllers()
{
    for (InputDevice *device :
         {m_wheelBase, m_pedals, m_shifter, m_heliJoystick, m_heliThrottle, m_heliPedals}) {
        if (device->isConnected())
            device->poll();
    }
    m_currentGear = gearFromShifter();
}

int CorvaneController::gearFromShifter() const
{
    if (!m_shifter->isConnected())
        return 0;
    const ShifterMapping &map = m_shifterMapping;
    if (map[0] >= 0 && m_shifter->button(map[0]))
        return 0;
    if (map[1] >= 0 && m_shifter->button(map[1]))
        return -1;
    bool anyGearAssigned = false;
    for (int gear = 1; gear <= 7; ++gear) {
        const int button = map[gear + 1];
        if (button < 0)
            continue;
        anyGearAssigned = true;
        if (m_shifter->button(button))
            return gear;
    }
    if (anyGearAssigned)
        return 0;
    const float lever = m_shifter->axis(1);
    if (lever < -0.5f)
        return 1;
    if (lever > 0.5f)
        return -1;
    return 0;
}

QString CorvaneController::detectionStateName(int state)
{
    switch (state) {
    case DetectionChecking: return QStringLiteral("checking");
    case DetectionDetected: return QStringLiteral("detected");
    case DetectionMissing: return QStringLiteral("missing");
    default: return QStringLiteral("unknown");
    }
}

void CorvaneController::evaluateChannelMappings(ButtonMappingSet &set,
                                                std::array<qint32, ChannelCount> &channels,
                                                int first,
                                                int last,
                                                const std::function<bool(int)> &buttonTest,
                                                int stepMs)
{
    first = qMax(first, 0);
    last = qMin(last, ChannelCount - 1);
    for (int ch = first; ch <= last; ++ch) {
        const ButtonMapping *firstSwitch = nullptr;
        const ButtonMapping *firstToggle = nullptr;
        const ButtonMapping *firstRamp = nullptr;
        const ButtonMapping *firstPress = nullptr;
        int rampMin = 0;
        int rampMax = 0;
        for (const ButtonMapping &m : std::as_const(set.mappings)) {
            if (m.buttonIndex < 0 || m.channel != ch)
                continue;
            switch (m.mode) {
            case 4:
                if (!firstSwitch)
                    firstSwitch = &m;
                break;
            case 3:
                if (!firstToggle)
                    firstToggle = &m;
                break;
            case 1:
            case 2:
                if (!firstRamp) {
                    firstRamp = &m;
                    rampMin = m.minValue;
                    rampMax = m.maxValue;
                } else {
                    rampMin = qMin(rampMin, m.minValue);
                    rampMax = qMax(rampMax, m.maxValue);
                }
                break;
            default:
                if (!firstPress)
                    firstPress = &m;
                break;
            }
        }

        if (firstSwitch) {
            for (const ButtonMapping &m : std::as_const(set.mappings)) {
                if (m.buttonIndex < 0 || m.channel != ch || m.mode != 4)
                    continue;
                forEachButton(m, [&](int button) {
                    const bool pressed = buttonTest(button);
                    if (pressed && !set.buttonWasDown.value(button, false))
                        set.positionValues.insert(ch, m.outputValue);
                    set.buttonWasDown.insert(button, pressed);
                });
            }
            channels[ch] = set.positionValues.value(ch, firstSwitch->startValue);
        } else if (firstToggle) {
            for (const ButtonMapping &m : std::as_const(set.mappings)) {
                if (m.buttonIndex < 0 || m.channel != ch || m.mode != 3)
                    continue;
                forEachButton(m, [&](int button) {
                    const bool pressed = buttonTest(button);
                    if (pressed && !set.buttonWasDown.value(button, false))
                        set.toggleStates.insert(ch, !set.toggleStates.value(ch, false));
                    set.buttonWasDown.insert(button, pressed);
                });
            }
            channels[ch] = set.toggleStates.value(ch, false) ? firstToggle->outputValue
                                                             : firstToggle->startValue;
        } else if (firstRamp) {
            auto it = set.rampValues.find(ch);
            if (it == set.rampValues.end())
                it = set.rampValues.insert(ch, firstRamp->startValue);
            double value = it.value();
            for (const ButtonMapping &m : std::as_const(set.mappings)) {
                if (m.buttonIndex < 0 || m.channel != ch || (m.mode != 1 && m.mode != 2))
                    continue;
                if (!anyButtonHeld(m, buttonTest))
                    continue;
                const double step = m.rateUnitsPerSec * (stepMs / 1000.0);
                value += m.mode == 1 ? step : -step;
            }
            if (value < rampMin)
                value = rampMin;
            if (value > rampMax)
                value = rampMax;
            it.value() = value;
            channels[ch] = static_cast<qint32>(value);
        } else if (firstPress) {
            channels[ch] = firstPress->startValue;
            for (const ButtonMapping &m : std::as_const(set.mappings)) {
                if (m.buttonIndex < 0 || m.channel != ch || m.mode != 0)
                    continue;
                if (anyButtonHeld(m, buttonTest))
                    channels[ch] = m.outputValue;
            }
        }
    }
}

void CorvaneController::resetMappingState()
{
    ButtonMappingSet &set = m_buttonMappings;
    set.rampValues.clear();
    set.toggleStates.clear();
    set.positionValues.clear();
    set.buttonWasDown.clear();
    for (const ButtonMapping &m : std::as_const(set.mappings)) {
        if (m.buttonIndex >= 0 && (m.mode == 1 || m.mode == 2)
            && !set.rampValues.contains(m.channel))
            set.rampValues.insert(m.channel, m.startValue);
    }
}

bool CorvaneController::anyPitLimiterButtonHeld(const ButtonMappingSet &set,
                                                const std::function<bool(int)> &buttonTest)
{
    for (const ButtonMapping &m : set.mappings) {
        if (m.activatesPitLimiter && m.buttonIndex >= 0 && anyButtonHeld(m, buttonTest))
            return true;
    }
    return false;
}

bool CorvaneController::heliButtonPressed(int index) const
{
    const InputDevice *device = m_heliJoystick;
    if (index >= 320) {
        device = m_heliPedals;
        index -= 320;
    } else if (index >= 160) {
        device = m_heliThrottle;
        index -= 160;
    }
    return device->isConnected() && isVirtualButtonPressed(device, index);
}

void CorvaneController::buildHelicopterChannels()
{
    const HelicopterConfig &cfg = activeHelicopterConfig();
    HeliControls controls = heliControls(cfg, m_heliJoystick, m_heliThrottle, m_heliPedals);
    // A lever connected during the run may stand anywhere: it drives nothing until a report of its
    // own axis has shown it at its low end, as a start would refuse it raised.
    if (m_leverHeldUntilDown) {
        if (m_heliThrottle->isAxisLive(cfg.inputs.throttle.axis)
            && m_heliThrottle->hasAxisReported(cfg.inputs.throttle.axis)
            && controls.leverShare <= HeliIdleShare) {
            m_leverHeldUntilDown = false;
        } else {
            const float low = heliLeverLowEnd(cfg.calibration.throttle);
            controls.collective = heliCollective(cfg, low);
            controls.leverShare = heliLeverShare(cfg.calibration.throttle, low);
        }
    }
    float values[4] = {controls.roll, controls.pitch, controls.collective, controls.yaw};

    for (int k = 0; k < 4; ++k) {
        if (m_heliFilterPrimed && std::fabs(values[k] - m_heliFilterLast[k]) > 0.6f
            && m_heliFilterHold[k] < 4) {
            values[k] = m_heliFilterLast[k];
            ++m_heliFilterHold[k];
        } else {
            m_heliFilterHold[k] = 0;
            m_heliFilterLast[k] = values[k];
        }
    }
    m_heliFilterPrimed = true;

    float collectiveOut = values[2];
    if (m_heliSoftStartActive) {
        const float duration = static_cast<float>(qMax(1, cfg.fly.softStartSec)) * 1000.0f;
        const float f = qBound(0.0f, static_cast<float>(m_heliSoftStartElapsedMs) / duration, 1.0f);
        collectiveOut = f * values[2];
        advanceElapsed(m_heliSoftStartElapsedMs, TickMs);
        if (f >= 1.0f)
            m_heliSoftStartActive = false;
    }

    evaluateChannelMappings(
        m_buttonMappings, m_channels, HeliMappedChannelFirst, HeliMappedChannelLast,
        [this](int index) { return heliButtonPressed(index); }, TickMs);

    HeliOutput &out = m_heliFrameOutput;
    out = heliOutput({values[0], values[1], collectiveOut, values[3], controls.leverShare}, dualRateFactor(cfg));

    const auto put = [this](int channel, int value) {
        if (validChannel(channel))
            m_channels[channel] = qBound(0, value, 2047);
    };
    put(cfg.channels.roll, out.values[0]);
    put(cfg.channels.pitch, out.values[1]);
    put(cfg.channels.throttle, out.values[2]);
    put(cfg.channels.rudder, out.values[3]);
    if (cfg.fly.throttleCurve.enabled)
        put(cfg.fly.motorChannel, CrsfProtocol::unipolarToCrsf(curve5(cfg.fly.throttleCurve, controls.leverShare)));
    if (cfg.fly.arm.enabled)
        put(cfg.fly.arm.channel,
            CrsfProtocol::microsecondsToCrsf(m_heliArmed ? cfg.fly.arm.onUs : cfg.fly.arm.offUs));
}

QList<int> CorvaneController::heliSetupChannels(const HelicopterConfig &config)
{
    QList<int> channels{config.channels.roll, config.channels.pitch, config.channels.throttle,
                        config.channels.rudder};
    if (config.fly.throttleCurve.enabled)
        channels << config.fly.motorChannel;
    if (config.fly.arm.enabled)
        channels << config.fly.arm.channel;
    return channels;
}

float CorvaneController::dualRateFactor(const HelicopterConfig &cfg) const
{
    if (!cfg.fly.dualRates.enabled)
        return 1.0f;
    const DualRates &rates = cfg.fly.dualRates;
    const int pct = m_heliRateMode == 0 ? rates.beginnerPct
        : m_heliRateMode == 1           ? rates.sportPct
                                        : rates.threeDPct;
    return static_cast<float>(qBound(0, pct, 100)) / 100.0f;
}

HeliOutput CorvaneController::heliLiveOutput(const HelicopterConfig &config) const
{
    // The frame went through the filter, the soft start and the lever's hold: read again, the
    // devices would tell another story.
    if (m_running && isHelicopterMode() && m_frameCount > 0)
        return m_heliFrameOutput;
    return heliOutput(heliControls(config, m_heliJoystick, m_heliThrottle, m_heliPedals), heliDualRateFactor());
}

float CorvaneController::heliDualRateFactor() const
{
    return dualRateFactor(activeHelicopterConfig());
}

bool CorvaneController::setHeliArmed(bool armed, QString *refusal)
{
    if (armed == m_heliArmed)
        return true;
    if (armed) {
        // Armed only for a run: a stop disarms, and none can arm the motor before the user's Start.
        const QString why = m_running ? heliIdleRefusal(false) : tr("Start transmission before arming the motor.");
        if (!why.isEmpty()) {
            if (refusal)
                *refusal = why;
            emit errorOccurred(why);
            return false;
        }
    }
    m_heliArmed = armed;
    emit heliArmedChanged(armed);
    return true;
}

QString CorvaneController::heliIdleRefusal(bool starting) const
{
    const HelicopterConfig &cfg = activeHelicopterConfig();
    if (!cfg.fly.armAtIdle)
        return {};
    const int axis = cfg.inputs.throttle.axis;
    // Without a lever there is no idle to check: a lever read as 0 is half collective.
    if (!m_heliThrottle->isConnected() || axis < 0)
        return starting ? tr("Connect the throttle lever before starting transmission.")
                        : tr("Connect the throttle lever before arming the motor.");
    // A lever that has not moved since its device was opened reads its low end, wherever it is:
    // it is taken for down only once it has been seen there.
    if (m_heliThrottle->hasAxis(axis) && !m_heliThrottle->isAxisLive(axis))
        return starting ? tr("Move the collective to its lowest position before starting transmission.")
                        : tr("Move the collective to its lowest position before arming the motor.");
    // The lever's own travel, not the collective range: a raised Idle is still the lever down.
    const AxisConfig &lever = cfg.calibration.throttle;
    if (heliLeverShare(lever, heliLeverReading(lever, m_heliThrottle, axis)) <= HeliIdleShare)
        return {};
    return starting ? tr("Lower the collective before starting transmission.")
                    : tr("Lower the collective before arming the motor.");
}

void CorvaneController::setHeliRateMode(int mode)
{
    mode = qBound(0, mode, 2);
    if (mode == m_heliRateMode)
        return;
    m_heliRateMode = mode;
    emit heliRateModeChanged(mode);
}

void CorvaneController::setHelicopterConfig(const HelicopterConfig &config)
{
    m_profiles->setHelicopterConfig(config);
    m_profiles->saveActiveProfile();
    setHeliRateMode(config.fly.dualRates.activeMode);
}

HelicopterConfig CorvaneController::helicopterConfig() const
{
    return activeHelicopterConfig();
}

// The tick reads the record in place: a copy per tick is work it does not need.
const HelicopterConfig &CorvaneController::activeHelicopterConfig() const
{
    static const HelicopterConfig defaults;
    const Profile *profile = m_profiles->activeProfile();
    return profile ? profile->helicopterConfig : defaults;
}

bool CorvaneController::isHelicopterMode() const
{
    const Profile *profile = m_profiles->activeProfile();
    return profile && profile->vehicleType == VehicleType::Helicopter;
}

float CorvaneController::effectiveSteeringInput() const
{
    const float raw = m_wheelBase->isConnected() ? m_wheelBase->roleAxisValue(0) : 0.0f;
    const AxisSettings &s = m_axisSettings;
    const int rotation = s.wheelRotationDeg;
    const int r = m_wheelRotationOverrideDeg > 0 ? m_wheelRotationOverrideDeg : rotation;
    const int a = s.steeringAngleDeg;
    const float c = s.steering.useCalibration ? s.steering.inputCenter : 0.0f;
    if (a >= 1 && a < rotation && r >= 1 && a < r)
        return c + (static_cast<float>(r) / static_cast<float>(a)) * (raw - c);
    if (r >= 1 && rotation < r)
        return c + (static_cast<float>(r) / static_cast<float>(rotation)) * (raw - c);
    return raw;
}

void CorvaneController::applyWheelRotationOverride()
{
    if (!m_wheelBase->isConnected())
        return;
    const AxisSettings &s = m_axisSettings;
    if (s.steeringAngleDeg >= 1 && s.steeringAngleDeg < s.wheelRotationDeg) {
        m_wheelRotationOverrideDeg
            = m_wheelBase->setHardwareRotation(s.steeringAngleDeg) ? s.steeringAngleDeg : 0;
    } else if (m_wheelRotationOverrideDeg > 0) {
        m_wheelBase->setHardwareRotation(s.wheelRotationDeg);
        m_wheelRotationOverrideDeg = 0;
    }
}

bool CorvaneController::carButtonPressed(int index) const
{
    return isVirtualButtonPressed(m_wheelBase, index);
}

bool CorvaneController::isPitLimiterActive() const
{
    if (m_axisSettings.pitLimiterEnabled || m_lounge.pitLimiter)
        return true;
    if (!m_wheelBase->isConnected())
        return false;
    return anyPitLimiterButtonHeld(m_buttonMappings,
                                   [this](int index) { return carButtonPressed(index); });
}

bool CorvaneController::isReverseActive() const
{
    return m_axisSettings.reverseEnabled && (m_currentGear == -1 || m_reverseToggled);
}

void CorvaneController::setReverseMode(bool on)
{
    if (m_reverseToggled == on)
        return;
    m_reverseToggled = on;
    if (!m_axisSettings.reverseEnabled)
        emit reverseModeChanged(false);
    else
        emit reverseModeChanged(m_currentGear == -1 ? true : on);
}

void CorvaneController::onTransmitTimer()
{
    if (!m_running)
        return;
    readControllers();
    if (isHelicopterMode()) {
        if (m_heliJoystick->isConnected()) {
            buildHelicopterChannels();
            sendFrameIfStillRunning();
        } else {
            stopTransmissionWithoutHold();
            emit errorOccurred(tr("Joystick disconnected"));
        }
        return;
    }
    if (!m_wheelBase->isConnected()) {
        stopTransmissionWithoutHold();
        emit errorOccurred(tr("Wheel base disconnected"));
        return;
    }
    runCarTick();
    sendFrameIfStillRunning();
}

// A listener of a signal the tick emits (reverse mode, LED power) may have stopped the
// transmission meanwhile: no frame may follow "STOP".
void CorvaneController::sendFrameIfStillRunning()
{
    if (m_running)
        sendChannels();
}

void CorvaneController::runCarTick()
{
    const AxisSettings &s = m_axisSettings;
    const std::function<bool(int)> buttonTest
        = [this](int index) { return carButtonPressed(index); };
    const int gear = m_currentGear;

    const float wheelRaw = m_wheelBase->roleAxisValue(0);
    const float steer = effectiveSteeringInput();
    const InputDevice *pedalDevice = m_pedals->isConnected() ? m_pedals : m_wheelBase;
    const float throttleRaw = pedalDevice->roleAxisValue(1);
    const float brakeRaw = pedalDevice->roleAxisValue(2);

    // The records keep their channel values in range; held there again here, no stored value can
    // take the arithmetic below past the int range.
    const int left = limitChannelValue(s.steeringLeft);
    const int center = limitChannelValue(s.steeringCenter);
    const int right = limitChannelValue(s.steeringRight);
    if (left == 0 && center == 1024 && right == ChannelValueMax) {
        m_channels[0] = CrsfProtocol::axisToRaw11(processAxis(s.steering, steer, true));
    } else {
        float v = steer;
        // Custom end points take the calibrated travel alone: dead zone, curve and range stay out.
        v = calibrateBipolar(s.steering, v);
        if (s.steering.inverted)
            v = -v;
        v = qBound(-1.0f, v, 1.0f);
        const float middle = static_cast<float>(center);
        m_channels[0] = v < 0.0f
            ? static_cast<qint32>(middle - static_cast<float>(left - center) * v)
            : static_cast<qint32>(middle + static_cast<float>(right - center) * v);
    }

    float throttle = processAxis(s.throttle, throttleRaw, false);
    float brake = processAxis(s.brake, brakeRaw, false);

    if (m_startThrottleCheckActive) {
        if (throttle < 0.1f) {
            m_startThrottleCheckActive = false;
        } else if (m_startThrottleCheckTicks == 0 && throttle > 0.9f) {
            m_startThrottleCheckActive = false;
            m_throttleHeldUntilReleased = true;
        }
        ++m_startThrottleCheckTicks;
        if (m_startThrottleCheckTicks >= 3)
            m_startThrottleCheckActive = false;
    }

    if (m_throttleHeldUntilReleased) {
        // An untouched pedal reads released without having been seen so, and a report of the
        // brake or the clutch says nothing of the throttle: it holds on.
        if (throttle < 0.1f && pedalDevice->isRoleLive(InputDevice::Throttle)
            && (!m_throttleHoldAwaitsReport || pedalDevice->isRoleReported(InputDevice::Throttle))) {
            m_throttleHeldUntilReleased = false;
            m_throttleHoldAwaitsReport = false;
        } else {
            throttle = 0.0f;
        }
    }

    if (s.throttleSpikeRejectionEnabled && m_previousThrottle < 0.1f && throttle > 0.8f) {
        throttle = 0.0f;
        brake = 0.0f;
        QMetaObject::invokeMethod(
            this, [this] { stopForSafety(tr("impossible throttle spike detected")); },
            Qt::QueuedConnection);
    }
    m_previousThrottle = throttle;

    if (m_softStartActive) {
        advanceElapsed(m_softStartElapsedMs, TickMs);
        // In float: a duration from a profile file must not overflow and end the ramp at once.
        const float duration = static_cast<float>(s.softStartDurationSec) * 1000.0f;
        const float floor = static_cast<float>(s.softStartFloorPercent) / 100.0f;
        const float limit
            = qMin(static_cast<float>(m_softStartElapsedMs) / duration, 1.0f) * (1.0f - floor)
            + floor;
        throttle = qMin(throttle, limit);
        if (static_cast<float>(m_softStartElapsedMs) >= duration)
            m_softStartActive = false;
    }

    const bool pitActive
        = s.pitLimiterEnabled || anyPitLimiterButtonHeld(m_buttonMappings, buttonTest);

    int neutral = 992;
    int forward = 1811;
    int reverse = 172;
    if (s.escMode != 0) {
        neutral = limitChannelValue(s.escNeutral);
        forward = limitChannelValue(s.escFullForward);
        reverse = limitChannelValue(s.escFullReverse);
    }

    if (s.reverseEnabled && s.reverseButtonIndex >= 0) {
        const bool pressed = carButtonPressed(s.reverseButtonIndex);
        if (pressed && !m_reverseButtonWasDown) {
            m_reverseToggled = !m_reverseToggled;
            emit reverseModeChanged(gear == -1 ? true : m_reverseToggled);
        }
        m_reverseButtonWasDown = pressed;
    } else if (!s.reverseEnabled && m_reverseToggled) {
        setReverseMode(false);
    }
    const bool reverseActive = s.reverseEnabled && (gear == -1 || m_reverseToggled);

    const float neutralF = static_cast<float>(neutral);
    const float forwardSpan = static_cast<float>(forward - neutral);
    const float reverseSpan = static_cast<float>(reverse - neutral);
    int out = neutral;
    if (reverseActive) {
        if (brake > PedalDeadBand) {
            out = neutral;
        } else if (throttle > PedalDeadBand) {
            // A negative stored maximum would turn reverse into forward throttle.
            const float maxShare = static_cast<float>(qMax(0, s.reverseMaxPercent)) / 100.0f;
            const float share = qMin(maxShare, (throttle - PedalDeadBand) / PedalSpan);
            out = static_cast<int>(share * reverseSpan + neutralF);
        }
    } else if (brake >= 0.1f) {
        out = static_cast<int>(reverseSpan * ((brake - 0.1f) / 0.9f) + neutralF);
    } else if (brake > PedalDeadBand) {
        const float f = (1.0f - brake / 0.1f) * throttle;
        if (f > PedalDeadBand)
            out = static_cast<int>(forwardSpan * ((f - PedalDeadBand) / PedalSpan) + neutralF);
    } else if (throttle > PedalDeadBand) {
        out = static_cast<int>(forwardSpan * ((throttle - PedalDeadBand) / PedalSpan) + neutralF);
    }

    const bool hasThrottle = throttle > PedalDeadBand;
    const bool hasBrake = brake > PedalDeadBand;
    const bool neutralHold = s.gearThrottleLimitEnabled && gear == 0;
    const bool gearLimited = !reverseActive && s.gearThrottleLimitEnabled && gear >= 1 && gear <= 7;
    // A negative stored limit would brake or reverse while the throttle is pressed; one above 100
    // limits nothing, and a huge one would take the limit past the int range.
    const int gearPercent = gearLimited ? qBound(0, s.gearThrottleLimitPercent[gear - 1], 100) : 100;

    // Limits hold back the travel towards full forward, which lies below neutral on an ESC set up
    // reversed: compared the other way there, a limit would drive the car with the pedals up.
    const bool forwardAbove = forward >= neutral;
    const auto limitTravel = [forwardAbove](auto value, auto limit) {
        return forwardAbove ? qMin(value, limit) : qMax(value, limit);
    };

    float desired = static_cast<float>(out);
    if (gearLimited)
        desired = limitTravel(
            desired, static_cast<float>(gearPercent / 100.0 * (forward - neutral) + neutral));

    ++smoothDecelLogCounter;
    if (smoothDecelLogCounter % 50 == 0) {
        qDebug() << "SmoothDecel: hasThrottle=" << hasThrottle << "hasBrake=" << hasBrake
                 << "gear=" << gear << "currentOut=" << m_smoothedThrottleOut << "target=" << out
                 << "decelTarget=" << static_cast<float>(neutral) << "neutral=" << neutral
                 << "smoothDecel=" << s.smoothDeceleration;
    }

    float o;
    if (!s.smoothDeceleration) {
        o = neutralHold ? neutralF : desired;
        m_smoothedThrottleOut = o;
        m_smoothedThrottleValid = true;
    } else if (hasBrake) {
        o = desired;
        m_smoothedThrottleOut = o;
        m_smoothedThrottleValid = true;
    } else {
        // A negative stored rate would make the step negative and raise the throttle on release.
        const float step = (static_cast<float>(std::abs(forward - neutral)) * 99.0f)
            / ((static_cast<float>(qMax(0, s.decelRate)) * 14.0f + 85.0f) * 143.0f);
        if (hasThrottle && !neutralHold) {
            if (desired > m_smoothedThrottleOut || !m_smoothedThrottleValid) {
                m_smoothedThrottleOut = desired;
                m_smoothedThrottleValid = true;
            } else if (m_smoothedThrottleOut > desired) {
                m_smoothedThrottleOut -= step;
                if (m_smoothedThrottleOut < desired)
                    m_smoothedThrottleOut = desired;
            }
        } else if (!m_smoothedThrottleValid) {
            m_smoothedThrottleOut = neutralHold ? neutralF : desired;
            m_smoothedThrottleValid = true;
        } else {
            if (m_smoothedThrottleOut > neutralF) {
                if (m_smoothedThrottleOut <= neutralF * 0.075f + neutralF)
                    m_smoothedThrottleOut = neutralF;
                else
                    m_smoothedThrottleOut -= step;
            }
            if (m_smoothedThrottleOut < neutralF)
                m_smoothedThrottleOut = neutralF;
        }
        o = m_smoothedThrottleOut;
    }

    qint32 ch2 = static_cast<qint32>(o);
    m_channels[2] = 0;

    if (!reverseActive) {
        // A pit limit on the braking side of neutral would brake the car with the pedals up.
        const int pitValue = limitChannelValue(s.pitLimiterValue);
        const int pitLimit = forwardAbove ? qMax(pitValue, neutral) : qMin(pitValue, neutral);
        if (pitActive)
            ch2 = limitTravel(ch2, pitLimit);
        if (gearLimited)
            ch2 = limitTravel(
                ch2, neutral + static_cast<int>(gearPercent / 100.0 * (forward - neutral)));
        int cap = 100;
        if (m_lounge.pitLimiter)
            cap = qMin(cap, m_lounge.pitLimiterPercent);
        if (m_lounge.speedCap)
            cap = qMin(cap, m_lounge.speedCapPercent);
        if (cap < 100)
            ch2 = limitTravel(ch2, neutral + static_cast<int>((forward - neutral) * cap / 100.0));
    } else if (!m_lounge.reverseAllowed) {
        ch2 = neutral;
    }
    if (m_lounge.stopped) {
        ch2 = neutral;
        m_smoothedThrottleOut = neutralF;
    }
    m_channels[1] = ch2;

    evaluateChannelMappings(m_buttonMappings, m_channels, CarMappedChannelFirst, CarMappedChannelLast,
                            buttonTest, TickMs);

    if (m_ledSettings.powerButtonIndex >= 0) {
        const bool pressed = carButtonPressed(m_ledSettings.powerButtonIndex);
        if (pressed && !m_ledPowerButtonWasDown) {
            m_ledSettings.powerOn = !m_ledSettings.powerOn;
            emit ledSettingsChanged();
        }
        m_ledPowerButtonWasDown = pressed;
    }
    bool ledChannelMapped = false;
    for (const ButtonMapping &m : std::as_const(m_buttonMappings.mappings)) {
        if (m.buttonIndex >= 0 && m.channel == 11) {
            ledChannelMapped = true;
            break;
        }
    }
    if (!ledChannelMapped)
        m_channels[11] = m_ledSettings.powerOn ? 2047 : 0;

    m_steeringMonitor->update(wheelRaw, m_channels[0], throttleRaw, brakeRaw, left, center, right,
                              TickMs);
}

} // namespace corvane
