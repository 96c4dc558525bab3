#include "bridge/corvanecontroller.h"

#include <QJsonArray>
#include <QUuid>

#include <algorithm>
#include <limits>

#include "bridge/corvaneserialport.h"
#include "bridge/steeringmonitor.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

// An app sends back what it read: the same mapping again moves no role and stops no run.
bool changesMapping(const InputDevice *device, const AxisMapping &next)
{
    return device->axisMapping().toJson() != next.toJson();
}

constexpr int kMinWheelRotationDeg = 90;
constexpr int kMaxWheelRotationDeg = 2520;
constexpr int kDefaultWheelRotationDeg = 900;

// What a failed connect reports: the input system could not start, or the device not open.
struct FailureTexts
{
    const char *init;
    const char *open;
};

#define CONTROLLER_TEXT(text) QT_TRANSLATE_NOOP("corvane::CorvaneController", text)
const FailureTexts kWheelBaseTexts{CONTROLLER_TEXT("Failed to initialize input system for wheel base"),
                                   CONTROLLER_TEXT("Failed to open wheel base device")};
const FailureTexts kPedalsTexts{CONTROLLER_TEXT("Failed to initialize input system for pedals"),
                                CONTROLLER_TEXT("Failed to open pedals device")};
const FailureTexts kShifterTexts{CONTROLLER_TEXT("Failed to initialize input system for shifter"),
                                 CONTROLLER_TEXT("Failed to open shifter device")};
const FailureTexts kJoystickTexts{CONTROLLER_TEXT("Failed to initialize input system for joystick"),
                                  CONTROLLER_TEXT("Failed to open joystick device")};
const FailureTexts kThrottleTexts{CONTROLLER_TEXT("Failed to initialize input system for throttle"),
                                  CONTROLLER_TEXT("Failed to open throttle device")};
#undef CONTROLLER_TEXT

const QString kControlsKind = QStringLiteral("controls");
const QString kFfbKind = QStringLiteral("ffb");

// The four axes of a controls preset, in their stored order.
template<typename Settings>
auto presetAxes(Settings &s)
{
    return std::array{&s.steering, &s.throttle, &s.brake, &s.clutch};
}

QJsonObject presetDevice(const DeviceConnection &slot)
{
    QJsonObject device;
    device.insert(QStringLiteral("productName"), slot.productName);
    device.insert(QStringLiteral("custom"), slot.hasCustomAxisMapping);
    device.insert(QStringLiteral("axisMapping"), slot.axisMapping.toJson());
    return device;
}

// The whole-number part of a JSON number (also of a fractional or huge one), `fallback` for
// any other value.
int wholeNumber(const QJsonValue &value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    return int(std::clamp(value.toDouble(), double(std::numeric_limits<int>::min()),
                          double(std::numeric_limits<int>::max())));
}

// A stored instance GUID names a device only in registry form, braces included; any other
// text gives the null GUID, which matches nothing.
QUuid registryGuid(const QString &text)
{
    constexpr qsizetype kRegistryGuidLength = 38;
    if (text.size() != kRegistryGuidLength || !text.startsWith(u'{') || !text.endsWith(u'}'))
        return QUuid();
    return QUuid::fromString(text);
}

} // namespace

QList<InputDeviceInfo> CorvaneController::availableInputDevices()
{
    return InputDevice::enumerateDevices();
}

QList<SerialPortEntry> CorvaneController::availableSerialPorts()
{
    return CorvaneSerialPort::availablePorts();
}

bool CorvaneController::openInputDevice(InputDevice *device, int index, const char *initFailure,
                                        const char *openFailure)
{
    if (!device->initDirectInput()) {
        emit errorOccurred(tr(initFailure));
        return false;
    }
    if (!device->open(index)) {
        emit errorOccurred(tr(openFailure));
        return false;
    }
    return true;
}

