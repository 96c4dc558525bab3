#include "firmware/dialogs/receiverv4updatedialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTime>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "firmware/firmwareupdateprocedure.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/portlist.h"
#include "receiver/hintlabel.h"

namespace corvane {

const char ReceiverV4UpdateDialog::ReleaseFolder[] = "/qor-receiver-firmware-updater/main/v4/";

namespace {

// A published file far larger than any image or description is none: the request is dropped.
constexpr qint64 MaxDownloadBytes = 1024 * 1024;
constexpr quint16 Cp210xVendorId = 0x10C4;

QLabel *makeValueLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    // Versions come from the board and the published files.
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color: #0F1720; font-weight: 600;"));
    return label;
}

} // namespace

ReceiverV4UpdateDialog::ReceiverV4UpdateDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_network(new QNetworkAccessManager(this))
    , m_thread(new QThread(this))
    , m_flasher(new ReceiverV4Flasher)
{
    qRegisterMetaType<ReceiverV4Flasher::Image>();
    m_flasher->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_flasher, &QObject::deleteLater);
    connect(m_flasher, &ReceiverV4Flasher::logMessage, this, &ReceiverV4UpdateDialog::appendLog, Qt::QueuedConnection);
    connect(m_flasher, &ReceiverV4Flasher::progress, this, &ReceiverV4UpdateDialog::onFlasherProgress,
            Qt::QueuedConnection);
    connect(m_flasher, &ReceiverV4Flasher::boardInfo, this, &ReceiverV4UpdateDialog::onBoardInfo, Qt::QueuedConnection);
    connect(m_flasher, &ReceiverV4Flasher::finished, this, &ReceiverV4UpdateDialog::onFlasherFinished,
            Qt::QueuedConnection);
    connect(m_flasher, &ReceiverV4Flasher::powerCycleRequested, this, &ReceiverV4UpdateDialog::onPowerCycleRequested,
            Qt::QueuedConnection);

    setWindowTitle(tr("QOR Receiver V4 Firmware"));
    setMinimumWidth(560);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 12, 24, 20);

    // 1. The cable.
    QFrame *cableCard = ostra::makeDialogCard(this);
    auto *cable = new QVBoxLayout(cableCard);
    cable->setContentsMargins(16, 14, 16, 14);
    auto *cableTitle = new QLabel(tr("Connect the cable"), cableCard);
    cableTitle->setStyleSheet(QStringLiteral("color: #0F1720; font-weight: 600;"));
    cable->addWidget(cableTitle);
    cable->addWidget(makeHintLabel(tr("Use the USB-UART cable (CP2102) on the receiver's J14: cable TXD → J14 RX, "
                                 "RXD → J14 TX, GND → GND. Leave 3V3/5V unconnected and power the receiver from "
                                 "its normal supply. The camera can stay connected."),
                              cableCard));
    auto *portRow = new QHBoxLayout;
    m_portCombo = new QComboBox(cableCard);
    m_portCombo->setMinimumWidth(260);
    portRow->addWidget(m_portCombo, 1);
    connect(m_portCombo, &QComboBox::currentIndexChanged, this, &ReceiverV4UpdateDialog::refreshPortButtons);
    m_refreshButton = new QPushButton(tr("Refresh"), cableCard);
    connect(m_refreshButton, &QPushButton::clicked, this, &ReceiverV4UpdateDialog::refreshPorts);
    portRow->addWidget(m_refreshButton);
    cable->addLayout(portRow);
    layout->addWidget(cableCard);

    // 2. The versions.
    QFrame *versionCard = ostra::makeDialogCard(this);
    auto *versions = new QVBoxLayout(versionCard);
    versions->setContentsMargins(16, 14, 16, 14);
    auto *boardRow = new QHBoxLayout;
    boardRow->addWidget(makeHintLabel(tr("On the receiver"), versionCard));
    m_boardLabel = makeValueLabel(tr("not checked"), versionCard);
    boardRow->addWidget(m_boardLabel);
    boardRow->addStretch(1);
    m_checkButton = new QPushButton(tr("Check version"), versionCard);
    connect(m_checkButton, &QPushButton::clicked, this, &ReceiverV4UpdateDialog::onCheckVersionClicked);
    boardRow->addWidget(m_checkButton);
    versions->addLayout(boardRow);
    auto *latestRow = new QHBoxLayout;
    latestRow->addWidget(makeHintLabel(tr("Latest release"), versionCard));
    m_latestLabel = makeValueLabel(tr("checking…"), versionCard);
    latestRow->addWidget(m_latestLabel);
    latestRow->addStretch(1);
    versions->addLayout(latestRow);
    layout->addWidget(versionCard);

    // 3. The power-cycle prompt.
    m_powerCycle = new QFrame(this);
    m_powerCycle->setObjectName(QStringLiteral("powerCycle"));
    m_powerCycle->setStyleSheet(
        QStringLiteral("QFrame#powerCycle { background: #FDF1DC; border: 1px solid #B06F00; border-radius: 10px; }"));
    auto *prompt = new QVBoxLayout(m_powerCycle);
    prompt->setContentsMargins(16, 12, 16, 12);
    auto *promptTitle = new QLabel(tr("Power-cycle the board now"), m_powerCycle);
    promptTitle->setStyleSheet(QStringLiteral(
        "color: #B06F00; font-size: 13pt; font-weight: 700; background: transparent; border: none;"));
    prompt->addWidget(promptTitle);
    auto *promptText = new QLabel(tr("Switch the receiver's power off and on again. If that doesn't work, also "
                                     "unplug the USB-UART cable while the receiver is off. Waiting up to 60 s…"),
                                  m_powerCycle);
    promptText->setWordWrap(true);
    promptText->setStyleSheet(QStringLiteral("color: #0F1720; background: transparent; border: none;"));
    prompt->addWidget(promptText);
    m_powerCycle->hide();
    layout->addWidget(m_powerCycle);

    // 4.-6. Status, bar and log.
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    layout->addWidget(m_status);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(8);
    layout->addWidget(m_progress);
    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("log"));
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(MaxLogLines);
    m_log->setMinimumHeight(150);
    m_log->setStyleSheet(QStringLiteral(
        "QPlainTextEdit { background: #F7F9FB; color: #0F1720; border: 1px solid #E6EAF0; border-radius: 6px; "
        "font-family: 'Geist Mono'; font-size: 8.5pt; }"));
    layout->addWidget(m_log, 1);

    // 7. Buttons.
    auto *buttons = new QHBoxLayout;
    m_fileButton = new QPushButton(tr("Use a file…"), this);
    m_fileButton->setToolTip(tr("Install a .bin with its .json next to it instead of the GitHub release"));
    connect(m_fileButton, &QPushButton::clicked, this, &ReceiverV4UpdateDialog::onUseFileClicked);
    buttons->addWidget(m_fileButton);
    buttons->addStretch(1);
    m_closeButton = new QPushButton(tr("Close"), this);
    connect(m_closeButton, &QPushButton::clicked, this, &ReceiverV4UpdateDialog::reject);
    buttons->addWidget(m_closeButton);
    m_updateButton = new QPushButton(tr("Update"), this);
    m_updateButton->setProperty("primary", true);
    connect(m_updateButton, &QPushButton::clicked, this, &ReceiverV4UpdateDialog::onUpdateClicked);
    buttons->addWidget(m_updateButton);
    layout->addLayout(buttons);

    ostra::applyDialogChrome(this, tr("Update over the J14 cable"));

    m_thread->start();
    refreshPorts();
    setStatus(tr("Pick the cable's port, then check the version or press Update."), NoLevel);
    QNetworkReply *reply = makeRequest(releaseUrl(QStringLiteral("VERSION.md")));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onLatestVersionReceived(reply); });
}

