#include "dialogs/transmissionview.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

#include "bridge/corvanecontroller.h"
#include "bridge/elrsparametermanager.h"
#include "ostraui/dialogcards.h"
#include "ostraui/passbuilder.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"

namespace corvane {

namespace {

const char BannerSheet[] = "QFrame#%1 { background: #FDF1DC; border: none; border-radius: 12px; }"
                           "QLabel { color: #B06F00; font-weight: 500; }";
const char UnsavedSheet[] = "color: #B06F00; font-size: 9pt;";
const char PendingSheet[] = "color: #5B6675; font-size: 9pt;";
const char FailedSheet[] = "color: #E5262B; font-size: 9pt;";
const char DiscoveringSheet[] = "color: #0F1720; font-size: 10pt; padding: 4px 0;";

QFrame *makeBanner(const QString &name, QWidget *parent, QLabel **label)
{
    auto *banner = new QFrame(parent);
    banner->setObjectName(name);
    banner->setStyleSheet(QString::fromLatin1(BannerSheet).arg(name));
    auto *layout = new QHBoxLayout(banner);
    layout->setContentsMargins(12, 8, 12, 8);
    *label = new QLabel(banner);
    (*label)->setWordWrap(true);
    (*label)->setAlignment(Qt::AlignCenter);
    layout->addWidget(*label);
    banner->hide();
    return banner;
}

// Selects the item with this data without announcing it as the user's choice.
void selectData(QComboBox *combo, int value)
{
    const int index = combo->findData(value);
    if (index < 0)
        return;
    const QSignalBlocker block(combo);
    combo->setCurrentIndex(index);
}

} // namespace

const QList<TransmissionView::ManualRfSetting> &TransmissionView::manualOptionTables()
{
    static const QList<ManualRfSetting> table = {
        {1, tr("Packet Rate"),
         {QStringLiteral("50Hz"), QStringLiteral("100Hz Full"), QStringLiteral("150Hz"), QStringLiteral("250Hz"),
          QStringLiteral("333Hz Full"), QStringLiteral("500Hz"), QStringLiteral("D250"), QStringLiteral("D500"),
          QStringLiteral("F500"), QStringLiteral("F1000")},
         3},
        {2, tr("Telem Ratio"),
         {QStringLiteral("Std"), QStringLiteral("Off"), QStringLiteral("1:128"), QStringLiteral("1:64"),
          QStringLiteral("1:32"), QStringLiteral("1:16"), QStringLiteral("1:8"), QStringLiteral("1:4"),
          QStringLiteral("1:2"), QStringLiteral("Race")},
         0},
        {3, tr("Switch Mode"), {QStringLiteral("Wide"), QStringLiteral("Hybrid")}, 0},
        {6, tr("Max Power"),
         {QStringLiteral("25mW"), QStringLiteral("50mW"), QStringLiteral("100mW"), QStringLiteral("250mW"),
          QStringLiteral("500mW"), QStringLiteral("1000mW")},
         1},
        {7, tr("Dynamic"),
         {QStringLiteral("Off"), QStringLiteral("Dyn"), QStringLiteral("AUX9"), QStringLiteral("AUX10"),
          QStringLiteral("AUX11"), QStringLiteral("AUX12")},
         0},
    };
    return table;
}

// --- layout --------------------------------------------------------------------------------

void TransmissionView::buildRfTab(QWidget *pageWidget)
{
    auto *page = new QVBoxLayout(pageWidget);
    page->setContentsMargins(12, 12, 12, 12);
    page->setSpacing(12);
    auto *configureRow = new QHBoxLayout;
    configureRow->setContentsMargins(0, 0, 0, 0);
    configureRow->addStretch(1);
    m_configureButton = new QPushButton(tr("Start configuring"), pageWidget);
    m_configureButton->setObjectName(QStringLiteral("configureButton"));
    m_configureButton->setProperty("primary", true);
    m_configureButton->setProperty("big", true);
    m_configureButton->setMinimumWidth(240);
    m_configureButton->setCursor(Qt::PointingHandCursor);
    connect(m_configureButton, &QPushButton::clicked, this, &TransmissionView::onConfigureClicked);
    configureRow->addWidget(m_configureButton);
    configureRow->addStretch(1);
    page->addLayout(configureRow);

    QFrame *card = ostra::makeDialogCard(pageWidget);
    m_rfCard = card;
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);
    layout->addWidget(ostra::makeDialogHeading(tr("RF settings"), card));

