#include "app/onboardingwizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "dialogs/pedalverificationdialog.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/passbuilder.h"
#include "ostraui/portlist.h"
#include "ostraui/theme.h"
#include "platform/serial/serialportlister.h"

namespace corvane {

namespace {

constexpr int TickIntervalMs = 50;
constexpr int PageCount = 7;
constexpr int TransmitterBaudRate = 115200;

enum PageIndex { SafetyPage, PowerOnPage, TransmitterPage, ControlsPage, MapPage, CheckPage, DonePage };

const char HeadingStyle[] = "font-size: 16pt; font-weight: 600; color: #0F1720;";
const char BodyStyle[] = "color: #5B6675; font-size: 10pt;";
const char NoteStyle[] = "color: #5B6675; font-size: 9pt;";
const char ConnectedStyle[] = "color: #0D8A57; font-size: 9pt;";
const char WarningStyle[] = "color: #B06F00; font-size: 9pt;";
const char CaptionStyle[] = "color: #5B6675; font-size: 9pt; letter-spacing: 0.5px;";

enum class LabelKind { Heading, Body, Note };

QLabel *makeLabel(LabelKind kind, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    switch (kind) {
    case LabelKind::Heading:
        label->setStyleSheet(QLatin1String(HeadingStyle));
        break;
    case LabelKind::Body:
        label->setStyleSheet(QLatin1String(BodyStyle));
        label->setTextFormat(Qt::RichText);
        break;
    case LabelKind::Note:
        label->setStyleSheet(QLatin1String(NoteStyle));
        break;
    }
    return label;
}

// A page: heading and lead text first, then what the builder adds; the builder closes it with a stretch.
QVBoxLayout *makePage(QWidget *page, int spacing, const QString &heading, const QString &lead)
{
    auto *layout = new QVBoxLayout(page);
    // Flush with the dialog's margins, so that the page's texts begin under the title's.
    layout->setContentsMargins(0, 12, 0, 12);
    layout->setSpacing(spacing);
    layout->addWidget(makeLabel(LabelKind::Heading, heading, page));
    layout->addWidget(makeLabel(LabelKind::Body, lead, page));
    return layout;
}

// A white card on the page; labels inside draw no box of their own.
QFrame *makeCard(QWidget *parent, int radius)
{
    auto *card = new QFrame(parent);
    card->setStyleSheet(QStringLiteral("QFrame { background: #FFFFFF; border: 1px solid #F7F9FB; border-radius: %1px; }"
                                       "QLabel { background: transparent; border: none; }")
                            .arg(radius));
    return card;
}

// Rewrites a status line only when its state changed: a new sheet costs a restyle on every tick.
void showStatus(QLabel *status, const char *style, const QString &text)
{
    if (status->text() == text)
        return;
    status->setText(text);
    status->setStyleSheet(QLatin1String(style));
}

void setButtonStyle(QPushButton *button, const char *state)
{
    ostra::setStyleState(button, state, true);
}

// A Connect button with room for "Disconnect" from the start: its row keeps its shape when the text flips.
QPushButton *makeConnectButton(QWidget *parent, bool primary)
{
    auto *button = new QPushButton(OnboardingWizard::tr("Disconnect"), parent);
    if (primary)
        setButtonStyle(button, "primary");
    button->ensurePolished();
    button->setMinimumWidth(button->sizeHint().width());
    button->setText(OnboardingWizard::tr("Connect"));
    return button;
}

// One device role of the controls page: its connect state and operations on the controller, and
// the devices made for it: a name with one of `words`, or force feedback where that marks it.
struct DeviceRole
{
    bool (CorvaneController::*isConnected)() const;
    QString (CorvaneController::*name)() const;
    bool (CorvaneController::*connectDevice)(int);
    void (CorvaneController::*disconnectDevice)();
    const char *words;
    bool forceFeedback;
    const char *placeholder;
};

const DeviceRole WheelRole{&CorvaneController::isWheelBaseConnected, &CorvaneController::wheelBaseName,
                           &CorvaneController::connectWheelBase, &CorvaneController::disconnectWheelBase,
                           "wheel|base|steering", true,
                           QT_TRANSLATE_NOOP("corvane::OnboardingWizard", "Choose wheel base")};
const DeviceRole PedalsRole{&CorvaneController::isPedalsConnected, &CorvaneController::pedalsName,
                            &CorvaneController::connectPedals, &CorvaneController::disconnectPedals, "pedal", false,
                            QT_TRANSLATE_NOOP("corvane::OnboardingWizard", "Choose pedals")};
const DeviceRole ShifterRole{&CorvaneController::isShifterConnected, &CorvaneController::shifterName,
                             &CorvaneController::connectShifter, &CorvaneController::disconnectShifter,
                             "shift|gear", false, QT_TRANSLATE_NOOP("corvane::OnboardingWizard", "Choose shifter")};

// A flight stick, throttle or rudder pedals are made for none of the car's roles.
bool fitsRole(const InputDeviceInfo &device, const DeviceRole &role)
{
    const auto named = [&device](const QString &words) {
        return device.productName.contains(QRegularExpression(words, QRegularExpression::CaseInsensitiveOption));
    };
    return !named(QStringLiteral("stick|flight|hotas|throttle|rudder|yoke"))
           && ((role.forceFeedback && device.supportsFfb) || named(QLatin1String(role.words)));
}

// Connects or disconnects one role from its combo; false when a connect was tried and failed.
bool toggleRole(CorvaneController *controller, const DeviceRole &role, const QComboBox *combo)
{
    if ((controller->*role.isConnected)()) {
        (controller->*role.disconnectDevice)();
        return true;
    }
    const QVariant data = combo->currentData();
    const int index = data.isValid() ? data.toInt() : -1;
    if (index < 0)
        return true;
    return (controller->*role.connectDevice)(index);
}

} // namespace

OnboardingWizard::OnboardingWizard(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Corvane setup guide"));
    setModal(true);
    resize(720, 620);

    buildFrame();
    m_tickTimer = new QTimer(this);
    m_tickTimer->setInterval(TickIntervalMs);
    connect(m_tickTimer, &QTimer::timeout, this, &OnboardingWizard::onTick);
    m_tickTimer->start();
    // Connected elsewhere, maybe on a port that appeared after the list was filled.
    if (m_controller)
        connect(m_controller, &CorvaneController::serialConnectedChanged, this, &OnboardingWizard::onRefreshPorts);

    refreshFooter();
    refreshStepLabel();
    ostra::applyDialogChrome(this, QString());
    // The later steps follow one part per pass of the event loop: the whole guide at once would
    // hold up the channel stream. The device lists are parts of their own.
    m_pages = new ostra::PassBuilder(this);
    m_pageParts[SafetyPage] = -1;
    for (int index = PowerOnPage; index < PageCount; ++index) {
        m_pageParts[size_t(index)] = m_pages->add([this, index] { buildPage(index); });
        if (index == TransmitterPage) {
            // The last listing: listing now takes longer than a pass may. Refresh lists anew.
            m_portsPart = m_pages->add([this] { fillPorts(SerialPortLister::recentPorts()); });
        } else if (index == ControlsPage) {
            m_devicesPart = m_pages->add([this] { onRefreshDevices(); });
        }
    }
    m_pages->startAfterFirstPaint(this);
}

void OnboardingWizard::buildPage(int index)
{
    QWidget *page = m_pageStack->widget(index);
    switch (index) {
    case PowerOnPage:
        buildPowerOnPage(page);
        break;
    case TransmitterPage:
        buildConnectTransmitterPage(page);
        break;
    case ControlsPage:
        buildConnectControlsPage(page);
        break;
    case MapPage:
        buildMapControlsPage(page);
        break;
    case CheckPage:
        buildCheckInputsPage(page);
        break;
    default:
        buildDonePage(page);
        break;
    }
    ++m_builtPages;
}

void OnboardingWizard::finishPages()
{
    m_pages->finish();
}

OnboardingWizard::~OnboardingWizard() = default;

void OnboardingWizard::buildFrame()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(14);

