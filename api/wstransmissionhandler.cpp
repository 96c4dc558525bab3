#include "api/wstransmissionhandler.h"

#include <QJsonArray>
#include <QTimer>

#include "api/storeerrors.h"
#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/elrsparametermanager.h"
#include "bridge/steeringmonitor.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kWriteRejected = QStringLiteral("Write rejected (unknown param, value out of range, or not ready).");

QString kindOf(quint8 type)
{
    // Bit 7 of the CRSF type only hides a parameter.
    switch (type & 0x7F) {
    case ElrsParameterManager::TypeTextSelection:
        return QStringLiteral("enum");
    case ElrsParameterManager::TypeFolder:
        return QStringLiteral("folder");
    case ElrsParameterManager::TypeInfo:
        return QStringLiteral("info");
    case ElrsParameterManager::TypeCommand:
        return QStringLiteral("command");
    default:
        return QStringLiteral("int");
    }
}

} // namespace

WsTransmissionHandler::WsTransmissionHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
    , m_discoveryTimer(new QTimer(this))
{
    m_discoveryTimer->setSingleShot(true);
    m_discoveryTimer->setInterval(DiscoveryDelayMs);
    connect(m_discoveryTimer, &QTimer::timeout, this, &WsTransmissionHandler::startDiscoveryIfIdle);
    connectSignals();
}

void WsTransmissionHandler::connectSignals()
{
    CorvaneController *c = m_controller;
    connect(c, &CorvaneController::elrsWifiModeSent, this, [this](bool receiver) {
        emit pushEvent(QStringLiteral("event_elrs_wifi_mode"),
                       {{QStringLiteral("target"), receiver ? QStringLiteral("rx") : QStringLiteral("tx")}});
    });
    connect(c->steeringMonitor(), &SteeringMonitor::healthChanged, this, [this](SteeringHealth health) {
        emit pushEvent(QStringLiteral("event_steering_health"), steeringHealthJson(health));
    });
    connect(c, &CorvaneController::runningChanged, this, [this](bool running) {
        emit pushEvent(QStringLiteral("event_running_changed"), {{QStringLiteral("running"), running}});
    });
    connect(c, &CorvaneController::frameSent, this, [this](uint frameNumber) {
        emit pushEvent(QStringLiteral("event_frame_sent"), {{QStringLiteral("frameNumber"), qint64(frameNumber)}});
    });
    connect(c, &CorvaneController::autoStartEnabledChanged, this, [this](bool enabled) {
        emit pushEvent(QStringLiteral("event_auto_start_changed"), {{QStringLiteral("enabled"), enabled}});
    });
    connect(c, &CorvaneController::configModeChanged, this, &WsTransmissionHandler::pushElrsState);

    ElrsParameterManager *elrs = c->elrsParameterManager();
    if (!elrs)
        return;
    connect(elrs, &ElrsParameterManager::discoveryStarted, this, [this] {
        m_progressDone = 0;
        pushElrsState();
    });
    connect(elrs, &ElrsParameterManager::discoveryProgress, this, [this](qint32 done, qint32 total) {
        m_progressDone = done;
        if (total > 0)
            m_progressTotal = total;
        pushElrsState();
    });
    connect(elrs, &ElrsParameterManager::discoveryComplete, this, [this] {
        pushElrsState();
        emit pushEvent(QStringLiteral("event_elrs_params"), elrsParamListJson());
    });
    connect(elrs, &ElrsParameterManager::discoveryAborted, this, &WsTransmissionHandler::pushElrsState);
    connect(elrs, &ElrsParameterManager::parameterUpdated, this, [this, elrs](const QString &name) {
        const ElrsParameter *parameter = elrs->findParameter(name);
        if (!parameter)
            return;
        emit pushEvent(QStringLiteral("event_elrs_param_updated"),
                       {{QStringLiteral("id"), int(parameter->id)},
                        {QStringLiteral("currentValue"), int(parameter->value)}});
    });
    connect(elrs, &ElrsParameterManager::error, this, &WsTransmissionHandler::pushElrsState);
}

