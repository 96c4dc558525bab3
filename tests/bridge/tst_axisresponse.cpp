#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
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

// The logarithmic curve evaluated by the C library at run time, as the response does, not
// folded by the compiler at another precision.
float logCurve(volatile float k, volatile float x)
{
    return logf((expf(k) - 1.0f) * x + 1.0f) / k;
}

// The bipolar output range 0..1, rounded step by step in single precision.
float fullRange(volatile float y)
{
    return 2.0f * (1.0f * y * 0.5f + 1.0f * 0.5f - 0.5f);
}

} // namespace

class TestAxisResponse : public QObject
{
    Q_OBJECT

private slots:
    void response_data();
    void response();
    void alwaysFiniteAndInRange();
};

void TestAxisResponse::response_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("bipolar");
    QTest::addColumn<float>("value");
    QTest::addColumn<float>("expected");

    const QByteArray defaults("{}");
    // Default record.
    QTest::newRow("bipolar default passes -1") << defaults << true << -1.0f << -1.0f;
    QTest::newRow("bipolar default passes -0.3") << defaults << true << -0.3f << -0.3f;
    QTest::newRow("bipolar default passes 0") << defaults << true << 0.0f << 0.0f;
    QTest::newRow("bipolar default passes 0.75") << defaults << true << 0.75f << 0.75f;
    QTest::newRow("one-sided released") << defaults << false << -1.0f << 0.0f;
    QTest::newRow("one-sided half with the floor") << defaults << false << 0.0f << (0.5f - 0.02f) / 0.98f;
    QTest::newRow("one-sided full") << defaults << false << 1.0f << 1.0f;
    QTest::newRow("one-sided below the floor is not pressed") << defaults << false << -0.97f << 0.0f;
    QTest::newRow("one-sided inverted released at +1") << QByteArray(R"({"inverted": true})") << false << 1.0f
                                                       << 0.0f;
    QTest::newRow("one-sided inverted full at -1") << QByteArray(R"({"inverted": true})") << false << -1.0f << 1.0f;
    // Dead zone, curves, expo, output range.
    QTest::newRow("dead zone swallows small values") << QByteArray(R"({"deadzone": 0.1})") << true << 0.05f
                                                     << 0.0f;
    QTest::newRow("dead zone rescales the rest") << QByteArray(R"({"deadzone": 0.1})") << true << -0.55f
                                                 << -((0.55f - 0.1f) / (1.0f - 0.1f));
    QTest::newRow("one-sided dead zone above the floor") << QByteArray(R"({"deadzone": 0.2})") << false << -0.7f
                                                         << 0.0f;
    QTest::newRow("inverted bipolar") << QByteArray(R"({"inverted": true})") << true << 0.5f << -0.5f;
    QTest::newRow("power curve") << QByteArray(R"({"curve": 1, "curveExponent": 2})") << true << -0.5f << -0.25f;
    QTest::newRow("log curve") << QByteArray(R"({"curve": 2, "curveExponent": 2})") << true << 0.5f
                               << fullRange(logCurve(2.0f, 0.5f));
    QTest::newRow("unknown curve is linear") << QByteArray(R"({"curve": 7, "curveExponent": 3})") << true << 0.5f
                                             << 0.5f;
    QTest::newRow("no expo at 0.0001") << QByteArray(R"({"expo": 0.0001})") << true << 0.5f << 0.5f;
    QTest::newRow("full expo cubes") << QByteArray(R"({"expo": 1})") << true << 0.5f << 0.125f;
    QTest::newRow("half expo blends") << QByteArray(R"({"expo": 0.5})") << true << 0.5f << 0.3125f;
    QTest::newRow("no expo on one-sided axes") << QByteArray(R"({"expo": 1})") << false << 1.0f << 1.0f;
    QTest::newRow("bipolar range, full left") << QByteArray(R"({"minOutput": 0.25, "maxOutput": 0.75})") << true
                                              << -1.0f << -0.5f;
    QTest::newRow("bipolar range, centre") << QByteArray(R"({"minOutput": 0.25, "maxOutput": 0.75})") << true
                                           << 0.0f << 0.0f;
    QTest::newRow("bipolar range, full right") << QByteArray(R"({"minOutput": 0.25, "maxOutput": 0.75})") << true
                                               << 1.0f << 0.5f;
    QTest::newRow("one-sided range, full") << QByteArray(R"({"minOutput": 0.2, "maxOutput": 0.6})") << false
                                           << 1.0f << 0.6f;
    QTest::newRow("one-sided range, released gives 0") << QByteArray(R"({"minOutput": 0.2, "maxOutput": 0.6})")
                                                       << false << -1.0f << 0.0f;
    QTest::newRow("bipolar beyond travel") << defaults << true << 1.5f << 1.0f;
    QTest::newRow("bipolar beyond travel, negative") << defaults << true << -3.0f << -1.0f;
    QTest::newRow("one-sided beyond travel") << defaults << false << 2.0f << 1.0f;
    QTest::newRow("range beyond 0..1 is clamped") << QByteArray(R"({"minOutput": -1, "maxOutput": 3})") << true
                                                  << 0.9f << 1.0f;
    // Bipolar calibration.
    const QByteArray calibrated(R"({"useCalibration": true, "inputMin": -0.5, "inputCenter": 0.1, "inputMax": 0.6})");
    QTest::newRow("calibrated minimum") << calibrated << true << -0.5f << -1.0f;
    QTest::newRow("calibrated centre") << calibrated << true << 0.1f << 0.0f;
    QTest::newRow("calibrated maximum") << calibrated << true << 0.6f << 1.0f;
    QTest::newRow("calibrated beyond maximum") << calibrated << true << 0.9f << 1.0f;
    QTest::newRow("calibration ignored when off")
        << QByteArray(R"({"inputMin": -0.5, "inputCenter": 0.1, "inputMax": 0.6})") << true << 0.25f << 0.25f;
    QTest::newRow("collapsed lower half gives 0")
        << QByteArray(R"({"useCalibration": true, "inputMin": -0.00005, "inputCenter": 0})") << true << -0.5f
        << 0.0f;
    QTest::newRow("collapsed upper half gives 0")
        << QByteArray(R"({"useCalibration": true, "inputCenter": 0.5, "inputMax": 0.5})") << true << 0.9f << 0.0f;
    // One-sided calibration: travel measured between the calibrated ends.
    const QByteArray pedal(R"({"useCalibration": true, "inputMin": 0.2, "inputMax": 0.8})");
    QTest::newRow("pedal at its calibrated rest") << pedal << false << 0.2f << 0.0f;
    QTest::newRow("pedal below its rest") << pedal << false << -1.0f << 0.0f;
    QTest::newRow("pedal half way") << pedal << false << 0.5f << ((0.5f - 0.2f) / 0.6f - 0.02f) / 0.98f;
    QTest::newRow("pedal at its calibrated end") << pedal << false << 0.8f << 1.0f;
    QTest::newRow("pedal beyond its end") << pedal << false << 1.0f << 1.0f;
    QTest::newRow("inverted calibrated pedal, rest end")
        << QByteArray(R"({"useCalibration": true, "inverted": true, "inputMin": 0.2, "inputMax": 0.8})") << false
        << 0.8f << 0.0f;
    QTest::newRow("inverted calibrated pedal, full end")
        << QByteArray(R"({"useCalibration": true, "inverted": true, "inputMin": 0.2, "inputMax": 0.8})") << false
        << 0.2f << 1.0f;
    QTest::newRow("pedal calibrated falling") << QByteArray(R"({"useCalibration": true, "inputMin": 0.8, "inputMax": 0.2})")
                                              << false << 0.2f << 1.0f;
    QTest::newRow("pedal with equal ends gives 0")
        << QByteArray(R"({"useCalibration": true, "inputMin": 0.4, "inputMax": 0.4})") << false << 1.0f << 0.0f;
    QTest::newRow("full calibration range matches the plain mapping")
        << QByteArray(R"({"useCalibration": true})") << false << 0.0f << (0.5f - 0.02f) / 0.98f;
    // Records that would divide by zero.
    QTest::newRow("log curve with exponent 0 is linear")
        << QByteArray(R"({"curve": 2, "curveExponent": 0})") << true << 0.5f << 0.5f;
    QTest::newRow("log curve with exponent 0, one-sided full")
        << QByteArray(R"({"curve": 2, "curveExponent": 0})") << false << 1.0f << 1.0f;
    QTest::newRow("power curve with exponent 0 keeps the centre")
        << QByteArray(R"({"curve": 1, "curveExponent": 0})") << true << 0.0f << 0.0f;
    QTest::newRow("power curve with exponent 0 is linear")
        << QByteArray(R"({"curve": 1, "curveExponent": 0})") << true << 0.5f << 0.5f;
    QTest::newRow("tiny exponent is linear")
        << QByteArray(R"({"curve": 2, "curveExponent": 1e-7})") << true << -0.25f << -0.25f;
    QTest::newRow("tiny negative exponent is linear")
        << QByteArray(R"({"curve": 2, "curveExponent": -1e-7})") << false << 1.0f << 1.0f;
    QTest::newRow("dead zone 1, bipolar full") << QByteArray(R"({"deadzone": 1})") << true << 1.0f << 0.0f;
    QTest::newRow("dead zone 1, one-sided full") << QByteArray(R"({"deadzone": 1})") << false << 1.0f << 0.0f;
    QTest::newRow("dead zone 1.5, bipolar") << QByteArray(R"({"deadzone": 1.5})") << true << -1.0f << 0.0f;
    QTest::newRow("dead zone 1 holds a shifted range at its centre")
        << QByteArray(R"({"deadzone": 1, "minOutput": 0.5})") << true << 1.0f << 0.5f;
    QTest::newRow("negative dead zone keeps the centre") << QByteArray(R"({"deadzone": -0.5})") << true << 0.0f
                                                        << 0.0f;
    QTest::newRow("negative dead zone acts as none") << QByteArray(R"({"deadzone": -0.5})") << true << 0.5f << 0.5f;
    QTest::newRow("power curve with negative exponent at the dead zone edge")
        << QByteArray(R"({"curve": 1, "curveExponent": -2, "deadzone": 0.1})") << true << 0.1f << 0.0f;
}

void TestAxisResponse::response()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, bipolar);
    QFETCH(float, value);
    QFETCH(float, expected);
    const float result = corvane::processAxis(config(json), value, bipolar);
    QVERIFY2(result == expected, qPrintable(QStringLiteral("got %1, expected %2").arg(result, 0, 'g', 9).arg(expected, 0, 'g', 9)));
}

void TestAxisResponse::alwaysFiniteAndInRange()
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
        if (!std::isfinite(result) || result > 1.0f || result < (bipolar ? -1.0f : 0.0f)) {
            QFAIL(qPrintable(QStringLiteral("%1 from %2 with %3")
                                 .arg(double(result))
                                 .arg(double(raw))
                                 .arg(QString::fromUtf8(QJsonDocument(axis.toJson()).toJson(QJsonDocument::Compact)))));
        }
    }
}

OSTRA_TEST_MAIN_CORE(TestAxisResponse)
#include "tst_axisresponse.moc"
