#include "receiver/radiocalibrationdialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "bridge/receiverconfigmanager.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/portlist.h"
#include "ostraui/theme.h"

namespace corvane {

using ostra::applyDialogChrome;
using ostra::fillPortList;
using ostra::makeButton;
using ostra::portChosen;
using ostra::PortListSetup;
using ostra::portsListed;
using ostra::setStyleState;
using ostra::uiFont;

namespace {

constexpr int kBaudRate = 115200;
constexpr int kTickMs = 1000;
constexpr int kAdvanceMs = 1500;
const char *const kAmber = "#D98A00";
const char *const kGreen = "#12A66A";
const char *const kDanger = "#E5262B";
const QString kGreyStatus = QStringLiteral("color: #5B6675; font-size: 9pt; background: transparent; border: none;");
const QString kGreenStatus = QStringLiteral("color: #12A66A; font-size: 9pt; background: transparent; border: none;");
const QString kErrorStatus = QStringLiteral("color: #E5262B; font-size: 9pt; background: transparent; border: none;");

QLabel *centredLabel(const QString &text, QWidget *parent, bool wrap = false)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(wrap);
    return label;
}

} // namespace

RadioCalibrationDialog::RadioCalibrationDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Radio Calibration Wizard"));
    setMinimumSize(480, 360);
    setModal(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setSpacing(16);

    m_stepTitle = centredLabel(QString(), this);
    m_stepTitle->setStyleSheet(QStringLiteral("color: #8A94A3; font-size: 12px;"));
    layout->addWidget(m_stepTitle);
    layout->addWidget(buildConnectCard());

    m_stack = new QStackedWidget(this);
    m_stack->addWidget(buildTextPage(
        tr("Radio Calibration"),
        tr("This wizard will help you calibrate the QOR Receiver with your radio.\n\nBefore continuing, make sure:\n\n"
           "1. Plug the QOR Receiver into your computer and connect it using the card above\n"
           "2. Your original radio transmitter is turned ON and bound to your original receiver\n"
           "3. You have servo wires ready to bridge your original receiver to the QOR Receiver"),
        true, &m_introNextHint));
    m_introNextHint->setText(tr("Press 'Next' to continue."));
    m_stack->addWidget(buildTextPage(
        tr("Connect Calibration Wires"),
        tr("Set up the calibration wiring:\n\n"
           "1. Disconnect the steering servo and ESC from the QOR Receiver's CH1 and CH2 pins.\n\n"
           "2. Using a servo wire, connect your original receiver's CH1 (steering) output to the QOR Receiver's CH1 pin.\n\n"
           "3. Using a servo wire, connect your original receiver's CH2 (throttle) output to the QOR Receiver's CH2 pin.\n\n"
           "4. Turn ON your original radio transmitter.\n\n"
           "When you're done, press 'Next' to start calibration."),
        true));
    const QString measureTitles[6] = {tr("Throttle Calibration - Step 1/3"), tr("Throttle Calibration - Step 2/3"),
                                      tr("Throttle Calibration - Step 3/3"), tr("Steering Calibration - Step 1/3"),
                                      tr("Steering Calibration - Step 2/3"), tr("Steering Calibration - Step 3/3")};
    const QString instructions[6] = {
        tr("Press and hold FULL THROTTLE (max gas).\n\nKeep it steady for 5 seconds."),
        tr("Release the throttle completely.\n\nLeave it at NEUTRAL position for 5 seconds."),
        tr("Press and hold FULL REVERSE (max brake).\n\nKeep it steady for 5 seconds."),
        tr("Turn the steering wheel FULL LEFT.\n\nKeep it steady for 5 seconds."),
        tr("Release the steering wheel to CENTER position.\n\nKeep it steady for 5 seconds."),
        tr("Turn the steering wheel FULL RIGHT.\n\nKeep it steady for 5 seconds.")};
    for (int i = 0; i < 6; ++i)
        m_stack->addWidget(buildMeasurePage(measureTitles[i], instructions[i], m_pages[size_t(i)]));
    m_stack->addWidget(buildTextPage(
        tr("Calibration Complete!"),
        tr("Congratulations!\n\nThe QOR Transmitter and QOR Receiver are now successfully calibrated with your radio.\n\n"
           "The calibration values have been saved to your profile.\n\n"
           "You can now disconnect the calibration wires and reconnect your original receiver wiring.\n\n"
           "Press 'Finish' to close this wizard."),
        false, &m_summary));
    m_summary->setStyleSheet(QStringLiteral("color: #12A66A; font-family: 'Geist Mono'; font-size: 12px;"));
    layout->addWidget(m_stack, 1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    m_backButton = makeButton(tr("Back"), false, this);
    m_nextButton = makeButton(tr("Next"), true, this);
    m_nextButton->setObjectName(QStringLiteral("nextBtn"));
    buttons->addWidget(m_backButton);
    buttons->addStretch();
    buttons->addWidget(m_nextButton);
    layout->addLayout(buttons);
    connect(m_backButton, &QPushButton::clicked, this, &RadioCalibrationDialog::onPrevStep);
    connect(m_nextButton, &QPushButton::clicked, this, &RadioCalibrationDialog::onNextStep);

    connect(&m_countdownTimer, &QTimer::timeout, this, &RadioCalibrationDialog::onCountdownTick);
    m_advanceTimer.setSingleShot(true);
    m_advanceTimer.setInterval(kAdvanceMs);
    m_countdownTimer.setTimerType(Qt::PreciseTimer);
    m_advanceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_advanceTimer, &QTimer::timeout, this, &RadioCalibrationDialog::onAdvanceAfterRecord);
    connect(controller, &CorvaneController::receiverDataReceived, this, &RadioCalibrationDialog::onReceiverData);
    // The list follows the receiver also when it is connected elsewhere, on a port that appeared
    // after the list was filled.
    connect(controller, &CorvaneController::receiverConnectedChanged, this, &RadioCalibrationDialog::onReceiverRefreshPorts);
    applyDialogChrome(this, QString());
    // Room for the longest instructions without clipping their wrapped lines.
    resize(560, 720);

    onReceiverRefreshPorts();
    refreshConnectCard();
    refreshStep();
}

