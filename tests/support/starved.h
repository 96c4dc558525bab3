#pragma once

#include <QString>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/storage/filewriter.h"

namespace ostratest {

// What the process may still open or write while it lives: with "descriptors" no descriptor at
// all (as when a flood of connections used them up), with "file size" files of at most 1 KiB
// (as on a full disk, but only for files larger than that), with "no room" no byte more in any
// file (a full disk), with "failing sync" no save's sync, with "failing folder sync" no sync of a
// folder and with "failing read" no settings file's read succeeds (as on a failing card), with anything else no limit. Root is held back by
// all, where making a folder read-only would not stop it. The signal of a file-size limit keeps
// the action the program gives it: a test that ignored it would hide a program it ends.
class Starved
{
public:
    explicit Starved(const QString &limit)
    {
        if (limit == QLatin1String("descriptors") && !sanitized()) {
            m_resource = RLIMIT_NOFILE;
            lower(1024);
            for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
                m_descriptors.push_back(fd);
        } else if (limit == QLatin1String("descriptors") || limit == QLatin1String("file size")
                   || limit == QLatin1String("no room")) {
            m_resource = RLIMIT_FSIZE;
            lower(limit == QLatin1String("file size") ? 1024 : 0);
        } else if (limit == QLatin1String("failing sync") || limit == QLatin1String("failing read")
                   || limit == QLatin1String("failing folder sync")) {
            m_faults = true;
            corvane::FileWriter::setFaults(limit == QLatin1String("failing sync")   ? corvane::FileWriter::SyncFails
                                           : limit == QLatin1String("failing read") ? corvane::FileWriter::ReadFails
                                                                                    : corvane::FileWriter::FolderSyncFails);
        }
    }

    Starved(const Starved &) = delete;
    Starved &operator=(const Starved &) = delete;

    ~Starved()
    {
        for (int fd : m_descriptors)
            ::close(fd);
        if (m_resource >= 0)
            ::setrlimit(m_resource, &m_saved);
        if (m_faults)
            corvane::FileWriter::setFaults(corvane::FileWriter::NoFault);
    }

    // The sanitizers' runtime opens descriptors of its own (a pipe to probe memory) while it
    // checks a call, and takes a failure for a fault of the program: under them no file may
    // grow at all instead of "descriptors", which fails the same writes.
    static constexpr bool sanitized()
    {
#if defined(__SANITIZE_ADDRESS__)
        return true;
#else
        return false;
#endif
    }

private:

    void lower(rlim_t value)
    {
        ::getrlimit(m_resource, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = std::min(m_saved.rlim_cur, value);
        ::setrlimit(m_resource, &lowered);
    }

    int m_resource = -1;
    bool m_faults = false;
    rlimit m_saved{};
    std::vector<int> m_descriptors;
};

} // namespace ostratest
