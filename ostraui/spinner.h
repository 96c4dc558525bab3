#pragma once

#include <QColor>
#include <QWidget>

class QVariantAnimation;

namespace ostra {

// A small rotating arc that tells work is under way.
class Spinner : public QWidget
{
    Q_OBJECT
public:
    explicit Spinner(QWidget *parent = nullptr, int size = 11);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_size;
    QColor m_color;
    double m_angle = 0;
    QVariantAnimation *m_rotation = nullptr;
};

} // namespace ostra
