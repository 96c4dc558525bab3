#include "motion/pages/previewdrawing.h"

#include "ostraui/theme.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace corvane {

void drawPreviewCard(QPainter &painter, const QWidget &widget)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ostra::ThemeColors::surfaceAlt);
    painter.drawRoundedRect(QRectF(widget.rect().adjusted(0, 0, -1, -1)), 10, 10);
}

int drawPreviewHeader(QPainter &painter, const QRect &rect, const QString &title, const QString &value)
{
    const QRect area = rect.adjusted(10, 8, -10, 0);
    painter.setFont(ostra::monoFont(12.5, 400));
    painter.setPen(ostra::ThemeColors::ink);
    QRect valueRect;
    painter.drawText(area, Qt::AlignRight | Qt::AlignTop, value, &valueRect);
    // In a narrow card the title wraps beside the value rather than running into it.
    const QFont titleFont = ostra::uiFont(12, 500);
    painter.setFont(titleFont);
    painter.setPen(ostra::ThemeColors::textSecondary);
    const int room = value.isEmpty() ? area.width() : valueRect.left() - area.left() - 8;
    QRect titleRect;
    painter.drawText(QRect(area.left(), area.top(), std::max(room, 1), area.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title, &titleRect);
    return std::max(0, titleRect.height() - QFontMetrics(titleFont).height());
}

QString formatSigned(double value, int decimals, const QString &suffix)
{
    const QString sign = value > 0 && value >= 0.05 ? QStringLiteral("+") : QString();
    return sign + QString::number(value, 'f', decimals) + suffix;
}

QColor lerpColor(const QColor &a, const QColor &b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t), 1.0f);
}

} // namespace corvane
