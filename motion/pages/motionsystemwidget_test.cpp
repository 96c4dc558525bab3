// The motion test card: the test targets, their options and axis rows, and the run button.
#include "motion/pages/motionsystemwidget.h"

#include "motion/motionsystemcontroller.h"
#include "motion/pages/motionrunbutton.h"
#include "motion/pages/motionsystemparts.h"
#include "ostraui/card.h"
#include "ostraui/dot.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/toggle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace corvane {

using namespace motionsystem;

namespace {

// A hidden panel of the test card that opens with a muted explanation.
QVBoxLayout *makeTestPanel(QWidget *&panel, QWidget *card, int spacing, const QString &intro)
{
    panel = new QWidget(card);
    panel->hide();
    QVBoxLayout *layout = panelLayout(panel, spacing);
    layout->addWidget(makeMutedText(intro, panel));
    return layout;
}

} // namespace

QWidget *MotionSystemWidget::buildTestCard()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(16);
    content->addLayout(ostra::makeHeading(tr("Motion test"), tr("Run one motion pattern to check the platform")));

    m_targetSelector = new ostra::Segmented(QStringList(), card);
    m_targetSelector->setObjectName(QStringLiteral("testTargets"));
    connect(m_targetSelector, &ostra::Segmented::currentIndexChanged, this, [this](int i) { onTestTargetChanged(i); });
    content->addWidget(m_targetSelector);

    m_optionsPanel = new QWidget(card);
    QVBoxLayout *options = panelLayout(m_optionsPanel, 12);
    m_travelRow = makeNamedRow(tr("Travel"), 5, 100, 30, "travelRow",
                               [](int v) { return tr("%1 %").arg(v); }, m_optionsPanel);
    m_speedRow = makeNamedRow(tr("Speed"), 10, 300, 50, "speedRow",
                              [](int v) { return tr("%1 Hz").arg(v / 100.0, 0, 'f', 2); }, m_optionsPanel);
    m_speedRow->setToolTip(tr("Oscillation frequency of the test pattern"));
    m_durationRow = makeNamedRow(tr("Duration"), 1, 30, 5, "durationRow",
                                 [](int v) { return tr("%1 s").arg(v); }, m_optionsPanel);
    for (ostra::SliderRow *row : { m_travelRow, m_speedRow, m_durationRow })
        options->addWidget(row);
    content->addWidget(m_optionsPanel);

    QVBoxLayout *full = makeTestPanel(m_fullPanel, card, 10,
                                      tr("Overall mechanical test: cycles every actuator through gentle full sweeps, punchy "
                                         "short-throws, all-together passes and the platform's mixed motions (traction loss "
                                         "on 2DOF, pitch/roll on 3/5DOF) for the selected time. Release aborts."));
    m_totalTimeRow = makeNamedRow(tr("Total time"), 1, 30, 5, "totalTimeRow",
                                  [](int v) { return tr("%1 min").arg(v); }, m_fullPanel);
    full->addWidget(m_totalTimeRow);
    content->addWidget(m_fullPanel);

    QVBoxLayout *haptics = makeTestPanel(m_hapticsPanel, card, 12,
                                         tr("How in-game haptics will feel: a small, fast vibration of all actuators "
                                            "around park. Pick a preset or set your own."));
    auto *presets = new QHBoxLayout;
    presets->setSpacing(8);
    haptics->addLayout(presets);
    m_amplitudeRow = makeNamedRow(tr("Amplitude"), 1, 50, 5, "amplitudeRow",
                                  [](int v) { return tr("%1 mm").arg(v / 10.0, 0, 'f', 1); }, m_hapticsPanel);
    m_frequencyRow = makeNamedRow(tr("Frequency"), 5, 80, 30, "frequencyRow",
                                  [](int v) { return tr("%1 Hz").arg(v); }, m_hapticsPanel);
    m_hapticDurationRow = makeNamedRow(tr("Duration"), 1, 30, 3, "hapticDurationRow",
                                       [](int v) { return tr("%1 s").arg(v); }, m_hapticsPanel);
    for (const MotionHapticPreset &preset : hapticPresets()) {
        auto *button = new QPushButton(tr(preset.label), m_hapticsPanel);
        button->setObjectName(QStringLiteral("preset_%1").arg(QLatin1String(preset.label)));
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, [this, preset] {
            m_amplitudeRow->setValue(preset.amplitude);
            m_frequencyRow->setValue(preset.hz);
        });
        presets->addWidget(button, 1);
    }
    for (ostra::SliderRow *row : { m_amplitudeRow, m_frequencyRow, m_hapticDurationRow })
        haptics->addWidget(row);
    content->addWidget(m_hapticsPanel);

    QVBoxLayout *free = makeTestPanel(m_freePanel, card, 10,
                                      tr("Direct actuator control \u2014 position in mm. Speed and smoothness follow "
                                         "the platform settings."));
    auto *targetRow = new QHBoxLayout;
    targetRow->setSpacing(12);
    auto *targetLabel = new QLabel(tr("Test target"), m_freePanel);
    targetLabel->setFont(ostra::uiFont(14, 500));
    targetLabel->setMinimumWidth(110);
    targetRow->addWidget(targetLabel);
    m_freeActuatorSelector = new ostra::Segmented({ tr("All") }, m_freePanel);
    m_freeActuatorSelector->setObjectName(QStringLiteral("freeActuators"));
    m_freeActuatorSelector->setMaximumHeight(44);
    connect(m_freeActuatorSelector, &ostra::Segmented::currentIndexChanged, this, [this](int i) { m_freeActuator = i - 1; });
    targetRow->addWidget(m_freeActuatorSelector, 1);
    free->addLayout(targetRow);
    m_axisRowsLayout = new QVBoxLayout;
    m_axisRowsLayout->setSpacing(10);
    free->addLayout(m_axisRowsLayout);
    content->addWidget(m_freePanel);

    m_runButton = new MotionRunButton(tr("Run test"), card);
    m_runButton->setObjectName(QStringLiteral("runButton"));
    m_runButton->setProperty("primary", true);
    m_runButton->setCursor(Qt::PointingHandCursor);
    m_runButton->setMinimumHeight(48);
    // While a test runs the button is disabled; its countdown stays readable in the secondary text colour.
    m_runButton->setStyleSheet(QStringLiteral("QPushButton { min-height: 46px; border-radius: 12px; font-size: 11pt; font-weight: 600; }"
                                              "QPushButton:disabled { color: #5B6675; }"));
    connect(m_runButton, &QPushButton::clicked, this, &MotionSystemWidget::onTestClicked);
    content->addWidget(m_runButton);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(10);
    m_homeButton = makeActionButton(tr("Auto home"), &m_homeDot, card);
    m_homeButton->setObjectName(QStringLiteral("homeButton"));
    m_homeButton->setToolTip(tr("Re-run the homing sequence (PH). The way out of FAIL after fixing the cause; safe any "
                                "time the rig is idle."));
    connect(m_homeButton, &QPushButton::clicked, m_controller, &MotionSystemController::home);
    m_calibrationButton = makeActionButton(tr("Calibration"), &m_calibrationDot, card);
    m_calibrationButton->setObjectName(QStringLiteral("calibrationButton"));
    m_calibrationButton->setToolTip(tr("Toggle the controller's calibration mode"));
    connect(m_calibrationButton, &QPushButton::clicked, m_controller, &MotionSystemController::requestCalibration);
    m_releaseButton = new QPushButton(tr("Release"), card);
    m_releaseButton->setObjectName(QStringLiteral("releaseButton"));
    m_releaseButton->setProperty("danger", true);
    m_releaseButton->setCursor(Qt::PointingHandCursor);
    m_releaseButton->setMinimumHeight(40);
    m_releaseButton->setToolTip(tr("Soft E-stop (PR): servos go slack instantly, from any state. Motion stays disabled "
                                   "until Auto home."));
    connect(m_releaseButton, &QPushButton::clicked, this, [this] {
        m_controller->release();
        ostra::showToast(this, tr("Motors released"));
    });
    for (QPushButton *button : { m_homeButton, m_calibrationButton, m_releaseButton })
        actions->addWidget(button, 1);
    content->addLayout(actions);

    m_testStatus = ostra::makeRoleLabel(QString(), "muted", card);
    m_testStatus->setObjectName(QStringLiteral("testStatus"));
    m_testStatus->setAlignment(Qt::AlignCenter);
    m_testStatus->setWordWrap(true);
    content->addWidget(m_testStatus);
    return card;
}

