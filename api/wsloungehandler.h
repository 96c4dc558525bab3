#pragma once

#include "api/wshandler.h"

class QTimer;

namespace corvane {

// The station side of race control: another station's race control reads this car's lounge
// state and live inputs here, stops and releases it, limits its throttle, locks reverse and
// arms the watchdog that stops it when race control falls silent. The state lives in the
// controller; this handler only reads it, changes it through the controller and pushes it.
class WsLoungeHandler : public WsHandler
{
    Q_OBJECT
public:
    static constexpr int LivePushIntervalMs = 100;

    WsLoungeHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // Race control's stop.
    bool isStop(const QString &event, const QJsonObject &data) const override;
    // A heartbeat feeds the watchdog when it comes, whatever waits.
    bool appliesOnArrival(const QString &event, const QJsonObject &data) const override;
    bool stopHolds(const QString &event, const QJsonObject &data) const override;
    // Every reply carries the station's state (a heartbeat's, whether it is stopped).
    QJsonObject stateOf(const QString &event, const QJsonObject &data) override;
    // Refusals have the error form here, whatever the request.
    QJsonObject refusedReply(const QString &event, const QString &message) const override;

    // The body race control reads for one station, and the live part inside it.
    QJsonObject loungeStateJson() const;
    QJsonObject loungeLiveJson() const;
    static QJsonObject makeDataReply(const QString &event, const QJsonObject &data);

private slots:
    void pushLoungeState();
    void pushLoungeLive();

private:
    QTimer *m_liveTimer = nullptr;
};

} // namespace corvane
