#pragma once

#include <QDialog>
#include <QList>
#include <QPair>

#include <array>

#include "profiles/axissettings.h"
#include "profiles/deviceconnections.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;

namespace ostra {
class Meter;
class PassBuilder;
class Segmented;
class SliderRow;
} // namespace ostra

namespace corvane {

class CorvaneController;
class InputDevice;
class PresetsPanel;

// The car controls set-up: which raw axis of the wheel base, pedals or shifter drives Steering,
// Throttle, Brake and Clutch, which shifter button is which gear, how each control responds, the
// steering angle and a throttle cap per gear, with the controls presets below.
//
// Response and steering angle edits stay in the working copy until the opener stores it after
// Apply; device axis mappings, gear buttons, throttle caps and loaded presets reach the
// controller at once, so Cancel keeps them.
class AxisConfigDialog : public QDialog
{
    Q_OBJECT
public:
    AxisConfigDialog(CorvaneController *controller, QWidget *parent = nullptr);
    ~AxisConfigDialog() override;

    // Loads the record into the working copy and the response pages; the controls write their
    // value back at their own resolution.
    void setAxisSettings(const AxisSettings &settings);
    AxisSettings axisSettings() const { return m_settings; }

public slots:
    // Response pages, axis index 0..3 first.
    void onInvertChanged(int index, bool checked);
    void onDeadzoneChanged(int index, int value);
    void onMinOutputChanged(int index, int value);
    void onMaxOutputChanged(int index, int value);
    void onCurveChanged(int index, int curveIndex);
    void onExponentChanged(int index, int value);
    void onCalibrationEnabledChanged(int index, bool checked);
    void onCalibrateMin(int index);
    void onCalibrateMax(int index);
    void onCalibrateCenter(int index);

    void onInputUpdated();
    void onResetToDefaults();
    void onApply();
    void onAxisSettingsInfoClicked();

    // Mapping page.
    void onDetectAxis(int logicalIndex);
    void onDetectAxisTimeout(int logicalIndex);
    void onResetAxisMapping();
    void onPresetComboChanged(int index);
    void onMappingDeviceChanged(int comboIndex);
    void onAxisInversionChanged(int logicalIndex, bool checked);
    void onCombinedPedalsChanged(bool checked);

    // Shifter page.
    void onDetectShifterGear(int gearIndex);
    void onDetectShifterGearTimeout(int gearIndex);
    void onGearThrottleLimitEnabledChanged(bool checked);
    void onGearThrottleLimitChanged(int gearIndex, int percent);
    void onSetMaxThrottleClicked();
    void updateGearThrottleLimitLabels();

private:
    struct AxisPage
    {
        QCheckBox *invert = nullptr;
        QSlider *deadzone = nullptr;
        QLabel *deadzoneValue = nullptr;
        QSlider *minOutput = nullptr;
        QLabel *minOutputValue = nullptr;
        QSlider *maxOutput = nullptr;
        QLabel *maxOutputValue = nullptr;
        QComboBox *curve = nullptr;
        QSlider *exponent = nullptr;
        QLabel *exponentValue = nullptr;
        QProgressBar *rawBar = nullptr;
        QProgressBar *outputBar = nullptr;
        QLabel *rawValue = nullptr;
        QLabel *outputValue = nullptr;
        QCheckBox *calibration = nullptr;
        QLabel *minValue = nullptr;
        QLabel *maxValue = nullptr;
        QLabel *centerValue = nullptr;
        QPushButton *setMin = nullptr;
        QPushButton *setMax = nullptr;
        QPushButton *setCenter = nullptr;
    };

    struct MappingRow
    {
        QLabel *name = nullptr;
        QLabel *badge = nullptr;
        QCheckBox *invert = nullptr;
        QPushButton *detect = nullptr;
        QFrame *frame = nullptr;
        ostra::Meter *meter = nullptr;
    };

