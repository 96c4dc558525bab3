#include "ostraui/navbutton.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "ostraui/alphacolor.h"
#include "ostraui/dot.h"
#include "ostraui/focusring.h"
#include "ostraui/theme.h"

namespace ostra {

NavButton::NavButton(const QString &text, QWidget *parent)
    : HoverButton(parent)
    , m_dot(new Dot(this, 6))
{
    setText(text);
    setToolTip(text);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(40);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_dot->setColor(QColor(0x12, 0xA6, 0x6A));
    m_dot->hide();
}

void NavButton::setActive(bool active)
{
    m_active = active;
    update();
}

void NavButton::setCollapsed(bool collapsed)
{
    m_collapsed = collapsed;
    update();
}

void NavButton::setIconKind(int kind)
{
    m_iconKind = kind;
    update();
}

QSize NavButton::sizeHint() const
{
    return QSize(200, 40);
}

void NavButton::resizeEvent(QResizeEvent *event)
{
    HoverButton::resizeEvent(event);
    m_dot->move(width() - 18, (height() - 6) / 2);
}

void NavButton::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    const double cy = r.center().y();

    p.setPen(Qt::NoPen);
    if (m_active && m_iconKind == InfoIcon) {
        p.setBrush(ThemeColors::ink);
        p.drawRoundedRect(r, 10, 10);
    } else if (isHovered() && !m_active) {
        p.setBrush(withAlpha(ThemeColors::ink, 0.04));
        p.drawRoundedRect(r, 10, 10);
    }
    if (showsFocusRing(this))
        paintFocusRing(&p, r, 10);

    p.setBrush(Qt::NoBrush);
    int textStart = 40;
    switch (m_iconKind) {
    case InfoIcon: {
        const QColor color = m_active ? ThemeColors::inverseText : ThemeColors::textMuted;
        p.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::SquareCap));
        p.drawEllipse(QPointF(20, cy), 7.25, 7.25);
        p.setFont(uiFont(10, 700));
        p.drawText(QRectF(12, cy - 8, 16, 16), Qt::AlignCenter, QStringLiteral("i"));
        break;
    }
    case Moon: {
        p.setPen(QPen(ThemeColors::textMuted, 1.5, Qt::SolidLine, Qt::RoundCap));
        QPainterPath disc;
        disc.addEllipse(QPointF(20, cy), 7, 7);
        QPainterPath bite;
        bite.addEllipse(QPointF(24, cy - 3.5), 6, 6);
        p.drawPath(disc.subtracted(bite));
        break;
    }
    case Sun: {
        p.setPen(QPen(ThemeColors::textMuted, 1.5, Qt::SolidLine, Qt::RoundCap));
        const QPointF c(20, cy);
        p.drawEllipse(c, 3.5, 3.5);
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            const QPointF dir(std::cos(a), std::sin(a));
            p.drawLine(c + dir * 5.8, c + dir * 7.8);
        }
        break;
    }
    default: {
        const QColor color = m_active ? QColor(0x4C, 0xC2, 0xFF) : QColor(195, 202, 212);
        p.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::SquareCap));
        p.drawEllipse(QPointF(16, cy), 3.25, 3.25);
        textStart = 32;
        break;
    }
    }

    // A step of the status dot's pulse repaints beside the label, not over it: no need to shape it again.
    const QRectF textRect(textStart, 0, width() - textStart - 24, height());
    if (m_collapsed || !event->rect().intersects(textRect.toAlignedRect()))
        return;
    p.setFont(uiFont(14, 500));
    p.setPen(m_active ? ThemeColors::inverseText : ThemeColors::textHover);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text());
}

} // namespace ostra
