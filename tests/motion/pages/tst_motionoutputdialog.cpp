#include "motion/pages/motionoutputdialog.h"

#include "bridge/corvanecontroller.h"
#include "bridge/motiontelemetrysender.h"
#include "ostraui/theme.h"

#include "support/netnamespaces.h"
#include "support/testenvironment.h"
#include "support/widgets/contrast.h"
#include "support/widgets/themedrender.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSpinBox>
#include <QUdpSocket>

#include <memory>

using corvane::CorvaneController;
using corvane::MotionOutputDialog;
using corvane::MotionTelemetrySender;

namespace {

constexpr int Patience = 10000;

QString picture(const QString &name) { return ostratest::themedPicture("motion", name); }

const QString Waiting = QString::fromUtf8("waiting for car telemetry (start a transmission) \u2014 output at rest");

} // namespace

class TestMotionOutputDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<CorvaneController> m_controller;

    MotionTelemetrySender *sender() const { return m_controller->motionTelemetrySender(); }

    static QPushButton *toggle(MotionOutputDialog &dialog)
    {
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->isCheckable())
                return button;
        }
        return nullptr;
    }
    static QLabel *status(MotionOutputDialog &dialog) { return dialog.findChild<QLabel *>("statusLabel"); }

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void init() { m_controller = std::make_unique<CorvaneController>(); }

    void cleanup()
    {
        sender()->setEnabled(false);
        m_controller.reset();
    }

    void blankTargetStreamsToLocalHost()
    {
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress::LocalHost, 0));
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        QCOMPARE(toggle(dialog)->text(), QString("Start motion output"));
        QCOMPARE(status(dialog)->text(), QString("Output stopped."));
        QVERIFY(status(dialog)->styleSheet().contains("color: #5B6675;"));

        dialog.findChild<QLineEdit *>()->setText("   ");
        dialog.findChild<QSpinBox *>()->setValue(listener.localPort());
        toggle(dialog)->click();
        QVERIFY(sender()->isEnabled());
        QCOMPARE(sender()->host(), QString("127.0.0.1"));
        QCOMPARE(sender()->port(), listener.localPort());
        QCOMPARE(dialog.findChild<QLineEdit *>()->text(), QString("   ")); // the field stays as typed
        QCOMPARE(toggle(dialog)->text(), QString::fromUtf8("Streaming \u2014 click to stop"));
        QCOMPARE(status(dialog)->text(), QString::fromUtf8("Streaming to 127.0.0.1:%1 \u2014 0 packets sent \u00b7 %2").arg(listener.localPort()).arg(Waiting));
        QCOMPARE(status(dialog)->styleSheet(), QString("font-family: 'Geist Mono'; font-size: 9pt; color: #B06F00;"));

        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingDatagrams(), Patience);
        const QNetworkDatagram datagram = listener.receiveDatagram();
        QCOMPARE(datagram.data().size(), MotionTelemetrySender::PacketSize);
        QCOMPARE(datagram.data().size(), 264);

        // The count grows with the packets and shows at the next refresh.
        QTRY_VERIFY_WITH_TIMEOUT(sender()->packetCount() > 0, Patience);
        QMetaObject::invokeMethod(&dialog, "refreshStatus");
        QVERIFY(!status(dialog)->text().contains(" 0 packets sent"));

        toggle(dialog)->click();
        QVERIFY(!sender()->isEnabled());
        QCOMPARE(status(dialog)->text(), QString("Output stopped."));
        QCOMPARE(toggle(dialog)->text(), QString("Start motion output"));
    }

    // Typed by the user, then Start: an IP address is streamed to; anything else is refused by
    // name, and nothing starts. (A blank field streams to this PC, as above.)
    void targetMustBeAnAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("streamsTo");
        QTest::addColumn<QString>("address"); // where the status says the datagrams go
        QTest::newRow("no such address") << "999.1.1.1" << QString() << QString();
        QTest::newRow("host name") << "motion-pc" << QString() << QString();
        QTest::newRow("address") << " 192.168.1.40 " << "192.168.1.40" << "192.168.1.40";
        QTest::newRow("IPv6") << "::1" << "::1" << "::1";
        // This PC by name, as the sender takes it, in any letter case.
        QTest::newRow("localhost") << "localhost" << "localhost" << "127.0.0.1";
        QTest::newRow("LocalHost") << "LocalHost" << "LocalHost" << "127.0.0.1";
    }

    void targetMustBeAnAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, streamsTo);
        QFETCH(QString, address);
        const bool streams = !streamsTo.isEmpty();
        sender()->setTarget("127.0.0.1", 20777);
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        auto *field = dialog.findChild<QLineEdit *>();
        field->clear();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        QTest::mouseClick(toggle(dialog), Qt::LeftButton);
        QCOMPARE(sender()->isEnabled(), streams);
        QCOMPARE(toggle(dialog)->isChecked(), streams);
        QCOMPARE(sender()->host(), streams ? streamsTo : QString("127.0.0.1"));
        QVERIFY(status(dialog)->text().startsWith(streams ? QString("Streaming to %1:20777").arg(address)
                                                          : QString::fromUtf8("\u201C%1\u201D is not an IP address").arg(typed)));
        QCOMPARE(status(dialog)->text().endsWith("Output stopped."), !streams);
    }

    // A target stored by an earlier version that is no address: the status names where the
    // datagrams really go, and why. This PC's name is a target.
    void storedTargetThatIsNoAddress_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("refused");
        QTest::newRow("no address") << "999.1.1.1" << true;
        QTest::newRow("localhost") << "localhost" << false;
        QTest::newRow("LOCALHOST") << "LOCALHOST" << false;
    }

    void storedTargetThatIsNoAddress()
    {
        QFETCH(QString, stored);
        QFETCH(bool, refused);
        sender()->setTarget(stored, 20777);
        sender()->setEnabled(true);
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        const QStringList lines = status(dialog)->text().split('\n');
        QCOMPARE(lines.size(), refused ? 2 : 1);
        if (refused)
            QVERIFY(lines.at(0).startsWith(QString::fromUtf8("\u201C%1\u201D is not an IP address").arg(stored)));
        QVERIFY(lines.last().startsWith("Streaming to 127.0.0.1:20777"));
    }

    // Output on towards a network this PC has no route to: nothing leaves, and the dialog says
    // why instead of "Streaming". A target with a route streams again.
    void sendFailureIsNamed_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("button");
        QTest::newRow("no route") << "192.168.1.20"
                                  << QString::fromUtf8("Cannot reach 192.168.1.20: network unreachable \u2014 0 packets sent; "
                                                       "sending resumes once 192.168.1.20 can be reached")
                                  << QString::fromUtf8("Output on \u2014 click to stop");
        QTest::newRow("this PC") << "127.0.0.1" << QString::fromUtf8("Streaming to 127.0.0.1:20777 \u2014 ")
                                 << QString::fromUtf8("Streaming \u2014 click to stop");
    }

    void sendFailureIsNamed()
    {
        QFETCH(QString, target);
        QFETCH(QString, shown);
        QFETCH(QString, button);
        // Loopback alone, as on a PC off every network; the sender's socket is made in it.
        const ostratest::OwnLoopback loopbackOnly;
        if (!loopbackOnly.entered())
            QSKIP("needs root for a network namespace of its own");
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        auto *field = dialog.findChild<QLineEdit *>();
        field->setText(target);
        QTest::keyClick(field, Qt::Key_Return);
        toggle(dialog)->click();
        QTRY_VERIFY_WITH_TIMEOUT(sender()->packetCount() > 0 || !sender()->sendFailure().isEmpty(), Patience);
        QMetaObject::invokeMethod(&dialog, "refreshStatus");
        QVERIFY2(status(dialog)->text().startsWith(shown), qPrintable(status(dialog)->text()));
        QCOMPARE(toggle(dialog)->text(), button);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(dialog.sizeHint());
        QVERIFY(dialog.grab().toImage().save(picture(QStringLiteral("motion-output-dialog-") + QTest::currentDataTag()).replace(' ', '-')));
    }

    void status_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("color");
        QTest::newRow("never") << qint64(-1) << Waiting << "#B06F00";
        QTest::newRow("fresh") << qint64(0) << "car telemetry live" << "#12A66A";
        QTest::newRow("999 ms") << qint64(999) << "car telemetry live" << "#12A66A";
        QTest::newRow("1000 ms") << qint64(1000) << QString::fromUtf8("car telemetry lost 1 s ago \u2014 output at rest") << "#B06F00";
        QTest::newRow("2999 ms") << qint64(2999) << QString::fromUtf8("car telemetry lost 2 s ago \u2014 output at rest") << "#B06F00";
    }

    void status()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, state);
        QFETCH(QString, color);
        const MotionOutputDialog::StreamingStatus s = MotionOutputDialog::streamingStatus("10.0.0.5", 20777, 42, ms);
        QCOMPARE(s.text, QString::fromUtf8("Streaming to 10.0.0.5:20777 \u2014 42 packets sent \u00b7 ") + state);
        QCOMPARE(s.color, color);
    }

    void liveTelemetryShows()
    {
        sender()->setTarget("127.0.0.1", 20777);
        sender()->setEnabled(true);
        sender()->setGForces(0.2f, 0.1f, 0.0f);
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        // Already streaming: the dialog opens checked and with its status filled.
        QVERIFY(toggle(dialog)->isChecked());
        QCOMPARE(toggle(dialog)->text(), QString::fromUtf8("Streaming \u2014 click to stop"));
        QVERIFY(status(dialog)->text().endsWith("car telemetry live"));
        QVERIFY(status(dialog)->styleSheet().contains("color: #12A66A;"));
    }

    void portSpinStoresTarget()
    {
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        auto *spin = dialog.findChild<QSpinBox *>();
        dialog.findChild<QLineEdit *>()->setText("192.168.1.40");
        spin->stepUp();
        QCOMPARE(sender()->port(), quint16(20778));
        QCOMPARE(sender()->host(), QString("192.168.1.40"));
        QVERIFY(!sender()->isEnabled());
        spin->setValue(80);
        QCOMPARE(spin->value(), 1024);
        QCOMPARE(sender()->port(), quint16(1024));
        spin->setValue(70000);
        QCOMPARE(sender()->port(), quint16(65535));
    }

    void withoutController()
    {
        MotionOutputDialog dialog(nullptr, nullptr);
        QCOMPARE(status(dialog)->text(), QString("Not available."));
        QCOMPARE(dialog.findChild<QLineEdit *>()->text(), QString("127.0.0.1"));
        QCOMPARE(dialog.findChild<QSpinBox *>()->value(), 20777);
        toggle(dialog)->click();
        QCOMPARE(status(dialog)->text(), QString("Not available."));
    }

    // The safety warning and a waiting status are orange text: readable at 3:1 or better.
    void warningsRead()
    {
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        dialog.resize(dialog.sizeHint());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        toggle(dialog)->click();
        QVERIFY(status(dialog)->styleSheet().contains("#B06F00"));
        QLabel *warning = nullptr;
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text().startsWith("Motion platforms move"))
                warning = label;
        }
        QVERIFY(warning);
        for (QLabel *label : {warning, status(dialog)}) {
            const double ratio = ostratest::renderedTextContrast(&dialog, label);
            QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
        }
    }

    void render()
    {
        sender()->setTarget("127.0.0.1", 20777);
        sender()->setEnabled(true);
        MotionOutputDialog dialog(m_controller.get(), nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // It does not shrink below what its texts need.
        dialog.resize(100, 100);
        QCOMPARE(dialog.height(), dialog.minimumSizeHint().height());
        dialog.resize(dialog.sizeHint());
        const QImage image = dialog.grab().toImage();
        QVERIFY(image.width() >= 460);
        QVERIFY(image.save(picture("motion-output-dialog")));
        auto *field = dialog.findChild<QLineEdit *>();
        field->setText("999.1.1.1");
        QTest::keyClick(field, Qt::Key_Return);
        // The refusal shows in full at the size the dialog has.
        QCoreApplication::processEvents();
        QVERIFY(dialog.grab().toImage().save(picture("motion-output-dialog-refused")));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("motion", {"render", "sendFailureIsNamed"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestMotionOutputDialog)
#include "tst_motionoutputdialog.moc"
