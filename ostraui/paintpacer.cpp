#include "ostraui/paintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include "ostraui/tickpace.h"

namespace ostra {

PaintPacer::PaintPacer(QWidget *window, int intervalMs)
    : QObject(window)
    , m_window(window)
    , m_interval(intervalMs)
    , m_rest(new QTimer(this))
{
    m_rest->setSingleShot(true);
    connect(m_rest, &QTimer::timeout, this, &PaintPacer::queueHeld);
    m_lastPaint.start();
    window->installEventFilter(this);
}

void PaintPacer::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    if (!active && m_held)
        runHeld();
}

// The widget kit asks for a repaint of the window with one UpdateRequest and asks for no
// other until that one has been served: holding it holds every repaint of the window.
bool PaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_letThrough || !m_active) {
        m_letThrough = false;
        m_lastPaint.restart();
        return false;
    }
    if (!m_held) {
        m_held = true;
        const qint64 rest = m_interval - m_lastPaint.elapsed();
        if (rest > 0)
            m_rest->start(int(rest));
        else
            queueHeld();
    }
    return true;
}

void PaintPacer::queueHeld()
{
    if (m_queued)
        return;
    m_queued = true;
    TickPace::instance()->afterTick(this, [this] {
        m_queued = false;
        runHeld();
    });
}

void PaintPacer::runHeld()
{
    if (!m_held)
        return;
    m_held = false;
    m_rest->stop();
    m_letThrough = true;
    // Posted, not sent: the repaint runs in this pass, after what the kit has under way.
    QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

} // namespace ostra