bool CorvaneController::connectCarDevice(CarDevice which, int index)
{
    InputDevice *const device = which == CarDevice::WheelBase ? m_wheelBase
                                : which == CarDevice::Pedals  ? m_pedals
                                                              : m_shifter;
    const FailureTexts &texts = which == CarDevice::WheelBase ? kWheelBaseTexts
                                : which == CarDevice::Pedals  ? kPedalsTexts
                                                              : kShifterTexts;
    if (!openInputDevice(device, index, texts.init, texts.open))
        return false;

    const DeviceConnections stored = m_profiles->deviceConnections();
    const DeviceConnection &old = which == CarDevice::WheelBase ? stored.wheelBase
                                  : which == CarDevice::Pedals  ? stored.pedals
                                                                : stored.shifter;

    DeviceConnection slot;
    slot.productName = device->productName();
    slot.instanceGuid = device->instanceGuid();
    if (which == CarDevice::Shifter) {
        slot.hasCustomShifterMapping = takeStoredShifterMapping(old);
        slot.shifterMapping = m_shifterMapping;
        m_profiles->setShifterDevice(slot);
        return true;
    }

    // A mapping saved for another product would put its roles on the wrong axes: the
    // device keeps the preset it chose for itself instead.
    const bool trusted = old.hasCustomAxisMapping && old.productName == device->productName();
    if (trusted)
        device->setAxisMapping(old.axisMapping);
    // A throttle device connected during a run may come with the pedal down, and a hold from
    // before (race control's release) may have ended on the released reading while it was out:
    // the car waits until the pedal is seen released, as a start refuses it pressed. A pedal set
    // just plugged in reads released until its first report, so only a report ends it, a start's
    // check included.
    m_throttleHeldUntilReleased = true;
    m_throttleHoldAwaitsReport = true;
    slot.axisMapping = device->axisMapping();
    slot.hasCustomAxisMapping = trusted;
    if (which == CarDevice::Pedals) {
        m_profiles->setPedalsDevice(slot);
    } else {
        m_profiles->setWheelBaseDevice(slot);
        m_steeringMonitor->reset();
        m_wheelRotationOverrideDeg = 0;
        applyWheelRotationOverride();
    }
    // The check on the connect signal ran before the stored mapping (combined pedals) was in
    // place, and pedals arriving last have no check of their own: look again now.
    onAutoStartCheck();
    return true;
}

bool CorvaneController::takeStoredShifterMapping(const DeviceConnection &stored)
{
    // A table set before any shifter was connected was made for whichever shifter comes; one
    // kept for another product would shift into the wrong gears.
    const bool madeForIt = stored.isEmpty()
                           || (m_shifter->isConnected() && stored.productName == m_shifter->productName());
    if (!stored.hasCustomShifterMapping || !madeForIt)
        return false;
    if (stored.shifterMapping.buttonIndex != m_shifterMapping.buttonIndex) {
        m_shifterMapping = stored.shifterMapping;
        emit shifterMappingChanged();
    }
    return true;
}

bool CorvaneController::connectHeliDevice(HeliDevice which, int index)
{
    InputDevice *const device = which == HeliDevice::Joystick ? m_heliJoystick
                                : which == HeliDevice::Throttle ? m_heliThrottle
                                                                : m_heliPedals;
    const FailureTexts &texts = which == HeliDevice::Joystick ? kJoystickTexts
                                : which == HeliDevice::Throttle ? kThrottleTexts
                                                                : kPedalsTexts;
    if (!openInputDevice(device, index, texts.init, texts.open))
        return false;

    // Like a pedal set's throttle, the lever is held at its low end until a report shows it there
    // (the tick).
    if (which == HeliDevice::Throttle)
        m_leverHeldUntilDown = true;
    DeviceConnection slot;
    slot.productName = device->productName();
    slot.instanceGuid = device->instanceGuid();
    HelicopterConfig config = m_profiles->helicopterConfig();
    switch (which) {
    case HeliDevice::Joystick:
        config.inputs.joystick.device = slot;
        break;
    case HeliDevice::Throttle:
        config.inputs.throttle.device = slot;
        break;
    case HeliDevice::Pedals:
        config.inputs.pedals.device = slot;
        break;
    }
    m_profiles->setHelicopterConfig(config);
    // The store only announces this section; without a save the identity would live in
    // memory alone and be gone after a crash.
    m_profiles->saveActiveProfile();
    return true;
}