ReceiverV4UpdateDialog::~ReceiverV4UpdateDialog()
{
    // A run ends at its next page or wait. Meanwhile the program goes on (the transmitter's
    // frames too), but nothing more of the run reaches this half-gone dialog.
    m_flasher->disconnect(this);
    for (QNetworkReply *reply : m_network->findChildren<QNetworkReply *>())
        reply->disconnect(this);
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    m_flasher->requestStop();
    m_thread->quit();
    QDeadlineTimer deadline(StopWaitMs);
    while (!m_thread->wait(QDeadlineTimer(WaitSliceMs)) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, WaitSliceMs);
    if (m_thread->isRunning()) {
        // Stuck in the serial line: the thread finishes on its own and is deleted then.
        qWarning("Receiver V4 flasher still running after %d ms; left to finish on its own", StopWaitMs);
        m_thread->setParent(nullptr);
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        if (m_thread->isFinished())
            m_thread->deleteLater();
    }
}

QUrl ReceiverV4UpdateDialog::releaseUrl(const QString &file)
{
    return QUrl(FirmwareUpdateProcedure::baseUrl() + QLatin1String(ReleaseFolder) + file);
}

int ReceiverV4UpdateDialog::compareVersions(const QString &a, const QString &b)
{
    const QStringList left = a.trimmed().split(QLatin1Char('.'));
    const QStringList right = b.trimmed().split(QLatin1Char('.'));
    for (int i = 0; i < qMax(left.size(), right.size()); ++i) {
        const int x = left.value(i).toInt();
        const int y = right.value(i).toInt();
        if (x != y)
            return x > y ? 1 : -1;
    }
    return 0;
}

