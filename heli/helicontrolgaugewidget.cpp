#include "heli/helicontrolgaugewidget.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "ostraui/theme.h"

namespace corvane {

namespace {

constexpr int FieldSize = 180;
constexpr int GaugeWidth = 376; // field, bar and read-outs
constexpr double StickRadius = 75.0;

int roundHalfAway(double value)
{
    return static_cast<int>(std::lround(value));
}

} // namespace

HeliControlGaugeWidget::HeliControlGaugeWidget(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFixedHeight(210);
}

QSize HeliControlGaugeWidget::sizeHint() const
{
    return {360, 240};
}

QSize HeliControlGaugeWidget::minimumSizeHint() const
{
    return {300, 210};
}

void HeliControlGaugeWidget::store(float &field, float value, float low)
{
    const float clamped = qBound(low, value, 1.0f);
    if (clamped == field)
        return;
    field = clamped;
    update();
}

void HeliControlGaugeWidget::setRoll(float value)
{
    store(m_roll, value, -1.0f);
}

void HeliControlGaugeWidget::setPitch(float value)
{
    store(m_pitch, value, -1.0f);
}

void HeliControlGaugeWidget::setYaw(float value)
{
    store(m_yaw, value, -1.0f);
}

void HeliControlGaugeWidget::setCollective(float value)
{
    store(m_collective, value, 0.0f);
}

void HeliControlGaugeWidget::setValuesShown(bool shown)
{
    if (shown == m_valuesShown)
        return;
    m_valuesShown = shown;
    update();
}

QString HeliControlGaugeWidget::cyclicCaption() const
{
    if (!m_valuesShown)
        return tr("Cyclic \u00B7 roll \u2014 \u00B7 pitch \u2014");
    return tr("Cyclic \u00B7 roll %1\u00B0 \u00B7 pitch %2\u00B0")
        .arg(roundHalfAway(m_roll * 180.0))
        .arg(roundHalfAway(m_pitch * 180.0));
}

QString HeliControlGaugeWidget::collectiveText() const
{
    return m_valuesShown ? tr("%1%").arg(roundHalfAway(m_collective * 100.0)) : QStringLiteral("\u2014");
}

QString HeliControlGaugeWidget::yawText() const
{
    return m_valuesShown ? tr("%1\u00B0").arg(roundHalfAway(m_yaw * 180.0)) : QStringLiteral("\u2014");
}

void HeliControlGaugeWidget::paintEvent(QPaintEvent *)
{
    using namespace ostra::ThemeColors;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF field(qMax((width() - GaugeWidth) / 2, 0), 0, FieldSize, FieldSize);
    const QPointF c = field.center();

    QPen line(borderLight, 1);
    line.setCapStyle(Qt::SquareCap);
    p.setPen(line);
    p.setBrush(windowBg);
    p.drawEllipse(field.adjusted(0.5, 0.5, -0.5, -0.5));
    p.drawLine(QPointF(field.left() + 14, c.y()), QPointF(field.right() - 14, c.y()));
    p.drawLine(QPointF(c.x(), field.top() + 14), QPointF(c.x(), field.bottom() - 14));

    QPen ring(borderHover, 1);
    ring.setDashPattern({3, 4});
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 45, 45);

    double vx = m_roll;
    double vy = -m_pitch;
    const double length = std::hypot(vx, vy);
    if (length > 1.0) {
        vx /= length;
        vy /= length;
    }
    const QPointF stick(c.x() + StickRadius * vx, c.y() + StickRadius * vy);
    p.setPen(Qt::NoPen);
    if (m_valuesShown) {
        p.setOpacity(0.35);
        p.setBrush(accent);
        p.drawEllipse(stick, 15, 15);
        p.setOpacity(1.0);
        p.setBrush(ink);
        p.drawEllipse(stick, 9, 9);
    }

    p.setFont(ostra::uiFont(12, 400));
    p.setPen(textMuted);
    p.drawText(QRectF(field.left() - 20, field.bottom() + 8, 220, 18), Qt::AlignHCenter | Qt::AlignTop,
               cyclicCaption());

    const QRectF bar(field.right() + 28, 0, 14, FieldSize);
    p.setPen(Qt::NoPen);
    p.setBrush(hairline);
    p.drawRoundedRect(bar, 7, 7);
    const double h = m_collective * bar.height();
    if (m_valuesShown && h > 0.5) {
        const double radius = qMin(7.0, h / 2.0);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(bar.left(), bar.bottom() - h, bar.width(), h), radius, radius);
    }

    const double x = bar.right() + 24;
    const auto readOut = [&](double y, const QString &caption, const QString &value) {
        p.setFont(ostra::uiFont(13, 400));
        p.setPen(textMuted);
        p.drawText(QRectF(x, y, 160, 18), Qt::AlignLeft | Qt::AlignVCenter, caption);
        p.setFont(ostra::uiFont(26, 600));
        p.setPen(ink);
        p.drawText(QRectF(x, y + 18, 160, 36), Qt::AlignLeft | Qt::AlignVCenter, value);
    };
    readOut(20, tr("Collective"), collectiveText());
    readOut(100, tr("Yaw"), yawText());
}

} // namespace corvane
