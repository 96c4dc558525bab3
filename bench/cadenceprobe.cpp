// Measures the spacing of the channel frames the controller sends: runs it with virtual devices
// and a pseudo-terminal transmitter, timestamps every frame on the terminal's other side and
// prints the measured span, the interval median, 99th percentile and maximum, the intervals
// over 10 ms and over 20 ms, and the frames whose CRC is wrong.
//
//     cadenceprobe [seconds] [--render] [--mainwindow] [--dialogs [--span MS] [--only TEXT] [--phases] [--blocks]] [--shell [--size WxH]] [--dashboard] [--clients N] [--port DEVICE]
//                  [--start-gaps] [--requests lounge|profiles|flood|flood-1m|flood-ping|flood-fragments|
//                  flood-interleaved|flood-long-fragmented|flood-ports|paced] [--sync-delay MS]
//     cadenceprobe [seconds] --compare
//
// --mainwindow transmits from the program's main window instead, shown at 1280x800 on the car
// page, so its live values, gauge and channel cells refresh on the same thread as the tick.
// --render also paints an 800x600 widget offscreen every 16 ms on the same thread, as the
// program's pages do while transmitting.
// --shell shows the kit's shell on screen (ambient backdrop, sidebar, title bar and a page of
// cards with the map in one; 1280x800 unless --size says otherwise), with a GPS fix every
// 100 ms and live values every 16 ms, and measures three runs one after the other: without
// it, with it and its backdrop's drift held (as the main window does while transmitting),
// and with the drift running.
// --dialogs transmits from the main window (as --mainwindow) and opens and closes, one after
// the other, every dialog and page a user reaches from the car and helicopter pages, each beside
// an idle span of the same length (--span MS, default 500; the window at --size; --only TEXT: those whose
// name contains it); it prints per dialog the largest gap, the largest between the tick's writes
// and the frames counted against those due, idle, after the opening click and after the closing one;
// --blocks adds, for each gap over 12 ms in an idle span, an opening or a closing, the largest
// interval between the writes around it and the event deliveries that held the GUI thread in it.
// --dashboard measures once more with the driving dashboard shown full screen on the same
// controller, repainting every 16 ms as the pedals move. Run the window options on a display,
// e.g. under tests/support/xvfbrun.sh. --port sends the frames to an outside device (for
// example one end of a socat pseudo-terminal pair) instead, so that a separate process can
// time them on the other end; the probe then reports only the frames it sent.
// --clients N serves the mobile-app API from the probe (transmission and input handlers) while
// N clients in a second process subscribe to "event_frame_sent" and "event_input_changed" and
// read everything; N may be 0 for the server alone. With --requests the clients instead send
// requests that store something, each as soon as the last is answered: "lounge" sends
// set_lounge_pit_limiter, "profiles" creates a profile and deletes it again. "flood" sends
// set_axis_settings of unknown keys just under the server's message cap, back to back without
// waiting for replies, as a hostile peer on the LAN would ("flood-1m": 1 MiB messages, opening
// the connection again whenever the server closes it; "flood-ping": pings; "flood-fragments": a
// ping request in frames of one byte each; "flood-interleaved": the same with a ping frame after
// each; "flood-long-fragmented": the message of "flood" in frames of 64 bytes; "flood-ports": a
// set_lounge_pit_limiter and four get_serial_ports, again and again), while one more
// client pings on a thread of its own and reports its round trips. "paced" has each client send a
// set_lounge_pit_limiter every millisecond, whatever the replies, beside that phone.
// --sync-delay MS holds every fsync and fdatasync of the probe that long first, as a slow disk
// would; the probe counts the syncs made on its GUI thread (the tick's) and in all.
// The probe's CPU time (user and system, all its threads) per second of transmission is printed
// with the figures, and so are the frames lost: the 7 ms ticks in the measured span that sent
// no frame.
// --start-gaps also reports the intervals of each run's first second (from the start of
// transmission, or from the window being shown) apart from the rest.
// --compare runs the probe four times back to back, plain, --mainwindow, --shell --size 1920x1080
// and --dashboard, each with --start-gaps, and prints every run beside the first plain one.

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QSocketNotifier>
#include <QWebSocket>
#include <QLinearGradient>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <atomic>
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "api/apihandlers.h"
#include "api/mdnsresponder.h"
#include "api/websocketserver.h"
#include "api/wsinputhandler.h"
#include "api/wstransmissionhandler.h"
#include "app/mainwindow.h"
#include "bench/dialogcadence.h"
#include "bench/eventblocks.h"
#include "bench/loopbackpeer.h"
#include "bench/shellscene.h"
#include "bridge/corvanecontroller.h"
#include "bridge/crsfprotocol.h"
#include "dialogs/dashboardwidget.h"
#include "frameclock.h"
#include "ostraui/ambientbackground.h"
#include "ostraui/paintpacer.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"
#include "support/tileserver.h"

namespace {

// The syncs of the whole process come through here (the executable's definitions win over the C
// library's, also for Qt's own calls), to be counted and, for --sync-delay, slowed.
std::atomic<int> syncDelayMs{0};
std::atomic<long> syncCalls{0};
std::atomic<long> guiThreadSyncCalls{0};
pthread_t guiThread = pthread_self();

long countedSync(long number, int fd)
{
    ++syncCalls;
    if (pthread_equal(pthread_self(), guiThread))
        ++guiThreadSyncCalls;
    if (const int delay = syncDelayMs.load(); delay > 0)
        ::usleep(useconds_t(delay) * 1000);
    return ::syscall(number, fd);
}

} // namespace

