// The transmitter's byte stream as the controller reads it: CRSF frames mixed with text lines
// ("QOR-ID:" answers, the parameter walk's "FIELD" lines), in pieces of the input's choosing.
#include <QMetaObject>

#include "bridge/devicesecurity.h"
#include "bridge/elrsparametermanager.h"
#include "fuzzhost.h"
#include "support/transmitrig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ostrafuzz::initHost();
    static ostratest::TransmitRig rig;
    static int inputs = 0;
    if (size < 1)
        return 0;
    corvane::CorvaneController *controller = rig.controller.get();
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    for (const QByteArray &piece : ostrafuzz::pieces(bytes, data[0]))
        QMetaObject::invokeMethod(controller, "onSerialDataReceived", Qt::DirectConnection, Q_ARG(QByteArray, piece));
    // Each input starts from a cut line and an idle walk, whatever the last one left.
    QMetaObject::invokeMethod(controller, "onSerialDataReceived", Qt::DirectConnection,
                              Q_ARG(QByteArray, QByteArrayLiteral("\nWALK: done\n")));
    // In provisioning mode every reported ID joins the allow-list, which is saved whole each
    // time: each input starts from the empty list, or the run slows with every ID it invents.
    corvane::DeviceSecurity *security = controller->deviceSecurity();
    const QStringList allowed = security->authorizedDevices();
    for (const QString &id : allowed)
        security->removeDevice(id);
    // What the controller wrote back leaves its port's buffer only from the event loop.
    if (++inputs % 64 == 0)
        ostrafuzz::drainEvents();
    return 0;
}