    m_stateBanner = makeBanner(QStringLiteral("stateBanner"), card, &m_stateLabel);
    layout->addWidget(m_stateBanner);

    m_errorBanner = new QFrame(card);
    m_errorBanner->setObjectName(QStringLiteral("errorBanner"));
    m_errorBanner->setStyleSheet(
        QStringLiteral("QFrame#errorBanner { background: #FDE8E8; border: none; border-radius: 12px; }"
                       "QLabel { color: #C81F24; font-weight: 500; }"));
    auto *errorLayout = new QHBoxLayout(m_errorBanner);
    errorLayout->setContentsMargins(12, 8, 12, 8);
    errorLayout->setSpacing(12);
    m_errorLabel = new QLabel(m_errorBanner);
    m_errorLabel->setWordWrap(true);
    errorLayout->addWidget(m_errorLabel, 1);
    m_retryButton = new QPushButton(tr("Retry"), m_errorBanner);
    m_retryButton->setProperty("danger", true);
    connect(m_retryButton, &QPushButton::clicked, this, &TransmissionView::onRetryClicked);
    errorLayout->addWidget(m_retryButton);
    m_errorBanner->hide();
    layout->addWidget(m_errorBanner);

    m_discoveringLabel = new QLabel(m_discoveringText, card);
    m_discoveringLabel->setStyleSheet(QLatin1String(DiscoveringSheet));
    m_discoveringLabel->setAlignment(Qt::AlignCenter);
    m_discoveringLabel->hide();
    layout->addWidget(m_discoveringLabel);

    m_useManualButton = new QPushButton(tr("Use manual settings"), card);
    m_useManualButton->setCursor(Qt::PointingHandCursor);
    m_useManualButton->setProperty("link", true);
    connect(m_useManualButton, &QPushButton::clicked, this, &TransmissionView::onUseManualClicked);
    m_useManualButton->hide();
    layout->addWidget(m_useManualButton, 0, Qt::AlignHCenter);

    buildManualPanel(card);
    layout->addWidget(m_manualPanel);
    page->addWidget(card, 1);
    keepFooterLastInTabOrder();
    ostra::polishNow(pageWidget);
}

void TransmissionView::finishRfTab(QWidget *pageWidget)
{
    auto *page = static_cast<QVBoxLayout *>(pageWidget->layout());
    QFrame *card = m_rfCard;
    auto *layout = static_cast<QVBoxLayout *>(card->layout());
    m_parameterTree = new QTreeWidget(card);
    m_parameterTree->setColumnCount(2);
    m_parameterTree->setHeaderLabels({tr("Setting"), tr("Value")});
    m_parameterTree->setRootIsDecorated(true);
    m_parameterTree->setUniformRowHeights(false);
    m_parameterTree->setSelectionMode(QAbstractItemView::NoSelection);
    m_parameterTree->setFocusPolicy(Qt::NoFocus);
    m_parameterTree->setMinimumHeight(280);
    m_parameterTree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_parameterTree->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_parameterTree->header()->setStretchLastSection(true);
    layout->addWidget(m_parameterTree, 1);

    m_applyBar = new QFrame(card);
    m_applyBar->setObjectName(QStringLiteral("applyBar"));
    m_applyBar->setStyleSheet(QString::fromLatin1(BannerSheet).arg(QStringLiteral("applyBar")));
    auto *applyLayout = new QHBoxLayout(m_applyBar);
    applyLayout->setContentsMargins(12, 8, 12, 8);
    applyLayout->setSpacing(10);
    m_unsavedLabel = new QLabel(m_applyBar);
    applyLayout->addWidget(m_unsavedLabel, 1);
    m_discardButton = new QPushButton(tr("Discard"), m_applyBar);
    m_discardButton->setProperty("small", true);
    connect(m_discardButton, &QPushButton::clicked, this, &TransmissionView::discardChanges);
    applyLayout->addWidget(m_discardButton);
    m_applyButton = new QPushButton(tr("Apply && restart"), m_applyBar);
    m_applyButton->setProperty("primary", true);
    m_applyButton->setProperty("small", true);
    connect(m_applyButton, &QPushButton::clicked, this, &TransmissionView::applyChanges);
    applyLayout->addWidget(m_applyButton);
    m_applyBar->hide();
    layout->addWidget(m_applyBar);

    m_appliedNotice = new QLabel(tr("✓ Configuration applied"), card);
    m_appliedNotice->setStyleSheet(QStringLiteral("color: #12A66A; font-weight: bold; padding: 6px 2px;"));
    m_appliedNotice->hide();
    layout->addWidget(m_appliedNotice);
    layout->addStretch(1);

    page->addWidget(buildWifiCard(pageWidget));
    // The free height goes below the cards while the card has no parameter tree to give it to.
    page->addStretch();

    // What came while the page was not built yet.
    if (m_manager && m_manager->state() == ElrsParameterManager::Ready)
        rebuildParameterTree();
    updateConfigureButton();
    updateRfState();
    updateWifiButtons();
    keepFooterLastInTabOrder();
    ostra::polishNow(pageWidget);
}

