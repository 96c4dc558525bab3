#pragma once

#include <QList>
#include <QString>

namespace corvane {

// One row of the serial port list.
struct SerialPortEntry
{
    QString portName;
    QString description;
    QString manufacturer;
    quint16 vendorId = 0;
    quint16 productId = 0;
};

// Stands in for the system's serial port enumeration, which does not list pseudo-terminals:
// tests (and anything else that needs a fixed list) install their own entries.
class SerialPortLister
{
public:
    // The installed entries when there are any, otherwise what the system lists.
    static QList<SerialPortEntry> availablePorts();
    static QList<SerialPortEntry> systemPorts();

    // From now on availablePorts() returns exactly `ports` (an empty list lists nothing).
    static void setFixedPorts(const QList<SerialPortEntry> &ports);
    static void useSystemPorts();
};

} // namespace corvane
