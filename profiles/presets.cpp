#include "profiles/presets.h"

#include <QUuid>

EscPreset::EscPreset(const QString &name, int neutral, int fullForward, int fullReverse)
    : id(QUuid::createUuid().toString(QUuid::WithoutBraces))
    , name(name)
    , neutral(neutral)
    , fullForward(fullForward)
    , fullReverse(fullReverse)
{
}

EscPreset EscPreset::fromJson(const QJsonObject &obj)
{
    EscPreset p;
    p.id = obj.value(QLatin1String("id")).toString();
    p.name = obj.value(QLatin1String("name")).toString();
    p.neutral = obj.value(QLatin1String("neutral")).toInt(992);
    p.fullForward = obj.value(QLatin1String("fullForward")).toInt(1811);
    p.fullReverse = obj.value(QLatin1String("fullReverse")).toInt(172);
    return p;
}

QJsonObject EscPreset::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("id"), id);
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("neutral"), neutral);
    o.insert(QLatin1String("fullForward"), fullForward);
    o.insert(QLatin1String("fullReverse"), fullReverse);
    return o;
}

bool EscPreset::operator==(const EscPreset &other) const
{
    return id == other.id && name == other.name && neutral == other.neutral && fullForward == other.fullForward
        && fullReverse == other.fullReverse;
}

UserPreset UserPreset::fromJson(const QJsonObject &obj)
{
    UserPreset p;
    p.id = obj.value(QLatin1String("id")).toString();
    p.kind = obj.value(QLatin1String("kind")).toString();
    p.name = obj.value(QLatin1String("name")).toString();
    p.modifiedAt = QDateTime::fromString(obj.value(QLatin1String("modifiedAt")).toString(), Qt::ISODate);
    p.data = obj.value(QLatin1String("data")).toObject();
    return p;
}

QJsonObject UserPreset::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("id"), id);
    o.insert(QLatin1String("kind"), kind);
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("modifiedAt"), modifiedAt.toString(Qt::ISODate));
    o.insert(QLatin1String("data"), data);
    return o;
}

bool UserPreset::operator==(const UserPreset &other) const
{
    return id == other.id && kind == other.kind && name == other.name && modifiedAt == other.modifiedAt
        && data == other.data;
}
