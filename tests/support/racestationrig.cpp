#include "platform/storage/settingsfile.h"
#include "support/racestationrig.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace ostratest {

void storeRaceStations(const QStringList &hosts, bool watchdog, const QString &deviceId)
{
    QJsonArray stations;
    QStringList ids;
    for (const QString &host : hosts) {
        const QString id = "s" + host.section('.', 3);
        stations.append(QJsonObject{{"id", id}, {"name", "Pit " + host.section('.', 3)}, {"host", host},
                                    {"port", 12345}, {"deviceId", deviceId}});
        ids.append(id);
    }
    corvane::SettingsFile settings;
    settings.remove("raceControl");
    settings.setValue("raceControl/stations", QJsonDocument(stations).toJson(QJsonDocument::Compact));
    settings.setValue("raceControl/included", ids);
    settings.setValue("raceControl/watchdog", watchdog);
}

RaceStationRig::~RaceStationRig()
{
    qDeleteAll(m_stations);
}

bool RaceStationRig::setUp(const QStringList &hosts)
{
    m_error = NetNamespaces::unavailableReason();
    if (!m_error.isEmpty())
        return false;
    m_net = std::make_unique<NetNamespaces>();
    if (!m_net->setUp(hosts)) {
        m_error = m_net->error();
        return false;
    }
    m_net->inStations([this, &hosts] {
        for (const QString &host : hosts) {
            auto *fake = new FakeRaceStation;
            if (!fake->listen(QHostAddress(host), 12345))
                m_error = QStringLiteral("cannot listen on %1").arg(host);
            m_stations.append(fake);
        }
    });
    return m_error.isEmpty();
}

} // namespace ostratest
