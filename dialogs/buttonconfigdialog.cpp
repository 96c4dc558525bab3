#include "dialogs/buttonconfigdialog.h"

#include "bridge/corvanecontroller.h"
#include "ostraui/dialogchrome.h"

namespace corvane {

ButtonConfigDialog::ButtonConfigDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent), m_controller(controller), m_devices{controller->wheelBase()}
{
    setWindowTitle(tr("Configure Buttons"));
    setMinimumSize(400, 420);
    ostra::applyDialogChrome(this);
}

void ButtonConfigDialog::setInputDevices(const QList<InputDevice *> &devices, const QStringList &names)
{
    m_devices = devices;
    m_names = names;
}

} // namespace corvane
