#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <functional>
#include <memory>

#include "heli/helicontrolgaugewidget.h"
#include "heli/helicoptercurvesdialog.h"
#include "heli/helicoptersetupwidget.h"
#include "helirender.h"
#include "modalreply.h"
#include "ostraui/channelcell.h"
#include "ostraui/devicerow.h"
#include "ostraui/pill.h"
#include "ostraui/segmented.h"
#include "ostraui/toast.h"
#include "ostraui/theme.h"
#include "ostraui/txbutton.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/transmitrig.h"
#include "support/widgets/textrecorder.h"
#include "support/widgets/widgetlookup.h"

using corvane::HelicopterSetupWidget;
using ostratest::TransmitRig;

namespace {

using Setup = std::function<void(TransmitRig &, HelicopterConfig &)>;

// A shown page on the rig's controller.
struct PageHost
{
    // Hosted as the main window hosts it: in a resizable scroll area, 8 px from either side.
    explicit PageHost(TransmitRig &rig)
    {
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *scroll = new QScrollArea(&window);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto *content = new QWidget(scroll);
        auto *column = new QVBoxLayout(content);
        column->setContentsMargins(8, 0, 8, 0);
        page = new HelicopterSetupWidget(rig.controller.get(), content);
        column->addWidget(page);
        scroll->setWidget(content);
        layout->addWidget(scroll);
        window.resize(1180, 800);
        window.show();
    }
    QString liveText(int channel) const { return page->findChild<QLabel *>(QStringLiteral("liveValue%1").arg(channel))->text(); }
    corvane::HeliControlGaugeWidget *gauge() const { return page->findChild<corvane::HeliControlGaugeWidget *>(); }
    ostra::Segmented *rates() const { return page->findChild<ostra::Segmented *>(); }
    ostra::TxButton *txButton() const { return page->findChild<ostra::TxButton *>(); }
    QPushButton *armButton() const { return page->findChild<QPushButton *>("armButton"); }
    QString status() const { return page->findChild<QLabel *>("transmissionStatus")->text(); }
    QPushButton *connectButton() const { return page->findChild<QPushButton *>("connectTransmitter"); }
    QComboBox *ports() const { return page->findChild<QComboBox *>("transmitterPort"); }
    QPushButton *button(const QString &text) const { return ostratest::withText<QPushButton>(page, text); }
    QList<QPushButton *> updateButtons() const
    {
        QList<QPushButton *> found;
        for (QPushButton *b : page->findChildren<QPushButton *>()) {
            if (b->text() == "Update")
                found.append(b);
        }
        return found;
    }

