#pragma once

#include <QDialog>
#include <QPointer>

#include <array>

#include "profiles/axissettings.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLayout;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QVBoxLayout;

namespace ostra {
class PassBuilder;
}

namespace corvane {

class CorvaneController;
class CrsfRangePreview;
class SteeringRangePreview;

// "Drive Settings": ESC mode and presets, the live steering trim and end points, and the car's
// throttle safety, deceleration, pit limiter and reverse options, all on a working copy of the
// axis settings. Only the steering end points act before Apply (the car on the bench follows
// the sliders); any close but Apply puts back the calibration that ran when the dialog opened.
class EscConfigDialog : public QDialog
{
    Q_OBJECT
public:
    EscConfigDialog(CorvaneController *controller, QWidget *parent = nullptr);

    void setAxisSettings(const AxisSettings &settings);
    AxisSettings axisSettings() const { return m_settings; }

    void done(int result) override;

signals:
    void radioCalibrationRequested();

public slots:
    void onEscModeChanged(int modeIndex);
    void onSmoothDecelChanged(bool checked);
    void onDecelRateChanged(int value);
    void onNeutralSliderChanged(int value);
    void onForwardSliderChanged(int value);
    void onReverseSliderChanged(int value);
    void onSteeringLeftSliderChanged(int value);
    void onSteeringCenterSliderChanged(int value);
    void onSteeringRightSliderChanged(int value);
    void onSteeringTrimChanged(int trim);
    void onPitLimiterChanged(bool checked);
    void onPitLimiterSliderChanged(int value);
    void onReverseEnabledChanged(bool checked);
    void onReverseButtonChanged(int value);
    void onReverseMaxChanged(int value);
    void onDetectReverseButton();
    void onResetToDefaults();
    void onApply();
    void onSavePreset();
    void onDeletePreset();
    void onEscPresetsChanged();
    void onRadioCalibration();

private:
    // Frame and steering tab (escconfigdialog.cpp).
    QFrame *makeCard(QWidget *page, QVBoxLayout *pageLayout, const QString &title, const QString &subtitle,
                     QVBoxLayout **cardLayout, bool escModeCard = false);
    QSlider *makeSliderRow(QWidget *parent, const QString &label, int minimum, int maximum, int value,
                           const QString &color, QVBoxLayout *target);
    static void setSliderRowEnabled(QSlider *slider, bool enabled);
    static void setSliderRowValue(QSlider *slider, int value);
    // A tab page put in place before it is filled: a filled one moved in would be restyled whole again.
    static QWidget *makeTabPage(QTabWidget *tabs, const QString &title, QVBoxLayout **pageLayout);
    void buildSteeringTab(QWidget *page, QVBoxLayout *pageLayout);
    void pushSteeringCalibration();
    void showTrimLabel();

    // Throttle / Brake tab (escconfigdialog_presets.cpp).
    void buildThrottleTab(QTabWidget *tabs);
    void refreshPresetCombo();
    void updatePresetButtons();
    void showEscValues();
    void showCrsfPreview();
    void refreshEscEnableStates();
    void onEscValueChanged();

    // Car tab (escconfigdialog_car.cpp).
    void buildCarTab(QWidget *page, QVBoxLayout *pageLayout);
    // Fills the tab from the copy; before the tab is built, settles the copy as its controls would.
    void loadCarTab();
    void holdCarPositions(const AxisSettings &settings);
    void refreshCarEnableStates();
    Q_SLOT void onDetectTick();
    Q_SLOT void onDetectTimeout();
    void endDetection();

    CorvaneController *m_controller;
    AxisSettings m_settings;

    QComboBox *m_escModeCombo = nullptr;
    QSlider *m_neutralSlider = nullptr;
    QSlider *m_forwardSlider = nullptr;
    QSlider *m_reverseSlider = nullptr;
    CrsfRangePreview *m_crsfPreview = nullptr;
    QLabel *m_escLockedHint = nullptr;
    QSlider *m_trimSlider = nullptr;
    QLabel *m_trimLabel = nullptr;
    QSlider *m_leftSlider = nullptr;
    QSlider *m_centerSlider = nullptr;
    QSlider *m_rightSlider = nullptr;
    SteeringRangePreview *m_steeringPreview = nullptr;
    QCheckBox *m_softStartCheck = nullptr;
    QSlider *m_softStartDurationSlider = nullptr;
    QLabel *m_softStartDurationLabel = nullptr;
    QSlider *m_softStartFloorSlider = nullptr;
    QLabel *m_softStartFloorLabel = nullptr;
    QCheckBox *m_stuckThrottleCheck = nullptr;
    QCheckBox *m_spikeRejectionCheck = nullptr;
    QCheckBox *m_smoothDecelCheck = nullptr;
    QSlider *m_decelRateSlider = nullptr;
    QLabel *m_decelRateLabel = nullptr;
    QCheckBox *m_pitLimiterCheck = nullptr;
    QSlider *m_pitLimiterSlider = nullptr;
    QLabel *m_pitLimiterLabel = nullptr;
    QCheckBox *m_reverseCheck = nullptr;
    QSpinBox *m_reverseButtonSpin = nullptr;
    QSpinBox *m_reverseMaxSpin = nullptr;
    QPushButton *m_detectButton = nullptr;
    QPushButton *m_savePresetButton = nullptr;
    QPushButton *m_deletePresetButton = nullptr;
    QFrame *m_crsfValuesCard = nullptr;

    ostra::PassBuilder *m_passes = nullptr;
    int m_steeringPart = -1;
    int m_carPart = -1;
    // Where the Car tab's sliders and spin boxes stand, also before the tab is built.
    std::array<int, 6> m_carPositions{};

    bool m_trimGuard = false;
    int m_savedLeft = 0;
    int m_savedCenter = 1024;
    int m_savedRight = 2047;

    // The running reverse-button detection: its 33 ms poll (null while idle) and its time
    // limit, restarted by each run so that an earlier run's limit never ends a later one.
    QPointer<QTimer> m_detectTimer;
    QTimer *m_detectTimeout = nullptr;
};

} // namespace corvane
