#pragma once

#include <QDialog>

namespace corvane {

class CorvaneController;

// The setup guide: power, connect, map and test, one step per page.
class OnboardingWizard : public QDialog
{
    Q_OBJECT
public:
    OnboardingWizard(CorvaneController *controller, QWidget *parent);

signals:
    void requestStartTransmission();
    void requestOpenAxisConfig();

private:
    CorvaneController *m_controller;
};

} // namespace corvane
