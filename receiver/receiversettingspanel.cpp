#include "receiver/receiversettingspanel.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"
#include "ostraui/dialogcards.h"
#include "ostraui/passbuilder.h"
#include "ostraui/portlist.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "ostraui/toggle.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "receiver/hintlabel.h"

namespace corvane {

namespace {

const char *const AdvancedKey = "ui/receiverAdvanced";
constexpr int ConsoleMaxLines = 1000;
// The IMU mounting read-out, at the size of the text around it.
constexpr double MountingPx = 14;

// A card of the page with its vertical layout.
QVBoxLayout *addCard(QBoxLayout *page, QWidget *owner)
{
    QFrame *card = ostra::makeDialogCard(owner);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(8);
    page->addWidget(card);
    return layout;
}

// A row of a label, a stretch and the value widget.
void addLabelledRow(QBoxLayout *layout, const QString &label, QWidget *value)
{
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(label, layout->parentWidget()));
    row->addStretch(1);
    row->addWidget(value);
    layout->addLayout(row);
}

// Only a change re-polishes the button.
void setPrimary(QPushButton *button, bool primary)
{
    if (button->property("primary").toBool() != primary)
        ostra::setStyleState(button, "primary", primary);
}

// The item whose data equals `value`, else the first.
void showValue(QComboBox *combo, int value)
{
    const int index = combo->findData(value);
    combo->setCurrentIndex(index < 0 ? 0 : index);
}

void showChecked(ostra::Toggle *toggle, bool checked, bool enabled)
{
    toggle->setChecked(checked);
    toggle->setEnabled(enabled);
}

} // namespace

ReceiverSettingsPanel::ReceiverSettingsPanel(CorvaneController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_manager(controller->receiverConfigManager())
{
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(12, 12, 12, 12);
    page->setSpacing(12);
    // Out of sight (a window not shown yet, a tab not turned to) the cards take a tick's slack
    // each, the channel stream running between them; on a page in view they come at once.
    const bool inView = parent && parent->isVisible();
    for (auto build : {&ReceiverSettingsPanel::buildConnectionCard, &ReceiverSettingsPanel::buildModeCard,
                       &ReceiverSettingsPanel::buildFeaturesCard, &ReceiverSettingsPanel::buildAdvancedCard}) {
        if (!inView)
            ostra::TickPace::instance()->waitForTurn();
        (this->*build)(page);
        ostra::polishNow(page->itemAt(page->count() - 1)->widget());
    }
    page->addStretch(1);

    ReceiverConfigManager *manager = m_manager;
    for (auto signal : {&ReceiverConfigManager::settingsChanged, &ReceiverConfigManager::capsChanged,
                        &ReceiverConfigManager::stateChanged, &ReceiverConfigManager::gyroCalChanged}) {
        connect(manager, signal, this, &ReceiverSettingsPanel::refreshFromManager);
    }
    connect(controller, &CorvaneController::runningChanged, this, &ReceiverSettingsPanel::refreshFromManager);
    connect(controller, &CorvaneController::carLinkChanged, this, &ReceiverSettingsPanel::refreshFromManager);
    // Connected elsewhere, maybe on a port that appeared after the list was filled.
    connect(controller, &CorvaneController::receiverConnectedChanged, this, &ReceiverSettingsPanel::refreshPorts);
    connect(manager, &ReceiverConfigManager::consoleLine, this, &ReceiverSettingsPanel::appendConsoleLine);
    connect(manager, &ReceiverConfigManager::mountingChanged, this, &ReceiverSettingsPanel::finishMountingDetection);

    // Opened while the channel stream runs: the last listing now, Refresh lists anew.
    fillPorts(SerialPortLister::recentPorts());
    refreshFromManager();
}

ReceiverSettingsPanel::~ReceiverSettingsPanel()
{
    // A debug stream left on would keep flooding the receiver's line after the page is gone.
    if (m_manager && m_rawNmea) {
        if (m_rawNmea->isChecked())
            m_manager->sendCommand(QStringLiteral("GPS_DEBUG 0"));
        if (m_liveStream->isChecked())
            m_manager->sendCommand(QStringLiteral("IMU_DEBUG 0"));
    }
    m_usbOnlyTools.clear();
}

QPushButton *ReceiverSettingsPanel::makeSmallButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { padding: 5px 12px; font-size: 9pt; }"));
    return button;
}

