#include "racecontrol/pages/racecarcard.h"

#include "ostraui/focusring.h"
#include "ostraui/meter.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "racecontrol/pages/racedisplay.h"
#include "racecontrol/racecontrol.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

namespace {

const int kCapCycle[] = {0, 75, 50, 30, 15};

} // namespace

RaceCarCard::RaceCarCard(RaceControl *control, const QString &stationId, QWidget *parent)
    : ostra::Card(parent, 1)
    , m_control(control)
    , m_stationId(stationId)
{
    setClickable(true);
    setMinimumHeight(250);
    QVBoxLayout *content = contentLayout();
    content->setContentsMargins(16, 14, 16, 14);
    content->setSpacing(10);

    auto *top = new QHBoxLayout;
    top->setSpacing(10);
    m_number = makeTintLabel(QString(), QColor(0x4CC2FF), 22, this);
    top->addWidget(m_number);
    auto *names = new QVBoxLayout;
    names->setSpacing(0);
    m_name = new QLabel(this);
    m_name->setFont(ostra::uiFont(15, 600));
    m_name->setTextFormat(Qt::PlainText);
    m_subline = ostra::makeRoleLabel(QString(), "muted", this);
    m_subline->setTextFormat(Qt::PlainText);
    names->addWidget(m_name);
    names->addWidget(m_subline);
    top->addLayout(names, 1);
    content->addLayout(top);

    m_pill = new ostra::Pill(this, ostra::Pill::Plain);
    m_pill->setHeight(24);
    content->addWidget(m_pill, 0, Qt::AlignLeft);

    auto *gearRow = new QHBoxLayout;
    m_gear = new QLabel(noValueText(), this);
    m_gear->setFont(ostra::uiFont(34, 600));
    gearRow->addWidget(m_gear, 0, Qt::AlignBottom);
    gearRow->addWidget(ostra::makeRoleLabel(tr("Gear"), "caption", this), 0, Qt::AlignBottom);
    gearRow->addStretch();
    m_capButton = ostra::makeButton(QString(), false, this);
    m_capButton->setProperty("small", true);
    m_capButton->setToolTip(tr("This car's own speed cap: Full \u2192 75% \u2192 50% \u2192 30% \u2192 15%"));
    gearRow->addWidget(m_capButton, 0, Qt::AlignBottom);
    content->addLayout(gearRow);

    auto *meters = new QGridLayout;
    meters->setHorizontalSpacing(10);
    meters->setVerticalSpacing(6);
    meters->setColumnStretch(1, 1);
    m_gas = new ostra::Meter(this, ostra::ThemeColors::successAccent);
    m_brake = new ostra::Meter(this, ostra::ThemeColors::dangerAccent);
    m_steer = new ostra::Meter(this, ostra::ThemeColors::accent);
    m_steer->setBipolar(true);
    m_steer->setCenterLine(true, ostra::ThemeColors::textDisabled);
    addMeterRow(meters, 0, tr("Gas"), m_gas, &m_gasValue);
    addMeterRow(meters, 1, tr("Brake"), m_brake, &m_brakeValue);
    addMeterRow(meters, 2, tr("Steer"), m_steer, &m_steerValue);
    content->addLayout(meters);
    content->addStretch();

    m_stopButton = ostra::makeButton(QString(), false, this);
    m_stopButton->setMinimumHeight(44);
    content->addWidget(m_stopButton);

    connect(m_capButton, &QPushButton::clicked, this, &RaceCarCard::cycleSpeedCap);
    connect(m_stopButton, &QPushButton::clicked, this, &RaceCarCard::toggleStop);
}

