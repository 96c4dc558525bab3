#include "ostraui/portlist.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QStandardItemModel>

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
    const auto isHeld = [&setup](const QString &name) { return name != setup.connected && setup.held.contains(name); };
    const int usb = int(std::find_if(ports.cbegin(), ports.cend(),
                                     [&](const corvane::SerialPortEntry &port) {
                                         return corvane::SerialPortLister::isUsbPort(port) && !isHeld(port.portName);
                                     })
                        - ports.cbegin());
    if (setup.alwaysPrompt || usb == ports.size())
        combo->addItem(setup.prompt, QString());
    const int first = combo->count();
    auto *model = qobject_cast<QStandardItemModel *>(combo->model());
    for (const corvane::SerialPortEntry &port : std::as_const(ports)) {
        QString text = setup.text ? setup.text(port) : portText(port, QStringLiteral(" - "));
        if (!isHeld(port.portName)) {
            combo->addItem(text, port.portName);
            continue;
        }
        //: %1 a port's entry, %2 the device of this program that holds the port
        combo->addItem(QCoreApplication::translate("ostra::PortList", "%1 (in use by the %2)")
                           .arg(text, setup.held.value(port.portName)),
                       port.portName);
        if (model)
            model->item(combo->count() - 1)->setEnabled(false);
    }

    // The list opens as wide as the note on a port in use, which a list as wide as the box would cut.
    QAbstractItemView *view = combo->view();
    const bool noted = std::any_of(ports.cbegin(), ports.cend(),
                                   [&](const corvane::SerialPortEntry &port) { return isHeld(port.portName); });
    view->setMinimumWidth(noted ? view->sizeHintForColumn(0) + 2 * view->frameWidth() : 0);

    int index = setup.connected.isEmpty() ? -1 : combo->findData(setup.connected);
    for (const QString &wanted : {setup.keep, setup.preferred}) {
        if (index < 0 && !wanted.isEmpty() && !isHeld(wanted))
            index = combo->findData(wanted);
    }
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
