#include "support/netnamespaces.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QNetworkInterface>
#include <QProcess>
#include <QThread>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostratest {

namespace {

QString ipTool()
{
    return QStandardPaths::findExecutable(QStringLiteral("ip"), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

// Namespaces left behind by a test process that died are removed before new ones are made.
void removeStaleNamespaces()
{
    QProcess list;
    list.start(ipTool(), {"netns", "list"});
    list.waitForFinished(5000);
    static const QRegularExpression name(QStringLiteral("^(ostra(\\d+)[cs])\\b"), QRegularExpression::MultilineOption);
    auto it = name.globalMatch(QString::fromLocal8Bit(list.readAllStandardOutput()));
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (!QDir(QStringLiteral("/proc/") + match.captured(2)).exists())
            QProcess::execute(ipTool(), {"netns", "del", match.captured(1)});
    }
}

} // namespace

NetNamespaces::NetNamespaces()
    : m_control(QStringLiteral("ostra%1c").arg(QCoreApplication::applicationPid()))
    , m_stations(QStringLiteral("ostra%1s").arg(QCoreApplication::applicationPid()))
{
}

NetNamespaces::~NetNamespaces()
{
    if (m_originalFd >= 0) {
        setns(m_originalFd, CLONE_NEWNET);
        ::close(m_originalFd);
    }
    if (m_created) {
        QProcess::execute(ipTool(), {"netns", "del", m_control});
        QProcess::execute(ipTool(), {"netns", "del", m_stations});
    }
}

QString NetNamespaces::unavailableReason()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root to make network namespaces");
    if (ipTool().isEmpty())
        return QStringLiteral("needs the ip tool (iproute2) to make network namespaces");
    return QString();
}

bool NetNamespaces::run(const QStringList &arguments)
{
    QProcess process;
    process.start(ipTool(), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("ip %1: %2").arg(arguments.join(' '), QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

bool NetNamespaces::setUp(const QStringList &stationAddresses)
{
    m_error = unavailableReason();
    if (!m_error.isEmpty())
        return false;
    removeStaleNamespaces();
    m_originalFd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const QString vethControl = QStringLiteral("v%1c").arg(QCoreApplication::applicationPid());
    const QString vethStations = QStringLiteral("v%1s").arg(QCoreApplication::applicationPid());
    m_created = run({"netns", "add", m_control}) && run({"netns", "add", m_stations});
    if (!m_created)
        return false;
    bool ok = run({"-n", m_control, "link", "add", vethControl, "type", "veth", "peer", "name", vethStations,
                   "netns", m_stations})
              && run({"-n", m_control, "addr", "add", controlAddress() + "/24", "dev", vethControl})
              && run({"-n", m_control, "link", "set", "lo", "up"})
              && run({"-n", m_control, "link", "set", vethControl, "up"})
              && run({"-n", m_stations, "link", "set", "lo", "up"})
              && run({"-n", m_stations, "link", "set", vethStations, "up"});
    for (const QString &address : stationAddresses)
        ok = ok && run({"-n", m_stations, "addr", "add", address + "/24", "dev", vethStations});
    return ok && enter(m_control) && waitForLink(vethControl);
}

bool NetNamespaces::setStationsLinkUp(bool up)
{
    const QString vethStations = QStringLiteral("v%1s").arg(QCoreApplication::applicationPid());
    return run({"-n", m_stations, "link", "set", vethStations, up ? "up" : "down"});
}

// A veth pair reports its carrier a moment after "link set up" returns; a scan that lists the
// interfaces before then sees nothing to sweep, so wait until the link runs.
bool NetNamespaces::waitForLink(const QString &name)
{
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        const QNetworkInterface link = QNetworkInterface::interfaceFromName(name);
        if (link.isValid() && link.flags().testFlag(QNetworkInterface::IsRunning))
            return true;
        QThread::msleep(10);
    }
    m_error = QStringLiteral("link %1 did not come up").arg(name);
    return false;
}

bool NetNamespaces::enter(const QString &name)
{
    const int fd = open(QStringLiteral("/run/netns/%1").arg(name).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        m_error = QStringLiteral("cannot enter namespace %1").arg(name);
    return ok;
}

void NetNamespaces::enterControl()
{
    enter(m_control);
}

void NetNamespaces::enterStations()
{
    enter(m_stations);
}

OwnLoopback::OwnLoopback()
{
    const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (home < 0)
        return;
    if (unshare(CLONE_NEWNET) != 0) {
        ::close(home);
        return;
    }
    m_home = home;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0) {
        request.ifr_flags |= IFF_UP;
        ioctl(fd, SIOCSIFFLAGS, &request);
    }
    if (fd >= 0)
        ::close(fd);
}

bool OwnLoopback::addIPv6Address(const QString &address)
{
    // The child starts in this thread's namespace.
    return entered() && !ipTool().isEmpty()
           && QProcess::execute(ipTool(), {"-6", "addr", "add", address + "/128", "dev", "lo", "nodad"}) == 0;
}

OwnLoopback::~OwnLoopback()
{
    if (m_home >= 0) {
        setns(m_home, CLONE_NEWNET);
        ::close(m_home);
    }
}

} // namespace ostratest
