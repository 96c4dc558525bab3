#include "firmware/firmwareupdateprocedure.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <unistd.h>

#include "bridge/corvanecontroller.h"
#include "platform/storage/volumelister.h"

namespace corvane {

const char FirmwareUpdateProcedure::DefaultBaseUrl[] = "https://raw.githubusercontent.com/qorvant";
const char FirmwareUpdateProcedure::BaseUrlSetting[] = "firmware/baseUrl";

namespace {

constexpr int kVersionResendTicks = 6;
constexpr int kVersionGiveUpTicks = 21;
constexpr int kDriveGiveUpTicks = 30;
constexpr int kRebootGiveUpTicks = 40;
constexpr int kReconnectGiveUpTicks = 10;
constexpr int kSocGiveUpTicks = 481;
constexpr int kSocProgressStep = 15;
constexpr int kSocProgressCeiling = 90;

constexpr int kUf2BlockSize = 512;
constexpr quint32 kUf2MagicStart0 = 0x0A324655;
constexpr quint32 kUf2MagicStart1 = 0x9E5D5157;
constexpr quint32 kUf2MagicEnd = 0x0AB16F30;

const char kBootDriveName[] = "RPI-RP2";
const char kDriveImageName[] = "firmware.uf2";
// An RP2040 holds at most 16 MB of flash, which UF2 carries in 32 MB.
constexpr qint64 kMaxImageBytes = 32 * 1024 * 1024;
constexpr qint64 kMaxVersionFileBytes = 64 * 1024;
const char kSocVersionPath[] = "/qor-transmitter-soc-updater/master/VERSION.md";

const char kSocVerPrefix[] = "SOC_VER:";
const char kSocProgressPrefix[] = "SOC_AUTO_PROGRESS:";
const char kSocDonePrefix[] = "SOC_AUTO_DONE:";
const char kSocErrorPrefix[] = "SOC_UPDATE_ERROR:";
const char kOtaCheck[] = "SOC_OTA_CHECK";
const char kOtaStart[] = "SOC_OTA_START";
const char kOtaStatus[] = "SOC_OTA_STATUS";

QString repositoryPath(FirmwareTarget target, const char *file)
{
    const char *repository = target == FirmwareReceiver ? "/qor-receiver-firmware-updater/main/"
                                                        : "/qor-transmitter-firmware-updater/main/";
    return QLatin1String(repository) + QLatin1String(file);
}

// "QOR:" and the version after it, or a line that is only a version of three dotted numbers.
QString versionFromLine(const QString &line)
{
    static const QRegularExpression plainVersion(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"));
    if (line.startsWith(QLatin1String("QOR:")))
        return line.mid(4).trimmed();
    const QString trimmed = line.trimmed();
    return plainVersion.match(trimmed).hasMatch() ? trimmed : QString();
}

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

FirmwareUpdateProcedure::Words FirmwareUpdateProcedure::Words::arg(const QString &dialogArg,
                                                                   const QString &handlerArg) const
{
    return { dialog.arg(dialogArg), handler.arg(handlerArg) };
}

FirmwareUpdateProcedure::Words FirmwareUpdateProcedure::words(const char *source)
{
    return { tr(source), QString::fromUtf8(source).replace(QLatin1Char('\n'), QLatin1Char(' ')) };
}

FirmwareUpdateProcedure::FirmwareUpdateProcedure(CorvaneController *controller, const Options &options,
                                                 QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_options(options)
    , m_network(new QNetworkAccessManager(this))
    , m_pollTimer(new QTimer(this))
    , m_bootloaderWaitTimer(new QTimer(this))
    , m_rebootTimer(new QTimer(this))
{
    qRegisterMetaType<FirmwareReport>();
    qRegisterMetaType<FirmwareQuestion>();
    m_pollTimer->setObjectName(QStringLiteral("pollTimer"));
    m_pollTimer->setInterval(PollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &FirmwareUpdateProcedure::onPollTimer);
    m_bootloaderWaitTimer->setObjectName(QStringLiteral("bootloaderWaitTimer"));
    m_bootloaderWaitTimer->setSingleShot(true);
    m_bootloaderWaitTimer->setInterval(BootloaderWaitMs);
    connect(m_bootloaderWaitTimer, &QTimer::timeout, this, &FirmwareUpdateProcedure::onBootloaderWaitElapsed);
    m_rebootTimer->setObjectName(QStringLiteral("rebootTimer"));
    m_rebootTimer->setSingleShot(true);
    m_rebootTimer->setInterval(RebootSettleMs);
    m_pollTimer->setTimerType(Qt::PreciseTimer);
    m_bootloaderWaitTimer->setTimerType(Qt::PreciseTimer);
    m_rebootTimer->setTimerType(Qt::PreciseTimer);
    connect(m_rebootTimer, &QTimer::timeout, this, &FirmwareUpdateProcedure::reconnectDevice);

    // Version lines reach the UF2 steps from the target's own port, or from both for the handler;
    // system-software lines come from the transmitter.
    connect(m_controller, &CorvaneController::receiverDataReceived, this, [this](const QString &line) {
        if (m_options.versionLinesFromBothDevices || m_target == FirmwareReceiver)
            onLineReceived(line);
    });
    connect(m_controller, &CorvaneController::transmitterLineReceived, this, [this](const QString &line) {
        if (m_options.versionLinesFromBothDevices || m_target == FirmwareTransmitter)
            onLineReceived(line);
        if (m_target == FirmwareTransmitterSoftware)
            onSocLineReceived(line);
        else if (m_target == FirmwareTransmitterSoftwareV2)
            onSocV2LineReceived(line);
    });
}

FirmwareUpdateProcedure::~FirmwareUpdateProcedure()
{
    stopTimers();
}

bool FirmwareUpdateProcedure::isRunning() const
{
    return m_state != FirmwareIdle && m_state != FirmwareDone && m_state != FirmwareError;
}

void FirmwareUpdateProcedure::clearVersions()
{
    m_currentVersion.clear();
    m_publishedVersion.clear();
}

QString FirmwareUpdateProcedure::baseUrl()
{
    QString url = QSettings().value(QLatin1String(BaseUrlSetting), QLatin1String(DefaultBaseUrl)).toString();
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString FirmwareUpdateProcedure::deviceName(FirmwareTarget target)
{
    switch (target) {
    case FirmwareReceiver:
        return QStringLiteral("QOR Receiver");
    case FirmwareTransmitterSoftware:
        return QStringLiteral("QOR Transmitter Software");
    case FirmwareTransmitterSoftwareV2:
        return QStringLiteral("QOR Transmitter Software (V2)");
    default:
        return QStringLiteral("QOR Transmitter");
    }
}

FirmwareUpdateProcedure::Words FirmwareUpdateProcedure::deviceWords() const
{
    static const char *const names[] = {
        QT_TR_NOOP("QOR Receiver"),
        QT_TR_NOOP("QOR Transmitter"),
        QT_TR_NOOP("QOR Transmitter Software"),
        QT_TR_NOOP("QOR Transmitter Software (V2)"),
    };
    const int index = qBound(0, int(m_target), 3);
    return { tr(names[index]), deviceName(m_target) };
}

QString FirmwareUpdateProcedure::stateName(FirmwareUpdateState state)
{
    static const char *const names[] = {
        "idle",
        "checking_version",
        "downloading_version",
        "downloading_firmware",
        "entering_dfu",
        "waiting_for_drive",
        "copying_firmware",
        "waiting_for_reboot",
        "verifying_version",
        "soc_checking_version",
        "soc_downloading_version",
        "soc_auto_updating",
        "soc_verifying_version",
        "ota_checking",
        "ota_installing",
        "done",
        "error",
    };
    const int index = int(state);
    return index >= 0 && index <= int(FirmwareError) ? QLatin1String(names[index]) : QString();
}

QString FirmwareUpdateProcedure::findBootloaderDrive()
{
    const QList<VolumeEntry> volumes = VolumeLister::availableVolumes();
    for (const VolumeEntry &volume : volumes) {
        if (volume.name.toUpper() == QLatin1String(kBootDriveName))
            return volume.rootPath;
    }
    return QString();
}

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

bool FirmwareUpdateProcedure::isUf2Image(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() % kUf2BlockSize != 0)
        return false;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    for (qsizetype offset = 0; offset < bytes.size(); offset += kUf2BlockSize) {
        if (qFromLittleEndian<quint32>(data + offset) != kUf2MagicStart0
            || qFromLittleEndian<quint32>(data + offset + 4) != kUf2MagicStart1
            || qFromLittleEndian<quint32>(data + offset + kUf2BlockSize - 4) != kUf2MagicEnd)
            return false;
    }
    return true;
}

// --- run bookkeeping and reports ---

void FirmwareUpdateProcedure::beginRun(FirmwareTarget target, FirmwareUpdateState state)
{
    stopTimers();
    ++m_run;
    m_target = target;
    m_pending = NoQuestion;
    m_reconnecting = false;
    m_tickCounter = 0;
    clearVersions();
    // Nothing recorded by an earlier run may pick the port after this run's reboot.
    m_portName.clear();
    m_vendorId = 0;
    m_productId = 0;
    m_firmwarePath.clear();
    m_baseUrl = baseUrl();
    setState(state);
}

void FirmwareUpdateProcedure::setState(FirmwareUpdateState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void FirmwareUpdateProcedure::startPolling()
{
    m_tickCounter = 0;
    m_pollTimer->start(PollIntervalMs);
}

void FirmwareUpdateProcedure::stopTimers()
{
    m_pollTimer->stop();
    m_bootloaderWaitTimer->stop();
    m_rebootTimer->stop();
}

void FirmwareUpdateProcedure::emitReport(FirmwareReport::Kind kind, const Words &text, FirmwareReport::Line line,
                                         int progress, FirmwareUpdateState handlerState, int handlerProgress)
{
    FirmwareReport r;
    r.kind = kind;
    r.text = text.dialog;
    r.line = line;
    r.progress = progress;
    r.message = text.handler;
    r.stateName = stateName(handlerState);
    r.handlerProgress = handlerProgress;
    if (progress >= 0)
        m_dialogProgress = progress;
    emit report(r);
}

void FirmwareUpdateProcedure::progressReport(const Words &text, FirmwareReport::Line line, int progress,
                                             FirmwareUpdateState handlerState, int handlerProgress)
{
    emitReport(FirmwareReport::Progress, text, line, progress, handlerState, handlerProgress);
}

void FirmwareUpdateProcedure::showDone(const Words &text)
{
    stopTimers();
    m_pending = NoQuestion;
    m_reconnecting = false;
    setState(FirmwareDone);
    emitReport(FirmwareReport::Done, text, FirmwareReport::StatusLine, 100, FirmwareDone, 100);
}

void FirmwareUpdateProcedure::showError(const Words &text)
{
    stopTimers();
    m_pending = NoQuestion;
    m_reconnecting = false;
    setState(FirmwareError);
    emitReport(FirmwareReport::Error, text, FirmwareReport::StatusLine, -1, FirmwareError, 0);
}

void FirmwareUpdateProcedure::ask(PendingQuestion pending, const QString &title, const QString &text)
{
    m_pollTimer->stop();
    m_pending = pending;
    emit questionAsked({ pending == AskOtaRestart ? FirmwareQuestion::RestartAfterInstall
                                                  : FirmwareQuestion::UpdateOffered,
                         title, text });
}

void FirmwareUpdateProcedure::answerQuestion(bool yes)
{
    const PendingQuestion pending = m_pending;
    m_pending = NoQuestion;
    switch (pending) {
    case NoQuestion:
        return;
    case AskUf2Update:
    case AskSocUpdate:
        if (yes)
            installPublishedVersion(pending);
        else
            showDone(words(QT_TR_NOOP("Update canceled. You can check again anytime.")));
        return;
    case AskOtaUpdate:
        if (yes)
            startOtaInstall();
        else
            showDone(words(QT_TR_NOOP("Update canceled. You can check again anytime.")));
        return;
    case AskOtaRestart:
        if (yes) {
            writeToDevice(QByteArrayLiteral("SOC_OTA_REBOOT\n"));
            showDone(words(QT_TR_NOOP("Update installed. The transmitter is restarting...")));
        } else {
            showDone(words(QT_TR_NOOP("Update installed.\nRestart the transmitter to apply it.")));
        }
        return;
    }
}

// --- the device through the controller ---

bool FirmwareUpdateProcedure::devicePortOpen() const
{
    return m_target == FirmwareReceiver ? m_controller->isReceiverConnected() : m_controller->isSerialConnected();
}

QString FirmwareUpdateProcedure::devicePortName() const
{
    return m_target == FirmwareReceiver ? m_controller->receiverPortName() : m_controller->serialPortName();
}

void FirmwareUpdateProcedure::writeToDevice(const QByteArray &bytes)
{
    if (m_target == FirmwareReceiver)
        m_controller->receiverWrite(bytes);
    else
        m_controller->serialWrite(bytes);
}

void FirmwareUpdateProcedure::closeDevicePort()
{
    if (m_target == FirmwareReceiver)
        m_controller->disconnectReceiver();
    else
        m_controller->disconnectTransmitter();
}

bool FirmwareUpdateProcedure::openDevicePort(const QString &portName)
{
    return m_target == FirmwareReceiver ? m_controller->connectReceiver(portName, Baud)
                                        : m_controller->connectTransmitter(portName, Baud);
}

QString FirmwareUpdateProcedure::otherDevicePortName() const
{
    if (m_target == FirmwareReceiver)
        return m_controller->isSerialConnected() ? m_controller->serialPortName() : QString();
    return m_controller->isReceiverConnected() ? m_controller->receiverPortName() : QString();
}

QNetworkReply *FirmwareUpdateProcedure::get(const QString &path, qint64 maxBytes)
{
    QNetworkReply *reply = m_network->get(QNetworkRequest(QUrl(m_baseUrl + path)));
    reply->setProperty("run", m_run);
    reply->setProperty("maxBytes", maxBytes);
    // A body far larger than any such file is no such file: it ends as a failed request
    // rather than filling memory.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64 received, qint64 total) {
        if (received > maxBytes || total > maxBytes)
            reply->abort();
    });
    return reply;
}

bool FirmwareUpdateProcedure::readBody(QNetworkReply *reply, QByteArray *body)
{
    const qint64 maxBytes = reply->property("maxBytes").toLongLong();
    if (reply->error() != QNetworkReply::NoError || reply->bytesAvailable() > maxBytes)
        return false;
    *body = reply->readAll();
    return true;
}

bool FirmwareUpdateProcedure::isCurrentReply(QNetworkReply *reply) const
{
    return reply->property("run").toULongLong() == m_run;
}

// --- the steps ---

void FirmwareUpdateProcedure::start()
{
    if (m_target == FirmwareTransmitterSoftware)
        checkSocVersion();
    else if (m_target == FirmwareTransmitterSoftwareV2)
        checkSocOtaUpdate();
    else
        checkCurrentVersion();
}

void FirmwareUpdateProcedure::checkCurrentVersion()
{
    beginRun(m_target == FirmwareReceiver ? FirmwareReceiver : FirmwareTransmitter, FirmwareCheckingVersion);
    progressReport(words(QT_TR_NOOP("Checking current version...")), FirmwareReport::StatusLine, 5,
                   FirmwareCheckingVersion, 5);
    if (m_options.checkPortAtStart && !devicePortOpen()) {
        showError(words(QT_TR_NOOP("%1 is not connected.")).arg(deviceWords().dialog, deviceWords().handler));
        return;
    }
    writeToDevice(QByteArrayLiteral("VER\n"));
    startPolling();
}

void FirmwareUpdateProcedure::onLineReceived(const QString &line)
{
    if (m_pending != NoQuestion || (m_state != FirmwareCheckingVersion && m_state != FirmwareVerifyingVersion))
        return;
    const QString version = versionFromLine(line);
    if (version.isEmpty() && !line.startsWith(QLatin1String("QOR:")))
        return;
    acceptVersionLine(version);
}

void FirmwareUpdateProcedure::acceptVersionLine(const QString &version)
{
    m_pollTimer->stop();
    if (m_state == FirmwareCheckingVersion) {
        m_currentVersion = version;
        progressReport(words(QT_TR_NOOP("Current version: %1")).arg(version), FirmwareReport::DetailLine, 10,
                       FirmwareCheckingVersion, 10);
        setState(FirmwareDownloadingVersion);
        progressReport(words(QT_TR_NOOP("Checking for updates...")), FirmwareReport::StatusLine, 15,
                       FirmwareDownloadingVersion, 15);
        QNetworkReply *reply = get(repositoryPath(m_target, "VERSION.md"), kMaxVersionFileBytes);
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onVersionFileReceived(reply); });
        return;
    }

