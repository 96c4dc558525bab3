// The mapping page of the axis dialog: device axis mappings with the wheel presets and axis
// detection, and the shifter tab with gear detection and the per-gear throttle limits.
#include "dialogs/axisconfigdialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "dialogs/currentpagetabwidget.h"
#include "dialogs/laterpage.h"
#include "ostraui/dialogcards.h"
#include "ostraui/meter.h"
#include "ostraui/passbuilder.h"
#include "ostraui/theme.h"

namespace corvane {

namespace {

constexpr int SampleMs = 33;
constexpr int AxisDetectMs = 3000;
constexpr int GearDetectMs = 5000;
constexpr int FeedbackMs = 1500;
constexpr float MinTravel = 0.3f;

const char *const NeutralBadge = "QLabel { background: #F3F5F8; color: #0F1720; border-radius: 9px; "
                                 "padding: 3px 10px; font-family: 'Geist Mono'; font-size: 9.375pt; }";
const char *const ListeningBadge = "QLabel { background: #FDF1DC; color: #B06F00; border-radius: 9px; "
                                   "padding: 3px 10px; font-size: 9.375pt; font-weight: 500; }";
const char *const DetectedBadge = "QLabel { background: #E3F6EC; color: #0D8A57; border-radius: 9px; "
                                  "padding: 3px 10px; font-family: 'Geist Mono'; font-size: 9.375pt; }";

const char *const PresetNames[] = {QT_TRANSLATE_NOOP("corvane::AxisConfigDialog", "MOZA / Fanatec"),
                                   QT_TRANSLATE_NOOP("corvane::AxisConfigDialog", "Logitech"),
                                   QT_TRANSLATE_NOOP("corvane::AxisConfigDialog", "Logitech (PS3/PS4)"),
                                   QT_TRANSLATE_NOOP("corvane::AxisConfigDialog", "Thrustmaster"),
                                   QT_TRANSLATE_NOOP("corvane::AxisConfigDialog", "Generic")};
const QString CustomPreset = QStringLiteral("Custom");

QString rawAxisName(int index)
{
    static const char *const names[] = {"lX", "lRx", "lRy", "lRz", "lY", "lZ", "Slider0", "Slider1"};
    if (index < 0 || index > 7)
        return QCoreApplication::translate("corvane::AxisConfigDialog", "Unknown");
    return QLatin1String(names[index]);
}

QString gearName(int gear)
{
    if (gear == 0)
        return QCoreApplication::translate("corvane::AxisConfigDialog", "Neutral");
    if (gear == 1)
        return QCoreApplication::translate("corvane::AxisConfigDialog", "Reverse");
    return QCoreApplication::translate("corvane::AxisConfigDialog", "Gear %1").arg(gear - 1);
}

QString buttonText(int button)
{
    return button < 0 ? QCoreApplication::translate("corvane::AxisConfigDialog", "None")
                      : QCoreApplication::translate("corvane::AxisConfigDialog", "Button %1").arg(button);
}

QPushButton *makeDetectButton(const QString &toolTip, QWidget *parent)
{
    auto *button = new QPushButton(QCoreApplication::translate("corvane::AxisConfigDialog", "Detect"), parent);
    button->setProperty("small", true);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(toolTip);
    return button;
}

QFrame *makeRowFrame(QWidget *parent, int verticalMargin)
{
    auto *frame = new QFrame(parent);
    frame->setProperty("row", true);
    auto *layout = new QHBoxLayout(frame);
    layout->setContentsMargins(14, verticalMargin, 10, verticalMargin);
    layout->setSpacing(12);
    return frame;
}

QLabel *makeRowName(const QString &text, int minimumWidth, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(ostra::uiFont(14.5, 600));
    label->setMinimumWidth(minimumWidth);
    return label;
}

} // namespace

void AxisConfigDialog::buildMappingPage(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    // Every row ends at the dialog's content edge, as the presets below do.
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto *presetRow = new QHBoxLayout;
    presetRow->addWidget(new QLabel(tr("Preset:"), page));
    m_presetCombo = new QComboBox(page);
    for (const char *name : PresetNames)
        m_presetCombo->addItem(tr(name), QString::fromLatin1(name));
    m_presetCombo->addItem(tr("Custom"), CustomPreset);
    presetRow->addWidget(m_presetCombo);
    presetRow->addStretch();
    auto *resetButton = new QPushButton(tr("Reset to preset"), page);
    resetButton->setProperty("small", true);
    resetButton->setToolTip(tr("Reset axis mapping to auto-detected preset for this device"));
    connect(resetButton, &QPushButton::clicked, this, &AxisConfigDialog::onResetAxisMapping);
    presetRow->addWidget(resetButton);
    layout->addLayout(presetRow);

    m_deviceTabs = new CurrentPageTabWidget(page);
    auto *wheelTab = new QWidget(m_deviceTabs);
    m_deviceTabs->addTab(ostra::makeScrollPage(wheelTab), tr("Wheel Base"));
    auto *wheelLayout = new QVBoxLayout(wheelTab);
    wheelLayout->setContentsMargins(0, 10, 0, 0);
    wheelLayout->setSpacing(6);
    wheelLayout->addWidget(createMappingRow(0, tr("Steering"), wheelTab));
    wheelLayout->addWidget(ostra::makeRoleLabel(tr("Press Detect, then move the control you want to assign."),
                                                "muted", wheelTab));
    wheelLayout->addStretch();

    auto *pedalsTab = new QWidget(m_deviceTabs);
    m_deviceTabs->addTab(ostra::makeScrollPage(pedalsTab), tr("Pedals"));
    auto *pedalsLayout = new QVBoxLayout(pedalsTab);
    pedalsLayout->setContentsMargins(0, 10, 0, 0);
    pedalsLayout->setSpacing(6);
    m_combinedPedals = new QCheckBox(tr("Throttle and brake share a single axis"), pedalsTab);
    m_combinedPedals->setToolTip(tr("Enable this if your pedals report both throttle and brake on a single axis "
                                    "that rests at center (e.g. Logitech G29 in PS3/PS4 mode). Gas increases the "
                                    "axis, brake decreases it."));
    connect(m_combinedPedals, &QCheckBox::toggled, this, &AxisConfigDialog::onCombinedPedalsChanged);
    pedalsLayout->addWidget(m_combinedPedals);
    pedalsLayout->addWidget(createMappingRow(1, tr("Throttle"), pedalsTab));
    pedalsLayout->addWidget(createMappingRow(2, tr("Brake"), pedalsTab));
    pedalsLayout->addWidget(createMappingRow(3, tr("Clutch"), pedalsTab));
    pedalsLayout->addStretch();
    auto *shifterTab = new QWidget(m_deviceTabs);
    m_deviceTabs->addTab(ostra::makeScrollPage(shifterTab), tr("Shifter"));
    m_shifterPart = m_passes->add([this, shifterTab] {
        buildShifterTab(shifterTab);
        settleLaterPage(shifterTab);
    });
    layout->addWidget(m_deviceTabs, 1);

    // Open on the pedals when they are connected, else on the wheel base.
    InputDevice *pedals = m_controller ? m_controller->pedals() : nullptr;
    m_mappingDevice = pedals && pedals->isConnected() ? 1 : 0;
    {
        const QSignalBlocker block(m_deviceTabs);
        m_deviceTabs->setCurrentIndex(m_mappingDevice);
    }
    connect(m_deviceTabs, &QTabWidget::currentChanged, this, [this](int index) {
        m_mappingDevice = index;
        onMappingDeviceChanged(index);
    });
    connect(m_presetCombo, &QComboBox::currentIndexChanged, this, &AxisConfigDialog::onPresetComboChanged);
    onMappingDeviceChanged(m_mappingDevice);
}

QFrame *AxisConfigDialog::createMappingRow(int logicalIndex, const QString &name, QWidget *parent)
{
    MappingRow &row = m_mappingRows[size_t(logicalIndex)];
    row.frame = makeRowFrame(parent, 10);
    auto *layout = static_cast<QHBoxLayout *>(row.frame->layout());
    row.name = makeRowName(name, 72, row.frame);
    layout->addWidget(row.name);
    row.badge = new QLabel(rawAxisName(m_mapping.map[size_t(logicalIndex)]), row.frame);
    row.badge->setStyleSheet(QLatin1String(NeutralBadge));
    layout->addWidget(row.badge, 0, Qt::AlignVCenter);
    row.meter = new ostra::Meter(row.frame, ostra::ThemeColors::ink);
    row.meter->setThickness(6);
    row.meter->setMinimumWidth(60);
    layout->addWidget(row.meter, 1);
    row.invert = new QCheckBox(tr("Invert"), row.frame);
    row.invert->setChecked(m_mapping.inverted[size_t(logicalIndex)]);
    row.invert->setToolTip(tr("Hardware inversion (for pedals that rest at max value)"));
    connect(row.invert, &QCheckBox::toggled, this,
            [this, logicalIndex](bool on) { onAxisInversionChanged(logicalIndex, on); });
    layout->addWidget(row.invert);
    row.detect = makeDetectButton(tr("Move the %1 input to detect which raw axis it uses").arg(name), row.frame);
    row.detect->setMinimumWidth(92);
    connect(row.detect, &QPushButton::clicked, this, [this, logicalIndex] { onDetectAxis(logicalIndex); });
    layout->addWidget(row.detect);
    return row.frame;
}

InputDevice *AxisConfigDialog::mappingDevice() const
{
    if (!m_controller)
        return nullptr;
    switch (m_mappingDevice) {
    case 0: return m_controller->wheelBase();
    case 1: return m_controller->pedals();
    case 2: return m_controller->shifter();
    default: return nullptr;
    }
}

void AxisConfigDialog::applyWorkingMapping()
{
    if (!m_controller)
        return;
    switch (m_mappingDevice) {
    case 0: m_controller->setWheelBaseAxisMapping(m_mapping); break;
    case 1: m_controller->setPedalsAxisMapping(m_mapping); break;
    case 2: m_controller->setShifterAxisMapping(m_mapping); break;
    default: break;
    }
}

void AxisConfigDialog::markMappingCustom()
{
    m_mapping.presetName = CustomPreset;
    m_mapping.combinedPedals = m_combinedPedals && m_combinedPedals->isChecked();
    const QSignalBlocker block(m_presetCombo);
    m_presetCombo->setCurrentIndex(m_presetCombo->findData(CustomPreset));
}

void AxisConfigDialog::onMappingDeviceChanged(int comboIndex)
{
    // A detection listens on the device it started on: it ends when another device is shown.
    cancelAxisDetection();
    m_mappingDevice = comboIndex;
    InputDevice *device = mappingDevice();
    m_mapping = device && device->isConnected() ? device->axisMapping() : AxisMapping();
    if (comboIndex == 2)
        m_passes->ensure(m_shifterPart);
    if (comboIndex == 2 && m_controller) {
        m_shifterMapping = m_controller->shifterMapping();
        for (int g = 0; g < ShifterMapping::Size; ++g)
            m_gearRows[size_t(g)].value->setText(buttonText(m_shifterMapping[g]));
        updateGearThrottleLimitLabels();
    }
    refreshMappingRows();
}

void AxisConfigDialog::refreshMappingRows()
{
    InputDevice *device = mappingDevice();
    {
        const QSignalBlocker block(m_presetCombo);
        const bool usable = device && device->isConnected();
        m_presetCombo->setEnabled(usable);
        if (usable) {
            const QString name = m_mapping.presetName.isEmpty() ? CustomPreset : m_mapping.presetName;
            const int index = m_presetCombo->findData(name);
            m_presetCombo->setCurrentIndex(index >= 0 ? index : m_presetCombo->count() - 1);
        }
    }
    {
        const QSignalBlocker block(m_combinedPedals);
        m_combinedPedals->setChecked(m_mapping.combinedPedals);
    }
    for (int i = 0; i < 4; ++i) {
        MappingRow &row = m_mappingRows[size_t(i)];
        row.badge->setText(rawAxisName(m_mapping.map[size_t(i)]));
        const QSignalBlocker block(row.invert);
        row.invert->setChecked(m_mapping.inverted[size_t(i)]);
    }
}

void AxisConfigDialog::onPresetComboChanged(int index)
{
    const QString name = m_presetCombo->itemData(index).toString();
    bool known = false;
    for (const char *preset : PresetNames)
        known = known || name == QLatin1String(preset);
    if (known) {
        // Each preset's own name leads the product-name lookup to that very preset.
        m_mapping = InputDevice::vendorFromName(name);
        applyWorkingMapping();
    } else {
        m_mapping.presetName = CustomPreset;
    }
    refreshMappingRows();
}

void AxisConfigDialog::onResetAxisMapping()
{
    InputDevice *device = mappingDevice();
    if (!device || !device->isConnected())
        return;
    m_mapping = InputDevice::vendorFromName(device->productName());
    applyWorkingMapping();
    refreshMappingRows();
}

void AxisConfigDialog::onAxisInversionChanged(int logicalIndex, bool checked)
{
    if (logicalIndex < 0 || logicalIndex > 3)
        return;
    m_mapping.inverted[size_t(logicalIndex)] = checked;
    markMappingCustom();
    applyWorkingMapping();
}

void AxisConfigDialog::onCombinedPedalsChanged(bool checked)
{
    m_mapping.combinedPedals = checked;
    m_mapping.presetName = CustomPreset;
    {
        const QSignalBlocker block(m_presetCombo);
        m_presetCombo->setCurrentIndex(m_presetCombo->findData(CustomPreset));
    }
    if (!checked)
        m_mapping.combinedPedalsCenter = 0.0f;
    applyWorkingMapping();
}

QTimer *AxisConfigDialog::detectionTimeout()
{
    if (!m_detectTimeout) {
        m_detectTimeout = new QTimer(this);
        m_detectTimeout->setSingleShot(true);
    }
    m_detectTimeout->stop();
    m_detectTimeout->disconnect();
    return m_detectTimeout;
}

void AxisConfigDialog::cancelAxisDetection()
{
    if (m_detectingRow < 0)
        return;
    const int index = m_detectingRow;
    const MappingRow &row = m_mappingRows[size_t(index)];
    m_detectingRow = -1;
    if (m_axisSampler)
        m_axisSampler->stop();
    if (m_detectTimeout)
        m_detectTimeout->stop();
    ostra::setStyleState(row.frame, "listening", false);
    row.badge->setText(rawAxisName(m_mapping.map[size_t(index)]));
    row.badge->setStyleSheet(QLatin1String(NeutralBadge));
    row.detect->setText(tr("Detect"));
    row.detect->setEnabled(true);
}

void AxisConfigDialog::cancelGearDetection()
{
    if (m_detectingGear < 0)
        return;
    const GearRow &row = m_gearRows[size_t(m_detectingGear)];
    m_detectingGear = -1;
    if (m_gearPoller)
        m_gearPoller->stop();
    if (m_detectTimeout)
        m_detectTimeout->stop();
    row.value->setStyleSheet(QLatin1String(NeutralBadge));
    row.detect->setText(tr("Detect"));
    row.detect->setEnabled(true);
}

void AxisConfigDialog::onDetectAxis(int logicalIndex)
{
    if (logicalIndex < 0 || logicalIndex > 3)
        return;
    InputDevice *device = mappingDevice();
    if (!device) {
        QMessageBox::warning(this, tr("No Device"), tr("No input device is connected. Connect a device first."));
        return;
    }
    // One detection at a time: the shared timeout would otherwise leave the other one listening.
    cancelAxisDetection();
    cancelGearDetection();
    for (int k = 0; k < 8; ++k) {
        m_axisStart[size_t(k)] = device->axis(k);
        m_axisTravel[size_t(k)] = 0.0f;
    }
    m_detectingRow = logicalIndex;
    const MappingRow &row = m_mappingRows[size_t(logicalIndex)];
    row.detect->setText(tr("Listening\u2026"));
    row.detect->setEnabled(false);
    row.badge->setText(tr("Listening\u2026"));
    row.badge->setStyleSheet(QLatin1String(ListeningBadge));
    ostra::setStyleState(row.frame, "listening", true);

    if (!m_axisSampler)
        m_axisSampler = new QTimer(this);
    m_axisSampler->disconnect();
    connect(m_axisSampler, &QTimer::timeout, this, [this, device] { sampleAxes(device); });
    m_axisSampler->start(SampleMs);

    QTimer *timeout = detectionTimeout();
    connect(timeout, &QTimer::timeout, this, [this, logicalIndex] { onDetectAxisTimeout(logicalIndex); });
    timeout->start(AxisDetectMs);
}

void AxisConfigDialog::sampleAxes(InputDevice *device)
{
    if (m_detectingRow < 0)
        return;
    for (int k = 0; k < 8; ++k) {
        const float travel = std::fabs(device->axis(k) - m_axisStart[size_t(k)]);
        if (travel > m_axisTravel[size_t(k)])
            m_axisTravel[size_t(k)] = travel;
    }
}

void AxisConfigDialog::onDetectAxisTimeout(int logicalIndex)
{
    if (logicalIndex < 0 || logicalIndex != m_detectingRow)
        return;
    MappingRow &row = m_mappingRows[size_t(logicalIndex)];
    ostra::setStyleState(row.frame, "listening", false);
    m_axisSampler->stop();
    int chosen = -1;
    float best = 0.0f;
    for (int k = 0; k < 8; ++k) {
        if (m_axisTravel[size_t(k)] > best) {
            best = m_axisTravel[size_t(k)];
            chosen = k;
        }
    }
    m_detectingRow = -1;
    if (chosen >= 0 && best > MinTravel) {
        m_mapping.map[size_t(logicalIndex)] = chosen;
        markMappingCustom();
        row.badge->setText(rawAxisName(chosen));
        row.badge->setStyleSheet(QLatin1String(DetectedBadge));
        applyWorkingMapping();
        row.detect->setText(tr("Detected!"));
        row.detect->setEnabled(true);
        QTimer::singleShot(FeedbackMs, row.detect, [this, logicalIndex] {
            if (m_detectingRow == logicalIndex)
                return;
            const MappingRow &shown = m_mappingRows[size_t(logicalIndex)];
            shown.detect->setText(tr("Detect"));
            shown.badge->setStyleSheet(QLatin1String(NeutralBadge));
        });
        return;
    }
    row.badge->setText(rawAxisName(m_mapping.map[size_t(logicalIndex)]));
    row.badge->setStyleSheet(QLatin1String(NeutralBadge));
    row.detect->setText(tr("Detect"));
    row.detect->setEnabled(true);
    QMessageBox::information(this, tr("No Movement Detected"),
                             tr("No significant axis movement was detected. Try again and move the input further."));
}

void AxisConfigDialog::updateMappingMeters()
{
    InputDevice *device = mappingDevice();
    const bool live = device && device->isConnected();
    for (int i = 0; i < 4; ++i) {
        const int raw = m_mapping.map[size_t(i)];
        const double value = live && raw >= 0 ? (device->axis(raw) + 1.0) / 2.0 : 0.0;
        m_mappingRows[size_t(i)].meter->setValue(value);
    }
}

void AxisConfigDialog::buildShifterTab(QWidget *tab)
{
    const AxisSettings current = m_controller ? m_controller->axisSettings() : m_settings;
    if (m_controller)
        m_shifterMapping = m_controller->shifterMapping();
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 10, 0, 0);
    layout->setSpacing(6);
    for (int g = 0; g < ShifterMapping::Size; ++g) {
        GearRow &row = m_gearRows[size_t(g)];
        QFrame *frame = makeRowFrame(tab, 8);
        auto *rowLayout = static_cast<QHBoxLayout *>(frame->layout());
        row.name = makeRowName(gearName(g), 80, frame);
        rowLayout->addWidget(row.name);
        row.value = new QLabel(buttonText(m_shifterMapping[g]), frame);
        row.value->setStyleSheet(QLatin1String(NeutralBadge));
        rowLayout->addWidget(row.value, 0, Qt::AlignVCenter);
        rowLayout->addStretch(1);
        if (g >= 2) {
            const int k = g - 2;
            auto *spin = new QSpinBox(frame);
            spin->setRange(0, 100);
            spin->setSuffix(QStringLiteral("%"));
            spin->setValue(current.gearThrottleLimitPercent[size_t(k)]);
            spin->setToolTip(tr("Max throttle % for %1").arg(gearName(g)));
            connect(spin, &QSpinBox::valueChanged, this, [this, k](int v) { onGearThrottleLimitChanged(k, v); });
            rowLayout->addWidget(spin);
            m_gearLimitSpins[size_t(k)] = spin;
            QLabel *crsf = ostra::makeRoleLabel(QString(), "mono", frame);
            crsf->setMinimumWidth(48);
            crsf->setToolTip(tr("Calculated CRSF value"));
            rowLayout->addWidget(crsf);
            m_gearLimitLabels[size_t(k)] = crsf;
        }
        row.detect = makeDetectButton(tr("Press the %1 position to detect which button it uses").arg(gearName(g)), frame);
        connect(row.detect, &QPushButton::clicked, this, [this, g] { onDetectShifterGear(g); });
        rowLayout->addWidget(row.detect);
        layout->addWidget(frame);
    }

