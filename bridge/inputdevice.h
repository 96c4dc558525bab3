#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <array>
#include <memory>

#include "platform/input/inputbackend.h"
#include "profiles/deviceconnections.h"

namespace corvane {

// One attached game controller as listed for the user.
struct InputDeviceInfo
{
    int index = 0;            // position in the list
    QString name;             // instance name
    QString productName;
    int numAxes = 0;
    int numButtons = 0;
    int numPovs = 0;
    bool supportsFfb = false;
    QString instanceGuid;     // registry text in braces
    QString productGuid;      // registry text in braces
};

// How ready the device is for force feedback.
struct FfbStatus
{
    bool enumerated = false;     // a device is open and connected
    bool ffbCapable = false;
    bool exclusive = false;
    bool hasFfbAxis = false;
    bool constantForce = false;
    qint32 errorCode = 0;        // result of the last probe
    QString diag;                // the probe's diagnostic text
};

// False on this desktop platform: no embedded host facilities are offered.
bool isEmbeddedPlatform();

// One game controller: a wheel base, pedals, a shifter, or a helicopter joystick, throttle or
// pedals. Read on request (poll) into 8 normalised axes, 128 debounced buttons and 4 hats, with the
// steering, throttle and brake roles derived through the axis mapping. Force feedback drives a
// constant force and a centring spring on the same device.
class InputDevice : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool connected READ isConnected NOTIFY connectedChanged)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(float steering READ steering)
    Q_PROPERTY(float throttle READ throttle)
    Q_PROPERTY(float brake READ brake)

public:
    static constexpr int AxisCount = InputAxisCount;
    static constexpr int ButtonCount = InputButtonCount;
    static constexpr int PovCount = InputPovCount;

    enum Role { Steering = 0, Throttle = 1, Brake = 2, Clutch = 3 };

    explicit InputDevice(QObject *parent = nullptr);
    ~InputDevice() override;

    // Attached game controllers in the backend's order; empty when no client can connect.
    static QList<InputDeviceInfo> enumerateDevices();
    bool initDirectInput();
    bool open(int index);
    void releaseDevice();
    void shutdownDirectInput();
    // The top-level window every cooperative level is set for.
    static void setWindowHandle(InputWindowHandle handle);
    // Always false: the device's own rotation range is never changed.
    bool setHardwareRotation(int degrees);

    float axis(int index) const;
    bool button(int index) const;
    int pov(int index) const;
    // Role 0..3 through the mapping, 4..7 the raw axis of that index, anything else 0. A pedal
    // role on an axis the device does not have reads released (-1).
    float roleAxisValue(int role) const;
    float steering() const { return roleAxisValue(Steering); }
    float throttle() const { return roleAxisValue(Throttle); }
    float brake() const { return roleAxisValue(Brake); }

    void setAxisMapping(const AxisMapping &mapping);
    AxisMapping axisMapping() const { return m_mapping; }
    static AxisMapping vendorFromName(const QString &productName);
    // The built-in mappings, one per vendor, named as vendorFromName names them.
    static QList<AxisMapping> mappingPresets();

    // Axis filters: whether an axis has reported real values yet, and whether it rests at its
    // centre (rather than at an end, like a pedal).
    bool isAxisLive(int index) const;
    // Whether the axis of role 0..3 has reported real values yet: until then a pedal there reads
    // released without being seen released.
    bool isRoleLive(int role) const;
    bool axisRestsAtCentre(int index) const;
    // Whether a report since the device was opened carried this axis (of role 0..3 through the
    // mapping). Until then the axis is what was read at open, which a device just plugged in gives
    // as released whatever its pedal does; a report of another axis says nothing of it.
    bool hasAxisReported(int index) const;
    bool isRoleReported(int role) const;
    // Whether the open device has this axis; one it lacks reads raw 0, that is fully one way.
    bool hasAxis(int index) const;
    // The axis of a control that rests at its centre (a stick, a rudder bar): where it is from
    // the moment the device is open, without the latch that keeps an untouched pedal released;
    // 0, its centre, for an axis the device does not have.
    float centredAxis(int index) const;

    bool isConnected() const { return m_device && m_connected; }
    QString deviceName() const { return m_deviceName; }
    QString name() const { return m_name; }
    QString productName() const { return m_productName; }
    QString instanceGuid() const;   // registry text, empty while closed
    QString productGuid() const;
    int deviceIndex() const { return m_deviceIndex; }
    int numAxes() const { return m_numAxes; }
    int numButtons() const { return m_numButtons; }
    int numPovs() const { return m_numPovs; }

    // Force feedback.
    bool hasForceFeedback() const { return m_hasFfb; }
    bool probeForceFeedback();
    bool setForceFeedback(float strength);
    void stopForceFeedback();
    bool setCentering(float strength);
    void stopCentering();
    void setAutoCenter(float strength);
    void acquireExclusive(InputWindowHandle window);
    FfbStatus ffbStatus();

public slots:
    void poll();

signals:
    void connectedChanged(bool connected);
    void deviceNameChanged(const QString &name);
    void stateChanged();
    void deviceDisconnected();

private:
    void release(bool notify);
    void failRead();
    void acquireShared(InputWindowHandle window);
    void detectRestingAxes();
    int enumerateFfbAxes();
    InputEffectParams addressedParams(quint32 flags, int axisCount,
                                      const std::array<quint32, 2> &axes) const;

    static InputWindowHandle s_windowHandle;

    // Backend client and device.
    std::unique_ptr<InputContext> m_context;
    std::unique_ptr<InputDeviceHandle> m_device;
    RawInputState m_raw;

    // Live state.
    std::array<float, AxisCount> m_axes{};
    std::array<float, AxisCount> m_positions{};   // the axes without the live latch
    std::array<bool, AxisCount> m_axisPresent{};
    std::array<bool, ButtonCount> m_buttons{};
    std::array<int, PovCount> m_povs{{-1, -1, -1, -1}};
    bool m_connected = false;
    int m_deviceIndex = 0;

    // Identity.
    QString m_name;
    QString m_productName;
    int m_numAxes = 0;
    int m_numButtons = 0;
    int m_numPovs = 0;
    bool m_hasFfb = false;
    QUuid m_instanceGuid;
    QUuid m_productGuid;
    QString m_deviceName;

    AxisMapping m_mapping;

    // Axis filters.
    std::array<bool, AxisCount> m_axisLive{};
    std::array<bool, AxisCount> m_restsAtCentre{};
    std::array<float, AxisCount> m_lastValue{};
    std::array<int, AxisCount> m_stableCount{};

    std::array<int, ButtonCount> m_debounce{};

    // Combined-pedals check.
    int m_pedalCheckPolls = 0;
    bool m_pedalCheckDone = false;

    // Force feedback.
    std::unique_ptr<InputEffectHandle> m_spring;
    bool m_springActive = false;
    float m_centeringStrength = 0.5f;
    std::unique_ptr<InputEffectHandle> m_constantForce;
    bool m_forcePlaying = false;
    bool m_exclusive = false;
    qint32 m_probeResult = 0;
    QString m_probeDiag;
    int m_ffbAxisCount = 0;
    std::array<quint32, 2> m_ffbAxisOffsets{};
    std::array<quint32, 2> m_ffbAxisIds{};
    bool m_probedValid = false;
    quint32 m_probedFlags = InputEffectObjectOffsets | InputEffectCartesian;
    int m_probedAxisCount = 1;
    std::array<quint32, 2> m_probedAxes{};
};

} // namespace corvane
