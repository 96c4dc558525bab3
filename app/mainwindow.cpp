#include "app/mainwindow.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "api/apihandlers.h"
#include "api/dialogs/webstatusdialog.h"
#include "api/websocketserver.h"
#include "app/appversion.h"
#include "app/disclaimerdialog.h"
#include "app/onboardingwizard.h"
#include "bridge/corvanecontroller.h"
#include "bridge/corvaneserialport.h"
#include "motion/motionsystemcontroller.h"
#include "motion/pages/motionsystemwidget.h"
#include "ostraui/ambientbackground.h"
#include "ostraui/brandlogo.h"
#include "ostraui/devicerow.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/framelessresizer.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/pill.h"
#include "ostraui/qrcode.h"
#include "ostraui/screenfit.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "ostraui/titlebar.h"
#include "ostraui/toast.h"
#include "ostraui/tickpace.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "racecontrol/racecontrol.h"

using namespace ostra;

namespace {

constexpr quint16 ApiPort = 12345;
constexpr int AutoConnectIntervalMs = 1000;
constexpr int AutoConnectTicks = 15;
// Listing the network interfaces is not free: the web pill has them looked at every few seconds
// only.
constexpr int PhoneNetworkCheckMs = 5000;

} // namespace

// One row of the page table: header texts, the sidebar item marked and the pills shown.
struct MainWindow::PageRow
{
    const char *title;
    const char *backText;
    int sidebarItem;
    bool transmitter;
    bool web;
    bool profile;
    bool controller;
};

