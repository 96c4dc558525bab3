#pragma once

#include <QWidget>

namespace corvane {

// The steering wheel of the force-feedback preview: turned by its angle, with the force as an arc.
class PreviewWheel : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewWheel(QWidget *parent = nullptr);

    // angle in degrees (positive = right), ffb and force at the wheel -1..1.
    void setValues(float angle, float ffb, float force, bool live);
    float angle() const { return m_angle; }
    QString valueText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_angle = 0.0f;
    float m_ffb = 0.0f;
    float m_force = 0.0f;
    bool m_live = false;
};

} // namespace corvane
