// The station scan of RaceControl: a TCP sweep of this PC's /24 networks on the API port, then a
// WebSocket version check of every host that answered.
#include "racecontrol/racecontrol.h"

#include "platform/network/networkinterfacelister.h"
#include "racecontrol/connectattempt.h"
#include "racecontrol/racestationlink.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>

namespace corvane {

namespace {

constexpr int kMaxProbesInFlight = 64;
constexpr int kProbeTimeoutMs = 600;
constexpr int kVerifyTimeoutMs = 2500;

quint32 ipv4Value(const QString &entry)
{
    bool ok = false;
    const quint32 value = QHostAddress(entry.section(QLatin1Char('|'), 0, 0)).toIPv4Address(&ok);
    return ok ? value : 0;
}

} // namespace

struct RaceControl::ScanState
{
    QStringList queue;
    QStringList answered;
    QStringList results;
    int probesInFlight = 0;
    int checksPending = 0;
    bool verifying = false;
    ScanDone callback;
};

bool compareHostsByIPv4(const QString &a, const QString &b)
{
    return ipv4Value(a) < ipv4Value(b);
}

QStringList RaceControl::sweepList()
{
    QStringList hosts;
    QSet<quint32> sweptPrefixes;
    for (const NetworkInterfaceEntry &entry : NetworkInterfaceLister::interfaces()) {
        if (!entry.up || !entry.running || entry.loopback)
            continue;
        for (const QHostAddress &address : entry.addresses) {
            if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLinkLocal())
                continue;
            const quint32 own = address.toIPv4Address();
            // Always a /24, whatever the interface's own netmask.
            const quint32 prefix = own & 0xFFFFFF00u;
            if (sweptPrefixes.contains(prefix))
                continue;
            sweptPrefixes.insert(prefix);
            for (quint32 number = 1; number <= 254; ++number) {
                if (prefix + number != own)
                    hosts.append(QHostAddress(prefix + number).toString());
            }
        }
    }
    return hosts;
}

void RaceControl::scanNetwork(ScanDone done)
{
    auto scan = std::make_shared<ScanState>();
    scan->queue = sweepList();
    scan->callback = std::move(done);
    probeNextHosts(scan);
}

void RaceControl::probeNextHosts(const std::shared_ptr<ScanState> &scan)
{
    while (scan->probesInFlight < kMaxProbesInFlight && !scan->queue.isEmpty()) {
        const QString host = scan->queue.takeFirst();
        ++scan->probesInFlight;
        auto *socket = new QTcpSocket(this);
        watchConnectAttempt(socket, &QAbstractSocket::errorOccurred, kProbeTimeoutMs, this,
                            [this, scan, host](bool answered) { onProbeResult(scan, host, answered); });
        socket->connectToHost(host, DefaultPort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    }
    if (scan->queue.isEmpty() && scan->probesInFlight == 0)
        verifyHosts(scan);
}

void RaceControl::onProbeResult(const std::shared_ptr<ScanState> &scan, const QString &host, bool answered)
{
    if (answered)
        scan->answered.append(host);
    --scan->probesInFlight;
    if (scan->queue.isEmpty() && scan->probesInFlight == 0)
        verifyHosts(scan);
    else
        probeNextHosts(scan);
}

void RaceControl::verifyHosts(const std::shared_ptr<ScanState> &scan)
{
    // A probe that fails while it is being started reaches here from inside the sweep loop.
    if (scan->verifying)
        return;
    scan->verifying = true;
    if (scan->answered.isEmpty()) {
        if (scan->callback)
            scan->callback(QStringList());
        return;
    }
    scan->checksPending = int(scan->answered.size());
    for (const QString &host : std::as_const(scan->answered)) {
        auto *socket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
        // Any device on the port answers here, station or not.
        socket->setMaxAllowedIncomingMessageSize(RaceStationLink::MaxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(RaceStationLink::MaxMessageBytes);
        auto finished = std::make_shared<bool>(false);
        auto finish = [this, scan, socket, finished](const QString &result) {
            if (*finished)
                return;
            *finished = true;
            socket->abort();
            socket->deleteLater();
            onVerifyResult(scan, result);
        };
        connect(socket, &QWebSocket::connected, socket,
                [socket] { socket->sendTextMessage(QStringLiteral("{\"event\":\"get_app_version\"}")); });
        connect(socket, &QWebSocket::textMessageReceived, this, [host, finish](const QString &text) {
            const QJsonObject reply = QJsonDocument::fromJson(text.toUtf8()).object();
            if (reply.value(QStringLiteral("event")).toString() != QLatin1String("get_app_version"))
                return;
            const QString version =
                reply.value(QStringLiteral("data")).toObject().value(QStringLiteral("version")).toString();
            finish(host + QLatin1Char('|') + version);
        });
        connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
                [finish] { finish(QString()); });
        QTimer::singleShot(kVerifyTimeoutMs, Qt::PreciseTimer, socket, [finish] { finish(QString()); });
        socket->open(RaceStationLink::urlFor(host, DefaultPort));
    }
}

void RaceControl::onVerifyResult(const std::shared_ptr<ScanState> &scan, const QString &result)
{
    if (!result.isEmpty())
        scan->results.append(result);
    if (--scan->checksPending > 0)
        return;
    std::stable_sort(scan->results.begin(), scan->results.end(), compareHostsByIPv4);
    if (scan->callback)
        scan->callback(scan->results);
}

} // namespace corvane
