#include "motion/pages/motionsystemwidget.h"

#include "motion/motionsystemcontroller.h"
#include "motion/motionwebpanel.h"
#include "motion/pages/motionrunbutton.h"
#include "motion/pages/motionwebdialog.h"
#include "ostraui/busybutton.h"
#include "ostraui/card.h"
#include "ostraui/dot.h"
#include "ostraui/flowlayout.h"
#include "ostraui/pill.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/segmented.h"
#include "ostraui/sliderrow.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/toggle.h"
#include "ostraui/vmeter.h"
#include "ostraui/wraprow.h"

#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr int LogLineLimit = 300;
constexpr int DraggedHoldMs = 1500;
constexpr quint16 WebPanelBasePort = 8090;

const QString Ready = QStringLiteral("ready");

QSlider *innerSlider(ostra::SliderRow *row)
{
    return row->findChild<QSlider *>();
}

// Sets the range; a value outside is pulled to the nearest end (with the row's change reactions).
void setRowRange(ostra::SliderRow *row, int minimum, int maximum)
{
    innerSlider(row)->setRange(minimum, std::max(minimum, maximum));
}

void setStyleSheetIfChanged(QWidget *widget, const QString &sheet)
{
    if (widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}

void setEnabledWithCursor(QWidget *widget, bool enabled)
{
    widget->setEnabled(enabled);
    widget->setCursor(enabled ? Qt::PointingHandCursor : Qt::ForbiddenCursor);
}

QString shortChannelName(int channel, int platformDof)
{
    static const char *const names[] = { "FL", "FR", "RL", "RR", "YAW", "SRG" };
    if (platformDof == 2)
        return QStringLiteral("CH%1").arg(channel + 1);
    return channel >= 0 && channel < 6 ? QString::fromLatin1(names[channel]) : QString();
}

QLabel *makeMutedText(const QString &text, QWidget *parent)
{
    QLabel *label = ostra::makeRoleLabel(text, "muted", parent);
    label->setWordWrap(true);
    return label;
}

ostra::SliderRow *makeNamedRow(const QString &label, int minimum, int maximum, int value, const char *name,
                               const ostra::SliderRow::Formatter &format, QWidget *parent)
{
    auto *row = new ostra::SliderRow(label, minimum, maximum, value, parent);
    row->setObjectName(QLatin1String(name));
    row->setFormatter(format);
    return row;
}

QVBoxLayout *panelLayout(QWidget *panel, int spacing)
{
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// A hidden panel of the test card that opens with a muted explanation.
QVBoxLayout *makeTestPanel(QWidget *&panel, QWidget *card, int spacing, const QString &intro)
{
    panel = new QWidget(card);
    panel->hide();
    QVBoxLayout *layout = panelLayout(panel, spacing);
    layout->addWidget(makeMutedText(intro, panel));
    return layout;
}

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
    connect(m_portList, &QComboBox::currentIndexChanged, this, [this] { refreshConnectionState(); });
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
    const QString previous = m_portList->currentData().toString();
    const QSignalBlocker blocker(m_portList);
    m_portList->clear();
    int preferred = -1;
    bool kept = false;
    for (const QString &entry : MotionSystemController::listPorts()) {
        const QString name = entry.section(QLatin1Char(' '), 0, 0);
        m_portList->addItem(entry, name);
        const int index = m_portList->count() - 1;
        if (preferred < 0 && entry.contains(QLatin1String("QOR Motion Controller")))
            preferred = index;
        if (!previous.isEmpty() && name == previous) {
            m_portList->setCurrentIndex(index);
            kept = true;
        }
    }
    if (previous.isEmpty() && !kept && preferred >= 0)
        m_portList->setCurrentIndex(preferred);
    if (m_portList->count() == 0)
        m_portList->addItem(tr("No serial ports found"), QString());
    refreshConnectionState();
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
    m_controller->connectPort(name);
}

void MotionSystemWidget::refreshConnectionState()
{
    const bool connected = m_controller->isConnected();
    const QString state = m_controller->state();
    m_connectButton->setText(connected ? tr("Disconnect") : tr("Connect"));
    const bool primary = !connected && !m_portList->currentData().toString().isEmpty();
    if (m_connectButton->property("primary").toBool() != primary)
        ostra::setStyleState(m_connectButton, "primary", primary);
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
    setStyleSheetIfChanged(m_calibrationButton,
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
            m_webAddressLabel->setText(tr("Web panel running at %1").arg(url));
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
    dialog.exec();
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
        live.value = new QLabel(QStringLiteral("\u2014"), column);
        live.value->setAlignment(Qt::AlignCenter);
        live.value->setFont(ostra::monoFont(11.5, 400));
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
        column.value->setText(column.lastMm >= 0 ? tr("%1 mm").arg(column.lastMm) : QStringLiteral("\u2014"));
    }
}

void MotionSystemWidget::onAxisPositions(const QMap<int, int> &mmByAxis)
{
    const bool canMove = m_controller->state() == Ready && !m_controller->isBusy();
    for (auto it = mmByAxis.cbegin(); it != mmByAxis.cend(); ++it) {
        const auto row = m_axisRows.find(it.key());
        if (row != m_axisRows.end()) {
            row->live->setText(tr("%1 mm").arg(it.value()));
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

// --- Controller log card --------------------------------------------------------------------

QWidget *MotionSystemWidget::buildLogCard()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(ostra::makeRoleLabel(tr("Controller log"), "h2", card));
    m_logCountPill = new ostra::Pill(card);
    m_logCountPill->setObjectName(QStringLiteral("logCountPill"));
    m_logCountPill->setDotVisible(false);
    m_logCountPill->setHeight(22);
    m_logCountPill->setText(QStringLiteral("0"));
    header->addWidget(m_logCountPill);
    header->addStretch(1);
    auto *clear = new QPushButton(tr("Clear"), card);
    clear->setObjectName(QStringLiteral("clearLogButton"));
    clear->setProperty("link", true);
    clear->setCursor(Qt::PointingHandCursor);
    clear->setToolTip(tr("Empty the log"));
    header->addWidget(clear);
    auto *show = new QPushButton(tr("Show"), card);
    show->setObjectName(QStringLiteral("showLogButton"));
    show->setProperty("link", true);
    show->setCursor(Qt::PointingHandCursor);
    header->addWidget(show);
    content->addLayout(header);

    m_logView = new QTextEdit(card);
    m_logView->setObjectName(QStringLiteral("logView"));
    m_logView->setReadOnly(true);
    m_logView->setProperty("log", true);
    m_logView->setFixedHeight(260);
    m_logView->hide();
    content->addWidget(m_logView);

    connect(clear, &QPushButton::clicked, this, [this] {
        m_logView->clear();
        m_logLines = 0;
        m_logCountPill->setText(QStringLiteral("0"));
    });
    connect(show, &QPushButton::clicked, this, [this, show] {
        const bool visible = m_logView->isVisible();
        m_logView->setVisible(!visible);
        show->setText(visible ? tr("Show") : tr("Hide"));
    });
    return card;
}

void MotionSystemWidget::appendLog(const QString &text)
{
    using namespace ostra;
    const QString lower = text.toLower();
    QColor dot = ThemeColors::textMuted;
    if (text.startsWith(QLatin1Char('!')) || lower.contains(QLatin1String("fail")) || lower.contains(QLatin1String("error")))
        dot = levelAccentColor(LevelDanger);
    else if (lower.contains(QLatin1String("released")) || lower.contains(QLatin1String("homing")))
        dot = levelAccentColor(LevelWarning);
    else if (lower.contains(QLatin1String("saved")) || lower.contains(QLatin1String("started"))
             || lower.contains(QLatin1String("ready")) || lower.contains(QLatin1String("done")))
        dot = levelAccentColor(LevelSuccess);
    const QString entry =
        QStringLiteral("<table cellspacing='0' cellpadding='0'><tr><td style='color:%1; padding-right:10px;'>%2</td>"
                       "<td style='color:%3; padding-right:8px;'>&#9679;</td><td style='color:%4;'>%5</td></tr></table>")
            .arg(colorHex(ThemeColors::textMuted), QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")),
                 colorHex(dot), colorHex(ThemeColors::ink), text.toHtmlEscaped());
    QTextDocument *document = m_logView->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.insertHtml(entry);
    cursor.insertBlock();
    if (++m_logLines > LogLineLimit) {
        // Each line is one table; the oldest is the last one in the document.
        const QList<QTextFrame *> lines = document->rootFrame()->childFrames();
        if (!lines.isEmpty()) {
            QTextCursor oldest(document);
            oldest.setPosition(lines.last()->firstPosition() - 1);
            oldest.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            oldest.removeSelectedText();
        }
        m_logLines = LogLineLimit;
    }
    m_logCountPill->setText(QString::number(m_logLines));
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
    connect(c, &MotionSystemController::controllerStateChanged, this, [this] {
        refreshConnectionState();
        refreshRunButton();
    });
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

// --- Motion test card -----------------------------------------------------------------------

QWidget *MotionSystemWidget::buildTestCard()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(16);
    content->addLayout(ostra::makeHeading(tr("Motion test"), tr("Run one motion pattern to check the platform")));

    m_targetSelector = new ostra::Segmented(QStringList(), card);
    m_targetSelector->setObjectName(QStringLiteral("testTargets"));
    connect(m_targetSelector, &ostra::Segmented::currentIndexChanged, this, [this](int i) { onTestTargetChanged(i); });
    content->addWidget(m_targetSelector);

    m_optionsPanel = new QWidget(card);
    QVBoxLayout *options = panelLayout(m_optionsPanel, 12);
    m_travelRow = makeNamedRow(tr("Travel"), 5, 100, 30, "travelRow",
                               [](int v) { return tr("%1 %").arg(v); }, m_optionsPanel);
    m_speedRow = makeNamedRow(tr("Speed"), 10, 300, 50, "speedRow",
                              [](int v) { return tr("%1 Hz").arg(v / 100.0, 0, 'f', 2); }, m_optionsPanel);
    m_speedRow->setToolTip(tr("Oscillation frequency of the test pattern"));
    m_durationRow = makeNamedRow(tr("Duration"), 1, 30, 5, "durationRow",
                                 [](int v) { return tr("%1 s").arg(v); }, m_optionsPanel);
    for (ostra::SliderRow *row : { m_travelRow, m_speedRow, m_durationRow })
        options->addWidget(row);
    content->addWidget(m_optionsPanel);

    QVBoxLayout *full = makeTestPanel(m_fullPanel, card, 10,
                                      tr("Overall mechanical test: cycles every actuator through gentle full sweeps, punchy "
                                         "short-throws, all-together passes and the platform's mixed motions (traction loss "
                                         "on 2DOF, pitch/roll on 3/5DOF) for the selected time. Release aborts."));
    m_totalTimeRow = makeNamedRow(tr("Total time"), 1, 30, 5, "totalTimeRow",
                                  [](int v) { return tr("%1 min").arg(v); }, m_fullPanel);
    full->addWidget(m_totalTimeRow);
    content->addWidget(m_fullPanel);

    QVBoxLayout *haptics = makeTestPanel(m_hapticsPanel, card, 12,
                                         tr("How in-game haptics will feel: a small, fast vibration of all actuators "
                                            "around park. Pick a preset or set your own."));
    auto *presets = new QHBoxLayout;
    presets->setSpacing(8);
    haptics->addLayout(presets);
    m_amplitudeRow = makeNamedRow(tr("Amplitude"), 1, 50, 5, "amplitudeRow",
                                  [](int v) { return tr("%1 mm").arg(v / 10.0, 0, 'f', 1); }, m_hapticsPanel);
    m_frequencyRow = makeNamedRow(tr("Frequency"), 5, 80, 30, "frequencyRow",
                                  [](int v) { return tr("%1 Hz").arg(v); }, m_hapticsPanel);
    m_hapticDurationRow = makeNamedRow(tr("Duration"), 1, 30, 3, "hapticDurationRow",
                                       [](int v) { return tr("%1 s").arg(v); }, m_hapticsPanel);
    for (const MotionHapticPreset &preset : hapticPresets()) {
        auto *button = new QPushButton(tr(preset.label), m_hapticsPanel);
        button->setObjectName(QStringLiteral("preset_%1").arg(QLatin1String(preset.label)));
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, [this, preset] {
            m_amplitudeRow->setValue(preset.amplitude);
            m_frequencyRow->setValue(preset.hz);
        });
        presets->addWidget(button, 1);
    }
    for (ostra::SliderRow *row : { m_amplitudeRow, m_frequencyRow, m_hapticDurationRow })
        haptics->addWidget(row);
    content->addWidget(m_hapticsPanel);

    QVBoxLayout *free = makeTestPanel(m_freePanel, card, 10,
                                      tr("Direct actuator control \u2014 position in mm. Speed and smoothness follow "
                                         "the platform settings."));
    auto *targetRow = new QHBoxLayout;
    targetRow->setSpacing(12);
    auto *targetLabel = new QLabel(tr("Test target"), m_freePanel);
    targetLabel->setFont(ostra::uiFont(14, 500));
    targetLabel->setMinimumWidth(110);
    targetRow->addWidget(targetLabel);
    m_freeActuatorSelector = new ostra::Segmented({ tr("All") }, m_freePanel);
    m_freeActuatorSelector->setObjectName(QStringLiteral("freeActuators"));
    m_freeActuatorSelector->setMaximumHeight(44);
    connect(m_freeActuatorSelector, &ostra::Segmented::currentIndexChanged, this, [this](int i) { m_freeActuator = i - 1; });
    targetRow->addWidget(m_freeActuatorSelector, 1);
    free->addLayout(targetRow);
    m_axisRowsLayout = new QVBoxLayout;
    m_axisRowsLayout->setSpacing(10);
    free->addLayout(m_axisRowsLayout);
    content->addWidget(m_freePanel);

    m_runButton = new MotionRunButton(tr("Run test"), card);
    m_runButton->setObjectName(QStringLiteral("runButton"));
    m_runButton->setProperty("primary", true);
    m_runButton->setCursor(Qt::PointingHandCursor);
    m_runButton->setMinimumHeight(48);
    // While a test runs the button is disabled; its countdown stays readable in the secondary text colour.
    m_runButton->setStyleSheet(QStringLiteral("QPushButton { min-height: 46px; border-radius: 12px; font-size: 11pt; font-weight: 600; }"
                                              "QPushButton:disabled { color: #5B6675; }"));
    connect(m_runButton, &QPushButton::clicked, this, &MotionSystemWidget::onTestClicked);
    content->addWidget(m_runButton);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(10);
    m_homeButton = makeActionButton(tr("Auto home"), &m_homeDot, card);
    m_homeButton->setObjectName(QStringLiteral("homeButton"));
    m_homeButton->setToolTip(tr("Re-run the homing sequence (PH). The way out of FAIL after fixing the cause; safe any "
                                "time the rig is idle."));
    connect(m_homeButton, &QPushButton::clicked, m_controller, &MotionSystemController::home);
    m_calibrationButton = makeActionButton(tr("Calibration"), &m_calibrationDot, card);
    m_calibrationButton->setObjectName(QStringLiteral("calibrationButton"));
    m_calibrationButton->setToolTip(tr("Toggle the controller's calibration mode"));
    connect(m_calibrationButton, &QPushButton::clicked, m_controller, &MotionSystemController::requestCalibration);
    m_releaseButton = new QPushButton(tr("Release"), card);
    m_releaseButton->setObjectName(QStringLiteral("releaseButton"));
    m_releaseButton->setProperty("danger", true);
    m_releaseButton->setCursor(Qt::PointingHandCursor);
    m_releaseButton->setMinimumHeight(40);
    m_releaseButton->setToolTip(tr("Soft E-stop (PR): servos go slack instantly, from any state. Motion stays disabled "
                                   "until Auto home."));
    connect(m_releaseButton, &QPushButton::clicked, this, [this] {
        m_controller->release();
        ostra::showToast(this, tr("Motors released"));
    });
    for (QPushButton *button : { m_homeButton, m_calibrationButton, m_releaseButton })
        actions->addWidget(button, 1);
    content->addLayout(actions);

    m_testStatus = ostra::makeRoleLabel(QString(), "muted", card);
    m_testStatus->setObjectName(QStringLiteral("testStatus"));
    m_testStatus->setAlignment(Qt::AlignCenter);
    m_testStatus->setWordWrap(true);
    content->addWidget(m_testStatus);
    return card;
}

QPushButton *MotionSystemWidget::makeActionButton(const QString &text, ostra::Dot **dot, QWidget *parent)
{
    auto *button = new QPushButton(QStringLiteral("    ") + text, parent);
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(40);
    auto *indicator = new ostra::Dot(button, 7);
    indicator->setColor(Qt::transparent);
    indicator->move(16, 16);
    if (dot)
        *dot = indicator;
    return button;
}

void MotionSystemWidget::rebuildTestTargets()
{
    using C = MotionSystemController;
    m_targets.clear();
    if (m_platformDof == 2) {
        m_targets.append({ MotionTestSingleDof, C::Surge, C::dofName(C::Surge) });
        m_targets.append({ MotionTestSingleDof, C::Yaw, tr("Traction loss") });
    } else {
        if (m_platformDof == 5) {
            m_targets.append({ MotionTestSingleDof, C::Surge, C::dofName(C::Surge) });
            m_targets.append({ MotionTestSingleDof, C::Yaw, tr("Yaw") });
        }
        for (int dof : { C::Pitch, C::Roll, C::Heave })
            m_targets.append({ MotionTestSingleDof, dof, C::dofName(dof) });
    }
    m_targets.append({ MotionTestFree, 0, tr("Free") });
    m_targets.append({ MotionTestFullSystem, 0, tr("Full system") });
    m_targets.append({ MotionTestHaptics, 0, tr("Haptics") });

    const int kind = m_freePanel->isVisible()       ? MotionTestFree
                     : m_fullPanel->isVisible()     ? MotionTestFullSystem
                     : m_hapticsPanel->isVisible()  ? MotionTestHaptics
                                                    : MotionTestSingleDof;
    int index = 0;
    for (int i = 0; i < m_targets.size(); ++i) {
        const MotionTestTarget &target = m_targets.at(i);
        if (target.kind == kind && (kind != MotionTestSingleDof || target.dof == m_chosenDof)) {
            index = i;
            break;
        }
    }
    QStringList labels;
    for (const MotionTestTarget &target : std::as_const(m_targets))
        labels.append(target.label);
    {
        const QSignalBlocker blocker(m_targetSelector);
        m_targetSelector->setOptions(labels);
        m_targetSelector->setCurrentIndex(index, false);
    }
    onTestTargetChanged(index);
}

void MotionSystemWidget::onTestTargetChanged(int index)
{
    if (index < 0 || index >= m_targets.size())
        return;
    m_selectedTarget = index;
    const MotionTestTarget &target = m_targets.at(index);
    if (target.kind == MotionTestSingleDof)
        m_chosenDof = target.dof;
    m_freePanel->setVisible(target.kind == MotionTestFree);
    m_fullPanel->setVisible(target.kind == MotionTestFullSystem);
    m_hapticsPanel->setVisible(target.kind == MotionTestHaptics);
    m_optionsPanel->setVisible(target.kind == MotionTestSingleDof || target.kind == MotionTestFree);
    refreshRunButton();
}

void MotionSystemWidget::ensureAxisRow(int axis)
{
    if (m_axisRows.contains(axis))
        return;
    const int stroke = rangeStroke();
    MotionAxisRow row;
    row.slider = new ostra::SliderRow(tr("Actuator %1").arg(axis + 1), 5, stroke - 5, stroke / 2, m_freePanel);
    row.slider->setObjectName(QStringLiteral("axisRow%1").arg(axis + 1));
    row.slider->setFormatter([](int v) { return tr("%1 mm").arg(v); });
    row.live = new QLabel(QStringLiteral("\u2014"), row.slider);
    row.live->setFont(ostra::monoFont(12, 400));
    row.live->setStyleSheet(QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::ThemeColors::textMuted)));
    row.live->setFixedWidth(64);
    row.live->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row.live->setToolTip(tr("Live position reported by the controller"));
    if (auto *box = qobject_cast<QHBoxLayout *>(row.slider->layout()))
        box->addWidget(row.live);
    connect(row.slider, &ostra::SliderRow::valueChanged, this, [this, axis](int v) {
        const auto it = m_axisRows.find(axis);
        if (it != m_axisRows.end())
            it->lastUserMove.restart();
        m_controller->moveAxis(axis, v);
    });
    m_axisRowsLayout->addWidget(row.slider);
    const QMap<int, int> positions = m_controller->axisPositions();
    if (positions.contains(axis)) {
        const QSignalBlocker blocker(row.slider);
        row.slider->setValue(positions.value(axis));
    }
    m_axisRows.insert(axis, row);
}

