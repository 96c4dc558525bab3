#include "app/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTime>
#include <QTimer>

#include <algorithm>

#include "api/websocketserver.h"
#include "app/onboardingwizard.h"
#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"
#include "bridge/steeringmonitor.h"
#include "dialogs/pedalverificationdialog.h"
#include "ostraui/busybutton.h"
#include "ostraui/card.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/txbutton.h"

using namespace ostra;

namespace {

constexpr int BaudRate = 115200;
constexpr int RefreshBusyMs = 600;
constexpr int ConsoleMaxBlocks = 500;
constexpr int ConsoleTrimLines = 100;
const QString ErrorBoxName = QStringLiteral("corvaneErrorBox");

QString consoleTime()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

const char *logTypeLabel(int type)
{
    switch (type) {
    case QtDebugMsg:
        return "DBG";
    case QtWarningMsg:
        return "WARN";
    case QtCriticalMsg:
        return "CRIT";
    case QtFatalMsg:
        return "FATAL";
    default:
        return "LOG";
    }
}

} // namespace

void MainWindow::toggleDevice(const char *comboName, const char *buttonName, bool connected,
                              const QString &noSelection, const std::function<void()> &disconnect,
                              const std::function<void(const QVariant &)> &connectDevice)
{
    auto *combo = carPageControl<QComboBox>(comboName);
    auto *button = carPageControl<QPushButton>(buttonName);
    if (!combo || !button)
        return;
    if (connected) {
        // The user has taken over: the start-up retry must not bring back what they just let go.
        stopAutoConnect();
        disconnect();
    } else {
        const QVariant data = combo->currentData();
        const bool usable = data.typeId() == QMetaType::QString ? !data.toString().isEmpty()
                                                                : data.isValid() && data.toInt() >= 0;
        if (!usable) {
            QMessageBox::warning(this, tr("Error"), noSelection);
            return;
        }
        stopAutoConnect();
        connectDevice(data);
    }
    updateCarPageStatus();
}

void MainWindow::watchSetupGuideConnections(QTimer *retry)
{
    // The setup guide connects through the controller itself: what the user connects or drops
    // there ends the retry as the car page's buttons do; the retry's own connections do not.
    auto userChange = [this] {
        if (m_autoConnecting)
            return;
        const auto guides = findChildren<corvane::OnboardingWizard *>();
        if (std::any_of(guides.cbegin(), guides.cend(), [](const QWidget *guide) { return guide->isVisible(); }))
            stopAutoConnect();
    };
    for (auto signal : {&corvane::CorvaneController::serialConnectedChanged,
                        &corvane::CorvaneController::wheelBaseConnectedChanged,
                        &corvane::CorvaneController::pedalsConnectedChanged,
                        &corvane::CorvaneController::shifterConnectedChanged})
        connect(m_controller, signal, retry, userChange);
}

void MainWindow::onConnectTransmitter()
{
    corvane::CorvaneController *c = m_controller;
    toggleDevice("transmitterCombo", "connectTransmitterBtn", c->isSerialConnected(),
                 tr("Please select a QOR Transmitter"), [c] { c->disconnectTransmitter(); },
                 [c](const QVariant &port) { c->connectTransmitter(port.toString(), BaudRate); });
}

void MainWindow::onConnectReceiver()
{
    corvane::CorvaneController *c = m_controller;
    toggleDevice("receiverCombo", "connectReceiverBtn", c->isReceiverConnected(), tr("Please select a QOR Receiver"),
                 [c] { c->disconnectReceiver(); },
                 [c](const QVariant &port) {
                     // A receiver plugged in again may run other firmware: probe it afresh.
                     if (c->connectReceiver(port.toString(), BaudRate))
                         c->receiverConfigManager()->resync();
                 });
}

void MainWindow::onConnectWheelBase()
{
    corvane::CorvaneController *c = m_controller;
    toggleDevice("wheelBaseCombo", "connectWheelBaseBtn", c->isWheelBaseConnected(), tr("Please select a wheel base"),
                 [c] { c->disconnectWheelBase(); }, [c](const QVariant &index) { c->connectWheelBase(index.toInt()); });
}

void MainWindow::onConnectPedals()
{
    corvane::CorvaneController *c = m_controller;
    toggleDevice("pedalsCombo", "connectPedalsBtn", c->isPedalsConnected(), tr("Please select pedals"),
                 [c] { c->disconnectPedals(); }, [c](const QVariant &index) { c->connectPedals(index.toInt()); });
}

void MainWindow::onConnectShifter()
{
    corvane::CorvaneController *c = m_controller;
    toggleDevice("shifterCombo", "connectShifterBtn", c->isShifterConnected(), tr("Please select a shifter"),
                 [c] { c->disconnectShifter(); }, [c](const QVariant &index) { c->connectShifter(index.toInt()); });
}

