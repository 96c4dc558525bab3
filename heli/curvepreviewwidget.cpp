#include "heli/curvepreviewwidget.h"

#include <QPainter>
#include <QPainterPath>

#include "ostraui/theme.h"

namespace corvane {

CurvePreviewWidget::CurvePreviewWidget(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(200, 130);
}

QSize CurvePreviewWidget::sizeHint() const
{
    return {200, 130};
}

void CurvePreviewWidget::setPoints(const std::array<float, 5> &points)
{
    m_points = points;
    update();
}

void CurvePreviewWidget::paintEvent(QPaintEvent *)
{
    using namespace ostra::ThemeColors;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = QRectF(rect()).adjusted(6, 6, -6, -6);
    p.fillRect(rect(), windowBg);

    QPen frame(QColor(ostra::remapColors(QStringLiteral("#E6EAF0"))), 1);
    frame.setCapStyle(Qt::SquareCap);
    p.setPen(frame);
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);

    p.setPen(QPen(surfaceAlt, 1, Qt::DashLine));
    for (int k = 1; k <= 3; ++k) {
        const double x = plot.left() + plot.width() * k / 4.0;
        const double y = plot.top() + plot.height() * k / 4.0;
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }

    const QColor curveColor(ostra::remapColors(QStringLiteral("#0F1720")));
    QPointF dots[5];
    QPainterPath path;
    for (int k = 0; k < 5; ++k) {
        dots[k] = QPointF(plot.left() + plot.width() * k / 4.0,
                          plot.bottom() - qBound(0.0f, m_points[size_t(k)], 1.0f) * plot.height());
        if (k == 0)
            path.moveTo(dots[k]);
        else
            path.lineTo(dots[k]);
    }
    QPen curvePen(curveColor, 2);
    curvePen.setCapStyle(Qt::SquareCap);
    p.setPen(curvePen);
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(curveColor);
    for (const QPointF &dot : dots)
        p.drawEllipse(dot, 3, 3);
}

} // namespace corvane
