#pragma once

#include <QList>
#include <QWidget>

namespace ostra {

class WinButton;

// The frameless window's title row: title, window buttons, and dragging the window.
class TitleBar : public QWidget
{
    Q_OBJECT
public:
    TitleBar(QWidget *window, QWidget *parent = nullptr);

    // Whether p (in title-bar coordinates) lies on a visible window button, so that the
    // native hit test leaves that point to the button.
    bool hitsButton(const QPoint &p) const;
    // Follows the window's maximised state in the maximise button's icon and tool tip.
    void updateMaximizeButton();

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void minimizeRequested();
    void maximizeRequested();
    void closeRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QWidget *m_window;
    // Where a left-button press began; the window moves once the pointer leaves it, so that a
    // click or double click stays a click (the window system takes the pointer for a move).
    QPoint m_pressPos;
    bool m_pressed = false;
    QList<WinButton *> m_buttons;
};

} // namespace ostra
