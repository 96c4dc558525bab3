#include "bridge/corvanecontroller.h"

#include "bridge/corvaneserialport.h"

namespace corvane {

bool CorvaneController::connectTransmitter(const QString &portName, int baudRate)
{
    Q_UNUSED(portName);
    Q_UNUSED(baudRate);
    return false;
}

void CorvaneController::disconnectTransmitter()
{
}

bool CorvaneController::connectReceiver(const QString &portName, int baudRate)
{
    Q_UNUSED(portName);
    Q_UNUSED(baudRate);
    return false;
}

void CorvaneController::disconnectReceiver()
{
}

qlonglong CorvaneController::serialWrite(const QByteArray &data)
{
    Q_UNUSED(data);
    return -1;
}

qint64 CorvaneController::receiverWrite(const QByteArray &data)
{
    Q_UNUSED(data);
    return -1;
}

bool CorvaneController::isSerialConnected() const
{
    return m_transmitterPort->isConnected();
}

bool CorvaneController::isReceiverConnected() const
{
    return m_receiverPort->isConnected();
}

QString CorvaneController::serialPortName() const
{
    return m_transmitterPort->portName();
}

QString CorvaneController::receiverPortName() const
{
    return m_receiverPort->portName();
}

void CorvaneController::startConfigMode()
{
}

void CorvaneController::stopConfigMode()
{
}

bool CorvaneController::enterWifiUpdateMode(bool receiver, QString *error)
{
    Q_UNUSED(receiver);
    Q_UNUSED(error);
    return false;
}

void CorvaneController::onSerialDataReceived(const QByteArray &data)
{
    Q_UNUSED(data);
}

void CorvaneController::onSerialError(const QString &error)
{
    Q_UNUSED(error);
}

void CorvaneController::onReceiverDataReceived(const QByteArray &data)
{
    Q_UNUSED(data);
}

void CorvaneController::onReceiverError(const QString &error)
{
    Q_UNUSED(error);
}

void CorvaneController::onAutoStartCheck()
{
}

void CorvaneController::onKeepaliveTimer()
{
}

void CorvaneController::onTransmitterConnectionChanged(bool connected)
{
    Q_UNUSED(connected);
}

void CorvaneController::onDeviceIdLine(const QString &line)
{
    Q_UNUSED(line);
}

} // namespace corvane
