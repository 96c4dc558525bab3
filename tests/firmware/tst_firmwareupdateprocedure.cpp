#include "firmware/firmwareupdateprocedure.h"

#include "bridge/corvanecontroller.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/volumelister.h"
#include "platform/storage/settingsfile.h"
#include "support/firmwarefixtures.h"
#include "support/httpserver.h"
#include "support/simulatedrp2040.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <csignal>
#include <memory>

#include <sys/resource.h>

using corvane::CorvaneController;
using corvane::FirmwareQuestion;
using corvane::FirmwareReport;
using corvane::FirmwareUpdateProcedure;
using corvane::SerialPortLister;
using corvane::VolumeLister;
using ostratest::HttpServer;
using ostratest::SimulatedRp2040;
using ostratest::SimulatedTransmitter;

using ostratest::TimerGate;
using ostratest::uf2Image;

namespace {

constexpr int Patience = 10000;
const QString ReceiverDir = QStringLiteral("/qor-receiver-firmware-updater/main/");
const QString TransmitterDir = QStringLiteral("/qor-transmitter-firmware-updater/main/");
const QString SocVersion = QStringLiteral("/qor-transmitter-soc-updater/master/VERSION.md");

QString column(const FirmwareReport &r)
{
    return r.message + QLatin1Char('|') + r.stateName + QLatin1Char('|') + QString::number(r.handlerProgress);
}

QString dialogColumn(const FirmwareReport &r)
{
    static const char *const lines[] = { "-", "status", "detail" };
    return r.text + QLatin1Char('|') + QLatin1String(lines[r.line]) + QLatin1Char('|') + QString::number(r.progress);
}

FirmwareUpdateProcedure::Options handlerOptions()
{
    FirmwareUpdateProcedure::Options options;
    options.askBeforeUpdate = false;
    options.checkPortAtStart = false;
    options.versionLinesFromBothDevices = true;
    options.socErrorInAnyState = false;
    return options;
}

} // namespace

class TestFirmwareUpdateProcedure : public QObject
{
    Q_OBJECT

    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<CorvaneController> m_controller;
    std::unique_ptr<FirmwareUpdateProcedure> m_proc;
    TimerGate m_gate;
    QList<FirmwareReport> m_reports;
    QList<FirmwareQuestion> m_questions;

    CorvaneController *c() { return m_controller.get(); }
    FirmwareUpdateProcedure *proc() { return m_proc.get(); }

    void makeProcedure(const FirmwareUpdateProcedure::Options &options = {})
    {
        m_proc = std::make_unique<FirmwareUpdateProcedure>(c(), options);
        for (const char *name : { "pollTimer", "bootloaderWaitTimer", "rebootTimer" })
            m_proc->findChild<QTimer *>(QLatin1String(name))->installEventFilter(&m_gate);
        connect(m_proc.get(), &FirmwareUpdateProcedure::report, this,
                [this](const FirmwareReport &r) { m_reports.append(r); });
        connect(m_proc.get(), &FirmwareUpdateProcedure::questionAsked, this,
                [this](const FirmwareQuestion &q) { m_questions.append(q); });
    }

