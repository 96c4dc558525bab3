#include "app/mainwindow.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "app/steeringgaugewidget.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "bridge/logrouter.h"
#include "bridge/receiverconfigmanager.h"
#include "bridge/steeringmonitor.h"
#include "ostraui/components.h"
#include "ostraui/mapview.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/segmented.h"
#include "ostraui/theme.h"
#include "ostraui/wraprow.h"
#include "profiles/profilemanager.h"
#include "platform/input/inputtypes.h"
#include "platform/storage/settingsfile.h"

using namespace ostra;

namespace {

constexpr int CarPageMaxWidth = 1336;
constexpr int GpsRefreshMs = 1000;
// Below this ground speed the GPS heading is noise.
constexpr float HeadingMinSpeedKmh = 2.0f;
const QString ConfigureOpenKey = QStringLiteral("ui/carConfigureOpen");
const QString ConfigureTabKey = QStringLiteral("ui/carConfigureTab");
constexpr int ConfigurePageCount = 3;

// One row of the Configure card.
struct ConfigureRow
{
    const char *title;
    const char *subtitle;
    void (MainWindow::*action)();
    bool needsTransmitter = false;
};

// "Live control" meters: name, colour and whether it runs from -1 to 1.
struct MeterRow
{
    const char *name;
    const QColor *color;
    bool bipolar;
};

QPushButton *makeSmallButton(const QString &text, const QString &toolTip, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setProperty("small", true);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(toolTip);
    return button;
}

// The combo's current item data as a device index; -1 when there is nothing to connect.
bool canConnectIndex(const QComboBox *combo)
{
    return combo->count() > 0 && combo->currentData().toInt() >= 0;
}

} // namespace

QWidget *MainWindow::buildCarPage()
{
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("carPageContent"));
    m_carPage = content;
    content->setMaximumWidth(CarPageMaxWidth);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(8, 0, 8, 28);
    layout->setSpacing(16);

    auto *columns = new WrapRow(16);
    auto *leftLayout = new QVBoxLayout;
    leftLayout->setSpacing(16);
    auto *rightLayout = new QVBoxLayout;
    rightLayout->setSpacing(16);
    columns->addLayout(leftLayout, 2, 560);
    columns->addLayout(rightLayout, 1, 300);
    layout->addLayout(columns);

    leftLayout->addWidget(buildLiveControlCard(content));
    leftLayout->addWidget(buildDevicesCard(content));
    leftLayout->addWidget(buildConfigureCard(content));
    leftLayout->addWidget(buildChannelCard(content));
    leftLayout->addStretch(1);

    rightLayout->addWidget(buildTransmissionCard(content));
    rightLayout->addWidget(buildTelemetryCard(content));
    rightLayout->addWidget(buildLocationCard(content));
    rightLayout->addStretch(1);

    layout->addWidget(buildConsoleCard(content));
    layout->addStretch(1);

    return makePageScrollArea(content);
}

