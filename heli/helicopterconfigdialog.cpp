#include "heli/helicopterconfigdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "bridge/axisresponse.h"
#include "bridge/corvanecontroller.h"
#include "bridge/helicopterinput.h"
#include "heli/helidialogparts.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/dialogkeyboard.h"
#include "ostraui/passbuilder.h"
#include "ostraui/theme.h"

namespace corvane {

namespace {

constexpr int PollMs = 33;
constexpr int DetectTicks = 90; // about 3 s
constexpr float DetectThreshold = 0.4f;

struct FunctionInfo
{
    const char *title;
    const char *roleName; // shown as written in the device label
    bool hasCenter;
};

const FunctionInfo Functions[HelicopterConfigDialog::FunctionCount] = {
    {QT_TRANSLATE_NOOP("corvane::HelicopterConfigDialog", "Roll (Joystick X)"), "Joystick", true},
    {QT_TRANSLATE_NOOP("corvane::HelicopterConfigDialog", "Pitch (Joystick Y)"), "Joystick", true},
    {QT_TRANSLATE_NOOP("corvane::HelicopterConfigDialog", "Throttle"), "Throttle", false},
    {QT_TRANSLATE_NOOP("corvane::HelicopterConfigDialog", "Rudder (Pedals)"), "Pedals", true},
};

QProgressBar *makeLiveBar(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    bar->setFixedHeight(10);
    bar->setStyleSheet(QStringLiteral("QProgressBar{background:#F3F5F8;border:1px solid #E6EAF0;border-radius:5px;}"
                                      "QProgressBar::chunk{background:#0F1720;border-radius:5px;}"));
    return bar;
}

// A value label's text in its read-out face, at the size of the text around it.
void showValue(QLabel *label, const QString &text)
{
    ostra::setReadoutText(label, text, 14, 400);
}

QLabel *makeValueLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color:#5B6675;"));
    showValue(label, text);
    return label;
}

QString pointText(float value)
{
    return QString::number(double(value), 'f', 2);
}

QString sensitivityText(int value)
{
    return HelicopterConfigDialog::tr("%1x").arg(QString::number(value / 100.0, 'f', 1));
}

bool connected(const InputDevice *device)
{
    return device && device->isConnected();
}

} // namespace

HelicopterConfigDialog::HelicopterConfigDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent), m_controller(controller), m_pollTimer(new QTimer(this)),
      m_calibrationParts(new ostra::PassBuilder(this))
{
    setWindowTitle(tr("Channel Mapping & Calibration"));
    setMinimumSize(560, 560);
    auto *layout = new QVBoxLayout(ostra::dialogContent(this));
    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs, 1);
    auto *mapping = new QWidget;
    m_tabs->addTab(ostra::makeScrollPage(mapping), tr("Mapping"));
    buildMappingTab(mapping);
    auto *calibration = new QWidget;
    m_tabs->addTab(ostra::makeScrollPage(calibration), tr("Calibration"));
    buildCalibrationTab(calibration);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_footer = buttons->buttons().value(0);

    // The Calibration tab is not on screen at opening: its blocks follow one per pass of the
    // event loop once the dialog shows, or all at once when it is turned to.
    for (int f = 0; f < FunctionCount; ++f)
        m_calibrationParts->add([this, f] { addCalibrationBlock(f); });
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == CalibrationTab)
            finishPages();
    });

    connect(m_pollTimer, &QTimer::timeout, this, &HelicopterConfigDialog::onPollTick);
    m_pollTimer->start(PollMs);
    finishHeliDialog(this);
}

void HelicopterConfigDialog::finishPages()
{
    m_calibrationParts->finish();
}

int HelicopterConfigDialog::builtCalibrationBlocks() const
{
    int built = 0;
    for (int f = 0; f < FunctionCount; ++f)
        built += m_calibrationParts->isBuilt(f) ? 1 : 0;
    return built;
}

void HelicopterConfigDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_calibrationParts->startAfterFirstPaint(this);
}

QComboBox *HelicopterConfigDialog::makeAxisCombo(QWidget *parent) const
{
    auto *combo = new QComboBox(parent);
    for (int axis = 0; axis < 8; ++axis)
        combo->addItem(tr("Axis %1").arg(axis + 1), axis);
    return combo;
}