QString ReceiverV4UpdateDialog::askForFirmwareFile()
{
    return QFileDialog::getOpenFileName(this, tr("QOR receiver V4 firmware"), QString(), tr("Firmware (*.bin)"));
}

void ReceiverV4UpdateDialog::reject()
{
    if (m_busy == Idle) {
        QDialog::reject();
        return;
    }
    if (!m_closeButton->isEnabled())
        return;
    m_cancelRequested = true;
    m_flasher->requestStop();
    m_closeButton->setEnabled(false);
    setStatus(tr("Stopping…"), NoLevel);
}

void ReceiverV4UpdateDialog::refreshPorts()
{
    const QList<SerialPortEntry> ports = CorvaneController::availableSerialPorts();
    ostra::PortListSetup setup;
    setup.prompt = tr("Choose the cable's port");
    setup.empty = tr("No serial ports. Plug in the cable and press Refresh.");
    setup.keep = selectedPort();
    // The receiver console's port is freed for the cable when the run starts.
    setup.held = m_controller->heldPorts();
    setup.held.remove(m_controller->receiverPortName());
    for (const SerialPortEntry &port : ports) {
        const bool cp210x = port.vendorId == Cp210xVendorId
                            || port.description.contains(QLatin1String("CP210"), Qt::CaseInsensitive)
                            || port.manufacturer.contains(QLatin1String("Silicon Lab"), Qt::CaseInsensitive);
        if (cp210x) {
            setup.preferred = port.portName;
            break;
        }
    }
    const int listed = ostra::fillPortList(m_portCombo, ports, setup);
    m_portCombo->setEnabled(listed > 0 && m_busy == Idle);
    refreshPortButtons();
}

// Reading and flashing need a port: not the "Choose…" prompt of a list without a USB serial port.
void ReceiverV4UpdateDialog::refreshPortButtons()
{
    const bool ready = m_busy == Idle && ostra::portChosen(m_portCombo);
    m_checkButton->setEnabled(ready);
    m_updateButton->setEnabled(ready);
}

QString ReceiverV4UpdateDialog::selectedPort() const
{
    return m_portCombo->currentData().toString();
}

bool ReceiverV4UpdateDialog::releasePort(const QString &port)
{
    if (port.isEmpty()) {
        setStatus(tr("Pick the cable's port first."), Fail);
        return false;
    }
    if (m_controller->isSerialConnected() && m_controller->serialPortName() == port) {
        setStatus(tr("%1 is the QOR transmitter's port. Pick the receiver cable's port.").arg(port), Fail);
        return false;
    }
    if (m_controller->isReceiverConnected() && m_controller->receiverPortName() == port) {
        m_controller->disconnectReceiver();
        appendLog(tr("Closed the receiver console on %1.").arg(port));
    }
    return true;
}

