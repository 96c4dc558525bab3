#include "ostraui/elidingcombo.h"

#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace ostra {

int ElidingCombo::widthFor(int textWidth) const
{
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    const QSize content(textWidth, fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_ComboBox, &opt, content, this).width();
}

void ElidingCombo::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    if (currentIndex() < 0 && !placeholderText().isEmpty()) {
        opt.palette.setBrush(QPalette::ButtonText, opt.palette.placeholderText());
        opt.currentText = placeholderText();
    }
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    opt.currentText = fontMetrics().elidedText(opt.currentText, Qt::ElideRight, field.width());
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

} // namespace ostra
