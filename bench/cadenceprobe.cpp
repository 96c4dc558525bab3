// Measures the spacing of the channel frames the controller sends: runs it with virtual devices
// and a pseudo-terminal transmitter, timestamps every frame on the terminal's other side and
// prints the interval mean, median, 99th percentile, maximum and the counts over 10 and 12 ms.
//
//     cadenceprobe [seconds] [--render] [--shell [--size WxH]]
//
// --render also paints an 800x600 widget offscreen every 16 ms on the same thread, as the
// program's pages do while transmitting.
// --shell shows the kit's shell on screen (ambient backdrop, sidebar, title bar and a page of
// cards with the map in one; 1280x800 unless --size says otherwise), with a GPS fix every
// 100 ms and live values every 16 ms, and measures three runs one after the other: without
// it, with it and its backdrop's drift held (as the main window does while transmitting),
// and with the drift running. Run it on a display, e.g. under tests/support/xvfbrun.sh.

#include <QApplication>
#include <QCommandLineParser>
#include <QLinearGradient>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/shellscene.h"
#include "bridge/corvanecontroller.h"
#include "ostraui/ambientbackground.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"
#include "tests/ostraui/tileserver.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads the terminal's master side on its own thread so that the timestamps do not wait for
// the GUI thread that produces the frames.
class FrameClock
{
public:
    explicit FrameClock(int masterFd) : m_fd(masterFd) { m_thread = std::thread([this] { run(); }); }
    ~FrameClock()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<Clock::time_point> stamps() const { return m_stamps; }

private:
    void run()
    {
        std::vector<unsigned char> pending;
        unsigned char buffer[4096];
        while (!m_stop) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const Clock::time_point now = Clock::now();
            pending.insert(pending.end(), buffer, buffer + n);
            // RC channels frames: 0xC8, length 24, type 0x16, 22 data bytes, CRC.
            size_t i = 0;
            while (pending.size() - i >= 26) {
                if (pending[i] == 0xC8 && pending[i + 1] == 24 && pending[i + 2] == 0x16) {
                    m_stamps.push_back(now);
                    i += 26;
                } else {
                    ++i;
                }
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<Clock::time_point> m_stamps;
};

// Stands in for a page: gradients, text and a grid, repainted as a whole.
class BusyPage : public QWidget
{
public:
    BusyPage() { resize(800, 600); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, width(), height());
        g.setColorAt(0, QColor(30, 34, 44));
        g.setColorAt(1, QColor(70, 90, 120));
        p.fillRect(rect(), g);
        p.setPen(QColor(220, 220, 230));
        for (int row = 0; row < 12; ++row) {
            for (int col = 0; col < 4; ++col) {
                const QRectF card(20 + col * 195, 20 + row * 47, 180, 40);
                p.drawRoundedRect(card, 8, 8);
                p.drawText(card, Qt::AlignCenter, QStringLiteral("CH%1  %2").arg(row * 4 + col + 1).arg(m_frame));
            }
        }
        ++m_frame;
    }

private:
    int m_frame = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("OSTRA_INPUT_BACKEND", "virtual");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    ostratest::TestEnvironment environment; // fresh settings and profiles: never the user's
    QApplication app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("seconds"), QStringLiteral("How long to transmit (default 10), per run."));
    QCommandLineOption render(QStringLiteral("render"), QStringLiteral("Also render an 800x600 widget every 16 ms."));
    QCommandLineOption shell(QStringLiteral("shell"), QStringLiteral("Also measure with the kit's shell on screen."));
    QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Window size of the shell (default 1280x800)."),
                                  QStringLiteral("WxH"), QStringLiteral("1280x800"));
    parser.addOption(render);
    parser.addOption(shell);
    parser.addOption(sizeOption);
    parser.process(app);
    const double seconds = parser.positionalArguments().isEmpty() ? 10.0 : parser.positionalArguments().first().toDouble();
    if (!(seconds > 0.0)) {
        std::fprintf(stderr, "cadenceprobe: seconds must be a positive number\n");
        return 2;
    }
    const QStringList sizeParts = parser.value(sizeOption).split(QLatin1Char('x'));
    const QSize shellSize(sizeParts.value(0).toInt(), sizeParts.value(1).toInt());
    if (shellSize.width() < 640 || shellSize.height() < 480 || sizeParts.size() != 2) {
        std::fprintf(stderr, "cadenceprobe: --size must be WxH, at least 640x480\n");
        return 2;
    }
    if (parser.isSet(shell)) {
        ostra::installTheme(app);
        if (!ostra::animationsEnabled())
            std::fprintf(stderr, "cadenceprobe: no animations on platform %s; run it on a display\n",
                         qPrintable(QGuiApplication::platformName()));
    }

    int master = -1;
    int slave = -1;
    char slaveName[256] = {};
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("cadenceprobe: openpty");
        return 1;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);

    corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
    input->reset();
    corvane::VirtualInputDevice *wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base")));
    input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA SRP Pedals")));

    corvane::CorvaneController controller;
    QObject::connect(&controller, &corvane::CorvaneController::errorOccurred, [](const QString &error) {
        std::fprintf(stderr, "cadenceprobe: %s\n", qPrintable(error));
    });
    const QString port = QString::fromLocal8Bit(slaveName);
    if (!controller.wheelBase()->open(0) || !controller.pedals()->open(1)
        || !controller.connectTransmitter(port, 115200)) {
        std::fprintf(stderr, "cadenceprobe: could not connect the virtual devices or %s\n", slaveName);
        return 1;
    }
    controller.updateCurrentGear(); // a first read of every device, pedals up
    controller.startTransmission();
    if (!controller.isRunning()) {
        std::fprintf(stderr, "cadenceprobe: transmission did not start\n");
        return 1;
    }

    // Keep the wheel moving so every tick has work to do.
    QTimer wiggle;
    int step = 0;
    QObject::connect(&wiggle, &QTimer::timeout, [&] { wheel->setAxis(0, std::sin(float(++step) * 0.05f)); });
    wiggle.start(10);

    BusyPage page;
    QTimer renderTimer;
    if (parser.isSet(render)) {
        QObject::connect(&renderTimer, &QTimer::timeout, [&page] { page.grab(); });
        renderTimer.start(16);
    }

    // The runs, one after the other; each leaves out its first half second, in which a window
    // is shown and painted for the first time.
    struct Run
    {
        QString label;
        std::function<void()> begin;
        Clock::time_point start;
    };
    ostratest::TileServer tiles;
    std::unique_ptr<benchshell::ShellScene> scene;
    QTimer fixes;
    QTimer live;
    std::vector<Run> runs;
    runs.push_back({parser.isSet(render) ? QStringLiteral("with an 800x600 render every 16 ms") : QStringLiteral("plain"),
                    [] {}, {}});
    if (parser.isSet(shell)) {
        const QString size = QStringLiteral("%1x%2").arg(shellSize.width()).arg(shellSize.height());
        runs.push_back({QStringLiteral("shell %1 on screen, drift held").arg(size), [&] {
                            scene = std::make_unique<benchshell::ShellScene>(shellSize, tiles.baseUrl());
                            scene->window()->setDriftHeld(true);
                            scene->window()->show();
                            QObject::connect(&fixes, &QTimer::timeout, [&] { scene->nextFix(); });
                            QObject::connect(&live, &QTimer::timeout, [&] { scene->nextLiveValues(); });
                            fixes.start(100);
                            live.start(16);
                        }, {}});
        runs.push_back({QStringLiteral("shell %1 on screen, drift running").arg(size),
                        [&] { scene->window()->setDriftHeld(false); }, {}});
    }

    const auto settle = std::chrono::milliseconds(500);
    std::vector<Clock::time_point> stamps;
    Clock::time_point end;
    {
        FrameClock clock(master);
        for (size_t i = 0; i < runs.size(); ++i) {
            QTimer::singleShot(int(seconds * 1000.0 * double(i)), &app, [&runs, i] {
                runs[i].begin();
                runs[i].start = Clock::now();
            });
        }
        QTimer::singleShot(int(seconds * 1000.0 * double(runs.size())), &app, [&] {
            end = Clock::now();
            QCoreApplication::quit();
        });
        app.exec();
        controller.stopTransmission();
        QThread::msleep(50);
        stamps = clock.stamps();
    }
    ::close(master);
    ::close(slave);

    bool complete = true;
    for (size_t r = 0; r < runs.size(); ++r) {
        const Clock::time_point from = runs[r].start + (r > 0 ? settle : Clock::duration::zero());
        const Clock::time_point to = r + 1 < runs.size() ? runs[r + 1].start : end;
        std::vector<Clock::time_point> inRun;
        std::copy_if(stamps.begin(), stamps.end(), std::back_inserter(inRun),
                     [&](const Clock::time_point &t) { return t >= from && t < to; });
        if (inRun.size() < 2) {
            std::fprintf(stderr, "cadenceprobe: only %zu frames arrived in run %zu\n", inRun.size(), r + 1);
            complete = false;
            continue;
        }
        std::vector<double> intervals;
        intervals.reserve(inRun.size() - 1);
        for (size_t i = 1; i < inRun.size(); ++i)
            intervals.push_back(std::chrono::duration<double, std::milli>(inRun[i] - inRun[i - 1]).count());
        const auto over = [&intervals](double ms) {
            return size_t(std::count_if(intervals.begin(), intervals.end(), [ms](double v) { return v > ms; }));
        };
        const size_t over10 = over(10.0);
        const size_t over12 = over(12.0);
        const double mean = std::chrono::duration<double, std::milli>(inRun.back() - inRun.front()).count()
                            / double(intervals.size());
        std::sort(intervals.begin(), intervals.end());
        const auto at = [&intervals](double share) {
            return intervals[std::min(intervals.size() - 1, size_t(share * double(intervals.size())))];
        };
        std::printf("%-40s frames %6zu, interval mean %.3f ms, median %.3f ms, p99 %.3f ms, max %.3f ms, "
                    "over 10 ms: %zu, over 12 ms: %zu\n",
                    qPrintable(runs[r].label), inRun.size(), mean, at(0.5), at(0.99), intervals.back(), over10, over12);
    }
    return complete ? 0 : 1;
}