    auto *header = new QHBoxLayout;
    auto *title = new QLabel(tr("Setup guide"), this);
    title->setStyleSheet(QStringLiteral("color: #5B6675; font-size: 9pt; letter-spacing: 1px;"));
    header->addWidget(title);
    header->addStretch(1);
    m_stepLabel = new QLabel(this);
    m_stepLabel->setObjectName(QStringLiteral("stepLabel"));
    m_stepLabel->setStyleSheet(QStringLiteral("color: #8A94A3; font-size: 9pt;"));
    header->addWidget(m_stepLabel);
    layout->addLayout(header);

    m_pageStack = new QStackedWidget(this);
    // Each page is filled where it stays: one built apart would move in whole, and a move
    // restyles all it holds.
    for (int index = 0; index < PageCount; ++index)
        m_pageStack->addWidget(new QWidget(m_pageStack));
    buildSafetyPage(m_pageStack->widget(SafetyPage));
    m_builtPages = 1;
    layout->addWidget(m_pageStack, 1);

    auto *footer = new QHBoxLayout;
    footer->setSpacing(10);
    m_backButton = new QPushButton(tr("Back"), this);
    m_backButton->setObjectName(QStringLiteral("backBtn"));
    setButtonStyle(m_backButton, "ghost");
    connect(m_backButton, &QPushButton::clicked, this, &OnboardingWizard::onBack);
    footer->addWidget(m_backButton);
    footer->addStretch(1);
    m_skipButton = new QPushButton(tr("Skip setup"), this);
    m_skipButton->setObjectName(QStringLiteral("skipBtn"));
    setButtonStyle(m_skipButton, "ghost");
    connect(m_skipButton, &QPushButton::clicked, this, &OnboardingWizard::onSkip);
    footer->addWidget(m_skipButton);
    m_nextButton = new QPushButton(tr("Next"), this);
    m_nextButton->setObjectName(QStringLiteral("nextBtn"));
    setButtonStyle(m_nextButton, "primary");
    connect(m_nextButton, &QPushButton::clicked, this, &OnboardingWizard::onNext);
    footer->addWidget(m_nextButton);
    layout->addLayout(footer);
}