bool CorvaneController::connectWheelBase(int index)
{
    return connectCarDevice(CarDevice::WheelBase, index);
}

bool CorvaneController::connectPedals(int index)
{
    return connectCarDevice(CarDevice::Pedals, index);
}

bool CorvaneController::connectShifter(int index)
{
    return connectCarDevice(CarDevice::Shifter, index);
}

bool CorvaneController::connectHeliJoystick(int index)
{
    return connectHeliDevice(HeliDevice::Joystick, index);
}

bool CorvaneController::connectHeliThrottle(int index)
{
    return connectHeliDevice(HeliDevice::Throttle, index);
}

bool CorvaneController::connectHeliPedals(int index)
{
    return connectHeliDevice(HeliDevice::Pedals, index);
}

bool CorvaneController::connectGpioUart(int baudRate)
{
    Q_UNUSED(baudRate);
    emit errorOccurred(tr("GPIO UART is only available on Linux"));
    return false;
}

// shutdownDirectInput releases the device first, so the device announces its going once.
void CorvaneController::disconnectWheelBase()
{
    endRunForUser();
    m_wheelBase->shutdownDirectInput();
}

void CorvaneController::disconnectPedals()
{
    endRunForUser();
    m_pedals->shutdownDirectInput();
}

void CorvaneController::disconnectShifter()
{
    m_shifter->shutdownDirectInput();
}

void CorvaneController::disconnectHeliJoystick()
{
    endRunForUser();
    m_heliJoystick->shutdownDirectInput();
}

void CorvaneController::disconnectHeliThrottle()
{
    endRunForUser();
    m_heliThrottle->shutdownDirectInput();
}

void CorvaneController::disconnectHeliPedals()
{
    endRunForUser();
    m_heliPedals->shutdownDirectInput();
}

bool CorvaneController::isWheelBaseConnected() const
{
    return m_wheelBase->isConnected();
}

bool CorvaneController::isPedalsConnected() const
{
    return m_pedals->isConnected();
}

bool CorvaneController::isShifterConnected() const
{
    return m_shifter->isConnected();
}

bool CorvaneController::isHeliJoystickConnected() const
{
    return m_heliJoystick->isConnected();
}

bool CorvaneController::isHeliThrottleConnected() const
{
    return m_heliThrottle->isConnected();
}

bool CorvaneController::isHeliPedalsConnected() const
{
    return m_heliPedals->isConnected();
}

QString CorvaneController::wheelBaseName() const
{
    return m_wheelBase->deviceName();
}

QString CorvaneController::pedalsName() const
{
    return m_pedals->deviceName();
}

QString CorvaneController::shifterName() const
{
    return m_shifter->deviceName();
}

QString CorvaneController::heliJoystickName() const
{
    return m_heliJoystick->deviceName();
}

QString CorvaneController::heliThrottleName() const
{
    return m_heliThrottle->deviceName();
}

QString CorvaneController::heliPedalsName() const
{
    return m_heliPedals->deviceName();
}

void CorvaneController::onWheelBaseDisconnected()
{
    if (!m_running) {
        emit errorOccurred(tr("Wheel base disconnected"));
        return;
    }
    // The loss may be seen by a read inside the transmit tick, which then goes on with the
    // tick (a car tick stops and reports the loss itself). Stopping once the tick is over
    // gives one stop, one message and no frame after the stop.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_running)
                return;
            stopTransmissionWithoutHold();
            emit errorOccurred(tr("Wheel base disconnected"));
        },
        Qt::QueuedConnection);
}

void CorvaneController::onPedalsDisconnected()
{
    emit errorOccurred(tr("Pedals disconnected"));
}

