#pragma once

#include <QDir>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

namespace ostratest {

// Where a dialog test leaves a picture for a person to look at, one per theme.
inline QString dialogPicture(const QString &name)
{
    return artefactDir(QStringLiteral("dialogs"))
           + QStringLiteral("/%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

// A controller on a fresh installation with one virtual wheel base attached (not yet opened).
struct DialogRig
{
    DialogRig()
    {
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
        input = corvane::VirtualInputBackend::instance();
        input->reset();
        wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base"), 8, 32, 1));
        controller = std::make_unique<corvane::CorvaneController>();
    }

    ~DialogRig()
    {
        controller.reset();
        input->reset();
    }

    bool openWheel() { return controller->wheelBase()->open(0); }

    // A button change passes the device's four-read debounce.
    void settle(int polls = 4)
    {
        for (int i = 0; i < polls; ++i)
            controller->wheelBase()->poll();
    }

    // Dialogs poll on their own timers too; a test that counts polls holds them still.
    static void holdTimers(QObject *dialog, int interval)
    {
        for (QTimer *timer : dialog->findChildren<QTimer *>()) {
            if (timer->interval() == interval)
                timer->stop();
        }
    }

    corvane::VirtualInputBackend *input = nullptr;
    corvane::VirtualInputDevice *wheel = nullptr;
    std::unique_ptr<corvane::CorvaneController> controller;
};

} // namespace ostratest