Card *MainWindow::buildLiveControlCard(QWidget *parent)
{
    auto *card = new Card(parent, 2);
    card->setObjectName(QStringLiteral("liveControlCard"));
    QVBoxLayout *content = card->contentLayout();
    content->setContentsMargins(24, 24, 24, 24);
    content->setSpacing(22);

    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(makeRoleLabel(tr("Live control"), "h2", card));
    auto *help = new QPushButton(QStringLiteral("?"), card);
    help->setProperty("iconRound", true);
    help->setFixedSize(24, 24);
    // A sheet without a selector would also size the button's tool tip, a label of its own.
    help->setStyleSheet(QStringLiteral("QPushButton { min-width:24px;max-width:24px;min-height:24px;max-height:24px;"
                                       "border-radius:12px;font-size:9pt; }"));
    help->setCursor(Qt::PointingHandCursor);
    help->setToolTip(tr("What is the input monitor?"));
    connect(help, &QPushButton::clicked, this, &MainWindow::onInputMonitorInfoClicked);
    header->addWidget(help);
    header->addStretch(1);
    m_liveInputHint = makeRoleLabel(tr("Connect devices to see live input"), "muted", card);
    header->addWidget(m_liveInputHint);
    content->addLayout(header);

    auto *body = new QHBoxLayout;
    body->setSpacing(28);
    auto *gaugeGroup = new QHBoxLayout;
    gaugeGroup->setSpacing(14);
    m_steeringGauge = new corvane::SteeringGaugeWidget(card);
    m_steeringGauge->setObjectName(QStringLiteral("steeringGauge"));
    m_steeringGauge->setFixedSize(140, 140);
    gaugeGroup->addWidget(m_steeringGauge);

    auto *gearBox = new QFrame(card);
    gearBox->setFixedSize(84, 140);
    gearBox->setStyleSheet(QStringLiteral("QFrame { background: %1; border-radius: 16px; }")
                               .arg(colorHex(ThemeColors::windowBg)));
    auto *gearLayout = new QVBoxLayout(gearBox);
    gearLayout->setContentsMargins(0, 16, 0, 16);
    gearLayout->setSpacing(0);
    QLabel *gearCaption = makeRoleLabel(tr("Gear"), "caption", gearBox);
    gearCaption->setAlignment(Qt::AlignCenter);
    gearLayout->addWidget(gearCaption);
    gearLayout->addStretch(1);
    m_gearLabel = new QLabel(QStringLiteral("N"), gearBox);
    m_gearLabel->setObjectName(QStringLiteral("gearLabel"));
    m_gearLabel->setAlignment(Qt::AlignCenter);
    m_gearLabel->setFont(uiFont(44, 600));
    m_gearLabel->setFixedSize(84, m_gearLabel->sizeHint().height());
    gearLayout->addWidget(m_gearLabel);
    gearLayout->addStretch(1);
    gaugeGroup->addWidget(gearBox);
    body->addLayout(gaugeGroup);

    auto *meters = new QGridLayout;
    meters->setHorizontalSpacing(14);
    meters->setVerticalSpacing(16);
    meters->setColumnStretch(1, 1);
    const MeterRow rows[] = {
        {QT_TR_NOOP("Throttle"), &ThemeColors::successAccent, false},
        {QT_TR_NOOP("Brake"), &ThemeColors::dangerAccent, false},
        {QT_TR_NOOP("Clutch"), &ThemeColors::accent, false},
        {QT_TR_NOOP("Force FB"), &ThemeColors::ink, true},
    };
    Meter **meterOut[] = {&m_throttleMeter, &m_brakeMeter, &m_clutchMeter, &m_ffbMeter};
    QLabel **valueOut[] = {&m_throttleValue, &m_brakeValue, &m_clutchValue, &m_ffbValue};
    for (int i = 0; i < 4; ++i) {
        auto *name = new QLabel(tr(rows[i].name), card);
        name->setFont(uiFont(13.5, 500));
        name->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(ThemeColors::textSecondary)));
        name->setFixedWidth(72);
        meters->addWidget(name, i, 0);
        auto *meter = new Meter(card, *rows[i].color);
        meter->setBipolar(rows[i].bipolar);
        meters->addWidget(meter, i, 1);
        auto *value = new QLabel(QStringLiteral("0%"), card);
        value->setFont(monoFont(12.5, 400));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Rewritten every monitor tick: a fixed size keeps each new text from relaying the page out.
        value->setFixedSize(46, value->sizeHint().height());
        meters->addWidget(value, i, 2);
        *meterOut[i] = meter;
        *valueOut[i] = value;
    }
    m_ffbValue->setObjectName(QStringLiteral("ffbValueLabel"));
    body->addLayout(meters, 1);
    content->addLayout(body);
    m_pedalAxisNote = makeRoleLabel(QString(), "warning", card);
    m_pedalAxisNote->setObjectName(QStringLiteral("pedalAxisNote"));
    m_pedalAxisNote->setTextFormat(Qt::PlainText);
    m_pedalAxisNote->setWordWrap(true);
    m_pedalAxisNote->hide();
    content->addWidget(m_pedalAxisNote);
    return card;
}