void CorvaneController::onShifterDisconnected()
{
    emit errorOccurred(tr("Shifter disconnected"));
}

void CorvaneController::autoConnectDevices()
{
    const DeviceConnections stored = m_profiles->deviceConnections();
    if (!stored.portName.isEmpty() && !isSerialConnected()) {
        const QList<SerialPortEntry> ports = availableSerialPorts();
        const bool listed = std::any_of(ports.cbegin(), ports.cend(), [&](const SerialPortEntry &e) {
            return e.portName == stored.portName;
        });
        if (listed)
            connectTransmitter(stored.portName, stored.baudRate);
    }

    const std::array<std::pair<CarDevice, InputDevice *>, 3> carDevices{{
        {CarDevice::WheelBase, m_wheelBase},
        {CarDevice::Pedals, m_pedals},
        {CarDevice::Shifter, m_shifter},
    }};
    for (const auto &[which, device] : carDevices) {
        // Read again for each device: connecting one rewrites the stored connections.
        const DeviceConnections current = m_profiles->deviceConnections();
        const DeviceConnection &slot = which == CarDevice::WheelBase ? current.wheelBase
                                       : which == CarDevice::Pedals  ? current.pedals
                                                                     : current.shifter;
        if (slot.isEmpty() || device->isConnected())
            continue;
        const int index = findSavedDevice(slot);
        if (index >= 0)
            connectCarDevice(which, index);
    }
}

bool CorvaneController::reconnectWheelBase()
{
    const DeviceConnection slot = m_profiles->deviceConnections().wheelBase;
    if (slot.isEmpty())
        return false;
    endRunForUser();
    m_wheelBase->shutdownDirectInput();
    const int index = findSavedDevice(slot);
    return index >= 0 && connectWheelBase(index);
}

int CorvaneController::findSavedDevice(const DeviceConnection &slot) const
{
    if (slot.isEmpty())
        return -1;
    const QList<InputDeviceInfo> devices = availableInputDevices();
    const QUuid saved = registryGuid(slot.instanceGuid);
    if (!saved.isNull()) {
        for (const InputDeviceInfo &info : devices) {
            if (QUuid::fromString(info.instanceGuid) == saved)
                return info.index;
        }
    }
    if (slot.productName.isEmpty())
        return -1;
    for (const InputDeviceInfo &info : devices) {
        if (info.productName.compare(slot.productName, Qt::CaseInsensitive) == 0)
            return info.index;
    }
    return -1;
}

void CorvaneController::setWheelBaseAxisMapping(const AxisMapping &mapping)
{
    if (changesMapping(m_wheelBase, mapping))
        stopForSafety(tr("wheel base mapping changed"));
    m_wheelBase->setAxisMapping(mapping);
    DeviceConnection slot = m_profiles->deviceConnections().wheelBase;
    slot.axisMapping = mapping;
    slot.hasCustomAxisMapping = true;
    m_profiles->setWheelBaseDevice(slot);
}

void CorvaneController::setPedalsAxisMapping(const AxisMapping &mapping)
{
    if (changesMapping(m_pedals, mapping))
        stopForSafety(tr("pedals mapping changed"));
    m_pedals->setAxisMapping(mapping);
    DeviceConnection slot = m_profiles->deviceConnections().pedals;
    slot.axisMapping = mapping;
    slot.hasCustomAxisMapping = true;
    m_profiles->setPedalsDevice(slot);
}

void CorvaneController::setShifterAxisMapping(const AxisMapping &mapping)
{
    if (changesMapping(m_shifter, mapping))
        stopForSafety(tr("shifter mapping changed"));
    m_shifter->setAxisMapping(mapping);
    DeviceConnection slot = m_profiles->deviceConnections().shifter;
    slot.axisMapping = mapping;
    slot.hasCustomAxisMapping = true;
    m_profiles->setShifterDevice(slot);
}