QStringList WsTransmissionHandler::supportedEvents() const
{
    return {QStringLiteral("get_transmission_status"), QStringLiteral("action_start"),
            QStringLiteral("action_stop"),             QStringLiteral("get_channels"),
            QStringLiteral("set_channel"),             QStringLiteral("get_frame_count"),
            QStringLiteral("set_auto_start"),          QStringLiteral("get_auto_start"),
            QStringLiteral("get_steering_health"),     QStringLiteral("action_reconnect_wheelbase"),
            QStringLiteral("action_elrs_start_config"), QStringLiteral("action_elrs_stop_config"),
            QStringLiteral("get_elrs_state"),          QStringLiteral("get_elrs_params"),
            QStringLiteral("set_elrs_param"),          QStringLiteral("action_elrs_enter_wifi")};
}

QJsonObject WsTransmissionHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    CorvaneController *c = m_controller;
    if (event == QLatin1String("get_transmission_status"))
        return dataReply(event, transmissionStatusJson());
    if (event == QLatin1String("action_start"))
        return handleStart(event);
    if (event == QLatin1String("action_stop")) {
        c->stopTransmissionAndHold();
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_channels")) {
        QJsonArray channels;
        for (int i = 0; i < CorvaneController::ChannelCount; ++i)
            channels.append(c->channelValue(i));
        return dataReply(event, {{QStringLiteral("channels"), channels}});
    }
    if (event == QLatin1String("set_channel"))
        return handleSetChannel(event, data);
    if (event == QLatin1String("get_frame_count"))
        return dataReply(event, {{QStringLiteral("frameCount"), qint64(c->frameCount())}});
    if (event == QLatin1String("set_auto_start")) {
        bool enabled = false;
        if (const QString refusal = readFlag(data, "enabled", enabled); !refusal.isEmpty())
            return actionReply(event, false, refusal);
        const StoreErrors errors(c->profileManager());
        c->setAutoStartEnabled(enabled);
        QJsonObject reply = errors.reply(event);
        reply.insert(QStringLiteral("data"), QJsonObject{{QStringLiteral("enabled"), c->autoStartEnabled()}});
        return reply;
    }
    if (event == QLatin1String("get_auto_start"))
        return dataReply(event, {{QStringLiteral("enabled"), c->autoStartEnabled()}});
    if (event == QLatin1String("get_steering_health"))
        return dataReply(event, steeringHealthJson(c->steeringMonitor()->health()));
    if (event == QLatin1String("action_reconnect_wheelbase")) {
        const bool found = c->reconnectWheelBase();
        return actionReply(event, found,
                           found ? QString() : QStringLiteral("Couldn't find the wheel base. Check its USB cable and power."));
    }
    if (event == QLatin1String("action_elrs_start_config"))
        return handleElrsStartConfig(event);
    if (event == QLatin1String("action_elrs_stop_config")) {
        m_discoveryTimer->stop();
        c->stopConfigMode();
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_elrs_state"))
        return dataReply(event, elrsStateJson());
    if (event == QLatin1String("get_elrs_params"))
        return dataReply(event, elrsParamListJson());
    if (event == QLatin1String("set_elrs_param"))
        return handleSetElrsParam(event, data);
    if (event == QLatin1String("action_elrs_enter_wifi")) {
        const bool receiver = readString(data, QStringLiteral("target")) == QLatin1String("rx");
        QString reason;
        const bool entered = c->enterWifiUpdateMode(receiver, &reason);
        return actionReply(event, entered, entered ? QString() : reason);
    }
    return errorReply(event, QStringLiteral("Unhandled event in transmission handler"));
}

bool WsTransmissionHandler::isStop(const QString &event, const QJsonObject &) const
{
    return event == QLatin1String("action_stop");
}