QWidget *TransmissionView::buildWifiCard(QWidget *page)
{
    QFrame *card = ostra::makeDialogCard(page);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(8);
    layout->addWidget(ostra::makeDialogHeading(tr("WiFi update mode"), card));
    auto *text = new QLabel(tr("For ExpressLRS firmware updates. Power-cycle the device afterwards to drive again."),
                            card);
    text->setProperty("role", QStringLiteral("muted"));
    text->setWordWrap(true);
    layout->addWidget(text);
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    auto *transmitter = new QPushButton(tr("QOR Transmitter"), card);
    auto *receiver = new QPushButton(tr("QOR Receiver"), card);
    connect(transmitter, &QPushButton::clicked, this, [this] { enterWifiUpdateMode(false); });
    connect(receiver, &QPushButton::clicked, this, [this] { enterWifiUpdateMode(true); });
    row->addWidget(transmitter);
    row->addWidget(receiver);
    row->addStretch(1);
    layout->addLayout(row);
    m_wifiButtons = {transmitter, receiver};
    return card;
}

void TransmissionView::buildManualPanel(QWidget *card)
{
    m_manualPanel = new QFrame(card);
    m_manualPanel->setObjectName(QStringLiteral("manualPanel"));
    m_manualPanel->setStyleSheet(QStringLiteral("QFrame#manualPanel { background: transparent; }"));
    auto *layout = new QVBoxLayout(m_manualPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    QLabel *bannerLabel = nullptr;
    m_manualBanner = makeBanner(QStringLiteral("manualBanner"), m_manualPanel, &bannerLabel);
    bannerLabel->setText(tr("Manual mode — settings can't be read back on this transmitter. Values shown are "
                            "defaults; changes are sent blind."));
    m_manualBanner->show();
    layout->addWidget(m_manualBanner);

    auto *grid = new QGridLayout;
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    const QList<ManualRfSetting> &table = manualOptionTables();
    for (int r = 0; r < table.size(); ++r) {
        const ManualRfSetting &setting = table.at(r);
        auto *label = new QLabel(setting.label, m_manualPanel);
        label->setStyleSheet(QStringLiteral("color: #0F1720; font-size: 10pt;"));
        auto *combo = new QComboBox(m_manualPanel);
        for (int i = 0; i < setting.options.size(); ++i)
            combo->addItem(setting.options.at(i), i);
        if (setting.defaultIndex >= 0 && setting.defaultIndex < combo->count())
            combo->setCurrentIndex(setting.defaultIndex);
        auto *status = new QLabel(m_manualPanel);
        status->setMinimumWidth(56);
        status->hide();
        const quint8 field = setting.fieldId;
        connect(combo, &QComboBox::currentIndexChanged, this,
                [this, combo, field](int index) { stageManualOption(field, combo->itemData(index).toInt()); });
        grid->addWidget(label, r, 0);
        grid->addWidget(combo, r, 1);
        grid->addWidget(status, r, 2);
        m_manualRows.append({field, combo, status, setting.defaultIndex});
    }
    layout->addLayout(grid);

    m_manualHint = new QLabel(m_manualPanel);
    m_manualHint->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt; padding: 4px 0;"));
    m_manualHint->setAlignment(Qt::AlignCenter);
    m_manualHint->setWordWrap(true);
    m_manualHint->hide();
    layout->addWidget(m_manualHint);
    m_manualPanel->hide();
}

// --- state ---------------------------------------------------------------------------------

void TransmissionView::showRfSettingsTab()
{
    m_tabs->setCurrentIndex(RfSettingsTab);
}

void TransmissionView::showReceiverTab()
{
    m_tabs->setCurrentIndex(ReceiverTab);
}

void TransmissionView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    updateConfigureButton();
    updateRfState();
    m_pages->startAfterFirstPaint(this);
}

