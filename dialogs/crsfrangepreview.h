#pragma once

#include <QWidget>

namespace corvane {

// Three labelled bars (Reverse, Neutral, Forward) showing where the ESC's throttle values lie on
// the channel's 0..2047 range. The owner writes the values and calls update().
class CrsfRangePreview : public QWidget
{
    Q_OBJECT
public:
    explicit CrsfRangePreview(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    int reverse = 172;
    int neutral = 992;
    int forward = 1811;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace corvane