// A pedal mapped to an axis its device lacks reads released whatever the user does: say which,
// in the axis names of the mapping page. Rebuilt only when that changes: the monitor tick calls it.
void MainWindow::updatePedalAxisNote()
{
    corvane::CorvaneController *c = m_controller;
    const bool onPedals = c->isPedalsConnected();
    const corvane::InputDevice *device = nullptr;
    if (onPedals)
        device = c->pedals();
    else if (c->isWheelBaseConnected() && c->wheelBase()->axisMapping().combinedPedals)
        device = c->wheelBase();
    std::array<int, 4> noted{{device ? (onPedals ? 1 : 2) : 0, -1, -1, -1}};
    if (device) {
        const AxisMapping mapping = device->axisMapping();
        for (int role = corvane::InputDevice::Throttle; role <= corvane::InputDevice::Clutch; ++role) {
            const int axis = mapping.map[size_t(role)];
            if (axis >= 0 && !device->hasAxis(axis))
                noted[size_t(role)] = axis;
        }
    }
    if (noted == m_notedPedalAxes)
        return;
    m_notedPedalAxes = noted;
    static const char *const notes[] = {
        QT_TR_NOOP("Throttle: axis %1 is not on the %2, so the throttle stays released."),
        QT_TR_NOOP("Brake: axis %1 is not on the %2, so the brake stays released."),
        QT_TR_NOOP("Clutch: axis %1 is not on the %2, so the clutch stays released."),
    };
    const QString where = onPedals ? tr("pedals") : tr("wheel base");
    QStringList lines;
    for (int role = corvane::InputDevice::Throttle; role <= corvane::InputDevice::Clutch; ++role) {
        if (noted[size_t(role)] >= 0)
            lines << tr(notes[role - 1]).arg(corvane::inputAxisName(noted[size_t(role)]), where);
    }
    m_pedalAxisNote->setText(lines.join(QLatin1Char('\n')));
    m_pedalAxisNote->setVisible(!lines.isEmpty());
}

Card *MainWindow::buildDevicesCard(QWidget *parent)
{
    auto *card = new Card(parent, 1);
    card->setObjectName(QStringLiteral("devicesCard"));
    auto *section = new QWidget(card);
    auto *sectionLayout = new QVBoxLayout(section);
    sectionLayout->setContentsMargins(0, 4, 0, 0);
    sectionLayout->setSpacing(10);

    auto *actions = new QWidget(card);
    auto *actionsLayout = new QHBoxLayout(actions);
    actionsLayout->setContentsMargins(0, 0, 0, 0);
    actionsLayout->setSpacing(8);
    m_refreshButton = new BusyButton(tr("Refresh"), actions);
    m_refreshButton->setCursor(Qt::PointingHandCursor);
    m_refreshButton->setObjectName(QStringLiteral("refreshDevicesBtn"));
    actionsLayout->addWidget(m_refreshButton);
    QPushButton *toggle = makeIconButton(section, true, QStringLiteral("ui/carDevicesOpen"), actions);
    toggle->setObjectName(QStringLiteral("devicesSectionToggle"));
    actionsLayout->addWidget(toggle);

    card->contentLayout()->addLayout(
        makeHeading(tr("Devices"), tr("Choose each device, then connect"), actions, nullptr, &m_devicesSummary));
    m_devicesSummary->setObjectName(QStringLiteral("devicesSummary"));
    card->contentLayout()->addWidget(section);

    struct RowPlan
    {
        const char *monogram;
        const char *title;
        const char *subtitle;
        const char *combo;
        const char *button;
        DeviceRow **row;
    };
    const RowPlan plans[] = {
        {"TX", QT_TR_NOOP("QOR Transmitter"), QT_TR_NOOP("Serial"), "transmitterCombo", "connectTransmitterBtn",
         &m_transmitterRow},
        {"WB", QT_TR_NOOP("Wheel base"), QT_TR_NOOP("DirectInput"), "wheelBaseCombo", "connectWheelBaseBtn",
         &m_wheelBaseRow},
        {"PD", QT_TR_NOOP("Pedals"), QT_TR_NOOP("DirectInput"), "pedalsCombo", "connectPedalsBtn", &m_pedalsRow},
        {"SH", QT_TR_NOOP("Shifter"), QT_TR_NOOP("DirectInput \u00B7 optional"), "shifterCombo", "connectShifterBtn",
         &m_shifterRow},
    };
    for (const RowPlan &plan : plans) {
        auto *row = new DeviceRow(QLatin1String(plan.monogram), tr(plan.title), tr(plan.subtitle), section);
        QComboBox *combo = row->combo();
        combo->setObjectName(QLatin1String(plan.combo));
        row->findChild<QPushButton *>()->setObjectName(QLatin1String(plan.button));
        *plan.row = row;
        sectionLayout->addWidget(row);
    }
    QComboBox *txCombo = m_transmitterRow->combo();
    m_transmitterRow->setConnectPredicate([txCombo] { return !txCombo->currentData().toString().isEmpty(); });
    for (DeviceRow *row : {m_wheelBaseRow, m_pedalsRow, m_shifterRow}) {
        QComboBox *combo = row->combo();
        row->setConnectPredicate([combo] { return canConnectIndex(combo); });
    }
    return card;
}

