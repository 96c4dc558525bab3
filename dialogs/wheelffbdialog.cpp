#include "dialogs/wheelffbdialog.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "bridge/corvanecontroller.h"
#include "dialogs/ffbbar.h"
#include "dialogs/presetspanel.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/theme.h"
#include "platform/input/inputtypes.h"

namespace corvane {

namespace {

constexpr int PulseMs = 450;
constexpr int ReceiverRefreshMs = 1000;
// A test push is a quarter of full force at the chosen strength.
constexpr float TestPush = 0.25f;
constexpr int DefaultStrength = 35;
constexpr int DefaultCentering = 50;
constexpr int MinWidth = 440;

const char *const Grey = "#5B6675";
const char *const Green = "#12A66A";
// The warning text colour: the orange of the accents is too light to read on white.
const char *const Amber = "#B06F00";
const char *const Red = "#E5262B";
const char *const RowStyle = "color: %1; font-family: 'Geist Mono';";

// Row texts in display order, one per flag of the wheel base's force-feedback status.
const char *const CheckNames[] = {
    QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "Wheel detected"),
    QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "Force feedback capable"),
    QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "Exclusive access"),
    QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "Steering FFB axis"),
    QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "Constant-force effect"),
};

// Why the effect is missing, in words: the reason behind the probe's result code, or with no code
// (nothing was tried) the first check that failed; a bare code of 0 would explain nothing.
QString effectFailure(const FfbStatus &status)
{
    const auto text = [](const char *reason) { return QCoreApplication::translate("corvane::WheelFfbDialog", reason); };
    const char *reason = QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "refused");
    switch (status.errorCode) {
    case InputError::Ok:
        if (!status.enumerated)
            return text(QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "no wheel connected"));
        if (!status.ffbCapable)
            return text(QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "no force feedback"));
        return text(QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "no force-feedback axis"));
    case InputError::AccessDenied:
        reason = QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "access denied");
        break;
    case InputError::InvalidParameter:
        reason = QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "parameters refused");
        break;
    case InputError::NotImplemented:
        reason = QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "not supported");
        break;
    case InputError::NotAcquired:
        reason = QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "not acquired");
        break;
    case InputError::DeviceFull:
        reason = QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "no room for the effect");
        break;
    case InputError::InputLost:
    case InputError::Unplugged:
    case InputError::DeviceNotFound:
        reason = QT_TRANSLATE_NOOP("corvane::WheelFfbDialog", "device gone");
        break;
    default:
        break;
    }
    return QStringLiteral("err 0x%1: %2").arg(quint32(status.errorCode), 8, 16, QLatin1Char('0')).arg(text(reason));
}

QString percentText(int pct)
{
    return QStringLiteral("%1%").arg(pct);
}

} // namespace

