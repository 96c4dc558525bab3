#include "receiver/ledconfigdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "bridge/corvanecontroller.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/theme.h"
#include "receiver/colorwheelwidget.h"

namespace corvane {

namespace {

const QString kValueStyle = QStringLiteral("color: #0F1720; font-weight: bold;");
const QString kHintStyle = QStringLiteral("color: #5B6675; font-size: 9pt;");

QString percent(int value)
{
    return QStringLiteral("%1%").arg(value);
}

} // namespace

LedConfigDialog::LedConfigDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Configure LED Strip"));
    setMinimumSize(420, 650);
    if (controller)
        connect(controller, &CorvaneController::ledConfigPushFinished, this, &LedConfigDialog::onLedPushFinished);
    buildUi();
    ostra::applyDialogChrome(this, QString());
}

void LedConfigDialog::buildUi()
{
    // Everything is made where it stays: a built tree moved under the style sheet is restyled whole.
    QWidget *content = ostra::dialogContent(this);
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 4);
    header->setSpacing(8);
    auto *title = new QLabel(tr("LED Strip Configuration"), content);
    title->setStyleSheet(QStringLiteral("color: #0F1720; font-weight: bold; font-size: 10pt;"));
    auto *info = new QPushButton(QStringLiteral("?"), content);
    info->setFixedSize(20, 20);
    info->setToolTip(tr("About LED Strip Control"));
    info->setCursor(Qt::PointingHandCursor);
    info->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: 1px solid #E6EAF0; border-radius: 10px; "
                                       "font-weight: bold; font-size: 10pt; color: #5B6675; padding: 0; "
                                       // The theme's button height would stretch the circle into a tall box.
                                       "min-width: 18px; max-width: 18px; min-height: 18px; max-height: 18px; }"
                                       "QPushButton:hover { background: #E6EAF0; color: #0F1720; }"));
    header->addWidget(title);
    header->addWidget(info);
    header->addStretch();
    layout->addLayout(header);
    connect(info, &QPushButton::clicked, this, &LedConfigDialog::onInfoClicked);

    // The groups scroll together: where the dialog opens lower than they need, the settings grid
    // would otherwise be squeezed over itself.
    auto *body = new QWidget(content);
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 12, 0); // clear of the scroll bar
    bodyLayout->setSpacing(12);
    // In place while empty: moving it filled would restyle all it holds again.
    layout->addWidget(ostra::makeScrollPage(body), 1);

    auto *basic = new QGroupBox(tr("Basic Settings"), body);
    auto *grid = new QGridLayout(basic);
    grid->setSpacing(8);
    m_countSpin = new QSpinBox(basic);
    m_countSpin->setRange(1, LedSettings::MaxLedCount);
    m_countSpin->setValue(m_settings.ledCount);
    m_countSpin->setToolTip(tr("The receiver drives at most %1 LEDs.").arg(LedSettings::MaxLedCount));
    grid->addWidget(new QLabel(tr("LED Count:"), basic), 0, 0);
    grid->addWidget(m_countSpin, 0, 1);
    m_powerCheck = new QCheckBox(tr("Power ON"), basic);
    m_powerCheck->setChecked(true);
    grid->addWidget(m_powerCheck, 1, 0, 1, 2);
    m_brightnessLabel = new QLabel(percent(99), basic);
    m_brightnessLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_brightnessLabel->setStyleSheet(kValueStyle);
    grid->addWidget(new QLabel(tr("Brightness:"), basic), 2, 0);
    grid->addWidget(m_brightnessLabel, 2, 1);
    m_brightnessSlider = new QSlider(Qt::Horizontal, basic);
    m_brightnessSlider->setRange(0, 99);
    m_brightnessSlider->setValue(99);
    grid->addWidget(m_brightnessSlider, 3, 0, 1, 2);
    m_activeLabel = new QLabel(percent(100), basic);
    m_activeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_activeLabel->setStyleSheet(kValueStyle);
    grid->addWidget(new QLabel(tr("Active LEDs:"), basic), 4, 0);
    grid->addWidget(m_activeLabel, 4, 1);
    m_activeSlider = new QSlider(Qt::Horizontal, basic);
    m_activeSlider->setRange(0, 100);
    m_activeSlider->setValue(100);
    grid->addWidget(m_activeSlider, 5, 0, 1, 2);
    m_modeCombo = new QComboBox(basic);
    m_modeCombo->addItem(tr("Global (All LEDs same color)"), QStringLiteral("global"));
    m_modeCombo->addItem(tr("Per-LED (Individual colors)"), QStringLiteral("per_led"));
    m_modeCombo->addItem(tr("Range (Percentage zones)"), QStringLiteral("range"));
    grid->addWidget(new QLabel(tr("Mode:"), basic), 6, 0);
    grid->addWidget(m_modeCombo, 6, 1);
    m_powerButtonCombo = new QComboBox(basic);
    m_powerButtonCombo->addItem(tr("None"), -1);
    for (int i = 0; i < LedSettings::PowerButtonCount; ++i)
        m_powerButtonCombo->addItem(tr("Button %1").arg(i), i);
    grid->addWidget(new QLabel(tr("Power Button:"), basic), 7, 0);
    grid->addWidget(m_powerButtonCombo, 7, 1);
    bodyLayout->addWidget(basic);
    connect(m_countSpin, &QSpinBox::valueChanged, this, &LedConfigDialog::onLedCountChanged);
    connect(m_powerCheck, &QCheckBox::toggled, this, &LedConfigDialog::onPowerToggled);
    connect(m_brightnessSlider, &QSlider::valueChanged, this, &LedConfigDialog::onBrightnessChanged);
    connect(m_activeSlider, &QSlider::valueChanged, this, &LedConfigDialog::onActivePercentageChanged);
    connect(m_modeCombo, &QComboBox::currentIndexChanged, this, &LedConfigDialog::onModeChanged);
    connect(m_powerButtonCombo, &QComboBox::currentIndexChanged, this, &LedConfigDialog::onPowerButtonChanged);

    auto *colorGroup = new QGroupBox(tr("Color"), body);
    auto *colorLayout = new QVBoxLayout(colorGroup);
    colorLayout->setSpacing(8);
    auto *wheelRow = new QHBoxLayout;
    m_wheel = new ColorWheelWidget(colorGroup);
    m_wheel->setFixedSize(200, 200);
    wheelRow->addStretch();
    wheelRow->addWidget(m_wheel);
    wheelRow->addStretch();
    colorLayout->addLayout(wheelRow);
    auto *swatchRow = new QHBoxLayout;
    m_swatch = new QFrame(colorGroup);
    m_swatch->setFixedSize(60, 40);
    m_swatch->setStyleSheet(QStringLiteral("background: rgb(0, 255, 0); border: 2px solid #E6EAF0; border-radius: 6px;"));
    m_rgbLabel = new QLabel(QStringLiteral("R: 0  G: 255  B: 0"), colorGroup);
    m_rgbLabel->setStyleSheet(QStringLiteral("color: #0F1720; font-family: 'Geist Mono'; font-size: 10pt;"));
    swatchRow->addWidget(m_swatch);
    swatchRow->addWidget(m_rgbLabel);
    swatchRow->addStretch();
    colorLayout->addLayout(swatchRow);
    bodyLayout->addWidget(colorGroup);
    connect(m_wheel, &ColorWheelWidget::colorChanged, this, &LedConfigDialog::onColorWheelChanged);

    const QString navStyle = QStringLiteral(
        "QPushButton { background: #F7F9FB; border: 1px solid #E6EAF0; padding: 10px 20px; font-size: 11pt; }"
        "QPushButton:hover { background: #E6EAF0; border-color: #0F1720; }"
        "QPushButton:disabled { color: #8A94A3; }");
    m_ledGroup = new QGroupBox(tr("LED Selection"), body);
    auto *ledLayout = new QHBoxLayout(m_ledGroup);
    ledLayout->setSpacing(12);
    m_prevLed = new QPushButton(tr("< Back"), m_ledGroup);
    m_ledLabel = new QLabel(m_ledGroup);
    m_ledLabel->setAlignment(Qt::AlignCenter);
    m_ledLabel->setStyleSheet(QStringLiteral("color: #0F1720; font-size: 14pt; font-weight: bold; padding: 0 20px;"));
    m_nextLed = new QPushButton(tr("Next >"), m_ledGroup);
    m_prevLed->setStyleSheet(navStyle);
    m_nextLed->setStyleSheet(navStyle);
    ledLayout->addWidget(m_prevLed);
    ledLayout->addWidget(m_ledLabel, 1);
    ledLayout->addWidget(m_nextLed);
    m_ledGroup->hide();
    bodyLayout->addWidget(m_ledGroup);
    connect(m_prevLed, &QPushButton::clicked, this, &LedConfigDialog::onPreviousLed);
    connect(m_nextLed, &QPushButton::clicked, this, &LedConfigDialog::onNextLed);

    m_zoneGroup = new QGroupBox(tr("Range Zones"), body);
    auto *zoneLayout = new QVBoxLayout(m_zoneGroup);
    zoneLayout->setSpacing(8);
    m_zoneList = new QListWidget(m_zoneGroup);
    m_zoneList->setFixedHeight(120);
    // Item rules in a style sheet would paint over each zone's own colour, so the list styles
    // only its frame and the highlighted zone shows by its focus frame.
    m_zoneList->setStyleSheet(QStringLiteral(
        "QListWidget { background: #F7F9FB; border: 1px solid #E6EAF0; border-radius: 4px; }"));
    zoneLayout->addWidget(m_zoneList);
    auto *zoneButtons = new QHBoxLayout;
    m_addZone = new QPushButton(tr("+ Add Zone"), m_zoneGroup);
    ostra::setStyleState(m_addZone, "primary", true);
    ostra::setStyleState(m_addZone, "danger", false);
    m_removeZone = new QPushButton(tr("- Remove Zone"), m_zoneGroup);
    m_removeZone->setStyleSheet(QStringLiteral("background: #FDE8E8;"));
    zoneButtons->addWidget(m_addZone);
    zoneButtons->addWidget(m_removeZone);
    zoneLayout->addLayout(zoneButtons);
    auto *bounds = new QHBoxLayout;
    m_zoneStart = new QSpinBox(m_zoneGroup);
    m_zoneStart->setRange(0, 100);
    m_zoneStart->setValue(0);
    m_zoneEnd = new QSpinBox(m_zoneGroup);
    m_zoneEnd->setRange(0, 100);
    m_zoneEnd->setValue(100);
    bounds->addWidget(new QLabel(tr("Start %:"), m_zoneGroup));
    bounds->addWidget(m_zoneStart);
    bounds->addWidget(new QLabel(tr("End %:"), m_zoneGroup));
    bounds->addWidget(m_zoneEnd);
    zoneLayout->addLayout(bounds);
    auto *zoneHint = new QLabel(tr("Select a zone and use the color wheel to set its color."), m_zoneGroup);
    zoneHint->setStyleSheet(kHintStyle);
    zoneHint->setWordWrap(true);
    zoneLayout->addWidget(zoneHint);
    m_zoneLimit = new QLabel(tr("The receiver takes at most %1 zones: remove one to add another.").arg(LedSettings::MaxZones),
                             m_zoneGroup);
    m_zoneLimit->setStyleSheet(kHintStyle);
    m_zoneLimit->setWordWrap(true);
    m_zoneLimit->hide();
    zoneLayout->addWidget(m_zoneLimit);
    m_zoneGroup->hide();
    bodyLayout->addWidget(m_zoneGroup);
    connect(m_zoneList, &QListWidget::currentRowChanged, this, &LedConfigDialog::onZoneSelected);
    connect(m_addZone, &QPushButton::clicked, this, &LedConfigDialog::onAddZone);
    connect(m_removeZone, &QPushButton::clicked, this, &LedConfigDialog::onRemoveZone);
    connect(m_zoneStart, &QSpinBox::valueChanged, this, &LedConfigDialog::onZoneStartChanged);
    connect(m_zoneEnd, &QSpinBox::valueChanged, this, &LedConfigDialog::onZoneEndChanged);

    auto *applyGroup = new QGroupBox(tr("Apply to Receiver"), body);
    auto *applyLayout = new QVBoxLayout(applyGroup);
    auto *applyHint = new QLabel(tr("Click to send configuration to the LED strip receiver.\n"
                                    "This triggers a 20-second configuration window."),
                                 applyGroup);
    applyHint->setWordWrap(true);
    applyHint->setStyleSheet(kHintStyle);
    m_applyButton = new QPushButton(tr("Apply to Receiver (USB)"), applyGroup);
    m_applyButton->setStyleSheet(QStringLiteral("background: #E3F2FC; padding: 12px;"));
    applyLayout->addWidget(applyHint);
    applyLayout->addWidget(m_applyButton);
    bodyLayout->addWidget(applyGroup);
    connect(m_applyButton, &QPushButton::clicked, this, &LedConfigDialog::onTriggerConfig);

    bodyLayout->addStretch();

    auto *footer = new QHBoxLayout;
    auto *cancel = new QPushButton(tr("Cancel"), content);
    auto *save = new QPushButton(tr("Save Settings"), content);
    ostra::setStyleState(save, "primary", true);
    ostra::setStyleState(save, "danger", false);
    footer->addStretch();
    footer->addWidget(cancel);
    footer->addWidget(save);
    layout->addLayout(footer);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(save, &QPushButton::clicked, this, &LedConfigDialog::onApply);

    updateLedNavigation();
    m_removeZone->setEnabled(false);
}

