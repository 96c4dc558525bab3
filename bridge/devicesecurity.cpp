#include "bridge/devicesecurity.h"

#include <QDebug>
#include <QVariant>

#include <optional>

namespace corvane {

namespace {

const QString kDevicesKey = QStringLiteral("DeviceSecurity/authorizedDevices");
const QString kProvisioningKey = QStringLiteral("DeviceSecurity/provisioningMode");

// The settings file can be edited by hand or damaged: anything that is not plainly a list of
// texts is refused rather than guessed at.
std::optional<QStringList> readDeviceList(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QStringList:
        return value.toStringList();
    case QMetaType::QString:
        return QStringList{value.toString()};
    case QMetaType::QVariantList: {
        QStringList ids;
        const QVariantList items = value.toList();
        for (const QVariant &item : items) {
            if (item.typeId() != QMetaType::QString)
                return std::nullopt;
            ids.append(item.toString());
        }
        return ids;
    }
    default:
        return std::nullopt;
    }
}

std::optional<bool> readFlag(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong: {
        const qlonglong number = value.toLongLong();
        if (number == 0 || number == 1)
            return number == 1;
        return std::nullopt;
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("1"))
            return true;
        if (text == QLatin1String("false") || text == QLatin1String("0"))
            return false;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

DeviceSecurity::DeviceSecurity(QObject *parent)
    : QObject(parent)
{
    load();
}

void DeviceSecurity::load()
{
    bool damaged = m_settings.isDamaged();
    m_authorizedDevices.clear();
    if (m_settings.contains(kDevicesKey)) {
        const std::optional<QStringList> ids = readDeviceList(m_settings.value(kDevicesKey));
        if (ids) {
            for (const QString &id : *ids) {
                const QString normalized = id.trimmed().toUpper();
                if (!normalized.isEmpty())
                    m_authorizedDevices.append(normalized);
            }
        } else {
            damaged = true;
        }
    }

    m_provisioningMode = true;
    if (m_settings.contains(kProvisioningKey)) {
        const std::optional<bool> flag = readFlag(m_settings.value(kProvisioningKey));
        if (flag)
            m_provisioningMode = *flag;
        else
            damaged = true;
    }

    // Provisioning would authorise any transmitter: after damage only the readable entries are
    // trusted until the owner switches provisioning on again.
    if (damaged) {
        m_provisioningMode = false;
        qWarning() << "[SECURITY] Stored transmitter allow-list is unreadable; provisioning is "
                      "off and only readable entries are authorized";
    }
}

void DeviceSecurity::save()
{
    // An empty list would be written as a value that reads back like a damaged one.
    if (m_authorizedDevices.isEmpty())
        m_settings.remove(kDevicesKey);
    else
        m_settings.setValue(kDevicesKey, m_authorizedDevices);
    m_settings.setValue(kProvisioningKey, m_provisioningMode);
}

bool DeviceSecurity::isAuthorized(const QString &deviceId) const
{
    if (m_provisioningMode)
        return true;
    return m_authorizedDevices.contains(deviceId, Qt::CaseInsensitive);
}

bool DeviceSecurity::isCurrentDeviceAuthorized() const
{
    return !m_currentDeviceId.isEmpty() && isAuthorized(m_currentDeviceId);
}

void DeviceSecurity::checkDevice(const QString &deviceId)
{
    const QString id = deviceId.toUpper();
    m_currentDeviceId = id;
    if (id.isEmpty())
        return;

    if (m_provisioningMode) {
        if (!m_authorizedDevices.contains(id)) {
            m_authorizedDevices.append(id);
            save();
            emit authorizedDevicesChanged();
        }
        qDebug().noquote() << "[SECURITY] Provisioning mode: auto-added device" << id;
    }

    if (isAuthorized(id)) {
        qDebug().noquote() << "[SECURITY] Device AUTHORIZED:" << id;
        emit deviceAuthorized(id);
    } else {
        qWarning().noquote() << "[SECURITY] Device REJECTED:" << id;
        emit deviceRejected(id);
    }
}

void DeviceSecurity::removeDevice(const QString &deviceId)
{
    // Written even when it is not listed: an earlier removal's save may have failed.
    const bool removed = m_authorizedDevices.removeAll(deviceId.toUpper()) > 0;
    save();
    if (removed)
        emit authorizedDevicesChanged();
}

void DeviceSecurity::setProvisioningMode(bool enabled)
{
    // Written even when memory holds it: a save of it may have failed, and a transmitter must
    // not be let in by the next start.
    const bool changed = m_provisioningMode != enabled;
    m_provisioningMode = enabled;
    save();
    if (changed)
        emit provisioningModeChanged(enabled);
}

} // namespace corvane
