#include "heli/helicoptersetupwidget.h"

#include <QComboBox>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <memory>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "dialogs/attitudeindicatorwidget.h"
#include "dialogs/buttonconfigdialog.h"
#include "dialogs/transmissionview.h"
#include "heli/helicopterconfigdialog.h"
#include "heli/helicoptercurvesdialog.h"
#include "heli/helicopterelrsdialog.h"
#include "heli/helicopterflysettingsdialog.h"
#include "ostraui/busybutton.h"
#include "ostraui/card.h"
#include "ostraui/channelcell.h"
#include "ostraui/devicerow.h"
#include "ostraui/elidingcombo.h"
#include "ostraui/listrow.h"
#include "ostraui/pill.h"
#include "ostraui/plaintextguard.h"
#include "ostraui/portlist.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "ostraui/toast.h"
#include "ostraui/txbutton.h"
#include "ostraui/unsavededits.h"
#include "ostraui/wraprow.h"
#include "platform/storage/filewriter.h"
#include "profiles/profile.h"
#include "profiles/profilemanager.h"
#include "profiles/profilename.h"

namespace corvane {

namespace {

constexpr int TransmitterBaud = 115200;
constexpr int RefreshBusyMs = 600;
constexpr double UnreachableOpacity = 0.45;

struct RoleInfo
{
    const char *title;
    const char *subtitle;
    const char *placeholder;
    bool (CorvaneController::*connectDevice)(int);
    void (CorvaneController::*disconnectDevice)();
    bool (CorvaneController::*isConnected)() const;
    QString (CorvaneController::*name)() const;
};

const RoleInfo Roles[HelicopterSetupWidget::RoleCount] = {
    {QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Joystick"),
     QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Cyclic \u00B7 roll & pitch"),
     QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Choose joystick"), &CorvaneController::connectHeliJoystick,
     &CorvaneController::disconnectHeliJoystick, &CorvaneController::isHeliJoystickConnected,
     &CorvaneController::heliJoystickName},
    {QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Throttle"),
     QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Collective"),
     QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Choose throttle"), &CorvaneController::connectHeliThrottle,
     &CorvaneController::disconnectHeliThrottle, &CorvaneController::isHeliThrottleConnected,
     &CorvaneController::heliThrottleName},
    {QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Pedals"),
     QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Rudder \u00B7 tail"),
     QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "Choose pedals"), &CorvaneController::connectHeliPedals,
     &CorvaneController::disconnectHeliPedals, &CorvaneController::isHeliPedalsConnected,
     &CorvaneController::heliPedalsName},
};

// The device index a role row's combo holds; -1 for the "Choose …" prompt or an empty list.
int chosenDevice(const QComboBox *combo)
{
    return combo->currentIndex() >= 0 ? combo->currentData().toInt() : -1;
}

// What the status line says is sent: the channels the setup drives (the four controls, the motor
// and the arm switch while they are on) and those its button mappings drive, as "CH1–CH6, CH9".
QString sendingText(const HelicopterConfig &config, const ButtonMappingSet &mappings)
{
    constexpr int Count = CorvaneController::ChannelCount;
    std::array<bool, Count> sent{};
    const auto mark = [&sent](int channel) {
        if (channel >= 0 && channel < Count)
            sent[size_t(channel)] = true;
    };
    for (int channel : CorvaneController::heliSetupChannels(config))
        mark(channel);
    for (const ButtonMapping &m : mappings.mappings) {
        if (m.buttonIndex >= 0 && m.channel >= CorvaneController::HeliMappedChannelFirst
            && m.channel <= CorvaneController::HeliMappedChannelLast)
            mark(m.channel);
    }
    QStringList runs;
    for (int first = 0; first < Count; ++first) {
        if (!sent[size_t(first)])
            continue;
        int last = first;
        while (last + 1 < Count && sent[size_t(last + 1)])
            ++last;
        runs << (last == first ? HelicopterSetupWidget::tr("CH%1").arg(first + 1)
                               : HelicopterSetupWidget::tr("CH%1\u2013CH%2").arg(first + 1).arg(last + 1));
        first = last;
    }
    return runs.isEmpty() ? HelicopterSetupWidget::tr("No control channel is set up")
                          : HelicopterSetupWidget::tr("Sending %1 to the receiver").arg(runs.join(QStringLiteral(", ")));
}

} // namespace

