#include "receiver/motioncalibrationdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/theme.h"
#include "receiver/carposewidget.h"

namespace corvane {

namespace {

constexpr int kStatusRefreshMs = 1000;
constexpr double kLiftedPitch = 30.0;

} // namespace

MotionCalibrationDialog::MotionCalibrationDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_manager(controller->receiverConfigManager())
{
    setWindowTitle(tr("FFB and motion calibration"));
    setMinimumWidth(480);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 12, 24, 22);
    layout->setSpacing(12);
    m_stepLabel = ostra::makeRoleLabel(QString(), "muted", this);
    m_title = new QLabel(this);
    m_title->setFont(ostra::uiFont(20, 600));
    m_title->setWordWrap(true);
    m_body = new QLabel(this);
    m_body->setWordWrap(true);
    m_pose = new CarPoseWidget(this);
    m_status = ostra::makeRoleLabel(QString(), "muted", this);
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(36);
    layout->addWidget(m_stepLabel);
    layout->addWidget(m_title);
    layout->addWidget(m_body);
    layout->addWidget(m_pose);
    layout->addWidget(m_status);
    auto *buttons = new QHBoxLayout;
    m_backButton = ostra::makeButton(tr("Back"), false, this);
    m_primaryButton = ostra::makeButton(QString(), true, this);
    m_primaryButton->setMinimumWidth(170);
    buttons->addWidget(m_backButton);
    buttons->addStretch();
    buttons->addWidget(m_primaryButton);
    layout->addLayout(buttons);

    connect(m_primaryButton, &QPushButton::clicked, this, &MotionCalibrationDialog::runCurrentStep);
    connect(m_backButton, &QPushButton::clicked, this, &MotionCalibrationDialog::onBack);
    connect(m_manager, &ReceiverConfigManager::mountingChanged, this, &MotionCalibrationDialog::onMountingChanged);
    connect(m_manager, &ReceiverConfigManager::gyroCalChanged, this, &MotionCalibrationDialog::onGyroCalChanged);
    connect(m_manager, &ReceiverConfigManager::stateChanged, this, &MotionCalibrationDialog::refreshStatus);
    connect(m_manager, &ReceiverConfigManager::capsChanged, this, &MotionCalibrationDialog::refreshStatus);
    connect(&m_statusTimer, &QTimer::timeout, this, &MotionCalibrationDialog::refreshStatus);
    m_statusTimer.start(kStatusRefreshMs);

    showStep(BeforeStep);
    ostra::applyDialogChrome(this, tr("Teach the receiver how it sits in the car"));
}

void MotionCalibrationDialog::showStep(int step)
{
    m_step = step;
    m_waiting = false;
    switch (step) {
    case BeforeStep:
        m_stepLabel->setText(tr("Before you start"));
        m_title->setText(tr("Calibrate force feedback and motion"));
        m_body->setText(tr("Three quick steps with the car on a flat surface. The receiver learns which way is forward "
                           "and zeroes its gyro, so the wheel and the motion rig move the right way.\n\nDo it once per "
                           "car, and again if you move the receiver. Keep your hands off the wheel and pedals while you "
                           "do it."));
        m_primaryButton->setText(tr("Start"));
        m_pose->setDone(false);
        break;
    case FlatStep:
        m_stepLabel->setText(tr("Step 1 of 3"));
        m_title->setText(tr("Put the car flat"));
        m_body->setText(tr("Set the car on a flat, level surface with all four wheels down. Let go of it, then press "
                           "the button and don't touch it for a moment."));
        m_primaryButton->setText(tr("The car is flat"));
        break;
    case LiftedStep:
        m_stepLabel->setText(tr("Step 2 of 3"));
        m_title->setText(tr("Lift the front"));
        m_body->setText(tr("Lift the FRONT of the car about 30° (rear wheels stay on the ground) and hold it steady. "
                           "Press the button while you hold it there."));
        m_primaryButton->setText(tr("I'm holding it up"));
        break;
    case GyroStep:
        m_stepLabel->setText(tr("Step 3 of 3"));
        m_title->setText(tr("Put it back down"));
        m_body->setText(tr("Set the car back down flat and let go. Press the button and keep the car still for a "
                           "couple of seconds."));
        m_primaryButton->setText(tr("The car is still"));
        break;
    default:
        m_stepLabel->setText(tr("Finished"));
        m_title->setText(tr("All set"));
        m_body->setText(tr("The receiver saved how it sits in the car and its gyro is calibrated. Force feedback and "
                           "the motion rig now follow the car the right way.\n\nCheck it in Extras → FFB and motion "
                           "preview: lift the front and the preview should pitch up."));
        m_primaryButton->setText(tr("Done"));
        m_pose->setDone(true);
        break;
    }
    m_pose->setPitch(step == LiftedStep ? kLiftedPitch : 0.0);
    m_pose->update();
    refreshStatus();
}

