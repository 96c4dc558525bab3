#pragma once

#include "platform/input/inputbackend.h"

namespace corvane {

// Game controllers of Linux event devices (/dev/input/event*), with their force feedback.
class EvdevInputBackend : public InputBackend
{
public:
    std::unique_ptr<InputContext> createContext() override;
};

} // namespace corvane
