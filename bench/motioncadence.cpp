// Measures the spacing of the '6' set-point frames a host-driven motion test streams: runs the
// motion controller against a pseudo-terminal that answers as a ready board, timestamps every
// frame on the terminal's other side and prints the interval median, 99th percentile, maximum
// and the count over 25 ms.
//
//     motioncadence [seconds 1..30]

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "motion/motionsystemcontroller.h"
#include "support/simulatedmotioncontroller.h"
#include "support/testenvironment.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads the terminal's master side on its own thread so the timestamps do not wait for the GUI
// thread that produces the frames.
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
        std::vector<char> pending;
        char buffer[4096];
        while (!m_stop) {
            pollfd pfd { m_fd, POLLIN, 0 };
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const Clock::time_point now = Clock::now();
            pending.insert(pending.end(), buffer, buffer + n);
            size_t i = 0;
            while (pending.size() - i >= 2) {
                const int length = pending[i] == 'P' ? ostratest::SimulatedMotionController::frameLength(pending[i + 1]) : 0;
                if (length == 0) {
                    ++i;
                    continue;
                }
                if (pending.size() - i < size_t(length))
                    break;
                if (pending[i + 1] == '6')
                    m_stamps.push_back(now);
                i += size_t(length);
            }
            pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(i));
        }
    }

    int m_fd;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
    std::vector<Clock::time_point> m_stamps;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    ostratest::TestEnvironment environment; // fresh settings: never the user's
    QCoreApplication app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();
    const int seconds = argc > 1 ? std::clamp(QByteArray(argv[1]).toInt(), 1, 30) : 30;

    int master = -1;
    int slave = -1;
    char slaveName[256] = {};
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("motioncadence: openpty");
        return 1;
    }
    termios tio {};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);

    corvane::MotionSystemController controller;
    QObject::connect(&controller, &corvane::MotionSystemController::errorOccurred, [](const QString &error) {
        std::fprintf(stderr, "motioncadence: %s\n", qPrintable(error));
    });
    if (!controller.connectPort(QString::fromLocal8Bit(slaveName))) {
        std::fprintf(stderr, "motioncadence: could not open %s\n", slaveName);
        return 1;
    }

    // The board: a heartbeat every second, "ready" throughout.
    const auto beat = [master] {
        const char line[] = "[ready] slp=a\n";
        if (::write(master, line, sizeof line - 1) < 0)
            std::perror("motioncadence: heartbeat");
    };
    QTimer heartbeats;
    QObject::connect(&heartbeats, &QTimer::timeout, beat);
    heartbeats.start(1000);
    beat();

    bool started = false;
    QObject::connect(&controller, &corvane::MotionSystemController::controllerStateChanged, [&](const QString &state) {
        if (!started && state == QLatin1String("ready"))
            started = controller.startHostTest(corvane::MotionSystemController::Pitch, 50, 100, seconds);
    });
    // The last frame parks the platform; give it time to reach the terminal.
    QObject::connect(&controller, &corvane::MotionSystemController::testFinished, &app,
                     [&app] { QTimer::singleShot(200, &app, &QCoreApplication::quit); });
    QTimer::singleShot((seconds + 5) * 1000, &app, &QCoreApplication::quit);

    std::vector<Clock::time_point> stamps;
    {
        FrameClock clock(master);
        app.exec();
        controller.disconnectPort();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stamps = clock.stamps();
    }
    ::close(master);
    ::close(slave);

    if (!started || stamps.size() < 2) {
        std::fprintf(stderr, "motioncadence: the test did not run (%zu frames)\n", stamps.size());
        return 1;
    }
    std::vector<double> intervals;
    intervals.reserve(stamps.size() - 1);
    for (size_t i = 1; i < stamps.size(); ++i)
        intervals.push_back(std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count());
    const size_t over25 = size_t(std::count_if(intervals.begin(), intervals.end(), [](double ms) { return ms > 25.0; }));
    std::sort(intervals.begin(), intervals.end());
    const auto at = [&intervals](double share) {
        return intervals[std::min(intervals.size() - 1, size_t(share * double(intervals.size())))];
    };
    std::printf("'6' frames %zu over a %d s host-driven test\n", stamps.size(), seconds);
    std::printf("interval median %.3f ms, p99 %.3f ms, max %.3f ms, over 25 ms: %zu\n", at(0.5), at(0.99),
                intervals.back(), over25);
    return 0;
}
