#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;

namespace corvane {

// The dashboard's speed model and display, kept in the settings group "dashboard".
struct DashboardSettings
{
    bool useMph = false;
    int topSpeedKmh = 120; // always km/h, whatever is shown
    int accel = 45;        // km/h per second at full throttle from standstill
    int decel = 90;        // km/h per second at full brake
};

// "Dashboard Settings": unit, top speed, acceleration and deceleration of the dashboard.
class DashboardSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    // The parent is the dashboard window, or the main window when snapshots are taken.
    DashboardSettingsDialog(const DashboardSettings &settings, QWidget *parent = nullptr);

    DashboardSettings settings() const { return m_settings; }

    static constexpr double KmhToMph = 0.621371;

public slots:
    void onUnitChanged(int index);
    void onAccept();

private:
    DashboardSettings m_settings;
    bool m_showingMph;
    QComboBox *m_unitCombo;
    QSpinBox *m_topSpeedSpin;
    QLabel *m_unitLabel;
    QSlider *m_accelSlider;
    QLabel *m_accelLabel;
    QSlider *m_decelSlider;
    QLabel *m_decelLabel;
};

} // namespace corvane
