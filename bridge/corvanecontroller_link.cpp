#include "bridge/corvanecontroller.h"

#include <QDebug>
#include <QTimer>

#include "bridge/corvaneserialport.h"
#include "bridge/devicesecurity.h"
#include "bridge/elrsparametermanager.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

constexpr int kDeviceIdFirstWaitMs = 5000;
constexpr int kDeviceIdRetryWaitMs = 3000;
constexpr int kDeviceIdMaxRetries = 3;
constexpr qint64 kKeepaliveSilenceMs = 2000;
constexpr int kReconnectIntervalMs = 1500;
constexpr int kReconnectAttempts = 20;
constexpr qsizetype kTransmitterLineLimit = 8192;
constexpr qsizetype kTransmitterLineKeep = 4096;
constexpr qsizetype kReceiverLineLimit = 1024;
constexpr qsizetype kReceiverLineKeep = 512;
constexpr int kWifiStartStepMs = 2000;
constexpr int kWifiConfirmStepMs = 2800;
constexpr int kWifiEndMs = 4500;
constexpr quint8 kTransmitterWifiField = 16;
constexpr quint8 kReceiverWifiField = 17;
// Start and confirm steps of a CRSF command parameter.
constexpr quint32 kCommandStart = 1;
constexpr quint32 kCommandConfirm = 4;

const char kIdPrefix[] = "QOR-ID:";

bool isLineByte(char c)
{
    const uchar u = uchar(c);
    return u == 0x0A || u == 0x0D || (u >= 0x20 && u <= 0x7E);
}

// Takes every complete line out of `buffer` (one trailing carriage return dropped, empty lines
// skipped), then cuts a runaway remainder down to its last `keep` bytes. The lines are handed
// back rather than emitted here, so a listener that touches the buffer cannot disturb the split.
QStringList takeLines(QByteArray &buffer, qsizetype limit, qsizetype keep)
{
    QStringList lines;
    qsizetype start = 0;
    qsizetype nl;
    while ((nl = buffer.indexOf('\n', start)) >= 0) {
        qsizetype end = nl;
        if (end > start && buffer.at(end - 1) == '\r')
            --end;
        if (end > start)
            lines.append(QString::fromUtf8(buffer.constData() + start, end - start));
        start = nl + 1;
    }
    buffer.remove(0, start);
    if (buffer.size() > limit)
        buffer = buffer.right(keep);
    return lines;
}

} // namespace

bool CorvaneController::connectTransmitter(const QString &portName, int baudRate, QString *error)
{
    // The car's frames would go to whatever the new port holds, and its own transmitter would
    // get no STOP (the desktop offers no Connect then either).
    const QString refusal = m_running ? tr("Stop transmission before connecting a transmitter.")
                                      : openRefusal(portName, m_transmitterPort, m_receiverPort);
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        onSerialError(refusal);
        return false;
    }
    m_userDisconnected = false;
    m_transmitterLineBuffer.clear();
    m_crsf->reset();
    // What is on the port now may be another device than the one that answered before.
    forgetTransmitterId();
    m_transmitterHeard = false;
    setTransmitterAnswer(TransmitterWaiting);
    if (!m_transmitterPort->open(portName, baudRate)) {
        if (error)
            *error = m_transmitterPort->openError();
        return false;
    }
    m_profiles->setBridgeConnection(portName, baudRate);
    askForDeviceId();
    return true;
}

void CorvaneController::disconnectTransmitter()
{
    m_userDisconnected = true;
    if (m_reconnectTimer)
        m_reconnectTimer->stop();
    if (m_deviceIdTimer)
        m_deviceIdTimer->stop();
    endRunForUser();
    m_transmitterPort->close();
    forgetTransmitterId();
}

void CorvaneController::forgetTransmitterId()
{
    const bool wasAuthorized = m_transmitterAuthorized;
    m_transmitterAuthorized = false;
    m_security->checkDevice(QString());
    // Views that showed the transmitter as authorised must hear that it no longer is.
    if (wasAuthorized)
        emit transmitterAuthorizationChanged(false);
}

bool CorvaneController::connectReceiver(const QString &portName, int baudRate, QString *error)
{
    if (const QString held = openRefusal(portName, m_receiverPort, m_transmitterPort); !held.isEmpty()) {
        if (error)
            *error = held;
        onReceiverError(held);
        return false;
    }
    m_receiverLineBuffer.clear();
    if (m_receiverPort->open(portName, baudRate))
        return true;
    if (error)
        *error = m_receiverPort->openError();
    return false;
}

