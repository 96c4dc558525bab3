#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <array>
#include <functional>

class QBoxLayout;
class QComboBox;
class QDialog;
class QFrame;
class QHBoxLayout;
class QLabel;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTextEdit;
class QTimer;
class QVariant;

namespace ostra {
class AmbientBackground;
class BusyButton;
class Card;
class ChannelCell;
class DeviceRow;
class ListRow;
class MapView;
class Meter;
class PageHeader;
class PageStack;
class PassBuilder;
class Pill;
class ResponsiveGrid;
class Sidebar;
class TitleBar;
class TxButton;
}

namespace corvane {
class CorvaneController;
class HelicopterSetupWidget;
class MotionSystemController;
class MotionSystemWidget;
class RaceControl;
class SteeringGaugeWidget;
class WebSocketServer;
struct GpsFix;
struct InputDeviceInfo;
struct LinkStatistics;
}

// Fills a game-controller combo: the "Choose …" prompt (item data -1), then one entry per controller
// with its index in the list as item data.
void fillInputDeviceCombo(const QList<corvane::InputDeviceInfo> &devices, QComboBox *combo,
                          const QString &placeholder);
// A channel value (0..2047) as the pulse width shown in the channel cells, 880..2120 us.
int channelMicroseconds(int value);
// The age of the last GPS fix as the Location card says it: "%1 s ago", "%1 min ago", "%1 h ago".
QString gpsAgeText(qint64 ageMs);
// While the controller transmits, `window` repaints at most every 33 ms, in the slack after a
// tick (ostra::PaintPacer): its live values share one repaint that ends well before the next
// tick is due. For the main window and the windows it opens that repaint periodically. The
// controller's ticks pace the rest of the GUI thread's work too (ostra::TickPace).
void paceRepaintsWhileTransmitting(QWidget *window, corvane::CorvaneController *controller);
// Centres an overlay banner near the top of the window, as wide as its text allows.
void placeOverlayLabel(QWidget *window, QLabel *label);

// The one frameless top-level window: title bar, sidebar, page header with status pills and
// the stack of eight pages.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Pages of the content stack, by index.
    enum Page {
        StartPage = 0,
        CarPage = 1,
        InfoPage = 2,
        VehiclePage = 3,
        HelicopterPage = 4,
        MotionPlatformPage = 5,
        MotionPage = 6,
        RaceControlPage = 7,
        PageCount = 8
    };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    corvane::CorvaneController *controller() const { return m_controller; }
    corvane::WebSocketServer *server() const { return m_server; }
    int currentPage() const { return m_currentPage; }

    void showPage(int index);
    void openCarPage();
    void selectVehicle(const QString &key);
    void selectMotionPlatform(const QString &key);
    bool allSavedDevicesConnected() const;

    // Car page actions without a slot of their own.
    void toggleTheme();
    void toggleConsoleFromRow();
    void onSteeringHealthAction();
    void startFromWizard();
    // While set (a firmware or radio calibration dialog runs) errors open no box.
    void setSuppressErrorDialogs(bool suppress) { m_suppressErrorDialogs = suppress; }
    // "Restart now" was chosen: main starts the program again once this window is gone.
    bool restartRequested() const { return m_restartRequested; }

public slots:
    void onNavigate(int sidebarIndex);
    void onInfoButtonClicked();
    void onConnectTransmitter();
    void onConnectReceiver();
    void onConnectWheelBase();
    void onConnectPedals();
    void onConnectShifter();
    void onRefreshSerialPorts();
    void onRefreshInputDevices();
    void onStartStop();
    // An error of the desktop user's own action: a box.
    void onError(const QString &message);
    // A stop the user's own change made (another vehicle chosen): a box that says so.
    void onTransmissionStopped(const QString &reason);
    // An error a request from the network caused: its client has it in the reply; a toast here.
    void onNetworkError(const QString &message);
    void onLogMessage(int type, const QString &message);
    void onReceiverDataReceived(const QString &line);
    void onTelemetryReceived(const QByteArray &data);
    void onLinkStatisticsUpdated(const corvane::LinkStatistics &stats);
    void onInputChanged();
    void onInputMonitorInfoClicked();
    void onClearConsole();
    void onToggleDebugPanel();
    void onConfigureEsc();
    void onOpenOnboarding();
    void onWebStatusClicked();
    void rebuildTelemetryDashboard();
    void updateTelemetryDashboard();
    void updateCarLinkStatus();
    void updateGpsStatus();
    void updateReceiverFeatures();
    void updateLiveInput();
    void updatePedalAxisNote();
    void updateSteeringHealth();
    void refreshPortCombos();
    void updateWebStatus();
    void checkPhoneNetwork();
    void updateCarPageStatus();
    void updateConnectionStatus();
    void updateProfilePill();
    void updatePitLimiterOverlay();
    void rebuildProfileMenu();
    void openProfileManagerDialog();
    void onAutoConnectRetry();

    // Setup dialog launchers (mainwindow_launchers.cpp, mainwindow_axes.cpp).
