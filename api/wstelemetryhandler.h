#pragma once

#include <QList>

#include "api/wshandler.h"
#include "bridge/telemetrysensor.h"
#include "profiles/profile.h"

class QTimer;

namespace corvane {

class StoreErrors;

// The car's telemetry for the app: link statistics, GPS, the decoded sensors and the sensors
// pinned to the app's dashboard. Changes are only marked as they come and pushed by a 250 ms
// tick, at most one push of each kind per tick; the dashboard is pushed at once.
class WsTelemetryHandler : public WsHandler
{
    Q_OBJECT
public:
    static constexpr int PushIntervalMs = 250;
    static constexpr int MaxPinned = Profile::MaxTelemetrySensors;

    WsTelemetryHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // A change's reply carries the sensors, or the dashboard.
    QJsonObject stateOf(const QString &event, const QJsonObject &data) override;

    QJsonObject linkStatisticsJson() const;
    QJsonObject gpsJson() const;
    QJsonObject sensorsJson() const;
    QJsonObject pinnedSensorsJson() const;
    // The sensor list body as it reads at `nowMs` (ms since the epoch).
    static QJsonObject sensorsJson(const QList<TelemetrySensor> &sensors, const QStringList &pinned,
                                   bool discover, qint64 nowMs);

private slots:
    void pushTelemetry();

private:
    void connectSignals();
    void pushTelemetryDashboard();
    QJsonObject handleSetTelemetryDashboard(const QString &event, const QJsonObject &data, const StoreErrors &errors);
    // Accepted with the new state, or refused with the store's message when it could not save.
    QJsonObject changedReply(const QString &event, const StoreErrors &errors, const QJsonObject &body) const;

    QTimer *m_pushTimer = nullptr;
    bool m_linkDirty = false;
    bool m_sensorsDirty = false;
    bool m_gpsDirty = false;
};

} // namespace corvane
