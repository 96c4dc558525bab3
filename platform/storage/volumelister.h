#pragma once

#include <QList>
#include <QString>

namespace corvane {

// One mounted volume: its name (label) and the folder it is mounted on.
struct VolumeEntry
{
    QString name;
    QString rootPath;
};

// The system's list of mounted volumes, in its order. Tests install their own entries, so a
// temporary folder can stand for a device's drive.
class VolumeLister
{
public:
    // The installed entries when there are any, otherwise what the system lists.
    static QList<VolumeEntry> availableVolumes();
    static QList<VolumeEntry> systemVolumes();

    // From now on availableVolumes() returns exactly `volumes` (an empty list lists nothing).
    static void setFixedVolumes(const QList<VolumeEntry> &volumes);
    static void useSystemVolumes();
};

} // namespace corvane
