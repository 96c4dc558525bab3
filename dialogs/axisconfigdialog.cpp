#include "dialogs/axisconfigdialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "bridge/corvanecontroller.h"
#include "dialogs/currentpagetabwidget.h"
#include "dialogs/laterpage.h"
#include "dialogs/presetspanel.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/passbuilder.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"

namespace corvane {

namespace {

constexpr int RefreshMs = 33;
constexpr std::pair<int, int> DeadzoneRange{0, 50};
constexpr std::pair<int, int> OutputRange{0, 100};
constexpr std::pair<int, int> ExponentRange{10, 40};
constexpr int CurveCount = 3;
const char *const MonoValueStyle = "color: #0F1720; font-family: 'Geist Mono';";

// A slider position from a stored fraction: truncated, as the slider's steps are whole.
int sliderPosition(float value, float scale)
{
    return int(value * scale);
}

QString percentText(int value)
{
    return QCoreApplication::translate("corvane::AxisConfigDialog", "%1%").arg(value);
}

QString exponentText(int value)
{
    return QString::number(value / 10.0, 'f', 1);
}

QString threeDecimals(float value)
{
    return QString::number(double(value), 'f', 3);
}

// Whole degrees in steps of ten, halves away from zero.
int roundToTen(int degrees)
{
    return int(std::lround(degrees / 10.0)) * 10;
}

QSlider *makeSlider(int minimum, int maximum, QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(minimum, maximum);
    return slider;
}

QLabel *makeValueLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setMinimumWidth(40);
    return label;
}

QLabel *makeMonoLabel(const QString &text, const QString &style, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(style);
    label->setMinimumWidth(60);
    return label;
}

QProgressBar *makePreviewBar(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(-1000, 1000);
    bar->setValue(0);
    bar->setFormat(QString());
    return bar;
}

void setBarRange(QProgressBar *bar, int minimum, int maximum)
{
    if (bar->minimum() != minimum || bar->maximum() != maximum)
        bar->setRange(minimum, maximum);
}

} // namespace

AxisConfigDialog::AxisConfigDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    m_refreshTimer = new QTimer(this);
    for (int i = 0; i < 4; ++i)
        m_positions[size_t(i)] = positionsOf(*m_settings.axis(i));
    setWindowTitle(tr("Axis Configuration"));
    setMinimumSize(460, 400);
    buildUi();
    connect(m_refreshTimer, &QTimer::timeout, this, &AxisConfigDialog::onInputUpdated);
    m_refreshTimer->start(RefreshMs);
    ostra::applyDialogChrome(this, tr("Map each control to an input, then calibrate its range"));
    m_passes->startAfterFirstPaint(this);
}

AxisConfigDialog::~AxisConfigDialog() = default;

