#include "racecontrol/racecontrol.h"

#include "platform/network/machinename.h"
#include "platform/storage/settingsfile.h"
#include "profiles/profilename.h"
#include "racecontrol/connectattempt.h"
#include "racecontrol/racestationlink.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QWebSocket>

#include <algorithm>
#include <utility>

namespace corvane {

namespace {

constexpr int kHeartbeatMs = 500;
constexpr int kAddProbeTimeoutMs = 4000;
constexpr int kShutdownFlushMs = 400;
// The least time between two stops a station's reports send it.
constexpr int kStopRepeatMs = 100;
// How long a station let go has to confirm that its watchdog is off.
constexpr int kReleaseWaitMs = 2000;
// The watchdog time-outs a station takes; it clamps any other to them.
constexpr int kStationMinTimeoutMs = 500;
constexpr int kStationMaxTimeoutMs = 30000;

const QString kStationsKey = QStringLiteral("raceControl/stations");
const QString kIncludedKey = QStringLiteral("raceControl/included");
const QString kDriversKey = QStringLiteral("raceControl/drivers");
const QString kWatchdogKey = QStringLiteral("raceControl/watchdog");
const QString kWatchdogTimeoutKey = QStringLiteral("raceControl/watchdogTimeoutMs");

const QString kStopEvent = QStringLiteral("action_lounge_stop");
const QString kReleaseEvent = QStringLiteral("action_lounge_release");

// The time-out of the watchdog the station reports armed, 0 when it reports none.
int armedTimeoutMs(const QJsonObject &state)
{
    return state.value(QStringLiteral("watchdog")).toBool() ? state.value(QStringLiteral("watchdogTimeoutMs")).toInt() : 0;
}

} // namespace

bool isRaceControlSupported(const RaceStation &station)
{
    return station.status == Linked && station.state.value(QStringLiteral("supported")).toBool();
}

RaceControl::RaceControl(QObject *parent)
    : QObject(parent)
    , m_heartbeatTimer(new QTimer(this))
{
    loadSettings();
    connect(new SettingsFile(this), &SettingsFile::changedOnDisk, this, &RaceControl::onSettingsChangedOnDisk);
    m_heartbeatTimer->setInterval(kHeartbeatMs);
    m_heartbeatTimer->setTimerType(Qt::PreciseTimer);
    // Ticks until shut down: a held stop is kept each period, also with the safety link off.
    connect(m_heartbeatTimer, &QTimer::timeout, this, [this] {
        if (m_watchdog)
            sendHeartbeats();
        const QStringList ids = m_links.keys();
        for (const QString &id : ids)
            keepStopped(id, false);
    });
    m_heartbeatTimer->start();
}

RaceControl::~RaceControl() = default;

void RaceControl::loadSettings()
{
    const SettingsFile settings;
    const QJsonArray stations = QJsonDocument::fromJson(settings.value(kStationsKey).toByteArray()).array();
    // Stored before hosts were compared as addresses, one car may stand under two spellings of
    // its address: the first record keeps it, and takes the other's choice and driver.
    QHash<QString, QString> mergedInto;
    for (const QJsonValue &value : stations) {
        const QJsonObject object = value.toObject();
        RaceStation station;
        station.id = object.value(QStringLiteral("id")).toString();
        station.name = object.value(QStringLiteral("name")).toString();
        station.host = MachineName::normalizedHost(object.value(QStringLiteral("host")).toString());
        const QJsonValue port = object.value(QStringLiteral("port"));
        station.port = port.isDouble() ? port.toInt(DefaultPort) : DefaultPort;
        station.deviceId = object.value(QStringLiteral("deviceId")).toString();
        station.wrongCar = object.value(QStringLiteral("wrongCar")).toBool();
        station.stopHeld = object.value(QStringLiteral("stopHeld")).toBool();
        if (station.id.isEmpty() || station.host.isEmpty())
            continue;
        const QString same = stationAt(station.host, station.port);
        if (!same.isEmpty() && same != station.id) {
            mergedInto.insert(station.id, same);
            continue;
        }
        m_stations.append(station);
    }
    for (const QString &id : settings.value(kIncludedKey).toStringList()) {
        const QString kept = mergedInto.value(id, id);
        if (!m_included.contains(kept))
            m_included.append(kept);
    }
    const QJsonObject drivers = QJsonDocument::fromJson(settings.value(kDriversKey).toByteArray()).object();
    for (auto it = drivers.begin(); it != drivers.end(); ++it) {
        const QString kept = mergedInto.value(it.key(), it.key());
        if (kept == it.key() || !m_drivers.contains(kept))
            m_drivers.insert(kept, it.value().toString());
    }
    m_watchdog = settings.value(kWatchdogKey, false).toBool();
    m_watchdogTimeoutMs = settings.value(kWatchdogTimeoutKey, 2000).toInt();
}

void RaceControl::saveSettings(const QStringList &keys) const
{
    QJsonArray stations;
    for (const RaceStation &station : m_stations) {
        stations.append(QJsonObject{{QStringLiteral("id"), station.id},
                                    {QStringLiteral("name"), station.name},
                                    {QStringLiteral("host"), station.host},
                                    {QStringLiteral("port"), station.port},
                                    {QStringLiteral("deviceId"), station.deviceId},
                                    {QStringLiteral("wrongCar"), station.wrongCar},
                                    {QStringLiteral("stopHeld"), station.stopHeld}});
    }
    QJsonObject drivers;
    for (auto it = m_drivers.cbegin(); it != m_drivers.cend(); ++it)
        drivers.insert(it.key(), it.value());
    const QVariantMap values{{kStationsKey, QJsonDocument(stations).toJson(QJsonDocument::Compact)},
                             {kIncludedKey, m_included},
                             {kDriversKey, QJsonDocument(drivers).toJson(QJsonDocument::Compact)},
                             {kWatchdogKey, m_watchdog},
                             {kWatchdogTimeoutKey, m_watchdogTimeoutMs}};
    QVariantMap changed;
    for (const QString &key : keys)
        changed.insert(key, values.value(key));
    SettingsFile().setValues(QString(), changed);
}

void RaceControl::onSettingsChangedOnDisk(const QStringList &keys)
{
    if (m_shutDown || std::none_of(keys.cbegin(), keys.cend(), [](const QString &key) { return key.startsWith(QLatin1String("raceControl/")); }))
        return;
    // A hand edit or a tool changed them: race control goes on with what the file holds. The
    // stations that stay where they were keep their links and what they reported.
    const QList<RaceStation> before = std::exchange(m_stations, {});
    const QStringList wasIncluded = std::exchange(m_included, {});
    const bool watchdog = m_watchdog;
    const int timeoutMs = m_watchdogTimeoutMs;
    m_drivers.clear();
    loadSettings();
    QStringList moved;
    for (RaceStation &record : m_stations) {
        const auto old = std::find_if(before.cbegin(), before.cend(), [&record](const RaceStation &s) { return s.id == record.id; });
        if (old == before.cend())
            continue;
        if (old->host == record.host && old->port == record.port) {
            record.status = old->status;
            record.state = old->state;
            record.live = old->live;
            record.uncovered = old->uncovered;
        } else {
            moved.append(record.id);
        }
    }
    for (const QString &id : wasIncluded) {
        if (!m_included.contains(id) || moved.contains(id))
            releaseStation(id);
    }
    if (m_linksActive) {
        for (const QString &id : std::as_const(m_included))
            openStation(id);
    }
    if (m_watchdog != watchdog || m_watchdogTimeoutMs != timeoutMs)
        applyWatchdog();
    emit stationsChanged();
}

void RaceControl::lookUpOwnHost(const QString &host, QObject *context, std::function<void(bool own)> done)
{
    const QString name = MachineName::normalizedHost(host);
    const bool own = MachineName::isThisMachine(name);
    if (own || !QHostAddress(name).isNull()) {
        done(own);
        return;
    }
    QHostInfo::lookupHost(name, context, [done = std::move(done)](const QHostInfo &info) {
        const QList<QHostAddress> addresses = info.addresses();
        done(std::any_of(addresses.cbegin(), addresses.cend(), &MachineName::isOwnAddress));
    });
}

QList<RaceStation> RaceControl::includedStations() const
{
    QList<RaceStation> result;
    for (const RaceStation &station : m_stations) {
        if (m_included.contains(station.id))
            result.append(station);
    }
    return result;
}

const RaceStation *RaceControl::findStation(const QString &id) const
{
    for (const RaceStation &station : m_stations) {
        if (station.id == id)
            return &station;
    }
    return nullptr;
}

RaceStation *RaceControl::station(const QString &id)
{
    return const_cast<RaceStation *>(findStation(id));
}

void RaceControl::addStation(const QString &hostText, Done done)
{
    const QString host = MachineName::normalizedHost(hostText);
    if (host.isEmpty()) {
        if (done)
            done(false);
        return;
    }
    // This PC's own API answers on its names too: it would pass for a station, and STOP ALL
    // would stop this PC's own car.
    lookUpOwnHost(host, this, [this, host, done](bool own) {
        if (own) {
            if (done)
                done(false);
            return;
        }
        if (const QString existing = stationAt(host, DefaultPort); !existing.isEmpty()) {
            setStationIncluded(existing, true);
            if (done)
                done(true);
            return;
        }
        // Being able to open the WebSocket is all the probe checks.
        auto *probe = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
        watchConnectAttempt(probe, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), kAddProbeTimeoutMs,
                            this, [this, host, done](bool ok) { finishAddStation(host, ok, done); });
        probe->open(RaceStationLink::urlFor(host, DefaultPort));
    });
}

