#include "support/simulatedrp2040.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

#include "platform/serial/serialportlister.h"
#include "platform/storage/volumelister.h"

using corvane::SerialPortEntry;
using corvane::SerialPortLister;
using corvane::VolumeEntry;
using corvane::VolumeLister;

namespace ostratest {

namespace {

const char kImageName[] = "firmware.uf2";

} // namespace

SimulatedRp2040::SimulatedRp2040(const QString &version, const QString &name, QObject *parent)
    : QObject(parent)
    , m_pty(std::make_unique<PtyDevice>())
    , m_poll(new QTimer(this))
    , m_version(version)
    , m_versionAfterUpdate(version)
{
    linkPort(name);
    m_poll->setInterval(1);
    connect(m_poll, &QTimer::timeout, this, &SimulatedRp2040::process);
    m_poll->start();
}

SimulatedRp2040::~SimulatedRp2040()
{
    unlistPort(m_portName);
    QList<VolumeEntry> volumes = VolumeLister::availableVolumes();
    volumes.removeIf([this](const VolumeEntry &v) { return v.rootPath == m_drive.path(); });
    VolumeLister::setFixedVolumes(volumes);
}

void SimulatedRp2040::listPort(const QString &name, quint16 vendorId, quint16 productId)
{
    QList<SerialPortEntry> ports = SerialPortLister::availablePorts();
    ports.append({ name, QStringLiteral("Board CDC"), QStringLiteral("Raspberry Pi"), vendorId, productId });
    SerialPortLister::setFixedPorts(ports);
}

void SimulatedRp2040::unlistPort(const QString &name)
{
    QList<SerialPortEntry> ports = SerialPortLister::availablePorts();
    ports.removeIf([&](const SerialPortEntry &e) { return e.portName == name; });
    SerialPortLister::setFixedPorts(ports);
}

void SimulatedRp2040::linkPort(const QString &name)
{
    m_portName = m_links.filePath(name);
    QFile::remove(m_portName);
    QFile::link(m_pty->slavePath(), m_portName);
    listPort(m_portName, VendorId, ProductId);
}

bool SimulatedRp2040::isListed() const
{
    const QList<SerialPortEntry> ports = SerialPortLister::availablePorts();
    return std::any_of(ports.cbegin(), ports.cend(), [this](const SerialPortEntry &e) { return e.portName == m_portName; });
}

bool SimulatedRp2040::isDriveMounted() const
{
    const QList<VolumeEntry> volumes = VolumeLister::availableVolumes();
    return std::any_of(volumes.cbegin(), volumes.cend(),
                       [this](const VolumeEntry &v) { return v.rootPath == m_drive.path(); });
}

void SimulatedRp2040::process()
{
    if (m_inBootloader) {
        takeImage();
        return;
    }
    if (!m_pty || !m_pty->isOpen())
        return;
    m_in.append(m_pty->readAvailable());
    qsizetype nl;
    while (!m_inBootloader && (nl = m_in.indexOf('\n')) >= 0) {
        QByteArray line = m_in.left(nl).trimmed();
        m_in.remove(0, nl + 1);
        if (!line.isEmpty())
            handleLine(line);
    }
}

void SimulatedRp2040::handleLine(const QByteArray &line)
{
    m_lines.append(line);
    if (line == "VER") {
        const QString version = m_rebooted ? m_versionAfterUpdate : m_version;
        const QByteArray reply = m_versionReply.isNull() ? "QOR: " + version.toLatin1() + " \r\n" : m_versionReply;
        if (!reply.isEmpty())
            m_pty->write(reply);
    } else if (line == "DFU") {
        enterBootloader();
    }
}

void SimulatedRp2040::enterBootloader()
{
    m_inBootloader = true;
    m_in.clear();
    m_pty->hangUp();
    unlistPort(m_portName);
    if (!m_showsDrive)
        return;
    if (m_driveFull)
        QFile::link(QStringLiteral("/dev/full"), m_drive.filePath(QLatin1String(kImageName)));
    QList<VolumeEntry> volumes = VolumeLister::availableVolumes();
    volumes.append({ m_driveName, m_drive.path() });
    VolumeLister::setFixedVolumes(volumes);
}

void SimulatedRp2040::takeImage()
{
    if (m_holdDrive || m_driveFull || !isDriveMounted())
        return;
    QFile file(m_drive.filePath(QLatin1String(kImageName)));
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    m_image = file.readAll();
    file.close();
    file.remove();
    returnFromBootloader();
}

void SimulatedRp2040::returnFromBootloader()
{
    QList<VolumeEntry> volumes = VolumeLister::availableVolumes();
    volumes.removeIf([this](const VolumeEntry &v) { return v.rootPath == m_drive.path(); });
    VolumeLister::setFixedVolumes(volumes);
    m_inBootloader = false;
    m_rebooted = true;
    m_pty = std::make_unique<PtyDevice>();
    QFile::remove(m_portName);
    linkPort(m_returnName.isEmpty() ? QFileInfo(m_portName).fileName() : m_returnName);
}

} // namespace ostratest