QLabel *ReceiverSettingsPanel::makeSectionLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: #0F1720; font-weight: 600; padding-top: 6px;"));
    return label;
}

QPushButton *ReceiverSettingsPanel::makeInfoIcon(QWidget *parent)
{
    auto *icon = new QPushButton(QStringLiteral("i"), parent);
    icon->setProperty("iconRound", true);
    icon->setFixedSize(24, 24);
    icon->setCursor(Qt::PointingHandCursor);
    icon->setStyleSheet(QStringLiteral("min-width:24px;max-width:24px;min-height:24px;max-height:24px;"
                                       "border-radius:12px;font-size:9pt;font-weight:600;"));
    return icon;
}

QWidget *ReceiverSettingsPanel::makeSettingRow(QWidget *parent, const QString &title, const QString &hint,
                                               ostra::Toggle **toggleOut, QPushButton **infoOut)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(10);

    auto *text = new QVBoxLayout;
    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(6);
    auto *titleLabel = new QLabel(title, row);
    titleLabel->setStyleSheet(QStringLiteral("color: #0F1720; font-weight: 500;"));
    titleLine->addWidget(titleLabel);
    if (infoOut) {
        *infoOut = makeInfoIcon(row);
        titleLine->addWidget(*infoOut);
    }
    titleLine->addStretch(1);
    text->addLayout(titleLine);
    if (!hint.isEmpty())
        text->addWidget(makeHintLabel(hint, row));
    layout->addLayout(text, 1);

    *toggleOut = new ostra::Toggle(row);
    layout->addWidget(*toggleOut, 0, Qt::AlignVCenter);
    return row;
}

QList<int> ReceiverSettingsPanel::valueSteps(int first, int step, int count)
{
    QList<int> values;
    values.reserve(count);
    for (int i = 0; i < count; ++i)
        values.append(first + i * step);
    return values;
}

QComboBox *ReceiverSettingsPanel::makeComboRow(QBoxLayout *layout, const QString &label, const QList<int> &values,
                                               const QString &unit, int ReceiverSettings::*field)
{
    auto *combo = new QComboBox(layout->parentWidget());
    for (int value : values)
        combo->addItem(value == 0 ? tr("Module default") : QStringLiteral("%1 %2").arg(value).arg(unit), value);
    addLabelledRow(layout, label, combo);
    connect(combo, &QComboBox::activated, this, [this, combo, field](int index) {
        const int value = combo->itemData(index).toInt();
        writeSettings([field, value](ReceiverSettings &s) { s.*field = value; });
    });
    return combo;
}

void ReceiverSettingsPanel::bindSettingToggle(ostra::Toggle *toggle, bool ReceiverSettings::*field)
{
    connect(toggle, &ostra::Toggle::clicked, this, [this, field](bool checked) {
        writeSettings([field, checked](ReceiverSettings &s) { s.*field = checked; });
    });
}

template <typename Change> void ReceiverSettingsPanel::writeSettings(Change change)
{
    if (!m_manager)
        return;
    ReceiverSettings settings = m_manager->settings();
    change(settings);
    m_manager->setSettings(settings);
}