void LedConfigDialog::setSettings(const LedSettings &settings)
{
    m_settings = settings;
    m_countSpin->setValue(settings.ledCount);
    // A stored count beyond the receiver's limit, or an LED beyond the strip, would take picks
    // that are never sent.
    m_settings.ledCount = m_countSpin->value();
    m_settings.selectedLedIndex = std::clamp(m_settings.selectedLedIndex, 0, m_settings.ledCount - 1);
    m_brightnessSlider->setValue(settings.brightness);
    m_brightnessLabel->setText(percent(settings.brightness));
    m_powerCheck->setChecked(settings.powerOn);
    m_activeSlider->setValue(settings.activePercentage);
    m_activeLabel->setText(percent(settings.activePercentage));
    m_modeCombo->setCurrentIndex(settings.mode == LedMode::PerLed ? 1 : settings.mode == LedMode::Range ? 2 : 0);
    m_ledGroup->setVisible(m_settings.mode == LedMode::PerLed);
    m_zoneGroup->setVisible(m_settings.mode == LedMode::Range);
    const int buttonRow = m_powerButtonCombo->findData(settings.powerButtonIndex);
    if (buttonRow >= 0)
        m_powerButtonCombo->setCurrentIndex(buttonRow);
    m_wheel->setColor(QColor(settings.globalColor.r, settings.globalColor.g, settings.globalColor.b));
    updateColorSwatch();
    updateLedNavigation();
    refreshZoneList();
    if (m_settings.mode == LedMode::Range && !m_settings.rangeZones.isEmpty()) {
        m_zoneList->setCurrentRow(settings.selectedZoneIndex);
        loadSelectedZoneColor();
    }
}