void AxisConfigDialog::buildUi()
{
    // Everything is made where it stays: a built tree moved under the style sheet is restyled whole.
    QWidget *content = ostra::dialogContent(this);
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(12);

    // What is not on screen at opening (the Shifter tab, the Calibration page and each axis's
    // tab) is built one part per pass after the dialog shows, or at once when turned to.
    m_passes = new ostra::PassBuilder(this);
    m_pageChooser = new ostra::Segmented({tr("Mapping"), tr("Calibration")}, content);
    m_pageChooser->setMaximumWidth(340);
    layout->addWidget(m_pageChooser);

    m_pageStack = new CurrentPageTabWidget(content);
    m_pageStack->tabBar()->hide();
    // The tab widget hands its focus on to its tab bar: hidden, it would hold Tab at the stack.
    m_pageStack->tabBar()->setFocusPolicy(Qt::NoFocus);
    auto *mapping = new QWidget(m_pageStack);
    m_pageStack->addTab(mapping, tr("Mapping"));
    buildMappingPage(mapping);

    auto *calibration = new QWidget(m_pageStack);
    m_pageStack->addTab(calibration, tr("Calibration"));
    m_calibrationPart = m_passes->add([this, calibration] { buildCalibrationPage(calibration); });
    for (int i = 0; i < 4; ++i) {
        m_axisParts[size_t(i)] = m_passes->add([this, i] {
            m_passes->ensure(m_calibrationPart);
            buildAxisSettingsGroup(i, m_axisTabs->widget(i));
            settleLaterPage(m_axisTabs->widget(i));
            // Its readings as the next refresh would show them.
            updateAxisPreview(i);
            if (i == 0)
                updateSteeringReadout();
        });
    }
    connect(m_pageChooser, &ostra::Segmented::currentIndexChanged, this, [this](int index) {
        if (index == 1)
            m_passes->ensure(m_axisParts[size_t(m_axisTabs ? m_axisTabs->currentIndex() : 0)]);
    });
    connect(m_pageChooser, &ostra::Segmented::currentIndexChanged, m_pageStack, &QTabWidget::setCurrentIndex);
    layout->addWidget(m_pageStack);

    m_presets = new PresetsPanel(m_controller, QStringLiteral("controls"), tr("Controls presets"),
                                 tr("Save the applied wheel and pedal setup (mapping, calibration, curves, "
                                    "steering angle) under a name and load it in any profile. The car's ESC "
                                    "and steering servo settings are not included."),
                                 content);
    connect(m_presets, &PresetsPanel::presetLoaded, this, &AxisConfigDialog::reloadAfterPreset);
    layout->addWidget(m_presets);
    layout->addStretch(1);

    auto *footer = new QHBoxLayout;
    auto *reset = new QPushButton(tr("Reset to defaults"), content);
    reset->setProperty("ghost", true);
    connect(reset, &QPushButton::clicked, this, &AxisConfigDialog::onResetToDefaults);
    footer->addWidget(reset);
    footer->addStretch();
    auto *cancel = new QPushButton(tr("Cancel"), content);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    footer->addWidget(cancel);
    auto *apply = new QPushButton(tr("Apply"), content);
    ostra::setStyleState(apply, "danger", false);
    ostra::setStyleState(apply, "primary", true);
    connect(apply, &QPushButton::clicked, this, &AxisConfigDialog::onApply);
    footer->addWidget(apply);
    layout->addLayout(footer);
}

void AxisConfigDialog::buildCalibrationPage(QWidget *calibration)
{
    auto *calibrationLayout = new QVBoxLayout(calibration);
    calibrationLayout->setContentsMargins(0, 0, 0, 0);
    calibrationLayout->setSpacing(12);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 4);
    header->setSpacing(8);
    header->addWidget(ostra::makeRoleLabel(tr("Axis Settings"), "h2", calibration));
    auto *info = new QPushButton(QStringLiteral("?"), calibration);
    info->setProperty("iconRound", true);
    info->setToolTip(tr("What are Axis Settings?"));
    connect(info, &QPushButton::clicked, this, &AxisConfigDialog::onAxisSettingsInfoClicked);
    header->addWidget(info);
    header->addStretch();
    calibrationLayout->addLayout(header);
    m_axisTabs = new CurrentPageTabWidget(calibration);
    // No scroll area of their own: on a short screen the dialog's card scrolls, and a second
    // scroll bar inside it would leave only a slot of the page in view.
    calibrationLayout->addWidget(m_axisTabs);
    for (int i = 0; i < 4; ++i)
        m_axisTabs->addTab(new QWidget(m_axisTabs), m_settings.axis(i)->name);
    connect(m_axisTabs, &QTabWidget::currentChanged, this,
            [this](int index) { m_passes->ensure(m_axisParts[size_t(index)]); });
    settleLaterPage(calibration);
}

void AxisConfigDialog::setAxisSettings(const AxisSettings &settings)
{
    m_settings = settings;
    updateSteeringAngleLabel();
    for (int i = 0; i < 4; ++i)
        loadAxisPage(i);
}

