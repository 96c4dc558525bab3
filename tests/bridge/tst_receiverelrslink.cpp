#include "bridge/receiverelrslink.h"

#include "receiverrig.h"
#include "support/testenvironment.h"

#include <QSignalSpy>
#include <QTest>


using corvane::ReceiverElrsLink;
using ostratest::ReceiverRig;

namespace {

QByteArray deviceInfo(const QByteArray &name, const QByteArray &tail)
{
    return QByteArray(1, char(0xEA)) + char(0xC8) + name + '\0' + tail;
}

} // namespace

class TestReceiverElrsLink : public QObject
{
    Q_OBJECT

private slots:
    void findsAndReadsTheV4Receiver()
    {
        ReceiverRig rig;
        QVERIFY(rig.startAndReadOverAir());
        ReceiverElrsLink *link = rig.link();
        QCOMPARE(link->firmware(), QStringLiteral("4.5.3"));
        QCOMPARE(link->parameterCount(), 21);
        QVERIFY(!link->isQor1());
        QCOMPARE(rig.rx.airRequests().mid(0, 11),
                 (QStringList { "ping", "read 14", "read 1", "read 3", "read 4", "read 7", "read 8", "read 9",
                                "read 10", "read 12", "read 5" }));
        QVERIFY(rig.rx.airRequests().contains(QStringLiteral("read 21")));
        QCOMPARE(link->intValue(21), 0);
        QCOMPARE(link->textValue(5), QStringLiteral("No fix, 4 sats"));
        QCOMPARE(link->intValue(99), -1);
    }

