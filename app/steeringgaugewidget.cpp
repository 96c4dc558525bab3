#include "app/steeringgaugewidget.h"

#include <QPainter>

#include <cmath>

#include "ostraui/theme.h"

namespace corvane {

namespace {

// Rounds halves away from zero, as the number in the middle is read.
int roundAway(float v)
{
    return int(std::lround(v));
}

} // namespace

SteeringGaugeWidget::SteeringGaugeWidget(QWidget *parent)
    : QWidget(parent)
    , m_label(QStringLiteral("Steering"))
{
    setMinimumSize(120, 120);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

SteeringGaugeWidget::~SteeringGaugeWidget() = default;

QSize SteeringGaugeWidget::sizeHint() const
{
    return {140, 140};
}

QSize SteeringGaugeWidget::minimumSizeHint() const
{
    return {120, 120};
}

void SteeringGaugeWidget::setValue(float value)
{
    const float clamped = std::clamp(value, -1.0f, 1.0f);
    if (qFuzzyCompare(clamped, m_value))
        return;
    m_value = clamped;
    update();
}

void SteeringGaugeWidget::setValue(float value, float degrees)
{
    if (!m_hasDegrees || roundAway(degrees) != roundAway(m_degrees)) {
        m_degrees = degrees;
        m_hasDegrees = true;
        update();
    }
    setValue(value);
}

QString SteeringGaugeWidget::numberText() const
{
    const int number = m_hasDegrees ? roundAway(m_degrees) : int(m_value * 180.0f);
    return QString::number(number) + QChar(0x00B0);
}

void SteeringGaugeWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = ostra::isDarkTheme();
    const qreal side = std::min(width(), height());
    const qreal stroke = side * 8.0 / 140.0;
    const qreal inner = side - stroke;
    const QRectF circle(rect().center().x() + 0.5 - inner / 2.0, rect().center().y() + 0.5 - inner / 2.0, inner, inner);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(dark ? QColor(0x1F2832) : QColor(0xEEF1F5), stroke, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.drawEllipse(circle);

    if (std::fabs(m_value) > 0.002f) {
        p.setPen(QPen(QColor(0x4CC2FF), stroke, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
        p.drawArc(circle, 90 * 16, int(-m_value * 180.0f * 16.0f));
    }

    QFont numberFont = ostra::uiFont(side * 30.0 / 140.0, 600);
    numberFont.setStyleStrategy(QFont::PreferAntialias);
    p.setFont(numberFont);
    p.setPen(dark ? QColor(0xE8EDF3) : QColor(0x0F1720));
    const qreal lineHeight = QFontMetricsF(numberFont).height();
    const QRectF numberRect(0, height() / 2.0 - 0.62 * lineHeight, width(), lineHeight);
    p.drawText(numberRect, Qt::AlignCenter, numberText());

    p.setFont(ostra::uiFont(side * 12.0 / 140.0, 400));
    p.setPen(dark ? QColor(0x76818F) : QColor(0x8A94A3));
    p.drawText(QRectF(0, numberRect.bottom() - 2, width(), side * 0.14), Qt::AlignHCenter | Qt::AlignTop, m_label);
}

} // namespace corvane