public slots:
    void onConfigureAxes();
    void runRadioCalibration();
    void onConfigureButtons();
    // The transmitter link's dialog, modal; nothing is read back (mainwindow_transmission.cpp).
    void onConfigureTransmission(bool rfSettings = false);
    void onConfigureReceiver();
    void openTransmissionRfSettings();
    void openTransmissionView();
    // Full-screen windows opened from the window (mainwindow_windows.cpp).
    void onOpenDashboard();
    // The LED strip, force-feedback, motion and firmware launchers (mainwindow_launchers.cpp).
    void onConfigureLed();
    void openLedDialogFromRow();
    void openWheelFfbDialog();
    void openMotionOutputDialog();
    void openMotionCalibrationDialog();
    void openFfbMotionPreview();
    void onUpdateReceiverFirmware();
    void onUpdateReceiverV4Firmware();
    void onUpdateTransmitterFirmware();
    void onUpdateTransmitterSocFirmware();
    void onUpdateTransmitterSocFirmwareV2();
    void openGpsInMaps();
public:
    // True exactly while a radio calibration or firmware dialog runs: errors then open no box.
    bool suppressErrorDialogs() const { return m_suppressErrorDialogs; }
private:

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Sends a report of the controller or the profile store to `show`, or to onNetworkError when
    // a request from the network caused it.
    void routeReport(const QString &message, void (MainWindow::*show)(const QString &));
    // One box per distinct text still open: a device that keeps failing repeats its error.
    void openControllerBox(const QString &message, bool error);
    // An error whose cause has gone: its box closes, and it is no longer waiting to be shown.
    void withdrawReport(const QString &message);
    struct PageRow;
    static const PageRow &pageRow(int index);
    void applyPageRow(int index, bool animated);
    // Makes a profile of the vehicle type active and opens its page once that is stored.
    void switchVehicle(const QString &vehicleType, const QString &preferredName, const std::function<void()> &openPage);
    void setPillsForPage(int index);
    void setPhoneNetwork(bool reachable);
    QString pageTitle(int index) const;

    void buildShell();
    void buildPages();
    QWidget *buildStartPage();
    QWidget *buildVehiclePage();
    QWidget *buildMotionPlatformPage();
    QWidget *buildMotionPage();
    QWidget *buildHelicopterPage();
    QWidget *buildInfoPage(QWidget *context);
    QScrollArea *buildChooserPage(const QString &title, const QString &subtitle, QWidget **content,
                                  ostra::ResponsiveGrid **grid);
    ostra::Card *buildProductCard(ostra::ResponsiveGrid *grid, QWidget *parent, const QString &monogram,
                                  int index, const QString &title, const QString &kicker,
                                  const QString &description, const QStringList &chips,
                                  ostra::Pill **statusPill);
    ostra::Card *buildVehicleCard(QWidget *parent, const QString &monogram, int index, const QString &title,
                                  const QString &description, bool enabled, const QString &key);
    ostra::Card *buildPlatformCard(QWidget *parent, const QString &monogram, const QString &title,
                                   const QString &description, const QString &key);
    QWidget *buildCarPage();
    ostra::Card *buildLiveControlCard(QWidget *parent);
    ostra::Card *buildDevicesCard(QWidget *parent);
    ostra::Card *buildTransmissionCard(QWidget *parent);
    ostra::Card *buildTelemetryCard(QWidget *parent);
    ostra::Card *buildLocationCard(QWidget *parent);
    ostra::Card *buildChannelCard(QWidget *parent);
    ostra::Card *buildConfigureCard(QWidget *parent);
    ostra::Card *buildConsoleCard(QWidget *parent);
    void wireCarPage();
    void onGpsUpdated(const corvane::GpsFix &fix);
    void onFfbLevel(float level);
    void appendConsoleLine(const QString &line);
    // A car page control by object name; other windows of this one (the setup guide) have their
    // own controls of the same kind, so lookups stay on the page.
    template <typename T>
    T *carPageControl(const char *name) const
    {
        return m_carPage ? m_carPage->findChild<T *>(QLatin1String(name)) : nullptr;
    }
    // One device slot: look the controls up, toggle the device, refresh the page.
    void toggleDevice(const char *comboName, const char *buttonName, bool connected, const QString &noSelection,
                      const std::function<void()> &disconnect, const std::function<void(const QVariant &)> &connectDevice);
    QLabel *createPitLimiterOverlay();
    void showRaceControlStopOverlay();
    void startAutoConnect();
    void stopAutoConnect();
    // Windows that stay open beside this one and read the controller (mainwindow_windows.cpp).
    void showCompanionWindow(QWidget *window, bool fullScreen, ostra::PassBuilder *firstPaint);
    void deleteCompanionWindows();
    // Edits the pages and the running setup dialogs hold would go with the window: Save stores
    // them first, Discard lets them go, Cancel keeps the window; `question` says what is about to
    // happen. True when the window may go now; false for Cancel, for a store that failed, and
    // while stores are on their way to the disk: `stored` runs once all of them are there.
    bool settleUnsavedEdits(const QString &question, const std::function<void()> &stored);
    // The theme's restart, once what the window holds is settled.
    void restartInTheme(bool dark);
    // Set for the copy the theme restart starts: it holds the stop the restart made.
    static constexpr char StopHeldMark[] = "OSTRA_STOP_HELD";
    // Ends the start-up retry on a device the user connects or drops in the setup guide.
    void watchSetupGuideConnections(QTimer *retry);