QString RaceControl::stationAt(const QString &host, int port) const
{
    for (const RaceStation &station : m_stations) {
        if (station.host == host && station.port == port)
            return station.id;
    }
    return QString();
}

void RaceControl::finishAddStation(const QString &host, bool ok, const Done &done)
{
    // Added meanwhile by another try (Return pressed twice, a found station's Add): one record.
    if (const QString existing = stationAt(host, DefaultPort); ok && !existing.isEmpty()) {
        setStationIncluded(existing, true);
    } else if (ok) {
        RaceStation station;
        station.id = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
        station.name = tr("Station %1").arg(m_stations.size() + 1);
        station.host = host;
        m_stations.append(station);
        m_included.append(station.id);
        if (m_linksActive)
            openStation(station.id);
        saveSettings({kStationsKey, kIncludedKey});
        emit stationsChanged();
    }
    if (done)
        done(ok);
}

void RaceControl::removeStation(const QString &id)
{
    releaseStation(id);
    forgetStation(id);
}

void RaceControl::forgetStation(const QString &id)
{
    QStringList changed{kStationsKey};
    if (m_included.removeAll(id) > 0)
        changed.append(kIncludedKey);
    if (m_drivers.remove(id) > 0)
        changed.append(kDriversKey);
    m_stations.erase(std::remove_if(m_stations.begin(), m_stations.end(),
                                    [&id](const RaceStation &s) { return s.id == id; }),
                     m_stations.end());
    saveSettings(changed);
    emit stationsChanged();
}