void AxisConfigDialog::loadAxisPage(int index)
{
    AxisPage &page = m_axisPages[size_t(index)];
    if (!page.invert) {
        // Not built yet: the copy takes what the page's controls would write back, and the page
        // shows it once built.
        holdPositions(index);
        return;
    }
    // Signals stay on: a slider that moves writes its own resolution back into the copy, which
    // `axis` refers to.
    const AxisConfig &axis = *m_settings.axis(index);
    page.invert->setChecked(axis.inverted);
    if (page.deadzone) {
        page.deadzone->setValue(sliderPosition(axis.deadzone, 100.0f));
        page.deadzoneValue->setText(percentText(page.deadzone->value()));
        page.minOutput->setValue(sliderPosition(axis.minOutput, 100.0f));
        page.minOutputValue->setText(percentText(page.minOutput->value()));
        page.maxOutput->setValue(sliderPosition(axis.maxOutput, 100.0f));
        page.maxOutputValue->setText(percentText(page.maxOutput->value()));
        page.curve->setCurrentIndex(axis.curve);
        page.exponent->setValue(sliderPosition(axis.curveExponent, 10.0f));
        page.exponentValue->setText(exponentText(page.exponent->value()));
        page.exponent->setEnabled(axis.curve != 0);
    }
    page.calibration->setChecked(axis.useCalibration);
    page.minValue->setText(threeDecimals(axis.inputMin));
    page.maxValue->setText(threeDecimals(axis.inputMax));
    page.centerValue->setText(threeDecimals(axis.inputCenter));
    for (QPushButton *button : {page.setMin, page.setMax, page.setCenter})
        button->setEnabled(axis.useCalibration);
}

AxisConfigDialog::Positions AxisConfigDialog::positionsOf(const AxisConfig &axis)
{
    Positions held;
    held.deadzone = std::clamp(sliderPosition(axis.deadzone, 100.0f), DeadzoneRange.first, DeadzoneRange.second);
    held.minOutput = std::clamp(sliderPosition(axis.minOutput, 100.0f), OutputRange.first, OutputRange.second);
    held.maxOutput = std::clamp(sliderPosition(axis.maxOutput, 100.0f), OutputRange.first, OutputRange.second);
    held.exponent = std::clamp(sliderPosition(axis.curveExponent, 10.0f), ExponentRange.first, ExponentRange.second);
    held.curve = axis.curve >= 0 && axis.curve < CurveCount ? axis.curve : -1;
    return held;
}

void AxisConfigDialog::holdPositions(int index)
{
    // As the controls would: only a position that moves writes its value back.
    AxisConfig &axis = *m_settings.axis(index);
    Positions &held = m_positions[size_t(index)];
    const Positions next = positionsOf(axis);
    const auto settle = [](float &field, float scale, int position, int &heldPosition) {
        if (position != heldPosition) {
            heldPosition = position;
            field = float(position) / scale;
        }
    };
    settle(axis.deadzone, 100.0f, next.deadzone, held.deadzone);
    settle(axis.minOutput, 100.0f, next.minOutput, held.minOutput);
    settle(axis.maxOutput, 100.0f, next.maxOutput, held.maxOutput);
    if (next.curve != held.curve)
        held.curve = axis.curve = next.curve;
    settle(axis.curveExponent, 10.0f, next.exponent, held.exponent);
}