extern "C" int fsync(int fd)
{
    return int(countedSync(SYS_fsync, fd));
}

extern "C" int fdatasync(int fd)
{
    return int(countedSync(SYS_fdatasync, fd));
}

namespace {

using ostrabench::FrameClock;
using ostrabench::LoopbackPeer;

// Frames whose CRC is wrong; counted on the clock's thread, read after it has stopped.
size_t badFrames = 0;

// RC channels frames: 0xC8, length 24, type 0x16, 22 data bytes, CRC. Only good frames are timed.
int channelFrame(const std::vector<unsigned char> &bytes, size_t at, bool &stamp)
{
    if (bytes.size() - at < 26)
        return -1;
    if (bytes[at] != 0xC8 || bytes[at + 1] != 24 || bytes[at + 2] != 0x16)
        return 0;
    const auto *frame = reinterpret_cast<const char *>(&bytes[at]);
    stamp = corvane::CrsfProtocol::crc8(frame + 2, 23) == bytes[at + 25];
    if (!stamp)
        ++badFrames;
    return 26;
}

const char Usage[] = "usage: cadenceprobe [seconds] [--render] [--mainwindow] [--dialogs [--span MS] [--only TEXT] [--phases] [--blocks]] [--shell [--size WxH]] [--dashboard] [--clients N] "
                     "[--port DEVICE] [--start-gaps] [--requests lounge|profiles|flood|flood-1m|flood-ping|flood-fragments|"
                     "flood-interleaved|flood-long-fragmented|flood-ports|paced] [--sync-delay MS]\n"
                     "       cadenceprobe [seconds] --compare\n";

constexpr double TickMs = 7.0;

int usageError(const QString &problem)
{
    std::fprintf(stderr, "cadenceprobe: %s\n%s", qPrintable(problem), Usage);
    return 2;
}

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

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

using Clock = FrameClock::Clock;

// Figures of one measured span, as --compare reads them back from each child run.
struct Figures
{
    size_t frames = 0;
    double p99 = 0.0;
    double max = 0.0;
    size_t over12 = 0;
    long lost = 0; // 7 ms ticks in the span that sent no frame
};

std::vector<Clock::time_point> framesBetween(const std::vector<Clock::time_point> &stamps, Clock::time_point from,
                                             Clock::time_point to)
{
    std::vector<Clock::time_point> inSpan;
    std::copy_if(stamps.begin(), stamps.end(), std::back_inserter(inSpan),
                 [&](const Clock::time_point &t) { return t >= from && t < to; });
    return inSpan;
}

// Prints the intervals of the span and the frames lost in it; needs two stamps at least.
Figures printSpan(const std::vector<Clock::time_point> &inSpan)
{
    ostrabench::printIntervals(inSpan, {10.0, 12.0, 20.0});
    std::vector<double> intervals;
    for (size_t i = 1; i < inSpan.size(); ++i)
        intervals.push_back(std::chrono::duration<double, std::milli>(inSpan[i] - inSpan[i - 1]).count());
    std::sort(intervals.begin(), intervals.end());
    Figures f;
    f.frames = inSpan.size();
    f.p99 = intervals[std::min(intervals.size() - 1, size_t(0.99 * double(intervals.size())))];
    f.max = intervals.back();
    f.over12 = size_t(std::count_if(intervals.begin(), intervals.end(), [](double ms) { return ms > 12.0; }));
    const double span = std::chrono::duration<double, std::milli>(inSpan.back() - inSpan.front()).count();
    f.lost = std::max(0L, std::lround(span / TickMs) - long(intervals.size()));
    std::printf("frames lost %ld of %ld (%.2f %%)\n", f.lost, std::lround(span / TickMs),
                100.0 * double(f.lost) / std::max(1.0, span / TickMs));
    return f;
}

// --compare: the probe once per configuration, one after the other, each child printing its
// runs as "summary" lines that are gathered here into one table.
int runCompare(double seconds)
{
    const QStringList configurations[] = {
        {},
        {QStringLiteral("--mainwindow")},
        {QStringLiteral("--shell"), QStringLiteral("--size"), QStringLiteral("1920x1080")},
        {QStringLiteral("--dashboard")},
    };
    struct Row
    {
        QString label;
        Figures all;
        Figures first;
        double cpu = 0.0;
    };
    std::vector<Row> rows;
    for (const QStringList &options : configurations) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    QStringList {QString::number(seconds), QStringLiteral("--start-gaps"), QStringLiteral("--summary")}
                        + options);
        const int limitMs = int(seconds * 1000.0 * 4) + 60000;
        if (!child.waitForFinished(limitMs)) {
            std::fprintf(stderr, "cadenceprobe: the run with \"%s\" did not finish\n", qPrintable(options.join(' ')));
            child.kill();
            child.waitForFinished();
            return 1;
        }
        const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() != 13 || f[0] != "summary")
                continue;
            Row row;
            row.label = QString::fromUtf8(f[1]);
            row.all = {size_t(f[2].toULongLong()), f[3].toDouble(), f[4].toDouble(), size_t(f[5].toULongLong()),
                       f[6].toLong()};
            row.first = {size_t(f[7].toULongLong()), f[8].toDouble(), f[9].toDouble(), size_t(f[10].toULongLong()),
                         f[11].toLong()};
            row.cpu = f[12].toDouble();
            rows.push_back(row);
        }
        if (child.exitCode() != 0)
            std::fprintf(stderr, "cadenceprobe: the run with \"%s\" reported a fault (exit %d)\n",
                         qPrintable(options.join(' ')), child.exitCode());
    }
    if (rows.empty()) {
        std::fprintf(stderr, "cadenceprobe: no run reported figures\n");
        return 1;
    }
    const Row &plain = rows.front();
    std::printf("%.0f s per run; p99 ratio and CPU beside the plain run (p99 %.3f ms, CPU %.1f ms/s)\n", seconds,
                plain.all.p99, plain.cpu);
    std::printf("%-60s %8s %6s %8s %5s %5s %9s %9s %9s %9s\n", "run", "p99 ms", "ratio", "max ms", ">12", "lost",
                "1st s max", "1st s>12", "CPU ms/s", "window");
    for (const Row &row : rows) {
        std::printf("%-60s %8.3f %6.2f %8.3f %5zu %5ld %9.3f %9zu %9.1f %+9.1f\n", qPrintable(row.label), row.all.p99,
                    row.all.p99 / plain.all.p99, row.all.max, row.all.over12, row.all.lost, row.first.max,
                    row.first.over12, row.cpu, row.cpu - plain.cpu);
    }
    return 0;
}

