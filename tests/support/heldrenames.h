#pragma once

#include <QString>

namespace ostratest {

// A disk slow to finish a save: while this lives, renames onto files of one name (a save renames
// its finished temporary file onto the target), or onto any file when the name is empty, wait
// until release(), and are counted. One that waits longer than `patienceMs` goes ahead, and
// every later one with it, so that a program waiting for it on the test's own thread fails the
// test instead of hanging it. With `Hold::Syncs` the syncs of files whose names hold the name
// (the temporary file of a save) wait instead, before anything is renamed; with `Hold::Removals`
// the removals of files of that name; with `Hold::Locks` the waiting locks (flock without
// LOCK_NB) of files whose names hold the name; with `Hold::FolderSyncs` the syncs of the folder of
// that name, which a save makes after its rename.
class HeldRenames
{
public:
    enum class Hold { Renames, Syncs, Removals, Locks, FolderSyncs };
    explicit HeldRenames(const QString &fileName, int patienceMs = 5000, Hold hold = Hold::Renames);
    ~HeldRenames() { release(); }

    void release();
    int waiting() const; // renames (or whatever is held) waiting now
    int done() const; // renames onto the name made so far

    // The fsync and fdatasync calls the calling thread has made in the life of the process,
    // whether or not renames are held: the thread of the 7 ms tick must make none.
    static int syncsOnThisThread();
};

} // namespace ostratest
