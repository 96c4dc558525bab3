#include "platform/serial/serialportlister.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <optional>

namespace corvane {

namespace {

std::optional<QList<SerialPortEntry>> &fixedPorts()
{
    static std::optional<QList<SerialPortEntry>> ports;
    return ports;
}

} // namespace

QList<SerialPortEntry> SerialPortLister::availablePorts()
{
    QList<SerialPortEntry> ports = fixedPorts() ? *fixedPorts() : systemPorts();
    std::stable_partition(ports.begin(), ports.end(), isUsbPort);
    return ports;
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
