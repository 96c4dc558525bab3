// The "Throttle / Brake" tab: ESC mode, the three CRSF throttle values and the ESC presets.
#include "dialogs/escconfigdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "dialogs/crsfrangepreview.h"
#include "ostraui/dialogcards.h"
#include "platform/storage/filewriter.h"
#include "profiles/presets.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

constexpr int StandardMode = 0;
constexpr int CustomMode = 2;
// Item data of this length or more is a preset id; mode numbers are one character long.
constexpr int PresetIdMinLength = 11;

} // namespace

void EscConfigDialog::buildThrottleTab(QTabWidget *tabs)
{
    QVBoxLayout *pageLayout = nullptr;
    QWidget *page = makeTabPage(tabs, tr("Throttle / Brake"), &pageLayout);

    // Each card's widgets are made in the card: one moved into it is restyled again.
    QWidget *card = nullptr;
    QVBoxLayout *modeLayout = nullptr;
    card = makeCard(page, pageLayout, tr("ESC Mode"), tr("How throttle and brake channels are combined"), &modeLayout, true);
    m_escModeCombo = new QComboBox(card);
    // At least 240 px, and as wide as its longest item where the card has room, so that
    // "Traxxas/Tamiya/Arma Standard (172-992-1811)" is not cut mid-word; the tool tip carries
    // the current item whole should a long preset name still not fit.
    m_escModeCombo->setMinimumWidth(240);
    m_escModeCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_escModeCombo->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(m_escModeCombo, &QComboBox::currentTextChanged, m_escModeCombo, &QWidget::setToolTip);
    modeLayout->addWidget(m_escModeCombo);

    QVBoxLayout *values = nullptr;
    card = m_crsfValuesCard = makeCard(page, pageLayout, tr("CRSF Values"), tr("CRSF values for motor control"), &values);
    values->addSpacing(4);
    // The standard mode drives the ESC with fixed values: the rows only show them.
    m_escLockedHint = ostra::makeStyledLabel(
        tr("The standard ESC range is fixed. To edit these values, choose \"Custom...\" under ESC Mode."),
        QStringLiteral("color: #5B6675; font-size: 9pt; border: none;"), card);
    m_escLockedHint->setWordWrap(true);
    values->addWidget(m_escLockedHint);
    const QString ink = QStringLiteral("#0F1720");
    m_neutralSlider = makeSliderRow(card, tr("Neutral"), 0, 2047, m_settings.escNeutral, ink, values);
    m_forwardSlider = makeSliderRow(card, tr("Full Forward"), 0, 2047, m_settings.escFullForward, ink, values);
    m_reverseSlider = makeSliderRow(card, tr("Full Reverse"), 0, 2047, m_settings.escFullReverse, ink, values);
    values->addSpacing(4);
    auto *caption = new QLabel(tr("CRSF RANGE PREVIEW"), card);
    caption->setStyleSheet(
        QStringLiteral("color: #8A94A3; font-size: 9pt; font-weight: bold; letter-spacing: 1px; border: none;"));
    values->addWidget(caption);
    m_crsfPreview = new CrsfRangePreview(card);
    values->addWidget(m_crsfPreview);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_savePresetButton = new QPushButton(tr("Save as Preset..."), card);
    m_savePresetButton->setProperty("small", true);
    m_deletePresetButton = new QPushButton(tr("Delete Preset"), card);
    m_deletePresetButton->setProperty("danger", true);
    auto *calibration = new QPushButton(tr("Radio Calibration"), card);
    calibration->setStyleSheet(QStringLiteral("QPushButton { font-size: 10pt; padding: 6px 12px; background: #E3F2FC; } "
                                              "QPushButton:hover { background: #CDEBFF; }"));
    buttons->addWidget(m_savePresetButton);
    buttons->addWidget(m_deletePresetButton);
    buttons->addStretch();
    buttons->addWidget(calibration);
    values->addLayout(buttons);
    pageLayout->addStretch();

    refreshPresetCombo();
    connect(m_escModeCombo, &QComboBox::currentIndexChanged, this, &EscConfigDialog::onEscModeChanged);
    connect(m_controller->profileManager(), &ProfileManager::escPresetsChanged, this,
            &EscConfigDialog::onEscPresetsChanged);
    connect(m_neutralSlider, &QSlider::valueChanged, this, &EscConfigDialog::onNeutralSliderChanged);
    connect(m_forwardSlider, &QSlider::valueChanged, this, &EscConfigDialog::onForwardSliderChanged);
    connect(m_reverseSlider, &QSlider::valueChanged, this, &EscConfigDialog::onReverseSliderChanged);
    connect(m_savePresetButton, &QPushButton::clicked, this, &EscConfigDialog::onSavePreset);
    connect(m_deletePresetButton, &QPushButton::clicked, this, &EscConfigDialog::onDeletePreset);
    connect(calibration, &QPushButton::clicked, this, &EscConfigDialog::onRadioCalibration);
}

