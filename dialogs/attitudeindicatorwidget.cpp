#include "dialogs/attitudeindicatorwidget.h"

#include <QKeyEvent>

namespace corvane {

AttitudeIndicatorWidget::AttitudeIndicatorWidget(CorvaneController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    setWindowTitle(tr("Attitude Indicator"));
    setWindowFlag(Qt::Window);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(640, 360);
}

// Full screen without window chrome: Escape is the way out.
void AttitudeIndicatorWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace corvane