void MotionSystemWidget::startRunClock(int seconds)
{
    m_runSeconds = seconds;
    m_runClock.restart();
    m_refreshTimer->start();
}

void MotionSystemWidget::onTestClicked()
{
    if (m_selectedTarget < 0 || m_selectedTarget >= m_targets.size())
        return;
    const MotionTestTarget &target = m_targets.at(m_selectedTarget);
    bool started = false;
    switch (target.kind) {
    case MotionTestFullSystem:
        started = m_controller->startFullSystemTest(m_totalTimeRow->value());
        m_runSeconds = m_totalTimeRow->value() * 60;
        break;
    case MotionTestHaptics:
        started = m_controller->vibrate(-1, m_amplitudeRow->value(), m_frequencyRow->value(), m_hapticDurationRow->value());
        m_runSeconds = m_hapticDurationRow->value();
        break;
    case MotionTestFree:
        started = m_controller->startBoardTest(m_freeActuator, m_travelRow->value(), m_speedRow->value(), m_durationRow->value());
        m_runSeconds = m_durationRow->value();
        break;
    default:
        started = m_controller->startDofTest(m_chosenDof, m_travelRow->value(), m_speedRow->value(), m_durationRow->value());
        m_runSeconds = m_durationRow->value();
        break;
    }
    if (started)
        startRunClock(m_runSeconds);
    refreshRunButton();
}

