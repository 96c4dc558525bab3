// The launcher of the axis configuration dialog.
#include "app/mainwindow.h"

#include "bridge/corvanecontroller.h"
#include "dialogs/axisconfigdialog.h"
#include "ostraui/unsavededits.h"

void MainWindow::onConfigureAxes()
{
    corvane::AxisConfigDialog dialog(m_controller, this);
    dialog.setAxisSettings(m_controller->axisSettings());
    ostra::execSetupDialog(dialog, [&dialog] { return dialog.axisSettings().toJson(); },
                           m_controller->profileStore([this, &dialog] { m_controller->setAxisSettings(dialog.axisSettings()); }));
}