Card *MainWindow::buildConfigureCard(QWidget *parent)
{
    auto *card = new Card(parent, 1);
    card->setObjectName(QStringLiteral("configureCard"));
    card->contentLayout()->setSpacing(6);
    auto *section = new QWidget(card);
    section->setObjectName(QStringLiteral("configureSection"));
    auto *sectionLayout = new QVBoxLayout(section);
    sectionLayout->setContentsMargins(0, 6, 0, 0);
    sectionLayout->setSpacing(10);
    QPushButton *toggle = makeIconButton(section, false, ConfigureOpenKey, card);
    toggle->setObjectName(QStringLiteral("configureSectionToggle"));
    card->contentLayout()->addLayout(makeHeading(tr("Configure"), tr("Car setup, extras and firmware updates"), toggle));
    card->contentLayout()->addWidget(section);

    auto *selector = new Segmented({tr("Car setup"), tr("Extras"), tr("Firmware")}, section);
    selector->setObjectName(QStringLiteral("configureSelector"));
    sectionLayout->addWidget(selector, 0, Qt::AlignLeft);
    auto *stack = new QStackedWidget(section);
    stack->setObjectName(QStringLiteral("configureStack"));
    sectionLayout->addWidget(stack);

    const auto addRows = [this, stack](std::initializer_list<ConfigureRow> rows, const QString &trailing) {
        ResponsiveGrid *grid = nullptr;
        QWidget *page = addGridPage(stack, &grid);
        for (const ConfigureRow &plan : rows) {
            auto *row = new ListRow(tr(plan.title), grid->parentWidget());
            row->setSubtitle(tr(plan.subtitle));
            // The trailing text here is a word to act on, not a value: the text face.
            if (!trailing.isEmpty())
                row->setTrailingText(trailing, false);
            connect(row, &ListRow::clicked, this, plan.action);
            grid->addWidget(row);
            if (plan.needsTransmitter)
                m_transmitterRows.append(row);
        }
        return page;
    };
    QWidget *carSetup = addRows({{QT_TR_NOOP("Axis config"), QT_TR_NOOP("Map and calibrate the pedals and wheel"),
                                  &MainWindow::onConfigureAxes},
                                 {QT_TR_NOOP("Drive settings"), QT_TR_NOOP("ESC mode, steering range, presets"),
                                  &MainWindow::onConfigureEsc},
                                 {QT_TR_NOOP("Button mapping"), QT_TR_NOOP("Wheel buttons to RC channels"),
                                  &MainWindow::onConfigureButtons},
                                 {QT_TR_NOOP("Force feedback"), QT_TR_NOOP("Compatibility check, test and enable"),
                                  &MainWindow::openWheelFfbDialog}},
                                QString());
    // The receiver's capabilities rewrite this row's subtitle.
    m_forceFeedbackRow = carSetup->findChildren<ListRow *>().constLast();
    QWidget *extras = addRows({{QT_TR_NOOP("LED strip"), QT_TR_NOOP("Car LED colours and effects"),
                                &MainWindow::openLedDialogFromRow},
                               {QT_TR_NOOP("Dashboard"), QT_TR_NOOP("Full-screen instrument cluster"),
                                &MainWindow::onOpenDashboard},
                               {QT_TR_NOOP("Motion rig output"), QT_TR_NOOP("Stream car motion to SimHub, FlyPT\u2026"),
                                &MainWindow::openMotionOutputDialog},
                               {QT_TR_NOOP("FFB and motion calibration"),
                                QT_TR_NOOP("Step by step: flat, front up, flat again"),
                                &MainWindow::openMotionCalibrationDialog},
                               {QT_TR_NOOP("FFB and motion preview"),
                                QT_TR_NOOP("See the wheel and rig move from the car's data"),
                                &MainWindow::openFfbMotionPreview},
                               {QT_TR_NOOP("Setup guide"), QT_TR_NOOP("Power, connect, map and test"),
                                &MainWindow::onOpenOnboarding},
                               {QT_TR_NOOP("Debug console"), QT_TR_NOOP("Serial and app log for troubleshooting"),
                                &MainWindow::toggleConsoleFromRow}},
                              QString());
    extras->findChildren<ListRow *>().constLast()->setObjectName(QStringLiteral("toggleDebugBtn"));
    QWidget *firmware = addRows({{QT_TR_NOOP("QOR Transmitter"), QT_TR_NOOP("MCU firmware"),
                                  &MainWindow::onUpdateTransmitterFirmware, true},
                                 {QT_TR_NOOP("QOR Receiver V4"), QT_TR_NOOP("GPS receiver \u00B7 USB-UART cable on J14"),
                                  &MainWindow::onUpdateReceiverV4Firmware},
                                 {QT_TR_NOOP("QOR Receiver"), QT_TR_NOOP("Earlier receivers \u00B7 USB-C"),
                                  &MainWindow::onUpdateReceiverFirmware},
                                 {QT_TR_NOOP("Transmitter SoC"), QT_TR_NOOP("System software"),
                                  &MainWindow::onUpdateTransmitterSocFirmware, true},
                                 {QT_TR_NOOP("Transmitter SoC (V2)"), QT_TR_NOOP("A/B system update"),
                                  &MainWindow::onUpdateTransmitterSocFirmwareV2, true}},
                                tr("Update"));
    m_firmwareHint = makeRoleLabel(tr("Update QOR hardware over USB"), "muted", firmware);
    m_firmwareHint->setObjectName(QStringLiteral("firmwareHint"));
    m_firmwareHint->setWordWrap(true);
    qobject_cast<QBoxLayout *>(firmware->layout())->insertWidget(0, m_firmwareHint);

    // A stored page out of range (or no number at all) falls back to the nearest page.
    const int tab = std::clamp(corvane::SettingsFile().value(ConfigureTabKey, 0).toInt(), 0, ConfigurePageCount - 1);
    selector->setCurrentIndex(tab, false);
    switchStackPage(stack, tab);
    connect(selector, &Segmented::currentIndexChanged, stack, [stack](int index) {
        switchStackPage(stack, index);
        corvane::SettingsFile().setValue(ConfigureTabKey, index);
    });
    return card;
}

