#include "platform/input/virtualinputdevice.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Axes a device with n axes has, in the order controllers usually report them.
constexpr int kAxisOrder[InputAxisCount] = {InputAxisX,  InputAxisY,  InputAxisZ,
                                            InputAxisRx, InputAxisRy, InputAxisRz,
                                            InputAxisSlider0, InputAxisSlider1};

} // namespace

VirtualDeviceSpec::VirtualDeviceSpec(const QString &name, int axes, int buttons, int povs, bool ffb)
    : instanceName(name), numAxes(axes), numButtons(buttons), numPovs(povs), forceFeedback(ffb)
{
}

VirtualInputDevice::VirtualInputDevice(const VirtualDeviceSpec &spec) : m_spec(spec)
{
    m_spec.axisSlots.removeIf([](int axis) { return axis < 0 || axis >= InputAxisCount; });
    if (m_spec.axisSlots.isEmpty()) {
        for (int i = 0; i < std::clamp(m_spec.numAxes, 0, InputAxisCount); ++i)
            m_spec.axisSlots.append(kAxisOrder[i]);
    }
    m_spec.numAxes = int(m_spec.axisSlots.size());
    m_spec.numButtons = std::clamp(m_spec.numButtons, 0, InputButtonCount);
    m_spec.numPovs = std::clamp(m_spec.numPovs, 0, InputPovCount);
    if (m_spec.productName.isEmpty())
        m_spec.productName = m_spec.instanceName;
    if (m_spec.productGuid.isNull())
        m_spec.productGuid = inputProductGuid(m_spec.vendorId, m_spec.productId);
    // Present axes start at their centre; absent ones read 0 as on real hardware.
    for (int axis : std::as_const(m_spec.axisSlots))
        m_state.axes[size_t(axis)] = 32767;
}

InputDeviceIdentity VirtualInputDevice::identity() const
{
    return {m_spec.instanceGuid, m_spec.productGuid, m_spec.instanceName, m_spec.productName};
}

InputCapabilities VirtualInputDevice::capabilities() const
{
    return {m_spec.numAxes, m_spec.numButtons, m_spec.numPovs, m_spec.forceFeedback};
}

QList<InputObject> VirtualInputDevice::objects() const
{
    QList<InputObject> list;
    for (int i = 0; i < m_spec.numAxes; ++i) {
        const int axis = m_spec.axisSlots.at(i);
        list.append({InputObjectKind::Axis, axis, inputAxisOffset(axis),
                     inputObjectId(InputObjectKind::Axis, i),
                     m_spec.forceFeedback && m_spec.ffActuators.contains(axis)});
    }
    for (int b = 0; b < m_spec.numButtons; ++b)
        list.append({InputObjectKind::Button, b, inputButtonOffset(b),
                     inputObjectId(InputObjectKind::Button, b), false});
    for (int p = 0; p < m_spec.numPovs; ++p)
        list.append({InputObjectKind::Pov, p, inputPovOffset(p),
                     inputObjectId(InputObjectKind::Pov, p), false});
    return list;
}

void VirtualInputDevice::setAxisRaw(int axis, qint32 raw)
{
    if (axis >= 0 && axis < InputAxisCount) {
        m_state.axes[size_t(axis)] = std::clamp(raw, 0, InputAxisMaximum);
        ++m_state.axisReports[size_t(axis)];
    }
}

void VirtualInputDevice::setAxis(int axis, float value)
{
    const double v = std::clamp(double(value), -1.0, 1.0);
    setAxisRaw(axis, qint32(std::lround((v + 1.0) * 32767.5)));
}

void VirtualInputDevice::setButton(int button, bool down)
{
    setButtonByte(button, down ? 0x80 : 0x00);
}

void VirtualInputDevice::setButtonByte(int button, quint8 byte)
{
    if (button >= 0 && button < InputButtonCount) {
        m_state.buttons[size_t(button)] = byte;
    }
}

void VirtualInputDevice::setPov(int pov, quint32 hundredths)
{
    if (pov >= 0 && pov < InputPovCount) {
        m_state.povs[size_t(pov)] = hundredths;
    }
}

void VirtualInputDevice::centrePov(int pov)
{
    setPov(pov, InputPovCentred);
}

void VirtualInputDevice::unplug()
{
    m_plugged = false;
    ++m_generation;
    m_acquiredHandles = 0;
    m_exclusiveOwner = nullptr;
    for (const auto &effect : m_effects)
        effect->playing = false;
}

void VirtualInputDevice::replug()
{
    m_plugged = true;
}

void VirtualInputDevice::detach()
{
    unplug();
    m_attached = false;
}

void VirtualInputDevice::failWhen(CallFilter filter, InputResult result, int times)
{
    m_rules.append({std::move(filter), result, times});
}

void VirtualInputDevice::failStep(VirtualInputStep step, InputResult result, int times)
{
    failWhen([step](const VirtualInputCall &call) { return call.step == step; }, result, times);
}

void VirtualInputDevice::clearFailures()
{
    m_rules.clear();
}

QList<VirtualInputCall> VirtualInputDevice::calls(VirtualInputStep step) const
{
    QList<VirtualInputCall> list;
    for (const VirtualInputCall &call : m_calls) {
        if (call.step == step)
            list.append(call);
    }
    return list;
}

int VirtualInputDevice::callCount(VirtualInputStep step) const
{
    if (step == VirtualInputStep::Poll)
        return m_pollCount;
    return int(std::count_if(m_calls.cbegin(), m_calls.cend(),
                             [step](const VirtualInputCall &call) { return call.step == step; }));
}

void VirtualInputDevice::clearCalls()
{
    m_calls.clear();
    m_pollCount = 0;
}

QList<VirtualEffect> VirtualInputDevice::effects() const
{
    QList<VirtualEffect> list;
    for (const auto &effect : m_effects)
        list.append(*effect);
    return list;
}

std::optional<VirtualEffect> VirtualInputDevice::effect(InputEffectType type) const
{
    for (const auto &effect : m_effects) {
        if (effect->type == type)
            return *effect;
    }
    return std::nullopt;
}

InputResult VirtualInputDevice::finish(VirtualInputCall call, InputResult result)
{
    if (inputSucceeded(result)) {
        for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
            if (it->remaining == 0 || !it->filter(call))
                continue;
            result = it->result;
            if (it->remaining > 0 && --it->remaining == 0)
                m_rules.erase(it);
            break;
        }
    }
    call.result = result;
    if (call.step == VirtualInputStep::Poll)
        ++m_pollCount;
    else if (call.step != VirtualInputStep::GetState)
        m_calls.append(call);
    return result;
}

} // namespace corvane
