#include "app/steeringgaugewidget.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
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

SteeringGaugeWidget::Layout SteeringGaugeWidget::layout() const
{
    Layout l;
    l.side = std::min(width(), height());
    l.stroke = l.side * 8.0 / 140.0;
    const qreal inner = l.side - l.stroke;
    l.circle = QRectF(rect().center().x() + 0.5 - inner / 2.0, rect().center().y() + 0.5 - inner / 2.0, inner, inner);
    l.numberFont = ostra::uiFont(l.side * 30.0 / 140.0, 600);
    l.numberFont.setStyleStrategy(QFont::PreferAntialias);
    const qreal lineHeight = QFontMetricsF(l.numberFont).height();
    l.numberRect = QRectF(0, height() / 2.0 - 0.62 * lineHeight, width(), lineHeight);
    return l;
}

void SteeringGaugeWidget::paintBackdrop(const Layout &l)
{
    const bool dark = ostra::isDarkTheme();
    const qreal ratio = devicePixelRatioF();
    m_backdrop = QPixmap(size() * ratio);
    m_backdrop.setDevicePixelRatio(ratio);
    m_backdrop.fill(Qt::transparent);
    m_backdropDark = dark;
    QPainter p(&m_backdrop);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(dark ? QColor(0x1F2832) : QColor(0xEEF1F5), l.stroke, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.drawEllipse(l.circle);
    p.setFont(ostra::uiFont(l.side * 12.0 / 140.0, 400));
    p.setPen(dark ? QColor(0x76818F) : QColor(0x8A94A3));
    p.drawText(QRectF(0, l.numberRect.bottom() - 2, width(), l.side * 0.14), Qt::AlignHCenter | Qt::AlignTop, m_label);
}

const QStaticText &SteeringGaugeWidget::numberLayout(const QFont &font)
{
    const QString text = numberText();
    auto it = m_numbers.find(text);
    if (it == m_numbers.end()) {
        if (m_numbers.size() >= 1024)
            m_numbers.clear();
        QStaticText layout(text);
        layout.setTextFormat(Qt::PlainText);
        layout.setPerformanceHint(QStaticText::AggressiveCaching);
        layout.prepare(QTransform(), font);
        it = m_numbers.insert(text, layout);
    }
    return *it;
}

void SteeringGaugeWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Laid out for the old size: the number font follows the size.
    m_backdrop = QPixmap();
    m_numbers.clear();
}

void SteeringGaugeWidget::paintEvent(QPaintEvent *)
{
    const Layout l = layout();
    if (m_backdrop.isNull() || m_backdropDark != ostra::isDarkTheme())
        paintBackdrop(l);
    QPainter p(this);
    p.drawPixmap(0, 0, m_backdrop);
    p.setRenderHint(QPainter::Antialiasing);

    if (std::fabs(m_value) > 0.002f) {
        p.setPen(QPen(QColor(0x4CC2FF), l.stroke, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
        p.drawArc(l.circle, 90 * 16, int(-m_value * 180.0f * 16.0f));
    }

    p.setFont(l.numberFont);
    p.setPen(ostra::isDarkTheme() ? QColor(0xE8EDF3) : QColor(0x0F1720));
    const QStaticText &number = numberLayout(l.numberFont);
    const QSizeF extent = number.size();
    p.drawStaticText(QPointF(l.numberRect.center().x() - extent.width() / 2.0,
                             l.numberRect.center().y() - extent.height() / 2.0),
                     number);
}

} // namespace corvane