void RaceCarCard::refresh(int index)
{
    const RaceStation *station = m_control->findStation(m_stationId);
    if (!station)
        return;
    m_number->setText(carNumberText(index));
    // The palette is the light theme's: the dark theme turns its ink into its own text colour.
    ostra::setStyleSheetIfChanged(m_number, QStringLiteral("color: %1; background: transparent;").arg(carPalette(index).name()));
    m_name->setText(station->name);
    const QString driver = m_control->driverName(m_stationId);
    m_subline->setText(driver.isEmpty() ? station->host : driver);

    const StationStatusText status = stationStatusText(*station);
    m_pill->setText(status.text);
    m_pill->setLevel(status.level);
    m_pill->setPulsing(station->status == Connecting);

    const bool supported = isRaceControlSupported(*station);
    const bool stopped = isStationStopped(*station);
    const bool liveShown = supported && !station->live.isEmpty();
    const int own = speedCapPercentOf(*station);
    const int all = pitLimiterPercentOf(*station);
    const int cap = own && all ? std::min(own, all) : (own ? own : all);

    m_gear->setText(liveShown ? gearText(station->live.value(QStringLiteral("gear")).toInt()) : noValueText());
    ostra::setStyleSheetIfChanged(m_gear, QStringLiteral("color: %1;").arg(stopped ? QStringLiteral("#C81F24") : QStringLiteral("#0F1720")));

    m_capButton->setVisible(supported);
    m_capButton->setText(tr("Cap %1 \u25BE").arg(capText(cap)));
    m_capButton->setProperty("danger", false);
    ostra::setStyleSheetIfChanged(m_capButton, cap ? QStringLiteral("QPushButton { color: #B06F00; background: #FDF1DC; border-color: #B06F00; }")
                              : QString());

    const double throttle = station->live.value(QStringLiteral("throttle")).toDouble(0);
    const double limit = stopped ? 0.0 : (cap ? cap / 100.0 : 1.0);
    const double gas = std::min(throttle, limit);
    const double brake = station->live.value(QStringLiteral("brake")).toDouble(0);
    const double steering = station->live.value(QStringLiteral("steering")).toDouble(0);
    const QString none = noValueText();
    m_gas->setValue(liveShown ? gas : 0.0);
    setMeterValueText(m_gasValue, liveShown ? QStringLiteral("%1%").arg(percentOf(gas)) : none);
    m_brake->setValue(liveShown ? brake : 0.0);
    setMeterValueText(m_brakeValue, liveShown ? QStringLiteral("%1%").arg(percentOf(brake)) : none);
    m_steer->setValue(liveShown ? steering : 0.0);
    setMeterValueText(m_steerValue, liveShown ? steeringText(steering) : none);

    applyStopButtonState(m_stopButton, *station, tr("Stop"), tr("\u25B6 Resume"));
    if (m_alertFrame != (supported && stopped)) {
        m_alertFrame = supported && stopped;
        update();
    }
    // The kit makes a new opacity effect on every call.
    if (isDimmed() != !supported)
        setDimmed(!supported);
}

void RaceCarCard::paintEvent(QPaintEvent *event)
{
    ostra::Card::paintEvent(event);
    if (!m_alertFrame)
        return;
    // The kit's card paints its own frame, so the red one is drawn over it.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ostra::ThemeColors::dangerAccent, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), cornerRadius, cornerRadius);
    // The keyboard's ring goes over it, or a stopped car's card would not show that it has the keys.
    if (ostra::showsFocusRing(this))
        ostra::paintFocusRing(&painter, rect(), cornerRadius);
}

void RaceCarCard::cycleSpeedCap()
{
    const RaceStation *station = m_control->findStation(m_stationId);
    if (!station)
        return;
    const int own = speedCapPercentOf(*station);
    const int *found = std::find(std::begin(kCapCycle), std::end(kCapCycle), own);
    const int position = found == std::end(kCapCycle) ? 0 : int(found - std::begin(kCapCycle));
    const int next = kCapCycle[(position + 1) % 5];
    m_control->command(m_stationId, QStringLiteral("set_lounge_speed_cap"), capCommandData(next));
}

void RaceCarCard::toggleStop()
{
    toggleStationStop(m_control, m_stationId);
}

} // namespace corvane
