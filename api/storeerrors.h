#pragma once

#include <QJsonObject>
#include <QMetaObject>
#include <QString>

namespace corvane {

class ProfileManager;

// Collects what the profile store reports (a file it could not write, a name or a limit it
// refused) while one request runs, so that the reply carries the store's message instead of
// acknowledging a change that is not on disk.
class StoreErrors
{
public:
    explicit StoreErrors(ProfileManager *store);
    ~StoreErrors();
    StoreErrors(const StoreErrors &) = delete;
    StoreErrors &operator=(const StoreErrors &) = delete;

    bool any() const { return !m_first.isEmpty(); }
    // The first message the store reported, or `fallback` when it reported none.
    QString message(const QString &fallback = QString()) const;
    // {"event", "success": true}, or "success" false with the store's first message.
    QJsonObject reply(const QString &event) const;

private:
    QMetaObject::Connection m_connection;
    QString m_first;
};

} // namespace corvane
