#pragma once

#include <QDialog>

#include <array>

class QGridLayout;
class QLabel;
class QLayout;
class QPushButton;
class QSlider;
class QTimer;

namespace corvane {

class CorvaneController;
class FfbBar;

// "Wheel Force Feedback": compatibility check, enable, strength, centering and test pushes. The
// dialog holds no settings of its own: everything it changes lives in the controller, and force
// feedback switched on here stays on after it closes.
class WheelFfbDialog : public QDialog
{
    Q_OBJECT
public:
    explicit WheelFfbDialog(CorvaneController *controller, QWidget *parent = nullptr);

    // The receiver's car-motion state, with rate and loss while active.
    void updateReceiverFfbStatus();

public slots:
    void runCheck();
    void onEnableToggled(bool on);
    void onStrengthChanged(int pct);
    void onCenteringChanged(int pct);
    // A test push of `level` (-1..1) scaled by the strength slider, ended by the pulse timer.
    void pulse(float level);

    // Closing by any path ends a test push still on the wheel.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    static constexpr int CheckCount = 5;

    void setRow(int index, bool ok, const QString &text);
    void push(float level);
    void reloadSliders();
    QSlider *addSliderRow(QWidget *page, QGridLayout *grid, const QString &name, int value, QLabel **percent);

    CorvaneController *m_controller;
    QLabel *m_verdict = nullptr;
    std::array<QLabel *, CheckCount> m_rows{};
    QLabel *m_receiverStatus = nullptr;
    QPushButton *m_enableButton = nullptr;
    QPushButton *m_testLeft = nullptr;
    QPushButton *m_testRight = nullptr;
    QSlider *m_strength = nullptr;
    QLabel *m_strengthPercent = nullptr;
    QSlider *m_centering = nullptr;
    QLabel *m_centeringPercent = nullptr;
    FfbBar *m_forceBar = nullptr;
    QTimer *m_pulseTimer = nullptr;
};

} // namespace corvane