void LedConfigDialog::onLedCountChanged(int value)
{
    m_settings.ledCount = value;
    if (m_settings.selectedLedIndex >= value)
        m_settings.selectedLedIndex = value - 1;
    updateLedNavigation();
}

void LedConfigDialog::onBrightnessChanged(int value)
{
    m_settings.brightness = value;
    m_brightnessLabel->setText(percent(value));
}

void LedConfigDialog::onPowerToggled(bool checked)
{
    m_settings.powerOn = checked;
}

void LedConfigDialog::onActivePercentageChanged(int value)
{
    m_settings.activePercentage = value;
    m_activeLabel->setText(percent(value));
}

void LedConfigDialog::onPowerButtonChanged(int index)
{
    m_settings.powerButtonIndex = m_powerButtonCombo->itemData(index).toInt();
}

void LedConfigDialog::onModeChanged(int index)
{
    m_settings.mode = index == 1 ? LedMode::PerLed : index == 2 ? LedMode::Range : LedMode::Global;
    m_ledGroup->setVisible(index == 1);
    m_zoneGroup->setVisible(m_settings.mode == LedMode::Range);
    if (m_settings.mode == LedMode::Range) {
        refreshZoneList();
        loadSelectedZoneColor();
    } else {
        syncColorWheelToSelection();
    }
}

