#include "support/simulatedmotioncontroller.h"

#include "support/eventwait.h"

#include <QStringList>
#include <QTimer>

namespace ostratest {

SimulatedMotionController::SimulatedMotionController(QObject *parent)
    : QObject(parent)
    , m_poll(new QTimer(this))
{
    m_poll->setInterval(1);
    connect(m_poll, &QTimer::timeout, this, &SimulatedMotionController::process);
    m_poll->start();
}

SimulatedMotionController::~SimulatedMotionController() = default;

int SimulatedMotionController::frameLength(char letter)
{
    switch (letter) {
    case 'S': return 6;
    case 'C': return 14;
    case 'A': return 10;
    case 'I': return 7;
    case '6': return 16;
    case 'T': return 9;
    case 'V': return 8;
    case 'M': return 7;
    case 'Q':
    case 'H':
    case 'R':
    case 'Z': return 4;
    default: return 0;
    }
}

QByteArray SimulatedMotionController::hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toUpper();
}

QList<SimulatedMotionController::Frame> SimulatedMotionController::frames(char letter) const
{
    QList<Frame> out;
    for (const Frame &frame : m_frames) {
        if (frame.letter == letter)
            out.append(frame);
    }
    return out;
}

QString SimulatedMotionController::letters() const
{
    QString out;
    for (const Frame &frame : m_frames)
        out.append(QLatin1Char(frame.letter));
    return out;
}

void SimulatedMotionController::clearRecords()
{
    process();
    m_frames.clear();
    m_raw.clear();
}

bool SimulatedMotionController::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    return waitWithEvents(done, timeoutMs, [this] { process(); });
}

bool SimulatedMotionController::waitForFrame(char letter, int count, int timeoutMs)
{
    return waitFor([&] { return frameCount(letter) >= count; }, timeoutMs);
}

void SimulatedMotionController::process()
{
    if (!m_pty.isOpen())
        return;
    const QByteArray bytes = m_pty.readAvailable();
    if (bytes.isEmpty())
        return;
    m_raw.append(bytes);
    m_in.append(bytes);
    decode();
}

// Frames carry no length field: the letter gives it. Anything that does not end in "!!" where
// the letter says is skipped byte by byte until a frame lines up again.
void SimulatedMotionController::decode()
{
    while (m_in.size() >= 2) {
        const int length = m_in.at(0) == 'P' ? frameLength(m_in.at(1)) : 0;
        if (length == 0) {
            m_in.remove(0, 1);
            continue;
        }
        if (m_in.size() < length)
            return;
        if (m_in.at(length - 2) != '!' || m_in.at(length - 1) != '!') {
            m_in.remove(0, 1);
            continue;
        }
        m_frames.append({ m_in.at(1), m_in.mid(2, length - 4) });
        m_in.remove(0, length);
    }
}

bool SimulatedMotionController::sendRaw(const QByteArray &bytes)
{
    return m_pty.write(bytes);
}

bool SimulatedMotionController::sendLine(const QByteArray &line)
{
    return sendRaw(line + '\n');
}

bool SimulatedMotionController::sendHeartbeat(const QByteArray &state, const QMap<int, int> &mmByAxis, char sleepFlag)
{
    QByteArray line = '[' + state + ']';
    for (auto it = mmByAxis.cbegin(); it != mmByAxis.cend(); ++it)
        line += " ax" + QByteArray::number(it.key()) + '=' + QByteArray::number(it.value()) + "mm";
    if (sleepFlag)
        line += QByteArray(" slp=") + sleepFlag;
    return sendLine(line);
}

bool SimulatedMotionController::sendPositions(const QList<int> &mm)
{
    QByteArray line = "@P";
    for (int value : mm)
        line += ' ' + QByteArray::number(value);
    return sendLine(line);
}

bool SimulatedMotionController::sendSettingsEcho(int intensity, int travel, int speed, int accel, int park, int stroke)
{
    QByteArray line = "#CFG i=" + QByteArray::number(intensity) + " t=" + QByteArray::number(travel)
                      + " s=" + QByteArray::number(speed) + " a=" + QByteArray::number(accel)
                      + " p=" + QByteArray::number(park);
    if (stroke >= 0)
        line += " st=" + QByteArray::number(stroke);
    return sendLine(line);
}

bool SimulatedMotionController::sendMapEcho(const QList<int> &actuatorByChannel)
{
    QByteArray line = "#MAP";
    for (int actuator : actuatorByChannel)
        line += ' ' + QByteArray::number(actuator);
    return sendLine(line + '#');
}

bool SimulatedMotionController::sendTestDone()
{
    return sendLine("#TST done#");
}

} // namespace ostratest
