#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <memory>

// Reading of request data and the common reply shapes of the API's handlers.
namespace corvane::wsjson {

// A whole JSON number that fits an int; anything else (missing, another type, a fraction,
// out of range) reads as `fallback`.
int readInt(const QJsonObject &data, const QString &key, int fallback);
// A JSON string, else `fallback`.
QString readString(const QJsonObject &data, const QString &key, const QString &fallback = QString());
// A JSON bool, else `fallback`.
bool readBool(const QJsonObject &data, const QString &key, bool fallback);

// Reads the numbers and flags a request sets into a copy of a record, by one rule: an absent
// key leaves its field as it is; a present key of another type (null included), a fraction
// where a whole number belongs, or a number outside the field's range is refused with a
// message naming the key. The first refusal is kept, so a handler reads the whole request,
// then stores nothing and answers that message. The clamp readers hold a number within its
// range instead of refusing it, where the app and race control rely on that.
class FieldReader
{
public:
    // A member of an object reader, or an element of an array reader.
    class Key
    {
    public:
        Key(const QString &name) : m_name(name) {}
        Key(const char *name) : m_name(QLatin1String(name)) {}
        Key(qsizetype index) : m_index(index) {}

    private:
        friend class FieldReader;
        QString m_name;
        qsizetype m_index = -1;
    };

    explicit FieldReader(const QJsonObject &data);

    bool ok() const { return m_refusal->isEmpty(); }
    QString refusal() const { return *m_refusal; }

    // Readers of a nested object or array, sharing this reader's refusal. An absent member
    // reads as empty; a member of another type is refused and reads as empty.
    FieldReader object(const Key &key) const;
    FieldReader array(const Key &key) const;
    // The elements of an array reader (0 for an object reader).
    qsizetype size() const { return m_array.size(); }
    bool isObject(const Key &key) const { return value(key).isObject(); }
    bool contains(const Key &key) const { return !value(key).isUndefined(); }
    // The value as sent, for what these readers do not check (texts, choices).
    QJsonValue value(const Key &key) const;

    void readInt(const Key &key, int &field, int min, int max) const;
    void readChannel(const Key &key, int &field) const;
    void clampInt(const Key &key, int &field, int min, int max) const;
    // Any whole number, held within int: for a value the caller checks or clamps itself.
    void readWholeNumber(const Key &key, int &field) const;
    void readNumber(const Key &key, float &field, double min, double max) const;
    void clampNumber(const Key &key, float &field, double min, double max) const;
    void readBool(const Key &key, bool &field) const;

    // Refuses `key` for a check of the handler's own: "'key' must be " followed by `expected`.
    void refuse(const Key &key, const QString &expected) const;

private:
    FieldReader(const QJsonValue &container, const QString &path, std::shared_ptr<QString> refusal);

    QString name(const Key &key) const;
    // The number under `key`: false when absent or refused (another type, or not whole).
    bool number(const Key &key, const QString &expected, bool whole, double &result) const;
    void readWhole(const Key &key, int &field, int min, int max, bool clamp, const QString &expected) const;
    void readFraction(const Key &key, float &field, double min, double max, bool clamp, const QString &expected) const;

    QJsonObject m_object;
    QJsonArray m_array;
    QString m_path;
    std::shared_ptr<QString> m_refusal;
};

// A request's one flag, read by the rule above into `flag`, which keeps its value when the key
// is absent. The refusal, or empty.
QString readFlag(const QJsonObject &data, const char *key, bool &flag);

// {"event": event, "success": success} with "message" when `message` is not empty.
QJsonObject actionReply(const QString &event, bool success, const QString &message = QString());
// {"event": event, "data": data}.
QJsonObject dataReply(const QString &event, const QJsonObject &data);
// {"event": "error", "source": event, "message": message}.
QJsonObject errorReply(const QString &event, const QString &message);

} // namespace corvane::wsjson