HelicopterSetupWidget::HelicopterSetupWidget(CorvaneController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller), m_config(controller->helicopterConfig())
{
    auto *outer = new QVBoxLayout(this);
    outer->setSpacing(16);
    outer->setContentsMargins(0, 0, 0, 28);

    auto *row = new ostra::WrapRow(16);
    auto *left = new QVBoxLayout;
    left->setSpacing(16);
    left->addWidget(buildLiveControlSection());
    left->addWidget(buildDeviceSetupSection());
    left->addWidget(buildConfigureSection());
    left->addStretch();
    row->addLayout(left, 2, 560);
    auto *right = new QVBoxLayout;
    right->setSpacing(16);
    right->addWidget(buildTransmitterSection());
    right->addWidget(buildFirmwareSection());
    right->addStretch();
    row->addLayout(right, 1, 300);
    outer->addLayout(row);

    outer->addWidget(buildChannelActivitySection());
    outer->addWidget(buildProfileSection());
    outer->addStretch();

    connect(m_controller, &CorvaneController::inputChanged, this, &HelicopterSetupWidget::onLiveUpdate);
    connect(m_controller, &CorvaneController::runningChanged, this, &HelicopterSetupWidget::updateTransmissionUi);
    connect(m_controller, &CorvaneController::serialConnectedChanged, this, [this] {
        refreshTransmitterPorts();
        updateTransmissionUi();
    });
    connect(m_controller, &CorvaneController::heliJoystickConnectedChanged, this,
            &HelicopterSetupWidget::updateTransmissionUi);
    connect(m_controller, &CorvaneController::transmitterAuthorizationChanged, this,
            &HelicopterSetupWidget::updateTransmissionUi);
    connect(m_controller, &CorvaneController::transmitterAnswerChanged, this,
            &HelicopterSetupWidget::updateTransmissionUi);
    connect(m_controller, &CorvaneController::heliArmedChanged, this, &HelicopterSetupWidget::updateTransmissionUi);
    connect(m_controller->profileManager(), &ProfileManager::activeProfileChanged, this,
            &HelicopterSetupWidget::followActiveProfileName);
    // The channels sent and the arm switch follow the setup, whoever changed it.
    connect(m_controller->profileManager(), &ProfileManager::profileModified, this,
            &HelicopterSetupWidget::updateTransmissionUi);

    refreshFromController();
}

QWidget *HelicopterSetupWidget::buildTransmitterSection()
{
    auto *card = new ostra::Card(this, 2);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(12);
    content->addLayout(ostra::makeHeading(tr("QOR Transmitter"), tr("Same hardware as RC Car")));

    m_portCombo = new ostra::ElidingCombo(card);
    m_portCombo->setObjectName(QStringLiteral("transmitterPort"));
    m_portCombo->setCursor(Qt::PointingHandCursor);
    m_portCombo->setMinimumContentsLength(14);
    m_portCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(m_portCombo, &QComboBox::currentIndexChanged, this, &HelicopterSetupWidget::updateTransmissionUi);
    content->addWidget(m_portCombo);

    auto *connectRow = new QHBoxLayout;
    connectRow->setSpacing(10);
    m_connectionPill = new ostra::Pill(card, ostra::Pill::Plain);
    m_connectionPill->setHeight(26);
    connectRow->addWidget(m_connectionPill);
    connectRow->addStretch();
    m_connectButton = ostra::makeButton(tr("Connect"), false, card);
    m_connectButton->setObjectName(QStringLiteral("connectTransmitter"));
    m_connectButton->setMinimumWidth(104);
    connect(m_connectButton, &QPushButton::clicked, this, &HelicopterSetupWidget::connectTransmitter);
    connectRow->addWidget(m_connectButton);
    content->addLayout(connectRow);

    content->addWidget(ostra::makeHairline(card));
    m_txButton = new ostra::TxButton(card);
    connect(m_txButton, &QPushButton::clicked, this, &HelicopterSetupWidget::toggleTransmission);
    content->addWidget(m_txButton);

    m_armButton = ostra::makeButton(tr("Arming: safe"), false, card);
    m_armButton->setObjectName(QStringLiteral("armButton"));
    m_armButton->setCheckable(true);
    connect(m_armButton, &QPushButton::clicked, this, [this](bool checked) {
        m_controller->setHeliArmed(checked);
        updateTransmissionUi();
    });
    content->addWidget(m_armButton);

    m_statusLabel = ostra::makeRoleLabel(QString(), "muted", card);
    m_statusLabel->setObjectName(QStringLiteral("transmissionStatus"));
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setWordWrap(true);
    content->addWidget(m_statusLabel);
    return card;
}

