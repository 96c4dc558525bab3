#include "app/mainwindow.h"

#include <QLabel>
#include <QMenu>

#include <algorithm>

#include "api/dialogs/webstatusdialog.h"
#include "api/websocketserver.h"
#include "app/profilemanagerdialog.h"
#include "bridge/corvanecontroller.h"
#include "motion/motionsystemcontroller.h"
#include "ostraui/plaintextguard.h"
#include "ostraui/pill.h"
#include "ostraui/qrcode.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "platform/network/networkinterfacelister.h"
#include "profiles/profilemanager.h"

using namespace ostra;

namespace {

constexpr int PulsePeriodMs = 1200;
constexpr int ProfileNameWidth = 200;

// A long profile name ends in an ellipsis, so that it cannot push the other pills out of the
// header or stretch the profile menu across the screen.
QString elidedProfileName(const QString &name)
{
    return QFontMetrics(uiFont(13, 500)).elidedText(name, Qt::ElideRight, ProfileNameWidth);
}

void setPulse(Pill *pill, bool on)
{
    pill->setPulsing(on);
    pill->setPulseDuration(PulsePeriodMs);
}

QLabel *makeOverlayLabel(QWidget *window, const char *name, const QString &background)
{
    auto *label = new QLabel(window);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignCenter);
    label->setFont(uiFont(16, 600));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setStyleSheet(QStringLiteral("QLabel { background: %1; color: white; border: none; "
                                        "border-radius: 14px; padding: 0 24px; }")
                             .arg(background));
    label->hide();
    return label;
}

} // namespace

void placeOverlayLabel(QWidget *window, QLabel *label)
{
    const int advance = label->fontMetrics().horizontalAdvance(label->text());
    const int width = std::min(window->width() - 48, advance + 64);
    label->setGeometry((window->width() - width) / 2, 72, width, 48);
    // Placed after every input tick while shown: raise only when something covers it.
    if (window->children().constLast() != label)
        label->raise();
}

QLabel *MainWindow::createPitLimiterOverlay()
{
    QLabel *label = makeOverlayLabel(this, "pitLimiterOverlay", QStringLiteral("rgba(18, 166, 106, 0.94)"));
    label->setText(tr("Pit limiter on"));
    return label;
}

void MainWindow::updateConnectionStatus()
{
    const bool transmitting = m_controller->isRunning();
    const corvane::CorvaneController::TransmitterStatus tx = m_controller->transmitterStatus();
    // Success is for a running transmission here: a transmitter that answered is info.
    const bool answered = tx.answer == corvane::CorvaneController::TransmitterAnswered;
    m_transmitterPill->setKeyValue(tr("Transmitter"), transmitting ? tr("Transmitting") : tx.word);
    m_transmitterPill->setLevel(transmitting ? LevelSuccess : answered ? LevelInfo : LevelWarning);
    m_transmitterPill->setToolTip(tx.hint);
    setPulse(m_transmitterPill, transmitting);
    m_carCardPill->setText(transmitting ? tr("Transmitting") : tx.card);
    m_carCardPill->setLevel(transmitting ? LevelSuccess : answered ? LevelInfo : tx.level);
    setPulse(m_carCardPill, transmitting);
    m_sidebar->setItemIndicator(2, transmitting);

    const bool online = m_motionController && m_motionController->isConnected();
    m_controllerPill->setKeyValue(tr("Controller"), online ? tr("Online") : tr("Offline"));
    m_controllerPill->setLevel(online ? LevelSuccess : LevelNeutral);
    setPulse(m_controllerPill, online);
    m_motionCardPill->setText(online ? tr("Controller online") : tr("Controller offline"));
    m_motionCardPill->setLevel(online ? LevelSuccess : LevelNeutral);
    m_sidebar->setItemIndicator(1, online);
}

void MainWindow::onWebStatusClicked()
{
    corvane::WebStatusDialog dialog(m_server, this);
    ostra::execAfterTick(dialog);
}