QPushButton *MotionSystemWidget::makeActionButton(const QString &text, ostra::Dot **dot, QWidget *parent)
{
    auto *button = new QPushButton(QStringLiteral("    ") + text, parent);
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(40);
    auto *indicator = new ostra::Dot(button, 7);
    indicator->setColor(Qt::transparent);
    indicator->move(16, 16);
    if (dot)
        *dot = indicator;
    return button;
}

void MotionSystemWidget::rebuildTestTargets()
{
    using C = MotionSystemController;
    m_targets.clear();
    if (m_platformDof == 2) {
        m_targets.append({ MotionTestSingleDof, C::Surge, C::dofName(C::Surge) });
        m_targets.append({ MotionTestSingleDof, C::Yaw, tr("Traction loss") });
    } else {
        if (m_platformDof == 5) {
            m_targets.append({ MotionTestSingleDof, C::Surge, C::dofName(C::Surge) });
            m_targets.append({ MotionTestSingleDof, C::Yaw, tr("Yaw") });
        }
        for (int dof : { C::Pitch, C::Roll, C::Heave })
            m_targets.append({ MotionTestSingleDof, dof, C::dofName(dof) });
    }
    m_targets.append({ MotionTestFree, 0, tr("Free") });
    m_targets.append({ MotionTestFullSystem, 0, tr("Full system") });
    m_targets.append({ MotionTestHaptics, 0, tr("Haptics") });

    const int kind = m_freePanel->isVisible()       ? MotionTestFree
                     : m_fullPanel->isVisible()     ? MotionTestFullSystem
                     : m_hapticsPanel->isVisible()  ? MotionTestHaptics
                                                    : MotionTestSingleDof;
    int index = 0;
    for (int i = 0; i < m_targets.size(); ++i) {
        const MotionTestTarget &target = m_targets.at(i);
        if (target.kind == kind && (kind != MotionTestSingleDof || target.dof == m_chosenDof)) {
            index = i;
            break;
        }
    }
    QStringList labels;
    for (const MotionTestTarget &target : std::as_const(m_targets))
        labels.append(target.label);
    {
        const QSignalBlocker blocker(m_targetSelector);
        m_targetSelector->setOptions(labels);
        m_targetSelector->setCurrentIndex(index, false);
    }
    onTestTargetChanged(index);
}

