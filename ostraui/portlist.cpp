#include "ostraui/portlist.h"

#include <QComboBox>

#include <algorithm>

namespace ostra {

QString portText(const corvane::SerialPortEntry &port, const QString &separator)
{
    return port.description.isEmpty() ? port.portName : port.portName + separator + port.description;
}

int fillPortList(QComboBox *combo, const QList<corvane::SerialPortEntry> &listed, const PortListSetup &setup)
{
    QList<corvane::SerialPortEntry> ports = listed;
    if (!setup.connected.isEmpty()
        && std::none_of(ports.cbegin(), ports.cend(),
                        [&](const corvane::SerialPortEntry &port) { return port.portName == setup.connected; })) {
        corvane::SerialPortEntry port;
        port.portName = setup.connected;
        ports.append(port);
    }
    combo->clear();
    if (ports.isEmpty()) {
        combo->addItem(setup.empty.isEmpty() ? setup.prompt : setup.empty, QString());
        return 0;
    }
    const int usb = int(std::find_if(ports.cbegin(), ports.cend(), corvane::SerialPortLister::isUsbPort) - ports.cbegin());
    if (setup.alwaysPrompt || usb == ports.size())
        combo->addItem(setup.prompt, QString());
    const int first = combo->count();
    for (const corvane::SerialPortEntry &port : std::as_const(ports))
        combo->addItem(setup.text ? setup.text(port) : portText(port, QStringLiteral(" - ")), port.portName);

    int index = setup.connected.isEmpty() ? -1 : combo->findData(setup.connected);
    if (index < 0 && !setup.keep.isEmpty())
        index = combo->findData(setup.keep);
    if (index < 0 && !setup.preferred.isEmpty())
        index = combo->findData(setup.preferred);
    if (index < 0)
        index = first > 0 ? 0 : first + usb;
    combo->setCurrentIndex(index);
    return int(ports.size());
}

bool portChosen(const QComboBox *combo)
{
    return !combo->currentData().toString().isEmpty();
}

bool portsListed(const QComboBox *combo)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (!combo->itemData(i).toString().isEmpty())
            return true;
    }
    return false;
}

} // namespace ostra