void MainWindow::updateWebStatus()
{
    if (!m_webPill)
        return;
    const int clients = m_server->clientCount();
    if (!m_server->isListening()) {
        m_webPill->setKeyValue(tr("Web"), tr("Offline"));
        m_webPill->setLevel(LevelNeutral);
    } else if (clients > 0) {
        m_webPill->setKeyValue(tr("Web"), clients == 1 ? tr("1 client") : tr("%1 clients").arg(clients));
        m_webPill->setLevel(LevelSuccess);
    } else if (!m_phoneNetwork) {
        // Listening, but for this PC alone: the dialog behind the pill has no address to offer.
        m_webPill->setKeyValue(tr("Web"), tr("No network"));
        m_webPill->setLevel(LevelWarning);
    } else {
        m_webPill->setKeyValue(tr("Web"), tr("Ready"));
        m_webPill->setLevel(LevelInfo);
    }
}

// Whether a phone could reach this PC, by the mobile dialog's own rule; a worker reads the
// interfaces, while the 7 ms tick runs on here.
void MainWindow::checkPhoneNetwork()
{
    corvane::NetworkInterfaceLister::bestLanAddressLater(
        this, [this](const QString &address) { setPhoneNetwork(ostra::reachableFromPhone(address)); });
}

void MainWindow::setPhoneNetwork(bool reachable)
{
    if (reachable == m_phoneNetwork)
        return;
    m_phoneNetwork = reachable;
    updateWebStatus();
}

void MainWindow::updateProfilePill()
{
    if (!m_profilePill || !m_controller)
        return;
    const QString name = m_controller->profileManager()->activeProfileName();
    const QString shown = elidedProfileName(name);
    m_profilePill->setKeyValue(tr("Profile"), name.isEmpty() ? tr("None") : shown);
    m_profilePill->setToolTip(shown == name ? tr("Change profile") : name);
    m_profilePill->setLevel(LevelNeutral);
}

void MainWindow::updatePitLimiterOverlay()
{
    if (!m_controller)
        return;
    showRaceControlStopOverlay();
    if (!m_pitLimiterOverlay)
        return;
    const bool show = m_controller->isPitLimiterActive() && !m_controller->loungeSettings().stopped;
    m_pitLimiterOverlay->setVisible(show);
    if (show)
        placeOverlayLabel(this, m_pitLimiterOverlay);
}

void MainWindow::showRaceControlStopOverlay()
{
    const corvane::LoungeSettings lounge = m_controller->loungeSettings();
    const bool stopped = m_controller->isLoungeStopApplied();
    if (!m_raceControlStopOverlay) {
        if (!stopped)
            return;
        m_raceControlStopOverlay =
            makeOverlayLabel(this, "raceControlStopOverlay", QStringLiteral("rgba(220, 38, 38, 0.94)"));
    }
    m_raceControlStopOverlay->setText(lounge.stopReason == QLatin1String("connection_lost")
                                          ? tr("Stopped: race control connection lost")
                                          : tr("Stopped by race control"));
    m_raceControlStopOverlay->setVisible(stopped);
    if (stopped)
        placeOverlayLabel(this, m_raceControlStopOverlay);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    updatePitLimiterOverlay();
}

void MainWindow::rebuildProfileMenu()
{
    corvane::ProfileManager *store = m_controller->profileManager();
    const QString type = store->activeVehicleType();
    QList<Profile> profiles = store->profiles();
    profiles.erase(std::remove_if(profiles.begin(), profiles.end(),
                                  [&](const Profile &p) { return p.vehicleType != type; }),
                   profiles.end());
    std::sort(profiles.begin(), profiles.end(), [](const Profile &a, const Profile &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });

    QMenu menu(this);
    const QString activeId = store->activeProfileId();
    for (const Profile &profile : profiles) {
        QAction *action = menu.addAction(ostra::plainActionText(elidedProfileName(profile.name)));
        action->setCheckable(true);
        action->setChecked(profile.id == activeId);
        const QString id = profile.id;
        connect(action, &QAction::triggered, store, [store, id] { store->setActiveProfile(id); });
    }
    menu.addSeparator();
    connect(menu.addAction(tr("Manage profiles\u2026")), &QAction::triggered, this,
            &MainWindow::openProfileManagerDialog);
    menu.exec(m_profilePill->mapToGlobal(QPoint(0, m_profilePill->height() + 4)));
}

void MainWindow::openProfileManagerDialog()
{
    corvane::ProfileManagerDialog dialog(m_controller->profileManager(), this);
    ostra::execAfterTick(dialog);
}
