#include "api/wsjson.h"

#include <QJsonValue>
#include <QStringList>

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

QString echoed(const QString &text)
{
    if (text.size() <= MaxEchoedChars)
        return text;
    int end = MaxEchoedChars;
    if (text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
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

FieldReader::FieldReader(const FieldReader &parent, const QJsonValue &container, const Key &key)
    : m_object(container.toObject())
    , m_array(container.toArray())
    , m_stored(at(parent.m_stored, key))
    , m_path(parent.name(key))
    , m_strict(parent.m_strict)
    , m_refusal(parent.m_refusal)
{
}

FieldReader FieldReader::comparedWith(const QJsonValue &stored) const
{
    FieldReader reader = *this;
    reader.m_stored = stored;
    return reader;
}

FieldReader FieldReader::strict() const
{
    FieldReader reader = *this;
    reader.m_strict = true;
    return reader;
}

QJsonValue FieldReader::at(const QJsonValue &container, const Key &key)
{
    if (key.m_index >= 0)
        return container.toArray().at(key.m_index);
    return container.toObject().value(key.m_name);
}

QJsonValue FieldReader::value(const Key &key) const
{
    if (key.m_index >= 0)
        return m_array.at(key.m_index);
    return m_object.value(key.m_name);
}

bool FieldReader::isStored(const Key &key) const
{
    const QJsonValue stored = at(m_stored, key);
    return !stored.isUndefined() && stored == value(key);
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
    return FieldReader(*this, member.isObject() ? member : QJsonObject(), key);
}

FieldReader FieldReader::array(const Key &key) const
{
    const QJsonValue member = value(key);
    if (!member.isUndefined() && !member.isArray())
        refuse(key, QStringLiteral("an array, not ") + typeWord(member));
    return FieldReader(*this, member.isArray() ? member : QJsonArray(), key);
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

void FieldReader::readWhole(const Key &key, int &field, int min, int max, bool clamp, const QString &typeText,
                            const QString &rangeText) const
{
    double n = 0;
    if (!number(key, typeText, true, n))
        return;
    if ((n < min || n > max) && n != double(field) && !isStored(key)) {
        if (!clamp || m_strict)
            return refuse(key, rangeText);
        n = std::clamp(n, double(min), double(max));
    }
    field = int(n);
}

void FieldReader::readFraction(const Key &key, float &field, double min, double max, bool clamp,
                               const QString &typeText, const QString &rangeText) const
{
    double n = 0;
    if (!number(key, typeText, false, n))
        return;
    if ((n < min || n > max) && n != double(field) && !isStored(key)) {
        if (!clamp || m_strict)
            return refuse(key, rangeText);
        n = std::clamp(n, min, max);
    }
    field = float(n);
}

void FieldReader::readInt(const Key &key, int &field, int min, int max) const
{
    const QString expected = range("a whole number from %1 to %2", min, max);
    readWhole(key, field, min, max, false, expected, expected);
}

void FieldReader::readChannel(const Key &key, int &field) const
{
    const QString expected = range("a channel value from %1 to %2", 0, ChannelValueMax);
    readWhole(key, field, 0, ChannelValueMax, false, expected, expected);
}

void FieldReader::clampInt(const Key &key, int &field, int min, int max) const
{
    readWhole(key, field, min, max, true, QStringLiteral("a whole number"),
              range("a whole number from %1 to %2", min, max));
}

void FieldReader::readWholeNumber(const Key &key, int &field) const
{
    const QString expected = QStringLiteral("a whole number");
    readWhole(key, field, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), false, expected, expected);
}

void FieldReader::readNumber(const Key &key, float &field, double min, double max) const
{
    const QString expected = range("a number from %1 to %2", min, max);
    readFraction(key, field, min, max, false, expected, expected);
}

void FieldReader::clampNumber(const Key &key, float &field, double min, double max) const
{
    readFraction(key, field, min, max, true, QStringLiteral("a number"), range("a number from %1 to %2", min, max));
}

void FieldReader::readBool(const Key &key, bool &field) const
{
    const QJsonValue v = value(key);
    if (v.isBool())
        field = v.toBool();
    else if (!v.isUndefined())
        refuse(key, QStringLiteral("true or false, not ") + typeWord(v));
}

void FieldReader::readText(const Key &key, QString &field, int maxChars) const
{
    const QJsonValue v = value(key);
    if (v.isUndefined())
        return;
    const QString text = v.toString();
    if (text.size() > maxChars && text != field && !isStored(key))
        return refuse(key, QStringLiteral("a text of at most %1 characters").arg(maxChars));
    field = text;
}

qsizetype FieldReader::readChoice(const Key &key, std::initializer_list<const char *> names) const
{
    const QJsonValue v = value(key);
    if (v.isUndefined())
        return -1;
    QStringList quoted;
    for (const char *choice : names) {
        if (v.isString() && v.toString() == QLatin1String(choice))
            return quoted.size();
        quoted.append(QLatin1Char('"') + QLatin1String(choice) + QLatin1Char('"'));
    }
    const QString last = quoted.takeLast();
    const QString expected = quoted.isEmpty() ? last : quoted.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
    refuse(key, v.isString() ? expected : expected + QStringLiteral(", not ") + typeWord(v));
    return -1;
}

QString invisibleNameRefusal(const QString &name)
{
    if (name.isEmpty() || !ProfileName::normalized(name).isEmpty())
        return {};
    return QStringLiteral("'name' has nothing visible: it holds only blanks or invisible characters");
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
