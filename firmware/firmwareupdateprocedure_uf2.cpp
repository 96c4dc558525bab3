// The UF2 update of the transmitter and the receiver: the version check, the download, the
// bootloader drive, copying the image and the check after the reboot.
#include "firmware/firmwareupdateprocedure.h"

#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

#include "bridge/corvanecontroller.h"
#include "platform/storage/volumelister.h"

namespace corvane {

namespace {

constexpr int kDriveGiveUpTicks = 30;
constexpr int kRebootGiveUpTicks = 40;
constexpr int kReconnectGiveUpTicks = 10;
constexpr int kUf2BlockSize = 512;
constexpr quint32 kUf2MagicStart0 = 0x0A324655;
constexpr quint32 kUf2MagicStart1 = 0x9E5D5157;
constexpr quint32 kUf2MagicEnd = 0x0AB16F30;
const char kBootDriveName[] = "RPI-RP2";
const char kDriveImageName[] = "firmware.uf2";

// An RP2040 holds at most 16 MB of flash, which UF2 carries in 32 MB.
constexpr qint64 kMaxImageBytes = 32 * 1024 * 1024;

QString repositoryPath(FirmwareTarget target, const char *file)
{
    const char *repository = target == FirmwareReceiver ? "/qor-receiver-firmware-updater/main/"
                                                        : "/qor-transmitter-firmware-updater/main/";
    return QLatin1String(repository) + QLatin1String(file);
}

// "QOR:" and the version after it, or a line that is only a version of three dotted numbers.
QString versionFromLine(const QString &line)
{
    static const QRegularExpression plainVersion(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"));
    if (line.startsWith(QLatin1String("QOR:")))
        return line.mid(4).trimmed();
    const QString trimmed = line.trimmed();
    return plainVersion.match(trimmed).hasMatch() ? trimmed : QString();
}

} // namespace

QString FirmwareUpdateProcedure::findBootloaderDrive()
{
    const QList<VolumeEntry> volumes = VolumeLister::availableVolumes();
    for (const VolumeEntry &volume : volumes) {
        if (volume.name.toUpper() == QLatin1String(kBootDriveName))
            return volume.rootPath;
    }
    return QString();
}

bool FirmwareUpdateProcedure::isUf2Image(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() % kUf2BlockSize != 0)
        return false;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    for (qsizetype offset = 0; offset < bytes.size(); offset += kUf2BlockSize) {
        if (qFromLittleEndian<quint32>(data + offset) != kUf2MagicStart0
            || qFromLittleEndian<quint32>(data + offset + 4) != kUf2MagicStart1
            || qFromLittleEndian<quint32>(data + offset + kUf2BlockSize - 4) != kUf2MagicEnd)
            return false;
    }
    return true;
}

void FirmwareUpdateProcedure::checkCurrentVersion()
{
    beginRun(m_target == FirmwareReceiver ? FirmwareReceiver : FirmwareTransmitter, FirmwareCheckingVersion);
    progressReport(words(QT_TR_NOOP("Checking current version...")), FirmwareReport::StatusLine, 5,
                   FirmwareCheckingVersion, 5);
    if (m_options.checkPortAtStart && !devicePortOpen()) {
        showError(words(QT_TR_NOOP("%1 is not connected.")).arg(deviceWords().dialog, deviceWords().handler));
        return;
    }
    writeToDevice(QByteArrayLiteral("VER\n"));
    startPolling();
}

void FirmwareUpdateProcedure::onLineReceived(const QString &line)
{
    if (m_pending != NoQuestion || (m_state != FirmwareCheckingVersion && m_state != FirmwareVerifyingVersion))
        return;
    const QString version = versionFromLine(line);
    if (version.isEmpty() && !line.startsWith(QLatin1String("QOR:")))
        return;
    acceptVersionLine(version);
}

void FirmwareUpdateProcedure::acceptVersionLine(const QString &version)
{
    m_pollTimer->stop();
    if (m_state == FirmwareCheckingVersion) {
        m_currentVersion = version;
        progressReport(words(QT_TR_NOOP("Current version: %1")).arg(version), FirmwareReport::DetailLine, 10,
                       FirmwareCheckingVersion, 10);
        setState(FirmwareDownloadingVersion);
        progressReport(words(QT_TR_NOOP("Checking for updates...")), FirmwareReport::StatusLine, 15,
                       FirmwareDownloadingVersion, 15);
        QNetworkReply *reply = get(repositoryPath(m_target, "VERSION.md"), MaxVersionFileBytes);
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onVersionFileReceived(reply); });
        return;
    }

    const QString updated = version.trimmed();
    if (updated == m_publishedVersion.trimmed())
        showDone(words(QT_TR_NOOP("Updated successfully!\nVersion: %1")).arg(updated));
    else if (updated == m_currentVersion)
        showError(words(QT_TR_NOOP("Update may not have been applied.\nPlease try again.")));
    else
        showDone(words(QT_TR_NOOP("Updated successfully.\nVersion: %1")).arg(updated));
}