const MainWindow::PageRow &MainWindow::pageRow(int index)
{
    static const PageRow rows[PageCount] = {
        {QT_TR_NOOP("Dashboard"), "", 0, false, false, false, false},
        {QT_TR_NOOP("RC Car"), QT_TR_NOOP("Corvane"), 2, true, true, true, false},
        {QT_TR_NOOP("Info"), "", -1, false, false, false, false},
        {QT_TR_NOOP("Corvane"), "", 2, true, true, false, false},
        {QT_TR_NOOP("RC Helicopter"), QT_TR_NOOP("Corvane"), 2, true, true, true, false},
        {QT_TR_NOOP("QOR Motion System"), "", 1, false, false, false, true},
        {QT_TR_NOOP("%1DOF QOR Motion System"), QT_TR_NOOP("Motion System"), 1, false, false, false, true},
        {QT_TR_NOOP("Race control"), "", 3, false, false, false, false},
    };
    // Outside the table: no title, the first sidebar item, no pills.
    static const PageRow none = {"", "", 0, false, false, false, false};
    return index >= 0 && index < PageCount ? rows[index] : none;
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    m_controller = new corvane::CorvaneController(this);
    m_server = new corvane::WebSocketServer(m_controller, this);
    setWindowTitle(QLatin1String(AppDisplayName));
    setWindowIcon(ostra::brandWindowIcon());

    buildShell();
    buildPages();

    connect(m_sidebar, &Sidebar::navigate, this, &MainWindow::onNavigate);
    connect(m_sidebar, &Sidebar::infoRequested, this, &MainWindow::onInfoButtonClicked);
    connect(m_sidebar, &Sidebar::themeToggleRequested, this, &MainWindow::toggleTheme);
    // The input layer needs no window handle on this platform.

    connect(m_controller, &corvane::CorvaneController::inputChanged, this, &MainWindow::onInputChanged);
    // The drifting backdrop repaints the whole window, far more than a 7 ms tick can share the
    // GUI thread with: it holds still while the car is driven.
    connect(m_controller, &corvane::CorvaneController::runningChanged, m_ambient, &AmbientBackground::setDriftHeld);
    paceRepaintsWhileTransmitting(this, m_controller);
    for (auto signal : {&corvane::CorvaneController::runningChanged,
                        &corvane::CorvaneController::serialConnectedChanged,
                        &corvane::CorvaneController::receiverConnectedChanged,
                        &corvane::CorvaneController::wheelBaseConnectedChanged,
                        &corvane::CorvaneController::pedalsConnectedChanged,
                        &corvane::CorvaneController::shifterConnectedChanged})
        connect(m_controller, signal, this, &MainWindow::updateCarPageStatus);
    connect(m_controller, &corvane::CorvaneController::transmitterAnswerChanged, this, &MainWindow::updateCarPageStatus);
    connect(m_controller, &corvane::CorvaneController::errorOccurred, this,
            [this](const QString &message) { routeReport(message, &MainWindow::onError); });
    connect(m_controller, &corvane::CorvaneController::transmissionStopped, this,
            [this](const QString &reason) { routeReport(reason, &MainWindow::onTransmissionStopped); });
    // A port that would not open is told until it opens after all (the start-up retry, another
    // Connect): then its box goes, and a report of it still waiting with it.
    connect(m_controller->transmitterPort(), &corvane::CorvaneSerialPort::errorOccurred, this,
            [this] { m_transmitterOpenFailure = m_controller->transmitterPort()->openError(); });
    connect(m_controller, &corvane::CorvaneController::serialConnectedChanged, this, [this](bool connected) {
        if (connected)
            withdrawReport(std::exchange(m_transmitterOpenFailure, QString()));
    });
    // A setting the disk refused stays in use and goes with the next write of the settings. The
    // Terms of Use tell of their own write, in front of themselves.
    auto *settings = new corvane::SettingsFile(this);
    connect(settings, &corvane::SettingsFile::written, this, [this, settings](quint64 ticket, bool ok) {
        const QList<corvane::DisclaimerDialog *> terms = findChildren<corvane::DisclaimerDialog *>();
        if (!ok && std::none_of(terms.cbegin(), terms.cend(), [ticket](auto *t) { return t->isStoring(ticket); }))
            showToast(this, tr("Settings not saved \u2014 %1").arg(settings->failure()));
    });
    connect(m_controller, &corvane::CorvaneController::receiverDataReceived, this, &MainWindow::onReceiverDataReceived);
    connect(m_controller, &corvane::CorvaneController::telemetryReceived, this, &MainWindow::onTelemetryReceived);
    connect(m_controller, &corvane::CorvaneController::linkStatisticsUpdated, this,
            &MainWindow::onLinkStatisticsUpdated);
    connect(m_controller, &corvane::CorvaneController::telemetryDashboardChanged, this,
            &MainWindow::rebuildTelemetryDashboard);
    connect(m_controller, &corvane::CorvaneController::telemetrySensorsUpdated, this,
            &MainWindow::updateTelemetryDashboard);
    connect(m_controller->profileManager(), &corvane::ProfileManager::activeProfileChanged, this,
            &MainWindow::rebuildTelemetryDashboard);
    rebuildTelemetryDashboard();
    // A profile file that cannot be written must not pass for saved.
    connect(m_controller->profileManager(), &corvane::ProfileManager::errorOccurred, this,
            [this](const QString &message) { routeReport(message, &MainWindow::onError); });

    // Page 0 at once, without the page switch's animation.
    m_currentPage = StartPage;
    m_pageStack->setCurrentIndex(StartPage);
    m_header->setTitle(tr(pageRow(StartPage).title));
    m_header->setBackText(QString());
    m_sidebar->setCurrentIndex(0, true);
    setPillsForPage(StartPage);
    updateConnectionStatus();

    corvane::registerApiHandlers(m_server, m_controller);

    connect(m_controller, &corvane::CorvaneController::loungeStateChanged, this,
            &MainWindow::updatePitLimiterOverlay);
    // A port that cannot be taken leaves the web pill at "Offline"; the window runs on.
    m_server->start(ApiPort);
    // Once at once, before anything is driven; then from the timer, on a worker.
    setPhoneNetwork(ostra::reachableFromPhone(corvane::WebStatusDialog::pickLanAddress()));
    updateWebStatus();
    connect(m_server, &corvane::WebSocketServer::clientCountChanged, this, &MainWindow::updateWebStatus);
    auto *networkCheck = new QTimer(this);
    networkCheck->setObjectName(QStringLiteral("phoneNetworkTimer"));
    networkCheck->setInterval(PhoneNetworkCheckMs);
    connect(networkCheck, &QTimer::timeout, this, &MainWindow::checkPhoneNetwork);
    networkCheck->start();

    if (qEnvironmentVariableIsSet(StopHeldMark)) {
        qunsetenv(StopHeldMark);
        m_controller->stopTransmissionAndHold();
    }
    // Before anything is driven, so that no dialog opened during a run makes it.
    ostra::prepareDialogChrome(this);
    m_controller->autoConnectDevices();
    startAutoConnect();
}

