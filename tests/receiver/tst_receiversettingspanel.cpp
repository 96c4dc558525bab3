#include "receiver/receiversettingspanel.h"

#include "panelprobe.h"
#include "receiver/hintlabel.h"

using namespace paneltest;

enum Situation { NoReceiverCar, NoReceiverHeli, KnownV4, UsbNotSynced, OlderReceiver, OldGpsRate };
Q_DECLARE_METATYPE(Situation)

// The receiver page: enabling from the receiver's situation, settings writes, the Advanced
// section and its looks.
class TestReceiverSettingsPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void cleanup() { SerialPortLister::setFixedPorts({}); }

    void enabling_data()
    {
        QTest::addColumn<Situation>("situation");
        QTest::addColumn<QStringList>("enabled");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("gyroStatus");
        QTest::addColumn<QString>("gpsRate");

        const QStringList hud = {"Enable OSD", "Top speed", "Acceleration", "Braking"};
        const QStringList v4Only = {"GPS", "Motion", "Update rate", "GPS frame", "Attitude frame", "G-force frame",
                                    "G-force rate"};
        const QStringList tools = {"Calibrate gyro", "Detect mounting…"};
        const QStringList all = hud + v4Only + QStringList{"G-forces on radio screens"} + tools;
        QTest::newRow("no receiver, car profile")
            << NoReceiverCar << hud << v4Only + QStringList{"G-forces on radio screens"} + tools << OlderHint
            << ConnectFirst << "Module default";
        QTest::newRow("no receiver, helicopter profile")
            << NoReceiverHeli << QStringList() << all << V4Hint << ConnectFirst << "Module default";
        QTest::newRow("no receiver, V4 known from before")
            << KnownV4 << hud + v4Only << QStringList{"G-forces on radio screens"} + tools << QString() << ConnectFirst
            << "Module default";
        QTest::newRow("USB connected, not synced")
            << UsbNotSynced << hud + v4Only + tools << QStringList{"G-forces on radio screens"} << QString()
            << QString() << "Module default";
        QTest::newRow("older car receiver")
            << OlderReceiver << hud << v4Only + QStringList{"G-forces on radio screens"} + tools << OlderHint
            << ConnectFirst << "Module default";
        QTest::newRow("profile with a 3 Hz GPS rate")
            << OldGpsRate << hud + v4Only << QStringList{"G-forces on radio screens"} + tools << QString()
            << ConnectFirst << "Module default";
    }

    void enabling()
    {
        QFETCH(Situation, situation);
        QFETCH(QStringList, enabled);
        QFETCH(QStringList, disabled);
        QFETCH(QString, hint);
        QFETCH(QString, gyroStatus);
        QFETCH(QString, gpsRate);

        ReceiverRig rig;
        ReceiverCaps &caps = rig.profile()->receiverCaps;
        if (situation == NoReceiverHeli)
            rig.profile()->vehicleType = QString(VehicleType::Helicopter);
        if (situation == KnownV4 || situation == UsbNotSynced || situation == OldGpsRate)
            caps.firmware = QStringLiteral("4.5.3");
        if (situation == OlderReceiver)
            caps.firmware = QStringLiteral("1.9.1");
        if (situation == OldGpsRate)
            rig.profile()->receiverSettings.gpsRateHz = 3;
        if (situation == UsbNotSynced) {
            rig.rx.setSilent(true);
            listReceiverPort(rig);
        }

        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        if (situation == UsbNotSynced) {
            QVERIFY(button(&page, "Connect")->property("primary").toBool());
            QCOMPARE(page.findChild<QComboBox *>()->currentText(), rig.rx.portName() + " — QOR Receiver");
            button(&page, "Connect")->click();
            QVERIFY(rig.manager()->isUsbConnected());
            QVERIFY(!rig.manager()->isSynced());
            QVERIFY(button(&page, "Disconnect"));
            QVERIFY(!button(&page, "Disconnect")->property("primary").toBool());
            QVERIFY(consoleInput(&page)->isEnabled());
        } else {
            QVERIFY(!consoleInput(&page)->isEnabled());
        }

        for (const QString &name : enabled) {
            QWidget *w = control(&page, name);
            QVERIFY2(w, qPrintable(name));
            QVERIFY2(w->isEnabled(), qPrintable(name + " should be enabled"));
        }
        for (const QString &name : disabled) {
            QWidget *w = control(&page, name);
            QVERIFY2(w, qPrintable(name));
            QVERIFY2(!w->isEnabled(), qPrintable(name + " should be disabled"));
        }
        QLabel *featuresHint = label(&page, hint.isEmpty() ? V4Hint : hint);
        QVERIFY(featuresHint || hint.isEmpty());
        if (!hint.isEmpty())
            QVERIFY(!featuresHint->isHidden());
        else if (featuresHint)
            QVERIFY(featuresHint->isHidden());
        const QList<QLabel *> labels = page.findChildren<QLabel *>();
        const int statusLabels = int(std::count_if(labels.cbegin(), labels.cend(),
                                                   [](QLabel *l) { return l->text() == ConnectFirst; }));
        QCOMPARE(statusLabels, gyroStatus.isEmpty() ? 0 : 2);
        QCOMPARE(control(&page, "Update rate")->property("currentText").toString(), gpsRate);
        QCOMPARE(ostratest::shortDashes(&page), QStringList());
    }

    // Folded away, the advanced settings come in a pass after the page, in their place in the tab
    // order; unfolding them or a console line builds them at once.
    void advancedBuiltAfterThePage_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("next pass") << "pass";
        QTest::newRow("unfolded") << "unfold";
        QTest::newRow("console line") << "console";
    }

    void advancedBuiltAfterThePage()
    {
        QFETCH(QString, how);
        ReceiverRig rig;
        corvane::SettingsFile().setValue("ui/receiverAdvanced", false);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *page = new ReceiverSettingsPanel(rig.controller.get(), &window);
        layout->addWidget(page);
        layout->addWidget(new QPushButton("Close", &window));
        QVERIFY(!button(page, "Live stream"));
        QVERIFY(!console(page));
        if (how == "pass") {
            QTRY_VERIFY(button(page, "Live stream"));
        } else if (how == "unfold") {
            button(page, "Show")->click();
            QVERIFY(button(page, "Live stream"));
            QVERIFY(consoleInput(page)->isVisibleTo(page));
        } else {
            page->appendConsoleLine("GPS: no fix");
            QCOMPARE(consoleLines(page), QStringList{"GPS: no fix"});
        }
        // After the fold's button come its settings, the window's own button after them.
        QList<QWidget *> focusable;
        for (QWidget *w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus)
                focusable << w;
        }
        const qsizetype fold = focusable.indexOf(button(page, how == "unfold" ? "Hide" : "Show"));
        QVERIFY(fold >= 0);
        QCOMPARE(focusable.at(fold + 1), control(page, "Update rate"));
        QCOMPARE(qobject_cast<QPushButton *>(focusable.last())->text(), QString("Close"));
    }

    // A hint keeps the heights it laid out per width; what changes its text, font or style lays it
    // out anew, as a plain label would.
    void hintHeightFollowsItsText_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("unchanged") << "";
        QTest::newRow("longer text") << "text";
        QTest::newRow("larger font") << "font";
        QTest::newRow("padded by its style") << "style";
    }

    void hintHeightFollowsItsText()
    {
        QFETCH(QString, change);
        QWidget host;
        QLabel *hint = corvane::makeHintLabel(QString("A hint that wraps. ").repeated(6), &host);
        QLabel plain(hint->text());
        plain.setWordWrap(true);
        plain.setStyleSheet(hint->styleSheet());
        const QList<int> widths = {120, 200, 320, 480, 200, 120};
        for (int width : widths)
            QCOMPARE(hint->heightForWidth(width), plain.heightForWidth(width));
        for (QLabel *label : {hint, &plain}) {
            if (change == "text")
                label->setText(label->text().repeated(3));
            else if (change == "font")
                label->setStyleSheet(label->styleSheet() + "font-size: 14pt;");
            else if (change == "style")
                label->setStyleSheet(label->styleSheet() + "padding: 9px;");
        }
        for (int width : widths)
            QCOMPARE(hint->heightForWidth(width), plain.heightForWidth(width));
    }

    void motionSwitchWritesBothFields()
    {
        ReceiverRig rig;
        rig.profile()->receiverCaps.firmware = QStringLiteral("4.5.3");
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        QSignalSpy stored(rig.manager(), &ReceiverConfigManager::settingsChanged);
        ostra::Toggle *motion = toggle(&page, "Motion");
        QVERIFY(motion->isChecked());
        motion->click();
        QCOMPARE(stored.count(), 1);
        const QJsonObject onDisk = storedReceiverSettings(rig);
        QCOMPARE(onDisk.value("imuTelem").toBool(true), false);
        QCOMPARE(onDisk.value("motionTelem").toBool(true), false);
        QVERIFY(!toggle(&page, "Attitude frame")->isChecked());
        QVERIFY(!toggle(&page, "G-force frame")->isChecked());
        // One of the two frames back on shows Motion on again.
        toggle(&page, "G-force frame")->click();
        QVERIFY(motion->isChecked());
        QCOMPARE(storedReceiverSettings(rig).value("motionTelem").toBool(), true);
        QCOMPARE(storedReceiverSettings(rig).value("imuTelem").toBool(true), false);
    }

    void hudComboReachesTheReceiver()
    {
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        rig.rx.clearRecords();
        auto *top = qobject_cast<QComboBox *>(control(&page, "Top speed"));
        QVERIFY(top && top->isEnabled());
        QCOMPARE(top->currentText(), QStringLiteral("60 km/h"));
        top->setFocus();
        QTest::keyClick(top, Qt::Key_Down);
        QVERIFY(rig.rx.waitFor([&] { return !rig.rx.linesStartingWith("SET_HUD_SPEED").isEmpty(); }));
        QCOMPARE(rig.rx.linesStartingWith("SET_HUD_SPEED").first(), QByteArray("SET_HUD_SPEED 65 30 60"));
        QCOMPARE(storedReceiverSettings(rig).value("hudTopKmh").toInt(), 65);
        QCOMPARE(top->currentText(), QStringLiteral("65 km/h"));
    }

    void render_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("no receiver") << "receiver-panel-none";
        QTest::newRow("USB synced") << "receiver-panel-usb";
        QTest::newRow("older receiver") << "receiver-panel-older";
        QTest::newRow("advanced shown") << "receiver-panel-advanced";
    }

    void render()
    {
        QFETCH(QString, name);
        ReceiverRig rig;
        const bool usb = name.endsWith("usb") || name.endsWith("advanced");
        if (name.endsWith("older"))
            rig.profile()->receiverCaps.firmware = QStringLiteral("1.9.2");
        listReceiverPort(rig);
        if (usb)
            QVERIFY(rig.syncOverUsb());
        corvane::SettingsFile().setValue("ui/receiverAdvanced", name.endsWith("advanced"));

        QWidget host;
        host.setAutoFillBackground(true);
        auto *layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *page = new ReceiverSettingsPanel(rig.controller.get(), &host);
        page->finishBuilding();
        layout->addWidget(page);
        if (usb) {
            page->sendConsoleCommand("GPS");
            QVERIFY(rig.rx.waitForLine("GPS"));
        }
        host.setFixedWidth(720);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        // Wrapped hints need the height for this width, not the minimum.
        host.resize(720, host.heightForWidth(720));
        QCoreApplication::processEvents();
        const QImage image = host.grab().toImage();
        QVERIFY(image.height() > 600);
        QVERIFY(image.save(picture(name)));
        corvane::SettingsFile().remove("ui/receiverAdvanced");
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("receiver", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestReceiverSettingsPanel)
#include "tst_receiversettingspanel.moc"
