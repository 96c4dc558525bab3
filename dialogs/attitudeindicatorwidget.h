#pragma once

#include <QWidget>

namespace corvane {

class CorvaneController;

// Placeholder until Bridge setup dialogs and live displays is built.
class AttitudeIndicatorWidget : public QWidget
{
    Q_OBJECT
public:
    AttitudeIndicatorWidget(CorvaneController *controller, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    CorvaneController *m_controller;
};

} // namespace corvane