void HelicopterConfigDialog::buildMappingTab(QWidget *tab)
{
    auto *layout = new QVBoxLayout(tab);
    layout->setSpacing(10);
    layout->addWidget(makeHeliHelpLabel(
        tr("To map an axis: press Detect, then move ONLY that control through its full range (e.g. push the main "
           "stick fully forward and back for Pitch). It auto-selects the axis that moved the most. You can also "
           "pick the axis manually \u2014 the bar shows the live value of the selected axis."),
        tab));

    for (int f = 0; f < FunctionCount; ++f) {
        Mapping &m = m_mapping[size_t(f)];
        auto *box = new QGroupBox(tr(Functions[f].title), tab);
        auto *grid = new QGridLayout(box);
        grid->setSpacing(8);
        grid->setColumnStretch(1, 1);
        m.deviceLabel = new QLabel(box);
        m.deviceLabel->setStyleSheet(heliHelpStyle());
        grid->addWidget(m.deviceLabel, 0, 0, 1, 3);
        auto *axisLabel = new QLabel(tr("Axis"), box);
        grid->addWidget(axisLabel, 1, 0);
        m.axis = makeAxisCombo(box);
        grid->addWidget(m.axis, 1, 1);
        auto *detect = new QPushButton(tr("Detect"), box);
        grid->addWidget(detect, 1, 2);
        m.bar = makeLiveBar(box);
        grid->addWidget(m.bar, 2, 0, 1, 3);
        connect(detect, &QPushButton::clicked, this, [this, f] { onDetectAxis(f); });
        connect(m.axis, &QComboBox::currentIndexChanged, this,
                [this, f](int index) { axisField(f) = m_mapping[size_t(f)].axis->itemData(index).toInt(); });

        m.missingAxis = makeHeliWarningLabel(box);
        m.missingAxis->setObjectName(QStringLiteral("missingAxis"));
        grid->addWidget(m.missingAxis, 5, 0, 1, 3);

        if (f == Rudder) {
            m_firstPedalLabel = axisLabel;
            m_splitPedals = new QCheckBox(tr("I have two separate pedals (one for each direction)"), box);
            grid->addWidget(m_splitPedals, 3, 0, 1, 3);
            m_secondPedal = new QWidget(box);
            auto *second = new QGridLayout(m_secondPedal);
            second->setContentsMargins(0, 0, 0, 0);
            second->setSpacing(8);
            second->setColumnStretch(1, 1);
            second->addWidget(new QLabel(tr("Right pedal"), m_secondPedal), 0, 0);
            m_secondPedalAxis = makeAxisCombo(m_secondPedal);
            second->addWidget(m_secondPedalAxis, 0, 1);
            auto *detectSecond = new QPushButton(tr("Detect"), m_secondPedal);
            second->addWidget(detectSecond, 0, 2);
            grid->addWidget(m_secondPedal, 4, 0, 1, 3);
            connect(detectSecond, &QPushButton::clicked, this, [this] {
                startAxisDetection(m_secondPedalAxis, deviceOf(Rudder), m_mapping[Rudder].deviceLabel);
            });
            connect(m_secondPedalAxis, &QComboBox::currentIndexChanged, this, [this](int index) {
                m_config.inputs.pedals.axis2 = m_secondPedalAxis->itemData(index).toInt();
            });
            connect(m_splitPedals, &QCheckBox::toggled, this, [this](bool on) {
                HelicopterConfig::Pedals &pedals = m_config.inputs.pedals;
                pedals.differential = on;
                if (on && pedals.axis2 < 0)
                    pedals.axis2 = m_secondPedalAxis->currentData().toInt();
                updatePedalModeUi();
            });
        }
        layout->addWidget(box);
    }
    layout->addStretch();
    updatePedalModeUi();
}

void HelicopterConfigDialog::buildCalibrationTab(QWidget *tab)
{
    auto *layout = new QVBoxLayout(tab);
    layout->setSpacing(10);
    layout->addWidget(makeHeliHelpLabel(tr("Move each control to its limits and set the min/center/max. Use reverse, "
                                           "deadzone and sensitivity to fine-tune the response."),
                                        tab));
    layout->addStretch();
    m_calibrationLayout = layout;
}

