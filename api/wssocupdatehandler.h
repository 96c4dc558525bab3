#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "api/wshandler.h"

class QProcess;
class QTimer;

namespace corvane {

// Lets the mobile app check for, start, follow, cancel and finish an update of the host's system
// software through the external updater script, whose one JSON object per command it relays.
// While an update runs, the script's status is polled every second in the background and pushed
// as "event_soc_update_progress".
class WsSocUpdateHandler : public WsHandler
{
    Q_OBJECT
public:
    static const char ScriptPath[];
    static constexpr int PollIntervalMs = 1000;
    static constexpr int MaxPolls = 300;
    static constexpr int StartTimeoutMs = 3000;
    static constexpr int CheckTimeoutMs = 20000;
    static constexpr int ShortTimeoutMs = 10000;
    static constexpr int KillWaitMs = 1000;

    WsSocUpdateHandler(CorvaneController *controller, QObject *parent);
    ~WsSocUpdateHandler() override;

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

    // Runs the script with one command word and waits for its reply (at most the time-out plus
    // a second). Requests only: it is refused while the car is driven.
    QJsonObject runUpdater(const QString &command, int timeoutMs);
    // The script's standard output as its reply object.
    static QJsonObject parseReply(const QByteArray &output);

private slots:
    void onStatusTimer();

private:
    void onStatusFinished();
    void onStatusTimedOut();
    void endStatusPoll(const QJsonObject &reply);
    void pushProgress(const QJsonObject &reply);
    void finishUpdate();

    QTimer *m_statusTimer;
    // The status poll under way, if any; one at a time.
    QProcess *m_statusProcess = nullptr;
    QTimer *m_statusDeadline;
    int m_pollCount = 0;
    bool m_inProgress = false;
};

} // namespace corvane