void MotionSystemWidget::onTestTargetChanged(int index)
{
    if (index < 0 || index >= m_targets.size())
        return;
    m_selectedTarget = index;
    const MotionTestTarget &target = m_targets.at(index);
    if (target.kind == MotionTestSingleDof)
        m_chosenDof = target.dof;
    m_freePanel->setVisible(target.kind == MotionTestFree);
    m_fullPanel->setVisible(target.kind == MotionTestFullSystem);
    m_hapticsPanel->setVisible(target.kind == MotionTestHaptics);
    m_optionsPanel->setVisible(target.kind == MotionTestSingleDof || target.kind == MotionTestFree);
    refreshRunButton();
}

void MotionSystemWidget::ensureAxisRow(int axis)
{
    if (m_axisRows.contains(axis))
        return;
    const int stroke = rangeStroke();
    MotionAxisRow row;
    row.slider = new ostra::SliderRow(tr("Actuator %1").arg(axis + 1), 5, stroke - 5, stroke / 2, m_freePanel);
    row.slider->setObjectName(QStringLiteral("axisRow%1").arg(axis + 1));
    row.slider->setFormatter([](int v) { return tr("%1 mm").arg(v); });
    row.live = new QLabel(row.slider);
    ostra::setReadoutText(row.live, QStringLiteral("\u2014"), 12, 400);
    // Only the label: its tool tip keeps the theme's colours.
    row.live->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(ostra::colorHex(ostra::ThemeColors::textMuted)));
    row.live->setFixedWidth(64);
    row.live->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row.live->setToolTip(tr("Live position reported by the controller"));
    if (auto *box = qobject_cast<QHBoxLayout *>(row.slider->layout()))
        box->addWidget(row.live);
    connect(row.slider, &ostra::SliderRow::valueChanged, this, [this, axis](int v) {
        const auto it = m_axisRows.find(axis);
        if (it != m_axisRows.end())
            it->lastUserMove.restart();
        m_controller->moveAxis(axis, v);
    });
    m_axisRowsLayout->addWidget(row.slider);
    const QMap<int, int> positions = m_controller->axisPositions();
    if (positions.contains(axis)) {
        const QSignalBlocker blocker(row.slider);
        row.slider->setValue(positions.value(axis));
    }
    m_axisRows.insert(axis, row);
}

