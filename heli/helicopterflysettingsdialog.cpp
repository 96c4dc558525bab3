#include "heli/helicopterflysettingsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <functional>

#include "heli/helidialogparts.h"
#include "ostraui/dialogchrome.h"

namespace corvane {

namespace {

QString titleStyle()
{
    return QStringLiteral("color:%1;").arg(QStringLiteral("#0F1720"));
}

QString percentText(int percent)
{
    return HelicopterFlySettingsDialog::tr("%1%").arg(percent);
}

QString secondsText(int seconds)
{
    return HelicopterFlySettingsDialog::tr("%1 s").arg(seconds);
}

// Sets a slider without writing back, and its label from the stored number itself.
void loadSlider(QSlider *slider, QLabel *label, int value, const QString &text)
{
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
    label->setText(text);
}

// One label column for every group: the sliders of all groups then start at the same x.
void alignLabelColumns(const QList<QGridLayout *> &grids, QWidget *rowLabel)
{
    int widest = rowLabel->sizeHint().width();
    for (QGridLayout *grid : grids) {
        for (int i = 0; i < grid->count(); ++i) {
            int row = 0;
            int column = 0;
            int rowSpan = 0;
            int columnSpan = 0;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
            if (column == 0 && columnSpan == 1)
                widest = qMax(widest, grid->itemAt(i)->sizeHint().width());
        }
    }
    for (QGridLayout *grid : grids)
        grid->setColumnMinimumWidth(0, widest);
    rowLabel->setMinimumWidth(widest);
}

} // namespace

HelicopterFlySettingsDialog::HelicopterFlySettingsDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Fly Settings"));
    setMinimumWidth(420);
    // Built where the chrome shows it: moved there filled, all of it would be restyled again.
    QWidget *content = ostra::dialogContent(this);
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(12);

    QGridLayout *range = makeGroup(tr("Collective Range"), layout);
    range->addWidget(makeHeliHelpLabel(tr("Idle is the lowest collective sent; Max caps the top of the range."), content),
                     0, 0, 1, 3);
    m_idle = addPercentRow(range, 1, tr("Idle"), 0, 50,
                           [this](int v) { m_config.calibration.throttle.minOutput = float(v) / 100.0f; });
    m_max = addPercentRow(range, 2, tr("Max"), 50, 100,
                          [this](int v) { m_config.calibration.throttle.maxOutput = float(v) / 100.0f; });

    QGridLayout *expo = makeGroup(tr("Stick Expo"), layout);
    expo->addWidget(makeHeliHelpLabel(tr("Softer response near center for finer control; full at the ends. "
                                         "Typical: Aileron/Elevator 20\u201335%, Rudder 10\u201325%."),
                                      content),
                    0, 0, 1, 3);
    m_expoRoll = addPercentRow(expo, 1, tr("Aileron (Roll)"), 0, 100,
                               [this](int v) { m_config.calibration.roll.expo = float(v) / 100.0f; });
    m_expoPitch = addPercentRow(expo, 2, tr("Elevator (Pitch)"), 0, 100,
                                [this](int v) { m_config.calibration.pitch.expo = float(v) / 100.0f; });
    m_expoRudder = addPercentRow(expo, 3, tr("Rudder (Yaw)"), 0, 100,
                                 [this](int v) { m_config.calibration.rudder.expo = float(v) / 100.0f; });

    QGridLayout *rates = makeGroup(tr("Dual Rates"), layout);
    m_dualRates = new QCheckBox(tr("Enable dual rates (cap cyclic + rudder authority)"), content);
    rates->addWidget(m_dualRates, 0, 0, 1, 3);
    rates->addWidget(makeHeliHelpLabel(tr("Same stick, less or more aggressive. Switch live on Live Control."), content),
                     1, 0, 1, 3);
    DualRates &dual = m_config.fly.dualRates;
    m_beginner = addPercentRow(rates, 2, tr("Beginner"), 10, 100, [&dual](int v) { dual.beginnerPct = v; });
    m_sport = addPercentRow(rates, 3, tr("Sport"), 10, 100, [&dual](int v) { dual.sportPct = v; });
    m_threeD = addPercentRow(rates, 4, tr("3D"), 10, 100, [&dual](int v) { dual.threeDPct = v; });
    auto *modeLabel = new QLabel(tr("Default mode"), content);
    modeLabel->setStyleSheet(titleStyle());
    rates->addWidget(modeLabel, 5, 0);
    m_defaultMode = new QComboBox(content);
    m_defaultMode->addItems({tr("Beginner"), tr("Sport"), tr("3D")});
    m_defaultMode->setStyleSheet(
        QStringLiteral("QComboBox{background:%1;color:%2;border:1px solid %3;border-radius:6px;padding:4px 8px;}"
                       "QComboBox:focus{border-color:%4;}")
            .arg(QStringLiteral("#F7F9FB"), QStringLiteral("#0F1720"), QStringLiteral("#E6EAF0"), QStringLiteral("#4CC2FF")));
    rates->addWidget(m_defaultMode, 5, 1, 1, 2);
    connect(m_dualRates, &QCheckBox::toggled, this, [this](bool on) {
        m_config.fly.dualRates.enabled = on;
        enableRates(on);
    });
    connect(m_defaultMode, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_config.fly.dualRates.activeMode = index; });

    auto *safetyBox = new QGroupBox(tr("Throttle Safety"), content);
    auto *safety = new QVBoxLayout(safetyBox);
    safety->setSpacing(8);
    m_armAtIdle = new QCheckBox(tr("Arm at idle \u2014 refuse to start unless the collective is down"), safetyBox);
    m_softStart = new QCheckBox(tr("Soft start \u2014 ramp the collective up gradually on start"), safetyBox);
    // The dialog widens rather than cutting their sentences.
    for (QCheckBox *box : {m_armAtIdle, m_softStart})
        box->setSizePolicy(QSizePolicy::Minimum, box->sizePolicy().verticalPolicy());
    safety->addWidget(m_armAtIdle);
    safety->addWidget(m_softStart);
    auto *rampRow = new QHBoxLayout;
    rampRow->setSpacing(8);
    auto *rampLabel = new QLabel(tr("Ramp duration"), safetyBox);
    rampLabel->setStyleSheet(titleStyle());
    m_ramp.slider = new QSlider(Qt::Horizontal, safetyBox);
    m_ramp.slider->setRange(1, 10);
    m_ramp.value = new QLabel(secondsText(3), safetyBox);
    m_ramp.value->setStyleSheet(heliValueStyle() + QStringLiteral("min-width:44px;"));
    m_ramp.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rampRow->addWidget(rampLabel);
    rampRow->addWidget(m_ramp.slider, 1);
    rampRow->addWidget(m_ramp.value);
    safety->addLayout(rampRow);
    layout->addWidget(safetyBox);
    alignLabelColumns({range, expo, rates}, rampLabel);
    connect(m_armAtIdle, &QCheckBox::toggled, this, [this](bool on) { m_config.fly.armAtIdle = on; });
    connect(m_softStart, &QCheckBox::toggled, this, [this](bool on) {
        m_config.fly.softStart = on;
        m_ramp.slider->setEnabled(on);
    });
    connect(m_ramp.slider, &QSlider::valueChanged, this, [this](int seconds) {
        m_config.fly.softStartSec = seconds;
        m_ramp.value->setText(secondsText(seconds));
    });

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, content);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    setConfig(m_config);
    finishHeliDialog(this);
}