void ReceiverSettingsPanel::buildConnectionCard(QBoxLayout *page)
{
    QVBoxLayout *card = addCard(page, this);
    QWidget *owner = card->parentWidget();
    card->addWidget(ostra::makeDialogHeading(tr("Connection"), owner));
    card->addWidget(makeHintLabel(tr("Two ways to reach the receiver. The settings go through whichever is "
                                     "connected; when both are, the USB cable is used."),
                                  owner));
    card->addWidget(makeSectionLabel(tr("1 · USB cable (J14)"), owner));

    auto *portRow = new QHBoxLayout;
    m_portCombo = new QComboBox(owner);
    m_portCombo->setMinimumWidth(220);
    portRow->addWidget(m_portCombo, 1);
    connect(m_portCombo, &QComboBox::currentIndexChanged, this, &ReceiverSettingsPanel::refreshUsbConnect);
    QPushButton *refresh = makeSmallButton(tr("Refresh"), owner);
    connect(refresh, &QPushButton::clicked, this, &ReceiverSettingsPanel::refreshPorts);
    portRow->addWidget(refresh);
    m_usbConnect = new QPushButton(tr("Connect"), owner);
    m_usbConnect->setCursor(Qt::PointingHandCursor);
    m_usbConnect->setMinimumWidth(110);
    connect(m_usbConnect, &QPushButton::clicked, this, &ReceiverSettingsPanel::openUsbPort);
    portRow->addWidget(m_usbConnect);
    card->addLayout(portRow);

    m_usbStatus = makeHintLabel(QString(), owner);
    card->addWidget(m_usbStatus);
    card->addWidget(makeSectionLabel(tr("2 · ELRS (wireless)"), owner));

    auto *elrsRow = new QHBoxLayout;
    m_elrsStatus = makeHintLabel(QString(), owner);
    elrsRow->addWidget(m_elrsStatus, 1);
    m_searchAgain = makeSmallButton(tr("Search again"), owner);
    m_searchAgain->setToolTip(tr("Look for the receiver over ELRS now"));
    connect(m_searchAgain, &QPushButton::clicked, this, [this] {
        if (m_manager)
            m_manager->retryElrs();
    });
    elrsRow->addWidget(m_searchAgain);
    card->addLayout(elrsRow);
    card->addWidget(makeHintLabel(tr("While you transmit with the car on, the receiver is found by itself (receiver "
                                     "firmware 4.3.0 or later). Everything on this page works over ELRS except the "
                                     "USB cable tools."),
                                  owner));
}

void ReceiverSettingsPanel::buildModeCard(QBoxLayout *page)
{
    QVBoxLayout *card = addCard(page, this);
    QWidget *owner = card->parentWidget();
    auto *heading = new QHBoxLayout;
    heading->addWidget(ostra::makeDialogHeading(tr("Receiver mode"), owner));
    heading->addStretch(1);
    m_carButton = makeSmallButton(tr("Car"), owner);
    connect(m_carButton, &QPushButton::clicked, this, [this] { confirmModeSwitch(false); });
    heading->addWidget(m_carButton);
    m_heliButton = makeSmallButton(tr("Helicopter"), owner);
    connect(m_heliButton, &QPushButton::clicked, this, [this] { confirmModeSwitch(true); });
    heading->addWidget(m_heliButton);
    card->addLayout(heading);

    card->addWidget(makeHintLabel(tr("How the receiver drives its outputs. It is saved on the receiver and is "
                                     "separate from the app's Car / Helicopter mode: the app can keep driving in car "
                                     "mode with the receiver in helicopter mode."),
                                  owner));
    card->addWidget(makeSectionLabel(tr("Car"), owner));
    card->addWidget(makeHintLabel(tr("CH1 drives the steering servo and CH2 the ESC (throttle and brake), with "
                                     "normal servo pulses. Use it for RC cars."),
                                  owner));
    card->addWidget(makeSectionLabel(tr("Helicopter"), owner));
    card->addWidget(makeHintLabel(tr("CH1 and CH2 become a CRSF link to a helicopter flight controller: it gets all "
                                     "16 channels, and its telemetry goes back to the radio. A servo or ESC on "
                                     "CH1/CH2 does not move in this mode. The other outputs stay normal."),
                                  owner));
    card->addWidget(makeHintLabel(tr("Changing it restarts the receiver; the car's link drops for a moment. The "
                                     "receiver's blue LED shows it: solid in car mode, on for 2 s then two blinks in "
                                     "helicopter mode (V4 firmware 4.5.2 or later)."),
                                  owner));
    m_modeStatus = makeHintLabel(QString(), owner);
    card->addWidget(m_modeStatus);
}

