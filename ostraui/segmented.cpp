#include "ostraui/segmented.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

#include "ostraui/alphacolor.h"
#include "ostraui/focusring.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"

namespace ostra {

Segmented::Segmented(const QStringList &options, QWidget *parent)
    : QWidget(parent)
    , m_slide(new QVariantAnimation(this))
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_slide->setEasingCurve(motionCurve());
    connect(m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_thumbX = value.toDouble();
        update();
    });
    setOptions(options);
}

void Segmented::setOptions(const QStringList &options)
{
    m_options = options;
    m_enabled = QList<bool>(options.size(), true);
    if (m_current >= options.size())
        m_current = 0;
    m_thumbX = segmentRect(m_current).left();
    updateGeometry();
    update();
}

void Segmented::setCurrentIndex(int index, bool animate)
{
    if (index < 0 || index >= m_options.size())
        return;
    const bool changed = index != m_current;
    m_current = index;
    m_slide->stop();
    const double target = segmentRect(index).left();
    if (animate && isVisible() && animationsEnabled()) {
        m_slide->setDuration(380);
        m_slide->setStartValue(m_thumbX);
        m_slide->setEndValue(target);
        m_slide->start();
    } else {
        m_thumbX = target;
        update();
    }
    if (changed)
        emit currentIndexChanged(index);
}

void Segmented::setOptionEnabled(int index, bool enabled)
{
    if (index < 0 || index >= m_enabled.size())
        return;
    m_enabled[index] = enabled;
    update();
}

bool Segmented::isOptionEnabled(int index) const
{
    return index >= m_enabled.size() || (index >= 0 && m_enabled.at(index));
}

QRectF Segmented::segmentRect(int index) const
{
    const double w = (width() - 8.0) / std::max<qsizetype>(m_options.size(), 1);
    return QRectF(4 + index * w, 4, w, height() - 8);
}

int Segmented::indexAt(const QPoint &pos) const
{
    for (int i = 0; i < m_options.size(); ++i) {
        if (segmentRect(i).contains(pos))
            return i;
    }
    return -1;
}

QSize Segmented::sizeHint() const
{
    const QFontMetrics metrics(uiFont(14, 600));
    int width = 8;
    bool twoLines = false;
    for (const QString &option : m_options) {
        width += metrics.horizontalAdvance(option.section(QLatin1Char('\n'), 0, 0)) + 32;
        twoLines = twoLines || option.contains(QLatin1Char('\n'));
    }
    return QSize(width, twoLines ? 60 : 52);
}

QSize Segmented::minimumSizeHint() const
{
    const QSize hint = sizeHint();
    return QSize(std::min(hint.width(), 240), hint.height());
}

void Segmented::paintEvent(QPaintEvent *)
{
    using namespace ThemeColors;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(windowBg);
    painter.drawRoundedRect(QRectF(rect()), 14, 14);
    if (m_options.isEmpty())
        return;

    QRectF thumbRect = segmentRect(m_current);
    thumbRect.moveLeft(m_thumbX);
    if (isEnabled()) {
        paintShadow(&painter, thumbRect, 11, 1, 2, 0, withAlpha(shadow, 0.08));
        paintShadow(&painter, thumbRect, 11, 6, 14, -6, withAlpha(shadow, 0.2));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDarkTheme() ? borderHover : thumb);
    painter.drawRoundedRect(thumbRect, 11, 11);

    for (int i = 0; i < m_options.size(); ++i) {
        const QRectF seg = segmentRect(i);
        const bool enabled = isEnabled() && isOptionEnabled(i);
        QColor color = textSecondary;
        if (!enabled)
            color = textDisabled;
        else if (i == m_current)
            color = ink;
        else if (i == m_hoverIndex)
            color = textHover;

        const QString &option = m_options.at(i);
        const int lineBreak = option.indexOf(QLatin1Char('\n'));
        painter.setPen(color);
        if (lineBreak < 0) {
            painter.setFont(uiFont(14, 600));
            painter.drawText(seg, Qt::AlignCenter, option);
            continue;
        }
        const double centre = seg.center().y();
        painter.setFont(uiFont(14.5, 600));
        painter.drawText(QRectF(seg.left(), seg.top(), seg.width(), centre + 2 - seg.top()),
                         Qt::AlignHCenter | Qt::AlignBottom, option.left(lineBreak));
        painter.setFont(uiFont(12, 400));
        painter.setPen(enabled ? textMuted : textDisabled);
        painter.drawText(QRectF(seg.left(), centre + 3, seg.width(), seg.bottom() - centre - 3),
                         Qt::AlignHCenter | Qt::AlignTop, option.mid(lineBreak + 1));
    }
    if (showsFocusRing(this))
        paintFocusRing(&painter, rect(), 14);
}

void Segmented::mousePressEvent(QMouseEvent *event)
{
    const int i = indexAt(event->position().toPoint());
    if (i < 0 || !isEnabled() || !isOptionEnabled(i))
        return;
    setCurrentIndex(i, true);
}

void Segmented::keyPressEvent(QKeyEvent *event)
{
    int step = 0;
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Up)
        step = -1;
    else if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Down)
        step = 1;
    if (step == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    for (int i = m_current + step; i >= 0 && i < m_options.size(); i += step) {
        if (isOptionEnabled(i)) {
            setCurrentIndex(i, true);
            break;
        }
    }
}

void Segmented::mouseMoveEvent(QMouseEvent *event)
{
    const int i = indexAt(event->position().toPoint());
    if (i != m_hoverIndex) {
        m_hoverIndex = i;
        update();
    }
}

void Segmented::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    m_hoverIndex = -1;
    update();
}

void Segmented::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_slide->stop();
    m_thumbX = segmentRect(m_current).left();
}

} // namespace ostra
