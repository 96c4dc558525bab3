#include <QApplication>
#include <QComboBox>
#include <QAbstractItemView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>

#include <memory>

#include "app/onboardingwizard.h"
#include "bridge/corvanecontroller.h"
#include "bridge/corvaneserialport.h"
#include "firmware/dialogs/firmwareupdatedialog.h"
#include "firmware/dialogs/receiverv4updatedialog.h"
#include "firmware/firmwareupdateprocedure.h"
#include "heli/helicoptersetupwidget.h"
#include "motion/motionsystemcontroller.h"
#include "motion/pages/motionsystemwidget.h"
#include "ostraui/theme.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "receiver/radiocalibrationdialog.h"
#include "receiver/receiversettingspanel.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"
#include "support/widgets/widgetlookup.h"

using corvane::SerialPortEntry;
using corvane::SerialPortLister;

namespace {

enum List { SetupGuide, MotionPage, RadioCalibration, ReceiverFirmware, ReceiverV4, ReceiverUsbCable, HelicopterPage };

// One port list as the user meets it: the list, the button that acts on its port, and what owns them.
struct PortList
{
    std::unique_ptr<QWidget> owner;
    QComboBox *combo = nullptr;
    QPushButton *action = nullptr;
};

QPushButton *buttonNamed(QWidget *owner, const QString &text)
{
    for (QPushButton *button : owner->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

PortList open(List list, corvane::CorvaneController *controller, corvane::MotionSystemController *motion)
{
    PortList shown;
    switch (list) {
    case SetupGuide:
        shown.owner = std::make_unique<corvane::OnboardingWizard>(controller, nullptr);
        static_cast<corvane::OnboardingWizard *>(shown.owner.get())->finishPages();
        shown.combo = shown.owner->findChild<QComboBox *>(QStringLiteral("guidePortCombo"));
        shown.action = shown.owner->findChild<QPushButton *>(QStringLiteral("guideTransmitterBtn"));
        return shown;
    case MotionPage:
        shown.owner = std::make_unique<corvane::MotionSystemWidget>(motion);
        static_cast<corvane::MotionSystemWidget *>(shown.owner.get())->followPortsOf(controller);
        shown.combo = shown.owner->findChild<QComboBox *>(QStringLiteral("portList"));
        shown.action = shown.owner->findChild<QPushButton *>(QStringLiteral("connectButton"));
        return shown;
    case RadioCalibration:
        shown.owner = std::make_unique<corvane::RadioCalibrationDialog>(controller);
        break;
    case ReceiverFirmware:
        shown.owner = std::make_unique<corvane::FirmwareUpdateDialog>(controller, corvane::FirmwareReceiver);
        break;
    case ReceiverV4:
        shown.owner = std::make_unique<corvane::ReceiverV4UpdateDialog>(controller);
        shown.combo = shown.owner->findChild<QComboBox *>();
        shown.action = buttonNamed(shown.owner.get(), QStringLiteral("Update"));
        return shown;
    case ReceiverUsbCable:
        shown.owner = std::make_unique<corvane::ReceiverSettingsPanel>(controller);
        break;
    case HelicopterPage:
        shown.owner = std::make_unique<corvane::HelicopterSetupWidget>(controller);
        shown.combo = shown.owner->findChild<QComboBox *>(QStringLiteral("transmitterPort"));
        return shown;
    }
    shown.combo = shown.owner->findChild<QComboBox *>();
    shown.action = buttonNamed(shown.owner.get(), QStringLiteral("Connect"));
    return shown;
}

SerialPortEntry entry(const QString &name, quint16 vendorId = 0)
{
    SerialPortEntry port;
    port.portName = name;
    port.vendorId = vendorId;
    return port;
}

} // namespace

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        // The V4 dialog looks up the latest release at once: nothing answers here.
        corvane::SettingsFile().setValue(QLatin1String(corvane::FirmwareUpdateProcedure::BaseUrlSetting),
                             QStringLiteral("http://127.0.0.1:1/"));
    }
    void cleanup() { SerialPortLister::useSystemPorts(); }

