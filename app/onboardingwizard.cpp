#include "app/onboardingwizard.h"

namespace corvane {

OnboardingWizard::OnboardingWizard(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Corvane setup guide"));
    setModal(true);
    resize(720, 620);
}

} // namespace corvane