void HelicopterConfigDialog::addCalibrationBlock(int function)
{
    QWidget *tab = m_calibrationLayout->parentWidget();
    QWidget *block = buildCalibrationBlock(function, tr(Functions[function].title), Functions[function].hasCenter, tab);
    // Each block goes after those before it, above the closing stretch.
    m_calibrationLayout->insertWidget(m_calibrationLayout->count() - 1, block);
    // On a tab already shown, at once: the layout would show it a pass later, after the tab
    // was painted without it.
    if (tab->isVisible())
        block->show();
    showCalibration(function);
    m_calibration[size_t(function)].bar->setValue(liveLevel(function));
    ostra::keepFooterLastInTabOrder(this, m_tabs, m_footer);
}

QWidget *HelicopterConfigDialog::buildCalibrationBlock(int function, const QString &title, bool hasCenter,
                                                       QWidget *tab)
{
    Calibration &c = m_calibration[size_t(function)];
    auto *box = new QGroupBox(title, tab);
    auto *grid = new QGridLayout(box);
    grid->setSpacing(8);

    grid->addWidget(new QLabel(tr("Input"), box), 0, 0);
    c.bar = makeLiveBar(box);
    grid->addWidget(c.bar, 0, 1, 1, 4);

    // Each Set button captures the live reading into one calibration point.
    const auto addSet = [&](const QString &text, int column, QLabel *&label, float AxisConfig::*point) {
        auto *button = new QPushButton(text, box);
        label = makeValueLabel(QStringLiteral("\u2014"), box);
        grid->addWidget(button, 1, column);
        grid->addWidget(label, 1, column + 1);
        connect(button, &QPushButton::clicked, this, [this, function, point, label] {
            const float v = rawInput(function);
            AxisConfig &axis = calibrationOf(function);
            axis.*point = v;
            axis.useCalibration = true;
            showValue(label, pointText(v));
        });
    };
    addSet(tr("Set Min"), 0, c.minLabel, &AxisConfig::inputMin);
    if (hasCenter)
        addSet(tr("Set Center"), 2, c.centerLabel, &AxisConfig::inputCenter);
    addSet(tr("Set Max"), hasCenter ? 4 : 2, c.maxLabel, &AxisConfig::inputMax);

    c.reverse = new QCheckBox(tr("Reverse direction"), box);
    grid->addWidget(c.reverse, 2, 0, 1, 2);
    connect(c.reverse, &QCheckBox::toggled, this, [this, function](bool on) { calibrationOf(function).inverted = on; });

    grid->addWidget(new QLabel(tr("Deadzone"), box), 3, 0);
    c.deadzone = new QSlider(Qt::Horizontal, box);
    c.deadzone->setRange(0, 50);
    grid->addWidget(c.deadzone, 3, 1, 1, 3);
    c.deadzoneLabel = makeValueLabel(tr("%1%").arg(0), box);
    grid->addWidget(c.deadzoneLabel, 3, 4);
    connect(c.deadzone, &QSlider::valueChanged, this, [this, function](int s) {
        calibrationOf(function).deadzone = float(s) / 100.0f;
        m_calibration[size_t(function)].deadzoneLabel->setText(tr("%1%").arg(s));
    });

    grid->addWidget(new QLabel(tr("Sensitivity"), box), 4, 0);
    c.sensitivity = new QSlider(Qt::Horizontal, box);
    c.sensitivity->setRange(100, 400);
    grid->addWidget(c.sensitivity, 4, 1, 1, 3);
    c.sensitivityLabel = makeValueLabel(sensitivityText(100), box);
    grid->addWidget(c.sensitivityLabel, 4, 4);
    connect(c.sensitivity, &QSlider::valueChanged, this, [this, function](int s) {
        AxisConfig &axis = calibrationOf(function);
        axis.curveExponent = float(s) / 100.0f;
        axis.curve = s > 105 ? 1 : 0;
        m_calibration[size_t(function)].sensitivityLabel->setText(sensitivityText(s));
    });
    return box;
}

InputDevice *HelicopterConfigDialog::deviceOf(int function) const
{
    switch (function) {
    case Roll:
    case Pitch: return m_controller->heliJoystick();
    case Throttle: return m_controller->heliThrottle();
    default: return m_controller->heliPedals();
    }
}

