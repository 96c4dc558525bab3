#pragma once

#include <QString>
#include <QStringList>

namespace ostratest {

// Runs this test executable once more with QOROSTRA_THEME=dark and only `functions`, writing its
// artefacts beside this run's (`sub` is the artefact folder both runs use). True when the dark run passed.
bool runDarkTwin(const QString &sub, const QStringList &functions);

} // namespace ostratest