void EscConfigDialog::refreshPresetCombo()
{
    const QSignalBlocker quiet(m_escModeCombo);
    m_escModeCombo->clear();
    m_escModeCombo->addItem(tr("Traxxas/Tamiya/Arma Standard (172-992-1811)"), StandardMode);
    const QList<EscPreset> presets = m_controller->profileManager()->escPresets();
    if (!presets.isEmpty())
        m_escModeCombo->insertSeparator(m_escModeCombo->count());
    for (const EscPreset &preset : presets) {
        m_escModeCombo->addItem(QStringLiteral("%1 (%2-%3-%4)")
                                    .arg(preset.name)
                                    .arg(preset.fullReverse)
                                    .arg(preset.neutral)
                                    .arg(preset.fullForward),
                                preset.id);
    }
    m_escModeCombo->insertSeparator(m_escModeCombo->count());
    m_escModeCombo->addItem(tr("Custom..."), CustomMode);

    int index = 0;
    if (m_settings.escMode == CustomMode) {
        for (int i = 0; i < m_escModeCombo->count(); ++i) {
            const QVariant data = m_escModeCombo->itemData(i);
            const bool match = m_settings.escPresetId.isEmpty()
                                   ? (data.typeId() == QMetaType::Int && data.toInt() == CustomMode)
                                   : (data.isValid() && data.toString() == m_settings.escPresetId);
            if (match) {
                index = i;
                break;
            }
        }
    } else {
        index = m_settings.escMode;
    }
    m_escModeCombo->setCurrentIndex(index);
    m_escModeCombo->setToolTip(m_escModeCombo->currentText());
}

void EscConfigDialog::updatePresetButtons()
{
    const bool preset = !m_settings.escPresetId.isEmpty();
    m_deletePresetButton->setVisible(preset);
    m_savePresetButton->setText(preset ? tr("Update Preset") : tr("Save as Preset..."));
    m_savePresetButton->setVisible(m_settings.escMode == CustomMode);
}

void EscConfigDialog::showEscValues()
{
    for (QSlider *slider : {m_neutralSlider, m_forwardSlider, m_reverseSlider})
        slider->blockSignals(true);
    setSliderRowValue(m_neutralSlider, m_settings.escNeutral);
    setSliderRowValue(m_forwardSlider, m_settings.escFullForward);
    setSliderRowValue(m_reverseSlider, m_settings.escFullReverse);
    for (QSlider *slider : {m_neutralSlider, m_forwardSlider, m_reverseSlider})
        slider->blockSignals(false);
    showCrsfPreview();
}

void EscConfigDialog::showCrsfPreview()
{
    m_crsfPreview->reverse = m_settings.escFullReverse;
    m_crsfPreview->neutral = m_settings.escNeutral;
    m_crsfPreview->forward = m_settings.escFullForward;
    m_crsfPreview->update();
}

void EscConfigDialog::refreshEscEnableStates()
{
    const bool custom = m_settings.escMode == CustomMode;
    for (QSlider *slider : {m_neutralSlider, m_forwardSlider, m_reverseSlider})
        setSliderRowEnabled(slider, custom);
    m_escLockedHint->setVisible(!custom);
}

