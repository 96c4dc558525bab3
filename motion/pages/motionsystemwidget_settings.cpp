// The platform settings card: the stored motion settings, sleep when idle, where each actuator
// sits, and saving them to the controller.
#include "motion/pages/motionsystemwidget.h"

#include "motion/motionsystemcontroller.h"
#include "motion/pages/motionsystemparts.h"
#include "ostraui/card.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/toggle.h"
#include "ostraui/unsavededits.h"
#include "ostraui/vmeter.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace corvane {

using namespace motionsystem;

namespace {

// Sets the range; a value outside is pulled to the nearest end (with the row's change reactions).
void setRowRange(ostra::SliderRow *row, int minimum, int maximum)
{
    innerSlider(row)->setRange(minimum, std::max(minimum, maximum));
}

QString shortChannelName(int channel, int platformDof)
{
    static const char *const names[] = { "FL", "FR", "RL", "RR", "YAW", "SRG" };
    if (platformDof == 2)
        return QStringLiteral("CH%1").arg(channel + 1);
    return channel >= 0 && channel < 6 ? QString::fromLatin1(names[channel]) : QString();
}

} // namespace

QWidget *MotionSystemWidget::buildSettingsCard()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(18);

    auto *trailing = new QWidget(card);
    auto *saveRow = new QHBoxLayout(trailing);
    saveRow->setContentsMargins(0, 0, 0, 0);
    saveRow->setSpacing(10);
    m_saveStatus = ostra::makeRoleLabel(QString(), "muted", trailing);
    m_saveStatus->setObjectName(QStringLiteral("saveStatus"));
    m_revertButton = new QPushButton(tr("Revert"), trailing);
    m_revertButton->setObjectName(QStringLiteral("revertButton"));
    m_revertButton->setCursor(Qt::PointingHandCursor);
    m_saveButton = new QPushButton(tr("Save"), trailing);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setProperty("primary", true);
    m_saveButton->setCursor(Qt::PointingHandCursor);
    saveRow->addWidget(m_saveStatus);
    saveRow->addWidget(m_revertButton);
    saveRow->addWidget(m_saveButton);
    content->addLayout(ostra::makeHeading(tr("Platform settings"), tr("Stored by the app and applied to the controller on connect"), trailing));

    m_settingsGrid = new QWidget(card);
    new ostra::ResponsiveGrid(380, 16, m_settingsGrid);
    m_strokeRow = makeSettingRow(tr("Actuator stroke"), 50, 300, tr("mm"));
    m_strokeRow->setObjectName(QStringLiteral("strokeRow"));
    innerSlider(m_strokeRow)->setSingleStep(10);
    innerSlider(m_strokeRow)->setPageStep(50);
    m_strokeRow->setToolTip(tr("Full stroke of the fitted actuators (e.g. 150 or 200 mm). Sent to the controller on "
                               "connect; travel and park are limited to it."));
    connect(m_strokeRow, &ostra::SliderRow::valueChanged, this, [this](int v) { onStrokeChanged(v); });
    m_intensityRow = makeSettingRow(tr("Intensity"), 10, 100, tr("%"));
    m_intensityRow->setObjectName(QStringLiteral("intensityRow"));
    m_maxTravelRow = makeSettingRow(tr("Max travel"), 20, 140, tr("mm"));
    m_maxTravelRow->setObjectName(QStringLiteral("maxTravelRow"));
    m_maxSpeedRow = makeSettingRow(tr("Max speed"), 10, 100, tr("%"));
    m_maxSpeedRow->setObjectName(QStringLiteral("maxSpeedRow"));
    m_smoothnessRow = makeSettingRow(tr("Smoothness"), 10, 100, tr("%"));
    m_smoothnessRow->setObjectName(QStringLiteral("smoothnessRow"));
    m_parkRow = makeSettingRow(tr("Park position"), 5, 145, tr("mm"));
    m_parkRow->setObjectName(QStringLiteral("parkRow"));
    connect(m_parkRow, &ostra::SliderRow::valueChanged, this, [this] { refreshLiveColumns(); });
    content->addWidget(m_settingsGrid);

    auto *sleep = new QVBoxLayout;
    sleep->setContentsMargins(0, 0, 0, 0);
    sleep->setSpacing(8);
    auto *sleepHead = new QHBoxLayout;
    sleepHead->setSpacing(12);
    auto *sleepText = new QVBoxLayout;
    sleepText->setSpacing(2);
    sleepText->addWidget(ostra::makeRoleLabel(tr("Sleep when idle"), "h2", card));
    sleepText->addWidget(makeMutedText(tr("After the time below with no motion, the rig lands on its bottom stop and the "
                                          "servos switch off, so the motors go quiet. Any motion from the game or a test "
                                          "wakes it right away. Needs the drives' enable (SON) wired to the controller."),
                                       card));
    sleepHead->addLayout(sleepText, 1);
    m_sleepToggle = new ostra::Toggle(card);
    m_sleepToggle->setObjectName(QStringLiteral("sleepToggle"));
    m_sleepToggle->setCursor(Qt::PointingHandCursor);
    sleepHead->addWidget(m_sleepToggle, 0, Qt::AlignTop);
    sleep->addLayout(sleepHead);
    m_sleepAfterRow = makeNamedRow(tr("Sleep after"), 1, 120, 10, "sleepAfterRow",
                                   [](int v) { return tr("%1 s").arg(v); }, card);
    sleep->addWidget(m_sleepAfterRow);
    m_sleepStatus = makeMutedText(QString(), card);
    m_sleepStatus->setObjectName(QStringLiteral("sleepStatus"));
    sleep->addWidget(m_sleepStatus);
    content->addLayout(sleep);

    m_actuatorSection = new QWidget(card);
    QVBoxLayout *section = panelLayout(m_actuatorSection, 8);
    section->addWidget(ostra::makeRoleLabel(tr("Actuator positions"), "h2", m_actuatorSection));
    section->addWidget(makeMutedText(tr("Where each actuator sits on the rig. Buzz shakes one actuator briefly so you can "
                                        "see which is which. Choosing a position another actuator has swaps the two."),
                                     m_actuatorSection));
    m_actuatorRowsLayout = new QVBoxLayout;
    m_actuatorRowsLayout->setSpacing(8);
    section->addLayout(m_actuatorRowsLayout);
    m_mapStatus = makeMutedText(QString(), m_actuatorSection);
    m_mapStatus->setObjectName(QStringLiteral("mapStatus"));
    section->addWidget(m_mapStatus);
    content->addWidget(m_actuatorSection);

    connect(m_saveButton, &QPushButton::clicked, this, &MotionSystemWidget::onSaveSettings);
    connect(m_controller, &MotionSystemController::settingsWritten, this, &MotionSystemWidget::onSettingsWritten);
    connect(m_revertButton, &QPushButton::clicked, this, [this] {
        loadSettings(m_controller->settings());
        ostra::showToast(this, tr("Changes reverted"));
    });
    connect(m_sleepToggle, &ostra::Toggle::toggled, this, [this](bool on) {
        m_sleepAfterRow->setEnabled(on);
        refreshSaveState();
    });
    connect(m_sleepAfterRow, &ostra::SliderRow::valueChanged, this, [this] { refreshSaveState(); });
    // Saved on the way out: the window goes once they are on disk, and stays when they are not.
    new ostra::UnsavedEdits(this, tr("Platform settings"), [this] { return hasUnsavedSettings(); },
                            [this](const ostra::UnsavedEdits::Stored &done) {
                                onSaveSettings();
                                m_savedOnClose = done;
                            });
    return card;
}

