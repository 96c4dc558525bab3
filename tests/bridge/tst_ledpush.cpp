#include "bridge/corvanecontroller.h"

#include "receiverrig.h"
#include "support/testenvironment.h"

#include <QSignalSpy>
#include <QTest>

using corvane::CorvaneController;
using ostratest::ReceiverRig;

namespace {

RgbColor rgb(int r, int g, int b)
{
    return RgbColor { std::uint8_t(r), std::uint8_t(g), std::uint8_t(b) };
}

LedRangeZone zone(int start, int end, RgbColor color = rgb(0, 0, 255))
{
    return LedRangeZone { start, end, color };
}

LedSettings perLedStrip()
{
    LedSettings s;
    s.ledCount = 150;
    s.brightness = 80;
    s.mode = LedMode::PerLed;
    s.globalColor = rgb(0, 255, 0);
    s.ledColors = { LedColorEntry { 2, rgb(255, 0, 0) }, LedColorEntry { 2, rgb(255, 255, 255) } };
    return s;
}

QStringList head(int count, int bright, int render)
{
    return { "LED_ENABLE=1", QStringLiteral("LED_COUNT=%1").arg(count), QStringLiteral("LED_BRIGHT=%1").arg(bright),
             QStringLiteral("LED_RENDER=%1").arg(render), "LED_CLEAR_COLORS", "LED_CLEAR_ZONES" };
}

} // namespace

class TestLedPush : public QObject
{
    Q_OBJECT

private slots:
    void commandBlock_data()
    {
        QTest::addColumn<LedSettings>("settings");
        QTest::addColumn<QStringList>("body");

        LedSettings global;
        global.ledCount = -4;
        global.brightness = 250;
        global.globalColor = rgb(255, 255, 255);
        QTest::newRow("global") << global << head(0, 100, 200) + QStringList { "LED_COLOR 0 255" };

        LedSettings range;
        range.ledCount = 10;
        range.brightness = 50;
        range.mode = LedMode::Range;
        range.rangeZones = { zone(25, 75), zone(80, 30, rgb(0, 255, 0)) };
        QTest::newRow("range") << range
                               << head(10, 50, 202)
                + QStringList { "LED_ZONE_COUNT=2", "LED_ZONE 0 2 7 3", "LED_ZONE 1 8 8 28" };

        LedSettings many = range;
        many.rangeZones.clear();
        for (int i = 0; i < 9; ++i)
            many.rangeZones.append(zone(i * 10, i * 10 + 10));
        QStringList manyLines = head(10, 50, 202) + QStringList { "LED_ZONE_COUNT=8" };
        for (int i = 0; i < 8; ++i)
            manyLines << QStringLiteral("LED_ZONE %1 %2 %3 3").arg(i).arg(i).arg(i + 1);
        QTest::newRow("nine zones") << many << manyLines;

        // A file or the app may store any number; the arithmetic must not wrap.
        LedSettings huge = range;
        huge.ledCount = 100;
        huge.rangeZones = { zone(30000000, 2147483647), zone(-2147483647 - 1, 50) };
        QTest::newRow("huge percentages") << huge
                                          << head(100, 50, 202)
                + QStringList { "LED_ZONE_COUNT=2", "LED_ZONE 0 100 100 3", "LED_ZONE 1 0 50 3" };

        LedSettings noLeds = range;
        noLeds.ledCount = 0;
        noLeds.rangeZones = { zone(0, 100) };
        QTest::newRow("range on no LEDs") << noLeds
                                          << head(0, 50, 202) + QStringList { "LED_ZONE_COUNT=1", "LED_ZONE 0 0 1 3" };
    }

    void commandBlock()
    {
        QFETCH(LedSettings, settings);
        QFETCH(QStringList, body);
        ReceiverRig rig;
        rig.controller->setLedSettings(settings);
        QCOMPARE(rig.controller->pushLedConfig(), body + QStringList { "LED_COMMIT" });
    }

    void perLedBlockIsWrittenAndConfirmed()
    {
        ReceiverRig rig;
        CorvaneController *controller = rig.controller.get();
        rig.controller->setLedSettings(perLedStrip());
        QVERIFY(rig.openReceiver());
        QSignalSpy started(controller, &CorvaneController::ledConfigPushStarted);
        QSignalSpy finished(controller, &CorvaneController::ledConfigPushFinished);
        QVERIFY(controller->startLedConfigPush());
        QCOMPARE(started.size(), 1);
        QVERIFY(controller->ledConfigPushActive());
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.takeFirst(), (QVariantList { true, QStringLiteral("LED configuration saved to receiver.") }));
        QVERIFY(!controller->ledConfigPushActive());

