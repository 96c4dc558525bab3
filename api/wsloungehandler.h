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
    // A heartbeat from the server feeds the watchdog when it arrives, not in its turn: the
    // stored commands before it may wait long for the disk, and the watchdog would stop a car
    // whose race control is still there. Its reply still goes in turn.
    void requestArrived(const QString &event, const QJsonObject &data) override;
    void handleRequest(const QString &event, const QJsonObject &data, const WsReply &reply) override;
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
    QJsonObject heartbeatReply(const QString &event) const;

    QTimer *m_liveTimer = nullptr;
};

} // namespace corvane