void ReceiverSettingsPanel::buildFeaturesCard(QBoxLayout *page)
{
    QVBoxLayout *card = addCard(page, this);
    QWidget *owner = card->parentWidget();
    card->addWidget(ostra::makeDialogHeading(tr("Features"), owner));
    m_featuresHint = makeHintLabel(tr("These are QOR receiver V4 features. They unlock once the car sends its "
                                      "attitude telemetry (start transmission) or the receiver is connected."),
                                   owner);
    card->addWidget(m_featuresHint);

    QPushButton *osdInfo = nullptr;
    card->addWidget(makeSettingRow(owner, tr("Enable OSD"), tr("Live HUD on the FPV video (Caddx Walksnail cameras)"),
                                   &m_osdToggle, &osdInfo));
    connect(osdInfo, &QPushButton::clicked, this, &ReceiverSettingsPanel::showOsdHelp);
    bindSettingToggle(m_osdToggle, &ReceiverSettings::osdEnabled);

    card->addWidget(makeSectionLabel(tr("HUD speed (without GPS)"), owner));
    card->addWidget(makeHintLabel(tr("The speed the car reaches at full throttle, how fast it gets there and how hard "
                                     "it brakes. Off the throttle it coasts down slowly. Needs receiver firmware "
                                     "1.9.1 (older receiver) or 4.5.0 (V4, used while it has no GPS fix)."),
                                  owner));
    // The grids ReceiverSettings::normalizeHud snaps to.
    m_hudTopCombo = makeComboRow(card, tr("Top speed"), valueSteps(10, 5, 29), tr("km/h"), &ReceiverSettings::hudTopKmh);
    m_hudAccelCombo = makeComboRow(card, tr("Acceleration"), valueSteps(5, 5, 20), tr("km/h/s"),
                                   &ReceiverSettings::hudAccelKmhS);
    m_hudBrakeCombo = makeComboRow(card, tr("Braking"), valueSteps(10, 10, 20), tr("km/h/s"),
                                   &ReceiverSettings::hudBrakeKmhS);

    card->addWidget(makeSettingRow(owner, tr("GPS"),
                                   tr("Location and GPS speed. Off: the receiver ignores the GPS and the HUD shows "
                                      "estimated speed."),
                                   &m_gpsToggle));
    bindSettingToggle(m_gpsToggle, &ReceiverSettings::gpsEnabled);
    card->addWidget(makeSettingRow(owner, tr("Motion"),
                                   tr("The car's movement for force feedback and the motion rig. Pitch, roll and yaw "
                                      "are enough to start; the G-forces (acceleration) make both more accurate. "
                                      "Choose each one under Advanced."),
                                   &m_motionToggle));
    // One switch for both motion frames: they go out together.
    connect(m_motionToggle, &ostra::Toggle::clicked, this, [this](bool checked) {
        writeSettings([checked](ReceiverSettings &s) {
            s.imuTelem = checked;
            s.motionTelem = checked;
        });
    });
}

void ReceiverSettingsPanel::buildAdvancedCard(QBoxLayout *page)
{
    QVBoxLayout *card = addCard(page, this);
    QWidget *owner = card->parentWidget();
    const bool shown = SettingsFile().value(QLatin1String(AdvancedKey), false).toBool();

    auto *heading = new QHBoxLayout;
    heading->addWidget(ostra::makeDialogHeading(tr("Advanced"), owner));
    heading->addStretch(1);
    m_advancedButton = new QPushButton(shown ? tr("Hide") : tr("Show"), owner);
    m_advancedButton->setProperty("link", true);
    m_advancedButton->setCursor(Qt::PointingHandCursor);
    connect(m_advancedButton, &QPushButton::clicked, this, &ReceiverSettingsPanel::setAdvancedVisible);
    heading->addWidget(m_advancedButton);
    card->addLayout(heading);
    card->addWidget(makeHintLabel(tr("Every receiver setting for GPS, IMU and telemetry, over USB or ELRS, plus the "
                                     "USB cable tools."),
                                  owner));

    m_advanced = new QWidget(owner);
    auto *box = new QVBoxLayout(m_advanced);
    box->setContentsMargins(0, 4, 0, 0);
    box->setSpacing(8);
    card->addWidget(m_advanced);
    m_advanced->setVisible(shown);

    // Folded away, the settings are built in passes after the page, the USB tools in one of
    // their own; when unfolded at once.
    m_advancedBuilder = new ostra::PassBuilder(this);
    m_advancedBuilder->add([this] { buildAdvancedSettings(); });
    m_advancedBuilder->add([this] {
        buildUsbTools(static_cast<QVBoxLayout *>(m_advanced->layout()));
        settleAdvanced();
    });
    if (shown)
        m_advancedBuilder->finish();
    else
        m_advancedBuilder->start();
}

