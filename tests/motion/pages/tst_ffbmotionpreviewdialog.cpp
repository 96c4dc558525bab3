#include "motion/pages/ffbmotionpreviewdialog.h"

#include "bridge/corvanecontroller.h"
#include "bridge/motiontelemetrysender.h"
#include "motion/pages/previewrig3d.h"
#include "motion/pages/previewwheel.h"
#include "ostraui/theme.h"

#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"

#include <QApplication>
#include <QLabel>
#include <QTextDocument>

#include <memory>

using corvane::CorvaneController;
using corvane::FfbMotionPreviewDialog;
using corvane::MotionTelemetrySender;
using corvane::PreviewWheel;
using Mix = std::array<float, 4>;
Q_DECLARE_METATYPE(Mix)

namespace {

QString picture(const QString &name) { return ostratest::themedPicture("motion", name); }

} // namespace

class TestFfbMotionPreviewDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<CorvaneController> m_controller;

    MotionTelemetrySender *sender() const { return m_controller->motionTelemetrySender(); }

    static QString label(FfbMotionPreviewDialog &dialog, const char *name)
    {
        return dialog.findChild<QLabel *>(name)->text();
    }

    void tick(FfbMotionPreviewDialog &dialog)
    {
        QMetaObject::invokeMethod(&dialog, "updatePreview");
    }

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }
    void init() { m_controller = std::make_unique<CorvaneController>(); }
    void cleanup() { m_controller.reset(); }

    void actuatorMix_data()
    {
        QTest::addColumn<float>("pitch");
        QTest::addColumn<float>("roll");
        QTest::addColumn<float>("heave");
        QTest::addColumn<Mix>("expected");
        QTest::newRow("at rest: mid-stroke") << 0.0f << 0.0f << 0.0f << Mix { 0, 0, 0, 0 };
        QTest::newRow("heave only") << 0.0f << 0.0f << 1.0f << Mix { 0.5f, 0.5f, 0.5f, 0.5f };
        QTest::newRow("full pitch, roll and heave clamp") << 10.0f << 10.0f << 1.0f << Mix { 1, 0.5f, 0.5f, -1 };
        QTest::newRow("nose down") << -5.0f << 0.0f << 0.0f << Mix { -0.5f, -0.5f, 0.5f, 0.5f };
        QTest::newRow("roll right") << 0.0f << -10.0f << -0.4f << Mix { -1, 0.8f, -1, 0.8f };
    }

    void actuatorMix()
    {
        QFETCH(float, pitch);
        QFETCH(float, roll);
        QFETCH(float, heave);
        QFETCH(Mix, expected);
        const Mix mix = FfbMotionPreviewDialog::actuatorMix(pitch, roll, heave);
        for (size_t i = 0; i < mix.size(); ++i)
            QVERIFY2(qFuzzyCompare(1.0f + mix[i], 1.0f + expected[i]), qPrintable(QString("actuator %1: %2").arg(i).arg(mix[i])));
    }

    void forceLabel_data()
    {
        QTest::addColumn<float>("ffb");
        QTest::addColumn<QString>("start");
        QTest::newRow("0.006 carries a plus") << 0.006f << "Force +1% ";
        QTest::newRow("0.005 has none") << 0.005f << "Force 1% ";
        QTest::newRow("negative carries its minus") << -0.3f << "Force -30% ";
        QTest::newRow("none") << 0.0f << "Force 0% ";
    }

    void forceLabel()
    {
        QFETCH(float, ffb);
        QFETCH(QString, start);
        FfbMotionPreviewDialog dialog(m_controller.get(), nullptr);
        emit m_controller->ffbLevelReceived(ffb);
        tick(dialog);
        const QString text = label(dialog, "forceLabel");
        QVERIFY2(text.startsWith(start), qPrintable(text));
        const long atWheel = std::lround(m_controller->shapeFfbForce(ffb) * 100.0f);
        QVERIFY2(text.endsWith(QString::fromUtf8(" \u2192 at the wheel %1%\nG-force frames 0/s").arg(atWheel)), qPrintable(text));
    }

    void simulatedWheelSettles()
    {
        // No wheel base: the force turns a simulated wheel against its centering spring.
        FfbMotionPreviewDialog dialog(m_controller.get(), nullptr);
        auto *wheel = dialog.findChild<PreviewWheel *>();
        emit m_controller->ffbLevelReceived(1.0f);
        for (int i = 0; i < 60; ++i)
            tick(dialog);
        const float displaced = wheel->angle();
        const float target = m_controller->shapeFfbForce(1.0f) / std::max(m_controller->wheelFfbCentering(), 0.15f) * 180.0f;
        QVERIFY2(std::abs(displaced - target) < 1.0f, qPrintable(QString::number(displaced)));
        QCOMPARE(label(dialog, "wheelModeLabel"),
                 QString("No force-feedback wheel (a gamepad has none): simulated with hands off. The force turns it "
                         "against the centering spring (Strength %1%, Centering %2%).")
                     .arg(std::lround(m_controller->wheelFfbStrength() * 100))
                     .arg(std::lround(m_controller->wheelFfbCentering() * 100)));

        // Let go: it swings back past the centre, less far, and comes to rest.
        emit m_controller->ffbLevelReceived(0.0f);
        float lowest = displaced;
        float previous = displaced;
        int crossings = 0;
        for (int i = 0; i < 120; ++i) {
            tick(dialog);
            const float angle = wheel->angle();
            if ((angle < 0) != (previous < 0))
                ++crossings;
            lowest = std::min(lowest, angle);
            previous = angle;
        }
        QVERIFY(crossings >= 1);
        QVERIFY(lowest < 0.0f);
        QVERIFY(-lowest < displaced / 4);
        QVERIFY2(std::abs(wheel->angle()) < 0.5f, qPrintable(QString::number(wheel->angle())));
    }

    void senderUserLastsAsLongAsTheDialog()
    {
        QVERIFY(!sender()->isEnabled());
        sender()->setGForces(1.0f, 0.0f, 0.0f);
        QTest::qWait(80);
        // Nobody previews and output is off: the sender's filter does not run.
        QCOMPARE(sender()->previewState().lon, 0.0f);

        auto *dialog = new FfbMotionPreviewDialog(m_controller.get(), nullptr);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QTRY_VERIFY_WITH_TIMEOUT(sender()->previewState().lon > 0.0f, 5000);
        tick(*dialog);
        const QString status = label(*dialog, "statusLabel");
        QVERIFY2(status.contains("G-forces live"), qPrintable(status));
        QVERIFY(status.contains("Attitude no data"));
        QVERIFY(status.contains("Rig stream off (preview only)"));
        QVERIFY(status.contains(ostra::colorHex(ostra::ThemeColors::successAccent)));
        QVERIFY(status.contains(ostra::colorHex(ostra::ThemeColors::textMuted)));
        QVERIFY(dialog->findChild<corvane::PreviewRig3D *>()->valueText().startsWith("Pitch +"));

        QPointer<FfbMotionPreviewDialog> guard(dialog);
        dialog->close();
        QTRY_VERIFY(guard.isNull());
        const float settled = sender()->previewState().lon;
        sender()->setGForces(-1.0f, 0.0f, 0.0f);
        QTest::qWait(80);
        QCOMPARE(sender()->previewState().lon, settled);
    }

    // The typed host is shown as typed, whatever it holds.
    void streamHostShownAsText()
    {
        sender()->setTarget("<b>rig</b>&amp;", 20777);
        sender()->setEnabled(true);
        FfbMotionPreviewDialog dialog(m_controller.get(), nullptr);
        tick(dialog);
        QTextDocument shown;
        shown.setHtml(label(dialog, "statusLabel"));
        const QString text = shown.toPlainText();
        QVERIFY2(text.contains(QString::fromUtf8("Rig stream on \u2192 <b>rig</b>&amp;:20777")), qPrintable(text));
        sender()->setEnabled(false);
    }

    void withoutController()
    {
        FfbMotionPreviewDialog dialog(nullptr, nullptr);
        tick(dialog);
        QCOMPARE(label(dialog, "forceLabel"), QString());
        QCOMPARE(label(dialog, "statusLabel"), QString());
    }

    void render()
    {
        sender()->setGForces(0.35f, -0.6f, 0.1f);
        sender()->setAttitude(2.0f, -3.0f, 30.0f);
        FfbMotionPreviewDialog dialog(m_controller.get(), nullptr);
        emit m_controller->ffbLevelReceived(0.45f);
        // Let the sender's filter settle towards the sample.
        QTest::qWait(400);
        sender()->setGForces(0.35f, -0.6f, 0.1f);
        for (int i = 0; i < 30; ++i)
            tick(dialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Never smaller than the previews need, also on a small screen.
        QVERIFY(dialog.height() >= dialog.minimumSizeHint().height());
        dialog.resize(100, 100);
        QCOMPARE(dialog.size(), dialog.minimumSize());
        QVERIFY(dialog.width() >= 820);
        dialog.resize(dialog.sizeHint());
        const QImage image = dialog.grab().toImage();
        QVERIFY(image.width() >= 820);
        QVERIFY(image.save(picture("ffb-motion-preview")));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("motion", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestFfbMotionPreviewDialog)
#include "tst_ffbmotionpreviewdialog.moc"
