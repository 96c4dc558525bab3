#pragma once

#include <QWidget>

namespace corvane {

// The helicopter's four control inputs at a glance: a round cyclic field with the stick dot
// (roll, pitch), the collective bar, and read-outs of collective and yaw. It only stores,
// clamps and draws what the page feeds it.
class HeliControlGaugeWidget : public QWidget
{
    Q_OBJECT
public:
    explicit HeliControlGaugeWidget(QWidget *parent = nullptr);

    float roll() const { return m_roll; }
    float pitch() const { return m_pitch; }
    float yaw() const { return m_yaw; }
    float collective() const { return m_collective; }
    // The caption under the cyclic field and the two read-outs beside the collective bar; "—"
    // while no values are shown.
    QString cyclicCaption() const;
    QString collectiveText() const;
    QString yawText() const;
    // Whether there are values to show (until told otherwise, there are). Without them the
    // gauge shows no stick dot, no collective bar and "—" in its read-outs.
    void setValuesShown(bool shown);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void setRoll(float value);
    void setPitch(float value);
    void setYaw(float value);
    void setCollective(float value);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Stores the clamped value and repaints only when it changed.
    void store(float &field, float value, float low);

    float m_roll = 0.0f;
    float m_pitch = 0.0f;
    float m_yaw = 0.0f;
    float m_collective = 0.0f;
    bool m_valuesShown = true;
};

} // namespace corvane
