#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

#include "platform/serial/serialportlister.h"

class QComboBox;

namespace ostra {

// How a serial port list is filled and which entry it chooses.
struct PortListSetup
{
    // The "Choose…" entry of no choice (empty data): leads the list when no USB serial port is listed, so
    // an on-board UART is never offered as the device; the user can still pick one by hand.
    QString prompt;
    // The only entry (empty data) when no port is listed; empty: the prompt alone.
    QString empty;
    // The prompt leads the list even when a USB serial port is listed.
    bool alwaysPrompt = false;
    // The port a device is connected on: chosen before anything else, and listed even when the
    // system no longer lists it, so the list never hides where the device is.
    QString connected;
    // Chosen when listed, before `preferred`; then the first USB serial port; else the prompt.
    QString keep;
    QString preferred;
    // Ports another device of this program holds, each with that device's name: listed as in
    // use by it, and never chosen, by the list or the user. `connected` is never one of them.
    QHash<QString, QString> held;
    // A port's text; by default the port name, and " - " and its description when it has one.
    std::function<QString(const corvane::SerialPortEntry &)> text;
};

// The port name alone, or the name, `separator` and the description.
QString portText(const corvane::SerialPortEntry &port, const QString &separator);

// Refills `combo` from `ports` (item data: the port name) as `setup` says and returns the number
// of ports listed. The combo's enabled state is the caller's.
int fillPortList(QComboBox *combo, const QList<corvane::SerialPortEntry> &ports, const PortListSetup &setup);

// Whether the current entry names a port (not the prompt or the empty-list entry).
bool portChosen(const QComboBox *combo);
// Whether any entry names a port.
bool portsListed(const QComboBox *combo);

} // namespace ostra
