#include "support/heldrenames.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include <fcntl.h>

namespace {

struct Held
{
    std::mutex mutex;
    std::condition_variable released;
    std::string suffix; // "/" + the file name; empty when nothing is watched
    std::chrono::milliseconds patience{0};
    bool holding = false;
    int waiting = 0;
    int done = 0;
    bool impatient = false;
};

Held &held()
{
    static Held state;
    return state;
}

bool endsWith(const char *path, const std::string &suffix)
{
    const std::string text(path);
    return !suffix.empty() && text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

// The program's renames come here before the C library's: a definition in the executable comes
// first. Only renames onto the watched name wait; every rename is made by renameat.
extern "C" int rename(const char *from, const char *to) noexcept
{
    Held &state = held();
    std::unique_lock lock(state.mutex);
    const bool watched = endsWith(to, state.suffix);
    if (watched && state.holding) {
        ++state.waiting;
        if (!state.released.wait_for(lock, state.patience, [&] { return !state.holding; })) {
            state.impatient = true;
            state.holding = false;
        }
        --state.waiting;
    }
    lock.unlock();
    const int result = ::renameat(AT_FDCWD, from, AT_FDCWD, to);
    if (watched && result == 0) {
        lock.lock();
        ++state.done;
    }
    return result;
}

namespace ostratest {

HeldRenames::HeldRenames(const QString &fileName, int patienceMs)
{
    Held &state = held();
    const std::lock_guard lock(state.mutex);
    state.suffix = "/" + fileName.toStdString();
    state.patience = std::chrono::milliseconds(patienceMs);
    state.holding = true;
    state.done = 0;
    state.impatient = false;
}

HeldRenames::~HeldRenames()
{
    release();
    Held &state = held();
    const std::lock_guard lock(state.mutex);
    state.suffix.clear();
}

void HeldRenames::release()
{
    Held &state = held();
    {
        const std::lock_guard lock(state.mutex);
        state.holding = false;
    }
    state.released.notify_all();
}

int HeldRenames::waiting() const
{
    const std::lock_guard lock(held().mutex);
    return held().waiting;
}

int HeldRenames::done() const
{
    const std::lock_guard lock(held().mutex);
    return held().done;
}

bool HeldRenames::ranOutOfPatience() const
{
    const std::lock_guard lock(held().mutex);
    return held().impatient;
}

} // namespace ostratest
