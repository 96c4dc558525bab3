#include "dialogs/dashboardsettingsdialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

#include "ostraui/dialogchrome.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

namespace {

// A slider with its number beside it; the number follows every move.
QHBoxLayout *sliderRow(QSlider *&slider, QLabel *&label, int minimum, int maximum, int value,
                       QWidget *parent)
{
    slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(minimum, maximum);
    slider->setValue(value);
    label = new QLabel(QString::number(slider->value()), parent);
    label->setStyleSheet(QStringLiteral("color: #0F1720; min-width: 32px;"));
    QObject::connect(slider, &QSlider::valueChanged, label,
                     [label](int v) { label->setText(QString::number(v)); });
    auto *row = new QHBoxLayout;
    row->addWidget(slider, 1);
    row->addWidget(label);
    return row;
}

int toMph(double kmh)
{
    return int(std::lround(kmh * DashboardSettingsDialog::KmhToMph));
}

int toKmh(double mph)
{
    return int(std::lround(mph / DashboardSettingsDialog::KmhToMph));
}

} // namespace

DashboardSettingsDialog::DashboardSettingsDialog(const DashboardSettings &settings, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_showingMph(settings.useMph)
{
    setWindowTitle(tr("Dashboard Settings"));
    setMinimumWidth(360);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(16);
    auto *form = new QFormLayout;
    form->setSpacing(12);
    layout->addLayout(form);

    m_unitCombo = new QComboBox(this);
    m_unitCombo->addItem(tr("km/h"));
    m_unitCombo->addItem(tr("mph"));
    m_unitCombo->setCurrentIndex(m_settings.useMph ? 1 : 0);
    connect(m_unitCombo, &QComboBox::currentIndexChanged, this, &DashboardSettingsDialog::onUnitChanged);
    form->addRow(tr("Units"), m_unitCombo);

    m_topSpeedSpin = new QSpinBox(this);
    m_topSpeedSpin->setRange(10, 999);
    m_topSpeedSpin->setValue(m_settings.useMph ? toMph(m_settings.topSpeedKmh) : m_settings.topSpeedKmh);
    m_unitLabel = new QLabel(m_settings.useMph ? tr("mph") : tr("km/h"), this);
    auto *topRow = new QHBoxLayout;
    topRow->addWidget(m_topSpeedSpin, 1);
    topRow->addWidget(m_unitLabel);
    form->addRow(tr("Top speed"), topRow);

    form->addRow(tr("Acceleration"), sliderRow(m_accelSlider, m_accelLabel, 5, 150, m_settings.accel, this));
    form->addRow(tr("Deceleration"), sliderRow(m_decelSlider, m_decelLabel, 5, 300, m_settings.decel, this));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *cancel = new QPushButton(tr("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *save = new QPushButton(tr("Save"), this);
    save->setProperty("primary", true);
    save->setObjectName(QStringLiteral("ok"));
    connect(save, &QPushButton::clicked, this, &DashboardSettingsDialog::onAccept);
    buttons->addWidget(cancel);
    buttons->addWidget(save);
    layout->addLayout(buttons);

    ostra::applyDialogChrome(this, QString());
}

void DashboardSettingsDialog::onUnitChanged(int index)
{
    const bool mph = index == 1;
    if (mph == m_showingMph)
        return;
    int v = m_topSpeedSpin->value();
    if (m_showingMph)
        v = toKmh(v);
    if (mph)
        v = toMph(v);
    m_topSpeedSpin->setValue(v);
    m_unitLabel->setText(mph ? tr("mph") : tr("km/h"));
    m_showingMph = mph;
}

void DashboardSettingsDialog::onAccept()
{
    const DashboardSettings shown = m_settings;
    m_settings.useMph = m_unitCombo->currentIndex() == 1;
    m_settings.topSpeedKmh = m_settings.useMph ? toKmh(m_topSpeedSpin->value()) : m_topSpeedSpin->value();
    m_settings.accel = m_accelSlider->value();
    m_settings.decel = m_decelSlider->value();
    // What the user changed, and only that: the file may hold newer values of the rest.
    QVariantMap changed;
    const auto take = [&changed](const char *key, const auto &before, const auto &after) {
        if (before != after)
            changed.insert(QLatin1String(key), after);
    };
    take("useMph", shown.useMph, m_settings.useMph);
    take("topSpeedKmh", shown.topSpeedKmh, m_settings.topSpeedKmh);
    take("accel", shown.accel, m_settings.accel);
    take("decel", shown.decel, m_settings.decel);
    if (!changed.isEmpty())
        SettingsFile().setValues(QStringLiteral("dashboard"), changed);
    accept();
}

} // namespace corvane
