#include "ostraui/wheelguard.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QScrollBar>

namespace ostra {

namespace {

// The controls whose value the wheel changes; a scroll bar is what the wheel is meant to move.
QWidget *valueControl(QObject *object)
{
    if (qobject_cast<QComboBox *>(object) || qobject_cast<QAbstractSpinBox *>(object)
        || (qobject_cast<QAbstractSlider *>(object) && !qobject_cast<QScrollBar *>(object)))
        return static_cast<QWidget *>(object);
    return nullptr;
}

} // namespace

WheelGuard::WheelGuard(QObject *parent)
    : QObject(parent)
{
}

bool WheelGuard::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::Polish && type != QEvent::Wheel)
        return QObject::eventFilter(watched, event);
    QWidget *control = valueControl(watched);
    if (!control)
        return QObject::eventFilter(watched, event);
    if (type == QEvent::Polish) {
        // Qt gives these controls focus on the first notch over them, after which the next one
        // would change them.
        if (control->focusPolicy() == Qt::WheelFocus)
            control->setFocusPolicy(Qt::StrongFocus);
        return QObject::eventFilter(watched, event);
    }
    const QWidget *focus = QApplication::focusWidget();
    if (focus == control || control->isAncestorOf(focus))
        return QObject::eventFilter(watched, event);
    // Unhandled, the wheel goes on to the control's parents, up to the scroll area that holds it.
    event->ignore();
    return true;
}

} // namespace ostra
