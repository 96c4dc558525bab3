#pragma once

#include <QColor>
#include <QWidget>

class QVariantAnimation;

namespace ostra {

// A vertical level bar filling from the bottom, with an optional marker line.
class VMeter : public QWidget
{
    Q_OBJECT
public:
    explicit VMeter(QWidget *parent = nullptr, int width = 10);

    double value() const { return m_target; }
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    void setValue(double value);
    void setTrackColor(const QColor &color);
    void setRadius(int px);
    void setPadding(int px);
    void setMarker(double position, const QColor &color);
    void setAnimated(bool animated) { m_animated = animated; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
    QColor m_trackColor;
    QColor m_markerColor;
    double m_target = 0;
    double m_shown = 0;
    double m_marker = -1;
    int m_radius;
    int m_padding = 0;
    bool m_animated = false;
    QVariantAnimation *m_animation = nullptr;
};

} // namespace ostra
