#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

namespace corvane {

// Colour picker of the LED strip dialog: a hue ring around a saturation/value square. Every
// colour it holds or reports is reduced to the receiver's 3-3-2 colour grid (8 red, 8 green,
// 4 blue levels). Ring and square are cached images; painting only copies them.
class ColorWheelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ColorWheelWidget(QWidget *parent = nullptr);

    // Shows a colour (reduced to the grid) without reporting it.
    void setColor(const QColor &color);
    QColor color() const { return m_color; }
    double hue() const { return m_hue; }
    double saturation() const { return m_saturation; }
    double value() const { return m_value; }

    // The colour's nearest-below grid colour.
    static QColor reduced(const QColor &color);

signals:
    void colorChanged(const QColor &color);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void pickAt(const QPointF &point);
    void pickHueAt(const QPointF &point);
    void emitCurrentColor();
    void storeColor(const QColor &color);
    void drawRing(int side);
    void drawSquare();

    QImage m_ringImage;
    QImage m_squareImage;
    bool m_ringStale = true;
    bool m_squareStale = true;
    QColor m_color = QColor(0, 255, 0);
    int m_redLevel = 0;
    int m_greenLevel = 7;
    int m_blueLevel = 0;
    double m_hue = 0.33;
    double m_saturation = 1.0;
    double m_value = 1.0;
    int m_ringWidth = 20;
    int m_margin = 4;
    bool m_draggingRing = false;
    bool m_draggingSquare = false;
    QPointF m_centre;
    double m_outerRadius = 0.0;
    double m_innerRadius = 0.0;
    QRectF m_square;
};

} // namespace corvane
