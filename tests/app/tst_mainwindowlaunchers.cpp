#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <functional>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "dialogs/buttonconfigdialog.h"
#include "dialogs/escconfigdialog.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profilemanager.h"
#include "receiver/radiocalibrationdialog.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"

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
    corvane::ProfileManager *store = controller->profileManager();
    QFile file(store->profileFilePath(store->activeProfileId()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("axisSettings").toObject();
}

} // namespace

class TestMainWindowLaunchers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        QSettings().setValue(QStringLiteral("disclaimer/accepted"), true);
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
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindowLaunchers)
#include "tst_mainwindowlaunchers.moc"