    const QString updated = version.trimmed();
    if (updated == m_publishedVersion.trimmed())
        showDone(words(QT_TR_NOOP("Updated successfully!\nVersion: %1")).arg(updated));
    else if (updated == m_currentVersion)
        showError(words(QT_TR_NOOP("Update may not have been applied.\nPlease try again.")));
    else
        showDone(words(QT_TR_NOOP("Updated successfully.\nVersion: %1")).arg(updated));
}

void FirmwareUpdateProcedure::onVersionFileReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!isCurrentReply(reply) || m_state != FirmwareDownloadingVersion)
        return;
    QByteArray body;
    if (!readBody(reply, &body)) {
        showError(words(QT_TR_NOOP("Could not check for updates.\nPlease check your internet connection.")));
        return;
    }
    m_publishedVersion = QString::fromUtf8(body).trimmed();
    offerPublishedVersion(AskUf2Update);
}

FirmwareUpdateProcedure::Words FirmwareUpdateProcedure::comparisonWords(const QString &current,
                                                                         const QString &latest)
{
    return { tr("Current: %1\nLatest:  %2").arg(current, latest),
             QStringLiteral("Current: %1, Latest: %2").arg(current, latest) };
}

void FirmwareUpdateProcedure::offerPublishedVersion(PendingQuestion question)
{
    const FirmwareUpdateState reportState = m_state;
    progressReport(comparisonWords(m_currentVersion, m_publishedVersion), FirmwareReport::DetailLine, 20, reportState,
                   20);
    if (m_currentVersion == m_publishedVersion) {
        showDone(words(QT_TR_NOOP("Already up to date.\nVersion: %1")).arg(m_currentVersion));
        return;
    }
    // Versions are not ordered: any difference is offered, an older published one too.
    const QString handlerOffer = question == AskUf2Update ? QStringLiteral("New update available: %1 → %2")
                                                          : QStringLiteral("New version available: %1 → %2");
    progressReport({ tr("New update available! %1 → %2").arg(m_currentVersion, m_publishedVersion),
                     handlerOffer.arg(m_currentVersion, m_publishedVersion) },
                   FirmwareReport::StatusLine, -1, reportState, 22);
    if (m_options.askBeforeUpdate) {
        ask(question, tr("Update Available"),
            tr("A new version is available.\n\nCurrent: %1\nLatest:  %2\n\nDo you want to update now?")
                .arg(m_currentVersion, m_publishedVersion));
        return;
    }
    installPublishedVersion(question);
}

