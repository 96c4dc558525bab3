#include "platform/serial/serialportlister.h"

#include <QMutex>
#include <QSerialPortInfo>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <optional>

#include "platform/process/backgroundpool.h"

namespace corvane {

namespace {

std::optional<QList<SerialPortEntry>> &fixedPorts()
{
    static std::optional<QList<SerialPortEntry>> ports;
    return ports;
}

QMutex &recentLock()
{
    static QMutex lock;
    return lock;
}

// The system's last listing, from whichever thread made it.
std::optional<QList<SerialPortEntry>> &recentListing()
{
    static std::optional<QList<SerialPortEntry>> ports;
    return ports;
}

std::atomic_bool &listingInBackground()
{
    static std::atomic_bool listing {false};
    return listing;
}

QList<SerialPortEntry> usbFirst(QList<SerialPortEntry> ports)
{
    std::stable_partition(ports.begin(), ports.end(), SerialPortLister::isUsbPort);
    return ports;
}

} // namespace

QList<SerialPortEntry> SerialPortLister::availablePorts()
{
    return usbFirst(fixedPorts() ? *fixedPorts() : systemPorts());
}

QList<SerialPortEntry> SerialPortLister::recentPorts()
{
    if (fixedPorts())
        return usbFirst(*fixedPorts());
    std::optional<QList<SerialPortEntry>> recent;
    {
        QMutexLocker locker(&recentLock());
        recent = recentListing();
    }
    if (!recent)
        return usbFirst(systemPorts());
    if (!listingInBackground().exchange(true)) {
        backgroundPool()->start([] {
            systemPorts();
            listingInBackground() = false;
        });
    }
    return usbFirst(*recent);
}

bool SerialPortLister::isUsbPort(const SerialPortEntry &entry)
{
    const QString name = entry.portName.section(QLatin1Char('/'), -1);
    return entry.vendorId != 0 || name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

QList<SerialPortEntry> SerialPortLister::systemPorts()
{
    QList<SerialPortEntry> entries;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    entries.reserve(infos.size());
    for (const QSerialPortInfo &info : infos) {
        SerialPortEntry entry;
        entry.portName = info.portName();
        entry.description = info.description();
        entry.manufacturer = info.manufacturer();
        entry.vendorId = info.hasVendorIdentifier() ? info.vendorIdentifier() : 0;
        entry.productId = info.hasProductIdentifier() ? info.productIdentifier() : 0;
        entries.append(entry);
    }
    QMutexLocker locker(&recentLock());
    recentListing() = entries;
    return entries;
}

void SerialPortLister::setFixedPorts(const QList<SerialPortEntry> &ports)
{
    fixedPorts() = ports;
}

void SerialPortLister::useSystemPorts()
{
    fixedPorts().reset();
}

} // namespace corvane
