#pragma once

#include <QWidget>

namespace corvane {

// A side view of the car for the mounting wizard: level, or with the front lifted by `pitch`
// degrees; painted green once the wizard is done.
class CarPoseWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CarPoseWidget(QWidget *parent = nullptr);

    void setPitch(double degrees) { m_pitch = degrees; }
    double pitch() const { return m_pitch; }
    void setDone(bool done) { m_done = done; }
    bool done() const { return m_done; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_pitch = 0.0;
    bool m_done = false;
};

} // namespace corvane