void ReceiverSettingsPanel::finishBuilding()
{
    m_advancedBuilder->finish();
}

void ReceiverSettingsPanel::buildAdvancedSettings()
{
    auto *box = static_cast<QVBoxLayout *>(m_advanced->layout());
    box->addWidget(makeSectionLabel(tr("GPS"), m_advanced));
    m_gpsRateCombo = makeComboRow(box, tr("Update rate"), {0, 1, 2, 4, 5, 10}, tr("Hz"), &ReceiverSettings::gpsRateHz);
    m_gpsStatusValue = new QLabel(QStringLiteral("—"), m_advanced);
    m_gpsStatusValue->setStyleSheet(QStringLiteral("color: #0F1720;"));
    addLabelledRow(box, tr("Status"), m_gpsStatusValue);

    box->addWidget(makeSectionLabel(tr("IMU"), m_advanced));
    m_mountingValue = new QLabel(m_advanced);
    m_mountingValue->setStyleSheet(QStringLiteral("color: #0F1720;"));
    ostra::setReadoutText(m_mountingValue, QStringLiteral("—"), MountingPx, 400);
    addLabelledRow(box, tr("Mounting"), m_mountingValue);

    auto *gyroRow = new QHBoxLayout;
    m_gyroButton = makeSmallButton(tr("Calibrate gyro"), m_advanced);
    m_gyroButton->setToolTip(tr("Keep the car still for about a second; also resets yaw to 0"));
    connect(m_gyroButton, &QPushButton::clicked, this, &ReceiverSettingsPanel::confirmGyroCalibration);
    gyroRow->addWidget(m_gyroButton);
    m_gyroStatus = makeHintLabel(QString(), m_advanced);
    gyroRow->addWidget(m_gyroStatus, 1);
    box->addLayout(gyroRow);

    auto *mountingRow = new QHBoxLayout;
    m_mountingButton = makeSmallButton(tr("Detect mounting…"), m_advanced);
    m_mountingButton->setToolTip(tr("Teach the board how it is mounted: once per car, needed for the right pitch, "
                                    "roll and G-force directions. Over USB or ELRS."));
    connect(m_mountingButton, &QPushButton::clicked, this, &ReceiverSettingsPanel::startMountingDetection);
    mountingRow->addWidget(m_mountingButton);
    m_mountingStatus = makeHintLabel(QString(), m_advanced);
    mountingRow->addWidget(m_mountingStatus, 1);
    box->addLayout(mountingRow);

    box->addWidget(makeSectionLabel(tr("Telemetry frames"), m_advanced));
    box->addWidget(makeSettingRow(m_advanced, tr("GPS frame"), tr("Position and speed (Location map)"),
                                  &m_gpsFrameToggle));
    bindSettingToggle(m_gpsFrameToggle, &ReceiverSettings::gpsTelem);
    box->addWidget(makeSettingRow(m_advanced, tr("Attitude frame"),
                                  tr("Pitch, roll and yaw: the base for the motion rig and force feedback"),
                                  &m_attitudeFrameToggle));
    bindSettingToggle(m_attitudeFrameToggle, &ReceiverSettings::imuTelem);
    box->addWidget(makeSettingRow(m_advanced, tr("G-force frame"),
                                  tr("Acceleration: improves force feedback and the motion rig"), &m_gforceFrameToggle));
    bindSettingToggle(m_gforceFrameToggle, &ReceiverSettings::motionTelem);
    m_motionRateCombo = makeComboRow(box, tr("G-force rate"), {5, 10, 20, 25}, tr("Hz"), &ReceiverSettings::motionRateHz);
    box->addWidget(makeSettingRow(m_advanced, tr("G-forces on radio screens"),
                                  tr("Also sends the G-forces as battery sensors (RxBt, Curr, Capa) so an EdgeTX radio "
                                     "shows them. The QOR app does not need it (firmware 4.4.0)."),
                                  &m_radioScreensToggle));
    bindSettingToggle(m_radioScreensToggle, &ReceiverSettings::motionSensors);
    box->addWidget(makeHintLabel(tr("For the full G-force rate set the transmitter's telemetry ratio to 1:2 or 1:4 (RF "
                                    "settings)."),
                                 m_advanced));
    settleAdvanced();
}

