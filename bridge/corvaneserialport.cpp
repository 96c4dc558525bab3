#include "bridge/corvaneserialport.h"

#include <QDebug>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include "platform/serial/seriallinestate.h"

namespace corvane {

CorvaneSerialPort::CorvaneSerialPort(QObject *parent)
    : QObject(parent)
    , m_port(new QSerialPort(this))
    , m_pollTimer(new QTimer(this))
{
    m_pollTimer->setInterval(PollIntervalMs);
    connect(m_port, &QSerialPort::readyRead, this, &CorvaneSerialPort::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &CorvaneSerialPort::onErrorOccurred);
    connect(m_pollTimer, &QTimer::timeout, this, &CorvaneSerialPort::pollRead);
}

CorvaneSerialPort::~CorvaneSerialPort()
{
    close();
}

bool CorvaneSerialPort::open(const QString &requestedName, qint32 baudRate)
{
    if (m_opening)
        return false;
    // Our own copy: the caller's string may not outlive the waits below.
    const QString portName = requestedName;
    if (m_port->isOpen())
        close();
    m_removing = false;

    m_port->setPortName(portName);
    m_port->setBaudRate(baudRate, QSerialPort::AllDirections);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);

    m_opening = true;
    m_openCancelled = false;
    m_openError.clear();
    const QPointer<CorvaneSerialPort> self(this);
    bool opened = false;
    for (int attempt = 1; attempt <= OpenAttempts; ++attempt) {
        if (m_port->open(QIODevice::ReadWrite)) {
            opened = true;
            if (attempt > 1)
                qDebug() << "Serial open" << portName << "succeeded on attempt" << attempt;
            break;
        }
        if (m_port->error() != QSerialPort::PermissionError)
            break;
        qDebug() << "Serial open" << portName << "attempt" << attempt
                 << "failed:" << m_port->errorString();
        if (attempt == OpenAttempts)
            break;
        m_port->clearError();

        // The rest of the program runs during the wait and may close or delete this port.
        QEventLoop wait;
        m_retryWait = &wait;
        QTimer::singleShot(OpenRetryDelayMs, Qt::PreciseTimer, &wait, &QEventLoop::quit);
        // What was posted before the wait runs within it, at its level (the API's reading of what
        // its clients sent, among others): the event dispatcher would leave it until the wait is
        // over, unless something is posted anew.
        QMetaObject::invokeMethod(&wait, [] {}, Qt::QueuedConnection);
        wait.exec();
        if (!self)
            return false;
        m_retryWait = nullptr;
        if (m_openCancelled) {
            qDebug() << "Serial open" << portName << "abandoned: the port was closed meanwhile";
            m_opening = false;
            return false;
        }
    }

    if (!opened) {
        m_opening = false;
        QString message = m_port->errorString();
        if (m_port->error() == QSerialPort::PermissionError) {
            message = serialPortAccessDeniedMessage(portName);
            if (message.isEmpty())
                message = tr("%1: %2 stayed busy — it may be in use by another application, or the "
                             "transmitter is still starting up. Wait a few seconds and try again.")
                              .arg(m_port->errorString(), portName);
        }
        m_openError = message;
        emit errorOccurred(message);
        return false;
    }

    // A line without modem control (a pseudo-terminal, some adapters) refuses DTR and RTS;
    // that is no fault of the connection, so it is not reported.
    const bool dtr = m_port->setDataTerminalReady(true);
    const bool rts = m_port->setRequestToSend(true);
    if (!dtr || !rts) {
        qDebug() << "Serial open" << portName << "DTR/RTS not set:" << m_port->errorString();
        m_port->clearError();
    }
    m_opening = false;

    m_pollTimer->start();
    m_portName = portName;
    emit portNameChanged(m_portName);
    emit connectedChanged(true);
    return true;
}

void CorvaneSerialPort::close()
{
    if (m_retryWait) {
        m_openCancelled = true;
        m_retryWait->quit();
    }
    const bool removed = m_removing;
    m_removing = false;
    m_pollTimer->stop();
    if (!m_port->isOpen())
        return;
    // A "STOP" written just before closing must still reach the device; a vanished line takes nothing.
    if (!removed && m_port->bytesToWrite() > 0)
        m_port->waitForBytesWritten(CloseFlushMs);
    m_port->close();
    // A hang-up noticed during that wait is part of this close, not a removal to report later.
    m_removing = false;
    m_portName.clear();
    emit portNameChanged(m_portName);
    emit connectedChanged(false);
}

bool CorvaneSerialPort::isConnected() const
{
    return m_port->isOpen();
}

QString CorvaneSerialPort::portName() const
{
    return m_portName;
}

qint64 CorvaneSerialPort::write(const QByteArray &data)
{
    if (!m_port->isOpen())
        return -1;
    const qint64 accepted = m_port->write(data);
    sendPending();
    return accepted;
}

// QSerialPort::write only queues: the bytes would wait for the event loop to serve the port,
// behind whatever paint is due. Hand everything queued to the line now, in order, never
// waiting for a line that is full (the rest then goes when the port's notifier fires).
void CorvaneSerialPort::sendPending()
{
    while (m_port->bytesToWrite() > 0 && serialLineWritable(*m_port)) {
        const qint64 before = m_port->bytesToWrite();
        if (!m_port->flush() || m_port->bytesToWrite() >= before)
            return;
    }
}

QList<SerialPortEntry> CorvaneSerialPort::availablePorts()
{
    return SerialPortLister::availablePorts();
}

void CorvaneSerialPort::onReadyRead()
{
    readAllAndEmit();
}

void CorvaneSerialPort::pollRead()
{
    if (m_port->isOpen() && m_port->bytesAvailable() > 0)
        readAllAndEmit();
}

void CorvaneSerialPort::readAllAndEmit()
{
    const QByteArray data = m_port->readAll();
    if (!data.isEmpty())
        emit dataReceived(data);
}

void CorvaneSerialPort::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || m_opening || m_removing)
        return;
    const QString text = m_port->errorString();
    if (error == QSerialPort::ResourceError) {
        closeForRemoval(text);
        return;
    }
    // The error text of a hang-up is whatever the last system call left behind.
    if (serialLineHungUp(*m_port)) {
        closeForRemoval(tr("%1 was disconnected").arg(m_portName));
        return;
    }
    const QPointer<CorvaneSerialPort> self(this);
    emit errorOccurred(text);
    if (!self || !m_port->isOpen())
        return;
    readAllAndEmit();
    if (self)
        m_port->clearError();
}

// A vanished device keeps raising errors until the port is closed. The close waits for the
// event loop because the port is still inside its own read notification here; until then
// the repeats are ignored, so listeners see one close and one message.
void CorvaneSerialPort::closeForRemoval(const QString &text)
{
    m_removing = true;
    qDebug() << "Serial port" << m_portName << "went away:" << text;
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (!m_removing)
                return;
            close();
            emit errorOccurred(text);
        },
        Qt::QueuedConnection);
}

} // namespace corvane
