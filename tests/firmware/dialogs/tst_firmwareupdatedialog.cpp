#include "firmware/dialogs/firmwareupdatedialog.h"

#include "bridge/corvanecontroller.h"
#include "messageboxanswerer.h"
#include "ostraui/theme.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "support/httpserver.h"
#include "support/simulatedrp2040.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"
#include "support/widgets/widgetlookup.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <memory>

using corvane::CorvaneController;
using corvane::FirmwareTarget;
using corvane::FirmwareUpdateDialog;
using corvane::SerialPortEntry;
using corvane::SerialPortLister;
using ostratest::HttpServer;
using ostratest::MessageBoxAnswerer;
using ostratest::SimulatedRp2040;

namespace {

constexpr int Patience = 10000;

QString picture(const QString &name) { return ostratest::themedPicture("firmware", name); }

QLabel *label(QDialog &dialog, const char *name) { return dialog.findChild<QLabel *>(QLatin1String(name)); }
QPushButton *startButton(QDialog &dialog) { return dialog.findChild<QPushButton *>("startBtn"); }
QString status(QDialog &dialog) { return label(dialog, "statusLabel")->text(); }

QPushButton *buttonNamed(QDialog &dialog, const QString &text) { return ostratest::withText<QPushButton>(&dialog, text); }

} // namespace

class TestFirmwareUpdateDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<CorvaneController> m_controller;
    CorvaneController *c() { return m_controller.get(); }

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void init()
    {
        corvane::SettingsFile().remove(QString());
        m_http = std::make_unique<HttpServer>();
        corvane::SettingsFile().setValue(QLatin1String(corvane::FirmwareUpdateProcedure::BaseUrlSetting), m_http->baseUrl());
        SerialPortLister::setFixedPorts({});
        m_controller = std::make_unique<CorvaneController>();
    }

    void cleanup()
    {
        m_controller.reset();
        m_http.reset();
        SerialPortLister::useSystemPorts();
    }

    void layoutPerTarget_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("firstStep");
        QTest::newRow("receiver") << 0 << "QOR Receiver Firmware Update" << "Connect the <b style='color:#0F1720;'>QOR Receiver</b> to your computer using a USB-C cable.";
        QTest::newRow("transmitter") << 1 << "QOR Transmitter Firmware Update" << "Remove the lid of the QOR Transmitter and locate the small <b style='color:#0F1720;'>MCU board</b> with a USB-C port.";
        QTest::newRow("software") << 2 << "QOR Transmitter Software Firmware Update" << "Connect the <b style='color:#0F1720;'>QOR Transmitter</b> to your computer using a USB-C cable.";
    }

    void layoutPerTarget()
    {
        QFETCH(int, target);
        QFETCH(QString, title);
        QFETCH(QString, firstStep);
        FirmwareUpdateDialog dialog(c(), FirmwareTarget(target));
        QCOMPARE(dialog.windowTitle(), title);
        const QString html = FirmwareUpdateDialog::infoTableHtml(FirmwareTarget(target));
        QVERIFY(html.startsWith("<table cellspacing='0' cellpadding='4' style='color:#0F1720;'><tr><td style='color:#0F1720; font-weight:bold; vertical-align:top; padding-right:8px;'>1.</td><td>" + firstStep + "</td></tr>"));
        QVERIFY(html.endsWith("4.</td><td>" + QString(target == 0 ? "Press <b style='color:#0F1720;'>Check for Updates</b> below to start the flash." : "Press <b style='color:#0F1720;'>Check for Updates</b> below.") + "</td></tr></table>"));
        QCOMPARE(label(dialog, "instructionsLabel")->text(), html);
        QCOMPARE(status(dialog), QString("Make sure the %1 is connected, then press Check for Updates.")
                                     .arg(title.chopped(int(qstrlen(" Firmware Update")))));
    }

    // The steps name what is on this screen: the button that starts the run, and no tool of
    // another system.
    void stepsNameWhatIsThere_data()
    {
        QTest::addColumn<int>("target");
        for (int target : {0, 1, 2, 3})
            QTest::addRow("target %d", target) << target;
    }

    void stepsNameWhatIsThere()
    {
        QFETCH(int, target);
        FirmwareUpdateDialog dialog(c(), FirmwareTarget(target));
        const QString steps = label(dialog, "instructionsLabel")->text() + status(dialog);
        QVERIFY(steps.contains(startButton(dialog)->text()));
        QVERIFY(!steps.contains("Device Manager"));
        QVERIFY(!steps.contains("press Start", Qt::CaseInsensitive));
        QVERIFY(!steps.contains(">Start<"));
    }

    void receiverWithoutPorts()
    {
        FirmwareUpdateDialog dialog(c(), corvane::FirmwareReceiver);
        auto *ports = dialog.findChild<QComboBox *>();
        QCOMPARE(ports->itemText(0), QString("No serial ports detected"));
        QVERIFY(!startButton(dialog)->isEnabled());
        QVERIFY(ostratest::withText<QLabel>(&dialog, "Plug the receiver into USB, then press Refresh."));
        // Nothing to connect to: a red hint, no run.
        buttonNamed(dialog, "Connect")->click();
        QVERIFY(!c()->isReceiverConnected());
    }

    void receiverConnectCard_data()
    {
        QTest::addColumn<bool>("openBefore");
        QTest::newRow("opened by the dialog") << false;
        QTest::newRow("open before") << true;
    }

    void receiverConnectCard()
    {
        QFETCH(bool, openBefore);
        SimulatedRp2040 other(QStringLiteral("1.0.0"), QStringLiteral("ttyACM7"));
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        if (openBefore)
            QVERIFY(c()->connectReceiver(board.portName(), 115200));
        {
            FirmwareUpdateDialog dialog(c(), corvane::FirmwareReceiver);
            auto *ports = dialog.findChild<QComboBox *>();
            if (!openBefore) {
                ports->setCurrentIndex(ports->findData(board.portName()));
                // Refreshing keeps the pick.
                buttonNamed(dialog, "Refresh")->click();
                QCOMPARE(ports->currentData().toString(), board.portName());
                QVERIFY(!startButton(dialog)->isEnabled());
                buttonNamed(dialog, "Connect")->click();
            }
            QVERIFY(c()->isReceiverConnected());
            QCOMPARE(dialog.openedReceiver(), !openBefore);
            QVERIFY(startButton(dialog)->isEnabled());
        }
        QCOMPARE(c()->isReceiverConnected(), openBefore);
    }

    void decliningEndsDone()
    {
        m_http->setResponse("/qor-transmitter-firmware-updater/main/VERSION.md", HttpServer::ok("1.4.3"));
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        QVERIFY(c()->connectTransmitter(board.portName(), 115200));
        FirmwareUpdateDialog dialog(c(), corvane::FirmwareTransmitter);
        MessageBoxAnswerer answerer(QMessageBox::No);
        startButton(dialog)->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.state(), corvane::FirmwareDone, Patience);
        QCOMPARE(answerer.asked, QStringList({ "Update Available|A new version is available.\n\nCurrent: 1.4.2\n"
                                               "Latest:  1.4.3\n\nDo you want to update now?" }));
        QCOMPARE(status(dialog), QString("Update canceled. You can check again anytime."));
        QCOMPARE(board.lineCount("DFU"), 0);
    }

    void errorThenRetry()
    {
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setVersionReply(QByteArray(""));
        FirmwareUpdateDialog dialog(c(), corvane::FirmwareTransmitter);
        startButton(dialog)->click();
        QCOMPARE(status(dialog), QString("Error: QOR Transmitter is not connected."));
        QCOMPARE(label(dialog, "detailLabel")->text(), QString("Press Retry to try again."));
        QCOMPARE(startButton(dialog)->text(), QString("Retry"));

        QVERIFY(c()->connectTransmitter(board.portName(), 115200));
        startButton(dialog)->click();
        QCOMPARE(label(dialog, "detailLabel")->text(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(board.lineCount("VER") == 1, Patience);
    }

    // A check that fails once under way leaves no bar behind and points at the Retry beside it.
    void failedCheckLeavesNoBar()
    {
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        QVERIFY(c()->connectTransmitter(board.portName(), 115200));
        FirmwareUpdateDialog dialog(c(), corvane::FirmwareTransmitter);
        auto *bar = dialog.findChild<QProgressBar *>();
        startButton(dialog)->click();
        QTRY_VERIFY_WITH_TIMEOUT(bar->isVisibleTo(&dialog), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.state(), corvane::FirmwareError, Patience);
        QVERIFY(!bar->isVisibleTo(&dialog));
        QCOMPARE(label(dialog, "detailLabel")->text(), QString("Press Retry to try again."));
        QCOMPARE(startButton(dialog)->text(), QString("Retry"));
    }

    // The transmitter's error texts are shown as they come, never as markup.
    void transmitterTextsArePlain()
    {
        ostratest::SimulatedTransmitter tx;
        tx.scriptReplies("SOC_VER", { "SOC_UPDATE_ERROR:<b>x</b>\r\n" });
        QVERIFY(c()->connectTransmitter(tx.portName(), 115200));
        FirmwareUpdateDialog dialog(c(), corvane::FirmwareTransmitterSoftware);
        startButton(dialog)->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.state(), corvane::FirmwareError, Patience);
        QCOMPARE(status(dialog), QString("Error: <b>x</b>"));
        QCOMPARE(label(dialog, "statusLabel")->textFormat(), Qt::PlainText);
        QCOMPARE(label(dialog, "detailLabel")->textFormat(), Qt::PlainText);
    }

    void abQuestionIsPlain()
    {
        ostratest::SimulatedTransmitter tx;
        tx.scriptReplies("SOC_OTA_CHECK", { "SOC_OTA_CHECK:{\"ok\":true,\"current_version\":\"1.0\",\"latest_version\":\"1.1\","
                                            "\"update_available\":true,\"notes\":\"<i>fast</i>\"}\r\n" });
        QVERIFY(c()->connectTransmitter(tx.portName(), 115200));
        FirmwareUpdateDialog dialog(c(), corvane::FirmwareTransmitterSoftwareV2);
        MessageBoxAnswerer answerer(QMessageBox::Yes);
        startButton(dialog)->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.state(), corvane::FirmwareOtaInstalling, Patience);
        QVERIFY(answerer.asked.value(0).contains("What's new:\n<i>fast</i>"));
        QCOMPARE(answerer.formats.value(0), Qt::PlainText);
        QCOMPARE(startButton(dialog)->text(), QString("Cancel"));
        startButton(dialog)->click();
        QCOMPARE(status(dialog), QString("Cancelling update..."));
        QTRY_VERIFY_WITH_TIMEOUT(tx.lineCount("SOC_OTA_CANCEL") == 1, Patience);
    }

    void abRestartQuestion_data()
    {
        QTest::addColumn<int>("restart");
        QTest::addColumn<int>("reboots");
        QTest::addColumn<QString>("text");
        QTest::newRow("Yes") << int(QMessageBox::Yes) << 1 << "Update installed. The transmitter is restarting...";
        QTest::newRow("No") << int(QMessageBox::No) << 0 << "Update installed.\nRestart the transmitter to apply it.";
    }

    // After an A/B install the user is asked before the transmitter restarts.
    void abRestartQuestion()
    {
        QFETCH(int, restart);
        QFETCH(int, reboots);
        QFETCH(QString, text);
        ostratest::SimulatedTransmitter tx;
        tx.scriptReplies("SOC_OTA_CHECK", { "SOC_OTA_CHECK:{\"ok\":true,\"current_version\":\"1.0\",\"latest_version\":\"1.1\","
                                            "\"update_available\":true}\r\n" });
        tx.scriptReplies("SOC_OTA_START", { "SOC_OTA_START:{\"ok\":true}\r\n" });
        tx.scriptReplies("SOC_OTA_STATUS", { "SOC_OTA_STATUS:{\"state\":\"success\"}\r\n" });
        QVERIFY(c()->connectTransmitter(tx.portName(), 115200));
        FirmwareUpdateDialog dialog(c(), corvane::FirmwareTransmitterSoftwareV2);
        MessageBoxAnswerer answerer;
        answerer.replies = { QMessageBox::Yes, QMessageBox::StandardButton(restart) };
        startButton(dialog)->click();
        QTRY_COMPARE_WITH_TIMEOUT(answerer.asked.size(), 2, Patience);
        QCOMPARE(answerer.asked.at(1), QString("Update Installed|The update was installed successfully.\n\nThe transmitter "
                                               "must restart to boot the new firmware. Restart now?"));
        QTRY_COMPARE_WITH_TIMEOUT(status(dialog), text, Patience);
        QCOMPARE(dialog.state(), corvane::FirmwareDone);
        QTest::qWait(20);
        tx.process();
        QCOMPARE(tx.lineCount("SOC_OTA_REBOOT"), reboots);
    }

    void render_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("state");
        for (int target = 0; target < 4; ++target) {
            for (const char *state : { "idle", "error", "done" })
                QTest::newRow(qPrintable(QStringLiteral("%1-%2").arg(target).arg(state))) << target << QString(state);
        }
    }

    void render()
    {
        QFETCH(int, target);
        QFETCH(QString, state);
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        FirmwareUpdateDialog dialog(c(), FirmwareTarget(target));
        if (state == "error") {
            startButton(dialog)->setEnabled(true);
            startButton(dialog)->click();
            QCOMPARE(dialog.state(), corvane::FirmwareError);
        } else if (state == "done") {
            dialog.findChild<QFrame *>("instructionsCard")->hide();
            if (auto *card = dialog.findChild<QFrame *>("receiverConnectCard"))
                card->hide();
            label(dialog, "detailLabel")->setText("Current: 1.4.2\nLatest:  1.4.3");
            dialog.showDone("Updated successfully!\nVersion: 1.4.3");
        }
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(dialog.sizeHint());
        const QImage image = dialog.grab().toImage();
        QVERIFY(image.save(picture(QStringLiteral("firmware-dialog-%1-%2").arg(target).arg(state))));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("firmware", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestFirmwareUpdateDialog)
#include "tst_firmwareupdatedialog.moc"
