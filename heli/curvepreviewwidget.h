#pragma once

#include <QWidget>

#include <array>

namespace corvane {

// A small drawing of a five-point curve over stick positions 0, 25, 50, 75 and 100 %.
class CurvePreviewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CurvePreviewWidget(QWidget *parent = nullptr);

    std::array<float, 5> points() const { return m_points; }
    void setPoints(const std::array<float, 5> &points);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::array<float, 5> m_points{{0.0f, 0.25f, 0.5f, 0.75f, 1.0f}};
};

} // namespace corvane
