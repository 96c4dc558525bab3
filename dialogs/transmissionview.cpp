#include "dialogs/transmissionview.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <QTextCursor>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "bridge/corvanecontroller.h"
#include "bridge/elrsparametermanager.h"
#include "bridge/telemetrysensor.h"
#include "dialogs/currentpagetabwidget.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/dialogkeyboard.h"
#include "ostraui/focusring.h"
#include "ostraui/passbuilder.h"
#include "ostraui/plaintextguard.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "profiles/profilename.h"
#include "receiver/receiversettingspanel.h"

namespace corvane {

namespace {

const char SmallButtonSheet[] = "QPushButton { padding: 4px 12px; font-size: 9pt; }";
// The link card's figures, 13 pt bold, and the sensor list's, 10 pt.
constexpr double StatPx = 13 / 0.75;
constexpr double SensorPx = 10 / 0.75;
const QString NoValue = QStringLiteral("\u2014");

// Light-theme colour literal as the current theme shows it.
QColor themed(const char *lightHex)
{
    return QColor(ostra::remapColors(QString::fromLatin1(lightHex)));
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// The column of a card of the Telemetry tab and its header row: heading, stretch, then the caller's
// counters and buttons.
QHBoxLayout *addCardHeader(QVBoxLayout *layout, const QString &heading, QFrame *card)
{
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->addWidget(ostra::makeDialogHeading(heading, card));
    header->addStretch(1);
    return header;
}

double be16(const QByteArray &payload, int offset)
{
    return double(qint16(CrsfProtocol::readBe16(payload, offset)));
}

} // namespace

TransmissionView::TransmissionView(CorvaneController *controller, QWidget *parent, Tab shown)
    : QDialog(parent)
    , m_controller(controller)
    , m_manager(controller ? controller->elrsParameterManager() : nullptr)
    , m_freshColor(themed("#0F1720"))
    , m_staleColor(QColor(0x9A, 0xA4, 0xB2))
    , m_mutedColor(themed("#5B6675"))
    , m_discoveringText(tr("Discovering parameters…"))
{
    setWindowTitle(tr("Telemetry"));
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
                   & ~Qt::WindowSystemMenuHint);
    setMinimumSize(720, 620);
    resize(780, 720);

    // The retry timer exists before the build so every state rule can read it.
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(RetryDelayMs);
    connect(m_retryTimer, &QTimer::timeout, this, &TransmissionView::onRetryTimeout);
    m_applyTimer = new QTimer(this);
    m_applyTimer->setSingleShot(true);
    m_applyTimer->setInterval(ApplyRestartDelayMs);
    connect(m_applyTimer, &QTimer::timeout, this, &TransmissionView::showAppliedNotice);

    buildUi(shown);

    if (m_controller) {
        connect(m_controller, &CorvaneController::linkStatisticsUpdated, this,
                &TransmissionView::onLinkStatisticsUpdated);
        connect(m_controller, &CorvaneController::runningChanged, this, &TransmissionView::onRunningChanged);
        connect(m_controller, &CorvaneController::configModeChanged, this, &TransmissionView::onConfigModeChanged);
        // A silent transmitter is named where the tab would send the user to Start configuring.
        connect(m_controller, &CorvaneController::transmitterAnswerChanged, this, &TransmissionView::updateRfState);
        connect(m_controller, &CorvaneController::serialConnectedChanged, this,
                &TransmissionView::onSerialConnectedChanged);
        connect(m_controller, &CorvaneController::crsfFrameReceived, this, &TransmissionView::onCrsfFrameReceived);
        connect(m_controller, &CorvaneController::transmitterLineReceived, this,
                &TransmissionView::onTransmitterTextLine);
        connect(m_controller, &CorvaneController::telemetryReceived, this,
                [this](const QByteArray &data) { m_rxBytes += data.size(); });
        refreshLinkFromController();
    } else {
        updateLinkLabels(LinkStatistics());
    }
    if (m_manager) {
        connect(m_manager, &ElrsParameterManager::discoveryStarted, this, &TransmissionView::onDiscoveryStarted);
        connect(m_manager, &ElrsParameterManager::discoveryProgress, this, &TransmissionView::onDiscoveryProgress);
        connect(m_manager, &ElrsParameterManager::discoveryComplete, this, &TransmissionView::onDiscoveryComplete);
        connect(m_manager, &ElrsParameterManager::discoveryAborted, this, &TransmissionView::onDiscoveryAborted);
        connect(m_manager, &ElrsParameterManager::parameterUpdated, this, &TransmissionView::onParameterUpdated);
        connect(m_manager, &ElrsParameterManager::error, this, &TransmissionView::onManagerError);
    }

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(RefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &TransmissionView::refreshCounters);
    m_refreshTimer->start();

