// The "Car" tab: throttle safety, smooth deceleration, pit limiter and reverse mode.
#include "dialogs/escconfigdialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "ostraui/dialogcards.h"

namespace corvane {

namespace {

constexpr int DetectPollMs = 33;
constexpr int DetectTimeoutMs = 5000;

const char *const OptionTitleStyle = "color: #0F1720; font-weight: bold; font-size: 10pt; border: none;";
const char *const SubtitleStyle = "color: #8A94A3; font-size: 9pt; border: none;";
const char *const ItalicNoteStyle = "color: #8A94A3; font-size: 9pt; font-style: italic; border: none;";
const char *const FieldLabelStyle = "color: #5B6675; font-size: 9pt; border: none;";

// The tab's sliders and spin boxes: the field each shows and its range.
struct CarRange
{
    int AxisSettings::*field;
    int minimum;
    int maximum;
};
constexpr CarRange CarRanges[] = {
    {&AxisSettings::softStartDurationSec, 5, 60}, {&AxisSettings::softStartFloorPercent, 0, 50},
    {&AxisSettings::decelRate, 1, 100},           {&AxisSettings::pitLimiterValue, 0, 2047},
    {&AxisSettings::reverseButtonIndex, -1, 127}, {&AxisSettings::reverseMaxPercent, 0, 100},
};
enum CarControl { RampDuration, InitialSpeed, DecelRate, PitLimit, ReverseButton, ReverseMax };

int positionOf(const AxisSettings &settings, CarControl control)
{
    const CarRange &range = CarRanges[control];
    return std::clamp(settings.*range.field, range.minimum, range.maximum);
}

// Title and description on the left, a check box without text at the right end.
QCheckBox *addOptionLine(QWidget *parent, QVBoxLayout *target, const QString &title, const QString &description)
{
    auto *row = new QHBoxLayout;
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(ostra::makeStyledLabel(title, OptionTitleStyle, parent));
    column->addWidget(ostra::makeStyledLabel(description, SubtitleStyle, parent));
    row->addLayout(column);
    row->addStretch();
    auto *check = new QCheckBox(parent);
    row->addWidget(check);
    target->addLayout(row);
    return check;
}

// Field label, slider and its value label.
QSlider *addValueLine(QWidget *parent, QVBoxLayout *target, const QString &title, const CarRange &range,
                      QLabel **valueLabel, int minWidth = 30)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    auto *field = ostra::makeStyledLabel(title, FieldLabelStyle, parent);
    field->setFixedWidth(110);
    row->addWidget(field);
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(range.minimum, range.maximum);
    slider->setSingleStep(1);
    row->addWidget(slider, 1);
    auto *value = new QLabel(parent);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setStyleSheet(QStringLiteral("color: #0F1720; font-family: 'Geist Mono'; font-size: 10pt; border: none; "
                                        "min-width: %1px;")
                             .arg(minWidth));
    row->addWidget(value);
    target->addLayout(row);
    *valueLabel = value;
    return slider;
}

} // namespace