QJsonObject CorvaneController::saveControlsPreset(const QString &kind) const
{
    if (kind == kFfbKind)
        return currentWheelFfb().toJson();
    if (kind != kControlsKind)
        return QJsonObject();

    QJsonArray axes;
    for (const AxisConfig *axis : presetAxes(m_axisSettings))
        axes.append(axis->toJson());
    QJsonObject preset;
    preset.insert(QStringLiteral("axes"), axes);
    preset.insert(QStringLiteral("wheelRotationDeg"), m_axisSettings.wheelRotationDeg);
    preset.insert(QStringLiteral("steeringAngleDeg"), m_axisSettings.steeringAngleDeg);
    const DeviceConnections stored = m_profiles->deviceConnections();
    if (!stored.wheelBase.isEmpty())
        preset.insert(QStringLiteral("wheelBase"), presetDevice(stored.wheelBase));
    if (!stored.pedals.isEmpty())
        preset.insert(QStringLiteral("pedals"), presetDevice(stored.pedals));
    return preset;
}

bool CorvaneController::loadControlsPreset(const QString &kind, const QJsonObject &data,
                                           QString *warning)
{
    if (kind == kFfbKind) {
        const WheelFfbSettings ffb = WheelFfbSettings::fromJson(data);
        setWheelFfbStrength(ffb.strength);
        setWheelFfbCentering(ffb.centering);
        setWheelNativeCentering(ffb.nativeCentering);
        setWheelFfbAutoEngage(ffb.autoEngage);
        return true;
    }
    if (kind != kControlsKind)
        return false;

    AxisSettings settings = m_axisSettings;
    const QJsonArray axes = data.value(QStringLiteral("axes")).toArray();
    const auto targets = presetAxes(settings);
    const int count = std::min(int(axes.size()), int(targets.size()));
    for (int i = 0; i < count; ++i) {
        AxisConfig *target = targets[size_t(i)];
        const QString name = target->name;
        *target = AxisConfig::fromJson(axes.at(i).toObject());
        target->name = name;
    }
    const QJsonValue rotation = data.value(QStringLiteral("wheelRotationDeg"));
    if (!rotation.isUndefined())
        settings.wheelRotationDeg = std::clamp(wholeNumber(rotation, kDefaultWheelRotationDeg),
                                               kMinWheelRotationDeg, kMaxWheelRotationDeg);
    const QJsonValue angle = data.value(QStringLiteral("steeringAngleDeg"));
    if (!angle.isUndefined())
        settings.steeringAngleDeg = std::max(0, wholeNumber(angle, 0));

    stopForSafety(tr("controls preset loaded"));
    setAxisSettings(settings);

    QStringList skipped;
    const DeviceConnections stored = m_profiles->deviceConnections();
    applyCustomAxisMapping(data, QStringLiteral("wheelBase"), stored.wheelBase.productName,
                           tr("wheel base"), skipped, &CorvaneController::setWheelBaseAxisMapping);
    applyCustomAxisMapping(data, QStringLiteral("pedals"), stored.pedals.productName, tr("pedals"),
                           skipped, &CorvaneController::setPedalsAxisMapping);
    if (warning && !skipped.isEmpty())
        *warning = tr("Axis mapping for the %1 was not loaded: it was saved for a different device.")
                       .arg(skipped.join(tr(" and ")));
    return true;
}

void CorvaneController::applyCustomAxisMapping(const QJsonObject &preset, const QString &key,
                                               const QString &storedProductName,
                                               const QString &label, QStringList &skipped,
                                               void (CorvaneController::*setter)(const AxisMapping &))
{
    const QJsonObject device = preset.value(key).toObject();
    if (device.isEmpty() || device.value(QStringLiteral("custom")).toBool() != true)
        return;
    const QString product = device.value(QStringLiteral("productName")).toString();
    if (product.compare(storedProductName, Qt::CaseInsensitive) != 0) {
        skipped.append(label);
        return;
    }
    (this->*setter)(AxisMapping::fromJson(device.value(QStringLiteral("axisMapping")).toObject()));
}

} // namespace corvane
