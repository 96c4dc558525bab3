#pragma once

#include <QDialog>

#include <array>

#include "profiles/helicopterconfig.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace corvane {

class CurvePreviewWidget;

// "Curves": the pitch curve of the collective (CH3) and the throttle curve of the motor channel,
// five points each, with the motor channel. Edits its own copy of the helicopter setup.
class HelicopterCurvesDialog : public QDialog
{
    Q_OBJECT
public:
    explicit HelicopterCurvesDialog(QWidget *parent = nullptr);

    void setConfig(const HelicopterConfig &config);
    HelicopterConfig config() const { return m_config; }

private:
    struct CurveGroup
    {
        QCheckBox *enable = nullptr;
        std::array<QSpinBox *, 5> spins{};
        CurvePreviewWidget *preview = nullptr;
    };

    QWidget *buildCurveGroup(const QString &title, const QString &description, CurveGroup &group,
                             HeliCurve HelicopterConfig::Fly::*curve, QWidget *extra);
    void loadGroup(CurveGroup &group, const HeliCurve &curve);

    HelicopterConfig m_config;
    CurveGroup m_pitch;
    CurveGroup m_throttle;
    QComboBox *m_motorChannel = nullptr;
};

} // namespace corvane