Card *MainWindow::buildTransmissionCard(QWidget *parent)
{
    auto *card = new Card(parent, 2);
    card->setObjectName(QStringLiteral("transmissionCard"));
    QVBoxLayout *content = card->contentLayout();
    content->setContentsMargins(22, 22, 22, 22);
    content->setSpacing(14);
    content->addLayout(makeHeading(tr("Transmission"), tr("Sends your inputs to the car")));

    auto *required = new QVBoxLayout;
    required->setSpacing(8);
    const char *names[] = {QT_TR_NOOP("QOR Transmitter"), QT_TR_NOOP("Wheel base"), QT_TR_NOOP("Pedals")};
    for (int i = 0; i < 3; ++i) {
        auto *row = new QHBoxLayout;
        row->setSpacing(10);
        auto *badge = new QLabel(card);
        badge->setFixedSize(18, 18);
        badge->setAlignment(Qt::AlignCenter);
        row->addWidget(badge);
        auto *name = new QLabel(tr(names[i]), card);
        name->setFont(uiFont(14, 500));
        row->addWidget(name);
        row->addStretch(1);
        QLabel *status = makeRoleLabel(tr("Not connected"), "muted", card);
        status->setObjectName(QStringLiteral("requiredStatus%1").arg(i));
        // "No answer on <port>" is wider than the column leaves on a 1280 screen.
        status->setWordWrap(true);
        status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(status);
        required->addLayout(row);
        m_requiredBadges[i] = badge;
        m_requiredStatus[i] = status;
    }
    content->addLayout(required);

    content->addSpacing(4);
    m_txButton = new TxButton(card);
    m_txButton->setObjectName(QStringLiteral("startStopBtn"));
    content->addWidget(m_txButton);
    m_txHint = makeRoleLabel(tr("Connect the three devices above to start"), "muted", card);
    m_txHint->setObjectName(QStringLiteral("txHint"));
    m_txHint->setAlignment(Qt::AlignCenter);
    m_txHint->setWordWrap(true);
    content->addWidget(m_txHint);

    m_steeringHealthBox = new QWidget(card);
    m_steeringHealthBox->setObjectName(QStringLiteral("steeringHealthBox"));
    auto *health = new QVBoxLayout(m_steeringHealthBox);
    health->setContentsMargins(0, 4, 0, 0);
    health->setSpacing(8);
    m_steeringHealthMessage = makeRoleLabel(QString(), "danger", m_steeringHealthBox);
    m_steeringHealthMessage->setWordWrap(true);
    health->addWidget(m_steeringHealthMessage);
    m_steeringHealthButton = makeButton(QString(), false, m_steeringHealthBox);
    health->addWidget(m_steeringHealthButton, 0, Qt::AlignLeft);
    connect(m_steeringHealthButton, &QPushButton::clicked, this, &MainWindow::onSteeringHealthAction);
    m_steeringHealthBox->hide();
    content->addWidget(m_steeringHealthBox);

    m_autoStartButton = new QPushButton(tr("Auto-start on device ready"), card);
    m_autoStartButton->setObjectName(QStringLiteral("autoStartBtn"));
    m_autoStartButton->setCheckable(true);
    m_autoStartButton->setChecked(m_controller->autoStartEnabled());
    m_autoStartButton->hide();
    content->addWidget(m_autoStartButton);
    return card;
}

