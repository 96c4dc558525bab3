#pragma once

#include <QColor>
#include <QDialog>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "bridge/crsfprotocol.h"

class QComboBox;
class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

namespace ostra {
class PassBuilder;
}

namespace corvane {

class CorvaneController;
class ElrsParameterManager;
struct ElrsParameter;
class ReceiverSettingsPanel;

// The "Telemetry" dialog of the transmitter link. Tab "Telemetry": link status, the telemetry
// sensors the car sends and a raw CRSF console with a command line; tab "RF settings": the ELRS
// module's RF parameters (read in configuration mode, staged and applied, or five settings written
// blind) and WiFi update mode; tab "Receiver": the receiver settings panel. Everything comes live
// from the controller; leaving the dialog in any way leaves configuration mode.
// The frame, link card, sensors and console live in transmissionview.cpp, the RF tab in
// transmissionview_rf.cpp.
class TransmissionView : public QDialog
{
    Q_OBJECT
public:
    // What the RF settings tab shows.
    enum RfState : int {
        Idle = 0,
        Engaging = 1,
        Discovering = 2,
        Editable = 3,
        ReadOnly = 4,
        Error = 5,
        Manual = 6,
    };

    // One setting of the blind manual table.
    struct ManualRfSetting
    {
        quint8 fieldId = 0;
        QString label;
        QStringList options;
        int defaultIndex = 0;
    };

    // One built row of the manual panel.
    struct ManualRfRow
    {
        quint8 fieldId = 0;
        QComboBox *combo = nullptr;
        QLabel *status = nullptr;
        int defaultIndex = 0;
    };

    // A parameter write awaiting its confirmation; `oldValue` comes back when it fails.
    struct PendingWrite
    {
        int newValue = 0;
        int oldValue = 0;
    };

    static constexpr int RefreshIntervalMs = 60;
    static constexpr int RetryDelayMs = 6000;
    static constexpr int WriteTimeoutMs = 3000;
    static constexpr int ApplyRestartDelayMs = 1000;
    static constexpr int AppliedNoticeMs = 5000;
    static constexpr int MaxConsoleLines = 400;
    static constexpr qint64 SensorStaleMs = 2000;

    enum Tab : int {
        TelemetryTab = 0,
        RfSettingsTab = 1,
        ReceiverTab = 2,
    };

    TransmissionView(CorvaneController *controller, QWidget *parent = nullptr, Tab shown = TelemetryTab);
    ~TransmissionView() override;

    // Turning to a tab builds its page now if it was not yet.
    void showRfSettingsTab();
    void showReceiverTab();
    // The pages not built yet, now rather than one per pass of the event loop.
    void finishBuilding();
    bool isPageBuilt(Tab tab) const;

    // A sensor silent for more than 2 s, or never heard, is shown greyed.
    static bool isSensorStale(qint64 lastUpdateMs, qint64 nowMs);
    static QString frameTypeName(quint8 frameType);
    static QString frameSummary(quint8 frameType, const QByteArray &payload);
    static const QList<ManualRfSetting> &manualOptionTables();

    void done(int result) override;

public slots:
    void onLinkStatisticsUpdated(const corvane::LinkStatistics &stats);
    void onCrsfFrameReceived(quint8 frameType, const QByteArray &payload);
    void onTransmitterTextLine(const QString &line);
    void sendConsoleCommand();
    void onDiscoveryStarted();
    void onDiscoveryProgress(int done, int total);
    void onDiscoveryComplete();
    void onDiscoveryAborted();
    void onParameterUpdated(const QString &name);
    void onManagerError(const QString &message);
    void onRunningChanged(bool running);
    void onConfigModeChanged(bool active);
    void onSerialConnectedChanged(bool connected);
    void onConfigureClicked();
    void onComboActivated(const QString &paramName, int optionValue);
    void onWriteTimeout(const QString &paramName);
    void onRetryClicked();
    void onUseManualClicked();

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    // The timers' work, callable on their own.
    void refreshCounters();
    void onRetryTimeout();
    void showAppliedNotice();

private:
    // Frame, link card, sensors and console (transmissionview.cpp).
    void buildUi(Tab shown);
    void ensurePage(int tab);
    void addTelemetryCard(QWidget *card);
    void buildReceiverPage();
    void keepFooterLastInTabOrder();
    QWidget *buildLinkCard(QWidget *page);
    QWidget *buildSensorsCard(QWidget *page);
    QWidget *buildConsoleCard(QWidget *page);
    void addStatCell(QGridLayout *grid, int row, int column, const QString &caption, QLabel **value);
    void updateLinkLabels(const LinkStatistics &stats);
    void refreshLinkFromController();
    void queueConsoleLine(const QString &line);
    void appendToConsole(const QString &text);
    void clearConsole();
    void refreshSensorList();
    void updateDiscoverButton();
    void onSensorItemChanged(QTreeWidgetItem *item, int column);
    void showSensorMenu(const QPoint &pos);
    void renameSensor(const QString &id);
    void deleteAllSensors();