void FirmwareUpdateProcedure::installPublishedVersion(PendingQuestion question)
{
    if (question == AskUf2Update)
        startFirmwareDownload();
    else
        startSocAutoUpdate();
}

void FirmwareUpdateProcedure::startFirmwareDownload()
{
    setState(FirmwareDownloadingFirmware);
    progressReport(words(QT_TR_NOOP("Downloading update...")), FirmwareReport::StatusLine, 25,
                   FirmwareDownloadingFirmware, 25);
    QNetworkReply *reply = get(repositoryPath(m_target, "firmware.uf2"), kMaxImageBytes);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (isCurrentReply(reply) && m_state == FirmwareDownloadingFirmware)
            onDownloadProgress(received, total);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFirmwareDownloaded(reply); });
}

void FirmwareUpdateProcedure::onDownloadProgress(qint64 received, qint64 total)
{
    if (total <= 0)
        return;
    const int progress = 25 + int(qBound<qint64>(0, received, total) * 25 / total);
    progressReport({ QString(), QStringLiteral("Downloading update... %1%").arg(progress) },
                   FirmwareReport::NoLine, progress, FirmwareDownloadingFirmware, progress);
}

void FirmwareUpdateProcedure::onFirmwareDownloaded(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!isCurrentReply(reply) || m_state != FirmwareDownloadingFirmware)
        return;
    QByteArray image;
    // An error page or an empty body would send the device into a boot loader that never leaves.
    if (!readBody(reply, &image) || !isUf2Image(image)) {
        showError(words(QT_TR_NOOP("Could not download the update.\nPlease check your internet connection.")));
        return;
    }
    const QString path = m_tempDir.isValid() ? m_tempDir.filePath(QStringLiteral("firmware.uf2")) : QString();
    QSaveFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        showError(words(QT_TR_NOOP("Could not save the update file.")));
        return;
    }
    m_firmwarePath = path;
    progressReport({ QString(), QStringLiteral("Download complete.") }, FirmwareReport::NoLine, 50,
                   FirmwareDownloadingFirmware, 50);
    enterBootloader();
}