void OnboardingWizard::buildSafetyPage(QWidget *page)
{
    QVBoxLayout *layout = makePage(page, 16, tr("Before we start"),
                                   tr("You're about to control a real RC vehicle. This guide walks through the seven "
                                      "steps to get transmitting \u2014 it takes a couple of minutes."));
    QFrame *card = makeCard(page, 10);
    auto *cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(18, 16, 18, 16);
    cardLayout->setSpacing(10);
    cardLayout->addWidget(makeLabel(
        LabelKind::Body,
        tr("<b>Two ways to drive</b><br>\u2022 <b>PC Mode</b> \u2014 any wheel (MOZA, Fanatec, Logitech, "
           "Thrustmaster, generic) through this computer. This wizard sets up PC Mode.<br>\u2022 <b>Handle Mode</b> "
           "\u2014 a Logitech wheel plugged straight into the transmitter, no PC. Use the mobile app for that path."),
        card));
    layout->addWidget(card);
    layout->addStretch(1);
}

void OnboardingWizard::buildPowerOnPage(QWidget *page)
{
    QVBoxLayout *layout = makePage(page, 14, tr("Power on your transmitter"),
                                   tr("Plug the <b>included power supply</b> into the USB-C port on the transmitter "
                                      "labeled <b>POWER</b>. The transmitter won't run on PC power alone."));
    layout->addWidget(makeLabel(LabelKind::Body,
                                tr("Then connect this computer to the port labeled <b>PC</b> with a USB-C cable."),
                                page));
    layout->addSpacing(10);
    m_poweredCheck = new QCheckBox(tr("I've powered my transmitter and connected it to this PC."), page);
    m_poweredCheck->setObjectName(QStringLiteral("poweredCheck"));
    connect(m_poweredCheck, &QCheckBox::toggled, this, &OnboardingWizard::refreshFooter);
    layout->addWidget(m_poweredCheck);
    layout->addStretch(1);
}

void OnboardingWizard::buildConnectTransmitterPage(QWidget *page)
{
    QVBoxLayout *layout = makePage(page, 14, tr("Connect to your transmitter"),
                                   tr("Pick the USB port your transmitter is on. You're in <b>PC Mode</b> because "
                                      "you're using the desktop app \u2014 if you want to run without a PC, use Handle "
                                      "Mode in the mobile app instead."));
    auto *row = new QHBoxLayout;
    m_portCombo = new QComboBox(page);
    m_portCombo->setObjectName(QStringLiteral("guidePortCombo"));
    m_portCombo->setMinimumWidth(260);
    row->addWidget(m_portCombo, 1);
    connect(m_portCombo, &QComboBox::currentIndexChanged, this, &OnboardingWizard::refreshConnectButtons);
    auto *refresh = new QPushButton(tr("Refresh"), page);
    refresh->setObjectName(QStringLiteral("guideRefreshPortsBtn"));
    connect(refresh, &QPushButton::clicked, this, &OnboardingWizard::onRefreshPorts);
    row->addWidget(refresh);
    m_transmitterButton = makeConnectButton(page, true);
    m_transmitterButton->setObjectName(QStringLiteral("guideTransmitterBtn"));
    connect(m_transmitterButton, &QPushButton::clicked, this, &OnboardingWizard::onConnectTransmitterClicked);
    row->addWidget(m_transmitterButton);
    layout->addLayout(row);
    m_transmitterStatus = makeLabel(LabelKind::Note, tr("Not connected."), page);
    m_transmitterStatus->setObjectName(QStringLiteral("guideTransmitterStatus"));
    layout->addWidget(m_transmitterStatus);
    layout->addStretch(1);
}

