#include "bench/dialogcadence.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLayout>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <utility>

#include "app/mainwindow.h"
#include "bench/frameclock.h"
#include "heli/helicoptersetupwidget.h"
#include "ostraui/segmented.h"

// The window system's way in for a mouse event, as Qt Test uses it: the event is delivered
// spontaneously, through the application's filters, as one from the display server.
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow *window, const QPointF &local, const QPointF &global,
                                      Qt::MouseButtons state, Qt::MouseButton button, QEvent::Type type,
                                      Qt::KeyboardModifiers mods, int timestamp);

namespace benchdialogs {

namespace {

using Action = std::function<void(MainWindow *)>;

// One thing a user opens and closes again. `page` is shown (and left to settle) before the idle
// span; `prepare` runs before it too and `finish` after the closing span, for a switch inside a
// dialog that stays open around it.
struct Step
{
    const char *label;
    int page;
    Action open;
    Action close;
    Action prepare = {};
    Action finish = {};
};

// The modal dialog on top, as Escape would close it.
void rejectModal(MainWindow *)
{
    if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
        dialog->reject();
}

// The window of `className` opened beside the main window, closed as its own close button does.
Action closeWindow(const char *className)
{
    return [className](MainWindow *) {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->inherits(className))
                w->close();
        }
    };
}

corvane::HelicopterSetupWidget *heli(MainWindow *w)
{
    return w->findChild<corvane::HelicopterSetupWidget *>();
}

// The page chooser of the modal dialog on top.
void chooseDialogPage(int index)
{
    if (QWidget *dialog = QApplication::activeModalWidget()) {
        if (auto *chooser = dialog->findChild<ostra::Segmented *>())
            chooser->setCurrentIndex(index, true);
    }
}

Action showPage(int page)
{
    return [page](MainWindow *w) { w->showPage(page); };
}

std::vector<Step> steps()
{
    constexpr int Car = MainWindow::CarPage;
    constexpr int Heli = MainWindow::HelicopterPage;
    const Action backToCar = showPage(Car);
    return {
        {"setup guide", Car, [](MainWindow *w) { w->onOpenOnboarding(); }, rejectModal},
        {"Drive settings", Car, [](MainWindow *w) { w->onConfigureEsc(); }, rejectModal},
        {"axis configuration", Car, [](MainWindow *w) { w->onConfigureAxes(); }, rejectModal},
        {"axis configuration: Calibration page", Car, [](MainWindow *) { chooseDialogPage(1); },
         [](MainWindow *) { chooseDialogPage(0); },
         [](MainWindow *w) { QTimer::singleShot(0, w, [w] { w->onConfigureAxes(); }); }, rejectModal},
        {"button mapping", Car, [](MainWindow *w) { w->onConfigureButtons(); }, rejectModal},
        {"wheel force feedback", Car, [](MainWindow *w) { w->openWheelFfbDialog(); }, rejectModal},
        {"LED strip", Car, [](MainWindow *w) { w->onConfigureLed(); }, rejectModal},
        {"transmission view", Car, [](MainWindow *w) { w->openTransmissionView(); }, rejectModal},
        {"radio settings", Car, [](MainWindow *w) { w->openTransmissionRfSettings(); }, rejectModal},
        {"receiver settings", Car, [](MainWindow *w) { w->onConfigureReceiver(); }, rejectModal},
        {"motion rig output", Car, [](MainWindow *w) { w->openMotionOutputDialog(); }, rejectModal},
        {"FFB and motion calibration", Car, [](MainWindow *w) { w->openMotionCalibrationDialog(); }, rejectModal},
        {"FFB and motion preview", Car, [](MainWindow *w) { w->openFfbMotionPreview(); },
         closeWindow("corvane::FfbMotionPreviewDialog")},
        {"dashboard", Car, [](MainWindow *w) { w->onOpenDashboard(); }, closeWindow("corvane::DashboardWidget")},
        {"profile manager", Car, [](MainWindow *w) { w->openProfileManagerDialog(); }, rejectModal},
        {"debug console", Car, [](MainWindow *w) { w->toggleConsoleFromRow(); },
         [](MainWindow *w) { w->toggleConsoleFromRow(); }},
        {"page: Dashboard", Car, showPage(MainWindow::StartPage), backToCar},
        {"page: Motion System", Car, showPage(MainWindow::MotionPlatformPage), backToCar},
        {"page: Vehicles", Car, showPage(MainWindow::VehiclePage), backToCar},
        {"page: Race control", Car, showPage(MainWindow::RaceControlPage), backToCar},
        {"page: Info", Car, showPage(MainWindow::InfoPage), backToCar},
        {"page: RC Helicopter", Car, showPage(Heli), backToCar},
        {"RC Car card", MainWindow::VehiclePage, [](MainWindow *w) { w->selectVehicle(QStringLiteral("rc_car")); },
         showPage(MainWindow::VehiclePage)},
        {"heli channel mapping", Heli, [](MainWindow *w) { heli(w)->openConfigDialog(); }, rejectModal},
        {"heli button mapping", Heli, [](MainWindow *w) { heli(w)->openButtonMapping(); }, rejectModal},
        {"heli fly settings", Heli, [](MainWindow *w) { heli(w)->openFlySettingsDialog(); }, rejectModal},
        {"heli curves", Heli, [](MainWindow *w) { heli(w)->openCurvesDialog(); }, rejectModal},
        {"heli arming", Heli, [](MainWindow *w) { heli(w)->openElrsDialog(); }, rejectModal},
        {"heli telemetry", Heli, [](MainWindow *w) { heli(w)->openTransmissionView(); }, rejectModal},
        {"attitude indicator", Heli, [](MainWindow *w) { heli(w)->openAttitudeIndicator(); },
         closeWindow("corvane::AttitudeIndicatorWidget")},
    };
}

