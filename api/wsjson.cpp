#include "api/wsjson.h"

#include <QJsonValue>

#include <cmath>
#include <limits>

namespace corvane::wsjson {

int readInt(const QJsonObject &data, const QString &key, int fallback)
{
    const QJsonValue value = data.value(key);
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    if (std::trunc(number) != number || number < double(std::numeric_limits<int>::min())
        || number > double(std::numeric_limits<int>::max()))
        return fallback;
    return int(number);
}

QString readString(const QJsonObject &data, const QString &key, const QString &fallback)
{
    const QJsonValue value = data.value(key);
    return value.isString() ? value.toString() : fallback;
}

bool readBool(const QJsonObject &data, const QString &key, bool fallback)
{
    const QJsonValue value = data.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

QJsonObject actionReply(const QString &event, bool success, const QString &message)
{
    QJsonObject reply{{QStringLiteral("event"), event}, {QStringLiteral("success"), success}};
    if (!message.isEmpty())
        reply.insert(QStringLiteral("message"), message);
    return reply;
}

QJsonObject dataReply(const QString &event, const QJsonObject &data)
{
    return QJsonObject{{QStringLiteral("event"), event}, {QStringLiteral("data"), data}};
}

QJsonObject errorReply(const QString &event, const QString &message)
{
    return QJsonObject{{QStringLiteral("event"), QStringLiteral("error")},
                       {QStringLiteral("source"), event},
                       {QStringLiteral("message"), message}};
}

} // namespace corvane::wsjson
