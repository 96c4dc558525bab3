#include "bridge/inputdevice.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr float kDeadzone = 0.02f;
constexpr float kLiveThreshold = 0.1f;
constexpr int kDebounceReads = 4;
constexpr int kPedalCheckPoll = 30;
constexpr float kPedalCentreLimit = 0.95f;
constexpr float kPedalMismatch = 0.5f;
constexpr float kRestMovement = 0.05f;
constexpr int kRestReads = 15;
constexpr int kRestCountLimit = 1000;
constexpr float kRestCentre = 0.3f;
constexpr float kRestEnd = 0.85f;
// A device that keeps answering "input lost" is treated as gone rather than retried forever.
constexpr int kAcquireAttempts = 3;

bool validAxis(int index)
{
    return index >= 0 && index < InputAxisCount;
}

float deadzoneRescale(float v)
{
    const float magnitude = std::fabs(v);
    if (magnitude < kDeadzone)
        return 0.0f;
    const float scaled = (magnitude - kDeadzone) / (1.0f - kDeadzone);
    return v < 0.0f ? -scaled : scaled;
}

AxisMapping preset(const char *name, std::array<int, 4> map, bool invertPedals, bool combined)
{
    AxisMapping mapping;
    mapping.presetName = QString::fromUtf8(name);
    mapping.map = map;
    mapping.inverted = {false, invertPedals, invertPedals, invertPedals};
    mapping.combinedPedals = combined;
    mapping.combinedPedalsCenter = 0.0f;
    return mapping;
}

bool containsAny(const QString &text, std::initializer_list<const char *> keys)
{
    return std::any_of(keys.begin(), keys.end(),
                       [&text](const char *key) { return text.contains(QLatin1String(key)); });
}

} // namespace

InputWindowHandle InputDevice::s_windowHandle = 0;

bool isEmbeddedPlatform()
{
    return false;
}

InputDevice::InputDevice(QObject *parent) : QObject(parent) {}

InputDevice::~InputDevice()
{
    release(false);
    m_context.reset();
}

QList<InputDeviceInfo> InputDevice::enumerateDevices()
{
    QList<InputDeviceInfo> list;
    InputBackend *backend = InputBackend::instance();
    const std::unique_ptr<InputContext> context = backend->createContext();
    if (!context)
        return list;
    const QList<InputDeviceIdentity> identities = context->enumerateDevices();
    for (int i = 0; i < identities.size(); ++i) {
        const InputDeviceIdentity &identity = identities.at(i);
        InputDeviceInfo info;
        info.index = i;
        info.name = identity.instanceName;
        info.productName = identity.productName;
        info.instanceGuid = inputGuidText(identity.instanceGuid);
        info.productGuid = inputGuidText(identity.productGuid);
        // Counts come from a throw-away client so that listing never disturbs an open device.
        if (const std::unique_ptr<InputContext> probe = backend->createContext()) {
            std::unique_ptr<InputDeviceHandle> device;
            InputCapabilities caps;
            if (inputSucceeded(probe->createDevice(identity.instanceGuid, device)) && device
                && inputSucceeded(device->getCapabilities(caps))) {
                info.numAxes = caps.numAxes;
                info.numButtons = caps.numButtons;
                info.numPovs = caps.numPovs;
                info.supportsFfb = caps.forceFeedback;
            }
        }
        list.append(info);
    }
    return list;
}

bool InputDevice::initDirectInput()
{
    if (!m_context)
        m_context = InputBackend::instance()->createContext();
    return m_context != nullptr;
}