void ReceiverV4UpdateDialog::onCheckVersionClicked()
{
    const QString port = selectedPort();
    if (!releasePort(port))
        return;
    m_busy = ReadingBoard;
    setBusy(true, false);
    setStatus(tr("Reading the receiver on %1…").arg(port), NoLevel);
    m_boardLabel->setText(tr("reading…"));
    ReceiverV4Flasher *flasher = m_flasher;
    QMetaObject::invokeMethod(flasher, [flasher, port] { flasher->readBoard(port); }, Qt::QueuedConnection);
}

bool ReceiverV4UpdateDialog::confirm(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    // Both questions put back firmware the board already has or a newer one: Return keeps it.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void ReceiverV4UpdateDialog::onUpdateClicked()
{
    const QString port = selectedPort();
    if (!releasePort(port))
        return;
    m_runPort = port;
    const bool boardKnown = !m_boardVersion.isEmpty() && !m_boardInBootloader;
    if (m_imageLoaded) {
        if (boardKnown && compareVersions(m_boardVersion, m_image.version) > 0
            && !confirm(tr("Older firmware"), tr("The receiver runs %1, newer than %2. Install %2 anyway?")
                                                  .arg(m_boardVersion, m_image.version)))
            return;
        startFlasher(m_image);
        return;
    }
    if (boardKnown && !m_latestVersion.isEmpty() && compareVersions(m_boardVersion, m_latestVersion) >= 0
        && !confirm(tr("Up to date"),
                    tr("The receiver already runs %1, the latest release. Install it again?").arg(m_boardVersion)))
        return;
    m_busy = Updating;
    m_cancelRequested = false;
    setBusy(true, true);
    m_progress->setValue(0);
    setStatus(tr("Downloading the firmware…"), NoLevel);
    appendLog(tr("Downloading the firmware from GitHub."));
    QNetworkReply *reply = makeRequest(releaseUrl(QStringLiteral("firmware.json")));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onDescriptionReceived(reply); });
}

void ReceiverV4UpdateDialog::onDescriptionReceived(QNetworkReply *reply)
{
    if (downloadFailed(reply))
        return;
    m_description = reply->readAll();
    QNetworkReply *image = makeRequest(releaseUrl(QStringLiteral("firmware.bin")));
    connect(image, &QNetworkReply::finished, this, [this, image] { onImageReceived(image); });
}

void ReceiverV4UpdateDialog::onImageReceived(QNetworkReply *reply)
{
    if (downloadFailed(reply))
        return;
    ReceiverV4Flasher::Image image;
    QString error;
    if (!ReceiverV4Flasher::loadImage(reply->readAll(), m_description, &image, &error)) {
        m_busy = Idle;
        setBusy(false, false);
        setStatus(tr("The downloaded firmware was refused: %1").arg(error), Fail);
        appendLog(tr("Downloaded firmware refused: %1").arg(error));
        return;
    }
    m_image = image;
    m_imageLoaded = true;
    m_imageSource = QStringLiteral("GitHub");
    if (m_latestVersion.isEmpty())
        m_latestVersion = image.version;
    updateVersionLabels();
    startFlasher(m_image);
}

bool ReceiverV4UpdateDialog::downloadFailed(QNetworkReply *reply)
{
    reply->deleteLater();
    if (m_cancelRequested)
        failDownload(tr("cancelled"));
    else if (reply->error() != QNetworkReply::NoError)
        failDownload(reply->errorString());
    else
        return false;
    return true;
}

void ReceiverV4UpdateDialog::failDownload(const QString &reason)
{
    m_busy = Idle;
    setBusy(false, false);
    const QString text = tr("Download failed: %1").arg(reason);
    setStatus(text, Fail);
    appendLog(text);
}

