#pragma once

#include <QObject>
#include <QString>

#include "support/ptydevice.h"
#include "support/v4boardmodel.h"

class QTimer;

namespace ostratest {

// A receiver V4 on the far end of a USB-UART cable: the board model behind a pseudo-terminal,
// answering while the Qt event loop of the test's thread runs (the flasher runs on its own).
class SimulatedV4Receiver : public QObject
{
    Q_OBJECT
public:
    explicit SimulatedV4Receiver(QObject *parent = nullptr);

    QString portName() const { return m_pty.slavePath(); }
    // Reached only from the test's thread.
    V4BoardModel &board() { return m_board; }
    void process();

private:
    PtyDevice m_pty;
    V4BoardModel m_board;
    QTimer *m_poll;
};

} // namespace ostratest
