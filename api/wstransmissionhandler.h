#pragma once

#include "api/wshandler.h"

class QTimer;

namespace corvane {

struct ElrsParameter;

// The transmission itself for the app: start and stop, the sixteen channels, frame counter,
// auto-start, steering health, wheel base reconnection, and the transmitter module's ELRS
// configuration (config mode, parameter discovery and writes, WiFi update mode).
class WsTransmissionHandler : public WsHandler
{
    Q_OBJECT
public:
    // Discovery starts this long after config mode was entered.
    static constexpr int DiscoveryDelayMs = 6000;
    static constexpr int MaxFieldId = 255;

    WsTransmissionHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    bool isStop(const QString &event, const QJsonObject &data) const override;
    bool stopHolds(const QString &event, const QJsonObject &data) const override;
    QJsonObject stateOf(const QString &event, const QJsonObject &data) override;

    QJsonObject elrsStateJson() const;
    static QJsonObject elrsParamsJson(const ElrsParameter &parameter);
    QJsonObject elrsParamListJson() const;

public slots:
    void startDiscoveryIfIdle();

private:
    void connectSignals();
    QJsonObject transmissionStatusJson() const;
    QJsonObject steeringHealthJson(int health) const;
    QJsonObject handleStart(const QString &event);
    QJsonObject handleSetChannel(const QString &event, const QJsonObject &data);
    QJsonObject handleElrsStartConfig(const QString &event);
    QJsonObject handleSetElrsParam(const QString &event, const QJsonObject &data);
    void pushElrsState();

    QTimer *m_discoveryTimer = nullptr;
    int m_progressDone = 0;
    int m_progressTotal = 8;
};

} // namespace corvane
