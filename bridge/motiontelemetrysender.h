#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;
class QUdpSocket;

namespace corvane {

class SettingsFile;

// Streams the car's motion as DiRT Rally-layout UDP packets (66 little-endian floats) to motion
// software. The smoothing tick keeps running for open previews while the output is off.
class MotionTelemetrySender : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        float steering = 0.0f;
        float throttle = 0.0f;
        float brake = 0.0f;
        float clutch = 0.0f;
        qint32 gear = 0; // -1 reverse, 0 neutral, 1..7
    };

    struct PreviewState
    {
        float lon = 0.0f;
        float lat = 0.0f;
        float vert = 0.0f;
        float heaveVelocity = 0.0f;
        float pitchDeg = 0.0f;
        float rollDeg = 0.0f;
        float yawDeg = 0.0f;
        bool gForcesLive = false;
        bool attitudeLive = false;
    };

    using ControlsProvider = std::function<Controls()>;

    static constexpr int PacketFloats = 66;
    static constexpr int PacketSize = PacketFloats * 4;
    static constexpr quint16 DefaultPort = 20777;
    static constexpr int TickIntervalMs = 16;

    explicit MotionTelemetrySender(QObject *parent = nullptr);
    ~MotionTelemetrySender() override;

    void loadSettings();
    // Stores the keys a change set ("enabled", "host", "port"), and only those.
    void saveSettings(const QStringList &keys) const;

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool on);
    QString host() const { return m_host; }
    // Where the datagrams go: the host, or this PC when the host is no IP address.
    QHostAddress address() const { return m_address; }
    quint16 port() const { return m_port; }
    void setTarget(const QString &host, quint16 port);
    int packetCount() const { return m_packetCount; }
    // Why the last datagram did not leave, in a few words ("network unreachable"); empty once
    // one leaves, and after a new target or a switch-on until a send fails.
    QString sendFailure() const { return m_sendFailure; }

    void addUser();
    void removeUser();

    void setGForces(float longitudinal, float lateral, float vertical);
    void setAttitude(float pitchDeg, float rollDeg, float yawDeg);
    void setSpeed(float value);
    qint64 msSinceGForces() const;
    PreviewState previewState() const;

    void setControlsProvider(ControlsProvider provider);

public slots:
    void sendPacket();

signals:
    void enabledChanged(bool on);

private:
    void switchOutput(bool on);
    void applyTimerRule();
    void rebuildAddress();
    void noteSendFailure();
    bool gForcesFresh() const;
    bool attitudeFresh() const;

    QUdpSocket *m_socket = nullptr;
    QTimer *m_tickTimer = nullptr;
    SettingsFile *m_settings = nullptr;
    QElapsedTimer m_runClock;
    QElapsedTimer m_gForceClock;
    QElapsedTimer m_tickClock;
    bool m_gForcesLive = false;
    bool m_enabled = false;
    QString m_host;
    quint16 m_port = DefaultPort;
    QHostAddress m_address;
    float m_rawLon = 0.0f;
    float m_rawLat = 0.0f;
    float m_rawVert = 0.0f;
    float m_lon = 0.0f;
    float m_lat = 0.0f;
    float m_vert = 0.0f;
    float m_heaveVelocity = 0.0f;
    QElapsedTimer m_attitudeClock;
    bool m_attitudeLive = false;
    bool m_yawInitialised = false;
    float m_lastYawDeg = 0.0f;
    float m_pitchTarget = 0.0f;
    float m_rollTarget = 0.0f;
    float m_yawTarget = 0.0f;
    float m_pitch = 0.0f;
    float m_roll = 0.0f;
    float m_yaw = 0.0f;
    float m_speedValue = 0.0f;
    float m_smoothedSpeedValue = 0.0f;
    qint32 m_packetCount = 0;
    QString m_sendFailure;
    QElapsedTimer m_failureClock;
    qint32 m_users = 0;
    ControlsProvider m_controlsProvider;
};

} // namespace corvane
