#pragma once

#include <QDialog>
#include <QPointer>

#include <array>

class QLabel;
class QTimer;

namespace ostra {
class PassBuilder;
}

namespace corvane {

class CorvaneController;
class PreviewActuators;
class PreviewGBall;
class PreviewHeading;
class PreviewRig3D;
class PreviewWheel;

// Shows live what the car's telemetry does to the steering wheel and to a 3-DOF rig with four
// actuators, without either being connected. Keeps the motion sender's filter running while open.
class FfbMotionPreviewDialog : public QDialog
{
    Q_OBJECT
public:
    FfbMotionPreviewDialog(CorvaneController *controller, QWidget *parent = nullptr);
    ~FfbMotionPreviewDialog() override;

    // Rig pitch and roll in degrees (each within ±10) and heave -1..1 mixed onto FL, FR, RL, RR.
    static std::array<float, 4> actuatorMix(float pitch, float roll, float heave);
    // Its previews' and texts' first paints, made ahead of showing it.
    ostra::PassBuilder *firstPaintParts() const { return m_firstPaint; }

public slots:
    void updatePreview();

private:
    void updateWheel();
    void updateMotion();

    // Guarded: the window that owns the controller may take it down while the preview is open.
    QPointer<CorvaneController> m_controller;
    float m_ffbLevel = 0.0f;
    float m_simAngle = 0.0f;
    float m_simVelocity = 0.0f;
    PreviewWheel *m_wheel = nullptr;
    PreviewRig3D *m_rig = nullptr;
    PreviewHeading *m_heading = nullptr;
    PreviewGBall *m_gBall = nullptr;
    PreviewActuators *m_actuators = nullptr;
    QLabel *m_forceLabel = nullptr;
    QLabel *m_wheelModeLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QTimer *m_updateTimer = nullptr;
    ostra::PassBuilder *m_firstPaint = nullptr;
};

} // namespace corvane
