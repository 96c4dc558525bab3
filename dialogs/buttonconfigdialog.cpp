#include "dialogs/buttonconfigdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "profiles/profilename.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

namespace {

const QString UnitsKey = QStringLiteral("buttonConfig/crsfUnits");
constexpr int PollMs = 33;

bool isRampMode(int mode)
{
    return mode == 1 || mode == 2;
}

} // namespace

ButtonConfigDialog::ButtonConfigDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_devices{controller->wheelBase()}
{
    setWindowTitle(tr("Configure Buttons"));
    setMinimumSize(400, 420);
    buildUi();
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(PollMs);
    connect(m_pollTimer, &QTimer::timeout, this, &ButtonConfigDialog::onPollButtons);
    m_pollTimer->start();
    ostra::applyDialogChrome(this, QString());
}

ButtonConfigDialog::~ButtonConfigDialog() = default;

void ButtonConfigDialog::buildUi()
{
    // Everything is made where it stays: a built tree moved under the style sheet is restyled whole.
    QWidget *content = ostra::dialogContent(this);
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(12);

    auto *header = new QWidget(content);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 4);
    headerLayout->setSpacing(8);
    auto *title = new QLabel(tr("Button Mappings"), header);
    title->setStyleSheet(QStringLiteral("color: #0F1720; font-weight: bold; font-size: 10pt;"));
    headerLayout->addWidget(title);
    auto *info = new QPushButton(QStringLiteral("?"), header);
    info->setFixedSize(20, 20);
    info->setToolTip(tr("What are Button Mappings?"));
    info->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: #5B6675; border: 1px solid #E6EAF0; border-radius: 10px; "
        "font-weight: bold; font-size: 10pt; padding: 0; min-width: 18px; max-width: 18px; min-height: 18px; "
        "max-height: 18px; }"
        "QPushButton:hover { background: #E6EAF0; color: #0F1720; }"));
    connect(info, &QPushButton::clicked, this, &ButtonConfigDialog::onInfoClicked);
    headerLayout->addWidget(info);
    headerLayout->addStretch();
    layout->addWidget(header);

    // The three groups scroll together: on a screen of 1080 lines or fewer the dialog opens lower
    // than they need, and the grid of controls would otherwise be squeezed over itself.
    auto *body = new QWidget(content);
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 12, 0); // clear of the scroll bar
    bodyLayout->setSpacing(12);
    // In place while empty: moving it filled would restyle all it holds again.
    layout->addWidget(ostra::makeScrollPage(body), 1);

    auto *captureGroup = new QGroupBox(tr("Capture Button"), body);
    auto *captureLayout = new QVBoxLayout(captureGroup);
    m_captureLabel = new QLabel(tr("Press a button on your wheel..."), captureGroup);
    m_captureLabel->setAlignment(Qt::AlignCenter);
    m_captureLabel->setWordWrap(true);
    m_captureLabel->setStyleSheet(QStringLiteral("color: #0F1720; font-size: 12pt; font-weight: bold; padding: 12px;"));
    captureLayout->addWidget(m_captureLabel);
    auto *captureButtons = new QHBoxLayout;
    captureButtons->addStretch();
    auto *clear = new QPushButton(tr("Clear Buttons"), captureGroup);
    auto *reset = new QPushButton(tr("Reset / Capture Another"), captureGroup);
    for (QPushButton *button : {clear, reset}) {
        button->setStyleSheet(QStringLiteral("background: #F7F9FB; border: 1px solid #E6EAF0;"));
        captureButtons->addWidget(button);
    }
    captureButtons->addStretch();
    captureLayout->addLayout(captureButtons);
    connect(clear, &QPushButton::clicked, this, &ButtonConfigDialog::onClearCapturedButtons);
    connect(reset, &QPushButton::clicked, this, &ButtonConfigDialog::onResetCapture);
    bodyLayout->addWidget(captureGroup);

    auto *configGroup = new QGroupBox(tr("Button Configuration"), body);
    auto *grid = new QGridLayout(configGroup);
    grid->setSpacing(8);
    const auto addRow = [grid, configGroup](int row, const QString &text, QWidget *control) {
        auto *label = new QLabel(text, configGroup);
        grid->addWidget(label, row, 0);
        grid->addWidget(control, row, 1, 1, 2);
        return label;
    };
    m_nameEdit = new QLineEdit(configGroup);
    m_nameEdit->setPlaceholderText(tr("e.g., Shift Up, Horn, Lights..."));
    // The name rule's length, which the API's import holds a mapping's name to.
    m_nameEdit->setMaxLength(ProfileName::MaxLength);
    addRow(0, tr("Action Name:"), m_nameEdit);
    m_channelCombo = new QComboBox(configGroup);
    fillChannelChoices(CorvaneController::CarMappedChannelFirst, CorvaneController::CarMappedChannelLast);
    addRow(1, tr("Output Channel:"), m_channelCombo);
    m_armNote = new QLabel(configGroup);
    m_armNote->setObjectName(QStringLiteral("armChannelNote"));
    m_armNote->setWordWrap(true);
    m_armNote->setStyleSheet(QStringLiteral("color: #B06F00;"));
    m_armNote->hide();
    grid->addWidget(m_armNote, 2, 1, 1, 2);
    connect(m_channelCombo, &QComboBox::currentIndexChanged, this, [this] { updateArmNote(); });
    m_modeCombo = new QComboBox(configGroup);
    m_modeCombo->addItem(tr("Press \u2014 send value while held"), 0);
    m_modeCombo->addItem(tr("Press to toggle \u2014 switches and stays"), 3);
    m_modeCombo->addItem(tr("Switch position \u2014 press to set value (multi-position)"), 4);
    m_modeCombo->addItem(tr("Hold to raise value (e.g. throttle up)"), 1);
    m_modeCombo->addItem(tr("Hold to lower value (e.g. throttle down)"), 2);
    addRow(3, tr("What does this button do?"), m_modeCombo);
    m_helpLabel = new QLabel(configGroup);
    m_helpLabel->setWordWrap(true);
    m_helpLabel->setStyleSheet(QStringLiteral("color: #8A94A3; font-style: italic; padding: 0 4px 4px 4px;"));
    grid->addWidget(m_helpLabel, 4, 0, 1, 3);
    m_unitsCombo = new QComboBox(configGroup);
    m_unitsCombo->addItem(tr("Percent (0-100 %)"), false);
    m_unitsCombo->addItem(tr("CRSF units (0-2047)"), true);
    m_unitsCombo->setToolTip(tr("CRSF units are the exact channel values sent over the air:") + QLatin1Char('\n')
                             + tr("0 = minimum, 2047 = maximum, 992 = CRSF-standard center (1500 \u00b5s).")
                             + QLatin1Char('\n') + tr("Use this if you know the exact value your receiver expects."));
    addRow(5, tr("Values in:"), m_unitsCombo);
    const auto spin = [configGroup](int maximum, int value, int minimum = 0) {
        auto *box = new QSpinBox(configGroup);
        box->setRange(minimum, maximum);
        box->setValue(value);
        return box;
    };
    m_valueSpin = spin(100, 100);
    m_valueSpin->setSuffix(tr(" %  (0 = off, 100 = on)"));
    m_valueLabel = addRow(6, tr("Value when pressed:"), m_valueSpin);
    m_rateSpin = spin(500, 50, 1);
    m_rateSpin->setSuffix(tr(" %/s  (50 = full sweep in 2s)"));
    m_rateSpin->setToolTip(tr("How fast the value changes while the button is held.") + QLatin1Char('\n')
                           + tr("Higher = moves faster. 50%/s = full range in 2 seconds."));
    m_rateLabel = addRow(7, tr("Speed:"), m_rateSpin);
    m_minSpin = spin(100, 0);
    m_minSpin->setSuffix(QStringLiteral(" %"));
    m_minSpin->setToolTip(tr("The value won't go below this when decreasing."));
    m_minLabel = addRow(8, tr("Lowest value:"), m_minSpin);
    m_maxSpin = spin(100, 100);
    m_maxSpin->setSuffix(QStringLiteral(" %"));
    m_maxSpin->setToolTip(tr("The value won't go above this when increasing."));
    m_maxLabel = addRow(9, tr("Highest value:"), m_maxSpin);
    m_startSpin = spin(100, 50);
    m_startSpin->setToolTip(tr("Where the value sits when you start transmission, before you press any button."));
    m_startLabel = addRow(10, tr("Starts at:"), m_startSpin);
    m_pitLimiterCheck = new QCheckBox(tr("Activate Pit Limiter when pressed"), configGroup);
    m_pitLimiterCheck->setStyleSheet(
        QStringLiteral("QCheckBox { color: #0F1720; } QCheckBox::indicator { width: 16px; height: 16px; }"));
    grid->addWidget(m_pitLimiterCheck, 11, 0, 1, 3);
    m_addButton = new QPushButton(tr("Add Mapping"), configGroup);
    m_addButton->setEnabled(false);
    m_addButton->setProperty("danger", false);
    m_addButton->setProperty("primary", true);
    grid->addWidget(m_addButton, 12, 0, 1, 3);
    connect(m_modeCombo, &QComboBox::currentIndexChanged, this, [this] { updateModeFields(); });
    connect(m_addButton, &QPushButton::clicked, this, &ButtonConfigDialog::onAddMapping);
    updateModeFields();
    bodyLayout->addWidget(configGroup);

    auto *listGroup = new QGroupBox(tr("Configured Buttons"), body);
    auto *listLayout = new QVBoxLayout(listGroup);
    m_list = new QListWidget(listGroup);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &ButtonConfigDialog::onMappingSelected);
    listLayout->addWidget(m_list);
    auto *listButtons = new QHBoxLayout;
    m_removeButton = new QPushButton(tr("Remove Selected"), listGroup);
    m_removeButton->setEnabled(false);
    auto *clearAll = new QPushButton(tr("Clear All"), listGroup);
    for (QPushButton *button : {m_removeButton, clearAll}) {
        button->setStyleSheet(QStringLiteral("background: #FDE8E8;"));
        listButtons->addWidget(button);
    }
    listButtons->addStretch();
    listLayout->addLayout(listButtons);
    connect(m_removeButton, &QPushButton::clicked, this, &ButtonConfigDialog::onRemoveMapping);
    connect(clearAll, &QPushButton::clicked, this, &ButtonConfigDialog::onClearAll);
    bodyLayout->addWidget(listGroup, 1);

    auto *footer = new QHBoxLayout;
    footer->addStretch();
    auto *cancel = new QPushButton(tr("Cancel"), content);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    footer->addWidget(cancel);
    auto *apply = new QPushButton(tr("Apply"), content);
    apply->setProperty("danger", false);
    apply->setProperty("primary", true);
    connect(apply, &QPushButton::clicked, this, &ButtonConfigDialog::onApply);
    footer->addWidget(apply);
    layout->addLayout(footer);

    if (SettingsFile().value(UnitsKey, false).toBool()) {
        m_unitsCombo->setCurrentIndex(1);
        setCrsfUnits();
    }
    connect(m_unitsCombo, &QComboBox::currentIndexChanged, this, [this] { setCrsfUnits(); });
}

