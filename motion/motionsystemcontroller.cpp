#include "motion/motionsystemcontroller.h"

#include "platform/serial/seriallinestate.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"

#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr std::array<int, 6> IdentitySlots { 0, 1, 2, 3, 4, 5 };

void appendU16(QByteArray &out, int value)
{
    out.append(char((value >> 8) & 0xFF));
    out.append(char(value & 0xFF));
}

QByteArray command(char letter)
{
    return QByteArray(1, letter);
}

// 'T' and 'V' carry "all actuators" as 0xFF and any other axis as its low byte.
char axisByte(int axis)
{
    return axis < 0 ? char(0xFF) : char(axis & 0xFF);
}

const QRegularExpression &axisItemPattern()
{
    static const QRegularExpression pattern(QStringLiteral("ax(\\d+)=(-?\\d+)mm"));
    return pattern;
}

const QRegularExpression &sleepItemPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\bslp=([-adz])"));
    return pattern;
}

const QRegularExpression &settingsEchoPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("i=(\\d+)\\s+t=(\\d+)\\s+s=(\\d+)\\s+a=(\\d+)\\s+p=(\\d+)(?:\\s+st=(\\d+))?"));
    return pattern;
}

const QRegularExpression &mapEchoPattern()
{
    static const QRegularExpression pattern(QStringLiteral("#MAP((?:\\s+[0-9-])+)#"));
    return pattern;
}

// Motion channel coefficients of a host-driven test for one DOF.
std::array<double, 6> dofCoefficients(int platformKind, int dof)
{
    if (platformKind == 2) {
        if (dof == 0)
            return { 1, 1, 0, 0, 0, 0 };
        if (dof == 1)
            return { 1, -1, 0, 0, 0, 0 };
        return {};
    }
    switch (dof) {
    case MotionSystemController::Surge: return { 0, 0, 0, 0, 0, 1 };
    case MotionSystemController::Yaw: return { 0, 0, 0, 0, 1, 0 };
    case MotionSystemController::Pitch: return { -1, -1, 1, 1, 0, 0 };
    case MotionSystemController::Roll: return { 1, -1, 1, -1, 0, 0 };
    case MotionSystemController::Heave: return { 1, 1, 1, 1, 0, 0 };
    default: return {};
    }
}

} // namespace

MotionSystemController::MotionSystemController(QObject *parent)
    : QObject(parent)
    , m_port(new QSerialPort(this))
    , m_firstHeartbeatTimer(new QTimer(this))
    , m_heartbeatWatchdog(new QTimer(this))
    , m_testTick(new QTimer(this))
    , m_boardTestWatchdog(new QTimer(this))
    , m_stageTimer(new QTimer(this))
{
    m_firstHeartbeatTimer->setSingleShot(true);
    m_firstHeartbeatTimer->setInterval(FirstHeartbeatMs);
    m_heartbeatWatchdog->setSingleShot(true);
    m_heartbeatWatchdog->setInterval(HeartbeatTimeoutMs);
    m_testTick->setInterval(TestTickMs);
    m_testTick->setTimerType(Qt::PreciseTimer);
    m_boardTestWatchdog->setSingleShot(true);
    m_stageTimer->setSingleShot(true);
    m_stageTimer->setInterval(StagePauseMs);
    m_firstHeartbeatTimer->setTimerType(Qt::PreciseTimer);
    m_heartbeatWatchdog->setTimerType(Qt::PreciseTimer);
    m_boardTestWatchdog->setTimerType(Qt::PreciseTimer);
    m_stageTimer->setTimerType(Qt::PreciseTimer);

    connect(m_port, &QSerialPort::readyRead, this, &MotionSystemController::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &MotionSystemController::onPortError);
    connect(m_testTick, &QTimer::timeout, this, &MotionSystemController::onTestTick);
    connect(m_boardTestWatchdog, &QTimer::timeout, this, &MotionSystemController::onBoardTestTimeout);
    connect(m_stageTimer, &QTimer::timeout, this, &MotionSystemController::runFullTestStage);
    connect(m_firstHeartbeatTimer, &QTimer::timeout, this, &MotionSystemController::onFirstHeartbeatTimeout);
    connect(m_heartbeatWatchdog, &QTimer::timeout, this, &MotionSystemController::onHeartbeatTimeout);
    m_store = new SettingsFile(QStringLiteral("MotionSystem"), this);
    connect(m_store, &SettingsFile::written, this, [this](quint64 ticket, bool ok) {
        m_settingsStored = ok;
        if (!ok)
            emit errorOccurred(tr("Failed to save the platform settings"));
        emit settingsWritten(ticket, ok);
    });
    // A hand edit or a tool changed them: the platform runs on what the file holds, as it would
    // after the next start.
    connect(m_store, &SettingsFile::changedOnDisk, this, [this] {
        const MotionSystemSettings before = m_settings;
        loadSettings();
        if (m_settings == before)
            return;
        sendSettings();
        emit settingsApplied(m_settings);
    });
    loadSettings();
}

