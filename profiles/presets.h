#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// A named set of the three ESC end points.
struct EscPreset
{
    EscPreset() = default;
    // A new preset with a fresh id.
    EscPreset(const QString &name, int neutral, int fullForward, int fullReverse);

    QString id;
    QString name;
    int neutral = 992;
    int fullForward = 1811;
    int fullReverse = 172;

    static EscPreset fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;

    bool operator==(const EscPreset &other) const;
};

// A named snapshot of one group of settings; the kind is chosen by the caller.
struct UserPreset
{
    QString id;
    QString kind;
    QString name;
    QDateTime modifiedAt;
    QJsonObject data;

    static UserPreset fromJson(const QJsonObject &obj);
    QJsonObject toJson() const;

    bool operator==(const UserPreset &other) const;
};
