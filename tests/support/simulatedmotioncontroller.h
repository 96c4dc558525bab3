#pragma once

#include "support/ptydevice.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace ostratest {

// A QOR Motion Controller board on a pseudo-terminal. The program opens portName(); while the Qt
// event loop runs the board decodes every host frame ('P', letter, payload, "!!") and records it.
// Heartbeats, position reports, echoes and test reports go out only when the test sends them.
class SimulatedMotionController : public QObject
{
    Q_OBJECT
public:
    struct Frame
    {
        char letter = 0;
        QByteArray payload;
    };

    explicit SimulatedMotionController(QObject *parent = nullptr);
    ~SimulatedMotionController() override;

    QString portName() const { return m_pty.slavePath(); }

    // Frame length (marker, letter, payload and "!!") of each command letter; 0 for an unknown one.
    static int frameLength(char letter);
    // The payload as hex bytes separated by spaces ("00 96"), for readable comparisons.
    static QByteArray hex(const QByteArray &bytes);

    // --- what the program sent ---
    QList<Frame> frames() const { return m_frames; }
    QList<Frame> frames(char letter) const;
    int frameCount(char letter) const { return int(frames(letter).size()); }
    QString letters() const;
    QByteArray rawReceived() const { return m_raw; }
    void clearRecords();

    static constexpr int DefaultTimeoutMs = 10000;
    bool waitFor(const std::function<bool()> &done, int timeoutMs = DefaultTimeoutMs);
    bool waitForFrame(char letter, int count = 1, int timeoutMs = DefaultTimeoutMs);
    // Connects `controller` to this board and answers its first heartbeat with `state`; true once
    // the controller shows that state. Records are cleared. (A template, so this library needs
    // no motion library.)
    template<typename Controller>
    bool connectController(Controller &controller, const QByteArray &state = "ready")
    {
        const bool up = controller.connectPort(portName()) && sendHeartbeat(state) && waitForFrame('Q')
                        && waitFor([&] { return controller.state() == QString::fromLatin1(state); });
        clearRecords();
        return up;
    }
    // Reads and decodes what is waiting, once.
    void process();

    // --- towards the program ---
    bool sendRaw(const QByteArray &bytes);
    // The line and a line feed.
    bool sendLine(const QByteArray &line);
    // "[state] ax0=75mm ax1=80mm slp=a"; the sleep item only when `sleepFlag` is given.
    bool sendHeartbeat(const QByteArray &state, const QMap<int, int> &mmByAxis = {}, char sleepFlag = 0);
    bool sendPositions(const QList<int> &mm);
    // "#CFG i=.. t=.. s=.. a=.. p=.." with " st=.." when `stroke` is 0 or more.
    bool sendSettingsEcho(int intensity, int travel, int speed, int accel, int park, int stroke = -1);
    // "#MAP" with one token per entry and the closing "#".
    bool sendMapEcho(const QList<int> &actuatorByChannel);
    bool sendTestDone();
    void hangUp() { m_pty.hangUp(); }

private:
    void decode();

    PtyDevice m_pty;
    QTimer *m_poll = nullptr;
    QByteArray m_in;
    QByteArray m_raw;
    QList<Frame> m_frames;
};

} // namespace ostratest
