#include "app/mainwindow.h"

#include <QComboBox>
#include <QDateTime>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/steeringgaugewidget.h"
#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"
#include "bridge/steeringmonitor.h"
#include "dialogs/pedalverificationdialog.h"
#include "ostraui/components.h"
#include "ostraui/mapview.h"
#include "ostraui/plaintextguard.h"
#include "ostraui/portlist.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/theme.h"
#include "profiles/profilemanager.h"

using namespace ostra;

namespace {

constexpr qint64 GpsFreshMs = 3000;
constexpr qint64 SensorStaleMs = 2000;
constexpr double DimmedOpacity = 0.45;
const QString Dash = QStringLiteral("\u2014");

// The Link quality tile without a link: 0% once link statistics have come in, no value before.
QString linkQualityWithoutLink(const corvane::CorvaneController *controller)
{
    return controller->hasLinkStatistics() ? QStringLiteral("0%") : Dash;
}

// The item of the device `name`, as fillInputDeviceCombo wrote it.
void selectItemStartingWith(QComboBox *combo, const QString &name)
{
    const QString start = ostra::isolatedText(name);
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(start)) {
            combo->setCurrentIndex(i);
            return;
        }
    }
}

QString linkDot(bool up)
{
    return up ? QStringLiteral("<span style='color:#16A34A'>&#9679;</span> ")
              : QStringLiteral("<span style='color:#DC2626'>&#9679;</span> ");
}

} // namespace

int channelMicroseconds(int value)
{
    const long us = std::lround((value - 992) * 5 * 0.125 + 1500);
    return int(std::clamp(us, 880L, 2120L));
}

QString gpsAgeText(qint64 ageMs)
{
    const qint64 s = ageMs / 1000;
    if (s < 60)
        return MainWindow::tr("%1 s ago").arg(s);
    if (s < 3600)
        return MainWindow::tr("%1 min ago").arg(s / 60);
    return MainWindow::tr("%1 h ago").arg(s / 3600);
}