    updateConfigureButton();
    updateRfState();
}

TransmissionView::~TransmissionView() = default;

void TransmissionView::buildUi(Tab shown)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Scrolled content and the scroll bar stop short of the card's rounded bottom corners and
    // its right edge.
    scroll->setStyleSheet(QStringLiteral("QScrollArea { padding: 0px 4px 12px 0px; }"));
    ostra::makeScrollBody(scroll);
    // Each container goes into place while empty: moving a filled one polishes all it holds again.
    auto *content = new QWidget(scroll);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(24, 16, 24, 16);
    column->setSpacing(12);
    scroll->setWidget(content);
    outer->addWidget(scroll);

    // Last in the dialog's own layout, so that the chrome keeps it in view as the card's footer.
    auto *closeRow = new QHBoxLayout;
    closeRow->setContentsMargins(16, 0, 16, 16);
    closeRow->addStretch(1);
    m_closeButton = new QPushButton(tr("Close"), this);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    closeRow->addWidget(m_closeButton);
    outer->addLayout(closeRow);

    // The chrome moves the dialog's content into its card: moved while still empty, the tabs built
    // next are restyled nowhere but in their place.
    ostra::applyDialogChrome(this, QString());

    // As tall as the tab shown: a short tab leaves no empty card standing as tall as the longest.
    auto *tabs = new CurrentPageTabWidget(content);
    m_tabs = tabs;
    column->addWidget(m_tabs, 1);

    // The tab shown is chosen while the pages are empty: choosing it later lays out the filled
    // page once more for a dialog not yet sized.
    auto *telemetryPage = new QWidget(m_tabs);
    m_tabs->addTab(telemetryPage, tr("Telemetry"));
    auto *rfPage = new QWidget(m_tabs);
    m_tabs->addTab(rfPage, tr("RF settings"));
    m_receiverPage = new QWidget(tabs->pageParent());
    auto *receiverLayout = new QVBoxLayout(m_receiverPage);
    receiverLayout->setContentsMargins(0, 0, 0, 0);
    m_tabs->addTab(m_receiverPage, tr("Receiver"));
    m_tabs->setCurrentIndex(shown);
    auto *telemetryLayout = new QVBoxLayout(telemetryPage);
    telemetryLayout->setContentsMargins(12, 12, 12, 12);
    telemetryLayout->setSpacing(12);
    telemetryLayout->addStretch(1);

    // An opening builds the page it shows; the others follow one per pass of the event loop once
    // the dialog shows, so the channel stream runs between, or at once when turned to. The
    // telemetry page comes a card per pass and the RF tab in two, each first part named by its tab.
    m_pages = new ostra::PassBuilder(this);
    m_pages->add([this, telemetryPage] {
        addTelemetryCard(buildLinkCard(telemetryPage));
        updateLinkLabels(m_linkStats);
    });
    m_pages->add([this, rfPage] { buildRfTab(rfPage); });
    m_pages->add([this] { buildReceiverPage(); });
    const int rfRestPart = m_pages->add([this, rfPage] { finishRfTab(rfPage); });
    // The receiver's folded settings follow its page in passes of their own: Close stays after them.
    m_pages->add([this] {
        m_pages->ensure(ReceiverTab);
        m_receiverPanel->finishBuilding();
        keepFooterLastInTabOrder();
    });
    // The list is filled as it is built: filled by the refresh after the dialog shows, it would be
    // laid out again in its first paint and painted a second time.
    const int sensorsPart = m_pages->add([this, telemetryPage] {
        addTelemetryCard(buildSensorsCard(telemetryPage));
        refreshSensorList();
        updateDiscoverButton();
    });
    const int consolePart = m_pages->add([this, telemetryPage] { addTelemetryCard(buildConsoleCard(telemetryPage)); });
    m_tabParts[TelemetryTab] = {TelemetryTab, sensorsPart, consolePart};
    m_tabParts[RfSettingsTab] = {RfSettingsTab, rfRestPart};
    m_tabParts[ReceiverTab] = {ReceiverTab};
    // Nothing is on screen before the page shown is built whole: its parts take a tick's slack
    // each, the channel stream running between them rather than waiting for all.
    for (int part : std::as_const(m_tabParts[shown])) {
        ostra::TickPace::instance()->waitForTurn();
        m_pages->ensure(part);
    }
    connect(m_tabs, &QTabWidget::currentChanged, this, &TransmissionView::ensurePage);