void ReceiverV4UpdateDialog::onUseFileClicked()
{
    const QString path = askForFirmwareFile();
    if (path.isEmpty())
        return;
    const QFileInfo binInfo(path);
    const QString descriptionPath = binInfo.dir().filePath(binInfo.completeBaseName() + QLatin1String(".json"));
    QFile description(descriptionPath);
    if (!description.open(QIODevice::ReadOnly)) {
        setStatus(tr("%1 needs its description file %2 next to it.")
                      .arg(binInfo.fileName(), QFileInfo(descriptionPath).fileName()),
                  Fail);
        return;
    }
    QFile bin(path);
    if (!bin.open(QIODevice::ReadOnly)) {
        setStatus(tr("Can't open %1.").arg(binInfo.fileName()), Fail);
        return;
    }
    ReceiverV4Flasher::Image image;
    QString error;
    if (!ReceiverV4Flasher::loadImage(bin.readAll(), description.readAll(), &image, &error)) {
        setStatus(tr("%1 refused: %2").arg(binInfo.fileName(), error), Fail);
        appendLog(tr("File refused: %1").arg(error));
        return;
    }
    m_image = image;
    m_imageLoaded = true;
    m_imageSource = binInfo.fileName();
    appendLog(tr("Using %1: firmware %2, %3 bytes.").arg(binInfo.fileName(), image.version).arg(image.size));
    setStatus(tr("Ready to install %1 from the file.").arg(image.version), NoLevel);
    updateVersionLabels();
}

void ReceiverV4UpdateDialog::startFlasher(const ReceiverV4Flasher::Image &image)
{
    m_busy = Updating;
    setBusy(true, true);
    m_progress->setValue(0);
    const QString port = m_runPort;
    setStatus(tr("Connecting to the bootloader on %1…").arg(port), NoLevel);
    ReceiverV4Flasher *flasher = m_flasher;
    QMetaObject::invokeMethod(flasher, [flasher, port, image] { flasher->update(port, image); }, Qt::QueuedConnection);
}

void ReceiverV4UpdateDialog::setBusy(bool busy, bool cancellable)
{
    m_cancellable = busy && cancellable;
    m_portCombo->setEnabled(!busy && ostra::portsListed(m_portCombo));
    for (QPushButton *button : { m_refreshButton, m_fileButton })
        button->setEnabled(!busy);
    refreshPortButtons();
    m_closeButton->setText(busy ? tr("Cancel") : tr("Close"));
    m_closeButton->setEnabled(!busy || cancellable);
}

void ReceiverV4UpdateDialog::setStatus(const QString &text, Level level)
{
    static const char *const colors[] = { "#5B6675", "#0D8A57", "#B06F00", "#C81F24" };
    m_status->setText(text);
    m_status->setStyleSheet(QStringLiteral("color: %1; font-weight: %2;")
                                .arg(QLatin1String(colors[level]))
                                .arg(level == NoLevel ? 400 : 600));
}

void ReceiverV4UpdateDialog::appendLog(const QString &text)
{
    m_log->appendPlainText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QLatin1String("  ") + text);
    m_log->verticalScrollBar()->setValue(m_log->verticalScrollBar()->maximum());
}

QNetworkReply *ReceiverV4UpdateDialog::makeRequest(const QUrl &url)
{
    QUrl address(url);
    // No cache on the way may answer.
    address.setQuery(QStringLiteral("t=%1").arg(QDateTime::currentMSecsSinceEpoch()));
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(RequestTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > MaxDownloadBytes || total > MaxDownloadBytes)
            reply->abort();
    });
    return reply;
}

void ReceiverV4UpdateDialog::onLatestVersionReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply->error() == QNetworkReply::NoError) {
        QString version = QString::fromUtf8(reply->readAll()).trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
        if (version.startsWith(QLatin1Char('v'), Qt::CaseInsensitive))
            version.remove(0, 1);
        if (const QString fault = ReceiverV4Flasher::versionFault(version); !fault.isEmpty()) {
            m_latestRefused = true;
            appendLog(tr("The published release's version %1.").arg(fault));
        } else {
            m_latestVersion = version;
            appendLog(tr("Latest release on GitHub: %1").arg(version));
        }
    } else if (reply->error() == QNetworkReply::ContentNotFoundError) {
        m_latestError = QStringLiteral("404");
        appendLog(tr("No V4 release is published on GitHub yet."));
    } else {
        m_latestError = reply->errorString();
        appendLog(tr("Couldn't check the latest release: %1").arg(m_latestError));
    }
    updateVersionLabels();
}

void ReceiverV4UpdateDialog::onBoardInfo(const QString &version, const QString &hardware, bool inBootloader)
{
    m_boardVersion = version;
    m_boardInBootloader = inBootloader;
    // A board that answered without a version, or not at all, runs something unknown.
    if (!inBootloader && version.isEmpty())
        m_boardLabel->setText(tr("unknown"));
    if (!inBootloader && !hardware.isEmpty() && !hardware.contains(QLatin1String("V4"), Qt::CaseInsensitive))
        appendLog(tr("Warning: the board reports \"%1\", not a V4.").arg(hardware));
    updateVersionLabels();
}

