#pragma once

#include <QTest>

#include "profiles/filewriter.h"

namespace ostratest {

// Runs the event loop until the program's writer has done, and reported, everything handed over
// to it: for a test that reads the files a change wrote, or that ends a starved disk only after.
inline bool writesDone(int timeoutMs = 10000)
{
    return QTest::qWaitFor([] { return corvane::FileWriter::shared().isIdle(); }, timeoutMs);
}

} // namespace ostratest
