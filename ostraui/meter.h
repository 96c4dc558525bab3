#pragma once

#include <QColor>
#include <QWidget>

namespace ostra {

// A horizontal level bar, from the left edge or, bipolar, from the centre.
class Meter : public QWidget
{
    Q_OBJECT
public:
    explicit Meter(QWidget *parent = nullptr, const QColor &color = QColor());

    double value() const { return m_value; }
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    void setValue(double value);
    void setBipolar(bool bipolar);
    void setCenterLine(bool on, const QColor &color);
    void setThickness(int px);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
    QColor m_centerLineColor;
    bool m_bipolar = false;
    bool m_centerLine = false;
    double m_value = 0;
    int m_thickness = 10;
};

} // namespace ostra
