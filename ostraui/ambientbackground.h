#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>

class QTimer;

namespace ostra {

// The window's backdrop: slowly drifting coloured light and two faint running dashed curves.
class AmbientBackground : public QWidget
{
    Q_OBJECT
public:
    explicit AmbientBackground(QWidget *parent = nullptr);

    // Whether the backdrop drifts: only while visible with animations on and not held.
    bool isAnimating() const;

    // Holds the drift where it stands, as reduced motion would but without going back to the
    // start pose, and lets it go on from there. Each drift step repaints the whole window, so
    // the main window holds it while transmitting, when the GUI thread's time belongs to the
    // channel frames.
    void setDriftHeld(bool held);
    bool isDriftHeld() const { return m_held; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    // The 50 ms drift step.
    void onTick();

private:
    void updateAnimationState();
    double shownPhase() const;
    void paintBlob(QPainter &p, int index, const QPointF &topLeft, double t) const;
    void paintCurves(QPainter &p, double t) const;
    const QImage &driftImage(double t);
    QRegion changedRegion() const;

    QTimer *m_timer;
    qint64 m_startMs;
    double m_phase = 0.0;
    bool m_held = false;
    // The fill and the drifting light at a fraction of the size, stretched smoothly to the
    // window: the light is soft, so it looks the same and costs a fraction of painting it.
    QImage m_drift;
    double m_driftPhase = -1.0;
    // The whole backdrop at full size for the shown phase, and the part of it drawn so far:
    // the many small repaints of the widgets on it (meters, pulses, a map fix) copy from it.
    QImage m_backdrop;
    QRegion m_backdropValid;
    double m_backdropPhase = -1.0;
};

} // namespace ostra