    if (m_controller) {
        connect(m_controller, &CorvaneController::telemetrySensorsUpdated, this,
                [this] { m_sensorValuesDirty = true; });
        connect(m_controller, &CorvaneController::telemetrySensorListChanged, this, [this] {
            m_sensorValuesDirty = true;
            m_sensorListDirty = true;
            updateDiscoverButton();
        });
        connect(m_controller, &CorvaneController::runningChanged, this, &TransmissionView::updateWifiButtons);
        connect(m_controller, &CorvaneController::serialConnectedChanged, this, &TransmissionView::updateWifiButtons);
        connect(m_controller, &CorvaneController::transmitterAnswerChanged, this, &TransmissionView::updateWifiButtons);
        connect(m_controller, &CorvaneController::elrsWifiModeSent, this, [this](bool receiver) {
            updateWifiButtons();
            showWifiSentNotice(receiver);
        });
    }
}

void TransmissionView::finishBuilding()
{
    m_pages->finish();
}

bool TransmissionView::isPageBuilt(Tab tab) const
{
    const QList<int> &parts = m_tabParts[tab];
    return std::all_of(parts.cbegin(), parts.cend(), [this](int part) { return m_pages->isBuilt(part); });
}

void TransmissionView::ensurePage(int tab)
{
    for (int part : std::as_const(m_tabParts[tab]))
        m_pages->ensure(part);
}

void TransmissionView::addTelemetryCard(QWidget *card)
{
    // Above the page's closing stretch, after the cards made before.
    auto *layout = static_cast<QVBoxLayout *>(card->parentWidget()->layout());
    layout->insertWidget(layout->count() - 1, card);
    keepFooterLastInTabOrder();
    ostra::polishNow(card);
}

void TransmissionView::keepFooterLastInTabOrder()
{
    // Tab reaches "Close" and the chrome's own controls after the pages, made after them or not.
    ostra::keepFooterLastInTabOrder(this, m_tabs, m_closeButton);
}

void TransmissionView::buildReceiverPage()
{
    m_receiverPanel = new ReceiverSettingsPanel(m_controller, m_receiverPage);
    m_receiverPage->layout()->addWidget(m_receiverPanel);
    // On a page already on screen now, not a pass later; otherwise with the page (shown before
    // the dialog, a page is laid out for a size it does not have yet).
    if (m_receiverPage->isVisible())
        m_receiverPanel->show();
    keepFooterLastInTabOrder();
}

// --- link status ---------------------------------------------------------------------------

QWidget *TransmissionView::buildLinkCard(QWidget *page)
{
    QFrame *card = ostra::makeDialogCard(page);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);
    layout->addWidget(ostra::makeDialogHeading(tr("Link status"), card));

    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(8);
    addStatCell(grid, 0, 0, tr("RSSI 1 (dBm)"), &m_rssi1);
    addStatCell(grid, 0, 1, tr("RSSI 2 (dBm)"), &m_rssi2);
    addStatCell(grid, 0, 2, tr("Link Quality"), &m_linkQuality);
    addStatCell(grid, 1, 0, tr("SNR (dB)"), &m_snr);
    addStatCell(grid, 1, 1, tr("TX Power"), &m_txPower);
    addStatCell(grid, 1, 2, tr("RF Mode"), &m_rfMode);
    layout->addLayout(grid);

    m_linkHint = new QLabel(tr("Link status appears when connected to a receiver."), card);
    m_linkHint->setWordWrap(true);
    m_linkHint->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt; padding: 2px 0;"));
    layout->addWidget(m_linkHint);
    return card;
}

