#pragma once

#include <QAbstractButton>

class QVariantAnimation;

namespace ostra {

// An on/off switch whose knob slides between the two ends.
class Toggle : public QAbstractButton
{
    Q_OBJECT
public:
    explicit Toggle(QWidget *parent = nullptr);

    double knob() const { return m_knob; }
    QSize sizeHint() const override;

protected:
    void checkStateSet() override;
    void nextCheckState() override;
    void paintEvent(QPaintEvent *event) override;

private:
    void animateKnob(bool on);

    double m_knob = 0;
    QVariantAnimation *m_animation;
};

} // namespace ostra