ostra::SliderRow *MotionSystemWidget::makeSettingRow(const QString &label, int minimum, int maximum, const QString &unit)
{
    auto *row = new ostra::SliderRow(label, minimum, maximum, minimum, m_settingsGrid);
    row->setFormatter([unit](int v) { return QStringLiteral("%1 %2").arg(v).arg(unit); });
    m_settingsGrid->layout()->addWidget(row);
    connect(row, &ostra::SliderRow::valueChanged, this, [this] { refreshSaveState(); });
    return row;
}

MotionSystemSettings MotionSystemWidget::collectSettings() const
{
    MotionSystemSettings s;
    s.intensity = m_intensityRow->value();
    s.travelMm = m_maxTravelRow->value();
    s.speedPct = m_maxSpeedRow->value();
    s.accelPct = m_smoothnessRow->value();
    s.parkMm = m_parkRow->value();
    s.strokeMm = m_strokeRow->value();
    s.actuatorSlots = m_actuatorSlots;
    s.sleepEnabled = m_sleepToggle->isChecked();
    s.sleepSeconds = m_sleepAfterRow->value();
    return s;
}

void MotionSystemWidget::loadSettings(const MotionSystemSettings &s)
{
    m_strokeRow->setValue(s.strokeMm);
    // The slider holds the stroke within 50..300, also when the controller echoed none (st=0).
    const int stroke = m_strokeRow->value();
    setRowRange(m_maxTravelRow, 20, stroke - 10);
    setRowRange(m_parkRow, 5, stroke - 5);
    m_lastStroke = stroke;
    for (const MotionAxisRow &row : std::as_const(m_axisRows)) {
        const QSignalBlocker blocker(row.slider);
        setRowRange(row.slider, 5, stroke - 5);
    }
    m_intensityRow->setValue(s.intensity);
    m_maxTravelRow->setValue(s.travelMm);
    m_maxSpeedRow->setValue(s.speedPct);
    m_smoothnessRow->setValue(s.accelPct);
    m_parkRow->setValue(s.parkMm);
    m_actuatorSlots = s.actuatorSlots;
    refreshMapStatus();
    {
        const QSignalBlocker blocker(m_sleepToggle);
        m_sleepToggle->setChecked(s.sleepEnabled);
        m_sleepAfterRow->setValue(s.sleepSeconds);
        m_sleepAfterRow->setEnabled(s.sleepEnabled);
    }
    refreshSleepStatus();
    refreshSaveState();
}

