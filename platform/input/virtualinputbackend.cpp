#include "platform/input/virtualinputbackend.h"

namespace corvane {

class VirtualEffectHandle : public InputEffectHandle
{
public:
    VirtualEffectHandle(std::shared_ptr<VirtualInputDevice> device,
                        std::shared_ptr<VirtualEffect> effect)
        : m_device(std::move(device)), m_effect(std::move(effect))
    {
    }

    ~VirtualEffectHandle() override
    {
        m_effect->playing = false;
        m_device->m_effects.removeOne(m_effect);
        VirtualInputCall call;
        call.step = VirtualInputStep::ReleaseEffect;
        call.effectType = m_effect->type;
        m_device->finish(call, InputError::Ok);
    }

    InputResult setParameters(const InputEffectParams &params, quint32 which) override
    {
        VirtualInputCall call;
        call.step = VirtualInputStep::SetEffectParameters;
        call.flags = which;
        call.effectType = m_effect->type;
        call.params = params;
        const InputResult result = m_device->finish(call, liveResult());
        if (!inputSucceeded(result))
            return result;
        if (which & InputEffectTypeSpecific) {
            m_effect->params.magnitude = params.magnitude;
            m_effect->params.condition = params.condition;
        }
        if (which & InputEffectGain)
            m_effect->params.gain = params.gain;
        if (which & InputEffectStart)
            m_effect->playing = true;
        return result;
    }

    InputResult start(quint32 iterations, quint32 flags) override
    {
        Q_UNUSED(flags);
        VirtualInputCall call;
        call.step = VirtualInputStep::StartEffect;
        call.flags = iterations;
        call.effectType = m_effect->type;
        const InputResult result = m_device->finish(call, liveResult());
        if (inputSucceeded(result))
            m_effect->playing = true;
        return result;
    }

    InputResult stop() override
    {
        VirtualInputCall call;
        call.step = VirtualInputStep::StopEffect;
        call.effectType = m_effect->type;
        const InputResult result = m_device->finish(call, liveResult());
        if (inputSucceeded(result))
            m_effect->playing = false;
        return result;
    }

private:
    InputResult liveResult() const
    {
        return m_device->isPlugged() ? InputError::Ok : InputError::InputLost;
    }

    std::shared_ptr<VirtualInputDevice> m_device;
    std::shared_ptr<VirtualEffect> m_effect;
};

class VirtualDeviceHandle : public InputDeviceHandle
{
public:
    // What the device holds now is what an open reads; what is set later comes as reports.
    explicit VirtualDeviceHandle(std::shared_ptr<VirtualInputDevice> device)
        : m_device(std::move(device)), m_reportsAtOpen(m_device->m_state.axisReports)
    {
    }

    ~VirtualDeviceHandle() override { release(); }

    InputResult setJoystickFormat() override { return simple(VirtualInputStep::SetDataFormat); }

    InputResult setCooperativeLevel(InputWindowHandle window, quint32 flags) override
    {
        Q_UNUSED(window);
        VirtualInputCall call;
        call.step = VirtualInputStep::SetCooperativeLevel;
        call.flags = flags;
        // The level cannot change while the device is acquired.
        const InputResult result = record(call, acquiredNow() ? InputError::Failed : InputError::Ok);
        if (inputSucceeded(result))
            m_cooperation = flags;
        return result;
    }

    InputResult enumerateObjects(QList<InputObject> &objects) override
    {
        const InputResult result = simple(VirtualInputStep::EnumObjects);
        objects = inputSucceeded(result) ? m_device->objects() : QList<InputObject>();
        return result;
    }

    InputResult setAxisRange(quint32 objectId, qint32 minimum, qint32 maximum) override
    {
        Q_UNUSED(objectId);
        Q_UNUSED(minimum);
        Q_UNUSED(maximum);
        return simple(VirtualInputStep::SetAxisRange);
    }

    InputResult setAutoCenter(bool on) override
    {
        VirtualInputCall call;
        call.step = VirtualInputStep::SetAutoCenter;
        call.on = on;
        InputResult result = InputError::Ok;
        if (!m_device->isPlugged())
            result = InputError::InputLost;
        else if (!m_device->m_spec.forceFeedback)
            result = InputError::NotImplemented;
        result = record(call, result);
        if (inputSucceeded(result))
            m_device->m_autoCenter = on;
        return result;
    }