void TransmissionView::done(int result)
{
    m_retryTimer->stop();
    m_applyTimer->stop();
    if (m_controller && m_controller->isConfigMode()) {
        if (m_controller->isWifiSwitchPending()) {
            // The switch's ELRS command needs configuration mode: leave it once the command is out.
            CorvaneController *controller = m_controller;
            connect(
                controller, &CorvaneController::elrsWifiModeSent, controller,
                [controller] {
                    if (controller->isConfigMode())
                        controller->stopConfigMode();
                },
                Qt::SingleShotConnection);
        } else {
            m_controller->stopConfigMode();
        }
    }
    QDialog::done(result);
}

void TransmissionView::updateConfigureButton()
{
    if (!m_configureButton || !m_controller)
        return;
    const bool configuring = m_controller->isConfigMode();
    m_configureButton->setText(configuring ? tr("Stop configuring") : tr("Start configuring"));
    const bool enabled = configuring || !m_controller->isRunning();
    m_configureButton->setEnabled(enabled);
    m_configureButton->setToolTip(enabled ? QString() : tr("Stop transmission first"));
}

void TransmissionView::updateRfState()
{
    const bool configuring = m_controller && m_controller->isConfigMode();
    const bool discovering = m_manager && m_manager->isDiscovering();
    const bool ready = m_manager && m_manager->state() == ElrsParameterManager::Ready;
    if (discovering)
        m_state = Discovering;
    else if (configuring && m_retryTimer->isActive())
        m_state = Engaging;
    else if (ready)
        m_state = configuring ? Editable : ReadOnly;
    else if (m_manualMode)
        m_state = Manual;
    else if (!m_lastError.isEmpty())
        m_state = Error;
    else
        m_state = Idle;
    // A page not built yet (the tree comes with its second part) shows the state once it is.
    if (!m_parameterTree)
        return;

    // Where the tab would send the user to Start Configuring, a silent transmitter is named
    // instead; configuring asks it again.
    const QString silent = !configuring && m_controller && m_controller->isTransmitterSilent()
                               ? tr("%1 Then press Start configuring to try again.")
                                     .arg(m_controller->transmitterSilentMessage())
                               : QString();
    QString banner;
    switch (m_state) {
    case Idle:
        banner = silent.isEmpty() ? tr("Press Start Configuring to read RF settings.") : silent;
        break;
    case Engaging:
        banner = tr("Engaging ELRS module… (a few seconds)");
        break;
    case ReadOnly:
        banner = silent.isEmpty() ? tr("Config mode stopped — settings shown from last discovery. Press Start "
                                       "Configuring to make changes.")
                                  : silent;
        break;
    default:
        break;
    }
    m_stateLabel->setText(banner);
    m_stateBanner->setVisible(!banner.isEmpty());
    // A walk that read nothing falls back to the manual panel: the reason and Retry stay above it.
    const bool failed = m_state == Error || (m_state == Manual && !m_lastError.isEmpty());
    m_errorBanner->setVisible(failed);
    m_discoveringLabel->setVisible(m_state == Discovering);
    m_useManualButton->setVisible(m_state == Discovering || m_state == Error);
    const bool listed = m_state == Editable || m_state == ReadOnly;
    m_parameterTree->setVisible(listed);
    m_manualPanel->setVisible(m_state == Manual);
    // The card takes the tab's free height for the parameter tree; without it, it keeps to what it
    // shows at its width: stretched up to its size hint, a wrapped banner would get lines too many.
    m_rfCard->setSizePolicy(QSizePolicy::Preferred, listed ? QSizePolicy::Preferred : QSizePolicy::Maximum);
    if (auto *page = qobject_cast<QBoxLayout *>(m_rfCard->parentWidget()->layout()))
        page->setStretchFactor(m_rfCard, listed ? 1 : 0);

    if (failed)
        m_errorLabel->setText(m_lastError);
    setParameterCombosEnabled();
    for (const ManualRfRow &row : std::as_const(m_manualRows))
        row.combo->setEnabled(configuring);
    m_manualHint->setText(silent.isEmpty() ? tr("Press Start Configuring to send RF settings.") : silent);
    m_manualHint->setVisible(m_state == Manual && !configuring);
    updateUnsavedBanner();
}

// --- slots of the configure flow -----------------------------------------------------------

void TransmissionView::onConfigureClicked()
{
    if (!m_controller)
        return;
    if (m_controller->isConfigMode())
        m_controller->stopConfigMode();
    else
        m_controller->startConfigMode();
}

