#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;

namespace corvane {

class CarPoseWidget;
class CorvaneController;
class ReceiverConfigManager;

// "FFB and motion calibration": teaches the receiver how it sits in the car (car flat, then
// front lifted) and zeroes its gyro, advancing on the receiver configuration manager's signals.
class MotionCalibrationDialog : public QDialog
{
    Q_OBJECT
public:
    enum Step { BeforeStep = 0, FlatStep = 1, LiftedStep = 2, GyroStep = 3, FinishedStep = 4 };

    MotionCalibrationDialog(CorvaneController *controller, QWidget *parent = nullptr);

    int step() const { return m_step; }

private slots:
    void runCurrentStep();
    void onBack();
    void onMountingChanged();
    void onGyroCalChanged();
    void refreshStatus();

private:
    void showStep(int step);

    CorvaneController *m_controller = nullptr;
    ReceiverConfigManager *m_manager = nullptr;
    int m_step = BeforeStep;
    bool m_waiting = false;
    QString m_error;
    QTimer m_statusTimer;

    QLabel *m_stepLabel = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_body = nullptr;
    CarPoseWidget *m_pose = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_primaryButton = nullptr;
};

} // namespace corvane
