#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;

// One copy of the program per folder of its files (the settings folder, the profile store): a
// kernel lock on a file in each, which goes with the process however it ends (kill -9 too), so no
// lock is ever left behind. The copy that holds them listens on a local socket named after each
// folder, in the session's runtime folder, so that a second start can ask it to come forward.
class InstanceLock : public QObject
{
public:
    explicit InstanceLock(const QStringList &folders, QObject *parent = nullptr);
    ~InstanceLock() override;

    // Takes every folder, waiting up to `waitMs` while another copy holds one; false when one is
    // still held, and then none is. A folder that takes no lock (a lock file of another user's
    // that cannot be opened, a link, a read-only folder without one, a file system without locks)
    // is logged, named by unguarded(), and counts as held: the program runs there all the same.
    bool acquire(int waitMs);
    // Each lock file that could not be locked (or, where none could be made, its folder), with
    // why; empty when every folder is held.
    QStringList unguarded() const { return m_unguarded; }
    // What the user can do to have them locked again, one line each.
    QStringList remedies() const { return m_remedies; }
    // The folders held: a second copy that shares one of them is kept out.
    QStringList lockedFolders() const;

    // Answers each second start with what `answer` returns; only once acquired.
    using Answer = std::function<QByteArray()>;
    bool listen(const Answer &answer);
    // Asks the copy that holds the folder acquire found held to come forward; its answer, empty
    // when none came.
    QByteArray askHolder() const;

private:
    struct Lock
    {
        QString folder;
        int fd = -1;
        quint64 device = 0;
        quint64 inode = 0;
    };

    // Opens every folder's lock file, each file once, in one order for every copy (of the file
    // itself, whatever path leads to it), so that two starts that share folders each way round
    // never hold one each and both give up.
    QList<Lock> openLocks();
    static void closeLocks(QList<Lock> &locks);
    // Logs and names a lock file (or folder) that could not be locked, and what mends it.
    void unguard(const QString &path, int error, const QString &remedy = QString());
    static QString serverName(const QString &folder);

    QStringList m_folders;
    bool m_acquired = false;
    QList<Lock> m_held;
    QString m_heldElsewhere;
    QStringList m_unguarded;
    QStringList m_remedies;
    QList<QLocalServer *> m_servers;
};
