#include "api/wsreceiverhandler.h"

#include <QTimer>

#include <array>
#include <utility>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kNotConnected = QStringLiteral("Receiver not connected");

// The name of a procedure's state, as the app knows them; out of range reads "idle".
template <size_t N>
QString stateName(int state, const std::array<const char *, N> &names)
{
    return QLatin1String(state >= 0 && size_t(state) < N ? names[size_t(state)] : names[0]);
}

const std::array<const char *, 4> kProcedureStates{"idle", "running", "done", "failed"};
const std::array<const char *, 5> kMountingStates{"idle", "running", "need_nose_up", "done", "failed"};

QJsonObject supportsJson(const ReceiverConfigManager *manager)
{
    if (!manager->isSynced())
        return {};
    static const std::array<std::pair<const char *, const char *>, 9> kSettings{{
        {"gpsEnabled", "GPS_ON"},
        {"gpsRateHz", "GPS_RATE"},
        {"gpsTelem", "GPS"},
        {"imuTelem", "IMU"},
        {"motionTelem", "MOTION"},
        {"motionRateHz", "MOTION_RATE"},
        {"osdEnabled", "OSD"},
        {"motionSensors", "MOTION_SENSORS"},
        {"hudSpeed", "HUD_SPEED"},
    }};
    QJsonObject supports;
    for (const auto &[key, setting] : kSettings)
        supports.insert(QLatin1String(key), manager->supportsSetting(QLatin1String(setting)));
    return supports;
}

} // namespace

WsReceiverHandler::WsReceiverHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    m_pushTimer = new QTimer(this);
    m_pushTimer->setSingleShot(true);
    m_pushTimer->setInterval(PushDebounceMs);
    connect(m_pushTimer, &QTimer::timeout, this, &WsReceiverHandler::pushReceiverConfig);
    ReceiverConfigManager *receiver = manager();
    const auto restart = [this] { m_pushTimer->start(); };
    connect(receiver, &ReceiverConfigManager::settingsChanged, this, restart);
    connect(receiver, &ReceiverConfigManager::capsChanged, this, restart);
    connect(receiver, &ReceiverConfigManager::stateChanged, this, restart);
    connect(receiver, &ReceiverConfigManager::gyroCalChanged, this, restart);
    connect(receiver, &ReceiverConfigManager::mountingChanged, this, restart);
    connect(receiver, &ReceiverConfigManager::consoleLine, this, &WsReceiverHandler::pushReceiverConsole);
}

ReceiverConfigManager *WsReceiverHandler::manager() const
{
    return m_controller->receiverConfigManager();
}

QStringList WsReceiverHandler::supportedEvents() const
{
    return {QStringLiteral("get_receiver_config"),
            QStringLiteral("set_receiver_config"),
            QStringLiteral("action_receiver_sync"),
            QStringLiteral("action_receiver_command"),
            QStringLiteral("action_receiver_calibrate_gyro"),
            QStringLiteral("action_receiver_detect_mounting"),
            QStringLiteral("action_receiver_search_elrs"),
            QStringLiteral("action_receiver_set_mode")};
}

QJsonObject WsReceiverHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    ReceiverConfigManager *receiver = manager();
    if (event == QLatin1String("get_receiver_config"))
        return makeReply(event, true);
    if (event == QLatin1String("set_receiver_config"))
        return handleSetReceiverConfig(event, data);
    if (event == QLatin1String("action_receiver_sync")) {
        if (!receiver->isUsbConnected())
            return makeReply(event, false, kNotConnected);
        receiver->resync();
        return makeReply(event, true);
    }
    if (event == QLatin1String("action_receiver_calibrate_gyro")) {
        const bool started = receiver->startGyroCalibration();
        return makeReply(event, started, started ? QString() : QStringLiteral("Connect the receiver (USB or ELRS) first"));
    }
    if (event == QLatin1String("action_receiver_detect_mounting"))
        return handleDetectMounting(event, data);
    if (event == QLatin1String("action_receiver_search_elrs")) {
        receiver->retryElrs();
        return makeReply(event, true);
    }
    if (event == QLatin1String("action_receiver_set_mode"))
        return handleSetMode(event, data);
    if (event == QLatin1String("action_receiver_command"))
        return handleCommand(event, data);
    return errorReply(event, QStringLiteral("Unhandled event in receiver handler"));
}

QJsonObject WsReceiverHandler::stateOf(const QString &, const QJsonObject &)
{
    return receiverStateJson();
}

QJsonObject WsReceiverHandler::makeReply(const QString &event, bool success, const QString &message) const
{
    QJsonObject reply = actionReply(event, success, message);
    reply.insert(QStringLiteral("data"), receiverStateJson());
    return reply;
}

QJsonObject WsReceiverHandler::handleSetReceiverConfig(const QString &event, const QJsonObject &data)
{
    const FieldReader in = FieldReader(data).object("settings");
    ReceiverSettings s = manager()->settings();
    for (auto [key, field] : {std::pair{"gpsEnabled", &s.gpsEnabled}, std::pair{"gpsTelem", &s.gpsTelem},
                              std::pair{"imuTelem", &s.imuTelem}, std::pair{"motionTelem", &s.motionTelem},
                              std::pair{"osdEnabled", &s.osdEnabled}, std::pair{"motionSensors", &s.motionSensors}})
        in.readBool(key, *field);
    // The rates are checked against their lists below; the manager snaps the HUD values to its grids.
    for (auto [key, field] : {std::pair{"gpsRateHz", &s.gpsRateHz}, std::pair{"motionRateHz", &s.motionRateHz},
                              std::pair{"hudTopKmh", &s.hudTopKmh}, std::pair{"hudAccelKmhS", &s.hudAccelKmhS},
                              std::pair{"hudBrakeKmhS", &s.hudBrakeKmhS}})
        in.readWholeNumber(key, *field);
    if (!in.ok())
        return makeReply(event, false, in.refusal());
    if (!ReceiverConfigManager::isGpsRate(s.gpsRateHz))
        return makeReply(event, false, QStringLiteral("gpsRateHz must be 0, 1, 2, 4, 5 or 10"));
    if (!ReceiverConfigManager::isMotionRate(s.motionRateHz))
        return makeReply(event, false, QStringLiteral("motionRateHz must be 5, 10, 20 or 25"));
    const StoreErrors errors(m_controller->profileManager());
    manager()->setSettings(s);
    return makeReply(event, !errors.any(), errors.message());
}