void ButtonConfigDialog::setCrsfUnits()
{
    QSpinBox *const boxes[] = {m_valueSpin, m_rateSpin, m_minSpin, m_maxSpin, m_startSpin};
    int values[5];
    for (int i = 0; i < 5; ++i)
        values[i] = toCrsf(boxes[i]->value());
    m_crsfUnits = m_unitsCombo->currentData().toBool();
    if (m_crsfUnits) {
        m_valueSpin->setRange(0, 2047);
        m_valueSpin->setSuffix(tr("  (0 = off, 2047 = on)"));
        m_rateSpin->setRange(1, 10235);
        m_rateSpin->setSuffix(tr(" /s  (1024 = full sweep in 2s)"));
        m_rateSpin->setToolTip(tr("How fast the value changes while the button is held, in CRSF units per second.")
                               + QLatin1Char('\n') + tr("Higher = moves faster. 1024/s = full range in 2 seconds."));
        for (QSpinBox *box : {m_minSpin, m_maxSpin}) {
            box->setRange(0, 2047);
            box->setSuffix(QString());
        }
        m_startSpin->setRange(0, 2047);
    } else {
        m_valueSpin->setRange(0, 100);
        m_valueSpin->setSuffix(tr(" %  (0 = off, 100 = on)"));
        m_rateSpin->setRange(1, 500);
        m_rateSpin->setSuffix(tr(" %/s  (50 = full sweep in 2s)"));
        m_rateSpin->setToolTip(tr("How fast the value changes while the button is held.") + QLatin1Char('\n')
                               + tr("Higher = moves faster. 50%/s = full range in 2 seconds."));
        for (QSpinBox *box : {m_minSpin, m_maxSpin}) {
            box->setRange(0, 100);
            box->setSuffix(QStringLiteral(" %"));
        }
        m_startSpin->setRange(0, 100);
    }
    for (int i = 0; i < 5; ++i)
        boxes[i]->setValue(toShown(values[i]));
    SettingsFile().setValue(UnitsKey, m_crsfUnits);
    updateModeFields();
    refreshMappingList();
}