void FirmwareUpdateProcedure::onVersionFileReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!isCurrentReply(reply) || m_state != FirmwareDownloadingVersion)
        return;
    QByteArray body;
    if (!readBody(reply, &body)) {
        showError(words(QT_TR_NOOP("Could not check for updates.\nPlease check your internet connection.")));
        return;
    }
    m_publishedVersion = QString::fromUtf8(body).trimmed();
    offerPublishedVersion(AskUf2Update);
}

void FirmwareUpdateProcedure::startFirmwareDownload()
{
    setState(FirmwareDownloadingFirmware);
    progressReport(words(QT_TR_NOOP("Downloading update...")), FirmwareReport::StatusLine, 25,
                   FirmwareDownloadingFirmware, 25);
    QNetworkReply *reply = get(repositoryPath(m_target, "firmware.uf2"), kMaxImageBytes);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (isCurrentReply(reply) && m_state == FirmwareDownloadingFirmware)
            onDownloadProgress(received, total);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFirmwareDownloaded(reply); });
}

void FirmwareUpdateProcedure::onDownloadProgress(qint64 received, qint64 total)
{
    if (total <= 0)
        return;
    const int progress = 25 + int(qBound<qint64>(0, received, total) * 25 / total);
    progressReport({ QString(), QStringLiteral("Downloading update... %1%").arg(progress) },
                   FirmwareReport::NoLine, progress, FirmwareDownloadingFirmware, progress);
}

void FirmwareUpdateProcedure::onFirmwareDownloaded(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!isCurrentReply(reply) || m_state != FirmwareDownloadingFirmware)
        return;
    QByteArray image;
    if (!readBody(reply, &image)) {
        showError(words(QT_TR_NOOP("Could not download the update.\nPlease check your internet connection.")));
        return;
    }
    // An error page or an empty body would send the device into a boot loader that never leaves.
    if (!isUf2Image(image)) {
        showError(words(QT_TR_NOOP("The downloaded update is not a valid firmware image.\n"
                                   "The device was left as it is.")));
        return;
    }
    const QString path = m_tempDir.isValid() ? m_tempDir.filePath(QStringLiteral("firmware.uf2")) : QString();
    QSaveFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        showError(words(QT_TR_NOOP("Could not save the update file.")));
        return;
    }
    m_firmwarePath = path;
    progressReport({ QString(), QStringLiteral("Download complete.") }, FirmwareReport::NoLine, 50,
                   FirmwareDownloadingFirmware, 50);
    enterBootloader();
}

void FirmwareUpdateProcedure::enterBootloader()
{
    setState(FirmwareEnteringDfu);
    progressReport(words(QT_TR_NOOP("Preparing device for update...")), FirmwareReport::StatusLine, 55,
                   FirmwareEnteringDfu, 55);
    m_portName = devicePortName();
    const QList<SerialPortEntry> ports = CorvaneController::availableSerialPorts();
    for (const SerialPortEntry &port : ports) {
        if (port.portName == m_portName) {
            m_vendorId = port.vendorId;
            m_productId = port.productId;
            break;
        }
    }
    writeToDevice(QByteArrayLiteral("DFU\n"));
    m_bootloaderWaitTimer->start();
}

void FirmwareUpdateProcedure::onBootloaderWaitElapsed()
{
    m_bootloaderWaitTimer->stop();
    if (m_state != FirmwareEnteringDfu)
        return;
    closeDevicePort();
    setState(FirmwareWaitingForDrive);
    progressReport(words(QT_TR_NOOP("Waiting for device...")), FirmwareReport::StatusLine, 60,
                   FirmwareWaitingForDrive, 60);
    startPolling();
}

void FirmwareUpdateProcedure::pollForDrive()
{
    ++m_tickCounter;
    if (!findBootloaderDrive().isEmpty()) {
        m_pollTimer->stop();
        progressReport(words(QT_TR_NOOP("Device ready")), FirmwareReport::DetailLine, -1, FirmwareWaitingForDrive,
                       65);
        copyFirmwareToDrive();
        return;
    }
    if (m_tickCounter > kDriveGiveUpTicks) {
        showError(words(QT_TR_NOOP(
            "Could not connect to device for update.\nPlease disconnect and reconnect, then try again.")));
        return;
    }
    const QString seconds = QString::number(m_tickCounter * PollIntervalMs / 1000);
    progressReport(words(QT_TR_NOOP("Preparing device for update... (%1s)")).arg(seconds),
                   FirmwareReport::StatusLine, -1, FirmwareWaitingForDrive, 60);
}

