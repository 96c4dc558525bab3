#pragma once

#include <QWidget>

namespace corvane {

// One track with markers for the steering end points and the centre on the channel's 0..2047
// range. The owner writes the values and calls update().
class SteeringRangePreview : public QWidget
{
    Q_OBJECT
public:
    explicit SteeringRangePreview(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    int left = 0;
    int center = 1024;
    int right = 2047;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace corvane
