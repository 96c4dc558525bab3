#include "receiver/receiversettingspanel.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>

#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"
#include "ostraui/passbuilder.h"
#include "ostraui/portlist.h"
#include "receiver/receiverprompts.h"

namespace corvane {

namespace {

constexpr int ReceiverBaud = 115200;

} // namespace

void ReceiverSettingsPanel::refreshPorts()
{
    fillPorts(CorvaneController::availableSerialPorts());
}

void ReceiverSettingsPanel::fillPorts(const QList<SerialPortEntry> &ports)
{
    if (!m_controller)
        return;
    ostra::PortListSetup setup;
    setup.prompt = tr("Choose the receiver's port");
    setup.empty = tr("No serial ports found");
    setup.connected = m_controller->isReceiverConnected() ? m_controller->receiverPortName() : QString();
    setup.keep = m_portCombo->currentData().toString();
    setup.held = m_controller->heldPorts();
    setup.text = [](const SerialPortEntry &port) { return ostra::portText(port, QStringLiteral(" \u2014 ")); };
    ostra::fillPortList(m_portCombo, ports, setup);
}

void ReceiverSettingsPanel::openUsbPort()
{
    if (!m_controller || !m_manager)
        return;
    if (m_controller->isReceiverConnected()) {
        m_controller->disconnectReceiver();
        return;
    }
    const QString name = m_portCombo->currentData().toString();
    if (name.isEmpty())
        return;
    // A busy port is retried with the event loop running; the page may be closed meanwhile.
    QPointer<ReceiverSettingsPanel> self(this);
    QString error;
    const bool opened = m_controller->connectReceiver(name, ReceiverBaud, &error);
    if (!self || !m_manager)
        return;
    if (!opened) {
        m_usbStatus->setText(tr("Could not open %1. %2").arg(name, error).trimmed());
        return;
    }
    m_manager->resync();
}

void ReceiverSettingsPanel::confirmModeSwitch(bool heli)
{
    if (!m_manager)
        return;
    const QString wanted = heli ? QStringLiteral("heli") : QStringLiteral("car");
    if (wanted == m_manager->receiverMode())
        return;
    QPointer<ReceiverSettingsPanel> self(this);
    const bool yes = ReceiverPrompts::question(
        this, tr("Receiver mode"),
        tr("Switch the receiver to %1 mode? It restarts, and the car's link drops for a moment.")
            .arg(heli ? tr("helicopter") : tr("car")));
    // The box ran its own event loop: the page or the receiver may be gone by now.
    if (!yes || !self || !m_manager)
        return;
    if (!m_manager->setMode(wanted))
        m_modeStatus->setText(tr("The receiver is busy, try again in a moment."));
}

void ReceiverSettingsPanel::showOsdHelp()
{
    ReceiverPrompts::inform(
        this, tr("Enable OSD"),
        tr("<b>On-screen display (VTX HUD)</b><br><br>The receiver draws the live car HUD on your FPV video: speed, "
           "throttle, G-forces, signal and link.<br><br><b>Works only with Caddx Walksnail cameras.</b> Connect the "
           "camera's OSD input to the receiver's J14 port. When the camera is connected, the receiver starts sending "
           "all the information to it.<br><br><b>Older QOR receiver (firmware 1.9.0 or later):</b> connect the "
           "camera's OSD input to the signal pin of the <b>CH12</b> header, and ground to ground (1.8.x used CH11). "
           "CH12 then no longer drives a servo, and the LED strip and the CH12 telemetry input must be off. This "
           "receiver has no GPS or IMU, so the HUD shows the estimated speed and no G-forces. The switch reaches it "
           "over ELRS while you transmit with the car on, or over its USB cable.<br><br><b>Required:</b> the SD card "
           "with the QOR custom liveries (HUD font) for the VTX, installed in the goggles and selected there as the "
           "custom font <i>QOR_CAR_LIVE</i>. Without it the HUD shows wrong symbols.<br><br>Speed comes from the GPS "
           "while it has a fix; otherwise it is estimated from the throttle, tuned per car under <b>HUD "
           "speed</b>."));
}

void ReceiverSettingsPanel::confirmGyroCalibration()
{
    QPointer<ReceiverSettingsPanel> self(this);
    const bool yes = ReceiverPrompts::question(this, tr("Calibrate gyro"),
                                               tr("Put the car on a flat surface and keep it still, then press Yes."));
    if (!yes || !self || !m_manager)
        return;
    // The manager's gyro text reports how it goes.
    m_manager->startGyroCalibration();
}

void ReceiverSettingsPanel::startMountingDetection()
{
    QPointer<ReceiverSettingsPanel> self(this);
    const bool ok = ReceiverPrompts::confirm(this, tr("Detect mounting (1 of 2)"),
                                             tr("Put the car on a flat surface and keep it still, then press OK."));
    if (!ok || !self || !m_manager)
        return;
    m_mountingPending = m_manager->startMountingStep(0);
    if (!m_mountingPending)
        appendConsoleLine(tr("! Connect the receiver first"));
}

void ReceiverSettingsPanel::finishMountingDetection()
{
    refreshFromManager();
    if (!m_mountingPending || !m_manager)
        return;
    const int state = m_manager->mountingState();
    if (state == ReceiverConfigManager::MountingRunning)
        return;
    if (state != ReceiverConfigManager::MountingNeedNoseUp) {
        m_mountingPending = false;
        return;
    }
    // Only one second box at a time: further signals during it leave the detection to this one.
    m_mountingPending = false;
    QPointer<ReceiverSettingsPanel> self(this);
    const bool ok = ReceiverPrompts::confirm(this, tr("Detect mounting (2 of 2)"),
                                             tr("Lift the FRONT of the car about 30° and hold it there, then press OK."));
    if (!self || !m_manager)
        return;
    // The level reading may have timed out or the port closed while the box was open.
    if (ok && m_manager->mountingState() == ReceiverConfigManager::MountingNeedNoseUp)
        m_mountingPending = m_manager->startMountingStep(1);
}

void ReceiverSettingsPanel::setMountingByHand()
{
    static const QRegularExpression axesPattern(QStringLiteral("^[+-][XYZ] [+-][XYZ] [+-][XYZ]$"));
    QPointer<ReceiverSettingsPanel> self(this);
    QString answer;
    const bool ok = ReceiverPrompts::textInput(this, tr("Set mounting by hand"),
                                               tr("Board axes pointing forward, left and up, e.g. -Y +X +Z:"),
                                               QStringLiteral("-Y +X +Z"), &answer);
    if (!ok || !self)
        return;
    const QString axes = answer.trimmed().toUpper().simplified();
    if (axes.isEmpty())
        return;
    if (!axesPattern.match(axes).hasMatch()) {
        appendConsoleLine(tr("! Use three axes like -Y +X +Z"));
        return;
    }
    sendConsoleCommand(QStringLiteral("SET_IMU_AXES %1").arg(axes));
}

void ReceiverSettingsPanel::setGpsDebug(bool on)
{
    sendConsoleCommand(QStringLiteral("GPS_DEBUG %1").arg(on ? 1 : 0));
}

void ReceiverSettingsPanel::setImuDebug(bool on)
{
    sendConsoleCommand(QStringLiteral("IMU_DEBUG %1").arg(on ? 1 : 0));
}

void ReceiverSettingsPanel::onConsoleReturn()
{
    const QString line = m_consoleInput->text().trimmed();
    if (line.isEmpty())
        return;
    if (line.compare(QLatin1String("DFU"), Qt::CaseInsensitive) == 0)
        appendConsoleLine(tr("! DFU is not available here — use Firmware → Update receiver"));
    else
        sendConsoleCommand(line);
    m_consoleInput->clear();
}

void ReceiverSettingsPanel::sendConsoleCommand(const QString &text)
{
    if (m_manager && m_manager->sendCommand(text))
        appendConsoleLine(QStringLiteral("> %1").arg(text));
    else
        appendConsoleLine(tr("! Connect the receiver first"));
}

void ReceiverSettingsPanel::appendConsoleLine(const QString &line)
{
    // The console is one of the advanced settings.
    m_advancedBuilder->finish();
    m_console->appendPlainText(line);
    QScrollBar *bar = m_console->verticalScrollBar();
    bar->setValue(bar->maximum());
}

} // namespace corvane