void AxisConfigDialog::buildAxisSettingsGroup(int index, QWidget *widget)
{
    const bool steering = index == 0;
    AxisPage &page = m_axisPages[size_t(index)];
    const AxisConfig &axis = *m_settings.axis(index);
    auto *layout = new QVBoxLayout(widget);
    layout->setSpacing(12);

    auto *settingsBox = new QGroupBox(tr("Settings"), widget);
    auto *settingsGrid = new QGridLayout(settingsBox);
    settingsGrid->setSpacing(8);
    page.invert = new QCheckBox(tr("Invert Axis"), settingsBox);
    page.invert->setChecked(axis.inverted);
    settingsGrid->addWidget(page.invert, 0, 0, 1, 3);
    connect(page.invert, &QCheckBox::toggled, this, [this, index](bool on) { onInvertChanged(index, on); });
    if (!steering) {
        auto addSliderRow = [&](int row, const QString &title, int minimum, int maximum, int value,
                                QSlider *&slider, QLabel *&valueLabel, const QString &text) {
            settingsGrid->addWidget(new QLabel(title, settingsBox), row, 0);
            slider = makeSlider(minimum, maximum, settingsBox);
            slider->setValue(value);
            settingsGrid->addWidget(slider, row, 1);
            valueLabel = makeValueLabel(text, settingsBox);
            settingsGrid->addWidget(valueLabel, row, 2);
        };
        // The positions the copy was settled to while the page was not built.
        const Positions &held = m_positions[size_t(index)];
        addSliderRow(1, tr("Deadzone:"), DeadzoneRange.first, DeadzoneRange.second, held.deadzone, page.deadzone,
                     page.deadzoneValue, percentText(held.deadzone));
        addSliderRow(2, tr("Min Output:"), OutputRange.first, OutputRange.second, held.minOutput, page.minOutput,
                     page.minOutputValue, percentText(held.minOutput));
        addSliderRow(3, tr("Max Output:"), OutputRange.first, OutputRange.second, held.maxOutput, page.maxOutput,
                     page.maxOutputValue, percentText(held.maxOutput));
        settingsGrid->addWidget(new QLabel(tr("Curve:"), settingsBox), 4, 0);
        page.curve = new QComboBox(settingsBox);
        page.curve->addItems({tr("Linear"), tr("Exponential"), tr("Logarithmic")});
        page.curve->setCurrentIndex(held.curve);
        settingsGrid->addWidget(page.curve, 4, 1, 1, 2);
        addSliderRow(5, tr("Exponent:"), ExponentRange.first, ExponentRange.second, held.exponent, page.exponent,
                     page.exponentValue, exponentText(held.exponent));
        page.exponent->setEnabled(axis.curve != 0);

        connect(page.deadzone, &QSlider::valueChanged, this, [this, index](int v) { onDeadzoneChanged(index, v); });
        connect(page.minOutput, &QSlider::valueChanged, this, [this, index](int v) { onMinOutputChanged(index, v); });
        connect(page.maxOutput, &QSlider::valueChanged, this, [this, index](int v) { onMaxOutputChanged(index, v); });
        connect(page.curve, &QComboBox::currentIndexChanged, this, [this, index](int v) { onCurveChanged(index, v); });
        connect(page.exponent, &QSlider::valueChanged, this, [this, index](int v) { onExponentChanged(index, v); });
    }
    layout->addWidget(settingsBox);

    auto *calibrationBox = new QGroupBox(tr("Input Calibration"), widget);
    auto *calibrationGrid = new QGridLayout(calibrationBox);
    calibrationGrid->setSpacing(8);
    page.calibration = new QCheckBox(tr("Enable Input Calibration"), calibrationBox);
    page.calibration->setChecked(axis.useCalibration);
    calibrationGrid->addWidget(page.calibration, 0, 0, 1, 4);
    auto addCalibrationRow = [&](int row, const QString &title, float value, QLabel *&valueLabel,
                                 QPushButton *&button, const QString &buttonText) {
        auto *label = new QLabel(title, calibrationBox);
        calibrationGrid->addWidget(label, row, 0);
        valueLabel = makeMonoLabel(threeDecimals(value), QLatin1String(MonoValueStyle), calibrationBox);
        calibrationGrid->addWidget(valueLabel, row, 1);
        button = new QPushButton(buttonText, calibrationBox);
        button->setEnabled(axis.useCalibration);
        calibrationGrid->addWidget(button, row, 2);
        return label;
    };
    addCalibrationRow(1, tr("Min:"), axis.inputMin, page.minValue, page.setMin, tr("Set Min"));
    addCalibrationRow(2, tr("Max:"), axis.inputMax, page.maxValue, page.setMax, tr("Set Max"));
    QLabel *centerTitle = addCalibrationRow(3, tr("Center:"), axis.inputCenter, page.centerValue, page.setCenter,
                                            tr("Set Center"));
    for (QWidget *centerWidget : {static_cast<QWidget *>(centerTitle), static_cast<QWidget *>(page.centerValue),
                                  static_cast<QWidget *>(page.setCenter)})
        centerWidget->setVisible(steering);
    connect(page.calibration, &QCheckBox::toggled, this, [this, index](bool on) { onCalibrationEnabledChanged(index, on); });
    connect(page.setMin, &QPushButton::clicked, this, [this, index] { onCalibrateMin(index); });
    connect(page.setMax, &QPushButton::clicked, this, [this, index] { onCalibrateMax(index); });
    connect(page.setCenter, &QPushButton::clicked, this, [this, index] { onCalibrateCenter(index); });
    layout->addWidget(calibrationBox);

    if (steering)
        layout->addWidget(createSteeringAngleGroup(widget));

    auto *previewBox = new QGroupBox(tr("Live Preview"), widget);
    auto *previewGrid = new QGridLayout(previewBox);
    previewGrid->setSpacing(8);
    previewGrid->setColumnStretch(1, 1);
    previewGrid->addWidget(new QLabel(tr("Raw Input:"), previewBox), 0, 0);
    page.rawBar = makePreviewBar(previewBox);
    previewGrid->addWidget(page.rawBar, 0, 1);
    page.rawValue = makeMonoLabel(QStringLiteral("0.000"), QLatin1String(MonoValueStyle), previewBox);
    previewGrid->addWidget(page.rawValue, 0, 2);
    previewGrid->addWidget(new QLabel(tr("Output:"), previewBox), 1, 0);
    page.outputBar = makePreviewBar(previewBox);
    page.outputBar->setStyleSheet(page.outputBar->styleSheet()
                                  + QStringLiteral("QProgressBar::chunk { background: #12A66A; }"));
    previewGrid->addWidget(page.outputBar, 1, 1);
    page.outputValue = makeMonoLabel(QStringLiteral("0.000"),
                                     QStringLiteral("color: #12A66A; font-family: 'Geist Mono';"), previewBox);
    previewGrid->addWidget(page.outputValue, 1, 2);
    layout->addWidget(previewBox);
    layout->addStretch();
}

