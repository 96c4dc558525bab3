#include "bridge/elrsparametermanager.h"

#include <QDebug>
#include <QStringList>
#include <QTimer>

#include "bridge/crsfprotocol.h"

namespace corvane {

namespace {

const char WalkStartingMarker[] = "WALK: starting";
const char WalkDoneMarker[] = "WALK: done";
const char FieldMarker[] = "FIELD ";
const char ReadFailed[] = "(read failed)";

QStringList optionLabels(const ElrsParameter &parameter)
{
    QStringList labels;
    for (const ElrsOption &option : parameter.options)
        labels.append(option.label);
    return labels;
}

} // namespace

ElrsParameterManager::ElrsParameterManager(CrsfProtocol *codec, QObject *parent)
    : QObject(parent)
    , m_codec(codec)
    , m_walkTimer(new QTimer(this))
{
    if (codec)
        connect(codec, &CrsfProtocol::extendedFrameReceived, this, &ElrsParameterManager::onExtendedFrame);
    m_walkTimer->setSingleShot(true);
    m_walkTimer->setInterval(WalkTimeoutMs);
    m_walkTimer->setTimerType(Qt::PreciseTimer);
    connect(m_walkTimer, &QTimer::timeout, this, &ElrsParameterManager::onWalkTimeout);
}

ElrsParameterManager::~ElrsParameterManager() = default;

QString ElrsParameterManager::stateName(qint32 state)
{
    switch (state) {
    case Idle:
        return QStringLiteral("Idle");
    case Pinging:
        return QStringLiteral("Pinging");
    case WalkingFields:
        return QStringLiteral("WalkingFields");
    case Ready:
        return QStringLiteral("Ready");
    case Aborted:
        return QStringLiteral("Aborted");
    default:
        return QStringLiteral("?");
    }
}

void ElrsParameterManager::setState(State state)
{
    if (m_state == state)
        return;
    qInfo().noquote() << "[ELRS] state" << stateName(m_state) << "->" << stateName(state);
    m_state = state;
}

bool ElrsParameterManager::isDiscovering() const
{
    return m_state == Pinging || m_state == WalkingFields;
}

const ElrsParameter *ElrsParameterManager::findParameter(const QString &name) const
{
    const auto it = m_nameIndex.constFind(name);
    if (it == m_nameIndex.constEnd() || it.value() < 0 || it.value() >= m_parameters.size())
        return nullptr;
    return &m_parameters.at(it.value());
}

void ElrsParameterManager::beginWalk()
{
    m_parameters.clear();
    m_nameIndex.clear();
    m_walkedFields = 0;
    setState(WalkingFields);
    m_walkTimer->start();
    emit discoveryStarted();
    emit discoveryProgress(0, ProgressTotal);
}

bool ElrsParameterManager::sendToParent(const QByteArray &bytes)
{
    QObject *writer = parent();
    if (!writer)
        return false;
    return QMetaObject::invokeMethod(writer, "serialWrite", Qt::DirectConnection, Q_ARG(QByteArray, bytes));
}

void ElrsParameterManager::startDiscovery()
{
    if (!m_configMode) {
        qWarning().noquote() << "[ELRS] startDiscovery refused: config mode is not active";
        emit error(tr("Start configuring to read/change ELRS RF settings."));
        return;
    }
    if (!m_codec) {
        emit error(tr("ELRS parameter manager: no CRSF protocol bound."));
        return;
    }
    if (isDiscovering())
        return;
    qInfo().noquote() << "[ELRS] startDiscovery: sending WALKRF";
    beginWalk();
    if (!sendToParent(QByteArrayLiteral("WALKRF\n")))
        qWarning().noquote() << "[ELRS] startDiscovery: no parent writer; cannot send WALKRF";
}

void ElrsParameterManager::abortDiscovery()
{
    m_walkTimer->stop();
    if (m_state == Idle || m_state == Aborted)
        return;
    setState(Aborted);
    emit discoveryAborted();
}

void ElrsParameterManager::setConfigModeActive(bool active)
{
    if (m_configMode == active)
        return;
    m_configMode = active;
    if (!active && isDiscovering()) {
        qInfo().noquote() << "[ELRS] config mode stopped — aborting in-flight discovery";
        abortDiscovery();
    }
}

void ElrsParameterManager::onTransmitterLine(const QString &rawLine)
{
    const QString line = rawLine.trimmed();
    if (line.contains(QLatin1String(WalkStartingMarker))) {
        qInfo().noquote() << "[ELRS] WALK: starting";
        beginWalk();
        return;
    }
    if (line.contains(QLatin1String(WalkDoneMarker))) {
        if (m_state != WalkingFields)
            return;
        m_walkTimer->stop();
        if (!m_parameters.isEmpty()) {
            setState(Ready);
            QStringList names;
            for (const ElrsParameter &p : std::as_const(m_parameters))
                names.append(p.name);
            qInfo().noquote() << "[ELRS] WALK: done — params=" << names;
            emit discoveryComplete();
        } else {
            qWarning().noquote() << "[ELRS] WALK: done with zero params decoded — send-only board, falling back to Manual";
            setState(Idle);
            emit error(tr("No ELRS parameters could be read — this transmitter may be send-only (no half-duplex)."));
        }
        return;
    }
    const qsizetype field = line.indexOf(QLatin1String(FieldMarker));
    if (field >= 0 && m_state == WalkingFields)
        handleFieldLine(line.mid(field));
}

void ElrsParameterManager::handleFieldLine(const QString &text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        qWarning().noquote() << "[ELRS] malformed FIELD line (no colon):" << text;
        return;
    }
    const qsizetype markerLength = qsizetype(sizeof FieldMarker - 1);
    const QString idText = text.mid(markerLength, colon - markerLength).trimmed();
    bool ok = false;
    const int id = idText.toInt(&ok, 10);
    // Field ids are one byte on the wire; anything else is not an id of this module.
    if (!ok || id < 0 || id > 255) {
        qWarning().noquote() << "[ELRS] malformed FIELD id:" << idText;
        return;
    }
    m_walkTimer->start();
    ++m_walkedFields;

