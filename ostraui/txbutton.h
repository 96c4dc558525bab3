#pragma once

#include <QPushButton>

namespace ostra {

class Dot;

enum TxButtonState { TxLocked = 0, TxGo = 1, TxStop = 2 };

// The large start/stop transmission button.
class TxButton : public QPushButton
{
    Q_OBJECT
public:
    explicit TxButton(QWidget *parent = nullptr);

    int state() const { return m_state; }
    void setState(int state);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeDot();

    int m_state = TxLocked;
    Dot *m_dot;
};

} // namespace ostra