void TransmissionView::addStatCell(QGridLayout *grid, int row, int column, const QString &caption, QLabel **value)
{
    QWidget *owner = grid->parentWidget();
    auto *captionLabel = new QLabel(caption, owner);
    captionLabel->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt; letter-spacing: 0.5px;"));
    *value = new QLabel(owner);
    (*value)->setStyleSheet(QStringLiteral("color: #0F1720;"));
    ostra::setReadoutText(*value, NoValue, StatPx, 700);
    grid->addWidget(captionLabel, 2 * row, column);
    grid->addWidget(*value, 2 * row + 1, column);
}

void TransmissionView::onLinkStatisticsUpdated(const LinkStatistics &stats)
{
    m_linkSeen = true;
    updateLinkLabels(stats);
}

void TransmissionView::refreshLinkFromController()
{
    if (!m_controller)
        return;
    m_linkSeen = m_controller->hasLinkStatistics();
    updateLinkLabels(m_controller->linkStatistics());
}

void TransmissionView::updateLinkLabels(const LinkStatistics &stats)
{
    // Kept for a card not built yet, which shows them once it is.
    m_linkStats = stats;
    if (!m_rssi1)
        return;
    const QString power = txPowerText();
    const auto show = [](QLabel *label, const QString &text) { ostra::setReadoutText(label, text, StatPx, 700); };
    if (!m_linkSeen) {
        for (QLabel *label : {m_rssi1, m_rssi2, m_linkQuality, m_snr, m_rfMode})
            show(label, NoValue);
        show(m_txPower, power.isEmpty() ? NoValue : power);
        m_linkHint->show();
        return;
    }
    m_linkHint->hide();
    const auto rssi = [](qint32 value) { return value == 0 ? NoValue : QString::number(value); };
    show(m_rssi1, rssi(stats.uplinkRssi1));
    show(m_rssi2, rssi(stats.uplinkRssi2));
    show(m_linkQuality, QStringLiteral("%1%").arg(qMin<int>(stats.linkQuality, 100)));
    show(m_snr, QString::number(stats.snr));
    show(m_txPower, power.isEmpty() ? QString::number(stats.txPower) : power);
    show(m_rfMode, QString::number(stats.rfMode));
}

// --- counters tick -------------------------------------------------------------------------

void TransmissionView::refreshCounters()
{
    if (m_framesDirty && m_framesLabel) {
        m_framesLabel->setText(tr("%1 frames").arg(m_frameCount));
        m_framesDirty = false;
    }
    // Written only when the count moved: the tick shares the thread with the 7 ms transmit loop.
    if (m_rxLabel && m_rxShown != m_rxBytes) {
        m_rxLabel->setText(tr("RX %1 B").arg(m_rxBytes));
        m_rxShown = m_rxBytes;
    }
    refreshSensorList();
    if (!m_pendingLines.isEmpty() && m_console) {
        appendToConsole(m_pendingLines.join(QLatin1Char('\n')));
        m_pendingLines.clear();
    }
}

// --- sensors -------------------------------------------------------------------------------

