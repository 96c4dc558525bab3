// Launchers of the setup dialogs, the motion windows and the firmware updaters.
#include "app/mainwindow.h"

#include <QMessageBox>
#include <QUrl>

#include "bridge/corvanecontroller.h"
#include "dialogs/buttonconfigdialog.h"
#include "dialogs/escconfigdialog.h"
#include "dialogs/wheelffbdialog.h"
#include "firmware/dialogs/firmwareupdatedialog.h"
#include "firmware/dialogs/receiverv4updatedialog.h"
#include "motion/pages/ffbmotionpreviewdialog.h"
#include "motion/pages/motionoutputdialog.h"
#include "ostraui/browserlink.h"
#include "ostraui/tickpace.h"
#include "ostraui/unsavededits.h"
#include "receiver/ledconfigdialog.h"
#include "receiver/motioncalibrationdialog.h"
#include "receiver/radiocalibrationdialog.h"

namespace {

// Runs a dialog that reports its own failures (a firmware update, the radio calibration): the
// controller's errors open no box meanwhile.
int execReportingItself(MainWindow *window, QDialog &dialog)
{
    window->setSuppressErrorDialogs(true);
    const int result = ostra::execAfterTick(dialog);
    window->setSuppressErrorDialogs(false);
    return result;
}

// The transmitter updates go over its USB serial line: without it, say so and open nothing.
bool transmitterConnected(MainWindow *window, const QString &title, const QString &text)
{
    if (window->controller()->isSerialConnected())
        return true;
    QMessageBox::warning(window, title, text);
    return false;
}

QString socNeedsTransmitterText()
{
    return MainWindow::tr("Please connect the QOR Transmitter first.\n"
                          "The SOC update is performed over the USB serial connection.");
}

} // namespace

void MainWindow::onConfigureEsc()
{
    corvane::EscConfigDialog dialog(m_controller, this);
    dialog.setAxisSettings(m_controller->axisSettings());
    connect(&dialog, &corvane::EscConfigDialog::radioCalibrationRequested, this, &MainWindow::runRadioCalibration);
    ostra::execSetupDialog(dialog, [&dialog] { return dialog.axisSettings().toJson(); },
                           m_controller->profileStore([this, &dialog] { m_controller->setAxisSettings(dialog.axisSettings()); }));
}

void MainWindow::runRadioCalibration()
{
    // Only the drive settings dialog asks; its working copy takes the measured values.
    auto *drive = qobject_cast<corvane::EscConfigDialog *>(sender());
    corvane::RadioCalibrationDialog calibration(m_controller, this);
    const int result = execReportingItself(this, calibration);
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
    ostra::execSetupDialog(dialog, [&dialog] { return dialog.mappings().toJson(); },
                           m_controller->profileStore([this, &dialog] { m_controller->setButtonMappings(dialog.mappings()); }));
}

void MainWindow::onConfigureLed()
{
    corvane::LedConfigDialog dialog(m_controller, this);
    dialog.setSettings(m_controller->ledSettings());
    ostra::execSetupDialog(dialog, [&dialog] { return dialog.settings().toJson(); },
                           m_controller->profileStore([this, &dialog] { m_controller->setLedSettings(dialog.settings()); }));
}

void MainWindow::openLedDialogFromRow()
{
    onConfigureLed();
}

void MainWindow::openWheelFfbDialog()
{
    corvane::WheelFfbDialog dialog(m_controller, this);
    ostra::execAfterTick(dialog);
}

void MainWindow::openMotionOutputDialog()
{
    corvane::MotionOutputDialog dialog(m_controller, this);
    ostra::execAfterTick(dialog);
}

void MainWindow::openMotionCalibrationDialog()
{
    corvane::MotionCalibrationDialog dialog(m_controller, this);
    ostra::execAfterTick(dialog);
}

// Not modal: the preview stays beside the window until the user closes it.
void MainWindow::openFfbMotionPreview()
{
    auto *preview = new corvane::FfbMotionPreviewDialog(m_controller, this);
    showCompanionWindow(preview, false, preview->firstPaintParts());
}

void MainWindow::onUpdateReceiverFirmware()
{
    corvane::FirmwareUpdateDialog dialog(m_controller, corvane::FirmwareReceiver, this);
    execReportingItself(this, dialog);
    updateCarPageStatus();
}

void MainWindow::onUpdateReceiverV4Firmware()
{
    corvane::ReceiverV4UpdateDialog dialog(m_controller, this);
    execReportingItself(this, dialog);
    updateCarPageStatus();
}

void MainWindow::onUpdateTransmitterFirmware()
{
    if (!transmitterConnected(this, tr("QOR Transmitter Required"),
                              tr("Please connect the QOR Transmitter before updating firmware.")))
        return;
    corvane::FirmwareUpdateDialog dialog(m_controller, corvane::FirmwareTransmitter, this);
    execReportingItself(this, dialog);
    updateCarPageStatus();
}

void MainWindow::onUpdateTransmitterSocFirmware()
{
    if (!transmitterConnected(this, tr("QOR Transmitter SOC Update"), socNeedsTransmitterText()))
        return;
    corvane::FirmwareUpdateDialog dialog(m_controller, corvane::FirmwareTransmitterSoftware, this);
    execReportingItself(this, dialog);
}

void MainWindow::onUpdateTransmitterSocFirmwareV2()
{
    if (!transmitterConnected(this, tr("QOR Transmitter SOC Update (V2)"), socNeedsTransmitterText()))
        return;
    corvane::FirmwareUpdateDialog dialog(m_controller, corvane::FirmwareTransmitterSoftwareV2, this);
    execReportingItself(this, dialog);
}

void MainWindow::openGpsInMaps()
{
    const corvane::GpsFix fix = m_controller->gpsFix();
    if (!fix.valid)
        return;
    QUrl url(QStringLiteral("https://www.google.com/maps/search/"));
    url.setQuery(QStringLiteral("api=1&query=%1,%2").arg(fix.latitude, 0, 'f', 7).arg(fix.longitude, 0, 'f', 7));
    ostra::openInBrowser(this, url);
}
