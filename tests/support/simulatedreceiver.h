#pragma once

#include "support/ptydevice.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

#include "profiles/receiversettings.h"

class QTimer;

namespace ostratest {

class SimulatedTransmitter;

// The maker's receiver with its two faces. One model (settings, mode, firmware) answers
// - on its USB line, a pseudo-terminal the program opens as portName(): the probe commands,
//   the SET_ commands, "IMU_CAL", "IMU_ORIENT FLAT/NOSEUP", "SET_TYPE", "REBOOT" and the LED
//   block, recording every line it gets;
// - over the air, once attach()ed to a SimulatedTransmitter: while the program transmits,
//   device pings with DEVICE_INFO from 0xC8, and field reads and writes with settings entries
//   (chunked when long), running the command fields 13, 16 and 17.
// Everything runs while the Qt event loop runs (QTRY_*, QSignalSpy::wait, waitFor).
class SimulatedReceiver : public QObject
{
    Q_OBJECT
public:
    // The names a receiver reports its settings under; the default receiver knows them all.
    static QStringList allKeys();

    explicit SimulatedReceiver(QObject *parent = nullptr);
    ~SimulatedReceiver() override;

    // --- the receiver model ---
    ReceiverSettings settings() const { return m_settings; }
    void setSettings(const ReceiverSettings &settings) { m_settings = settings; }
    // 1 car, 2 helicopter.
    int type() const { return m_type; }
    void setType(int type) { m_type = type; }
    void setFirmware(const QString &version) { m_firmware = version; }
    // The reason the next mounting steps fail with ("not flat" ...); empty: they succeed.
    void setMountingError(const QByteArray &reason) { m_mountingError = reason; }
    void setImuAxes(const QByteArray &axes) { m_imuAxes = axes; }

    // --- USB face ---
    QString portName() const { return m_pty.slavePath(); }
    // Which of allKeys() the receiver reports; GET_ commands of keys it lacks get an error line.
    void setReportedKeys(const QStringList &keys) { m_keys = keys; }
    // Answers nothing at all.
    void setSilent(bool on) { m_silent = on; }
    // Repeats every command before answering it.
    void setEchoes(bool on) { m_echoes = on; }
    // Puts binary MSP traffic ending in "$M" before every answer.
    void setMspNoise(bool on) { m_mspNoise = on; }
    // Answers the SET_ commands but keeps its own values.
    void setAppliesSettings(bool on) { m_appliesSettings = on; }
    // "SET_TYPE" is stored but "REBOOT" does not apply it (firmware that needs a power cycle).
    void setRestartsOnReboot(bool on) { m_restartsOnReboot = on; }
    void setAnswersLedCommit(bool on) { m_answersLedCommit = on; }
    bool sendLine(const QByteArray &line);
    QList<QByteArray> lines() const { return m_lines; }
    int lineCount(const QByteArray &line) const { return int(m_lines.count(line)); }
    // Milliseconds from construction (or clearRecords) to the arrival of each line.
    QList<qint64> lineTimes() const { return m_lineTimes; }
    // The lines that begin with `prefix`, in order.
    QList<QByteArray> linesStartingWith(const QByteArray &prefix) const;
    void clearRecords();
    void hangUp();

    // --- over-the-air face ---
    void attach(SimulatedTransmitter *transmitter);
    // "QOR4" (V4 receiver), "QOR1" or anything else for a foreign device.
    void setSerial(const QByteArray &serial) { m_serial = serial; }
    void setDeviceName(const QByteArray &name) { m_deviceName = name; }
    void setParameterCount(int count) { m_parameterCount = count; }
    // Answers nothing over the air.
    void setAirSilent(bool on) { m_airSilent = on; }
    // The older car receiver: no answer to pings and reads; writes of its fields 1 (OSD),
    // 3, 4, 5 (HUD option indexes) and 6 (mode) are answered (a long answer in chunks).
    void setOlderCarReceiver(bool on) { m_olderCar = on; }
    // Reads and writes of these fields go unanswered.
    void setUnansweredFields(const QSet<quint8> &fields) { m_unanswered = fields; }
    // Entry bytes per chunk; a longer entry is sent in several chunks.
    void setChunkSize(int bytes) { m_chunkSize = bytes; }
    void setGpsStatus(const QByteArray &text) { m_gpsStatus = text; }
    // The entry of a field as the receiver would send it (parent, type, name, data).
    QByteArray fieldEntry(quint8 field) const;
    int pingCount() const { return m_pings; }
    // Every request the program sent over the air, answered or not, in order: "ping",
    // "read 5" (chunk 0), "read 5/1" (a later chunk), "write 18=10".
    QStringList airRequests() const { return m_airRequests; }

    // Runs the event loop until `done` holds or the time-out passes.
    static constexpr int DefaultTimeoutMs = 10000;
    bool waitFor(const std::function<bool()> &done, int timeoutMs = DefaultTimeoutMs);
    bool waitForLine(const QByteArray &line, int timeoutMs = DefaultTimeoutMs);
    void process();

private:
    void handleLine(const QByteArray &line);
    bool answer(const QByteArray &line);
    QByteArray telemLine() const;
    bool hasKey(const char *key) const { return m_keys.contains(QLatin1String(key)); }
    void onAirFrame(quint8 type, const QByteArray &payload);
    bool transmitting() const;
    void sendDeviceInfo();
    void sendEntry(quint8 field, int chunk);
    bool applyAirWrite(quint8 field, int value);
    int airValue(quint8 field) const;

    PtyDevice m_pty;
    QTimer *m_poll = nullptr;
    QElapsedTimer m_clock;
    QByteArray m_in;
    QList<QByteArray> m_lines;
    QList<qint64> m_lineTimes;

    ReceiverSettings m_settings;
    int m_type = 1;
    int m_pendingType = 0;
    QString m_firmware = QStringLiteral("4.5.3");
    QByteArray m_mountingError;
    QByteArray m_imuAxes = "+X +Y +Z";
    QStringList m_keys = allKeys();
    bool m_silent = false;
    bool m_echoes = false;
    bool m_mspNoise = false;
    bool m_appliesSettings = true;
    bool m_restartsOnReboot = true;
    bool m_answersLedCommit = true;

    QPointer<SimulatedTransmitter> m_tx;
    QByteArray m_serial = "QOR4";
    QByteArray m_deviceName = "QOR Receiver V4";
    int m_parameterCount = 21;
    bool m_airSilent = false;
    bool m_olderCar = false;
    QSet<quint8> m_unanswered;
    int m_chunkSize = 40;
    QByteArray m_gpsStatus = "No fix, 4 sats";
    int m_gyroStatus = 0;
    QByteArray m_gyroInfo;
    QByteArray m_mountReply[2];
    int m_pings = 0;
    QStringList m_airRequests;
};

} // namespace ostratest