WheelFfbDialog::WheelFfbDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_pulseTimer(new QTimer(this))
{
    setWindowTitle(tr("Wheel Force Feedback"));
    setMinimumWidth(MinWidth);
    // Everything but Close scrolls inside the card where the screen is shorter than the page.
    // Made where it stays: a built tree moved under the style sheet is restyled whole.
    QWidget *content = ostra::dialogContent(this);
    auto *page = new QWidget(content);
    page->setObjectName(QStringLiteral("wheelFfbPage"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    layout->addWidget(ostra::makeDialogHeading(tr("Compatibility"), page));
    for (int i = 0; i < CheckCount; ++i) {
        m_rows[i] = ostra::makeStyledLabel(QStringLiteral("•  %1").arg(tr(CheckNames[i])),
                                QString::fromLatin1(RowStyle).arg(QLatin1String(Grey)), page);
        // A failed effect's reason may not fit on one line beside it.
        m_rows[i]->setWordWrap(true);
        layout->addWidget(m_rows[i]);
    }

    m_receiverStatus = new QLabel(page);
    m_receiverStatus->setWordWrap(true);
    layout->addWidget(m_receiverStatus);
    updateReceiverFfbStatus();
    if (m_controller) {
        connect(m_controller, &CorvaneController::receiverFfbStateChanged, this,
                &WheelFfbDialog::updateReceiverFfbStatus);
        auto *refresh = new QTimer(this);
        connect(refresh, &QTimer::timeout, this, &WheelFfbDialog::updateReceiverFfbStatus);
        refresh->start(ReceiverRefreshMs);
    }

    m_verdict = ostra::makeStyledLabel(tr("Run a check…"),
                            QStringLiteral("font-size: 12pt; font-weight: bold; color: %1;").arg(QLatin1String(Grey)),
                            this);
    m_verdict->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_verdict);

    auto *recheck = new QPushButton(tr("Re-check"), page);
    connect(recheck, &QPushButton::clicked, this, &WheelFfbDialog::runCheck);
    layout->addWidget(recheck, 0, Qt::AlignHCenter);

    auto *line = new QFrame(page);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: #E6EAF0;"));
    layout->addWidget(line);

    // Force, strength and centering in one grid, so the bar and both sliders share a column.
    auto *grid = new QGridLayout;
    grid->setVerticalSpacing(14);
    grid->setColumnStretch(1, 1);
    grid->addWidget(ostra::makeStyledLabel(tr("Force"), QString::fromLatin1("color: %1;").arg(QLatin1String(Grey)), page), 0, 0);
    m_forceBar = new FfbBar(page);
    grid->addWidget(m_forceBar, 0, 1);
    const int strength = m_controller ? int(m_controller->wheelFfbStrength() * 100.0f) : DefaultStrength;
    m_strength = addSliderRow(page, grid, tr("Strength"), strength, &m_strengthPercent);
    connect(m_strength, &QSlider::valueChanged, this, &WheelFfbDialog::onStrengthChanged);
    const int centering = m_controller ? int(m_controller->wheelFfbCentering() * 100.0f) : DefaultCentering;
    m_centering = addSliderRow(page, grid, tr("Centering"), centering, &m_centeringPercent);
    connect(m_centering, &QSlider::valueChanged, this, &WheelFfbDialog::onCenteringChanged);
    layout->addLayout(grid);

    auto *hint = ostra::makeStyledLabel(tr("Return-to-center spring (replaces the wheel's built-in centering)."),
                             QStringLiteral("color: #5B6675; font-size: 9pt;"), page);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto *testRow = new QHBoxLayout;
    m_testLeft = new QPushButton(tr("◀ Test Left"), page);
    connect(m_testLeft, &QPushButton::clicked, this, [this] { push(-TestPush); });
    testRow->addWidget(m_testLeft);
    m_testRight = new QPushButton(tr("Test Right ▶"), page);
    connect(m_testRight, &QPushButton::clicked, this, [this] { push(TestPush); });
    testRow->addWidget(m_testRight);
    layout->addLayout(testRow);

    m_enableButton = new QPushButton(tr("Enable FFB from car telemetry"), page);
    m_enableButton->setCheckable(true);
    ostra::setStyleState(m_enableButton, "danger", false);
    ostra::setStyleState(m_enableButton, "primary", true);
    if (m_controller && m_controller->wheelFfbEnabled()) {
        m_enableButton->setChecked(true);
        m_enableButton->setText(tr("FFB ON — streaming from car (click to stop)"));
    }
    connect(m_enableButton, &QPushButton::toggled, this, &WheelFfbDialog::onEnableToggled);
    layout->addWidget(m_enableButton);

    auto *warning = ostra::makeStyledLabel(tr("Direct-drive bases are strong — start at low strength and increase gradually."),
                                QStringLiteral("color: #B06F00; font-size: 9pt;"), page);
    warning->setWordWrap(true);
    layout->addWidget(warning);

    if (m_controller) {
        layout->addWidget(ostra::makeHairline(page));
        auto *presets = new PresetsPanel(
            m_controller, QStringLiteral("ffb"), tr("Presets"),
            tr("Save these settings under a name and load them again later, in any profile."), page);
        connect(presets, &PresetsPanel::presetLoaded, this, &WheelFfbDialog::reloadSliders);
        layout->addWidget(presets);
    }

    auto *outer = new QVBoxLayout(content);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(page, 1);
    auto *closeRow = new QHBoxLayout;
    closeRow->setContentsMargins(24, 0, 24, 20);
    closeRow->addStretch(1);
    auto *close = new QPushButton(tr("Close"), content);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    closeRow->addWidget(close);
    outer->addLayout(closeRow);

    m_pulseTimer->setSingleShot(true);
    m_pulseTimer->setInterval(PulseMs);
    connect(m_pulseTimer, &QTimer::timeout, this, [this] {
        if (m_controller)
            m_controller->setWheelForce(0.0f);
    });

    if (m_controller)
        connect(m_controller, &CorvaneController::ffbLevelReceived, m_forceBar, &FfbBar::setLevel);

    ostra::applyDialogChrome(this, QString());
}

QSlider *WheelFfbDialog::addSliderRow(QWidget *page, QGridLayout *grid, const QString &name, int value, QLabel **percent)
{
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(name, page), row, 0);
    auto *slider = new QSlider(Qt::Horizontal, page);
    slider->setRange(0, 100);
    slider->setValue(value);
    grid->addWidget(slider, row, 1);
    *percent = ostra::makeStyledLabel(percentText(slider->value()), QStringLiteral("color: #0F1720; min-width: 40px;"), page);
    grid->addWidget(*percent, row, 2);
    return slider;
}

void WheelFfbDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    runCheck();
}

void WheelFfbDialog::setRow(int index, bool ok, const QString &text)
{
    if (index < 0 || index >= CheckCount)
        return;
    m_rows[index]->setText(QStringLiteral("%1  %2").arg(ok ? QStringLiteral("✓") : QStringLiteral("✗"), text));
    m_rows[index]->setStyleSheet(QString::fromLatin1(RowStyle).arg(QLatin1String(ok ? Green : Red)));
}

