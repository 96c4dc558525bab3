#include "firmware/firmwareupdateprocedure.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include "bridge/corvanecontroller.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

const char FirmwareUpdateProcedure::DefaultBaseUrl[] = "https://raw.githubusercontent.com/qorvant";
const char FirmwareUpdateProcedure::BaseUrlSetting[] = "firmware/baseUrl";

namespace {

constexpr int kVersionResendTicks = 6;
constexpr int kVersionGiveUpTicks = 21;
constexpr int kSocGiveUpTicks = 481;

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
    QString url = SettingsFile().value(QLatin1String(BaseUrlSetting), QLatin1String(DefaultBaseUrl)).toString();
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

// --- starting a run, offering the published version, the poll tick of every procedure ---

void FirmwareUpdateProcedure::start()
{
    if (m_target == FirmwareTransmitterSoftware)
        checkSocVersion();
    else if (m_target == FirmwareTransmitterSoftwareV2)
        checkSocOtaUpdate();
    else
        checkCurrentVersion();
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

} // namespace corvane
