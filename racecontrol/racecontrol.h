#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace corvane {

class RaceStationLink;

enum RaceStationStatus { Connecting = 0, Linked = 1, NoSignal = 2, WrongCar = 3, UpdateFirmware = 4 };

// One race station: another PC of the venue running this program and driving one car.
struct RaceStation
{
    QString id;
    QString name;
    QString host;
    int port = 12345;
    QString deviceId;
    // The station last named another car's transmitter than deviceId: it stays a wrong car, also
    // while it names none, until it names this one again.
    bool wrongCar = false;
    // A stop from this race control is in force until a release from here: a station that
    // reports its car not stopped gets the stop again.
    bool stopHeld = false;
    // Run-time only.
    int status = Connecting;
    QJsonObject state;
    QJsonObject live;
    // The safety link is on, but the station does not report its watchdog armed as this race
    // control set it: it would not stop its car if race control fell silent.
    bool uncovered = false;
};

// Linked, and the station reports that it takes race control (it drives a car).
bool isRaceControlSupported(const RaceStation &station);
// Orders "address|version" scan results by the numeric value of their IPv4 address.
bool compareHostsByIPv4(const QString &a, const QString &b);

// Race control for a venue: the stations, which of them this PC controls, one link per chosen
// station, lounge commands to one or all of them, the safety link's heartbeat and the scan.
class RaceControl : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(bool ok)>;
    using RequestDone = std::function<void(bool ok, const QJsonObject &data)>;
    using AllDone = std::function<void(int total, int ok)>;
    using ScanDone = std::function<void(const QStringList &results)>;

    static constexpr int DefaultPort = 12345;

    explicit RaceControl(QObject *parent = nullptr);
    ~RaceControl() override;

    // Whether the host, in any spelling, is this PC, a name looked up without blocking: answered
    // at once for an address or one of this PC's own names, else once the name resolves (this PC
    // when any of its addresses is one of this PC's). `done` runs only while `context` exists.
    static void lookUpOwnHost(const QString &host, QObject *context, std::function<void(bool own)> done);
    // The hosts a scan probes, in sweep order: every /24 of this PC's usable IPv4 addresses.
    static QStringList sweepList();

    QList<RaceStation> stations() const { return m_stations; }
    QStringList included() const { return m_included; }
    QList<RaceStation> includedStations() const;
    const RaceStation *findStation(const QString &id) const;
    bool isIncluded(const QString &id) const { return m_included.contains(id); }
    bool watchdog() const { return m_watchdog; }
    int watchdogTimeoutMs() const { return m_watchdogTimeoutMs; }
    QString driverName(const QString &id) const { return m_drivers.value(id); }

    void addStation(const QString &host, Done done);
    void removeStation(const QString &id);
    // Names follow the rule of profile names: one that shows nothing counts as empty, and one
    // with a control character or a text direction override changes nothing.
    void renameStation(const QString &id, const QString &name);
    void setDriverName(const QString &id, const QString &name);
    void setStationIncluded(const QString &id, bool include);
    void clearIncluded();
    void openIncludedStations();

    void applyStationPush(const QString &id, const QJsonObject &data);
    void command(const QString &id, const QString &event, const QJsonObject &data, Done done = Done());
    void request(const QString &id, const QString &event, const QJsonObject &data, RequestDone done);
    void commandAll(const QString &event, const QJsonObject &data, AllDone done = AllDone());
    void setWatchdog(bool enabled, int timeoutMs);
    void shutdown();

    void scanNetwork(ScanDone done);

signals:
    void stationsChanged();
    void stationChanged(const QString &id);
    // What the user must hear of a station: one let go that may still stop its car by itself
    // (with its id), or one taken out of the list as this PC.
    void errorOccurred(const QString &message, const QString &stationId = QString());

private slots:
    void sendHeartbeats();

private:
    struct ScanState;

    void loadSettings();
    // Stores the keys a change set, and only those.
    void saveSettings(const QStringList &keys) const;
    void onSettingsChangedOnDisk(const QStringList &keys);
    // Runs the safety link as m_watchdog and m_watchdogTimeoutMs say, on every station.
    void applyWatchdog();
    RaceStation *station(const QString &id);
    // The id of the station at that host and port, empty when there is none.
    QString stationAt(const QString &host, int port) const;
    // The station's link when it may take commands now, else none.
    RaceStationLink *commandLink(const QString &id) const;
    void openStation(const QString &id);
    void closeStation(const QString &id);
    // Ends the station's link, switching off first the watchdog the safety link armed there.
    void releaseStation(const QString &id);
    // The watchdog time-out this race control arms its stations with, as the station takes it.
    int armingTimeoutMs() const;
    // Arms the station's watchdog as the safety link sets it; unless forced, only when the
    // station reports it otherwise and no arming went out within the last heartbeat period.
    void keepArmed(const QString &id, bool force = false);
    // Stops again a station whose stop is held here and whose car is not stopped: as soon as it
    // reports so (a push or any reply with its state), whatever earlier stop still waits for its
    // answer, and each heartbeat period while it still does once its last stop is answered.
    void keepStopped(const QString &id, bool reported);
    // A stop or a release sent to these stations holds, or ends, their stop here.
    void holdStops(const QStringList &ids, const QString &event);
    // Sends a command on the link; its reply is taken as the station's state.
    void send(RaceStationLink *link, const QString &id, const QString &event, const QJsonObject &data, Done done);
    // Records a change of the station's status or state and announces it.
    void stationUpdated(RaceStation &record);
    void finishAddStation(const QString &host, bool ok, const Done &done);
    void onStationOpened(const QString &id);
    // Drops a station that turned out to be this PC, without a word to it, and says so.
    void dropOwnStation(const QString &id);
    // Takes the station out of the list, the choice and the drivers, and saves.
    void forgetStation(const QString &id);
    void onLoungeStateReply(const QString &id, bool ok, const QJsonObject &data, const QString &message);
    void onStationPushed(const QString &id, const QString &event, const QJsonObject &data);
    void onStationClosed(const QString &id);

    void probeNextHosts(const std::shared_ptr<ScanState> &scan);
    void onProbeResult(const std::shared_ptr<ScanState> &scan, const QString &host, bool answered);
    void verifyHosts(const std::shared_ptr<ScanState> &scan);
    void onVerifyResult(const std::shared_ptr<ScanState> &scan, const QString &result);

    QList<RaceStation> m_stations;
    QStringList m_included;
    QHash<QString, QString> m_drivers;
    bool m_watchdog = false;
    int m_watchdogTimeoutMs = 2000;
    bool m_linksActive = false;
    // Shut down: the stations are being let go, never armed again.
    bool m_shutDown = false;
    QHash<QString, RaceStationLink *> m_links;
    // When this race control last armed each station's watchdog; a station is in it from its
    // first arming until it is let go.
    QHash<QString, QElapsedTimer> m_lastArming;
    // How many stops sent to each station wait for their answer.
    QHash<QString, int> m_stopsAwaited;
    // When each station was last sent a stop, and the stations whose reports wait for the next
    // stop to be due.
    QHash<QString, QElapsedTimer> m_lastStop;
    QSet<QString> m_stopsDeferred;
    // Stations out of reach when the safety link was switched off: let go once they are linked.
    QSet<QString> m_disarmPending;
    QTimer *m_heartbeatTimer;
};

} // namespace corvane