    InputResult acquire() override
    {
        VirtualInputCall call;
        call.step = VirtualInputStep::Acquire;
        InputResult result = InputError::Ok;
        if (!m_device->isPlugged())
            result = InputError::Unplugged;
        else if ((m_cooperation & InputExclusive) && m_device->m_exclusiveOwner
                 && m_device->m_exclusiveOwner != this)
            result = InputError::AccessDenied;
        result = record(call, result);
        if (inputSucceeded(result) && !acquiredNow()) {
            m_acquired = true;
            m_generation = m_device->m_generation;
            ++m_device->m_acquiredHandles;
            if (m_cooperation & InputExclusive)
                m_device->m_exclusiveOwner = this;
        }
        return result;
    }

    InputResult unacquire() override
    {
        VirtualInputCall call;
        call.step = VirtualInputStep::Unacquire;
        const InputResult result = record(call, InputError::Ok);
        if (inputSucceeded(result))
            release();
        return result;
    }

    InputResult poll() override { return simple(VirtualInputStep::Poll, readResult()); }

    InputResult getState(RawInputState &state) override
    {
        const InputResult result = simple(VirtualInputStep::GetState, readResult());
        if (inputSucceeded(result)) {
            state = m_device->m_state;
            for (size_t axis = 0; axis < state.axisReports.size(); ++axis)
                state.axisReports[axis] -= m_reportsAtOpen[axis];
        }
        return result;
    }

    InputResult getCapabilities(InputCapabilities &capabilities) override
    {
        const InputResult result = simple(VirtualInputStep::GetCapabilities);
        if (inputSucceeded(result))
            capabilities = m_device->capabilities();
        return result;
    }

    InputResult getDeviceInfo(InputDeviceIdentity &identity) override
    {
        const InputResult result = simple(VirtualInputStep::GetDeviceInfo);
        if (inputSucceeded(result))
            identity = m_device->identity();
        return result;
    }

    InputResult sendForceFeedbackCommand(InputFfCommand command) override
    {
        VirtualInputCall call;
        call.step = VirtualInputStep::SendCommand;
        call.command = command;
        const InputResult result = record(call, ffResult());
        if (inputSucceeded(result)) {
            for (const auto &effect : m_device->m_effects)
                effect->playing = false;
        }
        return result;
    }

    InputResult createEffect(InputEffectType type, const InputEffectParams &params,
                             std::unique_ptr<InputEffectHandle> &effect) override
    {
        VirtualInputCall call;
        call.step = VirtualInputStep::CreateEffect;
        call.effectType = type;
        call.params = params;
        InputResult result = ffResult();
        if (inputSucceeded(result) && !addressesActuators(params))
            result = InputError::InvalidParameter;
        result = record(call, result);
        if (!inputSucceeded(result))
            return result;
        auto state = std::make_shared<VirtualEffect>();
        state->type = type;
        state->params = params;
        m_device->m_effects.append(state);
        effect = std::make_unique<VirtualEffectHandle>(m_device, state);
        return result;
    }

private:
    InputResult record(VirtualInputCall &call, InputResult result)
    {
        call.cooperation = m_cooperation;
        return m_device->finish(call, result);
    }

    InputResult simple(VirtualInputStep step, InputResult result = InputError::Ok)
    {
        VirtualInputCall call;
        call.step = step;
        return record(call, result);
    }

    // Unplugging takes every acquisition away.
    bool acquiredNow() const { return m_acquired && m_generation == m_device->m_generation; }

    void release()
    {
        const bool held = acquiredNow();
        m_acquired = false;
        if (!held)
            return;
        --m_device->m_acquiredHandles;
        if (m_device->m_exclusiveOwner == this)
            m_device->m_exclusiveOwner = nullptr;
    }

    InputResult readResult() const
    {
        if (!m_device->isPlugged())
            return InputError::InputLost;
        return acquiredNow() ? InputError::Ok : InputError::NotAcquired;
    }

    // Force feedback needs a present force-feedback device held exclusively.
    InputResult ffResult() const
    {
        if (!m_device->isPlugged())
            return InputError::InputLost;
        if (!m_device->m_spec.forceFeedback)
            return InputError::NotImplemented;
        if (!acquiredNow() || !(m_cooperation & InputExclusive))
            return InputError::NotAcquired;
        return InputError::Ok;
    }

