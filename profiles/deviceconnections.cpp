#include "profiles/deviceconnections.h"

#include <QJsonArray>

#include <algorithm>

#include "profiles/jsonfields.h"

namespace {

QJsonArray intArray(const int *values, size_t count)
{
    QJsonArray array;
    for (size_t i = 0; i < count; ++i)
        array.append(values[i]);
    return array;
}

// Reads the leading elements of a JSON array over a table; elements it does not reach keep
// their values.
template <size_t N>
void readInts(const QJsonValue &value, std::array<int, N> &table)
{
    const QJsonArray array = value.toArray();
    const size_t count = std::min<size_t>(size_t(array.size()), N);
    for (size_t i = 0; i < count; ++i)
        table[i] = array.at(qsizetype(i)).toInt(table[i]);
}

void insertText(QJsonObject &o, const char *key, const QString &text)
{
    if (!text.isEmpty())
        o.insert(QLatin1String(key), text);
}

} // namespace

AxisMapping AxisMapping::fromJson(const QJsonObject &obj)
{
    AxisMapping m;
    if (obj.contains(QLatin1String("map")))
        readInts(obj.value(QLatin1String("map")), m.map);
    if (obj.contains(QLatin1String("inverted"))) {
        const QJsonArray inverted = obj.value(QLatin1String("inverted")).toArray();
        const size_t count = std::min<size_t>(size_t(inverted.size()), m.inverted.size());
        for (size_t i = 0; i < count; ++i)
            m.inverted[i] = inverted.at(qsizetype(i)).toBool(false);
    }
    m.presetName = obj.value(QLatin1String("presetName")).toString();
    m.combinedPedals = obj.value(QLatin1String("combinedPedals")).toBool(false);
    m.combinedPedalsCenter = jsonFloat(obj.value(QLatin1String("combinedPedalsCenter")), 0.0f);
    return m;
}

QJsonObject AxisMapping::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("map"), intArray(map.data(), map.size()));
    QJsonArray invertedArray;
    for (bool flag : inverted)
        invertedArray.append(flag);
    o.insert(QLatin1String("inverted"), invertedArray);
    o.insert(QLatin1String("presetName"), presetName);
    if (combinedPedals)
        o.insert(QLatin1String("combinedPedals"), true);
    if (combinedPedalsCenter != 0.0f)
        o.insert(QLatin1String("combinedPedalsCenter"), double(combinedPedalsCenter));
    return o;
}

ShifterMapping ShifterMapping::fromJson(const QJsonObject &obj)
{
    ShifterMapping m;
    if (obj.contains(QLatin1String("buttonIndex")))
        readInts(obj.value(QLatin1String("buttonIndex")), m.buttonIndex);
    return m;
}

QJsonObject ShifterMapping::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("buttonIndex"), intArray(buttonIndex.data(), buttonIndex.size()));
    return o;
}

bool DeviceConnection::isEmpty() const
{
    return productName.isEmpty() && instanceGuid.isEmpty() && uniqId.isEmpty() && vendorId == 0;
}

DeviceConnection DeviceConnection::fromJson(const QJsonObject &obj)
{
    DeviceConnection c;
    c.productName = obj.value(QLatin1String("productName")).toString();
    c.instanceGuid = obj.value(QLatin1String("instanceGuid")).toString();
    c.devicePath = obj.value(QLatin1String("devicePath")).toString();
    c.uniqId = obj.value(QLatin1String("uniqId")).toString();
    c.vendorId = std::uint16_t(obj.value(QLatin1String("vendorId")).toInt(0));
    c.productId = std::uint16_t(obj.value(QLatin1String("productId")).toInt(0));
    c.hasCustomAxisMapping = obj.value(QLatin1String("hasCustomAxisMapping")).toBool(false);
    if (c.hasCustomAxisMapping && obj.contains(QLatin1String("axisMapping")))
        c.axisMapping = AxisMapping::fromJson(obj.value(QLatin1String("axisMapping")).toObject());
    c.hasCustomShifterMapping = obj.value(QLatin1String("hasCustomShifterMapping")).toBool(false);
    if (c.hasCustomShifterMapping && obj.contains(QLatin1String("shifterMapping")))
        c.shifterMapping = ShifterMapping::fromJson(obj.value(QLatin1String("shifterMapping")).toObject());
    return c;
}

QJsonObject DeviceConnection::toJson() const
{
    QJsonObject o;
    insertText(o, "productName", productName);
    insertText(o, "instanceGuid", instanceGuid);
    insertText(o, "devicePath", devicePath);
    insertText(o, "uniqId", uniqId);
    if (vendorId != 0)
        o.insert(QLatin1String("vendorId"), int(vendorId));
    if (productId != 0)
        o.insert(QLatin1String("productId"), int(productId));
    if (hasCustomAxisMapping) {
        o.insert(QLatin1String("axisMapping"), axisMapping.toJson());
        o.insert(QLatin1String("hasCustomAxisMapping"), true);
    }
    if (hasCustomShifterMapping) {
        o.insert(QLatin1String("shifterMapping"), shifterMapping.toJson());
        o.insert(QLatin1String("hasCustomShifterMapping"), true);
    }
    return o;
}

DeviceConnections DeviceConnections::fromJson(const QJsonObject &obj)
{
    DeviceConnections c;
    if (obj.contains(QLatin1String("bridge"))) {
        const QJsonObject bridge = obj.value(QLatin1String("bridge")).toObject();
        c.portName = bridge.value(QLatin1String("portName")).toString();
        c.baudRate = bridge.value(QLatin1String("baudRate")).toInt(c.baudRate);
    }
    const std::pair<const char *, DeviceConnection *> slotTable[] = {
        {"wheelBase", &c.wheelBase}, {"pedals", &c.pedals}, {"shifter", &c.shifter}};
    for (const auto &[key, slot] : slotTable) {
        if (obj.contains(QLatin1String(key)))
            *slot = DeviceConnection::fromJson(obj.value(QLatin1String(key)).toObject());
    }
    return c;
}

QJsonObject DeviceConnections::toJson() const
{
    QJsonObject o;
    if (!portName.isEmpty()) {
        QJsonObject bridge;
        bridge.insert(QLatin1String("portName"), portName);
        bridge.insert(QLatin1String("baudRate"), baudRate);
        o.insert(QLatin1String("bridge"), bridge);
    }
    const std::pair<const char *, const DeviceConnection *> slotTable[] = {
        {"wheelBase", &wheelBase}, {"pedals", &pedals}, {"shifter", &shifter}};
    // A mapping the user set before the device was first connected has no identity beside it.
    for (const auto &[key, slot] : slotTable) {
        if (!slot->isEmpty() || slot->hasCustomAxisMapping || slot->hasCustomShifterMapping)
            o.insert(QLatin1String(key), slot->toJson());
    }
    return o;
}
