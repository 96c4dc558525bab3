#include "platform/storage/volumelister.h"

#include <QStorageInfo>

#include <optional>

namespace corvane {

namespace {

std::optional<QList<VolumeEntry>> &fixedVolumes()
{
    static std::optional<QList<VolumeEntry>> volumes;
    return volumes;
}

} // namespace

QList<VolumeEntry> VolumeLister::availableVolumes()
{
    if (fixedVolumes())
        return *fixedVolumes();
    return systemVolumes();
}

QList<VolumeEntry> VolumeLister::systemVolumes()
{
    QList<VolumeEntry> entries;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    entries.reserve(volumes.size());
    for (const QStorageInfo &volume : volumes) {
        if (volume.isValid() && volume.isReady())
            entries.append({ volume.name(), volume.rootPath() });
    }
    return entries;
}

void VolumeLister::setFixedVolumes(const QList<VolumeEntry> &volumes)
{
    fixedVolumes() = volumes;
}

void VolumeLister::useSystemVolumes()
{
    fixedVolumes().reset();
}

} // namespace corvane
