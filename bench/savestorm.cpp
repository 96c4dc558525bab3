// What the app's saves cost the thread of the 7 ms tick: writer clients pipeline settings requests
// that save the active profile while a phone pings. Prints the phone's round trips (p50, p99,
// max), the saves acknowledged per second, and the longest gap and the share of lost ticks of a
// 7 ms timer on the server's thread.
//
//     savestorm [writers, default 24] [seconds 1..60, default 10] [--depth N] [--load] [--profiles]
//
// --depth N: requests each writer keeps unanswered (default 4). --load: a `dd oflag=sync` writer
// on the same disk the whole time. --profiles: each writer creates a profile and deletes it
// again, back to back, instead. The clients run on a thread of their own.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "api/apihandlers.h"
#include "api/websocketserver.h"
#include "bench/loopbackpeer.h"
#include "bridge/corvanecontroller.h"
#include "profiles/profilemanager.h"
#include "support/netnamespaces.h"
#include "support/testenvironment.h"

namespace {

using ostrabench::LoopbackPeer;

constexpr int PingPauseMs = 5;

// The clients, on the thread they are made on.
class Clients : public QObject
{
public:
    Clients(quint16 port, int writers, int depth, bool profiles)
    {
        for (int i = 0; i < writers; ++i) {
            auto *writer = new LoopbackPeer(2 + i, port, this);
            writer->opened = [this, writer, depth, profiles] {
                for (int n = 0; n < (profiles ? 1 : depth); ++n)
                    profiles ? sendProfileChange(writer, QString()) : sendSave(writer);
            };
            writer->received = [this, writer, profiles](const QByteArray &text) {
                if (profiles) {
                    const QJsonObject reply = QJsonDocument::fromJson(text).object();
                    const QString event = reply.value("event").toString();
                    if (event != QLatin1String("action_create_profile") && event != QLatin1String("action_delete_profile"))
                        return;
                    ++(reply.value("success").toBool() ? acknowledged : refused);
                    if (m_running)
                        sendProfileChange(writer, reply.value("data").toObject().value("id").toString());
                    return;
                }
                if (!text.contains("\"set_axis_settings\""))
                    return;
                ++(text.contains("\"success\":true") ? acknowledged : refused);
                if (m_running)
                    sendSave(writer);
            };
        }
        m_phone = new LoopbackPeer(1, port, this);
        m_phone->opened = [this] { ping(); };
        m_phone->received = [this](const QByteArray &text) {
            if (!text.contains("\"pong\""))
                return;
            if (m_running)
                roundTripsUs.push_back(m_pingSent.nsecsElapsed() / 1000);
            QTimer::singleShot(PingPauseMs, this, [this] { ping(); });
        };
    }

    void stop() { m_running = false; }

    std::vector<qint64> roundTripsUs;
    long acknowledged = 0;
    long refused = 0;

private:
    void ping()
    {
        m_pingSent.start();
        m_phone->sendText(R"({"event":"ping"})");
    }

    void sendSave(LoopbackPeer *writer)
    {
        // A change every time, in the range the handler takes.
        const QJsonObject request{{"event", "set_axis_settings"}, {"data", QJsonObject{{"decelRate", 1 + int(++m_sent % 99)}}}};
        writer->sendText(QJsonDocument(request).toJson(QJsonDocument::Compact));
    }

    // Deletes the profile just made, or makes one.
    void sendProfileChange(LoopbackPeer *writer, const QString &made)
    {
        const QJsonObject request = made.isEmpty()
                                        ? QJsonObject{{"event", "action_create_profile"}, {"data", QJsonObject{{"name", "Storm"}}}}
                                        : QJsonObject{{"event", "action_delete_profile"}, {"data", QJsonObject{{"id", made}}}};
        writer->sendText(QJsonDocument(request).toJson(QJsonDocument::Compact));
    }

    bool m_running = true;
    long m_sent = 0;
    LoopbackPeer *m_phone = nullptr;
    QElapsedTimer m_pingSent;
};

qint64 percentile(const std::vector<qint64> &sorted, double share)
{
    if (sorted.empty())
        return 0;
    return sorted.at(std::min(sorted.size() - 1, size_t(share * double(sorted.size()))));
}

} // namespace