void EscConfigDialog::buildCarTab(QWidget *page, QVBoxLayout *pageLayout)
{

    // Each card's widgets are made in the card: one moved into it is restyled again.
    QWidget *card = nullptr;
    QVBoxLayout *safety = nullptr;
    card = makeCard(page, pageLayout, tr("Throttle Safety"), tr("Protection against hardware glitches and stuck inputs"),
             &safety);
    m_softStartCheck = addOptionLine(card, safety, tr("Soft Start"),
                                     tr("Gradually ramps max throttle after transmission starts"));
    m_softStartDurationSlider = addValueLine(card, safety, tr("Ramp Duration"), CarRanges[RampDuration], &m_softStartDurationLabel);
    m_softStartFloorSlider = addValueLine(card, safety, tr("Initial Speed"), CarRanges[InitialSpeed], &m_softStartFloorLabel);
    safety->addSpacing(4);
    m_stuckThrottleCheck = addOptionLine(card, safety, tr("Stuck Throttle Detection"),
                                         tr("Blocks throttle if pedal reads 100% immediately on start"));
    safety->addSpacing(4);
    m_spikeRejectionCheck = addOptionLine(card, safety, tr("Throttle Spike Rejection"),
                                          tr("Rejects impossible instant throttle jumps (hardware glitch)"));
    safety->addWidget(ostra::makeStyledLabel(tr("Brake always overrides throttle regardless of these settings"), ItalicNoteStyle, card));

    QVBoxLayout *decel = nullptr;
    card = makeCard(page, pageLayout, tr("Smooth Deceleration"), tr("Engine braking simulation settings"), &decel);
    m_smoothDecelCheck = addOptionLine(card, decel, tr("Enable Smooth Deceleration"),
                                       tr("Simulates natural deceleration when throttle is released"));
    m_decelRateSlider = addValueLine(card, decel, tr("Deceleration Rate"), CarRanges[DecelRate], &m_decelRateLabel);
    decel->addWidget(ostra::makeStyledLabel(tr("1% = 1 sec (fast stop), 100% = 15 sec (slow coast)"), SubtitleStyle, card));

    QVBoxLayout *pit = nullptr;
    card = makeCard(page, pageLayout, tr("Pit Limiter"), tr("Speed limit for pit lane driving"), &pit);
    m_pitLimiterCheck = addOptionLine(card, pit, tr("Enable Pit Limiter"), tr("Activates via mapped button"));
    m_pitLimiterSlider = addValueLine(card, pit, tr("Max CRSF Value"), CarRanges[PitLimit], &m_pitLimiterLabel, 40);

    QVBoxLayout *reverse = nullptr;
    card = makeCard(page, pageLayout, tr("Reverse Mode"), tr("Control reverse via H-shifter or button toggle"), &reverse);
    m_reverseCheck = addOptionLine(card, reverse, tr("Enable Reverse Mode"),
                                   tr("When enabled: Gas = backwards, Brake = stop (neutral)"));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(8);
    buttonRow->addWidget(ostra::makeStyledLabel(tr("Toggle Button:"), FieldLabelStyle, card));
    m_reverseButtonSpin = new QSpinBox(card);
    m_reverseButtonSpin->setRange(CarRanges[ReverseButton].minimum, CarRanges[ReverseButton].maximum);
    m_reverseButtonSpin->setSpecialValueText(tr("None (Shifter only)"));
    m_reverseButtonSpin->setToolTip(tr("Button index to toggle reverse mode (-1 = use H-shifter only)"));
    buttonRow->addWidget(m_reverseButtonSpin);
    m_detectButton = new QPushButton(tr("Detect"), card);
    m_detectButton->setProperty("small", true);
    m_detectButton->setToolTip(tr("Press a button on your wheel to detect its index"));
    buttonRow->addWidget(m_detectButton);
    buttonRow->addStretch();
    reverse->addLayout(buttonRow);
    auto *speedRow = new QHBoxLayout;
    speedRow->setSpacing(8);
    speedRow->addWidget(ostra::makeStyledLabel(tr("Max Reverse Speed:"), FieldLabelStyle, card));
    m_reverseMaxSpin = new QSpinBox(card);
    m_reverseMaxSpin->setRange(CarRanges[ReverseMax].minimum, CarRanges[ReverseMax].maximum);
    m_reverseMaxSpin->setSuffix(QStringLiteral("%"));
    m_reverseMaxSpin->setToolTip(tr("Maximum reverse throttle percentage (0-100%)"));
    speedRow->addWidget(m_reverseMaxSpin);
    speedRow->addStretch();
    reverse->addLayout(speedRow);
    reverse->addWidget(ostra::makeStyledLabel(tr("Reverse mode activates via H-shifter reverse position or button toggle"),
                             ItalicNoteStyle, card));
    pageLayout->addStretch();

    // Where the controls stood while the tab was not built; set before the handlers are
    // connected, so only a change loadCarTab makes is written back.
    m_softStartDurationSlider->setValue(m_carPositions[RampDuration]);
    m_softStartFloorSlider->setValue(m_carPositions[InitialSpeed]);
    m_decelRateSlider->setValue(m_carPositions[DecelRate]);
    m_pitLimiterSlider->setValue(m_carPositions[PitLimit]);
    m_reverseButtonSpin->setValue(m_carPositions[ReverseButton]);
    m_reverseMaxSpin->setValue(m_carPositions[ReverseMax]);

    connect(m_softStartCheck, &QCheckBox::toggled, this, [this](bool checked) {
        m_settings.softStartEnabled = checked;
        refreshCarEnableStates();
    });
    connect(m_softStartDurationSlider, &QSlider::valueChanged, this, [this](int value) {
        m_settings.softStartDurationSec = value;
        m_softStartDurationLabel->setText(QStringLiteral("%1s").arg(value));
    });
    connect(m_softStartFloorSlider, &QSlider::valueChanged, this, [this](int value) {
        m_settings.softStartFloorPercent = value;
        m_softStartFloorLabel->setText(QStringLiteral("%1%").arg(value));
    });
    connect(m_stuckThrottleCheck, &QCheckBox::toggled, this,
            [this](bool checked) { m_settings.stuckThrottleDetectionEnabled = checked; });
    connect(m_spikeRejectionCheck, &QCheckBox::toggled, this,
            [this](bool checked) { m_settings.throttleSpikeRejectionEnabled = checked; });
    connect(m_smoothDecelCheck, &QCheckBox::toggled, this, &EscConfigDialog::onSmoothDecelChanged);
    connect(m_decelRateSlider, &QSlider::valueChanged, this, &EscConfigDialog::onDecelRateChanged);
    connect(m_pitLimiterCheck, &QCheckBox::toggled, this, &EscConfigDialog::onPitLimiterChanged);
    connect(m_pitLimiterSlider, &QSlider::valueChanged, this, &EscConfigDialog::onPitLimiterSliderChanged);
    connect(m_reverseCheck, &QCheckBox::toggled, this, &EscConfigDialog::onReverseEnabledChanged);
    connect(m_reverseButtonSpin, &QSpinBox::valueChanged, this, &EscConfigDialog::onReverseButtonChanged);
    connect(m_reverseMaxSpin, &QSpinBox::valueChanged, this, &EscConfigDialog::onReverseMaxChanged);
    connect(m_detectButton, &QPushButton::clicked, this, &EscConfigDialog::onDetectReverseButton);

    m_detectTimeout = new QTimer(this);
    m_detectTimeout->setSingleShot(true);
    m_detectTimeout->setInterval(DetectTimeoutMs);
    connect(m_detectTimeout, &QTimer::timeout, this, &EscConfigDialog::onDetectTimeout);

    loadCarTab();
}

