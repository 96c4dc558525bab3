#include "motion/pages/motionsystemwidget.h"

#include "bridge/corvanecontroller.h"
#include "motion/motionsystemcontroller.h"
#include "motion/motionwebpanel.h"
#include "motion/pages/motionsystemparts.h"
#include "motion/pages/motionwebdialog.h"
#include "ostraui/busybutton.h"
#include "ostraui/card.h"
#include "ostraui/dot.h"
#include "ostraui/flowlayout.h"
#include "ostraui/pill.h"
#include "ostraui/portlist.h"
#include "ostraui/qrcode.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "ostraui/toast.h"
#include "ostraui/vmeter.h"
#include "ostraui/wraprow.h"
#include "platform/serial/serialportlister.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

using namespace motionsystem;

namespace {

constexpr int DraggedHoldMs = 1500;

constexpr quint16 WebPanelBasePort = 8090;

} // namespace

const QList<MotionHapticPreset> &MotionSystemWidget::hapticPresets()
{
    static const QList<MotionHapticPreset> presets {
        { QT_TR_NOOP("Road texture"), 4, 30 },
        { QT_TR_NOOP("Kerb"), 20, 12 },
        { QT_TR_NOOP("Engine"), 3, 45 },
        { QT_TR_NOOP("Impact"), 40, 8 },
    };
    return presets;
}

