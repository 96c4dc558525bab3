// What the receiver says: lines on its USB console (replies, console filter) and, over the air,
// its device information and settings entries in chunks. Records of the input pick the way in:
// kind 0 bytes from the receiver's port, kind 1 a device information frame, kind 2 a settings
// entry chunk (payloads as they follow the frame type: destination, origin, data).
#include <QMetaObject>

#include "bridge/crsfprotocol.h"
#include "bridge/receiverconfigmanager.h"
#include "bridge/receiverelrslink.h"
#include "fuzzhost.h"
#include "support/transmitrig.h"

namespace {

struct ReceiverRig
{
    ReceiverRig()
    {
        rig.startCar();
        QObject::connect(rig.controller.get(), &corvane::CorvaneController::receiverDataReceived,
                         [](const QString &line) { corvane::ReceiverConfigManager::filterConsoleLine(line); });
    }
    ostratest::TransmitRig rig;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ostrafuzz::initHost();
    static ReceiverRig receiver;
    static int inputs = 0;
    corvane::CorvaneController *controller = receiver.rig.controller.get();
    corvane::ReceiverElrsLink *link = controller->receiverConfigManager()->elrsLink();
    link->startSearch();
    for (const ostrafuzz::Record &r : ostrafuzz::records(data, size)) {
        switch (r.kind % 3) {
        case 0:
            QMetaObject::invokeMethod(controller, "onReceiverDataReceived", Qt::DirectConnection,
                                      Q_ARG(QByteArray, r.bytes));
            break;
        case 1:
            QMetaObject::invokeMethod(link, "onCrsfFrame", Qt::DirectConnection,
                                      Q_ARG(quint8, corvane::CrsfProtocol::FrameDeviceInfo), Q_ARG(QByteArray, r.bytes));
            break;
        default:
            QMetaObject::invokeMethod(link, "onCrsfFrame", Qt::DirectConnection,
                                      Q_ARG(quint8, corvane::CrsfProtocol::FrameParameterEntry), Q_ARG(QByteArray, r.bytes));
            break;
        }
    }
    QMetaObject::invokeMethod(controller, "onReceiverDataReceived", Qt::DirectConnection,
                              Q_ARG(QByteArray, QByteArrayLiteral("\n")));
    link->stop(corvane::ReceiverElrsLink::StopNone);
    // The simulated transmitter reads what the link sent now and then, so its line never fills.
    if (++inputs % 64 == 0)
        ostrafuzz::drainEvents();
    return 0;
}
