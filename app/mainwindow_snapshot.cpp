// Snapshot mode: every page, the collapsed sidebar and the setup dialogs rendered to PNG files on a
// fixed timeline, so screenshots come without a user; the program quits when done.
#include "app/mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <QTimer>

#include <memory>

#include "api/dialogs/webstatusdialog.h"
#include "app/disclaimerdialog.h"
#include "app/onboardingwizard.h"
#include "app/profilemanagerdialog.h"
#include "bridge/corvanecontroller.h"
#include "dialogs/axisconfigdialog.h"
#include "dialogs/buttonconfigdialog.h"
#include "dialogs/dashboardsettingsdialog.h"
#include "dialogs/escconfigdialog.h"
#include "dialogs/pedalverificationdialog.h"
#include "dialogs/transmissionview.h"
#include "dialogs/wheelffbdialog.h"
#include "firmware/dialogs/firmwareupdatedialog.h"
#include "firmware/dialogs/receiverv4updatedialog.h"
#include "heli/helicopterconfigdialog.h"
#include "heli/helicoptercurvesdialog.h"
#include "heli/helicopterelrsdialog.h"
#include "heli/helicopterflysettingsdialog.h"
#include "motion/pages/motionoutputdialog.h"
#include "motion/pages/motionwebdialog.h"
#include "ostraui/pagestack.h"
#include "ostraui/sidebar.h"
#include "receiver/ledconfigdialog.h"
#include "receiver/radiocalibrationdialog.h"

using namespace corvane;

