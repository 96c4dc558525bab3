// Saves every profile, the ESC presets, the user presets and the store's state over and over
// until it is killed. Each round writes one generation number into every file, so a reader
// can tell a whole file of some generation from a torn one.
#include <QCoreApplication>
#include <QEventLoop>
#include <QStandardPaths>

#include <cstdio>

#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Qorvant"));
    QCoreApplication::setApplicationName(QStringLiteral("Qorvant OSTRA"));

    corvane::ProfileManager store;
    const QList<Profile> profiles = store.profiles();
    const QList<EscPreset> escPresets = store.escPresets();
    for (int generation = 1;; ++generation) {
        const QString marker = QString::number(generation);
        for (const Profile &profile : profiles) {
            Profile *stored = store.mutableProfile(profile.id);
            stored->axisSettings.escNeutral = generation;
            // Large enough that a write takes several blocks.
            stored->telemetryDashboard = QStringList(400, marker);
            store.saveProfile(profile.id);
        }
        for (const EscPreset &preset : escPresets)
            store.updateEscPreset(preset.id, generation, generation, generation);
        store.saveUserPreset(QStringLiteral("crash"), QStringLiteral("generation"),
                             QJsonObject{{QStringLiteral("generation"), generation}});
        store.setActiveProfile(profiles.at(generation % profiles.size()).id);
        // The writer reports on this thread, and takes a file's next write only after that.
        while (!corvane::FileWriter::shared().isIdle())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (generation == 1) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}