void MotionSystemWidget::startRunClock(int seconds)
{
    m_runSeconds = seconds;
    m_runClock.restart();
    m_refreshTimer->start();
}

void MotionSystemWidget::onTestClicked()
{
    if (m_selectedTarget < 0 || m_selectedTarget >= m_targets.size())
        return;
    const MotionTestTarget &target = m_targets.at(m_selectedTarget);
    bool started = false;
    switch (target.kind) {
    case MotionTestFullSystem:
        started = m_controller->startFullSystemTest(m_totalTimeRow->value());
        m_runSeconds = m_totalTimeRow->value() * 60;
        break;
    case MotionTestHaptics:
        started = m_controller->vibrate(-1, m_amplitudeRow->value(), m_frequencyRow->value(), m_hapticDurationRow->value());
        m_runSeconds = m_hapticDurationRow->value();
        break;
    case MotionTestFree:
        started = m_controller->startBoardTest(m_freeActuator, m_travelRow->value(), m_speedRow->value(), m_durationRow->value());
        m_runSeconds = m_durationRow->value();
        break;
    default:
        started = m_controller->startDofTest(m_chosenDof, m_travelRow->value(), m_speedRow->value(), m_durationRow->value());
        m_runSeconds = m_durationRow->value();
        break;
    }
    if (started)
        startRunClock(m_runSeconds);
    refreshRunButton();
}

void MotionSystemWidget::refreshRunButton()
{
    const bool connected = m_controller->isConnected();
    const bool busy = m_controller->isBusy();
    const bool ready = connected && !busy && m_controller->state() == Ready;

    if (busy && m_runClock.isValid() && m_runSeconds >= 1) {
        const double elapsed = runElapsedMs() / 1000.0;
        const int remaining = std::max(0, int(std::ceil(m_runSeconds - elapsed)));
        m_runButton->setProgress(std::min(1.0, elapsed / m_runSeconds));
        m_runButton->setText(remaining < 120 ? tr("Running \u00b7 %1s").arg(remaining)
                                             : tr("Running \u00b7 %1 min").arg((remaining + 59) / 60));
    } else {
        m_runButton->setProgress(0);
        m_runButton->setText(tr("Run test"));
        if (!busy) {
            m_refreshTimer->stop();
            m_runClock.invalidate();
        }
    }
    setEnabledWithCursor(m_runButton, ready);
    m_homeButton->setEnabled(connected && !busy);
    m_calibrationButton->setEnabled(connected && !busy);
    m_releaseButton->setEnabled(connected);
    for (const MotionAxisRow &row : std::as_const(m_axisRows))
        innerSlider(row.slider)->setEnabled(ready);
    refreshMapStatus();
    refreshSleepStatus();

    QString status;
    if (!connected) {
        status = tr("Connect the controller to run tests");
    } else if (!busy) {
        status = ready ? tr("Stand clear of the platform before running a test") : tr("Waiting for the controller to be ready");
    } else {
        const bool valid = m_selectedTarget >= 0 && m_selectedTarget < m_targets.size();
        const int kind = valid ? m_targets.at(m_selectedTarget).kind : MotionTestSingleDof;
        if (kind == MotionTestFullSystem)
            status = tr("Running the full system test \u2014 Release aborts");
        else if (kind == MotionTestHaptics)
            status = tr("Running haptics: %1 mm at %2 Hz \u2014 Release aborts")
                         .arg(m_amplitudeRow->value() / 10.0, 0, 'f', 1)
                         .arg(m_frequencyRow->value());
        else
            status = tr("Running %1 at %2% travel \u2014 Release aborts")
                         .arg(valid ? m_targets.at(m_selectedTarget).label : QString())
                         .arg(m_travelRow->value());
    }
    m_testStatus->setText(status);
    refreshLiveColumns();
}

} // namespace corvane
