#pragma once

#include <QMetaObject>
#include <QSignalSpy>
#include <QTimer>

#include "bridge/receiverconfigmanager.h"
#include "bridge/receiverelrslink.h"
#include "support/simulatedreceiver.h"
#include "transmitrig.h"

namespace ostratest {

// The transmit rig with the maker's receiver: its USB line on a pseudo-terminal, its radio side
// behind the simulated transmitter.
class ReceiverRig : public TransmitRig
{
public:
    ReceiverRig() { rx.attach(&tx); }

    corvane::ReceiverConfigManager *manager() const { return controller->receiverConfigManager(); }
    corvane::ReceiverElrsLink *link() const { return manager()->elrsLink(); }

    Profile *profile() { return controller->profileManager()->mutableActiveProfile(); }

    bool openReceiver() { return controller->connectReceiver(rx.portName(), 115200); }

    // Opens the USB line and runs one full cycle until the manager is done with it and has the
    // receiver's mode (the last probe answer), when the receiver reports one.
    bool syncOverUsb(bool reportsMode = true)
    {
        if (!openReceiver())
            return false;
        rx.clearRecords();
        manager()->resync();
        return rx.waitFor([this, reportsMode] {
            return manager()->isSynced() && (!reportsMode || !manager()->receiverMode().isEmpty());
        });
    }

    // Calls a slot of the manager or the link by name, as its timer would.
    static void fire(QObject *object, const char *slot) { QMetaObject::invokeMethod(object, slot, Qt::DirectConnection); }

    // The car's radio link reports in: the link statistics bring the car link up.
    void carHeard() { tx.sendLinkStatistics(-60, -62, 100, 9); }

    // Link statistics every 250 ms from now on, as a car that is on sends them.
    void keepCarLinked()
    {
        carHeard();
        QObject::connect(&linkStats, &QTimer::timeout, [this] { carHeard(); });
        linkStats.start(250);
    }

    // Transmitting with the car on; a receiver firmware in the caps marks it as a V4 receiver,
    // which the manager then searches for over the air.
    bool startOverAir(const QString &capsFirmware = QStringLiteral("4.5.3"))
    {
        profile()->receiverCaps.firmware = capsFirmware;
        if (!startCar())
            return false;
        keepCarLinked();
        return rx.waitFor([this] { return controller->isCarLinked(); });
    }

    bool waitForLinkState(corvane::ReceiverElrsLink::State state)
    {
        return rx.waitFor([this, state] { return link()->state() == state; });
    }

    // Found, read and written until the manager calls the receiver in step.
    bool syncOverAir()
    {
        return rx.waitFor([this] { return manager()->isSynced(); });
    }

    // Started over the air and then in step, or found and read by the link.
    bool startAndSyncOverAir() { return startOverAir() && syncOverAir(); }
    bool startAndReadOverAir() { return startOverAir() && waitForLinkState(corvane::ReceiverElrsLink::Ready); }

    QTimer linkStats;
    SimulatedReceiver rx;
};

} // namespace ostratest
