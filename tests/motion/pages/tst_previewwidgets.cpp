#include "motion/pages/ffbmotionpreviewdialog.h"
#include "motion/pages/previewactuators.h"
#include "motion/pages/previewdrawing.h"
#include "motion/pages/previewgball.h"
#include "motion/pages/previewheading.h"
#include "motion/pages/previewrig3d.h"
#include "motion/pages/previewwheel.h"
#include "ostraui/theme.h"

#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"

#include <QApplication>

#include <functional>

using namespace corvane;
using Factory = std::function<QWidget *()>;
Q_DECLARE_METATYPE(Factory)

namespace {

QString picture(const QString &name) { return ostratest::themedPicture("motion", name); }

template <typename W, typename F> QWidget *make(int width, int height, F setUp)
{
    auto *widget = new W;
    widget->resize(width, height);
    setUp(widget);
    return widget;
}

QImage paint(QWidget &widget)
{
    widget.show();
    return widget.grab().toImage();
}

} // namespace

// The painted widgets of the force-feedback and motion preview.
class TestPreviewWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ostra::installTheme(*qApp); }

    void headers_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<QString>("expected");
        const auto wheel = [](float angle) {
            return Factory([angle] { return make<PreviewWheel>(230, 230, [angle](PreviewWheel *w) { w->setValues(angle, 0, 0, true); }); });
        };
        QTest::newRow("wheel 0.9 is centred") << wheel(0.9f) << "centred";
        QTest::newRow("wheel -1 left") << wheel(-1.0f) << QString::fromUtf8("1\u00b0 left");
        QTest::newRow("wheel 10.5 right") << wheel(10.5f) << QString::fromUtf8("11\u00b0 right");
        QTest::newRow("wheel -450") << wheel(-450.0f) << QString::fromUtf8("450\u00b0 left");
        QTest::newRow("heading without data") << Factory([] { return make<PreviewHeading>(150, 130, [](PreviewHeading *w) { w->setValues(40, false); }); })
                                              << "no data";
        QTest::newRow("heading live") << Factory([] { return make<PreviewHeading>(150, 130, [](PreviewHeading *w) { w->setValues(12.4f, true); }); })
                                      << QString::fromUtf8("+12\u00b0");
        QTest::newRow("heading live negative") << Factory([] { return make<PreviewHeading>(150, 130, [](PreviewHeading *w) { w->setValues(-90, true); }); })
                                               << QString::fromUtf8("-90\u00b0");
        QTest::newRow("g-ball without data") << Factory([] { return make<PreviewGBall>(150, 130, [](PreviewGBall *w) { w->setValues(1, 1, 0, false); }); })
                                             << "no data";
        QTest::newRow("g-ball live") << Factory([] { return make<PreviewGBall>(150, 130, [](PreviewGBall *w) { w->setValues(0.3f, -0.4f, 0, true); }); })
                                     << "0.50 g";
        QTest::newRow("rig") << Factory([] { return make<PreviewRig3D>(380, 300, [](PreviewRig3D *w) { w->setValues({}, 0, 1.04f, -2, 0.5f, true); }); })
                             << QString::fromUtf8("Pitch +1.0\u00b0  Roll -2.0\u00b0  Heave +50%");
        QTest::newRow("rig below the plus threshold") << Factory([] { return make<PreviewRig3D>(380, 300, [](PreviewRig3D *w) { w->setValues({}, 0, 0.04f, 0, 0, false); }); })
                                                      << QString::fromUtf8("Pitch 0.0\u00b0  Roll 0.0\u00b0  Heave 0%");
    }

    void headers()
    {
        QFETCH(Factory, make);
        QFETCH(QString, expected);
        QScopedPointer<QWidget> widget(make());
        QString text;
        if (auto *w = qobject_cast<PreviewWheel *>(widget.data()))
            text = w->valueText();
        else if (auto *h = qobject_cast<PreviewHeading *>(widget.data()))
            text = h->valueText();
        else if (auto *g = qobject_cast<PreviewGBall *>(widget.data()))
            text = g->valueText();
        else if (auto *r = qobject_cast<PreviewRig3D *>(widget.data()))
            text = r->valueText();
        QCOMPARE(text, expected);
    }

    void gBallDot_data()
    {
        QTest::addColumn<float>("lateral");
        QTest::addColumn<float>("longitudinal");
        QTest::addColumn<QPoint>("dot");
        // 200 x 160: radius 58 about (88, 92).
        QTest::newRow("3 g on both axes: corner of the square") << 3.0f << 3.0f << QPoint(30, 150);
        QTest::newRow("3 g lateral: on the outer circle") << 3.0f << 0.0f << QPoint(30, 92);
        QTest::newRow("1.5 g braking: outer circle at the top") << 0.0f << -1.5f << QPoint(88, 34);
        QTest::newRow("at rest: centre") << 0.0f << 0.0f << QPoint(88, 92);
    }

    void gBallDot()
    {
        QFETCH(float, lateral);
        QFETCH(float, longitudinal);
        QFETCH(QPoint, dot);
        PreviewGBall ball;
        ball.resize(200, 160);
        ball.setValues(lateral, longitudinal, 0, true);
        const QImage image = paint(ball);
        QCOMPARE(image.pixelColor(dot), ostra::ThemeColors::dangerAccent);
        ball.setValues(lateral, longitudinal, 0, false);
        QCOMPARE(paint(ball).pixelColor(dot), ostra::ThemeColors::textDisabled);
    }

    void wheelForceArc()
    {
        // The arc runs on the circle of radius 88 about (115, 129) in a 230 x 230 wheel; -1 sweeps
        // 60 degrees from the top towards the left.
        PreviewWheel wheel;
        wheel.resize(230, 230);
        const QPoint leftOfTop(115 - 44, 129 - 76); // 30 degrees left of the top
        wheel.setValues(0, 0.005f, 0, true);
        QCOMPARE(paint(wheel).pixelColor(leftOfTop), ostra::ThemeColors::hairline);
        wheel.setValues(0, -1, 0, true);
        QCOMPARE(paint(wheel).pixelColor(leftOfTop), ostra::ThemeColors::dangerAccent);
        wheel.setValues(0, -1, 0, false);
        QCOMPARE(paint(wheel).pixelColor(leftOfTop), ostra::ThemeColors::textMuted);
    }

    void render_data()
    {
        QTest::addColumn<Factory>("make");
        const std::array<float, 4> mix = FfbMotionPreviewDialog::actuatorMix(7, -5, 0.3f);
        QTest::newRow("preview-wheel") << Factory([] { return make<PreviewWheel>(260, 260, [](PreviewWheel *w) { w->setValues(35, 0.4f, 0.45f, true); }); });
        QTest::newRow("preview-wheel-idle") << Factory([] { return make<PreviewWheel>(260, 260, [](PreviewWheel *w) { w->setValues(-0.5f, -0.3f, -0.3f, false); }); });
        QTest::newRow("preview-rig") << Factory([mix] { return make<PreviewRig3D>(420, 320, [mix](PreviewRig3D *w) { w->setValues(mix, 60, 7, -5, 0.3f, true); }); });
        QTest::newRow("preview-rig-idle") << Factory([] { return make<PreviewRig3D>(420, 320, [](PreviewRig3D *w) { w->setValues({}, 0, 0, 0, 0, false); }); });
        QTest::newRow("preview-heading") << Factory([] { return make<PreviewHeading>(170, 140, [](PreviewHeading *w) { w->setValues(25, true); }); });
        QTest::newRow("preview-gball") << Factory([] { return make<PreviewGBall>(170, 140, [](PreviewGBall *w) { w->setValues(0.6f, -0.4f, 0.3f, true); }); });
        QTest::newRow("preview-actuators") << Factory([mix] { return make<PreviewActuators>(170, 140, [mix](PreviewActuators *w) { w->setValues(mix, true); }); });
        QTest::newRow("preview-actuators-idle") << Factory([] { return make<PreviewActuators>(170, 140, [](PreviewActuators *w) { w->setValues({}, false); }); });
    }

    void render()
    {
        QFETCH(Factory, make);
        QScopedPointer<QWidget> widget(make());
        const QImage image = paint(*widget);
        // The card fills the widget but for its rounded corners.
        QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 3), ostra::ThemeColors::surfaceAlt);
        QVERIFY(image.save(picture(QString::fromLatin1(QTest::currentDataTag()))));
    }

    void darkTheme() { QVERIFY(ostratest::renderDarkTwin("motion", {"render"})); }
};

OSTRA_TEST_MAIN_WIDGETS(TestPreviewWidgets)
#include "tst_previewwidgets.moc"
