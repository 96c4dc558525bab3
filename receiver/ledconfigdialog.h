#pragma once

#include <QDialog>

#include "profiles/receiversettings.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QSpinBox;

namespace corvane {

class ColorWheelWidget;
class CorvaneController;

// "Configure LED Strip": edits a copy of the LED record (count, power, brightness, share, mode,
// colours per mode, power button) and pushes it to the receiver over USB. The opener reads the
// record with settings() after an accepted run.
class LedConfigDialog : public QDialog
{
    Q_OBJECT
public:
    LedConfigDialog(CorvaneController *controller, QWidget *parent = nullptr);

    void setSettings(const LedSettings &settings);
    LedSettings settings() const { return m_settings; }

private slots:
    void onLedCountChanged(int value);
    void onBrightnessChanged(int value);
    void onPowerToggled(bool checked);
    void onModeChanged(int index);
    void onColorWheelChanged(const QColor &color);
    void onPreviousLed();
    void onNextLed();
    void onActivePercentageChanged(int value);
    void onPowerButtonChanged(int index);
    void onTriggerConfig();
    void onApply();
    void onInfoClicked();
    void onAddZone();
    void onRemoveZone();
    void onZoneSelected(int row);
    void onZoneStartChanged(int value);
    void onZoneEndChanged(int value);
    void onLedPushFinished(bool success, const QString &message);

private:
    void buildUi();
    void syncColorWheelToSelection();
    void loadSelectedZoneColor();
    void setWheelSilently(const RgbColor &color);
    void updateColorSwatch();
    void updateLedNavigation();
    void refreshZoneList();
    bool validZone() const { return m_settings.selectedZoneIndex >= 0 && m_settings.selectedZoneIndex < m_settings.rangeZones.size(); }

    CorvaneController *m_controller = nullptr;
    LedSettings m_settings;

    QSpinBox *m_countSpin = nullptr;
    QCheckBox *m_powerCheck = nullptr;
    QLabel *m_brightnessLabel = nullptr;
    QSlider *m_brightnessSlider = nullptr;
    QLabel *m_activeLabel = nullptr;
    QSlider *m_activeSlider = nullptr;
    QComboBox *m_modeCombo = nullptr;
    QComboBox *m_powerButtonCombo = nullptr;
    ColorWheelWidget *m_wheel = nullptr;
    QFrame *m_swatch = nullptr;
    QLabel *m_rgbLabel = nullptr;
    QGroupBox *m_ledGroup = nullptr;
    QPushButton *m_prevLed = nullptr;
    QLabel *m_ledLabel = nullptr;
    QPushButton *m_nextLed = nullptr;
    QGroupBox *m_zoneGroup = nullptr;
    QListWidget *m_zoneList = nullptr;
    QPushButton *m_addZone = nullptr;
    QPushButton *m_removeZone = nullptr;
    QLabel *m_zoneLimit = nullptr;
    QSpinBox *m_zoneStart = nullptr;
    QSpinBox *m_zoneEnd = nullptr;
    QPushButton *m_applyButton = nullptr;
};

} // namespace corvane
