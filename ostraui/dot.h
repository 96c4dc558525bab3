#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QWidget>

class QVariantAnimation;

namespace ostra {

// A round status dot that can pulse or send out a ripple.
class Dot : public QWidget
{
    Q_OBJECT
public:
    explicit Dot(QWidget *parent = nullptr, int size = 10);

    QColor color() const { return m_color; }
    bool isPulsing() const { return m_pulsing; }
    bool hasRipple() const { return m_ripple; }
    void setColor(const QColor &color);
    void setPulsing(bool on, int periodMs = 1200);
    void setRipple(bool on, int periodMs = 2400);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updatePulse();

    QColor m_color;
    int m_size;
    bool m_pulsing = false;
    bool m_ripple = false;
    int m_pulsePeriod = 1200;
    int m_ripplePeriod = 2400;
    double m_phase = 0;
    QVariantAnimation *m_animation = nullptr;
    QElapsedTimer m_step;
};

} // namespace ostra
