#include "dialogs/wheelffbdialog.h"

namespace corvane {

WheelFfbDialog::WheelFfbDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Wheel Force Feedback"));
}

} // namespace corvane