void MotionSystemWidget::refreshRunButton()
{
    const bool connected = m_controller->isConnected();
    const bool busy = m_controller->isBusy();
    const bool ready = connected && !busy && m_controller->state() == Ready;

    if (busy && m_runClock.isValid() && m_runSeconds >= 1) {
        const double elapsed = runElapsedMs() / 1000.0;
        const int remaining = std::max(0, int(std::ceil(m_runSeconds - elapsed)));
        m_runButton->setProgress(std::min(1.0, elapsed / m_runSeconds));
        m_runButton->setText(remaining < 120 ? tr("Running \u00b7 %1s").arg(remaining)
                                             : tr("Running \u00b7 %1 min").arg((remaining + 59) / 60));
    } else {
        m_runButton->setProgress(0);
        m_runButton->setText(tr("Run test"));
        if (!busy) {
            m_refreshTimer->stop();
            m_runClock.invalidate();
        }
    }
    setEnabledWithCursor(m_runButton, ready);
    m_homeButton->setEnabled(connected && !busy);
    m_calibrationButton->setEnabled(connected && !busy);
    m_releaseButton->setEnabled(connected);
    for (const MotionAxisRow &row : std::as_const(m_axisRows))
        innerSlider(row.slider)->setEnabled(ready);
    refreshMapStatus();
    refreshSleepStatus();

    QString status;
    if (!connected) {
        status = tr("Connect the controller to run tests");
    } else if (!busy) {
        status = ready ? tr("Stand clear of the platform before running a test") : tr("Waiting for the controller to be ready");
    } else {
        const bool valid = m_selectedTarget >= 0 && m_selectedTarget < m_targets.size();
        const int kind = valid ? m_targets.at(m_selectedTarget).kind : MotionTestSingleDof;
        if (kind == MotionTestFullSystem)
            status = tr("Running the full system test \u2014 Release aborts");
        else if (kind == MotionTestHaptics)
            status = tr("Running haptics: %1 mm at %2 Hz \u2014 Release aborts")
                         .arg(m_amplitudeRow->value() / 10.0, 0, 'f', 1)
                         .arg(m_frequencyRow->value());
        else
            status = tr("Running %1 at %2% travel \u2014 Release aborts")
                         .arg(valid ? m_targets.at(m_selectedTarget).label : QString())
                         .arg(m_travelRow->value());
    }
    m_testStatus->setText(status);
    refreshLiveColumns();
}

