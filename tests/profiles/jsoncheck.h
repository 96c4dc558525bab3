#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

namespace jsoncheck {

inline QJsonObject object(const QByteArray &text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    if (!doc.isObject())
        qFatal("bad JSON in test table: %s", text.constData());
    return doc.object();
}

inline QString text(const QJsonValue &value)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

// Where `actual` differs from `expected`, or empty: objects are compared on the keys of
// `expected` only (a null there means the key must be absent), arrays element by element.
inline QString mismatch(const QJsonValue &actual, const QJsonValue &expected, const QString &path = {})
{
    if (expected.isObject() && actual.isObject()) {
        const QJsonObject a = actual.toObject();
        const QJsonObject e = expected.toObject();
        for (auto it = e.begin(); it != e.end(); ++it) {
            const QString at = path + QLatin1Char('/') + it.key();
            if (it->isNull() != !a.contains(it.key()))
                return at + (it->isNull() ? QStringLiteral(" is present") : QStringLiteral(" is missing"));
            const QString inner = it->isNull() ? QString() : mismatch(a.value(it.key()), *it, at);
            if (!inner.isEmpty())
                return inner;
        }
        return {};
    }
    if (expected.isArray() && actual.isArray() && actual.toArray().size() == expected.toArray().size()) {
        for (qsizetype i = 0; i < expected.toArray().size(); ++i) {
            const QString inner = mismatch(actual.toArray().at(i), expected.toArray().at(i),
                                           path + QLatin1Char('/') + QString::number(i));
            if (!inner.isEmpty())
                return inner;
        }
        return {};
    }
    return actual == expected
        ? QString()
        : path + QStringLiteral(": got ") + text(actual) + QStringLiteral(" expected ") + text(expected);
}

inline QJsonValue randomValue(QRandomGenerator &rng)
{
    const QJsonArray values{true, int(rng.bounded(-3000, 3000)), rng.bounded(2.0) - 0.5, -1e300, QStringLiteral("7"),
                            QJsonArray{1, QStringLiteral("x")}, QJsonObject(), QJsonValue::Null};
    return values.at(rng.bounded(int(values.size())));
}

// What a damaged or hand-edited file may hold: keys dropped, values of other types.
inline QJsonValue mutate(const QJsonValue &value, QRandomGenerator &rng, int depth = 0)
{
    if (depth > 0 && rng.bounded(10) == 0)
        return randomValue(rng);
    if (value.isObject()) {
        QJsonObject obj = value.toObject();
        for (const QString &key : obj.keys()) {
            const int action = int(rng.bounded(8));
            if (action == 0)
                obj.remove(key);
            else
                obj.insert(key, action == 1 ? randomValue(rng) : mutate(obj.value(key), rng, depth + 1));
        }
        return obj;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        const int roll = int(rng.bounded(4));
        if (roll == 0)
            array.append(randomValue(rng));
        else if (roll == 1 && !array.isEmpty())
            array.removeLast();
        for (qsizetype i = 0; i < array.size(); ++i)
            array[i] = mutate(array.at(i), rng, depth + 1);
        return array;
    }
    return rng.bounded(3) == 0 ? randomValue(rng) : value;
}

} // namespace jsoncheck
