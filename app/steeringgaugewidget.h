#pragma once

#include <QString>
#include <QWidget>

namespace corvane {

// The round gauge on the car page: a track, an arc from the top that follows the steering
// position, the wheel angle in degrees and a caption. Repaints only when what it shows changes.
class SteeringGaugeWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SteeringGaugeWidget(QWidget *parent = nullptr);
    ~SteeringGaugeWidget() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    float value() const { return m_value; }
    float degrees() const { return m_degrees; }
    bool hasDegrees() const { return m_hasDegrees; }
    // The number in the middle, as painted.
    QString numberText() const;

public slots:
    void setValue(float value);
    void setValue(float value, float degrees);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_value = 0.0f;
    float m_degrees = 0.0f;
    bool m_hasDegrees = false;
    QString m_label;
};

} // namespace corvane