float AxisConfigDialog::reading(int index) const
{
    if (!m_controller)
        return 0.0f;
    switch (index) {
    case 0: return m_controller->steering();
    case 1: return m_controller->throttle();
    case 2: return m_controller->brake();
    case 3: return m_controller->clutch();
    default: return 0.0f;
    }
}

void AxisConfigDialog::onInvertChanged(int index, bool checked)
{
    if (AxisConfig *axis = m_settings.axis(index)) {
        axis->inverted = checked;
        updateAxisPreview(index);
    }
}

void AxisConfigDialog::setPercentField(int index, float AxisConfig::*field, QLabel *AxisPage::*label, int value)
{
    AxisConfig *axis = m_settings.axis(index);
    QLabel *shown = axis ? m_axisPages[size_t(index)].*label : nullptr;
    if (!shown)
        return;
    axis->*field = value / 100.0f;
    shown->setText(percentText(value));
    updateAxisPreview(index);
}

void AxisConfigDialog::onDeadzoneChanged(int index, int value)
{
    setPercentField(index, &AxisConfig::deadzone, &AxisPage::deadzoneValue, value);
}

void AxisConfigDialog::onMinOutputChanged(int index, int value)
{
    setPercentField(index, &AxisConfig::minOutput, &AxisPage::minOutputValue, value);
}

void AxisConfigDialog::onMaxOutputChanged(int index, int value)
{
    setPercentField(index, &AxisConfig::maxOutput, &AxisPage::maxOutputValue, value);
}

void AxisConfigDialog::onCurveChanged(int index, int curveIndex)
{
    AxisConfig *axis = m_settings.axis(index);
    if (!axis || !m_axisPages[size_t(index)].exponent)
        return;
    axis->curve = curveIndex;
    m_axisPages[size_t(index)].exponent->setEnabled(curveIndex != 0);
    updateAxisPreview(index);
}

void AxisConfigDialog::onExponentChanged(int index, int value)
{
    AxisConfig *axis = m_settings.axis(index);
    if (!axis || !m_axisPages[size_t(index)].exponentValue)
        return;
    axis->curveExponent = value / 10.0f;
    m_axisPages[size_t(index)].exponentValue->setText(exponentText(value));
    updateAxisPreview(index);
}

void AxisConfigDialog::onCalibrationEnabledChanged(int index, bool checked)
{
    AxisConfig *axis = m_settings.axis(index);
    if (!axis)
        return;
    axis->useCalibration = checked;
    const AxisPage &page = m_axisPages[size_t(index)];
    if (!page.setMin)
        return;
    for (QPushButton *button : {page.setMin, page.setMax, page.setCenter})
        button->setEnabled(checked);
    updateAxisPreview(index);
}

void AxisConfigDialog::calibrateField(int index, float AxisConfig::*field, QLabel *AxisPage::*label)
{
    AxisConfig *axis = m_settings.axis(index);
    if (!axis)
        return;
    axis->*field = reading(index);
    if (QLabel *shown = m_axisPages[size_t(index)].*label) {
        shown->setText(threeDecimals(axis->*field));
        updateAxisPreview(index);
    }
}