namespace {

constexpr int FirstStepMs = 800;
constexpr int StepMs = 1300;
constexpr int SaveDelayMs = 900;
constexpr int QuitDelayMs = 400;
constexpr int SidebarIndex = 8;
constexpr int FirstDialogIndex = 9;
// A larger side makes grab() allocate gigabytes.
constexpr int MaxSide = 16384;

struct SnapshotPage
{
    int stackIndex;
    const char *name;
};

const SnapshotPage Pages[] = {
    {MainWindow::StartPage, "dashboard"},         {MainWindow::VehiclePage, "vehicles"},
    {MainWindow::CarPage, "rc-car"},              {MainWindow::HelicopterPage, "rc-heli"},
    {MainWindow::MotionPlatformPage, "motion-chooser"}, {MainWindow::MotionPage, "motion-panel"},
    {MainWindow::RaceControlPage, "race-control"}, {MainWindow::InfoPage, "info"},
};
constexpr int PageSteps = int(std::size(Pages));

struct SnapshotDialog
{
    const char *key;
    QDialog *(*build)(MainWindow *window);
};

const SnapshotDialog Dialogs[] = {
    {"axis",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new AxisConfigDialog(w->controller(), w);
         dialog->setAxisSettings(w->controller()->axisSettings());
         return dialog;
     }},
    {"drive",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new EscConfigDialog(w->controller(), w);
         dialog->setAxisSettings(w->controller()->axisSettings());
         return dialog;
     }},
    {"buttons",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new ButtonConfigDialog(w->controller(), w);
         dialog->setMappings(w->controller()->buttonMappings());
         return dialog;
     }},
    {"led",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new LedConfigDialog(w->controller(), w);
         dialog->setSettings(w->controller()->ledSettings());
         return dialog;
     }},
    {"transmission", [](MainWindow *w) -> QDialog * { return new TransmissionView(w->controller(), w); }},
    {"ffb", [](MainWindow *w) -> QDialog * { return new WheelFfbDialog(w->controller(), w); }},
    {"motion-output", [](MainWindow *w) -> QDialog * { return new MotionOutputDialog(w->controller(), w); }},
    {"radio-cal", [](MainWindow *w) -> QDialog * { return new RadioCalibrationDialog(w->controller(), w); }},
    {"pedal-verify", [](MainWindow *w) -> QDialog * { return new PedalVerificationDialog(w->controller(), w); }},
    {"onboarding", [](MainWindow *w) -> QDialog * { return new OnboardingWizard(w->controller(), w); }},
    {"fw-receiver",
     [](MainWindow *w) -> QDialog * { return new FirmwareUpdateDialog(w->controller(), FirmwareReceiver, w); }},
    {"fw-receiver-v4", [](MainWindow *w) -> QDialog * { return new ReceiverV4UpdateDialog(w->controller(), w); }},
    {"fw-soc-v2",
     [](MainWindow *w) -> QDialog * {
         return new FirmwareUpdateDialog(w->controller(), FirmwareTransmitterSoftwareV2, w);
     }},
    {"web-status", [](MainWindow *w) -> QDialog * { return new WebStatusDialog(w->server(), w); }},
    {"profiles",
     [](MainWindow *w) -> QDialog * { return new ProfileManagerDialog(w->controller()->profileManager(), w); }},
    {"disclaimer", [](MainWindow *w) -> QDialog * { return new DisclaimerDialog(w); }},
    {"heli-config",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new HelicopterConfigDialog(w->controller(), w);
         dialog->setConfig(w->controller()->helicopterConfig());
         return dialog;
     }},
    {"heli-fly",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new HelicopterFlySettingsDialog(w);
         dialog->setConfig(w->controller()->helicopterConfig());
         return dialog;
     }},
    {"heli-curves",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new HelicopterCurvesDialog(w);
         dialog->setConfig(w->controller()->helicopterConfig());
         return dialog;
     }},
    {"heli-arming",
     [](MainWindow *w) -> QDialog * {
         auto *dialog = new HelicopterElrsDialog(w);
         dialog->setConfig(w->controller()->helicopterConfig());
         return dialog;
     }},
    // The defaults: a dashboard that was never set up.
    {"dash-settings", [](MainWindow *w) -> QDialog * { return new DashboardSettingsDialog(DashboardSettings(), w); }},
    // An example address of the phone web panel on a home network.
    {"motion-web",
     [](MainWindow *w) -> QDialog * { return new MotionWebDialog(QStringLiteral("http://192.168.1.50:8090"), w); }},
    {"msgbox",
     [](MainWindow *w) -> QDialog * {
         return new QMessageBox(QMessageBox::Information, MainWindow::tr("About Input Monitor"),
                                MainWindow::tr("View real-time input values from your connected devices: the "
                                               "wheel's angle in degrees, the throttle, brake and clutch pedals "
                                               "from 0% to 100%, the wheel's force and the current gear."),
                                QMessageBox::Ok, w);
     }},
};
constexpr int DialogSteps = int(std::size(Dialogs));

// QOROSTRA_SNAPSHOT_SIZE as width x height; invalid (and ignored) unless both are whole numbers
// from 1 to MaxSide around exactly one "x".
QSize snapshotWindowSize()
{
    const QStringList parts = qEnvironmentVariable("QOROSTRA_SNAPSHOT_SIZE").split(QLatin1Char('x'));
    if (parts.size() != 2)
        return {};
    bool widthOk = false;
    bool heightOk = false;
    const int width = parts[0].toInt(&widthOk);
    const int height = parts[1].toInt(&heightOk);
    if (!widthOk || !heightOk || width <= 0 || height <= 0 || width > MaxSide || height > MaxSide)
        return {};
    return {width, height};
}

// "%1/%2-<rest>" with the index as at least two digits; the folder is taken as it stands.
QString snapshotPath(const QString &dir, int index, const QString &rest)
{
    return QStringLiteral("%1/%2-%3.png").arg(dir, QStringLiteral("%1").arg(index, 2, 10, QLatin1Char('0')), rest);
}

// Brings a widget to what the user would see before it is grabbed: a page switch's transition
// ended and every layout run. A page shown for the first time has its layouts only requested
// (posted events), and a grab before they ran saved it blank under its title.
void settleBeforeGrab(QWidget *widget, ostra::PageStack *stack)
{
    if (stack)
        stack->finishTransition();
    widget->ensurePolished();
    // Laying out one level posts the requests of the next: a few rounds reach the deepest.
    for (int round = 0; round < 4; ++round)
        QCoreApplication::sendPostedEvents();
}

} // namespace

