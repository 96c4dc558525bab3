#include "ostraui/sliderrow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>

#include "ostraui/theme.h"

namespace ostra {

SliderRow::SliderRow(const QString &label, int minimum, int maximum, int value, QWidget *parent)
    : QWidget(parent)
    , m_label(new QLabel(label, this))
    , m_slider(new QSlider(Qt::Horizontal, this))
    , m_valueLabel(new QLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    m_label->setFont(uiFont(14, 500));
    m_label->setMinimumWidth(110);
    m_slider->setRange(minimum, maximum);
    m_slider->setValue(value);
    m_slider->setCursor(Qt::PointingHandCursor);
    m_valueLabel->setFont(monoFont(13, 400));
    m_valueLabel->setFixedWidth(72);
    m_valueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    layout->addWidget(m_label);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_valueLabel);

    connect(m_slider, &QSlider::valueChanged, this, [this](int v) {
        refreshValueText();
        emit valueChanged(v);
    });
    refreshValueText();
}

int SliderRow::value() const
{
    return m_slider->value();
}

void SliderRow::setValue(int value)
{
    m_slider->setValue(value);
}

void SliderRow::setFormatter(const Formatter &formatter)
{
    m_formatter = formatter;
    refreshValueText();
}

void SliderRow::refreshValueText()
{
    const int v = m_slider->value();
    m_valueLabel->setText(m_formatter ? m_formatter(v) : QString::number(v));
}

} // namespace ostra
