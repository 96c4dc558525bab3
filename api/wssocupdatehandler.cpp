#include "api/wssocupdatehandler.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QProcess>
#include <QTimer>

#include <memory>

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"

namespace corvane {

const char WsSocUpdateHandler::ScriptPath[] = "/opt/qorvant/update/updater.py";

namespace {

QString &scriptOverride()
{
    static QString path;
    return path;
}

const QString Python = QStringLiteral("python3");
const QString ProgressEvent = QStringLiteral("event_soc_update_progress");

QJsonObject failure(const char *error)
{
    return { { QStringLiteral("ok"), false }, { QStringLiteral("error"), QLatin1String(error) } };
}

const char NotAvailable[] = "Updater is not available on this device";
const char TimedOut[] = "Updater timed out";

bool isFinalState(const QString &state)
{
    return state == QLatin1String("success") || state == QLatin1String("failed")
           || state == QLatin1String("cancelled") || state == QLatin1String("idle");
}

} // namespace

WsSocUpdateHandler::WsSocUpdateHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
    , m_statusTimer(new QTimer(this))
{
    m_statusTimer->setObjectName(QStringLiteral("statusTimer"));
    m_statusTimer->setTimerType(Qt::PreciseTimer);
    m_statusTimer->setInterval(PollIntervalMs);
    connect(m_statusTimer, &QTimer::timeout, this, &WsSocUpdateHandler::onStatusTimer);
}

// A script still running goes with its QProcess child, which kills it.
WsSocUpdateHandler::~WsSocUpdateHandler() = default;

QStringList WsSocUpdateHandler::supportedEvents() const
{
    return { QStringLiteral("soc_update_check"), QStringLiteral("soc_update_start"),
             QStringLiteral("soc_update_cancel"), QStringLiteral("soc_update_reboot") };
}

QJsonObject WsSocUpdateHandler::handleEvent(const QString &event, const QJsonObject &)
{
    const QJsonObject answer = refusal(event);
    if (!answer.isEmpty())
        return answer;
    return wsjson::actionReply(event, false, QStringLiteral("The updater answers this request when it has run"));
}

QJsonObject WsSocUpdateHandler::refusal(const QString &event) const
{
    if (!supportedEvents().contains(event))
        return wsjson::errorReply(event, QStringLiteral("Unhandled event in SOC update handler"));
    // Updating or rebooting the host would take the car's channel output with it.
    if (m_controller && m_controller->isRunning())
        return wsjson::actionReply(event, false, QStringLiteral("Stop transmission before updating the system software"));
    if (event == QLatin1String("soc_update_start") && (m_inProgress || m_starting))
        return wsjson::actionReply(event, false, QStringLiteral("An update is already in progress"));
    return {};
}

void WsSocUpdateHandler::handleRequest(const QString &event, const QJsonObject &, const WsReply &reply)
{
    if (const QJsonObject answer = refusal(event); !answer.isEmpty()) {
        reply(answer);
        return;
    }
    const QString command = event.section(QLatin1Char('_'), 2); // "soc_update_check": "check"
    if (event == QLatin1String("soc_update_start")) {
        m_starting = true;
        runUpdater(command, CheckTimeoutMs, [this, event, reply](const QJsonObject &result) { reply(answerFor(event, result)); });
        return;
    }
    // Many phones ask at once: one run answers them all.
    QList<WsReply> &waiting = m_waiting[command];
    waiting.append(reply);
    if (waiting.size() > 1)
        return;
    const int timeoutMs = command == QLatin1String("check") ? CheckTimeoutMs : ShortTimeoutMs;
    runUpdater(command, timeoutMs, [this, event, command](const QJsonObject &result) {
        const QJsonObject answer = answerFor(event, result);
        const QList<WsReply> answered = m_waiting.take(command);
        for (const WsReply &waitingReply : answered)
            waitingReply(answer);
    });
}

QJsonObject WsSocUpdateHandler::answerFor(const QString &event, const QJsonObject &reply)
{
    if (event == QLatin1String("soc_update_check")) {
        if (!wsjson::readBool(reply, QStringLiteral("ok"), false)) {
            return wsjson::actionReply(event, false,
                                       wsjson::readString(reply, QStringLiteral("error"),
                                                          QStringLiteral("Could not check for updates")));
        }
        QJsonObject answer = wsjson::actionReply(event, true);
        answer.insert(QStringLiteral("currentVersion"), reply.value(QStringLiteral("current_version")));
        answer.insert(QStringLiteral("latestVersion"), reply.value(QStringLiteral("latest_version")));
        answer.insert(QStringLiteral("updateAvailable"),
                      wsjson::readBool(reply, QStringLiteral("update_available"), false));
        answer.insert(QStringLiteral("notes"), reply.value(QStringLiteral("notes")));
        return answer;
    }
    if (event == QLatin1String("soc_update_start")) {
        m_starting = false;
        if (!wsjson::readBool(reply, QStringLiteral("ok"), false)) {
            const QString error = wsjson::readString(reply, QStringLiteral("error"),
                                                     QStringLiteral("Could not start the update"));
            const QJsonValue message = reply.value(QStringLiteral("message"));
            QJsonObject answer = wsjson::actionReply(event, false);
            answer.insert(QStringLiteral("message"), message.isString() ? message.toString() : error);
            return answer;
        }
        QJsonObject answer = wsjson::actionReply(event, true);
        answer.insert(QStringLiteral("latestVersion"), wsjson::readString(reply, QStringLiteral("target_version")));
        m_inProgress = true;
        m_pollCount = 0;
        m_statusTimer->start();
        return answer;
    }
    QJsonObject answer = wsjson::actionReply(event, wsjson::readBool(reply, QStringLiteral("ok"), false));
    // A run that gave no reply (no script, no python3, a hang) says why under "error".
    answer.insert(QStringLiteral("message"),
                  wsjson::readString(reply, QStringLiteral("message"), wsjson::readString(reply, QStringLiteral("error"))));
    return answer;
}

QString WsSocUpdateHandler::scriptPath()
{
    return scriptOverride().isEmpty() ? QLatin1String(ScriptPath) : scriptOverride();
}

void WsSocUpdateHandler::setScriptPath(const QString &path)
{
    scriptOverride() = path;
}

void WsSocUpdateHandler::runUpdater(const QString &command, int timeoutMs, const UpdaterDone &done)
{
    // Without it python3 only complains on its error output, which no reply could be read from.
    if (!QFileInfo::exists(scriptPath())) {
        done(failure(NotAvailable));
        return;
    }
    auto *process = new QProcess(this);
    auto *deadline = new QTimer(process);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    auto ended = std::make_shared<bool>(false);
    const auto end = [process, deadline, ended, done](const QJsonObject &reply) {
        if (*ended)
            return;
        *ended = true;
        deadline->stop();
        process->disconnect();
        if (process->state() != QProcess::NotRunning) {
            // A hung script is killed; its end is reaped later, off this path.
            connect(process, &QProcess::finished, process, &QObject::deleteLater);
            process->kill();
        } else {
            process->deleteLater();
        }
        done(reply);
    };
    connect(process, &QProcess::started, deadline, [deadline, timeoutMs] { deadline->start(timeoutMs); });
    connect(process, &QProcess::finished, this,
            [process, end] { end(parseReply(process->readAllStandardOutput())); });
    connect(process, &QProcess::errorOccurred, this, [end](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end(failure(NotAvailable));
    });
    connect(deadline, &QTimer::timeout, this, [process, end] {
        end(failure(process->state() == QProcess::Starting ? NotAvailable : TimedOut));
    });
    deadline->start(StartTimeoutMs);
    process->start(Python, { scriptPath(), command });
}

QJsonObject WsSocUpdateHandler::parseReply(const QByteArray &output)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(output.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failure("Unexpected updater response");
    return document.object();
}

void WsSocUpdateHandler::onStatusTimer()
{
    // A poll still under way is not doubled; its end decides.
    if (m_polling)
        return;
    m_polling = true;
    ++m_pollCount;
    runUpdater(QStringLiteral("status"), ShortTimeoutMs, [this](const QJsonObject &reply) {
        m_polling = false;
        endStatusPoll(reply);
    });
}

void WsSocUpdateHandler::endStatusPoll(const QJsonObject &reply)
{
    pushProgress(reply);
    if (!m_inProgress)
        return;
    if (isFinalState(wsjson::readString(reply, QStringLiteral("state")))) {
        finishUpdate();
    } else if (m_pollCount > MaxPolls) {
        finishUpdate();
        emit pushEvent(ProgressEvent, { { QStringLiteral("state"), QStringLiteral("failed") },
                                        { QStringLiteral("message"), QStringLiteral("The update timed out") },
                                        { QStringLiteral("progress"), 0 } });
    }
}

void WsSocUpdateHandler::finishUpdate()
{
    m_inProgress = false;
    m_statusTimer->stop();
}

void WsSocUpdateHandler::pushProgress(const QJsonObject &reply)
{
    QJsonObject data{ { QStringLiteral("state"), wsjson::readString(reply, QStringLiteral("state"), QStringLiteral("idle")) },
                      { QStringLiteral("progress"), reply.value(QStringLiteral("percent")).toInt() },
                      { QStringLiteral("message"), wsjson::readString(reply, QStringLiteral("message")) } };
    if (reply.contains(QStringLiteral("target_version")))
        data.insert(QStringLiteral("latestVersion"), reply.value(QStringLiteral("target_version")));
    emit pushEvent(ProgressEvent, data);
}

} // namespace corvane