    auto *limits = new QWidget(tab);
    auto *limitsLayout = new QHBoxLayout(limits);
    limitsLayout->setContentsMargins(0, 8, 0, 0);
    limitsLayout->setSpacing(8);
    m_gearLimitEnabled = new QCheckBox(tr("Enable Per-Gear Throttle Limits"), limits);
    m_gearLimitEnabled->setToolTip(tr("Limit maximum throttle based on current gear (like rev limiters per gear)"));
    m_gearLimitEnabled->setChecked(current.gearThrottleLimitEnabled);
    connect(m_gearLimitEnabled, &QCheckBox::toggled, this, &AxisConfigDialog::onGearThrottleLimitEnabledChanged);
    limitsLayout->addWidget(m_gearLimitEnabled);
    m_escInfoButton = new QPushButton(tr("ESC Info"), limits);
    m_escInfoButton->setToolTip(tr("Show ESC configuration reference (what 100% means)"));
    connect(m_escInfoButton, &QPushButton::clicked, this, &AxisConfigDialog::onSetMaxThrottleClicked);
    limitsLayout->addWidget(m_escInfoButton);
    limitsLayout->addStretch();
    layout->addWidget(limits);
    layout->addStretch();

    updateGearThrottleLimitLabels();
    for (QSpinBox *spin : m_gearLimitSpins)
        spin->setEnabled(current.gearThrottleLimitEnabled);
}