void AxisConfigDialog::onCalibrateMin(int index)
{
    calibrateField(index, &AxisConfig::inputMin, &AxisPage::minValue);
}

void AxisConfigDialog::onCalibrateMax(int index)
{
    calibrateField(index, &AxisConfig::inputMax, &AxisPage::maxValue);
}

void AxisConfigDialog::onCalibrateCenter(int index)
{
    calibrateField(index, &AxisConfig::inputCenter, &AxisPage::centerValue);
}

void AxisConfigDialog::updateAxisPreview(int index)
{
    const AxisConfig *axis = m_settings.axis(index);
    const AxisPage &page = m_axisPages[size_t(index)];
    // A page not built yet shows the reading once it is, at the next refresh.
    if (!axis || !page.rawBar)
        return;
    const bool steering = index == 0;
    const float r = reading(index);
    // The transmit loop's own shaping, with the settings on the page.
    const float s = CorvaneController::processAxis(*axis, r, steering);
    if (steering) {
        setBarRange(page.rawBar, -1000, 1000);
        setBarRange(page.outputBar, -1000, 1000);
        page.rawBar->setValue(int(r * 1000.0f));
    } else {
        setBarRange(page.rawBar, 0, 1000);
        setBarRange(page.outputBar, 0, 1000);
        page.rawBar->setValue(int((r + 1.0f) * 0.5f * 1000.0f));
    }
    page.outputBar->setValue(int(s * 1000.0f));
    page.rawValue->setText(threeDecimals(r));
    page.outputValue->setText(threeDecimals(s));
}

QGroupBox *AxisConfigDialog::createSteeringAngleGroup(QWidget *parent)
{
    auto *group = new QGroupBox(tr("Steering angle"), parent);
    auto *layout = new QVBoxLayout(group);
    layout->setSpacing(8);

    m_angleSummary = ostra::makeRoleLabel(QString(), "secondary", group);
    layout->addWidget(m_angleSummary);

    auto *presetRow = new QHBoxLayout;
    presetRow->setSpacing(6);
    for (int angle : {240, 360, 540, 900, 0}) {
        const QString text = angle ? tr("%1\u00B0").arg(angle) : tr("Full wheel");
        QPushButton *button = ostra::makeButton(text, false, group);
        button->setCheckable(true);
        connect(button, &QPushButton::clicked, this, [this, angle] {
            m_settings.steeringAngleDeg = angle;
            updateSteeringAngleLabel();
        });
        presetRow->addWidget(button);
        m_steeringPresets.append({angle, button});
    }
    presetRow->addStretch();
    layout->addLayout(presetRow);

    const auto degrees = [](int v) { return tr("%1\u00B0").arg(v); };
    const int rotation = m_settings.wheelRotationDeg;
    const int angle = m_settings.steeringAngleDeg;
    const int effective = angle > 0 && angle < rotation ? angle : rotation;
    m_angleRow = new ostra::SliderRow(tr("Angle"), 90, 2520, effective, group);
    m_rotationRow = new ostra::SliderRow(tr("Your wheel"), 180, 2520, rotation, group);
    for (ostra::SliderRow *row : {m_angleRow, m_rotationRow}) {
        row->slider()->setSingleStep(10);
        row->slider()->setPageStep(90);
        row->setFormatter(degrees);
        layout->addWidget(row);
    }
    connect(m_angleRow, &ostra::SliderRow::valueChanged, this, [this](int v) {
        const int rounded = roundToTen(v);
        // The whole rotation is stored as 0, so a later change of the wheel keeps "full wheel".
        const int next = rounded < m_settings.wheelRotationDeg ? rounded : 0;
        if (next != m_settings.steeringAngleDeg) {
            m_settings.steeringAngleDeg = next;
            updateSteeringAngleLabel();
        }
    });
    connect(m_rotationRow, &ostra::SliderRow::valueChanged, this, [this](int v) {
        const int rounded = roundToTen(v);
        if (rounded != m_settings.wheelRotationDeg) {
            m_settings.wheelRotationDeg = rounded;
            updateSteeringAngleLabel();
        }
    });

    QLabel *note = ostra::makeRoleLabel(
        tr("\u201CYour wheel\u201D is the rotation set in the wheel's own software (Logitech G HUB, "
           "Fanatec, Moza Pit House). Most wheels default to 900\u00B0."),
        "muted", group);
    note->setWordWrap(true);
    layout->addWidget(note);

    m_wheelReadout = ostra::makeRoleLabel(QString(), "mono", group);
    layout->addWidget(m_wheelReadout);

    updateSteeringAngleLabel();
    return group;
}