void TransmissionView::onConfigModeChanged(bool active)
{
    clearUnsaved();
    if (active) {
        m_manualMode = false;
        m_lastError.clear();
        if (m_manager && !m_manager->isDiscovering() && !m_retryTimer->isActive())
            m_retryTimer->start();
    } else {
        m_retryTimer->stop();
    }
    updateConfigureButton();
    updateRfState();
}

void TransmissionView::onSerialConnectedChanged(bool)
{
    // What the last walk found out, and the manual settings it led to, were the transmitter's
    // that was on the port: the one on it now has not been asked.
    m_manualMode = false;
    m_lastError.clear();
    updateRfState();
}

void TransmissionView::onRetryTimeout()
{
    // Called by the timer, or early: either way the wait is over.
    m_retryTimer->stop();
    if (!m_manager || !m_controller || !m_controller->isConfigMode())
        return;
    if (!m_manager->isDiscovering()) {
        m_manualMode = false;
        m_lastError.clear();
        m_manager->startDiscovery();
    }
    updateRfState();
}

void TransmissionView::onRunningChanged(bool)
{
    updateConfigureButton();
    updateRfState();
}

void TransmissionView::onDiscoveryStarted()
{
    m_lastError.clear();
    m_discoveringText = tr("Discovering parameters…");
    if (m_discoveringLabel) {
        m_discoveringLabel->setText(m_discoveringText);
        m_discoveringLabel->setStyleSheet(QLatin1String(DiscoveringSheet));
    }
    if (m_parameterTree)
        m_parameterTree->clear();
    updateRfState();
}

void TransmissionView::onDiscoveryProgress(int done, int total)
{
    m_discoveringText = total < 1 ? tr("Discovering parameters…")
                                  : tr("Discovering parameters… %1 / %2").arg(done).arg(total);
    if (m_discoveringLabel)
        m_discoveringLabel->setText(m_discoveringText);
    updateRfState();
}

void TransmissionView::onDiscoveryComplete()
{
    m_manualMode = false;
    m_lastError.clear();
    rebuildParameterTree();
    clearUnsaved();
    refreshLinkFromController();
    updateRfState();
}

void TransmissionView::onDiscoveryAborted()
{
    updateRfState();
}

void TransmissionView::onManagerError(const QString &message)
{
    m_lastError = message;
    // Manual settings stand in for a module that lists none.
    if (m_manager && m_manager->state() != ElrsParameterManager::Ready && !m_manager->isDiscovering())
        m_manualMode = true;
    updateRfState();
}

void TransmissionView::onRetryClicked()
{
    if (!m_manager || !m_controller)
        return;
    // Out of configuration mode, a retry starts it: the search follows as after Start configuring.
    if (!m_controller->isConfigMode()) {
        m_controller->startConfigMode();
        return;
    }
    m_manualMode = false;
    m_lastError.clear();
    m_manager->startDiscovery();
    updateRfState();
}

void TransmissionView::onUseManualClicked()
{
    if (m_manager && m_manager->isDiscovering())
        m_manager->abortDiscovery();
    m_manualMode = true;
    m_lastError.clear();
    updateRfState();
}

// --- WiFi update mode ----------------------------------------------------------------------

void TransmissionView::updateWifiButtons()
{
    const bool silent = m_controller && m_controller->isTransmitterSilent();
    const bool enabled = m_controller && m_controller->isSerialConnected() && !m_controller->isRunning()
                         && !m_controller->isWifiSwitchPending() && !silent;
    for (QPushButton *button : std::as_const(m_wifiButtons)) {
        button->setEnabled(enabled);
        button->setToolTip(silent ? tr("The transmitter is not answering") : QString());
    }
}

void TransmissionView::enterWifiUpdateMode(bool receiver)
{
    if (!m_controller)
        return;
    const QString title = tr("WiFi update mode");
    const QString question =
        receiver ? tr("Put the QOR Receiver in WiFi update mode? The car must be on and linked; the link drops "
                      "until you power-cycle the car.")
                 : tr("Put the transmitter's radio in WiFi update mode? The car can't be driven until you "
                      "power-cycle the transmitter.");
    QPointer<TransmissionView> alive(this);
    const auto answer = QMessageBox::question(this, title, question, QMessageBox::Yes | QMessageBox::No);
    if (!alive || answer != QMessageBox::Yes)
        return;
    QString error;
    if (!m_controller->enterWifiUpdateMode(receiver, &error)) {
        QMessageBox::warning(this, title, error, QMessageBox::Ok);
        return;
    }
    // The switch is under way: a second one would be refused.
    updateWifiButtons();
}

