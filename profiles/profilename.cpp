#include "profiles/profilename.h"

#include <QCoreApplication>

namespace corvane {

QString ProfileName::normalized(const QString &name)
{
    return name.trimmed();
}

QString ProfileName::refusal(const QString &name)
{
    const QString clean = normalized(name);
    if (clean.isEmpty())
        return emptyMessage();
    if (clean.size() > MaxLength)
        return tooLongMessage();
    return {};
}

QString ProfileName::emptyMessage()
{
    return QCoreApplication::translate("corvane::ProfileManager", "Profile name cannot be empty");
}

QString ProfileName::tooLongMessage()
{
    return QCoreApplication::translate("corvane::ProfileManager", "Profile name is too long: at most %1 characters")
        .arg(MaxLength);
}

} // namespace corvane
