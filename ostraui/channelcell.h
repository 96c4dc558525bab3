#pragma once

#include <QFrame>

class QLabel;

namespace ostra {

class VMeter;

// One RC channel: its name, a level bar and the pulse width in microseconds.
class ChannelCell : public QFrame
{
    Q_OBJECT
public:
    explicit ChannelCell(int channel, QWidget *parent = nullptr);

    // Negative means no signal.
    void setValue(int us);

private:
    QLabel *m_name;
    VMeter *m_bar;
    QLabel *m_value;
    // Taken as live at first, so that the constructor's no-signal value sets the colours.
    bool m_live = true;
};

} // namespace ostra