void ButtonConfigDialog::updateModeFields()
{
    const int mode = m_modeCombo->currentData().toInt();
    const bool ramp = isRampMode(mode);
    m_valueLabel->setVisible(!ramp);
    m_valueSpin->setVisible(!ramp);
    for (QWidget *widget : std::initializer_list<QWidget *>{m_rateLabel, m_rateSpin, m_minLabel, m_minSpin, m_maxLabel,
                                                             m_maxSpin})
        widget->setVisible(ramp);
    m_startLabel->setVisible(true);
    m_startSpin->setVisible(true);
    if (mode < 0 || mode > 4)
        return;

    const QString onOff = m_crsfUnits ? tr("  (0 = off, 2047 = on)") : tr(" %  (0 = off, 100 = on)");
    switch (mode) {
    case 0:
        m_valueLabel->setText(tr("Value when pressed:"));
        m_startLabel->setText(tr("Value when released:"));
        m_startSpin->setSuffix(onOff);
        m_helpLabel->setText(tr("Sends the \"pressed\" value while the button is held, then returns to the "
                                "\"released\" value on release. Good for: horn, lights, pit limiter."));
        break;
    case 3:
        m_valueLabel->setText(tr("Value when ON:"));
        m_startLabel->setText(tr("Value when OFF:"));
        m_startSpin->setSuffix(onOff);
        m_helpLabel->setText(tr("First press switches to the ON value and stays. Next press switches back to OFF. "
                                "Good for: light on/off, landing gear, arming, mode select."));
        break;
    case 4:
        m_valueLabel->setText(tr("This position's value:"));
        m_startLabel->setText(tr("Default value (before any press):"));
        m_startSpin->setSuffix(m_crsfUnits ? QString() : QStringLiteral(" %"));
        m_helpLabel->setText(tr("Press to set the channel to this position's value and hold it. Map several buttons "
                                "to the SAME channel with different values to make a multi-position switch (e.g. "
                                "motor Off / Idle-up 1 / Idle-up 2). Good for: motor RPM, flight modes."));
        break;
    default:
        m_startLabel->setText(tr("Starts at:"));
        m_startSpin->setSuffix(m_crsfUnits ? tr("  (0 = bottom, 1024 = middle, 2047 = top)")
                                           : tr(" %  (0 = bottom, 50 = middle, 100 = top)"));
        m_helpLabel->setText(mode == 1
                                 ? tr("Hold to slowly raise the value. Release to hold it at the current position. "
                                      "Good for: motor speed up, gimbal up/right, camera zoom in.")
                                 : tr("Hold to slowly lower the value. Release to hold it at the current position. "
                                      "Good for: motor speed down, gimbal down/left, camera zoom out."));
        break;
    }
}

