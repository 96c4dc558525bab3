#pragma once

#include <QWidget>

class QTimer;

namespace ostra {

// The window's backdrop: slowly drifting coloured light and two faint running dashed curves.
class AmbientBackground : public QWidget
{
    Q_OBJECT
public:
    explicit AmbientBackground(QWidget *parent = nullptr);

    // Whether the backdrop drifts: only while visible with animations on.
    bool isAnimating() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updateAnimationState();
    void onTick();
    void paintBlob(QPainter &p, int index, const QPointF &topLeft, double t) const;
    void paintCurves(QPainter &p, double t) const;

    QTimer *m_timer;
    qint64 m_startMs;
    double m_phase = 0.0;
};

} // namespace ostra
