#pragma once

#include <memory>
#include <vector>

#include "platform/input/inputbackend.h"
#include "platform/input/virtualinputdevice.h"

namespace corvane {

// In-memory game controllers for tests and for a run without hardware.
//
//     auto *input = VirtualInputBackend::instance();
//     input->reset();
//     VirtualInputDevice *wheel = input->addDevice(VirtualDeviceSpec("MOZA R9 Base", 8, 32, 1, true));
//     wheel->setAxis(InputAxisX, 0.5f);
//     wheel->setButton(3, true);
//     wheel->failStep(VirtualInputStep::Acquire, InputError::InputLost, 2);
//     wheel->unplug();
class VirtualInputBackend : public InputBackend
{
public:
    VirtualInputBackend();
    ~VirtualInputBackend() override;

    // The backend of this process when it is the virtual one, else null.
    static VirtualInputBackend *instance();

    std::unique_ptr<InputContext> createContext() override;

    // Attaches a device at the end of the enumeration; it lives until reset().
    VirtualInputDevice *addDevice(const VirtualDeviceSpec &spec);
    // Detaches every device (handles still open on them fail from then on) and clears failures.
    void reset();
    QList<VirtualInputDevice *> devices() const;
    VirtualInputDevice *device(int position) const;
    VirtualInputDevice *findDevice(const QUuid &instanceGuid) const;

    // While set, no client can connect (as when the platform's input service is missing).
    void setContextFailure(bool fail) { m_state->contextFailure = fail; }
    // Contexts alive now, to check that clients let theirs go.
    int liveContexts() const { return m_state->liveContexts; }

    // Shared with the contexts, which may outlive a backend made by a test.
    struct State
    {
        std::vector<std::shared_ptr<VirtualInputDevice>> devices;
        bool contextFailure = false;
        int liveContexts = 0;
        int created = 0;
    };

private:
    std::shared_ptr<State> m_state;
};

} // namespace corvane
