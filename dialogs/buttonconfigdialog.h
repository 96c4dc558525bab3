#pragma once

#include <QDialog>
#include <QList>
#include <QSet>
#include <QStringList>

#include "profiles/buttonmapping.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;
struct HelicopterConfig;

namespace corvane {

class CorvaneController;
class InputDevice;

// "Configure Buttons": binds buttons, hat directions and axis halves of the dialog's game
// controllers to channels CH3..CH12 (CH5..CH16 for the helicopter) in five modes. Inputs are captured by pressing them; each
// is one virtual input index, device slot × 160 + local index, the numbering the controller's
// tick evaluates bindings with. The edited set is handed back to the opener after Apply.
class ButtonConfigDialog : public QDialog
{
    Q_OBJECT
public:
    // Inputs per device slot: 128 buttons, 4 hats × 4 directions, 8 axes × 2 halves.
    static constexpr int InputsPerDevice = 160;

    ButtonConfigDialog(CorvaneController *controller, QWidget *parent = nullptr);
    ~ButtonConfigDialog() override;

    void setInputDevices(const QList<InputDevice *> &devices, const QStringList &names);
    // Offers the channels helicopter mode drives with mappings and preselects one that neither
    // the helicopter setup nor another mapping takes; the help speaks of the helicopter.
    void useHelicopterChannels(const HelicopterConfig &config);
    void setMappings(const ButtonMappingSet &mappings);
    ButtonMappingSet mappings() const { return m_mappings; }

    bool isButtonPressed(int index) const;
    QString inputName(int localIndex) const;
    QString inputDisplayName(int index) const;
    bool hasConnectedDevice() const;
    void pollDevices();

    static int percentToCrsf(int percent) { return (percent * 2047 + 50) / 100; }
    static int crsfToPercent(int value) { return (value * 100 + 1023) / 2047; }

public slots:
    void onPollButtons();
    void onResetCapture();
    void onClearCapturedButtons();
    void onAddMapping();
    void onRemoveMapping();
    void onMappingSelected();
    void onClearAll();
    void onApply();
    void onInfoClicked();

private:
    // Layout, units, modes and the list (buttonconfigdialog.cpp).
    void buildUi();
    void setCrsfUnits();
    void updateModeFields();
    void refreshMappingList();
    void fillChannelChoices(int first, int last);
    void preselectFreeChannel();
    void updateArmNote();
    QString formatValue(int value) const;
    QString inputsLabel(const ButtonMapping &mapping) const;
    int toShown(int crsf) const { return m_crsfUnits ? crsf : crsfToPercent(crsf); }
    int toCrsf(int shown) const { return m_crsfUnits ? shown : percentToCrsf(shown); }

    // Capture (buttonconfigdialog_capture.cpp).
    int inputCount() const;
    void readHeldInputs();
    void showCapturePrompt();

    CorvaneController *m_controller;
    QList<InputDevice *> m_devices;
    QStringList m_deviceNames;
    ButtonMappingSet m_mappings;

    bool m_firstPoll = true;
    QList<int> m_captured;
    int m_editingIndex = -1;
    QSet<int> m_held;

    QLabel *m_captureLabel = nullptr;
    QLineEdit *m_nameEdit = nullptr;
    QComboBox *m_channelCombo = nullptr;
    QLabel *m_armNote = nullptr;
    QComboBox *m_modeCombo = nullptr;
    QLabel *m_helpLabel = nullptr;
    QComboBox *m_unitsCombo = nullptr;
    QLabel *m_valueLabel = nullptr;
    QSpinBox *m_valueSpin = nullptr;
    QLabel *m_rateLabel = nullptr;
    QSpinBox *m_rateSpin = nullptr;
    QLabel *m_minLabel = nullptr;
    QSpinBox *m_minSpin = nullptr;
    QLabel *m_maxLabel = nullptr;
    QSpinBox *m_maxSpin = nullptr;
    QLabel *m_startLabel = nullptr;
    QSpinBox *m_startSpin = nullptr;
    QCheckBox *m_pitLimiterCheck = nullptr;
    QPushButton *m_addButton = nullptr;
    QListWidget *m_list = nullptr;
    QPushButton *m_removeButton = nullptr;
    QTimer *m_pollTimer = nullptr;
    bool m_crsfUnits = false;
    bool m_helicopter = false;
    // What the helicopter setup sends on, over any mapping.
    QList<int> m_setupChannels;
    // The arm switch's channel while it is on, else -1.
    int m_armChannel = -1;
};

} // namespace corvane