void ReceiverSettingsPanel::settleAdvanced()
{
    // Made after the page, they would come last in the window's tab order: back in place, after
    // the fold's button (those of an earlier pass are there already).
    QList<QWidget *> made;
    for (QWidget *w = m_advancedButton->nextInFocusChain(); w != m_advancedButton; w = w->nextInFocusChain()) {
        if (m_advanced->isAncestorOf(w) && w->focusPolicy() != Qt::NoFocus)
            made.append(w);
    }
    QWidget *last = m_advancedButton;
    for (QWidget *w : std::as_const(made)) {
        QWidget::setTabOrder(last, w);
        last = w;
    }
    refreshFromManager();
    ostra::polishNow(m_advanced);
}

void ReceiverSettingsPanel::buildUsbTools(QBoxLayout *box)
{
    box->addWidget(makeSectionLabel(tr("USB cable tools"), m_advanced));
    box->addWidget(makeHintLabel(tr("These need the J14 cable connected."), m_advanced));

    auto *byHandRow = new QHBoxLayout;
    QPushButton *byHand = makeSmallButton(tr("Set mounting by hand…"), m_advanced);
    connect(byHand, &QPushButton::clicked, this, &ReceiverSettingsPanel::setMountingByHand);
    m_usbOnlyTools.append(byHand);
    byHandRow->addWidget(byHand);
    byHandRow->addStretch(1);
    box->addLayout(byHandRow);

    auto *first = new QHBoxLayout;
    addConsoleButton(first, tr("GPS status"), QStringLiteral("GPS"), tr("GPS status in the console"));
    m_rawNmea = makeSmallButton(tr("Raw NMEA"), m_advanced);
    m_rawNmea->setCheckable(true);
    m_rawNmea->setToolTip(tr("Echo the raw GPS sentences in the console"));
    connect(m_rawNmea, &QPushButton::toggled, this, &ReceiverSettingsPanel::setGpsDebug);
    m_usbOnlyTools.append(m_rawNmea);
    first->addWidget(m_rawNmea);
    addConsoleButton(first, tr("IMU status"), QStringLiteral("IMU"), tr("IMU status and diagnostics"));
    addConsoleButton(first, tr("G-forces"), QStringLiteral("MOTION"), tr("The values the G-force frame carries now"));
    addConsoleButton(first, tr("Bench check"), QStringLiteral("IMU_DIAG"), tr("I2C check of the IMU (radio disconnected)"));
    m_liveStream = makeSmallButton(tr("Live stream"), m_advanced);
    m_liveStream->setCheckable(true);
    m_liveStream->setToolTip(tr("Acceleration, gyro, roll/pitch/yaw and temperature 10 times a second"));
    connect(m_liveStream, &QPushButton::toggled, this, &ReceiverSettingsPanel::setImuDebug);
    m_usbOnlyTools.append(m_liveStream);
    first->addWidget(m_liveStream);
    first->addStretch(1);
    box->addLayout(first);

    auto *second = new QHBoxLayout;
    addConsoleButton(second, tr("HUD status"), QStringLiteral("GET_OSD"), tr("OSD mode and frame statistics"));
    addConsoleButton(second, tr("Telemetry settings"), QStringLiteral("GET_TELEM"), tr("What the receiver has saved"));
    addConsoleButton(second, tr("All commands"), QStringLiteral("HELP"), tr("Every console command"));
    second->addStretch(1);
    box->addLayout(second);

    box->addWidget(makeSectionLabel(tr("Console (USB cable)"), m_advanced));
    m_console = new QPlainTextEdit(m_advanced);
    m_console->setReadOnly(true);
    m_console->setMaximumBlockCount(ConsoleMaxLines);
    m_console->setMinimumHeight(160);
    m_console->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #F3F5F8; color: #0F1720; border: 1px solid "
                                            "#E6EAF0; border-radius: 6px; font-family: 'Geist Mono'; font-size: 9pt; }"));
    box->addWidget(m_console);
    m_consoleInput = new QLineEdit(m_advanced);
    m_consoleInput->setPlaceholderText(tr("Type a receiver command (e.g. GPS, IMU, GET_TELEM) and press Enter"));
    m_consoleInput->setStyleSheet(QStringLiteral("QLineEdit { background: #F3F5F8; color: #0F1720; border: 1px solid "
                                                 "#E6EAF0; border-radius: 4px; padding: 6px 8px; font-family: 'Geist "
                                                 "Mono'; font-size: 9pt; }"));
    connect(m_consoleInput, &QLineEdit::returnPressed, this, &ReceiverSettingsPanel::onConsoleReturn);
    m_usbOnlyTools.append(m_consoleInput);
    box->addWidget(m_consoleInput);
}

