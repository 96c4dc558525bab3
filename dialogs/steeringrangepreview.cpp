#include "dialogs/steeringrangepreview.h"

#include <QPainter>

#include "ostraui/theme.h"

namespace corvane {

SteeringRangePreview::SteeringRangePreview(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(30);
    setFixedHeight(30);
}

QSize SteeringRangePreview::sizeHint() const
{
    return {400, 40};
}

QSize SteeringRangePreview::minimumSizeHint() const
{
    return {200, 30};
}

void SteeringRangePreview::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPointSize(8);
    p.setFont(f);
    const int w = width();
    const int length = w - 4;
    const auto at = [length](int value) { return int(float(length) * (float(value) / 2047.0f)); };
    const QColor blue(76, 194, 255);

    p.setPen(Qt::NoPen);
    p.setBrush(ostra::ThemeColors::hairline);
    p.drawRoundedRect(QRect(2, 4, length, 6), 3, 3);
    const int xl = at(left);
    const int xr = at(right);
    QColor band = blue;
    band.setAlpha(80);
    p.setBrush(band);
    p.drawRect(QRect(xl + 2, 5, xr - xl, 4));
    p.setBrush(blue);
    p.drawRoundedRect(QRect(xl, 1, 4, 12), 2, 2);
    p.drawRoundedRect(QRect(xr, 1, 4, 12), 2, 2);
    p.setBrush(QColor(18, 166, 106));
    p.drawRoundedRect(QRect(at(center), 1, 4, 12), 2, 2);
    p.setPen(ostra::ThemeColors::textMuted);
    p.drawText(QRect(w - 42, 14, 40, 16), Qt::AlignRight, QString::number(right));
}

} // namespace corvane
