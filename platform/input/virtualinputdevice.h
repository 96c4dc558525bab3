#pragma once

#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

#include "platform/input/inputtypes.h"

namespace corvane {

// What a virtual game controller looks like to its users.
struct VirtualDeviceSpec
{
    VirtualDeviceSpec() = default;
    explicit VirtualDeviceSpec(const QString &name, int axes = 8, int buttons = 32, int povs = 1,
                               bool ffb = false);

    QString instanceName = QStringLiteral("Virtual Controller");
    QString productName;                 // empty: the instance name
    QUuid instanceGuid;                  // null: made from the name and the order of creation
    QUuid productGuid;                   // null: made from the vendor and product ids
    quint16 vendorId = 0;
    quint16 productId = 0;
    int numAxes = 8;                     // the first of X, Y, Z, Rx, Ry, Rz, Slider0, Slider1
    QList<int> axisSlots;                // the axis indexes it has; empty: as numAxes says
    int numButtons = 32;
    int numPovs = 1;
    bool forceFeedback = false;
    QList<int> ffActuators{InputAxisX};  // axis indexes that drive forces, when forceFeedback
};

enum class VirtualInputStep {
    CreateDevice,
    SetDataFormat,
    SetCooperativeLevel,
    EnumObjects,
    SetAxisRange,
    SetAutoCenter,
    Acquire,
    Unacquire,
    Poll,
    GetState,
    GetCapabilities,
    GetDeviceInfo,
    SendCommand,
    CreateEffect,
    SetEffectParameters,
    StartEffect,
    StopEffect,
    ReleaseEffect,
};

// One call a user made on a virtual device, with what it answered.
struct VirtualInputCall
{
    VirtualInputStep step = VirtualInputStep::CreateDevice;
    InputResult result = InputError::Ok;
    quint32 cooperation = 0;   // the caller's cooperative level when the call was made
    quint32 flags = 0;         // level asked (SetCooperativeLevel), parameter flags
                               // (SetEffectParameters), iterations (StartEffect)
    bool on = false;           // SetAutoCenter
    InputFfCommand command = InputFfCommand::Reset;
    InputEffectType effectType = InputEffectType::ConstantForce;
    InputEffectParams params;  // CreateEffect, SetEffectParameters
};

// A loaded force-feedback effect as the device holds it.
struct VirtualEffect
{
    InputEffectType type = InputEffectType::ConstantForce;
    InputEffectParams params;
    bool playing = false;
};

// An in-memory game controller: tests move its axes, buttons and hats, unplug it, make chosen
// calls fail, and read back what force feedback it was asked for. Owned by VirtualInputBackend.
class VirtualInputDevice
{
public:
    using CallFilter = std::function<bool(const VirtualInputCall &)>;

    explicit VirtualInputDevice(const VirtualDeviceSpec &spec);

    const VirtualDeviceSpec &spec() const { return m_spec; }
    InputDeviceIdentity identity() const;
    InputCapabilities capabilities() const;
    QList<InputObject> objects() const;

    // Input. Raw axes are 0..65535; setAxis takes -1..1. Hats are hundredths of a degree. Each
    // change is a report of that control alone to the handles open then; what was set before a
    // handle opened is what it reads at open.
    void setAxisRaw(int axis, qint32 raw);
    void setAxis(int axis, float value);
    void setButton(int button, bool down);
    void setButtonByte(int button, quint8 byte);
    void setPov(int pov, quint32 hundredths);
    void centrePov(int pov);
    const RawInputState &state() const { return m_state; }

    // Presence: an unplugged device is not listed, cannot be opened and its reads fail.
    void unplug();
    void replug();
    bool isPlugged() const { return m_plugged && m_attached; }

    // Failures: the next `times` calls that match (every one when times < 0) answer `result`.
    void failWhen(CallFilter filter, InputResult result = InputError::Failed, int times = -1);
    void failStep(VirtualInputStep step, InputResult result = InputError::Failed, int times = -1);
    void clearFailures();

    // Calls made so far (reads are only counted).
    QList<VirtualInputCall> calls() const { return m_calls; }
    QList<VirtualInputCall> calls(VirtualInputStep step) const;
    int callCount(VirtualInputStep step) const;
    int pollCount() const { return m_pollCount; }
    void clearCalls();

    // Whether some user holds the device, and whether one holds it exclusively.
    bool isAcquired() const { return m_acquiredHandles > 0; }
    bool isAcquiredExclusively() const { return m_exclusiveOwner != nullptr; }
    bool autoCenter() const { return m_autoCenter; }
    QList<VirtualEffect> effects() const;
    std::optional<VirtualEffect> effect(InputEffectType type) const;

private:
    friend class VirtualInputBackend;
    friend class VirtualDeviceHandle;
    friend class VirtualEffectHandle;
    friend class VirtualContext;

    struct Rule
    {
        CallFilter filter;
        InputResult result;
        int remaining;
    };

    // Records the call and answers `result`, or the answer of a matching failure rule.
    InputResult finish(VirtualInputCall call, InputResult result);
    void detach();

    VirtualDeviceSpec m_spec;
    RawInputState m_state;
    bool m_plugged = true;
    bool m_attached = true;
    int m_generation = 0;   // counts unplugs
    int m_acquiredHandles = 0;
    const void *m_exclusiveOwner = nullptr;
    bool m_autoCenter = true;
    QList<Rule> m_rules;
    QList<VirtualInputCall> m_calls;
    int m_pollCount = 0;
    QList<std::shared_ptr<VirtualEffect>> m_effects;
};

} // namespace corvane
