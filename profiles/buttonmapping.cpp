#include "profiles/buttonmapping.h"

#include "profiles/channelvalue.h"

QList<int> ButtonMapping::allButtons() const
{
    QList<int> buttons;
    if (buttonIndex >= 0)
        buttons.append(buttonIndex);
    for (int button : extraButtons) {
        if (button >= 0)
            buttons.append(button);
    }
    return buttons;
}

void ButtonMapping::limitChannelValues()
{
    for (int *value : {&outputValue, &minValue, &maxValue, &startValue})
        *value = limitChannelValue(*value);
}

ButtonMapping ButtonMapping::fromJson(const QJsonObject &obj)
{
    const ButtonMapping d;
    ButtonMapping m;
    m.name = obj.value(QLatin1String("name")).toString();
    m.buttonIndex = obj.value(QLatin1String("buttonIndex")).toInt(d.buttonIndex);
    if (obj.contains(QLatin1String("extraButtons"))) {
        const QJsonArray extra = obj.value(QLatin1String("extraButtons")).toArray();
        for (const QJsonValue &button : extra)
            m.extraButtons.append(button.toInt(0));
    }
    m.channel = obj.value(QLatin1String("channel")).toInt(d.channel);
    m.mode = obj.value(QLatin1String("mode")).toInt(d.mode);
    m.outputValue = obj.value(QLatin1String("outputValue")).toInt(d.outputValue);
    m.rateUnitsPerSec = obj.value(QLatin1String("rateUnitsPerSec")).toInt(d.rateUnitsPerSec);
    m.minValue = obj.value(QLatin1String("minValue")).toInt(d.minValue);
    m.maxValue = obj.value(QLatin1String("maxValue")).toInt(d.maxValue);
    m.startValue = obj.value(QLatin1String("startValue")).toInt(d.startValue);
    m.activatesPitLimiter = obj.value(QLatin1String("activatesPitLimiter")).toBool(d.activatesPitLimiter);
    m.limitChannelValues();
    return m;
}

QJsonObject ButtonMapping::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("buttonIndex"), buttonIndex);
    if (!extraButtons.isEmpty()) {
        QJsonArray extra;
        for (int button : extraButtons)
            extra.append(button);
        o.insert(QLatin1String("extraButtons"), extra);
    }
    o.insert(QLatin1String("channel"), channel);
    o.insert(QLatin1String("mode"), mode);
    o.insert(QLatin1String("outputValue"), outputValue);
    o.insert(QLatin1String("rateUnitsPerSec"), rateUnitsPerSec);
    o.insert(QLatin1String("minValue"), minValue);
    o.insert(QLatin1String("maxValue"), maxValue);
    o.insert(QLatin1String("startValue"), startValue);
    o.insert(QLatin1String("activatesPitLimiter"), activatesPitLimiter);
    return o;
}

void ButtonMappingSet::limitChannelValues()
{
    for (ButtonMapping &mapping : mappings)
        mapping.limitChannelValues();
}

qsizetype ButtonMappingSet::bindingCount() const
{
    qsizetype count = mappings.size();
    for (const ButtonMapping &mapping : mappings)
        count += mapping.extraButtons.size();
    return count;
}

void ButtonMappingSet::fromJson(const QJsonArray &array)
{
    mappings.clear();
    for (const QJsonValue &element : array)
        mappings.append(ButtonMapping::fromJson(element.toObject()));
}

QJsonArray ButtonMappingSet::toJson() const
{
    QJsonArray array;
    for (const ButtonMapping &mapping : mappings)
        array.append(mapping.toJson());
    return array;
}

void upsertButtonMapping(QList<ButtonMapping> &mappings, const ButtonMapping &mapping)
{
    for (ButtonMapping &existing : mappings) {
        if (existing.buttonIndex == mapping.buttonIndex) {
            existing = mapping;
            return;
        }
    }
    mappings.append(mapping);
}
