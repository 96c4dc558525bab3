#include "ostraui/monogram.h"

#include <QPainter>

#include "ostraui/theme.h"

namespace ostra {

Monogram::Monogram(const QString &text, int tone, int size, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
    , m_tone(tone)
    , m_size(size)
    , m_radius(size < 52 ? 12 : size < 56 ? 15 : 16)
{
    setFixedSize(size, size);
}

QFont Monogram::textFont() const
{
    QFont font = uiFont(m_size < 40 ? 12 : m_size < 52 ? 13 : 18, 700);
    font.setLetterSpacing(QFont::PercentageSpacing, 98);
    return font;
}

void Monogram::setTextColor(const QColor &color)
{
    m_textColor = color;
    update();
}

void Monogram::setRadius(int px)
{
    m_radius = px;
    update();
}

void Monogram::paintEvent(QPaintEvent *)
{
    using namespace ThemeColors;
    QColor fill;
    QColor text;
    switch (m_tone) {
    case Danger: fill = dangerSoft; text = dangerText; break;
    case Info: fill = infoSoft; text = infoText; break;
    case Neutral: fill = neutralSoft; text = textMuted; break;
    default: fill = surface; text = ink; break;
    }
    if (m_textColor.isValid())
        text = m_textColor;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_tone == Plain ? QPen(borderLight, 1) : QPen(Qt::NoPen));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
    painter.setFont(textFont());
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter, m_text);
}

} // namespace ostra
