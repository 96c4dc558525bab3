#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QString>

#include <limits>

namespace jsoncheck {

inline QJsonObject object(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (!doc.isObject())
        qFatal("bad JSON in test table: %s (%s)", text.constData(), qPrintable(error.errorString()));
    return doc.object();
}

// Every key of `expected` is in `actual` with that value; objects are compared key by key
// recursively, arrays element by element (same length), anything else exactly. On a mismatch
// `where` names the path.
inline bool hasSubset(const QJsonValue &actual, const QJsonValue &expected, QString *where,
                      const QString &path = QString())
{
    if (expected.isObject()) {
        if (!actual.isObject()) {
            *where = path + QStringLiteral(" is not an object");
            return false;
        }
        const QJsonObject a = actual.toObject();
        const QJsonObject e = expected.toObject();
        for (auto it = e.begin(); it != e.end(); ++it) {
            if (!a.contains(it.key())) {
                *where = path + QLatin1Char('/') + it.key() + QStringLiteral(" is missing");
                return false;
            }
            if (!hasSubset(a.value(it.key()), it.value(), where, path + QLatin1Char('/') + it.key()))
                return false;
        }
        return true;
    }
    if (expected.isArray() && actual.isArray() && actual.toArray().size() == expected.toArray().size()) {
        const QJsonArray a = actual.toArray();
        const QJsonArray e = expected.toArray();
        for (qsizetype i = 0; i < e.size(); ++i) {
            if (!hasSubset(a.at(i), e.at(i), where, path + QStringLiteral("/%1").arg(i)))
                return false;
        }
        return true;
    }
    if (actual != expected) {
        *where = path + QStringLiteral(": got ")
                 + QString::fromUtf8(QJsonDocument(QJsonArray{actual}).toJson(QJsonDocument::Compact))
                 + QStringLiteral(" expected ")
                 + QString::fromUtf8(QJsonDocument(QJsonArray{expected}).toJson(QJsonDocument::Compact));
        return false;
    }
    return true;
}

// A value of a random JSON type, including the awkward ones: fractions, huge numbers,
// negative numbers, empty containers, strings.
inline QJsonValue randomValue(QRandomGenerator &rng)
{
    switch (rng.bounded(10)) {
    case 0:
        return QJsonValue(rng.bounded(2) == 1);
    case 1:
        return QJsonValue(int(rng.bounded(-3000, 3000)));
    case 2:
        return QJsonValue(rng.bounded(2.0) - 0.5);
    case 3:
        return QJsonValue(1e300 * (rng.bounded(2) ? 1 : -1));
    case 4:
        return QJsonValue(double(std::numeric_limits<qint64>::max()));
    case 5:
        return QJsonValue(QStringLiteral("per_led"));
    case 6:
        return QJsonValue(QString::number(rng.bounded(100)));
    case 7:
        return QJsonArray{int(rng.bounded(10)), QStringLiteral("x"), 0.5, true, QJsonObject()};
    case 8:
        return QJsonObject{{QStringLiteral("r"), 300}};
    default:
        return QJsonValue(QJsonValue::Null);
    }
}

// Changes a record's JSON at random: keys dropped, values replaced by other types, containers
// changed inside. The result is what a damaged or hand-edited file may hold.
inline QJsonValue mutate(const QJsonValue &value, QRandomGenerator &rng, int depth = 0)
{
    const int roll = int(rng.bounded(10));
    if (roll == 0 && depth > 0)
        return randomValue(rng);
    if (value.isObject()) {
        QJsonObject obj = value.toObject();
        const QStringList keys = obj.keys();
        for (const QString &key : keys) {
            const int action = int(rng.bounded(8));
            if (action == 0)
                obj.remove(key);
            else if (action == 1)
                obj.insert(key, randomValue(rng));
            else
                obj.insert(key, mutate(obj.value(key), rng, depth + 1));
        }
        return obj;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        if (roll == 1 && !array.isEmpty())
            array.removeLast();
        if (roll == 2)
            array.append(randomValue(rng));
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (rng.bounded(4) == 0)
                array[i] = mutate(array.at(i), rng, depth + 1);
        }
        return array;
    }
    if (roll < 3)
        return randomValue(rng);
    return value;
}

// Through text and back, as a file would carry it.
inline QJsonObject viaText(const QJsonObject &obj)
{
    return QJsonDocument::fromJson(QJsonDocument(obj).toJson(QJsonDocument::Indented)).object();
}

} // namespace jsoncheck

namespace jsoncheck {

// Reading damaged JSON and writing it again settles after one pass: a second read and
// write gives the same object. `pass` reads an object into a record and writes it back.
template <typename Pass>
void checkSettles(const QJsonObject &seed, Pass pass, quint32 randomSeed, int rounds = 400)
{
    QRandomGenerator rng(randomSeed);
    for (int i = 0; i < rounds; ++i) {
        const QJsonObject damaged = mutate(seed, rng).toObject();
        const QJsonObject once = viaText(pass(damaged));
        const QJsonObject twice = viaText(pass(once));
        if (twice != once) {
            QString where;
            hasSubset(twice, once, &where);
            QFAIL(qPrintable(QStringLiteral("round %1 does not settle at %2; input %3")
                                 .arg(i)
                                 .arg(where, QString::fromUtf8(QJsonDocument(damaged).toJson(
                                                 QJsonDocument::Compact)))));
        }
    }
}

} // namespace jsoncheck

// Compares the written record with the expected keys of a test row.
#define JSON_SUBSET(actual, expectedText)                                                          \
    do {                                                                                           \
        QString where_;                                                                            \
        if (!jsoncheck::hasSubset(QJsonValue(actual), QJsonValue(jsoncheck::object(expectedText)), \
                                  &where_))                                                        \
            QFAIL(qPrintable(where_));                                                             \
    } while (false)