QWidget *TransmissionView::buildSensorsCard(QWidget *page)
{
    QFrame *card = ostra::makeDialogCard(page);
    auto *layout = new QVBoxLayout(card);
    QHBoxLayout *header = addCardHeader(layout, tr("Discovered sensors"), card);
    m_sensorCount = new QLabel(tr("%1 sensors").arg(0), card);
    m_sensorCount->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt;"));
    header->addWidget(m_sensorCount);
    m_discoverButton = new QPushButton(tr("Discover new"), card);
    m_discoverButton->setCheckable(true);
    m_discoverButton->setStyleSheet(QLatin1String(SmallButtonSheet));
    m_discoverButton->setToolTip(tr("Add sensors the car sends that are not in the list yet"));
    connect(m_discoverButton, &QPushButton::toggled, this, [this](bool checked) {
        if (m_controller)
            m_controller->setTelemetryDiscover(checked);
    });
    header->addWidget(m_discoverButton);
    auto *deleteAll = new QPushButton(tr("Delete all"), card);
    deleteAll->setStyleSheet(QLatin1String(SmallButtonSheet));
    deleteAll->setToolTip(tr("Remove every sensor; they come back as they are discovered again"));
    connect(deleteAll, &QPushButton::clicked, this, &TransmissionView::deleteAllSensors);
    header->addWidget(deleteAll);
    layout->addLayout(header);

    m_sensorList = new QTreeWidget(card);
    m_sensorList->setColumnCount(2);
    m_sensorList->setHeaderLabels({tr("Sensor"), tr("Value")});
    m_sensorList->setRootIsDecorated(false);
    m_sensorList->setUniformRowHeights(true);
    m_sensorList->setSelectionMode(QAbstractItemView::NoSelection);
    m_sensorList->setMinimumHeight(170);
    m_sensorList->setMaximumHeight(280);
    m_sensorList->header()->setStretchLastSection(false);
    m_sensorList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_sensorList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_sensorList->setStyleSheet(QStringLiteral(
        "QTreeWidget {  background: #F3F5F8; color: #0F1720;  border: 1px solid #E6EAF0; border-radius: 6px;"
        "  font-family: 'Geist Mono'; font-size: 10pt;}QTreeWidget::item { padding: 3px 4px; }"
        "QHeaderView::section { background: #F7F9FB; color: #5B6675; border: none;"
        "  border-bottom: 1px solid #E6EAF0; padding: 4px 6px; font-size: 9pt; }"));
    m_sensorList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_sensorList, &QTreeWidget::itemChanged, this, &TransmissionView::onSensorItemChanged);
    connect(m_sensorList, &QTreeWidget::customContextMenuRequested, this, &TransmissionView::showSensorMenu);
    connect(m_sensorList, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item) { renameSensor(item->data(0, Qt::UserRole).toString()); });
    layout->addWidget(m_sensorList);

    auto *hint = new QLabel(tr("Tick a sensor to pin it to the Telemetry card on the main page. The list is saved "
                               "with the profile, so it is there next time; a sensor with no update for 2 s is "
                               "greyed.")
                                + QLatin1Char('\n')
                                + tr("Right-click a sensor to rename or delete it. While Discovering, new sensors "
                                     "appear as telemetry arrives."),
                            card);
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt;"));
    layout->addWidget(hint);
    return card;
}

void TransmissionView::updateDiscoverButton()
{
    if (!m_discoverButton)
        return;
    const bool on = m_controller && m_controller->telemetryDiscoverEnabled();
    const QSignalBlocker block(m_discoverButton);
    m_discoverButton->setChecked(on);
    m_discoverButton->setText(on ? tr("Discovering") : tr("Discover new"));
}

void TransmissionView::refreshSensorList()
{
    if (!m_sensorList || !m_controller || (!m_sensorValuesDirty && !m_sensorListDirty))
        return;
    m_sensorValuesDirty = false;
    const QStringList pinned = m_controller->telemetryDashboard();
    const QList<TelemetrySensor> sensors = m_controller->telemetrySensors();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();

    m_rebuildingSensors = true;
    if (m_sensorListDirty) {
        m_sensorListDirty = false;
        m_sensorList->clear();
        m_sensorItems.clear();
        for (const TelemetrySensor &sensor : sensors) {
            auto *item = new QTreeWidgetItem(m_sensorList);
            item->setData(0, Qt::UserRole, sensor.id);
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, pinned.contains(sensor.id) ? Qt::Checked : Qt::Unchecked);
            item->setToolTip(0, ostra::plainToolTip(
                                    sensor.name.isEmpty()
                                        ? tr("Tick to show this sensor on the main page. Right-click to rename or delete.")
                                        : tr("%1 (renamed). Right-click to rename or delete.")
                                              .arg(ostra::isolatedText(sensor.label))));
            m_sensorItems.insert(sensor.id, item);
        }
    }
    for (const TelemetrySensor &sensor : sensors) {
        QTreeWidgetItem *item = m_sensorItems.value(sensor.id);
        if (!item)
            continue;
        const QString name = sensor.name.isEmpty() ? sensor.label : sensor.name;
        if (item->text(0) != name)
            item->setText(0, name);
        const QString value = sensor.value.isEmpty() ? NoValue : sensor.value;
        if (item->text(1) != value) {
            item->setText(1, value);
            item->setFont(1, ostra::readoutFont(value, SensorPx, 400));
        }
        const QColor &color = isSensorStale(sensor.lastUpdateMs, now) ? m_staleColor : m_freshColor;
        if (item->foreground(0).color() != color) {
            item->setForeground(0, color);
            item->setForeground(1, color);
        }
    }
    m_rebuildingSensors = false;
    m_sensorCount->setText(tr("%1 sensors").arg(m_sensorItems.size()));
}

