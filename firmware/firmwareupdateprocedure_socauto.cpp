// The system software's automatic update: the version check against the published one and
// the transmitter's own update run with its progress lines.
#include "firmware/firmwareupdateprocedure.h"

#include <QNetworkReply>
#include <QTimer>

#include "bridge/corvanecontroller.h"

namespace corvane {

namespace {

constexpr int kSocProgressStep = 15;
constexpr int kSocProgressCeiling = 90;
const char kSocVersionPath[] = "/qor-transmitter-soc-updater/master/VERSION.md";
const char kSocVerPrefix[] = "SOC_VER:";
const char kSocProgressPrefix[] = "SOC_AUTO_PROGRESS:";
const char kSocDonePrefix[] = "SOC_AUTO_DONE:";
const char kSocErrorPrefix[] = "SOC_UPDATE_ERROR:";

// A published version goes into a device command: a line break or other control character in it
// would inject commands.
bool isSendableVersion(const QString &version)
{
    if (version.isEmpty())
        return false;
    for (const QChar c : version) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    }
    return true;
}

} // namespace

void FirmwareUpdateProcedure::checkSocVersion()
{
    beginRun(FirmwareTransmitterSoftware, FirmwareSocCheckingVersion);
    progressReport(words(QT_TR_NOOP("Checking current version...")), FirmwareReport::StatusLine, 5,
                   FirmwareSocCheckingVersion, 5);
    if (m_options.checkPortAtStart && !m_controller->isSerialConnected()) {
        showError(words(QT_TR_NOOP("Transmitter is not connected.\nPlease connect the QOR Transmitter first.")));
        return;
    }
    writeToDevice(QByteArrayLiteral("SOC_VER\n"));
    startPolling();
}

void FirmwareUpdateProcedure::onSocLineReceived(const QString &received)
{
    if (m_pending != NoQuestion)
        return;
    const QString line = received.trimmed();
    const bool running = m_state == FirmwareSocCheckingVersion || m_state == FirmwareSocAutoUpdating
                         || m_state == FirmwareSocVerifyingVersion;
    if (line.startsWith(QLatin1String(kSocErrorPrefix))) {
        if (running || m_options.socErrorInAnyState)
            showError(deviceText(line.mid(int(qstrlen(kSocErrorPrefix)))));
        return;
    }
    if (line.startsWith(QLatin1String(kSocVerPrefix))) {
        const QString version = line.mid(int(qstrlen(kSocVerPrefix))).trimmed();
        if (m_state == FirmwareSocCheckingVersion) {
            m_pollTimer->stop();
            m_currentVersion = version;
            const Words shown = version == QLatin1String("unknown") ? words(QT_TR_NOOP("Not installed"))
                                                                     : deviceText(version);
            progressReport(words(QT_TR_NOOP("Current version: %1")).arg(shown.dialog, shown.handler),
                           FirmwareReport::DetailLine, 10, FirmwareSocCheckingVersion, 10);
            setState(FirmwareSocDownloadingVersion);
            progressReport(words(QT_TR_NOOP("Checking for updates...")), FirmwareReport::StatusLine, 15,
                           FirmwareSocDownloadingVersion, 15);
            QNetworkReply *reply = get(QLatin1String(kSocVersionPath), MaxVersionFileBytes);
            connect(reply, &QNetworkReply::finished, this, [this, reply] { onSocVersionFileReceived(reply); });
        } else if (m_state == FirmwareSocVerifyingVersion) {
            m_pollTimer->stop();
            if (version == m_publishedVersion.trimmed())
                showDone(words(QT_TR_NOOP("Updated successfully!\nVersion: %1")).arg(version));
            else if (version != m_currentVersion && version != QLatin1String("unknown"))
                showDone(words(QT_TR_NOOP("Updated successfully.\nVersion: %1")).arg(version));
            else
                showError(words(QT_TR_NOOP("Update could not be verified.\nPlease restart the device and try again.")));
        }
        return;
    }
    if (m_state != FirmwareSocAutoUpdating)
        return;
    if (line.startsWith(QLatin1String(kSocProgressPrefix))) {
        m_pollTimer->stop();
        const int shown = qMin(kSocProgressCeiling, m_dialogProgress + kSocProgressStep);
        progressReport(deviceText(line.mid(int(qstrlen(kSocProgressPrefix)))), FirmwareReport::StatusLine, shown,
                       FirmwareSocAutoUpdating, 50);
        startPolling();
    } else if (line.startsWith(QLatin1String(kSocDonePrefix))) {
        m_pollTimer->stop();
        progressReport({ QString(), QStringLiteral("Verifying...") }, FirmwareReport::NoLine, 95,
                       FirmwareSocVerifyingVersion, 95);
        setState(FirmwareSocVerifyingVersion);
        progressReport(words(QT_TR_NOOP("Verifying update...")), FirmwareReport::StatusLine, 96,
                       FirmwareSocVerifyingVersion, 96);
        writeToDevice(QByteArrayLiteral("SOC_VER\n"));
        startPolling();
    }
}

void FirmwareUpdateProcedure::onSocVersionFileReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!isCurrentReply(reply) || m_state != FirmwareSocDownloadingVersion)
        return;
    QByteArray body;
    const QString published = readBody(reply, &body) ? QString::fromUtf8(body).trimmed() : QString();
    // The version goes into a device command: one that would break the line is no version.
    if (!isSendableVersion(published)) {
        showError(words(QT_TR_NOOP("Could not check for updates.\nPlease check your internet connection.")));
        return;
    }
    m_publishedVersion = published;
    offerPublishedVersion(AskSocUpdate);
}

void FirmwareUpdateProcedure::startSocAutoUpdate()
{
    setState(FirmwareSocAutoUpdating);
    progressReport(words(QT_TR_NOOP("Downloading and installing update...")), FirmwareReport::StatusLine, 50,
                   FirmwareSocAutoUpdating, 50);
    writeToDevice("SOC_UPDATE_AUTO:" + m_publishedVersion.toUtf8() + '\n');
    startPolling();
}

} // namespace corvane
