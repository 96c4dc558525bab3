#include "api/storeerrors.h"

#include "api/wsjson.h"
#include "profiles/profilemanager.h"

namespace corvane {

StoreErrors::StoreErrors(ProfileManager *store)
    : m_connection(QObject::connect(store, &ProfileManager::errorOccurred, [this](const QString &message) {
          if (m_first.isEmpty())
              m_first = message;
      }))
{
}

StoreErrors::~StoreErrors()
{
    QObject::disconnect(m_connection);
}

QString StoreErrors::message(const QString &fallback) const
{
    return any() ? m_first : fallback;
}

QJsonObject StoreErrors::reply(const QString &event) const
{
    return wsjson::actionReply(event, !any(), m_first);
}

} // namespace corvane
