#include "support/simulatedv4receiver.h"

#include <QTimer>

namespace ostratest {

SimulatedV4Receiver::SimulatedV4Receiver(QObject *parent)
    : QObject(parent)
    , m_poll(new QTimer(this))
{
    m_poll->setInterval(1);
    connect(m_poll, &QTimer::timeout, this, &SimulatedV4Receiver::process);
    m_poll->start();
}

void SimulatedV4Receiver::process()
{
    const QByteArray in = m_pty.readAvailable();
    if (in.isEmpty())
        return;
    const QByteArray out = m_board.feed(in);
    if (!out.isEmpty())
        m_pty.write(out);
}

} // namespace ostratest
