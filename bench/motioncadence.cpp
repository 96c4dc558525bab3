// Measures the spacing of the '6' set-point frames a host-driven motion test streams: runs the
// motion controller against a pseudo-terminal that answers as a ready board, timestamps every
// frame on the terminal's other side and prints the interval median, 99th percentile, maximum
// and the count over 25 ms.
//
//     motioncadence [seconds 1..30]

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "frameclock.h"
#include "motion/motionsystemcontroller.h"
#include "support/simulatedmotioncontroller.h"
#include "support/testenvironment.h"

namespace {

// Host frames: 'P', the letter, its payload and "!!"; the '6' frames are timed.
int motionFrame(const std::vector<unsigned char> &bytes, size_t at, bool &stamp)
{
    if (bytes.size() - at < 2)
        return -1;
    const int length = bytes[at] == 'P' ? ostratest::SimulatedMotionController::frameLength(char(bytes[at + 1])) : 0;
    if (length > 0 && bytes.size() - at < size_t(length))
        return -1;
    stamp = length > 0 && bytes[at + 1] == '6';
    return length;
}

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

    std::vector<ostrabench::FrameClock::Clock::time_point> stamps;
    {
        ostrabench::FrameClock clock(master, motionFrame);
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
    std::printf("'6' frames %zu over a %d s host-driven test\n", stamps.size(), seconds);
    ostrabench::printIntervals(stamps, {25.0});
    return 0;
}