void ButtonConfigDialog::fillChannelChoices(int first, int last)
{
    m_channelCombo->clear();
    for (int channel = first; channel <= last; ++channel)
        m_channelCombo->addItem(QStringLiteral("CH%1").arg(channel + 1), channel);
}

void ButtonConfigDialog::useHelicopterChannels(const HelicopterConfig &config)
{
    m_helicopter = true;
    m_setupChannels = CorvaneController::heliSetupChannels(config);
    m_armChannel = config.fly.arm.enabled ? config.fly.arm.channel : -1;
    fillChannelChoices(CorvaneController::HeliMappedChannelFirst, CorvaneController::HeliMappedChannelLast);
    preselectFreeChannel();
    updateArmNote();
    refreshMappingList();
}

// The first channel nothing else drives; else the first the helicopter setup leaves to mappings,
// which a multi-position switch may share.
void ButtonConfigDialog::preselectFreeChannel()
{
    if (!m_helicopter)
        return;
    QSet<int> mapped;
    for (const ButtonMapping &mapping : std::as_const(m_mappings.mappings)) {
        if (mapping.buttonIndex >= 0)
            mapped.insert(mapping.channel);
    }
    int shared = -1;
    for (int i = 0; i < m_channelCombo->count(); ++i) {
        const int channel = m_channelCombo->itemData(i).toInt();
        if (m_setupChannels.contains(channel))
            continue;
        if (!mapped.contains(channel)) {
            m_channelCombo->setCurrentIndex(i);
            return;
        }
        if (shared < 0)
            shared = i;
    }
    m_channelCombo->setCurrentIndex(qMax(shared, 0));
}

