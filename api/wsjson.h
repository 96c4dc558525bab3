#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <initializer_list>
#include <memory>

#include "profiles/profilename.h"

// Reading of request data and the common reply shapes of the API's handlers.
namespace corvane::wsjson {

// A whole JSON number that fits an int; anything else (missing, another type, a fraction,
// out of range) reads as `fallback`.
int readInt(const QJsonObject &data, const QString &key, int fallback);
// A JSON string, else `fallback`.
QString readString(const QJsonObject &data, const QString &key, const QString &fallback = QString());
// A JSON bool, else `fallback`.
bool readBool(const QJsonObject &data, const QString &key, bool fallback);

// The longest texts a request may store: a name, or another short text, as the name rule allows
// one; an id as the program makes them (a UUID without braces, a telemetry sensor's id such as
// "GSpd"); a port name or a game controller's identity as the system reports them (DirectInput's
// fields hold MAX_PATH characters).
constexpr int MaxNameChars = ProfileName::MaxLength;
constexpr int MaxIdChars = 36;
constexpr int MaxSensorIdChars = 4;
constexpr int MaxDeviceTextChars = 260;
// What a reply or a log line repeats of a name from the network it refuses.
constexpr int MaxEchoedChars = 64;

// `text` cut to MaxEchoedChars characters, a character of two code units kept whole: what a
// reply or a log line repeats of a text from the network.
QString echoed(const QString &text);

// Reads the values a request sets into a copy of a record, by one rule: an absent key leaves its
// field as it is; a present key of another type (null included), a fraction where a whole number
// belongs, a number outside the field's range, a choice that names none of the choices or a text
// longer than its limit is refused with a message naming the key. A value equal to the stored
// one always passes, so that an app can send back what it read. The first refusal is kept, so a
// handler reads the whole request, then stores nothing and answers that message. The clamp
// readers hold a number within its range instead of refusing it, where the app relies on that.
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

    // This reader with `stored`, the record the request changes as its get_ request shows it:
    // a value equal to the one stored there passes as a value equal to the field does, also
    // where the request builds the record afresh. Nested readers compare with the member or
    // element of the same key.
    FieldReader comparedWith(const QJsonValue &stored) const;
    // This reader refusing what the clamp readers would hold within their range: for a record
    // taken whole from outside, where a value changed on the way would go unnoticed.
    FieldReader strict() const;
    // The value under `key` is the one `comparedWith` gave for it.
    bool isStored(const Key &key) const;

    // Readers of a nested object or array, sharing this reader's refusal. An absent member
    // reads as empty; a member of another type is refused and reads as empty.
    FieldReader object(const Key &key) const;
    FieldReader array(const Key &key) const;
    // The elements of an array reader (0 for an object reader).
    qsizetype size() const { return m_array.size(); }
    bool contains(const Key &key) const { return !value(key).isUndefined(); }
    // The value as sent, for what these readers do not check.
    QJsonValue value(const Key &key) const;

    void readInt(const Key &key, int &field, int min, int max) const;
    void readChannel(const Key &key, int &field) const;
    void clampInt(const Key &key, int &field, int min, int max) const;
    // Any whole number within int, for a value the caller checks itself.
    void readWholeNumber(const Key &key, int &field) const;
    void readNumber(const Key &key, float &field, double min, double max) const;
    void clampNumber(const Key &key, float &field, double min, double max) const;
    void readBool(const Key &key, bool &field) const;
    // A text of at most `maxChars` characters; a value of another type reads as the empty text.
    void readText(const Key &key, QString &field, int maxChars) const;
    // The position in `names` of the name sent, compared exactly; -1 when the key is absent or
    // the value is refused (another type, or none of the names).
    qsizetype readChoice(const Key &key, std::initializer_list<const char *> names) const;

    // Refuses `key` for a check of the handler's own: "'key' must be " followed by `expected`.
    void refuse(const Key &key, const QString &expected) const;

private:
    FieldReader(const FieldReader &parent, const QJsonValue &container, const Key &key);

    QString name(const Key &key) const;
    static QJsonValue at(const QJsonValue &container, const Key &key);
    // The number under `key`: false when absent or refused (another type, or not whole).
    bool number(const Key &key, const QString &expected, bool whole, double &result) const;
    // `typeText` is what a value of another type is told to be, `rangeText` a number outside
    // [min, max], which the clamp readers hold within it unless the reader is strict.
    void readWhole(const Key &key, int &field, int min, int max, bool clamp, const QString &typeText,
                   const QString &rangeText) const;
    void readFraction(const Key &key, float &field, double min, double max, bool clamp, const QString &typeText,
                      const QString &rangeText) const;

    QJsonObject m_object;
    QJsonArray m_array;
    QJsonValue m_stored;
    QString m_path;
    bool m_strict = false;
    std::shared_ptr<QString> m_refusal;
};

// The refusal of a name a request sent (not empty) that shows nothing: blanks or invisible
// characters alone, as the name rule has it. Empty when the name shows something, or is empty.
QString invisibleNameRefusal(const QString &name);

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
