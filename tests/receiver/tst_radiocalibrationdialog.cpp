#include "receiver/receiversettingspanel.h"
#include "panelprobe.h"
#include "receiver/radiocalibrationdialog.h"

#include <QProgressBar>
#include <QStackedWidget>

using corvane::RadioCalibrationDialog;
using namespace paneltest;

namespace {

// The wizard on a receiver opened over USB, with its pages reachable by name.
struct Wizard
{
    Wizard()
    {
        listReceiverPort(rig);
        ok = rig.syncOverUsb();
        rig.rx.clearRecords();
        dialog = std::make_unique<RadioCalibrationDialog>(rig.controller.get());
    }

    QPushButton *next() const { return dialog->findChild<QPushButton *>("nextBtn"); }
    QPushButton *back() const { return button(dialog.get(), "Back"); }
    QWidget *page() const { return dialog->findChild<QStackedWidget *>()->currentWidget(); }
    QString pageLabel(const char *name) const { return page()->findChild<QLabel *>(name)->text(); }

    // The receiver prints a report line; returns once the wizard has had it.
    bool report(const QByteArray &line)
    {
        QSignalSpy lines(rig.controller.get(), &corvane::CorvaneController::receiverDataReceived);
        return rig.rx.sendLine(line) && rig.rx.waitFor([&] {
            for (const QList<QVariant> &args : lines) {
                if (args.value(0).toString() == QString::fromLatin1(line))
                    return true;
            }
            return false;
        });
    }

    void tick() { QMetaObject::invokeMethod(dialog.get(), "onCountdownTick", Qt::DirectConnection); }

    // From the introduction to the first measuring page.
    // The receiver's answer to the calibration command has come in before this returns.
    void toThrottleMax()
    {
        QSignalSpy lines(rig.controller.get(), &corvane::CorvaneController::receiverDataReceived);
        next()->click();
        next()->click();
        rig.rx.waitFor([&] { return !lines.isEmpty(); }, 1000);
    }

    // Holds the current page steady at one reading until it is recorded and the page moves on.
    bool hold(int channel, int us, int crsf)
    {
        const int before = dialog->step();
        next()->click();
        if (!report(QStringLiteral("CH%1:%2us CRSF:%3").arg(channel).arg(us).arg(crsf).toLatin1()))
            return false;
        for (int i = 0; i < 5; ++i)
            tick();
        QMetaObject::invokeMethod(dialog.get(), "onAdvanceAfterRecord", Qt::DirectConnection);
        return dialog->step() == before + 1;
    }

    // The commands the receiver heard, the manager's own traffic left out.
    QList<QByteArray> calibrationCommands()
    {
        rig.rx.process();
        QList<QByteArray> commands;
        for (const QByteArray &line : rig.rx.lines()) {
            if (line.startsWith("ENTER_CALIB") || line.startsWith("EXIT_CALIB") || line.startsWith("SET_FAILSAFE"))
                commands.append(line);
        }
        return commands;
    }

    ReceiverRig rig;
    bool ok = false;
    std::unique_ptr<RadioCalibrationDialog> dialog;
};

} // namespace

class TestRadioCalibrationDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void cleanup() { SerialPortLister::useSystemPorts(); }

    void wiringPageSendsEnterOnce()
    {
        Wizard w;
        QVERIFY(w.ok);
        w.toThrottleMax();
        w.back()->click();
        w.next()->click();
        QCOMPARE(w.dialog->step(), 2);
        QTest::qWait(50);
        QCOMPARE(w.calibrationCommands(), QList<QByteArray>{"ENTER_CALIB"});
    }

    void fullRun()
    {
        Wizard w;
        QVERIFY(w.ok);
        w.toThrottleMax();
        QVERIFY(w.hold(2, 2000, 1811));
        QVERIFY(w.hold(2, 1500, 992));
        QVERIFY(w.hold(2, 1000, 172));
        QVERIFY(w.hold(1, 1000, 174));
        QVERIFY(w.hold(1, 1502, 996));
        QVERIFY(w.hold(1, 2000, 1809));
        QCOMPARE(w.dialog->results(), (QList<int>{1811, 992, 172, 174, 996, 1809}));
        QVERIFY(w.rig.rx.waitForLine("EXIT_CALIB"));
        QCOMPARE(w.calibrationCommands(),
                 (QList<QByteArray>{"ENTER_CALIB", "SET_FAILSAFE CH1:996 CH2:992", "EXIT_CALIB"}));
        QVERIFY(w.page()->findChildren<QLabel *>().last()->text().contains("Neutral=992"));
        w.next()->click();
        QCOMPARE(w.dialog->result(), int(QDialog::Accepted));
        QTest::qWait(50);
        QCOMPARE(w.calibrationCommands().size(), 3);
    }

    void closeMidRunLeavesOnce()
    {
        Wizard w;
        QVERIFY(w.ok);
        w.toThrottleMax();
        w.next()->click();
        w.dialog->close();
        w.dialog->reject();
        QVERIFY(w.rig.rx.waitForLine("EXIT_CALIB"));
        QTest::qWait(50);
        QCOMPARE(w.calibrationCommands(), (QList<QByteArray>{"ENTER_CALIB", "EXIT_CALIB"}));
    }

    void closeBeforeWiringSendsNothing()
    {
        Wizard w;
        QVERIFY(w.ok);
        w.next()->click();
        w.dialog->reject();
        QTest::qWait(50);
        QVERIFY(w.calibrationCommands().isEmpty());
    }

    void stability_data()
    {
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("spread");
        QTest::addColumn<QString>("status");
        QTest::newRow("spread 101 restarts") << 20 << 101 << "Hold steady! Input moving too much...";
        QTest::newRow("nine wild samples") << 9 << 900 << "Good! Keep holding...";
    }

    void stability()
    {
        QFETCH(int, samples);
        QFETCH(int, spread);
        QFETCH(QString, status);
        Wizard w;
        QVERIFY(w.ok);
        w.toThrottleMax();
        w.next()->click();
        for (int i = 0; i < samples; ++i)
            QVERIFY(w.report(QStringLiteral("CH2:%1us CRSF:1800").arg(1900 + (i % 2) * spread).toLatin1()));
        w.tick();
        QCOMPARE(w.pageLabel("statusLabel"), status);
        QCOMPARE(w.pageLabel("countdownLabel"), status.startsWith("Good") ? "4" : "5");
    }

    void bothChannelsOnOneLine()
    {
        Wizard w;
        QVERIFY(w.ok);
        w.toThrottleMax();
        QVERIFY(w.report("CH1:1100us CRSF:300 CH2:1500us CRSF:992"));
        QCOMPARE(w.pageLabel("valueLabel"), QStringLiteral("1500 us (CRSF: 992)"));
        QVERIFY(w.hold(2, 1500, 992));
        QVERIFY(w.hold(2, 1500, 992));
        QVERIFY(w.hold(2, 1000, 172));
        // The steering page still holds the CH1 values of the double line.
        QCOMPARE(w.pageLabel("valueLabel"), QStringLiteral("\u2014"));
        QVERIFY(w.report("CH2:1000us CRSF:172"));
        QCOMPARE(w.pageLabel("valueLabel"), QStringLiteral("1100 us (CRSF: 300)"));
    }

    void silentHoldRecordsNothing()
    {
        Wizard w;
        QVERIFY(w.ok);
        w.toThrottleMax();
        w.next()->click();
        QVERIFY(w.report("CH1:1500us CRSF:992")); // the other channel
        for (int i = 0; i < 5; ++i)
            w.tick();
        QCOMPARE(w.pageLabel("statusLabel"), QStringLiteral("No signal on CH2 — check the wiring"));
        QTest::qWait(1600); // no advance follows
        QCOMPARE(w.dialog->results(), (QList<int>{0, 0, 0, 0, 0, 0}));
    }

    static QLabel *nextHint(QDialog &dialog)
    {
        return ostratest::withText<QLabel>(&dialog, QStringLiteral("Press 'Next' to continue."));
    }

    void connectCard()
    {
        ReceiverRig rig;
        SerialPortLister::setFixedPorts({});
        {
            RadioCalibrationDialog dialog(rig.controller.get());
            QVERIFY(!dialog.findChild<QPushButton *>("nextBtn")->isEnabled());
            // The introduction asks for "Next" only when it can be pressed.
            QVERIFY(nextHint(dialog));
            QVERIFY(!nextHint(dialog)->isVisibleTo(&dialog));
            // No port to open: Connect is not offered.
            QVERIFY(!button(&dialog, "Connect")->isEnabled());
        }
        listReceiverPort(rig);
        {
            RadioCalibrationDialog dialog(rig.controller.get());
            button(&dialog, "Connect")->click();
            QVERIFY(dialog.findChild<QPushButton *>("nextBtn")->isEnabled());
            QVERIFY(nextHint(dialog)->isVisibleTo(&dialog));
        }
        // The port the wizard opened closes with it.
        QVERIFY(!rig.controller->isReceiverConnected());
        QVERIFY(rig.openReceiver());
        {
            RadioCalibrationDialog dialog(rig.controller.get());
        }
        QVERIFY(rig.controller->isReceiverConnected());
    }

    // The numbered lists of the first two pages line up at the left; wrapped, centred lines would not.
    void listsLineUpLeft()
    {
        ReceiverRig rig;
        RadioCalibrationDialog dialog(rig.controller.get());
        int lists = 0;
        for (QLabel *label : dialog.findChildren<QLabel *>()) {
            if (!label->text().contains(QLatin1String("\n1. ")))
                continue;
            ++lists;
            QVERIFY2(label->alignment() & Qt::AlignLeft, qPrintable(label->text()));
        }
        QCOMPARE(lists, 2);
    }

    // Every page, walked through in one run: each measuring page mid-hold with a live reading.
    void render()
    {
        Wizard w;
        QVERIFY(w.ok);
        w.dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.dialog.get()));
        for (int step = 0; step <= 8; ++step) {
            QCOMPARE(w.dialog->step(), step);
            const QByteArray line = step <= 4 ? "CH2:1500us CRSF:992" : "CH1:1500us CRSF:992";
            if (step >= 2 && step <= 7) {
                w.next()->click();
                QVERIFY(w.report(line));
                w.tick();
            }
            QCoreApplication::processEvents();
            QVERIFY(w.dialog->grab().toImage().save(picture(QStringLiteral("radio-calibration-%1").arg(step))));
            if (step < 2) {
                w.next()->click();
                if (step == 1)
                    QVERIFY(w.rig.rx.waitForLine("ENTER_CALIB"));
            } else if (step <= 7) {
                for (int i = 0; i < 4; ++i)
                    w.tick();
                QMetaObject::invokeMethod(w.dialog.get(), "onAdvanceAfterRecord", Qt::DirectConnection);
            }
        }
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("receiver", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestRadioCalibrationDialog)
#include "tst_radiocalibrationdialog.moc"
