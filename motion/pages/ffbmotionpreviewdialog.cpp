#include "motion/pages/ffbmotionpreviewdialog.h"

#include "bridge/corvanecontroller.h"
#include "bridge/motiontelemetrysender.h"
#include "motion/pages/previewactuators.h"
#include "motion/pages/previewgball.h"
#include "motion/pages/previewheading.h"
#include "motion/pages/previewrig3d.h"
#include "motion/pages/previewwheel.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/passbuilder.h"
#include "ostraui/theme.h"

#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// The simulated wheel integrates with this fixed step whatever the real time between ticks.
constexpr float Step = 0.033f;

QString statusDot(bool on)
{
    return QStringLiteral("<span style='color:%1'>\u25cf</span>")
        .arg(ostra::colorHex(on ? ostra::ThemeColors::successAccent : ostra::ThemeColors::textMuted));
}

} // namespace

FfbMotionPreviewDialog::FfbMotionPreviewDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("FFB and Motion Preview"));
    setMinimumWidth(820);
    auto *layout = new QVBoxLayout(this);
    // The chrome's title stands 24 px in: the content begins under it.
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    auto *intro = new QLabel(tr("What the car's telemetry does to the steering wheel and a 3DOF motion system, live. "
                                "Start transmission with the car on; no wheel or rig needed."), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *columns = new QHBoxLayout;
    columns->setSpacing(16);
    layout->addLayout(columns, 1);

    auto *left = new QVBoxLayout;
    left->setSpacing(10);
    left->addWidget(ostra::makeRoleLabel(tr("Steering wheel (FFB)"), "h2", this));
    m_wheel = new PreviewWheel(this);
    m_wheel->setMinimumSize(230, 230);
    left->addWidget(m_wheel, 1);
    m_forceLabel = new QLabel(this);
    m_forceLabel->setObjectName(QStringLiteral("forceLabel"));
    m_forceLabel->setFont(ostra::monoFont(12.5, 400));
    left->addWidget(m_forceLabel);
    m_wheelModeLabel = ostra::makeRoleLabel(QString(), "muted", this);
    m_wheelModeLabel->setObjectName(QStringLiteral("wheelModeLabel"));
    m_wheelModeLabel->setWordWrap(true);
    left->addWidget(m_wheelModeLabel);
    columns->addLayout(left, 2);

    auto *right = new QVBoxLayout;
    right->setSpacing(10);
    right->addWidget(ostra::makeRoleLabel(tr("Motion system (3DOF)"), "h2", this));
    m_rig = new PreviewRig3D(this);
    m_rig->setMinimumSize(380, 300);
    right->addWidget(m_rig, 3);
    auto *small = new QHBoxLayout;
    small->setSpacing(10);
    m_heading = new PreviewHeading(this);
    m_gBall = new PreviewGBall(this);
    m_actuators = new PreviewActuators(this);
    for (QWidget *widget : { static_cast<QWidget *>(m_heading), static_cast<QWidget *>(m_gBall), static_cast<QWidget *>(m_actuators) }) {
        widget->setMinimumSize(150, 130);
        small->addWidget(widget);
    }
    right->addLayout(small, 2);
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setTextFormat(Qt::RichText);
    right->addWidget(m_statusLabel);
    QLabel *explain = ostra::makeRoleLabel(
        tr("The rig follows the car's pitch and roll plus the G-forces (accelerating tilts you back, a turn leans "
           "you outwards), mixed onto the four actuators like the QOR 3DOF. Your motion software's settings "
           "decide how far the real rig moves."),
        "muted", this);
    explain->setWordWrap(true);
    right->addWidget(explain);
    columns->addLayout(right, 3);

    if (m_controller) {
        connect(m_controller, &CorvaneController::ffbLevelReceived, this, [this](float ffb) { m_ffbLevel = ffb; });
        // The sender's filter tick runs for the preview even while UDP output is off.
        if (MotionTelemetrySender *sender = m_controller->motionTelemetrySender())
            sender->addUser();
    }

    m_updateTimer = new QTimer(this);
    m_updateTimer->setInterval(33);
    connect(m_updateTimer, &QTimer::timeout, this, &FfbMotionPreviewDialog::updatePreview);
    m_updateTimer->start();
    updatePreview();
    ostra::applyDialogChrome(this, QString());
    // The chrome keeps only the minimum width; below their own heights the previews would overlap.
    setMinimumHeight(minimumSizeHint().height());

    // A widget's first paint makes the glyphs of its fonts and lays out its text, which
    // together make the window's first paint several times as long as the next: each painted
    // once ahead, in groups, they leave it only the drawing.
    m_firstPaint = new ostra::PassBuilder(this);
    QList<QPointer<QWidget>> widgets;
    for (QWidget *widget : findChildren<QWidget *>())
        widgets.append(widget);
    constexpr int Groups = 3;
    for (int group = 0; group < Groups; ++group) {
        m_firstPaint->add([widgets, group] {
            for (qsizetype i = group; i < widgets.size(); i += Groups) {
                QWidget *widget = widgets[i];
                if (!widget || widget->isHidden() || widget->size().isEmpty())
                    continue;
                QImage scratch(widget->size(), QImage::Format_ARGB32_Premultiplied);
                widget->render(&scratch, QPoint(), QRegion(), QWidget::DrawWindowBackground);
            }
        });
    }
}

