#pragma once

#include "api/wshandler.h"

struct HelicopterConfig;

namespace corvane {

// The app's remote for the RC helicopter mode: vehicle choice, the three input roles, the
// helicopter setup with calibration capture, the live output of the four primary functions,
// the rate mode, arming and saving as a helicopter profile. Setup changes go to the active
// profile without writing its file; "action_save_helicopter_profile" writes it.
class WsHelicopterHandler : public WsHandler
{
    Q_OBJECT
public:
    WsHelicopterHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // A disarm.
    bool isStop(const QString &event, const QJsonObject &data) const override;
    bool stopHolds(const QString &event, const QJsonObject &data) const override;
    QJsonObject stateOf(const QString &event, const QJsonObject &data) override;
    // A helicopter profile that was not saved names no profile.
    QJsonObject unstoredReply(QJsonObject reply, const QString &failure) const override;

    // {"channel", "value", "micros", "percent"} of one output; `channelIndex` is 0-based.
    static QJsonObject channelJson(int channelIndex, int value, int percent);

public slots:
    void onHeliJoystickConnected(bool connected);
    void onHeliThrottleConnected(bool connected);
    void onHeliPedalsConnected(bool connected);

private:
    enum Function { Roll, Pitch, Throttle, Rudder, NoFunction };

    static Function functionOf(const QString &name);
    float rawAxis(const HelicopterConfig &config, Function function) const;
    QJsonObject devicesJson() const;
    QJsonObject outputJson() const;
    QJsonObject handleConnect(const QString &event, const QJsonObject &data);
    void handleDisconnect(const QString &role);
    QJsonObject handleCapture(const QString &event, const QJsonObject &data);
    QJsonObject handleSave(const QString &event, const QJsonObject &data);
    void pushDeviceChanged(const QString &role, bool connected);
};

} // namespace corvane
