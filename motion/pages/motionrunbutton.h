#pragma once

#include <QPushButton>

namespace corvane {

// The Run test button: a push button whose background fills from the left as the test runs.
class MotionRunButton : public QPushButton
{
    Q_OBJECT
public:
    explicit MotionRunButton(const QString &text, QWidget *parent = nullptr);

    double progress() const { return m_progress; }
    // 0..1; repaints only when the fill changes.
    void setProgress(double progress);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_progress = 0;
};

} // namespace corvane
