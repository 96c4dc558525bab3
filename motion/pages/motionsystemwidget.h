#pragma once

#include "motion/motionsystemsettings.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTextEdit;
class QTimer;
class QVBoxLayout;

namespace ostra {
class BusyButton;
class Dot;
class Pill;
class Segmented;
class SliderRow;
class Toggle;
class VMeter;
} // namespace ostra

namespace corvane {

class CorvaneController;
class MotionRunButton;
class MotionSystemController;
class MotionWebPanel;

enum MotionTestKind : int { MotionTestSingleDof = 0, MotionTestFree = 1, MotionTestFullSystem = 2, MotionTestHaptics = 3 };

// One segment of the test target selector.
struct MotionTestTarget
{
    int kind = MotionTestSingleDof;
    int dof = 0; // MotionSystemController::Dof, for single-DOF tests only
    QString label;
};

// One direct-control row of the free panel.
struct MotionAxisRow
{
    ostra::SliderRow *slider = nullptr;
    QLabel *live = nullptr;
    QElapsedTimer lastUserMove;
};

struct MotionHapticPreset
{
    const char *label;
    int amplitude; // 0.1 mm
    int hz;
};

// One actuator's live meter on the Actuators card.
struct MotionLiveColumn
{
    ostra::VMeter *meter = nullptr;
    QLabel *name = nullptr;
    QLabel *value = nullptr;
    int lastMm = -1;
    double marker = -2; // park marker last drawn, to repaint only on change
};

// One actuator's position choice and Buzz button on the Platform settings card.
struct MotionActuatorRow
{
    QWidget *row = nullptr;
    QComboBox *position = nullptr;
    QPushButton *buzz = nullptr;
};

// The Motion System page: connects the motion controller, shows the actuators, runs the tests,
// edits the platform settings and shows the controller's log; it also runs the phone web panel.
class MotionSystemWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MotionSystemWidget(MotionSystemController *controller, QWidget *parent = nullptr);
    ~MotionSystemWidget() override;

    int platformDof() const { return m_platformDof; }
    // 2, 3 or 5; anything else is ignored.
    void setPlatformDof(int dof);

    bool eventFilter(QObject *watched, QEvent *event) override;

    static const QList<MotionHapticPreset> &hapticPresets();

    // Marks the ports the transmitter and receiver of `devices` hold in the port list, and
    // refreshes the list as they connect and disconnect.
    void followPortsOf(const CorvaneController *devices);

    // Whether the Platform settings card holds edits Save has not stored.
    bool hasUnsavedSettings() const;

public slots:
    void onRefreshPorts();
    void onConnectClicked();
    void onTestClicked();
    void onSaveSettings();

private slots:
    // Also the 100 ms refresh timer's slot while a test runs.
    void refreshRunButton();

protected:
    // Milliseconds since the page started the running test.
    virtual qint64 runElapsedMs() const { return m_runClock.elapsed(); }

private:
    void buildControllerCard(QVBoxLayout *page);
    QWidget *buildTestCard();
    QWidget *buildActuatorsCard();
    QWidget *buildSettingsCard();
    QWidget *buildLogCard();
    void connectController();

    void appendLog(const QString &text);
    void refreshConnectionState();
    // Why the last Connect failed, under the Connect button; empty hides the line.
    void showConnectProblem(const QString &text);
    void toggleWebPanel();
    void showWebPanelQr();
    void rebuildLiveColumns(int count);
    void refreshLiveColumns();
    void onAxisPositions(const QMap<int, int> &mmByAxis);

    void rebuildTestTargets();
    void onTestTargetChanged(int index);
    void ensureAxisRow(int axis);
    QPushButton *makeActionButton(const QString &text, ostra::Dot **dot, QWidget *parent);
    void startRunClock(int seconds);

    ostra::SliderRow *makeSettingRow(const QString &label, int minimum, int maximum, const QString &unit);
    MotionSystemSettings collectSettings() const;
    void loadSettings(const MotionSystemSettings &s);
    void onStrokeChanged(int value);
    void refreshSaveState();
    // Says how Save went once its write has ended.
    void onSettingsWritten(quint64 ticket, bool ok);
    void refreshSleepStatus();
    void rebuildActuatorRows(int count);
    void refreshMapStatus();