void AxisConfigDialog::onDetectShifterGear(int gearIndex)
{
    if (gearIndex < 0 || gearIndex >= ShifterMapping::Size)
        return;
    InputDevice *shifter = m_controller ? m_controller->shifter() : nullptr;
    if (!shifter || !shifter->isConnected()) {
        QMessageBox::warning(this, tr("No Device"), tr("No shifter device is connected."));
        return;
    }
    cancelAxisDetection();
    cancelGearDetection();
    // The gear's row shows the detection.
    m_passes->ensure(m_shifterPart);
    m_detectingGear = gearIndex;
    QPushButton *detect = m_gearRows[size_t(gearIndex)].detect;
    detect->setText(tr("Press gear..."));
    detect->setEnabled(false);

    if (!m_gearPoller)
        m_gearPoller = new QTimer(this);
    m_gearPoller->stop();
    m_gearPoller->disconnect();
    connect(m_gearPoller, &QTimer::timeout, this, [this, shifter] { pollShifterButtons(shifter); });
    m_gearPoller->start(SampleMs);

    QTimer *timeout = detectionTimeout();
    connect(timeout, &QTimer::timeout, this, [this, gearIndex] { onDetectShifterGearTimeout(gearIndex); });
    timeout->start(GearDetectMs);
}

void AxisConfigDialog::pollShifterButtons(InputDevice *device)
{
    const int g = m_detectingGear;
    if (g < 0)
        return;
    int pressed = -1;
    for (int b = 0; b < InputDevice::ButtonCount && pressed < 0; ++b) {
        if (device->button(b))
            pressed = b;
    }
    if (pressed < 0)
        return;
    m_gearPoller->stop();
    m_shifterMapping[g] = pressed;
    const GearRow &row = m_gearRows[size_t(g)];
    row.value->setText(buttonText(pressed));
    row.value->setStyleSheet(QLatin1String(DetectedBadge));
    row.detect->setText(tr("Detected!"));
    row.detect->setEnabled(true);
    m_detectingGear = -1;
    if (m_controller)
        m_controller->setShifterMapping(m_shifterMapping);
    QTimer::singleShot(FeedbackMs, row.detect, [this, g] {
        if (m_detectingGear == g)
            return;
        const GearRow &shown = m_gearRows[size_t(g)];
        shown.detect->setText(tr("Detect"));
        shown.value->setStyleSheet(QLatin1String(NeutralBadge));
    });
}