    const QString rest = text.mid(colon + 1).trimmed();
    if (rest.compare(QLatin1String(ReadFailed), Qt::CaseInsensitive) == 0) {
        qWarning().noquote() << "[ELRS] WALK field" << id << "read failed; skipping";
        emit discoveryProgress(m_walkedFields, ProgressTotal);
        return;
    }
    QByteArray bytes;
    const QStringList parts = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bytes.reserve(parts.size());
    for (const QString &part : parts) {
        bool hexOk = false;
        const uint value = part.toUInt(&hexOk, 16);
        if (!hexOk || value > 255) {
            qWarning().noquote() << "[ELRS] WALK field" << id << "unparseable hex:" << rest;
            emit discoveryProgress(m_walkedFields, ProgressTotal);
            return;
        }
        bytes.append(char(value));
    }
    if (bytes.size() < 2)
        return;
    const qsizetype nameEnd = bytes.indexOf('\0', 2);
    if (nameEnd > 2) {
        // A module that repeats a chunk sends the entry again from its header; the last copy is
        // the complete one.
        const QByteArray header = bytes.left(nameEnd + 1);
        const qsizetype last = bytes.lastIndexOf(header);
        if (last > 0)
            bytes = bytes.mid(last);
    }
    decodeEntry(quint8(id), bytes);
    emit discoveryProgress(m_walkedFields, ProgressTotal);
}

void ElrsParameterManager::decodeEntry(quint8 id, const QByteArray &bytes)
{
    ElrsParameter parameter;
    parameter.id = id;
    parameter.parent = quint8(bytes.at(0));
    parameter.type = quint8(bytes.at(1));
    int pos = 2;
    parameter.name = QString::fromUtf8(CrsfProtocol::takeText(bytes, pos));
    const int left = int(bytes.size()) - pos;

    switch (parameter.type) {
    case TypeUint8:
    case TypeInt8:
        if (left >= 4) {
            const bool isSigned = parameter.type == TypeInt8;
            auto number = [&](int at) {
                const char c = bytes.at(at);
                return isSigned ? qint32(qint8(c)) : qint32(quint8(c));
            };
            parameter.value = number(pos);
            parameter.min = number(pos + 1);
            parameter.max = number(pos + 2);
            parameter.defaultValue = number(pos + 3);
            pos += 4;
        }
        parameter.units = QString::fromUtf8(CrsfProtocol::takeText(bytes, pos));
        break;
    case TypeTextSelection: {
        const QStringList labels = QString::fromUtf8(CrsfProtocol::takeText(bytes, pos)).split(QLatin1Char(';'));
        for (int i = 0; i < labels.size(); ++i)
            parameter.options.append(ElrsOption { i, labels.at(i) });
        auto next = [&](qint32 &target) {
            if (pos >= bytes.size())
                return false;
            target = quint8(bytes.at(pos++));
            return true;
        };
        next(parameter.value);
        next(parameter.min);
        const bool hasMax = next(parameter.max);
        next(parameter.defaultValue);
        if (!hasMax && !parameter.options.isEmpty())
            parameter.max = qint32(parameter.options.size()) - 1;
        parameter.units = QString::fromUtf8(CrsfProtocol::takeText(bytes, pos));
        break;
    }
    case TypeString:
    case TypeFolder:
    case TypeInfo:
        parameter.readonly = true;
        break;
    default:
        break;
    }

    // A field the module sends again replaces its first copy: a walk holds at most one entry per
    // field id, however long the module goes on.
    qsizetype index = 0;
    while (index < m_parameters.size() && m_parameters.at(index).id != id)
        ++index;
    if (index < m_parameters.size()) {
        const QString oldName = m_parameters.at(index).name;
        if (m_nameIndex.value(oldName, -1) == index)
            m_nameIndex.remove(oldName);
        m_parameters[index] = parameter;
    } else {
        m_parameters.append(parameter);
    }
    if (!parameter.name.isEmpty())
        m_nameIndex.insert(parameter.name, int(index));
    qInfo().noquote() << "[ELRS] param" << parameter.id << "name=" << parameter.name << "type=" << parameter.type
                      << "current=" << parameter.value << "options=" << optionLabels(parameter);
}

