#pragma once

#include <QWidget>

namespace corvane {

// The push the driver feels: a dot on rings of 1 g and 1.5 g, and a heave bar beside it.
class PreviewGBall : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewGBall(QWidget *parent = nullptr);

    // G-forces in g, heave -1..1.
    void setValues(float lateral, float longitudinal, float heave, bool live);
    QString valueText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_lateral = 0.0f;
    float m_longitudinal = 0.0f;
    float m_heave = 0.0f;
    bool m_live = false;
};

} // namespace corvane