MotionSystemWidget::MotionSystemWidget(MotionSystemController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
{
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(8, 0, 8, 28);
    page->setSpacing(16);

    buildControllerCard(page);
    auto *wrap = new ostra::WrapRow(16);
    wrap->addWidget(buildTestCard(), 2, 520);
    wrap->addWidget(buildActuatorsCard(), 1, 300);
    page->addLayout(wrap);
    page->addWidget(buildSettingsCard());
    page->addWidget(buildLogCard());
    page->addStretch(1);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(100);
    connect(m_refreshTimer, &QTimer::timeout, this, &MotionSystemWidget::refreshRunButton);

    connectController();

    loadSettings(m_controller->settings());
    setPlatformDof(5);
    onRefreshPorts();
    refreshConnectionState();
    refreshRunButton();
}

MotionSystemWidget::~MotionSystemWidget() = default;

// --- Controller card ------------------------------------------------------------------------

void MotionSystemWidget::buildControllerCard(QVBoxLayout *page)
{
    auto *card = new ostra::Card(this, 2);
    QVBoxLayout *content = card->contentLayout();
    content->setContentsMargins(22, 18, 22, 18);
    content->setSpacing(12);

    auto *row = new QWidget(card);
    auto *flow = new ostra::FlowLayout(row, 14, 12);

    auto *statusBlock = new QWidget(row);
    auto *statusLayout = new QHBoxLayout(statusBlock);
    statusLayout->setContentsMargins(0, 0, 8, 0);
    statusLayout->setSpacing(12);
    m_statusDot = new ostra::Dot(statusBlock, 52);
    m_statusDot->setObjectName(QStringLiteral("statusDot"));
    statusLayout->addWidget(m_statusDot);
    auto *statusColumn = new QVBoxLayout;
    statusColumn->setSpacing(0);
    statusColumn->addWidget(ostra::makeRoleLabel(tr("Controller"), "muted", statusBlock));
    m_statusLabel = new QLabel(tr("Offline"), statusBlock);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    // Unknown states show as the board sent them.
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setFont(ostra::uiFont(20, 600));
    statusColumn->addWidget(m_statusLabel);
    statusLayout->addLayout(statusColumn);
    flow->addWidget(statusBlock);

    m_portList = new QComboBox(row);
    m_portList->setObjectName(QStringLiteral("portList"));
    m_portList->setMinimumWidth(300);
    m_portList->setFixedHeight(38);
    m_portList->setCursor(Qt::PointingHandCursor);
    connect(m_portList, &QComboBox::currentIndexChanged, this, [this] {
        showConnectProblem(QString());
        refreshConnectionState();
    });
    flow->addWidget(m_portList);

    m_refreshButton = new ostra::BusyButton(tr("Refresh"), row);
    m_refreshButton->setFixedHeight(38);
    m_refreshButton->setCursor(Qt::PointingHandCursor);
    connect(m_refreshButton, &QPushButton::clicked, this, [this] {
        m_refreshButton->setBusyFor(tr("Scanning\u2026"), 600);
        onRefreshPorts();
    });
    flow->addWidget(m_refreshButton);

    m_webPanel = new MotionWebPanel(m_controller, this);

    m_webPanelButton = new QPushButton(tr("Web panel \u2197"), row);
    m_webPanelButton->setObjectName(QStringLiteral("webPanelButton"));
    m_webPanelButton->setCheckable(true);
    m_webPanelButton->setFixedHeight(38);
    m_webPanelButton->setCursor(Qt::PointingHandCursor);
    m_webPanelButton->setToolTip(tr("Run tests and tune settings from your phone \u2014 scan the QR code"));
    connect(m_webPanelButton, &QPushButton::clicked, this, [this] { toggleWebPanel(); });
    flow->addWidget(m_webPanelButton);

    m_connectButton = new QPushButton(tr("Connect"), row);
    m_connectButton->setObjectName(QStringLiteral("connectButton"));
    m_connectButton->setMinimumWidth(110);
    m_connectButton->setFixedHeight(38);
    m_connectButton->setCursor(Qt::PointingHandCursor);
    connect(m_connectButton, &QPushButton::clicked, this, &MotionSystemWidget::onConnectClicked);
    flow->addWidget(m_connectButton);
    content->addWidget(row);

    m_connectProblem = new QLabel(card);
    m_connectProblem->setObjectName(QStringLiteral("connectProblem"));
    // It repeats a port's name and the system's error text.
    m_connectProblem->setTextFormat(Qt::PlainText);
    m_connectProblem->setWordWrap(true);
    m_connectProblem->hide();
    content->addWidget(m_connectProblem);

    m_webAddressLabel = new QLabel(card);
    m_webAddressLabel->setObjectName(QStringLiteral("webAddressLabel"));
    m_webAddressLabel->setFont(ostra::monoFont(12.5, 400));
    m_webAddressLabel->setCursor(Qt::PointingHandCursor);
    m_webAddressLabel->setToolTip(tr("Click to show the QR code again"));
    m_webAddressLabel->hide();
    m_webAddressLabel->installEventFilter(this);
    content->addWidget(m_webAddressLabel);
    m_showQr = [this] { showWebPanelQr(); };

    page->addWidget(card);
}

void MotionSystemWidget::onRefreshPorts()
{
    const QList<SerialPortEntry> ports = SerialPortLister::availablePorts();
    ostra::PortListSetup setup;
    setup.prompt = tr("Choose QOR Motion Controller");
    setup.empty = tr("No serial ports found");
    setup.keep = m_portList->currentData().toString();
    // The board is offered only while nothing else was chosen.
    if (setup.keep.isEmpty()) {
        for (const SerialPortEntry &port : ports) {
            if (MotionSystemController::portText(port).contains(QLatin1String("QOR Motion Controller"))) {
                setup.preferred = port.portName;
                break;
            }
        }
    }
    setup.text = &MotionSystemController::portText;
    if (m_devices)
        setup.held = m_devices->heldPorts();
    const QSignalBlocker blocker(m_portList);
    ostra::fillPortList(m_portList, ports, setup);
    refreshConnectionState();
}

void MotionSystemWidget::followPortsOf(const CorvaneController *devices)
{
    m_devices = devices;
    for (auto changed : {&CorvaneController::serialConnectedChanged, &CorvaneController::receiverConnectedChanged})
        connect(devices, changed, this, &MotionSystemWidget::onRefreshPorts);
    onRefreshPorts();
}

void MotionSystemWidget::onConnectClicked()
{
    if (m_controller->isConnected()) {
        m_controller->disconnectPort();
        return;
    }
    const QString name = m_portList->currentData().toString();
    if (name.isEmpty()) {
        ostra::showToast(this, tr("Choose a serial port first"));
        appendLog(tr("! Select a serial port first"));
        return;
    }
    showConnectProblem(QString());
    m_controller->connectPort(name);
}

void MotionSystemWidget::showConnectProblem(const QString &text)
{
    if (text.isEmpty()) {
        m_connectProblem->hide();
        return;
    }
    m_connectProblem->setStyleSheet(
        QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::levelTextColor(ostra::LevelDanger))));
    m_connectProblem->setText(text);
    m_connectProblem->show();
}

