#pragma once

#include <QDialog>

#include <functional>

#include "profiles/helicopterconfig.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QSlider;

namespace corvane {

// "Fly Settings": collective range, stick expo, dual rates with the default rate mode, and the
// throttle safety (arm at idle, soft start). Edits its own copy of the helicopter setup.
class HelicopterFlySettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit HelicopterFlySettingsDialog(QWidget *parent = nullptr);

    void setConfig(const HelicopterConfig &config);
    HelicopterConfig config() const { return m_config; }

private:
    struct SliderRow
    {
        QSlider *slider;
        QLabel *value;
    };

    SliderRow makeSliderRow(QGridLayout *grid, int row, const QString &title);
    QGridLayout *makeGroup(const QString &title, QLayout *into);
    // A percentage slider whose value is stored through `store`.
    SliderRow addPercentRow(QGridLayout *grid, int row, const QString &title, int minimum, int maximum,
                            const std::function<void(int)> &store);
    void enableRates(bool on);

    HelicopterConfig m_config;
    SliderRow m_idle{};
    SliderRow m_max{};
    SliderRow m_expoRoll{};
    SliderRow m_expoPitch{};
    SliderRow m_expoRudder{};
    QCheckBox *m_dualRates = nullptr;
    SliderRow m_beginner{};
    SliderRow m_sport{};
    SliderRow m_threeD{};
    QComboBox *m_defaultMode = nullptr;
    QCheckBox *m_armAtIdle = nullptr;
    QCheckBox *m_softStart = nullptr;
    SliderRow m_ramp{};
};

} // namespace corvane
