#include "api/wssocupdatehandler.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QProcess>
#include <QTimer>

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"

namespace corvane {

const char WsSocUpdateHandler::ScriptPath[] = "/opt/qorvant/update/updater.py";

namespace {

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
    , m_statusDeadline(new QTimer(this))
{
    m_statusTimer->setObjectName(QStringLiteral("statusTimer"));
    m_statusTimer->setInterval(PollIntervalMs);
    connect(m_statusTimer, &QTimer::timeout, this, &WsSocUpdateHandler::onStatusTimer);
    m_statusDeadline->setSingleShot(true);
    m_statusDeadline->setInterval(ShortTimeoutMs);
    connect(m_statusDeadline, &QTimer::timeout, this, &WsSocUpdateHandler::onStatusTimedOut);
}

// A poll under way goes with its QProcess child, which kills the script.
WsSocUpdateHandler::~WsSocUpdateHandler() = default;

QStringList WsSocUpdateHandler::supportedEvents() const
{
    return { QStringLiteral("soc_update_check"), QStringLiteral("soc_update_start"),
             QStringLiteral("soc_update_cancel"), QStringLiteral("soc_update_reboot") };
}

QJsonObject WsSocUpdateHandler::handleEvent(const QString &event, const QJsonObject &)
{
    const bool known = supportedEvents().contains(event);
    if (!known)
        return wsjson::errorReply(event, QStringLiteral("Unhandled event in SOC update handler"));
    // The script blocks the GUI thread, and with it the car's channel output.
    if (m_controller && m_controller->isRunning())
        return wsjson::actionReply(event, false, QStringLiteral("Stop transmission before updating the system software"));

    if (event == QLatin1String("soc_update_check")) {
        const QJsonObject reply = runUpdater(QStringLiteral("check"), CheckTimeoutMs);
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
        if (m_inProgress)
            return wsjson::actionReply(event, false, QStringLiteral("An update is already in progress"));
        const QJsonObject reply = runUpdater(QStringLiteral("start"), CheckTimeoutMs);
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
    const QString command = event == QLatin1String("soc_update_cancel") ? QStringLiteral("cancel")
                                                                         : QStringLiteral("reboot");
    const QJsonObject reply = runUpdater(command, ShortTimeoutMs);
    QJsonObject answer = wsjson::actionReply(event, wsjson::readBool(reply, QStringLiteral("ok"), false));
    answer.insert(QStringLiteral("message"), wsjson::readString(reply, QStringLiteral("message")));
    return answer;
}

QJsonObject WsSocUpdateHandler::runUpdater(const QString &command, int timeoutMs)
{
    QProcess process;
    process.start(Python, { QLatin1String(ScriptPath), command });
    if (!process.waitForStarted(StartTimeoutMs))
        return failure(NotAvailable);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(KillWaitMs);
        return failure(TimedOut);
    }
    return parseReply(process.readAllStandardOutput());
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
    if (m_statusProcess)
        return;
    ++m_pollCount;
    m_statusProcess = new QProcess(this);
    connect(m_statusProcess, &QProcess::finished, this, &WsSocUpdateHandler::onStatusFinished);
    connect(m_statusProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            endStatusPoll(failure(NotAvailable));
    });
    m_statusDeadline->start();
    m_statusProcess->start(Python, { QLatin1String(ScriptPath), QStringLiteral("status") });
}

void WsSocUpdateHandler::onStatusFinished()
{
    if (m_statusProcess)
        endStatusPoll(parseReply(m_statusProcess->readAllStandardOutput()));
}

void WsSocUpdateHandler::onStatusTimedOut()
{
    if (m_statusProcess)
        endStatusPoll(failure(TimedOut));
}

void WsSocUpdateHandler::endStatusPoll(const QJsonObject &reply)
{
    m_statusDeadline->stop();
    QProcess *process = m_statusProcess;
    m_statusProcess = nullptr;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        // A hung script is killed; its end is reaped later, off this path.
        connect(process, &QProcess::finished, process, &QObject::deleteLater);
        process->kill();
    } else {
        process->deleteLater();
    }

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