void MotionSystemWidget::refreshConnectionState()
{
    const bool connected = m_controller->isConnected();
    const QString state = m_controller->state();
    m_connectButton->setText(connected ? tr("Disconnect") : tr("Connect"));
    const bool primary = !connected && ostra::portChosen(m_portList);
    if (m_connectButton->property("primary").toBool() != primary)
        ostra::setStyleState(m_connectButton, "primary", primary);
    // Nothing to connect to while the list shows no port or only its "Choose…" prompt.
    m_connectButton->setEnabled(connected || primary);
    m_portList->setEnabled(!connected);

    QString text;
    int level = ostra::LevelWarning;
    bool ripple = false;
    int period = 2400;
    if (!connected) {
        text = tr("Offline");
        level = ostra::LevelNeutral;
    } else if (state.isEmpty()) {
        text = tr("Connecting");
        ripple = true;
        period = 1100;
    } else if (state == Ready) {
        text = tr("Online");
        level = ostra::LevelSuccess;
        ripple = true;
    } else if (state == QLatin1String("FAIL")) {
        text = tr("Fault \u2014 fix, then Auto home");
        level = ostra::LevelDanger;
    } else if (state == QLatin1String("released")) {
        text = tr("Released \u2014 Auto home to resume");
    } else if (state == QLatin1String("calibrate")) {
        text = tr("Calibrating");
        level = ostra::LevelInfo;
        ripple = true;
    } else if (state == QLatin1String("homing")) {
        text = tr("Homing");
        ripple = true;
        period = 1100;
    } else {
        text = state.left(1).toUpper() + state.mid(1);
    }
    m_statusLabel->setText(text);
    const QColor dotColor = ostra::levelAccentColor(level);
    if (m_statusDot->color() != dotColor)
        m_statusDot->setColor(dotColor);
    m_statusDot->setRipple(ripple, period);

    // Auto home and Calibration indicators.
    const bool homing = connected && state == QLatin1String("homing");
    m_homeDot->setColor(homing ? ostra::levelAccentColor(ostra::LevelWarning) : QColor(Qt::transparent));
    m_homeDot->setPulsing(homing, 900);
    m_homeButton->setText(QStringLiteral("    ") + (homing ? tr("Homing\u2026") : tr("Auto home")));
    const bool calibrating = connected && state == QLatin1String("calibrate");
    m_calibrationDot->setColor(calibrating ? ostra::levelAccentColor(ostra::LevelInfo) : QColor(Qt::transparent));
    ostra::setStyleSheetIfChanged(m_calibrationButton,
                           calibrating ? QStringLiteral("QPushButton { background: %1; border-color: %2; }")
                                             .arg(ostra::colorHex(ostra::levelColor(ostra::LevelInfo)),
                                                  ostra::colorHex(ostra::levelAccentColor(ostra::LevelInfo)))
                                       : QString());
    refreshLiveColumns();
}

void MotionSystemWidget::toggleWebPanel()
{
    if (m_webPanelButton->isChecked()) {
        if (m_webPanel->start(WebPanelBasePort)) {
            const QString url = lanPanelUrl(m_webPanel);
            m_webAddressLabel->setStyleSheet(QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::levelTextColor(ostra::LevelInfo))));
            m_webAddressLabel->setText(ostra::reachableFromPhone(QUrl(url).host())
                                           ? tr("Web panel running at %1").arg(url)
                                           : tr("Web panel running at %1 \u2014 no network found for a phone").arg(url));
            m_webAddressLabel->show();
            appendLog(tr("Web panel started at %1").arg(url));
            showWebPanelQr();
        } else {
            m_webPanelButton->setChecked(false);
            m_webAddressLabel->setStyleSheet(QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::levelTextColor(ostra::LevelDanger))));
            m_webAddressLabel->setText(tr("Web panel failed to start (ports 8090-8099 all in use)"));
            m_webAddressLabel->show();
            appendLog(tr("! Web panel failed to start (ports 8090-8099 in use)"));
        }
    } else {
        m_webPanel->stop();
        m_webAddressLabel->clear();
        m_webAddressLabel->hide();
        appendLog(tr("Web panel stopped"));
    }
}

void MotionSystemWidget::showWebPanelQr()
{
    MotionWebDialog dialog(lanPanelUrl(m_webPanel), this);
    ostra::execAfterTick(dialog);
}

bool MotionSystemWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_webAddressLabel && event->type() == QEvent::MouseButtonRelease && m_webPanel->isListening()) {
        m_showQr();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// --- Actuators card -------------------------------------------------------------------------

QWidget *MotionSystemWidget::buildActuatorsCard()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    m_dofPill = new ostra::Pill(card);
    m_dofPill->setObjectName(QStringLiteral("dofPill"));
    m_dofPill->setDotVisible(false);
    m_dofPill->setHeight(26);
    m_dofPill->setLevel(ostra::LevelInfo);
    m_dofPill->setText(QStringLiteral("%1DOF").arg(m_platformDof));
    content->addLayout(ostra::makeHeading(tr("Actuators"), tr("Live position from the controller"), m_dofPill));
    m_liveColumnsWidget = new QWidget(card);
    m_liveColumnsWidget->setMinimumHeight(240);
    auto *columns = new QHBoxLayout(m_liveColumnsWidget);
    columns->setContentsMargins(0, 0, 0, 0);
    content->addWidget(m_liveColumnsWidget, 1);
    return card;
}

