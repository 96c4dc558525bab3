// Launchers of the drive settings, radio calibration and button mapping dialogs.
#include "app/mainwindow.h"

#include <QMessageBox>

#include "bridge/corvanecontroller.h"
#include "dialogs/buttonconfigdialog.h"
#include "dialogs/escconfigdialog.h"
#include "receiver/radiocalibrationdialog.h"

void MainWindow::onConfigureEsc()
{
    corvane::EscConfigDialog dialog(m_controller, this);
    dialog.setAxisSettings(m_controller->axisSettings());
    connect(&dialog, &corvane::EscConfigDialog::radioCalibrationRequested, this, &MainWindow::runRadioCalibration);
    if (dialog.exec() == QDialog::Accepted)
        m_controller->setAxisSettings(dialog.axisSettings());
}

void MainWindow::runRadioCalibration()
{
    // Only the drive settings dialog asks; its working copy takes the measured values.
    auto *drive = qobject_cast<corvane::EscConfigDialog *>(sender());
    m_suppressErrorDialogs = true;
    corvane::RadioCalibrationDialog calibration(m_controller, this);
    const int result = calibration.exec();
    m_suppressErrorDialogs = false;
    const QList<int> v = calibration.results();
    if (result != QDialog::Accepted || !drive || v.size() != 6)
        return;
    AxisSettings settings = drive->axisSettings();
    settings.escMode = 2;
    settings.escFullForward = v[0];
    settings.escNeutral = v[1];
    settings.escFullReverse = v[2];
    settings.steeringLeft = v[3];
    settings.steeringCenter = v[4];
    settings.steeringRight = v[5];
    drive->setAxisSettings(settings);
    QMessageBox::information(
        this, tr("Calibration Applied"),
        tr("Radio calibration values have been applied to the ESC settings.\n\n"
           "Throttle: Max=%1 | Neutral=%2 | Reverse=%3\nSteering: Left=%4 | Center=%5 | Right=%6\n\n"
           "Click 'Apply' to save these settings to your profile.")
            .arg(v[0])
            .arg(v[1])
            .arg(v[2])
            .arg(v[3])
            .arg(v[4])
            .arg(v[5]));
}

void MainWindow::onConfigureButtons()
{
    if (!m_controller->isWheelBaseConnected()) {
        QMessageBox::warning(this, tr("Wheel Base Required"), tr("Please connect a wheel base before configuring buttons."));
        return;
    }
    corvane::ButtonConfigDialog dialog(m_controller, this);
    dialog.setMappings(m_controller->buttonMappings());
    if (dialog.exec() == QDialog::Accepted)
        m_controller->setButtonMappings(dialog.mappings());
}