        const QList<QByteArray> lines = rig.rx.lines();
        QCOMPARE(lines.size(), 6 + 100 + 1);
        QCOMPARE(lines.at(1), QByteArray("LED_COUNT=100"));
        QCOMPARE(lines.at(3), QByteArray("LED_RENDER=201"));
        const QList<QByteArray> colors = rig.rx.linesStartingWith("LED_COLOR ");
        QCOMPARE(colors.size(), 100);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(colors.at(i), QStringLiteral("LED_COLOR %1 %2").arg(i).arg(i == 2 ? 224 : 28).toLatin1());
        QCOMPARE(lines.constLast(), QByteArray("LED_COMMIT"));
    }

    void confirmationAndTimeOut()
    {
        ReceiverRig rig;
        CorvaneController *controller = rig.controller.get();
        rig.rx.setAnswersLedCommit(false);
        QSignalSpy started(controller, &CorvaneController::ledConfigPushStarted);
        QSignalSpy finished(controller, &CorvaneController::ledConfigPushFinished);

        QVERIFY(!controller->startLedConfigPush());
        QCOMPARE(finished.takeFirst(),
                 (QVariantList { false, QString::fromUtf8("Receiver is not connected over USB. Connect it in "
                                                          "Telemetry \u25B8 Receiver first.") }));
        QVERIFY(rig.openReceiver());

        QVERIFY(controller->startLedConfigPush());
        QVERIFY(rig.rx.waitForLine("LED_COMMIT"));
        // A second push while the first waits is refused without a word.
        QVERIFY(!controller->startLedConfigPush());
        QCOMPARE(started.size(), 1);
        QVERIFY(finished.isEmpty());
        QVERIFY(rig.rx.sendLine("LED_COMMIT_OKAY"));
        QVERIFY(rig.rx.sendLine(" LED_COMMIT_OK "));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.takeFirst().at(0).toBool(), true);

        QVERIFY(controller->startLedConfigPush());
        QMetaObject::invokeMethod(controller, "onLedConfirmationTimeout", Qt::DirectConnection);
        QCOMPARE(finished.takeFirst(),
                 (QVariantList { false, QStringLiteral("Timed out waiting for the receiver to confirm. The strip may "
                                                       "still have been configured — check it, or try again.") }));
        // A late confirmation after the time-out changes nothing.
        QVERIFY(rig.rx.sendLine("LED_COMMIT_OK"));
        QTest::qWait(100);
        QVERIFY(finished.isEmpty());
        QVERIFY(!controller->ledConfigPushActive());
    }

    void steppedSequence_data()
    {
        QTest::addColumn<LedSettings>("settings");
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<int>("ticks");
        LedSettings global;
        QTest::newRow("global") << global << QList<int> { 2, 3, 4, 5, 6, 9, 0 } << 60;
        LedSettings range;
        range.mode = LedMode::Range;
        QTest::newRow("range without zones") << range << QList<int> { 2, 3, 4, 5, 7, 8, 6, 9, 0 } << 80;
        range.rangeZones = { zone(0, 50), zone(50, 100) };
        QTest::newRow("range with two zones")
            << range << QList<int> { 2, 3, 4, 5, 7, 8, 6, 7, 8, 6, 9, 0 } << 110;
        LedSettings perLed;
        perLed.mode = LedMode::PerLed;
        perLed.ledCount = 3;
        QTest::newRow("per LED") << perLed << QList<int> { 2, 3, 4, 5, 6, 6, 6, 9, 0 } << 80;
    }

    void steppedSequence()
    {
        QFETCH(LedSettings, settings);
        QFETCH(QList<int>, states);
        QFETCH(int, ticks);
        ReceiverRig rig;
        CorvaneController *controller = rig.controller.get();
        settings.configState = 1;
        settings.configPending = true;
        controller->setLedSettings(settings);
        QList<int> seen { controller->ledSettings().configState };
        int count = 0;
        // The slot is called by hand, without the event loop, so the real timer stays out of it.
        while (controller->ledSettings().configState != 0 && count < 500) {
            QMetaObject::invokeMethod(controller, "onLedConfigTimer", Qt::DirectConnection);
            ++count;
            if (count % 10 == 0)
                seen.append(controller->ledSettings().configState);
        }
        QCOMPARE(seen, states);
        QCOMPARE(count, ticks);
        QVERIFY(!controller->ledSettings().configPending);
        // The run-time fields stay out of the profile file.
        corvane::ProfileManager reloaded;
        QCOMPARE(reloaded.ledSettings().configState, 0);
        QCOMPARE(reloaded.ledSettings().mode, settings.mode);
    }
};

OSTRA_TEST_MAIN_CORE(TestLedPush)
#include "tst_ledpush.moc"