bool TransmissionView::isSensorStale(qint64 lastUpdateMs, qint64 nowMs)
{
    return lastUpdateMs == 0 || nowMs - lastUpdateMs > SensorStaleMs;
}

void TransmissionView::onSensorItemChanged(QTreeWidgetItem *, int column)
{
    if (column != 0 || m_rebuildingSensors || !m_controller)
        return;
    QStringList ticked;
    QSet<QString> listed;
    for (int i = 0; i < m_sensorList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_sensorList->topLevelItem(i);
        const QString id = item->data(0, Qt::UserRole).toString();
        listed.insert(id);
        if (item->checkState(0) == Qt::Checked)
            ticked.append(id);
    }
    // Pins of sensors without a row (not seen yet, or after "Delete all") stay pinned.
    const QStringList previous = m_controller->telemetryDashboard();
    for (const QString &id : previous) {
        if (!listed.contains(id) && !ticked.contains(id))
            ticked.append(id);
    }
    m_controller->setTelemetryDashboard(ticked);
}

void TransmissionView::showSensorMenu(const QPoint &pos)
{
    QTreeWidgetItem *item = m_sensorList->itemAt(pos);
    if (!item || !m_controller)
        return;
    const QString id = item->data(0, Qt::UserRole).toString();
    QMenu menu(this);
    QAction *rename = menu.addAction(tr("Rename…"));
    QAction *remove = menu.addAction(tr("Delete"));
    QPointer<TransmissionView> alive(this);
    QAction *chosen = menu.exec(m_sensorList->viewport()->mapToGlobal(pos));
    if (!alive || !chosen)
        return;
    if (chosen == rename)
        renameSensor(id);
    else if (chosen == remove)
        m_controller->removeTelemetrySensor(id);
}

void TransmissionView::renameSensor(const QString &id)
{
    if (!m_controller)
        return;
    const TelemetrySensor sensor = m_controller->findTelemetrySensor(id);
    if (sensor.id.isEmpty())
        return;
    QPointer<TransmissionView> alive(this);
    QString entered = sensor.name.isEmpty() ? sensor.label : sensor.name;
    for (;;) {
        QPointer<QInputDialog> dialog = new QInputDialog(this);
        dialog->setWindowTitle(tr("Rename sensor"));
        dialog->setLabelText(tr("Name for %1 (leave empty for the default):").arg(ostra::isolatedText(sensor.label)));
        dialog->setInputMode(QInputDialog::TextInput);
        // A longer name would make the profile one that the API's import refuses.
        dialog->findChild<QLineEdit *>()->setMaxLength(ProfileName::MaxLength);
        dialog->setTextValue(entered);
        const bool ok = dialog->exec() == QDialog::Accepted;
        // The dialog goes with the view when the view is closed while it is open.
        if (!alive || !dialog)
            return;
        entered = dialog->textValue();
        delete dialog;
        if (!ok)
            return;
        const QString name = entered.trimmed() == sensor.label ? QString() : entered;
        const QString refusal = m_controller->telemetrySensorNameRefusal(id, name);
        if (refusal.isEmpty()) {
            m_controller->renameTelemetrySensor(id, name);
            return;
        }
        // Asked again with what was typed, so a refused name can be mended rather than retyped.
        QMessageBox::warning(this, tr("Rename sensor"), refusal);
        if (!alive)
            return;
    }
}

