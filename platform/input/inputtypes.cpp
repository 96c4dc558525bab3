#include "platform/input/inputtypes.h"

namespace corvane {

QString inputAxisName(int index)
{
    static const char *const names[InputAxisCount] = {"lX", "lRx", "lRy", "lRz",
                                                      "lY", "lZ", "Slider0", "Slider1"};
    if (index < 0 || index >= InputAxisCount)
        return {};
    return QString::fromLatin1(names[index]);
}

QString inputGuidText(const QUuid &guid)
{
    return guid.toString(QUuid::WithBraces).toUpper();
}

QUuid inputProductGuid(quint16 vendorId, quint16 productId)
{
    return QUuid((uint(productId) << 16) | vendorId, 0, 0, 0, 0, 'P', 'I', 'D', 'V', 'I', 'D');
}

} // namespace corvane