QString CorvaneController::openRefusal(const QString &portName, const CorvaneSerialPort *line,
                                      const CorvaneSerialPort *other) const
{
    // Requests are read while an open waits between its attempts: a second connect then would
    // undo what the first began and answer with nothing true.
    if (line->isOpening())
        return tr("A port is still being opened on this line: try again once that has finished.");
    // A second open of a port this program holds would wait out the port's lock for seconds.
    if (!other->isConnected() || other->portName() != portName)
        return QString();
    return tr("%1 is in use by the %2.").arg(portName, heldPorts().value(portName));
}

QHash<QString, QString> CorvaneController::heldPorts() const
{
    QHash<QString, QString> held;
    if (m_receiverPort->isConnected())
        held.insert(m_receiverPort->portName(), tr("QOR Receiver"));
    if (m_transmitterPort->isConnected())
        held.insert(m_transmitterPort->portName(), tr("QOR Transmitter"));
    return held;
}

void CorvaneController::disconnectReceiver()
{
    m_receiverPort->close();
    m_receiverLineBuffer.clear();
}

qlonglong CorvaneController::serialWrite(const QByteArray &data)
{
    m_keepaliveStopwatch.restart();
    return m_transmitterPort->write(data);
}

qint64 CorvaneController::receiverWrite(const QByteArray &data)
{
    return m_receiverPort->write(data);
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
    if (m_configMode)
        return;
    if (m_running) {
        emit errorOccurred(tr("Stop transmission before configuring"));
        return;
    }
    if (!m_transmitterPort->isConnected()) {
        emit errorOccurred(tr("RP2040 Bridge not connected"));
        return;
    }
    // A transmitter switched on since the queries gave up is asked again; a port still silent
    // ends configuring once they give up again.
    if (isTransmitterSilent()) {
        setTransmitterAnswer(TransmitterWaiting);
        askForDeviceId();
    }
    serialWrite(QByteArrayLiteral("CFGMODE ON\n"));
    m_configMode = true;
    m_elrs->setConfigModeActive(true);
    emit configModeChanged(true);
}

void CorvaneController::stopConfigMode()
{
    if (!m_configMode)
        return;
    leaveConfigMode();
}

void CorvaneController::leaveConfigMode()
{
    if (m_transmitterPort->isConnected())
        serialWrite(QByteArrayLiteral("CFGMODE OFF\n"));
    m_configMode = false;
    m_elrs->setConfigModeActive(false);
    emit configModeChanged(false);
}

bool CorvaneController::enterWifiUpdateMode(bool receiver, QString *error)
{
    auto refuse = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (m_wifiSwitchInProgress)
        return refuse(tr("Already switching to WiFi mode"));
    if (m_running)
        return refuse(tr("Stop transmission first"));
    if (!m_transmitterPort->isConnected())
        return refuse(tr("QOR Transmitter not connected"));
    if (isTransmitterSilent())
        return refuse(transmitterSilentMessage());

    const QString name = receiver ? QStringLiteral("Enable Rx WiFi") : QStringLiteral("Enable WiFi");
    quint8 field = receiver ? kReceiverWifiField : kTransmitterWifiField;
    if (const ElrsParameter *parameter = m_elrs->findParameter(name))
        field = parameter->id;

    bool enteredConfigMode = false;
    if (!m_configMode) {
        startConfigMode();
        enteredConfigMode = m_configMode;
    }
    if (!m_configMode)
        return refuse(tr("Couldn't start configuring the transmitter"));

    m_wifiSwitchInProgress = true;
    // Bound to the controller: nothing fires once it is gone.
    QTimer::singleShot(kWifiStartStepMs, Qt::PreciseTimer, this, [this, field] {
        if (m_configMode)
            m_elrs->writeOptionByField(field, kCommandStart);
    });
    QTimer::singleShot(kWifiConfirmStepMs, Qt::PreciseTimer, this, [this, field] {
        if (m_configMode)
            m_elrs->writeOptionByField(field, kCommandConfirm);
    });
    QTimer::singleShot(kWifiEndMs, Qt::PreciseTimer, this, [this, enteredConfigMode, receiver] {
        if (enteredConfigMode && m_configMode)
            leaveConfigMode();
        m_wifiSwitchInProgress = false;
        emit elrsWifiModeSent(receiver);
    });
    return true;
}

void CorvaneController::onSerialDataReceived(const QByteArray &data)
{
    emit telemetryReceived(data);
    // Text lines are split from what the frames leave: a frame's printable bytes would
    // otherwise run into the next line, and a reply would no longer begin with its prefix.
    const QByteArray text = m_crsf->feed(data);
    for (char c : text) {
        if (isLineByte(c))
            m_transmitterLineBuffer.append(c);
    }
    const QStringList lines = takeLines(m_transmitterLineBuffer, kTransmitterLineLimit, kTransmitterLineKeep);
    for (const QString &line : lines)
        emit transmitterLineReceived(line);
}

