#pragma once

#include <QElapsedTimer>
#include <QObject>

class QTimer;
class QWidget;

namespace ostra {

// Holds a window's repaints back while the channel tick shares the GUI thread with it: every
// change in between is gathered into one repaint, at most one per interval, and that repaint
// runs in the slack after a tick (TickPace), so it does not delay the next one. Widgets still
// take their new values at once; only the painting waits.
class PaintPacer : public QObject
{
    Q_OBJECT
public:
    PaintPacer(QWidget *window, int intervalMs);

    // Inactive, repaints run as soon as they are due; going inactive runs a held one at once.
    void setActive(bool active);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void queueHeld();
    void runHeld();

    QWidget *m_window;
    int m_interval;
    bool m_active = false;
    bool m_held = false;
    bool m_queued = false;
    bool m_letThrough = false;
    QElapsedTimer m_lastPaint;
    QTimer *m_rest;
};

} // namespace ostra
