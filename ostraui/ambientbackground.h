#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <vector>

#include "ostraui/dashedcurve.h"
#include "ostraui/smoothstretch.h"
#include "ostraui/tilemask.h"

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
    // start pose, and lets it go on from there. Each drift step repaints what the light and the
    // curves change with all the widgets over it, so the main window holds it while
    // transmitting, when the GUI thread's time belongs to the channel frames.
    void setDriftHeld(bool held);
    bool isDriftHeld() const { return m_held; }

    // Milliseconds since the epoch unless a test drives the drift with a clock of its own; the
    // drift starts over from the clock's present reading.
    void setClock(std::function<qint64()> clock);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    // The 50 ms drift step.
    void onTick();
    // Between two steps: strokes the dashes the next one shows.
    void prepareDashes();

private:
    void updateAnimationState();
    // Whether the window shows: not minimised and mapped.
    bool isSeen() const;
    double shownPhase() const;
    void paintBlob(QPainter &p, int index, const QPointF &topLeft, double t) const;
    void paintCurves(QImage &image, const QRect &slice, double t);
    QSize driftSize() const;
    void renderDrift(double t, QImage &drift) const;
    // The small pixels one row or column of light tiles is stretched from, and where they are
    // kept in m_lightShown.
    struct LightSpan
    {
        int first;
        int count;
        int at;
    };
    void placeLightTiles();
    void copyLight(const QImage &drift, const LightSpan &column, const LightSpan &row);
    void takeDriftChanges(const QImage &next, TileMask &tiles);
    void placeCurves();
    QRegion uncovered(const QRegion &region) const;

    QTimer *m_timer;
    QTimer *m_prepareTimer;
    std::function<qint64()> m_clock;
    qint64 m_startMs;
    double m_phase = 0.0;
    bool m_held = false;
    // The fill and the drifting light at a fraction of the size, stretched smoothly to the
    // window: the light is soft, so it looks the same and costs a fraction of painting it.
    // A step draws the next one and repaints only the tiles of the window whose light has moved
    // visibly; m_lightShown keeps, tile by tile, the small pixels each was last stretched from.
    QImage m_drift;
    QImage m_nextDrift;
    QImage m_lightShown;
    std::vector<LightSpan> m_lightColumns;
    std::vector<LightSpan> m_lightRows;
    std::vector<bool> m_dueColumns;
    // For each light tile, the steps it has waited since it came due, -1 while up to date; and
    // the tiles due at the current step.
    std::vector<int> m_waited;
    std::vector<std::size_t> m_due;
    double m_driftPhase = -1.0;
    SmoothStretch m_stretch;
    // The light at full size for the shown drift, and the part of it stretched so far: the many
    // small repaints of the widgets on it (meters, pulses, a map fix, a page fading in) copy
    // from it.
    QImage m_backdrop;
    QRegion m_backdropValid;
    // The two dashed curves, and where they run at the current size: their dashes move at
    // every step, over the light stretched afresh in m_scratch.
    DashedCurve m_curve1;
    DashedCurve m_curve2;
    QRegion m_curveRegion;
    QSize m_curveSize;
    QImage m_scratch;
    // Where the light changes at the current step, and what the step left to repaint of it.
    TileMask m_changed;
    QRegion m_steppedLight;
};

} // namespace ostra