QWidget *HelicopterSetupWidget::buildDeviceSetupSection()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    m_refreshButton = new ostra::BusyButton(tr("Refresh"), card);
    m_refreshButton->setCursor(Qt::PointingHandCursor);
    content->addLayout(ostra::makeHeading(tr("Controls"), tr("One device can fill more than one role"), m_refreshButton));
    content->setSpacing(10);
    for (int role = 0; role < RoleCount; ++role) {
        auto *deviceRow = new ostra::DeviceRow(QString(), tr(Roles[role].title), tr(Roles[role].subtitle), card);
        QComboBox *combo = deviceRow->combo();
        deviceRow->setConnectPredicate([combo] { return chosenDevice(combo) >= 0; });
        connect(deviceRow, &ostra::DeviceRow::connectRequested, this, [this, role] { connectRoleDevice(role); });
        connect(deviceRow, &ostra::DeviceRow::disconnectRequested, this, [this, role] { connectRoleDevice(role); });
        m_roleRows[size_t(role)] = deviceRow;
        content->addWidget(deviceRow);
    }
    connect(m_refreshButton, &QPushButton::clicked, this, [this] {
        m_refreshButton->setBusyFor(tr("Scanning\u2026"), RefreshBusyMs);
        refreshFromController();
        QTimer::singleShot(RefreshBusyMs, this, [this] { ostra::showToast(this, tr("Device list updated")); });
    });
    return card;
}

QWidget *HelicopterSetupWidget::buildConfigureSection()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(6);
    content->addLayout(ostra::makeHeading(tr("Configure")));
    content->addSpacing(4);
    makeConfigureCard(content, tr("Channel mapping & calibration"),
                      tr("Assign axes and calibrate roll, pitch, collective and rudder"),
                      &HelicopterSetupWidget::openConfigDialog);
    makeConfigureCard(content, tr("Button mapping"), tr("Map joystick / throttle / pedal buttons to CH5+"),
                      &HelicopterSetupWidget::openButtonMapping);
    makeConfigureCard(content, tr("Fly settings"), tr("Collective range, flight throttle safety and dual rates"),
                      &HelicopterSetupWidget::openFlySettingsDialog);
    makeConfigureCard(content, tr("Curves"), tr("Pitch and throttle curves"), &HelicopterSetupWidget::openCurvesDialog);
    makeConfigureCard(content, tr("Arming & safety"), tr("ExpressLRS arm channel"),
                      &HelicopterSetupWidget::openElrsDialog);
    makeConfigureCard(content, tr("Telemetry"), tr("Link status, sensors and RF settings"),
                      &HelicopterSetupWidget::openTransmissionView);
    makeConfigureCard(content, tr("Attitude indicator"), tr("Full-screen artificial horizon from attitude telemetry"),
                      &HelicopterSetupWidget::openAttitudeIndicator);
    return card;
}

void HelicopterSetupWidget::makeConfigureCard(QVBoxLayout *layout, const QString &title, const QString &toolTip,
                                              void (HelicopterSetupWidget::*handler)())
{
    auto *row = new ostra::ListRow(title, layout->parentWidget());
    row->setToolTip(toolTip);
    connect(row, &ostra::ListRow::clicked, this, handler);
    layout->addWidget(row);
}

