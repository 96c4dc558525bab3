#include "heli/helicopterelrsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStringList>
#include <QVBoxLayout>

#include "heli/helidialogparts.h"
#include "ostraui/dialogchrome.h"

namespace corvane {

namespace {

// ELRS runs the motor while the arm channel is above this.
constexpr int ArmThresholdUs = 1500;

} // namespace

HelicopterElrsDialog::HelicopterElrsDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Arming & Safety"));
    setMinimumWidth(440);
    // Built where the chrome shows it: moved there filled, all of it would be restyled again.
    QWidget *content = ostra::dialogContent(this);
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(12);
    layout->addWidget(makeHeliHelpLabel(
        tr("Configure the channels your ExpressLRS/CRSF receiver expects. ELRS 3.x treats the arm channel as a "
           "motor safety switch: it must be above 1500 \u00B5s to run the motor."),
        content));

    auto *box = new QGroupBox(tr("Arm Switch"), content);
    auto *grid = new QGridLayout(box);
    grid->setSpacing(8);
    m_enabled = new QCheckBox(tr("Enable arm channel"), box);
    grid->addWidget(m_enabled, 0, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Channel"), box), 1, 0);
    m_channel = new QComboBox(box);
    for (int channel = 4; channel <= 15; ++channel)
        m_channel->addItem(tr("CH%1").arg(channel + 1), channel);
    grid->addWidget(m_channel, 1, 1);
    const auto makeSpin = [box, grid](const QString &label, int row) {
        grid->addWidget(new QLabel(label, box), row, 0);
        auto *spin = new QSpinBox(box);
        spin->setRange(900, 2100);
        spin->setSingleStep(1);
        grid->addWidget(spin, row, 1);
        return spin;
    };
    m_armedUs = makeSpin(tr("Armed value (\u00B5s)"), 2);
    m_safeUs = makeSpin(tr("Safe value (\u00B5s)"), 3);
    auto *note = new QLabel(tr("Armed must be > 1500 \u00B5s (e.g. 2012). Safe \u2264 1500 \u00B5s (e.g. 988). "
                               "Arm/disarm from the Transmission card while flying."),
                            box);
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color:%1;font-size:8pt;font-style:italic;").arg(QStringLiteral("#5B6675")));
    grid->addWidget(note, 4, 0, 1, 2);
    m_mappingNote = new QLabel(box);
    m_mappingNote->setObjectName(QStringLiteral("mappingNote"));
    // It names mappings as the user wrote them.
    m_mappingNote->setTextFormat(Qt::PlainText);
    m_mappingNote->setWordWrap(true);
    m_mappingNote->setStyleSheet(QStringLiteral("color:#B06F00;font-size:9pt;"));
    m_mappingNote->hide();
    grid->addWidget(m_mappingNote, 5, 0, 1, 2);
    layout->addWidget(box);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, content);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_enabled, &QCheckBox::toggled, this, [this](bool on) {
        m_config.fly.arm.enabled = on;
        enableValues(on);
        refreshMappingNote();
    });
    // A pick of the item already shown counts too: a loaded channel outside the list shows CH5.
    const auto pickChannel = [this](int index) {
        m_config.fly.arm.channel = m_channel->itemData(index).toInt();
        refreshMappingNote();
    };
    connect(m_channel, &QComboBox::currentIndexChanged, this, pickChannel);
    connect(m_channel, &QComboBox::activated, this, pickChannel);
    connect(m_armedUs, &QSpinBox::valueChanged, this, [this](int us) { m_config.fly.arm.onUs = us; });
    connect(m_safeUs, &QSpinBox::valueChanged, this, [this](int us) { m_config.fly.arm.offUs = us; });

    setConfig(m_config);
    finishHeliDialog(this);
}

void HelicopterElrsDialog::enableValues(bool on)
{
    m_channel->setEnabled(on);
    m_armedUs->setEnabled(on);
    m_safeUs->setEnabled(on);
}

bool HelicopterElrsDialog::confirmValues()
{
    const HeliArmSwitch &arm = m_config.fly.arm;
    QStringList effects;
    if (arm.enabled && arm.offUs > ArmThresholdUs)
        effects << tr("Safe %1 \u00B5s is above 1500 \u00B5s: the receiver treats it as armed, so the motor can run "
                      "while the page reads \u201CArming: safe\u201D.")
                       .arg(arm.offUs);
    if (arm.enabled && arm.onUs <= ArmThresholdUs)
        effects << tr("Armed %1 \u00B5s is not above 1500 \u00B5s: the receiver treats it as safe, so the motor "
                      "will not run when you arm it.")
                       .arg(arm.onUs);
    if (!effects.isEmpty()) {
        QPointer<HelicopterElrsDialog> alive(this);
        QMessageBox box(QMessageBox::Warning, tr("Arming values"), effects.join(QStringLiteral("\n\n")),
                        QMessageBox::Cancel, this);
        box.setInformativeText(tr("Store these values anyway?"));
        QPushButton *store = box.addButton(tr("Store anyway"), QMessageBox::AcceptRole);
        box.setDefaultButton(QMessageBox::Cancel);
        box.exec();
        // Cancel keeps the dialog open, with nothing stored, to correct the values.
        return alive && box.clickedButton() == store;
    }
    return true;
}

void HelicopterElrsDialog::accept()
{
    if (confirmValues())
        QDialog::accept();
}

void HelicopterElrsDialog::setConfig(const HelicopterConfig &config)
{
    m_config = config;
    const HeliArmSwitch &arm = m_config.fly.arm;
    {
        const QSignalBlocker blocker(m_enabled);
        m_enabled->setChecked(arm.enabled);
    }
    {
        const QSignalBlocker blocker(m_channel);
        const int index = m_channel->findData(arm.channel);
        m_channel->setCurrentIndex(index >= 0 ? index : 0);
    }
    {
        const QSignalBlocker blocker(m_armedUs);
        m_armedUs->setValue(arm.onUs);
    }
    {
        const QSignalBlocker blocker(m_safeUs);
        m_safeUs->setValue(arm.offUs);
    }
    enableValues(arm.enabled);
    refreshMappingNote();
}

void HelicopterElrsDialog::setButtonMappings(const QList<ButtonMapping> &mappings)
{
    m_mappings = mappings;
    refreshMappingNote();
}

// The arm value is written over its channel after the mappings: a button there does nothing.
void HelicopterElrsDialog::refreshMappingNote()
{
    const HeliArmSwitch &arm = m_config.fly.arm;
    QStringList names;
    for (const ButtonMapping &mapping : std::as_const(m_mappings)) {
        if (arm.enabled && mapping.buttonIndex >= 0 && mapping.channel == arm.channel)
            names << QStringLiteral("\u201C%1\u201D").arg(mapping.name);
    }
    const QString text = names.size() == 1
                             ? tr("The button mapping %1 on CH%2 does nothing while the arm channel is on: the "
                                  "arm value is sent there instead.")
                             : tr("The button mappings %1 on CH%2 do nothing while the arm channel is on: the arm "
                                  "value is sent there instead.");
    m_mappingNote->setText(text.arg(names.join(QStringLiteral(", ")), QString::number(arm.channel + 1)));
    m_mappingNote->setVisible(!names.isEmpty());
}

} // namespace corvane
