#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "dialogs/buttonconfigdialog.h"
#include "dialogs/escconfigdialog.h"
#include "heli/helicoptersetupwidget.h"
#include "app/onboardingwizard.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "receiver/ledconfigdialog.h"
#include "receiver/radiocalibrationdialog.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/writesdone.h"

namespace {

// Acts on the modal windows a launcher opens, one step per window in the order they appear:
// a step runs when a window of its class is on top, and answers it.
class ModalScript : public QObject
{
public:
    struct Step
    {
        const char *className;
        std::function<void(QWidget *)> act;
    };

    explicit ModalScript(QList<Step> steps)
        : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::poll);
        m_timer.start(5);
    }

    bool done() const { return m_steps.isEmpty(); }

private:
    void poll()
    {
        QWidget *window = QApplication::activeModalWidget();
        if (!window || !window->isVisible() || window == m_last || m_steps.isEmpty()
            || !window->inherits(m_steps.first().className))
            return;
        m_last = window;
        const Step step = m_steps.takeFirst();
        // Acted on from a call of its own, so what the step opens runs its own event loop.
        QTimer::singleShot(0, window, [step, window] { step.act(window); });
    }

    QList<Step> m_steps;
    QPointer<QWidget> m_last;
    QTimer m_timer;
};

QPushButton *button(QWidget *window, const QString &text)
{
    for (QPushButton *b : window->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QJsonObject storedAxisSettings(corvane::CorvaneController *controller)
{
    ostratest::writesDone();
    corvane::ProfileManager *store = controller->profileManager();
    QFile file(store->profileFilePath(store->activeProfileId()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("axisSettings").toObject();
}

QList<QMessageBox *> openErrorBoxes(MainWindow &window)
{
    QList<QMessageBox *> open;
    for (QMessageBox *box : window.findChildren<QMessageBox *>(QStringLiteral("corvaneErrorBox")))
        if (box->isVisible())
            open << box;
    return open;
}

} // namespace

// Takes the addresses the program hands to the system's web browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    explicit UrlCatcher(const QString &scheme)
        : m_scheme(scheme)
    {
        QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(m_scheme); }

    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }

private:
    QString m_scheme;
};

class TestMainWindowLaunchers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        corvane::SettingsFile().setValue(QStringLiteral("disclaimer/accepted"), true);
    }

    void init() { corvane::VirtualInputBackend::instance()->reset(); }

    // Apply stores the dialog's record (here the defaults after a reset), Cancel stores nothing.
    void driveSettings_data()
    {
        QTest::addColumn<bool>("apply");
        QTest::newRow("applied") << true;
        QTest::newRow("cancelled") << false;
    }

    void driveSettings()
    {
        QFETCH(bool, apply);
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        AxisSettings loaded = controller->axisSettings();
        loaded.wheelRotationDeg = 540;
        loaded.pitLimiterEnabled = true;
        loaded.pitLimiterValue = 1500;
        loaded.escMode = 2;
        loaded.escNeutral = 1000;
        QVERIFY(controller->setAxisSettings(loaded));
        const QJsonObject before = storedAxisSettings(controller);
        QVERIFY(!before.isEmpty());

        ModalScript script({{"corvane::EscConfigDialog", [apply](QWidget *w) {
            auto *dialog = qobject_cast<corvane::EscConfigDialog *>(w);
            QCOMPARE(dialog->axisSettings().pitLimiterValue, 1500); // loaded from the controller
            button(w, "Reset to defaults")->click();
            button(w, apply ? "Apply" : "Cancel")->click();
        }}});
        window.onConfigureEsc();
        QVERIFY(script.done());
        const AxisSettings running = controller->axisSettings();
        if (apply) {
            QCOMPARE(running.pitLimiterValue, 1200);
            QVERIFY(!running.pitLimiterEnabled);
            QCOMPARE(running.escMode, 0);
            QCOMPARE(running.wheelRotationDeg, 540);
            QCOMPARE(storedAxisSettings(controller).value("pitLimiterValue").toInt(), 1200);
            QCOMPARE(storedAxisSettings(controller).value("wheelRotationDeg").toInt(), 540);
        } else {
            QCOMPARE(running.pitLimiterValue, 1500);
            QCOMPARE(running.escNeutral, 1000);
            QCOMPARE(storedAxisSettings(controller), before);
        }
    }

    // Measured values reach the drive dialog only: cancelling it leaves the profile alone.
    void radioCalibration()
    {
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        const QJsonObject before = storedAxisSettings(controller);
        const AxisSettings runningBefore = controller->axisSettings();
        bool suppressedDuringRun = false;
        AxisSettings afterCalibration;
        ostratest::ModalRecord box;
        ModalScript script({
            {"corvane::EscConfigDialog", [](QWidget *w) { button(w, "Radio Calibration")->click(); }},
            {"corvane::RadioCalibrationDialog", [&](QWidget *w) {
                auto *calibration = qobject_cast<corvane::RadioCalibrationDialog *>(w);
                suppressedDuringRun = window.suppressErrorDialogs();
                // Accepted before measuring: the six values are those the wizard starts from.
                calibration->accept();
            }},
            {"QMessageBox", [&](QWidget *w) {
                auto *message = qobject_cast<QMessageBox *>(w);
                box.title = message->windowTitle();
                box.text = message->text();
                message->accept();
            }},
            {"corvane::EscConfigDialog", [&](QWidget *w) {
                auto *dialog = qobject_cast<corvane::EscConfigDialog *>(w);
                afterCalibration = dialog->axisSettings();
                dialog->reject();
            }},
        });
        window.onConfigureEsc();
        QVERIFY(script.done());
        QVERIFY(suppressedDuringRun);
        QVERIFY(!window.suppressErrorDialogs());
        QCOMPARE(box.title, QStringLiteral("Calibration Applied"));
        QCOMPARE(box.text, QStringLiteral("Radio calibration values have been applied to the ESC settings.\n\n"
                                          "Throttle: Max=0 | Neutral=0 | Reverse=0\n"
                                          "Steering: Left=0 | Center=0 | Right=0\n\n"
                                          "Click 'Apply' to save these settings to your profile."));
        QCOMPARE(afterCalibration.escMode, 2);
        QCOMPARE(QList<int>({afterCalibration.escFullForward, afterCalibration.escNeutral,
                             afterCalibration.escFullReverse, afterCalibration.steeringLeft,
                             afterCalibration.steeringCenter, afterCalibration.steeringRight}),
                 QList<int>({0, 0, 0, 0, 0, 0}));
        QCOMPARE(storedAxisSettings(controller), before);
        QCOMPARE(controller->axisSettings().toJson(), runningBefore.toJson());
    }

    void buttonsNeedWheelBase()
    {
        MainWindow window;
        ostratest::ModalAnswerer answer;
        answer.press("OK");
        window.onConfigureButtons();
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QStringLiteral("Wheel Base Required"));
        QCOMPARE(answer.records().at(0).text, QStringLiteral("Please connect a wheel base before configuring buttons."));
    }

    void buttons_data()
    {
        QTest::addColumn<bool>("apply");
        QTest::newRow("applied") << true;
        QTest::newRow("cancelled") << false;
    }

    void buttons()
    {
        QFETCH(bool, apply);
        corvane::VirtualInputBackend::instance()->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base")));
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        QVERIFY(controller->connectWheelBase(0));
        ButtonMappingSet existing;
        ButtonMapping horn;
        horn.name = QStringLiteral("Horn");
        horn.buttonIndex = 4;
        existing.mappings = {horn};
        QVERIFY(controller->setButtonMappings(existing));
        int shown = -1;
        ModalScript script({{"corvane::ButtonConfigDialog", [&](QWidget *w) {
            auto *dialog = qobject_cast<corvane::ButtonConfigDialog *>(w);
            shown = int(dialog->mappings().mappings.size());
            ButtonMappingSet edited = dialog->mappings();
            ButtonMapping lights;
            lights.name = QStringLiteral("Lights");
            lights.buttonIndex = 6;
            edited.mappings.append(lights);
            dialog->setMappings(edited);
            button(w, apply ? "Apply" : "Cancel")->click();
        }}});
        window.onConfigureButtons();
        QVERIFY(script.done());
        QCOMPARE(shown, 1);
        QCOMPARE(controller->buttonMappings().mappings.size(), apply ? 2 : 1);
        QCOMPARE(controller->profileManager()->buttonMappings().mappings.size(), apply ? 2 : 1);
    }

    // The LED record goes to the controller only when the dialog is saved.
    void led_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("saved") << true;
        QTest::newRow("cancelled") << false;
    }

    void led()
    {
        QFETCH(bool, save);
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        LedSettings stored = controller->ledSettings();
        stored.ledCount = 12;
        controller->setLedSettings(stored);
        int shown = -1;
        ModalScript script({{"corvane::LedConfigDialog", [&](QWidget *w) {
            auto *dialog = qobject_cast<corvane::LedConfigDialog *>(w);
            shown = dialog->settings().ledCount;
            LedSettings edited = dialog->settings();
            edited.ledCount = 30;
            dialog->setSettings(edited);
            button(w, save ? "Save Settings" : "Cancel")->click();
        }}});
        // The slot nothing connects is reachable by name.
        QVERIFY(QMetaObject::invokeMethod(&window, "onConfigureLed"));
        QVERIFY(script.done());
        QCOMPARE(shown, 12);
        QCOMPARE(controller->ledSettings().ledCount, save ? 30 : 12);
    }

    void transmitterRequired_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const QString soc = QStringLiteral("Please connect the QOR Transmitter first.\n"
                                           "The SOC update is performed over the USB serial connection.");
        QTest::newRow("firmware") << "onUpdateTransmitterFirmware" << "QOR Transmitter Required"
                                  << "Please connect the QOR Transmitter before updating firmware.";
        QTest::newRow("soc") << "onUpdateTransmitterSocFirmware" << "QOR Transmitter SOC Update" << soc;
        QTest::newRow("soc v2") << "onUpdateTransmitterSocFirmwareV2" << "QOR Transmitter SOC Update (V2)" << soc;
    }

    // Without a transmitter a warning and nothing else.
    void transmitterRequired()
    {
        QFETCH(QString, slot);
        QFETCH(QString, title);
        QFETCH(QString, text);
        MainWindow window;
        ostratest::ModalAnswerer answer;
        answer.press("OK");
        QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1().constData()));
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).kind, QStringLiteral("message"));
        QCOMPARE(answer.records().at(0).title, title);
        QCOMPARE(answer.records().at(0).text, text);
        QVERIFY(!window.suppressErrorDialogs());
    }

    void firmwareHidesErrors_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("dialogClass");
        QTest::newRow("receiver") << "onUpdateReceiverFirmware" << "corvane::FirmwareUpdateDialog";
        QTest::newRow("receiver v4") << "onUpdateReceiverV4Firmware" << "corvane::ReceiverV4UpdateDialog";
        QTest::newRow("transmitter") << "onUpdateTransmitterFirmware" << "corvane::FirmwareUpdateDialog";
        QTest::newRow("soc") << "onUpdateTransmitterSocFirmware" << "corvane::FirmwareUpdateDialog";
        QTest::newRow("soc v2") << "onUpdateTransmitterSocFirmwareV2" << "corvane::FirmwareUpdateDialog";
    }

    // The updaters report their own failures: an error the controller reports meanwhile opens no box.
    void firmwareHidesErrors()
    {
        QFETCH(QString, slot);
        QFETCH(QString, dialogClass);
        ostratest::SimulatedTransmitter tx;
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        QVERIFY(controller->connectTransmitter(tx.portName(), 115200));
        const QByteArray className = dialogClass.toLatin1();
        bool suppressed = false;
        int boxesDuringRun = -1;
        ModalScript script({{className.constData(), [&](QWidget *w) {
            suppressed = window.suppressErrorDialogs();
            emit controller->errorOccurred(QStringLiteral("Port lost"));
            QTest::qWait(20);
            boxesDuringRun = int(openErrorBoxes(window).size());
            qobject_cast<QDialog *>(w)->reject();
        }}});
        QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1().constData()));
        QVERIFY(script.done());
        QVERIFY(suppressed);
        QCOMPARE(boxesDuringRun, 0);
        QVERIFY(!window.suppressErrorDialogs());
        QCoreApplication::processEvents();
        QVERIFY(openErrorBoxes(window).isEmpty());
        // Afterwards errors are shown again.
        emit controller->errorOccurred(QStringLiteral("Port lost"));
        QTRY_COMPARE(openErrorBoxes(window).size(), 1);
        openErrorBoxes(window).at(0)->close();
    }

    // The helicopter page's firmware buttons reach the same launchers.
    void helicopterFirmware_data()
    {
        QTest::addColumn<QString>("signal");
        QTest::addColumn<QString>("title");
        QTest::newRow("receiver") << "updateReceiverFirmwareRequested" << "QOR Receiver Firmware Update";
        QTest::newRow("transmitter") << "updateTransmitterFirmwareRequested" << "QOR Transmitter Required";
        QTest::newRow("soc") << "updateTransmitterSocFirmwareRequested" << "QOR Transmitter SOC Update";
    }

    void helicopterFirmware()
    {
        QFETCH(QString, signal);
        QFETCH(QString, title);
        MainWindow window;
        auto *heli = window.findChild<corvane::HelicopterSetupWidget *>();
        QVERIFY(heli);
        ostratest::ModalAnswerer answer;
        answer.cancel();
        QVERIFY(QMetaObject::invokeMethod(heli, signal.toLatin1().constData()));
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, title);
    }

    // The guide's requests open the axis dialog and start transmission over the running guide.
    void onboarding()
    {
        ostratest::SimulatedTransmitter tx;
        auto *input = corvane::VirtualInputBackend::instance();
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Wheel"), 6, 12, 1, true));
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Pedals"), 8, 8, 0));
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        QVERIFY(controller->connectTransmitter(tx.portName(), 115200));
        QVERIFY(controller->connectWheelBase(0));
        QVERIFY(controller->connectPedals(1));
        QVERIFY(tx.waitFor([controller] { return controller->canStartTransmission(); }));
        window.updateCarPageStatus();
        QStringList opened;
        ModalScript script({
            {"corvane::OnboardingWizard", [&](QWidget *w) {
                auto *wizard = qobject_cast<corvane::OnboardingWizard *>(w);
                emit wizard->requestOpenAxisConfig();
                emit wizard->requestStartTransmission();
                wizard->reject();
            }},
            {"corvane::AxisConfigDialog", [&](QWidget *w) {
                opened << QLatin1String(w->metaObject()->className());
                qobject_cast<QDialog *>(w)->reject();
            }},
            {"corvane::PedalVerificationDialog", [&](QWidget *w) {
                opened << QLatin1String(w->metaObject()->className());
                qobject_cast<QDialog *>(w)->reject();
            }},
        });
        window.onOpenOnboarding();
        QVERIFY(script.done());
        QCOMPARE(opened, QStringList({"corvane::AxisConfigDialog", "corvane::PedalVerificationDialog"}));
        QVERIFY(!controller->isRunning());
    }

    // "Open in Maps": the fix's position, latitude first, seven decimals; nothing without a fix.
    void openInMaps()
    {
        ostratest::SimulatedTransmitter tx;
        MainWindow window;
        corvane::CorvaneController *controller = window.controller();
        QVERIFY(controller->connectTransmitter(tx.portName(), 115200));
        UrlCatcher catcher(QStringLiteral("https"));
        window.openGpsInMaps();
        QVERIFY(catcher.urls.isEmpty());
        QVERIFY(tx.sendGps(47.1234567, 8.7654321, 12.0, 90.0, 400, 9));
        QTRY_VERIFY(controller->gpsFix().valid);
        auto *maps = window.findChild<QPushButton *>(QStringLiteral("openMapsBtn"));
        QVERIFY(maps->isEnabled());
        maps->click();
        QCOMPARE(catcher.urls.size(), 1);
        const QUrl url = catcher.urls.at(0);
        QCOMPARE(url.scheme(), QStringLiteral("https"));
        QCOMPARE(url.path(), QStringLiteral("/maps/search/"));
        QCOMPARE(url.query(), QStringLiteral("api=1&query=47.1234567,8.7654321"));
    }

    // Info's link to the maker's site: in the browser, or, with no browser on the PC, a box that
    // says so and shows the address. Tab reaches it, and Space or Return opens it as a click does.
    void supportLink_data()
    {
        QTest::addColumn<bool>("browser");
        QTest::addColumn<int>("key"); // 0: a click
        QTest::newRow("browser") << true << 0;
        QTest::newRow("no browser") << false << 0;
        QTest::newRow("browser, Space") << true << int(Qt::Key_Space);
        QTest::newRow("browser, Return") << true << int(Qt::Key_Return);
        QTest::newRow("no browser, Return") << false << int(Qt::Key_Return);
    }

    void supportLink()
    {
        QFETCH(bool, browser);
        QFETCH(int, key);
        std::unique_ptr<UrlCatcher> catcher(browser ? new UrlCatcher(QStringLiteral("https")) : nullptr);
        // Nothing a browser could be found by.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        qunsetenv("BROWSER");
        MainWindow window;
        window.show();
        window.showPage(MainWindow::InfoPage);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *link = window.findChild<QWidget *>(QStringLiteral("supportLink"));
        QTRY_VERIFY(link->isVisible());
        if (key) {
            QApplication::setActiveWindow(&window);
            QVERIFY(QTest::qWaitForWindowActive(&window));
            window.setFocus(Qt::OtherFocusReason);
            for (int i = 0; i < 40 && !link->hasFocus(); ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(link->hasFocus());
            QTest::keyClick(link, Qt::Key(key));
        } else {
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(8, link->height() / 2));
        }
        qputenv("PATH", path);
        auto *box = window.findChild<QMessageBox *>(QStringLiteral("noBrowserBox"));
        QCOMPARE(box != nullptr, !browser);
        if (browser) {
            QCOMPARE(catcher->urls, QList<QUrl>({QUrl("https://qorvant.com")}));
            return;
        }
        QVERIFY(box->isVisible());
        QVERIFY(box->text().endsWith("https://qorvant.com"));
        box->accept();
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindowLaunchers)
#include "tst_mainwindowlaunchers.moc"
