#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

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

// A reading table: a JSON object, and what the record read from it must write.
inline void columns()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
}

inline void row(const char *name, const char *input, const char *expected)
{
    QTest::newRow(name) << QByteArray(input) << QByteArray(expected);
}

// Reads an object into a record and writes it back.
template <typename Record>
QJsonObject pass(const QJsonObject &obj)
{
    return Record::fromJson(obj).toJson();
}

template <typename Pass>
void checkRow(Pass pass)
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const QString where = mismatch(pass(object(input)), object(expected));
    QVERIFY2(where.isEmpty(), qPrintable(where));
}

inline QJsonValue randomValue(QRandomGenerator &rng)
{
    switch (rng.bounded(8)) {
    case 0: return rng.bounded(2) == 1;
    case 1: return int(rng.bounded(-3000, 3000));
    case 2: return rng.bounded(2.0) - 0.5;
    case 3: return rng.bounded(2) ? -1e300 : double(std::numeric_limits<qint64>::max());
    case 4: return QString::number(rng.bounded(100));
    case 5: return QJsonArray{int(rng.bounded(10)), QStringLiteral("x"), 0.5, true, QJsonObject()};
    case 6: return QJsonObject{{QStringLiteral("r"), 300}};
    default: return QJsonValue::Null;
    }
}

// What a damaged or hand-edited file may hold: keys dropped, values of other types.
inline QJsonValue mutate(const QJsonValue &value, QRandomGenerator &rng, int depth = 0)
{
    const int roll = int(rng.bounded(10));
    if (roll == 0 && depth > 0)
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
        if (roll == 1 && !array.isEmpty())
            array.removeLast();
        if (roll == 2)
            array.append(randomValue(rng));
        for (qsizetype i = 0; i < array.size(); ++i)
            array[i] = rng.bounded(4) == 0 ? mutate(array.at(i), rng, depth + 1) : array.at(i);
        return array;
    }
    return roll < 3 ? randomValue(rng) : value;
}

// Through text and back, as a file would carry it.
inline QJsonObject viaText(const QJsonObject &obj)
{
    return QJsonDocument::fromJson(QJsonDocument(obj).toJson()).object();
}

// Reading damaged JSON and writing it again settles after one pass.
template <typename Pass>
void checkSettles(const QJsonObject &seed, Pass pass, quint32 randomSeed, int rounds = 400)
{
    QRandomGenerator rng(randomSeed);
    for (int i = 0; i < rounds; ++i) {
        const QJsonObject damaged = mutate(seed, rng).toObject();
        const QJsonObject once = viaText(pass(damaged));
        const QJsonObject twice = viaText(pass(once));
        QVERIFY2(twice == once, qPrintable(mismatch(twice, once) + QStringLiteral(" for input ") + text(damaged)));
    }
}

} // namespace jsoncheck
