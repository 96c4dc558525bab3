#pragma once

#include <QWidget>

namespace corvane {

// The force the bridge sends to the wheel, as a bar from the centre: left for negative, right for
// positive, full track at ±1.
class FfbBar : public QWidget
{
    Q_OBJECT
public:
    explicit FfbBar(QWidget *parent = nullptr);

    float level() const { return m_level; }
    // Clamps to -1..1 and repaints only when the level changes: the force loop reports at 50 Hz.
    void setLevel(float level);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_level = 0.0f;
};

} // namespace corvane