// A click on the middle of the window on top (its edges resize it) that runs one step, as the
// button a user clicks would: press and release come the way the display server's do, so whatever
// the program does with a click (its turn with the channel tick) happens to this one too. The
// widget there is lent for it, unchanged: a widget added to take it would lay the window out anew.
class ClickCatcher : public QObject
{
public:
    static void click(QWidget *window, std::function<void()> action)
    {
        // The display server's time, in ms: two clicks on one widget within the double-click
        // interval of each other's stamps would make the second a double click.
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        const int timestamp = int(clock.elapsed());
        const QPoint middle(window->width() / 2, window->height() / 2);
        QWidget *under = window->childAt(middle);
        const QPointer<QWidget> lent(under ? under : window);
        ClickCatcher catcher(std::move(action));
        lent->installEventFilter(&catcher);
        const QPointF at(middle);
        const QPointF global = window->mapToGlobal(at);
        qt_handleMouseEvent(window->windowHandle(), at, global, Qt::LeftButton, Qt::LeftButton,
                            QEvent::MouseButtonPress, {}, timestamp);
        qt_handleMouseEvent(window->windowHandle(), at, global, {}, Qt::LeftButton, QEvent::MouseButtonRelease, {},
                            timestamp);
        if (lent)
            lent->removeEventFilter(&catcher);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            return true;
        if (event->type() != QEvent::MouseButtonRelease)
            return false;
        if (m_action)
            std::exchange(m_action, nullptr)();
        return true;
    }

private:
    explicit ClickCatcher(std::function<void()> action)
        : m_action(std::move(action))
    {
    }

    std::function<void()> m_action;
};

// The window a click goes to: a modal dialog takes them all.
QWidget *topWindow(MainWindow *window)
{
    QWidget *modal = QApplication::activeModalWidget();
    return modal ? modal : window;
}

// Drives the steps from timers, so that each runs from whatever event loop is current: the
// program's dialogs run modally, and their closing comes from inside their own loop. Opening
// and closing are clicks.
class Runner
{
public:
    Runner(MainWindow *window, int spanMs, const QString &only)
        : m_window(window)
        , m_span(spanMs)
    {
        for (const Step &step : steps()) {
            if (QLatin1String(step.label).contains(only, Qt::CaseInsensitive))
                m_steps.push_back(step);
        }
        for (const Step &step : m_steps)
            m_times.push_back({step.label, {}, {}, {}});
    }

    std::vector<StepTimes> *times() { return &m_times; }

    void begin(size_t i)
    {
        if (i == m_steps.size()) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            return;
        }
        const Step &step = m_steps[i];
        const bool move = m_window->currentPage() != step.page;
        if (move)
            m_window->showPage(step.page);
        if (step.prepare)
            QTimer::singleShot(0, m_window, [this, i] { m_steps[i].prepare(m_window); });
        // A page switch or a dialog made ready first has its own span: it settles before the idle one.
        QTimer::singleShot(move || step.prepare ? 2 * m_span : 0, m_window, [this, i] {
            m_times[i].idle = Clock::now();
            QTimer::singleShot(m_span + Pause, m_window, [this, i] { open(i); });
        });
    }

