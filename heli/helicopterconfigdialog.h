#pragma once

#include <QDialog>
#include <QStringList>

#include <array>

#include "ostraui/unsavededits.h"
#include "profiles/helicopterconfig.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QProgressBar;
class QSlider;
class QTabWidget;
class QTimer;
class QVBoxLayout;
class QWidget;

namespace ostra {
class PassBuilder;
}

namespace corvane {

class CorvaneController;
class InputDevice;

// "Channel Mapping & Calibration": which axis of which helicopter device drives roll, pitch,
// collective and rudder (with a Detect that picks the axis moved most, and split pedals), and
// each one's calibration points, reverse, dead zone and sensitivity. Polls the three helicopter
// devices every 33 ms and edits its own copy of the helicopter setup.
class HelicopterConfigDialog : public QDialog, public ostra::ConfirmsValues
{
    Q_OBJECT
public:
    // The four functions, in table order.
    enum Function { Roll = 0, Pitch = 1, Throttle = 2, Rudder = 3, FunctionCount = 4 };
    enum Tab { MappingTab = 0, CalibrationTab = 1 };

    HelicopterConfigDialog(CorvaneController *controller, QWidget *parent = nullptr);

    // Opening builds the Mapping tab; the Calibration tab's blocks follow in later passes of the
    // event loop once the dialog shows, or at once from here (or as the tab is turned to).
    void finishPages();
    int builtCalibrationBlocks() const;

    void setConfig(const HelicopterConfig &config);
    HelicopterConfig config() const { return m_config; }

    // The raw reading of a function as the live preview and the transmit tick take it.
    float rawInput(int function) const;

public slots:
    void onPollTick();
    void onDetectAxis(int function);
    // Refused, with a box naming the axes, while a calibration leaves an axis without travel.
    bool confirmValues() override;
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct Calibration
    {
        QProgressBar *bar = nullptr;
        QLabel *minLabel = nullptr;
        QLabel *centerLabel = nullptr;
        QLabel *maxLabel = nullptr;
        QCheckBox *reverse = nullptr;
        QSlider *deadzone = nullptr;
        QLabel *deadzoneLabel = nullptr;
        QSlider *sensitivity = nullptr;
        QLabel *sensitivityLabel = nullptr;
    };
    struct Mapping
    {
        QComboBox *axis = nullptr;
        QProgressBar *bar = nullptr;
        QLabel *deviceLabel = nullptr;
        QLabel *missingAxis = nullptr;
    };

    // Fill a tab already in place: a filled one moved in would be restyled whole again.
    void buildMappingTab(QWidget *tab);
    void buildCalibrationTab(QWidget *tab);
    void addCalibrationBlock(int function);
    QWidget *buildCalibrationBlock(int function, const QString &title, bool hasCenter, QWidget *tab);
    // A live bar's value for a function's raw reading.
    int liveLevel(int function) const;
    // A calibration block's controls from the record.
    void showCalibration(int function);
    void startAxisDetection(QComboBox *combo, InputDevice *device, QLabel *label);
    void updatePedalModeUi();
    // Says under each function mapped to an axis its device does not have what it reads.
    void updateMissingAxisNotes();
    InputDevice *deviceOf(int function) const;
    int &axisField(int function);
    AxisConfig &calibrationOf(int function);
    const AxisConfig &calibrationOf(int function) const;
    QComboBox *makeAxisCombo(QWidget *parent) const;
    // Why each calibrated function's points give it no travel, one line per function.
    QStringList calibrationFaults() const;

    CorvaneController *m_controller;
    HelicopterConfig m_config;
    QTimer *m_pollTimer;
    QTabWidget *m_tabs = nullptr;
    ostra::PassBuilder *m_calibrationParts;
    QVBoxLayout *m_calibrationLayout = nullptr;
    // The first control after the tabs in the keyboard's order.
    QWidget *m_footer = nullptr;
    std::array<Mapping, FunctionCount> m_mapping{};
    std::array<Calibration, FunctionCount> m_calibration{};
    QCheckBox *m_splitPedals = nullptr;
    QLabel *m_firstPedalLabel = nullptr;
    QWidget *m_secondPedal = nullptr;
    QComboBox *m_secondPedalAxis = nullptr;

    // Axis detection: idle while the target combo is empty.
    QComboBox *m_detectCombo = nullptr;
    InputDevice *m_detectDevice = nullptr;
    QLabel *m_detectLabel = nullptr;
    int m_detectTicksLeft = 0;
    std::array<float, 8> m_detectMin{};
    std::array<float, 8> m_detectMax{};
};

} // namespace corvane