void LedConfigDialog::setWheelSilently(const RgbColor &color)
{
    const QSignalBlocker block(m_wheel);
    m_wheel->setColor(QColor(color.r, color.g, color.b));
}

void LedConfigDialog::syncColorWheelToSelection()
{
    setWheelSilently(m_settings.displayColor(m_settings.selectedLedIndex));
    updateColorSwatch();
}

void LedConfigDialog::loadSelectedZoneColor()
{
    // Outside range mode the picker shows the global or per-LED colour, not a zone's.
    if (!validZone() || m_settings.mode != LedMode::Range)
        return;
    setWheelSilently(m_settings.rangeZones.at(m_settings.selectedZoneIndex).color);
    updateColorSwatch();
}

void LedConfigDialog::onColorWheelChanged(const QColor &color)
{
    const RgbColor rgb{std::uint8_t(color.red()), std::uint8_t(color.green()), std::uint8_t(color.blue())};
    if (m_settings.mode == LedMode::PerLed) {
        // The selected LED lies on the strip, which the receiver's limit bounds: the entry is taken.
        m_settings.setLedColor(m_settings.selectedLedIndex, rgb);
    } else if (m_settings.mode == LedMode::Range) {
        if (validZone()) {
            m_settings.rangeZones[m_settings.selectedZoneIndex].color = rgb;
            refreshZoneList();
        }
    } else {
        m_settings.globalColor = rgb;
    }
    updateColorSwatch();
}