    QWidget window;
    HelicopterSetupWidget *page;
};

// How wide a label's painted text is, in pixels.
int inkWidth(QWidget *label)
{
    const QImage image = label->grab().toImage();
    int left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return right - left + 1;
}

QByteArray activeProfileBytes(TransmitRig &rig)
{
    ostratest::writesDone();
    corvane::ProfileManager *store = rig.controller->profileManager();
    QFile file(store->profileFilePath(store->activeProfileId()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(std::function<void(QDialog *)>)
Q_DECLARE_METATYPE(std::function<bool(const HelicopterConfig &)>)

class TestHelicopterSetupWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void liveControl_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<bool>("devices");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("gaugeSlot"); // 0 roll, 2 collective, 3 yaw; -1 none
        QTest::addColumn<float>("gaugeValue");
        const Setup none = [](TransmitRig &, HelicopterConfig &) {};
        QTest::newRow("no device: CH1 without a value") << none << false << 1 << "\u2014" << -1 << 0.0f;
        QTest::newRow("full roll at Beginner 60 %")
            << Setup([](TransmitRig &rig, HelicopterConfig &) { rig.joystick->setAxis(0, 1.0f); }) << true << 1
            << "1808 \u00B5s" << 0 << 0.6f;
        // The lever at its centre, calibrated so that its shaped value is 0.9.
        QTest::newRow("pitch curve: shaped 0.9 gives 0.6") << Setup([](TransmitRig &rig, HelicopterConfig &c) {
            c.fly.pitchCurve.enabled = true;
            c.fly.pitchCurve.points = {0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
            c.calibration.throttle.useCalibration = true;
            c.calibration.throttle.inputMin = -0.902f;
            c.calibration.throttle.inputMax = 0.098f;
            rig.lever->setAxis(5, 0.0f);
        }) << true << 3 << "1602 \u00B5s" << 2 << 0.6f;
        // A lever read as 0 sits just under half collective (the lever's own 2 % dead band); full would be 2012.
        QTest::newRow("negative axis index reads 0") << Setup([](TransmitRig &rig, HelicopterConfig &c) {
            c.inputs.throttle.axis = -1;
            rig.lever->setAxis(5, 1.0f);
        }) << true << 3 << "1489 \u00B5s" << -1 << 0.0f;
        QTest::newRow("split pedals without a right pedal use the single axis")
            << Setup([](TransmitRig &rig, HelicopterConfig &c) {
                   c.fly.dualRates.enabled = false;
                   c.inputs.pedals.differential = true;
                   c.inputs.pedals.axis2 = -1;
                   rig.rudder->setAxis(3, 1.0f);
               }) << true << 4 << "2012 \u00B5s" << 3 << 1.0f;
        QTest::newRow("split pedals: left pedal down") << Setup([](TransmitRig &rig, HelicopterConfig &c) {
            c.fly.dualRates.enabled = false;
            c.inputs.pedals.differential = true;
            c.inputs.pedals.axis2 = 2;
            rig.rudder->setAxis(3, 1.0f);
            rig.rudder->setAxis(2, -1.0f);
        }) << true << 4 << "988 \u00B5s" << 3 << -1.0f;
        // While transmitting, the rows show the frame: the soft start's first one sends the raised
        // lever's collective low.
        QTest::newRow("soft start's first frame") << Setup([](TransmitRig &rig, HelicopterConfig &c) {
            c.fly.armAtIdle = false;
            c.fly.softStart = true;
            rig.lever->setAxis(5, 1.0f);
            rig.controller->setHelicopterConfig(c);
            QVERIFY(rig.start());
            rig.tick();
        }) << true << 3 << "988 \u00B5s" << 2 << 0.0f;
    }

    void liveControl()
    {
        QFETCH(Setup, setup);
        QFETCH(bool, devices);
        QFETCH(int, channel);
        QFETCH(QString, text);
        QFETCH(int, gaugeSlot);
        QFETCH(float, gaugeValue);
        TransmitRig rig;
        if (devices)
            QVERIFY(rig.connectHelicopter());
        HelicopterConfig cfg;
        setup(rig, cfg);
        rig.controller->setHelicopterConfig(cfg);
        rig.pollAll();
        PageHost host(rig);
        host.page->refreshFromController();
        // A value the preview must overwrite.
        host.gauge()->setCollective(0.25f);
        host.page->onLiveUpdate();
        QCOMPARE(host.liveText(channel), text);
        const float shown[] = {host.gauge()->roll(), host.gauge()->pitch(), host.gauge()->collective(), host.gauge()->yaw()};
        if (gaugeSlot >= 0)
            QVERIFY2(qAbs(shown[gaugeSlot] - gaugeValue) < 1e-4f, qPrintable(QString::number(shown[gaugeSlot])));
    }

    // Devices opened and never moved: the cyclic and the rudder show where they rest, and a
    // control mapped to an axis its device lacks is named under the rows.
    void restingControls_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("pedalAxes");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("note");
        const Setup none = [](TransmitRig &, HelicopterConfig &) {};
        const QString centred = QStringLiteral("Cyclic \u00B7 roll 0\u00B0 \u00B7 pitch 0\u00B0");
        QTest::newRow("4-axis stick, 6-axis rudder bar") << none << 6 << centred << QString();
        QTest::newRow("one-axis pedals") << none << 1 << centred
                                         << "Rudder: axis 4 is not on the pedals, so the rudder stays centred.";
        QTest::newRow("pitch and collective on axes not there") << Setup([](TransmitRig &, HelicopterConfig &c) {
            c.inputs.joystick.yAxis = 6;
            c.inputs.throttle.axis = 7;
        }) << 6 << centred << "Pitch: axis 7 is not on the joystick, so pitch stays centred.\n"
                              "Collective: axis 8 is not on the throttle, so the collective stays low.";
    }

    void restingControls()
    {
        QFETCH(Setup, setup);
        QFETCH(int, pedalAxes);
        QFETCH(QString, caption);
        QFETCH(QString, note);
        TransmitRig rig;
        HelicopterConfig cfg;
        setup(rig, cfg);
        rig.controller->setHelicopterConfig(cfg);
        QVERIFY(rig.connectRestingHelicopter(4, 3, pedalAxes));
        rig.pollAll();
        PageHost host(rig);
        host.page->refreshFromController();
        host.page->onLiveUpdate();
        QCOMPARE(host.gauge()->cyclicCaption(), caption);
        QCOMPARE((QStringList{host.liveText(2), host.gauge()->yawText()}), (QStringList{"1500 \u00B5s", "0\u00B0"}));
        auto *shown = host.page->findChild<QLabel *>("axisNote");
        QVERIFY(shown);
        QCOMPARE(shown->isVisibleTo(host.page) ? shown->text() : QString(), note);
        QStringList listed;
        for (ostra::DeviceRow *row : host.page->findChildren<ostra::DeviceRow *>()) {
            for (int i = 0; i < row->combo()->count(); ++i)
                listed << row->combo()->itemText(i);
        }
        QVERIFY(listed.filter("(1 axes)").isEmpty());
        QCOMPARE(listed.filter("Resting Pedals\u2069 (1 axis)").isEmpty(), pedalAxes != 1);
        if (QTest::currentDataTag() == QLatin1String("pitch and collective on axes not there")) {
            QTest::qWait(100);
            QVERIFY(host.page->grab().toImage().save(heliPicture("page-missing-axes")));
        }
    }

    // Without the joystick nothing is sent: no row and no read-out of the gauge has a number.
    // With it, a control whose device is missing shows what the radio gets (the collective about
    // half, the rudder centred).
    void controlsShowWhatIsSent_data()
    {
        QTest::addColumn<int>("devices"); // 0 none, 1 joystick only, 2 joystick and pedals
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("gauge"); // collective, yaw, cyclic caption
        const QString dash = QStringLiteral("\u2014");
        const QString noCyclic = QStringLiteral("Cyclic \u00B7 roll \u2014 \u00B7 pitch \u2014");
        const QString centred = QStringLiteral("Cyclic \u00B7 roll 0\u00B0 \u00B7 pitch 0\u00B0");
        const QStringList sent{"1500 \u00B5s", "1500 \u00B5s", "1489 \u00B5s", "1500 \u00B5s"};
        QTest::newRow("nothing") << 0 << QStringList{dash, dash, dash, dash} << QStringList{dash, dash, noCyclic};
        QTest::newRow("no throttle lever, no pedals") << 1 << sent << QStringList{"49%", "0\u00B0", centred};
        QTest::newRow("no throttle lever") << 2 << sent << QStringList{"49%", "0\u00B0", centred};
    }

    void controlsShowWhatIsSent()
    {
        QFETCH(int, devices);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, gauge);
        TransmitRig rig;
        if (devices > 0)
            QVERIFY(rig.connectHelicopter(false, devices >= 2));
        rig.pollAll();
        PageHost host(rig);
        host.page->refreshFromController();
        host.page->onLiveUpdate();
        QCOMPARE((QStringList{host.liveText(1), host.liveText(2), host.liveText(3), host.liveText(4)}), rows);
        QCOMPARE((QStringList{host.gauge()->collectiveText(), host.gauge()->yawText(), host.gauge()->cyclicCaption()}),
                 gauge);
        if (devices == 1) {
            QTest::qWait(100);
            QVERIFY(host.page->grab().toImage().save(heliPicture("page-joystick-only")));
        }
    }

    void noValueDashIsLong_data()
    {
        QTest::addColumn<bool>("cell");
        QTest::newRow("CH1 Roll row") << false;
        QTest::newRow("channel cell CH1") << true;
    }

    // A read-out without a value shows the same long dash as the gauge's captions beside it, not
    // the mono face's, which fills a single cell and reads as a short one.
    void noValueDashIsLong()
    {
        QFETCH(bool, cell);
        TransmitRig rig;
        PageHost host(rig);
        QVERIFY(QTest::qWaitForWindowExposed(&host.window));
        host.page->onLiveUpdate();
        QLabel *label = cell ? host.page->findChild<ostra::ChannelCell *>()->findChildren<QLabel *>().constLast()
                             : host.page->findChild<QLabel *>(QStringLiteral("liveValue1"));
        QCOMPARE(label->text(), QStringLiteral("\u2014"));
        QLabel caption(QStringLiteral("\u2014"));
        caption.setFont(ostra::uiFont(label->font().pointSizeF() / 0.75, label->font().weight()));
        caption.adjustSize();
        QVERIFY2(inkWidth(label) >= inkWidth(&caption) - 1, qPrintable(QString::number(inkWidth(label))));
    }

    void hiddenPageDoesNoWork()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        rig.joystick->setAxis(0, 1.0f);
        rig.pollAll();
        PageHost host(rig);
        host.window.hide();
        host.page->onLiveUpdate();
        QCOMPARE(host.liveText(1), QString("1500 \u00B5s"));
        QCOMPARE(host.gauge()->roll(), 0.0f);
        host.window.show();
        host.page->onLiveUpdate();
        QCOMPARE(host.liveText(1), QString("1808 \u00B5s"));
    }