QWidget *HelicopterSetupWidget::buildFirmwareSection()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(8);
    content->addLayout(
        ostra::makeHeading(tr("Firmware"), tr("Update QOR hardware over USB"), nullptr, nullptr, &m_firmwareSubtitle));

    struct Entry
    {
        QString title;
        QString subtitle;
        void (HelicopterSetupWidget::*signal)();
        bool needsTransmitter;
    };
    const Entry entries[] = {
        {tr("Transmitter"), tr("MCU firmware"), &HelicopterSetupWidget::updateTransmitterFirmwareRequested, true},
        {tr("Receiver"), tr("Pick the receiver's port in the updater"),
         &HelicopterSetupWidget::updateReceiverFirmwareRequested, false},
        {tr("Transmitter SoC"), tr("System software"), &HelicopterSetupWidget::updateTransmitterSocFirmwareRequested,
         true},
    };
    for (const Entry &entry : entries) {
        auto *row = new QFrame(card);
        row->setProperty("row", true);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(14, 10, 10, 10);
        layout->setSpacing(10);
        auto *text = new QVBoxLayout;
        text->setSpacing(1);
        auto *title = new QLabel(entry.title, row);
        title->setFont(ostra::uiFont(14, 600));
        text->addWidget(title);
        // The page's narrow column on a laptop screen has no room for every subtitle on one line.
        QLabel *subtitle = ostra::makeRoleLabel(entry.subtitle, "muted", row);
        subtitle->setWordWrap(true);
        text->addWidget(subtitle);
        layout->addLayout(text, 1);
        auto *update = new QPushButton(tr("Update"), row);
        update->setProperty("small", true);
        update->setCursor(Qt::PointingHandCursor);
        connect(update, &QPushButton::clicked, this, entry.signal);
        layout->addWidget(update);
        if (entry.needsTransmitter)
            m_transmitterFirmwareRows.append(row);
        content->addWidget(row);
    }
    return card;
}

QWidget *HelicopterSetupWidget::buildChannelActivitySection()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    auto *header = new QHBoxLayout;
    header->addWidget(ostra::makeRoleLabel(tr("Channel activity"), "h2", card));
    header->addStretch();
    m_channelSubtitle = ostra::makeRoleLabel(tr("Start transmission to see output"), "muted", card);
    header->addWidget(m_channelSubtitle);
    content->addLayout(header);

    auto *container = new QWidget(card);
    auto *grid = new ostra::ResponsiveGrid(68, 8, container);
    // Two even rows of eight on a wide page rather than fifteen and one.
    grid->setMaxColumns(8);
    for (int channel = 0; channel < int(m_channelCells.size()); ++channel) {
        m_channelCells[size_t(channel)] = new ostra::ChannelCell(channel + 1, container);
        grid->addWidget(m_channelCells[size_t(channel)]);
    }
    content->addWidget(container);
    return card;
}

QWidget *HelicopterSetupWidget::buildProfileSection()
{
    auto *card = new ostra::Card(this, 1);
    QVBoxLayout *content = card->contentLayout();
    content->setContentsMargins(22, 16, 16, 16);
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    auto *label = new QLabel(tr("Save profile"), card);
    label->setFont(ostra::uiFont(15, 600));
    row->addWidget(label);
    m_profileName = new QLineEdit(tr("RC Helicopter"), card);
    m_profileName->setProperty("inset", true);
    m_profileName->setPlaceholderText(tr("Profile name"));
    m_profileName->setMaxLength(ProfileName::MaxLength);
    row->addWidget(m_profileName, 1);
    m_saveButton = ostra::makeButton(tr("Save profile"), true, card);
    connect(m_saveButton, &QPushButton::clicked, this, &HelicopterSetupWidget::saveProfile);
    row->addWidget(m_saveButton);
    content->addLayout(row);
    return card;
}