Card *MainWindow::buildTelemetryCard(QWidget *parent)
{
    auto *card = new Card(parent, 1);
    card->setObjectName(QStringLiteral("telemetryCard"));
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(12);
    QPushButton *settings = makeSmallButton(tr("Settings"), tr("Radio settings, and the receiver's OSD, GPS and motion"), card);
    settings->setObjectName(QStringLiteral("telemetrySettingsBtn"));
    content->addLayout(makeHeading(tr("Telemetry"), tr("Live data from the car"), settings));
    connect(settings, &QPushButton::clicked, this, &MainWindow::openTransmissionRfSettings);

    m_carLinkLine = new QLabel(card);
    m_carLinkLine->setObjectName(QStringLiteral("carLinkLine"));
    m_carLinkLine->setTextFormat(Qt::RichText);
    // The narrow right column of a laptop screen has no room for "the car is not answering…".
    m_carLinkLine->setWordWrap(true);
    content->addWidget(m_carLinkLine);

    auto *tiles = new QHBoxLayout;
    tiles->setSpacing(10);
    addValueTile(tiles, tr("Signal"), &m_signalValue, 1);
    addValueTile(tiles, tr("Link quality"), &m_linkQualityValue, 1);
    m_signalValue->setObjectName(QStringLiteral("signalValue"));
    m_linkQualityValue->setObjectName(QStringLiteral("linkQualityValue"));
    content->addLayout(tiles);

    m_pinnedSensors = new QWidget(card);
    m_pinnedSensors->setObjectName(QStringLiteral("pinnedSensors"));
    m_pinnedGrid = new ResponsiveGrid(120, 10, m_pinnedSensors);
    m_pinnedGrid->setContentsMargins(0, 0, 0, 0);
    m_pinnedSensors->hide();
    content->addWidget(m_pinnedSensors);

    auto *all = new ListRow(tr("All sensors"), card);
    all->setObjectName(QStringLiteral("allSensorsRow"));
    all->setSubtitle(tr("Every sensor; pin your favourites here"));
    connect(all, &ListRow::clicked, this, &MainWindow::openTransmissionView);
    content->addWidget(all);
    return card;
}