void EscConfigDialog::onEscModeChanged(int modeIndex)
{
    if (modeIndex < 0)
        return;
    const QVariant data = m_escModeCombo->itemData(modeIndex);
    const QString text = data.toString();
    if (text.size() >= PresetIdMinLength) {
        if (const EscPreset *preset = m_controller->profileManager()->findEscPreset(text)) {
            m_settings.escMode = CustomMode;
            m_settings.escPresetId = preset->id;
            m_settings.escNeutral = preset->neutral;
            m_settings.escFullForward = preset->fullForward;
            m_settings.escFullReverse = preset->fullReverse;
            showEscValues();
        }
    } else if (data.isValid()) {
        m_settings.escMode = data.toInt();
        m_settings.escPresetId.clear();
        if (m_settings.escMode == StandardMode) {
            const AxisSettings standard;
            m_settings.escNeutral = standard.escNeutral;
            m_settings.escFullForward = standard.escFullForward;
            m_settings.escFullReverse = standard.escFullReverse;
        }
        showEscValues();
    }
    m_crsfValuesCard->show();
    refreshCarEnableStates();
    refreshEscEnableStates();
    updatePresetButtons();
}

void EscConfigDialog::onNeutralSliderChanged(int value)
{
    m_settings.escNeutral = value;
    onEscValueChanged();
}

void EscConfigDialog::onForwardSliderChanged(int value)
{
    m_settings.escFullForward = value;
    onEscValueChanged();
}

void EscConfigDialog::onReverseSliderChanged(int value)
{
    m_settings.escFullReverse = value;
    onEscValueChanged();
}

void EscConfigDialog::onEscValueChanged()
{
    showCrsfPreview();
    // A selected preset follows every step of the sliders and is saved at once.
    if (!m_settings.escPresetId.isEmpty()) {
        m_controller->profileManager()->updateEscPreset(m_settings.escPresetId, m_settings.escNeutral,
                                                        m_settings.escFullForward, m_settings.escFullReverse);
    }
}

void EscConfigDialog::onSavePreset()
{
    ProfileManager *store = m_controller->profileManager();
    if (m_settings.escPresetId.isEmpty()) {
        bool ok = false;
        const QString name = QInputDialog::getText(this, tr("Save ESC Preset"), tr("Preset name:"), QLineEdit::Normal,
                                                   tr("My ESC Preset"), &ok);
        if (!ok || name.isEmpty())
            return;
        const QString id = store->createEscPreset(name, m_settings.escNeutral, m_settings.escFullForward,
                                                  m_settings.escFullReverse);
        if (id.isEmpty())
            return;
        m_settings.escPresetId = id;
        refreshPresetCombo();
        updatePresetButtons();
        return;
    }
    // Told once the preset is on disk; when it cannot be written the main window shows the
    // store's message instead.
    const auto updated = std::make_shared<bool>(false);
    const auto stored = [self = QPointer<EscConfigDialog>(this), updated](const QString &failure) {
        if (!self || !*updated || !failure.isEmpty())
            return;
        // Not from inside the writer's report: the box waits for the user.
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                QMessageBox::information(self, tr("Preset Updated"),
                                         tr("The preset has been updated with the current values."), QMessageBox::Ok);
            },
            Qt::QueuedConnection);
    };
    FileWriter::shared().batch(
        [&] {
            *updated = store->updateEscPreset(m_settings.escPresetId, m_settings.escNeutral, m_settings.escFullForward,
                                              m_settings.escFullReverse);
        },
        stored);
}

void EscConfigDialog::onDeletePreset()
{
    ProfileManager *store = m_controller->profileManager();
    if (m_settings.escPresetId.isEmpty())
        return;
    const EscPreset *preset = store->findEscPreset(m_settings.escPresetId);
    if (!preset)
        return;
    const auto answer = QMessageBox::question(this, tr("Delete Preset"),
                                              tr("Are you sure you want to delete the preset \"%1\"?").arg(preset->name),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    const QString id = m_settings.escPresetId;
    // Cleared first: the store's change signal then finds the dialog already custom.
    m_settings.escPresetId.clear();
    store->deleteEscPreset(id);
    refreshPresetCombo();
    updatePresetButtons();
}

void EscConfigDialog::onEscPresetsChanged()
{
    if (!m_settings.escPresetId.isEmpty() && !m_controller->profileManager()->findEscPreset(m_settings.escPresetId))
        m_settings.escPresetId.clear();
    refreshPresetCombo();
    updatePresetButtons();
}

void EscConfigDialog::onRadioCalibration()
{
    emit radioCalibrationRequested();
}

} // namespace corvane
