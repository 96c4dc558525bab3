#include "racecontrol/pages/racecontrolpage.h"

#include "ostraui/card.h"
#include "ostraui/focusring.h"
#include "ostraui/pill.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "racecontrol/pages/racecarcard.h"
#include "racecontrol/pages/racecardialog.h"
#include "racecontrol/pages/racedisplay.h"
#include "racecontrol/pages/racestationsdialog.h"
#include "racecontrol/racecontrol.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

namespace {

constexpr int kRefreshMs = 100;
constexpr int kResumeConfirmMs = 3000;
const int kAllCarsCaps[] = {0, 75, 50, 30};

} // namespace

RaceControlPage::RaceControlPage(RaceControl *control, QWidget *parent)
    : QWidget(parent)
    , m_control(control)
    , m_refreshTimer(new QTimer(this))
    , m_resumeConfirmTimer(new QTimer(this))
{
    m_refreshTimer->setInterval(kRefreshMs);
    m_resumeConfirmTimer->setSingleShot(true);
    m_resumeConfirmTimer->setInterval(kResumeConfirmMs);
    m_resumeConfirmTimer->setTimerType(Qt::PreciseTimer);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ostra::makeScrollBody(scroll);
    m_content = new QWidget(scroll);
    scroll->setWidget(m_content);
    outer->addWidget(scroll, 1);

    auto *content = new QVBoxLayout(m_content);
    content->setContentsMargins(8, 0, 8, 16);
    content->setSpacing(16);

    QLabel *intro = ostra::makeRoleLabel(
        tr("Watch and control every car at once: stop all, speed caps, safety link."), "subline", m_content);
    content->addWidget(intro);

    // The cards, the car grid and the hint stand on a panel of the window's colour: the
    // backdrop's bright dashed curve would otherwise run between the cards and through the hint.
    auto *body = new QFrame(m_content);
    body->setObjectName(QStringLiteral("raceBody"));
    body->setStyleSheet(QStringLiteral("QFrame#raceBody { background: %1; border-radius: 18px; }")
                            .arg(ostra::colorHex(ostra::ThemeColors::windowBg)));
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(16);
    content->addWidget(body);

    auto *header = new ostra::Card(m_content, 1);
    auto *headerRow = new QHBoxLayout;
    headerRow->setSpacing(24);
    makeCountStat(headerRow, tr("Running"), QColor(0x0D8A57), &m_runningCount);
    makeCountStat(headerRow, tr("Stopped"), QColor(0xC81F24), &m_stoppedCount);
    makeCountStat(headerRow, tr("Not ready"), QColor(0x8A94A3), &m_notReadyCount);
    headerRow->addStretch();
    m_safetyPill = new ostra::Pill(header, ostra::Pill::Plain);
    m_safetyPill->setClickable(true);
    m_safetyPill->setToolTip(tr("Safety link: every car stops if this OSTRA stops talking to it"));
    headerRow->addWidget(m_safetyPill, 0, Qt::AlignVCenter);
    QPushButton *stationsButton = ostra::makeButton(tr("Stations"), false, header);
    headerRow->addWidget(stationsButton, 0, Qt::AlignVCenter);
    header->contentLayout()->addLayout(headerRow);
    bodyLayout->addWidget(header);

    auto *capCard = new ostra::Card(m_content, 1);
    m_capStatus = ostra::makeRoleLabel(QString(), "warning", capCard);
    capCard->contentLayout()->addLayout(ostra::makeHeading(
        tr("Speed cap \u00B7 all cars"),
        tr("Every car's throttle is held to this. A car's own cap applies when it's lower."), m_capStatus));
    auto *capRow = new QHBoxLayout;
    capRow->setSpacing(8);
    for (int percent : kAllCarsCaps) {
        QPushButton *button = ostra::makeButton(percent ? QStringLiteral("%1%").arg(percent) : tr("Off"), false, capCard);
        button->setCheckable(true);
        button->setMinimumHeight(40);
        capRow->addWidget(button, 1);
        m_capButtons.append({percent, button});
        connect(button, &QPushButton::clicked, this, [this, percent] { setAllCarsCap(percent); });
    }
    capCard->contentLayout()->addLayout(capRow);
    bodyLayout->addWidget(capCard);

    m_emptyCard = new ostra::Card(m_content, 1);
    m_emptyCard->contentLayout()->setSpacing(10);
    m_emptyCard->contentLayout()->addWidget(ostra::makeRoleLabel(tr("No stations chosen"), "h2", m_emptyCard));
    QLabel *emptyText = ostra::makeRoleLabel(
        tr("Choose the transmitters in this venue, add one by IP, or scan this network for them."), "muted", m_emptyCard);
    emptyText->setWordWrap(true);
    m_emptyCard->contentLayout()->addWidget(emptyText);
    QPushButton *chooseButton = ostra::makeButton(tr("Choose stations"), true, m_emptyCard);
    m_emptyCard->contentLayout()->addWidget(chooseButton, 0, Qt::AlignLeft);
    bodyLayout->addWidget(m_emptyCard);

    m_grid = new ostra::ResponsiveGrid(260, 16);
    bodyLayout->addLayout(m_grid);

    QLabel *hint = ostra::makeRoleLabel(tr("Click a car for its own speed cap, reverse, steering trim and force "
                                           "feedback. A stopped car holds neutral throttle until resumed; steering "
                                           "keeps working."),
                                        "muted", m_content);
    hint->setWordWrap(true);
    hint->setContentsMargins(4, 0, 4, 0);
    bodyLayout->addWidget(hint);
    content->addStretch();

    auto *bottomBar = new QWidget(this);
    auto *bottom = new QHBoxLayout(bottomBar);
    bottom->setContentsMargins(8, 12, 8, 4);
    bottom->setSpacing(12);
    m_stopAllButton = ostra::makeButton(tr("\u25A0  STOP ALL"), false, bottomBar);
    m_resumeAllButton = ostra::makeButton(tr("Resume all"), false, bottomBar);
    for (QPushButton *button : {m_stopAllButton, m_resumeAllButton}) {
        button->setProperty("big", true);
        button->setMinimumHeight(60);
    }
    QFont stopFont = ostra::uiFont(17, 700);
    stopFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    m_stopAllButton->setFont(stopFont);
    ostra::setStyleState(m_stopAllButton, "txState", QStringLiteral("stop"));
    bottom->addWidget(m_stopAllButton, 2);
    bottom->addWidget(m_resumeAllButton, 1);
    outer->addWidget(bottomBar);

    connect(m_safetyPill, &ostra::Pill::clicked, this, &RaceControlPage::openStationsDialog);
    connect(stationsButton, &QPushButton::clicked, this, &RaceControlPage::openStationsDialog);
    connect(chooseButton, &QPushButton::clicked, this, &RaceControlPage::openStationsDialog);
    connect(m_stopAllButton, &QPushButton::clicked, this, &RaceControlPage::stopAll);
    connect(m_resumeAllButton, &QPushButton::clicked, this, &RaceControlPage::resumeAll);
    connect(m_resumeConfirmTimer, &QTimer::timeout, this, &RaceControlPage::refresh);
    connect(m_refreshTimer, &QTimer::timeout, this, &RaceControlPage::refresh);
    connect(m_control, &RaceControl::stationsChanged, this, &RaceControlPage::rebuildCards);
    connect(m_control, &RaceControl::errorOccurred, this, [this](const QString &message) {
        // An open stations dialog shows it under its add field.
        const QList<RaceStationsDialog *> dialogs = findChildren<RaceStationsDialog *>();
        if (std::none_of(dialogs.cbegin(), dialogs.cend(), [](RaceStationsDialog *d) { return d->isVisible(); }))
            ostra::showToast(this, message);
    });

    rebuildCards();
}

void RaceControlPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_control->openIncludedStations();
    m_refreshTimer->start();
    refresh();
}

void RaceControlPage::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_refreshTimer->stop();
}

void RaceControlPage::refresh()
{
    const QList<RaceStation> stations = m_control->includedStations();
    int running = 0;
    int stopped = 0;
    int notReady = 0;
    int notCovered = 0;
    // Stopped, or held stopped from here while it still drives: what Resume all frees.
    int resumable = 0;
    QList<int> caps;
    for (int i = 0; i < stations.size(); ++i) {
        const RaceStation &station = stations.at(i);
        if (RaceCarCard *card = m_cards.value(station.id))
            card->refresh(i);
        if (isRaceControlSupported(station)) {
            caps.append(pitLimiterPercentOf(station));
            resumable += isStationStopped(station) || station.stopHeld ? 1 : 0;
        }
        if (isStationRunning(station)) {
            ++running;
            notCovered += station.uncovered ? 1 : 0;
        } else if (isRaceControlSupported(station) && isStationStopped(station)) {
            ++stopped;
        } else {
            ++notReady;
        }
    }
    m_runningCount->setText(QString::number(running));
    m_stoppedCount->setText(QString::number(stopped));
    m_notReadyCount->setText(QString::number(notReady));
    m_emptyCard->setVisible(stations.isEmpty());

    const bool mixed = !caps.isEmpty() && caps.count(caps.first()) != caps.size();
    const int selection = caps.isEmpty() || mixed ? -1 : caps.first();
    for (const auto &[percent, button] : std::as_const(m_capButtons)) {
        button->setChecked(percent == selection);
        button->setEnabled(!caps.isEmpty());
    }
    if (caps.isEmpty())
        m_capStatus->setText(QString());
    else if (mixed)
        m_capStatus->setText(tr("Mixed"));
    else
        m_capStatus->setText(selection ? tr("Max %1% throttle").arg(selection) : tr("No limit"));

    const bool safetyOn = m_control->watchdog();
    if (safetyOn && notCovered > 0) {
        m_safetyPill->setText(notCovered == 1 ? tr("Safety link: 1 car not covered")
                                              : tr("Safety link: %1 cars not covered").arg(notCovered));
        m_safetyPill->setLevel(ostra::LevelWarning);
        m_safetyPill->setPulsing(false);
    } else {
        m_safetyPill->setText(safetyOn ? tr("Safety link on") : tr("Safety link off"));
        m_safetyPill->setLevel(safetyOn ? ostra::LevelSuccess : ostra::LevelNeutral);
        m_safetyPill->setPulsing(safetyOn);
    }

    // A chosen station out of reach is held stopped too, and gets its stop once it is linked.
    m_stopAllButton->setEnabled(!stations.isEmpty());
    ostra::setStyleState(m_stopAllButton, "txState", stations.isEmpty() ? QStringLiteral("locked") : QStringLiteral("stop"));
    const bool confirming = m_resumeConfirmTimer->isActive();
    m_resumeAllButton->setEnabled(resumable >= 1);
    m_resumeAllButton->setText(confirming ? tr("Click again to resume") : tr("Resume all"));
    ostra::setStyleState(m_resumeAllButton, "txState", confirming && resumable >= 1 ? QStringLiteral("go") : QString());
}