void MainWindow::updateCarPageStatus()
{
    if (!m_transmitterRow) {
        updateConnectionStatus();
        return;
    }
    corvane::CorvaneController *c = m_controller;
    const bool txConnected = c->isSerialConnected();
    const QString port = c->serialPortName();
    // Connected elsewhere (the setup guide, the phone, the start-up retry), maybe on a port that
    // appeared after the list was last filled.
    if (txConnected && m_transmitterRow->combo()->currentData().toString() != port)
        refreshPortCombos();
    m_transmitterRow->setBusy(false);
    // Open, but not answered yet, or not at all: maybe not the transmitter's port.
    const corvane::CorvaneController::TransmitterStatus tx = c->transmitterStatus();
    const bool txAnswered = tx.answer == corvane::CorvaneController::TransmitterAnswered;
    m_transmitterRow->setStatus(txAnswered ? DeviceConnected : txConnected ? DeviceNotAnswering : DeviceNotConnected, tx.word);
    if (Pill *pill = m_transmitterRow->findChild<Pill *>())
        pill->setToolTip(tx.hint);

    const struct
    {
        DeviceRow *row;
        bool connected;
        QString name;
    } roles[] = {{m_wheelBaseRow, c->isWheelBaseConnected(), c->wheelBaseName()},
                 {m_pedalsRow, c->isPedalsConnected(), c->pedalsName()},
                 {m_shifterRow, c->isShifterConnected(), c->shifterName()}};
    for (const auto &role : roles) {
        if (role.connected && !role.name.isEmpty())
            selectItemStartingWith(role.row->combo(), role.name);
        role.row->setStatus(role.connected ? DeviceConnected : DeviceNotConnected);
    }
    const bool wheelConnected = roles[0].connected;
    const bool pedalsConnected = roles[1].connected;
    const bool combined = c->wheelBase()->axisMapping().combinedPedals;
    if (!pedalsConnected && combined) {
        m_pedalsRow->setStatus(DeviceNotConnected, tr("In wheel base"));
        if (auto *pill = m_pedalsRow->findChild<Pill *>())
            pill->setLevel(LevelInfo);
    }
    if (!roles[2].connected)
        m_shifterRow->setStatus(DeviceNotConnected, tr("Optional"));
    // One width for the four status pills, so that the device lists line up whatever the
    // pills say ("Optional" is shorter than "Not connected").
    const QList<DeviceRow *> deviceRows{m_transmitterRow, m_wheelBaseRow, m_pedalsRow, m_shifterRow};
    int widestPill = 0;
    for (DeviceRow *row : deviceRows) {
        if (const Pill *pill = row->findChild<Pill *>())
            widestPill = qMax(widestPill, pill->sizeHint().width());
    }
    for (DeviceRow *row : deviceRows) {
        if (Pill *pill = row->findChild<Pill *>())
            pill->setMinimumWidth(widestPill);
    }

    const bool ok[3] = {txAnswered, wheelConnected, pedalsConnected || combined};
    int okCount = 0;
    for (int i = 0; i < 3; ++i) {
        okCount += ok[i] ? 1 : 0;
        m_requiredBadges[i]->setText(ok[i] ? QStringLiteral("\u2713") : QString());
        const QString badgeStyle =
            ok[i] ? QStringLiteral("background: %1; color: white; border-radius: 9px; font-size: 8pt; font-weight: 700;")
                        .arg(colorHex(ThemeColors::successAccent))
                  : QStringLiteral("background: transparent; border: 1.5px solid %1; border-radius: 9px;")
                        .arg(colorHex(ThemeColors::border));
        setStyleSheetIfChanged(m_requiredBadges[i], badgeStyle);
        if (i == 2 && ok[i] && !pedalsConnected)
            m_requiredStatus[i]->setText(tr("In wheel base"));
        else if (i == 0)
            m_requiredStatus[i]->setText(tx.line);
        else
            m_requiredStatus[i]->setText(ok[i] ? tr("Connected") : tr("Not connected"));
    }
    m_devicesSummary->setText(okCount == 3 ? tr("All required devices connected")
                                           : tr("%1 of 3 required devices connected").arg(okCount));

    const bool running = c->isRunning();
    const bool configMode = c->isConfigMode();
    const bool canStart = c->canStartTransmission();
    if (running) {
        m_txButton->setState(TxStop);
        m_txHint->setText(tr("Sending 16 channels to the receiver"));
    } else if (!tx.hint.isEmpty()) {
        m_txButton->setState(TxLocked);
        m_txHint->setText(tx.hint);
    } else if (canStart && !configMode) {
        m_txButton->setState(TxGo);
        m_txHint->setText(tr("Everything is connected"));
    } else if (canStart) {
        m_txButton->setState(TxLocked);
        m_txHint->setText(tr("Stop configuring the transmitter first"));
    } else {
        m_txButton->setState(TxLocked);
        m_txHint->setText(tr("Connect the three devices above to start"));
    }
    m_txButton->setToolTip(configMode && !running ? tr("Stop configuring first") : QString());
    if (!running) {
        m_signalValue->setText(Dash);
        m_linkQualityValue->setText(linkQualityWithoutLink(m_controller));
    }
    m_liveInputHint->setText(wheelConnected || pedalsConnected || roles[2].connected
                                 ? tr("Reading connected devices")
                                 : tr("Connect devices to see live input"));
    m_channelHint->setText(running ? tr("Live output in \u00B5s") : tr("Start transmission to see output"));
    if (!running) {
        for (ChannelCell *cell : std::as_const(m_channelCells))
            cell->setValue(-1);
        m_shownChannelUs.fill(-1);
    }
    for (QWidget *row : std::as_const(m_transmitterRows)) {
        if (txConnected) {
            row->setGraphicsEffect(nullptr);
            row->setToolTip(QString());
        } else {
            if (!qobject_cast<QGraphicsOpacityEffect *>(row->graphicsEffect())) {
                auto *effect = new QGraphicsOpacityEffect(row);
                effect->setOpacity(DimmedOpacity);
                row->setGraphicsEffect(effect);
            }
            row->setToolTip(tr("Connect the QOR Transmitter to update"));
        }
    }
    if (m_firmwareHint)
        m_firmwareHint->setText(txConnected ? tr("Update QOR hardware over USB")
                                            : tr("Connect the QOR Transmitter to update it"));
    updateConnectionStatus();
}

