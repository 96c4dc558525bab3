#include "motion/pages/motionoutputdialog.h"

#include "bridge/corvanecontroller.h"
#include "bridge/motiontelemetrysender.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/theme.h"

#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

namespace {

const char *const StatusFont = "font-family: 'Geist Mono'; font-size: 9pt;";
constexpr auto DefaultHost = "127.0.0.1";

// Empty when `host` is an IP address or this PC's name; otherwise why it is no target. The sender
// would stream to this PC instead.
QString refusal(const QString &host)
{
    if (QHostAddress().setAddress(host) || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return QString();
    return MotionOutputDialog::tr("\u201C%1\u201D is not an IP address \u2014 enter the motion PC's address, such as "
                                  "192.168.1.20, or 127.0.0.1 for this PC.")
        .arg(host);
}

} // namespace

MotionOutputDialog::MotionOutputDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Motion Rig Output"));
    setMinimumWidth(460);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    auto *intro = new QLabel(tr("Streams the car's motion telemetry (lateral G, yaw) as DiRT Rally-format UDP. "
                                "In SimHub, FlyPT Mover or SimTools, select \"DiRT Rally\" as the game and your "
                                "motion rig will be driven by the real car."), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    MotionTelemetrySender *out = sender();
    auto *targetRow = new QHBoxLayout;
    targetRow->addWidget(new QLabel(tr("Target IP"), this));
    m_hostEdit = new QLineEdit(out ? out->host() : QString::fromLatin1(DefaultHost), this);
    m_hostEdit->setPlaceholderText(QString::fromLatin1(DefaultHost));
    m_hostEdit->setToolTip(tr("IP of the PC running the motion software (127.0.0.1 = this PC)"));
    targetRow->addWidget(m_hostEdit, 1);
    targetRow->addWidget(new QLabel(tr("Port"), this));
    m_portSpin = new QSpinBox(this);
    m_portSpin->setRange(1024, 65535);
    m_portSpin->setValue(out ? out->port() : MotionTelemetrySender::DefaultPort);
    m_portSpin->setToolTip(tr("20777 is the port motion software listens on for DiRT Rally"));
    targetRow->addWidget(m_portSpin);
    layout->addLayout(targetRow);

    const bool streaming = out && out->isEnabled();
    // Its text follows the output at every refresh.
    m_toggle = new QPushButton(tr("Start motion output"), this);
    m_toggle->setCheckable(true);
    m_toggle->setChecked(streaming);
    m_toggle->setProperty("danger", false);
    m_toggle->setProperty("primary", true);
    layout->addWidget(m_toggle);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    m_status->setStyleSheet(QLatin1String(StatusFont));
    layout->addWidget(m_status);

    auto *warning = new QLabel(tr("Motion platforms move \u2014 clear the area around the rig and start with low "
                                  "intensity in your motion software."), this);
    warning->setWordWrap(true);
    warning->setStyleSheet(QStringLiteral("color: #B06F00; font-size: 9pt;"));
    layout->addWidget(warning);

    auto *closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    auto *close = new QPushButton(tr("Close"), this);
    closeRow->addWidget(close);
    layout->addLayout(closeRow);

    connect(m_hostEdit, &QLineEdit::editingFinished, this, &MotionOutputDialog::applyTarget);
    connect(m_portSpin, &QSpinBox::valueChanged, this, &MotionOutputDialog::applyTarget);
    connect(m_toggle, &QPushButton::toggled, this, &MotionOutputDialog::onEnableToggled);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(500);
    connect(m_statusTimer, &QTimer::timeout, this, &MotionOutputDialog::refreshStatus);
    m_statusTimer->start();
    // A stored target from before may be no address at all.
    if (out && !out->host().trimmed().isEmpty())
        m_refusal = refusal(out->host().trimmed());
    refreshStatus();
    ostra::applyDialogChrome(this, QString());
    // The chrome keeps only the minimum width; below its content's height the texts would overlap.
    setMinimumHeight(minimumSizeHint().height());
}

MotionOutputDialog::~MotionOutputDialog() = default;

MotionTelemetrySender *MotionOutputDialog::sender() const
{
    return m_controller ? m_controller->motionTelemetrySender() : nullptr;
}

MotionOutputDialog::StreamingStatus MotionOutputDialog::streamingStatus(const QString &host, quint16 port, int packets,
                                                                        qint64 msSinceGForces, const QString &sendFailure)
{
    // Nothing leaves: whatever the car sends, nothing streams.
    if (!sendFailure.isEmpty())
        return { tr("Cannot reach %1: %2 \u2014 %3 packets sent; sending resumes once %1 can be reached")
                     .arg(host, sendFailure)
                     .arg(packets),
                 QStringLiteral("#C81F24") };
    QString state;
    QString color = QStringLiteral("#B06F00");
    if (msSinceGForces < 0) {
        state = tr("waiting for car telemetry (start a transmission) \u2014 output at rest");
    } else if (msSinceGForces < 1000) {
        state = tr("car telemetry live");
        color = QStringLiteral("#12A66A");
    } else {
        state = tr("car telemetry lost %1 s ago \u2014 output at rest").arg(msSinceGForces / 1000);
    }
    return { tr("Streaming to %1:%2 \u2014 %3 packets sent \u00b7 %4").arg(host).arg(port).arg(packets).arg(state), color };
}

bool MotionOutputDialog::applyTarget()
{
    MotionTelemetrySender *out = sender();
    if (!out)
        return false;
    QString host = m_hostEdit->text().trimmed();
    if (host.isEmpty())
        host = QString::fromLatin1(DefaultHost);
    m_refusal = refusal(host);
    if (m_refusal.isEmpty())
        out->setTarget(host, quint16(m_portSpin->value()));
    refreshStatus();
    return m_refusal.isEmpty();
}

void MotionOutputDialog::onEnableToggled(bool on)
{
    MotionTelemetrySender *out = sender();
    if (!out)
        return;
    // Streaming always starts towards what the fields show, or not at all.
    if (on && !applyTarget()) {
        const QSignalBlocker blocker(m_toggle);
        m_toggle->setChecked(false);
        return;
    }
    out->setEnabled(on);
    refreshStatus();
}

void MotionOutputDialog::refreshStatus()
{
    MotionTelemetrySender *out = sender();
    if (!out) {
        m_status->setText(tr("Not available."));
        return;
    }
    QString text = tr("Output stopped.");
    QString color = QStringLiteral("#5B6675");
    const bool failing = !out->sendFailure().isEmpty();
    if (out->isEnabled()) {
        const StreamingStatus status = streamingStatus(out->address().toString(), out->port(), out->packetCount(),
                                                       out->msSinceGForces(), out->sendFailure());
        text = status.text;
        color = status.color;
    }
    // The button says what the output does, as the status line does.
    m_toggle->setText(!out->isEnabled() ? tr("Start motion output")
                      : failing         ? tr("Output on \u2014 click to stop")
                                        : tr("Streaming \u2014 click to stop"));
    if (!m_refusal.isEmpty()) {
        text = m_refusal + QLatin1Char('\n') + text;
        color = QStringLiteral("#C81F24");
    }
    m_status->setText(text);
    // Refreshed twice a second while the car is driven: restyled only when the colour changes.
    ostra::setStyleSheetIfChanged(m_status, QLatin1String(StatusFont) + QStringLiteral(" color: %1;").arg(color));
}

} // namespace corvane