    // The stored stroke for drawing: 0 when the controller reported none that is usable.
    int drawStroke() const;
    // The stroke slider ranges follow: never outside what the settings allow.
    int rangeStroke() const;
    int actuatorCount() const;

    MotionSystemController *m_controller;
    const CorvaneController *m_devices = nullptr;
    int m_platformDof = 5;

    // Controller card
    ostra::Dot *m_statusDot = nullptr;
    QLabel *m_statusLabel = nullptr;
    QComboBox *m_portList = nullptr;
    ostra::BusyButton *m_refreshButton = nullptr;
    QPushButton *m_connectButton = nullptr;
    QLabel *m_connectProblem = nullptr;
    MotionWebPanel *m_webPanel = nullptr;
    QPushButton *m_webPanelButton = nullptr;
    QLabel *m_webAddressLabel = nullptr;
    std::function<void()> m_showQr;

    // Motion test card
    ostra::Segmented *m_targetSelector = nullptr;
    QList<MotionTestTarget> m_targets;
    int m_selectedTarget = 0;
    int m_chosenDof = 2;
    ostra::SliderRow *m_travelRow = nullptr;
    ostra::SliderRow *m_speedRow = nullptr;
    ostra::SliderRow *m_durationRow = nullptr;
    QWidget *m_optionsPanel = nullptr;
    MotionRunButton *m_runButton = nullptr;
    QPushButton *m_homeButton = nullptr;
    QPushButton *m_calibrationButton = nullptr;
    QPushButton *m_releaseButton = nullptr;
    ostra::Dot *m_homeDot = nullptr;
    ostra::Dot *m_calibrationDot = nullptr;
    QLabel *m_testStatus = nullptr;
    QElapsedTimer m_runClock;
    int m_runSeconds = 0;
    QTimer *m_refreshTimer = nullptr;
    QWidget *m_freePanel = nullptr;
    QVBoxLayout *m_axisRowsLayout = nullptr;
    ostra::Segmented *m_freeActuatorSelector = nullptr;
    int m_freeActuator = -1;
    QMap<int, MotionAxisRow> m_axisRows;
    QWidget *m_fullPanel = nullptr;
    ostra::SliderRow *m_totalTimeRow = nullptr;
    QWidget *m_hapticsPanel = nullptr;
    ostra::SliderRow *m_amplitudeRow = nullptr;
    ostra::SliderRow *m_frequencyRow = nullptr;
    ostra::SliderRow *m_hapticDurationRow = nullptr;

    // Actuators card
    ostra::Pill *m_dofPill = nullptr;
    QWidget *m_liveColumnsWidget = nullptr;
    QList<MotionLiveColumn> m_liveColumns;

    // Platform settings card
    ostra::SliderRow *m_strokeRow = nullptr;
    int m_lastStroke = 150;
    quint64 m_saveTicket = 0; // the write of the last Save, until it has ended
    std::function<void(bool stored)> m_savedOnClose; // told how that write went
    ostra::SliderRow *m_intensityRow = nullptr;
    ostra::SliderRow *m_maxTravelRow = nullptr;
    ostra::SliderRow *m_maxSpeedRow = nullptr;
    ostra::SliderRow *m_smoothnessRow = nullptr;
    ostra::SliderRow *m_parkRow = nullptr;
    std::array<int, 6> m_actuatorSlots { 0, 1, 2, 3, 4, 5 };
    QWidget *m_actuatorSection = nullptr;
    QVBoxLayout *m_actuatorRowsLayout = nullptr;
    QList<MotionActuatorRow> m_actuatorRows;
    QLabel *m_mapStatus = nullptr;
    ostra::Toggle *m_sleepToggle = nullptr;
    ostra::SliderRow *m_sleepAfterRow = nullptr;
    QLabel *m_sleepStatus = nullptr;
    QLabel *m_saveStatus = nullptr;
    QPushButton *m_revertButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QWidget *m_settingsGrid = nullptr;

    // Controller log card
    QTextEdit *m_logView = nullptr;
    ostra::Pill *m_logCountPill = nullptr;
    int m_logLines = 0;
};

} // namespace corvane