void MainWindow::updateCarLinkStatus()
{
    if (!m_carLinkLine || !m_controller)
        return;
    if (m_controller->isCarLinked()) {
        m_carLinkLine->setText(linkDot(true) + tr("Connected to the car"));
        return;
    }
    m_carLinkLine->setText(linkDot(false)
                           + (m_controller->isRunning()
                                  ? tr("Not connected \u00B7 the car is not answering (off or out of range)")
                                  : tr("Not connected \u00B7 start transmission")));
    m_signalValue->setText(Dash);
    m_linkQualityValue->setText(linkQualityWithoutLink(m_controller));
    updateTelemetryDashboard();
}

void MainWindow::updateGpsStatus()
{
    if (!m_gpsStatus || !m_controller)
        return;
    const corvane::GpsFix fix = m_controller->gpsFix();
    m_openMapsButton->setEnabled(fix.valid);
    if (!m_controller->receiverConfigManager()->settings().gpsEnabled) {
        m_gpsStatus->setText(tr("GPS is turned off on the receiver (Telemetry card)"));
        m_gpsSpeedValue->setText(Dash);
        m_satellitesValue->setText(Dash);
        return;
    }
    const qint64 age = m_controller->gpsFixAgeMs();
    const int satellites = m_controller->gpsSatellites();
    const QString satellitesText = satellites == -1 ? Dash : QString::number(satellites);
    if (fix.valid && age >= 0) {
        if (age < GpsFreshMs) {
            m_gpsSpeedValue->setText(tr("%1 km/h").arg(double(fix.speedKmh), 0, 'f', 1));
            m_satellitesValue->setText(QString::number(fix.satellites));
            m_gpsStatus->setText(tr("Live \u00B7 %1, %2").arg(fix.latitude, 0, 'f', 5).arg(fix.longitude, 0, 'f', 5));
        } else {
            m_gpsSpeedValue->setText(Dash);
            m_satellitesValue->setText(satellitesText);
            m_gpsStatus->setText(tr("Last known position \u00B7 %1").arg(gpsAgeText(age)));
        }
        return;
    }
    m_gpsStatus->setText(satellites == -1 ? tr("Waiting for a GPS fix") : tr("Searching for satellites (needs open sky)"));
    m_gpsSpeedValue->setText(Dash);
    m_satellitesValue->setText(satellitesText);
}

void MainWindow::updateReceiverFeatures()
{
    if (!m_gpsCard || !m_controller)
        return;
    corvane::ReceiverConfigManager *receiver = m_controller->receiverConfigManager();
    const ReceiverCaps caps = receiver->caps();
    m_gpsCard->setVisible(caps.gps);
    m_map->setVisible(receiver->settings().gpsEnabled);
    updateGpsStatus();
    if (m_forceFeedbackRow)
        m_forceFeedbackRow->setSubtitle(caps.imu ? tr("Compatibility check, test and enable")
                                                 : tr("Needs a QOR receiver V4 (not detected yet)"));
}

void MainWindow::onInputChanged()
{
    updateLiveInput();
    updatePitLimiterOverlay();
}

