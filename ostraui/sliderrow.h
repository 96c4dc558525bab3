#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QSlider;

namespace ostra {

// A labelled horizontal slider with its value shown at the right.
class SliderRow : public QWidget
{
    Q_OBJECT
public:
    using Formatter = std::function<QString(int)>;

    SliderRow(const QString &label, int minimum, int maximum, int value, QWidget *parent = nullptr);

    int value() const;
    // The slider itself, for its single step, page step and range.
    QSlider *slider() const { return m_slider; }
    void setValue(int value);
    void setFormatter(const Formatter &formatter);
    void refreshValueText();

signals:
    void valueChanged(int v);

private:
    QLabel *m_label;
    QSlider *m_slider;
    QLabel *m_valueLabel;
    Formatter m_formatter;
};

} // namespace ostra