MainWindow::~MainWindow()
{
    // They read the controller until they are gone; race control's flush below runs their timers.
    deleteCompanionWindows();
    if (m_raceControl)
        m_raceControl->shutdown();
    m_server->disconnect(this);
    m_server->stop();
    m_controller->stopTransmissionAndHold();
    // What the controllers announce while they close their devices must not reach a window in teardown.
    m_controller->disconnect(this);
    if (m_motionController)
        m_motionController->disconnect(this);
    delete m_controller;
    m_controller = nullptr;
}

void MainWindow::buildShell()
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint);
    // Edges resize through the window system; none while maximised.
    new FramelessResizer(this);
    // 1440 x 900, but never larger than the screen's available area, and centred on it.
    const QRect area = availableArea(nullptr);
    if (headlessPlatform() || area.isEmpty()) {
        setMinimumSize(1000, 680);
        resize(1440, 900);
    } else {
        setMinimumSize(QSize(1000, 680).boundedTo(area.size()));
        setGeometry(centredIn(QSize(1440, 900), area, area));
    }

    m_ambient = new AmbientBackground(this);
    setCentralWidget(m_ambient);
    auto *outer = new QVBoxLayout(m_ambient);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    m_titleBar = new TitleBar(this, m_ambient);
    outer->addWidget(m_titleBar);
    connect(m_titleBar, &TitleBar::minimizeRequested, this, &QWidget::showMinimized);
    connect(m_titleBar, &TitleBar::maximizeRequested, this, [this] {
        if (isMaximized())
            showNormal();
        else
            showMaximized();
    });
    connect(m_titleBar, &TitleBar::closeRequested, this, &QWidget::close);

    auto *body = new QHBoxLayout;
    body->setContentsMargins(12, 0, 12, 12);
    body->setSpacing(12);
    outer->addLayout(body, 1);

    m_sidebar = new Sidebar(QStringLiteral("v") + QLatin1String(AppVersion), m_ambient);
    body->addWidget(m_sidebar);

    auto *content = new QVBoxLayout;
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    body->addLayout(content, 1);

    m_header = new PageHeader(m_ambient);
    content->addWidget(m_header);
    connect(m_header, &PageHeader::backClicked, this,
            [this] { showPage(m_currentPage == MotionPage ? MotionPlatformPage : VehiclePage); });

    auto makePill = [this](const char *name) {
        auto *pill = new Pill(m_header, Pill::KeyValue);
        pill->setObjectName(QLatin1String(name));
        return pill;
    };
    // Made in the order they show, which Tab follows.
    m_profilePill = makePill("profilePill");
    m_transmitterPill = makePill("transmitterPill");
    m_webPill = makePill("webPill");
    m_controllerPill = makePill("controllerPill");
    for (Pill *pill : {m_profilePill, m_transmitterPill, m_webPill, m_controllerPill})
        m_header->actionsRow()->addWidget(pill);
    m_profilePill->setDotVisible(false);
    m_profilePill->setClickable(true);
    m_profilePill->setToolTip(tr("Change profile"));
    connect(m_profilePill, &Pill::clicked, this, &MainWindow::rebuildProfileMenu);
    m_webPill->setClickable(true);
    m_webPill->setToolTip(tr("Web / mobile app connection \u2014 click for details"));
    connect(m_webPill, &Pill::clicked, this, &MainWindow::onWebStatusClicked);

    if (corvane::ProfileManager *profiles = m_controller->profileManager()) {
        connect(profiles, &corvane::ProfileManager::activeProfileChanged, this, &MainWindow::updateProfilePill);
        connect(profiles, &corvane::ProfileManager::profileListChanged, this, &MainWindow::updateProfilePill);
        updateProfilePill();
    }

    m_pageStack = new PageStack(m_ambient);
    m_pageStack->setObjectName(QStringLiteral("contentStack"));
    content->addWidget(m_pageStack, 1);
}

QString MainWindow::pageTitle(int index) const
{
    if (index == MotionPage && !m_motionWidget)
        return tr(pageRow(MotionPlatformPage).title);
    const QString title = tr(pageRow(index).title);
    return index == MotionPage ? title.arg(m_motionWidget->platformDof()) : title;
}