void WheelFfbDialog::runCheck()
{
    if (!m_controller)
        return;
    const FfbStatus status = m_controller->wheelBaseFfbStatus();
    const bool flags[CheckCount] = {status.enumerated, status.ffbCapable, status.exclusive, status.hasFfbAxis,
                                    status.constantForce};
    for (int i = 0; i < CheckCount - 1; ++i)
        setRow(i, flags[i], tr(CheckNames[i]));
    QString effect = tr(CheckNames[CheckCount - 1]);
    if (!status.constantForce)
        effect += QStringLiteral("  [%1]").arg(effectFailure(status));
    setRow(CheckCount - 1, status.constantForce, effect);

    const bool full = std::all_of(std::begin(flags), std::end(flags), [](bool flag) { return flag; });
    QString verdict;
    const char *colour = Red;
    if (full) {
        verdict = tr("FULL — ready for force feedback");
        colour = Green;
    } else if (status.ffbCapable) {
        verdict = status.exclusive ? tr("PARTIAL — limited support")
                                   : tr("PARTIAL — close other sim software (it holds the wheel)");
        colour = Amber;
    } else {
        verdict = status.enumerated ? tr("INCOMPATIBLE — no force feedback") : tr("No wheelbase connected");
    }
    if (!status.constantForce && !status.diag.isEmpty())
        verdict += QStringLiteral("\n%1").arg(status.diag);
    m_verdict->setText(verdict);
    m_verdict->setWordWrap(true);
    m_verdict->setStyleSheet(
        QStringLiteral("font-size: 12pt; font-weight: bold; color: %1;").arg(QLatin1String(colour)));

    m_enableButton->setEnabled(full);
    m_testLeft->setEnabled(full);
    m_testRight->setEnabled(full);
}

void WheelFfbDialog::onEnableToggled(bool on)
{
    if (!m_controller)
        return;
    if (on && m_controller->startWheelFfb()) {
        m_enableButton->setText(tr("FFB ON — streaming from car (click to stop)"));
        return;
    }
    if (on) {
        {
            const QSignalBlocker blocker(m_enableButton);
            m_enableButton->setChecked(false);
        }
        m_verdict->setText(tr("Could not enable FFB — re-check the wheel."));
    }
    m_controller->stopWheelFfb();
    m_enableButton->setText(tr("Enable FFB from car telemetry"));
}

void WheelFfbDialog::onStrengthChanged(int pct)
{
    if (m_controller)
        m_controller->setWheelFfbStrength(float(pct) / 100.0f);
    m_strengthPercent->setText(percentText(pct));
}

void WheelFfbDialog::onCenteringChanged(int pct)
{
    if (m_controller)
        m_controller->setWheelFfbCentering(float(pct) / 100.0f);
    m_centeringPercent->setText(percentText(pct));
}

void WheelFfbDialog::pulse(float level)
{
    push(level);
}

void WheelFfbDialog::push(float level)
{
    if (!m_controller)
        return;
    m_controller->setWheelForce(float(m_strength->value()) / 100.0f * level);
    m_pulseTimer->start();
}

void WheelFfbDialog::reloadSliders()
{
    m_strength->setValue(int(std::lround(m_controller->wheelFfbStrength() * 100.0f)));
    m_centering->setValue(int(std::lround(m_controller->wheelFfbCentering() * 100.0f)));
}

void WheelFfbDialog::done(int result)
{
    // A test push still running would otherwise stay on the wheel once the dialog is gone.
    const bool pushing = m_pulseTimer->isActive();
    m_pulseTimer->stop();
    if (m_controller && (pushing || !m_controller->wheelFfbEnabled()))
        m_controller->setWheelForce(0.0f);
    QDialog::done(result);
}

void WheelFfbDialog::updateReceiverFfbStatus()
{
    const int state = m_controller ? int(m_controller->receiverFfbState()) : int(ReceiverFfbOff);
    QString text;
    const char *colour = Grey;
    switch (state) {
    case ReceiverFfbOff:
        text = tr("•  Receiver: start transmission to check");
        break;
    case ReceiverFfbWaiting:
        text = tr("…  Receiver: waiting for car motion");
        break;
    case ReceiverFfbActive:
        text = tr("✓  Receiver with FFB (car motion telemetry)");
        if (m_controller->motionTelemetryRate() > 0.0f) {
            text += tr(" · %1 frames/s · %2% lost")
                        .arg(std::lround(m_controller->motionTelemetryRate()))
                        .arg(std::lround(m_controller->motionTelemetryLossPercent()));
        }
        colour = Green;
        break;
    case ReceiverFfbNoResponse:
        text = tr("✗  Receiver sends no car motion. On a QOR receiver V4, connect it to this PC by USB once to "
                  "switch it on.");
        colour = Red;
        break;
    default:
        break;
    }
    const QString style = QString::fromLatin1(RowStyle).arg(QLatin1String(colour));
    m_receiverStatus->setText(text);
    ostra::setStyleSheetIfChanged(m_receiverStatus, style);
}

} // namespace corvane
