#include <QApplication>
#include <QCheckBox>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <csignal>
#include <memory>
#include <optional>

#include "api/dialogs/webstatusdialog.h"
#include "app/mainwindow.h"
#include "app/endsignals.h"
#include "app/startup.h"
#include "bridge/corvanecontroller.h"
#include "dialogs/dashboardwidget.h"
#include "motion/motionsystemcontroller.h"
#include "motion/pages/ffbmotionpreviewdialog.h"
#include "motion/pages/motionwebdialog.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"
#include "ostraui/unsavededits.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/heldrenames.h"
#include "support/racestationrig.h"
#include "support/simulatedtransmitter.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"

namespace {

enum class Opened { Preview, Dashboard, WebPanelDialog, MobileConnect };

// The first top-level window of type T, if one is open.
template <typename T>
T *openWindow()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(top); window && window->isVisible())
            return window;
    }
    return nullptr;
}

QWidget *findOpened(Opened which)
{
    switch (which) {
    case Opened::Preview: return openWindow<corvane::FfbMotionPreviewDialog>();
    case Opened::Dashboard: return openWindow<corvane::DashboardWidget>();
    case Opened::WebPanelDialog: return openWindow<corvane::MotionWebDialog>();
    case Opened::MobileConnect: return openWindow<corvane::WebStatusDialog>();
    }
    return nullptr;
}

// Opens the window the way the user does. The two QR dialogs are modal: this returns once they close.
void open(MainWindow &window, Opened which)
{
    switch (which) {
    case Opened::Preview:
        window.openFfbMotionPreview();
        break;
    case Opened::Dashboard:
        window.onOpenDashboard();
        break;
    case Opened::WebPanelDialog:
        window.showPage(MainWindow::MotionPage);
        window.findChild<QPushButton *>(QStringLiteral("webPanelButton"))->click();
        break;
    case Opened::MobileConnect:
        window.onWebStatusClicked();
        break;
    }
}

// What holds edits not yet saved when the window closes.
enum class Holder { Nothing, PlatformSettings, AxisDialog, LedDialog };

// What a restart finds stored for the holder's edits.
QJsonValue storedEdits(Holder holder)
{
    if (holder == Holder::PlatformSettings)
        return corvane::MotionSystemController().settings().strokeMm;
    corvane::CorvaneController restarted;
    return holder == Holder::AxisDialog ? restarted.axisSettings().toJson() : restarted.ledSettings().toJson();
}

// An unsaved stroke, whichever way the rows before left the stored one.
void editStroke(MainWindow &window)
{
    QSlider *stroke = window.findChild<ostra::SliderRow *>("strokeRow")->slider();
    QTest::keyClick(stroke, stroke->value() < stroke->maximum() ? Qt::Key_PageUp : Qt::Key_PageDown);
}

// A wheel (device 0) and a pedal set (device 1) with every pedal up, as a run starts on.
void addWheelAndReleasedPedals()
{
    corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
    input->reset();
    input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Wheel"), 6, 12, 1, true));
    corvane::VirtualInputDevice *pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Pedals"), 8, 8, 0));
    for (int axis = 0; axis < 8; ++axis)
        pedals->setAxis(axis, -1.0f);
}

} // namespace

Q_DECLARE_METATYPE(Opened)
Q_DECLARE_METATYPE(Holder)

