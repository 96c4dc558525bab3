#include "bridge/receiverelrslink.h"

#include <QDebug>
#include <QTimer>

#include "bridge/corvanecontroller.h"
#include "bridge/crsfprotocol.h"

namespace corvane {

namespace {

// Wait after each ping of a search; the pings go out at 0, 1.5, 4.5, 9.5 and 17.5 s.
constexpr int kSearchWaitsMs[ReceiverElrsLink::SearchAttempts] = { 1500, 3000, 5000, 8000, 3000 };
// Name, serial, hardware id, firmware id and parameter total follow the name's zero byte.
constexpr int kDeviceInfoTail = 13;
constexpr int kQor4MinParameters = 14;
constexpr quint8 kTypeTextSelection = 9;
constexpr quint8 kTypeInfo = 12;
constexpr quint8 kTypeCommand = 13;
constexpr quint8 kHiddenFlag = 0x80;

// Field list of a V4 receiver; the optional fields join by parameter count.
constexpr quint8 kQor4Fields[] = { 14, 1, 3, 4, 7, 8, 9, 10, 12, 5 };
constexpr quint8 kMotionSensorsField = 15;
constexpr quint8 kHudFields[] = { 18, 19, 20 };
constexpr quint8 kModeField = 21;
constexpr quint8 kQor1Field = 1;

} // namespace

ReceiverElrsLink::ReceiverElrsLink(CorvaneController *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_searchTimer(new QTimer(this))
    , m_requestTimer(new QTimer(this))
    , m_watchdog(new QTimer(this))
    , m_retryTimer(new QTimer(this))
{
    m_searchTimer->setSingleShot(true);
    m_requestTimer->setSingleShot(true);
    m_requestTimer->setInterval(RequestTimeoutMs);
    m_watchdog->setInterval(WatchdogIntervalMs);
    m_retryTimer->setSingleShot(true);
    m_searchTimer->setTimerType(Qt::PreciseTimer);
    m_requestTimer->setTimerType(Qt::PreciseTimer);
    m_watchdog->setTimerType(Qt::PreciseTimer);
    m_retryTimer->setTimerType(Qt::PreciseTimer);

    connect(m_searchTimer, &QTimer::timeout, this, &ReceiverElrsLink::onSearchTimeout);
    connect(m_requestTimer, &QTimer::timeout, this, &ReceiverElrsLink::onRequestTimeout);
    connect(m_retryTimer, &QTimer::timeout, this, &ReceiverElrsLink::onRetryTimer);
    connect(m_watchdog, &QTimer::timeout, this, &ReceiverElrsLink::onWatchdog);
    connect(controller, &CorvaneController::crsfFrameReceived, this, &ReceiverElrsLink::onCrsfFrame);
    connect(controller, &CorvaneController::runningChanged, this, &ReceiverElrsLink::onRunningChanged);
    connect(controller, &CorvaneController::linkStatisticsUpdated, this, &ReceiverElrsLink::onLinkStatistics);
    connect(controller, &CorvaneController::carLinkChanged, this, &ReceiverElrsLink::onCarLinkChanged);
}

ReceiverElrsLink::~ReceiverElrsLink() = default;

bool ReceiverElrsLink::canTransmit() const
{
    return m_controller->isRunning() && !m_controller->isConfigMode();
}

void ReceiverElrsLink::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}

void ReceiverElrsLink::startSearch()
{
    if (!canTransmit() || (m_state != Idle && m_state != Searching))
        return;
    m_stopReason = StopNone;
    m_attempts = 0;
    m_lastHeard.restart();
    if (m_state != Searching) {
        setState(Searching);
        // A listener may have stopped the search already.
        if (m_state != Searching)
            return;
    }
    attemptStep();
}

void ReceiverElrsLink::attemptStep()
{
    if (m_attempts < SearchAttempts) {
        m_controller->serialWrite(CrsfProtocol::buildDevicePing(BroadcastAddress, HandsetAddress));
        m_searchTimer->start(kSearchWaitsMs[m_attempts]);
        ++m_attempts;
        return;
    }
    qInfo().noquote() << "[RX-ELRS] no QOR receiver answered (firmware older than 4.3.0?) - retry in"
                      << QStringLiteral("%1s").arg(m_retryIntervalMs / 1000);
    stop(StopNoReceiver);
    if (m_retryIntervalMs > 0)
        m_retryTimer->start(m_retryIntervalMs);
}

void ReceiverElrsLink::onSearchTimeout()
{
    if (m_state == Searching)
        attemptStep();
}

void ReceiverElrsLink::onRetryTimer()
{
    if (m_state != Idle || m_stopReason == StopNone || !m_controller->isCarLinked())
        return;
    qInfo().noquote() << "[RX-ELRS] searching again";
    startSearch();
}

void ReceiverElrsLink::stop(quint8 reason)
{
    // The direct write in flight ends unanswered, announced once everything is cleared so that
    // a listener may start the next one.
    const bool directWriteEnded = m_directWriteInFlight;
    m_directWriteInFlight = false;
    m_searchTimer->stop();
    m_requestTimer->stop();
    m_watchdog->stop();
    m_retryTimer->stop();
    m_queue.clear();
    m_busy = false;
    m_chunkBuffer.clear();
    m_values.clear();
    m_texts.clear();
    m_firmware.clear();
    m_parameterCount = 0;
    m_isQor1 = false;
    if (m_state != Idle || m_stopReason != reason) {
        m_state = Idle;
        m_stopReason = reason;
        emit stateChanged();
    }
    if (directWriteEnded)
        emit directWriteDone(m_current.field, false, -1);
}

void ReceiverElrsLink::noteCarAlive()
{
    m_lastHeard.restart();
    if (m_state == Idle && m_stopReason == StopNone)
        startSearch();
}

void ReceiverElrsLink::readParameters()
{
    if (!isReachable()) {
        startSearch();
        return;
    }
    QList<quint8> fields;
    if (m_isQor1) {
        fields.append(kQor1Field);
    } else {
        for (quint8 field : kQor4Fields)
            fields.append(field);
        if (m_parameterCount >= kMotionSensorsField)
            fields.append(kMotionSensorsField);
        if (m_parameterCount >= kHudFields[2]) {
            for (quint8 field : kHudFields)
                fields.append(field);
        }
        if (m_parameterCount >= kModeField)
            fields.append(kModeField);
    }
    for (quint8 field : std::as_const(fields)) {
        if (isQueuedRead(field))
            continue;
        m_queue.append(Request { Read, field, 0, 0 });
        sendNext();
    }
}

bool ReceiverElrsLink::isQueuedRead(quint8 field) const
{
    for (const Request &request : m_queue) {
        if (request.kind == Read && request.field == field)
            return true;
    }
    return false;
}

void ReceiverElrsLink::readParameter(quint8 field)
{
    if (!isReachable() || isQueuedRead(field))
        return;
    if (m_busy && m_current.kind == Read && m_current.field == field)
        return;
    m_queue.append(Request { Read, field, 0, 0 });
    sendNext();
}

void ReceiverElrsLink::writeParameter(quint8 field, quint8 value)
{
    if (!isReachable())
        return;
    m_queue.removeIf([field](const Request &r) { return r.kind == Write && r.field == field; });
    qsizetype at = 0;
    while (at < m_queue.size() && m_queue.at(at).kind == Write)
        ++at;
    m_queue.insert(at, Request { Write, field, value, 0 });
    sendNext();
}

bool ReceiverElrsLink::directWrite(quint8 field, quint8 value)
{
    if (!canTransmit() || m_state != Idle || m_busy)
        return false;
    m_directWriteInFlight = true;
    startRequest(Request { Write, field, value, 0 });
    return true;
}

void ReceiverElrsLink::sendNext()
{
    if (m_busy)
        return;
    if (m_queue.isEmpty()) {
        emit idle();
        return;
    }
    startRequest(m_queue.takeFirst());
}

void ReceiverElrsLink::startRequest(const Request &request)
{
    m_current = request;
    m_tries = request.tries;
    m_busy = true;
    m_chunkBuffer.clear();
    sendRequest();
    m_requestTimer->start();
}

void ReceiverElrsLink::sendRequest()
{
    switch (m_current.kind) {
    case Ping:
        m_controller->serialWrite(CrsfProtocol::buildDevicePing(BroadcastAddress, HandsetAddress));
        break;
    case Read:
        m_controller->serialWrite(
            CrsfProtocol::buildParameterRead(m_current.field, m_current.arg, ReceiverAddress, ConfigToolAddress));
        break;
    case Write:
        m_controller->serialWrite(CrsfProtocol::buildParameterWrite(m_current.field, QByteArray(1, char(m_current.arg)),
                                                                    ReceiverAddress, ConfigToolAddress));
        break;
    default:
        break;
    }
}

void ReceiverElrsLink::onCrsfFrame(quint8 frameType, const QByteArray &payload)
{
    if (frameType != CrsfProtocol::FrameDeviceInfo && frameType != CrsfProtocol::FrameParameterEntry)
        return;
    if (payload.size() < 2 || quint8(payload.at(1)) != ReceiverAddress)
        return;
    if (frameType == CrsfProtocol::FrameDeviceInfo)
        onDeviceInfo(payload.mid(2));
    else
        onParameterEntry(payload.mid(2));
}

void ReceiverElrsLink::onDeviceInfo(const QByteArray &data)
{
    const qsizetype zero = data.indexOf('\0');
    const QString name = QString::fromLatin1(data.left(zero < 0 ? data.size() : zero));
    const qsizetype pos = zero + 1;
    if (zero < 0 || data.size() < pos + kDeviceInfoTail) {
        qInfo().noquote() << "[RX-ELRS] DEVICE_INFO of" << data.size() << "bytes dropped: too short";
        return;
    }
    const QByteArray serial = data.mid(pos, 4);
    const int total = quint8(data.at(pos + 12));
    const bool qor4 = serial == "QOR4" && total >= kQor4MinParameters;
    const bool qor1 = serial == "QOR1" && total >= 1;
    if (!qor4 && !qor1) {
        qInfo().noquote() << "[RX-ELRS] device 0xC8 is" << name << "- not a QOR receiver";
        if (m_state == Searching)
            stop(StopNoReceiver);
        return;
    }
    if (m_state != Searching)
        return;
    m_searchTimer->stop();
    m_firmware = QStringLiteral("%1.%2.%3")
                     .arg(quint8(data.at(pos + 9)))
                     .arg(quint8(data.at(pos + 10)))
                     .arg(quint8(data.at(pos + 11)));
    m_parameterCount = total;
    m_isQor1 = !qor4;
    qInfo().noquote() << "[RX-ELRS] found" << name << "firmware" << m_firmware;
    m_lastHeard.restart();
    m_watchdog->start();
    setState(Found);
    readParameters();
}

void ReceiverElrsLink::onParameterEntry(const QByteArray &data)
{
    if (!m_busy || data.size() < 2)
        return;
    const quint8 field = quint8(data.at(0));
    const int chunksRemaining = quint8(data.at(1));
    if (field != m_current.field || (m_current.kind != Read && m_current.kind != Write))
        return;
    if (m_current.kind == Write || m_current.arg == 0)
        m_chunkBuffer.clear();
    const int nextChunk = (m_current.kind == Read ? m_current.arg : 0) + 1;
    if (m_chunkBuffer.size() + data.size() - 2 > MaxEntryBytes || (chunksRemaining > 0 && nextChunk > 0xFF)) {
        qInfo().noquote() << "[RX-ELRS] entry of param" << field << "exceeds" << MaxEntryBytes
                          << "bytes - dropped";
        m_chunkBuffer.clear();
        m_requestTimer->stop();
        giveUpRequest();
        return;
    }
    m_chunkBuffer.append(data.constData() + 2, data.size() - 2);
    m_requestTimer->stop();

    if (chunksRemaining > 0) {
        m_current = Request { Read, field, quint8(nextChunk), 0 };
        m_tries = 0;
        sendRequest();
        m_requestTimer->start();
        return;
    }

    storeParameterEntry(field, m_chunkBuffer);
    m_chunkBuffer.clear();
    m_busy = false;
    if (m_directWriteInFlight) {
        m_directWriteInFlight = false;
        emit directWriteDone(field, true, intValue(field));
        return;
    }
    if (m_state == Found && m_queue.isEmpty())
        setState(Ready);
    sendNext();
}

void ReceiverElrsLink::storeParameterEntry(quint8 field, const QByteArray &entry)
{
    if (entry.size() < 3) {
        qInfo().noquote() << "[RX-ELRS] entry of param" << field << "with" << entry.size() << "bytes dropped";
        return;
    }
    const quint8 type = quint8(entry.at(1)) & ~kHiddenFlag;
    int pos = 2;
    CrsfProtocol::takeText(entry, pos); // the field's name

    switch (type) {
    case kTypeTextSelection: {
        CrsfProtocol::takeText(entry, pos); // the option list
        if (entry.size() - pos < 4) {
            qInfo().noquote() << "[RX-ELRS] selection entry of param" << field << "too short - dropped";
            return;
        }
        const int value = quint8(entry.at(pos));
        if (m_values.value(field, -1) != value) {
            m_values.insert(field, value);
            emit valueChanged(field);
        }
        break;
    }
    case kTypeInfo: {
        const QString text = QString::fromUtf8(CrsfProtocol::takeText(entry, pos));
        if (!m_texts.contains(field) || m_texts.value(field) != text) {
            m_texts.insert(field, text);
            emit valueChanged(field);
        }
        break;
    }
    case kTypeCommand: {
        if (entry.size() - pos < 2) {
            qInfo().noquote() << "[RX-ELRS] command entry of param" << field << "too short - dropped";
            return;
        }
        const int status = quint8(entry.at(pos));
        pos += 2; // status and time-out
        m_values.insert(field, status);
        m_texts.insert(field, QString::fromUtf8(CrsfProtocol::takeText(entry, pos)));
        emit valueChanged(field);
        break;
    }
    default:
        break;
    }
}

void ReceiverElrsLink::onRequestTimeout()
{
    if (!m_busy)
        return;
    ++m_tries;
    if (m_tries < MaxTries) {
        sendRequest();
        m_requestTimer->start();
        return;
    }
    giveUpRequest();
}

void ReceiverElrsLink::giveUpRequest()
{
    const quint8 field = m_current.field;
    if (m_directWriteInFlight) {
        qInfo().noquote() << "[RX-ELRS] no answer to the direct write of param" << field;
        m_busy = false;
        m_directWriteInFlight = false;
        emit directWriteDone(field, false, -1);
        return;
    }
    qInfo().noquote() << "[RX-ELRS] no answer to param" << field << "- receiver lost";
    stop(StopNone);
}

void ReceiverElrsLink::onLinkStatistics(const LinkStatistics &stats)
{
    if (stats.linkQuality != 0)
        m_lastHeard.restart();
}

void ReceiverElrsLink::onWatchdog()
{
    if (!isReachable() || !m_lastHeard.isValid() || m_lastHeard.elapsed() <= SilenceLimitMs)
        return;
    qInfo().noquote() << "[RX-ELRS] car silent - receiver lost";
    stop(StopNone);
}

void ReceiverElrsLink::onCarLinkChanged(bool linked)
{
    if (!linked && m_state != Idle)
        stop(StopNone);
}

void ReceiverElrsLink::onRunningChanged(bool running)
{
    Q_UNUSED(running);
    stop(StopNone);
}

} // namespace corvane
