#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;

namespace corvane {

class CrsfProtocol;

struct ElrsOption
{
    qint32 index = 0;
    QString label;
};

// One RF parameter of the ExpressLRS module, decoded from its settings entry.
struct ElrsParameter
{
    quint8 id = 0;
    QString name;
    quint8 parent = 0;
    quint8 type = 0; // as received; bit 7 marks a hidden parameter
    qint32 value = 0;
    qint32 min = 0;
    qint32 max = 0;
    qint32 defaultValue = 0;
    QList<ElrsOption> options;
    QString units;
    bool readonly = false;
};

// Discovers the transmitter module's RF parameters through the text walk ("WALKRF" answered by
// "FIELD" lines) and writes option values as CRSF parameter-write frames. Everything goes out
// through the parent's invokable "serialWrite".
class ElrsParameterManager : public QObject
{
    Q_OBJECT
public:
    enum State : qint32 {
        Idle = 0,
        Pinging = 1,
        WalkingFields = 2,
        Ready = 3,
        Aborted = 4,
    };
    Q_ENUM(State)

    enum ParameterType : quint8 {
        TypeUint8 = 0,
        TypeInt8 = 1,
        TypeTextSelection = 9,
        TypeString = 10,
        TypeFolder = 11,
        TypeInfo = 12,
        TypeCommand = 13,
    };

    static constexpr quint8 ModuleAddress = 0xEE;
    static constexpr quint8 ConfigToolAddress = 0xEF;
    static constexpr int WalkTimeoutMs = 90000;
    static constexpr int ProgressTotal = 8;
    static constexpr int WriteRepeatDelayMs = 60;

    explicit ElrsParameterManager(CrsfProtocol *codec, QObject *parent = nullptr);
    ~ElrsParameterManager() override;

    State state() const { return m_state; }
    void startDiscovery();
    void abortDiscovery();
    void setConfigModeActive(bool active);
    bool isDiscovering() const;
    const ElrsParameter *findParameter(const QString &name) const;
    QList<ElrsParameter> parameters() const { return m_parameters; }
    bool setParameterByIndex(const QString &name, qint32 index);
    void writeOptionByField(quint8 fieldId, quint32 index);

    static QString stateName(qint32 state);

public slots:
    void onTransmitterLine(const QString &line);
    void onExtendedFrame(quint8 type, quint8 dest, quint8 origin, const QByteArray &payload);
    void onWalkTimeout();

signals:
    void discoveryStarted();
    void discoveryProgress(qint32 done, qint32 total);
    void discoveryComplete();
    void discoveryAborted();
    void parameterUpdated(const QString &name);
    void error(const QString &message);

private:
    void setState(State state);
    // Forgets what an earlier walk found and waits for the fields of a new one.
    void beginWalk();
    void handleFieldLine(const QString &text);
    void decodeEntry(quint8 id, const QByteArray &bytes);
    bool sendToParent(const QByteArray &bytes);

    QPointer<CrsfProtocol> m_codec;
    State m_state = Idle;
    bool m_configMode = false;
    QList<ElrsParameter> m_parameters;
    QHash<QString, int> m_nameIndex;
    qint32 m_walkedFields = 0;
    QTimer *m_walkTimer = nullptr;
};

} // namespace corvane
