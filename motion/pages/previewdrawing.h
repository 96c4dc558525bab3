#pragma once

#include <QColor>
#include <QString>

class QPainter;
class QRect;
class QWidget;

namespace corvane {

// Shared look of the preview widgets: the rounded card every one of them sits on and its header.
void drawPreviewCard(QPainter &painter, const QWidget &widget);
// Title at the left and value at the right, 10 px in from the sides and 8 px from the top; a title
// too long for the room beside the value wraps. Returns how much taller than one line it came out.
int drawPreviewHeader(QPainter &painter, const QRect &rect, const QString &title, const QString &value);

// "+" for values of at least 0.05, the value with `decimals` decimals, then `suffix`.
QString formatSigned(double value, int decimals, const QString &suffix);

// The colour t (clamped to 0..1) of the way from a to b, opaque.
QColor lerpColor(const QColor &a, const QColor &b, double t);

} // namespace corvane
