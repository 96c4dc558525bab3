#pragma once

#include <QDialog>

namespace corvane {

class CorvaneController;

// "Wheel Force Feedback": compatibility check, enable, strength, centering and test pushes.
class WheelFfbDialog : public QDialog
{
    Q_OBJECT
public:
    explicit WheelFfbDialog(CorvaneController *controller, QWidget *parent = nullptr);

private:
    CorvaneController *m_controller;
};

} // namespace corvane