void MainWindow::setPillsForPage(int index)
{
    const PageRow &row = pageRow(index);
    m_transmitterPill->setVisible(row.transmitter);
    m_webPill->setVisible(row.web);
    m_profilePill->setVisible(row.profile);
    m_controllerPill->setVisible(row.controller);
}

void MainWindow::applyPageRow(int index, bool animated)
{
    m_currentPage = index;
    if (index >= 0 && index < PageCount) {
        if (animated)
            m_pageStack->setCurrentIndexAnimated(index);
        else
            m_pageStack->setCurrentIndex(index);
    }
    const PageRow &row = pageRow(index);
    m_header->setTitle(*row.title ? pageTitle(index) : QString());
    m_header->setBackText(*row.backText ? tr(row.backText) : QString());
    m_sidebar->setCurrentIndex(row.sidebarItem, true);
    setPillsForPage(index);
}

void MainWindow::showPage(int index)
{
    applyPageRow(index, true);
}

void MainWindow::onNavigate(int sidebarIndex)
{
    static const int pages[] = {StartPage, MotionPlatformPage, VehiclePage, RaceControlPage};
    if (sidebarIndex < 0 || sidebarIndex >= int(std::size(pages)))
        return;
    showPage(pages[sidebarIndex]);
}

void MainWindow::onInfoButtonClicked()
{
    showPage(InfoPage);
}

void MainWindow::openCarPage()
{
    const bool acceptedBefore = corvane::DisclaimerDialog::isAccepted();
    if (!corvane::DisclaimerDialog::ensureAccepted(this))
        return;
    if (!acceptedBefore)
        QTimer::singleShot(0, this, &MainWindow::onOpenOnboarding);
    showPage(CarPage);
}

void MainWindow::onOpenOnboarding()
{
    // The axis dialog and the transmission start open over the running guide.
    corvane::OnboardingWizard wizard(m_controller, this);
    connect(&wizard, &corvane::OnboardingWizard::requestOpenAxisConfig, this, &MainWindow::onConfigureAxes);
    connect(&wizard, &corvane::OnboardingWizard::requestStartTransmission, this, &MainWindow::startFromWizard);
    ostra::execAfterTick(wizard);
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_titleBar)
        m_titleBar->updateMaximizeButton();
}

bool MainWindow::allSavedDevicesConnected() const
{
    const DeviceConnections saved = m_controller->profileManager()->deviceConnections();
    if (!saved.portName.isEmpty() && !m_controller->isSerialConnected())
        return false;
    if (!saved.wheelBase.isEmpty() && !m_controller->isWheelBaseConnected())
        return false;
    if (!saved.pedals.isEmpty() && !m_controller->isPedalsConnected())
        return false;
    return saved.shifter.isEmpty() || m_controller->isShifterConnected();
}

void MainWindow::startAutoConnect()
{
    if (allSavedDevicesConnected())
        return;
    m_autoConnectBudget = AutoConnectTicks;
    m_autoConnectTimer = new QTimer(this);
    m_autoConnectTimer->setObjectName(QStringLiteral("autoConnectTimer"));
    m_autoConnectTimer->setInterval(AutoConnectIntervalMs);
    m_autoConnectTimer->setTimerType(Qt::PreciseTimer);
    connect(m_autoConnectTimer, &QTimer::timeout, this, &MainWindow::onAutoConnectRetry);
    watchSetupGuideConnections(m_autoConnectTimer);
    m_autoConnectTimer->start();
}

void MainWindow::onAutoConnectRetry()
{
    if (!m_autoConnectTimer)
        return;
    m_autoConnecting = true;
    m_controller->autoConnectDevices();
    m_autoConnecting = false;
    if (!allSavedDevicesConnected() && --m_autoConnectBudget > 0)
        return;
    stopAutoConnect();
}

void MainWindow::stopAutoConnect()
{
    if (!m_autoConnectTimer)
        return;
    m_autoConnectTimer->stop();
    m_autoConnectTimer->deleteLater();
    m_autoConnectTimer = nullptr;
}

void MainWindow::connectDeviceRow(DeviceRow *row, void (MainWindow::*slot)())
{
    // One slot for both: it connects or disconnects by the device's state.
    connect(row, &DeviceRow::connectRequested, this, slot);
    connect(row, &DeviceRow::disconnectRequested, this, slot);
}
