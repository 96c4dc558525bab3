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
    // The installed entries when there are any, otherwise what the system lists; USB serial
    // ports first. The system lists on-board UARTs (ttyS0..) first, and lists that preselect
    // their first entry would otherwise offer a port with nothing on it.
    static QList<SerialPortEntry> availablePorts();
    // As availablePorts(), from the system's last listing, without listing now (listing takes
    // ~10 ms, too long for a window opening while the channel stream runs); a new listing is then
    // made in the background for the next caller. Lists now when nothing was listed yet (so the
    // first listing, and what it loads of the system, is never made by two threads at once).
    static QList<SerialPortEntry> recentPorts();
    // Lists now; every listing becomes the recent one.
    static QList<SerialPortEntry> systemPorts();
    // A USB serial adapter or a USB CDC device: ttyUSB*, ttyACM*, or any port with a USB vendor id.
    static bool isUsbPort(const SerialPortEntry &entry);

    // From now on availablePorts() returns exactly `ports` (an empty list lists nothing).
    static void setFixedPorts(const QList<SerialPortEntry> &ports);
    static void useSystemPorts();
};

} // namespace corvane
