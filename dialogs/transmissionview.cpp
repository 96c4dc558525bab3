#include "dialogs/transmissionview.h"

#include "ostraui/dialogchrome.h"

namespace corvane {

TransmissionView::TransmissionView(CorvaneController *controller, QWidget *parent)
    : QDialog(parent), m_controller(controller)
{
    setWindowTitle(tr("Telemetry"));
    setMinimumSize(480, 360);
    ostra::applyDialogChrome(this);
}

} // namespace corvane
