#pragma once

#include "ostraui/hoverbutton.h"

namespace ostra {

class Dot;

// One entry of the sidebar: icon, label and an optional status dot.
class NavButton : public HoverButton
{
    Q_OBJECT
public:
    enum IconKind { Bullet = 0, InfoIcon = 1, Moon = 2, Sun = 3 };

    explicit NavButton(const QString &text, QWidget *parent = nullptr);

    bool isActive() const { return m_active; }
    void setActive(bool active);
    bool isCollapsed() const { return m_collapsed; }
    void setCollapsed(bool collapsed);
    int iconKind() const { return m_iconKind; }
    void setIconKind(int kind);
    Dot *dot() const { return m_dot; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool m_active = false;
    bool m_collapsed = false;
    int m_iconKind = Bullet;
    Dot *m_dot;
};

} // namespace ostra