void AxisConfigDialog::updateSteeringAngleLabel()
{
    if (!m_angleRow)
        return;
    const int rotation = m_settings.wheelRotationDeg;
    const int angle = m_settings.steeringAngleDeg;
    const int effective = angle > 0 && angle < rotation ? angle : rotation;
    {
        const QSignalBlocker angleBlock(m_angleRow);
        const QSignalBlocker rotationBlock(m_rotationRow);
        m_angleRow->slider()->setMaximum(rotation);
        m_angleRow->setValue(effective);
        m_rotationRow->setValue(rotation);
    }
    for (const auto &[preset, button] : std::as_const(m_steeringPresets)) {
        const bool offered = preset == 0 || preset < rotation;
        button->setEnabled(offered);
        // The whole rotation shows as "Full wheel" only, never as a disabled angle button.
        button->setChecked(offered && (preset == 0 ? effective == rotation : preset == effective));
    }
    m_angleSummary->setText(tr("Full lock at %1\u00B0 each way (%2\u00B0 lock-to-lock)").arg(effective / 2).arg(effective));
}

void AxisConfigDialog::updateSteeringReadout()
{
    if (!m_wheelReadout)
        return;
    const int rotation = m_settings.wheelRotationDeg;
    const int angle = m_settings.steeringAngleDeg;
    const int effective = angle > 0 && angle < rotation ? angle : rotation;
    const float a = float(rotation) * reading(0) * 0.5f;
    const QString lock = std::fabs(a) >= float(effective) * 0.5f ? tr(" \u00B7 full lock") : QString();
    m_wheelReadout->setText(tr("Wheel now: %1\u00B0%2").arg(std::lround(a)).arg(lock));
}

void AxisConfigDialog::onInputUpdated()
{
    for (int i = 0; i < 4; ++i)
        updateAxisPreview(i);
    updateSteeringReadout();
    updateMappingMeters();
}

void AxisConfigDialog::reloadAfterPreset()
{
    if (m_controller)
        setAxisSettings(m_controller->axisSettings());
    onMappingDeviceChanged(m_mappingDevice);
}

void AxisConfigDialog::onResetToDefaults()
{
    const AxisConfig defaults;
    for (int i = 0; i < 4; ++i) {
        AxisConfig *axis = m_settings.axis(i);
        const QString name = axis->name;
        *axis = defaults;
        axis->name = name;
    }
    const AxisSettings copy = m_settings;
    setAxisSettings(copy);
}

void AxisConfigDialog::onApply()
{
    accept();
}

void AxisConfigDialog::onAxisSettingsInfoClicked()
{
    // On the heap: the box is the dialog's child and goes with it should the dialog close first.
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, tr("About Axis Settings"),
                    tr("<b>Axis Settings</b><br><br>Configure how each axis (Steering, Throttle, Brake, Clutch) "
                       "responds to your input.<br><br><b>Invert Axis:</b><br>Reverses the direction of the axis "
                       "input.<br><br><b>Deadzone:</b><br>Ignores small inputs near the center/rest position. Helps "
                       "eliminate jitter.<br><br><b>Min Output / Max Output:</b><br>Limits the output range. Use Min "
                       "Output to reduce sensitivity, Max Output to limit maximum travel.<br><br><b>Curve:</b><br>- "
                       "Linear: Direct 1:1 response<br>- Exponential: Fine control at low inputs, faster at high "
                       "inputs<br>- Logarithmic: Fast response at low inputs, finer at high inputs<br><br>"
                       "<b>Exponent:</b><br>Controls curve intensity (only for Exponential/Logarithmic curves)."
                       "<br><br><b>Input Calibration:</b><br>Compensates for hardware that doesn't reach full range. "
                       "Set Min, Max, and Center (steering only) values by moving your hardware to those positions."),
                    QMessageBox::Ok, this);
    box->setTextFormat(Qt::RichText);
    box->exec();
    delete box;
}

} // namespace corvane
