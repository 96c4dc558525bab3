#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QPointF>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

#include "bridge/axisresponse.h"
#include "support/testenvironment.h"

namespace {

AxisConfig config(const char *json)
{
    return AxisConfig::fromJson(QJsonDocument::fromJson(json).object());
}

const float Nan = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

} // namespace

class TestAxisResponse : public QObject
{
    Q_OBJECT

private slots:
    // Each row: a record, the axis kind, and input -> output pairs.
    void response_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("bipolar");
        QTest::addColumn<QList<QPointF>>("pairs");
        const auto row = [](const char *name, const char *json, bool bipolar, QList<QPointF> pairs) {
            QTest::newRow(name) << QByteArray(json) << bipolar << pairs;
        };
        const double halfPedal = (0.5f - 0.02f) / 0.98f;
        row("bipolar default passes, clamps beyond travel", "{}", true, {{-0.3f, -0.3f}, {1.5, 1}, {-3, -1}});
        row("one-sided default with its floor", "{}", false, {{-1, 0}, {0, halfPedal}, {-0.97f, 0}, {2, 1}});
        row("dead zone swallows and rescales", R"({"deadzone": 0.1})", true,
            {{0.05f, 0}, {-0.55f, -((0.55f - 0.1f) / (1.0f - 0.1f))}});
        row("power curve", R"({"curve": 1, "curveExponent": 2})", true, {{-0.5, -0.25}});
        row("log curve", R"({"curve": 2, "curveExponent": 2})", true, {{0.5, 0.716890335}});
        row("bipolar output range", R"({"minOutput": 0.25, "maxOutput": 0.75})", true, {{-1, -0.5}, {0, 0}, {1, 0.5}});
        row("bipolar calibration", R"({"useCalibration": true, "inputMin": -0.5, "inputCenter": 0.1, "inputMax": 0.6})",
            true, {{-0.5, -1}, {0.1f, 0}, {0.9f, 1}});
        row("collapsed lower half gives 0", R"({"useCalibration": true, "inputMin": -0.00005, "inputCenter": 0})", true,
            {{-0.5, 0}});
        row("calibrated pedal", R"({"useCalibration": true, "inputMin": 0.2, "inputMax": 0.8})", false,
            {{-1, 0}, {0.5, ((0.5f - 0.2f) / 0.6f - 0.02f) / 0.98f}, {1, 1}});
        // A pedal calibrated over next to no travel stays released instead of switching to full.
        row("pedal span of 0.0001 gives 0", R"({"useCalibration": true, "inputMin": 0, "inputMax": 0.0001})", false,
            {{0.0001f, 0}, {0.9f, 0}});
        row("pedal span of 0.0002 is used", R"({"useCalibration": true, "inputMin": 0, "inputMax": 0.0002})", false,
            {{-0.1f, 0}, {0.9f, 1}});
        row("inverted pedal span gives 0", R"({"useCalibration": true, "inputMin": 0.8, "inputMax": 0.2})", false,
            {{0.5, 0}, {1, 0}});
        // Records that would divide by zero are linear or give 0.
        row("negative dead zone acts as none", R"({"deadzone": -0.5})", true, {{0, 0}, {0.5, 0.5}});
    }

    void response()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, bipolar);
        QFETCH(QList<QPointF>, pairs);
        for (const QPointF &pair : pairs) {
            const float result = corvane::processAxis(config(json), float(pair.x()), bipolar);
            QVERIFY2(result == float(pair.y()), qPrintable(QStringLiteral("%1 gives %2").arg(pair.x()).arg(result)));
        }
    }

    void alwaysFiniteAndInRange()
    {
        const float nasty[] = {0.0f, 1.0f, -1.0f, 0.5f, 2.0f, 1e-7f, -1e-7f, 1e-30f, 1e30f, -1e30f, 100.0f, -100.0f,
                               0.02f, 0.9999f, Nan, Inf, -Inf};
        const int count = int(sizeof(nasty) / sizeof(nasty[0]));
        QRandomGenerator rng(4242);
        auto pick = [&] { return nasty[rng.bounded(count)]; };
        for (int i = 0; i < 200000; ++i) {
            AxisConfig axis;
            axis.inverted = rng.bounded(2) == 1;
            axis.deadzone = pick();
            axis.minOutput = pick();
            axis.maxOutput = pick();
            axis.curve = int(rng.bounded(4));
            axis.curveExponent = pick();
            axis.expo = pick();
            axis.inputMin = pick();
            axis.inputMax = pick();
            axis.inputCenter = pick();
            axis.useCalibration = rng.bounded(2) == 1;
            const bool bipolar = rng.bounded(2) == 1;
            const float raw = rng.bounded(3) == 0 ? pick() : float(rng.bounded(2.4) - 1.2);
            const float result = corvane::processAxis(axis, raw, bipolar);
            QVERIFY2(std::isfinite(result) && result <= 1.0f && result >= (bipolar ? -1.0f : 0.0f),
                     qPrintable(QJsonDocument(axis.toJson()).toJson(QJsonDocument::Compact)));
        }
    }
};

OSTRA_TEST_MAIN_CORE(TestAxisResponse)
#include "tst_axisresponse.moc"