void HelicopterSetupWidget::refreshFromController()
{
    m_config = m_controller->helicopterConfig();
    const HelicopterConfig::Inputs &inputs = m_config.inputs;
    const std::array<const DeviceConnection *, RoleCount> saved{&inputs.joystick.device, &inputs.throttle.device,
                                                                &inputs.pedals.device};
    for (int role = 0; role < RoleCount; ++role) {
        // A connected role keeps its list; one connected before the page existed gets its first.
        QComboBox *combo = m_roleRows[size_t(role)]->combo();
        const bool connected = (m_controller->*Roles[role].isConnected)();
        if (connected && combo->count() > 0)
            continue;
        fillDeviceCombo(combo, tr(Roles[role].placeholder));
        // A remembered device plugged in again is chosen, so that its Connect can be pressed.
        if (!connected)
            combo->setCurrentIndex(std::max(combo->findData(m_controller->findSavedDevice(*saved[size_t(role)])), 0));
    }
    updateRoleStatus();
    refreshTransmitterPorts();
    updateTransmissionUi();
    followActiveProfileName();
}

void HelicopterSetupWidget::followActiveProfileName()
{
    const Profile *active = m_controller->profileManager()->activeProfile();
    if (m_profileName && active && active->vehicleType == VehicleType::Helicopter)
        m_profileName->setText(active->name);
}

void HelicopterSetupWidget::fillDeviceCombo(QComboBox *combo, const QString &placeholder)
{
    if (!combo)
        return;
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItem(placeholder, -1);
    for (const InputDeviceInfo &device : CorvaneController::availableInputDevices())
        combo->addItem((device.numAxes == 1 ? tr("%1 (%2 axis)") : tr("%1 (%2 axes)"))
                           .arg(ostra::isolatedText(device.productName))
                           .arg(device.numAxes),
                       device.index);
}

void HelicopterSetupWidget::updateRoleStatus()
{
    for (int role = 0; role < RoleCount; ++role) {
        ostra::DeviceRow *row = m_roleRows[size_t(role)];
        if (!row)
            continue;
        const bool isConnected = (m_controller->*Roles[role].isConnected)();
        const QString name = isConnected ? (m_controller->*Roles[role].name)() : QString();
        if (isConnected) {
            QComboBox *combo = row->combo();
            for (int i = 0; i < combo->count(); ++i) {
                if (combo->itemText(i).startsWith(ostra::isolatedText(name), Qt::CaseSensitive)) {
                    combo->setCurrentIndex(i);
                    break;
                }
            }
        }
        row->setStatus(isConnected ? ostra::DeviceConnected : ostra::DeviceNotConnected, QString());
        if (auto *pill = row->findChild<ostra::Pill *>())
            pill->setToolTip(name);
    }
}

void HelicopterSetupWidget::connectRoleDevice(int role)
{
    if (role < 0 || role >= RoleCount)
        return;
    const RoleInfo &info = Roles[role];
    if ((m_controller->*info.isConnected)()) {
        (m_controller->*info.disconnectDevice)();
    } else {
        ostra::DeviceRow *row = m_roleRows[size_t(role)];
        const int index = row ? chosenDevice(row->combo()) : -1;
        if (index < 0)
            return;
        (m_controller->*info.connectDevice)(index);
        m_config = m_controller->helicopterConfig();
    }
    updateRoleStatus();
}

void HelicopterSetupWidget::connectTransmitter()
{
    if (m_controller->isSerialConnected()) {
        m_controller->disconnectTransmitter();
    } else if (isEmbeddedPlatform()) {
        if (!m_controller->connectGpioUart(TransmitterBaud))
            QMessageBox::warning(this, tr("QOR Transmitter"), tr("Failed to connect to QOR Transmitter."));
    } else {
        const QString port = m_portCombo->currentData().toString();
        if (port.isEmpty()) {
            QMessageBox::warning(this, tr("QOR Transmitter"), tr("Please select a QOR Transmitter."));
            return;
        }
        m_controller->connectTransmitter(port, TransmitterBaud);
    }
    updateTransmissionUi();
}

