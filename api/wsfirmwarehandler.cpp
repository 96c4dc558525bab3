#include "api/wsfirmwarehandler.h"

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "ostraversion.h"

namespace corvane {

namespace {

const QString ProgressEvent = QStringLiteral("event_firmware_progress");

FirmwareUpdateProcedure::Options handlerOptions()
{
    FirmwareUpdateProcedure::Options options;
    options.askBeforeUpdate = false;
    options.checkPortAtStart = false;
    // A receiver printing its version during a transmitter run is not the transmitter's version:
    // version lines come only from the target's own port.
    options.versionLinesFromBothDevices = false;
    options.socErrorInAnyState = false;
    return options;
}

} // namespace

WsFirmwareHandler::WsFirmwareHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
    , m_procedure(new FirmwareUpdateProcedure(controller, handlerOptions(), this))
{
    connect(m_procedure, &FirmwareUpdateProcedure::report, this, &WsFirmwareHandler::onReport);
}

WsFirmwareHandler::~WsFirmwareHandler() = default;

QStringList WsFirmwareHandler::supportedEvents() const
{
    return { QStringLiteral("action_check_firmware"), QStringLiteral("action_update_firmware"),
             QStringLiteral("get_firmware_status"), QStringLiteral("get_app_version") };
}

QJsonObject WsFirmwareHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("action_check_firmware") || event == QLatin1String("action_update_firmware"))
        return startRun(event, data);
    if (event == QLatin1String("get_firmware_status"))
        return wsjson::dataReply(event, status());
    if (event == QLatin1String("get_app_version")) {
        return wsjson::dataReply(event, { { QStringLiteral("version"), QLatin1String(AppVersion) },
                                          { QStringLiteral("versionMajor"), AppVersionMajor },
                                          { QStringLiteral("versionMinor"), AppVersionMinor },
                                          { QStringLiteral("versionPatch"), AppVersionPatch } });
    }
    return wsjson::errorReply(event, QStringLiteral("Unhandled event in firmware handler"));
}

FirmwareTarget WsFirmwareHandler::parseDevice(const QString &device)
{
    const QString word = device.toLower();
    if (word == QLatin1String("soc") || word == QLatin1String("software"))
        return FirmwareTransmitterSoftware;
    if (word == QLatin1String("transmitter"))
        return FirmwareTransmitter;
    return FirmwareReceiver;
}

QJsonObject WsFirmwareHandler::startRun(const QString &event, const QJsonObject &data)
{
    const QString device = wsjson::readString(data, QStringLiteral("device"));
    if (device.isEmpty())
        return wsjson::actionReply(event, false, QStringLiteral("Missing 'device' parameter (receiver|transmitter|soc)"));
    if (m_procedure->isRunning())
        return wsjson::actionReply(event, false, QStringLiteral("Firmware operation already in progress"));
    const FirmwareTarget target = parseDevice(device);
    m_procedure->setTarget(target);
    const bool open = target == FirmwareReceiver ? m_controller->isReceiverConnected()
                                                 : m_controller->isSerialConnected();
    if (!open)
        return wsjson::actionReply(event, false, QStringLiteral("Device not connected: %1").arg(deviceName()));

    const QJsonObject reply = wsjson::actionReply(event, true);
    m_procedure->clearVersions();
    if (target == FirmwareTransmitterSoftware)
        checkSocVersion();
    else
        checkCurrentVersion();
    return reply;
}

void WsFirmwareHandler::checkSocVersion()
{
    m_procedure->checkSocVersion();
}

void WsFirmwareHandler::checkCurrentVersion()
{
    m_procedure->checkCurrentVersion();
}

QJsonObject WsFirmwareHandler::status() const
{
    QJsonObject data{ { QStringLiteral("state"), FirmwareUpdateProcedure::stateName(m_procedure->state()) },
                      { QStringLiteral("device"), deviceName() } };
    addVersions(&data);
    return data;
}

void WsFirmwareHandler::addVersions(QJsonObject *data) const
{
    if (!m_procedure->currentVersion().isEmpty())
        data->insert(QStringLiteral("currentVersion"), m_procedure->currentVersion());
    if (!m_procedure->publishedVersion().isEmpty())
        data->insert(QStringLiteral("remoteVersion"), m_procedure->publishedVersion());
}

QString WsFirmwareHandler::deviceName() const
{
    return FirmwareUpdateProcedure::deviceName(m_procedure->target());
}

void WsFirmwareHandler::onReport(const FirmwareReport &report)
{
    switch (report.kind) {
    case FirmwareReport::Done:
        pushDone(report.message);
        return;
    case FirmwareReport::Error:
        pushError(report.message);
        return;
    default:
        pushProgress(report.stateName, report.message, report.handlerProgress);
        return;
    }
}

void WsFirmwareHandler::pushProgress(const QString &state, const QString &text, int progress)
{
    QJsonObject data{ { QStringLiteral("device"), deviceName() },
                      { QStringLiteral("state"), state },
                      { QStringLiteral("message"), text },
                      { QStringLiteral("progress"), qBound(0, progress, 100) } };
    addVersions(&data);
    emit pushEvent(ProgressEvent, data);
}

// The run has already stopped its timers and taken its final state when it reports the end.
void WsFirmwareHandler::pushError(const QString &text)
{
    pushProgress(QStringLiteral("error"), text, 0);
}

void WsFirmwareHandler::pushDone(const QString &text)
{
    pushProgress(QStringLiteral("done"), text, 100);
}

} // namespace corvane
