#include "ostraui/framelessresizer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace ostra {

namespace {

Qt::CursorShape cursorFor(Qt::Edges edges)
{
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
        const bool falling = bool(edges & Qt::LeftEdge) == bool(edges & Qt::TopEdge);
        return falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
    }
    return horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor;
}

} // namespace

FramelessResizer::FramelessResizer(QWidget *window, int border)
    : QObject(window)
    , m_window(window)
    , m_border(border)
{
    // The window handle is made at the first show and sees every pointer event before the
    // child under the pointer does.
    qApp->installEventFilter(this);
}

FramelessResizer::~FramelessResizer()
{
    showCursorFor({});
}

Qt::Edges FramelessResizer::edgesAt(const QPoint &pos) const
{
    Qt::Edges edges;
    if (!m_window || m_window->isMaximized() || m_window->isFullScreen())
        return edges;
    if (pos.x() < 0 || pos.y() < 0 || pos.x() >= m_window->width() || pos.y() >= m_window->height())
        return edges;
    if (pos.x() < m_border)
        edges |= Qt::LeftEdge;
    else if (pos.x() >= m_window->width() - m_border)
        edges |= Qt::RightEdge;
    if (pos.y() < m_border)
        edges |= Qt::TopEdge;
    else if (pos.y() >= m_window->height() - m_border)
        edges |= Qt::BottomEdge;
    return edges;
}

bool FramelessResizer::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::MouseButtonPress && type != QEvent::MouseMove) || !m_window
        || watched != m_window->windowHandle())
        return QObject::eventFilter(watched, event);

    auto *mouse = static_cast<QMouseEvent *>(event);
    const Qt::Edges edges = edgesAt(mouse->position().toPoint());
    if (type == QEvent::MouseMove) {
        if (mouse->buttons() == Qt::NoButton)
            showCursorFor(edges);
        return QObject::eventFilter(watched, event);
    }
    // Where the window system cannot resize, the press stays with the widgets.
    if (mouse->button() == Qt::LeftButton && edges && m_window->windowHandle()->startSystemResize(edges))
        return true;
    return QObject::eventFilter(watched, event);
}

void FramelessResizer::showCursorFor(Qt::Edges edges)
{
    if (!edges) {
        if (m_cursorShown)
            QGuiApplication::restoreOverrideCursor();
        m_cursorShown = false;
        return;
    }
    if (m_cursorShown) {
        QGuiApplication::changeOverrideCursor(cursorFor(edges));
    } else {
        QGuiApplication::setOverrideCursor(cursorFor(edges));
        m_cursorShown = true;
    }
}

} // namespace ostra
