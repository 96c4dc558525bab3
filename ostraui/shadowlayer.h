#pragma once

#include <QColor>
#include <QWidget>

class QPainter;

namespace ostra {

// Paints the shadows of every card of its container, beneath them, in one pass.
class ShadowLayer : public QWidget
{
    Q_OBJECT
public:
    explicit ShadowLayer(QWidget *container);
    bool eventFilter(QObject *watched, QEvent *event) override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

ShadowLayer *shadowLayerFor(QWidget *container);
void paintShadow(QPainter *painter, const QRectF &shape, double radius, double offsetY, double blur,
                 double spread, const QColor &color);

} // namespace ostra