void RaceControl::renameStation(const QString &id, const QString &name)
{
    const QString trimmed = ProfileName::normalized(name);
    RaceStation *record = station(id);
    if (!record || trimmed.isEmpty() || ProfileName::hasForbiddenCharacter(trimmed) || trimmed == record->name)
        return;
    record->name = trimmed;
    saveSettings({kStationsKey});
    emit stationsChanged();
}

void RaceControl::setDriverName(const QString &id, const QString &name)
{
    const QString trimmed = ProfileName::normalized(name);
    if (ProfileName::hasForbiddenCharacter(trimmed))
        return;
    if (trimmed.isEmpty())
        m_drivers.remove(id);
    else
        m_drivers.insert(id, trimmed);
    saveSettings({kDriversKey});
    emit stationsChanged();
}

void RaceControl::setStationIncluded(const QString &id, bool include)
{
    if (m_included.contains(id) == include)
        return;
    if (include) {
        m_included.append(id);
        if (m_linksActive)
            openStation(id);
    } else {
        m_included.removeAll(id);
        releaseStation(id);
    }
    saveSettings({kIncludedKey});
    emit stationsChanged();
}

void RaceControl::clearIncluded()
{
    for (const QString &id : std::as_const(m_included))
        releaseStation(id);
    m_included.clear();
    saveSettings({kIncludedKey});
    emit stationsChanged();
}