    // A list with only an on-board UART offers it to no one: its placeholder stays chosen and the
    // button waits until the user picks the port by hand. A USB serial port is chosen at once.
    void onBoardPortIsNotOffered_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<QString>("placeholder");
        QTest::addColumn<bool>("usb");
        const struct
        {
            const char *name;
            List list;
            const char *placeholder;
        } lists[] = {{"setup guide", SetupGuide, "Choose QOR Transmitter"},
                     {"motion page", MotionPage, "Choose QOR Motion Controller"},
                     {"radio calibration", RadioCalibration, "Choose QOR Receiver"},
                     {"receiver firmware", ReceiverFirmware, "Choose QOR Receiver"},
                     {"receiver V4", ReceiverV4, "Choose the cable's port"},
                     {"receiver USB cable", ReceiverUsbCable, "Choose the receiver's port"}};
        for (const auto &row : lists) {
            QTest::addRow("%s, on-board only", row.name) << int(row.list) << row.placeholder << false;
            QTest::addRow("%s, with USB", row.name) << int(row.list) << row.placeholder << true;
        }
    }

    void onBoardPortIsNotOffered()
    {
        QFETCH(int, list);
        QFETCH(QString, placeholder);
        QFETCH(bool, usb);
        QList<SerialPortEntry> ports{entry(QStringLiteral("ttyS0"))};
        if (usb)
            ports.append(entry(QStringLiteral("ttyACM3"), 0x2E8A));
        SerialPortLister::setFixedPorts(ports);
        corvane::CorvaneController controller;
        corvane::MotionSystemController motion;
        PortList shown = open(List(list), &controller, &motion);
        QVERIFY(shown.combo && shown.action);
        QVERIFY(shown.combo->isEnabled());

        if (usb) {
            QCOMPARE(shown.combo->currentData().toString(), QStringLiteral("ttyACM3"));
            QCOMPARE(shown.combo->findText(placeholder), -1);
            QVERIFY(shown.action->isEnabled());
            return;
        }
        QCOMPARE(shown.combo->currentIndex(), 0);
        QCOMPARE(shown.combo->currentText(), placeholder);
        QVERIFY(shown.combo->currentData().toString().isEmpty());
        QVERIFY(!shown.action->isEnabled());
        // The list's card or row, as the user meets it.
        QWidget *card = shown.combo->parentWidget();
        card->resize(std::max(card->width(), 640), card->sizeHint().height());
        QVERIFY(card->grab().save(ostratest::themedPicture(
            "app", QStringLiteral("portlist-%1").arg(QString::fromLatin1(QTest::currentDataTag()).section(',', 0, 0).replace(' ', '-')))));
        // Picked on purpose, the on-board port is taken.
        QTest::keyClick(shown.combo, Qt::Key_Down);
        QCOMPARE(shown.combo->currentData().toString(), QStringLiteral("ttyS0"));
        QVERIFY(shown.action->isEnabled());
    }

    // A device connected elsewhere (another page, the phone) on a port picked by hand: every list
    // that offers its port shows that port, not its prompt or another USB port, also a list filled
    // before the port appeared.
    void connectedPortIsShown_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<bool>("receiver");
        QTest::newRow("setup guide") << int(SetupGuide) << false;
        QTest::newRow("helicopter page") << int(HelicopterPage) << false;
        QTest::newRow("radio calibration") << int(RadioCalibration) << true;
        QTest::newRow("receiver firmware") << int(ReceiverFirmware) << true;
        QTest::newRow("receiver USB cable") << int(ReceiverUsbCable) << true;
    }

    void connectedPortIsShown()
    {
        QFETCH(int, list);
        QFETCH(bool, receiver);
        ostratest::PtyDevice device;
        QVERIFY(device.isOpen());
        SerialPortLister::setFixedPorts({entry(QStringLiteral("ttyACM3"), 0x2E8A)});
        corvane::CorvaneController controller;
        corvane::MotionSystemController motion;
        const PortList before = open(List(list), &controller, &motion);
        SerialPortLister::setFixedPorts({entry(device.slavePath()), entry(QStringLiteral("ttyACM3"), 0x2E8A)});
        QVERIFY(receiver ? controller.connectReceiver(device.slavePath(), 115200)
                         : controller.connectTransmitter(device.slavePath(), 115200));
        const PortList after = open(List(list), &controller, &motion);
        for (const PortList *shown : {&before, &after})
            QCOMPARE(shown->combo->currentData().toString(), device.slavePath());
    }

    // The port the other device of this program holds is listed as in use by it, and neither
    // the list nor the keyboard chooses it; the V4 update frees the receiver console's port itself.
    void heldPortIsMarked_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<bool>("receiverHolds");
        QTest::addColumn<QString>("holder"); // empty: not marked
        QTest::addColumn<bool>("heldLater"); // the device connects while the list is open
        QTest::newRow("setup guide") << int(SetupGuide) << true << "QOR Receiver" << false;
        QTest::newRow("helicopter page") << int(HelicopterPage) << true << "QOR Receiver" << false;
        QTest::newRow("radio calibration") << int(RadioCalibration) << false << "QOR Transmitter" << false;
        QTest::newRow("receiver firmware") << int(ReceiverFirmware) << false << "QOR Transmitter" << false;
        QTest::newRow("receiver USB cable") << int(ReceiverUsbCable) << false << "QOR Transmitter" << false;
        QTest::newRow("receiver V4, transmitter's port") << int(ReceiverV4) << false << "QOR Transmitter" << false;
        QTest::newRow("receiver V4, receiver console's port") << int(ReceiverV4) << true << "" << false;
        QTest::newRow("motion page") << int(MotionPage) << false << "QOR Transmitter" << false;
        QTest::newRow("motion page, receiver connects later") << int(MotionPage) << true << "QOR Receiver" << true;
    }

    void heldPortIsMarked()
    {
        QFETCH(int, list);
        QFETCH(bool, receiverHolds);
        QFETCH(QString, holder);
        QFETCH(bool, heldLater);
        ostratest::PtyDevice device;
        const QString held = device.slavePath();
        SerialPortLister::setFixedPorts({entry(held, 0x2E8A), entry(QStringLiteral("ttyACM3"), 0x2E8A)});
        corvane::CorvaneController controller;
        corvane::MotionSystemController motion;
        const auto connectHolder = [&] {
            return receiverHolds ? controller.connectReceiver(held, 115200) : controller.connectTransmitter(held, 115200);
        };
        QVERIFY(heldLater || connectHolder());
        PortList shown = open(List(list), &controller, &motion);
        QVERIFY(!heldLater || connectHolder());
        const int index = shown.combo->findData(held);
        QVERIFY(index >= 0);
        const bool marked = !holder.isEmpty();
        QCOMPARE(shown.combo->itemText(index).endsWith(QStringLiteral(" (in use by the %1)").arg(holder)), marked);
        QCOMPARE(shown.combo->itemText(index).contains(QLatin1String("in use")), marked);
        QCOMPARE(shown.combo->currentData().toString() == held, !marked);
        if (!marked)
            return;
        if (list == ReceiverFirmware) {
            // The list open, as the user meets the port in use.
            shown.owner->show();
            QVERIFY(QTest::qWaitForWindowExposed(shown.owner.get()));
            shown.combo->showPopup();
            QWidget *popup = shown.combo->view()->window();
            QTRY_VERIFY(popup->isVisible());
            QImage picture = shown.owner->grab().toImage();
            QPainter(&picture).drawImage(popup->pos() - shown.owner->pos(), popup->grab().toImage());
            QVERIFY(picture.save(ostratest::themedPicture("app", "portlist-held")));
            shown.combo->hidePopup();
        }
        for (Qt::Key key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(shown.combo, key);
            QVERIFY(shown.combo->currentData().toString() != held);
        }
    }

    // A port the system refuses is named with the reason, once the attempts are over.
    void refusedPortNamesReason()
    {
        ostratest::PtyDevice device;
        QSerialPort otherProgram(device.slavePath());
        QVERIFY(otherProgram.open(QIODevice::ReadWrite));
        SerialPortLister::setFixedPorts({entry(device.slavePath(), 0x2E8A)});
        corvane::CorvaneController controller;
        corvane::MotionSystemController motion;
        PortList shown = open(ReceiverFirmware, &controller, &motion);
        QCOMPARE(shown.combo->currentData().toString(), device.slavePath());
        shown.action->click();
        QVERIFY(!controller.isReceiverConnected());
        const QString reason = controller.receiverPort()->openError();
        QVERIFY(reason.contains(QLatin1String("it may be in use by another application")));
        QVERIFY(ostratest::withText<QLabel>(shown.owner.get(),
                                            QStringLiteral("Could not connect to %1. %2").arg(device.slavePath(), reason)));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("app", {"onBoardPortIsNotOffered", "heldPortIsMarked"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestPortList)
#include "tst_portlist.moc"