void LedConfigDialog::updateColorSwatch()
{
    const QColor c = m_wheel->color();
    m_swatch->setStyleSheet(QStringLiteral("background: rgb(%1, %2, %3); border: 2px solid #E6EAF0; border-radius: 6px;")
                                .arg(c.red())
                                .arg(c.green())
                                .arg(c.blue()));
    m_rgbLabel->setText(QStringLiteral("R: %1  G: %2  B: %3").arg(c.red(), 3).arg(c.green(), 3).arg(c.blue(), 3));
}

void LedConfigDialog::onPreviousLed()
{
    if (m_settings.selectedLedIndex >= 1)
        --m_settings.selectedLedIndex;
    updateLedNavigation();
    syncColorWheelToSelection();
}

void LedConfigDialog::onNextLed()
{
    if (m_settings.selectedLedIndex < m_settings.ledCount - 1)
        ++m_settings.selectedLedIndex;
    updateLedNavigation();
    syncColorWheelToSelection();
}

void LedConfigDialog::updateLedNavigation()
{
    m_ledLabel->setText(tr("LED %1 / %2").arg(m_settings.selectedLedIndex + 1).arg(m_settings.ledCount));
    m_prevLed->setEnabled(m_settings.selectedLedIndex >= 1);
    m_nextLed->setEnabled(m_settings.selectedLedIndex < m_settings.ledCount - 1);
}

void LedConfigDialog::refreshZoneList()
{
    const int remembered = m_zoneList->currentRow();
    {
        const QSignalBlocker block(m_zoneList);
        m_zoneList->clear();
        for (int i = 0; i < m_settings.rangeZones.size(); ++i) {
            const LedRangeZone &zone = m_settings.rangeZones.at(i);
            auto *item = new QListWidgetItem(tr("Zone %1: %2% - %3%").arg(i + 1).arg(zone.startPercent).arg(zone.endPercent));
            item->setBackground(QColor(zone.color.r, zone.color.g, zone.color.b));
            const int grey = (zone.color.r + zone.color.g + zone.color.b) / 3;
            item->setForeground(grey < 129 ? Qt::white : Qt::black);
            item->setSizeHint(QSize(0, 30));
            m_zoneList->addItem(item);
        }
    }
    m_removeZone->setEnabled(!m_settings.rangeZones.isEmpty());
    const bool full = m_settings.rangeZones.size() >= LedSettings::MaxZones;
    m_addZone->setEnabled(!full);
    m_zoneLimit->setVisible(full);
    if (remembered >= 0 && remembered < m_zoneList->count())
        m_zoneList->setCurrentRow(remembered);
    else if (m_zoneList->count() > 0)
        m_zoneList->setCurrentRow(0);
    // The list was rebuilt under a blocker: the highlighted row is announced once here.
    if (m_zoneList->currentRow() >= 0)
        onZoneSelected(m_zoneList->currentRow());
}

void LedConfigDialog::onZoneSelected(int row)
{
    if (row < 0 || row >= m_settings.rangeZones.size())
        return;
    m_settings.selectedZoneIndex = row;
    loadSelectedZoneColor();
    const QSignalBlocker blockStart(m_zoneStart);
    const QSignalBlocker blockEnd(m_zoneEnd);
    m_zoneStart->setValue(m_settings.rangeZones.at(row).startPercent);
    m_zoneEnd->setValue(m_settings.rangeZones.at(row).endPercent);
}

void LedConfigDialog::onZoneStartChanged(int value)
{
    if (!validZone())
        return;
    m_settings.rangeZones[m_settings.selectedZoneIndex].startPercent = value;
    refreshZoneList();
}

