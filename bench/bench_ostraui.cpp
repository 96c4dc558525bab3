// What the kit's periodic repaints cost on the GUI thread, where every millisecond delays the
// next channel frame: the backdrop's drift step alone and under the whole shell with a page of
// cards (at 1440x900 and 2560x1440, on an X display: tests/support/xvfbrun.sh bench_ostraui), its
// slowest steps in the first second, long after and right after a resize (at 2560x1440, on a
// screen as large: xvfbrun.sh --screen 2560x1440), and the map taking a GPS fix, at 1280x800 and
// 1920x1080.

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/benchmarkmain.h"
#include "bench/shellscene.h"
#include "ostraui/ambientbackground.h"
#include "ostraui/mapview.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"
#include "tests/support/tileserver.h"

namespace {

// The window size of a case, with the theme installed as the program has it (its style sheet
// is part of what the widgets cost to paint).
QSize windowSize(const benchmark::State &state)
{
    static const bool themed = [] {
        ostra::installTheme(*qApp);
        return true;
    }();
    Q_UNUSED(themed);
    return QSize(int(state.range(0)), int(state.range(1)));
}

// Delivers the repaint a widget asked for, as the event loop would, and waits for nothing else.
void paintPending(QWidget *top)
{
    QCoreApplication::sendPostedEvents(top, QEvent::UpdateRequest);
}

// The drift moves only where animations run: on an X display (tests/support/xvfbrun.sh), not
// on the offscreen platform.
bool driftMoves(benchmark::State &state)
{
    if (ostra::animationsEnabled())
        return true;
    state.SkipWithError("the backdrop drifts only with animations on: run under tests/support/xvfbrun.sh");
    return false;
}

// Steps the backdrop's drift 50 ms on its own clock, as its timer does, and delivers the repaint.
// Reports the process's CPU time per step (the raster engine's helper threads included) and what
// 20 steps a second cost.
void driftSteps(benchmark::State &state, QWidget *top, ostra::AmbientBackground *background, qint64 &now)
{
    timespec start{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    for (auto _ : state) {
        now += 50;
        QMetaObject::invokeMethod(background, "onTick");
        paintPending(top);
    }
    timespec end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    const double ms = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
    const double perStep = state.iterations() ? ms / double(state.iterations()) : 0.0;
    state.counters["cpu_ms_per_step"] = perStep;
    state.counters["cpu_ms_per_s"] = perStep * 20;
}

// The backdrop's 50 ms drift step on an empty window.
void BM_AmbientDrift(benchmark::State &state)
{
    if (!driftMoves(state))
        return;
    qint64 now = 0;
    ostra::AmbientBackground background;
    background.setWindowFlag(Qt::FramelessWindowHint);
    background.setClock([&now] { return now; });
    background.resize(windowSize(state));
    background.show();
    if (!QTest::qWaitForWindowExposed(&background)) {
        state.SkipWithError("the window did not show");
        return;
    }
    driftSteps(state, &background, &background, now);
}
BENCHMARK(BM_AmbientDrift)->Args({1440, 900})->Args({2560, 1440})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// One drift step on its own, timed: wall clock and the GUI thread's CPU time, in milliseconds.
struct StepTime
{
    double wall;
    double cpu;
};

template<typename Work> StepTime timed(Work work)
{
    timespec cpuStart{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuStart);
    QElapsedTimer wall;
    wall.start();
    work();
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    timespec cpuEnd{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuEnd);
    return {wallMs, (cpuEnd.tv_sec - cpuStart.tv_sec) * 1e3 + (cpuEnd.tv_nsec - cpuStart.tv_nsec) / 1e6};
}

StepTime timedStep(QWidget *top, ostra::AmbientBackground *background, qint64 &now)
{
    return timed([&] {
        now += 50;
        QMetaObject::invokeMethod(background, "onTick");
        paintPending(top);
    });
}

// What the backdrop does between two steps, as its own timer has it do 20 ms after a step.
StepTime timedBetweenSteps(ostra::AmbientBackground *background)
{
    return timed([background] { QMetaObject::invokeMethod(background, "prepareDashes"); });
}

// Mean and slowest of the steps a case timed, as counters; the slowest is what delays a tick.
struct StepFigures
{
    double wallSum = 0, wallMost = 0, cpuSum = 0, cpuMost = 0;
    int steps = 0;

    void add(const StepTime &step)
    {
        wallSum += step.wall;
        cpuSum += step.cpu;
        wallMost = std::max(wallMost, step.wall);
        cpuMost = std::max(cpuMost, step.cpu);
        ++steps;
    }
    void report(benchmark::State &state, const std::string &wall = "step_ms", const std::string &cpu = "gui_cpu_ms") const
    {
        if (steps == 0)
            return;
        state.counters[wall + "_mean"] = wallSum / steps;
        state.counters[wall + "_most"] = wallMost;
        state.counters[cpu + "_mean"] = cpuSum / steps;
        state.counters[cpu + "_most"] = cpuMost;
    }
};

// The backdrop's steps in three phases at one size (range 2): 0 the first second of drift after
// the window shows, 1 drifting on long after, 2 the steps right after a resize. Each step is timed
// on its own, so the slowest shows beside the mean; between them the X server has the time a
// step's 50 ms leave it to take in what the last one drew, and the backdrop does what it does
// between steps (timed apart, as between_ms and between_cpu_ms).
void BM_AmbientDriftPhases(benchmark::State &state)
{
    if (!driftMoves(state))
        return;
    const int phase = int(state.range(2));
    const QSize size = windowSize(state);
    StepFigures figures;
    StepFigures between;
    for (auto _ : state) {
        state.PauseTiming();
        qint64 now = 0;
        ostra::AmbientBackground background;
        background.setWindowFlag(Qt::FramelessWindowHint);
        background.setClock([&now] { return now; });
        background.resize(size);
        background.show();
        if (!QTest::qWaitForWindowExposed(&background)) {
            state.SkipWithError("the window did not show");
            return;
        }
        paintPending(&background);
        QTest::qWait(50);
        if (phase != 0) {
            // Long enough for every position of the dashes to have come round once.
            for (int i = 0; i < 70; ++i) {
                timedStep(&background, &background, now);
                timedBetweenSteps(&background);
            }
        }
        if (phase == 2) {
            background.resize(size + QSize(8, 0));
            paintPending(&background);
            background.resize(size);
            paintPending(&background);
            QTest::qWait(50);
        }
        state.ResumeTiming();
        for (int i = 0; i < 20; ++i) {
            figures.add(timedStep(&background, &background, now));
            QTest::qSleep(20);
            between.add(timedBetweenSteps(&background));
        }
    }
    figures.report(state);
    between.report(state, "between_ms", "between_cpu_ms");
}
BENCHMARK(BM_AmbientDriftPhases)
    ->Args({2560, 1440, 0})
    ->Args({2560, 1440, 1})
    ->Args({2560, 1440, 2})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// The same step under the whole shell: sidebar, title bar, header and a page of cards.
void BM_ShellAmbientDrift(benchmark::State &state)
{
    if (!driftMoves(state))
        return;
    qint64 now = 0;
    ostratest::TileServer server;
    benchshell::ShellScene scene(windowSize(state), server.baseUrl());
    scene.window()->setClock([&now] { return now; });
    scene.window()->show();
    benchshell::waitForTiles(scene.window(), server);
    driftSteps(state, scene.window(), scene.window(), now);
}
BENCHMARK(BM_ShellAmbientDrift)->Args({1440, 900})->Args({2560, 1440})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The page's live values change (three meters, steering and throttle channels), as after each
// 16 ms monitor tick, and the shell repaints what changed.
void BM_ShellLiveValues(benchmark::State &state)
{
    ostratest::TileServer server;
    benchshell::ShellScene scene(windowSize(state), server.baseUrl());
    scene.window()->setDriftHeld(true);
    scene.window()->show();
    benchshell::waitForTiles(scene.window(), server);
    for (auto _ : state) {
        scene.nextLiveValues();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        paintPending(scene.window());
    }
}
BENCHMARK(BM_ShellLiveValues)->Args({1280, 800})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// The map in its card on the page takes a GPS fix while following the car.
void BM_ShellMapFix(benchmark::State &state)
{
    ostratest::TileServer server;
    benchshell::ShellScene scene(windowSize(state), server.baseUrl());
    scene.window()->setDriftHeld(true);
    scene.window()->show();
    benchshell::waitForTiles(scene.window(), server);
    for (auto _ : state) {
        scene.nextFix();
        paintPending(scene.window());
    }
}
BENCHMARK(BM_ShellMapFix)->Args({1280, 800})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// The whole shell painted at once, as on a resize or the first show.
void BM_ShellFullRepaint(benchmark::State &state)
{
    ostratest::TileServer server;
    benchshell::ShellScene scene(windowSize(state), server.baseUrl());
    scene.window()->show();
    benchshell::waitForTiles(scene.window(), server);
    for (auto _ : state)
        scene.window()->repaint();
}
BENCHMARK(BM_ShellFullRepaint)->Args({1280, 800})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// The two shadows under one large card, as the shadow layer paints them on every repaint.
void BM_CardShadows(benchmark::State &state)
{
    windowSize(state);
    QImage target(1280, 800, QImage::Format_ARGB32_Premultiplied);
    target.fill(ostra::ThemeColors::windowBg);
    const QRectF card(100, 100, 1000, 500);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.setRenderHint(QPainter::Antialiasing);
        ostra::paintShadow(&painter, card, 18, 1, 2, 0, QColor(15, 23, 32, 10));
        ostra::paintShadow(&painter, card, 18, 8, 22, -16, QColor(15, 23, 32, 26));
    }
}
BENCHMARK(BM_CardShadows)->Args({1280, 800})->Unit(benchmark::kMillisecond);

// A window-sized map with every visible tile in memory and a 3000-point trail takes one fix:
// following the car (range 2 = 1) or left where the user panned it (0).
void BM_MapFix(benchmark::State &state)
{
    ostratest::TileServer server;
    ostra::MapView map;
    map.setTileServer(server.baseUrl(), QStringLiteral("test tiles"));
    map.resize(windowSize(state));
    int fix = 0;
    benchshell::driveLongTrail(&map, fix);
    map.show();
    benchshell::waitForTiles(&map, server);
    if (state.range(2) == 0) {
        // A pan stops following; the car then drives on inside the still view.
        const QPoint middle(map.width() / 2, map.height() / 2);
        QMouseEvent press(QEvent::MouseButtonPress, middle, map.mapToGlobal(middle), Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(&map, &press);
        const QPoint moved = middle + QPoint(40, 30);
        QMouseEvent move(QEvent::MouseMove, moved, map.mapToGlobal(moved), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&map, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, moved, map.mapToGlobal(moved), Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(&map, &release);
        benchshell::waitForTiles(&map, server);
    }
    for (auto _ : state) {
        ++fix;
        map.setPosition(51.5 + fix * 2e-5, -0.12 + std::sin(fix / 50.0) * 1e-3, fix % 360, true);
        paintPending(&map);
    }
}
BENCHMARK(BM_MapFix)
    ->Args({1280, 800, 1})
    ->Args({1920, 1080, 1})
    ->Args({1280, 800, 0})
    ->Args({1920, 1080, 0})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QApplication>(argc, argv);
}