Card *MainWindow::buildLocationCard(QWidget *parent)
{
    m_gpsCard = new Card(parent, 1);
    m_gpsCard->setObjectName(QStringLiteral("locationCard"));
    QVBoxLayout *content = m_gpsCard->contentLayout();
    content->setSpacing(12);
    m_openMapsButton = makeSmallButton(tr("Open in Maps"), tr("Show the car's position in your browser (Google Maps)"),
                                       m_gpsCard);
    m_openMapsButton->setObjectName(QStringLiteral("openMapsBtn"));
    connect(m_openMapsButton, &QPushButton::clicked, this, &MainWindow::openGpsInMaps);
    content->addLayout(makeHeading(tr("Location"), tr("Waiting for a GPS fix"), m_openMapsButton, nullptr, &m_gpsStatus));
    m_gpsStatus->setObjectName(QStringLiteral("gpsStatus"));

    auto *tiles = new QHBoxLayout;
    tiles->setSpacing(10);
    addValueTile(tiles, tr("GPS speed"), &m_gpsSpeedValue, 2);
    addValueTile(tiles, tr("Satellites"), &m_satellitesValue, 1);
    m_gpsSpeedValue->setObjectName(QStringLiteral("gpsSpeedValue"));
    m_satellitesValue->setObjectName(QStringLiteral("satellitesValue"));
    content->addLayout(tiles);

    m_map = new MapView(m_gpsCard);
    m_map->setObjectName(QStringLiteral("carMap"));
    m_map->setMinimumHeight(300);
    content->addWidget(m_map);

    auto *gpsTimer = new QTimer(m_gpsCard);
    gpsTimer->setObjectName(QStringLiteral("gpsRefreshTimer"));
    gpsTimer->setInterval(GpsRefreshMs);
    connect(gpsTimer, &QTimer::timeout, this, &MainWindow::updateGpsStatus);
    gpsTimer->start();
    return m_gpsCard;
}

Card *MainWindow::buildChannelCard(QWidget *parent)
{
    auto *card = new Card(parent, 1);
    card->setObjectName(QStringLiteral("channelCard"));
    auto *header = new QHBoxLayout;
    header->addWidget(makeRoleLabel(tr("Channel activity"), "h2", card));
    header->addStretch(1);
    m_channelHint = makeRoleLabel(tr("Start transmission to see output"), "muted", card);
    m_channelHint->setObjectName(QStringLiteral("channelHint"));
    header->addWidget(m_channelHint);
    card->contentLayout()->addLayout(header);

    auto *gridWidget = new QWidget(card);
    auto *grid = new ResponsiveGrid(68, 8, gridWidget);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setMaxColumns(8);
    for (int channel = 1; channel <= 16; ++channel) {
        auto *cell = new ChannelCell(channel, gridWidget);
        grid->addWidget(cell);
        m_channelCells.append(cell);
    }
    m_shownChannelUs.fill(-1);
    card->contentLayout()->addWidget(gridWidget);
    return card;
}

