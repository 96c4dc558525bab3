#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace ostratest {

// A disk of `bytes` over `folder`, seen by this thread alone: a tmpfs mounted in a mount
// namespace of the thread's own, hiding what the folder held. fill() takes its last free byte,
// as a full disk has none. Needs root; available() is false elsewhere. Gone on destruction.
class FullDisk
{
public:
    FullDisk(const QString &folder, qint64 bytes)
        : m_folder(folder)
    {
        m_home = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (m_home < 0 || ::unshare(CLONE_NEWNS) != 0)
            return;
        // Private first, or the mount would show in the namespace the test came from.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !QDir().mkpath(folder))
            return;
        const QByteArray size = "size=" + QByteArray::number(bytes);
        m_mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, size.constData()) == 0;
    }

    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    ~FullDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
        if (m_home >= 0) {
            ::setns(m_home, CLONE_NEWNS);
            ::close(m_home);
        }
    }

    bool available() const { return m_mounted; }

    // Writes a file that is no profile until the disk takes no more.
    void fill() const
    {
        const int fd = ::open(QFile::encodeName(m_folder + QStringLiteral("/filler.bin")).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const QByteArray block(512, 'x');
        for (qsizetype size = block.size(); fd >= 0 && size > 0;) {
            if (::write(fd, block.constData(), size_t(size)) < 0)
                size /= 2;
        }
        if (fd >= 0)
            ::close(fd);
    }

private:
    QString m_folder;
    int m_home = -1;
    bool m_mounted = false;
};

} // namespace ostratest
