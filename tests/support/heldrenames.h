#pragma once

#include <QString>

namespace ostratest {

// A disk that takes its time over the last step of a save: while this lives, renames onto files
// of one name (QSaveFile renames its finished temporary file onto the target) wait until
// release(). Counts those renames too. A rename that waits longer than `patienceMs` goes ahead
// and every later one with it, so a program that waits for it on the test's own thread fails the
// test instead of hanging it. One at a time.
class HeldRenames
{
public:
    explicit HeldRenames(const QString &fileName, int patienceMs = 5000);
    ~HeldRenames();
    HeldRenames(const HeldRenames &) = delete;
    HeldRenames &operator=(const HeldRenames &) = delete;

    void release();
    int waiting() const; // renames waiting now
    int done() const; // renames onto the name made so far
    bool ranOutOfPatience() const;
};

} // namespace ostratest
