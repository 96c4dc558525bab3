#pragma once

#include <QObject>

class QTimer;

namespace ostra {

// Whether the desktop blends translucent windows. Without a compositing manager on X11 the
// transparent pixels of a window show as black, so translucent margins must not be drawn.
// Wayland and the headless platforms always blend.
class Compositing : public QObject
{
    Q_OBJECT

public:
    static Compositing *instance();
    bool active() const { return m_active; }

signals:
    void activeChanged(bool active);

private:
    Compositing();
    void poll();

    bool m_active = true;
    QTimer *m_timer = nullptr;
    unsigned int m_atom = 0;
    unsigned int m_pendingCookie = 0;
    bool m_pending = false;
};

} // namespace ostra