// The arm switch is written over the channel after the mappings: a button there does nothing.
void ButtonConfigDialog::updateArmNote()
{
    const int channel = m_channelCombo->currentData().toInt();
    m_armNote->setVisible(m_armChannel >= 0 && channel == m_armChannel);
    m_armNote->setText(tr("CH%1 is the arm channel while \"Enable arm channel\" is on (Arming & Safety): the "
                          "arm value is sent there, so a button mapped to it does nothing.")
                           .arg(channel + 1));
}

void ButtonConfigDialog::setMappings(const ButtonMappingSet &mappings)
{
    m_mappings = mappings;
    refreshMappingList();
    preselectFreeChannel();
}

void ButtonConfigDialog::onAddMapping()
{
    if (m_captured.isEmpty())
        return;
    const QString name = m_nameEdit->text().trimmed();
    if (name.isEmpty()) {
        QMessageBox::warning(this, tr("Error"), tr("Please enter an action name."));
        return;
    }
    const int mode = m_modeCombo->currentData().toInt();
    if (isRampMode(mode)) {
        if (m_minSpin->value() >= m_maxSpin->value()) {
            QMessageBox::warning(this, tr("Error"), tr("Min must be less than Max."));
            return;
        }
        if (m_startSpin->value() < m_minSpin->value() || m_startSpin->value() > m_maxSpin->value()) {
            QMessageBox::warning(this, tr("Error"), tr("Start must be between Min and Max."));
            return;
        }
    }
    ButtonMapping mapping;
    mapping.name = name;
    mapping.buttonIndex = m_captured.first();
    mapping.extraButtons = m_captured.mid(1);
    mapping.channel = m_channelCombo->currentData().toInt();
    mapping.mode = mode;
    mapping.outputValue = toCrsf(m_valueSpin->value());
    mapping.rateUnitsPerSec = toCrsf(m_rateSpin->value());
    mapping.minValue = toCrsf(m_minSpin->value());
    mapping.maxValue = toCrsf(m_maxSpin->value());
    mapping.startValue = toCrsf(m_startSpin->value());
    mapping.activatesPitLimiter = m_pitLimiterCheck->isChecked();

    if (m_editingIndex >= 0 && m_editingIndex < m_mappings.mappings.size())
        m_mappings.mappings[m_editingIndex] = mapping;
    else
        upsertButtonMapping(m_mappings.mappings, mapping);
    refreshMappingList();
    m_nameEdit->clear();
    m_pitLimiterCheck->setChecked(false);
    onResetCapture();
}