MotionSystemController::~MotionSystemController()
{
    // Its owner is going down too: what it would announce could reach a half-destroyed window.
    const QSignalBlocker quiet(this);
    disconnectPort();
}

QString MotionSystemController::dofName(int dof)
{
    switch (dof) {
    case Surge: return tr("Surge");
    case Yaw: return tr("Yaw");
    case Pitch: return tr("Pitch");
    case Roll: return tr("Roll");
    case Heave: return tr("Heave");
    default: return QString();
    }
}

QString MotionSystemController::channelName(int channel, int platformKind)
{
    if (platformKind == 2)
        return tr("Sim channel %1").arg(channel + 1);
    switch (channel) {
    case 0: return tr("Front left");
    case 1: return tr("Front right");
    case 2: return tr("Rear left");
    case 3: return tr("Rear right");
    case 4: return tr("Yaw");
    case 5: return tr("Surge");
    default: return QString();
    }
}

int MotionSystemController::actuatorCount(int platformKind)
{
    return platformKind == 2 ? 2 : platformKind == 3 ? 4 : 6;
}

QString MotionSystemController::portText(const SerialPortEntry &port)
{
    const bool board = port.vendorId == 0x0483 || port.description.contains(QLatin1String("STLink"), Qt::CaseInsensitive)
                       || port.description.contains(QLatin1String("STM32"), Qt::CaseInsensitive);
    if (board)
        return port.portName + QStringLiteral(" \u2014 ") + tr("QOR Motion Controller");
    if (!port.description.isEmpty())
        return port.portName + QStringLiteral(" \u2014 ") + port.description;
    return port.portName;
}

bool MotionSystemController::isConnected() const
{
    return m_port->isOpen();
}

void MotionSystemController::setPlatformDof(int dof)
{
    if (dof == 2 || dof == 3 || dof == 5)
        m_platformKind = dof;
}

bool MotionSystemController::connectPort(const QString &portName)
{
    disconnectPort();
    m_losingPort = false;
    m_port->setPortName(portName);
    m_port->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        // Qt names a port this user may not open and one another program holds alike.
        QString message;
        if (m_port->error() == QSerialPort::PermissionError) {
            message = serialPortAccessDeniedMessage(portName);
            if (message.isEmpty())
                message = tr("%1 is in use by another program (PuTTY? a test script?). Close it and connect again.")
                              .arg(portName);
        } else {
            message = tr("Failed to open %1: %2").arg(portName, m_port->errorString());
        }
        m_port->clearError();
        reportLinkProblem(message);
        return false;
    }
    // A line without modem control refuses DTR and RTS; the board does not need them.
    const bool dtrLow = m_port->setDataTerminalReady(false);
    const bool rtsLow = m_port->setRequestToSend(false);
    if (!dtrLow || !rtsLow)
        m_port->clearError();

    m_rxBuffer.clear();
    m_state.clear();
    m_mapConfirmed = false;
    m_sleepFlag = QLatin1Char('?');
    m_livePositions = false;
    emit connectedChanged(true);
    emit statusLine(tr("Connected to %1 \u2014 waiting for heartbeat\u2026").arg(portName));
    m_waitingFirstHeartbeat = true;
    m_firstHeartbeatTimer->start();
    return true;
}

void MotionSystemController::disconnectPort()
{
    if (m_testTick->isActive()) {
        m_testTick->stop();
        emit testFinished();
    }
    m_waitingFirstHeartbeat = false;
    m_firstHeartbeatTimer->stop();
    m_heartbeatWatchdog->stop();
    if (m_boardTestRunning) {
        m_boardTestRunning = false;
        m_boardTestWatchdog->stop();
    }
    stopFullTest();
    if (m_port->isOpen()) {
        m_port->close();
        emit connectedChanged(false);
        emit statusLine(tr("Disconnected"));
    }
    m_state.clear();
}