QJsonObject WsReceiverHandler::handleCommand(const QString &event, const QJsonObject &data)
{
    const FieldReader in(data);
    QString command;
    in.readText("command", command, ReceiverConfigManager::MaxCommandChars);
    if (!in.ok())
        return makeReply(event, false, in.refusal());
    ReceiverConfigManager *receiver = manager();
    // A client is told to wait rather than filling the queue without end; nothing queued is dropped.
    if (receiver->isCommandQueueFull())
        return makeReply(event, false,
                         QStringLiteral("Too many commands waiting for the receiver (at most %1): try again shortly")
                             .arg(ReceiverConfigManager::MaxQueuedCommands));
    if (receiver->sendCommand(command))
        return makeReply(event, true);
    return makeReply(event, false, receiver->isUsbConnected() ? QStringLiteral("Command refused") : kNotConnected);
}

QJsonObject WsReceiverHandler::handleDetectMounting(const QString &event, const QJsonObject &data)
{
    const int step = readInt(data, QStringLiteral("step"), -1);
    if (step != 0 && step != 1)
        return makeReply(event, false, QStringLiteral("step must be 0 or 1"));
    ReceiverConfigManager *receiver = manager();
    if (receiver->startMountingStep(step))
        return makeReply(event, true);
    return makeReply(event, false,
                     receiver->canDetectMounting() ? QStringLiteral("A step is already running")
                                                   : QStringLiteral("Connect the receiver (USB, or ELRS with firmware 4.4.3+) first"));
}

QJsonObject WsReceiverHandler::handleSetMode(const QString &event, const QJsonObject &data)
{
    const QString mode = readString(data, QStringLiteral("mode"));
    if (mode != QLatin1String("car") && mode != QLatin1String("heli"))
        return makeReply(event, false, QStringLiteral("mode must be car or heli"));
    ReceiverConfigManager *receiver = manager();
    if (receiver->setMode(mode))
        return makeReply(event, true);
    const QString hint = receiver->modeHintText();
    return makeReply(event, false, hint.isEmpty() ? QStringLiteral("The receiver is busy, try again") : hint);
}

QJsonObject WsReceiverHandler::receiverStateJson() const
{
    const ReceiverConfigManager *receiver = manager();
    const ReceiverCaps caps = receiver->caps();
    const QJsonObject capsJson{{QStringLiteral("v4"), caps.isAdvanced()},
                               {QStringLiteral("olderOsd"), receiver->isBasicCarReceiver()},
                               {QStringLiteral("imu"), caps.imu},
                               {QStringLiteral("gps"), caps.gps},
                               {QStringLiteral("firmware"), caps.firmware}};
    return {{QStringLiteral("connected"), receiver->isUsbConnected()},
            {QStringLiteral("overElrs"), receiver->isReachableOverElrs()},
            {QStringLiteral("usbStatus"), receiver->summaryText()},
            {QStringLiteral("elrsStatus"), receiver->connectionStatusText()},
            {QStringLiteral("canCalibrateGyro"), receiver->canCalibrateGyro()},
            {QStringLiteral("gyroCal"), stateName(receiver->gyroCalState(), kProcedureStates)},
            {QStringLiteral("gyroCalText"), receiver->gyroCalText()},
            {QStringLiteral("canDetectMounting"), receiver->canDetectMounting()},
            {QStringLiteral("mounting"), stateName(receiver->mountingState(), kMountingStates)},
            {QStringLiteral("mountingText"), receiver->mountingText()},
            {QStringLiteral("receiverMode"), receiver->receiverMode()},
            {QStringLiteral("canSetReceiverMode"), receiver->canChangeMode()},
            {QStringLiteral("receiverModeNote"), receiver->modeHintText()},
            {QStringLiteral("receiverModeChange"), stateName(receiver->modeChangeState(), kProcedureStates)},
            {QStringLiteral("receiverModeText"), receiver->modeChangeText()},
            {QStringLiteral("syncing"), receiver->isSyncing()},
            {QStringLiteral("synced"), receiver->isSynced()},
            {QStringLiteral("status"), receiver->statusText()},
            {QStringLiteral("imuAxes"), receiver->imuAxesText()},
            {QStringLiteral("gpsStatus"), receiver->gpsStatusText()},
            {QStringLiteral("caps"), capsJson},
            {QStringLiteral("settings"), receiver->settings().toJson()},
            {QStringLiteral("supports"), supportsJson(receiver)}};
}

void WsReceiverHandler::pushReceiverConfig()
{
    emit pushEvent(QStringLiteral("event_receiver_config"), receiverStateJson());
}

void WsReceiverHandler::pushReceiverConsole(const QString &line)
{
    emit pushEvent(QStringLiteral("event_receiver_console"), {{QStringLiteral("line"), line}});
}

} // namespace corvane
