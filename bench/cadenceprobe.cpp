// Measures the spacing of the channel frames the controller sends: runs it with virtual devices
// and a pseudo-terminal transmitter, timestamps every frame on the terminal's other side and
// prints the measured span, the interval median, 99th percentile and maximum, the intervals
// over 10 ms and over 20 ms, and the frames whose CRC is wrong.
//
//     cadenceprobe [seconds] [--render] [--port DEVICE]
//
// --render also paints an 800x600 widget offscreen every 16 ms on the same thread, as the
// program's pages do while transmitting. --port sends the frames to an outside device (for
// example one end of a socat pseudo-terminal pair) instead, so that a separate process can
// time them on the other end; the probe then reports only the frames it sent.

#include <QApplication>
#include <QCommandLineParser>
#include <QLinearGradient>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
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

#include "bridge/corvanecontroller.h"
#include "bridge/crsfprotocol.h"
#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"

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
    size_t badFrames() const { return m_bad; }

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
                    const auto *frame = reinterpret_cast<const char *>(&pending[i]);
                    if (corvane::CrsfProtocol::crc8(frame + 2, 23) == pending[i + 25])
                        m_stamps.push_back(now);
                    else
                        ++m_bad;
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
    size_t m_bad = 0;
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

const char Usage[] = "usage: cadenceprobe [seconds] [--render] [--port DEVICE]\n";

int usageError(const QString &problem)
{
    std::fprintf(stderr, "cadenceprobe: %s\n%s", qPrintable(problem), Usage);
    return 2;
}

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
    parser.addPositionalArgument(QStringLiteral("seconds"), QStringLiteral("How long to transmit (default 10)."));
    QCommandLineOption render(QStringLiteral("render"), QStringLiteral("Also render an 800x600 widget every 16 ms."));
    QCommandLineOption outside(QStringLiteral("port"), QStringLiteral("Send the frames to this device instead."),
                               QStringLiteral("DEVICE"));
    parser.addOption(render);
    parser.addOption(outside);
    // A negative number reads as an unknown option: it gets the usage line too.
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", Usage);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return usageError(QStringLiteral("one duration at most"));
    bool number = true;
    const double seconds = positional.isEmpty() ? 10.0 : positional.first().toDouble(&number);
    if (!number || !(seconds > 0.0) || seconds > 86400.0)
        return usageError(QStringLiteral("seconds must be a positive number"));

    int master = -1;
    int slave = -1;
    char slaveName[256] = {};
    const bool timedHere = !parser.isSet(outside);
    if (timedHere) {
        if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
            std::perror("cadenceprobe: openpty");
            return 1;
        }
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    const QString port = timedHere ? QString::fromLocal8Bit(slaveName) : parser.value(outside);

    corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
    input->reset();
    corvane::VirtualInputDevice *wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base")));
    input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA SRP Pedals")));

    corvane::CorvaneController controller;
    QObject::connect(&controller, &corvane::CorvaneController::errorOccurred, [](const QString &error) {
        std::fprintf(stderr, "cadenceprobe: %s\n", qPrintable(error));
    });
    if (!controller.wheelBase()->open(0) || !controller.pedals()->open(1)
        || !controller.connectTransmitter(port, 115200)) {
        std::fprintf(stderr, "cadenceprobe: could not connect the virtual devices or %s\n", qPrintable(port));
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

    const char *rendering = parser.isSet(render) ? " with an 800x600 render every 16 ms" : "";
    if (!timedHere) {
        const Clock::time_point begin = Clock::now();
        QTimer::singleShot(int(seconds * 1000.0), &app, &QCoreApplication::quit);
        app.exec();
        controller.stopTransmission();
        std::printf("frames sent %u to %s over %.3f s%s\n", controller.frameCount(), qPrintable(port),
                    std::chrono::duration<double>(Clock::now() - begin).count(), rendering);
        return 0;
    }

    std::vector<Clock::time_point> stamps;
    size_t bad = 0;
    {
        FrameClock clock(master);
        QTimer::singleShot(int(seconds * 1000.0), &app, &QCoreApplication::quit);
        app.exec();
        controller.stopTransmission();
        QThread::msleep(50);
        stamps = clock.stamps();
        bad = clock.badFrames();
    }
    ::close(master);
    ::close(slave);

    if (stamps.size() < 2) {
        std::fprintf(stderr, "cadenceprobe: only %zu good frames arrived (%zu with a bad CRC)\n", stamps.size(), bad);
        return 1;
    }
    std::vector<double> intervals;
    intervals.reserve(stamps.size() - 1);
    for (size_t i = 1; i < stamps.size(); ++i)
        intervals.push_back(std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count());
    const auto over = [&intervals](double limit) {
        return size_t(std::count_if(intervals.begin(), intervals.end(), [limit](double ms) { return ms > limit; }));
    };
    const size_t over10 = over(10.0);
    const size_t over20 = over(20.0);
    std::sort(intervals.begin(), intervals.end());
    const auto at = [&intervals](double share) {
        return intervals[std::min(intervals.size() - 1, size_t(share * double(intervals.size())))];
    };
    const double span = std::chrono::duration<double>(stamps.back() - stamps.front()).count();
    std::printf("frames %zu over %.3f s (first to last frame)%s, bad CRC: %zu\n", stamps.size(), span, rendering, bad);
    std::printf("interval median %.3f ms, p99 %.3f ms, max %.3f ms, over 10 ms: %zu, over 20 ms: %zu\n", at(0.5),
                at(0.99), intervals.back(), over10, over20);
    return bad == 0 ? 0 : 1;
}