// --- Platform settings card -----------------------------------------------------------------

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
    connect(m_revertButton, &QPushButton::clicked, this, [this] {
        loadSettings(m_controller->settings());
        ostra::showToast(this, tr("Changes reverted"));
    });
    connect(m_sleepToggle, &ostra::Toggle::toggled, this, [this](bool on) {
        m_sleepAfterRow->setEnabled(on);
        refreshSaveState();
    });
    connect(m_sleepAfterRow, &ostra::SliderRow::valueChanged, this, [this] { refreshSaveState(); });
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
    m_controller->applySettings(collectSettings());
    refreshMapStatus();
    refreshSleepStatus();
    const bool connected = m_controller->isConnected();
    appendLog(connected ? tr("Settings saved & applied") : tr("Settings saved \u2014 will apply on connect"));
    ostra::showToast(this, connected ? tr("Saved to controller") : tr("Saved \u2014 applies on connect"));
    refreshSaveState();
}

void MotionSystemWidget::refreshSaveState()
{
    const MotionSystemSettings page = collectSettings();
    const MotionSystemSettings stored = m_controller->settings();
    const bool dirty = page.intensity != stored.intensity || page.travelMm != stored.travelMm
                       || page.speedPct != stored.speedPct || page.accelPct != stored.accelPct
                       || page.parkMm != stored.parkMm || page.strokeMm != stored.strokeMm
                       || page.actuatorSlots != stored.actuatorSlots || page.sleepEnabled != stored.sleepEnabled
                       || (page.sleepEnabled && page.sleepSeconds != stored.sleepSeconds);
    m_saveButton->setEnabled(dirty);
    m_revertButton->setEnabled(dirty);
    if (dirty) {
        m_saveStatus->setText(m_controller->isConnected() ? tr("Unsaved changes") : tr("Unsaved \u2014 applies on connect"));
        setStyleSheetIfChanged(m_saveStatus, QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::levelTextColor(ostra::LevelWarning))));
    } else {
        m_saveStatus->setText(tr("All changes saved"));
        setStyleSheetIfChanged(m_saveStatus, QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::ThemeColors::textMuted)));
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
