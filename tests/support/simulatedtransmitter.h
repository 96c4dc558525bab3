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
// "ID", "WALKRF" and "CFGMODE ON/OFF" and records every text line, channel frame and parameter
// write. Telemetry and other frames go out only when the test asks for them (send*).
class SimulatedTransmitter : public QObject
{
    Q_OBJECT
public:
    static constexpr quint8 Handset = 0xEA;

    using Channels = std::array<int, 16>;

    // One RF parameter the transmitter lists in its "FIELD" lines. `entry` is the CRSF settings
    // entry without field id and chunk count (parent, type, name, data); an empty entry is
    // reported as "(read failed)".
    struct Field
    {
        quint8 id = 0;
        QByteArray entry;
    };

    struct ParameterWrite
    {
        quint8 destination = 0;
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
    bool answersId() const { return m_answersId && !m_silent; }
    // A port with nothing behind it: what arrives is recorded, nothing is answered.
    void setSilent(bool on) { m_silent = on; }
    // A car linked before the program connects: link statistics, battery and GPS frames go out
    // ahead of every text reply.
    void setStreaming(bool on) { m_streaming = on; }
    // "WALKRF" is answered only in config mode, like the real module does.
    void setFields(const QList<Field> &fields) { m_fields = fields; }
    // Scripted answers (the system-software lines and the like): each time `line` arrives, the
    // next of `replies` goes out as sent; once they are used up the line goes unanswered.
    void scriptReplies(const QByteArray &line, const QList<QByteArray> &replies) { m_script[line] += replies; }

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

signals:
    // Every CRSF frame the program wrote, as the transmitter read it (payload without CRC).
    void frameReceived(quint8 type, const QByteArray &payload);

private:
    void consume();
    void handleLine(const QByteArray &line);
    void handleFrame(quint8 type, const QByteArray &payload);
    bool sendGForceFrame(quint8 type, const QByteArray &prefix, double lon, double lat, double vert, int sequence);

    PtyDevice m_pty;
    QTimer *m_poll = nullptr;
    QString m_alias;
    QString m_deviceId;
    QByteArray m_idReply;
    bool m_answersId = true;
    bool m_silent = false;
    bool m_streaming = false;
    bool m_configMode = false;
    QList<Field> m_fields;
    QMap<QByteArray, QList<QByteArray>> m_script;
    QByteArray m_in;
    QByteArray m_raw;
    QList<QByteArray> m_lines;
    QList<Channels> m_channelFrames;
    QList<ParameterWrite> m_writes;
    int m_gForceSequence = 0;
};

} // namespace ostratest