void MotionCalibrationDialog::runCurrentStep()
{
    m_error.clear();
    bool accepted = false;
    switch (m_step) {
    case BeforeStep:
        showStep(FlatStep);
        return;
    case FlatStep:
        accepted = m_manager->startMountingStep(0);
        break;
    case LiftedStep:
        accepted = m_manager->startMountingStep(1);
        break;
    case GyroStep:
        accepted = m_manager->startGyroCalibration();
        break;
    default:
        accept();
        return;
    }
    m_waiting = accepted;
    if (!accepted)
        m_error = tr("Couldn't reach the receiver. Check that it's on and transmission is running, then try again.");
    refreshStatus();
}

void MotionCalibrationDialog::onBack()
{
    m_error.clear();
    if (m_step == BeforeStep || m_step == FinishedStep)
        reject();
    else
        showStep(BeforeStep);
}

void MotionCalibrationDialog::onMountingChanged()
{
    if (!m_waiting || (m_step != FlatStep && m_step != LiftedStep))
        return;
    switch (m_manager->mountingState()) {
    case ReceiverConfigManager::MountingRunning:
        refreshStatus();
        break;
    case ReceiverConfigManager::MountingNeedNoseUp:
        if (m_step == FlatStep)
            showStep(LiftedStep);
        break;
    case ReceiverConfigManager::MountingDone:
        if (m_step == LiftedStep)
            showStep(GyroStep);
        break;
    case ReceiverConfigManager::MountingFailed:
        showStep(FlatStep);
        m_error = m_manager->mountingText();
        refreshStatus();
        break;
    default:
        break;
    }
}

void MotionCalibrationDialog::onGyroCalChanged()
{
    if (!m_waiting || m_step != GyroStep)
        return;
    switch (m_manager->gyroCalState()) {
    case ReceiverConfigManager::GyroCalRunning:
        refreshStatus();
        break;
    case ReceiverConfigManager::GyroCalDone:
        showStep(FinishedStep);
        break;
    case ReceiverConfigManager::GyroCalFailed:
        m_waiting = false;
        m_error = m_manager->gyroCalText();
        refreshStatus();
        break;
    default:
        break;
    }
}

void MotionCalibrationDialog::refreshStatus()
{
    const bool ready = m_manager->canCalibrateGyro() && m_manager->canDetectMounting();
    const bool endStep = m_step == BeforeStep || m_step == FinishedStep;
    m_backButton->setText(endStep ? tr("Close") : tr("Start over"));
    m_backButton->setEnabled(!m_waiting);
    QString text;
    const char *role = "muted";
    if (m_step == FinishedStep) {
        if (!m_manager->imuAxesText().isEmpty())
            text = tr("Mounting: %1").arg(m_manager->imuAxesText());
        m_primaryButton->setEnabled(true);
    } else if (m_waiting) {
        text = m_step == GyroStep ? m_manager->gyroCalText() : m_manager->mountingText();
        m_primaryButton->setEnabled(false);
    } else if (ready) {
        if (!m_error.isEmpty()) {
            text = m_error;
            role = "danger";
        } else if (m_step == BeforeStep) {
            text = tr("Receiver connected · %1").arg(m_manager->statusText());
        }
        m_primaryButton->setEnabled(true);
    } else {
        if (!m_manager->isUsbConnected() && !m_manager->isReachableOverElrs()) {
            text = tr("The receiver isn't reachable. Start transmission so it answers over ELRS (or plug in the J14 "
                      "cable), with the car switched on.");
        } else {
            text = tr("Waiting for the receiver to answer… (%1)").arg(m_manager->statusText());
        }
        role = "danger";
        m_primaryButton->setEnabled(false);
    }
    // The timer refreshes every second: restyle only on a real change.
    if (m_status->text() != text)
        m_status->setText(text);
    if (m_status->property("role").toByteArray() != role)
        ostra::setStyleState(m_status, "role", QString::fromLatin1(role));
}

} // namespace corvane
