#include "platform/input/inputbackend.h"

#include "platform/input/evdevinputbackend.h"
#include "platform/input/virtualinputbackend.h"

namespace corvane {

InputEffectHandle::~InputEffectHandle() = default;
InputDeviceHandle::~InputDeviceHandle() = default;
InputContext::~InputContext() = default;
InputBackend::~InputBackend() = default;

namespace {

InputBackend *s_replacement = nullptr;

} // namespace

InputBackend *InputBackend::instance()
{
    static const std::unique_ptr<InputBackend> backend = []() -> std::unique_ptr<InputBackend> {
        if (qEnvironmentVariable("OSTRA_INPUT_BACKEND") == QLatin1String("virtual"))
            return std::make_unique<VirtualInputBackend>();
        return std::make_unique<EvdevInputBackend>();
    }();
    return s_replacement ? s_replacement : backend.get();
}

void InputBackend::setInstance(InputBackend *backend)
{
    s_replacement = backend;
}

} // namespace corvane