void ReceiverSettingsPanel::addConsoleButton(QHBoxLayout *row, const QString &label, const QString &command,
                                             const QString &tooltip)
{
    QPushButton *button = makeSmallButton(label, m_advanced);
    button->setToolTip(tooltip);
    connect(button, &QPushButton::clicked, this, [this, command] { sendConsoleCommand(command); });
    row->addWidget(button);
    m_usbOnlyTools.append(button);
}

bool ReceiverSettingsPanel::isV4Receiver() const
{
    return m_manager && m_manager->caps().isAdvanced();
}

void ReceiverSettingsPanel::setAdvancedVisible()
{
    const bool shown = !m_advanced->isVisibleTo(this);
    if (shown)
        m_advancedBuilder->finish();
    m_advanced->setVisible(shown);
    m_advancedButton->setText(shown ? tr("Hide") : tr("Show"));
    SettingsFile().setValue(QLatin1String(AdvancedKey), shown);
}

// Nothing to open while the list shows no port, or only the "Choose…" prompt of a list without a USB port.
void ReceiverSettingsPanel::refreshUsbConnect()
{
    if (m_usbConnect)
        m_usbConnect->setEnabled((m_manager && m_manager->isUsbConnected()) || ostra::portChosen(m_portCombo));
}

void ReceiverSettingsPanel::refreshFromManager()
{
    if (!m_manager || !m_controller)
        return;
    ReceiverConfigManager *manager = m_manager;
    const bool usb = manager->isUsbConnected();
    const ReceiverSettings s = manager->settings();
    const bool v4 = isV4Receiver();
    const bool basic = manager->isBasicCarReceiver();
    const bool synced = manager->isSynced();
    // Optimistic until the receiver has said what it supports.
    const auto allowed = [&](const char *name) { return !synced || manager->supportsSetting(QLatin1String(name)); };

    m_usbStatus->setText(manager->summaryText());
    m_elrsStatus->setText(manager->connectionStatusText());

    m_searchAgain->setVisible(m_controller->isRunning() && m_controller->isCarLinked() && !manager->isReachableOverElrs()
                              && !usb && manager->elrsStopReason() != 0);

    m_usbConnect->setText(usb ? tr("Disconnect") : tr("Connect"));
    setPrimary(m_usbConnect, !usb);
    refreshUsbConnect();
    m_portCombo->setEnabled(!usb);

    const QString mode = manager->receiverMode();
    setPrimary(m_carButton, mode == QLatin1String("car"));
    setPrimary(m_heliButton, mode == QLatin1String("heli"));
    const bool canChangeMode = manager->canChangeMode();
    m_carButton->setEnabled(canChangeMode);
    m_heliButton->setEnabled(canChangeMode);

    if (manager->modeChangeState() != ReceiverConfigManager::ModeChangeIdle)
        m_modeStatus->setText(manager->modeChangeText());
    else if (!manager->modeHintText().isEmpty())
        m_modeStatus->setText(manager->modeHintText());
    else if (mode == QLatin1String("heli"))
        m_modeStatus->setText(tr("The receiver is in helicopter mode."));
    else if (!mode.isEmpty())
        m_modeStatus->setText(tr("The receiver is in car mode."));
    else
        m_modeStatus->setText(tr("Mode not read yet."));

    m_featuresHint->setText(basic ? tr("Older QOR receiver: it has the OSD (on its CH12 header, firmware 1.9.0 or "
                                       "later) and the HUD speed. The other features need a QOR receiver V4; they "
                                       "unlock once the car sends its V4 telemetry.")
                                  : tr("These are QOR receiver V4 features. They unlock once the car sends its attitude "
                                       "telemetry (start transmission) or the receiver is connected."));
    m_featuresHint->setVisible(!v4);

    const bool hudCapable = v4 || basic;
    showChecked(m_osdToggle, s.osdEnabled, hudCapable && allowed("OSD"));
    const bool hudAllowed = hudCapable && allowed("HUD_SPEED");
    const std::pair<QComboBox *, int> hud[] = {
        {m_hudTopCombo, s.hudTopKmh}, {m_hudAccelCombo, s.hudAccelKmhS}, {m_hudBrakeCombo, s.hudBrakeKmhS}};
    for (const auto &[combo, value] : hud) {
        showValue(combo, value);
        combo->setEnabled(hudAllowed);
    }
    showChecked(m_gpsToggle, s.gpsEnabled, v4 && allowed("GPS_ON"));
    showChecked(m_motionToggle, s.imuTelem || s.motionTelem, v4 && allowed("IMU") && allowed("MOTION"));
    // The advanced settings fill themselves from here once they are built.
    if (!m_advancedBuilder->isFinished())
        return;
    showValue(m_gpsRateCombo, s.gpsRateHz);
    m_gpsRateCombo->setEnabled(v4 && s.gpsEnabled && allowed("GPS_RATE"));
    showChecked(m_gpsFrameToggle, s.gpsTelem, v4 && allowed("GPS"));
    showChecked(m_attitudeFrameToggle, s.imuTelem, v4 && allowed("IMU"));
    showChecked(m_gforceFrameToggle, s.motionTelem, v4 && allowed("MOTION"));
    showChecked(m_radioScreensToggle, s.motionSensors,
                v4 && synced && manager->supportsSetting(QStringLiteral("MOTION_SENSORS")));
    showValue(m_motionRateCombo, s.motionRateHz);
    m_motionRateCombo->setEnabled(v4 && s.motionTelem && allowed("MOTION_RATE"));

    const QString gpsStatus = s.gpsEnabled ? manager->gpsStatusText() : tr("Off");
    m_gpsStatusValue->setText(gpsStatus.isEmpty() ? QStringLiteral("—") : gpsStatus);

    const QString connectFirst = tr("Connect the receiver (USB or ELRS) first");
    const bool canCalibrate = manager->canCalibrateGyro();
    m_gyroButton->setEnabled(v4 && canCalibrate && manager->gyroCalState() != ReceiverConfigManager::GyroCalRunning);
    if (manager->gyroCalState() != ReceiverConfigManager::GyroCalIdle)
        m_gyroStatus->setText(manager->gyroCalText());
    else
        m_gyroStatus->setText(canCalibrate ? QString() : connectFirst);

    const QString axes = manager->imuAxesText();
    ostra::setReadoutText(m_mountingValue, axes.isEmpty() ? QStringLiteral("—") : axes, MountingPx, 400);

    const bool canDetect = manager->canDetectMounting();
    m_mountingButton->setEnabled(v4 && canDetect && manager->mountingState() != ReceiverConfigManager::MountingRunning);
    if (manager->mountingState() != ReceiverConfigManager::MountingIdle)
        m_mountingStatus->setText(manager->mountingText());
    else if (!canDetect)
        m_mountingStatus->setText(manager->isReachableOverElrs() ? tr("Over ELRS this needs receiver firmware 4.4.3 or newer")
                                                                 : connectFirst);
    else
        m_mountingStatus->clear();

    for (QWidget *tool : std::as_const(m_usbOnlyTools))
        tool->setEnabled(usb);
    if (!usb) {
        // The closed port took the streams with it: nothing to switch off on the receiver.
        for (QPushButton *stream : {m_rawNmea, m_liveStream}) {
            const bool wasBlocked = stream->blockSignals(true);
            stream->setChecked(false);
            stream->blockSignals(wasBlocked);
        }
    }
}

} // namespace corvane
