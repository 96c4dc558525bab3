#include "ostraui/paintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace ostra {

PaintPacer::PaintPacer(QWidget *window, int intervalMs)
    : QObject(window)
    , m_window(window)
    , m_interval(intervalMs)
    , m_fallback(new QTimer(this))
{
    m_fallback->setSingleShot(true);
    m_fallback->setInterval(2 * intervalMs);
    connect(m_fallback, &QTimer::timeout, this, &PaintPacer::runHeld);
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

void PaintPacer::release()
{
    if (m_held && m_lastPaint.elapsed() >= m_interval)
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
    m_held = true;
    if (!m_fallback->isActive())
        m_fallback->start();
    return true;
}

void PaintPacer::runHeld()
{
    if (!m_held)
        return;
    m_held = false;
    m_fallback->stop();
    m_letThrough = true;
    // Posted, not sent: the repaint runs after the step that released it has returned.
    QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

} // namespace ostra
