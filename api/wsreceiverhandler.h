#pragma once

#include "api/wshandler.h"

class QTimer;

namespace corvane {

class ReceiverConfigManager;

// The receiver for the app, as the desktop's receiver settings panel offers it: its
// connection, capabilities, settings and running procedures as one state object, the settings
// change and the receiver actions. The state is pushed 50 ms after the last change, so a burst
// of changes gives one push; receiver console lines are pushed as they come.
class WsReceiverHandler : public WsHandler
{
    Q_OBJECT
public:
    static constexpr int PushDebounceMs = 50;

    WsReceiverHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    // Every reply carries the receiver's state.
    QJsonObject stateOf(const QString &event, const QJsonObject &data) override;

    QJsonObject receiverStateJson() const;

private slots:
    void pushReceiverConfig();
    void pushReceiverConsole(const QString &line);

private:
    ReceiverConfigManager *manager() const;
    QJsonObject makeReply(const QString &event, bool success, const QString &message = QString()) const;
    QJsonObject handleSetReceiverConfig(const QString &event, const QJsonObject &data);
    QJsonObject handleCommand(const QString &event, const QJsonObject &data);
    QJsonObject handleDetectMounting(const QString &event, const QJsonObject &data);
    QJsonObject handleSetMode(const QString &event, const QJsonObject &data);

    QTimer *m_pushTimer = nullptr;
};

} // namespace corvane