void LedConfigDialog::onZoneEndChanged(int value)
{
    if (!validZone())
        return;
    m_settings.rangeZones[m_settings.selectedZoneIndex].endPercent = value;
    refreshZoneList();
}

void LedConfigDialog::onAddZone()
{
    if (m_settings.rangeZones.size() >= LedSettings::MaxZones)
        return;
    const int start = m_settings.rangeZones.isEmpty() ? 0 : m_settings.rangeZones.last().endPercent;
    m_settings.rangeZones.append({start, 100, m_settings.globalColor});
    const int added = int(m_settings.rangeZones.size()) - 1;
    refreshZoneList();
    m_zoneList->setCurrentRow(added);
    onZoneSelected(added);
}

void LedConfigDialog::onRemoveZone()
{
    if (!validZone())
        return;
    m_settings.rangeZones.removeAt(m_settings.selectedZoneIndex);
    const int count = int(m_settings.rangeZones.size());
    const int selected = std::min(m_settings.selectedZoneIndex, count - 1);
    m_settings.selectedZoneIndex = selected;
    {
        const QSignalBlocker block(m_zoneList);
        m_zoneList->setCurrentRow(selected);
    }
    refreshZoneList();
}

void LedConfigDialog::onInfoClicked()
{
    QMessageBox box(QMessageBox::Information, tr("About LED Strip Control"),
                    tr("<b>LED Strip Control</b><br><br>Control an addressable LED strip (WS2812/NeoPixel) connected to "
                       "the RP2040 receiver.<br><br><b>Basic Settings:</b><br>- <b>LED Count:</b> Number of LEDs in your "
                       "strip (1-100)<br>- <b>Power:</b> Turn the LED strip ON/OFF<br>- <b>Brightness:</b> Overall "
                       "brightness (0-99%)<br>- <b>Active LEDs:</b> Percentage of strip that lights up<br><br><b>Color "
                       "Wheel:</b><br>- Click and drag on the outer ring to select hue<br>- Click and drag in the inner "
                       "square to select saturation and brightness<br><br><b>Mode:</b><br>- <b>Global:</b> All LEDs show "
                       "the same color<br>- <b>Per-LED:</b> Set individual colors for each LED using Back/Next "
                       "buttons<br>- <b>Range:</b> Set colors for percentage zones (e.g., 0-30% red, 30-70% green, "
                       "70-100% blue)<br><br><b>Power Button:</b><br>Map a physical button to toggle the LEDs ON/OFF. "
                       "The button state at power-up determines if LEDs start ON or OFF.<br><br><b>Apply to Receiver "
                       "(USB):</b><br>Connect the QOR Receiver via USB-C (Telemetry \u25B8 Receiver), then click "
                       "\"Apply to Receiver (USB)\". The settings are written directly to the receiver's flash storage "
                       "in under a second and persist across reboots. At runtime, CH12 toggles the strip ON/OFF — map "
                       "a button to CH12 (or use the Power Button setting) to control power."),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void LedConfigDialog::onTriggerConfig()
{
    if (!m_controller || m_controller->ledConfigPushActive())
        return;
    m_controller->setLedSettings(m_settings);
    if (!m_controller->isReceiverConnected()) {
        QMessageBox::warning(this, tr("Receiver Not Connected"),
                             tr("Connect the QOR Receiver via USB-C first.\n\nOpen Telemetry \u25B8 Receiver (the "
                                "Settings button of the car page's Telemetry card) and connect to the port labeled "
                                "\"Arduino Nano RP2040 Connect\", then come back here and press Apply to Receiver "
                                "again."),
                             QMessageBox::Ok);
        return;
    }
    m_applyButton->setEnabled(false);
    m_applyButton->setText(tr("Pushing to receiver..."));
    m_controller->startLedConfigPush();
}

void LedConfigDialog::onApply()
{
    accept();
}

void LedConfigDialog::onLedPushFinished(bool success, const QString &message)
{
    m_applyButton->setEnabled(true);
    m_applyButton->setText(tr("Apply to Receiver (USB)"));
    if (success)
        QMessageBox::information(this, tr("Configuration Saved"), message, QMessageBox::Ok);
    else
        QMessageBox::warning(this, tr("Configuration Failed"), message, QMessageBox::Ok);
}

} // namespace corvane