private:
    static constexpr int Pause = 150;

    void open(size_t i)
    {
        // The closing click is set first: a modal dialog's own loop runs it.
        QTimer::singleShot(m_span + Pause, m_window, [this, i] { close(i); });
        m_times[i].opened = Clock::now();
        ClickCatcher::click(topWindow(m_window), [this, i] { m_steps[i].open(m_window); });
    }

    void close(size_t i)
    {
        m_times[i].closed = Clock::now();
        ClickCatcher::click(topWindow(m_window), [this, i] { m_steps[i].close(m_window); });
        QTimer::singleShot(m_span + Pause, m_window, [this, i] {
            if (m_steps[i].finish) {
                m_steps[i].finish(m_window);
                QTimer::singleShot(m_span, m_window, [this, i] { begin(i + 1); });
            } else {
                begin(i + 1);
            }
        });
    }

    MainWindow *m_window;
    int m_span;
    std::vector<Step> m_steps;
    std::vector<StepTimes> m_times;
};

struct Span
{
    double largestGap = 0.0;
    size_t frames = 0;
};

// The frames in [from, from + span) and the largest gap between them, counting the gap from the
// last frame before the span (a stall that began with the click is the click's).
Span measure(const std::vector<Clock::time_point> &stamps, Clock::time_point from, int spanMs)
{
    const Clock::time_point to = from + std::chrono::milliseconds(spanMs);
    const auto first = std::lower_bound(stamps.begin(), stamps.end(), from);
    Span span;
    span.frames = size_t(std::lower_bound(first, stamps.end(), to) - first);
    span.largestGap = ostrabench::largestInterval(stamps, from, to);
    return span;
}

double msSince(QElapsedTimer &timer)
{
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    return ms;
}

} // namespace

void printPhases(MainWindow *window)
{
    std::printf("%-16s %10s %8s %8s %8s   (ms; first build, then second)\n", "dialog", "construct", "polish",
                "layout", "paint");
    for (const QString &key : MainWindow::snapshotDialogKeys()) {
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer timer;
            timer.start();
            std::unique_ptr<QDialog> dialog(window->buildSnapshotDialog(key));
            const double construct = msSince(timer);
            dialog->ensurePolished();
            const double polish = msSince(timer);
            for (int pass = 0; pass < 4; ++pass)
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            if (dialog->layout())
                dialog->layout()->activate();
            const double layout = msSince(timer);
            dialog->grab();
            const double paint = msSince(timer);
            std::printf("%-16s %10.1f %8.1f %8.1f %8.1f\n", round == 0 ? qPrintable(key) : "", construct, polish,
                        layout, paint);
        }
    }
}

std::vector<StepTimes> *scheduleSteps(MainWindow *window, int spanMs, const QString &only)
{
    // Lives until the program ends: the last timers it set may run after the loop quit.
    static std::unique_ptr<Runner> runner;
    runner = std::make_unique<Runner>(window, spanMs, only);
    QTimer::singleShot(0, window, [] { runner->begin(0); });
    return runner->times();
}

bool printSteps(const std::vector<StepTimes> &steps, const std::vector<Clock::time_point> &stamps,
                const std::vector<Clock::time_point> &sent, int spanMs, double limitMs)
{
    const long due = std::lround(spanMs / 7.0);
    std::printf("spans of %d ms, %ld frames due in each; largest gap between frames and between sends in ms, frames\n",
                spanMs, due);
    std::printf("%-36s %6s %6s %6s %6s %6s %6s %6s %6s %6s\n", "", "idle", "sends", "frames", "open", "sends",
                "frames", "close", "sends", "frames");
    bool within = true;
    double worst = 0.0;
    double worstSends = 0.0;
    const char *worstLabel = "";
    const char *worstSendsLabel = "";
    for (const StepTimes &step : steps) {
        if (step.closed == Clock::time_point()) {
            std::printf("%-36s not run\n", step.label);
            within = false;
            continue;
        }
        std::printf("%-36s", step.label);
        double largest = 0.0;
        for (const Clock::time_point from : {step.idle, step.opened, step.closed}) {
            const Span frames = measure(stamps, from, spanMs);
            const Span sends = measure(sent, from, spanMs);
            std::printf(" %6.1f %6.1f %6zu", frames.largestGap, sends.largestGap, frames.frames);
            largest = std::max(largest, frames.largestGap);
            if (from == step.idle)
                continue;
            if (frames.largestGap > worst) {
                worst = frames.largestGap;
                worstLabel = step.label;
            }
            if (sends.largestGap > worstSends) {
                worstSends = sends.largestGap;
                worstSendsLabel = step.label;
            }
        }
        std::printf("\n");
        within = within && largest <= limitMs;
    }
    std::printf("largest gap on opening or closing: %.1f ms (%s), between sends %.1f ms (%s); every span within %.0f ms: %s\n",
                worst, worstLabel, worstSends, worstSendsLabel, limitMs, within ? "yes" : "no");
    return within;
}

} // namespace benchdialogs