void FirmwareUpdateProcedure::enterBootloader()
{
    setState(FirmwareEnteringDfu);
    progressReport(words(QT_TR_NOOP("Preparing device for update...")), FirmwareReport::StatusLine, 55,
                   FirmwareEnteringDfu, 55);
    m_portName = devicePortName();
    const QList<SerialPortEntry> ports = CorvaneController::availableSerialPorts();
    for (const SerialPortEntry &port : ports) {
        if (port.portName == m_portName) {
            m_vendorId = port.vendorId;
            m_productId = port.productId;
            break;
        }
    }
    writeToDevice(QByteArrayLiteral("DFU\n"));
    m_bootloaderWaitTimer->start();
}

void FirmwareUpdateProcedure::onBootloaderWaitElapsed()
{
    m_bootloaderWaitTimer->stop();
    if (m_state != FirmwareEnteringDfu)
        return;
    closeDevicePort();
    setState(FirmwareWaitingForDrive);
    progressReport(words(QT_TR_NOOP("Waiting for device...")), FirmwareReport::StatusLine, 60,
                   FirmwareWaitingForDrive, 60);
    startPolling();
}

void FirmwareUpdateProcedure::onPollTimer()
{
    if (m_pending != NoQuestion)
        return;
    switch (m_state) {
    case FirmwareCheckingVersion:
    case FirmwareVerifyingVersion:
        ++m_tickCounter;
        if (m_tickCounter % kVersionResendTicks == 0)
            writeToDevice(QByteArrayLiteral("VER\n"));
        if (m_tickCounter >= kVersionGiveUpTicks)
            showError(words(QT_TR_NOOP("Could not reach the %1.\nMake sure it is connected."))
                          .arg(deviceWords().dialog, deviceWords().handler));
        return;
    case FirmwareWaitingForDrive:
        pollForDrive();
        return;
    case FirmwareWaitingForReboot:
        if (m_reconnecting)
            verifyAfterReboot();
        else
            pollForReboot();
        return;
    case FirmwareSocCheckingVersion:
    case FirmwareSocVerifyingVersion:
    case FirmwareSocAutoUpdating:
    case FirmwareOtaChecking:
    case FirmwareOtaInstalling:
        pollSoc();
        return;
    default:
        m_pollTimer->stop();
        return;
    }
}

