#include "app/instancelock.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <tuple>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long a second start waits for the holder to connect and to answer.
constexpr int AskMs = 2000;
constexpr int RetryMs = 50;

QString lockFilePath(const QString &folder)
{
    return folder + QStringLiteral("/.") + QCoreApplication::applicationName() + QStringLiteral(".running");
}

} // namespace

InstanceLock::InstanceLock(const QStringList &folders, QObject *parent)
    : QObject(parent)
    , m_folders(folders)
{
}

InstanceLock::~InstanceLock()
{
    // The sockets go before the locks: a copy that takes a folder next listens under the same
    // name, and closing this server afterwards would remove that copy's socket.
    qDeleteAll(m_servers);
    closeLocks(m_held);
}

bool InstanceLock::acquire(int waitMs)
{
    if (m_acquired)
        return true;
    m_unguarded.clear();
    m_remedies.clear();
    QList<Lock> locks = openLocks();
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        // In their order, letting go of all when one is held: a copy never waits holding a part.
        qsizetype taken = 0;
        while (taken < locks.size()) {
            if (::flock(locks.at(taken).fd, LOCK_EX | LOCK_NB) == 0) {
                ++taken;
                continue;
            }
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error == EWOULDBLOCK)
                break;
            // A file system without locks.
            unguard(lockFilePath(locks.at(taken).folder), error);
            ::close(locks.takeAt(taken).fd);
        }
        if (taken == locks.size()) {
            m_held = locks;
            m_acquired = true;
            return true;
        }
        m_heldElsewhere = locks.at(taken).folder;
        for (qsizetype i = 0; i < taken; ++i)
            ::flock(locks.at(i).fd, LOCK_UN);
        if (deadline.hasExpired()) {
            closeLocks(locks);
            return false;
        }
        QThread::msleep(RetryMs);
    }
}

QList<InstanceLock::Lock> InstanceLock::openLocks()
{
    QList<Lock> locks;
    for (const QString &folder : std::as_const(m_folders)) {
        QDir().mkpath(folder);
        const QString path = lockFilePath(folder);
        const QByteArray name = QFile::encodeName(path);
        // Never inherited: a copy this one starts (the theme restart) must not hold it. A link is
        // not followed: nothing is made or locked where it leads.
        int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        int error = errno;
        bool made = false;
        // A lock needs only read access: one made by a run as another user (root's, through
        // sudo), or one in a read-only folder, is locked all the same.
        if (fd < 0 && error != ELOOP) {
            fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            // None there: why none could be made.
            made = fd >= 0 || errno != ENOENT;
            if (made)
                error = errno;
        }
        struct stat st = {};
        if (fd >= 0 && ::fstat(fd, &st) != 0) {
            error = errno;
            ::close(fd);
            fd = -1;
        }
        if (fd < 0) {
            const QString sudo = QCoreApplication::translate(
                "InstanceLock", "a run as another user, such as through sudo, leaves it so");
            if (error == ELOOP)
                unguard(path, error, QCoreApplication::translate("InstanceLock", "Remove that link."));
            else if (made)
                unguard(path, error, QCoreApplication::translate("InstanceLock", "Remove that file, or make it yours (%1).").arg(sudo));
            else
                unguard(folder, error, QCoreApplication::translate("InstanceLock", "Make that folder writable for you (%1).").arg(sudo));
            continue;
        }
        // Readable by every later run, whoever makes the file and whatever the umask.
        if ((st.st_mode & 0044) != 0044)
            ::fchmod(fd, (st.st_mode & 07777) | 0044);
        const bool seen = std::any_of(locks.cbegin(), locks.cend(), [&st](const Lock &lock) {
            return lock.device == quint64(st.st_dev) && lock.inode == quint64(st.st_ino);
        });
        // One folder reached by two paths: a second lock on the file would be refused by the first.
        if (seen) {
            ::close(fd);
            continue;
        }
        locks.append({folder, fd, quint64(st.st_dev), quint64(st.st_ino)});
    }
    std::sort(locks.begin(), locks.end(), [](const Lock &a, const Lock &b) {
        return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
    });
    return locks;
}

void InstanceLock::closeLocks(QList<Lock> &locks)
{
    for (const Lock &lock : std::as_const(locks))
        ::close(lock.fd);
    locks.clear();
}

void InstanceLock::unguard(const QString &path, int error, const QString &remedy)
{
    const QString why = error == ELOOP ? QCoreApplication::translate("InstanceLock", "a link, which is not followed")
                                       : qt_error_string(error);
    qWarning().noquote() << "InstanceLock: cannot lock" << path << why << "- a copy that shares only that folder is not kept out";
    m_unguarded.append(QStringLiteral("%1 (%2)").arg(path, why));
    if (!remedy.isEmpty() && !m_remedies.contains(remedy))
        m_remedies.append(remedy);
}

QStringList InstanceLock::lockedFolders() const
{
    QStringList folders;
    for (const Lock &lock : m_held)
        folders.append(lock.folder);
    return folders;
}

bool InstanceLock::listen(const Answer &answer)
{
    if (!m_acquired || !m_servers.isEmpty())
        return false;
    bool all = true;
    for (const Lock &lock : std::as_const(m_held)) {
        auto *server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        const QString name = serverName(lock.folder);
        // The folder is held: a socket of that name was left by a copy that has ended.
        if (!server->listen(name)) {
            QLocalServer::removeServer(name);
            if (!server->listen(name)) {
                qWarning().noquote() << "InstanceLock: a second start cannot reach this copy:" << server->errorString();
                delete server;
                all = false;
                continue;
            }
        }
        connect(server, &QLocalServer::newConnection, this, [server, answer] {
            while (QLocalSocket *socket = server->nextPendingConnection()) {
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                socket->write(answer());
                socket->disconnectFromServer();
            }
        });
        m_servers.append(server);
    }
    return all;
}

QByteArray InstanceLock::askHolder() const
{
    if (m_heldElsewhere.isEmpty())
        return QByteArray();
    QLocalSocket socket;
    socket.connectToServer(serverName(m_heldElsewhere));
    if (!socket.waitForConnected(AskMs))
        return QByteArray();
    // Before the start it asks goes on: the holder answers once it has come forward.
    while (socket.bytesAvailable() == 0 && socket.waitForReadyRead(AskMs)) {
    }
    return socket.readAll();
}

QString InstanceLock::serverName(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(canonical.isEmpty() ? folder : canonical),
                                                     QCryptographicHash::Sha1);
    const QString name = QStringLiteral("qorostra-") + QString::fromLatin1(hash.toHex().left(24));
    // The session's own folder for sockets, which goes at its end: a copy that was killed leaves
    // its socket there.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? name : runtime + QLatin1Char('/') + name;
}
