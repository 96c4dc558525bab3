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
    // The caption under the cyclic field and the two read-outs beside the collective bar; an
    // input without a connected device reads "—".
    QString cyclicCaption() const;
    QString collectiveText() const;
    QString yawText() const;
    // Which inputs have a connected device (all of them until told otherwise). A control
    // without one shows no value: no stick dot, no collective bar, "—" in its read-out.
    void setInputsConnected(bool cyclic, bool collective, bool yaw);

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
    bool m_cyclicConnected = true;
    bool m_collectiveConnected = true;
    bool m_yawConnected = true;
};

} // namespace corvane