void FirmwareUpdateProcedure::pollForDrive()
{
    ++m_tickCounter;
    if (!findBootloaderDrive().isEmpty()) {
        m_pollTimer->stop();
        progressReport(words(QT_TR_NOOP("Device ready")), FirmwareReport::DetailLine, -1, FirmwareWaitingForDrive,
                       65);
        copyFirmwareToDrive();
        return;
    }
    if (m_tickCounter > kDriveGiveUpTicks) {
        showError(words(QT_TR_NOOP(
            "Could not connect to device for update.\nPlease disconnect and reconnect, then try again.")));
        return;
    }
    const QString seconds = QString::number(m_tickCounter * PollIntervalMs / 1000);
    progressReport(words(QT_TR_NOOP("Preparing device for update... (%1s)")).arg(seconds),
                   FirmwareReport::StatusLine, -1, FirmwareWaitingForDrive, 60);
}

void FirmwareUpdateProcedure::copyFirmwareToDrive()
{
    setState(FirmwareCopyingFirmware);
    progressReport(words(QT_TR_NOOP("Installing update...")), FirmwareReport::StatusLine, 70,
                   FirmwareCopyingFirmware, 70);
    const QString drive = findBootloaderDrive();
    if (drive.isEmpty()) {
        showError(words(QT_TR_NOOP("Connection to device lost. Please try again.")));
        return;
    }
    QFile source(m_firmwarePath);
    if (!source.open(QIODevice::ReadOnly)) {
        showError(words(QT_TR_NOOP("Could not read the update file.")));
        return;
    }
    const QByteArray image = source.readAll();
    source.close();
    if (image.isEmpty()) {
        showError(words(QT_TR_NOOP("Could not read the update file.")));
        return;
    }
    // Unbuffered, so the count written is what reached the drive, not what went into a buffer.
    QFile target(QDir(drive).filePath(QLatin1String(kDriveImageName)));
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        showError(words(QT_TR_NOOP("Could not write the update to the device.")));
        return;
    }
    const qint64 written = target.write(image);
    if (written != image.size()) {
        target.close();
        showError(words(QT_TR_NOOP("Could not write the update to the device.")));
        return;
    }
    // The drive may be rebooting by the time the file closes: a failure there is not the copy's,
    // and the version check after the reboot tells whether the image took.
    ::fsync(target.handle());
    target.close();
    progressReport({ QString(), QStringLiteral("Update installed.") }, FirmwareReport::NoLine, 85,
                   FirmwareCopyingFirmware, 85);
    setState(FirmwareWaitingForReboot);
    progressReport(words(QT_TR_NOOP("Update applied. Device restarting...")), FirmwareReport::StatusLine, 90,
                   FirmwareWaitingForReboot, 90);
    startPolling();
}