void RaceControlPage::rebuildCards()
{
    QStringList ids;
    for (const RaceStation &station : m_control->includedStations())
        ids.append(station.id);
    bool same = m_cards.size() == ids.size() && m_grid->count() == ids.size();
    for (int i = 0; same && i < ids.size(); ++i) {
        RaceCarCard *card = m_cards.value(ids.at(i));
        same = card && m_grid->itemAt(i)->widget() == card;
    }
    if (!same) {
        while (QLayoutItem *item = m_grid->takeAt(0))
            delete item;
        for (auto it = m_cards.begin(); it != m_cards.end();) {
            if (ids.contains(it.key())) {
                ++it;
                continue;
            }
            it.value()->deleteLater();
            it = m_cards.erase(it);
        }
        for (const QString &id : std::as_const(ids)) {
            RaceCarCard *card = m_cards.value(id);
            if (!card) {
                card = new RaceCarCard(m_control, id, m_content);
                connect(card, &ostra::Card::clicked, this, [this, id] { openCarDialog(id); });
                m_cards.insert(id, card);
            }
            m_grid->addWidget(card);
            card->show();
        }
    }
    refresh();
}

void RaceControlPage::stopAll()
{
    // A Resume all clicked before it needs its two clicks again.
    m_resumeConfirmTimer->stop();
    refresh();
    m_control->commandAll(QStringLiteral("action_lounge_stop"), QJsonObject(), [self = QPointer(this)](int total, int ok) {
        if (!self)
            return;
        if (total == 0)
            ostra::showToast(self, tr("No cars online to stop"));
        else if (ok < total)
            ostra::showToast(self, tr("Stopped %1 of %2 cars \u2014 check the others").arg(ok).arg(total));
    });
}

void RaceControlPage::resumeAll()
{
    if (m_resumeConfirmTimer->isActive()) {
        m_resumeConfirmTimer->stop();
        m_control->commandAll(QStringLiteral("action_lounge_release"), QJsonObject(), [self = QPointer(this)](int total, int ok) {
            if (self && ok < total)
                ostra::showToast(self, tr("Resumed %1 of %2 cars").arg(ok).arg(total));
        });
    } else {
        m_resumeConfirmTimer->start();
    }
    refresh();
}

void RaceControlPage::setAllCarsCap(int percent)
{
    m_control->commandAll(QStringLiteral("set_lounge_pit_limiter"), capCommandData(percent));
}

void RaceControlPage::openStationsDialog()
{
    auto *dialog = new RaceStationsDialog(m_control, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void RaceControlPage::openCarDialog(const QString &stationId)
{
    int index = 0;
    const QList<RaceStation> stations = m_control->includedStations();
    for (int i = 0; i < stations.size(); ++i) {
        if (stations.at(i).id == stationId)
            index = i;
    }
    auto *dialog = new RaceCarDialog(m_control, stationId, index, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

} // namespace corvane