    bool addressesActuators(const InputEffectParams &params) const
    {
        if (params.axisCount < 1 || params.axisCount > 2)
            return false;
        const QList<InputObject> objects = m_device->objects();
        for (int i = 0; i < params.axisCount; ++i) {
            const quint32 address = params.axes[size_t(i)];
            const bool byId = params.flags & InputEffectObjectIds;
            const bool found = std::any_of(objects.cbegin(), objects.cend(), [&](const InputObject &o) {
                return o.kind == InputObjectKind::Axis && o.ffActuator
                       && (byId ? o.id : o.offset) == address;
            });
            if (!found)
                return false;
        }
        return true;
    }

    std::shared_ptr<VirtualInputDevice> m_device;
    bool m_acquired = false;
    int m_generation = 0;
    std::array<quint32, InputAxisCount> m_reportsAtOpen{};
    quint32 m_cooperation = 0;
};

class VirtualContext : public InputContext
{
public:
    explicit VirtualContext(std::shared_ptr<VirtualInputBackend::State> state)
        : m_state(std::move(state))
    {
        ++m_state->liveContexts;
    }

    ~VirtualContext() override { --m_state->liveContexts; }

    QList<InputDeviceIdentity> enumerateDevices() override
    {
        QList<InputDeviceIdentity> list;
        for (const auto &device : m_state->devices) {
            if (device->isPlugged())
                list.append(device->identity());
        }
        return list;
    }

    InputResult createDevice(const QUuid &instanceGuid,
                             std::unique_ptr<InputDeviceHandle> &handle) override
    {
        for (const auto &device : m_state->devices) {
            if (device->m_spec.instanceGuid != instanceGuid || !device->isPlugged())
                continue;
            VirtualInputCall call;
            call.step = VirtualInputStep::CreateDevice;
            const InputResult result = device->finish(call, InputError::Ok);
            if (inputSucceeded(result))
                handle = std::make_unique<VirtualDeviceHandle>(device);
            return result;
        }
        return InputError::DeviceNotFound;
    }

private:
    std::shared_ptr<VirtualInputBackend::State> m_state;
};

VirtualInputBackend::VirtualInputBackend() : m_state(std::make_shared<State>()) {}

VirtualInputBackend::~VirtualInputBackend()
{
    reset();
}

VirtualInputBackend *VirtualInputBackend::instance()
{
    return dynamic_cast<VirtualInputBackend *>(InputBackend::instance());
}

std::unique_ptr<InputContext> VirtualInputBackend::createContext()
{
    if (m_state->contextFailure)
        return nullptr;
    return std::make_unique<VirtualContext>(m_state);
}

VirtualInputDevice *VirtualInputBackend::addDevice(const VirtualDeviceSpec &spec)
{
    VirtualDeviceSpec filled = spec;
    ++m_state->created;
    if (filled.instanceGuid.isNull()) {
        static const QUuid space(0x6f1d2c43, 0x8e5b, 0x4a07, 0x9c, 0x3e, 0x51, 0x27, 0xd0, 0x8a,
                                 0x4b, 0x96);
        filled.instanceGuid = QUuid::createUuidV5(
            space, filled.instanceName + QLatin1Char('#') + QString::number(m_state->created));
    }
    m_state->devices.push_back(std::make_shared<VirtualInputDevice>(filled));
    return m_state->devices.back().get();
}

void VirtualInputBackend::reset()
{
    for (const auto &device : m_state->devices)
        device->detach();
    m_state->devices.clear();
    m_state->contextFailure = false;
}

QList<VirtualInputDevice *> VirtualInputBackend::devices() const
{
    QList<VirtualInputDevice *> list;
    for (const auto &device : m_state->devices)
        list.append(device.get());
    return list;
}

VirtualInputDevice *VirtualInputBackend::device(int position) const
{
    if (position < 0 || size_t(position) >= m_state->devices.size())
        return nullptr;
    return m_state->devices[size_t(position)].get();
}

VirtualInputDevice *VirtualInputBackend::findDevice(const QUuid &instanceGuid) const
{
    for (const auto &device : m_state->devices) {
        if (device->spec().instanceGuid == instanceGuid)
            return device.get();
    }
    return nullptr;
}

} // namespace corvane