FfbMotionPreviewDialog::~FfbMotionPreviewDialog()
{
    if (m_controller) {
        if (MotionTelemetrySender *sender = m_controller->motionTelemetrySender())
            sender->removeUser();
    }
}

std::array<float, 4> FfbMotionPreviewDialog::actuatorMix(float pitch, float roll, float heave)
{
    const float p = pitch / 10.0f;
    const float r = roll / 10.0f;
    const float h = heave / 2.0f;
    return { std::clamp(p + r + h, -1.0f, 1.0f), std::clamp(p - r + h, -1.0f, 1.0f),
             std::clamp(-p + r + h, -1.0f, 1.0f), std::clamp(-p - r + h, -1.0f, 1.0f) };
}

void FfbMotionPreviewDialog::updatePreview()
{
    if (!m_controller)
        return;
    updateWheel();
    updateMotion();
}

void FfbMotionPreviewDialog::updateWheel()
{
    const float ffb = m_ffbLevel;
    const float strength = m_controller->wheelFfbStrength();
    const float centering = m_controller->wheelFfbCentering();
    const float force = m_controller->shapeFfbForce(ffb);

    float angle = 0.0f;
    if (!m_controller->isWheelBaseConnected() || !m_controller->isWheelFfbAvailable()) {
        // Hands off: the force turns the wheel against the centering spring, damped.
        const float target = std::clamp(force / std::max(centering, 0.15f) * 180.0f, -450.0f, 450.0f);
        m_simVelocity += ((target - m_simAngle) * 60.0f - m_simVelocity * 12.0f) * Step;
        m_simAngle += m_simVelocity * Step;
        angle = m_simAngle;
        m_wheelModeLabel->setText(tr("No force-feedback wheel (a gamepad has none): simulated with hands off. The force "
                                     "turns it against the centering spring (Strength %1%, Centering %2%).")
                                      .arg(std::lround(strength * 100.0f))
                                      .arg(std::lround(centering * 100.0f)));
    } else {
        angle = m_controller->steering() * 450.0f;
        m_wheelModeLabel->setText(m_controller->wheelFfbEnabled()
                                      ? tr("Your wheel: turns as you steer. FFB is on.")
                                      : tr("Your wheel: turns as you steer. FFB is off (Force feedback \u2192 Enable)."));
    }
    const float frameRate = m_controller->motionTelemetryRate();
    const bool ffbLive = m_controller->receiverFfbState() == ReceiverFfbActive && frameRate > 0.0f;
    m_wheel->setValues(angle, ffb, force, ffbLive);
    m_wheel->update();
    m_forceLabel->setText(tr("Force %1%2% \u2192 at the wheel %3%\nG-force frames %4/s")
                              .arg(ffb > 0.005f ? QStringLiteral("+") : QString())
                              .arg(std::lround(ffb * 100.0f))
                              .arg(std::lround(force * 100.0f))
                              .arg(std::lround(frameRate)));
}

void FfbMotionPreviewDialog::updateMotion()
{
    MotionTelemetrySender *sender = m_controller->motionTelemetrySender();
    if (!sender)
        return;
    const MotionTelemetrySender::PreviewState s = sender->previewState();
    const bool anyLive = s.gForcesLive || s.attitudeLive;
    // 1 g forwards tilts the rig back by 6°, 1 g sideways leans it outwards by 6°, on top of the car's attitude.
    const float pitch = std::clamp(6.0f * s.lon + s.pitchDeg, -10.0f, 10.0f);
    const float roll = std::clamp(s.rollDeg - 6.0f * s.lat, -10.0f, 10.0f);
    const float heave = std::clamp(2.0f * s.heaveVelocity, -1.0f, 1.0f);
    const std::array<float, 4> positions = actuatorMix(pitch, roll, heave);

    m_rig->setValues(positions, m_wheel->angle(), pitch, roll, heave, anyLive);
    m_rig->update();
    m_heading->setValues(s.yawDeg, s.attitudeLive);
    m_heading->update();
    m_gBall->setValues(s.lat, s.lon, heave, s.gForcesLive);
    m_gBall->update();
    m_actuators->setValues(positions, anyLive);
    m_actuators->update();

    // The host is typed by the user into a line that is shown as rich text.
    const QString stream = sender->isEnabled() ? tr("on \u2192 %1:%2").arg(sender->host().toHtmlEscaped()).arg(sender->port())
                                               : tr("off (preview only)");
    m_statusLabel->setText(tr("%1 Attitude %2   %3 G-forces %4   %5 Rig stream %6")
                               .arg(statusDot(s.attitudeLive), s.attitudeLive ? tr("live") : tr("no data"),
                                    statusDot(s.gForcesLive), s.gForcesLive ? tr("live") : tr("no data"),
                                    statusDot(sender->isEnabled()), stream));
}

} // namespace corvane