    struct GearRow
    {
        QLabel *name = nullptr;
        QLabel *value = nullptr;
        QPushButton *detect = nullptr;
    };

    // Where an axis page's sliders and curve stand, also before the page is built.
    struct Positions
    {
        int deadzone = 0;
        int minOutput = 0;
        int maxOutput = 0;
        int exponent = 0;
        int curve = 0;
    };

    void buildUi();
    void buildCalibrationPage(QWidget *calibration);
    // Each fills a page already in place: a filled page moved in would be restyled whole again.
    void buildMappingPage(QWidget *page);
    void buildShifterTab(QWidget *tab);
    void buildAxisSettingsGroup(int index, QWidget *widget);
    QGroupBox *createSteeringAngleGroup(QWidget *parent);
    void updateSteeringAngleLabel();
    void updateSteeringReadout();
    void updateAxisPreview(int index);
    void loadAxisPage(int index);
    static Positions positionsOf(const AxisConfig &axis);
    void holdPositions(int index);
    // A slider in whole percent written into a field of the axis, with its value label.
    void setPercentField(int index, float AxisConfig::*field, QLabel *AxisPage::*label, int value);
    // Takes the control's current reading as a calibration point.
    void calibrateField(int index, float AxisConfig::*field, QLabel *AxisPage::*label);
    QFrame *createMappingRow(int logicalIndex, const QString &name, QWidget *parent);
    void refreshMappingRows();
    void updateMappingMeters();
    void reloadAfterPreset();

    float reading(int index) const;
    InputDevice *mappingDevice() const;
    void applyWorkingMapping();
    void markMappingCustom();
    void sampleAxes(InputDevice *device);
    void pollShifterButtons(InputDevice *device);
    void cancelAxisDetection();
    void cancelGearDetection();
    QTimer *detectionTimeout();
    void showGearButton(int gearIndex);
    int gearCrsfValue(int percent) const;

    CorvaneController *m_controller;
    AxisSettings m_settings;

    // Steering angle group.
    ostra::SliderRow *m_angleRow = nullptr;
    ostra::SliderRow *m_rotationRow = nullptr;
    QLabel *m_angleSummary = nullptr;
    QLabel *m_wheelReadout = nullptr;
    QList<QPair<int, QPushButton *>> m_steeringPresets;

    std::array<AxisPage, 4> m_axisPages;
    std::array<Positions, 4> m_positions;
    ostra::PassBuilder *m_passes = nullptr;
    int m_shifterPart = -1;
    int m_calibrationPart = -1;
    std::array<int, 4> m_axisParts{};
    QTabWidget *m_axisTabs = nullptr;
    QTimer *m_refreshTimer = nullptr;
    ostra::Segmented *m_pageChooser = nullptr;
    QTabWidget *m_pageStack = nullptr;
    QTabWidget *m_deviceTabs = nullptr;
    PresetsPanel *m_presets = nullptr;

    // Shifter tab.
    std::array<GearRow, ShifterMapping::Size> m_gearRows;
    ShifterMapping m_shifterMapping;
    QCheckBox *m_gearLimitEnabled = nullptr;
    std::array<QSpinBox *, 7> m_gearLimitSpins{};
    std::array<QLabel *, 7> m_gearLimitLabels{};
    QPushButton *m_escInfoButton = nullptr;

    // Mapping page.
    std::array<MappingRow, 4> m_mappingRows;
    QComboBox *m_presetCombo = nullptr;
    QCheckBox *m_combinedPedals = nullptr;
    int m_mappingDevice = 0;
    AxisMapping m_mapping;

    // Detections: one axis row and one gear at a time; starting either cancels the other.
    int m_detectingRow = -1;
    std::array<float, 8> m_axisStart{};
    std::array<float, 8> m_axisTravel{};
    QTimer *m_detectTimeout = nullptr;
    QTimer *m_axisSampler = nullptr;
    int m_detectingGear = -1;
    QTimer *m_gearPoller = nullptr;
};

} // namespace corvane
