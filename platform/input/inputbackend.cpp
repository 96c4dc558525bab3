#include "platform/input/inputbackend.h"

#include "platform/input/evdevinputbackend.h"
#include "platform/input/virtualinputbackend.h"

namespace corvane {

InputEffectHandle::~InputEffectHandle() = default;
InputDeviceHandle::~InputDeviceHandle() = default;
InputContext::~InputContext() = default;
InputBackend::~InputBackend() = default;

InputBackend *InputBackend::instance()
{
    static const std::unique_ptr<InputBackend> backend = []() -> std::unique_ptr<InputBackend> {
        if (qEnvironmentVariable("OSTRA_INPUT_BACKEND") == QLatin1String("virtual"))
            return std::make_unique<VirtualInputBackend>();
        return std::make_unique<EvdevInputBackend>();
    }();
    return backend.get();
}

} // namespace corvane