void MainWindow::onRefreshSerialPorts()
{
    refreshPortCombos();
    if (!m_refreshButton || m_refreshButton->isBusy())
        return;
    m_refreshButton->setBusyFor(tr("Scanning\u2026"), RefreshBusyMs);
    QTimer::singleShot(RefreshBusyMs, this, [this] { showToast(this, tr("Device list updated")); });
}

void MainWindow::onStartStop()
{
    if (m_controller->isRunning()) {
        m_controller->stopTransmissionAndHold();
        updateCarPageStatus();
        showToast(this, tr("Transmission stopped"));
        return;
    }
    corvane::PedalVerificationDialog check(m_controller, this);
    if (check.exec() != QDialog::Accepted) {
        updateCarPageStatus();
        return;
    }
    m_controller->startTransmission();
    updateCarPageStatus();
    // A refused start is reported by the controller itself.
    if (m_controller->isRunning())
        showToast(this, tr("Transmission started"));
}

void MainWindow::startFromWizard()
{
    if (m_txButton && m_txButton->isEnabled() && m_txButton->state() == TxGo)
        m_txButton->click();
}

void MainWindow::routeReport(const QString &message, void (MainWindow::*show)(const QString &))
{
    // Whose report it is shows only now, while the call that made it runs: a request from the
    // network is answered to its client, and the desktop gets a toast, so that no client on the
    // LAN can stack boxes here. Shown after that call has returned.
    const bool fromNetwork = m_server->isHandlingRequest();
    QMetaObject::invokeMethod(
        this,
        [this, message, show, fromNetwork] {
            if (fromNetwork)
                onNetworkError(message);
            else
                (this->*show)(message);
        },
        Qt::QueuedConnection);
}

void MainWindow::onNetworkError(const QString &message)
{
    updateCarPageStatus();
    showToast(this, message);
}

void MainWindow::onError(const QString &message)
{
    openControllerBox(message, true);
}

void MainWindow::onTransmissionStopped(const QString &reason)
{
    openControllerBox(reason, false);
}

