#include "ostraui/focusring.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QWidget>

#include "ostraui/theme.h"

namespace ostra {

namespace {

class KeyboardFocusTracker : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn && watched->isWidgetType()
            && static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason)
            static_cast<QWidget *>(watched)->window()->setAttribute(Qt::WA_KeyboardFocusChange, false);
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void trackKeyboardFocus(QApplication &app)
{
    app.installEventFilter(new KeyboardFocusTracker(&app));
}

bool showsFocusRing(const QWidget *widget)
{
    return widget && widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void paintFocusRing(QPainter *painter, const QRectF &rect, double radius)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(Qt::NoBrush);
    // The link colour: it stands out against cards and fills in both themes.
    painter->setPen(QPen(ThemeColors::infoText, 2));
    painter->drawRoundedRect(rect.adjusted(1, 1, -1, -1), std::max(radius - 1, 0.0), std::max(radius - 1, 0.0));
    // A thin inner line in the card colour keeps the ring apart from a dark or light fill.
    painter->setPen(QPen(ThemeColors::surface, 1));
    painter->drawRoundedRect(rect.adjusted(2.5, 2.5, -2.5, -2.5), std::max(radius - 2.5, 0.0),
                             std::max(radius - 2.5, 0.0));
    painter->restore();
}

} // namespace ostra
