#pragma once

#include <QWidget>

namespace corvane {

class RaceControl;

// Placeholder until race control is built.
class RaceControlPage : public QWidget
{
    Q_OBJECT
public:
    explicit RaceControlPage(RaceControl *raceControl, QWidget *parent = nullptr)
        : QWidget(parent), m_raceControl(raceControl)
    {
    }

private:
    RaceControl *m_raceControl;
};

} // namespace corvane
