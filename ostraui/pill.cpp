#include "ostraui/pill.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <cmath>

#include "ostraui/alphacolor.h"
#include "ostraui/focusring.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

// A pulse is a slow fade: 25 steps a second look smooth and cost less than the animation's 60.
constexpr int PulseStepMs = 40;

} // namespace

Pill::Pill(QWidget *parent, int kind)
    : QWidget(parent)
    , m_kind(kind)
    , m_height(kind == KeyValue ? 34 : 28)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Pill::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

void Pill::setKeyValue(const QString &key, const QString &value)
{
    if (key == m_key && value == m_value)
        return;
    m_key = key;
    m_value = value;
    updateGeometry();
    update();
}

void Pill::setLevel(int level)
{
    if (level == m_level)
        return;
    m_level = level;
    update();
}

void Pill::setDotVisible(bool visible)
{
    m_dotVisible = visible;
    updateGeometry();
    update();
}

void Pill::setHeight(int px)
{
    m_height = px;
    updateGeometry();
    update();
}

void Pill::setPulsing(bool on)
{
    if (on == m_pulsing)
        return;
    m_pulsing = on;
    updatePulse();
    update();
}

void Pill::setPulseDuration(int ms)
{
    m_pulsePeriod = ms;
    if (m_animation)
        m_animation->setDuration(ms);
}

void Pill::setClickable(bool clickable)
{
    m_clickable = clickable;
    setAttribute(Qt::WA_Hover, clickable);
    setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    // What a click opens is for the keyboard too.
    setFocusPolicy(clickable ? Qt::StrongFocus : Qt::NoFocus);
}

void Pill::updatePulse()
{
    const bool run = m_pulsing && isVisible() && animationsEnabled();
    driveLoop(m_animation, this, run, m_pulsePeriod, [this](double t) {
        if (m_pulseStep.isValid() && m_pulseStep.elapsed() < PulseStepMs)
            return;
        m_pulseStep.start();
        m_pulseOpacity = 1 - std::sin(M_PI * t) * 0.65;
        // Only the dot fades: the text beside it is not drawn again.
        update(dotRect());
    });
    if (!run)
        m_pulseOpacity = 1.0;
}

QFont Pill::plainFont() const
{
    return uiFont(m_height <= 24 ? 12 : 12.5, 500);
}

QRect Pill::dotRect() const
{
    const int middle = height() / 2;
    if (m_kind == KeyValue)
        return QRect(13, middle - 5, 10, 10);
    const int x = m_height <= 24 ? 9 : 11;
    return QRect(x - 1, middle - 4, 8, 8);
}

QSize Pill::sizeHint() const
{
    int width = 0;
    if (m_kind == KeyValue) {
        width = QFontMetrics(uiFont(13, 400)).horizontalAdvance(m_key) + (m_dotVisible ? 29 : 14) + 14;
        if (!m_value.isEmpty())
            width += QFontMetrics(uiFont(13, 500)).horizontalAdvance(m_value) + 6;
    } else {
        width = (m_height <= 24 ? 18 : 22) + QFontMetrics(plainFont()).horizontalAdvance(m_text)
                + (m_dotVisible ? 13 : 0);
    }
    return QSize(width, m_height);
}

QSize Pill::minimumSizeHint() const
{
    return sizeHint();
}

void Pill::paintEvent(QPaintEvent *event)
{
    // A step of the pulse repaints the dot alone; shaping the text again would cost far more.
    const bool textShown = !dotRect().contains(event->rect());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = shape.height() / 2;
    const double middle = height() / 2.0;

    if (m_kind == KeyValue) {
        const bool lit = m_clickable && m_hovered;
        painter.setPen(QPen(lit ? ThemeColors::borderHover : ThemeColors::borderLight, 1));
        painter.setBrush(withAlpha(ThemeColors::surface, lit ? 1.0 : 0.8));
        painter.drawRoundedRect(shape, radius, radius);
        if (m_clickable && showsFocusRing(this))
            paintFocusRing(&painter, rect(), radius);

        double x = 14;
        if (m_dotVisible) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(withAlpha(levelAccentColor(m_level), m_pulseOpacity));
            painter.drawEllipse(QPointF(17.5, middle), 3.5, 3.5);
            x = 29;
        }
        if (!textShown)
            return;
        const QFont keyFont = uiFont(13, 400);
        painter.setFont(keyFont);
        painter.setPen(ThemeColors::textSecondary);
        painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, m_key);
        if (!m_value.isEmpty()) {
            x += QFontMetrics(keyFont).horizontalAdvance(m_key) + 6;
            painter.setFont(uiFont(13, 500));
            painter.setPen(ThemeColors::ink);
            painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter,
                             m_value);
        }
        return;
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(levelColor(m_level));
    painter.drawRoundedRect(shape, radius, radius);
    if (m_clickable && showsFocusRing(this))
        paintFocusRing(&painter, rect(), radius);

    const QColor textColor = levelTextColor(m_level);
    double x = m_height <= 24 ? 9 : 11;
    if (m_dotVisible) {
        painter.setBrush(withAlpha(textColor, m_pulseOpacity));
        painter.drawEllipse(QPointF(x + 3, middle), 3, 3);
        x += 13;
    }
    if (!textShown)
        return;
    painter.setFont(plainFont());
    painter.setPen(textColor);
    painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, m_text);
}

void Pill::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_clickable && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void Pill::keyPressEvent(QKeyEvent *event)
{
    if (m_clickable && isPressKey(event)) {
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Pill::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    m_hovered = true;
    update();
}

void Pill::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    m_hovered = false;
    update();
}

void Pill::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updatePulse();
}

void Pill::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updatePulse();
}

} // namespace ostra
