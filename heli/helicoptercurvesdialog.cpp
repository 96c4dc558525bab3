#include "heli/helicoptercurvesdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "heli/curvepreviewwidget.h"
#include "heli/helidialogparts.h"
#include "ostraui/dialogchrome.h"

namespace corvane {

HelicopterCurvesDialog::HelicopterCurvesDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Curves"));
    setMinimumWidth(460);
    // Built where the chrome shows it: moved there filled, all of it would be restyled again.
    QWidget *content = ostra::dialogContent(this);
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(12);

    layout->addWidget(buildCurveGroup(
        tr("Pitch Curve (Collective)"),
        tr("Shapes how the collective stick maps to CH3. Stick low \u2192 high gives the blade-pitch profile. "
           "When enabled it replaces the Collective Range."),
        m_pitch, &HelicopterConfig::Fly::pitchCurve, nullptr));

    auto *motorRow = new QWidget(content);
    auto *motorLayout = new QHBoxLayout(motorRow);
    motorLayout->setContentsMargins(0, 0, 0, 0);
    motorLayout->addWidget(new QLabel(tr("Motor channel"), motorRow));
    m_motorChannel = new QComboBox(motorRow);
    for (int channel = 5; channel <= 15; ++channel)
        m_motorChannel->addItem(tr("CH%1").arg(channel + 1), channel);
    motorLayout->addWidget(m_motorChannel, 1);
    layout->addWidget(buildCurveGroup(
        tr("Throttle Curve (Motor)"),
        tr("Drives the motor channel from the same collective stick (non-governed style). When enabled it "
           "overrides any button mapping on that channel."),
        m_throttle, &HelicopterConfig::Fly::throttleCurve, motorRow));
    // A pick of the item already shown counts too: a loaded channel outside the list shows CH6.
    const auto pickChannel = [this](int index) { m_config.fly.motorChannel = m_motorChannel->itemData(index).toInt(); };
    connect(m_motorChannel, &QComboBox::currentIndexChanged, this, pickChannel);
    connect(m_motorChannel, &QComboBox::activated, this, pickChannel);
    connect(m_throttle.enable, &QCheckBox::toggled, m_motorChannel, &QWidget::setEnabled);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, content);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    setConfig(m_config);
    finishHeliDialog(this);
}

QWidget *HelicopterCurvesDialog::buildCurveGroup(const QString &title, const QString &description,
                                                 CurveGroup &group, HeliCurve HelicopterConfig::Fly::*curve,
                                                 QWidget *extra)
{
    auto *box = new QGroupBox(title, ostra::dialogContent(this));
    auto *layout = new QVBoxLayout(box);
    layout->setSpacing(8);
    group.enable = new QCheckBox(tr("Enable"), box);
    layout->addWidget(group.enable);

    auto *row = new QHBoxLayout;
    group.preview = new CurvePreviewWidget(box);
    row->addWidget(group.preview, 1);
    auto *grid = new QGridLayout;
    grid->setSpacing(4);
    static const char *const positions[] = {QT_TR_NOOP("0%"), QT_TR_NOOP("25%"), QT_TR_NOOP("50%"),
                                            QT_TR_NOOP("75%"), QT_TR_NOOP("100%")};
    for (int i = 0; i < 5; ++i) {
        auto *label = new QLabel(tr(positions[i]), box);
        label->setStyleSheet(heliHelpStyle());
        auto *spin = new QSpinBox(box);
        spin->setRange(0, 100);
        spin->setSuffix(tr("%"));
        grid->addWidget(label, i, 0);
        grid->addWidget(spin, i, 1);
        group.spins[size_t(i)] = spin;
        connect(spin, &QSpinBox::valueChanged, this, [this, &group, curve, i](int value) {
            HeliCurve &edited = m_config.fly.*curve;
            edited.points[size_t(i)] = static_cast<float>(value) / 100.0f;
            group.preview->setPoints(edited.points);
        });
    }
    row->addLayout(grid);
    layout->addLayout(row);
    layout->addWidget(makeHeliHelpLabel(description, box));
    if (extra)
        layout->addWidget(extra);

    connect(group.enable, &QCheckBox::toggled, this, [this, &group, curve](bool on) {
        (m_config.fly.*curve).enabled = on;
        for (QSpinBox *spin : group.spins)
            spin->setEnabled(on);
    });
    return box;
}

void HelicopterCurvesDialog::loadGroup(CurveGroup &group, const HeliCurve &curve)
{
    {
        const QSignalBlocker blocker(group.enable);
        group.enable->setChecked(curve.enabled);
    }
    for (int i = 0; i < 5; ++i) {
        QSpinBox *spin = group.spins[size_t(i)];
        const QSignalBlocker blocker(spin);
        spin->setValue(percentOf(curve.points[size_t(i)]));
        spin->setEnabled(curve.enabled);
    }
    group.preview->setPoints(curve.points);
}

void HelicopterCurvesDialog::setConfig(const HelicopterConfig &config)
{
    m_config = config;
    loadGroup(m_pitch, m_config.fly.pitchCurve);
    loadGroup(m_throttle, m_config.fly.throttleCurve);
    const QSignalBlocker blocker(m_motorChannel);
    const int index = m_motorChannel->findData(m_config.fly.motorChannel);
    m_motorChannel->setCurrentIndex(index >= 0 ? index : 0);
    m_motorChannel->setEnabled(m_config.fly.throttleCurve.enabled);
}

} // namespace corvane
