#pragma once

#include <QWidget>

#include <array>

namespace corvane {

// The four actuators of a 3-DOF rig as bars from fully retracted to fully extended.
class PreviewActuators : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewActuators(QWidget *parent = nullptr);

    // FL, FR, RL, RR, each -1..1.
    void setValues(const std::array<float, 4> &positions, bool live);
    std::array<float, 4> positions() const { return m_positions; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::array<float, 4> m_positions {};
    bool m_live = false;
};

} // namespace corvane
