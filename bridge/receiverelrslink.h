#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;

namespace corvane {

class CorvaneController;
struct LinkStatistics;

// Reaches the maker's receiver in the car over the radio, through the transmitter: finds it with
// device pings, recognises it by the serial tag of its DEVICE_INFO, reads its fields and writes
// single values, one request in flight at a time. What the fields mean is the manager's business.
// Works only while the transmitter is transmitting and not in config mode.
class ReceiverElrsLink : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int retryIntervalMs READ retryIntervalMs WRITE setRetryIntervalMs)

public:
    enum State : int { Idle = 0, Searching = 1, Found = 2, Ready = 3 };
    Q_ENUM(State)

    // Why the link last went idle.
    enum StopReason : quint8 { StopNone = 0, StopNoReceiver = 1 };

    enum RequestKind : int { Ping = 0, Read = 1, Write = 2 };

    struct Request
    {
        int kind = Ping;
        quint8 field = 0;
        quint8 arg = 0; // chunk index of a read, value of a write
        int tries = 0;
    };

    static constexpr quint8 BroadcastAddress = 0x00;
    static constexpr quint8 ReceiverAddress = 0xC8;
    static constexpr quint8 HandsetAddress = 0xEA;
    static constexpr quint8 ConfigToolAddress = 0xEF;
    static constexpr int SearchAttempts = 5;
    static constexpr int RequestTimeoutMs = 1500;
    static constexpr int MaxTries = 4;
    static constexpr int WatchdogIntervalMs = 1000;
    static constexpr int SilenceLimitMs = 5000;
    static constexpr int DefaultRetryIntervalMs = 60000;
    // No settings entry of the receiver comes near this; a longer one is taken as garbage.
    static constexpr int MaxEntryBytes = 4096;

    explicit ReceiverElrsLink(CorvaneController *controller, QObject *parent = nullptr);
    ~ReceiverElrsLink() override;

    void startSearch();
    void stop(quint8 reason);
    void noteCarAlive();
    void readParameters();
    void readParameter(quint8 field);
    void writeParameter(quint8 field, quint8 value);
    bool directWrite(quint8 field, quint8 value);

    int intValue(quint8 field) const { return m_values.value(field, -1); }
    QString textValue(quint8 field) const { return m_texts.value(field); }
    State state() const { return m_state; }
    quint8 stopReason() const { return m_stopReason; }
    QString firmware() const { return m_firmware; }
    int parameterCount() const { return m_parameterCount; }
    bool isQor1() const { return m_isQor1; }
    int retryIntervalMs() const { return m_retryIntervalMs; }
    void setRetryIntervalMs(int ms) { m_retryIntervalMs = ms; }
    // Found or ready: the receiver answers.
    bool isReachable() const { return m_state == Found || m_state == Ready; }

signals:
    void stateChanged();
    void valueChanged(quint8 param);
    void directWriteDone(quint8 param, bool ok, int value);
    void idle();

private slots:
    void onSearchTimeout();
    void onRequestTimeout();
    void onRetryTimer();
    void onWatchdog();
    void onCrsfFrame(quint8 frameType, const QByteArray &payload);
    void onRunningChanged(bool running);
    void onLinkStatistics(const corvane::LinkStatistics &stats);
    void onCarLinkChanged(bool linked);

private:
    bool canTransmit() const;
    void setState(State state);
    void attemptStep();
    void onDeviceInfo(const QByteArray &data);
    void onParameterEntry(const QByteArray &data);
    void storeParameterEntry(quint8 field, const QByteArray &entry);
    bool isQueuedRead(quint8 field) const;
    void sendNext();
    void sendRequest();
    void startRequest(const Request &request);
    // The request in flight counts as unanswered for good.
    void giveUpRequest();

    CorvaneController *m_controller = nullptr;
    State m_state = Idle;
    quint8 m_stopReason = StopNone;
    int m_attempts = 0;
    QTimer *m_searchTimer = nullptr;
    QTimer *m_requestTimer = nullptr;
    QTimer *m_watchdog = nullptr;
    QTimer *m_retryTimer = nullptr;
    int m_retryIntervalMs = DefaultRetryIntervalMs;
    QElapsedTimer m_lastHeard;
    QList<Request> m_queue;
    bool m_busy = false;
    bool m_directWriteInFlight = false;
    Request m_current;
    int m_tries = 0;
    QByteArray m_chunkBuffer;
    QString m_firmware;
    int m_parameterCount = 0;
    bool m_isQor1 = false;
    QHash<quint8, int> m_values;
    QHash<quint8, QString> m_texts;
};

} // namespace corvane