void TransmissionView::showWifiSentNotice(bool receiver)
{
    QMessageBox::information(
        this, tr("WiFi update mode"),
        receiver ? tr("The QOR Receiver is switching to WiFi update mode. Power-cycle the car when you're done.")
                 : tr("The transmitter's radio is in WiFi update mode. Power-cycle the transmitter when you're "
                      "done."));
}

// --- parameter tree ------------------------------------------------------------------------

void TransmissionView::rebuildParameterTree()
{
    if (!m_parameterTree || !m_manager)
        return;
    m_parameterTree->clear();
    const QList<ElrsParameter> parameters = m_manager->parameters();
    QHash<quint8, QTreeWidgetItem *> folders;
    for (const ElrsParameter &parameter : parameters) {
        if (parameter.type != ElrsParameterManager::TypeFolder)
            continue;
        auto *item = new QTreeWidgetItem(m_parameterTree);
        item->setText(0, parameter.name);
        item->setFirstColumnSpanned(true);
        QFont font = item->font(0);
        font.setWeight(QFont::Bold);
        item->setFont(0, font);
        item->setExpanded(true);
        folders.insert(parameter.id, item);
    }
    const auto shown = [](const ElrsParameter &parameter) {
        return parameter.type != ElrsParameterManager::TypeFolder && parameter.type != ElrsParameterManager::TypeCommand
               && parameter.name.compare(QLatin1String("Bind"), Qt::CaseInsensitive) != 0;
    };
    for (const ElrsParameter &parameter : parameters) {
        if (shown(parameter) && (parameter.parent == 0 || !folders.contains(parameter.parent)))
            buildParameterRow(parameter, nullptr);
    }
    for (const ElrsParameter &parameter : parameters) {
        if (shown(parameter) && parameter.parent != 0 && folders.contains(parameter.parent))
            buildParameterRow(parameter, folders.value(parameter.parent));
    }
}

QTreeWidgetItem *TransmissionView::buildParameterRow(const ElrsParameter &parameter, QTreeWidgetItem *parentItem)
{
    auto *item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(m_parameterTree);
    item->setText(0, parameter.name);
    const bool selection = parameter.type == ElrsParameterManager::TypeTextSelection;
    if (selection && !parameter.readonly && !parameter.options.isEmpty()) {
        auto *container = new QWidget(m_parameterTree);
        container->setProperty("paramName", parameter.name);
        auto *layout = new QHBoxLayout(container);
        layout->setContentsMargins(4, 0, 4, 0);
        layout->setSpacing(8);
        auto *combo = new QComboBox(container);
        for (const ElrsOption &option : parameter.options)
            combo->addItem(option.label, option.index);
        for (int i = 0; i < parameter.options.size(); ++i) {
            if (parameter.options.at(i).index == parameter.value)
                combo->setCurrentIndex(i);
        }
        combo->setProperty("paramName", parameter.name);
        combo->setEnabled(true);
        const QString name = parameter.name;
        connect(combo, &QComboBox::activated, this,
                [this, combo, name](int index) { onComboActivated(name, combo->itemData(index).toInt()); });
        layout->addWidget(combo, 1);
        auto *pending = new QLabel(container);
        pending->setObjectName(QStringLiteral("pendingLabel"));
        pending->setStyleSheet(QLatin1String(PendingSheet));
        pending->hide();
        layout->addWidget(pending);
        m_parameterTree->setItemWidget(item, 1, container);
        return item;
    }
    QString text;
    if (selection) {
        for (const ElrsOption &option : parameter.options) {
            if (option.index == parameter.value)
                text = option.label;
        }
    }
    if (text.isEmpty())
        text = QString::number(parameter.value);
    if (!parameter.units.isEmpty())
        text += QStringLiteral(" %1").arg(parameter.units);
    item->setText(1, text);
    item->setForeground(1, m_mutedColor);
    return item;
}

QWidget *TransmissionView::findParameterRow(const QString &name) const
{
    if (!m_parameterTree)
        return nullptr;
    QList<QTreeWidgetItem *> stack;
    for (int i = m_parameterTree->topLevelItemCount() - 1; i >= 0; --i)
        stack.append(m_parameterTree->topLevelItem(i));
    while (!stack.isEmpty()) {
        QTreeWidgetItem *item = stack.takeLast();
        QWidget *widget = m_parameterTree->itemWidget(item, 1);
        if (widget && widget->property("paramName").toString() == name)
            return widget;
        for (int i = item->childCount() - 1; i >= 0; --i)
            stack.append(item->child(i));
    }
    return nullptr;
}