bool InputDevice::open(int index)
{
    const QList<InputDeviceInfo> devices = enumerateDevices();
    if (index < 0 || index >= devices.size())
        return false;
    releaseDevice();
    if (!initDirectInput())
        return false;

    std::unique_ptr<InputDeviceHandle> device;
    const QUuid guid = QUuid::fromString(devices.at(index).instanceGuid);
    if (!inputSucceeded(m_context->createDevice(guid, device)) || !device)
        return false;
    if (!inputSucceeded(device->setJoystickFormat()))
        return false;
    const InputWindowHandle window = s_windowHandle;
    if (!inputSucceeded(device->setCooperativeLevel(window, InputNonExclusive | InputBackground)))
        return false;
    m_device = std::move(device);

    QList<InputObject> objects;
    // Without the list nothing is known of the axes: every one counts as there.
    m_axisPresent.fill(!inputSucceeded(m_device->enumerateObjects(objects)));
    for (const InputObject &object : std::as_const(objects)) {
        if (object.kind != InputObjectKind::Axis)
            continue;
        m_device->setAxisRange(object.id, 0, InputAxisMaximum);
        if (validAxis(object.index))
            m_axisPresent[size_t(object.index)] = true;
    }

    m_device->acquire();
    InputCapabilities caps;
    if (inputSucceeded(m_device->getCapabilities(caps))) {
        m_numAxes = caps.numAxes;
        m_numButtons = caps.numButtons;
        m_numPovs = caps.numPovs;
        m_hasFfb = caps.forceFeedback;
    }
    if (m_hasFfb)
        acquireExclusive(window);

    InputDeviceIdentity identity;
    if (inputSucceeded(m_device->getDeviceInfo(identity))) {
        m_deviceName = identity.instanceName;
        m_name = identity.instanceName;
        m_productName = identity.productName;
        m_instanceGuid = identity.instanceGuid;
        m_productGuid = identity.productGuid;
    }

    m_deviceIndex = index;
    m_connected = true;
    // What the axis filters learnt was learnt of the device open before: this one is unseen until
    // it moves, however the other one had moved.
    m_axisLive.fill(false);
    m_restsAtCentre.fill(false);
    m_lastValue.fill(0.0f);
    m_stableCount.fill(0);
    setAxisMapping(vendorFromName(m_productName));
    // Until the first read the axes read as the latch reports them: an untouched pedal is
    // released, not half pressed, for whoever checks the pedals on the connect signal.
    for (size_t i = 0; i < size_t(AxisCount); ++i)
        m_axes[i] = m_axisLive[i] ? 0.0f : -1.0f;
    m_positions.fill(0.0f);

    emit connectedChanged(true);
    emit deviceNameChanged(m_deviceName);
    return true;
}

void InputDevice::releaseDevice()
{
    release(true);
}

void InputDevice::release(bool notify)
{
    stopForceFeedback();
    m_constantForce.reset();
    stopCentering();
    m_spring.reset();
    if (m_device) {
        m_device->unacquire();
        m_device.reset();
    }

    m_raw = RawInputState();
    m_axes.fill(0.0f);
    m_positions.fill(0.0f);
    m_axisPresent.fill(false);
    m_buttons.fill(false);
    m_debounce.fill(0);
    m_povs.fill(-1);
    m_connected = false;
    m_deviceIndex = 0;
    m_name.clear();
    m_productName.clear();
    m_numAxes = m_numButtons = m_numPovs = 0;
    m_hasFfb = false;
    m_instanceGuid = QUuid();
    m_productGuid = QUuid();
    m_deviceName.clear();
    // The addressing found by the probe belongs to the device that was open.
    m_exclusive = false;
    m_ffbAxisCount = 0;
    m_probedValid = false;

    if (notify) {
        emit connectedChanged(false);
        emit deviceNameChanged(QString());
    }
}

void InputDevice::shutdownDirectInput()
{
    releaseDevice();
    m_context.reset();
}

void InputDevice::setWindowHandle(InputWindowHandle handle)
{
    s_windowHandle = handle;
}

bool InputDevice::setHardwareRotation(int degrees)
{
    Q_UNUSED(degrees);
    return false;
}