Card *MainWindow::buildConsoleCard(QWidget *parent)
{
    m_consoleCard = new Card(parent, 1);
    m_consoleCard->setObjectName(QStringLiteral("debugConsoleCard"));
    QVBoxLayout *content = m_consoleCard->contentLayout();
    QPushButton *clear = makeSmallButton(tr("Clear"), QString(), m_consoleCard);
    clear->setObjectName(QStringLiteral("clearConsoleBtn"));
    connect(clear, &QPushButton::clicked, this, &MainWindow::onClearConsole);
    content->addLayout(makeHeading(tr("Debug console"), tr("Raw link statistics and log output"), clear));

    auto *link = new QHBoxLayout;
    link->setSpacing(18);
    const char *labels[][2] = {{"rssiLabel", QT_TR_NOOP("RSSI: \u2014")},
                               {"lqLabel", QT_TR_NOOP("LQ: \u2014")},
                               {"snrLabel", QT_TR_NOOP("SNR: \u2014")},
                               {"rfModeLabel", QT_TR_NOOP("RF: \u2014")}};
    for (const auto &plan : labels) {
        QLabel *label = makeRoleLabel(tr(plan[1]), "mono", m_consoleCard);
        label->setObjectName(QLatin1String(plan[0]));
        link->addWidget(label);
    }
    link->addStretch(1);
    content->addLayout(link);

    m_console = new QTextEdit(m_consoleCard);
    m_console->setObjectName(QStringLiteral("consoleOutput"));
    m_console->setReadOnly(true);
    // Nobody undoes in a log, and the history would keep every line the limit trims away.
    m_console->setUndoRedoEnabled(false);
    m_console->setProperty("log", true);
    m_console->setMinimumHeight(180);
    content->addWidget(m_console);
    m_consoleCard->hide();
    return m_consoleCard;
}

void MainWindow::wireCarPage()
{
    corvane::CorvaneController *c = m_controller;
    connect(c, &corvane::CorvaneController::ffbLevelReceived, this, &MainWindow::onFfbLevel);
    connect(c->steeringMonitor(), &corvane::SteeringMonitor::healthChanged, this, &MainWindow::updateSteeringHealth);
    connect(c, &corvane::CorvaneController::gpsUpdated, this, &MainWindow::onGpsUpdated);
    updateGpsStatus();
    corvane::ReceiverConfigManager *receiver = c->receiverConfigManager();
    for (auto signal : {&corvane::ReceiverConfigManager::settingsChanged, &corvane::ReceiverConfigManager::capsChanged,
                        &corvane::ReceiverConfigManager::stateChanged})
        connect(receiver, signal, this, &MainWindow::updateReceiverFeatures);
    QTimer::singleShot(0, this, &MainWindow::updateReceiverFeatures);
    connect(c, &corvane::CorvaneController::carLinkChanged, this, [this] {
        updateCarLinkStatus();
        updateReceiverFeatures();
    });
    connect(c, &corvane::CorvaneController::runningChanged, this, &MainWindow::updateCarLinkStatus);
    QTimer::singleShot(0, this, &MainWindow::updateCarLinkStatus);
    connect(c->profileManager(), &corvane::ProfileManager::activeProfileChanged, this, [this] {
        m_controller->autoConnectDevices();
        updateCarPageStatus();
    });
    connect(corvane::LogRouter::instance(), &corvane::LogRouter::logEmitted, this, &MainWindow::onLogMessage);
}

void MainWindow::onFfbLevel(float level)
{
    m_ffbMeter->setValue(level);
    const int percent = int(std::lround(level * 100.0f));
    m_ffbValue->setText(QStringLiteral("%1%2%").arg(level > 0.005f ? QStringLiteral("+") : QString()).arg(percent));
}

void MainWindow::onGpsUpdated(const corvane::GpsFix &fix)
{
    m_map->setPosition(fix.latitude, fix.longitude, fix.headingDeg, fix.speedKmh >= HeadingMinSpeedKmh);
    updateGpsStatus();
}