void MotionSystemWidget::rebuildLiveColumns(int count)
{
    QLayout *layout = m_liveColumnsWidget->layout();
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->setObjectName(QString());
            widget->deleteLater();
        }
        delete item;
    }
    m_liveColumns.clear();
    layout->setSpacing(12);
    auto *box = static_cast<QHBoxLayout *>(layout);
    for (int i = 0; i < count; ++i) {
        auto *column = new QWidget(m_liveColumnsWidget);
        column->setObjectName(QStringLiteral("liveColumn%1").arg(i + 1));
        auto *columnLayout = new QVBoxLayout(column);
        columnLayout->setContentsMargins(0, 0, 0, 0);
        columnLayout->setSpacing(6);
        MotionLiveColumn live;
        live.meter = new ostra::VMeter(column, 0);
        live.meter->setMinimumWidth(28);
        live.meter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        live.meter->setTrackColor(ostra::ThemeColors::windowBg);
        live.meter->setRadius(12);
        live.meter->setPadding(4);
        live.meter->setAnimated(true);
        columnLayout->addWidget(live.meter, 1);
        live.name = new QLabel(QStringLiteral("A%1").arg(i + 1), column);
        live.name->setTextFormat(Qt::RichText);
        live.name->setAlignment(Qt::AlignCenter);
        live.name->setFont(ostra::uiFont(12.5, 600));
        columnLayout->addWidget(live.name);
        live.value = new QLabel(column);
        ostra::setReadoutText(live.value, QStringLiteral("\u2014"), 11.5, 400);
        live.value->setAlignment(Qt::AlignCenter);
        live.value->setStyleSheet(QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::ThemeColors::textMuted)));
        columnLayout->addWidget(live.value);
        box->addWidget(column, 1);
        m_liveColumns.append(live);
    }
    const QMap<int, int> positions = m_controller->axisPositions();
    for (auto it = positions.cbegin(); it != positions.cend(); ++it) {
        if (it.key() >= 0 && it.key() < count)
            m_liveColumns[it.key()].lastMm = it.value();
    }
    refreshLiveColumns();
    refreshMapStatus();
}

void MotionSystemWidget::refreshLiveColumns()
{
    const bool connected = m_controller->isConnected();
    const bool busy = m_controller->isBusy();
    const int stroke = drawStroke();
    // A stroke the controller never reported usably draws nothing rather than dividing by it.
    const double park = stroke > 0 ? double(m_parkRow->value()) / stroke : 0.0;
    const QColor fill = !connected ? ostra::levelAccentColor(ostra::LevelNeutral)
                        : busy     ? ostra::levelAccentColor(ostra::LevelInfo)
                                   : ostra::ThemeColors::ink;
    for (MotionLiveColumn &column : m_liveColumns) {
        if (column.meter->color() != fill)
            column.meter->setColor(fill);
        if (column.marker != park) {
            column.marker = park;
            column.meter->setMarker(park, ostra::levelAccentColor(ostra::LevelDanger));
        }
        column.meter->setValue(column.lastMm >= 0 && stroke > 0 ? double(column.lastMm) / stroke : 0.0);
        ostra::setReadoutText(column.value, column.lastMm >= 0 ? tr("%1 mm").arg(column.lastMm) : QStringLiteral("\u2014"),
                              11.5, 400);
    }
}

void MotionSystemWidget::onAxisPositions(const QMap<int, int> &mmByAxis)
{
    const bool canMove = m_controller->state() == Ready && !m_controller->isBusy();
    for (auto it = mmByAxis.cbegin(); it != mmByAxis.cend(); ++it) {
        const auto row = m_axisRows.find(it.key());
        if (row != m_axisRows.end()) {
            ostra::setReadoutText(row->live, tr("%1 mm").arg(it.value()), 12, 400);
            QSlider *slider = innerSlider(row->slider);
            slider->setEnabled(canMove);
            const bool held = slider->isSliderDown()
                              || (row->lastUserMove.isValid() && row->lastUserMove.elapsed() < DraggedHoldMs);
            if (!held && row->slider->value() != it.value()) {
                const QSignalBlocker blocker(row->slider);
                row->slider->setValue(it.value());
            }
        }
        if (it.key() >= 0 && it.key() < m_liveColumns.size())
            m_liveColumns[it.key()].lastMm = it.value();
    }
    refreshLiveColumns();
}