void InputDevice::poll()
{
    if (!m_device) {
        m_connected = false;
        return;
    }
    if (!inputSucceeded(m_device->poll())) {
        InputResult result = m_device->acquire();
        for (int attempt = 1; result == InputError::InputLost && attempt < kAcquireAttempts; ++attempt)
            result = m_device->acquire();
        if (!inputSucceeded(result) || !inputSucceeded(m_device->poll())) {
            failRead();
            return;
        }
    }
    if (!inputSucceeded(m_device->getState(m_raw))) {
        failRead();
        return;
    }
    m_connected = true;

    for (int i = 0; i < AxisCount; ++i) {
        const float raw = float(m_raw.axes[size_t(i)]);
        const float v = deadzoneRescale(std::clamp((raw - 32767.5f) / 32767.5f, -1.0f, 1.0f));
        if (!m_axisLive[size_t(i)] && std::fabs(v) > kLiveThreshold)
            m_axisLive[size_t(i)] = true;
        m_axes[size_t(i)] = m_axisLive[size_t(i)] ? v : -1.0f;
        m_positions[size_t(i)] = v;
    }

    if (m_mapping.combinedPedals && !m_pedalCheckDone && ++m_pedalCheckPolls >= kPedalCheckPoll) {
        const int axis = m_mapping.map[1];
        if (validAxis(axis)) {
            const float value = m_axes[size_t(axis)];
            const float centre = std::clamp(m_mapping.combinedPedalsCenter, -kPedalCentreLimit,
                                            kPedalCentreLimit);
            if (std::fabs(value - centre) > kPedalMismatch) {
                qWarning().nospace() << "InputDevice: combinedPedals disabled — axis " << axis
                                     << " rests at " << value << " but preset declares center "
                                     << centre << " (preset likely misapplied)";
                m_mapping.combinedPedals = false;
            }
        }
        m_pedalCheckDone = true;
    }

    for (int b = 0; b < ButtonCount; ++b) {
        const bool down = (m_raw.buttons[size_t(b)] & 0x80) != 0;
        int &counter = m_debounce[size_t(b)];
        if (down == m_buttons[size_t(b)]) {
            counter = 0;
        } else if (++counter >= kDebounceReads) {
            m_buttons[size_t(b)] = down;
            counter = 0;
        }
    }

    for (int p = 0; p < PovCount; ++p) {
        const quint32 raw = m_raw.povs[size_t(p)];
        m_povs[size_t(p)] = (raw & 0xFFFFu) == 0xFFFFu ? -1 : int(raw / 100);
    }

    detectRestingAxes();
    emit stateChanged();
}

void InputDevice::failRead()
{
    m_connected = false;
    emit deviceDisconnected();
}

void InputDevice::detectRestingAxes()
{
    for (size_t i = 0; i < size_t(AxisCount); ++i) {
        if (!m_axisLive[i])
            continue;
        const float value = m_axes[i];
        if (std::fabs(value - m_lastValue[i]) < kRestMovement) {
            if (m_stableCount[i] < kRestCountLimit)
                ++m_stableCount[i];
            if (m_stableCount[i] >= kRestReads) {
                if (std::fabs(value) < kRestCentre)
                    m_restsAtCentre[i] = true;
                else if (std::fabs(value) > kRestEnd)
                    m_restsAtCentre[i] = false;
            }
        } else {
            m_stableCount[i] = 0;
        }
        m_lastValue[i] = value;
    }
}

float InputDevice::axis(int index) const
{
    return validAxis(index) ? m_axes[size_t(index)] : 0.0f;
}

bool InputDevice::button(int index) const
{
    return index >= 0 && index < ButtonCount && m_buttons[size_t(index)];
}

int InputDevice::pov(int index) const
{
    return index >= 0 && index < PovCount ? m_povs[size_t(index)] : -1;
}

bool InputDevice::isAxisLive(int index) const
{
    return validAxis(index) && m_axisLive[size_t(index)];
}

bool InputDevice::isRoleLive(int role) const
{
    return role >= 0 && role <= Clutch && isAxisLive(m_mapping.map[size_t(role)]);
}