void MainWindow::openControllerBox(const QString &message, bool error)
{
    if (m_suppressErrorDialogs)
        return;
    updateCarPageStatus();
    // One box at a time, so that the keys always reach it: the next report waits for it to close.
    // A device that keeps failing repeats its error: a text open or waiting is not told again.
    const QPair<QString, bool> report{message, error};
    if ((m_controllerBox && m_controllerBox->text() == message) || m_waitingReports.contains(report))
        return;
    if (m_controllerBox) {
        m_waitingReports.append(report);
        return;
    }
    // Over the dialog the user is in, if any: a box that belongs to the window under that dialog
    // does not get the keys without a window manager, and gives them back to a window the dialog
    // blocks.
    QWidget *over = QApplication::activeModalWidget();
    auto *box = new QMessageBox(error ? QMessageBox::Warning : QMessageBox::Information,
                                error ? tr("Corvane Error") : tr("Transmission stopped"), message, QMessageBox::Ok,
                                over ? over : this, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box->setObjectName(ErrorBoxName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    m_controllerBox = box;
    const auto openNext = [this] {
        m_controllerBox = nullptr;
        if (!m_waitingReports.isEmpty()) {
            const QPair<QString, bool> next = m_waitingReports.takeFirst();
            openControllerBox(next.first, next.second);
        }
    };
    // Torn down unread with the dialog it sat over, it comes again over what is left. Queued: the
    // window may itself be going.
    const QMetaObject::Connection tornDown = connect(
        box, &QObject::destroyed, this,
        [this, report, openNext] {
            m_waitingReports.prepend(report);
            if (!m_controllerBox)
                openNext();
        },
        Qt::QueuedConnection);
    connect(box, &QDialog::finished, this, [tornDown, openNext] {
        disconnect(tornDown);
        openNext();
    });
    box->open();
}

void MainWindow::withdrawReport(const QString &message)
{
    if (message.isEmpty())
        return;
    m_waitingReports.removeAll(qMakePair(message, true));
    if (m_controllerBox && m_controllerBox->text() == message)
        m_controllerBox->close();
}

void MainWindow::onSteeringHealthAction()
{
    if (m_controller->steeringMonitor()->health() != corvane::SteeringNoInput) {
        onConfigureEsc();
        return;
    }
    if (m_controller->reconnectWheelBase())
        showToast(this, tr("Wheel base reconnected \u2014 start again when ready"));
    else
        showToast(this, tr("Couldn't find the wheel base. Check its USB cable and power."));
}

void MainWindow::appendConsoleLine(const QString &line)
{
    if (!m_console)
        return;
    // As plain text: a device's line or a log message may look like markup.
    QTextCursor end(m_console->document());
    end.movePosition(QTextCursor::End);
    if (!m_console->document()->isEmpty())
        end.insertBlock();
    end.insertText(line);
    QScrollBar *bar = m_console->verticalScrollBar();
    bar->setValue(bar->maximum());
    if (m_console->document()->blockCount() > ConsoleMaxBlocks) {
        QTextCursor cursor(m_console->document());
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor, ConsoleTrimLines);
        cursor.removeSelectedText();
    }
}

void MainWindow::onLogMessage(int type, const QString &message)
{
    appendConsoleLine(QStringLiteral("[%1] %2: %3").arg(consoleTime(), QLatin1String(logTypeLabel(type)), message));
}

void MainWindow::onReceiverDataReceived(const QString &line)
{
    appendConsoleLine(QStringLiteral("[%1] RX: %2").arg(consoleTime(), line));
}

void MainWindow::onTelemetryReceived(const QByteArray &data)
{
    appendConsoleLine(QStringLiteral("[%1] RX: %2").arg(consoleTime(), QString::fromLatin1(data.toHex(' ').toUpper())));
}

void MainWindow::onClearConsole()
{
    if (m_console)
        m_console->clear();
}

void MainWindow::onToggleDebugPanel()
{
    m_consoleVisible = !m_consoleVisible;
    if (m_consoleCard)
        m_consoleCard->setVisible(m_consoleVisible);
    if (auto *button = carPageControl<QAbstractButton>("toggleDebugBtn"))
        button->setText(m_consoleVisible ? tr("Hide debug console") : tr("Debug console"));
}

void MainWindow::toggleConsoleFromRow()
{
    onToggleDebugPanel();
    if (!m_consoleVisible || !m_consoleCard)
        return;
    // The console opens below the channel grid, out of view: the page scrolls to it once it is laid out.
    QTimer::singleShot(0, m_consoleCard, [card = m_consoleCard] {
        for (QWidget *w = card->parentWidget(); w; w = w->parentWidget()) {
            if (auto *scroll = qobject_cast<QScrollArea *>(w)) {
                scroll->ensureWidgetVisible(card, 0, 0);
                return;
            }
        }
    });
}

void MainWindow::onInputMonitorInfoClicked()
{
    QMessageBox box(QMessageBox::Information, tr("About Input Monitor"),
                    tr("<b>Input Monitor</b><br><br>View real-time input values from your connected devices:<br><br>"
                       "<b>Steering:</b> Shows the wheel's angle in degrees, negative to the left and positive "
                       "to the right.<br><br>"
                       "<b>Throttle:</b> Shows throttle pedal position from 0% to 100%.<br><br>"
                       "<b>Brake:</b> Shows brake pedal position from 0% to 100%.<br><br>"
                       "<b>Clutch:</b> Shows clutch pedal position from 0% to 100%.<br><br>"
                       "<b>Force FB:</b> Shows the force sent to the wheel, from -100% to +100%.<br><br>"
                       "<b>Gear:</b> Shows current gear (N=Neutral, R=Reverse, 1-7=Gear)."),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void MainWindow::toggleTheme()
{
    const bool dark = isDarkTheme();
    QString text = tr("The OSTRA restarts to change its colours.");
    if (m_controller->isRunning())
        text += QStringLiteral("\n\n") + tr("Transmission is running and will stop.");
    QMessageBox box(QMessageBox::NoIcon, dark ? tr("Switch to light mode") : tr("Switch to dark mode"), text,
                    QMessageBox::NoButton, this);
    QPushButton *restart = box.addButton(tr("Restart now"), QMessageBox::AcceptRole);
    QPushButton *later = box.addButton(tr("Next time"), QMessageBox::ActionRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(restart);
    box.exec();
    QAbstractButton *chosen = box.clickedButton();
    if (chosen != restart && chosen != later)
        return;
    if (chosen == later) {
        saveTheme(!dark);
        const QString when = dark ? tr("Light mode from the next start") : tr("Dark mode from the next start");
        // The override names the theme of every start that inherits it.
        showToast(this, qEnvironmentVariableIsEmpty("QOROSTRA_THEME") ? when : tr("%1 without QOROSTRA_THEME").arg(when));
        return;
    }
    // The restart closes the window: what it holds unsaved is settled now, and Cancel keeps this
    // run as it is, with no restart left waiting for the next close.
    if (settleUnsavedEdits(tr("Save your changes before restarting?"), [this, dark] { restartInTheme(!dark); }))
        restartInTheme(!dark);
}

void MainWindow::restartInTheme(bool dark)
{
    saveTheme(dark);
    // A stop of the user's, held by the copy the restart starts: auto-start there waits for the
    // user's Start, as it would here.
    m_controller->stopTransmissionAndHold();
    qputenv(StopHeldMark, "1");
    // The copy the restart starts takes this environment: an override of the theme passed on
    // would bring it back in the colours it restarts to change.
    qunsetenv("QOROSTRA_THEME");
    // The new instance starts from main once this one has let go of the API port, the serial
    // ports and the controllers.
    m_restartRequested = true;
    QCoreApplication::quit();
}
