#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

class QBoxLayout;
class QComboBox;
class QFrame;
class QHBoxLayout;
class QLabel;
class QScrollArea;
class QStackedWidget;
class QTimer;

namespace ostra {
class AmbientBackground;
class Card;
class DeviceRow;
class PageHeader;
class PageStack;
class Pill;
class ResponsiveGrid;
class Sidebar;
class TitleBar;
}

namespace corvane {
class CorvaneController;
class HelicopterSetupWidget;
class MotionSystemController;
class MotionSystemWidget;
class RaceControl;
class WebSocketServer;
struct InputDeviceInfo;
}

// Fills a game-controller combo: the placeholder (item data -1), then one entry per controller
// with its index in the list as item data.
void fillInputDeviceCombo(const QList<corvane::InputDeviceInfo> &devices, QComboBox *combo,
                          const QString &placeholder);
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

public slots:
    void onNavigate(int sidebarIndex);
    void onInfoButtonClicked();
    void onInputChanged();
    void onOpenOnboarding();
    void onWebStatusClicked();
    void updateWebStatus();
    void updateCarPageStatus();
    void updateConnectionStatus();
    void updateProfilePill();
    void updatePitLimiterOverlay();
    void rebuildProfileMenu();
    void openProfileManagerDialog();
    void onAutoConnectRetry();

    // Full-screen windows opened from the window (mainwindow_windows.cpp).
    void onOpenDashboard();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct PageRow;
    static const PageRow &pageRow(int index);
    void applyPageRow(int index, bool animated);
    void setPillsForPage(int index);
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
    QLabel *createPitLimiterOverlay();
    void showRaceControlStopOverlay();
    void startAutoConnect();

public:
    // Small builders the car page and the Info page share.
    static QWidget *addGridPage(QStackedWidget *stack, ostra::ResponsiveGrid **grid);
    static void switchStackPage(QStackedWidget *stack, int index);
    static void addChipGroup(ostra::Card *card, const QString &heading, const QStringList &chips);
    static QFrame *addValueTile(QHBoxLayout *row, const QString &caption, QLabel **valueLabel,
                                int stretch = 1);
    void connectDeviceRow(ostra::DeviceRow *row, void (MainWindow::*slot)());

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
    int m_autoConnectBudget = 0;
};