public:
    // Small builders the car page and the Info page share.
    // The pages' shared scroll frame: resizable, frameless, never scrolling sideways.
    static QScrollArea *makePageScrollArea(QWidget *widget);
    static QWidget *addGridPage(QStackedWidget *stack, ostra::ResponsiveGrid **grid);
    static void switchStackPage(QStackedWidget *stack, int index);
    static void addChipGroup(ostra::Card *card, const QString &heading, const QStringList &chips);
    static QFrame *addValueTile(QHBoxLayout *row, const QString &caption, QLabel **valueLabel,
                                int stretch = 1);
    void connectDeviceRow(ostra::DeviceRow *row, void (MainWindow::*slot)());

    // Snapshot mode (mainwindow_snapshot.cpp): schedules every page, the collapsed sidebar and, with
    // QOROSTRA_SNAPSHOT_DIALOGS set, every setup dialog to be saved as PNGs in dir on a fixed
    // timeline, then the program's quit; returns at once. QOROSTRA_SNAPSHOT_SIZE sizes the window.
    void captureSnapshots(const QString &dir);
    void savePageSnapshot(const QString &dir, int index, const QString &name);
    // Expands the sidebar again afterwards.
    void saveCollapsedSidebarSnapshot(const QString &dir, int index);
    // Closes the dialog afterwards.
    void saveDialogSnapshot(QWidget *dialog, const QString &dir, int index, const QString &key);
    // The dialogs snapshot mode renders, by key in their order, and one of them built over this
    // window (null for an unknown key); tests open each on real desktops.
    static QStringList snapshotDialogKeys();
    QDialog *buildSnapshotDialog(const QString &key);