// A text message in frames of at most `piece` bytes (unmasked by a zero mask), each followed by
// `between` when given.
QByteArray inFrames(const QByteArray &text, qsizetype piece, const QByteArray &between = QByteArray())
{
    QByteArray frames;
    for (qsizetype at = 0; at < text.size(); at += piece) {
        const quint8 opcode = at == 0 ? 0x1 : 0x0;
        const quint8 fin = at + piece >= text.size() ? 0x80 : 0x00;
        frames += ostratest::wsClientFrame(fin | opcode, text.mid(at, piece), 0) + between;
    }
    return frames;
}

// The second process for the floods: `count` clients, each from a loopback address of its own
// (127.0.0.2 on), send the messages of `kind` (see the top of this file), keeping their socket's
// queue full ("paced": one a millisecond); a phone on a thread of its own pings, 5 ms after each
// pong. Prints "ready" once all are connected, floods from half a second later, and at the end
// the phone's round trips and what the flood sent.
int runFlood(int argc, char *argv[], quint16 port, int count, const QString &kind)
{
    QCoreApplication app(argc, argv);
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1").arg(port));
    QString text = QStringLiteral(R"({"event":"ping"})");
    const qsizetype bytes = kind == QLatin1String("flood-1m") ? 1024 * 1024
                            : kind == QLatin1String("flood") || kind == QLatin1String("flood-long-fragmented")
                                ? qsizetype(corvane::WebSocketServer::MaxMessageBytes)
                                : 0;
    if (bytes > 0) {
        text = QStringLiteral(R"({"event":"set_axis_settings","data":{)");
        for (int key = 0; text.size() < bytes - 32; ++key)
            text += QStringLiteral(R"("k%1":1,)").arg(key);
        text += QStringLiteral(R"("z":1}})");
    }
    const bool paced = kind == QLatin1String("paced");
    const QByteArray storing = R"({"event":"set_lounge_pit_limiter","data":{"enabled":true,"percent":40}})";
    if (paced)
        text = QString::fromUtf8(storing);
    // A change, whose reply waits for the disk, and the port list asked for four times.
    QByteArray ports = ostratest::wsClientFrame(0x81, storing, 0);
    for (int i = 0; i < 4; ++i)
        ports += ostratest::wsClientFrame(0x81, R"({"event":"get_serial_ports"})", 0);
    const QByteArray payload = kind == QLatin1String("flood-ports")         ? ports
                               : kind == QLatin1String("flood-fragments")     ? inFrames(text.toUtf8(), 1)
                               : kind == QLatin1String("flood-interleaved") ? inFrames(text.toUtf8(), 1, ostratest::wsClientFrame(0x89, "p", 0))
                               : kind == QLatin1String("flood-long-fragmented") ? inFrames(text.toUtf8(), 64)
                                                                                : ostratest::wsClientFrame(0x81, text.toUtf8(), 0);
    const qsizetype queued = std::max<qsizetype>(2 * payload.size(), 64 * 1024);

    std::vector<std::unique_ptr<LoopbackPeer>> flooders;
    bool flooding = false;
    qint64 sent = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    pace.setInterval(1);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        for (const auto &flooder : flooders) {
            if (flooder->isOpen() && flooder->bytesToWrite() < queued) {
                flooder->sendBytes(payload);
                ++sent;
            }
        }
    });
    qint64 closed = 0;
    int connected = 0;
    const auto send = [&](LoopbackPeer *flooder) {
        // Two messages (or 64 KiB) queued keep the connection busy whatever the server takes.
        while (flooding && !paced && flooder->isOpen() && flooder->bytesToWrite() < queued) {
            flooder->sendBytes(payload);
            ++sent;
        }
    };
    const auto announce = [&] {
        if (++connected != count + 1)
            return;
        std::printf("ready\n");
        std::fflush(stdout);
        QTimer::singleShot(500, &app, [&] {
            flooding = true;
            for (const auto &flooder : flooders)
                send(flooder.get());
            if (paced)
                pace.start();
        });
    };
    QThread phoneThread;
    QObject phoneHome;
    phoneHome.moveToThread(&phoneThread);
    phoneThread.start();
    // The flooders stand for other machines: their own work must not take the probe's processors.
    // (On Linux this thread alone: the phone keeps its priority.)
    (void)!::nice(19);
    QElapsedTimer pingClock;
    std::vector<qint64> tripsUs;
    QMetaObject::invokeMethod(&phoneHome, [&] {
        auto *phone = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, &phoneHome);
        const auto ping = [&, phone] {
            pingClock.start();
            phone->sendTextMessage(QStringLiteral(R"({"event":"ping"})"));
        };
        QObject::connect(phone, &QWebSocket::connected, phone, [&, ping] {
            QMetaObject::invokeMethod(&app, announce);
            ping();
        });
        QObject::connect(phone, &QWebSocket::textMessageReceived, phone, [&, phone, ping](const QString &reply) {
            if (!reply.contains(QLatin1String("pong")))
                return;
            tripsUs.push_back(pingClock.nsecsElapsed() / 1000);
            QTimer::singleShot(5, phone, ping);
        });
        phone->open(url);
    });
    // Each from an address of its own, as other machines on the LAN.
    for (int i = 0; i < count; ++i) {
        flooders.push_back(std::make_unique<LoopbackPeer>(2 + i, port));
        LoopbackPeer *flooder = flooders.back().get();
        flooder->opened = [&, flooder] {
            if (flooding)
                send(flooder);
            else
                announce();
        };
        flooder->written = [&, flooder] { send(flooder); };
        flooder->closed = [&, flooder] {
            if (!flooding)
                return;
            ++closed;
            QTimer::singleShot(10, flooder, [flooder] { flooder->open(); });
        };
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) > 0)
            return;
        // What is still queued to send goes with the connections, at once.
        flooding = false;
        for (const auto &flooder : flooders)
            flooder->abort();
        app.quit();
    });
    app.exec();
    std::vector<qint64> trips;
    QMetaObject::invokeMethod(
        &phoneHome,
        [&] {
            trips = tripsUs;
            delete phoneHome.findChild<QWebSocket *>();
        },
        Qt::BlockingQueuedConnection);
    phoneThread.quit();
    phoneThread.wait();
    std::sort(trips.begin(), trips.end());
    const auto at = [&trips](double share) {
        return trips.empty() ? 0.0 : double(trips.at(std::min(trips.size() - 1, size_t(share * double(trips.size()))))) / 1000.0;
    };
    std::printf("%zu pings, round trip p50 %.2f ms, p99 %.2f ms, max %.2f ms; %lld messages of %lld characters sent, "
                "%lld connections closed by the server\n",
                trips.size(), at(0.5), at(0.99), trips.empty() ? 0.0 : double(trips.back()) / 1000.0,
                static_cast<long long>(sent), static_cast<long long>(text.size()), static_cast<long long>(closed));
    return 0;
}

