#include "api/wsdevicehandler.h"

#include <QJsonArray>

#include <algorithm>
#include <functional>

#include "api/wsjson.h"
#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"

namespace corvane {

using namespace wsjson;

namespace {

constexpr int DefaultBaudRate = 115200;
const QString kNotListed = QStringLiteral(": not a listed serial port");

// Why a listed port did not open, or was not tried (a transmission running, the line still
// opening another): the app's user can tell a busy port from a car still being driven.
QString connectFailure(const QString &prefix, const QString &port, bool listed, const QString &reason)
{
    return prefix + echoed(port) + (!listed ? kNotListed : reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

// The baud rate of a connect request; absent, the default. The refusal naming it, or empty.
QString baudRateRefusal(const QJsonObject &data, int &baudRate)
{
    const FieldReader in(data);
    baudRate = DefaultBaudRate;
    WsDeviceHandler::readBaudRate(in, baudRate);
    return in.refusal();
}

QJsonObject connectedData(bool connected, const QString &deviceName)
{
    return {{QStringLiteral("connected"), connected}, {QStringLiteral("deviceName"), deviceName}};
}

} // namespace

WsDeviceHandler::WsDeviceHandler(CorvaneController *controller, QObject *parent)
    : WsHandler(controller, parent)
{
    connect(controller, &CorvaneController::serialConnectedChanged, this,
            [this](bool connected) { pushDisconnected(connected, QStringLiteral("transmitter")); });
    connect(controller, &CorvaneController::receiverConnectedChanged, this,
            [this](bool connected) { pushDisconnected(connected, QStringLiteral("receiver")); });
    connect(controller, &CorvaneController::wheelBaseConnectedChanged, this,
            [this](bool connected) { pushDisconnected(connected, QStringLiteral("wheelbase")); });
    connect(controller, &CorvaneController::pedalsConnectedChanged, this,
            [this](bool connected) { pushDisconnected(connected, QStringLiteral("pedals")); });
    connect(controller, &CorvaneController::shifterConnectedChanged, this,
            [this](bool connected) { pushDisconnected(connected, QStringLiteral("shifter")); });
}

QStringList WsDeviceHandler::supportedEvents() const
{
    return {QStringLiteral("get_serial_ports"),        QStringLiteral("get_transmitter_status"),
            QStringLiteral("action_connect_transmitter"), QStringLiteral("action_disconnect_transmitter"),
            QStringLiteral("get_receiver_status"),     QStringLiteral("action_connect_receiver"),
            QStringLiteral("action_disconnect_receiver"), QStringLiteral("get_input_devices"),
            QStringLiteral("get_wheelbase_status"),    QStringLiteral("action_connect_wheelbase"),
            QStringLiteral("action_disconnect_wheelbase"), QStringLiteral("get_pedals_status"),
            QStringLiteral("action_connect_pedals"),   QStringLiteral("action_disconnect_pedals"),
            QStringLiteral("get_shifter_status"),      QStringLiteral("action_connect_shifter"),
            QStringLiteral("action_disconnect_shifter"), QStringLiteral("action_auto_connect"),
            QStringLiteral("get_app_mode")};
}

void WsDeviceHandler::readBaudRate(const FieldReader &in, int &baudRate)
{
    const char *key = "baudRate";
    int read = baudRate;
    in.readWholeNumber(key, read);
    if (read < 1 && read != baudRate)
        in.refuse(key, QStringLiteral("a whole number above 0"));
    else
        baudRate = read;
}

QList<SerialPortEntry> WsDeviceHandler::serialPorts()
{
    if (!m_portsListed.isValid() || m_portsListed.hasExpired(PortListAgeMs)) {
        m_ports = CorvaneController::availableSerialPorts();
        m_portsListed.start();
    }
    return m_ports;
}

bool WsDeviceHandler::isListedPort(const QString &portName)
{
    const QList<SerialPortEntry> ports = serialPorts();
    return std::any_of(ports.cbegin(), ports.cend(), [&portName](const SerialPortEntry &port) {
        return port.portName == portName
               || (!port.portName.contains(QLatin1Char('/')) && QLatin1String("/dev/") + port.portName == portName);
    });
}

QJsonObject WsDeviceHandler::handleEvent(const QString &event, const QJsonObject &data)
{
    CorvaneController *c = m_controller;
    if (event == QLatin1String("get_serial_ports"))
        return dataReply(event, serialPortsJson());
    if (event == QLatin1String("get_transmitter_status")) {
        // In the desktop's words: an open port is not connected until the transmitter gave its ID.
        const CorvaneController::TransmitterStatus tx = c->transmitterStatus();
        return dataReply(event, {{QStringLiteral("connected"), tx.answer == CorvaneController::TransmitterAnswered},
                                 {QStringLiteral("status"), tx.word},
                                 {QStringLiteral("portName"), c->serialPortName()},
                                 {QStringLiteral("deviceName"), QStringLiteral("QOR Transmitter")},
                                 {QStringLiteral("isGpioUart"), false},
                                 {QStringLiteral("isLinuxGpioMode"), false}});
    }
    if (event == QLatin1String("action_connect_transmitter"))
        return handleConnectTransmitter(event, data);
    if (event == QLatin1String("action_disconnect_transmitter")) {
        c->disconnectTransmitter();
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_receiver_status")) {
        return dataReply(event, {{QStringLiteral("connected"), c->isReceiverConnected()},
                                 {QStringLiteral("portName"), c->receiverPortName()},
                                 {QStringLiteral("deviceName"), QStringLiteral("QOR Receiver")}});
    }
    if (event == QLatin1String("action_connect_receiver"))
        return handleConnectReceiver(event, data);
    if (event == QLatin1String("action_disconnect_receiver")) {
        c->disconnectReceiver();
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_input_devices"))
        return dataReply(event, inputDevicesJson());
    if (event == QLatin1String("get_wheelbase_status"))
        return dataReply(event, connectedData(c->isWheelBaseConnected(), c->wheelBaseName()));
    if (event == QLatin1String("action_connect_wheelbase"))
        return handleConnectInput(event, data, &CorvaneController::connectWheelBase, QStringLiteral("wheelbase"));
    if (event == QLatin1String("action_disconnect_wheelbase")) {
        c->disconnectWheelBase();
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_pedals_status"))
        return dataReply(event, connectedData(c->isPedalsConnected(), c->pedalsName()));
    if (event == QLatin1String("action_connect_pedals"))
        return handleConnectInput(event, data, &CorvaneController::connectPedals, QStringLiteral("pedals"));
    if (event == QLatin1String("action_disconnect_pedals")) {
        c->disconnectPedals();
        return actionReply(event, true);
    }
    if (event == QLatin1String("get_shifter_status"))
        return dataReply(event, connectedData(c->isShifterConnected(), c->shifterName()));
    if (event == QLatin1String("action_connect_shifter"))
        return handleConnectInput(event, data, &CorvaneController::connectShifter, QStringLiteral("shifter"));
    if (event == QLatin1String("action_disconnect_shifter")) {
        c->disconnectShifter();
        return actionReply(event, true);
    }
    if (event == QLatin1String("action_auto_connect")) {
        c->autoConnectDevices();
        QJsonObject reply = actionReply(event, true);
        reply.insert(QStringLiteral("data"), QJsonObject{{QStringLiteral("transmitter"), c->isSerialConnected()},
                                                         {QStringLiteral("wheelbase"), c->isWheelBaseConnected()},
                                                         {QStringLiteral("pedals"), c->isPedalsConnected()},
                                                         {QStringLiteral("shifter"), c->isShifterConnected()}});
        return reply;
    }
    if (event == QLatin1String("get_app_mode"))
        return dataReply(event, {{QStringLiteral("mode"), QStringLiteral("pc")}});
    return errorReply(event, QStringLiteral("Unhandled event in device handler"));
}

QJsonObject WsDeviceHandler::handleConnectTransmitter(const QString &event, const QJsonObject &data)
{
    const QString port = readString(data, QStringLiteral("port"));
    int baudRate = DefaultBaudRate;
    if (port.isEmpty())
        return actionReply(event, false, QStringLiteral("Missing 'port' parameter"));
    if (const QString refusal = baudRateRefusal(data, baudRate); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    const bool listed = isListedPort(port);
    QString reason;
    const bool connected = listed && m_controller->connectTransmitter(port, baudRate, &reason);
    QJsonObject reply = actionReply(event, connected,
                                    connected ? QString() : connectFailure(QStringLiteral("Failed to connect to "), port, listed, reason));
    reply.insert(QStringLiteral("isGpioUart"), false);
    return reply;
}

QJsonObject WsDeviceHandler::handleConnectReceiver(const QString &event, const QJsonObject &data)
{
    const QString port = readString(data, QStringLiteral("port"));
    int baudRate = DefaultBaudRate;
    if (port.isEmpty())
        return actionReply(event, false, QStringLiteral("Missing 'port' parameter"));
    if (const QString refusal = baudRateRefusal(data, baudRate); !refusal.isEmpty())
        return actionReply(event, false, refusal);
    const bool listed = isListedPort(port);
    QString reason;
    const bool connected = listed && m_controller->connectReceiver(port, baudRate, &reason);
    if (connected)
        m_controller->receiverConfigManager()->resync();
    return actionReply(event, connected,
                       connected ? QString() : connectFailure(QStringLiteral("Failed to connect receiver to "), port, listed, reason));
}

QJsonObject WsDeviceHandler::handleConnectInput(const QString &event, const QJsonObject &data,
                                                bool (CorvaneController::*connectDevice)(int),
                                                const QString &device)
{
    const int index = readInt(data, QStringLiteral("deviceIndex"), -1);
    if (index < 0)
        return actionReply(event, false, QStringLiteral("Missing or invalid 'deviceIndex' parameter"));
    // Not `(m_controller->*connectDevice)(index)`: GCC 10 to 12 instrument a member-function
    // pointer called on a data member wrongly under -fsanitize=vptr (they check a code or stack
    // address as the object, and the checked call can crash).
    const bool connected = std::invoke(connectDevice, m_controller, index);
    return actionReply(event, connected,
                       connected ? QString() : QStringLiteral("Failed to connect %1 at index %2").arg(device).arg(index));
}

QJsonObject WsDeviceHandler::serialPortsJson()
{
    QJsonArray ports;
    const QList<SerialPortEntry> entries = serialPorts();
    for (const SerialPortEntry &entry : entries) {
        ports.append(QJsonObject{{QStringLiteral("name"), entry.portName},
                                 {QStringLiteral("description"), entry.description},
                                 {QStringLiteral("manufacturer"), entry.manufacturer},
                                 {QStringLiteral("vendorId"), int(entry.vendorId)},
                                 {QStringLiteral("productId"), int(entry.productId)},
                                 {QStringLiteral("isGpioUart"), false}});
    }
    return {{QStringLiteral("ports"), ports}, {QStringLiteral("isLinuxGpioMode"), false}};
}

QJsonObject WsDeviceHandler::inputDevicesJson() const
{
    QJsonArray devices;
    const QList<InputDeviceInfo> infos = CorvaneController::availableInputDevices();
    for (const InputDeviceInfo &info : infos) {
        devices.append(QJsonObject{{QStringLiteral("index"), info.index},
                                   {QStringLiteral("name"), info.name},
                                   {QStringLiteral("productName"), info.productName},
                                   {QStringLiteral("numAxes"), info.numAxes},
                                   {QStringLiteral("numButtons"), info.numButtons},
                                   {QStringLiteral("numPovs"), info.numPovs},
                                   {QStringLiteral("supportsFfb"), info.supportsFfb}});
    }
    return {{QStringLiteral("devices"), devices}};
}

void WsDeviceHandler::pushDisconnected(bool connected, const QString &device)
{
    if (!connected)
        emit pushEvent(QStringLiteral("event_device_disconnected"), {{QStringLiteral("device"), device}});
}

} // namespace corvane