void EscConfigDialog::holdCarPositions(const AxisSettings &settings)
{
    for (int control = RampDuration; control <= ReverseMax; ++control)
        m_carPositions[size_t(control)] = positionOf(settings, CarControl(control));
}

void EscConfigDialog::loadCarTab()
{
    if (!m_softStartCheck) {
        // As the controls would: only a position that moves writes its value back.
        for (int control = RampDuration; control <= ReverseMax; ++control) {
            const int position = positionOf(m_settings, CarControl(control));
            if (position != m_carPositions[size_t(control)]) {
                m_carPositions[size_t(control)] = position;
                m_settings.*CarRanges[control].field = position;
            }
        }
        return;
    }
    // Set with the handlers connected: each control that changes stores its value as the user's
    // change would; the labels are written here too, for values equal to what a control holds.
    const AxisSettings s = m_settings;
    m_softStartCheck->setChecked(s.softStartEnabled);
    m_softStartDurationSlider->setValue(s.softStartDurationSec);
    m_softStartDurationLabel->setText(QStringLiteral("%1s").arg(s.softStartDurationSec));
    m_softStartFloorSlider->setValue(s.softStartFloorPercent);
    m_softStartFloorLabel->setText(QStringLiteral("%1%").arg(s.softStartFloorPercent));
    m_stuckThrottleCheck->setChecked(s.stuckThrottleDetectionEnabled);
    m_spikeRejectionCheck->setChecked(s.throttleSpikeRejectionEnabled);
    m_smoothDecelCheck->setChecked(s.smoothDeceleration);
    m_decelRateSlider->setValue(s.decelRate);
    m_decelRateLabel->setText(QStringLiteral("%1%").arg(s.decelRate));
    m_pitLimiterCheck->setChecked(s.pitLimiterEnabled);
    m_pitLimiterSlider->setValue(s.pitLimiterValue);
    m_pitLimiterLabel->setText(QString::number(s.pitLimiterValue));
    m_reverseCheck->setChecked(s.reverseEnabled);
    m_reverseButtonSpin->setValue(s.reverseButtonIndex);
    m_reverseMaxSpin->setValue(s.reverseMaxPercent);
    refreshCarEnableStates();
}

