#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "platform/storage/settingsfile.h"

namespace corvane {

// The owner's list of transmitter IDs the bridge may drive, kept in the settings.
class DeviceSecurity : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSecurity(QObject *parent = nullptr);

    void load();
    void save();

    QStringList authorizedDevices() const { return m_authorizedDevices; }
    bool isAuthorized(const QString &deviceId) const;
    bool isCurrentDeviceAuthorized() const;
    void checkDevice(const QString &deviceId);
    void removeDevice(const QString &deviceId);
    void setProvisioningMode(bool enabled);

    bool provisioningMode() const { return m_provisioningMode; }
    QString currentDeviceId() const { return m_currentDeviceId; }

signals:
    void provisioningModeChanged(bool enabled);
    void deviceAuthorized(const QString &deviceId);
    void deviceRejected(const QString &deviceId);
    void authorizedDevicesChanged();

private:
    SettingsFile m_settings;
    QStringList m_authorizedDevices;
    bool m_provisioningMode = true;
    QString m_currentDeviceId;
};

} // namespace corvane