void ReceiverV4UpdateDialog::onFlasherProgress(const QString &stage, int done, int total)
{
    if (stage == QLatin1String("connect")) {
        m_progress->setValue(done != 0 ? 5 : 1);
    } else if (stage == QLatin1String("program")) {
        if (done == 0) {
            m_cancellable = false;
            m_closeButton->setEnabled(false);
        }
        m_progress->setValue(total > 0 ? 5 + done * 90 / total : 5);
        setStatus(tr("Writing the firmware… page %1 of %2. Don't unplug the receiver.").arg(done).arg(total), NoLevel);
    } else if (stage == QLatin1String("verify")) {
        if (done == 0) {
            m_progress->setValue(97);
            setStatus(tr("Starting the new firmware…"), NoLevel);
        } else {
            m_progress->setValue(100);
        }
    }
}

void ReceiverV4UpdateDialog::onPowerCycleRequested(bool active)
{
    m_powerCycle->setVisible(active);
    m_closeButton->setEnabled(active || m_cancellable);
    if (active)
        setStatus(tr("Power-cycle the board now"), Warn);
}

void ReceiverV4UpdateDialog::onFlasherFinished(bool ok, const QString &message)
{
    const Busy was = m_busy;
    m_busy = Idle;
    setBusy(false, false);
    m_powerCycle->hide();
    if (was == ReadingBoard) {
        if (!ok) {
            m_boardLabel->setText(tr("no reply"));
            setStatus(message, Fail);
            appendLog(message);
        } else if (m_boardInBootloader) {
            setStatus(tr("The receiver is waiting in the bootloader (no firmware). Press Update to install it."), Warn);
        } else {
            setStatus(tr("The receiver runs %1.").arg(m_boardVersion), Ok);
        }
        updateVersionLabels();
        return;
    }
    if (!ok) {
        const QString text = tr("Update failed: %1").arg(message);
        setStatus(text, Fail);
        appendLog(text);
        m_updateButton->setText(tr("Try again"));
        return;
    }
    m_boardVersion = message;
    m_boardInBootloader = false;
    m_progress->setValue(100);
    setStatus(tr("Updated to %1. Now power-cycle the receiver once (switch its power off and on): started straight "
                 "from the bootloader, the IMU may not start until a normal power-up.")
                  .arg(message),
              Ok);
    updateVersionLabels();
    QMessageBox box(QMessageBox::Information, tr("Update complete"),
                    tr("The receiver runs %1.\n\nPower-cycle it once now (switch its power off and on). Started "
                       "straight from the bootloader, the IMU may not start until a normal power-up.")
                        .arg(message),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ReceiverV4UpdateDialog::updateVersionLabels()
{
    if (m_boardInBootloader)
        m_boardLabel->setText(tr("no firmware (in the bootloader)"));
    else if (!m_boardVersion.isEmpty())
        m_boardLabel->setText(m_boardVersion);

    const bool fromFile = m_imageLoaded && m_imageSource != QLatin1String("GitHub");
    if (fromFile)
        m_latestLabel->setText(tr("%1 (from %2)").arg(m_image.version, m_imageSource));
    else if (!m_latestVersion.isEmpty())
        m_latestLabel->setText(m_latestVersion);
    else if (m_latestRefused)
        m_latestLabel->setText(tr("no usable version published"));
    else if (!m_latestError.isEmpty())
        m_latestLabel->setText(m_latestError == QLatin1String("404") ? tr("none published yet")
                                                                    : tr("can't reach GitHub"));

    if (m_busy != Idle)
        return;
    const QString target = m_imageLoaded ? m_image.version : m_latestVersion;
    const bool current = !target.isEmpty() && !m_boardVersion.isEmpty() && !m_boardInBootloader
                         && compareVersions(m_boardVersion, target) >= 0;
    m_updateButton->setText(current ? tr("Reinstall") : tr("Update"));
}

} // namespace corvane
