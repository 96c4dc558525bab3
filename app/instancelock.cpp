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

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// How long a second start waits for the holder to connect and to answer.
constexpr int AskMs = 2000;
constexpr int RetryMs = 50;

} // namespace

InstanceLock::InstanceLock(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
{
}

InstanceLock::~InstanceLock()
{
    // The socket goes before the lock: a copy that takes the folder next listens under the same
    // name, and closing this server afterwards would remove that copy's socket.
    delete m_server;
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceLock::acquire(int waitMs)
{
    if (m_fd >= 0)
        return true;
    QDir().mkpath(m_folder);
    const QString path = m_folder + QStringLiteral("/.") + QCoreApplication::applicationName() + QStringLiteral(".running");
    const QByteArray name = QFile::encodeName(path);
    // Never inherited: a copy this one starts (the theme restart) must not hold it. A link is
    // not followed: nothing is made or locked where it leads.
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // One made by a run as another user, or a read-only folder: a lock can still be taken.
    if (fd < 0 && errno != ELOOP)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        qWarning().noquote() << "InstanceLock: cannot lock" << path << qt_error_string(errno)
                             << "- another copy of the program is not kept out";
        return true;
    }
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            return true;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK || deadline.hasExpired()) {
            ::close(fd);
            if (error == EWOULDBLOCK)
                return false;
            qWarning().noquote() << "InstanceLock: cannot lock" << path << qt_error_string(error)
                                 << "- another copy of the program is not kept out";
            return true;
        }
        QThread::msleep(RetryMs);
    }
}

bool InstanceLock::listen(const Answer &answer)
{
    if (m_fd < 0 || m_server)
        return false;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = serverName();
    // The folder is held: a socket of that name was left by a copy that has ended.
    if (!m_server->listen(name)) {
        QLocalServer::removeServer(name);
        if (!m_server->listen(name)) {
            qWarning().noquote() << "InstanceLock: a second start cannot reach this copy:" << m_server->errorString();
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, [this, answer] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->write(answer());
            socket->disconnectFromServer();
        }
    });
    return true;
}

QByteArray InstanceLock::askHolder() const
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(AskMs))
        return QByteArray();
    // Before the start it asks goes on: the holder answers once it has come forward.
    while (socket.bytesAvailable() == 0 && socket.waitForReadyRead(AskMs)) {
    }
    return socket.readAll();
}

QString InstanceLock::serverName() const
{
    const QString folder = QFileInfo(m_folder).canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(folder.isEmpty() ? m_folder : folder),
                                                     QCryptographicHash::Sha1);
    const QString name = QStringLiteral("qorostra-") + QString::fromLatin1(hash.toHex().left(24));
    // The session's own folder for sockets, which goes at its end: a copy that was killed leaves
    // its socket there.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? name : runtime + QLatin1Char('/') + name;
}