void TransmissionView::setParameterCombosEnabled()
{
    if (!m_parameterTree)
        return;
    const bool editable = m_state == Editable;
    QList<QTreeWidgetItem *> stack;
    for (int i = 0; i < m_parameterTree->topLevelItemCount(); ++i)
        stack.append(m_parameterTree->topLevelItem(i));
    while (!stack.isEmpty()) {
        QTreeWidgetItem *item = stack.takeLast();
        if (QWidget *widget = m_parameterTree->itemWidget(item, 1)) {
            if (auto *combo = widget->findChild<QComboBox *>())
                combo->setEnabled(editable);
        }
        for (int i = 0; i < item->childCount(); ++i)
            stack.append(item->child(i));
    }
}

// --- staging and writing -------------------------------------------------------------------

void TransmissionView::onComboActivated(const QString &paramName, int optionValue)
{
    if (!m_manager)
        return;
    const ElrsParameter *parameter = m_manager->findParameter(paramName);
    if (!parameter || parameter->value != optionValue)
        m_stagedParameters.insert(paramName, optionValue);
    else
        m_stagedParameters.remove(paramName);
    if (QWidget *row = findParameterRow(paramName)) {
        if (auto *pending = row->findChild<QLabel *>(QStringLiteral("pendingLabel"))) {
            if (m_stagedParameters.contains(paramName)) {
                pending->setText(tr("(unsaved)"));
                pending->setStyleSheet(QLatin1String(UnsavedSheet));
                pending->show();
            } else {
                pending->hide();
            }
        }
    }
    updateUnsavedBanner();
}

void TransmissionView::stageManualOption(quint8 fieldId, int index)
{
    m_stagedManual.insert(fieldId, index);
    updateUnsavedBanner();
    for (const ManualRfRow &row : std::as_const(m_manualRows)) {
        if (row.fieldId == fieldId && row.status) {
            row.status->setText(tr("unsaved"));
            row.status->setStyleSheet(QStringLiteral("color: #B06F00; font-size: 9pt; font-weight: bold;"));
            row.status->show();
        }
    }
}

int TransmissionView::unsavedCount() const
{
    return int(m_stagedParameters.size() + m_stagedManual.size());
}

void TransmissionView::updateUnsavedBanner()
{
    if (!m_applyBar)
        return;
    const int count = unsavedCount();
    m_applyBar->setVisible((m_state == Editable || m_state == Manual) && count > 0);
    m_unsavedLabel->setText(tr("%n unsaved change(s)", nullptr, count));
}

void TransmissionView::applyChanges()
{
    if (!m_manager || unsavedCount() <= 0)
        return;
    const QMap<QString, int> parameters = std::exchange(m_stagedParameters, {});
    for (auto it = parameters.constBegin(); it != parameters.constEnd(); ++it)
        writeParameter(it.key(), it.value());
    const QMap<quint8, int> manual = std::exchange(m_stagedManual, {});
    for (auto it = manual.constBegin(); it != manual.constEnd(); ++it)
        m_manager->writeOptionByField(it.key(), quint32(it.value()));
    for (const ManualRfRow &row : std::as_const(m_manualRows))
        row.status->hide();
    updateUnsavedBanner();
    m_applyTimer->start();
}

void TransmissionView::showAppliedNotice()
{
    if (m_controller)
        m_controller->stopConfigMode();
    if (!m_appliedNotice)
        return;
    m_appliedNotice->show();
    QTimer::singleShot(AppliedNoticeMs, m_appliedNotice, &QWidget::hide);
}

