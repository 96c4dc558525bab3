#include "dialogs/pedalverificationdialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "bridge/corvanecontroller.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/dialogkeyboard.h"
#include "ostraui/theme.h"

namespace corvane {

namespace {

constexpr int PollIntervalMs = 33;
// A pedal counts as moved once it is pressed past this share of its travel.
constexpr float MovedLevel = 0.1f;

} // namespace

float pedalLevel(float reading)
{
    return std::clamp((reading + 1.0f) / 2.0f, 0.0f, 1.0f);
}

PedalVerificationDialog::PedalVerificationDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_pollTimer(new QTimer(this))
{
    buildUi();
    connect(m_pollTimer, &QTimer::timeout, this, &PedalVerificationDialog::onPollTimer);
    m_pollTimer->start(PollIntervalMs);
    // Starting transmission puts the car in motion: never on a stray Return.
    ostra::setNoDefaultButton(this);
    ostra::applyDialogChrome(this, QString());
}

PedalVerificationDialog::~PedalVerificationDialog() = default;

void PedalVerificationDialog::buildUi()
{
    setWindowTitle(tr("Verify pedals before transmitting"));
    setMinimumWidth(420);
    setModal(true);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->setContentsMargins(24, 16, 24, 16);

    auto *instruction = new QLabel(tr("Press each pedal once and make sure the right bar lights up.") + QLatin1Char('\n')
                                       + tr("Do not continue if a pedal triggers the wrong axis."),
                                   this);
    instruction->setWordWrap(true);
    instruction->setStyleSheet(QStringLiteral("color: #0F1720; font-size: 10pt;"));
    layout->addWidget(instruction);

    layout->addWidget(makePedalRow(tr("Throttle"), "green", &m_throttleBar, &m_throttleBadge));
    layout->addWidget(makePedalRow(tr("Brake"), "red", &m_brakeBar, &m_brakeBadge));
    layout->addWidget(makePedalRow(tr("Clutch"), "blue", &m_clutchBar, &m_clutchBadge));

    m_confirm = new QCheckBox(tr("I confirm the pedals are working as I expect."), this);
    m_confirm->setStyleSheet(QStringLiteral("QCheckBox { padding: 12px 14px; background: #F7F9FB; border-radius: 12px; }"));
    connect(m_confirm, &QCheckBox::toggled, this, &PedalVerificationDialog::onConfirmToggled);
    layout->addWidget(m_confirm);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    m_startButton = new QPushButton(tr("Start Transmission"), this);
    m_startButton->setObjectName(QStringLiteral("startTransmissionBtn"));
    m_startButton->setEnabled(false);
    ostra::setStyleState(m_startButton, "danger", false);
    ostra::setStyleState(m_startButton, "primary", true);
    connect(m_startButton, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(m_startButton);
    layout->addLayout(buttons);
}

QWidget *PedalVerificationDialog::makePedalRow(const QString &label, const char *tone, QProgressBar **bar,
                                               QLabel **badge)
{
    auto *row = new QWidget(this);
    auto *layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *line = new QHBoxLayout;
    auto *name = new QLabel(label, row);
    name->setStyleSheet(QStringLiteral("color: #0F1720; font-weight: bold;"));
    line->addWidget(name);
    *badge = new QLabel(tr("moved"), row);
    (*badge)->setStyleSheet(QStringLiteral("color: #12A66A; font-size: 8pt; letter-spacing: 1px;"));
    (*badge)->hide();
    line->addWidget(*badge);
    line->addStretch(1);
    layout->addLayout(line);

    *bar = new QProgressBar(row);
    (*bar)->setRange(0, 100);
    (*bar)->setValue(0);
    (*bar)->setTextVisible(false);
    (*bar)->setProperty("tone", QLatin1String(tone));
    layout->addWidget(*bar);
    return row;
}

void PedalVerificationDialog::onPollTimer()
{
    if (!m_controller)
        return;
    updatePedalBar(m_controller->throttle(), m_throttleBar, m_throttleBadge, m_throttleMoved);
    updatePedalBar(m_controller->brake(), m_brakeBar, m_brakeBadge, m_brakeMoved);
    updatePedalBar(m_controller->clutch(), m_clutchBar, m_clutchBadge, m_clutchMoved);
}

void PedalVerificationDialog::updatePedalBar(float reading, QProgressBar *bar, QLabel *badge, bool &moved)
{
    const float level = pedalLevel(reading);
    const int percent = int(std::lround(level * 100.0f));
    bar->setValue(percent);
    bar->setFormat(QStringLiteral("%1%").arg(percent));
    if (!moved && level > MovedLevel) {
        moved = true;
        badge->show();
    }
}

void PedalVerificationDialog::onConfirmToggled(bool checked)
{
    m_startButton->setEnabled(checked);
}

} // namespace corvane
