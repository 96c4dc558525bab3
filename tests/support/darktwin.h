#pragma once

#include <QString>
#include <QStringList>

namespace ostratest {

// Runs this test executable once more in the dark theme (QOROSTRA_THEME=dark) for the given test
// functions, leaving its pictures in the same artefact folder `sub`; true when that run passed.
// Render tests call it from their light run so that one ctest entry paints both themes.
bool runDarkTwin(const QString &sub, const QStringList &testFunctions);

} // namespace ostratest