void FirmwareUpdateProcedure::copyFirmwareToDrive()
{
    setState(FirmwareCopyingFirmware);
    progressReport(words(QT_TR_NOOP("Installing update...")), FirmwareReport::StatusLine, 70,
                   FirmwareCopyingFirmware, 70);
    const QString drive = findBootloaderDrive();
    if (drive.isEmpty()) {
        showError(words(QT_TR_NOOP("Connection to device lost. Please try again.")));
        return;
    }
    QFile source(m_firmwarePath);
    if (!source.open(QIODevice::ReadOnly)) {
        showError(words(QT_TR_NOOP("Could not read the update file.")));
        return;
    }
    const QByteArray image = source.readAll();
    source.close();
    if (image.isEmpty()) {
        showError(words(QT_TR_NOOP("Could not read the update file.")));
        return;
    }
    // Unbuffered, so the count written is what reached the drive, not what went into a buffer.
    QFile target(QDir(drive).filePath(QLatin1String(kDriveImageName)));
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        showError(words(QT_TR_NOOP("Could not write the update to the device.")));
        return;
    }
    const qint64 written = target.write(image);
    if (written != image.size()) {
        target.close();
        showError(words(QT_TR_NOOP("Could not write the update to the device.")));
        return;
    }
    // The drive may be rebooting by the time the file closes: a failure there is not the copy's,
    // and the version check after the reboot tells whether the image took.
    ::fsync(target.handle());
    target.close();
    progressReport({ QString(), QStringLiteral("Update installed.") }, FirmwareReport::NoLine, 85,
                   FirmwareCopyingFirmware, 85);
    setState(FirmwareWaitingForReboot);
    progressReport(words(QT_TR_NOOP("Update applied. Device restarting...")), FirmwareReport::StatusLine, 90,
                   FirmwareWaitingForReboot, 90);
    startPolling();
}

void FirmwareUpdateProcedure::pollForReboot()
{
    ++m_tickCounter;
    if (!findBootloaderDrive().isEmpty()) {
        progressReport(words(QT_TR_NOOP("Installing update, please wait...")), FirmwareReport::StatusLine, -1,
                       FirmwareWaitingForReboot, 90);
        m_tickCounter = 0;
        return;
    }
    progressReport(words(QT_TR_NOOP("Device restarting...")), FirmwareReport::StatusLine, -1,
                   FirmwareWaitingForReboot, 90);

    // The recorded name first, then the recorded USB ids; never the other device's port.
    const QString other = otherDevicePortName();
    const QList<SerialPortEntry> ports = CorvaneController::availableSerialPorts();
    QString found;
    for (const SerialPortEntry &port : ports) {
        if (port.portName == m_portName && port.portName != other) {
            found = port.portName;
            break;
        }
    }
    if (found.isEmpty() && m_vendorId != 0 && m_productId != 0) {
        for (const SerialPortEntry &port : ports) {
            if (port.vendorId == m_vendorId && port.productId == m_productId && port.portName != other) {
                found = port.portName;
                break;
            }
        }
    }
    if (!found.isEmpty()) {
        m_portName = found;
        m_pollTimer->stop();
        progressReport(words(QT_TR_NOOP("Device found. Starting up...")), FirmwareReport::StatusLine, -1,
                       FirmwareWaitingForReboot, 93);
        m_rebootTimer->start();
        return;
    }
    if (m_tickCounter > kRebootGiveUpTicks)
        showError(words(QT_TR_NOOP("Device is taking longer than expected to restart.\nThe update may have "
                                   "completed. Please reconnect and check.")));
}

void FirmwareUpdateProcedure::reconnectDevice()
{
    m_rebootTimer->stop();
    if (m_state != FirmwareWaitingForReboot || m_reconnecting || m_pollTimer->isActive())
        return;
    progressReport({ tr("Reconnecting to %1...").arg(deviceWords().dialog), QStringLiteral("Reconnecting...") },
                   FirmwareReport::StatusLine, 95, FirmwareVerifyingVersion, 95);
    m_reconnecting = true;
    startPolling();
}

void FirmwareUpdateProcedure::verifyAfterReboot()
{
    ++m_tickCounter;
    bool open = devicePortOpen();
    if (!open) {
        // Opening may wait out a busy port in a nested event loop: no tick may run in between,
        // and the run (or this object) may be gone when it returns.
        m_pollTimer->stop();
        const quint64 run = m_run;
        const QPointer<FirmwareUpdateProcedure> alive(this);
        open = openDevicePort(m_portName);
        if (!alive || run != m_run || m_state != FirmwareWaitingForReboot || !m_reconnecting)
            return;
        m_pollTimer->start();
    }
    if (open) {
        m_pollTimer->stop();
        m_reconnecting = false;
        setState(FirmwareVerifyingVersion);
        progressReport(words(QT_TR_NOOP("Verifying update...")), FirmwareReport::StatusLine, -1,
                       FirmwareVerifyingVersion, 97);
        writeToDevice(QByteArrayLiteral("VER\n"));
        startPolling();
        return;
    }
    if (m_tickCounter > kReconnectGiveUpTicks)
        showError(words(QT_TR_NOOP("Could not reconnect to verify the update.\nPlease reconnect and check manually.")));
}

} // namespace corvane