void MotionSystemWidget::onStrokeChanged(int value)
{
    const int park = m_parkRow->value();
    const int last = m_lastStroke;
    setRowRange(m_maxTravelRow, 20, value - 10);
    setRowRange(m_parkRow, 5, value - 5);
    if (park == last / 2)
        m_parkRow->setValue(value / 2);
    m_lastStroke = value;
}

void MotionSystemWidget::onSaveSettings()
{
    // The fields the user changed; the file may hold newer values of the rest.
    const MotionSystemSettings page = collectSettings();
    m_saveTicket = m_controller->applySettings(page, changedMotionSettings(m_controller->settings(), page));
    refreshMapStatus();
    refreshSleepStatus();
    refreshSaveState();
}

void MotionSystemWidget::onSettingsWritten(quint64 ticket, bool ok)
{
    refreshSaveState();
    if (m_saveTicket == 0 || ticket < m_saveTicket)
        return;
    m_saveTicket = 0;
    const bool connected = m_controller->isConnected();
    if (ok) {
        appendLog(connected ? tr("Settings saved & applied") : tr("Settings saved \u2014 will apply on connect"));
        ostra::showToast(this, connected ? tr("Saved to controller") : tr("Saved \u2014 applies on connect"));
    } else {
        ostra::showToast(this, tr("Not saved \u2014 the settings could not be written (is the disk full?)"));
    }
    // Last: the window may go once it has heard.
    if (m_savedOnClose)
        std::exchange(m_savedOnClose, {})(ok);
}

bool MotionSystemWidget::hasUnsavedSettings() const
{
    const MotionSystemSettings page = collectSettings();
    const MotionSystemSettings stored = m_controller->settings();
    // Settings in use but not written are as unsaved as the page's own edits.
    return !m_controller->settingsStored() || page.intensity != stored.intensity || page.travelMm != stored.travelMm || page.speedPct != stored.speedPct
           || page.accelPct != stored.accelPct || page.parkMm != stored.parkMm || page.strokeMm != stored.strokeMm
           || page.actuatorSlots != stored.actuatorSlots || page.sleepEnabled != stored.sleepEnabled
           || (page.sleepEnabled && page.sleepSeconds != stored.sleepSeconds);
}

void MotionSystemWidget::refreshSaveState()
{
    const bool dirty = hasUnsavedSettings();
    m_saveButton->setEnabled(dirty);
    m_revertButton->setEnabled(dirty);
    if (dirty) {
        m_saveStatus->setText(m_controller->isConnected() ? tr("Unsaved changes") : tr("Unsaved \u2014 applies on connect"));
        ostra::setStyleSheetIfChanged(m_saveStatus, QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::levelTextColor(ostra::LevelWarning))));
    } else {
        m_saveStatus->setText(tr("All changes saved"));
        ostra::setStyleSheetIfChanged(m_saveStatus, QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::ThemeColors::textMuted)));
    }
}

void MotionSystemWidget::refreshSleepStatus()
{
    const MotionSystemSettings stored = m_controller->settings();
    const bool on = m_sleepToggle->isChecked();
    QString text;
    if (on != stored.sleepEnabled || m_sleepAfterRow->value() != stored.sleepSeconds) {
        text = tr("Save to apply");
    } else if (m_controller->isConnected()) {
        switch (m_controller->sleepFlag().toLatin1()) {
        case '-': text = on ? tr("Waiting for the controller\u2026") : tr("Off \u2014 servos stay on"); break;
        case 'a': text = tr("Awake \u2014 sleeps after %1 s without motion").arg(stored.sleepSeconds); break;
        case 'd': text = tr("Landing on the bottom stop\u2026"); break;
        case 'z': text = tr("Asleep \u2014 servos off. Motion wakes it."); break;
        default:
            if (on)
                text = tr("Controller does not report sleep \u2014 it may need the firmware update");
            break;
        }
    } else if (on) {
        text = tr("Sent to the controller on connect");
    }
    m_sleepStatus->setText(text);
    m_sleepStatus->setVisible(!text.isEmpty());
}