int &HelicopterConfigDialog::axisField(int function)
{
    HelicopterConfig::Inputs &in = m_config.inputs;
    switch (function) {
    case Roll: return in.joystick.xAxis;
    case Pitch: return in.joystick.yAxis;
    case Throttle: return in.throttle.axis;
    default: return in.pedals.axis;
    }
}

AxisConfig &HelicopterConfigDialog::calibrationOf(int function)
{
    return const_cast<AxisConfig &>(std::as_const(*this).calibrationOf(function));
}

const AxisConfig &HelicopterConfigDialog::calibrationOf(int function) const
{
    const HelicopterConfig::Calibration &cal = m_config.calibration;
    switch (function) {
    case Roll: return cal.roll;
    case Pitch: return cal.pitch;
    case Throttle: return cal.throttle;
    default: return cal.rudder;
    }
}

float HelicopterConfigDialog::rawInput(int function) const
{
    const HelicopterConfig::Inputs &in = m_config.inputs;
    switch (function) {
    case Roll: return heliCentredReading(deviceOf(Roll), in.joystick.xAxis);
    case Pitch: return heliCentredReading(deviceOf(Pitch), in.joystick.yAxis);
    case Throttle: return heliAxisReading(deviceOf(Throttle), in.throttle.axis);
    default: return heliRudderReading(in.pedals, deviceOf(Rudder));
    }
}

int HelicopterConfigDialog::liveLevel(int function) const
{
    return static_cast<int>((rawInput(function) + 1.0f) * 500.0f);
}

void HelicopterConfigDialog::onDetectAxis(int function)
{
    if (function < 0 || function >= FunctionCount)
        return;
    const Mapping &m = m_mapping[size_t(function)];
    startAxisDetection(m.axis, deviceOf(function), m.deviceLabel);
}

void HelicopterConfigDialog::startAxisDetection(QComboBox *combo, InputDevice *device, QLabel *label)
{
    if (!combo || !connected(device))
        return;
    m_detectCombo = combo;
    m_detectDevice = device;
    m_detectLabel = label;
    m_detectTicksLeft = DetectTicks;
    for (int axis = 0; axis < 8; ++axis) {
        m_detectMin[size_t(axis)] = device->axis(axis);
        m_detectMax[size_t(axis)] = device->axis(axis);
    }
}

void HelicopterConfigDialog::onPollTick()
{
    for (InputDevice *device : {m_controller->heliJoystick(), m_controller->heliThrottle(), m_controller->heliPedals()}) {
        if (connected(device))
            device->poll();
    }

    if (m_detectCombo) {
        if (connected(m_detectDevice)) {
            for (int axis = 0; axis < 8; ++axis) {
                const float v = m_detectDevice->axis(axis);
                m_detectMin[size_t(axis)] = qMin(m_detectMin[size_t(axis)], v);
                m_detectMax[size_t(axis)] = qMax(m_detectMax[size_t(axis)], v);
            }
        }
        if (m_detectLabel)
            m_detectLabel->setText(tr("Detecting\u2026 sweep this control through its full range"));
        if (--m_detectTicksLeft < 1) {
            int winner = -1;
            float best = DetectThreshold;
            for (int axis = 0; axis < 8; ++axis) {
                const float span = m_detectMax[size_t(axis)] - m_detectMin[size_t(axis)];
                if (span > best) {
                    best = span;
                    winner = axis;
                }
            }
            QComboBox *combo = m_detectCombo;
            m_detectCombo = nullptr;
            m_detectDevice = nullptr;
            m_detectLabel = nullptr;
            const int index = winner >= 0 ? combo->findData(winner) : -1;
            if (index >= 0)
                combo->setCurrentIndex(index);
        }
    }

    updateMissingAxisNotes();
    for (int f = 0; f < FunctionCount; ++f) {
        const int level = liveLevel(f);
        m_mapping[size_t(f)].bar->setValue(level);
        if (QProgressBar *bar = m_calibration[size_t(f)].bar)
            bar->setValue(level);
        QLabel *label = m_mapping[size_t(f)].deviceLabel;
        if (label == m_detectLabel)
            continue;
        const InputDevice *device = deviceOf(f);
        label->setText(QStringLiteral("%1: %2").arg(QLatin1String(Functions[f].roleName),
                                                    connected(device) ? device->deviceName() : tr("not connected")));
    }
}