void ButtonConfigDialog::onRemoveMapping()
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    const int row = selected.isEmpty() ? -1 : m_list->row(selected.first());
    if (row < 0 || row >= m_mappings.mappings.size())
        return;
    m_mappings.mappings.removeAt(row);
    refreshMappingList();
    // The edited binding is gone: a following "Update Mapping" would overwrite whichever
    // binding moved into its row, so the editor starts a new binding.
    onResetCapture();
}

void ButtonConfigDialog::onMappingSelected()
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    m_removeButton->setEnabled(!selected.isEmpty());
    if (selected.isEmpty())
        return;
    const int row = m_list->row(selected.first());
    if (row < 0 || row >= m_mappings.mappings.size())
        return;
    const ButtonMapping &mapping = m_mappings.mappings.at(row);
    m_editingIndex = row;
    m_captured.clear();
    if (mapping.buttonIndex >= 0)
        m_captured.append(mapping.buttonIndex);
    m_captured.append(mapping.extraButtons);
    m_nameEdit->setText(mapping.name);
    m_channelCombo->setCurrentIndex(qMax(0, m_channelCombo->findData(mapping.channel)));
    m_modeCombo->setCurrentIndex(qMax(0, m_modeCombo->findData(mapping.mode)));
    m_valueSpin->setValue(toShown(mapping.outputValue));
    m_rateSpin->setValue(toShown(mapping.rateUnitsPerSec));
    m_minSpin->setValue(toShown(mapping.minValue));
    m_maxSpin->setValue(toShown(mapping.maxValue));
    m_startSpin->setValue(toShown(mapping.startValue));
    m_pitLimiterCheck->setChecked(mapping.activatesPitLimiter);
    updateModeFields();
    m_held.clear();
    if (hasConnectedDevice()) {
        pollDevices();
        readHeldInputs();
    }
    m_addButton->setText(tr("Update Mapping"));
    m_addButton->setEnabled(true);
    showCapturePrompt();
}