void AxisConfigDialog::onDetectShifterGearTimeout(int gearIndex)
{
    if (gearIndex < 0 || gearIndex != m_detectingGear)
        return;
    m_gearPoller->stop();
    m_detectingGear = -1;
    QPushButton *detect = m_gearRows[size_t(gearIndex)].detect;
    detect->setText(tr("Detect"));
    detect->setEnabled(true);
    QMessageBox::information(this, tr("No Button Detected"),
                             tr("No button press was detected. Try again and hold the gear position."));
}

void AxisConfigDialog::onGearThrottleLimitChanged(int gearIndex, int percent)
{
    if (gearIndex < 0 || gearIndex > 6)
        return;
    if (m_controller) {
        AxisSettings applied = m_controller->axisSettings();
        applied.gearThrottleLimitPercent[size_t(gearIndex)] = percent;
        m_controller->setAxisSettings(applied);
    }
    m_settings.gearThrottleLimitPercent[size_t(gearIndex)] = percent;
    updateGearThrottleLimitLabels();
}

void AxisConfigDialog::onGearThrottleLimitEnabledChanged(bool checked)
{
    if (m_controller) {
        AxisSettings applied = m_controller->axisSettings();
        applied.gearThrottleLimitEnabled = checked;
        m_controller->setAxisSettings(applied);
    }
    m_settings.gearThrottleLimitEnabled = checked;
    for (QSpinBox *spin : m_gearLimitSpins) {
        if (spin)
            spin->setEnabled(checked);
    }
}