void OnboardingWizard::buildConnectControlsPage(QWidget *page)
{
    QVBoxLayout *layout = makePage(page, 12, tr("Connect your wheel and pedals"),
                                   tr("Plug your wheel and pedals into this computer. Pedals are <b>required</b>. "
                                      "Shifter is optional."));
    layout->addWidget(buildDeviceRow(tr("WHEEL"), &m_wheelCombo, &m_wheelButton, &m_wheelStatus,
                                     &OnboardingWizard::onConnectWheelClicked));
    layout->addWidget(buildDeviceRow(tr("PEDALS"), &m_pedalsCombo, &m_pedalsButton, &m_pedalsStatus,
                                     &OnboardingWizard::onConnectPedalsClicked));
    layout->addWidget(buildDeviceRow(tr("SHIFTER (optional)"), &m_shifterCombo, &m_shifterButton, &m_shifterStatus,
                                     &OnboardingWizard::onConnectShifterClicked));
    m_wheelCombo->setObjectName(QStringLiteral("guideWheelCombo"));
    m_wheelButton->setObjectName(QStringLiteral("guideWheelBtn"));
    m_wheelStatus->setObjectName(QStringLiteral("guideWheelStatus"));
    m_pedalsCombo->setObjectName(QStringLiteral("guidePedalsCombo"));
    m_pedalsButton->setObjectName(QStringLiteral("guidePedalsBtn"));
    m_pedalsStatus->setObjectName(QStringLiteral("guidePedalsStatus"));
    m_shifterCombo->setObjectName(QStringLiteral("guideShifterCombo"));
    m_shifterButton->setObjectName(QStringLiteral("guideShifterBtn"));
    m_shifterStatus->setObjectName(QStringLiteral("guideShifterStatus"));
    auto *refresh = new QPushButton(tr("Refresh device list"), page);
    refresh->setObjectName(QStringLiteral("guideRefreshDevicesBtn"));
    setButtonStyle(refresh, "ghost");
    connect(refresh, &QPushButton::clicked, this, &OnboardingWizard::onRefreshDevices);
    layout->addWidget(refresh, 0, Qt::AlignLeft);
    layout->addStretch(1);
}

QFrame *OnboardingWizard::buildDeviceRow(const QString &title, QComboBox **combo, QPushButton **button,
                                         QLabel **status, void (OnboardingWizard::*connectSlot)())
{
    // Made on the page: a filled card moved there would be restyled whole.
    QFrame *card = makeCard(m_pageStack->widget(ControlsPage), 8);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(6);
    auto *caption = new QLabel(title, card);
    caption->setStyleSheet(QLatin1String(CaptionStyle));
    layout->addWidget(caption);
    auto *row = new QHBoxLayout;
    *combo = new QComboBox(card);
    (*combo)->setMinimumWidth(220);
    connect(*combo, &QComboBox::currentIndexChanged, this, &OnboardingWizard::refreshConnectButtons);
    row->addWidget(*combo, 1);
    *button = makeConnectButton(card, false);
    connect(*button, &QPushButton::clicked, this, connectSlot);
    row->addWidget(*button);
    layout->addLayout(row);
    *status = makeLabel(LabelKind::Note, tr("Not connected."), card);
    layout->addWidget(*status);
    return card;
}