QGridLayout *HelicopterFlySettingsDialog::makeGroup(const QString &title, QLayout *into)
{
    auto *box = new QGroupBox(title, into->parentWidget());
    auto *grid = new QGridLayout(box);
    grid->setSpacing(8);
    grid->setColumnStretch(1, 1);
    into->addWidget(box);
    return grid;
}

HelicopterFlySettingsDialog::SliderRow HelicopterFlySettingsDialog::makeSliderRow(QGridLayout *grid, int row,
                                                                                  const QString &title)
{
    QWidget *box = grid->parentWidget();
    auto *label = new QLabel(title, box);
    label->setStyleSheet(titleStyle());
    auto *slider = new QSlider(Qt::Horizontal, box);
    auto *value = new QLabel(percentText(0), box);
    value->setStyleSheet(heliValueStyle() + QStringLiteral("min-width:44px;"));
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(label, row, 0);
    grid->addWidget(slider, row, 1);
    grid->addWidget(value, row, 2);
    return {slider, value};
}

HelicopterFlySettingsDialog::SliderRow HelicopterFlySettingsDialog::addPercentRow(
    QGridLayout *grid, int row, const QString &title, int minimum, int maximum, const std::function<void(int)> &store)
{
    const SliderRow made = makeSliderRow(grid, row, title);
    made.slider->setRange(minimum, maximum);
    connect(made.slider, &QSlider::valueChanged, this, [store, label = made.value](int value) {
        store(value);
        label->setText(percentText(value));
    });
    return made;
}

void HelicopterFlySettingsDialog::enableRates(bool on)
{
    for (const SliderRow &rate : {m_beginner, m_sport, m_threeD})
        rate.slider->setEnabled(on);
    m_defaultMode->setEnabled(on);
}

void HelicopterFlySettingsDialog::setConfig(const HelicopterConfig &config)
{
    m_config = config;
    const AxisConfig &throttle = m_config.calibration.throttle;
    const auto loadPercent = [](const SliderRow &row, int percent) {
        loadSlider(row.slider, row.value, percent, percentText(percent));
    };
    loadPercent(m_idle, percentOf(throttle.minOutput));
    loadPercent(m_max, percentOf(throttle.maxOutput));
    loadPercent(m_expoRoll, percentOf(m_config.calibration.roll.expo));
    loadPercent(m_expoPitch, percentOf(m_config.calibration.pitch.expo));
    loadPercent(m_expoRudder, percentOf(m_config.calibration.rudder.expo));

    const DualRates &dual = m_config.fly.dualRates;
    {
        const QSignalBlocker blocker(m_dualRates);
        m_dualRates->setChecked(dual.enabled);
    }
    loadPercent(m_beginner, dual.beginnerPct);
    loadPercent(m_sport, dual.sportPct);
    loadPercent(m_threeD, dual.threeDPct);
    {
        const QSignalBlocker blocker(m_defaultMode);
        m_defaultMode->setCurrentIndex(qBound(0, dual.activeMode, 2));
    }
    enableRates(dual.enabled);

    {
        const QSignalBlocker blocker(m_armAtIdle);
        m_armAtIdle->setChecked(m_config.fly.armAtIdle);
    }
    {
        const QSignalBlocker blocker(m_softStart);
        m_softStart->setChecked(m_config.fly.softStart);
    }
    loadSlider(m_ramp.slider, m_ramp.value, m_config.fly.softStartSec, secondsText(m_config.fly.softStartSec));
    m_ramp.slider->setEnabled(m_config.fly.softStart);
}

} // namespace corvane