void MotionSystemWidget::rebuildActuatorRows(int count)
{
    for (const MotionActuatorRow &row : std::as_const(m_actuatorRows)) {
        row.row->hide();
        row.row->setObjectName(QString());
        row.row->deleteLater();
    }
    m_actuatorRows.clear();
    if (count < 1) {
        refreshMapStatus();
        return;
    }
    for (int i = 0; i < count; ++i) {
        MotionActuatorRow row;
        row.row = new QWidget(m_actuatorSection);
        row.row->setObjectName(QStringLiteral("actuatorRow%1").arg(i + 1));
        auto *layout = new QHBoxLayout(row.row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(12);
        auto *label = new QLabel(tr("Actuator %1").arg(i + 1), row.row);
        label->setFont(ostra::uiFont(14, 500));
        label->setMinimumWidth(110);
        layout->addWidget(label);
        row.position = new QComboBox(row.row);
        row.position->setCursor(Qt::PointingHandCursor);
        row.position->setFixedHeight(36);
        row.position->setMinimumWidth(240);
        for (int c = 0; c < count; ++c)
            row.position->addItem(tr("%1  \u00b7  sim ch %2").arg(MotionSystemController::channelName(c, m_platformDof)).arg(c + 1), c);
        layout->addWidget(row.position);
        row.buzz = new QPushButton(tr("Buzz"), row.row);
        row.buzz->setFixedHeight(36);
        row.buzz->setToolTip(tr("Shake actuator %1 for 2 s (2 mm at 8 Hz) to find it on the rig").arg(i + 1));
        layout->addWidget(row.buzz);
        layout->addStretch(1);
        m_actuatorRowsLayout->addWidget(row.row);

        connect(row.position, &QComboBox::activated, this, [this, i, combo = row.position](int index) {
            const int channel = combo->itemData(index).toInt();
            const int previous = m_actuatorSlots[size_t(i)];
            for (size_t k = 0; k < m_actuatorSlots.size(); ++k) {
                if (int(k) != i && m_actuatorSlots[k] == channel)
                    m_actuatorSlots[k] = previous;
            }
            m_actuatorSlots[size_t(i)] = channel;
            refreshMapStatus();
            refreshSaveState();
        });
        connect(row.buzz, &QPushButton::clicked, this, [this, i] {
            if (m_controller->vibrate(i, 20, 8, 2)) {
                startRunClock(2);
                appendLog(tr("Buzzing actuator %1").arg(i + 1));
            }
            refreshRunButton();
        });
        m_actuatorRows.append(row);
    }
    refreshMapStatus();
}

void MotionSystemWidget::refreshMapStatus()
{
    for (int i = 0; i < m_actuatorRows.size(); ++i) {
        QComboBox *combo = m_actuatorRows.at(i).position;
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(combo->findData(m_actuatorSlots[size_t(i)]));
    }
    const bool connected = m_controller->isConnected();
    const bool canBuzz = connected && !m_controller->isBusy() && m_controller->state() == Ready;
    for (const MotionActuatorRow &row : std::as_const(m_actuatorRows))
        setEnabledWithCursor(row.buzz, canBuzz);

    const MotionSystemSettings stored = m_controller->settings();
    const QString faint = ostra::colorHex(ostra::ThemeColors::textMuted);
    for (int i = 0; i < m_liveColumns.size() && i < int(stored.actuatorSlots.size()); ++i) {
        const int channel = stored.actuatorSlots[size_t(i)];
        const QString tip = MotionSystemController::channelName(channel, m_platformDof);
        const MotionLiveColumn &column = m_liveColumns.at(i);
        column.meter->setToolTip(tip);
        column.name->setToolTip(tip);
        column.name->setText(QStringLiteral("A%1 <span style='color:%2; font-weight:500;'>%3</span>")
                                 .arg(i + 1)
                                 .arg(faint, shortChannelName(channel, m_platformDof)));
    }

    QString text;
    if (m_actuatorSlots != stored.actuatorSlots)
        text = tr("Save to apply the new positions");
    else if (!connected)
        text = tr("Sent to the controller on connect");
    else if (m_controller->isMapConfirmed())
        text = tr("Controller is using these positions \u2014 sim and tests follow them");
    else
        text = tr("Controller has not confirmed the positions \u2014 it may need the firmware update");
    m_mapStatus->setText(text);
}

} // namespace corvane