void MotionSystemController::loadSettings()
{
    const SettingsFile &store = *m_store;
    MotionSystemSettings s = m_settings;
    s.intensity = store.value(QStringLiteral("intensity"), s.intensity).toInt();
    s.travelMm = store.value(QStringLiteral("travelMm"), s.travelMm).toInt();
    s.speedPct = store.value(QStringLiteral("speedPct"), s.speedPct).toInt();
    s.accelPct = store.value(QStringLiteral("accelPct"), s.accelPct).toInt();
    s.parkMm = store.value(QStringLiteral("parkMm"), s.parkMm).toInt();
    s.strokeMm = store.value(QStringLiteral("strokeMm"), s.strokeMm).toInt();
    const QStringList parts =
        store.value(QStringLiteral("actuatorSlots")).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (parts.size() == int(s.actuatorSlots.size())) {
        for (size_t k = 0; k < s.actuatorSlots.size(); ++k)
            s.actuatorSlots[k] = parts.at(qsizetype(k)).toInt();
    }
    s.sleepEnabled = store.value(QStringLiteral("sleepEnabled"), s.sleepEnabled).toBool();
    s.sleepSeconds = store.value(QStringLiteral("sleepSeconds"), s.sleepSeconds).toInt();
    m_settings = clampMotionSettings(s);
}

quint64 MotionSystemController::saveSettings(const QStringList &keys)
{
    const QVariantMap values = motionSettingsValues(m_settings);
    QVariantMap changed;
    for (const QString &key : keys)
        changed.insert(key, values.value(key));
    return m_store->setValues(QString(), changed);
}

quint64 MotionSystemController::applySettings(const MotionSystemSettings &settings, const QStringList &keys)
{
    m_settings = clampMotionSettings(settings);
    // What the limits changed is set as well.
    const quint64 ticket = saveSettings(keys + changedMotionSettings(settings, m_settings));
    sendSettings();
    emit settingsApplied(m_settings);
    return ticket;
}

void MotionSystemController::sendSettings()
{
    QByteArray stroke = command('S');
    appendU16(stroke, m_settings.strokeMm);
    sendFrame(stroke);
    QByteArray config = command('C');
    for (int value : { m_settings.intensity, m_settings.travelMm, m_settings.speedPct, m_settings.accelPct, m_settings.parkMm })
        appendU16(config, value);
    sendFrame(config);
    sendActuatorMap();
    QByteArray sleep = command('I');
    sleep.append(char(m_settings.sleepEnabled ? 1 : 0));
    appendU16(sleep, m_settings.sleepSeconds);
    sendFrame(sleep);
}

void MotionSystemController::sendFrame(const QByteArray &payload)
{
    if (!m_port->isOpen())
        return;
    QByteArray frame;
    frame.reserve(payload.size() + 3);
    frame.append('P');
    frame.append(payload);
    frame.append("!!", 2);
    m_port->write(frame);
}

void MotionSystemController::sendActuatorMap()
{
    QByteArray map = command('A');
    for (int channel = 0; channel < 6; ++channel) {
        char actuator = char(0xFF);
        for (size_t k = 0; k < m_settings.actuatorSlots.size(); ++k) {
            if (m_settings.actuatorSlots[k] == channel)
                actuator = char(k);
        }
        map.append(actuator);
    }
    const bool wasConfirmed = m_mapConfirmed;
    m_mapConfirmed = false;
    if (wasConfirmed)
        emit mapConfirmedChanged(false);
    sendFrame(map);
}

void MotionSystemController::sendPositions(const std::array<quint16, 6> &positions)
{
    QByteArray frame = command('6');
    for (quint16 position : positions)
        appendU16(frame, position);
    sendFrame(frame);
}

void MotionSystemController::sendBoardTest(int axis, int travelPct, int hzX100, int seconds)
{
    const int clampedSeconds = std::clamp(seconds, 1, 30);
    QByteArray frame = command('T');
    frame.append(axisByte(axis));
    frame.append(char(std::clamp(travelPct, 5, 100)));
    appendU16(frame, std::clamp(hzX100, 10, 300));
    frame.append(char(clampedSeconds));
    sendFrame(frame);
    m_boardTestRunning = true;
    m_boardTestWatchdog->start(clampedSeconds * 1000 + 2500);
}