void EscConfigDialog::refreshCarEnableStates()
{
    if (!m_softStartCheck)
        return;
    m_softStartDurationSlider->setEnabled(m_settings.softStartEnabled);
    m_softStartFloorSlider->setEnabled(m_settings.softStartEnabled);
    m_smoothDecelCheck->setEnabled(true);
    m_decelRateSlider->setEnabled(m_settings.smoothDeceleration);
    m_pitLimiterSlider->setEnabled(m_settings.pitLimiterEnabled);
    m_reverseButtonSpin->setEnabled(m_settings.reverseEnabled);
    m_reverseMaxSpin->setEnabled(m_settings.reverseEnabled);
    // A running detection keeps its button disabled.
    m_detectButton->setEnabled(m_settings.reverseEnabled && !m_detectTimer);
}

void EscConfigDialog::onSmoothDecelChanged(bool checked)
{
    m_settings.smoothDeceleration = checked;
    m_decelRateSlider->setEnabled(checked);
}

void EscConfigDialog::onDecelRateChanged(int value)
{
    m_settings.decelRate = value;
    m_decelRateLabel->setText(QStringLiteral("%1%").arg(value));
}

void EscConfigDialog::onPitLimiterChanged(bool checked)
{
    m_settings.pitLimiterEnabled = checked;
    m_pitLimiterSlider->setEnabled(checked);
}

void EscConfigDialog::onPitLimiterSliderChanged(int value)
{
    m_settings.pitLimiterValue = value;
    m_pitLimiterLabel->setText(QString::number(value));
}

void EscConfigDialog::onReverseEnabledChanged(bool checked)
{
    m_settings.reverseEnabled = checked;
    refreshCarEnableStates();
}

void EscConfigDialog::onReverseButtonChanged(int value)
{
    m_settings.reverseButtonIndex = value;
}

void EscConfigDialog::onReverseMaxChanged(int value)
{
    m_settings.reverseMaxPercent = value;
}

void EscConfigDialog::onDetectReverseButton()
{
    if (m_detectTimer)
        return;
    InputDevice *wheel = m_controller->wheelBase();
    if (!wheel->isConnected()) {
        QMessageBox::warning(this, tr("Wheel Base Not Connected"), tr("Please connect a wheel base to detect buttons."),
                             QMessageBox::Ok);
        return;
    }
    m_detectButton->setText(tr("Press button..."));
    m_detectButton->setEnabled(false);
    m_detectTimer = new QTimer(this);
    m_detectTimer->setInterval(DetectPollMs);
    connect(m_detectTimer, &QTimer::timeout, this, &EscConfigDialog::onDetectTick);
    m_detectTimer->start();
    m_detectTimeout->start();
}

void EscConfigDialog::onDetectTick()
{
    if (!m_detectTimer)
        return;
    InputDevice *wheel = m_controller->wheelBase();
    if (!wheel->isConnected()) {
        endDetection();
        return;
    }
    wheel->poll();
    for (int button = 0; button < InputDevice::ButtonCount; ++button) {
        if (wheel->button(button)) {
            m_reverseButtonSpin->setValue(button);
            endDetection();
            return;
        }
    }
}

void EscConfigDialog::onDetectTimeout()
{
    if (!m_detectTimer)
        return;
    endDetection();
    QMessageBox::information(this, tr("No Button Detected"), tr("No button press was detected within 5 seconds."),
                             QMessageBox::Ok);
}

void EscConfigDialog::endDetection()
{
    m_detectTimeout->stop();
    if (m_detectTimer) {
        m_detectTimer->stop();
        m_detectTimer->deleteLater();
        m_detectTimer = nullptr;
    }
    m_detectButton->setText(tr("Detect"));
    m_detectButton->setEnabled(true);
}

} // namespace corvane
