#pragma once

#include <QElapsedTimer>
#include <QList>

#include "api/wshandler.h"
#include "platform/serial/serialportlister.h"

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
    // A listing of the serial ports takes milliseconds on the thread of the 7 ms tick, and any
    // client may ask for it back to back: the ports as listed at most this long ago are the list.
    static constexpr qint64 PortListAgeMs = 1000;

    WsDeviceHandler(CorvaneController *controller, QObject *parent);

    QStringList supportedEvents() const override;
    QJsonObject handleEvent(const QString &event, const QJsonObject &data) override;

    // Whether a port name from the network may be opened: only a port the port list offers (by
    // its name or its /dev path). Any other terminal may be someone's shell, which must never be
    // switched to raw mode and read.
    bool isListedPort(const QString &portName);
    // The baud rate a port is opened at, and stored with it once it opens: a whole number above 0.
    static void readBaudRate(const wsjson::FieldReader &in, int &baudRate);

private:
    QJsonObject handleConnectTransmitter(const QString &event, const QJsonObject &data);
    QJsonObject handleConnectReceiver(const QString &event, const QJsonObject &data);
    QJsonObject handleConnectInput(const QString &event, const QJsonObject &data,
                                   bool (CorvaneController::*connectDevice)(int), const QString &device);
    // The serial ports, listed again once PortListAgeMs has passed.
    QList<SerialPortEntry> serialPorts();
    QJsonObject serialPortsJson();
    QJsonObject inputDevicesJson() const;
    void pushDisconnected(bool connected, const QString &device);

    QList<SerialPortEntry> m_ports;
    QElapsedTimer m_portsListed;
};

} // namespace corvane