void CorvaneController::onSerialError(const QString &error)
{
    if (m_reconnectTimer && m_reconnectTimer->isActive()) {
        qDebug().noquote() << "Serial error during transmitter reconnect (suppressed):" << error;
        return;
    }
    emit errorOccurred(error);
}

void CorvaneController::onReceiverDataReceived(const QByteArray &data)
{
    m_receiverLineBuffer.append(data);
    const QStringList lines = takeLines(m_receiverLineBuffer, kReceiverLineLimit, kReceiverLineKeep);
    for (const QString &line : lines)
        emit receiverDataReceived(line);
}

void CorvaneController::onReceiverError(const QString &error)
{
    emit errorOccurred(tr("Receiver: %1").arg(error));
}

void CorvaneController::onAutoStartCheck()
{
    if (!m_autoStartEnabled || m_running || m_stoppedByUser || !m_transmitterPort->isConnected())
        return;
    const Profile *profile = m_profiles->activeProfile();
    if (profile && profile->vehicleType == VehicleType::Helicopter) {
        if (!m_heliJoystick->isConnected())
            return;
    } else {
        if (!m_wheelBase->isConnected())
            return;
        if (!m_wheelBase->axisMapping().combinedPedals && !m_pedals->isConnected())
            return;
    }
    if (!isTransmitterCleared())
        return;
    startTransmission();
}

void CorvaneController::onKeepaliveTimer()
{
    if (!m_transmitterPort->isConnected() || m_keepaliveStopwatch.elapsed() < kKeepaliveSilenceMs)
        return;
    serialWrite(QByteArrayLiteral("\n"));
}

void CorvaneController::onTransmitterConnectionChanged(bool connected)
{
    if (connected) {
        if (m_reconnectTimer)
            m_reconnectTimer->stop();
        return;
    }
    // The run ends with its port: what comes on it next names itself first. This is no stop of
    // the user's, so auto-start resumes the run once the transmitter is back and cleared.
    if (m_running) {
        qInfo().noquote() << "Transmission ended: the transmitter's port closed";
        stopTransmissionWithoutHold();
    }
    // A transmitter plugged in again starts out of configuration mode.
    if (m_configMode)
        leaveConfigMode();
    if (m_userDisconnected || m_profiles->deviceConnections().portName.isEmpty())
        return;
    if (!m_reconnectTimer) {
        m_reconnectTimer = new QTimer(this);
        m_reconnectTimer->setInterval(kReconnectIntervalMs);
        m_reconnectTimer->setTimerType(Qt::PreciseTimer);
        connect(m_reconnectTimer, &QTimer::timeout, this, &CorvaneController::tryReconnectTransmitter);
    }
    m_reconnectAttemptsLeft = kReconnectAttempts;
    if (!m_reconnectTimer->isActive()) {
        qDebug().noquote() << "Transmitter connection lost — starting auto-reconnect";
        m_reconnectTimer->start();
    }
}

void CorvaneController::tryReconnectTransmitter()
{
    // The last attempt still waits between its tries on a busy port.
    if (m_transmitterPort->isOpening())
        return;
    if (m_transmitterPort->isConnected()) {
        if (m_reconnectTimer)
            m_reconnectTimer->stop();
        return;
    }
    if (--m_reconnectAttemptsLeft < 1) {
        if (m_reconnectTimer)
            m_reconnectTimer->stop();
        emit errorOccurred(tr("Lost connection to the QOR Transmitter and could not reconnect. "
                              "Check the USB cable and press Connect."));
        return;
    }
    const DeviceConnections saved = m_profiles->deviceConnections();
    if (saved.portName.isEmpty()) {
        if (m_reconnectTimer)
            m_reconnectTimer->stop();
        return;
    }
    const QList<SerialPortEntry> ports = CorvaneSerialPort::availablePorts();
    for (const SerialPortEntry &entry : ports) {
        if (entry.portName == saved.portName) {
            qDebug().noquote() << "Transmitter dropped — reconnecting to" << saved.portName;
            connectTransmitter(saved.portName, saved.baudRate);
            return;
        }
    }
}

void CorvaneController::askForDeviceId()
{
    m_deviceIdRetries = 0;
    serialWrite(QByteArrayLiteral("ID\n"));
    if (!m_deviceIdTimer) {
        m_deviceIdTimer = new QTimer(this);
        m_deviceIdTimer->setSingleShot(true);
        m_deviceIdTimer->setTimerType(Qt::PreciseTimer);
        connect(m_deviceIdTimer, &QTimer::timeout, this, &CorvaneController::onDeviceIdRetry);
    }
    m_deviceIdTimer->start(kDeviceIdFirstWaitMs);
}