    void rateSelector()
    {
        TransmitRig rig;
        PageHost host(rig);
        QSignalSpy changes(rig.controller.get(), &corvane::CorvaneController::heliRateModeChanged);
        host.rates()->setCurrentIndex(1);
        QCOMPARE(rig.controller->heliRateMode(), 1);

        // A change from elsewhere moves the selector and goes no further.
        rig.controller->setHeliRateMode(2);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(host.rates()->currentIndex(), 2);

        HelicopterConfig cfg = rig.controller->helicopterConfig();
        cfg.fly.dualRates.enabled = false;
        cfg.fly.dualRates.activeMode = 0;
        rig.controller->setHelicopterConfig(cfg);
        QVERIFY(!host.rates()->isEnabled());
        QCOMPARE(host.rates()->toolTip(), QString("Dual rates are off \u2014 enable them in Fly settings"));
    }

    void noTransmitter()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter() || true);
        rig.controller->disconnectTransmitter();
        PageHost host(rig);
        QVERIFY(!host.txButton()->isEnabled());
        QCOMPARE(host.status(), QString("Connect the QOR Transmitter to start"));
        const QList<QPushButton *> updates = host.updateButtons();
        QSignalSpy mcu(host.page, &HelicopterSetupWidget::updateTransmitterFirmwareRequested);
        QSignalSpy receiver(host.page, &HelicopterSetupWidget::updateReceiverFirmwareRequested);
        QSignalSpy soc(host.page, &HelicopterSetupWidget::updateTransmitterSocFirmwareRequested);
        for (QPushButton *b : updates)
            b->click();
        QCOMPARE(mcu.count() + receiver.count() + soc.count(), 3);
        QCOMPARE(mcu.count(), 1);
        QCOMPARE(soc.count(), 1);
    }

    void transmitterWithoutJoystick()
    {
        TransmitRig rig;
        QVERIFY(rig.controller->heliThrottle()->open(TransmitRig::ThrottlePos));
        QVERIFY(rig.controller->heliPedals()->open(TransmitRig::RudderPos));
        QVERIFY(rig.openTransmitter());
        PageHost host(rig);
        QCOMPARE(host.status(), QString("Connect a joystick to start"));
        QVERIFY(rig.controller->connectHeliJoystick(TransmitRig::JoystickPos));
        QCOMPARE(host.status(), QString("Everything is connected"));
        QCOMPARE(host.txButton()->state(), int(ostra::TxGo));
    }

    // A transmitter port where nothing answers, or nothing yet, holds Start, and the status names
    // the port as the car page does, whatever else is connected.
    void silentTransmitter_data()
    {
        QTest::addColumn<bool>("joystick");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("waiting");
        QTest::newRow("answers") << true << false << int(ostra::TxGo) << false;
        QTest::newRow("not answered yet") << true << false << int(ostra::TxLocked) << true;
        QTest::newRow("nothing answers") << true << true << int(ostra::TxLocked) << false;
        QTest::newRow("nothing answers, no joystick") << false << true << int(ostra::TxLocked) << false;
    }

    void silentTransmitter()
    {
        QFETCH(bool, joystick);
        QFETCH(bool, silent);
        QFETCH(int, state);
        QFETCH(bool, waiting);
        TransmitRig rig;
        rig.tx.setAnswersId(!silent && !waiting);
        QVERIFY(!joystick || rig.controller->connectHeliJoystick(TransmitRig::JoystickPos));
        QVERIFY(rig.openTransmitter());
        PageHost host(rig);
        if (waiting) {
            QCOMPARE(host.status(), rig.controller->transmitterWaitingMessage());
            QCOMPARE(host.txButton()->state(), state);
            return;
        }
        if (silent) {
            QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
            for (int query = 0; query < 4; ++query)
                QVERIFY(QMetaObject::invokeMethod(rig.controller.get(), "onDeviceIdRetry"));
        }
        QCOMPARE(host.status(), silent ? rig.controller->transmitterSilentMessage() : QString("Everything is connected"));
        QVERIFY(host.status().contains(rig.tx.portName()) == silent);
        QCOMPARE(host.txButton()->state(), state);
        if (silent && joystick) {
            QTest::qWait(100);
            QVERIFY(host.page->grab().toImage().save(heliPicture("page-silent")));
        }
    }

    void armButton()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter(false, false));
        PageHost host(rig);
        QVERIFY(!host.armButton()->isVisibleTo(host.page));

        HelicopterConfig cfg = rig.controller->helicopterConfig();
        cfg.fly.arm.enabled = true;
        cfg.fly.armAtIdle = false; // without a lever it would refuse the start too
        rig.controller->setHelicopterConfig(cfg);
        // The page follows the setup whoever changed it: the button shows, idle until the start.
        QVERIFY(host.armButton()->isVisibleTo(host.page));
        QVERIFY(!host.armButton()->isEnabled());

        host.txButton()->click();
        // Arm at idle without a throttle lever: the controller refuses.
        cfg.fly.armAtIdle = true;
        rig.controller->setHelicopterConfig(cfg);
        host.armButton()->click();
        QVERIFY(!rig.controller->isHeliArmed());
        QCOMPARE(rig.lastError(), QString("Connect the throttle lever before arming the motor."));

        cfg.fly.armAtIdle = false;
        rig.controller->setHelicopterConfig(cfg);
        host.armButton()->click();
        QVERIFY(rig.controller->isHeliArmed());
        QCOMPARE(host.armButton()->text(), QString("Armed \u2014 motor live"));
        host.txButton()->click();
        QVERIFY(!rig.controller->isHeliArmed());
        QCOMPARE(host.armButton()->text(), QString("Arming: safe"));
    }

    void saveUnderDefaultName_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("written") << "" << "   " << "RC Helicopter";
        QTest::newRow("the store cannot write") << "descriptors" << "   " << "";
        // The toast names what the store keeps, not what was typed.
        QTest::newRow("the car profile's name") << "" << "default" << "default (2)";
    }

    void saveUnderDefaultName()
    {
        QFETCH(QString, limit);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        TransmitRig rig;
        PageHost host(rig);
        host.page->findChild<QLineEdit *>()->setText(typed);
        QVERIFY(ostratest::writesDone());
        {
            const ostratest::Starved starved(limit);
            host.button("Save profile")->click();
            QVERIFY(ostratest::writesTried());
        }
        QVERIFY(ostratest::writesDone());
        corvane::ProfileManager *store = rig.controller->profileManager();
        if (!limit.isEmpty()) {
            // Nothing claims a save: no toast, and the car profile is still the active one.
            QVERIFY(!host.window.findChild<ostra::Toast *>());
            QCOMPARE(store->activeVehicleType(), QString("rc_car"));
            return;
        }
        QVERIFY(store->activeProfile());
        const QJsonObject saved = QJsonDocument::fromJson(activeProfileBytes(rig)).object();
        QCOMPARE(saved.value("name").toString(), stored);
        QCOMPARE(saved.value("vehicleType").toString(), QString("rc_helicopter"));
        auto *toast = host.window.findChild<ostra::Toast *>();
        QVERIFY(toast);
        QCOMPARE(toast->text(), QString("Saved \u201C%1\u201D").arg(stored));
    }

    // The name field follows the active helicopter profile, so Save keeps that profile's name
    // instead of giving it the name of the one shown before.
    void saveKeepsTheActiveProfileName()
    {
        TransmitRig rig;
        corvane::ProfileManager *store = rig.controller->profileManager();
        store->switchVehicleType("rc_helicopter", "RC Helicopter");
        PageHost host(rig);
        QVERIFY(store->setActiveProfile(store->createProfile("Night Heli")));
        QCOMPARE(host.page->findChild<QLineEdit *>()->text(), QString("Night Heli"));
        host.button("Save profile")->click();
        QVERIFY(ostratest::writesDone());
        QStringList names;
        for (const Profile &profile : store->profiles())
            names << profile.name;
        names.sort();
        QCOMPARE(names, (QStringList{"Default", "Night Heli", "RC Helicopter"}));
    }

    void refreshChoosesTheRememberedDevice_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("device");
        QTest::newRow("joystick") << int(HelicopterSetupWidget::JoystickRole) << int(TransmitRig::JoystickPos);
        QTest::newRow("throttle") << int(HelicopterSetupWidget::ThrottleRole) << int(TransmitRig::ThrottlePos);
        QTest::newRow("pedals") << int(HelicopterSetupWidget::PedalsRole) << int(TransmitRig::RudderPos);
    }

    // A remembered control unplugged and plugged in again: Refresh chooses it, and its Connect
    // (offered, not greyed) connects it.
    void refreshChoosesTheRememberedDevice()
    {
        QFETCH(int, role);
        QFETCH(int, device);
        TransmitRig rig;
        PageHost host(rig);
        ostra::DeviceRow *row = host.page->findChildren<ostra::DeviceRow *>().at(role);
        auto *connect = row->findChild<QPushButton *>();
        row->combo()->setCurrentIndex(row->combo()->findData(device));
        connect->click();
        QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
        const corvane::InputDevice *opened[] = {rig.controller->heliJoystick(), rig.controller->heliThrottle(),
                                                rig.controller->heliPedals()};
        rig.input->devices().at(device)->unplug();
        QTRY_VERIFY(!opened[role]->isConnected());
        rig.input->devices().at(device)->replug();
        host.button("Refresh")->click();
        QCOMPARE(row->combo()->currentData().toInt(), device);
        QVERIFY(connect->property("primary").toBool());
        connect->click();
        QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
    }

    // No port, no joystick, no device at all: a box says what is missing and nothing opens.
    void refusedWithoutDevices_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("connect without a port") << "connectTransmitter" << "QOR Transmitter"
                                                << "Please select a QOR Transmitter.";
        QTest::newRow("mapping") << "openConfigDialog" << "Joystick Required"
                                 << "Please connect a joystick before mapping and calibrating inputs.";
        QTest::newRow("buttons") << "openButtonMapping" << "Device Required"
                                 << "Please connect a joystick, throttle or pedals before configuring buttons.";
    }

    void refusedWithoutDevices()
    {
        QFETCH(QString, handler);
        QFETCH(QString, title);
        QFETCH(QString, text);
        TransmitRig rig;
        PageHost host(rig);
        host.ports()->setCurrentIndex(0);
        ModalReply reply;
        QVERIFY(QMetaObject::invokeMethod(host.page, handler.toLatin1().constData()));
        QCOMPARE(reply.title(), title);
        QCOMPARE(reply.text(), text);
        QVERIFY(!rig.controller->isSerialConnected());
    }

    // Opened from the page, the button mapping dialog offers the channels helicopter mode drives
    // with mappings, preselects one that the setup and the other mappings leave free, and asks
    // for a press on the helicopter's devices.
    void buttonMappingOffersTheHelicopterChannels_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QList<int>>("mapped");
        QTest::addColumn<QString>("preselected");
        QTest::newRow("defaults") << Setup([](TransmitRig &, HelicopterConfig &) {}) << QList<int>() << "CH5";
        QTest::newRow("arm switch on CH5, a mapping on CH6") << Setup([](TransmitRig &, HelicopterConfig &c) {
            c.fly.arm.enabled = true;
        }) << QList<int>{5} << "CH7";
        QTest::newRow("motor on CH7, arm on CH8") << Setup([](TransmitRig &, HelicopterConfig &c) {
            c.fly.throttleCurve.enabled = true;
            c.fly.motorChannel = 6;
            c.fly.arm.enabled = true;
            c.fly.arm.channel = 7;
        }) << QList<int>{4, 5} << "CH9";
        QTest::newRow("every channel taken: the first mappings may share")
            << Setup([](TransmitRig &, HelicopterConfig &c) { c.fly.arm.enabled = true; })
            << QList<int>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15} << "CH6";
    }

    void buttonMappingOffersTheHelicopterChannels()
    {
        QFETCH(Setup, setup);
        QFETCH(QList<int>, mapped);
        QFETCH(QString, preselected);
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        HelicopterConfig cfg = rig.controller->helicopterConfig();
        setup(rig, cfg);
        rig.controller->setHelicopterConfig(cfg);
        ButtonMappingSet set;
        for (int channel : std::as_const(mapped)) {
            ButtonMapping mapping;
            mapping.buttonIndex = int(set.mappings.size());
            mapping.channel = channel;
            set.mappings.append(mapping);
        }
        rig.controller->setButtonMappings(set);
        PageHost host(rig);
        QString channels, current, prompt;
        ModalReply reply([&](QDialog *dialog) {
            auto *combo = dialog->findChild<QComboBox *>();
            channels = QStringLiteral("%1..%2 (%3)")
                           .arg(combo->itemText(0), combo->itemText(combo->count() - 1))
                           .arg(combo->count());
            current = combo->currentText();
            prompt = dialog->findChild<QGroupBox *>()->findChild<QLabel *>()->text();
        });
        host.page->openButtonMapping();
        QVERIFY(reply.seen());
        QCOMPARE(channels, QString("CH5..CH16 (12)"));
        QCOMPARE(current, preselected);
        QCOMPARE(prompt, QString("Press a button or hat on your joystick or throttle..."));
    }

    // Cancel leaves the profile file as it was, whatever was edited; OK stores the dialog's record
    // through the controller and the page takes it as its working copy.
    void dialogCancelAndOk_data()
    {
        using Check = std::function<bool(const HelicopterConfig &)>;
        QTest::addColumn<QString>("handler");
        QTest::addColumn<std::function<void(QDialog *)>>("edit");
        QTest::addColumn<Check>("stored");
        // On the throttle: Set Max alone on the centred stick would leave roll no travel, which OK refuses.
        QTest::newRow("mapping and calibration")
            << "openConfigDialog" << std::function<void(QDialog *)>([](QDialog *d) {
                   // Turned to, as a user does: the tab is built then at the latest.
                   d->findChild<QTabWidget *>()->setCurrentIndex(1);
                   for (QGroupBox *group : d->findChildren<QGroupBox *>()) {
                       if (group->title() == "Throttle" && ostratest::withText<QPushButton>(group, "Set Max"))
                           ostratest::withText<QPushButton>(group, "Set Max")->click();
                   }
               })
            << Check([](const HelicopterConfig &c) { return c.calibration.throttle.useCalibration; });
        QTest::newRow("fly settings") << "openFlySettingsDialog" << std::function<void(QDialog *)>([](QDialog *d) {
            d->findChild<QComboBox *>()->setCurrentIndex(2);
        }) << Check([](const HelicopterConfig &c) { return c.fly.dualRates.activeMode == 2; });
        QTest::newRow("curves") << "openCurvesDialog" << std::function<void(QDialog *)>([](QDialog *d) {
            d->findChildren<QSpinBox *>().first()->setValue(37);
        }) << Check([](const HelicopterConfig &c) { return c.fly.pitchCurve.points[0] == 0.37f; });
        QTest::newRow("arming") << "openElrsDialog" << std::function<void(QDialog *)>([](QDialog *d) {
            d->findChild<QCheckBox *>()->click();
        }) << Check([](const HelicopterConfig &c) { return c.fly.arm.enabled; });
    }

    void dialogCancelAndOk()
    {
        using Check = std::function<bool(const HelicopterConfig &)>;
        QFETCH(QString, handler);
        QFETCH(std::function<void(QDialog *)>, edit);
        QFETCH(Check, stored);
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        PageHost host(rig);
        host.button("Save profile")->click();
        const QByteArray before = activeProfileBytes(rig);
        QVERIFY(!before.isEmpty());
        {
            ModalReply reply([&](QDialog *dialog) { edit(dialog); dialog->reject(); });
            QMetaObject::invokeMethod(host.page, handler.toLatin1().constData());
            QVERIFY(reply.seen());
        }
        QCOMPARE(activeProfileBytes(rig), before);
        QVERIFY(!stored(rig.controller->helicopterConfig()));
        {
            ModalReply reply([&](QDialog *dialog) { edit(dialog); dialog->accept(); });
            QMetaObject::invokeMethod(host.page, handler.toLatin1().constData());
            QVERIFY(reply.seen());
        }
        QVERIFY(stored(host.page->workingConfig()));
        QVERIFY(activeProfileBytes(rig) != before);
    }

    // The page follows an accepted dialog at once: the rate selector its rates, the arm button its switch.
    void acceptedDialogsRefreshThePage()
    {
        TransmitRig rig;
        PageHost host(rig);
        {
            ModalReply reply([](QDialog *d) {
                d->findChild<QComboBox *>()->setCurrentIndex(1);
                d->accept();
            });
            host.page->openFlySettingsDialog();
        }
        QCOMPARE(host.rates()->currentIndex(), 1);
        QCOMPARE(rig.controller->heliRateMode(), 1);
        {
            ModalReply reply([](QDialog *d) {
                d->findChild<QCheckBox *>()->click();
                d->accept();
            });
            host.page->openElrsDialog();
        }
        QVERIFY(host.armButton()->isVisibleTo(host.page));
    }

    void roleRowsConnectAndDisconnect()
    {
        TransmitRig rig;
        PageHost host(rig);
        auto *row = host.page->findChildren<ostra::DeviceRow *>().at(HelicopterSetupWidget::ThrottleRole);
        QComboBox *combo = row->combo();
        host.page->connectRoleDevice(HelicopterSetupWidget::ThrottleRole);
        QVERIFY(!rig.controller->isHeliThrottleConnected());
        combo->setCurrentIndex(combo->findData(int(TransmitRig::ThrottlePos)));
        emit row->connectRequested();
        QCOMPARE(row->status(), int(ostra::DeviceConnected));
        emit row->disconnectRequested();
        QVERIFY(!rig.controller->isHeliThrottleConnected());
        QCOMPARE(row->status(), int(ostra::DeviceNotConnected));
    }

    void renderIdle()
    {
        TransmitRig rig;
        PageHost host(rig);
        // A port text wider than its box ends in an ellipsis.
        host.ports()->addItem(QStringLiteral("/dev/serial/by-id/usb-QOR_Transmitter_E6614103E7452D2F-if00"));
        host.ports()->setCurrentIndex(host.ports()->count() - 1);
        QVERIFY(ostratest::TextRecorder::paintedBy(host.ports()).constLast().endsWith(QChar(0x2026)));
        QTest::qWait(100);
        QVERIFY(host.page->grab().toImage().save(heliPicture("page-idle")));
    }

    void renderTransmitting()
    {
        TransmitRig rig;
        QVERIFY(rig.connectHelicopter());
        HelicopterConfig cfg;
        cfg.fly.armAtIdle = false;
        cfg.fly.arm.enabled = true;
        cfg.fly.throttleCurve.enabled = true;
        rig.controller->setHelicopterConfig(cfg);
        ButtonMappingSet mappings;
        mappings.mappings = {TransmitRig::buttonMapping(2, 8, 0, 1700, 300)};
        QVERIFY(rig.controller->setButtonMappings(mappings));
        rig.joystick->setAxis(0, 0.45f);
        rig.joystick->setAxis(4, -0.3f);
        rig.lever->setAxis(5, 0.2f);
        rig.rudder->setAxis(3, -0.15f);
        rig.pollAll();
        PageHost host(rig);
        host.page->refreshFromController();
        QVERIFY(rig.start());
        rig.controller->setHeliArmed(true);
        rig.tick(6);
        host.page->onLiveUpdate();
        // The arm switch on CH5, the motor on CH6, a button on CH9: all sent beside the four controls.
        QCOMPARE(host.status(), QString("Sending CH1\u2013CH6, CH9 to the receiver"));
        QTest::qWait(500);
        QVERIFY(host.page->grab().toImage().save(heliPicture("page-transmitting")));
    }

    void renderDarkTheme() { QVERIFY(renderDarkTwin({"renderIdle", "renderTransmitting", "silentTransmitter", "restingControls",
                                                               "controlsShowWhatIsSent"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestHelicopterSetupWidget)
#include "tst_helicoptersetupwidget.moc"
