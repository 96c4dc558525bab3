// Profile documents as a user's folder holds them: each record of the input is one file (kind
// 0..3: a profile, config.json, esc_presets.json, user_presets.json), written into the store's
// folder, which a fresh store then loads and saves; the first profile also goes through the reader alone.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>

#include "fuzzhost.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ostrafuzz::initHost();
    const ostrafuzz::Turn turn;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    int profileNumber = 0;
    for (const ostrafuzz::Record &r : ostrafuzz::records(data, size)) {
        QString name;
        switch (r.kind % 4) {
        case 0:
            if (profileNumber == 0)
                Profile::fromJson(QJsonDocument::fromJson(r.bytes).object());
            name = QStringLiteral("fuzz%1.json").arg(profileNumber++);
            break;
        case 1:
            name = QStringLiteral("config.json");
            break;
        case 2:
            name = QStringLiteral("esc_presets.json");
            break;
        default:
            name = QStringLiteral("user_presets.json");
            break;
        }
        QFile file(folder + QLatin1Char('/') + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(r.bytes);
    }
    // The store loads the folder as it is made and writes back what it kept as it goes.
    corvane::ProfileManager store;
    return 0;
}
