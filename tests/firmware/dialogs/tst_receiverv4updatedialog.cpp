#include "firmware/dialogs/receiverv4updatedialog.h"

#include "bridge/corvanecontroller.h"
#include "firmware/firmwareupdateprocedure.h"
#include "messageboxanswerer.h"
#include "ostraui/theme.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "support/httpserver.h"
#include "support/simulatedtransmitter.h"
#include "support/simulatedv4receiver.h"
#include "support/testenvironment.h"
#include "support/v4firmwareimage.h"
#include "support/widgets/themedrender.h"
#include "support/widgets/widgetlookup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

using corvane::CorvaneController;
using corvane::ReceiverV4UpdateDialog;
using corvane::SerialPortEntry;
using corvane::SerialPortLister;
using ostratest::HttpServer;
using ostratest::MessageBoxAnswerer;
using ostratest::SimulatedV4Receiver;
using ostratest::V4BoardModel;

namespace {

constexpr int Patience = 20000;
const QString Release = QStringLiteral("/qor-receiver-firmware-updater/main/v4/");

QString picture(const QString &name) { return ostratest::themedPicture("firmware", name); }

// The dialog with its file dialog answered by the test.
class TestedDialog : public ReceiverV4UpdateDialog
{
public:
    using ReceiverV4UpdateDialog::ReceiverV4UpdateDialog;
    QString file;

protected:
    QString askForFirmwareFile() override { return file; }
};

QPushButton *button(QDialog &dialog, const QString &text) { return ostratest::withText<QPushButton>(&dialog, text); }

QString status(QDialog &dialog) { return dialog.findChild<QLabel *>("statusLabel")->text(); }
QString log(QDialog &dialog) { return dialog.findChild<QPlainTextEdit *>("log")->toPlainText(); }
QComboBox *ports(QDialog &dialog) { return dialog.findChild<QComboBox *>(); }

bool hasLabel(QDialog &dialog, const QString &text) { return ostratest::withText<QLabel>(&dialog, text); }

QByteArray json(const QJsonObject &object) { return QJsonDocument(object).toJson(); }

} // namespace