bool ElrsParameterManager::setParameterByIndex(const QString &name, qint32 index)
{
    if (!m_configMode) {
        emit error(tr("Start configuring to read/change ELRS RF settings."));
        return false;
    }
    if (m_state != Ready) {
        emit error(tr("ELRS parameters are not yet discovered."));
        return false;
    }
    const auto it = m_nameIndex.constFind(name);
    if (it == m_nameIndex.constEnd() || it.value() < 0 || it.value() >= m_parameters.size()) {
        emit error(tr("Unknown ELRS parameter: %1").arg(name));
        return false;
    }
    ElrsParameter &parameter = m_parameters[it.value()];
    if (parameter.type != TypeTextSelection) {
        emit error(tr("Parameter '%1' is not an enum (text selection).").arg(name));
        return false;
    }
    // The value travels as one byte.
    if (index < 0 || index > parameter.max || index >= parameter.options.size() || index > 255) {
        emit error(tr("Option index %1 out of range for '%2'.").arg(index).arg(name));
        return false;
    }
    const QByteArray frame = CrsfProtocol::buildParameterWrite(parameter.id, QByteArray(1, char(index)),
                                                               ModuleAddress, ConfigToolAddress);
    if (!sendToParent(frame)) {
        emit error(tr("ELRS parameter manager: no serial writer."));
        return false;
    }
    parameter.value = index;
    emit parameterUpdated(name);
    qInfo().noquote() << "[ELRS] setParameterByIndex" << name << "->" << index << "("
                      << parameter.options.at(index).label << ")";
    return true;
}

void ElrsParameterManager::writeOptionByField(quint8 fieldId, quint32 index)
{
    if (!m_configMode) {
        emit error(tr("Start configuring to read/change ELRS RF settings."));
        return;
    }
    if (!m_codec) {
        emit error(tr("ELRS parameter manager: no CRSF protocol bound."));
        return;
    }
    if (!parent()) {
        emit error(tr("ELRS parameter manager: no serial writer."));
        return;
    }
    if (index > 255) {
        emit error(tr("ELRS option index %1 out of byte range.").arg(index));
        return;
    }
    const QByteArray frame = CrsfProtocol::buildParameterWrite(fieldId, QByteArray(1, char(index)),
                                                               ModuleAddress, ConfigToolAddress);
    auto fire = [this, fieldId, index, frame] {
        qInfo().noquote() << "[ELRS] writeParamRaw fire field=" << fieldId << "value=" << index
                          << "bytes=" << frame.size();
        sendToParent(frame);
    };
    fire();
    QTimer::singleShot(WriteRepeatDelayMs, Qt::PreciseTimer, this, fire);
    QTimer::singleShot(2 * WriteRepeatDelayMs, Qt::PreciseTimer, this, fire);
}

void ElrsParameterManager::onExtendedFrame(quint8 type, quint8 dest, quint8 origin, const QByteArray &payload)
{
    Q_UNUSED(dest);
    if (origin != ModuleAddress)
        return;
    if (type == CrsfProtocol::FrameElrsStatus) {
        qInfo().noquote() << "[ELRS] ELRS_STATUS" << payload.size() << "bytes";
    } else if (type == CrsfProtocol::FrameParameterEntry && m_state == WalkingFields) {
        if (payload.size() < 2)
            qInfo().noquote() << "[ELRS] PARAMETER_SETTINGS_ENTRY too short";
        else
            qInfo().noquote() << "[ELRS] stale param entry; expected field" << 0 << "got field"
                              << quint8(payload.at(0));
    }
}

void ElrsParameterManager::onWalkTimeout()
{
    if (m_state != WalkingFields)
        return;
    qWarning().noquote() << "[ELRS] WALK timed out after" << WalkTimeoutMs << "ms;" << m_walkedFields
                         << "fields seen";
    setState(Idle);
    emit error(tr("ELRS walk timed out"));
}

} // namespace corvane
