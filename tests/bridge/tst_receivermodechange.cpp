#include "bridge/receiverconfigmanager.h"

#include "receiverrig.h"
#include "support/testenvironment.h"

#include <QTest>

using corvane::ReceiverConfigManager;
using ostratest::ReceiverRig;

// Switching the receiver between car and helicopter mode.
class TestReceiverModeChange : public QObject
{
    Q_OBJECT

private slots:
    void modeChecks()
    {
        ReceiverRig rig;
        rig.rx.setType(2);
        QVERIFY(rig.syncOverUsb());
        QCOMPARE(rig.manager()->receiverMode(), QStringLiteral("heli"));
        rig.rx.clearRecords();
        QVERIFY(!rig.manager()->setMode(QStringLiteral("Heli")));
        QVERIFY(!rig.manager()->setMode(QStringLiteral("plane")));
        QVERIFY(rig.manager()->setMode(QStringLiteral("heli")));
        QTest::qWait(300);
        rig.rx.process();
        QVERIFY(rig.rx.lines().isEmpty());
        QCOMPARE(rig.manager()->modeChangeState(), int(ReceiverConfigManager::ModeChangeIdle));
    }

    void modeChangeOverUsb_data()
    {
        QTest::addColumn<bool>("restarts");
        QTest::addColumn<QString>("text");
        QTest::newRow("restarts in the new mode") << true << "The receiver is in helicopter mode.";
        QTest::newRow("needs a power cycle") << false
                                             << "Saved. Turn the receiver off and on to apply it (receiver firmware "
                                                "before 4.5.3 / 1.9.2 does not restart by itself).";
    }

    void modeChangeOverUsb()
    {
        QFETCH(bool, restarts);
        QFETCH(QString, text);
        ReceiverRig rig;
        rig.rx.setRestartsOnReboot(restarts);
        QVERIFY(rig.syncOverUsb());
        rig.rx.clearRecords();
        QVERIFY(rig.manager()->setMode(QStringLiteral("heli")));
        QCOMPARE(rig.manager()->modeChangeText(), QStringLiteral("Saving. The receiver restarts…"));
        QVERIFY(!rig.manager()->canChangeMode());
        QVERIFY(rig.rx.waitForLine("REBOOT"));
        QCOMPARE(rig.rx.lines(), (QList<QByteArray> { "SET_TYPE 2", "REBOOT" }));
        ReceiverRig::fire(rig.manager(), "onModeRestartCheck");
        QVERIFY(rig.rx.waitFor([&] { return rig.manager()->modeChangeState() != ReceiverConfigManager::ModeChangeRunning; }));
        QCOMPARE(rig.manager()->modeChangeState(), int(ReceiverConfigManager::ModeChangeDone));
        QCOMPARE(rig.manager()->modeChangeText(), text);
        QCOMPARE(rig.rx.type(), restarts ? 2 : 1);
        QVERIFY(rig.manager()->canChangeMode());
    }

    void modeChangeWithoutAnswerFails()
    {
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        rig.rx.setSilent(true);
        QVERIFY(rig.manager()->setMode(QStringLiteral("heli")));
        ReceiverRig::fire(rig.manager(), "onModeRestartCheck");
        QVERIFY(rig.rx.waitForLine("GET_TYPE"));
        ReceiverRig::fire(rig.manager(), "onModeChangeTimeout");
        QCOMPARE(rig.manager()->modeChangeState(), int(ReceiverConfigManager::ModeChangeFailed));
        QCOMPARE(rig.manager()->modeChangeText(), QStringLiteral("No answer from the receiver. Try again."));
    }

    void modeChangeEndsWhenThePortDropsDuringTheRestart_data()
    {
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("port stays away") << false;
        QTest::newRow("receiver comes back") << true;
    }

    void modeChangeEndsWhenThePortDropsDuringTheRestart()
    {
        QFETCH(bool, comesBack);
        ReceiverRig rig;
        QVERIFY(rig.syncOverUsb());
        QVERIFY(rig.manager()->setMode(QStringLiteral("heli")));
        QVERIFY(rig.rx.waitForLine("REBOOT"));
        rig.controller->disconnectReceiver();
        ReceiverRig::fire(rig.manager(), "onModeRestartCheck");
        QCOMPARE(rig.manager()->modeChangeState(), int(ReceiverConfigManager::ModeChangeRunning));
        if (comesBack) {
            QVERIFY(rig.openReceiver());
            rig.manager()->resync();
            QVERIFY(rig.rx.waitFor([&] { return rig.manager()->modeChangeState() != ReceiverConfigManager::ModeChangeRunning; }));
            QCOMPARE(rig.manager()->modeChangeText(), QStringLiteral("The receiver is in helicopter mode."));
            QCOMPARE(rig.manager()->receiverMode(), QStringLiteral("heli"));
        } else {
            ReceiverRig::fire(rig.manager(), "onModeChangeTimeout");
            QCOMPARE(rig.manager()->modeChangeState(), int(ReceiverConfigManager::ModeChangeFailed));
        }
        // Either way the change is over and a new one may start.
        QVERIFY(rig.manager()->modeChangeState() != ReceiverConfigManager::ModeChangeRunning);
    }
};

OSTRA_TEST_MAIN_CORE(TestReceiverModeChange)
#include "tst_receivermodechange.moc"