RadioCalibrationDialog::~RadioCalibrationDialog()
{
    if (m_portOpenedHere && m_controller->isReceiverConnected())
        m_controller->disconnectReceiver();
}

QWidget *RadioCalibrationDialog::buildConnectCard()
{
    auto *card = new QFrame(this);
    card->setObjectName(QStringLiteral("receiverConnectCard"));
    card->setStyleSheet(QStringLiteral(
        "QFrame#receiverConnectCard { background: #FFFFFF; border: 1px solid #E6EAF0; border-radius: 8px; }"));
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(8);
    auto *heading = new QLabel(tr("CONNECT QOR RECEIVER"), card);
    heading->setStyleSheet(QStringLiteral("color: #0F1720; font-size: 9pt; font-weight: bold; letter-spacing: 1px; "
                                          "background: transparent; border: none;"));
    layout->addWidget(heading);

    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    m_portCombo = new QComboBox(card);
    auto *refresh = new QPushButton(tr("Refresh"), card);
    refresh->setCursor(Qt::PointingHandCursor);
    m_connectButton = makeButton(tr("Connect"), true, card);
    row->addWidget(m_portCombo, 1);
    row->addWidget(refresh);
    row->addWidget(m_connectButton);
    layout->addLayout(row);
    m_connectStatus = new QLabel(card);
    m_connectStatus->setWordWrap(true);
    m_connectStatus->setStyleSheet(kGreyStatus);
    layout->addWidget(m_connectStatus);
    connect(refresh, &QPushButton::clicked, this, &RadioCalibrationDialog::onReceiverRefreshPorts);
    connect(m_connectButton, &QPushButton::clicked, this, &RadioCalibrationDialog::onReceiverConnectClicked);
    connect(m_portCombo, &QComboBox::currentIndexChanged, this, [this] {
        m_connectButton->setEnabled(m_controller->isReceiverConnected() || portChosen(m_portCombo));
    });
    return card;
}

QWidget *RadioCalibrationDialog::buildTextPage(const QString &title, const QString &text, bool list, QLabel **extra)
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setSpacing(16);
    auto *titleLabel = centredLabel(title, page);
    titleLabel->setFont(uiFont(18, 600));
    layout->addWidget(titleLabel);
    QLabel *body = centredLabel(text, page, true);
    if (list)
        body->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(body);
    if (extra) {
        *extra = centredLabel(QString(), page, true);
        layout->addWidget(*extra);
    }
    layout->addStretch();
    return page;
}

QWidget *RadioCalibrationDialog::buildMeasurePage(const QString &title, const QString &instruction, MeasurePage &page)
{
    auto *widget = new QWidget(this);
    auto *layout = new QVBoxLayout(widget);
    layout->setSpacing(16);
    auto *titleLabel = centredLabel(title, widget);
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    titleLabel->setFont(uiFont(18, 600));
    auto *instructionLabel = centredLabel(instruction, widget, true);
    instructionLabel->setObjectName(QStringLiteral("instructionLabel"));
    page.value = centredLabel(QStringLiteral("\u2014"), widget);
    page.value->setObjectName(QStringLiteral("valueLabel"));
    page.value->setFont(uiFont(16, 600));
    page.status = centredLabel(tr("Waiting for input..."), widget, true);
    page.status->setObjectName(QStringLiteral("statusLabel"));
    page.status->setStyleSheet(QStringLiteral("color: #5B6675;"));
    page.countdown = centredLabel(QString(), widget);
    page.countdown->setObjectName(QStringLiteral("countdownLabel"));
    page.progress = new QProgressBar(widget);
    page.progress->setRange(0, ReceiverCalibrationLine::HoldSeconds);
    page.progress->setValue(0);
    page.progress->setTextVisible(false);
    layout->addWidget(titleLabel);
    layout->addWidget(instructionLabel);
    layout->addStretch();
    layout->addWidget(page.value);
    layout->addWidget(page.status);
    layout->addWidget(page.countdown);
    layout->addWidget(page.progress);
    layout->addStretch();
    return widget;
}