// The main window's end: the windows opened from it go first, then the services stop, and
// nothing runs on into a window or a controller that is gone.
class TestMainWindowTeardown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        corvane::SettingsFile().setValue(QStringLiteral("ui/reduceMotion"), true);
    }

    void cleanup()
    {
        corvane::SettingsFile().remove(QStringLiteral("raceControl"));
    }

    void closeWithWindowOpen_data()
    {
        QTest::addColumn<Opened>("which");
        // Closed: the user closes the main window. Destroyed: "Restart now" quits the program,
        // which then deletes the window without closing it.
        QTest::addColumn<bool>("closed");
        QTest::newRow("preview, closed") << Opened::Preview << true;
        QTest::newRow("preview, destroyed") << Opened::Preview << false;
        QTest::newRow("dashboard, closed") << Opened::Dashboard << true;
        QTest::newRow("dashboard, destroyed") << Opened::Dashboard << false;
        QTest::newRow("web panel dialog, closed") << Opened::WebPanelDialog << true;
        QTest::newRow("mobile connect, closed") << Opened::MobileConnect << true;
    }

    void closeWithWindowOpen()
    {
        QFETCH(Opened, which);
        QFETCH(bool, closed);
        auto window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        QPointer<QWidget> opened;
        bool found = false;
        bool outlivedClose = false;
        auto closeWindow = [&] {
            opened = findOpened(which);
            found = opened;
            if (closed)
                window->close();
        };
        // A modal dialog runs its own event loop: the window is closed from inside it. Should the
        // dialog stay open, it is closed here after a while so the test can report it.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [&] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                outlivedClose = true;
                modal->close();
            }
        });
        const bool modal = which == Opened::WebPanelDialog || which == Opened::MobileConnect;
        if (modal) {
            QTimer::singleShot(0, closeWindow);
            guard.start(5000);
        }
        open(*window, which);
        if (!modal)
            closeWindow();
        QVERIFY(found);
        QVERIFY(!outlivedClose);
        if (closed) {
            QVERIFY(!window->isVisible());
            QVERIFY(!opened || !opened->isVisible());
        }
        // Pending deletions stay pending, as when the event loop has ended.
        window.reset();
        QVERIFY(!opened);
    }

    // Closing over edits not saved asks once: Save stores them (a restart finds them), Discard lets
    // them go, Cancel keeps the window and the edits. Nothing unsaved, nothing is asked.
    void closeWithUnsavedEdits_data()
    {
        QTest::addColumn<Holder>("holder");
        QTest::addColumn<int>("answer"); // NoButton: no question expected
        // The question is closed by its title bar's close button, which must count as Cancel.
        QTest::addColumn<bool>("closeBox");
        // "full": Save finds nothing can be written, so the window (and a dialog with its edits)
        // stays, and the next close asks again. "slow": the window waits for the disk before it goes.
        QTest::addColumn<QString>("disk");
        QTest::newRow("nothing unsaved") << Holder::Nothing << int(QMessageBox::NoButton) << false << "";
        for (auto [name, holder] : {std::pair{"platform settings", Holder::PlatformSettings},
                                    std::pair{"axis dialog", Holder::AxisDialog}, std::pair{"LED dialog", Holder::LedDialog}}) {
            for (auto [what, answer] : {std::pair{"save", QMessageBox::Save}, std::pair{"discard", QMessageBox::Discard},
                                        std::pair{"cancel", QMessageBox::Cancel}})
                QTest::addRow("%s, %s", name, what) << holder << int(answer) << false << "";
        }
        QTest::newRow("platform settings, question closed") << Holder::PlatformSettings << int(QMessageBox::Cancel) << true << "";
        QTest::newRow("axis dialog, question closed") << Holder::AxisDialog << int(QMessageBox::Cancel) << true << "";
        QTest::newRow("platform settings, disk full") << Holder::PlatformSettings << int(QMessageBox::Save) << false << "full";
        QTest::newRow("axis dialog, disk full") << Holder::AxisDialog << int(QMessageBox::Save) << false << "full";
        QTest::newRow("LED dialog, disk full") << Holder::LedDialog << int(QMessageBox::Save) << false << "full";
        QTest::newRow("axis dialog, slow disk") << Holder::AxisDialog << int(QMessageBox::Save) << false << "slow";
    }

    void closeWithUnsavedEdits()
    {
        QFETCH(Holder, holder);
        QFETCH(int, answer);
        QFETCH(bool, closeBox);
        QFETCH(QString, disk);
        const QJsonValue before = storedEdits(holder);
        auto window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        QString asked;
        int questions = 0;
        QTimer answering;
        connect(&answering, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->objectName() == "unsavedEditsBox") {
                QCOMPARE(box->text(), QString("Save your changes before closing?"));
                asked = box->informativeText();
                ++questions;
                QAbstractButton *button = box->button(QMessageBox::StandardButton(answer));
                for (QPushButton *titleButton : box->findChildren<QPushButton *>()) {
                    if (closeBox && titleButton->toolTip() == "Close")
                        button = titleButton;
                }
                button->click();
            }
        });
        answering.start(10);

        bool dialogStayed = false;
        if (holder == Holder::AxisDialog || holder == Holder::LedDialog) {
            // The window is closed from inside the dialog's own event loop, as a modal dialog runs.
            QTimer::singleShot(0, [&] {
                auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                // An edit of the dialog's own copy: on the axis dialog, the steering's Invert Axis
                // on its Calibration page.
                QCheckBox *edit = dialog->findChild<QCheckBox *>();
                if (holder == Holder::AxisDialog) {
                    dialog->findChild<ostra::Segmented *>()->setCurrentIndex(1);
                    for (QCheckBox *check : dialog->findChildren<QCheckBox *>())
                        edit = check->text() == "Invert Axis" && check->isVisible() ? check : edit;
                }
                QTest::keyClick(edit, Qt::Key_Space);
                {
                    const ostratest::Starved starved(disk == "full" ? "file size" : "");
                    std::optional<ostratest::HeldRenames> held;
                    if (disk == "slow")
                        held.emplace(window->controller()->profileManager()->activeProfileId() + ".json");
                    window->close();
                    if (held) {
                        // Until the edits are on disk the window and the dialog stay, and a
                        // second close asks nothing more.
                        QTRY_VERIFY(held->waiting() > 0);
                        QVERIFY(window->isVisible() && dialog->isVisible());
                        window->close();
                        QVERIFY(questions == 1 && window->isVisible());
                        held->release();
                    }
                    if (answer == QMessageBox::Save)
                        QTRY_VERIFY(!window->isVisible() || !window->findChildren<QMessageBox *>("corvaneErrorBox").isEmpty());
                }
                if (disk == "full") {
                    // The dialog kept its edits: the next close asks again, and stores them.
                    QVERIFY(window->isVisible() && dialog->isVisible());
                    window->close();
                    QTRY_VERIFY(!window->isVisible());
                    QCOMPARE(questions, 2);
                }
                dialogStayed = dialog->isVisible();
                if (dialogStayed)
                    dialog->reject();
            });
            holder == Holder::AxisDialog ? window->onConfigureAxes() : window->onConfigureLed();
        } else {
            if (holder == Holder::PlatformSettings) {
                window->showPage(MainWindow::MotionPage);
                editStroke(*window);
                QCOMPARE(window->findChild<QLabel *>("saveStatus")->text(), QString::fromUtf8("Unsaved \u2014 applies on connect"));
            }
            const ostratest::Starved starved(disk == "full" ? "descriptors" : "");
            window->close();
            // The settings' writer reports once they are on disk, or not; the window goes then.
            QVERIFY(corvane::SettingsFile::waitForWrites(5000));
        }
        const bool platformFailed = disk == "full" && holder == Holder::PlatformSettings;
        QCOMPARE(!asked.isEmpty(), answer != QMessageBox::NoButton);
        QTRY_COMPARE(window->isVisible(), answer == QMessageBox::Cancel || platformFailed);
        QCOMPARE(dialogStayed, answer == QMessageBox::Cancel && holder != Holder::PlatformSettings);
        if (holder == Holder::PlatformSettings)
            QCOMPARE(asked, QString("Not saved yet: Platform settings."));
        if (platformFailed) {
            asked.clear();
            window->close();
            QVERIFY(!asked.isEmpty());
            QTRY_VERIFY(!window->isVisible());
        }
        window.reset();
        QCOMPARE(storedEdits(holder) != before, answer == QMessageBox::Save);
    }

    // "Restart now" closes the window too: it asks first, and Cancel leaves neither a restart
    // for the next close nor the other theme stored.
    void restartWithUnsavedEdits_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("save") << "Save";
        QTest::newRow("discard") << "Discard";
        QTest::newRow("cancel") << "Cancel";
    }

    void restartWithUnsavedEdits()
    {
        QFETCH(QString, answer);
        const QJsonValue before = storedEdits(Holder::PlatformSettings);
        corvane::SettingsFile().remove(QStringLiteral("ui/theme"));
        MainWindow window;
        window.showPage(MainWindow::MotionPage);
        editStroke(window);
        ostratest::ModalAnswerer answerer;
        answerer.press(QStringLiteral("Restart now"));
        answerer.press(answer);
        window.toggleTheme();
        QCOMPARE(answerer.records().size(), 2);
        QCOMPARE(answerer.records().at(1).title, QStringLiteral("Unsaved changes"));
        QCOMPARE(answerer.records().at(1).text, QStringLiteral("Save your changes before restarting?"));
        // Saved edits go to disk first: the restart follows once they are there.
        QTRY_COMPARE(window.restartRequested(), answer != "Cancel");
        QCOMPARE(corvane::SettingsFile().contains(QStringLiteral("ui/theme")), answer != "Cancel");
        QCOMPARE(storedEdits(Holder::PlatformSettings) != before, answer == "Save");
        corvane::SettingsFile().remove(QStringLiteral("ui/theme"));
    }

    // Race control's safety link is switched off, the API stops and transmission ends with the
    // window; afterwards no frame, heartbeat or client is left.
    void destructionStopsServices()
    {
        const QString reason = ostratest::NetNamespaces::unavailableReason();
        if (!reason.isEmpty())
            QSKIP(qPrintable("race control is tested only inside network namespaces: " + reason));
        ostratest::RaceStationRig rig;
        QVERIFY2(rig.setUp({QStringLiteral("10.77.0.3")}), qPrintable(rig.error()));
        ostratest::storeRaceStations({QStringLiteral("10.77.0.3")}, true);
        ostratest::FakeRaceStation *station = rig.station(0);
        ostratest::SimulatedTransmitter tx;
        addWheelAndReleasedPedals();

        auto window = std::make_unique<MainWindow>();
        window->show();
        window->showPage(MainWindow::RaceControlPage);
        QTRY_VERIFY(station->events().count(QStringLiteral("lounge_heartbeat")) >= 2);

        QWebSocket client;
        QSignalSpy clientGone(&client, &QWebSocket::disconnected);
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:12345")));
        QTRY_COMPARE(client.state(), QAbstractSocket::ConnectedState);

        corvane::CorvaneController *controller = window->controller();
        QVERIFY(controller->connectTransmitter(tx.portName(), 115200));
        QVERIFY(tx.waitFor([controller] { return controller->isTransmitterAuthorized(); }));
        QVERIFY(controller->connectWheelBase(0) && controller->connectPedals(1));
        controller->setPedalsAxisMapping(AxisMapping());
        controller->startTransmission();
        QVERIFY(tx.waitForChannelFrames(5));

        window.reset();

        // The last the transmitter hears is the stop, and nothing follows it.
        tx.process();
        QVERIFY(tx.rawReceived().endsWith("STOP\n"));
        const int frames = tx.channelFrameCount();
        QTest::qWait(100);
        tx.process();
        QCOMPARE(tx.channelFrameCount(), frames);
        QVERIFY(tx.rawReceived().endsWith("STOP\n"));

        // The station's watchdog is switched off, and no heartbeat comes after that.
        const QList<QJsonObject> off = station->requests(QStringLiteral("set_lounge_watchdog"));
        QVERIFY(!off.isEmpty());
        QCOMPARE(off.last().value(QStringLiteral("data")).toObject().value(QStringLiteral("enabled")), QJsonValue(false));
        const int beats = station->events().count(QStringLiteral("lounge_heartbeat"));
        QTRY_COMPARE(station->clientCount(), 0);
        QTest::qWait(1200);
        QCOMPARE(station->events().count(QStringLiteral("lounge_heartbeat")), beats);
        QCOMPARE(station->events().constLast(), QStringLiteral("set_lounge_watchdog"));

        // The API's client was let go, and nobody answers on its port any more.
        QTRY_COMPARE(clientGone.count(), 1);
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, 12345);
        QVERIFY(!probe.waitForConnected(1000));
    }

    // A signal that asks the program to end (a logout or kill, Ctrl+C, a closed terminal) ends it
    // as a close does: the transmitter hears its stop, and the process ends by itself, asking
    // nobody about edits not stored, also when the user's close or theme restart is asking about
    // them; the restart is left out.
    void endSignalCloses_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("unsaved");
        // What asks about the edits when the signal comes; "nohup": SIGHUP ignored at the start
        // keeps the run going until SIGTERM.
        QTest::addColumn<QString>("asking");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false << "";
        QTest::newRow("SIGINT") << int(SIGINT) << false << "";
        QTest::newRow("SIGHUP") << int(SIGHUP) << false << "";
        QTest::newRow("SIGTERM, edits not stored") << int(SIGTERM) << true << "";
        QTest::newRow("SIGTERM at the close's question") << int(SIGTERM) << true << "close";
        QTest::newRow("SIGTERM at the theme restart's question") << int(SIGTERM) << true << "restart";
        QTest::newRow("SIGHUP under nohup") << int(SIGHUP) << false << "nohup";
    }

    void endSignalCloses()
    {
        QFETCH(int, signal);
        QFETCH(bool, unsaved);
        QFETCH(QString, asking);
        ostratest::SimulatedTransmitter tx;
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("OSTRA_SIGNALLED_PORT", tx.portName());
        if (unsaved)
            environment.insert("OSTRA_SIGNALLED_EDITS", "1");
        const bool nohup = asking == "nohup";
        if (nohup)
            run.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
        else if (!asking.isEmpty())
            environment.insert("OSTRA_SIGNALLED_ASKING", asking + ' ' + QString::number(signal));
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::ForwardedChannels);
        // The test library's own handler of fatal signals would take SIGHUP over from nohup.
        run.start(QCoreApplication::applicationFilePath(),
                  nohup ? QStringList{"signalledChild", "-nocrashhandler"} : QStringList{"signalledChild"});
        QVERIFY(tx.waitForChannelFrames(5, 60000));
        if (asking.isEmpty() || nohup)
            QCOMPARE(::kill(pid_t(run.processId()), signal), 0);
        if (nohup) {
            QVERIFY(tx.waitForChannelFrames(tx.channelFrameCount() + 50, 60000));
            QCOMPARE(::kill(pid_t(run.processId()), SIGTERM), 0);
        }
        QVERIFY(tx.waitFor([&run] { return run.state() == QProcess::NotRunning; }, 60000));
        tx.process();
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QVERIFY(tx.rawReceived().endsWith("STOP\n"));
    }

    // The program of endSignalCloses: it transmits until a signal ends it, then ends as main does.
    void signalledChild()
    {
        const QString port = qEnvironmentVariable("OSTRA_SIGNALLED_PORT");
        if (port.isEmpty())
            QSKIP("a run of endSignalCloses, started by it");
        addWheelAndReleasedPedals();
        auto window = std::make_unique<MainWindow>();
        window->show();
        closeOnEndSignals(window.get());
        if (qEnvironmentVariableIsSet("OSTRA_SIGNALLED_EDITS"))
            new ostra::UnsavedEdits(window.get(), "Test edits", [] { return true; },
                                    [](const ostra::UnsavedEdits::Stored &done) { done(true); });
        corvane::CorvaneController *controller = window->controller();
        QVERIFY(controller->connectTransmitter(port, 115200));
        QTRY_VERIFY_WITH_TIMEOUT(controller->isTransmitterAuthorized(), 30000);
        QVERIFY(controller->connectWheelBase(0) && controller->connectPedals(1));
        controller->setPedalsAxisMapping(AxisMapping());
        controller->startTransmission();
        // The user closes the window, or restarts it in the other theme, and walks away from the
        // question about the edits; the signal comes then.
        const QStringList asking = qEnvironmentVariable("OSTRA_SIGNALLED_ASKING").split(' ');
        QTimer answering;
        answering.callOnTimeout([&answering, &asking] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            for (QAbstractButton *button : box ? box->buttons() : QList<QAbstractButton *>()) {
                if (button->text() == "Restart now")
                    button->click();
            }
            if (box && box->objectName() == "unsavedEditsBox") {
                answering.stop();
                ::raise(asking.last().toInt());
            }
        });
        if (asking.size() == 2) {
            QTRY_VERIFY_WITH_TIMEOUT(controller->frameCount() > 5, 30000);
            answering.start(20);
            if (asking.first() == "close")
                QTimer::singleShot(0, window.get(), &QWidget::close);
            else
                QTimer::singleShot(0, window.get(), &MainWindow::toggleTheme);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 120000);
        QVERIFY(!window->restartRequested());
        window.reset();
        QCOMPARE(endRun(0, false), 0);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindowTeardown)
#include "tst_mainwindowteardown.moc"