void ButtonConfigDialog::onClearAll()
{
    if (m_mappings.mappings.isEmpty())
        return;
    const auto answer = QMessageBox::question(this, tr("Clear All"),
                                              tr("Are you sure you want to remove all button mappings?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    m_mappings.mappings.clear();
    m_mappings.rampValues.clear();
    m_mappings.positionValues.clear();
    refreshMappingList();
}

void ButtonConfigDialog::onApply()
{
    accept();
}

void ButtonConfigDialog::refreshMappingList()
{
    m_list->clear();
    for (const ButtonMapping &m : std::as_const(m_mappings.mappings)) {
        const QString head = QStringLiteral("%1 - %2 -> CH%3").arg(m.name, inputsLabel(m)).arg(m.channel + 1);
        QString tail;
        switch (m.mode) {
        case 1:
        case 2:
            tail = QStringLiteral(" (%1%2/s, %3..%4, start %5)")
                       .arg(m.mode == 1 ? QStringLiteral("+") : QStringLiteral("-"), formatValue(m.rateUnitsPerSec),
                            formatValue(m.minValue), formatValue(m.maxValue), formatValue(m.startValue));
            break;
        case 3:
            tail = tr(" (Toggle: %1 / %2)").arg(formatValue(m.startValue), formatValue(m.outputValue));
            break;
        case 4:
            tail = tr(" (Position: %1)").arg(formatValue(m.outputValue));
            break;
        default:
            tail = tr(" (press %1, release %2)").arg(formatValue(m.outputValue), formatValue(m.startValue));
            break;
        }
        if (m.activatesPitLimiter)
            tail += QStringLiteral(" [PIT]");
        if (m.channel == m_armChannel)
            tail += tr(" [no effect: arm channel]");
        m_list->addItem(head + tail);
    }
    m_removeButton->setEnabled(false);
}

QString ButtonConfigDialog::formatValue(int value) const
{
    return m_crsfUnits ? QString::number(value) : QStringLiteral("%1%").arg(crsfToPercent(value));
}

QString ButtonConfigDialog::inputsLabel(const ButtonMapping &mapping) const
{
    QStringList names;
    if (mapping.buttonIndex >= 0)
        names.append(inputDisplayName(mapping.buttonIndex));
    for (int extra : mapping.extraButtons)
        names.append(inputDisplayName(extra));
    return names.isEmpty() ? tr("(none)") : names.join(QStringLiteral(" / "));
}

void ButtonConfigDialog::onInfoClicked()
{
    QMessageBox box(QMessageBox::Information, tr("About Button Mappings"), QString(), QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    const QString intro =
        m_helicopter ? tr("<p>Button mappings let the buttons of your joystick, throttle and pedals drive the "
                          "helicopter's extra channels or special functions.</p>")
                     : tr("<p>Button mappings let the buttons of your wheel drive the RC car's extra channels or "
                          "special functions.</p>");
    const QString capture = m_helicopter ? tr("<li>Press the button on your joystick, throttle or pedals to capture "
                                              "it.</li>")
                                         : tr("<li>Press the button on your wheel to capture it.</li>");
    const int first = m_channelCombo->itemData(0).toInt() + 1;
    const int last = m_channelCombo->itemData(m_channelCombo->count() - 1).toInt() + 1;
    const QString kept =
        m_helicopter ? tr("Channels 1 to 4 are kept for roll, pitch, collective and rudder; the arm switch and the "
                          "motor channel, while they are on, send on their channel in place of a mapping.")
                     : tr("Channels 1 and 2 are kept for steering and throttle.");
    box.setText(tr("<b>Button Mappings</b>") + intro + tr("<p><b>How to map a button</b></p>") + QStringLiteral("<ol>")
                + capture
                + tr("<li>Enter an action name (e.g. Shift Up, Horn, Motor Up).</li>"
                     "<li>Select an output channel (CH%1 to CH%2).</li>"
                     "<li>Choose what the button does.</li>"
                     "<li>Click \"Add Mapping\".</li></ol>")
                      .arg(first)
                      .arg(last)
                + tr("<p><b>Behaviours</b></p>"
                     "<ul><li><b>Press</b>: sends a value while held (horn, lights, pit limiter).</li>"
                     "<li><b>Press to toggle</b>: switches on and stays until the next press (light on/off, landing "
                     "gear, arming, mode select).</li>"
                     "<li><b>Hold to raise</b>: slowly raises the value while held (motor speed up, gimbal up/right, "
                     "camera zoom in).</li>"
                     "<li><b>Hold to lower</b>: slowly lowers the value while held (motor speed down, gimbal "
                     "down/left, camera zoom out).</li></ul>"
                     "<p>Pair one \"raise\" and one \"lower\" button on the same channel for up/down control, such "
                     "as throttle trim.</p>")
                + tr("<p><b>Output channels</b>: CH%1 to CH%2. %3</p>").arg(first).arg(last).arg(kept)
                + tr("<p><b>Pit limiter</b>: a mapping can also engage the pit limiter (speed limit) while its button "
                     "is pressed.</p>"));
    box.exec();
}

} // namespace corvane