bool MotionSystemController::moveAxis(int axis, int mm)
{
    if (!m_port->isOpen() || m_testTick->isActive() || m_state != QLatin1String("ready") || axis < 0 || axis >= 6)
        return false;
    QByteArray frame = command('M');
    frame.append(char(axis));
    appendU16(frame, std::clamp(mm, 0, m_settings.strokeMm));
    sendFrame(frame);
    return true;
}

void MotionSystemController::home()
{
    if (m_testTick->isActive()) {
        emit errorOccurred(tr("Test running \u2014 wait for it to finish"));
        return;
    }
    sendFrame(command('H'));
    emit statusLine(tr("Homing requested"));
}

void MotionSystemController::requestCalibration()
{
    if (m_testTick->isActive()) {
        emit errorOccurred(tr("Test running \u2014 wait for it to finish"));
        return;
    }
    sendFrame(command('Z'));
}

void MotionSystemController::release()
{
    m_testTick->stop();
    m_boardTestRunning = false;
    m_boardTestWatchdog->stop();
    stopFullTest();
    emit testFinished();
    sendFrame(command('R'));
    emit statusLine(tr("Release requested \u2014 motion disabled, Home to resume"));
}

bool MotionSystemController::isBusy() const
{
    return m_testTick->isActive() || m_boardTestRunning || m_fullTestRunning;
}

bool MotionSystemController::passesTestGate(bool hostTest)
{
    QString refusal;
    if (!m_port->isOpen()) {
        refusal = tr("Not connected");
    } else if (isBusy()) {
        refusal = tr("Test already running");
    } else if (hostTest && m_state.isEmpty()) {
        refusal = tr("Waiting for controller status (heartbeat) \u2014 try again in a moment");
    } else if (m_state != QLatin1String("ready")) {
        if (hostTest) {
            const QString advice = m_state == QLatin1String("FAIL") ? tr(" (use Auto Home after fixing the cause)") : QString();
            refusal = tr("Controller is in \"%1\" state \u2014 tests need \"ready\"%2").arg(m_state, advice);
        } else {
            refusal = tr("Controller is in \"%1\" state \u2014 tests need \"ready\"").arg(m_state);
        }
    }
    if (refusal.isEmpty())
        return true;
    emit errorOccurred(refusal);
    return false;
}

bool MotionSystemController::startBoardTest(int axis, int travelPct, int hzX100, int seconds)
{
    if (!passesTestGate(false))
        return false;
    sendBoardTest(axis, travelPct, hzX100, seconds);
    emit testStarted(Heave, travelPct);
    return true;
}

bool MotionSystemController::vibrate(int axis, int amplitude, int hz, int seconds)
{
    if (!passesTestGate(false))
        return false;
    const int clampedSeconds = std::clamp(seconds, 1, 30);
    QByteArray frame = command('V');
    frame.append(axisByte(axis));
    frame.append(char(std::clamp(amplitude, 1, 50)));
    frame.append(char(std::clamp(hz, 5, 80)));
    frame.append(char(clampedSeconds));
    sendFrame(frame);
    m_boardTestRunning = true;
    m_boardTestWatchdog->start(clampedSeconds * 1000 + 2500);
    emit testStarted(Heave, 0);
    return true;
}

bool MotionSystemController::startDofTest(int dof, int travelPct, int hzX100, int seconds)
{
    // Heave on a 3-DOF rig and the first DOF of a 2-DOF rig move every actuator together:
    // the board runs that itself.
    if ((m_platformKind == 2 && dof == 0) || (m_platformKind == 3 && dof == Heave))
        return startBoardTest(-1, travelPct, hzX100, seconds);
    if (!m_mapConfirmed && m_settings.actuatorSlots != IdentitySlots)
        emit statusLine(tr("! Actuator positions not confirmed by the controller \u2014 %1 may move the wrong actuators. Flash the latest firmware.")
                            .arg(dofName(dof)));
    return startHostTest(dof, travelPct, hzX100, seconds);
}

bool MotionSystemController::startHostTest(int dof, int travelPct, int hzX100, int seconds)
{
    if (!passesTestGate(true))
        return false;
    const int travel = std::clamp(travelPct, 1, 100);
    startHostTicking(dof, travel, std::clamp(hzX100, 10, 300) / 100.0, std::clamp(seconds, 1, 30) * 1000);
    emit testStarted(dof, travel);
    emit statusLine(tr("Testing %1 \u2014 travel %2%, %3 Hz, %4 s")
                        .arg(dofName(dof))
                        .arg(travel)
                        .arg(m_testHz, 0, 'f', 2)
                        .arg(m_testDurationMs / 1000));
    return true;
}

