#pragma once

#include "support/fakeracestation.h"
#include "support/netnamespaces.h"

#include <QStringList>

#include <memory>

namespace ostratest {

// Stores race stations "s<last byte>" for the given hosts in the settings, all of them chosen and
// known to drive the car `deviceId`, so a RaceControl made afterwards loads them.
void storeRaceStations(const QStringList &hosts, bool watchdog = false, const QString &deviceId = QString());

// Fake race stations listening on port 12345 at the given 10.77.0.x hosts inside the stations
// namespace, with the test thread inside the control namespace. Race control refuses loopback and
// this PC's own addresses, so this is where it meets stations in tests.
class RaceStationRig
{
public:
    RaceStationRig() = default;
    ~RaceStationRig();

    // False with error() set when the namespaces cannot be made (see NetNamespaces).
    bool setUp(const QStringList &hosts);
    QString error() const { return m_error; }
    FakeRaceStation *station(int index) const { return m_stations.at(index); }
    NetNamespaces *net() const { return m_net.get(); }

private:
    std::unique_ptr<NetNamespaces> m_net;
    QList<FakeRaceStation *> m_stations;
    QString m_error;
};

} // namespace ostratest