bool WsTransmissionHandler::stopHolds(const QString &, const QJsonObject &) const
{
    return !m_controller->isRunning();
}

QJsonObject WsTransmissionHandler::stateOf(const QString &event, const QJsonObject &data)
{
    return WsHandler::stateOf(event == QLatin1String("set_auto_start") ? QStringLiteral("get_auto_start") : event, data);
}

QJsonObject WsTransmissionHandler::transmissionStatusJson() const
{
    CorvaneController *c = m_controller;
    return {{QStringLiteral("running"), c->isRunning()},
            {QStringLiteral("frameCount"), qint64(c->frameCount())},
            {QStringLiteral("readyToTransmit"), c->canStartTransmission()},
            {QStringLiteral("autoStartEnabled"), c->autoStartEnabled()},
            {QStringLiteral("steeringHealth"), SteeringMonitor::healthCode(c->steeringMonitor()->health())}};
}

QJsonObject WsTransmissionHandler::steeringHealthJson(int health) const
{
    const auto h = SteeringHealth(health);
    return {{QStringLiteral("state"), SteeringMonitor::healthCode(h)},
            {QStringLiteral("message"), SteeringMonitor::healthMessage(h)}};
}

QJsonObject WsTransmissionHandler::handleStart(const QString &event)
{
    CorvaneController *c = m_controller;
    if (!c->canStartTransmission()) {
        const QString hint = c->transmitterStatus().hint;
        return actionReply(event, false,
                           !hint.isEmpty()          ? hint
                           : c->isHelicopterMode()
                               ? QStringLiteral("Not ready to transmit. Ensure serial port and joystick are connected.")
                               : QStringLiteral("Not ready to transmit. Ensure serial port and wheel base are connected."));
    }
    if (c->isRunning())
        return actionReply(event, true, QStringLiteral("Already running"));
    if (!c->isHelicopterMode()) {
        QString pedals;
        c->checkPedalsReleased(pedals);
        if (!pedals.isEmpty())
            return actionReply(event, false, pedals);
    }
    // The controller refuses some starts itself (config mode, an unauthorised transmitter) and
    // says why only on its error signal: that reason is the reply's message.
    QString refusal;
    const QMetaObject::Connection watch =
        connect(c, &CorvaneController::errorOccurred, this, [&refusal](const QString &error) { refusal = error; });
    c->startTransmission();
    disconnect(watch);
    if (c->isRunning())
        return actionReply(event, true);
    return actionReply(event, false, refusal.isEmpty() ? QStringLiteral("Transmission did not start.") : refusal);
}

QJsonObject WsTransmissionHandler::handleSetChannel(const QString &event, const QJsonObject &data)
{
    const int index = readInt(data, QStringLiteral("index"), -1);
    const int value = readInt(data, QStringLiteral("value"), -1);
    if (index < 0 || index >= CorvaneController::ChannelCount)
        return actionReply(event, false, QStringLiteral("Invalid channel index. Must be 0-%1.").arg(CorvaneController::ChannelCount - 1));
    if (value < 0 || value > CorvaneController::ChannelMax)
        return actionReply(event, false, QStringLiteral("Invalid channel value. Must be %1-%2.").arg(0).arg(CorvaneController::ChannelMax));
    m_controller->setChannelValue(index, value);
    return actionReply(event, true);
}

QJsonObject WsTransmissionHandler::handleElrsStartConfig(const QString &event)
{
    if (!m_controller->isConfigMode())
        m_controller->startConfigMode();
    if (!m_controller->isConfigMode())
        return actionReply(event, false, QStringLiteral("Could not enter config mode. Stop transmission and ensure the bridge is connected."));
    m_discoveryTimer->start();
    return actionReply(event, true);
}