void TransmissionView::writeParameter(const QString &name, int newValue)
{
    if (!m_manager)
        return;
    const ElrsParameter *parameter = m_manager->findParameter(name);
    if (parameter && parameter->value == newValue)
        return;
    int oldValue = parameter ? parameter->value : newValue;
    if (m_pendingWrites.contains(name))
        oldValue = m_pendingWrites.value(name).oldValue;
    m_pendingWrites.insert(name, {newValue, oldValue});

    QWidget *row = findParameterRow(name);
    QComboBox *combo = row ? row->findChild<QComboBox *>() : nullptr;
    QLabel *pending = row ? row->findChild<QLabel *>(QStringLiteral("pendingLabel")) : nullptr;
    if (combo)
        combo->setEnabled(false);
    if (pending) {
        pending->setText(tr("(pending…)"));
        pending->setStyleSheet(QLatin1String(PendingSheet));
        pending->show();
    }

    // The manager may confirm inside this call; the row is then clean before the timer starts.
    QPointer<QComboBox> comboGuard(combo);
    QPointer<QLabel> pendingGuard(pending);
    if (m_manager->setParameterByIndex(name, newValue)) {
        QTimer::singleShot(WriteTimeoutMs, this, [this, name] { onWriteTimeout(name); });
        return;
    }
    if (comboGuard) {
        selectData(comboGuard, oldValue);
        comboGuard->setEnabled(m_state == Editable);
    }
    if (pendingGuard)
        showRowError(pendingGuard, tr("Write refused"));
    m_pendingWrites.remove(name);
}

void TransmissionView::onParameterUpdated(const QString &name)
{
    if (m_pendingWrites.contains(name)) {
        finishWrite(name, true);
        return;
    }
    if (name.compare(QLatin1String("TX Power"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("Max Power"), Qt::CaseInsensitive) == 0)
        refreshLinkFromController();
}

void TransmissionView::onWriteTimeout(const QString &paramName)
{
    if (m_pendingWrites.contains(paramName))
        finishWrite(paramName, false);
}

void TransmissionView::finishWrite(const QString &name, bool success)
{
    const int oldValue = m_pendingWrites.value(name).oldValue;
    m_pendingWrites.remove(name);
    QWidget *row = findParameterRow(name);
    if (!row)
        return;
    auto *combo = row->findChild<QComboBox *>();
    auto *pending = row->findChild<QLabel *>(QStringLiteral("pendingLabel"));
    if (combo) {
        if (!success) {
            selectData(combo, oldValue);
        } else if (m_manager) {
            if (const ElrsParameter *parameter = m_manager->findParameter(name))
                selectData(combo, parameter->value);
        }
        combo->setEnabled(m_state == Editable);
    }
    if (!pending)
        return;
    if (success)
        pending->hide();
    else
        showRowError(pending, tr("Write failed"));
}

void TransmissionView::showRowError(QLabel *label, const QString &text)
{
    label->setText(text);
    label->setStyleSheet(QLatin1String(FailedSheet));
    label->show();
    QTimer::singleShot(WriteTimeoutMs, label, &QWidget::hide);
}

void TransmissionView::discardChanges()
{
    for (auto it = m_stagedParameters.constBegin(); it != m_stagedParameters.constEnd(); ++it) {
        QWidget *row = findParameterRow(it.key());
        if (!row)
            continue;
        auto *combo = row->findChild<QComboBox *>();
        const ElrsParameter *parameter = m_manager ? m_manager->findParameter(it.key()) : nullptr;
        if (combo && parameter)
            selectData(combo, parameter->value);
        if (auto *pending = row->findChild<QLabel *>(QStringLiteral("pendingLabel")))
            pending->hide();
    }
    m_stagedParameters.clear();
    for (const ManualRfRow &row : std::as_const(m_manualRows)) {
        if (!m_stagedManual.contains(row.fieldId))
            continue;
        if (row.defaultIndex >= 0 && row.defaultIndex < row.combo->count()) {
            const QSignalBlocker block(row.combo);
            row.combo->setCurrentIndex(row.defaultIndex);
        }
        row.status->hide();
    }
    m_stagedManual.clear();
    updateUnsavedBanner();
}

void TransmissionView::clearUnsaved()
{
    m_stagedParameters.clear();
    m_stagedManual.clear();
    for (const ManualRfRow &row : std::as_const(m_manualRows))
        row.status->hide();
    if (m_appliedNotice)
        m_appliedNotice->hide();
    updateUnsavedBanner();
}

QString TransmissionView::txPowerText() const
{
    if (!m_manager)
        return QString();
    // Modules that file "Max Power" under a "TX Power" folder still show their power.
    const ElrsParameter *parameter = m_manager->findParameter(QStringLiteral("TX Power"));
    if (!parameter || parameter->type != ElrsParameterManager::TypeTextSelection)
        parameter = m_manager->findParameter(QStringLiteral("Max Power"));
    if (!parameter || parameter->type != ElrsParameterManager::TypeTextSelection)
        return QString();
    for (const ElrsOption &option : parameter->options) {
        if (option.index == parameter->value)
            return option.label;
    }
    return QString();
}

} // namespace corvane