void TransmissionView::deleteAllSensors()
{
    if (!m_controller || m_controller->telemetrySensors().isEmpty())
        return;
    QPointer<TransmissionView> alive(this);
    const auto answer = QMessageBox::question(
        this, tr("Delete all sensors"),
        tr("Remove every sensor from this car's list? They come back as they are discovered again (Discover new)."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (alive && answer == QMessageBox::Yes)
        m_controller->clearTelemetrySensors();
}

// --- raw console ---------------------------------------------------------------------------

QWidget *TransmissionView::buildConsoleCard(QWidget *page)
{
    QFrame *card = ostra::makeDialogCard(page);
    auto *layout = new QVBoxLayout(card);
    QHBoxLayout *header = addCardHeader(layout, tr("Receiver telemetry (raw)"), card);
    m_rxLabel = new QLabel(tr("RX %1 B").arg(0), card);
    // Only the label: its tool tip keeps the theme's colours.
    m_rxLabel->setStyleSheet(QStringLiteral("QLabel { color: #0B7FD0; font-size: 9pt; font-family: 'Geist Mono'; }"));
    m_rxLabel->setToolTip(
        tr("Total raw bytes received from the transmitter. If this stays 0, nothing is coming back at all."));
    m_rxShown = 0;
    header->addWidget(m_rxLabel);
    m_framesLabel = new QLabel(tr("%1 frames").arg(0), card);
    m_framesLabel->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt;"));
    header->addWidget(m_framesLabel);
    m_pauseButton = new QPushButton(tr("Pause"), card);
    m_pauseButton->setCheckable(true);
    m_pauseButton->setStyleSheet(QLatin1String(SmallButtonSheet)
                                 + QStringLiteral("QPushButton:checked { background: #FDF1DC; }"));
    connect(m_pauseButton, &QPushButton::toggled, this,
            [this](bool checked) { m_pauseButton->setText(checked ? tr("Resume") : tr("Pause")); });
    header->addWidget(m_pauseButton);
    auto *clear = new QPushButton(tr("Clear"), card);
    clear->setStyleSheet(QLatin1String(SmallButtonSheet));
    connect(clear, &QPushButton::clicked, this, &TransmissionView::clearConsole);
    header->addWidget(clear);
    layout->addLayout(header);

    m_console = new QPlainTextEdit(card);
    m_console->setReadOnly(true);
    m_console->setMaximumBlockCount(MaxConsoleLines);
    m_console->setMinimumHeight(140);
    m_console->setMaximumHeight(220);
    m_console->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Ink, not the secondary grey: Qt draws the empty console's hint in the text colour at half
    // strength, and only ink keeps it readable (3:1) on the console's grey.
    m_console->setStyleSheet(QStringLiteral("QPlainTextEdit {  background: #F3F5F8; color: #0F1720;"
                                            "  border: 1px solid #E6EAF0; border-radius: 6px;"
                                            "  font-family: 'Geist Mono'; font-size: 9pt;}"));
    m_console->setPlaceholderText(
        tr("Telemetry frames from the receiver appear here (battery, attitude, GPS, link stats)."));
    layout->addWidget(m_console);

    auto *commandRow = new QHBoxLayout;
    commandRow->setContentsMargins(0, 0, 0, 0);
    commandRow->setSpacing(8);
    m_commandLine = new QLineEdit(card);
    m_commandLine->setPlaceholderText(tr("Type a command (e.g. HELP, STATUS, TELEM 1) and press Enter"));
    m_commandLine->setStyleSheet(QStringLiteral("QLineEdit {  background: #F3F5F8; color: #0F1720;"
                                                "  border: 1px solid #E6EAF0; border-radius: 4px;"
                                                "  padding: 6px 8px; font-family: 'Geist Mono'; font-size: 9pt;}"));
    commandRow->addWidget(m_commandLine, 1);
    auto *send = new QPushButton(tr("Send"), card);
    send->setStyleSheet(QStringLiteral("QPushButton { padding: 6px 16px; font-size: 9pt; }"));
    connect(m_commandLine, &QLineEdit::returnPressed, this, &TransmissionView::sendConsoleCommand);
    connect(send, &QPushButton::clicked, this, &TransmissionView::sendConsoleCommand);
    commandRow->addWidget(send);
    layout->addLayout(commandRow);
    card->show();
    return card;
}

void TransmissionView::clearConsole()
{
    m_console->clear();
    m_pendingLines.clear();
    m_frameCount = 0;
    m_framesDirty = false;
    m_framesLabel->setText(tr("%1 frames").arg(0));
}

QString TransmissionView::frameTypeName(quint8 frameType)
{
    switch (frameType) {
    case 0x02: return QStringLiteral("GPS");
    case 0x07: return QStringLiteral("VARIO");
    case 0x08: return QStringLiteral("MOTION");
    case 0x09: return QStringLiteral("BARO_ALT");
    case 0x14: return QStringLiteral("LINK_STATS");
    case 0x1E: return QStringLiteral("ATTITUDE");
    case 0x21: return QStringLiteral("FLIGHT_MODE");
    case 0x23: return QStringLiteral("QOR_MOTION");
    default: return QStringLiteral("UNKNOWN");
    }
}

QString TransmissionView::frameSummary(quint8 frameType, const QByteArray &payload)
{
    const qsizetype size = payload.size();
    switch (frameType) {
    case 0x08:
        if (size < 6)
            return QString();
        // The console reads 0x08 in the car's motion layout, whatever the codec makes of it.
        return QStringLiteral("latA %1 m/s²  yaw %2 rad/s  jerk %3  I %4 A")
            .arg(fixed(be16(payload, 0) / 100.0, 2), fixed(be16(payload, 2) / 100.0, 2),
                 fixed(be16(payload, 4) / 10.0, 1),
                 fixed(size >= 8 ? quint8(payload.at(7)) / 10.0 : 0.0, 1));
    case 0x14: {
        if (size < 10)
            return QString();
        const LinkStatistics stats = CrsfProtocol::parseLinkStatistics(payload);
        return QStringLiteral("RSSI %1 dBm  LQ %2%  SNR %3 dB")
            .arg(stats.uplinkRssi1)
            .arg(int(stats.linkQuality))
            .arg(int(stats.snr));
    }
    case 0x1E: {
        if (size < 6)
            return QString();
        const auto degrees = [&payload](int offset) { return fixed(be16(payload, offset) / 10000.0 * 57.29577951308232, 1); };
        return QStringLiteral("pitch %1°  roll %2°  yaw %3°").arg(degrees(0), degrees(2), degrees(4));
    }
    case 0x23: {
        if (size < 7)
            return QString();
        const GForceSample sample = CrsfProtocol::parseGForceFrame(payload);
        return QStringLiteral("seq %1  lon %2 g  lat %3 g  vert %4 g")
            .arg(QString::number(sample.sequence), fixed(sample.x, 2), fixed(sample.y, 2), fixed(sample.z, 2));
    }
    default:
        return QString();
    }
}

void TransmissionView::onCrsfFrameReceived(quint8 frameType, const QByteArray &payload)
{
    switch (frameType) {
    case 0x02: case 0x07: case 0x08: case 0x09: case 0x14: case 0x1E: case 0x21: case 0x23:
        break;
    default:
        return;
    }
    ++m_frameCount;
    m_framesDirty = true;
    if (m_pauseButton && m_pauseButton->isChecked())
        return;
    QString line = QStringLiteral("%1  %2 (0x%3)  [%4]  %5")
                       .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")))
                       .arg(frameTypeName(frameType), -11)
                       .arg(uint(frameType), 2, 16, QLatin1Char('0'))
                       .arg(payload.size(), 2)
                       .arg(QString::fromLatin1(payload.toHex(' ').toUpper()));
    const QString summary = frameSummary(frameType, payload);
    if (!summary.isEmpty())
        line += QStringLiteral("   |  ") + summary;
    queueConsoleLine(line);
}

void TransmissionView::onTransmitterTextLine(const QString &line)
{
    const QString text = line.trimmed();
    if (!text.isEmpty())
        queueConsoleLine(text);
}

void TransmissionView::queueConsoleLine(const QString &line)
{
    m_pendingLines.append(line);
    if (m_pendingLines.size() > MaxConsoleLines)
        m_pendingLines.remove(0, m_pendingLines.size() - MaxConsoleLines);
}

void TransmissionView::appendToConsole(const QString &text)
{
    m_console->appendPlainText(text);
    // The cursor at the start of the last line: the console shows the bottom, and lines (which
    // start with the time) from their beginning.
    QTextCursor cursor = m_console->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    m_console->setTextCursor(cursor);
    m_console->horizontalScrollBar()->setValue(0);
    m_console->verticalScrollBar()->setValue(m_console->verticalScrollBar()->maximum());
}

void TransmissionView::sendConsoleCommand()
{
    if (!m_commandLine)
        return;
    const QString command = m_commandLine->text().trimmed();
    if (command.isEmpty())
        return;
    qlonglong written = -1;
    if (m_controller)
        written = m_controller->serialWrite((command + QLatin1Char('\n')).toUtf8());
    const QString status = written >= 0 ? tr("sent %1 bytes").arg(written)
                                        : tr("write FAILED — transmitter not connected");
    appendToConsole(QStringLiteral("> %1   [%2]").arg(command, status));
    m_commandLine->clear();
}

} // namespace corvane