void CorvaneController::onDeviceIdRetry()
{
    if (m_transmitterAuthorized)
        return;
    if (m_transmitterPort->isConnected() && m_deviceIdRetries < kDeviceIdMaxRetries) {
        ++m_deviceIdRetries;
        qDebug().noquote() << "[SECURITY] Device ID query retry" << m_deviceIdRetries;
        serialWrite(QByteArrayLiteral("ID\n"));
        if (m_deviceIdTimer)
            m_deviceIdTimer->start(kDeviceIdRetryWaitMs);
        return;
    }
    qWarning().noquote() << "[SECURITY] No device ID response from transmitter";
    if (transmitterAnswer() != TransmitterWaiting)
        return;
    if (m_transmitterHeard) {
        setTransmitterAnswer(TransmitterUnidentified);
        return;
    }
    setTransmitterAnswer(TransmitterSilent);
    // Nothing configures on a port where nothing answers; a search under way ends with it.
    if (m_configMode)
        leaveConfigMode();
}

CorvaneController::TransmitterAnswer CorvaneController::transmitterAnswer() const
{
    return m_transmitterPort->isConnected() ? m_transmitterAnswer : TransmitterClosed;
}

QString CorvaneController::transmitterWaitingMessage() const
{
    return tr("%1 is open. Waiting for the transmitter to answer\u2026").arg(serialPortName());
}

QString CorvaneController::transmitterSilentMessage() const
{
    return tr("Nothing answers on %1. Choose the QOR Transmitter's port, and check that the transmitter is "
              "switched on.")
        .arg(serialPortName());
}

QString CorvaneController::transmitterUnidentifiedMessage() const
{
    return tr("The device on %1 answers but never gave its ID, so it can't drive the car. Check that it is the "
              "QOR Transmitter and that its firmware is up to date, then connect it again.")
        .arg(serialPortName());
}

bool CorvaneController::isTransmitterCleared() const
{
    return isTransmitterAnswered() && (m_transmitterAuthorized || m_security->provisioningMode());
}

CorvaneController::TransmitterStatus CorvaneController::transmitterStatus() const
{
    TransmitterStatus status;
    status.answer = transmitterAnswer();
    switch (status.answer) {
    case TransmitterClosed:
        status.word = tr("Not connected");
        status.card = tr("Transmitter not connected");
        status.line = status.word;
        return status;
    case TransmitterAnswered:
        status.word = tr("Connected");
        status.card = tr("Transmitter connected");
        status.line = status.word;
        status.level = 3;
        return status;
    case TransmitterWaiting:
        status.word = tr("Waiting\u2026");
        status.card = tr("Waiting for the transmitter\u2026");
        status.line = tr("Waiting for an answer\u2026");
        status.hint = transmitterWaitingMessage();
        break;
    case TransmitterSilent:
        status.word = tr("No answer");
        status.card = tr("Transmitter not answering");
        status.line = tr("No answer on %1").arg(serialPortName());
        status.hint = transmitterSilentMessage();
        break;
    case TransmitterUnidentified:
        status.word = tr("Not identified");
        status.card = tr("Transmitter not identified");
        status.line = tr("No ID from %1").arg(serialPortName());
        status.hint = transmitterUnidentifiedMessage();
        break;
    }
    status.level = 2;
    return status;
}

void CorvaneController::setTransmitterAnswer(TransmitterAnswer answer)
{
    if (m_transmitterAnswer == answer)
        return;
    m_transmitterAnswer = answer;
    emit transmitterAnswerChanged();
}

void CorvaneController::onTransmitterFrame()
{
    m_transmitterHeard = true;
    // Heard from after the queries gave up: something is there, and it still owes its ID.
    if (m_transmitterAnswer != TransmitterSilent)
        return;
    askForDeviceId();
    setTransmitterAnswer(TransmitterWaiting);
}

void CorvaneController::onDeviceIdLine(const QString &line)
{
    if (!line.startsWith(QLatin1String(kIdPrefix)))
        return;
    const QString id = line.mid(int(sizeof kIdPrefix - 1)).trimmed();
    setTransmitterAnswer(TransmitterAnswered);
    m_security->checkDevice(id);
    const bool authorized = m_security->isCurrentDeviceAuthorized();
    if (authorized != m_transmitterAuthorized) {
        m_transmitterAuthorized = authorized;
        emit transmitterAuthorizationChanged(authorized);
    }
    if (m_deviceIdTimer)
        m_deviceIdTimer->stop();
    // A device the allow-list rejects gets no further frame.
    if (m_running && !isTransmitterCleared()) {
        stopTransmissionWithoutHold();
        emit errorOccurred(tr("Transmission stopped: the transmitter on %1 is not authorized.").arg(serialPortName()));
    }
}

} // namespace corvane
