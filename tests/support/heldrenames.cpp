#include "support/heldrenames.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::mutex mutex;
std::condition_variable released;
std::string watchedSuffix; // "/" + the file name; "/" alone: any file
std::chrono::milliseconds patience{0};
bool holding = false;
ostratest::HeldRenames::Hold held = ostratest::HeldRenames::Hold::Renames;
int renamesWaiting = 0;
int renamesDone = 0;
std::map<pthread_t, int> syncs; // by thread

// Waits while renames (or syncs) are held, at most the patience; past it, nothing is held any more.
void waitWhileHeld(std::unique_lock<std::mutex> &lock)
{
    ++renamesWaiting;
    if (!released.wait_for(lock, patience, [] { return !holding; }))
        holding = false;
    --renamesWaiting;
}

std::string pathOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char name[4096];
    const ssize_t length = ::readlink(link, name, sizeof name - 1);
    return std::string(name, length > 0 ? size_t(length) : 0);
}

bool isWatched(const std::string &target)
{
    return !watchedSuffix.empty() && target.size() >= watchedSuffix.size()
           && (watchedSuffix == "/"
               || target.compare(target.size() - watchedSuffix.size(), watchedSuffix.size(), watchedSuffix) == 0);
}

void countSync(int fd)
{
    const std::string path = pathOf(fd);
    std::unique_lock lock(mutex);
    ++syncs[pthread_self()];
    using Hold = ostratest::HeldRenames::Hold;
    if (holding
        && ((held == Hold::Syncs && path.find(watchedSuffix.substr(1)) != std::string::npos)
            || (held == Hold::FolderSyncs && isWatched(path))))
        waitWhileHeld(lock);
}

} // namespace

// The same for the syncs of a save, by everyone in the process (Qt's included).
extern "C" int fsync(int fd)
{
    countSync(fd);
    return int(::syscall(SYS_fsync, fd));
}

extern "C" int fdatasync(int fd)
{
    countSync(fd);
    return int(::syscall(SYS_fdatasync, fd));
}

// The program's renames come here before the C library's: the executable's definition wins.
extern "C" int rename(const char *from, const char *to) noexcept
{
    std::unique_lock lock(mutex);
    const bool watched = isWatched(to);
    // Past its patience it goes ahead, and stops holding the others.
    if (watched && holding && held == ostratest::HeldRenames::Hold::Renames)
        waitWhileHeld(lock);
    lock.unlock();
    const int result = ::renameat(AT_FDCWD, from, AT_FDCWD, to);
    lock.lock();
    renamesDone += watched && result == 0 ? 1 : 0;
    return result;
}

extern "C" int unlink(const char *path) noexcept
{
    std::unique_lock lock(mutex);
    if (holding && held == ostratest::HeldRenames::Hold::Removals && isWatched(path))
        waitWhileHeld(lock);
    lock.unlock();
    return ::unlinkat(AT_FDCWD, path, 0);
}

extern "C" int flock(int fd, int operation) noexcept
{
    if (!(operation & LOCK_NB)) {
        const std::string path = pathOf(fd);
        std::unique_lock lock(mutex);
        if (holding && held == ostratest::HeldRenames::Hold::Locks && path.find(watchedSuffix.substr(1)) != std::string::npos)
            waitWhileHeld(lock);
    }
    return int(::syscall(SYS_flock, fd, operation));
}

namespace ostratest {

HeldRenames::HeldRenames(const QString &fileName, int patienceMs, Hold hold)
{
    const std::lock_guard lock(mutex);
    watchedSuffix = "/" + fileName.toStdString();
    patience = std::chrono::milliseconds(patienceMs);
    holding = true;
    held = hold;
    renamesDone = 0;
}

void HeldRenames::release()
{
    {
        const std::lock_guard lock(mutex);
        holding = false;
    }
    released.notify_all();
}

int HeldRenames::waiting() const
{
    const std::lock_guard lock(mutex);
    return renamesWaiting;
}

int HeldRenames::done() const
{
    const std::lock_guard lock(mutex);
    return renamesDone;
}

int HeldRenames::syncsOnThisThread()
{
    const std::lock_guard lock(mutex);
    const auto found = syncs.find(pthread_self());
    return found == syncs.end() ? 0 : found->second;
}

} // namespace ostratest
