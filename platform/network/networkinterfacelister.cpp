#include "platform/network/networkinterfacelister.h"

#include <QFutureWatcher>
#include <QMutex>
#include <QNetworkInterface>
#include <QPromise>
#include <QThreadPool>

#include <memory>
#include <optional>

#include "platform/process/backgroundpool.h"

namespace corvane {

namespace {

// A worker may list while a test installs its entries.
QMutex &fixedInterfacesLock()
{
    static QMutex lock;
    return lock;
}

std::optional<QList<NetworkInterfaceEntry>> &fixedInterfaces()
{
    static std::optional<QList<NetworkInterfaceEntry>> entries;
    return entries;
}

} // namespace

QList<NetworkInterfaceEntry> NetworkInterfaceLister::interfaces()
{
    {
        const QMutexLocker locker(&fixedInterfacesLock());
        if (fixedInterfaces())
            return *fixedInterfaces();
    }
    return systemInterfaces();
}

QList<NetworkInterfaceEntry> NetworkInterfaceLister::systemInterfaces()
{
    QList<NetworkInterfaceEntry> entries;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    entries.reserve(all.size());
    for (const QNetworkInterface &iface : all) {
        NetworkInterfaceEntry entry;
        entry.name = iface.name();
        entry.humanReadableName = iface.humanReadableName();
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        entry.up = flags.testFlag(QNetworkInterface::IsUp);
        entry.running = flags.testFlag(QNetworkInterface::IsRunning);
        entry.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry &address : iface.addressEntries())
            entry.addresses.append(address.ip());
        entries.append(entry);
    }
    return entries;
}

void NetworkInterfaceLister::setFixedInterfaces(const QList<NetworkInterfaceEntry> &entries)
{
    const QMutexLocker locker(&fixedInterfacesLock());
    fixedInterfaces() = entries;
}

void NetworkInterfaceLister::useSystemInterfaces()
{
    const QMutexLocker locker(&fixedInterfacesLock());
    fixedInterfaces().reset();
}

int NetworkInterfaceLister::lanAddressScore(const QHostAddress &address)
{
    bool ok = false;
    const quint32 ip = address.toIPv4Address(&ok);
    if (!ok || address.protocol() != QAbstractSocket::IPv4Protocol)
        return 0;
    const quint32 a = ip >> 24;
    const quint32 b = (ip >> 16) & 0xFF;
    if (a == 192 && b == 168)
        return 100;
    if (a == 10)
        return 90;
    if (a == 172 && b >= 16 && b <= 31)
        return 80;
    if (a == 100 && b >= 64 && b <= 127)
        return 10;
    return 50;
}

// Adapters a phone cannot reach this PC through. The first seven are words of Windows adapter
// names; the rest name Linux interfaces, where a container bridge (docker0, 172.17.x.x) would
// otherwise beat the LAN.
static bool isVirtualAdapter(const NetworkInterfaceEntry &entry)
{
    static const char *const words[] = {"tailscale", "openvpn", "vethernet", "wsl",  "hyper-v", "virtualbox",
                                        "vmware",    "docker",  "br-",       "veth", "virbr",   "vboxnet",
                                        "vmnet",     "tun",     "wg"};
    for (const QString &name : {entry.name, entry.humanReadableName}) {
        const QString lower = name.toLower();
        for (const char *word : words) {
            if (lower.contains(QLatin1String(word)))
                return true;
        }
    }
    return false;
}

QString NetworkInterfaceLister::bestLanAddress()
{
    QString best;
    int bestScore = 0;
    for (const NetworkInterfaceEntry &entry : interfaces()) {
        if (entry.loopback || !entry.up || !entry.running || isVirtualAdapter(entry))
            continue;
        for (const QHostAddress &address : entry.addresses) {
            const int score = lanAddressScore(address);
            // Equal scores keep the first address found.
            if (score > bestScore) {
                best = address.toString();
                bestScore = score;
            }
        }
    }
    return best.isEmpty() ? QStringLiteral("127.0.0.1") : best;
}

void NetworkInterfaceLister::bestLanAddressLater(QObject *context, std::function<void(const QString &address)> done)
{
    // The watcher goes with its context, and with it the hand-over; the lookup itself ends on its own.
    auto *watcher = new QFutureWatcher<QString>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0)
            done(watcher->result());
    });
    auto promise = std::make_shared<QPromise<QString>>();
    promise->start();
    watcher->setFuture(promise->future());
    backgroundPool()->start([promise] {
        promise->addResult(bestLanAddress());
        promise->finish();
    });
}

} // namespace corvane