private:
    corvane::CorvaneController *m_controller = nullptr;
    corvane::WebSocketServer *m_server = nullptr;
    ostra::AmbientBackground *m_ambient = nullptr;
    ostra::TitleBar *m_titleBar = nullptr;
    ostra::Sidebar *m_sidebar = nullptr;
    ostra::PageHeader *m_header = nullptr;
    ostra::PageStack *m_pageStack = nullptr;
    ostra::Pill *m_transmitterPill = nullptr;
    ostra::Pill *m_webPill = nullptr;
    ostra::Pill *m_profilePill = nullptr;
    ostra::Pill *m_controllerPill = nullptr;
    ostra::Pill *m_carCardPill = nullptr;
    ostra::Pill *m_motionCardPill = nullptr;
    int m_currentPage = 0;
    corvane::MotionSystemController *m_motionController = nullptr;
    corvane::MotionSystemWidget *m_motionWidget = nullptr;
    corvane::HelicopterSetupWidget *m_helicopterWidget = nullptr;
    corvane::RaceControl *m_raceControl = nullptr;
    QLabel *m_pitLimiterOverlay = nullptr;
    QLabel *m_raceControlStopOverlay = nullptr;
    QPointer<QTimer> m_autoConnectTimer;
    QList<QPointer<QWidget>> m_companionWindows;
    // The controller's box on screen, and the reports waiting for it to close (message, error).
    QPointer<QMessageBox> m_controllerBox;
    QList<QPair<QString, bool>> m_waitingReports;
    QString m_transmitterOpenFailure; // why the transmitter's port last failed to open, until it opens
    int m_autoConnectBudget = 0;
    bool m_autoConnecting = false;
    bool m_suppressErrorDialogs = false;
    bool m_restartRequested = false;
    // From the question before closing until its stores have reported.
    bool m_settlingEdits = false;
    // Whether a phone could reach this PC, as last looked up.
    bool m_phoneNetwork = false;

    // Car page.
    QWidget *m_carPage = nullptr;
    corvane::SteeringGaugeWidget *m_steeringGauge = nullptr;
    QLabel *m_gearLabel = nullptr;
    int m_shownGear = 0x7fffffff;
    ostra::Meter *m_throttleMeter = nullptr;
    ostra::Meter *m_brakeMeter = nullptr;
    ostra::Meter *m_clutchMeter = nullptr;
    ostra::Meter *m_ffbMeter = nullptr;
    QLabel *m_throttleValue = nullptr;
    QLabel *m_brakeValue = nullptr;
    QLabel *m_clutchValue = nullptr;
    QLabel *m_ffbValue = nullptr;
    QLabel *m_liveInputHint = nullptr;
    QLabel *m_pedalAxisNote = nullptr;
    // The device the note names (0 none, 1 pedals, 2 wheel base) and the missing axis of the
    // throttle, brake and clutch (-1 where there is one).
    std::array<int, 4> m_notedPedalAxes{{0, -1, -1, -1}};
    ostra::BusyButton *m_refreshButton = nullptr;
    ostra::DeviceRow *m_transmitterRow = nullptr;
    ostra::DeviceRow *m_wheelBaseRow = nullptr;
    ostra::DeviceRow *m_pedalsRow = nullptr;
    ostra::DeviceRow *m_shifterRow = nullptr;
    QLabel *m_devicesSummary = nullptr;
    QLabel *m_requiredBadges[3] = {};
    QLabel *m_requiredStatus[3] = {};
    ostra::TxButton *m_txButton = nullptr;
    QLabel *m_txHint = nullptr;
    QWidget *m_steeringHealthBox = nullptr;
    QLabel *m_steeringHealthMessage = nullptr;
    QPushButton *m_steeringHealthButton = nullptr;
    QPushButton *m_autoStartButton = nullptr;
    QLabel *m_carLinkLine = nullptr;
    QLabel *m_signalValue = nullptr;
    QLabel *m_linkQualityValue = nullptr;
    QWidget *m_pinnedSensors = nullptr;
    ostra::ResponsiveGrid *m_pinnedGrid = nullptr;
    QHash<QString, QLabel *> m_sensorTiles;
    ostra::Card *m_gpsCard = nullptr;
    QLabel *m_gpsStatus = nullptr;
    QPushButton *m_openMapsButton = nullptr;
    QLabel *m_gpsSpeedValue = nullptr;
    QLabel *m_satellitesValue = nullptr;
    ostra::MapView *m_map = nullptr;
    QList<ostra::ChannelCell *> m_channelCells;
    std::array<int, 16> m_shownChannelUs{};
    QLabel *m_channelHint = nullptr;
    ostra::Card *m_consoleCard = nullptr;
    QTextEdit *m_console = nullptr;
    bool m_consoleVisible = false;
    // Filled by the Configure card.
    ostra::ListRow *m_forceFeedbackRow = nullptr;
    QList<QWidget *> m_transmitterRows;
    QLabel *m_firmwareHint = nullptr;
};
