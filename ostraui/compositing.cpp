#include "ostraui/compositing.h"

#include "ostraui/x11connection.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
// Last, so that its macros (None, Bool, Status) meet no header after it.
#include <X11/Xlib.h>

namespace ostra {

namespace {

// How often the compositing manager's selection is looked at while the program runs; the
// answer to one look is read at the next, so no look waits on the X server.
constexpr int PollMs = 1000;

// The X screen Qt's connection was opened on: the one "-display" or $DISPLAY named.
int x11ScreenNumber()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display *display = x11 ? x11->display() : nullptr;
    return display ? DefaultScreen(display) : 0;
}

} // namespace

Compositing *Compositing::instance()
{
    // A child of the application object, gone with it; a later application gets its own.
    static QPointer<Compositing> compositing;
    if (!compositing)
        compositing = new Compositing;
    return compositing;
}

Compositing::Compositing()
    : QObject(qGuiApp)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(x11ScreenNumber());
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return;
    m_atom = atom->atom;
    free(atom);
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, m_atom), nullptr);
    m_active = owner && owner->owner != XCB_NONE;
    free(owner);
    m_timer = new QTimer(this);
    m_timer->setInterval(PollMs);
    connect(m_timer, &QTimer::timeout, this, &Compositing::poll);
    m_timer->start();
}

void Compositing::poll()
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    if (m_pending) {
        xcb_get_selection_owner_cookie_t cookie{m_pendingCookie};
        xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(connection, cookie, nullptr);
        const bool active = owner && owner->owner != XCB_NONE;
        free(owner);
        if (active != m_active) {
            m_active = active;
            emit activeChanged(active);
        }
    }
    m_pendingCookie = xcb_get_selection_owner(connection, m_atom).sequence;
    m_pending = true;
    xcb_flush(connection);
}

} // namespace ostra
