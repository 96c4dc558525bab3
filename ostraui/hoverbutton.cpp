#include "ostraui/hoverbutton.h"

#include <QKeyEvent>

namespace ostra {

HoverButton::HoverButton(QWidget *parent)
    : QAbstractButton(parent)
{
    setAttribute(Qt::WA_Hover);
}

void HoverButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void HoverButton::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        event->accept();
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

} // namespace ostra
