#include "api/wsjson.h"

#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>

#include "profiles/channelvalue.h"

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

namespace {

// What a value of the wrong type is, for the refusal: "not a string", "not null".
QString typeWord(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    default:
        return QStringLiteral("an object");
    }
}

QString range(const char *form, double min, double max)
{
    return QString::fromLatin1(form).arg(min).arg(max);
}

} // namespace

FieldReader::FieldReader(const QJsonObject &data)
    : m_object(data)
    , m_refusal(std::make_shared<QString>())
{
}

FieldReader::FieldReader(const QJsonValue &container, const QString &path, std::shared_ptr<QString> refusal)
    : m_object(container.toObject())
    , m_array(container.toArray())
    , m_path(path)
    , m_refusal(std::move(refusal))
{
}

QJsonValue FieldReader::value(const Key &key) const
{
    if (key.m_index >= 0)
        return m_array.at(key.m_index);
    return m_object.value(key.m_name);
}

QString FieldReader::name(const Key &key) const
{
    if (key.m_index >= 0)
        return QStringLiteral("%1[%2]").arg(m_path).arg(key.m_index);
    return m_path.isEmpty() ? key.m_name : m_path + QLatin1Char('.') + key.m_name;
}

void FieldReader::refuse(const Key &key, const QString &expected) const
{
    if (m_refusal->isEmpty())
        *m_refusal = QStringLiteral("'%1' must be %2").arg(name(key), expected);
}

FieldReader FieldReader::object(const Key &key) const
{
    const QJsonValue member = value(key);
    if (!member.isUndefined() && !member.isObject())
        refuse(key, QStringLiteral("an object, not ") + typeWord(member));
    return FieldReader(member.isObject() ? member : QJsonObject(), name(key), m_refusal);
}

FieldReader FieldReader::array(const Key &key) const
{
    const QJsonValue member = value(key);
    if (!member.isUndefined() && !member.isArray())
        refuse(key, QStringLiteral("an array, not ") + typeWord(member));
    return FieldReader(member.isArray() ? member : QJsonArray(), name(key), m_refusal);
}

bool FieldReader::number(const Key &key, const QString &expected, bool whole, double &result) const
{
    const QJsonValue v = value(key);
    if (v.isUndefined())
        return false;
    if (!v.isDouble()) {
        refuse(key, expected + QStringLiteral(", not ") + typeWord(v));
        return false;
    }
    result = v.toDouble();
    if (whole && std::trunc(result) != result) {
        refuse(key, expected);
        return false;
    }
    return true;
}

void FieldReader::readWhole(const Key &key, int &field, int min, int max, bool clamp, const QString &expected) const
{
    double n = 0;
    if (!number(key, expected, true, n))
        return;
    if (clamp)
        n = std::clamp(n, double(min), double(max));
    else if (n < min || n > max)
        return refuse(key, expected);
    field = int(n);
}

void FieldReader::readFraction(const Key &key, float &field, double min, double max, bool clamp,
                               const QString &expected) const
{
    double n = 0;
    if (!number(key, expected, false, n))
        return;
    if (clamp)
        n = std::clamp(n, min, max);
    else if (n < min || n > max)
        return refuse(key, expected);
    field = float(n);
}

void FieldReader::readInt(const Key &key, int &field, int min, int max) const
{
    readWhole(key, field, min, max, false, range("a whole number from %1 to %2", min, max));
}

void FieldReader::readChannel(const Key &key, int &field) const
{
    readWhole(key, field, 0, ChannelValueMax, false, range("a channel value from %1 to %2", 0, ChannelValueMax));
}

void FieldReader::clampInt(const Key &key, int &field, int min, int max) const
{
    readWhole(key, field, min, max, true, QStringLiteral("a whole number"));
}

void FieldReader::readWholeNumber(const Key &key, int &field) const
{
    clampInt(key, field, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

void FieldReader::readNumber(const Key &key, float &field, double min, double max) const
{
    readFraction(key, field, min, max, false, range("a number from %1 to %2", min, max));
}

void FieldReader::clampNumber(const Key &key, float &field, double min, double max) const
{
    readFraction(key, field, min, max, true, QStringLiteral("a number"));
}

void FieldReader::readBool(const Key &key, bool &field) const
{
    const QJsonValue v = value(key);
    if (v.isBool())
        field = v.toBool();
    else if (!v.isUndefined())
        refuse(key, QStringLiteral("true or false, not ") + typeWord(v));
}

QString readFlag(const QJsonObject &data, const char *key, bool &flag)
{
    const FieldReader in(data);
    in.readBool(key, flag);
    return in.refusal();
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