void FirmwareUpdateProcedure::pollForReboot()
{
    ++m_tickCounter;
    if (!findBootloaderDrive().isEmpty()) {
        progressReport(words(QT_TR_NOOP("Installing update, please wait...")), FirmwareReport::StatusLine, -1,
                       FirmwareWaitingForReboot, 90);
        m_tickCounter = 0;
        return;
    }
    progressReport(words(QT_TR_NOOP("Device restarting...")), FirmwareReport::StatusLine, -1,
                   FirmwareWaitingForReboot, 90);

    // The recorded name first, then the recorded USB ids; never the other device's port.
    const QString other = otherDevicePortName();
    const QList<SerialPortEntry> ports = CorvaneController::availableSerialPorts();
    QString found;
    for (const SerialPortEntry &port : ports) {
        if (port.portName == m_portName && port.portName != other) {
            found = port.portName;
            break;
        }
    }
    if (found.isEmpty() && m_vendorId != 0 && m_productId != 0) {
        for (const SerialPortEntry &port : ports) {
            if (port.vendorId == m_vendorId && port.productId == m_productId && port.portName != other) {
                found = port.portName;
                break;
            }
        }
    }
    if (!found.isEmpty()) {
        m_portName = found;
        m_pollTimer->stop();
        progressReport(words(QT_TR_NOOP("Device found. Starting up...")), FirmwareReport::StatusLine, -1,
                       FirmwareWaitingForReboot, 93);
        m_rebootTimer->start();
        return;
    }
    if (m_tickCounter > kRebootGiveUpTicks)
        showError(words(QT_TR_NOOP("Device is taking longer than expected to restart.\nThe update may have "
                                   "completed. Please reconnect and check.")));
}