void MotionSystemController::startHostTicking(int dof, int travelPct, double hz, int durationMs)
{
    m_testDof = dof;
    m_testTravelPct = travelPct;
    m_testHz = hz;
    m_testDurationMs = durationMs;
    m_testElapsedMs = 0;
    m_testTick->start();
}

void MotionSystemController::onTestTick()
{
    m_testElapsedMs += TestTickMs;
    if (m_testElapsedMs >= m_testDurationMs) {
        sendPositions({ ParkPosition, ParkPosition, ParkPosition, ParkPosition, ParkPosition, ParkPosition });
        m_testTick->stop();
        if (m_hostStageRunning) {
            m_hostStageRunning = false;
            m_stageTimer->start();
        } else {
            emit statusLine(tr("Test finished \u2014 recentered to park"));
            emit testFinished();
        }
        return;
    }
    const double t = m_testElapsedMs / 1000.0;
    const double ramp = std::min(m_testDurationMs / 4000.0, 0.6);
    const double envelope =
        ramp > 0 ? std::clamp(std::min((m_testDurationMs - m_testElapsedMs) / 1000.0, t) / ramp, 0.0, 1.0) : 1.0;
    const double s = std::sin(2.0 * M_PI * m_testHz * t);
    const double amplitude = m_testTravelPct / 100.0 * envelope * 32767.0;
    const std::array<double, 6> c = dofCoefficients(m_platformKind, m_testDof);
    std::array<quint16, 6> positions {};
    for (size_t i = 0; i < positions.size(); ++i) {
        const double value = std::trunc(c[i] * amplitude * s + 32767.0);
        positions[i] = quint16(std::clamp(value, 0.0, 65535.0));
    }
    sendPositions(positions);
}

bool MotionSystemController::startFullSystemTest(int minutes)
{
    if (!passesTestGate(false))
        return false;
    const int clampedMinutes = std::clamp(minutes, 1, 30);
    m_fullTestLengthMs = clampedMinutes * 60000;
    m_fullTestClock.start();
    m_stageQueue.clear();
    m_fullTestRunning = true;
    emit testStarted(Heave, 100);
    emit statusLine(tr("Full system test started \u2014 %1 min").arg(clampedMinutes));
    runFullTestStage();
    return true;
}

void MotionSystemController::runFullTestStage()
{
    if (!m_fullTestRunning)
        return;
    if (m_state != QLatin1String("ready")) {
        stopFullTest();
        emit statusLine(tr("Full system test stopped (controller left ready state)"));
        emit testFinished();
        return;
    }
    const qint64 elapsed = fullTestElapsedMs();
    if (elapsed >= m_fullTestLengthMs) {
        m_fullTestRunning = false;
        emit statusLine(tr("Full system test complete"));
        emit testFinished();
        return;
    }
    if (m_stageQueue.isEmpty()) {
        const int actuators = actuatorCount(m_platformKind);
        for (int a = 0; a < actuators; ++a)
            m_stageQueue.append({ false, Heave, a, 80, 50, 8 });
        for (int a = 0; a < actuators; ++a)
            m_stageQueue.append({ false, Heave, a, 30, 200, 5 });
        m_stageQueue.append({ false, Heave, -1, 60, 100, 8 });
        m_stageQueue.append({ false, Heave, -1, 25, 250, 5 });
        if (m_platformKind == 2) {
            m_stageQueue.append({ true, Yaw, -1, 60, 100, 8 });
            m_stageQueue.append({ true, Yaw, -1, 30, 200, 5 });
        } else {
            m_stageQueue.append({ true, Pitch, -1, 60, 100, 8 });
            m_stageQueue.append({ true, Roll, -1, 60, 100, 8 });
        }
    }
    const MotionFullTestStage stage = m_stageQueue.takeFirst();
    const int remaining = int((m_fullTestLengthMs - elapsed) / 1000);
    const int seconds = std::clamp(std::min(stage.seconds, remaining), 1, 30);
    QString label;
    if (stage.hostDriven)
        label = m_platformKind == 2 && stage.dof == Yaw ? tr("traction loss (opposed)") : dofName(stage.dof);
    else
        label = stage.axis == -1 ? tr("all actuators") : tr("actuator %1").arg(stage.axis + 1);
    emit statusLine(tr("Full test [%1:%2 left]: %3 \u2014 travel %4%, %5 Hz, %6 s")
                        .arg(remaining / 60)
                        .arg(remaining % 60, 2, 10, QLatin1Char('0'))
                        .arg(label)
                        .arg(stage.travelPct)
                        .arg(stage.hzX100 / 100.0, 0, 'f', 2)
                        .arg(seconds));
    if (stage.hostDriven) {
        m_hostStageRunning = true;
        startHostTicking(stage.dof, stage.travelPct, stage.hzX100 / 100.0, seconds * 1000);
    } else {
        sendBoardTest(stage.axis, stage.travelPct, stage.hzX100, seconds);
    }
}