class TestReceiverV4UpdateDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<HttpServer> m_http;
    QHash<QString, QByteArray> m_files;
    std::unique_ptr<CorvaneController> m_controller;
    std::unique_ptr<SimulatedV4Receiver> m_receiver;
    CorvaneController *c() { return m_controller.get(); }

    void publish(const QByteArray &version, const QByteArray &bin = QByteArray(), const QString &binVersion = "1.3.0")
    {
        m_files.insert(Release + "VERSION.md", HttpServer::ok(version));
        if (!bin.isEmpty()) {
            m_files.insert(Release + "firmware.bin", HttpServer::ok(bin));
            m_files.insert(Release + "firmware.json", HttpServer::ok(json(ostratest::v4DescriptionOf(bin, binVersion))));
        }
    }

    void listPorts(const QList<SerialPortEntry> &extra = {})
    {
        QList<SerialPortEntry> list = extra;
        list.append({ m_receiver->portName(), "CP2102 USB to UART Bridge Controller", "Silicon Labs", 0x10C4, 0xEA60 });
        SerialPortLister::setFixedPorts(list);
    }

    int fileRequests(const char *name) const
    {
        int count = 0;
        for (const QString &request : m_http->requests)
            count += request.startsWith(Release + QLatin1String(name) + "?t=") ? 1 : 0;
        return count;
    }

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void init()
    {
        corvane::SettingsFile().remove(QString());
        m_files.clear();
        m_http = std::make_unique<HttpServer>();
        // Requests carry a cache-busting query.
        m_http->handler = [this](const QString &path) {
            return m_files.value(path.section('?', 0, 0), HttpServer::ok("not found", 404));
        };
        corvane::SettingsFile().setValue(QLatin1String(corvane::FirmwareUpdateProcedure::BaseUrlSetting), m_http->baseUrl());
        m_receiver = std::make_unique<SimulatedV4Receiver>();
        listPorts();
        m_controller = std::make_unique<CorvaneController>();
    }

    void cleanup()
    {
        m_controller.reset();
        m_receiver.reset();
        m_http.reset();
        SerialPortLister::useSystemPorts();
    }

    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("numeric, not text") << "1.10.0" << "1.9.2" << 1;
        QTest::newRow("older") << "1.2.0" << "1.3.0" << -1;
        QTest::newRow("longer wins") << "1.3.0.1" << "1.3" << 1;
        QTest::newRow("not a number is 0") << "1.x.5" << "1.0.4" << 1;
    }

    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(ReceiverV4UpdateDialog::compareVersions(a, b), order);
        QCOMPARE(ReceiverV4UpdateDialog::compareVersions(b, a), -order);
    }

    void portList_data()
    {
        QTest::addColumn<QList<SerialPortEntry>>("list");
        QTest::addColumn<QString>("picked");
        const SerialPortEntry acm { "/dev/ttyACM0", "Board CDC", "Raspberry Pi", 0x2E8A, 0x00C0 };
        QTest::newRow("by vendor id") << QList<SerialPortEntry>({ acm, { "/dev/ttyUSB3", "", "", 0x10C4, 1 } }) << "/dev/ttyUSB3";
        QTest::newRow("else the first") << QList<SerialPortEntry>({ acm, { "/dev/ttyS0", "", "", 0, 0 } }) << "/dev/ttyACM0";
    }

    void portList()
    {
        QFETCH(QList<SerialPortEntry>, list);
        QFETCH(QString, picked);
        SerialPortLister::setFixedPorts(list);
        ReceiverV4UpdateDialog dialog(c());
        QCOMPARE(ports(dialog)->currentData().toString(), picked);

        // No port left: nothing to read or flash.
        SerialPortLister::setFixedPorts({});
        button(dialog, "Refresh")->click();
        QVERIFY(!button(dialog, "Check version")->isEnabled());
        QVERIFY(!button(dialog, "Update")->isEnabled());
    }

    void latestRelease_data()
    {
        QTest::addColumn<QByteArray>("published");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logged");
        QTest::newRow("leading v") << QByteArray(" v4.6.0 \nNotes follow\n") << "4.6.0" << "Latest release on GitHub: 4.6.0";
        QTest::newRow("none") << QByteArray() << "none published yet" << "No V4 release is published on GitHub yet.";
        QTest::newRow("5000 digits") << QByteArray(5000, '4') << "no usable version published"
                                     << "The published release's version is too long (5000 characters, at most 32).";
        QTest::newRow("a zero-width space") << QByteArray("4.2\u200b") << "no usable version published"
                                            << "The published release's version holds invisible characters";
    }

    void latestRelease()
    {
        QFETCH(QByteArray, published);
        QFETCH(QString, shown);
        QFETCH(QString, logged);
        if (!published.isEmpty())
            publish(published);
        ReceiverV4UpdateDialog dialog(c());
        QTRY_VERIFY_WITH_TIMEOUT(hasLabel(dialog, shown), Patience);
        QVERIFY(log(dialog).contains(logged));
        QCOMPARE(fileRequests("VERSION.md"), 1);
    }

    void transmitterPortRefused()
    {
        ostratest::SimulatedTransmitter tx;
        QVERIFY(c()->connectTransmitter(tx.portName(), 115200));
        listPorts({ { tx.portName(), "QOR Transmitter", "", 0x2E8A, 0x000A } });
        ReceiverV4UpdateDialog dialog(c());
        ports(dialog)->setCurrentIndex(0);
        for (const char *action : { "Check version", "Update" }) {
            button(dialog, action)->click();
            QCOMPARE(status(dialog), QString("%1 is the QOR transmitter's port. Pick the receiver cable's port.").arg(tx.portName()));
        }
        QVERIFY(c()->isSerialConnected());
    }

    void receiverConsoleClosedThenBoardRead()
    {
        m_receiver->board().hardware = "QOR-RX-G0";
        QVERIFY(c()->connectReceiver(m_receiver->portName(), 115200));
        ReceiverV4UpdateDialog dialog(c());
        button(dialog, "Check version")->click();
        QVERIFY(!c()->isReceiverConnected());
        QVERIFY(log(dialog).contains(QString("Closed the receiver console on %1.").arg(m_receiver->portName())));
        // Reading cannot be cancelled.
        dialog.reject();
        QTRY_COMPARE_WITH_TIMEOUT(status(dialog), QString("The receiver runs 1.2.0."), Patience);
        QVERIFY(log(dialog).contains("Warning: the board reports \"QOR-RX-G0\", not a V4."));
        // What the board says is never read as markup.
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text() == "1.2.0" || label == dialog.findChild<QLabel *>("statusLabel"))
                QCOMPARE(label->textFormat(), Qt::PlainText);
        }
    }

    // A whole update; Cancel while pages are written is ignored.
    void updateFromRelease()
    {
        const QByteArray bin = ostratest::v4FirmwareBytes(2 * 2048);
        publish("1.3.0", bin);
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        ReceiverV4UpdateDialog dialog(c());
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(hasLabel(dialog, "1.3.0"), Patience);
        QList<int> bar;
        connect(dialog.findChild<QProgressBar *>(), &QProgressBar::valueChanged, this, [&bar](int v) { bar << v; });
        button(dialog, "Update")->click();
        QTRY_VERIFY_WITH_TIMEOUT(status(dialog).startsWith("Writing the firmware… page"), Patience);
        QVERIFY(status(dialog).endsWith(" of 2. Don't unplug the receiver."));
        dialog.reject();
        QVERIFY(dialog.isVisible());
        QVERIFY(status(dialog).startsWith("Writing the firmware… page"));

        QTRY_VERIFY_WITH_TIMEOUT(status(dialog).startsWith("Updated to 1.3.0. Now power-cycle the receiver once"), Patience);
        QCOMPARE(m_receiver->board().flash.left(bin.size()), bin);
        // Two pages: 5 + done × 90 / 2.
        for (int value : { 5, 50, 95, 97, 100 })
            QVERIFY2(bar.contains(value), qPrintable(QString::number(value)));
        QTRY_COMPARE_WITH_TIMEOUT(answerer.asked.size(), 1, Patience);
        QVERIFY(answerer.asked.first().startsWith("Update complete|The receiver runs 1.3.0.\n\nPower-cycle it once now"));

        // The kept image goes again without a download; this time the board stays silent until
        // the power cycle, and Cancel during that wait ends the run.
        m_receiver->board().mode = V4BoardModel::Off;
        button(dialog, "Reinstall")->click();
        QFrame *panel = dialog.findChild<QFrame *>("powerCycle");
        QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), Patience);
        QCOMPARE(status(dialog), QString("Power-cycle the board now"));
        dialog.reject();
        QVERIFY(dialog.isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(status(dialog), QString("Update failed: Cancelled."), Patience);
        QVERIFY(!panel->isVisible());
        QCOMPARE(fileRequests("firmware.bin"), 1);
    }

    // Destroyed while pages are written (the program quitting under it): the run stops at its
    // next page, page 0 left erased so the board stays in its boot loader, and the program runs
    // on while it waits (this board answers from the program's own event loop).
    void destroyedWhileWritingPages()
    {
        constexpr int Pages = 120;
        const QByteArray bin = ostratest::v4FirmwareBytes(Pages * 2048);
        publish("1.3.0", bin);
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        auto *dialog = new ReceiverV4UpdateDialog(c());
        dialog->show();
        QTRY_VERIFY_WITH_TIMEOUT(hasLabel(*dialog, "1.3.0"), Patience);
        button(*dialog, "Update")->click();
        QTRY_VERIFY_WITH_TIMEOUT(status(*dialog).startsWith("Writing the firmware… page")
                                     && !status(*dialog).startsWith("Writing the firmware… page 0 "), Patience);
        int beats = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, this, [&beats] { ++beats; });
        beat.start(5);
        delete dialog;
        QVERIFY(beats > 0);
        beat.stop();
        const QByteArray flash = m_receiver->board().flash;
        QCOMPARE(flash.left(2048), QByteArray(2048, char(0xFF)));
        QVERIFY(flash.mid((Pages - 1) * 2048, 2048) != bin.mid((Pages - 1) * 2048, 2048));
        QVERIFY(answerer.asked.isEmpty());
    }

    // A run that fails after erasing page 0 leaves the board without firmware in its boot loader,
    // and "On the receiver" says so; one that fails before keeps the version.
    void boardAfterAFailedUpdate_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("board");
        QTest::newRow("a page never verifies") << "corrupt" << "Update failed: Page 1 could not be programmed."
                                               << "no firmware (in the bootloader)";
        // Sent back to its firmware, which says what it runs; or says nothing, and so nothing is known.
        QTest::newRow("another chip: nothing erased")
            << "chip" << "Update failed: This is not a QOR receiver V4 (chip ID 0x460, expected 0x467). Nothing was "
                         "written. It was sent back to its firmware." << "1.2.0";
        QTest::newRow("another chip, silent") << "silent" << "" << "unknown";
    }

    void boardAfterAFailedUpdate()
    {
        QFETCH(QString, fault);
        QFETCH(QString, failure);
        QFETCH(QString, board);
        publish("1.3.0", ostratest::v4FirmwareBytes(3 * 2048));
        V4BoardModel &model = m_receiver->board();
        const QByteArray running = ostratest::v4FirmwareBytes(2048);
        model.flash.replace(0, running.size(), running);
        if (fault == "corrupt") {
            model.corruptPage = 1;
            model.corruptReads = 4;
        } else {
            model.chipId = QByteArray::fromHex("0460");
            model.answersVersion = model.answersHardware = fault == "chip";
        }
        ReceiverV4UpdateDialog dialog(c());
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(hasLabel(dialog, "1.3.0"), Patience);
        button(dialog, "Update")->click();
        QTRY_VERIFY_WITH_TIMEOUT(button(dialog, "Try again"), Patience);
        if (!failure.isEmpty())
            QCOMPARE(status(dialog), failure);
        QVERIFY2(hasLabel(dialog, board), qPrintable(status(dialog)));
        dialog.resize(dialog.sizeHint());
        QVERIFY(dialog.grab().toImage().save(picture(QLatin1String("receiver-v4-dialog-failed-") + fault)));
        QCOMPARE(log(dialog).contains("The board holds no firmware now"), fault == "corrupt");
        QCOMPARE(model.flash.left(2048) == running, fault != "corrupt");
        QCOMPARE(model.mode == V4BoardModel::Firmware, fault != "corrupt");
    }

    void upToDateAsks()
    {
        publish("1.2.0");
        MessageBoxAnswerer answerer(QMessageBox::No);
        ReceiverV4UpdateDialog dialog(c());
        button(dialog, "Check version")->click();
        QTRY_COMPARE_WITH_TIMEOUT(status(dialog), QString("The receiver runs 1.2.0."), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(button(dialog, "Reinstall"), Patience);
        button(dialog, "Reinstall")->click();
        QCOMPARE(answerer.asked, QStringList({ "Up to date|The receiver already runs 1.2.0, the latest release. Install it again?" }));
        QCOMPARE(answerer.defaults, QList<QMessageBox::StandardButton>{QMessageBox::No});
        QCOMPARE(fileRequests("firmware.json"), 0);
    }

    void localFile_data()
    {
        QTest::addColumn<bool>("withDescription");
        QTest::addColumn<bool>("matching");
        QTest::addColumn<QString>("message");
        QTest::newRow("no description") << false << true << "fw.bin needs its description file fw.json next to it.";
        QTest::newRow("refused") << true << false << "fw.bin refused: ";
        QTest::newRow("accepted") << true << true << "Ready to install 1.4.0 from the file.";
    }

    void localFile()
    {
        QFETCH(bool, withDescription);
        QFETCH(bool, matching);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QByteArray bin = ostratest::v4FirmwareBytes(3000);
        QFile file(dir.filePath("fw.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bin);
        file.close();
        if (withDescription) {
            QFile description(dir.filePath("fw.json"));
            QVERIFY(description.open(QIODevice::WriteOnly));
            description.write(json(ostratest::v4DescriptionOf(matching ? bin : bin.left(2000), "1.4.0")));
        }
        TestedDialog dialog(c());
        dialog.file = file.fileName();
        button(dialog, "Use a file…")->click();
        QVERIFY2(status(dialog).startsWith(message), qPrintable(status(dialog)));
        if (!withDescription)
            return;
        if (!matching) {
            QVERIFY(log(dialog).contains("File refused: "));
            return;
        }
        QVERIFY(hasLabel(dialog, "1.4.0 (from fw.bin)"));
    }

    void render_data()
    {
        QTest::addColumn<bool>("running");
        QTest::newRow("idle") << false;
        QTest::newRow("power-cycle, then writing") << true;
    }

    // Idle; then one real run, shot while it waits for the power cycle and while it writes.
    void render()
    {
        QFETCH(bool, running);
        const QByteArray bin = ostratest::v4FirmwareBytes(2 * 2048);
        publish("1.3.0", bin);
        m_receiver->board().mode = V4BoardModel::Off;
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        ReceiverV4UpdateDialog dialog(c());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(hasLabel(dialog, "1.3.0"), Patience);
        const auto shoot = [&dialog](const char *name) {
            dialog.resize(dialog.sizeHint());
            return dialog.grab().toImage().save(picture(QLatin1String("receiver-v4-dialog-") + name));
        };
        if (!running) {
            QVERIFY(shoot("idle"));
            return;
        }
        button(dialog, "Update")->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.findChild<QFrame *>("powerCycle")->isVisible(), Patience);
        QVERIFY(shoot("power-cycle"));
        m_receiver->board().powerCycle();
        QTRY_VERIFY_WITH_TIMEOUT(status(dialog).startsWith("Writing the firmware… page 1 of 2"), Patience);
        QVERIFY(shoot("writing"));
        QTRY_COMPARE_WITH_TIMEOUT(answerer.asked.size(), 1, Patience);
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("firmware", {"render", "boardAfterAFailedUpdate"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestReceiverV4UpdateDialog)
#include "tst_receiverv4updatedialog.moc"