int AxisConfigDialog::gearCrsfValue(int percent) const
{
    const AxisSettings current = m_controller ? m_controller->axisSettings() : m_settings;
    const bool custom = current.escMode != 0;
    const int neutral = custom ? current.escNeutral : 992;
    const int forward = custom ? current.escFullForward : 1811;
    return neutral + int(percent * double(forward - neutral) / 100.0);
}

void AxisConfigDialog::updateGearThrottleLimitLabels()
{
    const AxisSettings current = m_controller ? m_controller->axisSettings() : m_settings;
    for (int k = 0; k < 7; ++k) {
        if (QLabel *label = m_gearLimitLabels[size_t(k)])
            label->setText(QString::number(gearCrsfValue(current.gearThrottleLimitPercent[size_t(k)])));
    }
}

void AxisConfigDialog::onSetMaxThrottleClicked()
{
    const int neutral = gearCrsfValue(0);
    const int forward = gearCrsfValue(100);
    QMessageBox::information(this, tr("ESC Configuration Reference"),
                             tr("Current ESC Configuration:\n\nNeutral: %1\nFull Forward (100%): %2\n\n"
                                "Gear throttle limits are calculated as:\n"
                                "Limit = Neutral + (Percent \u00D7 (FullForward - Neutral))")
                                 .arg(neutral)
                                 .arg(forward));
}

} // namespace corvane
