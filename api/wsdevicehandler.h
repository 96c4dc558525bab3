#pragma once

#include "api/wshandler.h"

namespace corvane {

namespace wsjson {
class FieldReader;
}

// Lists and connects the PC's devices for the app: the transmitter's and the receiver's serial
// ports, the wheel base, pedals and shifter, and the profile's automatic reconnection; pushes
// "event_device_disconnected" when one of the five goes away.
class WsDeviceHandler : public WsHandler
{
    Q_OBJECT
public:
    WsDeviceHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

    // Whether a port name from the network may be opened: only a port the port list offers (by
    // its name or its /dev path). Any other terminal may be someone's shell, which must never be
    // switched to raw mode and read.
    static bool isListedPort(const QString &portName);
    // The baud rate a port is opened at, and stored with it once it opens: a whole number above 0.
    static void readBaudRate(const wsjson::FieldReader &in, int &baudRate);

private:
    QJsonObject handleConnectTransmitter(const QString &event, const QJsonObject &data);
    QJsonObject handleConnectReceiver(const QString &event, const QJsonObject &data);
    QJsonObject handleConnectInput(const QString &event, const QJsonObject &data,
                                   bool (CorvaneController::*connectDevice)(int), const QString &device);
    QJsonObject serialPortsJson() const;
    QJsonObject inputDevicesJson() const;
    void pushDisconnected(bool connected, const QString &device);
};

} // namespace corvane
