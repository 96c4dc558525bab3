#pragma once

#include <QRectF>

class QPainter;
class QWidget;

namespace ostra {

// Whether the widget holds focus that the keyboard gave it; a mouse click gives focus too but
// shows no ring.
bool showsFocusRing(const QWidget *widget);

// The theme's focus ring: a 2 px line just inside `rect`, rounded as the control is.
void paintFocusRing(QPainter *painter, const QRectF &rect, double radius);

} // namespace ostra
