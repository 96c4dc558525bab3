#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include <benchmark/benchmark.h>

#include "bridge/corvanecontroller.h"
#include "motion/motionsystemcontroller.h"
#include "motion/pages/ffbmotionpreviewdialog.h"
#include "motion/pages/previewrig3d.h"
#include "motion/pages/motionsystemwidget.h"
#include "ostraui/theme.h"
#include "tests/support/simulatedmotioncontroller.h"
#include "bench/benchmarkmain.h"

namespace {

// The Motion System page at 1280 px with the board ready and a 30 s haptics test running, which
// is when the page refreshes every 100 ms and position reports stream in.
void installThemeOnce()
{
    static const bool installed = [] {
        ostra::installTheme(*qApp);
        return true;
    }();
    Q_UNUSED(installed);
}

struct ThemeFirst
{
    ThemeFirst() { installThemeOnce(); }
};

struct RunningPage
{
    RunningPage(const RunningPage &) = delete;
    RunningPage &operator=(const RunningPage &) = delete;
    ThemeFirst theme;

    ostratest::SimulatedMotionController board;
    corvane::MotionSystemController controller;
    corvane::MotionSystemWidget page { &controller };
    bool ok = false;

    RunningPage()
    {
        page.resize(1280, 1800);
        page.show();
        ok = controller.connectPort(board.portName()) && board.sendHeartbeat("ready") && board.waitForFrame('Q')
             && QTest::qWaitFor([this] { return controller.state() == QLatin1String("ready"); }, 5000)
             && controller.vibrate(-1, 5, 30, 30);
    }
};

// One tick of the 100 ms refresh timer while a test runs: texts, enables, meters, statuses.
void BM_MotionPageRefreshTick(benchmark::State &state)
{
    RunningPage running;
    if (!running.ok) {
        state.SkipWithError("simulated board not ready");
        return;
    }
    for (auto _ : state)
        QMetaObject::invokeMethod(&running.page, "refreshRunButton");
}
BENCHMARK(BM_MotionPageRefreshTick)->Unit(benchmark::kMicrosecond);

// One position report of six actuators reaching the page (direct-control rows and meters).
void BM_MotionPagePositionReport(benchmark::State &state)
{
    RunningPage running;
    if (!running.ok) {
        state.SkipWithError("simulated board not ready");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        ++i;
        running.controller.parseLine(QStringLiteral("@P %1 %2 %3 %4 %5 %6").arg(40 + i % 20).arg(50).arg(60 + i % 7).arg(70).arg(80).arg(90));
    }
}
BENCHMARK(BM_MotionPagePositionReport)->Unit(benchmark::kMicrosecond);

// What the periodic refresh repaints: the run button with its fill (arg 0) or the six live
// columns (arg 1).
void BM_MotionPagePeriodicRepaint(benchmark::State &state)
{
    RunningPage running;
    if (!running.ok) {
        state.SkipWithError("simulated board not ready");
        return;
    }
    QList<QWidget *> painted;
    if (state.range(0) == 0) {
        painted.append(running.page.findChild<QPushButton *>(QStringLiteral("runButton")));
    } else {
        for (int i = 1; i <= 6; ++i)
            painted.append(running.page.findChild<QWidget *>(QStringLiteral("liveColumn%1").arg(i)));
    }
    QImage target(1280, 800, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        for (QWidget *widget : painted)
            widget->render(&target, QPoint(), QRegion(), QWidget::DrawChildren);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_MotionPagePeriodicRepaint)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One 33 ms tick of the force-feedback and motion preview dialog at 1280 x 800: the update and
// the repaint of its five preview widgets.
void BM_FfbPreviewTick(benchmark::State &state)
{
    ThemeFirst theme;
    corvane::CorvaneController controller;
    corvane::FfbMotionPreviewDialog dialog(&controller, nullptr);
    dialog.resize(1280, 800);
    dialog.show();
    QList<QWidget *> previews;
    for (QWidget *widget : dialog.findChildren<QWidget *>()) {
        if (QByteArray(widget->metaObject()->className()).startsWith("corvane::Preview"))
            previews.append(widget);
    }
    QImage target(1280, 800, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QMetaObject::invokeMethod(&dialog, "updatePreview");
        for (QWidget *widget : previews)
            widget->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["previews"] = double(previews.size());
}
BENCHMARK(BM_FfbPreviewTick)->Unit(benchmark::kMicrosecond);

// The largest of those widgets, the 3-D rig, painted at 1280 x 800.
void BM_PreviewRigPaint(benchmark::State &state)
{
    ThemeFirst theme;
    corvane::PreviewRig3D rig;
    rig.resize(1280, 800);
    rig.setValues(corvane::FfbMotionPreviewDialog::actuatorMix(6, -4, 0.4f), 120, 6, -4, 0.4f, true);
    QImage image(rig.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        rig.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PreviewRigPaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
