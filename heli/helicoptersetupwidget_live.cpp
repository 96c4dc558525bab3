// The Live control card of the helicopter page: the page's own preview of CH1..CH4, the gauge,
// the channel cells while transmitting, and the dual-rate selector.

#include "heli/helicoptersetupwidget.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "bridge/crsfprotocol.h"
#include "bridge/helicopterinput.h"
#include "heli/helicontrolgaugewidget.h"
#include "heli/helidialogparts.h"
#include "ostraui/card.h"
#include "ostraui/channelcell.h"
#include "ostraui/meter.h"
#include "ostraui/segmented.h"
#include "ostraui/theme.h"

namespace corvane {

namespace {

enum PreviewRow { RollRow = 0, PitchRow = 1, CollectiveRow = 2, RudderRow = 3 };

struct PreviewInfo
{
    const char *name;
    double bar;
    int us;
};

const PreviewInfo Previews[4] = {
    {QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "CH1 Roll"), 0.5, 1500},
    {QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "CH2 Pitch"), 0.5, 1500},
    {QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "CH3 Throttle"), 0.0, 1000},
    {QT_TRANSLATE_NOOP("corvane::HelicopterSetupWidget", "CH4 Rudder"), 0.5, 1500},
};

// The size of a row's read-out, in pixels.
constexpr double LiveValuePx = 12.5;

} // namespace

QWidget *HelicopterSetupWidget::buildLiveControlSection()
{
    auto *card = new ostra::Card(this, 2);
    QVBoxLayout *content = card->contentLayout();
    content->setContentsMargins(24, 24, 24, 24);
    content->setSpacing(22);

    auto *header = new QHBoxLayout;
    header->addWidget(ostra::makeRoleLabel(tr("Live control"), "h2", card));
    header->addStretch();
    m_liveSubtitle = ostra::makeRoleLabel(tr("Move each control to verify the output"), "muted", card);
    header->addWidget(m_liveSubtitle);
    content->addLayout(header);

    m_gauge = new HeliControlGaugeWidget(card);
    content->addWidget(m_gauge);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(14);
    grid->setColumnStretch(1, 1);
    for (int row = 0; row < int(m_preview.size()); ++row) {
        auto *name = new QLabel(tr(Previews[row].name), card);
        name->setFont(ostra::uiFont(13.5, 500));
        name->setStyleSheet(QStringLiteral("color: %1;").arg(ostra::colorHex(ostra::ThemeColors::textSecondary)));
        name->setMinimumWidth(96);
        grid->addWidget(name, row, 0);
        auto *meter = new ostra::Meter(card, ostra::ThemeColors::accent);
        meter->setCenterLine(true, Qt::white);
        meter->setValue(Previews[row].bar);
        grid->addWidget(meter, row, 1);
        auto *value = new QLabel(tr("%1 \u00B5s").arg(Previews[row].us), card);
        value->setObjectName(QStringLiteral("liveValue%1").arg(row + 1));
        value->setFont(ostra::monoFont(LiveValuePx, 400));
        value->setMinimumWidth(70);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(value, row, 2);
        m_preview[size_t(row)] = {meter, value};
    }
    content->addLayout(grid);
    m_axisNote = makeHeliWarningLabel(card);
    m_axisNote->setObjectName(QStringLiteral("axisNote"));
    content->addWidget(m_axisNote);

    auto *rate = new QVBoxLayout;
    rate->setSpacing(8);
    rate->addWidget(ostra::makeRoleLabel(tr("Rate"), "muted", card));
    m_rateSelector = new ostra::Segmented({tr("Beginner"), tr("Sport"), tr("3D")}, card);
    connect(m_rateSelector, &ostra::Segmented::currentIndexChanged, this, [this](int index) {
        if (!m_updatingRateMode)
            m_controller->setHeliRateMode(index);
    });
    rate->addWidget(m_rateSelector);
    content->addLayout(rate);

    connect(m_controller, &CorvaneController::heliRateModeChanged, this, &HelicopterSetupWidget::updateRateModeUi);
    updateRateModeUi();
    return card;
}

void HelicopterSetupWidget::onLiveUpdate()
{
    if (!isVisible())
        return;
    const HelicopterConfig &cfg = m_config;
    const HeliOutput out = m_controller->heliLiveOutput(cfg);
    // Without the joystick nothing is sent: no row has a value. With it, a missing lever or
    // pedals still send what the rows show.
    const bool sending = m_controller->isHeliJoystickConnected();
    m_gauge->setValuesShown(sending);
    m_gauge->setRoll(out.shaped[RollRow]);
    m_gauge->setPitch(out.shaped[PitchRow]);
    m_gauge->setCollective(out.shaped[CollectiveRow]);
    m_gauge->setYaw(out.shaped[RudderRow]);
    for (int row = 0; row < 4; ++row) {
        const int us = CrsfProtocol::crsfToMicroseconds(out.values[size_t(row)]);
        m_preview[size_t(row)].meter->setValue(sending ? (us - 1000) / 1000.0 : 0.0);
        ostra::setReadoutText(m_preview[size_t(row)].value,
                              sending ? tr("%1 \u00B5s").arg(us) : QStringLiteral("\u2014"), LiveValuePx, 400);
    }
    // A control mapped to an axis its device lacks stays centred (the collective low): say so.
    QStringList notes;
    for (const QString &note : heliMissingAxisNotes(cfg, m_controller->heliJoystick(), m_controller->heliThrottle(),
                                                    m_controller->heliPedals())) {
        if (!note.isEmpty())
            notes << note;
    }
    setHeliWarning(m_axisNote, notes.join(QLatin1Char('\n')));

    if (m_controller->isRunning()) {
        for (int channel = 0; channel < int(m_channelCells.size()); ++channel)
            m_channelCells[size_t(channel)]->setValue(CrsfProtocol::crsfToMicroseconds(m_controller->channelValue(channel)));
    }
}

void HelicopterSetupWidget::updateRateModeUi()
{
    if (!m_rateSelector)
        return;
    const DualRates rates = m_controller->helicopterConfig().fly.dualRates;
    m_updatingRateMode = true;
    m_rateSelector->setOptions({tr("%1\n%2%").arg(tr("Beginner")).arg(rates.beginnerPct),
                                tr("%1\n%2%").arg(tr("Sport")).arg(rates.sportPct),
                                tr("%1\n%2%").arg(tr("3D")).arg(rates.threeDPct)});
    m_rateSelector->setCurrentIndex(m_controller->heliRateMode(), true);
    m_rateSelector->setEnabled(rates.enabled);
    m_rateSelector->setToolTip(rates.enabled ? QString() : tr("Dual rates are off \u2014 enable them in Fly settings"));
    m_updatingRateMode = false;
}

} // namespace corvane
