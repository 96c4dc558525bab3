#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

namespace ostra {

// Lets a frameless window be resized from its edges through the window system: a left press
// within `border` pixels of an edge starts QWindow::startSystemResize, and the pointer shows
// the resize shape there. Children keep every other press.
class FramelessResizer : public QObject
{
    Q_OBJECT
public:
    explicit FramelessResizer(QWidget *window, int border = 6);
    ~FramelessResizer() override;

    // The window edges that the point (in window coordinates) lies on; none while maximised.
    Qt::Edges edgesAt(const QPoint &pos) const;

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showCursorFor(Qt::Edges edges);

    QWidget *m_window;
    int m_border;
    bool m_cursorShown = false;
};

} // namespace ostra