    void deviceInfoAcceptance_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<int>("parameters");
        QTest::addColumn<int>("state");
        QTest::newRow("QOR4 with 14") << QByteArray("QOR4") << 14 << int(ReceiverElrsLink::Ready);
        QTest::newRow("QOR4 with 13") << QByteArray("QOR4") << 13 << int(ReceiverElrsLink::Idle);
        QTest::newRow("QOR1 with 1") << QByteArray("QOR1") << 1 << int(ReceiverElrsLink::Ready);
        QTest::newRow("foreign device") << QByteArray("ELRS") << 30 << int(ReceiverElrsLink::Idle);
    }

    void deviceInfoAcceptance()
    {
        QFETCH(QByteArray, serial);
        QFETCH(int, parameters);
        QFETCH(int, state);
        ReceiverRig rig;
        rig.rx.setSerial(serial);
        rig.rx.setDeviceName(serial == "ELRS" ? QByteArray("ELRS RX") : QByteArray("QOR Receiver"));
        rig.rx.setParameterCount(parameters);
        QVERIFY(rig.startOverAir());
        QVERIFY(rig.rx.waitFor([&] {
            return rig.link()->state() == ReceiverElrsLink::Ready || rig.link()->stopReason() != 0;
        }));
        QCOMPARE(int(rig.link()->state()), state);
        if (state == ReceiverElrsLink::Idle) {
            } else if (serial == "QOR1") {
            QVERIFY(rig.link()->isQor1());
            QCOMPARE(rig.rx.airRequests(), (QStringList { "ping", "read 1" }));
        }
    }

    void shortDeviceInfoIsDropped()
    {
        ReceiverRig rig;
        rig.rx.setAirSilent(true);
        QVERIFY(rig.startOverAir());
        QVERIFY(rig.waitForLinkState(ReceiverElrsLink::Searching));
        // Name without its zero byte, then a name with only part of the fields behind it.
        rig.tx.sendFrame(0x29, QByteArray(1, char(0xEA)) + char(0xC8) + "QOR Receiver");
        rig.tx.sendFrame(0x29, deviceInfo("QOR Receiver", "QOR4\0\0\0\0"));
        rig.tx.sendFrame(0x29, QByteArray(1, char(0xEA)));
        QTest::qWait(100);
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Searching);
        QCOMPARE(rig.link()->parameterCount(), 0);
    }

    void noAnswerGivesFivePingsThenRetries()
    {
        ReceiverRig rig;
        rig.rx.setAirSilent(true);
        QVERIFY(rig.startOverAir());
        QVERIFY(rig.waitForLinkState(ReceiverElrsLink::Searching));
        QCOMPARE(rig.link()->retryIntervalMs(), 10000);
        for (int i = 0; i < 5; ++i)
            ReceiverRig::fire(rig.link(), "onSearchTimeout");
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Idle);
        QCOMPARE(int(rig.link()->stopReason()), 1);
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.pingCount() == 5; }));
        // Car frames alone no longer start a search after a failed one.
        rig.tx.sendAttitude(0.1, 0.0, 0.0);
        QTest::qWait(50);
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Idle);
        ReceiverRig::fire(rig.link(), "onRetryTimer");
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Searching);
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.pingCount() == 6; }));
    }

    void writesGoBeforeQueuedReads()
    {
        ReceiverRig rig;
        QVERIFY(rig.startAndReadOverAir());
        rig.rx.setAirSilent(true);
        rig.rx.clearRecords();
        ReceiverElrsLink *link = rig.link();
        link->readParameter(1);
        link->readParameter(3);
        link->readParameter(4);
        link->readParameter(3);
        link->writeParameter(7, 0);
        link->writeParameter(8, 0);
        link->writeParameter(7, 1);
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.airRequests().size() == 1; }));
        rig.rx.setAirSilent(false);
        ReceiverRig::fire(link, "onRequestTimeout");
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.airRequests().size() == 6; }));
        QCOMPARE(rig.rx.airRequests(),
                 (QStringList { "read 1", "read 1", "write 8=0", "write 7=1", "read 3", "read 4" }));
        QCOMPARE(rig.rx.settings().imuTelem, false);
        QCOMPARE(link->intValue(7), 1);
    }

    void chunkedEntryIsAssembled()
    {
        ReceiverRig rig;
        ReceiverSettings onBoard;
        onBoard.osdEnabled = true;
        rig.rx.setSettings(onBoard);
        rig.rx.setChunkSize(6);
        QCOMPARE(rig.rx.fieldEntry(1).size(), 18);
        QVERIFY(rig.startAndReadOverAir());
        const QStringList requests = rig.rx.airRequests();
        const qsizetype first = requests.indexOf(QStringLiteral("read 1"));
        QCOMPARE(requests.mid(first, 3), (QStringList { "read 1", "read 1/1", "read 1/2" }));
        QCOMPARE(rig.link()->intValue(1), 1);
        QCOMPARE(rig.link()->textValue(12), QStringLiteral("+X +Y +Z"));
    }

    void oversizedOrShortEntriesAreNotTaken()
    {
        ReceiverRig rig;
        QVERIFY(rig.startAndReadOverAir());
        rig.rx.setAirSilent(true);
        ReceiverElrsLink *link = rig.link();
        QSignalSpy changed(link, &ReceiverElrsLink::valueChanged);
        const auto requested = [&](int count) {
            return rig.rx.waitFor([&] { return rig.rx.airRequests().size() >= count; }, 2000);
        };
        // An entry too short to hold a type, then a selection without its value bytes.
        const QByteArray entries[] = { QByteArray::fromHex("efc8050000"),
                                       QByteArray::fromHex("efc8050000") + QByteArray("\x09OSD\0Off;On\0", 12) };
        int sent = int(rig.rx.airRequests().size());
        for (const QByteArray &entry : entries) {
            link->readParameter(5);
            QVERIFY(requested(++sent));
            rig.tx.sendFrame(0x2B, entry);
            QTest::qWait(100);
        }
        QTest::qWait(100);
        QVERIFY(changed.isEmpty());
        QCOMPARE(link->intValue(5), -1);
        QCOMPARE(link->state(), ReceiverElrsLink::Ready);

        // An entry that keeps announcing more chunks stops at the size limit: the receiver is
        // taken as lost instead of the buffer growing without end.
        link->readParameter(5);
        QVERIFY(requested(++sent));
        const QByteArray chunk = QByteArray::fromHex("efc805ff") + QByteArray(60, 'x');
        for (int i = 0; i < 80 && link->state() == ReceiverElrsLink::Ready; ++i) {
            rig.tx.sendFrame(0x2B, chunk);
            rig.rx.waitFor([&] { return rig.rx.airRequests().size() > sent || link->state() != ReceiverElrsLink::Ready; },
                           2000);
            sent = int(rig.rx.airRequests().size());
        }
        QCOMPARE(link->state(), ReceiverElrsLink::Idle);
        QVERIFY(rig.rx.airRequests().contains(QStringLiteral("read 5/60")));
        QVERIFY(!rig.rx.airRequests().contains(QStringLiteral("read 5/70")));
        QVERIFY(changed.isEmpty());
    }

    void transmissionChangeAndSilenceEndTheLink()
    {
        ReceiverRig rig;
        QVERIFY(rig.startAndReadOverAir());
        QSignalSpy changed(rig.link(), &ReceiverElrsLink::stateChanged);
        rig.controller->stopTransmissionAndHold();
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Idle);
        QCOMPARE(int(rig.link()->stopReason()), 0);
        QVERIFY(rig.link()->firmware().isEmpty());
        QCOMPARE(rig.link()->intValue(21), -1);
        QCOMPARE(changed.size(), 1);
        // Starting again finds the link idle with no reason: the car's next frame searches anew.
        QVERIFY(rig.start());
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Idle);
        QCOMPARE(int(rig.link()->stopReason()), 0);
        rig.tx.sendAttitude(0.0, 0.1, 0.0);
        QVERIFY(rig.waitForLinkState(ReceiverElrsLink::Ready));
    }

    void unansweredRequestLosesTheReceiver()
    {
        ReceiverRig rig;
        QVERIFY(rig.startAndReadOverAir());
        rig.rx.setAirSilent(true);
        rig.rx.clearRecords();
        rig.link()->readParameter(5);
        for (int i = 0; i < 3; ++i)
            ReceiverRig::fire(rig.link(), "onRequestTimeout");
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Ready);
        ReceiverRig::fire(rig.link(), "onRequestTimeout");
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Idle);
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.airRequests().size() == 4; }));
    }

    void directWrites()
    {
        ReceiverRig rig;
        rig.rx.setOlderCarReceiver(true);
        // The profile's basic-receiver values are on board already: the manager sends nothing itself.
        rig.profile()->receiverCaps.osdOnBoard = 0;
        rig.profile()->receiverCaps.hudTopOnBoard = 60;
        rig.profile()->receiverCaps.hudAccelOnBoard = 30;
        rig.profile()->receiverCaps.hudBrakeOnBoard = 60;
        ReceiverElrsLink *link = rig.link();
        QVERIFY(!link->directWrite(1, 1));
        QVERIFY(rig.startOverAir(QString()));
        QSignalSpy done(link, &ReceiverElrsLink::directWriteDone);
        QVERIFY(link->directWrite(1, 1));
        QVERIFY(!link->directWrite(3, 2));
        QVERIFY(done.wait(5000));
        QCOMPARE(done.takeFirst(), (QVariantList { 1, true, 1 }));
        QVERIFY(rig.rx.settings().osdEnabled);

        rig.rx.setUnansweredFields({ 3 });
        QVERIFY(link->directWrite(3, 2));
        for (int i = 0; i < 3; ++i)
            ReceiverRig::fire(link, "onRequestTimeout");
        QVERIFY(done.isEmpty());
        ReceiverRig::fire(link, "onRequestTimeout");
        QCOMPARE(done.takeFirst(), (QVariantList { 3, false, -1 }));
        QVERIFY(rig.rx.waitFor([&] { return rig.rx.airRequests().count(QStringLiteral("write 3=2")) == 4; }));
    }

    void carLinkLossEndsTheLink()
    {
        ReceiverRig rig;
        QVERIFY(rig.startAndReadOverAir());
        ReceiverRig::fire(rig.link(), "onWatchdog");
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Ready);
        rig.controller->setCarLinked(false);
        QCOMPARE(rig.link()->state(), ReceiverElrsLink::Idle);
    }
};

OSTRA_TEST_MAIN_CORE(TestReceiverElrsLink)
#include "tst_receiverelrslink.moc"