void MotionSystemController::stopFullTest()
{
    if (m_hostStageRunning) {
        m_hostStageRunning = false;
        m_testTick->stop();
    }
    m_fullTestRunning = false;
    m_stageQueue.clear();
    m_stageTimer->stop();
}

void MotionSystemController::finishControllerTest(const QString &status)
{
    m_boardTestRunning = false;
    m_boardTestWatchdog->stop();
    emit statusLine(status);
    if (m_fullTestRunning)
        m_stageTimer->start();
    else
        emit testFinished();
}

void MotionSystemController::onBoardTestTimeout()
{
    if (m_boardTestRunning)
        finishControllerTest(tr("Board test assumed finished (no #TST done# seen)"));
}

void MotionSystemController::onReadyRead()
{
    m_rxBuffer.append(m_port->readAll());
    qsizetype newline;
    while ((newline = m_rxBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromLatin1(m_rxBuffer.constData(), newline).trimmed();
        m_rxBuffer.remove(0, newline + 1);
        if (!line.isEmpty())
            parseLine(line);
    }
    if (m_rxBuffer.size() > ReceiveBufferLimit)
        m_rxBuffer.clear();
}

void MotionSystemController::parseLine(const QString &line)
{
    if (line.startsWith(QLatin1Char('[')))
        parseHeartbeat(line);
    else if (line.startsWith(QLatin1String("@P")))
        parsePositions(line);
    else if (line.contains(QLatin1String("#TST"))) {
        if (line.contains(QLatin1String("done")) && m_boardTestRunning)
            finishControllerTest(line);
        else
            emit statusLine(line);
    } else if (line.contains(QLatin1String("#CFG")))
        parseSettingsEcho(line);
    else if (line.contains(QLatin1String("#MAP")))
        parseMapEcho(line);
    else
        emit statusLine(line);
}

void MotionSystemController::parseHeartbeat(const QString &line)
{
    m_heartbeatWatchdog->start();
    const qsizetype close = line.indexOf(QLatin1Char(']'));
    if (close >= 2) {
        const QString state = line.mid(1, close - 1);
        if (state != m_state) {
            m_state = state;
            emit controllerStateChanged(m_state);
        }
    }
    if (m_waitingFirstHeartbeat)
        runFirstHeartbeatActions();

    QMap<int, int> positions;
    QRegularExpressionMatchIterator items = axisItemPattern().globalMatch(line);
    while (items.hasNext()) {
        const QRegularExpressionMatch item = items.next();
        bool axisOk = false;
        bool mmOk = false;
        const int axis = item.captured(1).toInt(&axisOk);
        const int mm = item.captured(2).toInt(&mmOk);
        if (axisOk && mmOk)
            positions.insert(axis, mm);
    }
    if (!positions.isEmpty()) {
        m_positions = positions;
        emit axisPositionsUpdated(m_positions);
    }

    const QRegularExpressionMatch sleep = sleepItemPattern().match(line);
    const QChar flag = sleep.hasMatch() ? sleep.captured(1).at(0) : QLatin1Char('?');
    if (flag != m_sleepFlag) {
        m_sleepFlag = flag;
        emit sleepFlagChanged(flag);
    }
    emit heartbeat(line);
}

void MotionSystemController::parsePositions(const QString &line)
{
    const QStringList tokens = line.mid(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QMap<int, int> positions;
    for (int i = 0; i < std::min<int>(int(tokens.size()), 6); ++i) {
        bool ok = false;
        const int value = tokens.at(i).toInt(&ok, 10);
        if (ok)
            positions.insert(i, value);
    }
    if (positions.isEmpty())
        return;
    m_livePositions = true;
    m_positions = positions;
    emit axisPositionsUpdated(m_positions);
}

void MotionSystemController::parseSettingsEcho(const QString &line)
{
    const QRegularExpressionMatch match = settingsEchoPattern().match(line);
    if (match.hasMatch()) {
        // The board reports what it runs with; it is kept as sent.
        MotionSystemSettings s = m_settings;
        s.intensity = match.captured(1).toInt();
        s.travelMm = match.captured(2).toInt();
        s.speedPct = match.captured(3).toInt();
        s.accelPct = match.captured(4).toInt();
        s.parkMm = match.captured(5).toInt();
        QStringList echoed{QStringLiteral("intensity"), QStringLiteral("travelMm"), QStringLiteral("speedPct"),
                           QStringLiteral("accelPct"), QStringLiteral("parkMm")};
        if (match.capturedStart(6) >= 0) {
            s.strokeMm = match.captured(6).toInt();
            echoed.append(QStringLiteral("strokeMm"));
        }
        m_settings = s;
        saveSettings(echoed);
        emit settingsEchoed(m_settings);
    }
    emit statusLine(line);
}

void MotionSystemController::parseMapEcho(const QString &line)
{
    bool confirmed = false;
    const QRegularExpressionMatch match = mapEchoPattern().match(line);
    if (match.hasMatch()) {
        const QStringList tokens = match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (tokens.size() == 6) {
            confirmed = true;
            for (int channel = 0; channel < 6 && confirmed; ++channel) {
                const auto first = std::find(m_settings.actuatorSlots.begin(), m_settings.actuatorSlots.end(), channel);
                const int expected = int(first - m_settings.actuatorSlots.begin());
                const QString &token = tokens.at(channel);
                const int echoed = token == QLatin1String("-") ? 0 : token.toInt();
                confirmed = echoed == expected;
            }
        }
    }
    if (confirmed != m_mapConfirmed) {
        m_mapConfirmed = confirmed;
        emit mapConfirmedChanged(confirmed);
    }
    if (!confirmed)
        emit errorOccurred(tr("Controller did not take the actuator map (%1)").arg(line));
    emit statusLine(line);
}

void MotionSystemController::runFirstHeartbeatActions()
{
    m_waitingFirstHeartbeat = false;
    m_firstHeartbeatTimer->stop();
    emit statusLine(tr("Controller alive \u2014 state [%1]").arg(m_state));
    applySettings(m_settings, {});
    sendFrame(command('Q'));
    QTimer::singleShot(MapResendMs, Qt::PreciseTimer, this, &MotionSystemController::onMapResendTimeout);
}

void MotionSystemController::onMapResendTimeout()
{
    if (m_port->isOpen() && !m_mapConfirmed)
        sendActuatorMap();
}

void MotionSystemController::onFirstHeartbeatTimeout()
{
    if (!m_waitingFirstHeartbeat)
        return;
    reportLinkProblem(tr("No heartbeat from the controller within 3.5 s \u2014 wrong port, or the ST-LINK is wedged (unplug and replug the USB)."));
}

void MotionSystemController::onHeartbeatTimeout()
{
    if (!m_port->isOpen())
        return;
    m_state.clear();
    emit controllerStateChanged(m_state);
    reportLinkProblem(tr("Heartbeats stopped \u2014 link may be wedged (unplug and replug the USB if it persists)."));
}

void MotionSystemController::reportLinkProblem(const QString &reason)
{
    emit linkProblem(reason);
    emit errorOccurred(reason);
}

void MotionSystemController::onPortError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || m_losingPort || !m_port->isOpen())
        return;
    // A vanished device shows here as a hang-up with read errors rather than as a resource error.
    if (error == QSerialPort::ResourceError || serialLineHungUp(*m_port)) {
        closeForLostPort();
        return;
    }
    if (error == QSerialPort::WriteError || error == QSerialPort::TimeoutError)
        emit errorOccurred(tr("Serial writes failing \u2014 this is the known ST-LINK USB wedge. Unplug and replug the controller USB."));
    m_port->clearError();
}

// The port is still inside its own notification here: it is closed once the event loop is back,
// and the repeats of the error until then are ignored.
void MotionSystemController::closeForLostPort()
{
    m_losingPort = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_losingPort)
                return;
            m_losingPort = false;
            if (!m_port->isOpen())
                return;
            disconnectPort();
            reportLinkProblem(tr("Motion controller disconnected (port lost)"));
        },
        Qt::QueuedConnection);
}

} // namespace corvane
