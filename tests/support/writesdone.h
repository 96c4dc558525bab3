#pragma once

#include <QDir>
#include <QStandardPaths>
#include <QTest>

#include "platform/storage/filewriter.h"

namespace ostratest {

// Runs the event loop until the program's writer has done, and reported, everything handed over
// to it: for a test that reads the files a change wrote, or that ends a starved disk only after.
inline bool writesDone(int timeoutMs = 10000)
{
    return QTest::qWaitFor([] { return corvane::FileWriter::shared().isIdle(); }, timeoutMs);
}

// Returns once the writer's thread has tried everything handed over, without running the event
// loop: for a stretch in which the process is starved (the window system wants descriptors too).
// The writer reports on the next run of the event loop.
inline bool writesTried(int timeoutMs = 10000)
{
    return corvane::FileWriter::shared().flush(timeoutMs);
}

// Empties the data folder for a fresh installation, once what a store before wrote at its end is
// on disk: a write still on its way would bring its file back.
inline void freshDataFolder()
{
    corvane::FileWriter::shared().flush(10000);
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

} // namespace ostratest