// The second process: `count` API clients on 127.0.0.1:`port` that subscribe to both streams
// and read everything until stdin closes, or with `requests` send those requests one after the
// other; prints "ready" once all are subscribed (or connected) and the number of messages read,
// or of requests answered and failed, at the end.
int runClients(int argc, char *argv[], quint16 port, int count, const QString &requests)
{
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<QWebSocket>> clients;
    qint64 messages = 0;
    qint64 answered = 0;
    qint64 failed = 0;
    int ready = 0;
    const auto announce = [&] {
        if (++ready == count) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    };
    const auto send = [](QWebSocket *client, const char *event, const QJsonObject &data) {
        client->sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"event", QLatin1String(event)}, {"data", data}}).toJson(QJsonDocument::Compact)));
    };
    // The next request of client `i`, after the reply `last` (empty at first).
    const auto next = [&](int i, QWebSocket *client, const QJsonObject &last) {
        static int serial = 0;
        if (requests == QLatin1String("lounge")) {
            ++serial;
            send(client, "set_lounge_pit_limiter", {{"enabled", serial % 2 == 0}, {"percent", 20 + serial % 50}});
        } else if (last.value("event").toString() == QLatin1String("action_create_profile")
                   && last.value("success").toBool()) {
            send(client, "action_delete_profile", {{"id", last.value("data").toObject().value("id")}});
        } else {
            send(client, "action_create_profile", {{"name", QStringLiteral("Probe %1-%2").arg(i).arg(++serial)}});
        }
    };
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<QWebSocket>());
        QWebSocket *client = clients.back().get();
        QObject::connect(client, &QWebSocket::connected, [&, client, i] {
            if (!requests.isEmpty()) {
                announce();
                next(i, client, {});
                return;
            }
            client->sendTextMessage(QStringLiteral(
                R"({"event":"action_subscribe","data":{"events":["event_frame_sent","event_input_changed"]}})"));
        });
        QObject::connect(client, &QWebSocket::textMessageReceived, [&, client, i](const QString &text) {
            ++messages;
            if (requests.isEmpty()) {
                if (text.contains(QLatin1String("action_subscribe")))
                    announce();
                return;
            }
            const QJsonObject reply = QJsonDocument::fromJson(text.toUtf8()).object();
            const QString event = reply.value("event").toString();
            if (event.startsWith(QLatin1String("event_")))
                return; // pushed, not an answer
            ++answered;
            failed += event == QLatin1String("error") || !reply.value("success").toBool(true) ? 1 : 0;
            next(i, client, reply);
        });
        client->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    app.exec();
    if (requests.isEmpty())
        std::printf("%lld\n", static_cast<long long>(messages));
    else
        std::printf("%lld answered, %lld failed\n", static_cast<long long>(answered), static_cast<long long>(failed));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // cadenceprobe --client-process PORT COUNT [REQUESTS]: the clients' side of --clients.
    if (argc == 5 && std::strcmp(argv[1], "--client-process") == 0
        && (std::strncmp(argv[4], "flood", 5) == 0 || std::strcmp(argv[4], "paced") == 0))
        return runFlood(argc, argv, quint16(std::atoi(argv[2])), std::atoi(argv[3]), QString::fromLatin1(argv[4]));
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--client-process") == 0)
        return runClients(argc, argv, quint16(std::atoi(argv[2])), std::atoi(argv[3]),
                          argc == 5 ? QString::fromLatin1(argv[4]) : QString());

    qputenv("OSTRA_INPUT_BACKEND", "virtual");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    ostratest::TestEnvironment environment; // fresh settings and profiles: never the user's
    benchdialogs::BlockWatchApplication app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("seconds"), QStringLiteral("How long to transmit (default 10)."));
    QCommandLineOption render(QStringLiteral("render"), QStringLiteral("Also render an 800x600 widget every 16 ms."));
    parser.addOption(render);
    QCommandLineOption mainWindow(QStringLiteral("mainwindow"),
                                  QStringLiteral("Transmit from the program's main window, showing the car page."));
    parser.addOption(mainWindow);
    QCommandLineOption dialogsOption(QStringLiteral("dialogs"),
                                     QStringLiteral("From the main window, open and close every dialog and page."));
    parser.addOption(dialogsOption);
    QCommandLineOption spanOption(QStringLiteral("span"), QStringLiteral("Length of each measured span (default 500)."),
                                  QStringLiteral("MS"), QStringLiteral("500"));
    parser.addOption(spanOption);
    QCommandLineOption onlyOption(QStringLiteral("only"), QStringLiteral("Only the dialogs whose name contains TEXT."),
                                  QStringLiteral("TEXT"));
    parser.addOption(onlyOption);
    QCommandLineOption phasesOption(QStringLiteral("phases"),
                                    QStringLiteral("Time the construction, polish, layout and first paint of each dialog."));
    parser.addOption(phasesOption);
    QCommandLineOption blocksOption(QStringLiteral("blocks"),
                                    QStringLiteral("For each gap over 12 ms, the event deliveries that held the GUI thread."));
    parser.addOption(blocksOption);
    QCommandLineOption clientsOption(QStringLiteral("clients"),
                                     QStringLiteral("Serve the API to N clients in a second process."), QStringLiteral("N"));
    parser.addOption(clientsOption);
    QCommandLineOption requestsOption(QStringLiteral("requests"),
                                      QStringLiteral("The clients send requests that store: lounge or profiles."),
                                      QStringLiteral("KIND"));
    parser.addOption(requestsOption);
    QCommandLineOption syncDelayOption(QStringLiteral("sync-delay"),
                                       QStringLiteral("Hold every fsync and fdatasync this long first."),
                                       QStringLiteral("MS"));
    parser.addOption(syncDelayOption);
    QCommandLineOption outside(QStringLiteral("port"), QStringLiteral("Send the frames to this device instead."),
                               QStringLiteral("DEVICE"));
    parser.addOption(outside);
    QCommandLineOption shell(QStringLiteral("shell"), QStringLiteral("Also measure with the kit's shell on screen."));
    QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Window size of the shell (default 1280x800)."),
                                  QStringLiteral("WxH"), QStringLiteral("1280x800"));
    parser.addOption(shell);
    parser.addOption(sizeOption);
    QCommandLineOption dashboardOption(QStringLiteral("dashboard"),
                                       QStringLiteral("Also measure with the dashboard shown full screen."));
    parser.addOption(dashboardOption);
    QCommandLineOption startGaps(QStringLiteral("start-gaps"),
                                 QStringLiteral("Report the intervals of each run's first second apart."));
    parser.addOption(startGaps);
    QCommandLineOption compare(QStringLiteral("compare"),
                               QStringLiteral("Run plain, --mainwindow, --shell --size 1920x1080 and --dashboard "
                                              "back to back and compare them."));
    parser.addOption(compare);
    // Each child of --compare prints its runs in a form the parent reads back.
    QCommandLineOption summary(QStringLiteral("summary"));
    summary.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(summary);
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
    if (parser.isSet(compare)) {
        for (const QString &other : {QStringLiteral("render"), QStringLiteral("mainwindow"), QStringLiteral("shell"),
                                     QStringLiteral("dashboard"), QStringLiteral("clients"), QStringLiteral("port")}) {
            if (parser.isSet(other))
                return usageError(QStringLiteral("--compare chooses the runs itself; leave out --%1").arg(other));
        }
        return runCompare(seconds);
    }
    const bool serve = parser.isSet(clientsOption);
    bool countOk = true;
    const int clientCount = serve ? parser.value(clientsOption).toInt(&countOk) : 0;
    if (!countOk || clientCount < 0)
        return usageError(QStringLiteral("the number of clients must be 0 or more"));
    const QString requests = parser.value(requestsOption);
    const QStringList kinds{QStringLiteral("lounge"),          QStringLiteral("profiles"),
                            QStringLiteral("flood"),           QStringLiteral("flood-1m"),
                            QStringLiteral("flood-ping"),      QStringLiteral("flood-fragments"),
                            QStringLiteral("flood-interleaved"), QStringLiteral("flood-long-fragmented"),
                            QStringLiteral("flood-ports"),     QStringLiteral("paced")};
    if (!requests.isEmpty() && (!serve || !kinds.contains(requests)))
        return usageError(QStringLiteral("--requests takes %1, with --clients").arg(kinds.join(QStringLiteral(", "))));
    const bool flood = requests.startsWith(QLatin1String("flood")) || requests == QLatin1String("paced");
    bool delayOk = true;
    syncDelayMs = parser.isSet(syncDelayOption) ? parser.value(syncDelayOption).toInt(&delayOk) : 0;
    if (!delayOk || syncDelayMs < 0)
        return usageError(QStringLiteral("--sync-delay must be 0 or more milliseconds"));
    const QStringList sizeParts = parser.value(sizeOption).split(QLatin1Char('x'));
    const QSize shellSize(sizeParts.value(0).toInt(), sizeParts.value(1).toInt());
    if (shellSize.width() < 640 || shellSize.height() < 480 || sizeParts.size() != 2)
        return usageError(QStringLiteral("--size must be WxH, at least 640x480"));
    if (parser.isSet(shell)) {
        ostra::installTheme(app);
        if (!ostra::animationsEnabled())
            std::fprintf(stderr, "cadenceprobe: no animations on platform %s; run it on a display\n",
                         qPrintable(QGuiApplication::platformName()));
    }

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
    corvane::VirtualInputDevice *pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA SRP Pedals")));

    // Whatever serves the API here answers mDNS on the loopback only, never on the real network.
    corvane::MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
    // The program's own window, at 1280 x 800 on the car page, or a bare controller.
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<corvane::CorvaneController> ownController;
    const bool dialogs = parser.isSet(dialogsOption);
    bool spanOk = true;
    const int spanMs = parser.value(spanOption).toInt(&spanOk);
    if (!spanOk || spanMs < 50)
        return usageError(QStringLiteral("--span must be 50 ms or more"));
    if (dialogs) {
        // The car page and the setup guide open without the Terms of Use first, as after a first run.
        corvane::SettingsFile().setValue(QStringLiteral("disclaimer/accepted"), true);
    }
    if (parser.isSet(mainWindow) || dialogs) {
        ostra::installTheme(app);
        window = std::make_unique<MainWindow>();
        window->resize(dialogs ? shellSize : QSize(1280, 800));
        window->show();
        window->showPage(MainWindow::CarPage);
    } else {
        ownController = std::make_unique<corvane::CorvaneController>();
    }
    corvane::CorvaneController &controller = window ? *window->controller() : *ownController;
    QObject::connect(&controller, &corvane::CorvaneController::errorOccurred, [](const QString &error) {
        std::fprintf(stderr, "cadenceprobe: %s\n", qPrintable(error));
    });
    if (!controller.wheelBase()->open(0) || !controller.pedals()->open(1)
        || !controller.connectTransmitter(port, 115200)) {
        std::fprintf(stderr, "cadenceprobe: could not connect the virtual devices or %s\n", qPrintable(port));
        return 1;
    }
    // The helicopter's setup dialogs open only with a joystick connected.
    if (dialogs) {
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Heli Joystick")));
        if (!controller.heliJoystick()->open(2)) {
            std::fprintf(stderr, "cadenceprobe: could not connect the virtual joystick\n");
            return 1;
        }
    }
    // Frames go only to a transmitter that gave its ID: the line here gives one, as the real one does.
    static const char idReply[] = "QOR-ID:CADENCE\r\n";
    if (timedHere && ::write(master, idReply, sizeof idReply - 1) != qint64(sizeof idReply - 1)) {
        std::perror("cadenceprobe: write");
        return 1;
    }
    QElapsedTimer naming;
    naming.start();
    while (!controller.isTransmitterAnswered() && naming.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (window) {
        window->updateCarPageStatus();
        // On screen and painted before the start, as when the driver presses Start: the first
        // second then times the start of transmission, not the window's first paint.
        QEventLoop settleWindow;
        QTimer::singleShot(1000, &settleWindow, &QEventLoop::quit);
        settleWindow.exec();
    }
    controller.readControllers(); // a first read of every device, pedals up
    const FrameClock::Clock::time_point transmissionStart = FrameClock::Clock::now();
    controller.startTransmission();
    if (!controller.isRunning()) {
        std::fprintf(stderr, "cadenceprobe: transmission did not start\n");
        return 1;
    }

    // Keep the wheel and the pedals moving so every tick has work to do (and the dashboard's
    // speed, gauge and pedal bars change).
    QTimer wiggle;
    int step = 0;
    QObject::connect(&wiggle, &QTimer::timeout, [&] {
        const float t = float(++step) * 0.05f;
        wheel->setAxis(0, std::sin(t));
        pedals->setAxis(1, std::sin(0.3f * t));
        pedals->setAxis(2, std::cos(0.3f * t) * 0.5f - 0.5f);
    });
    wiggle.start(10);

    BusyPage page;
    QTimer renderTimer;
    if (parser.isSet(render)) {
        QObject::connect(&renderTimer, &QTimer::timeout, [&page] { page.grab(); });
        renderTimer.start(16);
    }

    // The API, served from this process as the program does.
    corvane::WebSocketServer server(&controller);
    QProcess clients;
    if (serve) {
        if (requests.isEmpty()) {
            server.registerHandler(new corvane::WsTransmissionHandler(&controller, &server));
            server.registerHandler(new corvane::WsInputHandler(&controller, &server));
        } else {
            corvane::registerApiHandlers(&server, &controller);
        }
        if (!server.start(0)) {
            std::fprintf(stderr, "cadenceprobe: the API server did not start\n");
            return 1;
        }
        if (clientCount > 0) {
            clients.start(QCoreApplication::applicationFilePath(),
                          QStringList{QStringLiteral("--client-process"), QString::number(server.serverPort()),
                                      QString::number(clientCount)}
                              + (requests.isEmpty() ? QStringList() : QStringList{requests}));
            const QMetaObject::Connection ready =
                QObject::connect(&clients, &QProcess::readyReadStandardOutput, &app, [&] {
                    if (clients.canReadLine() && clients.readLine().startsWith("ready"))
                        app.quit();
                });
            QTimer::singleShot(20000, &app, &QCoreApplication::quit);
            app.exec(); // until every client is subscribed
            QObject::disconnect(ready);
            // A flood has one more client: the phone that pings.
            if (server.clientCount() != clientCount + (flood ? 1 : 0)) {
                std::fprintf(stderr, "cadenceprobe: only %d of %d clients connected\n", server.clientCount(), clientCount);
                return 1;
            }
        }
    }

    if (!timedHere) {
        const char *rendering = parser.isSet(render) ? " with an 800x600 render every 16 ms"
                                : window             ? " from the main window on the car page at 1280x800"
                                                     : "";
        const FrameClock::Clock::time_point begin = FrameClock::Clock::now();
        QTimer::singleShot(int(seconds * 1000.0), &app, &QCoreApplication::quit);
        app.exec();
        controller.stopTransmissionAndHold();
        std::printf("frames sent %u to %s over %.3f s%s\n", controller.frameCount(), qPrintable(port),
                    std::chrono::duration<double>(FrameClock::Clock::now() - begin).count(), rendering);
        return 0;
    }

    if (dialogs && parser.isSet(phasesOption)) {
        controller.stopTransmissionAndHold();
        benchdialogs::printPhases(window.get());
        return 0;
    }
    if (dialogs) {
        std::vector<Clock::time_point> stamps;
        // When the tick handed each frame to the line, to tell a late tick from a late delivery.
        std::vector<Clock::time_point> sent;
        sent.reserve(1 << 17);
        QObject::connect(&controller, &corvane::CorvaneController::frameSent, &app, [&sent] { sent.push_back(Clock::now()); });
        std::vector<benchdialogs::StepTimes> *steps = nullptr;
        {
            FrameClock clock(master, channelFrame);
            steps = benchdialogs::scheduleSteps(window.get(), spanMs, parser.value(onlyOption));
            app.setWatching(parser.isSet(blocksOption));
            app.exec();
            app.setWatching(false);
            controller.stopTransmissionAndHold();
            QThread::msleep(50);
            stamps = clock.stamps();
        }
        ::close(master);
        ::close(slave);
        const QSize size = window->size();
        std::printf("main window %dx%d on %s, %s theme; bad CRC: %zu\n", size.width(), size.height(),
                    qPrintable(QGuiApplication::platformName()), ostra::isDarkTheme() ? "dark" : "light", badFrames);
        const bool within = benchdialogs::printSteps(*steps, stamps, sent, spanMs, 12.0);
        if (parser.isSet(blocksOption)) {
            for (const benchdialogs::StepTimes &step : *steps) {
                std::printf("%s\n", step.label);
                benchdialogs::printBlocks("idle", app.blocks(), stamps, sent, step.idle, spanMs, 12.0);
                benchdialogs::printBlocks("open", app.blocks(), stamps, sent, step.opened, spanMs, 12.0);
                benchdialogs::printBlocks("close", app.blocks(), stamps, sent, step.closed, spanMs, 12.0);
            }
        }
        return badFrames == 0 && within ? 0 : 1;
    }

    // The runs, one after the other; each but the first leaves out its first half second, in
    // which a window is shown and painted for the first time.
    struct Run
    {
        QString label;
        std::function<void()> begin;
        Clock::time_point start;
        double cpuAtStart = 0.0; // the probe's CPU seconds when the run began
    };
    ostratest::TileServer tiles;
    std::unique_ptr<benchshell::ShellScene> scene;
    std::unique_ptr<corvane::DashboardWidget> dashboard;
    QTimer fixes;
    QTimer live;
    std::vector<Run> runs;
    runs.push_back({parser.isSet(render) ? QStringLiteral("with an 800x600 render every 16 ms")
                     : window            ? QStringLiteral("from the main window on the car page at 1280x800")
                                         : QStringLiteral("plain"),
                    [] {}, {}});
    if (parser.isSet(shell)) {
        const QString size = QStringLiteral("%1x%2").arg(shellSize.width()).arg(shellSize.height());
        runs.push_back({QStringLiteral("shell %1 on screen, drift held").arg(size), [&] {
                            scene = std::make_unique<benchshell::ShellScene>(shellSize, tiles.baseUrl());
                            scene->window()->setDriftHeld(true);
                            // As the main window does while transmitting.
                            paceRepaintsWhileTransmitting(scene->window(), &controller);
                            scene->window()->show();
                            QObject::connect(&fixes, &QTimer::timeout, [&] { scene->nextFix(); });
                            QObject::connect(&live, &QTimer::timeout, [&] { scene->nextLiveValues(); });
                            fixes.start(100);
                            live.start(16);
                        }, {}});
        runs.push_back({QStringLiteral("shell %1 on screen, drift running").arg(size),
                        [&] {
                            // Drifting, the main window is not transmitting: nothing holds its repaints.
                            scene->window()->setDriftHeld(false);
                            scene->window()->findChild<ostra::PaintPacer *>()->setActive(false);
                        }, {}});
    }
    if (parser.isSet(dashboardOption)) {
        const QSize screen = QGuiApplication::primaryScreen()->size();
        runs.push_back({QStringLiteral("dashboard full screen at %1x%2, pedals moving").arg(screen.width()).arg(screen.height()), [&] {
                            if (scene) {
                                fixes.stop();
                                live.stop();
                                scene->window()->hide();
                            }
                            dashboard = std::make_unique<corvane::DashboardWidget>(&controller);
                            paceRepaintsWhileTransmitting(dashboard.get(), &controller);
                            dashboard->showFullScreen();
                        }, {}});
    }

    const auto settle = std::chrono::milliseconds(500);
    std::vector<Clock::time_point> stamps;
    Clock::time_point end;
    double cpu = 0.0;
    double cpuAtEnd = 0.0;
    {
        FrameClock clock(master, channelFrame);
        for (size_t i = 0; i < runs.size(); ++i) {
            QTimer::singleShot(int(seconds * 1000.0 * double(i)), &app, [&runs, i, transmissionStart] {
                runs[i].begin();
                // The first run is timed from the start of transmission, which came before.
                runs[i].start = i == 0 ? transmissionStart : Clock::now();
                runs[i].cpuAtStart = cpuSeconds();
            });
        }
        QTimer::singleShot(int(seconds * 1000.0 * double(runs.size())), &app, [&] {
            end = Clock::now();
            cpuAtEnd = cpuSeconds();
            QCoreApplication::quit();
        });
        const double cpuBefore = cpuSeconds();
        syncCalls = 0;
        guiThreadSyncCalls = 0;
        app.exec();
        cpu = cpuSeconds() - cpuBefore;
        controller.stopTransmissionAndHold();
        QThread::msleep(50);
        stamps = clock.stamps();
    }
    ::close(master);
    ::close(slave);

    if (stamps.size() < 2) {
        std::fprintf(stderr, "cadenceprobe: only %zu good frames arrived (%zu with a bad CRC)\n", stamps.size(), badFrames);
        return 1;
    }
    QByteArray clientMessages;
    if (clients.state() != QProcess::NotRunning) {
        clients.closeWriteChannel();
        clients.waitForFinished(5000);
        clientMessages = clients.readAllStandardOutput().trimmed();
    }
    if (serve)
        std::printf("API served to %d clients\n", clientCount);
    if (!clientMessages.isEmpty())
        std::printf("%s by the clients: %s\n", requests.isEmpty() ? "messages read" : "requests", clientMessages.constData());
    std::printf("syncs while measuring: %ld, on the GUI thread: %ld%s\n", syncCalls.load(), guiThreadSyncCalls.load(),
                syncDelayMs > 0 ? qPrintable(QStringLiteral(" (each held %1 ms)").arg(syncDelayMs.load())) : "");
    std::printf("probe CPU time %.1f ms per second, bad CRC: %zu\n", cpu * 1000.0 / (seconds * double(runs.size())),
                badFrames);
    bool complete = true;
    for (size_t r = 0; r < runs.size(); ++r) {
        const Clock::time_point from = runs[r].start + (r > 0 ? settle : Clock::duration::zero());
        const Clock::time_point to = r + 1 < runs.size() ? runs[r + 1].start : end;
        const std::vector<Clock::time_point> inRun = framesBetween(stamps, from, to);
        if (inRun.size() < 2) {
            std::fprintf(stderr, "cadenceprobe: only %zu frames arrived in run %zu\n", inRun.size(), r + 1);
            complete = false;
            continue;
        }
        const double runCpu = (r + 1 < runs.size() ? runs[r + 1].cpuAtStart : cpuAtEnd) - runs[r].cpuAtStart;
        const double cpuPerSecond = runCpu * 1000.0 / std::chrono::duration<double>(to - runs[r].start).count();
        std::printf("%s: frames %zu over %.3f s (first to last frame), probe CPU time %.1f ms per second\n",
                    qPrintable(runs[r].label), inRun.size(),
                    std::chrono::duration<double>(inRun.back() - inRun.front()).count(), cpuPerSecond);
        const Figures all = printSpan(inRun);
        Figures first;
        if (parser.isSet(startGaps)) {
            const Clock::time_point second = runs[r].start + std::chrono::seconds(1);
            const std::vector<Clock::time_point> firstSecond = framesBetween(stamps, runs[r].start, std::min(second, to));
            const std::vector<Clock::time_point> rest = framesBetween(stamps, second, to);
            if (firstSecond.size() >= 2) {
                std::printf("  first second after %s: ", r == 0 ? "the start of transmission" : "the window was shown");
                first = printSpan(firstSecond);
            }
            if (rest.size() >= 2) {
                std::printf("  after the first second: ");
                printSpan(rest);
            }
        }
        if (parser.isSet(summary)) {
            std::printf("summary\t%s\t%zu\t%.3f\t%.3f\t%zu\t%ld\t%zu\t%.3f\t%.3f\t%zu\t%ld\t%.1f\n",
                        qPrintable(runs[r].label), all.frames, all.p99, all.max, all.over12, all.lost, first.frames,
                        first.p99, first.max, first.over12, first.lost, cpuPerSecond);
        }
    }
    return complete && badFrames == 0 ? 0 : 1;
}