void MainWindow::updateLiveInput()
{
    if (!m_steeringGauge || !m_controller)
        return;
    corvane::CorvaneController *c = m_controller;
    const AxisSettings &axes = c->axisSettings();
    const int rotation = axes.wheelRotationDeg;
    const int angle = axes.steeringAngleDeg;
    const float scale = angle >= 1 && angle < rotation ? float(angle) : float(rotation);
    const float wheel = c->wheelAngleDeg();
    const float normalised = scale > 0.0f ? std::clamp(wheel / (scale * 0.5f), -1.0f, 1.0f) : 0.0f;
    m_steeringGauge->setValue(normalised, wheel);

    const struct
    {
        Meter *meter;
        QLabel *label;
        float reading;
    } pedals[] = {{m_throttleMeter, m_throttleValue, c->throttle()},
                  {m_brakeMeter, m_brakeValue, c->brake()},
                  {m_clutchMeter, m_clutchValue, c->clutch()}};
    for (const auto &pedal : pedals) {
        const double d = corvane::pedalLevel(pedal.reading);
        pedal.meter->setValue(d);
        pedal.label->setText(QStringLiteral("%1%").arg(std::lround(d * 100.0)));
    }
    updatePedalAxisNote();

    const int gear = c->currentGear();
    if (gear != m_shownGear) {
        m_shownGear = gear;
        m_gearLabel->setText(gear == -1 ? QStringLiteral("R") : gear == 0 ? QStringLiteral("N") : QString::number(gear));
        m_gearLabel->setStyleSheet(QStringLiteral("color: %1;").arg(
            colorHex(gear == 0 ? ThemeColors::textDisabled : ThemeColors::ink)));
    }

    if (c->isRunning()) {
        // A cell's text, palette and bar cost a relayout: only the channels that moved are written.
        for (int i = 0; i < m_channelCells.size(); ++i) {
            const int us = channelMicroseconds(c->channelValue(i));
            if (us != m_shownChannelUs[size_t(i)]) {
                m_shownChannelUs[size_t(i)] = us;
                m_channelCells[i]->setValue(us);
            }
        }
    }
}

void MainWindow::updateSteeringHealth()
{
    if (!m_steeringHealthBox || !m_controller)
        return;
    const corvane::SteeringHealth health = m_controller->steeringMonitor()->health();
    if (health == corvane::SteeringOk || m_controller->isHelicopterMode()) {
        m_steeringHealthBox->hide();
        return;
    }
    m_steeringHealthMessage->setText(corvane::SteeringMonitor::healthMessage(health));
    m_steeringHealthButton->setText(health == corvane::SteeringNoInput ? tr("Reconnect wheel") : tr("Calibrate steering"));
    m_steeringHealthBox->show();
}

void MainWindow::refreshPortCombos()
{
    auto *combo = carPageControl<QComboBox>("transmitterCombo");
    if (!combo)
        return;
    ostra::PortListSetup setup;
    setup.prompt = tr("Choose QOR Transmitter");
    setup.alwaysPrompt = true;
    setup.connected = m_controller->isSerialConnected() ? m_controller->serialPortName() : QString();
    setup.held = m_controller->heldPorts();
    ostra::fillPortList(combo, corvane::CorvaneController::availableSerialPorts(), setup);
    combo->setEnabled(true);
}

void MainWindow::onRefreshInputDevices()
{
    const QList<corvane::InputDeviceInfo> devices = corvane::CorvaneController::availableInputDevices();
    const DeviceConnections saved = m_controller->profileManager()->deviceConnections();
    const struct
    {
        const char *combo;
        bool connected;
        const char *placeholder;
        const DeviceConnection &saved;
    } roles[] = {{"wheelBaseCombo", m_controller->isWheelBaseConnected(), QT_TR_NOOP("Choose wheel base"), saved.wheelBase},
                 {"pedalsCombo", m_controller->isPedalsConnected(), QT_TR_NOOP("Choose pedals"), saved.pedals},
                 {"shifterCombo", m_controller->isShifterConnected(), QT_TR_NOOP("Choose shifter"), saved.shifter}};
    for (const auto &role : roles) {
        auto *combo = carPageControl<QComboBox>(role.combo);
        if (!combo || role.connected)
            continue;
        fillInputDeviceCombo(devices, combo, tr(role.placeholder));
        // A remembered device plugged in again is chosen, so that its Connect can be pressed.
        combo->setCurrentIndex(std::max(combo->findData(m_controller->findSavedDevice(role.saved)), 0));
    }
}