void MainWindow::captureSnapshots(const QString &dir)
{
    // A folder that cannot be made fails each save silently; the run goes on and quits on time.
    QDir().mkpath(dir);
    const QSize size = snapshotWindowSize();
    if (size.isValid()) {
        showNormal();
        resize(size);
    }

    for (int i = 0; i < PageSteps; ++i) {
        const int at = FirstStepMs + StepMs * i;
        const int stackIndex = Pages[i].stackIndex;
        const QString name = QLatin1String(Pages[i].name);
        QTimer::singleShot(at, this, [this, stackIndex] { showPage(stackIndex); });
        QTimer::singleShot(at + SaveDelayMs, this, [this, dir, i, name] { savePageSnapshot(dir, i, name); });
    }

    const int sidebarAt = FirstStepMs + StepMs * PageSteps;
    QTimer::singleShot(sidebarAt, this, [this] {
        // The car page as its entry shows it once the disclaimer is accepted, without asking.
        showPage(CarPage);
        m_sidebar->setCollapsed(true, false);
    });
    QTimer::singleShot(sidebarAt + SaveDelayMs, this, [this, dir] { saveCollapsedSidebarSnapshot(dir, SidebarIndex); });

    // The dialogs take the slots after the sidebar's; the program quits 400 ms into the slot after the last.
    const int dialogsAt = sidebarAt + StepMs;
    int quitAt = dialogsAt + QuitDelayMs;
    if (qEnvironmentVariableIsSet("QOROSTRA_SNAPSHOT_DIALOGS")) {
        for (int k = 0; k < DialogSteps; ++k) {
            const int at = dialogsAt + StepMs * k;
            // Shared by the two steps of one dialog; empty if something closed it early.
            auto shown = std::make_shared<QPointer<QDialog>>();
            QTimer::singleShot(at, this, [this, k, shown] {
                QDialog *dialog = Dialogs[k].build(this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->show();
                *shown = dialog;
            });
            QTimer::singleShot(at + SaveDelayMs, this, [this, dir, k, shown] {
                if (*shown)
                    saveDialogSnapshot(*shown, dir, FirstDialogIndex + k, QLatin1String(Dialogs[k].key));
            });
        }
        quitAt = dialogsAt + StepMs * DialogSteps + QuitDelayMs;
    }
    QTimer::singleShot(quitAt, qApp, &QCoreApplication::quit);
}

void MainWindow::savePageSnapshot(const QString &dir, int index, const QString &name)
{
    settleBeforeGrab(this, m_pageStack);
    grab().save(snapshotPath(dir, index, name));
}

void MainWindow::saveCollapsedSidebarSnapshot(const QString &dir, int index)
{
    settleBeforeGrab(this, m_pageStack);
    grab().save(snapshotPath(dir, index, QStringLiteral("sidebar-collapsed")));
    m_sidebar->setCollapsed(false, false);
}

void MainWindow::saveDialogSnapshot(QWidget *dialog, const QString &dir, int index, const QString &key)
{
    // As a user sees it a moment after it opened, its later steps built.
    if (auto *guide = qobject_cast<corvane::OnboardingWizard *>(dialog))
        guide->finishPages();
    settleBeforeGrab(dialog, nullptr);
    dialog->grab().save(snapshotPath(dir, index, QStringLiteral("dlg-") + key));
    dialog->close();
}

QStringList MainWindow::snapshotDialogKeys()
{
    QStringList keys;
    for (const SnapshotDialog &dialog : Dialogs)
        keys << QLatin1String(dialog.key);
    return keys;
}

QDialog *MainWindow::buildSnapshotDialog(const QString &key)
{
    for (const SnapshotDialog &dialog : Dialogs) {
        if (key == QLatin1String(dialog.key))
            return dialog.build(this);
    }
    return nullptr;
}