void WsTransmissionHandler::startDiscoveryIfIdle()
{
    ElrsParameterManager *elrs = m_controller->elrsParameterManager();
    if (m_controller->isConfigMode() && elrs && !elrs->isDiscovering())
        elrs->startDiscovery();
}

QJsonObject WsTransmissionHandler::handleSetElrsParam(const QString &event, const QJsonObject &data)
{
    if (!m_controller->isConfigMode())
        return actionReply(event, false, QStringLiteral("Not in config mode."));
    ElrsParameterManager *elrs = m_controller->elrsParameterManager();
    if (!elrs)
        return actionReply(event, false, QStringLiteral("ELRS parameter manager unavailable."));
    const int valueIndex = readInt(data, QStringLiteral("valueIndex"), -1);
    if (valueIndex < 0)
        return actionReply(event, false, QStringLiteral("Missing or invalid valueIndex."));
    QString name = readString(data, QStringLiteral("name"));
    const int id = data.contains(QStringLiteral("id")) ? readInt(data, QStringLiteral("id"), -1) : -1;
    // Field ids and option indices are single bytes on the wire: a larger one would be cut
    // to another field or value.
    if (valueIndex > MaxFieldId || id > MaxFieldId)
        return actionReply(event, false, kWriteRejected);
    if (name.isEmpty() && id >= 0) {
        const QList<ElrsParameter> parameters = elrs->parameters();
        for (const ElrsParameter &parameter : parameters) {
            if (parameter.id == id) {
                name = parameter.name;
                break;
            }
        }
    }
    if (!name.isEmpty()) {
        const bool written = elrs->setParameterByIndex(name, valueIndex);
        return actionReply(event, written, written ? QString() : kWriteRejected);
    }
    if (id >= 0) {
        elrs->writeOptionByField(quint8(id), quint32(valueIndex));
        return actionReply(event, true);
    }
    return actionReply(event, false, QStringLiteral("Missing param id/name."));
}

QJsonObject WsTransmissionHandler::elrsStateJson() const
{
    const ElrsParameterManager *elrs = m_controller->elrsParameterManager();
    return {{QStringLiteral("configMode"), m_controller->isConfigMode()},
            {QStringLiteral("discovering"), elrs && elrs->isDiscovering()},
            {QStringLiteral("ready"), elrs && elrs->state() == ElrsParameterManager::Ready},
            {QStringLiteral("manualMode"), false},
            {QStringLiteral("progressDone"), m_progressDone},
            {QStringLiteral("progressTotal"), m_progressTotal}};
}

QJsonObject WsTransmissionHandler::elrsParamsJson(const ElrsParameter &parameter)
{
    QJsonArray options;
    if ((parameter.type & 0x7F) == ElrsParameterManager::TypeTextSelection) {
        for (const ElrsOption &option : parameter.options)
            options.append(QJsonObject{{QStringLiteral("index"), option.index}, {QStringLiteral("label"), option.label}});
    }
    return {{QStringLiteral("id"), int(parameter.id)},
            {QStringLiteral("name"), parameter.name},
            {QStringLiteral("parent"), int(parameter.parent)},
            {QStringLiteral("kind"), kindOf(parameter.type)},
            {QStringLiteral("currentValue"), int(parameter.value)},
            {QStringLiteral("options"), options},
            {QStringLiteral("units"), parameter.units},
            {QStringLiteral("readonly"), parameter.readonly}};
}

QJsonObject WsTransmissionHandler::elrsParamListJson() const
{
    QJsonArray params;
    if (const ElrsParameterManager *elrs = m_controller->elrsParameterManager()) {
        const QList<ElrsParameter> parameters = elrs->parameters();
        for (const ElrsParameter &parameter : parameters)
            params.append(elrsParamsJson(parameter));
    }
    return {{QStringLiteral("params"), params}};
}

void WsTransmissionHandler::pushElrsState()
{
    emit pushEvent(QStringLiteral("event_elrs_state"), elrsStateJson());
}

} // namespace corvane