void HelicopterSetupWidget::refreshTransmitterPorts()
{
    if (!m_portCombo)
        return;
    const QSignalBlocker blocker(m_portCombo);
    m_portCombo->clear();
    if (isEmbeddedPlatform()) {
        m_portCombo->addItem(tr("QOR Transmitter (GPIO UART)"), QString());
        return;
    }
    ostra::PortListSetup setup;
    setup.prompt = tr("Choose QOR Transmitter");
    setup.alwaysPrompt = true;
    setup.connected = m_controller->isSerialConnected() ? m_controller->serialPortName() : QString();
    setup.held = m_controller->heldPorts();
    setup.text = [](const SerialPortEntry &port) {
        return port.description.isEmpty() ? port.portName : tr("%1 (%2)").arg(port.portName, port.description);
    };
    ostra::fillPortList(m_portCombo, CorvaneController::availableSerialPorts(), setup);
}

void HelicopterSetupWidget::toggleTransmission()
{
    if (m_controller->isRunning())
        m_controller->stopTransmissionAndHold();
    else
        m_controller->startTransmission();
    updateTransmissionUi();
}

void HelicopterSetupWidget::updateTransmissionUi()
{
    const bool connected = m_controller->isSerialConnected();
    const bool joystick = m_controller->isHeliJoystickConnected();
    const bool running = m_controller->isRunning();
    const bool armed = m_controller->isHeliArmed();
    const bool gpio = isEmbeddedPlatform();
    // Open, but not answered yet, or not at all: maybe not the transmitter's port.
    const CorvaneController::TransmitterStatus tx = m_controller->transmitterStatus();
    const bool answered = tx.answer == CorvaneController::TransmitterAnswered;

    if (m_connectButton) {
        m_connectButton->setText(connected ? tr("Disconnect") : tr("Connect"));
        const bool portChosen = m_portCombo && !m_portCombo->currentData().toString().isEmpty();
        ostra::setStyleState(m_connectButton, "primary", !connected && (gpio || portChosen));
    }
    if (m_connectionPill) {
        m_connectionPill->setLevel(tx.level);
        m_connectionPill->setText(tx.word);
        m_connectionPill->setToolTip(answered ? m_controller->serialPortName() : tx.hint);
    }
    if (m_portCombo)
        m_portCombo->setEnabled(!connected && !gpio);
    if (m_txButton) {
        m_txButton->setState(running ? ostra::TxStop : !answered || !joystick ? ostra::TxLocked : ostra::TxGo);
    }
    if (m_armButton) {
        m_armButton->setVisible(m_controller->helicopterConfig().fly.arm.enabled);
        m_armButton->setEnabled(running);
        m_armButton->setText(armed ? tr("Armed \u2014 motor live") : tr("Arming: safe"));
        ostra::setStyleState(m_armButton, "danger", armed);
        const QSignalBlocker blocker(m_armButton);
        m_armButton->setChecked(armed);
    }
    if (m_statusLabel) {
        m_statusLabel->setText(running      ? sendingText(m_controller->helicopterConfig(), m_controller->buttonMappings())
                               : !connected ? tr("Connect the QOR Transmitter to start")
                               : !answered  ? tx.hint
                               : joystick   ? tr("Everything is connected")
                                            : tr("Connect a joystick to start"));
    }
    if (m_channelSubtitle)
        m_channelSubtitle->setText(running ? tr("Live output in \u00B5s") : tr("Start transmission to see output"));
    if (!running) {
        for (ostra::ChannelCell *cell : m_channelCells) {
            if (cell)
                cell->setValue(-1);
        }
    }
    for (QFrame *row : std::as_const(m_transmitterFirmwareRows)) {
        if (connected) {
            row->setGraphicsEffect(nullptr);
        } else if (!row->graphicsEffect()) {
            auto *effect = new QGraphicsOpacityEffect(row);
            effect->setOpacity(UnreachableOpacity);
            row->setGraphicsEffect(effect);
        }
    }
    if (m_firmwareSubtitle) {
        m_firmwareSubtitle->setText(connected ? tr("Update QOR hardware over USB")
                                              : tr("Connect the QOR Transmitter to update it"));
    }
}