void RaceControl::openIncludedStations()
{
    if (m_linksActive)
        return;
    m_linksActive = true;
    // Opening may drop a station, and with it its place in the list.
    const QStringList ids = m_included;
    for (const QString &id : ids)
        openStation(id);
}

void RaceControl::openStation(const QString &id)
{
    RaceStation *record = station(id);
    if (!record || m_links.contains(id))
        return;
    if (MachineName::isThisMachine(record->host)) {
        dropOwnStation(id);
        return;
    }
    record->status = Connecting;
    record->state = QJsonObject();
    record->live = QJsonObject();
    auto *link = new RaceStationLink(RaceStationLink::urlFor(record->host, record->port), this);
    m_links.insert(id, link);
    // A closed link may still report once; only the station's current link counts.
    connect(link, &RaceStationLink::opened, this, [this, id, link] {
        if (m_links.value(id) == link)
            onStationOpened(id);
    });
    connect(link, &RaceStationLink::pushed, this, [this, id, link](const QString &event, const QJsonObject &data) {
        if (m_links.value(id) == link)
            onStationPushed(id, event, data);
    });
    connect(link, &RaceStationLink::closed, this, [this, id, link] {
        if (m_links.value(id) == link)
            onStationClosed(id);
    });
    stationUpdated(*record);
}

void RaceControl::closeStation(const QString &id)
{
    m_lastArming.remove(id);
    if (RaceStationLink *link = m_links.take(id))
        link->close();
}

void RaceControl::releaseStation(const QString &id)
{
    RaceStationLink *link = m_links.take(id);
    // One out of reach keeps this race control's arming, which the safety link's switch-off lets go.
    if (!link || link->isConnected())
        m_lastArming.remove(id);
    if (!link)
        return;
    const RaceStation *record = findStation(id);
    // A wrong car is another's, and left exactly as it is.
    if (!m_watchdog || !record || record->wrongCar
        || (!link->isConnected() && armedTimeoutMs(record->state) <= 0)) {
        link->close();
        return;
    }
    // Left armed, the station would stop its car a moment later, off the page where nobody can
    // resume it.
    const QString name = record->name;
    link->send(QStringLiteral("set_lounge_watchdog"), QJsonObject{{QStringLiteral("enabled"), false}},
               [this, link, name, id](bool ok, const QJsonObject &, const QString &) {
                   if (!ok)
                       emit errorOccurred(tr("Couldn't switch off the safety link of %1: it may stop its car by "
                                             "itself. Choose it again to resume it.")
                                              .arg(name),
                                          id);
                   link->close();
               });
    // A station that does not answer is let go all the same (its callback then reports it).
    QTimer::singleShot(kReleaseWaitMs, Qt::PreciseTimer, link, [link] { link->close(); });
}

void RaceControl::onStationOpened(const QString &id)
{
    RaceStationLink *link = m_links.value(id);
    // A name, or an address whose lease moved, may lead to this PC now, whatever it led to when
    // the station was added.
    if (MachineName::isOwnAddress(link->peerAddress())) {
        dropOwnStation(id);
        return;
    }
    link->send(QStringLiteral("action_subscribe"),
               QJsonObject{{QStringLiteral("events"),
                            QJsonArray{QStringLiteral("event_lounge_live"), QStringLiteral("event_lounge_state")}}});
    // A car held stopped here hears its stop before it is asked for its state: one that came back
    // not stopped (restarted before the stop was on its disk, or down when it was sent) drives no
    // round trip longer, and the state it answers already holds the stop. A car known to be
    // another's is left as it is.
    if (const RaceStation *record = findStation(id); record && record->stopHeld && !record->wrongCar)
        send(link, id, kStopEvent, QJsonObject(), Done());
    link->send(QStringLiteral("get_lounge_state"), QJsonObject(),
               [this, id](bool ok, const QJsonObject &data, const QString &message) {
                   onLoungeStateReply(id, ok, data, message);
               });
}

