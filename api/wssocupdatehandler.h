#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include "api/wshandler.h"

#include <functional>

class QTimer;

namespace corvane {

// Lets the mobile app check for, start, follow, cancel and finish an update of the host's system
// software through the external updater script, whose one JSON object per command it relays.
// Every run of the script goes on in the background, and a request is answered when it ends;
// checks asked for while one runs wait for it and get its answer.
// While an update runs, the script's status is polled every second and pushed as
// "event_soc_update_progress".
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

    WsSocUpdateHandler(CorvaneController *controller, QObject *parent);
    ~WsSocUpdateHandler() override;

    using UpdaterDone = std::function<void(const QJsonObject &reply)>;

    QStringList supportedEvents() const override;
    // The script's answers come when it has run, through handleRequest; asked for an answer at
    // once, the handler gives only what needs no script: a refusal, or that the script answers.
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;
    void handleRequest(const QString &event, const QJsonObject &data, const WsReply &reply) override;

    // Starts the script with one command word; `done` gets its reply object when it ends, or
    // the failure when it cannot start within StartTimeoutMs or runs longer than `timeoutMs`
    // (it is killed then).
    void runUpdater(const QString &command, int timeoutMs, const UpdaterDone &done);
    // The script's standard output as its reply object.
    static QJsonObject parseReply(const QByteArray &output);

private slots:
    void onStatusTimer();

private:
    // The answer that turns a request away without running the script (an unknown event, while
    // transmitting, a second start); empty when the script is to answer it.
    QJsonObject refusal(const QString &event) const;
    // The request's answer from the script's reply.
    QJsonObject answerFor(const QString &event, const QJsonObject &reply);
    void endStatusPoll(const QJsonObject &reply);
    void pushProgress(const QJsonObject &reply);
    void finishUpdate();

    QTimer *m_statusTimer;
    // A status poll is under way; one at a time.
    bool m_polling = false;
    // A start's script runs: a second start is refused as if the update were in progress.
    bool m_starting = false;
    // The replies owed to the checks asked for while the check's script runs; empty when none runs.
    QList<WsReply> m_checkWaiting;
    int m_pollCount = 0;
    bool m_inProgress = false;
};

} // namespace corvane