void FirmwareUpdateProcedure::reconnectDevice()
{
    m_rebootTimer->stop();
    if (m_state != FirmwareWaitingForReboot || m_reconnecting || m_pollTimer->isActive())
        return;
    progressReport({ tr("Reconnecting to %1...").arg(deviceWords().dialog), QStringLiteral("Reconnecting...") },
                   FirmwareReport::StatusLine, 95, FirmwareVerifyingVersion, 95);
    m_reconnecting = true;
    startPolling();
}

void FirmwareUpdateProcedure::verifyAfterReboot()
{
    ++m_tickCounter;
    bool open = devicePortOpen();
    if (!open) {
        // Opening may wait out a busy port in a nested event loop: no tick may run in between,
        // and the run (or this object) may be gone when it returns.
        m_pollTimer->stop();
        const quint64 run = m_run;
        const QPointer<FirmwareUpdateProcedure> alive(this);
        open = openDevicePort(m_portName);
        if (!alive || run != m_run || m_state != FirmwareWaitingForReboot || !m_reconnecting)
            return;
        m_pollTimer->start();
    }
    if (open) {
        m_pollTimer->stop();
        m_reconnecting = false;
        setState(FirmwareVerifyingVersion);
        progressReport(words(QT_TR_NOOP("Verifying update...")), FirmwareReport::StatusLine, -1,
                       FirmwareVerifyingVersion, 97);
        writeToDevice(QByteArrayLiteral("VER\n"));
        startPolling();
        return;
    }
    if (m_tickCounter > kReconnectGiveUpTicks)
        showError(words(QT_TR_NOOP("Could not reconnect to verify the update.\nPlease reconnect and check manually.")));
}

