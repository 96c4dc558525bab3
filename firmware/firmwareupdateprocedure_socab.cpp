// The system software's A/B update: the transmitter checks, installs into its other slot and
// restarts into it when asked.
#include "firmware/firmwareupdateprocedure.h"

#include <QJsonDocument>
#include <QTimer>

#include "bridge/corvanecontroller.h"

namespace corvane {

namespace {

const char kOtaCheck[] = "SOC_OTA_CHECK";
const char kOtaStart[] = "SOC_OTA_START";
const char kOtaStatus[] = "SOC_OTA_STATUS";

QString stringField(const QJsonObject &object, const char *key, const QString &fallback = QString())
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : fallback;
}

bool boolField(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isBool() && value.toBool();
}

} // namespace

bool FirmwareUpdateProcedure::parseSocReply(const QString &line, const QString &command, QJsonObject *reply)
{
    const QString prefix = command + QLatin1Char(':');
    if (!line.startsWith(prefix))
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line.mid(prefix.size()).trimmed().toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    if (reply)
        *reply = document.object();
    return true;
}

void FirmwareUpdateProcedure::checkSocOtaUpdate()
{
    beginRun(FirmwareTransmitterSoftwareV2, FirmwareOtaChecking);
    progressReport(words(QT_TR_NOOP("Checking for updates...")), FirmwareReport::StatusLine, 5, FirmwareOtaChecking,
                   5);
    if (!m_controller->isSerialConnected()) {
        showError(words(QT_TR_NOOP("Transmitter is not connected.\nPlease connect the QOR Transmitter first.")));
        return;
    }
    writeToDevice(QByteArrayLiteral("SOC_OTA_CHECK\n"));
    startPolling();
}

void FirmwareUpdateProcedure::cancelSocOtaUpdate()
{
    if (m_state != FirmwareOtaInstalling)
        return;
    progressReport(words(QT_TR_NOOP("Cancelling update...")), FirmwareReport::StatusLine, -1, FirmwareOtaInstalling,
                   m_dialogProgress);
    writeToDevice(QByteArrayLiteral("SOC_OTA_CANCEL\n"));
}

void FirmwareUpdateProcedure::onSocV2LineReceived(const QString &received)
{
    if (m_pending != NoQuestion)
        return;
    const QString line = received.trimmed();
    QJsonObject reply;
    if (parseSocReply(line, QLatin1String(kOtaCheck), &reply)) {
        if (m_state == FirmwareOtaChecking)
            onOtaCheckReply(reply);
    } else if (parseSocReply(line, QLatin1String(kOtaStart), &reply)) {
        if (m_state == FirmwareOtaInstalling)
            onOtaStartReply(reply);
    } else if (parseSocReply(line, QLatin1String(kOtaStatus), &reply)) {
        if (m_state == FirmwareOtaInstalling)
            onOtaStatusReply(reply);
    }
}

void FirmwareUpdateProcedure::onOtaCheckReply(const QJsonObject &reply)
{
    m_pollTimer->stop();
    if (!boolField(reply, "ok")) {
        showError(deviceText(stringField(reply, "error", tr("Could not check for updates."))));
        return;
    }
    m_currentVersion = stringField(reply, "current_version");
    m_publishedVersion = stringField(reply, "latest_version");
    const QString shown = m_currentVersion.isEmpty() || m_currentVersion == QLatin1String("unknown")
                              ? tr("Not installed")
                              : m_currentVersion;
    progressReport(comparisonWords(shown, m_publishedVersion), FirmwareReport::DetailLine, 10, FirmwareOtaChecking,
                   10);
    if (!boolField(reply, "update_available")) {
        showDone(words(QT_TR_NOOP("Already up to date.\nVersion: %1")).arg(shown));
        return;
    }
    QString question = tr("A new version is available.\n\nCurrent: %1\nLatest:  %2").arg(shown, m_publishedVersion);
    const QString notes = stringField(reply, "notes");
    if (!notes.isEmpty())
        question += tr("\n\nWhat's new:\n%1").arg(notes);
    question += tr("\n\nDo you want to update now?");
    ask(AskOtaUpdate, tr("Update Available"), question);
}

void FirmwareUpdateProcedure::startOtaInstall()
{
    setState(FirmwareOtaInstalling);
    progressReport(words(QT_TR_NOOP("Starting update...")), FirmwareReport::StatusLine, 0, FirmwareOtaInstalling, 0);
    writeToDevice(QByteArrayLiteral("SOC_OTA_START\n"));
    startPolling();
}

void FirmwareUpdateProcedure::onOtaStartReply(const QJsonObject &reply)
{
    if (boolField(reply, "ok"))
        return;
    const QString error = stringField(reply, "error", tr("Could not start the update."));
    showError(deviceText(stringField(reply, "message", error)));
}

void FirmwareUpdateProcedure::onOtaStatusReply(const QJsonObject &reply)
{
    const QString state = stringField(reply, "state");
    if (state == QLatin1String("success")) {
        m_pollTimer->stop();
        setState(FirmwareDone);
        progressReport(deviceText(QString()), FirmwareReport::NoLine, 100, FirmwareOtaInstalling, 100);
        ask(AskOtaRestart, tr("Update Installed"),
            tr("The update was installed successfully.\n\nThe transmitter must restart to boot the new firmware. "
               "Restart now?"));
    } else if (state == QLatin1String("failed")) {
        const QString message = stringField(reply, "message");
        showError(message.isEmpty() ? words(QT_TR_NOOP("The update failed.")) : deviceText(message));
    } else if (state == QLatin1String("cancelled")) {
        m_pollTimer->stop();
        setState(FirmwareIdle);
        emitReport(FirmwareReport::Cancelled, words(QT_TR_NOOP("Update cancelled.")), FirmwareReport::StatusLine, -1,
                   FirmwareIdle, 0);
    } else {
        const QJsonValue percent = reply.value(QLatin1String("percent"));
        const int value = percent.isDouble() ? percent.toInt() : 0;
        const Words text = state == QLatin1String("installing") ? words(QT_TR_NOOP("Installing update…"))
                                                                : words(QT_TR_NOOP("Downloading update…"));
        progressReport(text, FirmwareReport::StatusLine, value > 0 ? qMin(value, 100) : -1, FirmwareOtaInstalling,
                       value > 0 ? qMin(value, 100) : m_dialogProgress);
    }
}

} // namespace corvane
