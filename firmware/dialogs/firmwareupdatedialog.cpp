#include "firmware/dialogs/firmwareupdatedialog.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/portlist.h"
#include "ostraui/theme.h"

namespace corvane {

namespace {

const char HintGrey[] = "#5B6675";
const char HintRed[] = "#E5262B";
const char HintGreen[] = "#12A66A";

// One numbered row of the instruction table; `**word**` marks a bold word.
QString infoRow(int number, const QString &text)
{
    QString cell = text.toHtmlEscaped();
    bool open = true;
    for (int at = cell.indexOf(QLatin1String("**")); at >= 0; at = cell.indexOf(QLatin1String("**"))) {
        cell.replace(at, 2, open ? QStringLiteral("<b style='color:#0F1720;'>") : QStringLiteral("</b>"));
        open = !open;
    }
    const QString numberStyle = number == 1
                                    ? QStringLiteral("color:#0F1720; font-weight:bold; vertical-align:top; padding-right:8px;")
                                    : QStringLiteral("color:#0F1720; font-weight:bold; vertical-align:top;");
    return QStringLiteral("<tr><td style='%1'>%2.</td><td>%3</td></tr>").arg(numberStyle).arg(number).arg(cell);
}

} // namespace

FirmwareUpdateDialog::FirmwareUpdateDialog(CorvaneController *controller, FirmwareTarget target, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_target(target)
{
    setWindowTitle(tr("%1 Firmware Update").arg(deviceName()));
    setMinimumSize(440, 320);
    setModal(true);

    m_procedure = new FirmwareUpdateProcedure(controller, FirmwareUpdateProcedure::Options(), this);
    m_procedure->setTarget(target);
    buildUi();
    connect(m_procedure, &FirmwareUpdateProcedure::report, this, &FirmwareUpdateDialog::onReport);
    // Asked from the event loop, not from inside the step that asks.
    connect(m_procedure, &FirmwareUpdateProcedure::questionAsked, this, &FirmwareUpdateDialog::onQuestion,
            Qt::QueuedConnection);
    connect(m_procedure, &FirmwareUpdateProcedure::stateChanged, this, &FirmwareUpdateDialog::onStateChanged);
    // Until a run starts, the receiver's list follows it also when it is connected elsewhere, on a
    // port that appeared after the list was filled; a run opens and closes the port itself.
    connect(controller, &CorvaneController::receiverConnectedChanged, this, [this] {
        if (m_receiverCard && m_receiverCard->isVisibleTo(this))
            onReceiverRefreshPorts();
    });

    ostra::applyDialogChrome(this, QString());
}

FirmwareUpdateDialog::~FirmwareUpdateDialog()
{
    // The run stops with the procedure, a child; the receiver's port goes only if this dialog opened it.
    delete m_procedure;
    m_procedure = nullptr;
    if (m_openedReceiver && m_controller->isReceiverConnected())
        m_controller->disconnectReceiver();
}

FirmwareUpdateState FirmwareUpdateDialog::state() const
{
    return m_procedure->state();
}

QString FirmwareUpdateDialog::deviceName() const
{
    switch (m_target) {
    case FirmwareReceiver:
        return tr("QOR Receiver");
    case FirmwareTransmitterSoftware:
        return tr("QOR Transmitter Software");
    case FirmwareTransmitterSoftwareV2:
        return tr("QOR Transmitter Software (V2)");
    default:
        return tr("QOR Transmitter");
    }
}

QString FirmwareUpdateDialog::infoTableHtml(FirmwareTarget target)
{
    QStringList rows;
    switch (target) {
    case FirmwareReceiver:
        rows = { QStringLiteral("Connect the **QOR Receiver** to your computer using a USB-C cable."),
                 QStringLiteral("In the **Connect QOR Receiver** section below, pick the port labeled "
                                "**Arduino Nano RP2040 Connect**."),
                 QStringLiteral("Press **Connect**."),
                 QStringLiteral("Press **Check for Updates** below to start the flash.") };
        break;
    case FirmwareTransmitter:
        rows = { QStringLiteral("Remove the lid of the QOR Transmitter and locate the small **MCU board** with a "
                                "USB-C port."),
                 QStringLiteral("Connect a USB-C cable to the **MCU board**."),
                 QStringLiteral("In the transmitter's port list, pick **RP2040** and press **Connect**."),
                 QStringLiteral("Press **Check for Updates** below.") };
        break;
    default:
        rows = { QStringLiteral("Connect the **QOR Transmitter** to your computer using a USB-C cable."),
                 QStringLiteral("In the transmitter's port list, pick **QOR Transmitter** and press **Connect**."),
                 QStringLiteral("Make sure the transmitter has a **WiFi connection** with internet access."),
                 QStringLiteral("Press **Check for Updates** below.") };
        break;
    }
    QString html = QStringLiteral("<table cellspacing='0' cellpadding='4' style='color:#0F1720;'>");
    for (int i = 0; i < rows.size(); ++i)
        html += infoRow(i + 1, rows.at(i));
    return html + QStringLiteral("</table>");
}

void FirmwareUpdateDialog::buildUi()
{
    setMinimumSize(480, 380);
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(14);
    layout->setContentsMargins(24, 20, 24, 20);

    m_titleLabel = new QLabel(tr("%1 Update").arg(deviceName()), this);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->hide();
    layout->addWidget(m_titleLabel);

    m_instructionsCard = new QFrame(this);
    m_instructionsCard->setObjectName(QStringLiteral("instructionsCard"));
    m_instructionsCard->setProperty("dlgCard", true);
    auto *instructions = new QVBoxLayout(m_instructionsCard);
    instructions->setSpacing(8);
    instructions->setContentsMargins(16, 14, 16, 14);
    auto *header = new QLabel(tr("BEFORE YOU START"), m_instructionsCard);
    header->setObjectName(QStringLiteral("instructionsHeader"));
    header->setProperty("role", "caption");
    instructions->addWidget(header);
    // Rich text escapes the theme's stylesheet rewriting: its colours follow the theme here.
    m_instructionsLabel = new QLabel(ostra::remapColors(infoTableHtml(m_target)), m_instructionsCard);
    m_instructionsLabel->setObjectName(QStringLiteral("instructionsLabel"));
    m_instructionsLabel->setTextFormat(Qt::RichText);
    m_instructionsLabel->setWordWrap(true);
    instructions->addWidget(m_instructionsLabel);
    layout->addWidget(m_instructionsCard);

    if (m_target == FirmwareReceiver) {
        m_receiverCard = new QFrame(this);
        m_receiverCard->setObjectName(QStringLiteral("receiverConnectCard"));
        m_receiverCard->setStyleSheet(QStringLiteral(
            "QFrame#receiverConnectCard { background: #FFFFFF; border: 1px solid #E6EAF0; border-radius: 8px; }"));
        auto *card = new QVBoxLayout(m_receiverCard);
        card->setContentsMargins(16, 12, 16, 12);
        card->setSpacing(8);
        auto *cardHeader = new QLabel(tr("CONNECT QOR RECEIVER"), m_receiverCard);
        cardHeader->setStyleSheet(QStringLiteral("color: #0F1720; font-size: 9pt; font-weight: bold; "
                                                 "letter-spacing: 1px; background: transparent; border: none;"));
        card->addWidget(cardHeader);
        auto *row = new QHBoxLayout;
        row->setSpacing(8);
        m_portList = new QComboBox(m_receiverCard);
        row->addWidget(m_portList, 1);
        m_refreshButton = new QPushButton(tr("Refresh"), m_receiverCard);
        m_refreshButton->setCursor(Qt::PointingHandCursor);
        connect(m_refreshButton, &QPushButton::clicked, this, &FirmwareUpdateDialog::onReceiverRefreshPorts);
        row->addWidget(m_refreshButton);
        m_connectButton = new QPushButton(tr("Connect"), m_receiverCard);
        m_connectButton->setCursor(Qt::PointingHandCursor);
        connect(m_connectButton, &QPushButton::clicked, this, &FirmwareUpdateDialog::onReceiverConnectClicked);
        connect(m_portList, &QComboBox::currentIndexChanged, this, [this] {
            m_connectButton->setEnabled(m_controller->isReceiverConnected() || ostra::portChosen(m_portList));
        });
        row->addWidget(m_connectButton);
        card->addLayout(row);
        m_receiverHint = new QLabel(m_receiverCard);
        m_receiverHint->setWordWrap(true);
        card->addWidget(m_receiverHint);
        layout->addWidget(m_receiverCard);
    }

    m_statusLabel = new QLabel(tr("Make sure the %1 is connected, then press Check for Updates.").arg(deviceName()), this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_detailLabel = new QLabel(this);
    m_detailLabel->setObjectName(QStringLiteral("detailLabel"));
    // The device's own texts (errors, versions) go here: never read as markup.
    for (QLabel *label : { m_statusLabel, m_detailLabel }) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        layout->addWidget(label);
    }

    m_progressBar = new QProgressBar(this);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->hide();
    layout->addWidget(m_progressBar);
    layout->addStretch(1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    m_closeButton = new QPushButton(tr("Close"), this);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(m_closeButton);
    m_startButton = new QPushButton(tr("Check for Updates"), this);
    m_startButton->setObjectName(QStringLiteral("startBtn"));
    m_startButton->setProperty("primary", true);
    m_startButton->setCursor(Qt::PointingHandCursor);
    connect(m_startButton, &QPushButton::clicked, this, &FirmwareUpdateDialog::onStart);
    buttons->addWidget(m_startButton);
    layout->addLayout(buttons);

    if (m_receiverCard)
        onReceiverRefreshPorts();
}

void FirmwareUpdateDialog::onStart()
{
    if (m_target == FirmwareTransmitterSoftwareV2 && m_procedure->state() == FirmwareOtaInstalling) {
        m_startButton->setEnabled(false);
        m_procedure->cancelSocOtaUpdate();
        return;
    }
    m_startButton->setEnabled(false);
    m_detailLabel->clear();
    m_progressBar->hide();
    m_instructionsCard->hide();
    if (m_receiverCard)
        m_receiverCard->hide();
    m_procedure->start();
}

void FirmwareUpdateDialog::showError(const QString &text)
{
    m_statusLabel->setText(tr("Error: %1").arg(text));
    // Retry starts a whole new run from here; the bar of the run that failed has nothing left to show.
    m_detailLabel->setText(tr("Press Retry to try again."));
    m_progressBar->hide();
    m_startButton->setText(tr("Retry"));
    m_startButton->setEnabled(true);
    m_startButton->show();
}

void FirmwareUpdateDialog::showDone(const QString &text)
{
    m_statusLabel->setText(text);
    setProgress(100);
    m_startButton->hide();
    m_closeButton->setText(tr("Done"));
}

void FirmwareUpdateDialog::setProgress(int value)
{
    m_progressBar->show();
    m_progressBar->setValue(value);
}

void FirmwareUpdateDialog::onReport(const FirmwareReport &report)
{
    switch (report.kind) {
    case FirmwareReport::Done:
        showDone(report.text);
        return;
    case FirmwareReport::Error:
        showError(report.text);
        return;
    case FirmwareReport::Cancelled:
        m_statusLabel->setText(report.text);
        m_detailLabel->clear();
        m_startButton->setText(tr("Check for Updates"));
        m_startButton->setEnabled(true);
        m_startButton->show();
        return;
    case FirmwareReport::Progress:
        if (report.progress >= 0)
            setProgress(report.progress);
        if (report.text.isEmpty())
            return;
        if (report.line == FirmwareReport::DetailLine)
            m_detailLabel->setText(report.text);
        else if (report.line == FirmwareReport::StatusLine)
            m_statusLabel->setText(report.text);
        return;
    }
}

void FirmwareUpdateDialog::onStateChanged(FirmwareUpdateState state)
{
    if (state == FirmwareOtaInstalling) {
        m_startButton->setText(tr("Cancel"));
        m_startButton->setEnabled(true);
        m_startButton->show();
    }
}

void FirmwareUpdateDialog::onQuestion(const FirmwareQuestion &question)
{
    QMessageBox box(QMessageBox::Question, question.title, question.text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    // Release notes come from the transmitter.
    box.setTextFormat(Qt::PlainText);
    const QPointer<FirmwareUpdateDialog> alive(this);
    const int answer = box.exec();
    if (alive)
        m_procedure->answerQuestion(answer == QMessageBox::Yes);
}

void FirmwareUpdateDialog::onReceiverRefreshPorts()
{
    if (!m_portList)
        return;
    ostra::PortListSetup setup;
    setup.prompt = tr("Choose QOR Receiver");
    setup.empty = tr("No serial ports detected");
    setup.connected = m_controller->isReceiverConnected() ? m_controller->receiverPortName() : QString();
    setup.keep = m_portList->currentData().toString();
    setup.held = m_controller->heldPorts();
    ostra::fillPortList(m_portList, CorvaneController::availableSerialPorts(), setup);
    updateReceiverConnectUi();
}

void FirmwareUpdateDialog::onReceiverConnectClicked()
{
    if (!m_portList)
        return;
    if (m_controller->isReceiverConnected()) {
        m_controller->disconnectReceiver();
        m_openedReceiver = false;
        updateReceiverConnectUi();
        return;
    }
    const QString port = m_portList->currentData().toString();
    if (port.isEmpty()) {
        setHint(tr("Select a serial port first."), HintRed);
        return;
    }
    QString error;
    if (m_controller->connectReceiver(port, FirmwareUpdateProcedure::Baud, &error)) {
        m_openedReceiver = true;
        updateReceiverConnectUi();
    } else {
        setHint(tr("Could not connect to %1. %2").arg(port, error).trimmed(), HintRed);
    }
}

void FirmwareUpdateDialog::setHint(const QString &text, const char *color)
{
    m_receiverHint->setText(text);
    m_receiverHint->setStyleSheet(
        QStringLiteral("color: %1; font-size: 9pt; background: transparent; border: none;").arg(QLatin1String(color)));
}

void FirmwareUpdateDialog::updateReceiverConnectUi()
{
    if (!m_receiverCard)
        return;
    const bool open = m_controller->isReceiverConnected();
    m_connectButton->setText(open ? tr("Disconnect") : tr("Connect"));
    ostra::setStyleState(m_connectButton, "primary", !open);
    ostra::setStyleState(m_connectButton, "danger", open);
    // The "Choose…" prompt of a list without a USB serial port leads it; its on-board ports stay pickable.
    const bool listed = !m_portList->itemData(0).toString().isEmpty();
    m_portList->setEnabled(!open && ostra::portsListed(m_portList));
    m_connectButton->setEnabled(open || ostra::portChosen(m_portList));
    if (open)
        setHint(tr("Connected on %1").arg(m_controller->receiverPortName()), HintGreen);
    else if (listed)
        setHint(tr("Plug the receiver into USB, pick its port, and press Connect."), HintGrey);
    else
        setHint(tr("Plug the receiver into USB, then press Refresh."), HintGrey);
    m_startButton->setEnabled(open);
}

} // namespace corvane