int main(int argc, char *argv[])
{
    const ostratest::OwnLoopback ownLoopback;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false");
    ostratest::TestEnvironment environment;
    QCoreApplication app(argc, argv);
    ostratest::TestEnvironment::applyIdentity();

    QStringList args = app.arguments().mid(1);
    int depth = 4;
    if (const int at = int(args.indexOf(QStringLiteral("--depth"))); at >= 0 && at + 1 < args.size()) {
        depth = std::clamp(args.at(at + 1).toInt(), 1, 64);
        args.remove(at, 2);
    }
    const bool load = args.removeAll(QStringLiteral("--load")) > 0;
    const bool profiles = args.removeAll(QStringLiteral("--profiles")) > 0;
    const int writers = args.size() > 0 ? std::clamp(args.at(0).toInt(), 1, corvane::WebSocketServer::MaxClients - 1) : 24;
    const int seconds = args.size() > 1 ? std::clamp(args.at(1).toInt(), 1, 60) : 10;

    corvane::CorvaneController controller;
    corvane::WebSocketServer server(&controller);
    corvane::registerApiHandlers(&server, &controller);
    if (!server.start(0)) {
        std::fprintf(stderr, "savestorm: the server did not start\n");
        return 1;
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
    std::printf("%d writers, %s, %d s%s; store in %s\n", writers,
                profiles ? "each creating and deleting a profile" : qPrintable(QStringLiteral("%1 requests each in flight").arg(depth)),
                seconds, load ? ", beside a dd oflag=sync writer" : "", qPrintable(folder));

    QProcess dd;
    if (load) {
        dd.setProgram(QStringLiteral("sh"));
        dd.setArguments({QStringLiteral("-c"),
                         QStringLiteral("while :; do dd if=/dev/zero of='%1/../load.bin' bs=64k count=2000 oflag=sync "
                                        "status=none; done")
                             .arg(folder)});
        dd.start();
    }

    QThread clientThread;
    QObject onClientThread;
    onClientThread.moveToThread(&clientThread);
    clientThread.start();
    Clients *clients = nullptr;
    QMetaObject::invokeMethod(
        &onClientThread, [&] { clients = new Clients(server.serverPort(), writers, depth, profiles); }, Qt::BlockingQueuedConnection);

    // The 7 ms tick beside the server.
    QElapsedTimer gapClock;
    QElapsedTimer running;
    qint64 longestGapUs = 0;
    long ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (gapClock.isValid())
            longestGapUs = std::max(longestGapUs, gapClock.nsecsElapsed() / 1000);
        gapClock.start();
        ++ticks;
    });
    tick.start(7);
    running.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const qint64 ranMs = running.elapsed();

    std::vector<qint64> trips;
    long acknowledged = 0;
    long refused = 0;
    QMetaObject::invokeMethod(
        clients,
        [&] {
            clients->stop();
            trips = clients->roundTripsUs;
            acknowledged = clients->acknowledged;
            refused = clients->refused;
            delete clients;
        },
        Qt::BlockingQueuedConnection);
    clientThread.quit();
    clientThread.wait();
    if (load) {
        dd.kill();
        dd.waitForFinished();
        QFile::remove(folder + QStringLiteral("/../load.bin"));
    }

    std::sort(trips.begin(), trips.end());
    std::printf("phone pings        %zu, round trip p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", trips.size(),
                percentile(trips, 0.5) / 1000.0, percentile(trips, 0.99) / 1000.0,
                trips.empty() ? 0.0 : trips.back() / 1000.0);
    std::printf("saves acknowledged %ld (%.0f/s), refused %ld\n", acknowledged, double(acknowledged) / seconds, refused);
    const double due = double(ranMs) / 7.0;
    std::printf("longest tick gap   %.1f ms (7 ms timer on the server's thread), ticks lost %.0f %%\n",
                longestGapUs / 1000.0, due > 0 ? std::max(0.0, 100.0 * (due - double(ticks)) / due) : 0.0);
    return 0;
}
