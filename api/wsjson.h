#pragma once

#include <QJsonObject>
#include <QString>

// Lenient reading of request data and the common reply shapes of the API's handlers.
namespace corvane::wsjson {

// A whole JSON number that fits an int; anything else (missing, another type, a fraction,
// out of range) reads as `fallback`.
int readInt(const QJsonObject &data, const QString &key, int fallback);
// A JSON string, else `fallback`.
QString readString(const QJsonObject &data, const QString &key, const QString &fallback = QString());
// A JSON bool, else `fallback`.
bool readBool(const QJsonObject &data, const QString &key, bool fallback);

// {"event": event, "success": success} with "message" when `message` is not empty.
QJsonObject actionReply(const QString &event, bool success, const QString &message = QString());
// {"event": event, "data": data}.
QJsonObject dataReply(const QString &event, const QJsonObject &data);
// {"event": "error", "source": event, "message": message}.
QJsonObject errorReply(const QString &event, const QString &message);

} // namespace corvane::wsjson