    // RF settings tab (transmissionview_rf.cpp).
    void buildRfTab(QWidget *pageWidget);
    void finishRfTab(QWidget *pageWidget);
    QWidget *buildWifiCard(QWidget *page);
    void buildManualPanel(QWidget *card);
    void updateConfigureButton();
    void updateRfState();
    void updateWifiButtons();
    void enterWifiUpdateMode(bool receiver);
    void showWifiSentNotice(bool receiver);
    void rebuildParameterTree();
    QTreeWidgetItem *buildParameterRow(const ElrsParameter &parameter, QTreeWidgetItem *parentItem);
    QWidget *findParameterRow(const QString &name) const;
    void setParameterCombosEnabled();
    void stageManualOption(quint8 fieldId, int index);
    int unsavedCount() const;
    void updateUnsavedBanner();
    void applyChanges();
    void writeParameter(const QString &name, int newValue);
    void finishWrite(const QString &name, bool success);
    void discardChanges();
    void clearUnsaved();
    QString txPowerText() const;
    void showRowError(QLabel *label, const QString &text);

    CorvaneController *m_controller = nullptr;
    ElrsParameterManager *m_manager = nullptr;
    QTimer *m_retryTimer = nullptr;
    QPushButton *m_configureButton = nullptr;
    QList<QPushButton *> m_wifiButtons;
    QTabWidget *m_tabs = nullptr;
    // The first parts are named by the tabs; a page's later parts are listed with them here.
    ostra::PassBuilder *m_pages = nullptr;
    QList<int> m_tabParts[3];
    QWidget *m_receiverPage = nullptr;
    QPushButton *m_closeButton = nullptr;
    ReceiverSettingsPanel *m_receiverPanel = nullptr;

    QLabel *m_rssi1 = nullptr;
    QLabel *m_rssi2 = nullptr;
    QLabel *m_linkQuality = nullptr;
    QLabel *m_snr = nullptr;
    QLabel *m_txPower = nullptr;
    QLabel *m_rfMode = nullptr;
    QLabel *m_linkHint = nullptr;
    bool m_linkSeen = false;
    LinkStatistics m_linkStats;

    QPlainTextEdit *m_console = nullptr;
    QPushButton *m_pauseButton = nullptr;
    QLabel *m_framesLabel = nullptr;
    int m_frameCount = 0;
    QLabel *m_rxLabel = nullptr;
    qint64 m_rxBytes = 0;
    qint64 m_rxShown = -1;
    QStringList m_pendingLines;
    QTimer *m_refreshTimer = nullptr;
    bool m_framesDirty = false;
    QLineEdit *m_commandLine = nullptr;

    QTreeWidget *m_sensorList = nullptr;
    QLabel *m_sensorCount = nullptr;
    QPushButton *m_discoverButton = nullptr;
    QHash<QString, QTreeWidgetItem *> m_sensorItems;
    bool m_sensorValuesDirty = true;
    bool m_sensorListDirty = true;
    bool m_rebuildingSensors = false;
    QColor m_freshColor;
    QColor m_staleColor;
    QColor m_mutedColor;

    QFrame *m_stateBanner = nullptr;
    QLabel *m_stateLabel = nullptr;
    QFrame *m_errorBanner = nullptr;
    QLabel *m_errorLabel = nullptr;
    QPushButton *m_retryButton = nullptr;
    QLabel *m_discoveringLabel = nullptr;
    QString m_discoveringText;
    QPushButton *m_useManualButton = nullptr;
    QFrame *m_rfCard = nullptr;
    QTreeWidget *m_parameterTree = nullptr;
    QFrame *m_manualPanel = nullptr;
    QFrame *m_manualBanner = nullptr;
    QLabel *m_manualHint = nullptr;
    QList<ManualRfRow> m_manualRows;
    RfState m_state = Idle;
    QString m_lastError;
    bool m_manualMode = false;

    QMap<QString, PendingWrite> m_pendingWrites;
    QMap<QString, int> m_stagedParameters;
    QMap<quint8, int> m_stagedManual;

    QFrame *m_applyBar = nullptr;
    QLabel *m_unsavedLabel = nullptr;
    QPushButton *m_applyButton = nullptr;
    QPushButton *m_discardButton = nullptr;
    QLabel *m_appliedNotice = nullptr;
    QTimer *m_applyTimer = nullptr;
};

} // namespace corvane