// --- system software: auto update ---

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

void FirmwareUpdateProcedure::pollSoc()
{
    ++m_tickCounter;
    switch (m_state) {
    case FirmwareSocCheckingVersion:
    case FirmwareSocVerifyingVersion:
        if (m_tickCounter % kVersionResendTicks == 0)
            writeToDevice(QByteArrayLiteral("SOC_VER\n"));
        if (m_tickCounter >= kSocGiveUpTicks)
            showError(words(QT_TR_NOOP("Could not reach the device.\nMake sure the transmitter is connected.")));
        return;
    case FirmwareOtaChecking:
        if (m_tickCounter % kVersionResendTicks == 0)
            writeToDevice(QByteArrayLiteral("SOC_OTA_CHECK\n"));
        if (m_tickCounter >= kSocGiveUpTicks)
            showError(words(QT_TR_NOOP("Could not reach the device.\nMake sure the transmitter is connected.")));
        return;
    case FirmwareOtaInstalling:
        if (m_tickCounter % 2 == 0)
            writeToDevice(QByteArrayLiteral("SOC_OTA_STATUS\n"));
        [[fallthrough]];
    default: // auto updating
        if (m_tickCounter >= kSocGiveUpTicks)
            showError(words(QT_TR_NOOP("The update is taking too long.\nPlease try again.")));
        return;
    }
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
            QNetworkReply *reply = get(QLatin1String(kSocVersionPath), kMaxVersionFileBytes);
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

// --- system software: A/B update ---

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