bool InputDevice::hasAxisReported(int index) const
{
    return validAxis(index) && m_raw.axisReports[size_t(index)] > 0;
}

bool InputDevice::isRoleReported(int role) const
{
    return role >= 0 && role <= Clutch && hasAxisReported(m_mapping.map[size_t(role)]);
}

bool InputDevice::axisRestsAtCentre(int index) const
{
    return validAxis(index) && m_restsAtCentre[size_t(index)];
}

bool InputDevice::hasAxis(int index) const
{
    return validAxis(index) && m_axisPresent[size_t(index)];
}

float InputDevice::centredAxis(int index) const
{
    return hasAxis(index) ? m_positions[size_t(index)] : 0.0f;
}

float InputDevice::roleAxisValue(int role) const
{
    if (role < 0 || role >= AxisCount)
        return 0.0f;
    if (role > Clutch)
        return m_axes[size_t(role)];
    const int index = m_mapping.map[size_t(role)];
    if (!validAxis(index))
        return 0.0f;
    // An axis the device lacks reads raw 0, which an inverted pedal would take for fully pressed.
    if (role != Steering && !hasAxis(index))
        return -1.0f;
    const float v = m_axes[size_t(index)];
    if (m_mapping.combinedPedals && (role == Throttle || role == Brake)) {
        const float c = std::clamp(m_mapping.combinedPedalsCenter, -kPedalCentreLimit,
                                   kPedalCentreLimit);
        const bool upperHalf = (role == Throttle) != m_mapping.inverted[Throttle];
        const float f = upperHalf ? std::max(0.0f, (v - c) / (1.0f - c))
                                  : std::max(0.0f, (c - v) / (c + 1.0f));
        return std::clamp(2.0f * f - 1.0f, -1.0f, 1.0f);
    }
    return m_mapping.inverted[size_t(role)] ? -v : v;
}

void InputDevice::setAxisMapping(const AxisMapping &mapping)
{
    m_mapping = mapping;
    if (validAxis(mapping.map[Steering]))
        m_axisLive[size_t(mapping.map[Steering])] = true;
    if (mapping.combinedPedals && validAxis(mapping.map[Throttle]))
        m_axisLive[size_t(mapping.map[Throttle])] = true;
    m_pedalCheckPolls = 0;
    m_pedalCheckDone = false;
}

QList<AxisMapping> InputDevice::mappingPresets()
{
    return {preset("MOZA / Fanatec", {0, 1, 2, 3}, false, false),
            preset("Logitech", {0, 5, 3, 4}, true, false),
            preset("Logitech (PS3/PS4)", {0, 4, 4, -1}, false, true),
            preset("Thrustmaster", {0, 4, 3, 6}, true, false),
            preset("Generic", {0, 5, 3, 4}, true, false)};
}

AxisMapping InputDevice::vendorFromName(const QString &productName)
{
    enum { Moza, Logitech, LogitechPs, Thrustmaster, Generic };
    const QList<AxisMapping> presets = mappingPresets();
    const QString name = productName.toLower();
    if (containsAny(name, {"moza", "fanatec"}))
        return presets.at(Moza);
    const bool logitech = containsAny(name, {"logitech", "g29", "g920", "g923", "g27", "g25",
                                             "dfgt", "driving force"});
    if (logitech && name.contains(QLatin1String("ps3")))
        return presets.at(LogitechPs);
    if (logitech)
        return presets.at(Logitech);
    if (containsAny(name, {"thrustmaster", "t300", "t150", "t-gt", "t248", "t500", "tx ", "tmx"}))
        return presets.at(Thrustmaster);
    return presets.at(Generic);
}

QString InputDevice::instanceGuid() const
{
    return m_device ? inputGuidText(m_instanceGuid) : QString();
}

QString InputDevice::productGuid() const
{
    return m_device ? inputGuidText(m_productGuid) : QString();
}

} // namespace corvane
