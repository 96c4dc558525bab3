#pragma once

#include "support/ptydevice.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class QTimer;

namespace ostratest {

// A QOR Transmitter on a pseudo-terminal. The program opens portName(); while the Qt event loop
// runs (QTRY_*, QSignalSpy::wait, qWait) the transmitter reads what the program wrote, answers
// "ID", "WALKRF" and "CFGMODE ON/OFF", records every text line and CRSF frame, and answers
// device pings and parameter reads for the devices registered with addDevice().
// Telemetry goes out only when the test asks for it (send*).
class SimulatedTransmitter : public QObject
{
    Q_OBJECT
public:
    static constexpr quint8 TransmitterModule = 0xEE;
    static constexpr quint8 Handset = 0xEA;
    static constexpr quint8 ReceiverAddress = 0xC8;
    static constexpr quint8 ConfigTool = 0xEF;

    using Channels = std::array<int, 16>;

    // One RF parameter the transmitter lists in its "FIELD" lines. `entry` is the CRSF settings
    // entry without field id and chunk count (parent, type, name, data); an empty entry is
    // reported as "(read failed)".
    struct Field
    {
        quint8 id = 0;
        QByteArray entry;
    };

    // A CRSF device reached over the link (the car's receiver): answers pings with its device
    // information and parameter reads and writes with its entries.
    struct Device
    {
        quint8 address = ReceiverAddress;
        QByteArray name = "QOR Receiver";
        QByteArray serial = "QOR4"; // four bytes
        quint8 major = 4;
        quint8 minor = 3;
        quint8 patch = 0;
        // Field id -> settings entry (parent, type, name, data), split into chunks when long.
        QMap<quint8, QByteArray> entries;
        // Total the device reports; the number of entries when negative.
        int parameterTotal = -1;
    };

    struct ParameterWrite
    {
        quint8 destination = 0;
        quint8 origin = 0;
        quint8 field = 0;
        QByteArray value;
    };

    // `aliasPath`, when given, is a symbolic link to the pty that stays valid across transmitters:
    // a later transmitter with the same alias stands in for the same device plugged in again.
    explicit SimulatedTransmitter(const QString &deviceId = QStringLiteral("QORTX01"),
                                  const QString &aliasPath = QString(), QObject *parent = nullptr);
    ~SimulatedTransmitter() override;

    QString portName() const;

    // --- behaviour ---
    void setDeviceId(const QString &id) { m_deviceId = id; }
    // The "ID" answer as sent, line end included; the default is "QOR-ID:<id>\r\n".
    void setIdReply(const QByteArray &raw) { m_idReply = raw; }
    void setAnswersId(bool on) { m_answersId = on; }
    // "WALKRF" is answered only in config mode, like the real module does. Parameter writes to
    // the module update the option value of a text selection field.
    void setFields(const QList<Field> &fields) { m_fields = fields; }
    void addDevice(const Device &device) { m_devices.append(device); }

    // --- what the program sent ---
    QList<QByteArray> lines() const { return m_lines; }
    int lineCount(const QByteArray &line) const { return int(m_lines.count(line)); }
    int idQueries() const { return lineCount("ID"); }
    int keepalives() const { return lineCount(QByteArray()); }
    int startCount() const { return lineCount("START"); }
    int stopCount() const { return lineCount("STOP"); }
    bool configMode() const { return m_configMode; }
    int channelFrameCount() const { return int(m_channelFrames.size()); }
    Channels lastChannels() const;
    QList<ParameterWrite> parameterWrites() const { return m_writes; }
    QByteArray rawReceived() const { return m_raw; }
    void clearRecords();

    // Runs the event loop until `done` holds or the time-out passes. The default time-out leaves
    // room for a loaded machine; a wait that succeeds returns at once.
    static constexpr int DefaultTimeoutMs = 10000;
    bool waitFor(const std::function<bool()> &done, int timeoutMs = DefaultTimeoutMs);
    bool waitForLine(const QByteArray &line, int timeoutMs = DefaultTimeoutMs);
    bool waitForChannelFrames(int count, int timeoutMs = DefaultTimeoutMs);
    // Reads and answers what is waiting, once.
    void process();

    // --- towards the program ---
    bool sendRaw(const QByteArray &bytes);
    bool sendFrame(quint8 type, const QByteArray &payload);
    bool sendLinkStatistics(int rssi1Dbm, int rssi2Dbm, int linkQuality, int snr, int antenna = 0,
                            int rfMode = 4, int txPowerIndex = 3, int downlinkRssiDbm = -70,
                            int downlinkQuality = 100, int downlinkSnr = 8);
    bool sendBattery(double volts, double amps, quint32 usedMah, int percent);
    bool sendGps(double latitude, double longitude, double speedKmh, double headingDeg,
                 int altitudeM, int satellites);
    // Angles in radians, sent as radians x 10000.
    bool sendAttitude(double pitch, double roll, double yaw);
    // G-forces in g. Without a sequence number the transmitter counts its own.
    bool sendGForce(double lon, double lat, double vert, int sequence = -1);
    // The same G-force sample wrapped in a 0x50 frame.
    bool sendWrappedGForce(double lon, double lat, double vert, int sequence = -1);
    void hangUp();

    // --- building settings entries (parent, type, name, data) ---
    static QByteArray textSelectionEntry(quint8 parent, const QByteArray &name, const QStringList &options,
                                         quint8 value, quint8 min, quint8 max, quint8 def,
                                         const QByteArray &units = QByteArray());
    static QByteArray uint8Entry(quint8 parent, const QByteArray &name, quint8 value, quint8 min,
                                 quint8 max, quint8 def, const QByteArray &units = QByteArray());
    static QByteArray folderEntry(quint8 parent, const QByteArray &name);
    static QByteArray infoEntry(quint8 parent, const QByteArray &name, const QByteArray &text);
    static QByteArray commandEntry(quint8 parent, const QByteArray &name, quint8 status = 0,
                                   quint8 timeout = 200, const QByteArray &info = QByteArray());
    // The RF parameters of a typical module, "Enable WiFi" at 16 and "Enable Rx WiFi" at 17.
    static QList<Field> typicalFields();
    // Encodes bytes the way "FIELD" lines carry them: upper-case hex pairs separated by spaces.
    static QByteArray hexBytes(const QByteArray &bytes);

private:
    void consume();
    void handleLine(const QByteArray &line);
    void handleFrame(quint8 type, const QByteArray &payload);
    void answerRead(const Device &device, quint8 field, quint8 chunk);
    Device *device(quint8 address);
    bool sendGForceFrame(quint8 type, const QByteArray &prefix, double lon, double lat, double vert, int sequence);

    PtyDevice m_pty;
    QTimer *m_poll = nullptr;
    QString m_alias;
    QString m_deviceId;
    QByteArray m_idReply;
    bool m_answersId = true;
    bool m_configMode = false;
    QList<Field> m_fields;
    QList<Device> m_devices;
    QByteArray m_in;
    QByteArray m_raw;
    QList<QByteArray> m_lines;
    QList<Channels> m_channelFrames;
    QList<ParameterWrite> m_writes;
    int m_gForceSequence = 0;
};

} // namespace ostratest