void OnboardingWizard::buildMapControlsPage(QWidget *page)
{
    QVBoxLayout *layout = makePage(page, 14, tr("Map your controls"),
                                   tr("We've picked a preset that matches your wheel. Defaults work for most setups "
                                      "\u2014 you can fine-tune later from the Axis Config button."));
    m_presetLabel = makeLabel(LabelKind::Note, QString(), page);
    m_presetLabel->setObjectName(QStringLiteral("presetLabel"));
    layout->addWidget(m_presetLabel);
    auto *row = new QHBoxLayout;
    auto *customize = new QPushButton(tr("Customize\u2026"), page);
    customize->setObjectName(QStringLiteral("customizeBtn"));
    connect(customize, &QPushButton::clicked, this, &OnboardingWizard::requestOpenAxisConfig);
    row->addWidget(customize);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
}

void OnboardingWizard::buildCheckInputsPage(QWidget *page)
{
    QVBoxLayout *layout = makePage(page, 12, tr("Check your inputs"),
                                   tr("Move each control. The bars should respond. This catches a misconfigured "
                                      "throttle or swapped pedals before the car moves."));
    addBarRow(layout, tr("Steering"), true, &m_steeringBar);
    addBarRow(layout, tr("Throttle"), false, &m_throttleBar);
    addBarRow(layout, tr("Brake"), false, &m_brakeBar);
    addBarRow(layout, tr("Clutch"), false, &m_clutchBar);
    m_steeringBar->setObjectName(QStringLiteral("steeringBar"));
    m_throttleBar->setObjectName(QStringLiteral("throttleBar"));
    m_brakeBar->setObjectName(QStringLiteral("brakeBar"));
    m_clutchBar->setObjectName(QStringLiteral("clutchBar"));
    layout->addSpacing(6);
    layout->addWidget(makeLabel(LabelKind::Note,
                                tr("A pedal verification check runs automatically every time you hit Start "
                                   "Transmission, so you don't need to confirm anything here."),
                                page));
    layout->addStretch(1);
}

void OnboardingWizard::addBarRow(QVBoxLayout *layout, const QString &caption, bool isSigned, QProgressBar **bar)
{
    QWidget *page = layout->parentWidget();
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(caption, page);
    label->setFixedWidth(90);
    label->setStyleSheet(QLatin1String(CaptionStyle));
    row->addWidget(label);
    *bar = new QProgressBar(page);
    (*bar)->setFixedHeight(10);
    (*bar)->setTextVisible(false);
    (*bar)->setRange(isSigned ? -1000 : 0, 1000);
    (*bar)->setValue(0);
    row->addWidget(*bar, 1);
    layout->addLayout(row);
}

void OnboardingWizard::buildDonePage(QWidget *page)
{
    QVBoxLayout *layout = makePage(page, 14, tr("You're set"),
                                   tr("You're ready. Hit Start Transmission whenever you want to drive \u2014 the "
                                      "pedal safety check runs on every start so you can relax about it."));
    layout->addWidget(
        makeLabel(LabelKind::Note, tr("You can reopen this guide any time from the Setup guide link."), page));
    layout->addStretch(1);
}

bool OnboardingWizard::canAdvance() const
{
    if (!m_controller)
        return false;
    switch (m_pageStack->currentIndex()) {
    case PowerOnPage:
        return m_poweredCheck->isChecked();
    case TransmitterPage:
        // An open port may be the wrong one: only the transmitter's answer says it is not.
        return m_controller->isTransmitterAnswered();
    case ControlsPage:
        // The shifter is optional.
        return m_controller->isWheelBaseConnected() && m_controller->isPedalsConnected();
    default:
        return true;
    }
}

void OnboardingWizard::showPage(int index)
{
    m_pages->ensure(m_pageParts[size_t(index)]);
    if (index == TransmitterPage)
        m_pages->ensure(m_portsPart);
    else if (index == ControlsPage)
        m_pages->ensure(m_devicesPart);
    m_pageStack->setCurrentIndex(index);
    refreshFooter();
    refreshStepLabel();
}

void OnboardingWizard::refreshFooter()
{
    const int index = m_pageStack->currentIndex();
    const bool back = index > SafetyPage;
    const bool advance = canAdvance();
    // A button disabled under the keyboard's focus passes it on down the chain, and Space would
    // press what comes there: Next's goes to the step's first control (never Back), Back's to Next
    // (enabled first, as a disabled button takes no focus; Return would skip the guide).
    if (!advance && m_nextButton->hasFocus())
        focusFirstControl();
    m_nextButton->setText(index == DonePage ? tr("Start Transmission") : tr("Next"));
    m_nextButton->setEnabled(advance);
    if (!back && m_backButton->hasFocus())
        m_nextButton->setFocus(Qt::TabFocusReason);
    m_backButton->setEnabled(back);
    m_skipButton->setVisible(index != DonePage);
}

