#pragma once

#include <QByteArray>
#include <QHash>
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
// a check, cancel or reboot asked for while one of its kind runs waits for it and gets its answer.
// Where the script does not exist, every request answers that the updater is not available.
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

    // The script that runs, ScriptPath unless a test gave another (an empty path gives it back).
    static QString scriptPath();
    static void setScriptPath(const QString &path);

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
    // The replies owed to the requests waiting for the run of their command word under way
    // ("check", "cancel", "reboot"); a word without an entry has no run under way.
    QHash<QString, QList<WsReply>> m_waiting;
    int m_pollCount = 0;
    bool m_inProgress = false;
};

} // namespace corvane
