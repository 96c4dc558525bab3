#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include "profiles/receiversettings.h"

class QBoxLayout;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ostra {
class PassBuilder;
class Toggle;
}

namespace corvane {

class CorvaneController;
class ReceiverConfigManager;
struct SerialPortEntry;

// The receiver page of the transmitter dialog: how the receiver is reached (USB cable or ELRS),
// its car/helicopter output mode, its features and every advanced GPS, IMU and telemetry option,
// gyro calibration, mounting detection and the receiver's USB console. Settings go through the
// controller's ReceiverConfigManager, which stores them in the profile and sends them on; the page
// redraws only from the manager's and the controller's signals, never from its own clicks.
// Construction and redrawing live in receiversettingspanel.cpp, the actions in
// receiversettingspanel_actions.cpp.
class ReceiverSettingsPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ReceiverSettingsPanel(CorvaneController *controller, QWidget *parent = nullptr);
    ~ReceiverSettingsPanel() override;

    // Builders shared by the receiver pages.
    static QPushButton *makeSmallButton(const QString &text, QWidget *parent);
    static QLabel *makeSectionLabel(const QString &text, QWidget *parent);
    static QPushButton *makeInfoIcon(QWidget *parent);
    static QWidget *makeSettingRow(QWidget *parent, const QString &title, const QString &hint,
                                   ostra::Toggle **toggleOut, QPushButton **infoOut = nullptr);

    // The values of a combo built from (first value, step, item count).
    static QList<int> valueSteps(int first, int step, int count);

    // The first receiver firmware with an IMU or GPS, or firmware 4 and later.
    bool isV4Receiver() const;
    bool mountingPending() const { return m_mountingPending; }
    // The advanced settings, built in passes after the page while they are folded away, now.
    void finishBuilding();

public slots:
    void refreshFromManager();
    void setAdvancedVisible();
    void refreshPorts();
    void openUsbPort();
    void confirmModeSwitch(bool heli);
    void showOsdHelp();
    void confirmGyroCalibration();
    void startMountingDetection();
    void finishMountingDetection();
    void setMountingByHand();
    void setGpsDebug(bool on);
    void setImuDebug(bool on);
    void sendConsoleCommand(const QString &text);
    void appendConsoleLine(const QString &line);

private slots:
    void onConsoleReturn();

private:
    void fillPorts(const QList<SerialPortEntry> &ports);
    void buildConnectionCard(QBoxLayout *page);
    void buildModeCard(QBoxLayout *page);
    void buildFeaturesCard(QBoxLayout *page);
    void buildAdvancedCard(QBoxLayout *page);
    void buildAdvancedSettings();
    void buildUsbTools(QBoxLayout *box);
    void settleAdvanced();
    void refreshUsbConnect();
    QComboBox *makeComboRow(QBoxLayout *layout, const QString &label, const QList<int> &values,
                            const QString &unit, int ReceiverSettings::*field);
    void addConsoleButton(QHBoxLayout *row, const QString &label, const QString &command, const QString &tooltip);
    void bindSettingToggle(ostra::Toggle *toggle, bool ReceiverSettings::*field);
    // Copies the manager's settings, lets `change` edit the copy and hands it back whole.
    template <typename Change> void writeSettings(Change change);

    // The manager lives with the controller; the page may outlive both at shutdown.
    QPointer<CorvaneController> m_controller;
    QPointer<ReceiverConfigManager> m_manager;

    QLabel *m_usbStatus = nullptr;
    QComboBox *m_portCombo = nullptr;
    QPushButton *m_usbConnect = nullptr;
    QLabel *m_elrsStatus = nullptr;
    QPushButton *m_searchAgain = nullptr;
    QPushButton *m_carButton = nullptr;
    QPushButton *m_heliButton = nullptr;
    QLabel *m_modeStatus = nullptr;
    QLabel *m_featuresHint = nullptr;
    ostra::Toggle *m_osdToggle = nullptr;
    QComboBox *m_hudTopCombo = nullptr;
    QComboBox *m_hudAccelCombo = nullptr;
    QComboBox *m_hudBrakeCombo = nullptr;
    ostra::Toggle *m_gpsToggle = nullptr;
    ostra::Toggle *m_motionToggle = nullptr;
    QLabel *m_gpsStatusValue = nullptr;
    QPushButton *m_gyroButton = nullptr;
    QLabel *m_gyroStatus = nullptr;
    QWidget *m_advanced = nullptr;
    ostra::PassBuilder *m_advancedBuilder = nullptr;
    QPushButton *m_advancedButton = nullptr;
    QComboBox *m_gpsRateCombo = nullptr;
    ostra::Toggle *m_gpsFrameToggle = nullptr;
    ostra::Toggle *m_attitudeFrameToggle = nullptr;
    ostra::Toggle *m_gforceFrameToggle = nullptr;
    ostra::Toggle *m_radioScreensToggle = nullptr;
    QComboBox *m_motionRateCombo = nullptr;
    QLabel *m_mountingValue = nullptr;
    QPushButton *m_mountingButton = nullptr;
    QLabel *m_mountingStatus = nullptr;
    bool m_mountingPending = false;
    QPushButton *m_rawNmea = nullptr;
    QPushButton *m_liveStream = nullptr;
    QList<QWidget *> m_usbOnlyTools;
    QPlainTextEdit *m_console = nullptr;
    QLineEdit *m_consoleInput = nullptr;
};

} // namespace corvane