void OnboardingWizard::focusFirstControl()
{
    QWidget *page = m_pageStack->currentWidget();
    for (QWidget *widget = page->nextInFocusChain(); widget != page; widget = widget->nextInFocusChain()) {
        if (page->isAncestorOf(widget) && widget->isVisible() && widget->isEnabled()
            && (widget->focusPolicy() & Qt::TabFocus)) {
            widget->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void OnboardingWizard::refreshStepLabel()
{
    m_stepLabel->setText(tr("Step %1 of %2").arg(m_pageStack->currentIndex() + 1).arg(PageCount));
}

void OnboardingWizard::onNext()
{
    const int index = m_pageStack->currentIndex();
    if (index == DonePage) {
        emit requestStartTransmission();
        accept();
        return;
    }
    // The gate again: the button's state may be up to a tick old.
    if (canAdvance())
        showPage(index + 1);
}

void OnboardingWizard::onBack()
{
    const int index = m_pageStack->currentIndex();
    if (index > SafetyPage)
        showPage(index - 1);
}

void OnboardingWizard::onSkip()
{
    reject();
}

void OnboardingWizard::onTick()
{
    // The statuses are those of the later steps: read once all are there.
    if (!m_controller || !m_pages->isFinished())
        return;
    CorvaneController *c = m_controller;

    const bool transmitter = c->isSerialConnected();
    const CorvaneController::TransmitterStatus tx = c->transmitterStatus();
    if (!tx.hint.isEmpty())
        showStatus(m_transmitterStatus, WarningStyle, tx.hint);
    else if (tx.answer == CorvaneController::TransmitterAnswered)
        showStatus(m_transmitterStatus, ConnectedStyle, tr("Connected on %1.").arg(c->serialPortName()));
    else
        showStatus(m_transmitterStatus, NoteStyle, tr("Not connected."));
    m_transmitterButton->setText(transmitter ? tr("Disconnect") : tr("Connect"));

    const struct
    {
        const DeviceRole &role;
        QLabel *status;
        QPushButton *button;
    } rows[] = {{WheelRole, m_wheelStatus, m_wheelButton},
                {PedalsRole, m_pedalsStatus, m_pedalsButton},
                {ShifterRole, m_shifterStatus, m_shifterButton}};
    for (const auto &row : rows) {
        const bool connected = (c->*row.role.isConnected)();
        showStatus(row.status, connected ? ConnectedStyle : NoteStyle,
                   connected ? tr("Connected \u2014 %1").arg((c->*row.role.name)()) : tr("Not connected."));
        row.button->setText(connected ? tr("Disconnect") : tr("Connect"));
    }
    refreshConnectButtons();

    QString preset;
    if (c->isWheelBaseConnected() && c->wheelBase())
        preset = c->wheelBase()->axisMapping().presetName;
    m_presetLabel->setText(tr("Current preset: %1").arg(preset.isEmpty() ? tr("defaults") : preset));

    m_steeringBar->setValue(int(std::clamp(c->steering(), -1.0f, 1.0f) * 1000.0f));
    // Pedals read -1 released .. 1 pressed: the bar shows the share of the travel, as the pedal check does.
    m_throttleBar->setValue(int(pedalLevel(c->throttle()) * 1000.0f));
    m_brakeBar->setValue(int(pedalLevel(c->brake()) * 1000.0f));
    m_clutchBar->setValue(int(pedalLevel(c->clutch()) * 1000.0f));

    refreshFooter();
}

void OnboardingWizard::onConnectTransmitterClicked()
{
    if (!m_controller)
        return;
    if (m_controller->isSerialConnected()) {
        m_controller->disconnectTransmitter();
        return;
    }
    const QString port = m_portCombo->currentData().toString();
    if (port.isEmpty())
        return;
    if (!m_controller->connectTransmitter(port, TransmitterBaudRate))
        QMessageBox::warning(this, tr("Couldn't connect"),
                             tr("Couldn't open %1. Check that the transmitter is plugged in and on.").arg(port));
}

void OnboardingWizard::onRefreshPorts()
{
    if (m_portCombo)
        fillPorts(CorvaneController::availableSerialPorts());
}

void OnboardingWizard::fillPorts(const QList<SerialPortEntry> &ports)
{
    if (!m_controller || !m_portCombo)
        return;
    ostra::PortListSetup setup;
    setup.prompt = tr("Choose QOR Transmitter");
    setup.empty = tr("(no USB ports found)");
    setup.connected = m_controller->isSerialConnected() ? m_controller->serialPortName() : QString();
    setup.keep = m_portCombo->currentData().toString();
    setup.held = m_controller->heldPorts();
    setup.text = [](const SerialPortEntry &port) { return ostra::portText(port, QStringLiteral(" \u2014 ")); };
    {
        // The emptied list would disable Connect for a moment, and a disabled button loses the
        // keyboard's focus: after Disconnect, Space would press Back.
        const QSignalBlocker blocker(m_portCombo);
        m_portCombo->setEnabled(ostra::fillPortList(m_portCombo, ports, setup) > 0);
    }
    refreshConnectButtons();
}

void OnboardingWizard::onConnectWheelClicked()
{
    if (m_controller && !toggleRole(m_controller, WheelRole, m_wheelCombo))
        QMessageBox::warning(this, tr("Couldn't connect"),
                             tr("Couldn't open the selected wheel. Try refreshing or picking a different device."));
}

void OnboardingWizard::onConnectPedalsClicked()
{
    if (m_controller && !toggleRole(m_controller, PedalsRole, m_pedalsCombo))
        QMessageBox::warning(this, tr("Couldn't connect"), tr("Couldn't open the selected pedals."));
}

void OnboardingWizard::onConnectShifterClicked()
{
    if (m_controller && !toggleRole(m_controller, ShifterRole, m_shifterCombo))
        QMessageBox::warning(this, tr("Couldn't connect"), tr("Couldn't open the selected shifter."));
}

void OnboardingWizard::onRefreshDevices()
{
    if (!m_controller || !m_wheelCombo)
        return;
    const QList<InputDeviceInfo> devices = m_controller->availableInputDevices();
    const struct
    {
        QComboBox *combo;
        const DeviceRole &role;
    } rows[] = {{m_wheelCombo, WheelRole}, {m_pedalsCombo, PedalsRole}, {m_shifterCombo, ShifterRole}};
    // Each role shows the device it has; the others a device made for them that no role has
    // taken, or nothing.
    QList<int> taken;
    for (const auto &row : rows) {
        row.combo->clear();
        if (devices.isEmpty()) {
            row.combo->addItem(tr("(no input devices found)"), -1);
            row.combo->setEnabled(false);
            continue;
        }
        for (const InputDeviceInfo &info : devices)
            row.combo->addItem(info.productName, info.index);
        row.combo->setEnabled(true);
        row.combo->setPlaceholderText(tr(row.role.placeholder));
        row.combo->setCurrentIndex(-1);
        if ((m_controller->*row.role.isConnected)()) {
            const QString name = (m_controller->*row.role.name)();
            row.combo->setCurrentIndex(row.combo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
            taken.append(row.combo->currentIndex());
        }
    }
    for (const auto &row : rows) {
        for (int item = 0; row.combo->currentIndex() < 0 && item < devices.size(); ++item) {
            if (!taken.contains(item) && fitsRole(devices.at(item), row.role)) {
                row.combo->setCurrentIndex(item);
                taken.append(item);
            }
        }
    }
    refreshConnectButtons();
}

// A Connect button that could do nothing is not offered: its list holds no device or none is
// chosen, or only the "Choose…" prompt of a port list without a USB serial port.
void OnboardingWizard::refreshConnectButtons()
{
    if (!m_controller || !m_transmitterButton)
        return;
    m_transmitterButton->setEnabled(m_controller->isSerialConnected() || ostra::portChosen(m_portCombo));
    if (!m_wheelButton)
        return;
    const struct
    {
        bool (CorvaneController::*isConnected)() const;
        QComboBox *combo;
        QPushButton *button;
    } rows[] = {{WheelRole.isConnected, m_wheelCombo, m_wheelButton},
                {PedalsRole.isConnected, m_pedalsCombo, m_pedalsButton},
                {ShifterRole.isConnected, m_shifterCombo, m_shifterButton}};
    for (const auto &row : rows) {
        const QVariant device = row.combo->currentData();
        row.button->setEnabled((m_controller->*row.isConnected)() || (device.isValid() && device.toInt() >= 0));
    }
}

} // namespace corvane
