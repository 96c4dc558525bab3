#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace corvane {

// The INI format as QSettings writes and reads it on this platform: one section per first part
// of a key, keys and values escaped as it escapes them, lists joined by ", ", and what a text
// cannot hold as "@Type(...)". Bytes only: no file, no lock.
class IniFormat
{
public:
    // The whole file for `values`, the same bytes QSettings writes for them. Never null.
    static QByteArray text(const QVariantMap &values);
    // What QSettings reads from `data`; `damaged` when a line could not be read (what could
    // is kept). A typed value whose bytes do not hold what they claim reads as no value.
    static QVariantMap parsed(QByteArrayView data, bool &damaged);
    // The keys whose value is another text in the file, or is in one map only: what was read
    // back is always text, what the program sets may be a number, a flag or a list.
    static QStringList differingKeys(const QVariantMap &before, const QVariantMap &after);
    // A key as QSettings takes it: no empty parts between slashes, none at either end.
    static QString normalizedKey(const QString &key);
};

} // namespace corvane
