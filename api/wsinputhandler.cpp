#include "api/wsinputhandler.h"

#include <QJsonArray>

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"

namespace corvane {

using namespace wsjson;

namespace {

const QString kDevice = QStringLiteral("device");

QJsonArray buttonsOf(const InputDevice *device)
{
    QJsonArray buttons;
    const int count = qMin(device->numButtons(), InputDevice::ButtonCount);
    for (int i = 0; i < count; ++i)
        buttons.append(device->button(i));
    return buttons;
}

} // namespace

WsInputHandler::WsInputHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(controller, &CorvaneController::inputChanged, this, &WsInputHandler::pushInputChanged);
}

QStringList WsInputHandler::supportedEvents() const
{
    return {QStringLiteral("get_input_state"), QStringLiteral("get_raw_input_state"),
            QStringLiteral("get_button_states"), QStringLiteral("get_pit_limiter")};
}

QJsonObject WsInputHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    if (event == QLatin1String("get_input_state"))
        return handleGetInputState(event);
    if (event == QLatin1String("get_raw_input_state"))
        return handleGetRawInputState(event, data);
    if (event == QLatin1String("get_button_states"))
        return handleGetButtonStates(event, data);
    if (event == QLatin1String("get_pit_limiter")) {
        const AxisSettings settings = m_controller->axisSettings();
        return dataReply(event, {{QStringLiteral("active"), m_controller->isPitLimiterActive()},
                                 {QStringLiteral("enabledInSettings"), settings.pitLimiterEnabled},
                                 {QStringLiteral("limitValue"), settings.pitLimiterValue}});
    }
    return errorReply(event, QStringLiteral("Unhandled event in input handler"));
}

void WsInputHandler::pushInputChanged()
{
    emit pushEvent(QStringLiteral("event_input_changed"), inputStateJson());
}

QJsonObject WsInputHandler::handleGetInputState(const QString &event) const
{
    return dataReply(event, inputStateJson());
}

QJsonObject WsInputHandler::inputStateJson() const
{
    const CorvaneController *c = m_controller;
    const AxisSettings &settings = c->axisSettings();
    const int steeringAngle = settings.steeringAngleDeg > 0 && settings.steeringAngleDeg < settings.wheelRotationDeg
                                  ? settings.steeringAngleDeg
                                  : settings.wheelRotationDeg;
    QJsonArray channels;
    for (int i = 0; i < CorvaneController::ChannelCount; ++i)
        channels.append(c->channelValue(i));
    return {{QStringLiteral("steering"), double(c->steering())},
            {QStringLiteral("steeringDeg"), double(c->wheelAngleDeg())},
            {QStringLiteral("steeringAngleDeg"), steeringAngle},
            {QStringLiteral("throttle"), double(c->throttle())},
            {QStringLiteral("brake"), double(c->brake())},
            {QStringLiteral("clutch"), double(c->clutch())},
            {QStringLiteral("gear"), c->currentGear()},
            {QStringLiteral("pitLimiterActive"), c->isPitLimiterActive()},
            {QStringLiteral("channels"), channels}};
}

InputDevice *WsInputHandler::chooseDevice(const QString &event, const QString &word, QJsonObject &error) const
{
    InputDevice *device = nullptr;
    if (word == QLatin1String("wheelbase"))
        device = m_controller->wheelBase();
    else if (word == QLatin1String("pedals"))
        device = m_controller->pedals();
    else if (word == QLatin1String("shifter"))
        device = m_controller->shifter();
    if (!device) {
        error = errorReply(event, QStringLiteral("Invalid 'device' parameter. Must be 'wheelbase', 'pedals', or 'shifter'."));
        return nullptr;
    }
    if (!device->isConnected()) {
        error = errorReply(event, word + QStringLiteral(" is not connected"));
        return nullptr;
    }
    return device;
}

QJsonObject WsInputHandler::handleGetRawInputState(const QString &event, const QJsonObject &data) const
{
    const QString word = readString(data, kDevice);
    QJsonObject error;
    const InputDevice *device = chooseDevice(event, word, error);
    if (!device)
        return error;
    QJsonArray axes;
    for (int i = 0; i < 8; ++i)
        axes.append(double(device->axis(i)));
    QJsonArray povs;
    const int povCount = qMin(device->numPovs(), InputDevice::PovCount);
    for (int i = 0; i < povCount; ++i)
        povs.append(device->pov(i));
    return dataReply(event, {{kDevice, word},
                             {QStringLiteral("axes"), axes},
                             {QStringLiteral("buttons"), buttonsOf(device)},
                             {QStringLiteral("povs"), povs}});
}

QJsonObject WsInputHandler::handleGetButtonStates(const QString &event, const QJsonObject &data) const
{
    const QString word = readString(data, kDevice);
    QJsonObject error;
    InputDevice *device = chooseDevice(event, word, error);
    if (!device)
        return error;
    device->poll();
    return dataReply(event, {{kDevice, word}, {QStringLiteral("buttons"), buttonsOf(device)}});
}

} // namespace corvane