    QTimer *timer(const char *name) { return m_proc->findChild<QTimer *>(QLatin1String(name)); }

    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            QVERIFY(QMetaObject::invokeMethod(proc(), "onPollTimer"));
    }

    void serveFirmware(const QString &dir, const QByteArray &version, const QByteArray &image)
    {
        m_server->setResponse(dir + QLatin1String("VERSION.md"), HttpServer::ok(version));
        m_server->setResponse(dir + QLatin1String("firmware.uf2"), HttpServer::ok(image));
    }

    // Waits for the update question and says Yes.
    void acceptOffer()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_questions.size(), 1, Patience);
        QCOMPARE(m_questions.constLast().kind, FirmwareQuestion::UpdateOffered);
        m_questions.clear();
        proc()->answerQuestion(true);
    }

    // The drive has gone: the port is found, its 2000 ms pass, and the port is opened again.
    void reconnectAfterReboot()
    {
        tick();
        QVERIFY(timer("rebootTimer")->isActive());
        QVERIFY(QMetaObject::invokeMethod(proc(), "reconnectDevice"));
        tick();
    }

    FirmwareReport lastReport() const { return m_reports.isEmpty() ? FirmwareReport() : m_reports.constLast(); }

    // Runs a receiver update up to the point where the image sits on the drive.
    void runToCopied(SimulatedRp2040 &board)
    {
        QVERIFY(c()->connectReceiver(board.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareReceiver);
        proc()->checkCurrentVersion();
        acceptOffer();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareEnteringDfu, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(board.lineCount("DFU") == 1, Patience);
        QVERIFY(QMetaObject::invokeMethod(proc(), "onBootloaderWaitElapsed"));
        tick();
        QCOMPARE(proc()->state(), corvane::FirmwareWaitingForReboot);
    }

private slots:
    void init()
    {
        corvane::SettingsFile().remove(QString());
        m_server = std::make_unique<HttpServer>();
        corvane::SettingsFile().setValue(QLatin1String(FirmwareUpdateProcedure::BaseUrlSetting), m_server->baseUrl());
        SerialPortLister::setFixedPorts({});
        VolumeLister::setFixedVolumes({});
        m_controller = std::make_unique<CorvaneController>();
        m_reports.clear();
        m_questions.clear();
        makeProcedure();
    }

    void cleanup()
    {
        m_proc.reset();
        m_controller.reset();
        m_server.reset();
        SerialPortLister::useSystemPorts();
        VolumeLister::useSystemVolumes();
    }

    void uf2TransmitterEndToEnd()
    {
        const QByteArray image = uf2Image(40);
        serveFirmware(TransmitterDir, "1.4.3\n", image);
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setVersionAfterUpdate(QStringLiteral("1.4.3"));
        QVERIFY(c()->connectTransmitter(board.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareTransmitter);
        proc()->checkCurrentVersion();
        // Version and published version come in by themselves; after Yes the image, then "DFU".
        QTRY_COMPARE_WITH_TIMEOUT(m_questions.size(), 1, Patience);
        QCOMPARE(m_questions.first().title, QStringLiteral("Update Available"));
        QCOMPARE(m_questions.first().text, QStringLiteral("A new version is available.\n\nCurrent: 1.4.2\n"
                                                          "Latest:  1.4.3\n\nDo you want to update now?"));
        QCOMPARE(board.lineCount("DFU"), 0);
        acceptOffer();
        QTRY_VERIFY_WITH_TIMEOUT(board.lineCount("DFU") == 1, Patience);
        QVERIFY(QMetaObject::invokeMethod(proc(), "onBootloaderWaitElapsed"));
        tick(); // the drive is there: the image goes onto it
        QTRY_VERIFY_WITH_TIMEOUT(board.rebooted(), Patience);
        QCOMPARE(board.receivedImage(), image);

        tick(); // drive gone, port back under its name
        QVERIFY(QMetaObject::invokeMethod(proc(), "reconnectDevice"));
        tick();
        QCOMPARE(c()->serialPortName(), board.portName());
        QTRY_VERIFY_WITH_TIMEOUT(board.lineCount("VER") == 2, Patience); // asked again after the reboot
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareDone, Patience);

        QStringList handler;
        QStringList dialog;
        int downloadSteps = 0;
        for (const FirmwareReport &r : std::as_const(m_reports)) {
            if (r.message.startsWith(QLatin1String("Downloading update... "))) {
                ++downloadSteps;
                QVERIFY(r.handlerProgress >= 25 && r.handlerProgress <= 50);
                QCOMPARE(r.progress, r.handlerProgress);
                continue;
            }
            handler << column(r);
            if (!r.text.isEmpty())
                dialog << dialogColumn(r);
        }
        QVERIFY(downloadSteps > 0);
        QCOMPARE(handler, ostratest::uf2HandlerReports());
        const QStringList expectedDialog = {
            "Checking current version...|status|5",
            "Current version: 1.4.2|detail|10",
            "Checking for updates...|status|15",
            "Current: 1.4.2\nLatest:  1.4.3|detail|20",
            "New update available! 1.4.2 → 1.4.3|status|-1",
            "Downloading update...|status|25",
            "Preparing device for update...|status|55",
            "Waiting for device...|status|60",
            "Device ready|detail|-1",
            "Installing update...|status|70",
            "Update applied. Device restarting...|status|90",
            "Device restarting...|status|-1",
            "Device found. Starting up...|status|-1",
            "Reconnecting to QOR Transmitter...|status|95",
            "Verifying update...|status|-1",
            "Updated successfully!\nVersion: 1.4.3|status|100",
        };
        QCOMPARE(dialog, expectedDialog);
        QCOMPARE(m_server->requests,
                 QStringList({ TransmitterDir + "VERSION.md", TransmitterDir + "firmware.uf2" }));
    }

    void alreadyUpToDate_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("prefixed, blanks around") << QByteArray("QOR: 1.4.2 \r\n");
    }

    void alreadyUpToDate()
    {
        QFETCH(QByteArray, reply);
        serveFirmware(ReceiverDir, "1.4.2\n", uf2Image(2));
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setVersionReply(reply);
        QVERIFY(c()->connectReceiver(board.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareReceiver);
        proc()->checkCurrentVersion();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareDone, Patience);
        QCOMPARE(lastReport().text, QStringLiteral("Already up to date.\nVersion: 1.4.2"));
        QTest::qWait(20);
        QCOMPARE(board.lineCount("DFU"), 0);
        QVERIFY(m_questions.isEmpty());
    }

    void silentDeviceIsAskedAgainThenGivenUp()
    {
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setVersionReply(QByteArray(""));
        QVERIFY(c()->connectReceiver(board.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareReceiver);
        proc()->checkCurrentVersion();
        QTRY_VERIFY_WITH_TIMEOUT(board.lineCount("VER") == 1, Patience);
        // "VER" again at ticks 6, 12 and 18; the error at 21.
        const QList<int> expected = { 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4 };
        for (int t = 1; t <= 20; ++t) {
            tick();
            QTest::qWait(5);
            QTRY_VERIFY_WITH_TIMEOUT(board.lineCount("VER") == expected.at(t - 1), Patience);
            QCOMPARE(proc()->state(), corvane::FirmwareCheckingVersion);
        }
        tick();
        QCOMPARE(proc()->state(), corvane::FirmwareError);
        QCOMPARE(lastReport().text, QStringLiteral("Could not reach the QOR Receiver.\nMake sure it is connected."));
    }

    void noDriveAfterDfu()
    {
        serveFirmware(ReceiverDir, "1.4.3", uf2Image(4));
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setShowsDrive(false);
        QVERIFY(c()->connectReceiver(board.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareReceiver);
        proc()->checkCurrentVersion();
        acceptOffer();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareEnteringDfu, Patience);
        QVERIFY(QMetaObject::invokeMethod(proc(), "onBootloaderWaitElapsed"));
        for (int t = 1; t <= 30; ++t) {
            tick();
            QCOMPARE(lastReport().text, QStringLiteral("Preparing device for update... (%1s)").arg(t / 2));
        }
        tick();
        const int before = int(m_reports.size());
        QCOMPARE(lastReport().text,
                 QStringLiteral("Could not connect to device for update.\nPlease disconnect and reconnect, then try again."));
        tick(3);
        QCOMPARE(m_reports.size(), before);
    }

    void badDownloadOrWrite_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<bool>("driveFull");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("dfu");
        QTest::addColumn<int>("fileLimit"); // bytes a file may grow to while the image is copied
        const QString invalid = QStringLiteral("The downloaded update is not a valid firmware image.\n"
                                               "The device was left as it is.");
        const QString download = QStringLiteral("Could not download the update.\nPlease check your internet connection.");
        QByteArray damaged = uf2Image(3);
        damaged[512 + 508] = 0;
        const QString write = QStringLiteral("Could not write the update to the device.");
        QTest::newRow("html page") << HttpServer::ok("<html><body>rate limited</body></html>") << false << invalid
                                   << false << 0;
        QTest::newRow("one block without its end magic") << HttpServer::ok(damaged) << false << invalid << false << 0;
        QTest::newRow("not found") << HttpServer::ok("missing", 404) << false << download << false << 0;
        QTest::newRow("drive takes no bytes") << HttpServer::ok(uf2Image(3)) << true << write << true << 0;
        QTest::newRow("drive takes part of the image") << HttpServer::ok(uf2Image(3)) << false << write << true << 1024;
    }

    void badDownloadOrWrite()
    {
        QFETCH(QByteArray, response);
        QFETCH(bool, driveFull);
        QFETCH(QString, error);
        QFETCH(bool, dfu);
        QFETCH(int, fileLimit);
        m_server->setResponse(ReceiverDir + "VERSION.md", HttpServer::ok("1.4.3"));
        m_server->setResponse(ReceiverDir + "firmware.uf2", response);
        makeProcedure(handlerOptions());
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setDriveFull(driveFull);
        QVERIFY(c()->connectReceiver(board.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareReceiver);
        proc()->checkCurrentVersion();
        if (dfu) {
            QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareEnteringDfu, Patience);
            QVERIFY(QMetaObject::invokeMethod(proc(), "onBootloaderWaitElapsed"));
            // A file size limit makes the drive take only the first part of the image.
            rlimit saved {};
            getrlimit(RLIMIT_FSIZE, &saved);
            const auto previous = std::signal(SIGXFSZ, SIG_IGN);
            if (fileLimit > 0) {
                rlimit limited = saved;
                limited.rlim_cur = rlim_t(fileLimit);
                setrlimit(RLIMIT_FSIZE, &limited);
            }
            tick();
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, previous);
        }
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareError, Patience);
        QCOMPARE(lastReport().text, error);
        for (const FirmwareReport &r : std::as_const(m_reports))
            QVERIFY(r.handlerProgress != 85); // never reported as installed
        QTest::qWait(20);
        QCOMPARE(board.lineCount("DFU"), dfu ? 1 : 0);
    }

    void deviceNotConnected_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("error");
        QTest::newRow("receiver") << 0 << "QOR Receiver is not connected.";
        QTest::newRow("transmitter") << 1 << "QOR Transmitter is not connected.";
        QTest::newRow("system software")
            << 2 << "Transmitter is not connected.\nPlease connect the QOR Transmitter first.";
    }

    void deviceNotConnected()
    {
        QFETCH(int, target);
        QFETCH(QString, error);
        proc()->setTarget(corvane::FirmwareTarget(target));
        proc()->start();
        QCOMPARE(proc()->state(), corvane::FirmwareError);
        QCOMPARE(lastReport().text, error);
    }

    void earlierRunLeavesNoPortBehind()
    {
        // A receiver run records the receiver's port and USB ids ...
        serveFirmware(ReceiverDir, "1.4.3", uf2Image(2));
        serveFirmware(TransmitterDir, "2.0.0", uf2Image(2));
        SimulatedRp2040 receiver(QStringLiteral("1.4.2"), QStringLiteral("ttyACM0"));
        receiver.setVersionAfterUpdate(QStringLiteral("1.4.3"));
        runToCopied(receiver);
        QTRY_VERIFY_WITH_TIMEOUT(receiver.rebooted(), Patience);
        reconnectAfterReboot();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareDone, Patience);
        c()->disconnectReceiver();

        // ... then the transmitter, on a port the list does not show, returns under a new name.
        SimulatedRp2040 transmitter(QStringLiteral("1.9.0"), QStringLiteral("ttyACM7"));
        SimulatedRp2040::unlistPort(transmitter.portName());
        transmitter.setReturnName(QStringLiteral("ttyACM8"));
        QVERIFY(c()->connectTransmitter(transmitter.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareTransmitter);
        proc()->checkCurrentVersion();
        acceptOffer();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareEnteringDfu, Patience);
        QVERIFY(QMetaObject::invokeMethod(proc(), "onBootloaderWaitElapsed"));
        tick();
        QTRY_VERIFY_WITH_TIMEOUT(transmitter.rebooted(), Patience);
        // Only the old name could match; the receiver's port, listed with the same ids, is never taken.
        for (int t = 0; t < 41 && proc()->state() == corvane::FirmwareWaitingForReboot; ++t)
            tick();
        QCOMPARE(proc()->state(), corvane::FirmwareError);
        QCOMPARE(lastReport().text, QStringLiteral("Device is taking longer than expected to restart.\nThe update "
                                                   "may have completed. Please reconnect and check."));
        QVERIFY(!c()->isSerialConnected());
    }

    void sameIdsOnAnotherBoard_data()
    {
        QTest::addColumn<bool>("newName");
        QTest::newRow("back under a new name, twin held as transmitter") << true;
    }

    void sameIdsOnAnotherBoard()
    {
        QFETCH(bool, newName);
        serveFirmware(ReceiverDir, "1.4.3", uf2Image(2));
        SimulatedRp2040 twin(QStringLiteral("3.0.0"), QStringLiteral("ttyACM0"));
        SimulatedRp2040 receiver(QStringLiteral("1.4.2"), QStringLiteral("ttyACM1"));
        receiver.setVersionAfterUpdate(QStringLiteral("1.4.3"));
        if (newName) {
            receiver.setReturnName(QStringLiteral("ttyACM2"));
            QVERIFY(c()->connectTransmitter(twin.portName(), FirmwareUpdateProcedure::Baud));
        }
        runToCopied(receiver);
        QTRY_VERIFY_WITH_TIMEOUT(receiver.rebooted(), Patience);
        reconnectAfterReboot();
        QCOMPARE(c()->receiverPortName(), receiver.portName());
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareDone, Patience);
        QCOMPARE(twin.lineCount("DFU"), 0);
        QCOMPARE(c()->serialPortName(), newName ? twin.portName() : QString());
    }

    void versionAfterReboot_data()
    {
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("the published one") << "1.4.3" << int(corvane::FirmwareDone)
                                           << "Updated successfully!\nVersion: 1.4.3"
                                           << "Updated successfully! Version: 1.4.3";
        QTest::newRow("unchanged") << "1.4.2" << int(corvane::FirmwareError)
                                   << "Update may not have been applied.\nPlease try again."
                                   << "Update may not have been applied. Please try again.";
        QTest::newRow("a third one") << "1.4.9" << int(corvane::FirmwareDone) << "Updated successfully.\nVersion: 1.4.9"
                                     << "Updated successfully. Version: 1.4.9";
    }

    // The version the board reports after its reboot decides whether the update took.
    void versionAfterReboot()
    {
        QFETCH(QString, after);
        QFETCH(int, state);
        QFETCH(QString, text);
        QFETCH(QString, message);
        serveFirmware(ReceiverDir, "1.4.3", uf2Image(2));
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setVersionAfterUpdate(after);
        runToCopied(board);
        QTRY_VERIFY_WITH_TIMEOUT(board.rebooted(), Patience);
        reconnectAfterReboot();
        QTRY_VERIFY_WITH_TIMEOUT(proc()->state() == corvane::FirmwareDone || proc()->state() == corvane::FirmwareError,
                                 Patience);
        QCOMPARE(int(proc()->state()), state);
        QCOMPARE(lastReport().text, text);
        QCOMPARE(lastReport().message, message);
        QCOMPARE(lastReport().kind, state == corvane::FirmwareDone ? FirmwareReport::Done : FirmwareReport::Error);
    }

    void systemSoftwareAutoUpdate_data()
    {
        QTest::addColumn<bool>("dialog");
        QTest::newRow("dialog asks") << true;
        QTest::newRow("handler goes on") << false;
    }

    void systemSoftwareAutoUpdate()
    {
        QFETCH(bool, dialog);
        if (!dialog)
            makeProcedure(handlerOptions());
        m_server->setResponse(SocVersion, HttpServer::ok("2.0.1\n"));
        SimulatedTransmitter tx;
        tx.scriptReplies("SOC_VER", { "SOC_VER:unknown\r\n", "SOC_VER:2.0.1\r\n" });
        tx.scriptReplies("SOC_UPDATE_AUTO:2.0.1", { "SOC_AUTO_PROGRESS:Downloading\r\nSOC_AUTO_PROGRESS:Unpacking\r\n"
                                                    "SOC_AUTO_PROGRESS:Writing\r\nSOC_AUTO_PROGRESS:Writing\r\n" });
        QVERIFY(c()->connectTransmitter(tx.portName(), FirmwareUpdateProcedure::Baud));
        proc()->checkSocVersion();
        if (dialog) {
            QTRY_COMPARE_WITH_TIMEOUT(m_questions.size(), 1, Patience);
            QVERIFY(m_questions.first().text.contains(QStringLiteral("Current: unknown\nLatest:  2.0.1")));
            QVERIFY(!tx.lines().contains("SOC_UPDATE_AUTO:2.0.1"));
            proc()->answerQuestion(true);
        }
        QVERIFY(tx.waitFor([&] { return tx.lineCount("SOC_UPDATE_AUTO:2.0.1") == 1; }));
        QTRY_COMPARE_WITH_TIMEOUT(m_reports.constLast().text, QStringLiteral("Writing"), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(m_reports.size() >= 4 && m_reports.at(m_reports.size() - 4).text == "Downloading",
                                 Patience);
        tx.sendRaw("SOC_AUTO_DONE:ok\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareDone, Patience);
        QCOMPARE(lastReport().text, QStringLiteral("Updated successfully!\nVersion: 2.0.1"));

        QStringList texts;
        QList<int> bar;
        QList<int> handlerBar;
        for (const FirmwareReport &r : std::as_const(m_reports)) {
            texts << r.text;
            if (r.stateName == QLatin1String("soc_auto_updating")) {
                bar << r.progress;
                handlerBar << r.handlerProgress;
            }
        }
        QVERIFY(texts.contains(QStringLiteral("Current version: Not installed")));
        QCOMPARE(bar, QList<int>({ 50, 65, 80, 90, 90 }));
        QCOMPARE(handlerBar, QList<int>({ 50, 50, 50, 50, 50 }));
    }

    void systemSoftwareVerification_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        const QString unverified = QStringLiteral("Update could not be verified.\nPlease restart the device and try again.");
        QTest::newRow("unknown afterwards") << QByteArray("2.0.0") << QByteArray("unknown") << int(corvane::FirmwareError)
                                            << unverified;
        QTest::newRow("the old version afterwards") << QByteArray("2.0.0") << QByteArray("2.0.0")
                                                    << int(corvane::FirmwareError) << unverified;
        QTest::newRow("still not installed") << QByteArray("unknown") << QByteArray("unknown")
                                             << int(corvane::FirmwareError) << unverified;
        QTest::newRow("a third version") << QByteArray("2.0.0") << QByteArray("2.0.5") << int(corvane::FirmwareDone)
                                         << "Updated successfully.\nVersion: 2.0.5";
    }

    // After "SOC_AUTO_DONE:" the system software must report a version it did not have before.
    void systemSoftwareVerification()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(int, state);
        QFETCH(QString, text);
        m_server->setResponse(SocVersion, HttpServer::ok("2.0.1"));
        makeProcedure(handlerOptions());
        SimulatedTransmitter tx;
        tx.scriptReplies("SOC_VER", { "SOC_VER:" + before + "\r\n", "SOC_VER:" + after + "\r\n" });
        tx.scriptReplies("SOC_UPDATE_AUTO:2.0.1", { "SOC_AUTO_DONE:installed\r\n" });
        QVERIFY(c()->connectTransmitter(tx.portName(), FirmwareUpdateProcedure::Baud));
        proc()->checkSocVersion();
        QTRY_VERIFY_WITH_TIMEOUT(proc()->state() == corvane::FirmwareDone || proc()->state() == corvane::FirmwareError,
                                 Patience);
        QCOMPARE(tx.lineCount("SOC_VER"), 2);
        QCOMPARE(int(proc()->state()), state);
        QCOMPARE(lastReport().text, text);
        QCOMPARE(lastReport().message, QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    }

    void systemSoftwareErrorLine()
    {
        m_server->setResponse(SocVersion, HttpServer::ok("2.0.1"));
        makeProcedure(handlerOptions());
        SimulatedTransmitter tx;
        tx.scriptReplies("SOC_VER", { "SOC_VER:2.0.0\r\n" });
        tx.scriptReplies("SOC_UPDATE_AUTO:2.0.1", { "SOC_UPDATE_ERROR:boom\r\n" });
        QVERIFY(c()->connectTransmitter(tx.portName(), FirmwareUpdateProcedure::Baud));
        proc()->checkSocVersion();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareError, Patience);
        QCOMPARE(lastReport().text, QStringLiteral("boom"));
        // The handler ignores the line once its run has ended.
        const int count = int(m_reports.size());
        proc()->onSocLineReceived(QStringLiteral("SOC_UPDATE_ERROR:late"));
        QCOMPARE(m_reports.size(), count);
    }

    void publishedVersionRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("a line break would inject a command") << QByteArray("2.0.1\nSOC_OTA_REBOOT\n");
        QTest::newRow("a control character") << QByteArray("2.0.1\x1b[2J");
        QTest::newRow("far too large") << QByteArray(100 * 1024, '1');
    }

    void publishedVersionRefused()
    {
        QFETCH(QByteArray, body);
        m_server->setResponse(SocVersion, HttpServer::ok(body));
        makeProcedure(handlerOptions());
        SimulatedTransmitter tx;
        tx.scriptReplies("SOC_VER", { "SOC_VER:2.0.0\r\n" });
        QVERIFY(c()->connectTransmitter(tx.portName(), FirmwareUpdateProcedure::Baud));
        proc()->checkSocVersion();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareError, Patience);
        QCOMPARE(lastReport().text,
                 QStringLiteral("Could not check for updates.\nPlease check your internet connection."));
        QTest::qWait(20);
        tx.process();
        for (const QByteArray &line : tx.lines())
            QVERIFY2(line == "ID" || line == "SOC_VER" || line.isEmpty(), line.constData());
    }

    void abUpdate()
    {
        SimulatedTransmitter tx;
        QVERIFY(c()->connectTransmitter(tx.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareTransmitterSoftwareV2);

        // A reply that is no object is ignored; the check goes out again at the 6th tick.
        tx.scriptReplies("SOC_OTA_CHECK", { "SOC_OTA_CHECK:[1,2]\r\n" });
        proc()->start();
        QVERIFY(tx.waitFor([&] { return tx.lineCount("SOC_OTA_CHECK") == 1; }));
        QTest::qWait(30);
        QCOMPARE(proc()->state(), corvane::FirmwareOtaChecking);
        tx.scriptReplies("SOC_OTA_CHECK", { "SOC_OTA_CHECK: {\"ok\": true, \"current_version\": \"1.0\"}\r\n" });
        tick(5);
        tick();
        QVERIFY(tx.waitFor([&] { return tx.lineCount("SOC_OTA_CHECK") == 2; }));
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareDone, Patience);
        QCOMPARE(lastReport().text, QStringLiteral("Already up to date.\nVersion: 1.0"));

        // An offered update, accepted, then cancelled on the transmitter: back to idle.
        tx.scriptReplies("SOC_OTA_CHECK", { "SOC_OTA_CHECK:{\"ok\":true,\"current_version\":\"unknown\","
                                            "\"latest_version\":\"1.1\",\"update_available\":true,"
                                            "\"notes\":\"Faster\"}\r\n" });
        tx.scriptReplies("SOC_OTA_START", { "SOC_OTA_START:{\"ok\":true}\r\n" });
        tx.scriptReplies("SOC_OTA_STATUS", { "SOC_OTA_STATUS:{\"state\":\"downloading\",\"percent\":42}\r\n",
                                             "SOC_OTA_STATUS:{\"state\":\"cancelled\"}\r\n" });
        proc()->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_questions.size(), 1, Patience);
        QCOMPARE(m_questions.first().text,
                 QStringLiteral("A new version is available.\n\nCurrent: Not installed\nLatest:  1.1\n\nWhat's new:\n"
                                "Faster\n\nDo you want to update now?"));
        proc()->answerQuestion(true);
        QCOMPARE(proc()->state(), corvane::FirmwareOtaInstalling);
        QVERIFY(tx.waitFor([&] { return tx.lineCount("SOC_OTA_START") == 1; }));
        tick(2);
        QTRY_COMPARE_WITH_TIMEOUT(lastReport().progress, 42, Patience);
        QCOMPARE(lastReport().text, QStringLiteral("Downloading update…"));
        proc()->cancelSocOtaUpdate();
        QVERIFY(tx.waitFor([&] { return tx.lineCount("SOC_OTA_CANCEL") == 1; }));
        tick(2);
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareIdle, Patience);
        QCOMPARE(lastReport().text, QStringLiteral("Update cancelled."));
    }

    void abRestartAfterInstall_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("reboots");
        QTest::addColumn<QString>("text");
        QTest::newRow("restart now") << true << 1 << "Update installed. The transmitter is restarting...";
        QTest::newRow("later") << false << 0 << "Update installed.\nRestart the transmitter to apply it.";
    }

    // A finished A/B install restarts the transmitter only when the user says so, once.
    void abRestartAfterInstall()
    {
        QFETCH(bool, yes);
        QFETCH(int, reboots);
        QFETCH(QString, text);
        SimulatedTransmitter tx;
        QVERIFY(c()->connectTransmitter(tx.portName(), FirmwareUpdateProcedure::Baud));
        proc()->setTarget(corvane::FirmwareTransmitterSoftwareV2);
        tx.scriptReplies("SOC_OTA_CHECK", { "SOC_OTA_CHECK:{\"ok\":true,\"current_version\":\"1.0\","
                                            "\"latest_version\":\"1.1\",\"update_available\":true}\r\n" });
        tx.scriptReplies("SOC_OTA_START", { "SOC_OTA_START:{\"ok\":true}\r\n" });
        tx.scriptReplies("SOC_OTA_STATUS", { "SOC_OTA_STATUS:{\"state\":\"success\"}\r\n" });
        proc()->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_questions.size(), 1, Patience);
        m_questions.clear();
        proc()->answerQuestion(true);
        tick(2);
        QTRY_COMPARE_WITH_TIMEOUT(m_questions.size(), 1, Patience);
        QCOMPARE(m_questions.first().kind, FirmwareQuestion::RestartAfterInstall);
        QCOMPARE(lastReport().progress, 100);
        // Nothing restarts while the question is open.
        QTest::qWait(20);
        tx.process();
        QCOMPARE(tx.lineCount("SOC_OTA_REBOOT"), 0);
        proc()->answerQuestion(yes);
        QCOMPARE(proc()->state(), corvane::FirmwareDone);
        QCOMPARE(lastReport().text, text);
        if (yes)
            QVERIFY(tx.waitFor([&] { return tx.lineCount("SOC_OTA_REBOOT") == 1; }));
        // Answers after the first change nothing.
        proc()->answerQuestion(true);
        QTest::qWait(20);
        tx.process();
        QCOMPARE(tx.lineCount("SOC_OTA_REBOOT"), reboots);
    }
};

OSTRA_TEST_MAIN_CORE(TestFirmwareUpdateProcedure)
#include "tst_firmwareupdateprocedure.moc"
