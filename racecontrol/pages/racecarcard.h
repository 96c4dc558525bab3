#pragma once

#include "ostraui/card.h"

class QLabel;
class QPushButton;

namespace ostra {
class Meter;
class Pill;
}

namespace corvane {

class RaceControl;

// One car's tile on the race control page: number, name and driver, state, gear, own cap, live
// gas, brake and steering, and its stop / resume button. It keeps nothing of its own: every
// refresh redraws it from the station's entry.
class RaceCarCard : public ostra::Card
{
    Q_OBJECT
public:
    RaceCarCard(RaceControl *control, const QString &stationId, QWidget *parent = nullptr);

    QString stationId() const { return m_stationId; }
    void refresh(int index);

    // A stopped car that takes race control is framed in red.
    bool hasAlertFrame() const { return m_alertFrame; }

public slots:
    void cycleSpeedCap();
    void toggleStop();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    RaceControl *m_control;
    QString m_stationId;
    QLabel *m_number;
    QLabel *m_name;
    QLabel *m_subline;
    ostra::Pill *m_pill;
    QLabel *m_gear;
    QPushButton *m_capButton;
    ostra::Meter *m_gas;
    ostra::Meter *m_brake;
    ostra::Meter *m_steer;
    QLabel *m_gasValue = nullptr;
    QLabel *m_brakeValue = nullptr;
    QLabel *m_steerValue = nullptr;
    QPushButton *m_stopButton;
    bool m_alertFrame = false;
};

} // namespace corvane
