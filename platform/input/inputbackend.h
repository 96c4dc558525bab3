#pragma once

#include <QList>

#include <memory>

#include "platform/input/inputtypes.h"

namespace corvane {

// A force-feedback effect created on a device; destroying it stops and unloads it.
class InputEffectHandle
{
public:
    virtual ~InputEffectHandle();
    // `which` is a combination of InputEffectParameter; InputEffectStart plays it afterwards.
    virtual InputResult setParameters(const InputEffectParams &params, quint32 which) = 0;
    virtual InputResult start(quint32 iterations, quint32 flags) = 0;
    virtual InputResult stop() = 0;
};

// One opened game controller; destroying it unacquires and releases it.
class InputDeviceHandle
{
public:
    virtual ~InputDeviceHandle();
    // Selects the raw state layout of 8 axes, 4 hats and 128 buttons.
    virtual InputResult setJoystickFormat() = 0;
    virtual InputResult setCooperativeLevel(InputWindowHandle window, quint32 flags) = 0;
    virtual InputResult enumerateObjects(QList<InputObject> &objects) = 0;
    virtual InputResult setAxisRange(quint32 objectId, qint32 minimum, qint32 maximum) = 0;
    virtual InputResult setAutoCenter(bool on) = 0;
    virtual InputResult acquire() = 0;
    virtual InputResult unacquire() = 0;
    virtual InputResult poll() = 0;
    virtual InputResult getState(RawInputState &state) = 0;
    virtual InputResult getCapabilities(InputCapabilities &capabilities) = 0;
    virtual InputResult getDeviceInfo(InputDeviceIdentity &identity) = 0;
    virtual InputResult sendForceFeedbackCommand(InputFfCommand command) = 0;
    virtual InputResult createEffect(InputEffectType type, const InputEffectParams &params,
                                     std::unique_ptr<InputEffectHandle> &effect) = 0;
};

// One client connection to the backend, through which devices are listed and opened.
class InputContext
{
public:
    virtual ~InputContext();
    // Attached game controllers, in a stable order.
    virtual QList<InputDeviceIdentity> enumerateDevices() = 0;
    virtual InputResult createDevice(const QUuid &instanceGuid,
                                     std::unique_ptr<InputDeviceHandle> &device) = 0;
};

class InputBackend
{
public:
    virtual ~InputBackend();
    // Null when the backend cannot serve a client now.
    virtual std::unique_ptr<InputContext> createContext() = 0;

    // The backend of this process, chosen on first use: the virtual one when the environment
    // variable OSTRA_INPUT_BACKEND is "virtual", the platform's otherwise.
    static InputBackend *instance();
    // Serves the process from `backend` from now on; null returns to the one chosen above. For
    // tests that run the same controllers over two backends.
    static void setInstance(InputBackend *backend);
};

} // namespace corvane