void RaceControl::dropOwnStation(const QString &id)
{
    const RaceStation *record = findStation(id);
    // Its address moved (a DHCP lease given to this PC): the record is of no use here, but the
    // user hears which station went.
    const QString message = tr("%1 (%2) now leads to this PC: it is no longer in the list. Add that station again by "
                               "its new address.")
                                .arg(record->name, record->host);
    closeStation(id);
    forgetStation(id);
    emit errorOccurred(message);
}

void RaceControl::onLoungeStateReply(const QString &id, bool ok, const QJsonObject &data, const QString &message)
{
    RaceStation *record = station(id);
    if (!record)
        return;
    if (!ok) {
        record->status = message.startsWith(QLatin1String("Unknown event")) ? UpdateFirmware : NoSignal;
        stationUpdated(*record);
        return;
    }
    applyStationPush(id, data);
    // Re-arms the station's watchdog every time its link comes back.
    keepArmed(id, true);
    // Out of reach when the safety link was switched off, it came back armed and would stop its
    // car with nobody sending heartbeats.
    if (m_disarmPending.remove(id) && !m_watchdog && armedTimeoutMs(data) > 0)
        send(m_links.value(id), id, QStringLiteral("set_lounge_watchdog"),
             QJsonObject{{QStringLiteral("enabled"), false}}, Done());
}

int RaceControl::armingTimeoutMs() const
{
    return qBound(kStationMinTimeoutMs, m_watchdogTimeoutMs, kStationMaxTimeoutMs);
}

void RaceControl::keepArmed(const QString &id, bool force)
{
    const RaceStation *record = findStation(id);
    RaceStationLink *link = m_links.value(id);
    // Only a car that gets the heartbeats: armed otherwise, it would stop by itself a moment later.
    if (!m_watchdog || m_shutDown || !record || !link || !isRaceControlSupported(*record))
        return;
    if (!force && !record->uncovered)
        return;
    // Another race control or client may keep changing it: at most one arming per heartbeat
    // period, the heartbeat tick trying again.
    QElapsedTimer &last = m_lastArming[id];
    if (last.isValid() && last.elapsed() < kHeartbeatMs)
        return;
    last.start();
    // The station may stop its car this long after it takes the arming, also when its answer
    // never arrives: its silence counts from now.
    const int wanted = armingTimeoutMs();
    if (link->silenceLimit() <= 0 || link->silenceLimit() > wanted)
        link->setSilenceLimit(wanted);
    link->send(QStringLiteral("set_lounge_watchdog"),
               QJsonObject{{QStringLiteral("enabled"), true}, {QStringLiteral("timeoutMs"), m_watchdogTimeoutMs}},
               [this, id](bool ok, const QJsonObject &reply, const QString &) {
                   if (ok)
                       applyStationPush(id, reply);
               });
}

void RaceControl::stationUpdated(RaceStation &record)
{
    // A shorter time-out, set by another race control, covers this one's silence too.
    const int armed = armedTimeoutMs(record.state);
    const int wanted = armingTimeoutMs();
    record.uncovered = m_watchdog && isRaceControlSupported(record) && (armed <= 0 || armed > wanted);
    // Armed here and now the same car as a helicopter, or in software without race control: it
    // gets no more heartbeats, and would stop a car this race control can neither show nor
    // resume. It is let go as un-choosing it does. A wrong car gets nothing, not even that: a
    // watchdog armed here before it turned gets no heartbeats and stops the car the station now
    // drives. A station out of reach keeps its watchdog too.
    const bool letGo = !record.wrongCar && (record.status == Linked || record.status == UpdateFirmware)
                       && !isRaceControlSupported(record);
    if (letGo && m_lastArming.remove(record.id)) {
        if (RaceStationLink *link = m_links.value(record.id); link && link->isConnected())
            link->send(QStringLiteral("set_lounge_watchdog"), QJsonObject{{QStringLiteral("enabled"), false}});
    }
    emit stationChanged(record.id);
}

