#pragma once

#include <QDialog>

#include <array>

namespace corvane {

class CorvaneController;

// Placeholder until Receiver setup pages is built.
class RadioCalibrationDialog : public QDialog
{
    Q_OBJECT
public:
    RadioCalibrationDialog(CorvaneController *controller, QWidget *parent = nullptr);

    // Throttle maximum, neutral and reverse, steering left, centre and right (CRSF values).
    std::array<int, 6> results() const { return m_results; }
    void setResults(const std::array<int, 6> &results) { m_results = results; }

private:
    CorvaneController *m_controller;
    std::array<int, 6> m_results{};
};

} // namespace corvane