// --- Controller signals and platform --------------------------------------------------------

void MotionSystemWidget::connectController()
{
    MotionSystemController *c = m_controller;
    connect(c, &MotionSystemController::connectedChanged, this, [this] {
        refreshConnectionState();
        refreshRunButton();
        refreshSaveState();
    });
    connect(c, &MotionSystemController::controllerStateChanged, this, [this](const QString &state) {
        // The controller answers: whatever kept the link down is over.
        if (!state.isEmpty())
            showConnectProblem(QString());
        refreshConnectionState();
        refreshRunButton();
    });
    // Why the status stays at Connecting or Offline, by the button rather than only in the log.
    connect(c, &MotionSystemController::linkProblem, this, &MotionSystemWidget::showConnectProblem);
    connect(c, &MotionSystemController::statusLine, this, [this](const QString &line) { appendLog(line); });
    connect(c, &MotionSystemController::axisPositionsUpdated, this,
            [this](const QMap<int, int> &positions) { onAxisPositions(positions); });
    connect(c, &MotionSystemController::errorOccurred, this,
            [this](const QString &message) { appendLog(QStringLiteral("! %1").arg(message)); });
    connect(c, &MotionSystemController::mapConfirmedChanged, this, [this] { refreshMapStatus(); });
    connect(c, &MotionSystemController::sleepFlagChanged, this, [this] { refreshSleepStatus(); });
    const auto reload = [this](const MotionSystemSettings &s) {
        loadSettings(s);
        refreshLiveColumns();
    };
    connect(c, &MotionSystemController::settingsApplied, this, reload);
    connect(c, &MotionSystemController::settingsEchoed, this, reload);
    connect(c, &MotionSystemController::testStarted, this, [this] { refreshRunButton(); });
    connect(c, &MotionSystemController::testFinished, this,
            [this] { QTimer::singleShot(500, this, &MotionSystemWidget::refreshRunButton); });
}

void MotionSystemWidget::setPlatformDof(int dof)
{
    if (dof != 2 && dof != 3 && dof != 5)
        return;
    m_platformDof = dof;
    m_controller->setPlatformDof(dof);
    m_dofPill->setText(QStringLiteral("%1DOF").arg(dof));

    const bool onPlatform = dof == 5 || (dof == 2 ? m_chosenDof <= MotionSystemController::Yaw
                                                  : m_chosenDof >= MotionSystemController::Pitch);
    if (!onPlatform)
        m_chosenDof = dof == 2 ? MotionSystemController::Yaw : MotionSystemController::Pitch;
    rebuildTestTargets();

    const int n = actuatorCount();
    for (int i = 0; i < n; ++i)
        ensureAxisRow(i);
    for (auto it = m_axisRows.begin(); it != m_axisRows.end(); ++it)
        it->slider->setVisible(it.key() < n);

    QStringList options { tr("All") };
    for (int i = 1; i <= n; ++i)
        options.append(QString::number(i));
    {
        const QSignalBlocker blocker(m_freeActuatorSelector);
        m_freeActuatorSelector->setOptions(options);
    }
    if (m_freeActuator >= n)
        m_freeActuator = -1;
    {
        const QSignalBlocker blocker(m_freeActuatorSelector);
        m_freeActuatorSelector->setCurrentIndex(m_freeActuator + 1, false);
    }

    const bool outside = std::any_of(m_actuatorSlots.begin(), m_actuatorSlots.begin() + n, [n](int slot) { return slot >= n; });
    if (outside)
        m_actuatorSlots = { 0, 1, 2, 3, 4, 5 };
    rebuildLiveColumns(n);
    rebuildActuatorRows(n);
    refreshSaveState();
}

int MotionSystemWidget::actuatorCount() const
{
    return MotionSystemController::actuatorCount(m_platformDof);
}

int MotionSystemWidget::drawStroke() const
{
    const int stroke = m_controller->settings().strokeMm;
    return stroke > 0 ? stroke : 0;
}

int MotionSystemWidget::rangeStroke() const
{
    return std::clamp(m_controller->settings().strokeMm, 50, 300);
}

} // namespace corvane
