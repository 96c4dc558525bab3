#include "receiver/receiversettingspanel.h"

#include "panelprobe.h"

using namespace paneltest;

// The receiver page's actions: the port list and USB connection, console, manual axes, debug
// streams, mode switch and mounting detection, with the boxes answered through the prompt seam.
class TestReceiverSettingsPanelActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void cleanup() { SerialPortLister::setFixedPorts({}); }

    void typedCommands_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("sent");
        const QString dfu = QStringLiteral("! DFU is not available here — use Firmware → Update receiver");
        QTest::newRow("dfu") << "dfu" << dfu << QByteArray();
        QTest::newRow("command with blanks") << "  GPS " << "> GPS" << QByteArray("GPS");
    }

    void typedCommands()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QByteArray, sent);
        ReceiverRig rig;
        // The console needs the open line only, not the settings cycle.
        QVERIFY(rig.openReceiver());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        rig.rx.clearRecords();
        typeCommand(&page, typed);
        QCOMPARE(consoleLines(&page).last(), shown);
        QVERIFY(consoleInput(&page)->text().isEmpty());
        // A marker behind it: whatever the typed line sent arrives before it.
        page.sendConsoleCommand("VER");
        QVERIFY(rig.rx.waitForLine("VER"));
        QList<QByteArray> expected;
        if (!sent.isEmpty())
            expected.append(sent);
        expected.append("VER");
        QCOMPARE(rig.rx.lines(), expected);
    }

    void consoleShowsReceiverLinesAndKeepsTheLast1000()
    {
        ReceiverRig rig;
        QVERIFY(rig.openReceiver());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        QVERIFY(rig.rx.sendLine("IMU: ok, 31.5C"));
        QTRY_VERIFY(consoleLines(&page).contains(QStringLiteral("IMU: ok, 31.5C")));

        // An empty line stays in the field.
        consoleInput(&page)->setText("   ");
        QTest::keyClick(consoleInput(&page), Qt::Key_Return);
        QCOMPARE(consoleInput(&page)->text(), QStringLiteral("   "));

        for (int i = 1; i <= 1001; ++i)
            page.appendConsoleLine(QStringLiteral("line %1").arg(i));
        const QStringList lines = consoleLines(&page);
        QCOMPARE(lines.size(), 1000);
        QCOMPARE(lines.first(), QStringLiteral("line 2"));
    }

    void consoleWithoutReceiver()
    {
        ReceiverRig rig;
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        page.sendConsoleCommand("GPS");
        QCOMPARE(consoleLines(&page), QStringList{"! Connect the receiver first"});
    }

    void mountingByHand_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("lower case, doubled blanks")
            << true << "-y  +x   +z" << "> SET_IMU_AXES -Y +X +Z" << QByteArray("SET_IMU_AXES -Y +X +Z");
        QTest::newRow("no signs") << true << "XYZ" << "! Use three axes like -Y +X +Z" << QByteArray();
        QTest::newRow("cancelled") << false << "-Y +X +Z" << QString() << QByteArray();
    }

    void mountingByHand()
    {
        QFETCH(bool, accepted);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QByteArray, sent);
        ReceiverRig rig;
        QVERIFY(rig.openReceiver());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        rig.rx.clearRecords();
        Prompts prompts;
        prompts.answer(accepted, typed);
        button(&page, "Set mounting by hand…")->click();
        QCOMPARE(prompts.asked.first().prefill, QStringLiteral("-Y +X +Z"));
        QCOMPARE(consoleLines(&page), shown.isEmpty() ? QStringList() : QStringList{shown});
        page.sendConsoleCommand("VER");
        QVERIFY(rig.rx.waitForLine("VER"));
        QCOMPARE(rig.rx.lines(), (sent.isEmpty() ? QList<QByteArray>{"VER"} : QList<QByteArray>{sent, "VER"}));
    }

    void closingThePortStopsTheStreamSilently()
    {
        ReceiverRig rig;
        QVERIFY(rig.openReceiver());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        QPushButton *live = button(&page, "Live stream");
        QPushButton *nmea = button(&page, "Raw NMEA");
        live->click();
        nmea->click();
        QVERIFY(rig.rx.waitForLine("GPS_DEBUG 1"));
        QVERIFY(rig.rx.lines().contains("IMU_DEBUG 1"));
        rig.controller->disconnectReceiver();
        QVERIFY(!nmea->isChecked());
        const QStringList lines = consoleLines(&page);
        QVERIFY(!lines.contains("> IMU_DEBUG 0"));
        QVERIFY(!lines.contains("! Connect the receiver first"));
    }

    void destroyingThePageStopsTheStreams()
    {
        ReceiverRig rig;
        QVERIFY(rig.openReceiver());
        auto page = std::make_unique<ReceiverSettingsPanel>(rig.controller.get());
        page->finishBuilding();
        button(page.get(), "Live stream")->click();
        QVERIFY(rig.rx.waitForLine("IMU_DEBUG 1"));
        rig.rx.clearRecords();
        page.reset();
        QVERIFY(rig.rx.waitForLine("IMU_DEBUG 0"));
        QCOMPARE(rig.rx.lines(), QList<QByteArray>{"IMU_DEBUG 0"});
    }

    void modeSwitch_data()
    {
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::newRow("car while in car mode") << "Car" << 0 << QList<QByteArray>();
        QTest::newRow("helicopter, answered Yes") << "Helicopter" << 1 << QList<QByteArray>{"SET_TYPE 2", "REBOOT"};
    }

    void modeSwitch()
    {
        QFETCH(QString, clicked);
        QFETCH(int, prompts);
        QFETCH(QList<QByteArray>, sent);
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        QVERIFY(label(&page, "The receiver is in car mode."));
        rig.rx.clearRecords();
        Prompts answers;
        answers.answer(true);
        button(&page, clicked)->click();
        QCOMPARE(answers.asked.size(), prompts);
        if (prompts) {
            QCOMPARE(answers.asked.first().text,
                     QStringLiteral("Switch the receiver to helicopter mode? It restarts, and the car's link drops "
                                    "for a moment."));
            QVERIFY(rig.rx.waitForLine("REBOOT"));
            QVERIFY(label(&page, "Saving. The receiver restarts…"));
        } else {
            QTest::qWait(300);
            rig.rx.process();
        }
        QCOMPARE(rig.rx.lines(), sent);
    }

    void modeSwitchRefusedWhileBusy()
    {
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        Prompts answers;
        // Another front end starts the change while the question is open.
        answers.answerAfter([&] { QVERIFY(rig.manager()->setMode("heli")); }, true);
        page.confirmModeSwitch(true);
        QVERIFY(label(&page, "The receiver is busy, try again in a moment."));
        QVERIFY(rig.rx.waitForLine("REBOOT"));
        QCOMPARE(rig.rx.lineCount("SET_TYPE 2"), 1);
    }

    void pageClosedWhileABoxIsOpen()
    {
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        rig.rx.clearRecords();
        auto *page = new ReceiverSettingsPanel(rig.controller.get());
        page->finishBuilding();
        Prompts answers;
        answers.answerAfter([&] { delete page; }, true);
        QPointer<ReceiverSettingsPanel> guard(page);
        page->confirmModeSwitch(true);
        QVERIFY(!guard);
        QTest::qWait(300);
        rig.rx.process();
        QVERIFY(rig.rx.linesStartingWith("SET_TYPE").isEmpty());
    }

    void mountingDetection_data()
    {
        QTest::addColumn<int>("secondBox");
        QTest::addColumn<int>("finalState");
        QTest::addColumn<bool>("noseUpSent");
        // 0 OK, 1 Cancel, 2 the port closes while the box is open and OK is pressed.
        QTest::newRow("both steps") << 0 << int(ReceiverConfigManager::MountingDone) << true;
        QTest::newRow("second box cancelled") << 1 << int(ReceiverConfigManager::MountingNeedNoseUp) << false;
        QTest::newRow("port closed during the second box") << 2 << -1 << false;
    }

    void mountingDetection()
    {
        QFETCH(int, secondBox);
        QFETCH(int, finalState);
        QFETCH(bool, noseUpSent);
        ReceiverRig rig;
        rig.profile()->receiverCaps.firmware = QStringLiteral("4.5.3");
        QVERIFY(rig.openReceiver());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        rig.rx.clearRecords();
        Prompts answers;
        answers.answer(true);
        if (secondBox == 2)
            answers.answerAfter([&] { rig.controller->disconnectReceiver(); }, true);
        else
            answers.answer(secondBox == 0);

        button(&page, "Detect mounting…")->click();
        QVERIFY(rig.rx.waitFor([&] { return answers.asked.size() == 2; }));
        QCOMPARE(answers.titles(), (QStringList{"Detect mounting (1 of 2)", "Detect mounting (2 of 2)"}));
        QCOMPARE(answers.asked.last().text,
                 QStringLiteral("Lift the FRONT of the car about 30° and hold it there, then press OK."));
        if (noseUpSent) {
            QVERIFY(rig.rx.waitFor([&] { return rig.manager()->mountingState() == finalState; }));
        }
        QVERIFY(!page.mountingPending());
        if (finalState >= 0)
            QCOMPARE(rig.manager()->mountingState(), finalState);
        QCOMPARE(rig.rx.lineCount("IMU_ORIENT NOSEUP"), noseUpSent ? 1 : 0);
        QCOMPARE(rig.rx.lineCount("IMU_ORIENT FLAT"), 1);
    }

    void gyroCalibration_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }

    void gyroCalibration()
    {
        QFETCH(bool, yes);
        ReceiverRig rig;
        rig.profile()->receiverCaps.firmware = QStringLiteral("4.5.3");
        QVERIFY(rig.openReceiver());
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        Prompts answers;
        answers.answer(yes);
        button(&page, "Calibrate gyro")->click();
        if (yes) {
            QVERIFY(rig.rx.waitForLine("IMU_CAL"));
            QVERIFY(label(&page, "Calibrating: keep the car still…"));
        } else {
            page.sendConsoleCommand("VER");
            QVERIFY(rig.rx.waitForLine("VER"));
            QCOMPARE(rig.rx.lines(), QList<QByteArray>{"VER"});
        }
    }

    void portList_data()
    {
        QTest::addColumn<QList<SerialPortEntry>>("ports");
        QTest::addColumn<QStringList>("items");
        SerialPortEntry plain;
        plain.portName = "/dev/ttyACM0";
        SerialPortEntry described;
        described.portName = "/dev/ttyACM1";
        described.description = "QOR Receiver";
        QTest::newRow("none") << QList<SerialPortEntry>() << QStringList{"No serial ports found"};
        QTest::newRow("two") << QList<SerialPortEntry>{plain, described}
                             << QStringList{"/dev/ttyACM0", "/dev/ttyACM1 — QOR Receiver"};
    }

    void portList()
    {
        QFETCH(QList<SerialPortEntry>, ports);
        QFETCH(QStringList, items);
        ReceiverRig rig;
        SerialPortLister::setFixedPorts({});
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        SerialPortLister::setFixedPorts(ports);
        button(&page, "Refresh")->click();
        auto *combo = page.findChild<QComboBox *>();
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown.append(combo->itemText(i));
        QCOMPARE(shown, items);
        // The chosen port stays chosen through a refresh.
        combo->setCurrentIndex(combo->count() - 1);
        const QString chosen = combo->currentData().toString();
        button(&page, "Refresh")->click();
        QCOMPARE(combo->currentData().toString(), chosen);
        // Connect with nothing to open does nothing.
        if (chosen.isEmpty()) {
            button(&page, "Connect")->click();
            QVERIFY(!rig.controller->isReceiverConnected());
        }
    }

    void portThatCannotOpen()
    {
        ReceiverRig rig;
        SerialPortEntry missing;
        missing.portName = QStringLiteral("/dev/ostra-no-such-port");
        missing.vendorId = 0x2E8A;
        SerialPortLister::setFixedPorts({missing});
        ReceiverSettingsPanel page(rig.controller.get());
        page.finishBuilding();
        button(&page, "Connect")->click();
        // The system's reason, not a guess.
        QVERIFY(label(&page, "Could not open /dev/ostra-no-such-port. No such file or directory"));
    }};

OSTRA_TEST_MAIN_WIDGETS(TestReceiverSettingsPanelActions)
#include "tst_receiversettingspanel_actions.moc"