template<typename Dialog>
bool HelicopterSetupWidget::runSetupDialog(Dialog &dialog)
{
    dialog.setConfig(m_controller->helicopterConfig());
    return ostra::execSetupDialog(dialog, [&dialog] { return dialog.config().toJson(); },
                                  m_controller->profileStore([this, &dialog] {
                                      m_config = dialog.config();
                                      m_controller->setHelicopterConfig(m_config);
                                  }))
           == QDialog::Accepted;
}

void HelicopterSetupWidget::openConfigDialog()
{
    if (!m_controller->isHeliJoystickConnected()) {
        QMessageBox::warning(this, tr("Joystick Required"),
                             tr("Please connect a joystick before mapping and calibrating inputs."));
        return;
    }
    HelicopterConfigDialog dialog(m_controller, this);
    runSetupDialog(dialog);
}

void HelicopterSetupWidget::openButtonMapping()
{
    if (!m_controller->isHeliJoystickConnected() && !m_controller->isHeliThrottleConnected()
        && !m_controller->isHeliPedalsConnected()) {
        QMessageBox::warning(this, tr("Device Required"),
                             tr("Please connect a joystick, throttle or pedals before configuring buttons."));
        return;
    }
    ButtonConfigDialog dialog(m_controller, this);
    // Slot k owns the button indexes 160·k.., the ranges the helicopter tick reads.
    dialog.setInputDevices({m_controller->heliJoystick(), m_controller->heliThrottle(), m_controller->heliPedals()},
                           {tr("Joystick"), tr("Throttle"), tr("Pedals")});
    dialog.setMappings(m_controller->buttonMappings());
    dialog.useHelicopterChannels(m_controller->helicopterConfig());
    ostra::execSetupDialog(dialog, [&dialog] { return dialog.mappings().toJson(); },
                           m_controller->profileStore([this, &dialog] { m_controller->setButtonMappings(dialog.mappings()); }));
}

void HelicopterSetupWidget::openFlySettingsDialog()
{
    HelicopterFlySettingsDialog dialog(this);
    if (runSetupDialog(dialog))
        updateRateModeUi();
}

void HelicopterSetupWidget::openCurvesDialog()
{
    HelicopterCurvesDialog dialog(this);
    runSetupDialog(dialog);
}

void HelicopterSetupWidget::openElrsDialog()
{
    HelicopterElrsDialog dialog(this);
    dialog.setButtonMappings(m_controller->buttonMappings().mappings);
    if (runSetupDialog(dialog))
        updateTransmissionUi();
}

void HelicopterSetupWidget::openTransmissionView()
{
    TransmissionView view(m_controller, this);
    ostra::execAfterTick(view);
}

void HelicopterSetupWidget::openAttitudeIndicator()
{
    auto *indicator = new AttitudeIndicatorWidget(m_controller, nullptr);
    indicator->setAttribute(Qt::WA_DeleteOnClose);
    if (ostra::showFullScreenAfterTick(indicator, indicator->firstPaintParts()))
        indicator->setFocus();
}

void HelicopterSetupWidget::saveProfile()
{
    QString name = m_profileName->text().trimmed();
    if (name.isEmpty())
        name = tr("RC Helicopter");
    ProfileManager *store = m_controller->profileManager();
    // A refusal or a failed write is shown by the main window with the store's message; the
    // toast comes once the profile is on disk.
    const auto handed = std::make_shared<bool>(false);
    const auto save = [&] {
        const QString id = store->switchVehicleType(QString(VehicleType::Helicopter), name);
        if (id.isEmpty() || !store->renameProfile(id, name))
            return;
        store->setHelicopterConfig(m_config);
        *handed = store->saveActiveProfile();
    };
    const auto saved = [self = QPointer<HelicopterSetupWidget>(this), handed](const QString &failure) {
        if (self && *handed && failure.isEmpty())
            ostra::showToast(self, tr("Saved \u201C%1\u201D").arg(self->m_controller->profileManager()->activeProfileName()));
    };
    FileWriter::shared().batch(save, saved);
}

} // namespace corvane