void HelicopterConfigDialog::updateMissingAxisNotes()
{
    const std::array<QString, 4> notes
        = heliMissingAxisNotes(m_config, deviceOf(Roll), deviceOf(Throttle), deviceOf(Rudder));
    for (int f = 0; f < FunctionCount; ++f)
        setHeliWarning(m_mapping[size_t(f)].missingAxis, notes[size_t(f)]);
}

void HelicopterConfigDialog::setConfig(const HelicopterConfig &config)
{
    m_config = config;
    for (int f = 0; f < FunctionCount; ++f) {
        QComboBox *combo = m_mapping[size_t(f)].axis;
        {
            const QSignalBlocker blocker(combo);
            const int index = combo->findData(axisField(f));
            if (index >= 0)
                combo->setCurrentIndex(index);
        }
        // A block not built yet shows the record once it is.
        if (m_calibrationParts->isBuilt(f))
            showCalibration(f);
    }
    {
        const QSignalBlocker blocker(m_splitPedals);
        m_splitPedals->setChecked(m_config.inputs.pedals.differential);
    }
    const int second = m_secondPedalAxis->findData(m_config.inputs.pedals.axis2);
    if (m_config.inputs.pedals.axis2 >= 0 && second >= 0) {
        const QSignalBlocker blocker(m_secondPedalAxis);
        m_secondPedalAxis->setCurrentIndex(second);
    }
    updatePedalModeUi();
    updateMissingAxisNotes();
}

void HelicopterConfigDialog::showCalibration(int f)
{
    const AxisConfig &axis = calibrationOf(f);
    Calibration &c = m_calibration[size_t(f)];
    {
        const QSignalBlocker blocker(c.reverse);
        c.reverse->setChecked(axis.inverted);
    }
    {
        const int deadzone = percentOf(axis.deadzone);
        const QSignalBlocker blocker(c.deadzone);
        c.deadzone->setValue(deadzone);
        c.deadzoneLabel->setText(tr("%1%").arg(deadzone));
    }
    {
        const int sensitivity = axis.curve != 0 ? percentOf(axis.curveExponent) : 100;
        const QSignalBlocker blocker(c.sensitivity);
        c.sensitivity->setValue(sensitivity);
        c.sensitivityLabel->setText(sensitivityText(sensitivity));
    }
    if (axis.useCalibration) {
        showValue(c.minLabel, pointText(axis.inputMin));
        showValue(c.maxLabel, pointText(axis.inputMax));
        if (c.centerLabel)
            showValue(c.centerLabel, pointText(axis.inputCenter));
    }
}

QStringList HelicopterConfigDialog::calibrationFaults() const
{
    QStringList faults;
    for (int f = 0; f < FunctionCount; ++f) {
        const AxisConfig &axis = calibrationOf(f);
        if (!axis.useCalibration)
            continue;
        const QString title = tr(Functions[f].title);
        // Negated, so that a point that is no number counts as a fault too.
        if (!(axis.inputMax - axis.inputMin > MinCalibrationSpan)) {
            faults << tr("%1: the minimum must be below the maximum. Move the control to each end and press Set Min "
                         "and Set Max again.")
                          .arg(title);
        } else if (Functions[f].hasCenter
                   && !(axis.inputCenter - axis.inputMin > MinCalibrationSpan
                        && axis.inputMax - axis.inputCenter > MinCalibrationSpan)) {
            faults << tr("%1: the center must lie between the minimum and the maximum. Let the control rest at its "
                         "center and press Set Center again.")
                          .arg(title);
        }
    }
    return faults;
}

bool HelicopterConfigDialog::confirmValues()
{
    const QStringList faults = calibrationFaults();
    if (faults.isEmpty())
        return true;
    // An axis without travel would send one value whatever the control does.
    m_tabs->setCurrentIndex(CalibrationTab);
    QMessageBox box(QMessageBox::Warning, tr("Calibration incomplete"), faults.join(QStringLiteral("\n\n")),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return false;
}

void HelicopterConfigDialog::accept()
{
    if (confirmValues())
        QDialog::accept();
}

void HelicopterConfigDialog::updatePedalModeUi()
{
    const bool split = m_config.inputs.pedals.differential;
    m_secondPedal->setVisible(split);
    m_firstPedalLabel->setText(split ? tr("Left pedal") : tr("Axis"));
}

} // namespace corvane
