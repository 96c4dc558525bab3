#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <stdexcept>

class QSerialPort;

namespace corvane {

// Reads out and reflashes a receiver V4 (STM32G0) through the chip's ROM boot loader over the
// USB-UART cable on its J14 connector. Its owner moves it to a worker thread and calls the two
// slots through queued invocations; every serial call blocks there. Failures inside are
// exceptions; none leaves the flasher: each run ends with exactly one finished().
class ReceiverV4Flasher : public QObject
{
    Q_OBJECT

public:
    // A validated firmware image (see loadImage).
    struct Image
    {
        QByteArray data; // padded with 0xFF to a multiple of 8
        QString version;
        int size = 0; // the file's length before padding
    };

    class Error : public std::runtime_error
    {
    public:
        explicit Error(const QString &message) : std::runtime_error(message.toStdString()) {}
        QString message() const { return QString::fromStdString(what()); }
    };
    class NoReply : public Error
    {
    public:
        using Error::Error;
    };
    class Nacked : public Error
    {
    public:
        using Error::Error;
    };
    class LostContact : public Error
    {
    public:
        using Error::Error;
    };
    class Cancelled : public Error
    {
    public:
        using Error::Error;
    };

    static constexpr quint32 FlashBase = 0x08000000;
    static constexpr int PageSize = 2048;
    static constexpr int BlockSize = 256;
    static constexpr quint32 ExpectedChipId = 0x467;
    static constexpr int PowerCycleWaitMs = 60000;
    // Longer than any release number the receivers use, short enough for a status line.
    static constexpr int MaxVersionLength = 32;

    explicit ReceiverV4Flasher(QObject *parent = nullptr);
    ~ReceiverV4Flasher() override;

    // Tests the image against its description; on failure `error` gets the reason and `image`
    // stays as it was.
    static bool loadImage(const QByteArray &binBytes, const QByteArray &jsonBytes, Image *image = nullptr,
                          QString *error = nullptr);
    static QString parseVersionReply(const QByteArray &bytes);
    static QString parseHardwareReply(const QByteArray &bytes);
    // Why a version can be neither shown nor compared, as the end of a sentence ("holds invisible
    // characters"); empty for a usable one.
    static QString versionFault(const QString &version);
    static QString wiringHint();

    // Set from the owner's thread: the run ends as cancelled at its next wait for the boot
    // loader, its next page or its next resync.
    void requestStop() { m_stop.store(1); }
    int retryCount() const { return m_retries; }

    // --- boot loader commands (on the worker thread; they throw) ---
    void waitAck(int timeoutMs);
    void sendCommand(quint8 code);
    void sendAddress(quint32 address);
    static quint8 xorChecksum(const QByteArray &bytes);
    QByteArray cmdGet();
    void cmdGetId();
    QByteArray readMemory(quint32 address, int count);
    void writeMemory(quint32 address, const QByteArray &bytes);
    void erasePage(int page);
    void go();
    bool syncBootloader(int timeoutMs);
    void resync();
    QByteArray withRetry(const std::function<QByteArray()> &step, int attempts);
    bool writeChunk(quint32 address, const QByteArray &bytes);
    QByteArray readMemoryRange(int offset, int length);

public slots:
    void readBoard(const QString &portName);
    void update(const QString &portName, const corvane::ReceiverV4Flasher::Image &image);

signals:
    void logMessage(const QString &text);
    void progress(const QString &stage, int done, int total);
    void powerCycleRequested(bool active);
    void boardInfo(const QString &version, const QString &hardware, bool inBootloader);
    void finished(bool ok, const QString &message);

protected:
    // The serial line and the clock, the only ways out of the flasher.
    virtual void openPort(const QString &portName);
    virtual void closePort();
    virtual void setEvenParity(bool on);
    virtual void writeBytes(const QByteArray &bytes);
    virtual QByteArray readBytes(int count, int timeoutMs);
    virtual QByteArray readFor(int ms);
    virtual void flushInput();
    virtual void sleepMs(int ms);
    virtual qint64 nowMs();

    // Steps of an update. probeFirmware is true when it asked the running firmware into the
    // boot loader.
    bool probeFirmware();
    void enterBootloader(int timeoutMs);
    void programImage();
    void programPage(int page);

private:
    QString secondsSinceStart();
    // Asks the running firmware for its version and hardware.
    void askFirmware(QString *version, QString *hardware);
    // The version in a reply of the firmware; empty, with a log line, for one that is no version.
    QString versionIn(const QByteArray &reply);
    // After a refused board, nothing written: starts the firmware it came from again and says,
    // as the end of the failure's message, where the board is now.
    QString returnToFirmware();
    void runUpdate(const QString &portName, const Image &image);
    // Closes the port and ends the run with the failure's message (UTF-8, as every Error holds it).
    void endRun(const std::exception &e);

    QSerialPort *m_port = nullptr;
    QByteArray m_rx;
    int m_retries = 0;
    qint64 m_runStart = 0;
    std::atomic_int m_stop { 0 };
    QByteArray m_imageData;
    QString m_imageVersion;
    int m_imageSize = 0;
    // Set from the erase of page 0 until page 0 is written again.
    bool m_vectorTableErased = false;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::ReceiverV4Flasher::Image)