void RaceControl::applyStationPush(const QString &id, const QJsonObject &data)
{
    RaceStation *record = station(id);
    if (!record)
        return;
    // The first transmitter a station names is the car its record is for. A station that names
    // none (its transmitter disconnected) is not known to be this car again: one that named
    // another stays a wrong car until it names this one, kept with the record across lost links
    // and restarts of either side.
    const QString reported = data.value(QStringLiteral("deviceId")).toString();
    if (!reported.isEmpty()) {
        const bool learned = record->deviceId.isEmpty();
        if (learned)
            record->deviceId = reported;
        const bool wrongCar = record->deviceId != reported;
        if (learned || wrongCar != record->wrongCar) {
            record->wrongCar = wrongCar;
            saveSettings({kStationsKey});
        }
    }
    record->status = record->wrongCar ? WrongCar : Linked;
    record->state = data;
    if (data.contains(QStringLiteral("live")))
        record->live = data.value(QStringLiteral("live")).toObject();
    // A station not heard for longer than its armed watchdog's time-out has stopped its car: its
    // link counts as lost then, not once the keep-alive gives up.
    if (RaceStationLink *link = m_links.value(id))
        link->setSilenceLimit(armedTimeoutMs(data));
    stationUpdated(*record);
    keepStopped(id, true);
    keepArmed(id);
}

void RaceControl::keepStopped(const QString &id, bool reported)
{
    const RaceStation *record = findStation(id);
    if (!record || !record->stopHeld || record->state.value(QStringLiteral("stopped")).toBool())
        return;
    // The tick waits for the last stop's answer, which tells whether the car stopped; a report
    // tells that it drives now, whatever stop still waits for a slow disk to answer it.
    if (!reported && m_stopsAwaited.contains(id))
        return;
    // However many reports come, one stop per period; the last report's stop goes at its end.
    const QElapsedTimer last = m_lastStop.value(id);
    if (last.isValid() && last.elapsed() < kStopRepeatMs) {
        if (reported && !m_stopsDeferred.contains(id)) {
            m_stopsDeferred.insert(id);
            QTimer::singleShot(kStopRepeatMs - int(last.elapsed()), Qt::PreciseTimer, this, [this, id] {
                m_stopsDeferred.remove(id);
                keepStopped(id, true);
            });
        }
        return;
    }
    // Sent only to a car that takes race control now; the reply comes back as its state.
    command(id, kStopEvent, QJsonObject());
}

void RaceControl::holdStops(const QStringList &ids, const QString &event)
{
    if (event != kStopEvent && event != kReleaseEvent)
        return;
    // Kept with the station, so that a restart of the station or of race control that forgot
    // the stop does not undo it.
    bool changed = false;
    for (const QString &id : ids) {
        RaceStation *record = station(id);
        if (record && record->stopHeld != (event == kStopEvent)) {
            record->stopHeld = event == kStopEvent;
            changed = true;
        }
    }
    if (changed)
        saveSettings({kStationsKey});
}

void RaceControl::onStationPushed(const QString &id, const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("event_lounge_live")) {
        if (RaceStation *record = station(id))
            record->live = data;
    } else if (event == QLatin1String("event_lounge_state")) {
        applyStationPush(id, data);
    }
}

void RaceControl::onStationClosed(const QString &id)
{
    RaceStation *record = station(id);
    if (!record)
        return;
    record->status = NoSignal;
    record->live = QJsonObject();
    stationUpdated(*record);
}

RaceStationLink *RaceControl::commandLink(const QString &id) const
{
    const RaceStation *record = findStation(id);
    if (!record || !isRaceControlSupported(*record))
        return nullptr;
    return m_links.value(id);
}