void RadioCalibrationDialog::refreshStep()
{
    const bool open = m_controller->isReceiverConnected();
    m_backButton->setEnabled(m_step >= WiringStep && m_step <= LastMeasureStep);
    if (m_step == CompleteStep) {
        m_nextButton->setText(tr("Finish"));
        m_nextButton->setEnabled(true);
    } else if (m_step >= FirstMeasureStep) {
        m_nextButton->setText(tr("Start"));
        m_nextButton->setEnabled(open && !m_measuring);
    } else {
        m_nextButton->setText(tr("Next"));
        m_nextButton->setEnabled(open);
    }
    // Only ask for "Next" when it can be pressed; until then step 1 of the list says what to do.
    m_introNextHint->setVisible(m_nextButton->isEnabled());
    QString title;
    if (m_step == IntroStep)
        title = tr("Introduction");
    else if (m_step == WiringStep)
        title = tr("Step 1 of 8 - Setup");
    else if (m_step <= 4)
        title = tr("Step %1 of 8 - Throttle Calibration").arg(m_step);
    else if (m_step <= LastMeasureStep)
        title = tr("Step %1 of 8 - Steering Calibration").arg(m_step);
    else
        title = tr("Complete!");
    m_stepTitle->setText(title);
}

void RadioCalibrationDialog::refreshConnectCard()
{
    const bool open = m_controller->isReceiverConnected();
    m_connectButton->setText(open ? tr("Disconnect") : tr("Connect"));
    setStyleState(m_connectButton, "primary", !open);
    setStyleState(m_connectButton, "danger", open);
    if (open) {
        m_connectStatus->setText(tr("Connected on %1").arg(m_controller->receiverPortName()));
        m_connectStatus->setStyleSheet(kGreenStatus);
    } else {
        const bool anyPort = !m_portCombo->itemData(0).toString().isEmpty();
        m_connectStatus->setText(anyPort ? tr("Plug the receiver into USB, pick its port, and press Connect.")
                                         : tr("Plug the receiver into USB, then press Refresh."));
        m_connectStatus->setStyleSheet(kGreyStatus);
    }
    // The "Choose…" prompt of a list without a USB serial port leads it; its on-board ports stay pickable.
    m_portCombo->setEnabled(!open && portsListed(m_portCombo));
    m_connectButton->setEnabled(open || portChosen(m_portCombo));
    refreshStep();
}

void RadioCalibrationDialog::showStep(int step)
{
    m_countdownTimer.stop();
    m_advanceTimer.stop();
    m_measuring = false;
    m_line.stopHold();
    m_step = step;
    m_stack->setCurrentIndex(step);
    refreshStep();
}

void RadioCalibrationDialog::onNextStep()
{
    if (m_step == CompleteStep) {
        accept();
        return;
    }
    if (m_step >= FirstMeasureStep) {
        if (!m_measuring)
            onRetry();
        return;
    }
    if (m_step == WiringStep && !m_calibrationEntered) {
        m_controller->receiverWrite(ReceiverCalibrationLine::enterCommand());
        m_calibrationEntered = true;
    }
    showStep(m_step + 1);
}

void RadioCalibrationDialog::onPrevStep()
{
    if (m_step > IntroStep)
        showStep(m_step - 1);
}

void RadioCalibrationDialog::setStatus(const QString &text, const char *color)
{
    MeasurePage &page = currentPage();
    page.status->setText(text);
    page.status->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(color)));
}

void RadioCalibrationDialog::onRetry()
{
    if (m_step < FirstMeasureStep || m_step > LastMeasureStep)
        return;
    m_measuring = true;
    m_countdown = ReceiverCalibrationLine::HoldSeconds;
    m_line.startHold(measuredChannel());
    setStatus(tr("Hold steady..."), kAmber);
    currentPage().countdown->setText(QString::number(m_countdown));
    currentPage().progress->setValue(0);
    m_nextButton->setEnabled(false);
    m_nextButton->setText(tr("Calibrating..."));
    m_backButton->setEnabled(false);
    m_countdownTimer.start(kTickMs);
}

