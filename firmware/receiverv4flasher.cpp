#include "firmware/receiverv4flasher.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPort>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <utility>

#include "profiles/profilename.h"

namespace corvane {

namespace {

constexpr quint8 kSync = 0x7F;
constexpr quint8 kAck = 0x79;
constexpr quint8 kNack = 0x1F;
constexpr quint8 kCmdGet = 0x00;
constexpr quint8 kCmdGetId = 0x02;
constexpr quint8 kCmdReadMemory = 0x11;
constexpr quint8 kCmdGo = 0x21;
constexpr quint8 kCmdWriteMemory = 0x31;
constexpr quint8 kCmdExtendedErase = 0x44;
constexpr std::array<quint8, 6> kNeededCommands { kCmdGet, kCmdGetId, kCmdReadMemory, kCmdGo, kCmdWriteMemory,
                                                  kCmdExtendedErase };

constexpr int kRetryAttempts = 5;
constexpr int kPageAttempts = 4;
constexpr int kMaxRestarts = 2;
constexpr int kProbeSyncMs = 300;
constexpr int kDfuSyncMs = 2000;
constexpr int kFirmwareReplyMs = 600;
constexpr int kStartupWaitMs = 1500;
constexpr int kVersionReplyMs = 800;
constexpr int kWriteWaitMs = 2000;
constexpr int kResyncPasses = 3;
constexpr int kResyncSyncBytes = 300;

constexpr int kImageMin = 8;
constexpr int kImageMax = 262144;
constexpr quint32 kStackMin = 0x20000001;
constexpr quint32 kStackMax = 0x20024000;
const char kHardware[] = "QOR-V4-G0B1";

QString hex8(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

QByteArray bytesOf(std::initializer_list<quint8> values)
{
    QByteArray out;
    out.reserve(int(values.size()));
    for (quint8 v : values)
        out.append(char(v));
    return out;
}

} // namespace

ReceiverV4Flasher::ReceiverV4Flasher(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<Image>("corvane::ReceiverV4Flasher::Image");
}

ReceiverV4Flasher::~ReceiverV4Flasher()
{
    delete m_port;
}

QString ReceiverV4Flasher::wiringHint()
{
    return tr("Check the wiring: cable TXD -> J14 RX, RXD -> J14 TX, GND. If it still fails, unplug the USB-UART "
              "cable as well while the board is off (the cable can keep the chip half-powered), or fit the BOOT "
              "jumper (JP1), then retry.");
}

// --- image ---

bool ReceiverV4Flasher::loadImage(const QByteArray &binBytes, const QByteArray &jsonBytes, Image *image,
                                  QString *error)
{
    const auto refuse = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(jsonBytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return refuse(tr("The firmware description (.json) can't be read."));
    const QJsonObject description = document.object();

    const QString hardware = description.value(QLatin1String("hardware")).toString();
    if (hardware != QLatin1String(kHardware))
        return refuse(tr("This firmware is for \"%1\", not a QOR receiver V4.").arg(hardware));

    const QJsonValue addressValue = description.value(QLatin1String("flash_address"));
    QString addressText = addressValue.isString() ? addressValue.toString() : QString();
    if (addressText.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        addressText.remove(0, 2);
    bool addressOk = false;
    const qulonglong address = addressText.toULongLong(&addressOk, 16);
    if (!addressOk || address != FlashBase)
        return refuse(tr("The firmware's flash address is not 0x08000000."));

    const int size = description.value(QLatin1String("size")).toInt(-1);
    const QString sha = description.value(QLatin1String("sha256")).toString();
    if (size != binBytes.size()
        || sha.compare(QString::fromLatin1(QCryptographicHash::hash(binBytes, QCryptographicHash::Sha256).toHex()),
                       Qt::CaseInsensitive)
               != 0)
        return refuse(tr("The firmware file doesn't match its description (corrupted or wrong file)."));

    const QString version = ProfileName::normalized(description.value(QLatin1String("version")).toString());
    if (version.isEmpty())
        return refuse(tr("The firmware description has no version."));
    if (const QString fault = versionFault(version); !fault.isEmpty())
        return refuse(tr("The firmware description's version %1.").arg(fault));
    if (binBytes.size() < kImageMin)
        return refuse(tr("The firmware file is too small."));
    if (binBytes.size() > kImageMax)
        return refuse(tr("The firmware file is larger than 256 KB."));

    const auto *words = reinterpret_cast<const uchar *>(binBytes.constData());
    const quint32 stack = qFromLittleEndian<quint32>(words);
    if (stack < kStackMin || stack > kStackMax)
        return refuse(tr("Not a QOR receiver firmware (stack pointer 0x%1).").arg(hex8(stack)));
    const quint32 reset = qFromLittleEndian<quint32>(words + 4);
    const quint32 resetAddress = reset & ~quint32(1);
    if ((reset & 1) == 0 || resetAddress < FlashBase || resetAddress >= FlashBase + quint32(binBytes.size()))
        return refuse(tr("Not a QOR receiver firmware (reset address 0x%1).").arg(hex8(reset)));

    if (image) {
        image->data = binBytes;
        const int padded = (binBytes.size() + 7) / 8 * 8;
        image->data.append(QByteArray(padded - binBytes.size(), char(0xFF)));
        image->version = version;
        image->size = int(binBytes.size());
    }
    return true;
}

QString ReceiverV4Flasher::parseVersionReply(const QByteArray &bytes)
{
    static const QRegularExpression pattern(QStringLiteral("QOR:([0-9][0-9A-Za-z.\\-]*)"));
    return pattern.match(QString::fromLatin1(bytes)).captured(1);
}

QString ReceiverV4Flasher::parseHardwareReply(const QByteArray &bytes)
{
    static const QRegularExpression pattern(QStringLiteral("HW:([ -~]+)"));
    return pattern.match(QString::fromLatin1(bytes)).captured(1).trimmed();
}

QString ReceiverV4Flasher::versionFault(const QString &version)
{
    // A version is shown in the labels and the log, and compared part by part as numbers.
    if (ProfileName::hasForbiddenCharacter(version))
        return tr("holds control characters or text direction overrides");
    if (ProfileName::hasInvisibleCharacter(version))
        return tr("holds invisible characters (a zero-width space or the like)");
    if (version.size() > MaxVersionLength)
        return tr("is too long (%1 characters, at most %2)").arg(version.size()).arg(MaxVersionLength);
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    const QStringList parts = version.split(QLatin1Char('.'));
    for (const QString &part : parts) {
        bool fits = false;
        part.toInt(&fits);
        if (!fits && digits.match(part).hasMatch())
            return tr("holds a number too large to compare (%1)").arg(part);
    }
    return {};
}

// --- primitives ---

void ReceiverV4Flasher::openPort(const QString &portName)
{
    closePort();
    auto *port = new QSerialPort;
    port->setPortName(portName);
    port->setBaudRate(QSerialPort::Baud115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::EvenParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite)) {
        const QString reason = port->errorString();
        delete port;
        throw Error(tr("Can't open %1: %2. Close any other program using it.").arg(portName, reason));
    }
    port->setRequestToSend(false);
    port->setDataTerminalReady(false);
    // A line without modem control lines refuses RTS/DTR; that is no fault of the link.
    port->clearError();
    m_port = port;
    m_rx.clear();
}

void ReceiverV4Flasher::closePort()
{
    if (!m_port)
        return;
    m_port->close();
    delete m_port;
    m_port = nullptr;
}

void ReceiverV4Flasher::setEvenParity(bool on)
{
    if (m_port)
        m_port->setParity(on ? QSerialPort::EvenParity : QSerialPort::NoParity);
}

void ReceiverV4Flasher::writeBytes(const QByteArray &bytes)
{
    if (!m_port)
        throw Error(QStringLiteral("serial port not open"));
    m_port->write(bytes);
    while (m_port->bytesToWrite() > 0) {
        if (!m_port->waitForBytesWritten(kWriteWaitMs))
            throw Error(QStringLiteral("serial write timeout"));
    }
}

QByteArray ReceiverV4Flasher::readBytes(int count, int timeoutMs)
{
    if (m_port) {
        const QDeadlineTimer deadline(qMax(0, timeoutMs));
        m_rx.append(m_port->readAll());
        while (m_rx.size() < count) {
            const qint64 remaining = deadline.remainingTime();
            if (remaining <= 0 || !m_port->waitForReadyRead(int(remaining)))
                break;
            m_rx.append(m_port->readAll());
        }
        m_rx.append(m_port->readAll());
    }
    const QByteArray out = m_rx.left(qMax(0, count));
    m_rx.remove(0, out.size());
    return out;
}

QByteArray ReceiverV4Flasher::readFor(int ms)
{
    if (m_port) {
        const QDeadlineTimer deadline(qMax(0, ms));
        for (qint64 remaining = deadline.remainingTime(); remaining > 0; remaining = deadline.remainingTime()) {
            if (m_port->waitForReadyRead(int(remaining)))
                m_rx.append(m_port->readAll());
            else if (!m_port->isOpen() || m_port->error() == QSerialPort::ResourceError)
                break; // the line is gone: waiting on would only spin
        }
        m_rx.append(m_port->readAll());
    }
    QByteArray out;
    out.swap(m_rx);
    return out;
}

void ReceiverV4Flasher::flushInput()
{
    if (m_port) {
        m_port->waitForReadyRead(0);
        m_port->readAll();
        m_port->clear(QSerialPort::Input);
    }
    m_rx.clear();
}

void ReceiverV4Flasher::sleepMs(int ms)
{
    QThread::msleep(ulong(qMax(0, ms)));
}

qint64 ReceiverV4Flasher::nowMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

// --- boot loader commands ---

void ReceiverV4Flasher::waitAck(int timeoutMs)
{
    const QByteArray reply = readBytes(1, timeoutMs);
    if (reply.isEmpty())
        throw NoReply(QStringLiteral("no reply from the bootloader"));
    const quint8 byte = quint8(reply.at(0));
    if (byte == kAck)
        return;
    if (byte == kNack)
        throw Nacked(QStringLiteral("bootloader NACK"));
    throw Error(QStringLiteral("unexpected byte 0x%1").arg(byte, 2, 16, QLatin1Char('0')));
}

void ReceiverV4Flasher::sendCommand(quint8 code)
{
    flushInput();
    writeBytes(bytesOf({ code, quint8(code ^ 0xFF) }));
    waitAck(1000);
}

void ReceiverV4Flasher::sendAddress(quint32 address)
{
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian(address, frame.data());
    frame.append(char(xorChecksum(frame)));
    writeBytes(frame);
    waitAck(1000);
}

quint8 ReceiverV4Flasher::xorChecksum(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char c : bytes)
        sum ^= quint8(c);
    return sum;
}

QByteArray ReceiverV4Flasher::cmdGet()
{
    sendCommand(kCmdGet);
    const QByteArray length = readBytes(1, 1000);
    if (length.isEmpty())
        throw NoReply(QStringLiteral("GET: no length"));
    const int count = quint8(length.at(0)) + 1;
    const QByteArray reply = readBytes(count, 1000);
    if (reply.size() < count)
        throw NoReply(QStringLiteral("GET: short reply"));
    waitAck(1000);
    return reply;
}

void ReceiverV4Flasher::cmdGetId()
{
    const QByteArray get = cmdGet();
    const QByteArray commands = get.mid(1);
    for (quint8 needed : kNeededCommands) {
        if (!commands.contains(char(needed)))
            throw Error(tr("The board's readout protection is on, so it can't be updated over the cable."));
    }
    sendCommand(kCmdGetId);
    const QByteArray length = readBytes(1, 1000);
    if (length.isEmpty())
        throw NoReply(QStringLiteral("GET_ID: no length"));
    const QByteArray id = readBytes(quint8(length.at(0)) + 1, 1000);
    waitAck(1000);
    // An ID longer than four bytes is no STM32 ID; it must not fold into one.
    quint64 chipId = 0;
    for (char c : id)
        chipId = chipId > 0xFFFFFFFFull ? chipId : (chipId << 8) | quint8(c);
    const quint8 version = quint8(get.at(0));
    const QString chipText = QStringLiteral("%1").arg(chipId, 3, 16, QLatin1Char('0'));
    emit logMessage(tr("Bootloader protocol %1.%2, chip ID 0x%3").arg(version >> 4).arg(version & 0x0F).arg(chipText));
    if (chipId != ExpectedChipId)
        throw Error(tr("This is not a QOR receiver V4 (chip ID 0x%1, expected 0x467). Nothing was written.")
                        .arg(chipText));
}

QByteArray ReceiverV4Flasher::readMemory(quint32 address, int count)
{
    if (count < 1 || count > BlockSize)
        throw Error(QStringLiteral("READ: bad length %1").arg(count));
    sendCommand(kCmdReadMemory);
    sendAddress(address);
    writeBytes(bytesOf({ quint8(count - 1), quint8((count - 1) ^ 0xFF) }));
    waitAck(1000);
    const QByteArray data = readBytes(count, 500);
    if (data.size() < count)
        throw NoReply(QStringLiteral("READ: short data"));
    return data;
}

void ReceiverV4Flasher::writeMemory(quint32 address, const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > BlockSize)
        throw Error(QStringLiteral("WRITE: bad length %1").arg(bytes.size()));
    sendCommand(kCmdWriteMemory);
    sendAddress(address);
    QByteArray frame(1, char(bytes.size() - 1));
    frame.append(bytes);
    frame.append(char(xorChecksum(frame)));
    writeBytes(frame);
    waitAck(200);
}

void ReceiverV4Flasher::erasePage(int page)
{
    sendCommand(kCmdExtendedErase);
    QByteArray frame = bytesOf({ 0x00, 0x00, quint8((page >> 8) & 0xFF), quint8(page & 0xFF) });
    frame.append(char(xorChecksum(frame)));
    writeBytes(frame);
    waitAck(500);
}

void ReceiverV4Flasher::go()
{
    sendCommand(kCmdGo);
    sendAddress(FlashBase);
}

bool ReceiverV4Flasher::syncBootloader(int timeoutMs)
{
    const qint64 deadline = nowMs() + timeoutMs;
    flushInput();
    for (;;) {
        if (nowMs() >= deadline)
            return false;
        if (m_stop.load())
            throw Cancelled(QStringLiteral("cancelled"));
        writeBytes(bytesOf({ kSync }));
        const QByteArray reply = readBytes(1, 10);
        // A NACK proves a listening boot loader too (one synchronised earlier): GET decides.
        if (reply.isEmpty() || (quint8(reply.at(0)) != kAck && quint8(reply.at(0)) != kNack))
            continue;
        sleepMs(20);
        flushInput();
        try {
            cmdGet();
            return true;
        } catch (const Error &) {
            flushInput();
        }
    }
}

void ReceiverV4Flasher::resync()
{
    for (int pass = 0; pass < kResyncPasses; ++pass) {
        flushInput();
        for (int i = 0; i < kResyncSyncBytes; ++i) {
            // A board gone silent would hold a stop back for seconds here.
            if (m_stop.load())
                throw Cancelled(QStringLiteral("cancelled"));
            writeBytes(bytesOf({ kSync }));
            if (!readBytes(1, 20).isEmpty())
                break;
        }
        sleepMs(50);
        flushInput();
        try {
            cmdGet();
            return;
        } catch (const Error &) {
        }
    }
    throw LostContact(QStringLiteral("lost contact with the bootloader"));
}

QString ReceiverV4Flasher::secondsSinceStart()
{
    return QString::number(double(nowMs() - m_runStart) / 1000.0, 'f', 2);
}

QByteArray ReceiverV4Flasher::withRetry(const std::function<QByteArray()> &step, int attempts)
{
    for (int attempt = 1;; ++attempt) {
        try {
            return step();
        } catch (const LostContact &) {
            throw;
        } catch (const Cancelled &) {
            throw;
        } catch (const Error &e) {
            ++m_retries;
            if (attempt >= attempts)
                throw Error(QStringLiteral("giving up after %1 attempts: %2").arg(attempts).arg(e.message()));
            emit logMessage(QStringLiteral("  [%1 s] %2 - resyncing").arg(secondsSinceStart(), e.message()));
            resync();
        }
    }
}

bool ReceiverV4Flasher::writeChunk(quint32 address, const QByteArray &bytes)
{
    try {
        writeMemory(address, bytes);
        return true;
    } catch (const LostContact &) {
        throw;
    } catch (const Error &e) {
        ++m_retries;
        emit logMessage(QStringLiteral("  [%1 s] write 0x%2: %3 - resyncing")
                            .arg(secondsSinceStart(), hex8(address), e.message()));
        resync();
    }
    // The write may have landed before its answer went astray.
    const QByteArray back = withRetry([&] { return readMemory(address, int(bytes.size())); }, kRetryAttempts);
    if (back == bytes)
        return true;
    if (back != QByteArray(bytes.size(), char(0xFF)))
        return false;
    try {
        writeMemory(address, bytes);
        return true;
    } catch (const LostContact &) {
        throw;
    } catch (const Error &) {
        ++m_retries;
        resync();
        return false;
    }
}

QByteArray ReceiverV4Flasher::readMemoryRange(int offset, int length)
{
    QByteArray out;
    for (int i = 0; i < length; i += BlockSize) {
        const quint32 address = FlashBase + quint32(offset + i);
        const int count = qMin(BlockSize, length - i);
        out.append(withRetry([&] { return readMemory(address, count); }, kRetryAttempts));
    }
    return out;
}

// --- procedures ---

void ReceiverV4Flasher::askFirmware(QString *version, QString *hardware)
{
    setEvenParity(false);
    flushInput();
    writeBytes(QByteArrayLiteral("\nVER\nHW\n"));
    const QByteArray reply = readFor(kFirmwareReplyMs);
    *hardware = parseHardwareReply(reply);
    *version = versionIn(reply);
}

QString ReceiverV4Flasher::versionIn(const QByteArray &reply)
{
    const QString version = parseVersionReply(reply);
    const QString fault = versionFault(version);
    if (fault.isEmpty())
        return version;
    emit logMessage(tr("The receiver's version %1; it counts as unknown.").arg(fault));
    return {};
}

void ReceiverV4Flasher::readBoard(const QString &portName)
{
    m_stop.store(0);
    try {
        openPort(portName);
        setEvenParity(true);
        if (syncBootloader(kProbeSyncMs)) {
            closePort();
            emit logMessage(tr("The board is in the bootloader (no firmware running)."));
            emit boardInfo(QString(), QString(), true);
            emit finished(true, QString());
            return;
        }
        QString version;
        QString hardware;
        askFirmware(&version, &hardware);
        closePort();
        if (version.isEmpty() && hardware.isEmpty()) {
            emit finished(false, tr("No reply from the receiver. ") + wiringHint());
            return;
        }
        emit logMessage(tr("Board: %1 %2")
                            .arg(version.isEmpty() ? QStringLiteral("QOR:?") : QStringLiteral("QOR:") + version,
                                 hardware));
        emit boardInfo(version, hardware, false);
        emit finished(true, version);
    } catch (const std::exception &e) {
        endRun(e);
    }
}

void ReceiverV4Flasher::endRun(const std::exception &e)
{
    closePort();
    // The old firmware's vector table is gone and the new one not written: the board holds no
    // firmware and starts in its boot loader.
    if (std::exchange(m_vectorTableErased, false)) {
        emit logMessage(tr("The board holds no firmware now; it stays in the bootloader until an update completes."));
        emit boardInfo(QString(), QString(), true);
    }
    emit finished(false, QString::fromStdString(e.what()));
}

bool ReceiverV4Flasher::probeFirmware()
{
    setEvenParity(true);
    if (syncBootloader(kProbeSyncMs)) {
        emit logMessage(tr("The board is already in the bootloader."));
        // Whatever an earlier check read, no firmware runs now.
        emit boardInfo(QString(), QString(), true);
        return false;
    }
    emit logMessage(tr("Asking the firmware to restart into the bootloader (DFU)."));
    QString version;
    QString hardware;
    askFirmware(&version, &hardware);
    if (version.isEmpty() && hardware.isEmpty()) {
        emit logMessage(tr("No reply from the firmware (continuing; it may be in OSD mode or too old)."));
    } else {
        const QString unknown = QStringLiteral("?");
        emit logMessage(tr("Running firmware: %1 on %2")
                            .arg(version.isEmpty() ? unknown : version, hardware.isEmpty() ? unknown : hardware));
        emit boardInfo(version, hardware, false);
    }
    writeBytes(QByteArrayLiteral("DFU\n"));
    setEvenParity(true);
    if (!syncBootloader(kDfuSyncMs))
        enterBootloader(PowerCycleWaitMs);
    return true;
}

QString ReceiverV4Flasher::returnToFirmware()
{
    try {
        go();
        sleepMs(kStartupWaitMs);
        QString version;
        QString hardware;
        askFirmware(&version, &hardware);
        // Empty as well when it does not answer: then nothing is known of it.
        emit boardInfo(version, hardware, false);
        if (version.isEmpty() && hardware.isEmpty())
            return tr("It was sent back to its firmware, which does not answer: if it does not start, switch its "
                      "power off and on.");
        return tr("It was sent back to its firmware.");
    } catch (const Error &) {
        emit boardInfo(QString(), QString(), false);
        return tr("It could not be sent back to its firmware: switch its power off and on to restart it.");
    }
}

void ReceiverV4Flasher::enterBootloader(int timeoutMs)
{
    emit logMessage(tr("POWER-CYCLE THE BOARD NOW (switch its power off and on). Listening for %1 s...")
                        .arg(timeoutMs / 1000));
    emit powerCycleRequested(true);
    bool found = false;
    try {
        setEvenParity(true);
        found = syncBootloader(timeoutMs);
    } catch (...) {
        emit powerCycleRequested(false);
        throw;
    }
    emit powerCycleRequested(false);
    if (!found)
        throw Error(tr("The board did not enter the bootloader.") + QLatin1Char(' ') + wiringHint());
    emit logMessage(tr("Bootloader found."));
}

void ReceiverV4Flasher::programImage()
{
    const int pages = int((m_imageData.size() + PageSize - 1) / PageSize);
    emit logMessage(tr("Erasing page 0 (vector table)."));
    // From the first erase on, whether or not it is answered, the old firmware may be gone.
    m_vectorTableErased = true;
    withRetry(
        [&] {
            erasePage(0);
            return QByteArray();
        },
        kRetryAttempts);
    emit progress(QStringLiteral("program"), 0, pages);
    // Page 0 holds the vector table: erased first, written last, so an interrupted run leaves a
    // board that stays in the boot loader rather than one that starts half a firmware.
    for (int i = 1; i <= pages; ++i) {
        // A stop (the dialog going away) ends the run between pages; page 0 still erased keeps
        // the board in its boot loader.
        if (m_stop.load())
            throw Cancelled(QStringLiteral("cancelled"));
        programPage(i < pages ? i : 0);
        if (i == pages)
            m_vectorTableErased = false;
        emit progress(QStringLiteral("program"), i, pages);
    }
    emit logMessage(tr("Programmed and verified %1 bytes (%2 retries).").arg(m_imageData.size()).arg(m_retries));
}

void ReceiverV4Flasher::programPage(int page)
{
    const QByteArray bytes = m_imageData.mid(qsizetype(page) * PageSize, PageSize);
    const quint32 pageAddress = FlashBase + quint32(page) * PageSize;
    QList<int> offsets;
    for (int offset = 0; offset < bytes.size(); offset += BlockSize)
        offsets.append(offset);
    // Page 0's first chunk is the vector table: it goes in last of all.
    if (page == 0)
        std::reverse(offsets.begin(), offsets.end());

    for (int attempt = 1; attempt <= kPageAttempts; ++attempt) {
        withRetry(
            [&] {
                erasePage(page);
                return QByteArray();
            },
            kRetryAttempts);
        bool written = true;
        for (int offset : std::as_const(offsets)) {
            if (!writeChunk(pageAddress + quint32(offset), bytes.mid(offset, BlockSize))) {
                written = false;
                break;
            }
        }
        if (written && readMemoryRange(page * PageSize, int(bytes.size())) == bytes)
            return;
        ++m_retries;
        if (attempt < kPageAttempts)
            emit logMessage(tr("Page %1: verify failed, rewriting (attempt %2)").arg(page).arg(attempt + 1));
    }
    throw Error(tr("Page %1 could not be programmed.").arg(page));
}

void ReceiverV4Flasher::update(const QString &portName, const Image &image)
{
    m_stop.store(0);
    m_retries = 0;
    m_imageData = image.data;
    m_imageVersion = image.version;
    m_imageSize = image.size;
    m_runStart = nowMs();
    try {
        runUpdate(portName, image);
    } catch (const Cancelled &) {
        endRun(Error(tr("Cancelled.")));
    } catch (const LostContact &) {
        endRun(Error(tr("Lost contact with the bootloader. Power-cycle the receiver and run the update again.")));
    } catch (const std::exception &e) {
        endRun(e);
    }
}

void ReceiverV4Flasher::runUpdate(const QString &portName, const Image &image)
{
    // Only an image that passed loadImage reaches here from the dialog; anything else is refused
    // before the board is touched.
    if (m_imageData.size() < kImageMin)
        throw Error(tr("The firmware file is too small."));
    if (m_imageData.size() > kImageMax)
        throw Error(tr("The firmware file is larger than 256 KB."));
    emit logMessage(tr("Firmware %1, %2 bytes.").arg(image.version).arg(image.size));
    openPort(portName);
    emit progress(QStringLiteral("connect"), 0, 1);
    const bool askedIn = probeFirmware();
    try {
        cmdGetId();
    } catch (const Cancelled &) {
        throw;
    } catch (const Error &e) {
        // Nothing is written yet: a board this run took out of its firmware goes back to it.
        if (!askedIn)
            throw;
        throw Error(e.message() + QLatin1Char(' ') + returnToFirmware());
    }
    emit progress(QStringLiteral("connect"), 1, 1);

    for (int restarts = 0;; ++restarts) {
        try {
            programImage();
            break;
        } catch (const LostContact &) {
            if (restarts >= kMaxRestarts)
                throw;
            ++m_retries;
            emit logMessage(tr("[%1 s] Lost contact with the board (it may have reset). Starting over.")
                                .arg(secondsSinceStart()));
            enterBootloader(PowerCycleWaitMs);
            cmdGetId();
        }
    }

    emit progress(QStringLiteral("verify"), 0, 1);
    go();
    setEvenParity(false);
    sleepMs(kStartupWaitMs);
    flushInput();
    writeBytes(QByteArrayLiteral("\nVER\n"));
    const QString version = versionIn(readFor(kVersionReplyMs));
    closePort();
    if (version.isEmpty())
        throw Error(tr("The firmware was written and verified, but the receiver did not answer after starting. "
                       "Power-cycle it and check the version."));
    if (version != m_imageVersion)
        throw Error(tr("The receiver reports %1, expected %2.").arg(version, m_imageVersion));
    emit progress(QStringLiteral("verify"), 1, 1);
    emit logMessage(tr("Update complete: running %1.").arg(version));
    emit finished(true, version);
}

} // namespace corvane