void RaceControl::command(const QString &id, const QString &event, const QJsonObject &data, Done done)
{
    holdStops({id}, event);
    RaceStationLink *link = commandLink(id);
    if (!link) {
        if (done)
            done(false);
        return;
    }
    send(link, id, event, data, done);
}

void RaceControl::send(RaceStationLink *link, const QString &id, const QString &event, const QJsonObject &data,
                       Done done)
{
    const bool stop = event == kStopEvent;
    if (stop) {
        ++m_stopsAwaited[id];
        m_lastStop[id].start();
    }
    link->send(event, data, [this, id, done, stop](bool ok, const QJsonObject &reply, const QString &) {
        if (stop && --m_stopsAwaited[id] == 0)
            m_stopsAwaited.remove(id);
        if (ok)
            applyStationPush(id, reply);
        if (done)
            done(ok);
    });
}

void RaceControl::request(const QString &id, const QString &event, const QJsonObject &data, RequestDone done)
{
    RaceStationLink *link = commandLink(id);
    if (!link) {
        done(false, QJsonObject());
        return;
    }
    link->send(event, data, [done](bool ok, const QJsonObject &reply, const QString &) { done(ok, reply); });
}

void RaceControl::commandAll(const QString &event, const QJsonObject &data, AllDone done)
{
    // Also those out of reach now: each gets its stop once it is linked again.
    holdStops(m_included, event);
    QStringList ids;
    for (const RaceStation &record : std::as_const(m_stations)) {
        if (m_included.contains(record.id) && isRaceControlSupported(record))
            ids.append(record.id);
    }
    if (ids.isEmpty()) {
        if (done)
            done(0, 0);
        return;
    }
    struct Tally
    {
        int remaining;
        int ok = 0;
    };
    const int total = int(ids.size());
    auto tally = std::make_shared<Tally>(Tally{total});
    for (const QString &id : std::as_const(ids)) {
        command(id, event, data, [tally, total, done](bool ok) {
            if (ok)
                ++tally->ok;
            if (--tally->remaining == 0 && done)
                done(total, tally->ok);
        });
    }
}

void RaceControl::setWatchdog(bool enabled, int timeoutMs)
{
    m_watchdog = enabled;
    m_watchdogTimeoutMs = timeoutMs;
    saveSettings({kWatchdogKey, kWatchdogTimeoutKey});
    applyWatchdog();
}

void RaceControl::applyWatchdog()
{
    const bool enabled = m_watchdog;
    m_disarmPending.clear();
    if (!enabled) {
        // Only what this race control armed: another's arming found later is that one's cover.
        for (const RaceStation &record : std::as_const(m_stations)) {
            if (m_lastArming.contains(record.id)
                && (!m_links.contains(record.id) || !m_links.value(record.id)->isConnected()))
                m_disarmPending.insert(record.id);
        }
        m_lastArming.clear();
    }
    // Not covered until each station confirms the new setting.
    for (RaceStation &record : m_stations) {
        if (m_links.contains(record.id))
            stationUpdated(record);
    }
    commandAll(QStringLiteral("set_lounge_watchdog"),
               QJsonObject{{QStringLiteral("enabled"), enabled}, {QStringLiteral("timeoutMs"), m_watchdogTimeoutMs}});
}

void RaceControl::sendHeartbeats()
{
    for (const RaceStation &record : std::as_const(m_stations)) {
        RaceStationLink *link = m_links.value(record.id);
        if (link && isRaceControlSupported(record)) {
            link->send(QStringLiteral("lounge_heartbeat"));
            keepArmed(record.id);
        }
    }
}

void RaceControl::shutdown()
{
    m_shutDown = true;
    m_heartbeatTimer->stop();
    if (m_watchdog) {
        commandAll(QStringLiteral("set_lounge_watchdog"), QJsonObject{{QStringLiteral("enabled"), false}});
        // Lets the messages go out before the links close.
        QEventLoop loop;
        QTimer::singleShot(kShutdownFlushMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const QStringList ids = m_links.keys();
    for (const QString &id : ids)
        closeStation(id);
}

} // namespace corvane