void RadioCalibrationDialog::onReceiverData(const QString &line)
{
    m_line.addLine(line);
    if (m_step < FirstMeasureStep || m_step > LastMeasureStep)
        return;
    const int channel = measuredChannel();
    currentPage().value->setText(tr("%1 us (CRSF: %2)").arg(m_line.channelUs(channel)).arg(m_line.channelCrsf(channel)));
}

void RadioCalibrationDialog::onCountdownTick()
{
    if (!m_measuring)
        return;
    MeasurePage &page = currentPage();
    if (!m_line.holdSteady()) {
        m_countdown = ReceiverCalibrationLine::HoldSeconds;
        m_line.startHold(measuredChannel());
        setStatus(tr("Hold steady! Input moving too much..."), kAmber);
        page.countdown->setText(QString::number(m_countdown));
        page.progress->setValue(0);
        return;
    }
    setStatus(tr("Good! Keep holding..."), kGreen);
    --m_countdown;
    page.countdown->setText(QString::number(m_countdown));
    page.progress->setValue(ReceiverCalibrationLine::HoldSeconds - m_countdown);
    if (m_countdown <= 0)
        recordValue();
}

void RadioCalibrationDialog::recordValue()
{
    m_countdownTimer.stop();
    m_measuring = false;
    MeasurePage &page = currentPage();
    const int channel = measuredChannel();
    // A receiver that never reported the channel during the hold gives no value to keep.
    if (!m_line.heldChannelReported()) {
        m_line.stopHold();
        setStatus(tr("No signal on CH%1 — check the wiring").arg(channel), kDanger);
        page.countdown->clear();
        page.progress->setValue(0);
        refreshStep();
        return;
    }
    m_line.stopHold();
    const int value = m_line.channelCrsf(channel);
    m_results[size_t(m_step - FirstMeasureStep)] = value;
    setStatus(tr("Success! Value recorded: CRSF %1").arg(value), kGreen);
    page.countdown->setText(tr("OK"));
    m_advanceTimer.start();
}

void RadioCalibrationDialog::onAdvanceAfterRecord()
{
    if (m_step == CompleteStep)
        return;
    showStep(m_step + 1);
    if (m_step != CompleteStep)
        return;
    if (m_calibrationEntered) {
        m_controller->receiverWrite(ReceiverCalibrationLine::failsafeCommand(m_results[4], m_results[1]));
        leaveCalibrationMode();
    }
    m_summary->setText(tr("Throttle: Max=%1 | Neutral=%2 | Reverse=%3\nSteering: Left=%4 | Center=%5 | Right=%6")
                           .arg(m_results[0])
                           .arg(m_results[1])
                           .arg(m_results[2])
                           .arg(m_results[3])
                           .arg(m_results[4])
                           .arg(m_results[5]));
}

void RadioCalibrationDialog::leaveCalibrationMode()
{
    if (!m_calibrationEntered)
        return;
    m_controller->receiverWrite(ReceiverCalibrationLine::exitCommand());
    m_calibrationEntered = false;
}

void RadioCalibrationDialog::closeEvent(QCloseEvent *event)
{
    leaveCalibrationMode();
    QDialog::closeEvent(event);
}

void RadioCalibrationDialog::reject()
{
    leaveCalibrationMode();
    QDialog::reject();
}

void RadioCalibrationDialog::onReceiverConnectClicked()
{
    if (m_controller->isReceiverConnected()) {
        m_controller->disconnectReceiver();
        m_portOpenedHere = false;
        refreshConnectCard();
        return;
    }
    const QString port = m_portCombo->currentData().toString();
    if (port.isEmpty()) {
        m_connectStatus->setText(tr("Select a serial port first."));
        m_connectStatus->setStyleSheet(kErrorStatus);
        return;
    }
    QString error;
    if (!m_controller->connectReceiver(port, kBaudRate, &error)) {
        m_connectStatus->setText(tr("Could not connect to %1. %2").arg(port, error).trimmed());
        m_connectStatus->setStyleSheet(kErrorStatus);
        return;
    }
    m_portOpenedHere = true;
    m_controller->receiverConfigManager()->resync();
    refreshConnectCard();
}

void RadioCalibrationDialog::onReceiverRefreshPorts()
{
    PortListSetup setup;
    setup.prompt = tr("Choose QOR Receiver");
    setup.empty = tr("No serial ports detected");
    setup.connected = m_controller->isReceiverConnected() ? m_controller->receiverPortName() : QString();
    setup.keep = m_portCombo->currentData().toString();
    setup.held = m_controller->heldPorts();
    fillPortList(m_portCombo, CorvaneController::availableSerialPorts(), setup);
    refreshConnectCard();
}

} // namespace corvane
