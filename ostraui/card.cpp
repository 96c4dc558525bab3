#include "ostraui/card.h"

#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "ostraui/focusring.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"

namespace ostra {

Card::Card(QWidget *parent, int elevation)
    : QFrame(parent)
    , m_elevation(elevation)
{
    setAttribute(Qt::WA_Hover);
    setContentsMargins(0, 0, 0, 0);
}

QVBoxLayout *Card::contentLayout()
{
    if (!m_content) {
        m_content = new QVBoxLayout(this);
        m_content->setContentsMargins(22, 22, 22, 22);
        m_content->setSpacing(16);
    }
    return m_content;
}

void Card::setClickable(bool clickable)
{
    m_clickable = clickable;
    setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    setFocusPolicy(clickable ? Qt::StrongFocus : Qt::NoFocus);
}

void Card::setDimmed(bool dimmed)
{
    m_dimmed = dimmed;
    if (dimmed) {
        auto *effect = new QGraphicsOpacityEffect(this);
        effect->setOpacity(0.6);
        setGraphicsEffect(effect);
    } else {
        setGraphicsEffect(nullptr);
    }
    refreshShadow();
}

void Card::refreshShadow(const QRect &before)
{
    if (ShadowLayer *layer = shadowLayerFor(parentWidget())) {
        layer->updateShadowOf(geometry());
        if (before.isValid())
            layer->updateShadowOf(before);
    }
}

void Card::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_clickable && m_hovered ? ThemeColors::borderStrong : ThemeColors::borderLight, 1));
    painter.setBrush(ThemeColors::surface);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    if (m_clickable && showsFocusRing(this))
        paintFocusRing(&painter, rect(), cornerRadius);
}

void Card::enterEvent(QEnterEvent *event)
{
    QFrame::enterEvent(event);
    m_hovered = true;
    if (m_clickable) {
        update();
        refreshShadow();
    }
}

void Card::leaveEvent(QEvent *event)
{
    QFrame::leaveEvent(event);
    m_hovered = false;
    m_pressed = false;
    if (m_clickable) {
        update();
        refreshShadow();
    }
}

void Card::mousePressEvent(QMouseEvent *event)
{
    if (m_clickable && event->button() == Qt::LeftButton) {
        m_pressed = true;
        event->accept();
        return;
    }
    QFrame::mousePressEvent(event);
}

void Card::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    if (m_clickable && wasPressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint())) {
        emit clicked();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

void Card::keyPressEvent(QKeyEvent *event)
{
    if (m_clickable && isPressKey(event)) {
        event->accept();
        emit clicked();
        return;
    }
    QFrame::keyPressEvent(event);
}

void Card::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    refreshShadow();
}

void Card::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    refreshShadow();
}

void Card::moveEvent(QMoveEvent *event)
{
    QFrame::moveEvent(event);
    refreshShadow(QRect(event->oldPos(), size()));
}

void Card::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    refreshShadow(QRect(pos(), event->oldSize()));
}

} // namespace ostra