void MainWindow::onLinkStatisticsUpdated(const corvane::LinkStatistics &stats)
{
    auto dbm = [](qint32 v) { return v == 0 ? QStringLiteral("\u2014") : QString::number(v); };
    if (auto *label = carPageControl<QLabel>("rssiLabel"))
        label->setText(tr("RSSI: %1/%2 dBm").arg(dbm(stats.uplinkRssi1), dbm(stats.uplinkRssi2)));
    if (auto *label = carPageControl<QLabel>("lqLabel"))
        label->setText(tr("LQ: %1%").arg(stats.linkQuality));
    // Both a stored magnitude and a stored negative value read as a negative dBm figure.
    const int r = stats.uplinkRssi1 & 0xFF;
    if (m_signalValue) {
        if (m_controller->isCarLinked()) {
            m_signalValue->setText(r == 0 ? Dash : tr("%1 dBm").arg(r <= 127 ? -r : int(qint8(quint8(r)))));
            m_linkQualityValue->setText(stats.linkQuality != 0 || r != 0 ? QStringLiteral("%1%").arg(stats.linkQuality)
                                                                         : Dash);
        } else {
            m_signalValue->setText(Dash);
            m_linkQualityValue->setText(QStringLiteral("0%"));
        }
    }
    if (auto *label = carPageControl<QLabel>("snrLabel"))
        label->setText(tr("SNR: %1 dB").arg(int(stats.snr)));
    if (auto *label = carPageControl<QLabel>("rfModeLabel"))
        label->setText(tr("RF Mode: %1").arg(int(stats.rfMode)));
}

void MainWindow::rebuildTelemetryDashboard()
{
    if (!m_pinnedSensors || !m_controller)
        return;
    m_sensorTiles.clear();
    while (QLayoutItem *item = m_pinnedGrid->takeAt(0)) {
        if (QWidget *widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    const QStringList pinned = m_controller->telemetryDashboard();
    QHash<QString, corvane::TelemetrySensor> sensors;
    for (const corvane::TelemetrySensor &sensor : m_controller->telemetrySensors())
        sensors.insert(sensor.id, sensor);
    for (const QString &id : pinned) {
        const corvane::TelemetrySensor sensor = sensors.value(id);
        QString title = sensor.name.isEmpty() ? sensor.label : sensor.name;
        if (title.isEmpty())
            title = id;
        auto *tile = new QFrame(m_pinnedSensors);
        tile->setProperty("tile", true);
        auto *layout = new QVBoxLayout(tile);
        layout->setContentsMargins(14, 10, 14, 10);
        layout->setSpacing(2);
        layout->addWidget(makeRoleLabel(title, "muted", tile));
        auto *value = new QLabel(sensor.value.isEmpty() ? Dash : sensor.value, tile);
        value->setObjectName(QStringLiteral("sensorValue_") + id);
        value->setFont(uiFont(17, 600));
        layout->addWidget(value);
        m_pinnedGrid->addWidget(tile);
        m_sensorTiles.insert(id, value);
    }
    m_pinnedSensors->setVisible(!pinned.isEmpty());
}

void MainWindow::updateTelemetryDashboard()
{
    if (!m_controller || m_sensorTiles.isEmpty())
        return;
    QHash<QString, corvane::TelemetrySensor> sensors;
    for (const corvane::TelemetrySensor &sensor : m_controller->telemetrySensors()) {
        if (m_sensorTiles.contains(sensor.id))
            sensors.insert(sensor.id, sensor);
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto it = m_sensorTiles.cbegin(); it != m_sensorTiles.cend(); ++it) {
        const corvane::TelemetrySensor sensor = sensors.value(it.key());
        QLabel *label = it.value();
        if (!sensor.value.isEmpty())
            label->setText(sensor.value);
        const bool stale = sensor.lastUpdateMs == 0 || now - sensor.lastUpdateMs > SensorStaleMs;
        if (label->property("stale").toBool() != stale) {
            label->setProperty("stale", stale);
            label->setStyleSheet(stale ? QStringLiteral("color: #9AA4B2;") : QString());
        }
    }
}
