#include "dialogs/crsfrangepreview.h"

#include <QPainter>

#include "ostraui/theme.h"

namespace corvane {

namespace {

constexpr int RowHeight = 22;
constexpr int TrackLeft = 62;
// Label column on the left, number column on the right.
constexpr int TrackInset = 114;

} // namespace

CrsfRangePreview::CrsfRangePreview(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(60);
}

QSize CrsfRangePreview::sizeHint() const
{
    return {400, 80};
}

QSize CrsfRangePreview::minimumSizeHint() const
{
    return {200, 60};
}

void CrsfRangePreview::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPointSize(8);
    p.setFont(f);
    const int w = width();
    const int trackLength = w - TrackInset;
    struct Row
    {
        const char *label;
        int value;
        QColor color;
        // The number is text: the bar's light blue and green are too pale to read on the card,
        // so it takes the theme's text colour of the same hue.
        QColor textColor;
    };
    const Row rows[] = {{"Reverse", reverse, QColor(229, 38, 43), ostra::ThemeColors::dangerText},
                        {"Neutral", neutral, QColor(76, 194, 255), ostra::ThemeColors::infoText},
                        {"Forward", forward, QColor(18, 166, 106), ostra::ThemeColors::successText}};
    for (int i = 0; i < 3; ++i) {
        const Row &row = rows[i];
        const int y = RowHeight * i;
        p.setPen(ostra::ThemeColors::textMuted);
        p.drawText(QRect(2, y, 60, RowHeight), Qt::AlignLeft | Qt::AlignVCenter, QLatin1String(row.label));
        p.setPen(Qt::NoPen);
        p.setBrush(ostra::ThemeColors::hairline);
        p.drawRoundedRect(QRect(TrackLeft, y + 8, trackLength, 6), 3, 3);
        p.setBrush(row.color);
        const int fill = int(float(trackLength) * (float(row.value) / 2047.0f));
        p.drawRoundedRect(QRect(TrackLeft, y + 8, fill, 6), 3, 3);
        p.setPen(row.textColor);
        // Right-aligned 2 px inside the widget: aligned on its very edge the last digit is clipped.
        p.drawText(QRect(w - 50, y, 48, RowHeight), Qt::AlignRight | Qt::AlignVCenter, QString::number(row.value));
    }
}

} // namespace corvane
