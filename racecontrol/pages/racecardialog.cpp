#include "racecontrol/pages/racecardialog.h"

#include "ostraui/dialogchrome.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/toggle.h"
#include "profiles/profilename.h"
#include "racecontrol/pages/racedisplay.h"
#include "racecontrol/racecontrol.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

namespace {

constexpr int kLiveMs = 100;
constexpr int kMinimumWidth = 520;
constexpr int kNameMaxLength = 18;
const int kOwnCaps[] = {0, 75, 50, 30, 15};

const QString kSteeringCenter = QStringLiteral("steeringCenter");
const QString kSmoothDeceleration = QStringLiteral("smoothDeceleration");
const QString kDecelRate = QStringLiteral("decelRate");
const QString kStrength = QStringLiteral("strength");
const QString kCentering = QStringLiteral("centering");

// A label over a muted hint, for the rows whose control sits at the right.
QVBoxLayout *titledColumn(const QString &title, const QString &hint, QWidget *parent, QLabel **hintOut = nullptr)
{
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(ostra::makeRoleLabel(title, "body", parent));
    QLabel *hintLabel = ostra::makeRoleLabel(hint, "muted", parent);
    hintLabel->setWordWrap(true);
    column->addWidget(hintLabel);
    if (hintOut)
        *hintOut = hintLabel;
    return column;
}

} // namespace

QString stopReasonText(const RaceStation &station)
{
    switch (station.status) {
    case WrongCar: return RaceCarDialog::tr("A different transmitter answered at %1. Commands are blocked.").arg(station.host);
    case NoSignal: return RaceCarDialog::tr("%1 isn't reachable. Check the station is on and on this network.").arg(station.host);
    case UpdateFirmware: return RaceCarDialog::tr("This transmitter's firmware has no race control. Update it to 1.2.27 or later.");
    default: break;
    }
    if (!isRaceControlSupported(station) || !isStationStopped(station))
        return QString();
    if (station.state.value(QStringLiteral("stopReason")).toString() == QLatin1String("connection_lost"))
        return RaceCarDialog::tr("Stopped by the safety link: the station stopped hearing race control. Resume it when the track is clear.");
    return RaceCarDialog::tr("Stopped from race control. The driver has no throttle until you resume it.");
}

RaceCarDialog::RaceCarDialog(RaceControl *control, const QString &stationId, int index, QWidget *parent)
    : QDialog(parent)
    , m_control(control)
    , m_stationId(stationId)
    , m_index(index)
    , m_liveTimer(new QTimer(this))
{
    const RaceStation *station = m_control->findStation(stationId);
    setWindowTitle(QStringLiteral("%1 \u00B7 %2").arg(carNumberText(index), station ? station->name : QString()));
    setMinimumWidth(kMinimumWidth);
    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(24, 8, 24, 24);
    main->setSpacing(14);

    auto *pillRow = new QHBoxLayout;
    m_pill = new ostra::Pill(this, ostra::Pill::Plain);
    pillRow->addWidget(m_pill);
    pillRow->addStretch();
    main->addLayout(pillRow);

    m_stopReason = ostra::makeRoleLabel(QString(), "warning", this);
    m_stopReason->setWordWrap(true);
    m_stopReason->setTextFormat(Qt::PlainText);
    main->addWidget(m_stopReason);

    auto *names = new QGridLayout;
    names->setHorizontalSpacing(12);
    names->addWidget(ostra::makeRoleLabel(tr("Car name"), "muted", this), 0, 0);
    names->addWidget(ostra::makeRoleLabel(tr("Driver"), "muted", this), 0, 1);
    m_nameField = new QLineEdit(station ? station->name : QString(), this);
    m_nameField->setMaxLength(kNameMaxLength);
    m_driverField = new QLineEdit(m_control->driverName(stationId), this);
    m_driverField->setMaxLength(kNameMaxLength);
    m_driverField->setPlaceholderText(tr("Who is driving"));
    names->addWidget(m_nameField, 1, 0);
    names->addWidget(m_driverField, 1, 1);
    m_nameRefusal = ostra::makeRoleLabel(QString(), "warning", this);
    m_nameRefusal->setWordWrap(true);
    m_nameRefusal->setTextFormat(Qt::PlainText);
    m_nameRefusal->hide();
    names->addWidget(m_nameRefusal, 2, 0, 1, 2);
    main->addLayout(names);

    auto *tiles = new QHBoxLayout;
    tiles->setSpacing(8);
    m_gasTile = makeStatTile(tiles, tr("Gas"), QColor(0x0D8A57));
    m_brakeTile = makeStatTile(tiles, tr("Brake"), QColor(0xC81F24));
    m_steerTile = makeStatTile(tiles, tr("Steer"), QColor(0x0B7FD0));
    m_gearTile = makeStatTile(tiles, tr("Gear"), QColor(0x0F1720));
    main->addLayout(tiles);

    // Own cap and reverse.
    m_capSection = new QWidget(this);
    auto *cap = new QVBoxLayout(m_capSection);
    cap->setContentsMargins(0, 0, 0, 0);
    cap->setSpacing(10);
    auto *capHead = new QHBoxLayout;
    capHead->addWidget(ostra::makeRoleLabel(tr("Speed cap \u00B7 this car"), "h3", m_capSection));
    capHead->addStretch();
    m_ownCapStatus = ostra::makeRoleLabel(QString(), "warning", m_capSection);
    capHead->addWidget(m_ownCapStatus);
    cap->addLayout(capHead);
    auto *capRow = new QHBoxLayout;
    capRow->setSpacing(8);
    for (int percent : kOwnCaps) {
        QPushButton *button =
            ostra::makeButton(percent ? QStringLiteral("%1%").arg(percent) : tr("Off"), false, m_capSection);
        button->setCheckable(true);
        button->setMinimumHeight(40);
        capRow->addWidget(button, 1);
        m_capButtons.append({percent, button});
        connect(button, &QPushButton::clicked, this, [this, percent] { setSpeedCap(percent); });
    }
    cap->addLayout(capRow);
    auto *fineRow = new QHBoxLayout;
    fineRow->addWidget(ostra::makeRoleLabel(tr("Fine-tune"), "muted", m_capSection));
    fineRow->addStretch();
    fineRow->addWidget(makeStepper(QStringLiteral("fineTune"), [this](int s) { stepSpeedCap(s); }, &m_fineTuneValue));
    cap->addLayout(fineRow);
    auto *reverseRow = new QHBoxLayout;
    reverseRow->addLayout(titledColumn(tr("Allow reverse"), QString(), m_capSection, &m_reverseHint), 1);
    m_reverseToggle = new ostra::Toggle(m_capSection);
    reverseRow->addWidget(m_reverseToggle);
    cap->addLayout(reverseRow);
    main->addWidget(m_capSection);

    // Tuning through the station's own axis and force-feedback settings.
    m_tuningSection = new QWidget(this);
    auto *tuning = new QVBoxLayout(m_tuningSection);
    tuning->setContentsMargins(0, 0, 0, 0);
    tuning->setSpacing(10);
    tuning->addWidget(ostra::makeHairline(m_tuningSection));
    m_loading = ostra::makeRoleLabel(tr("Loading car settings\u2026"), "muted", m_tuningSection);
    tuning->addWidget(m_loading);
    auto *trimRow = new QHBoxLayout;
    trimRow->addLayout(titledColumn(tr("Steering trim"), tr("Steering center, applied live"), m_tuningSection), 1);
    m_undoButton = ostra::makeButton(tr("Undo"), false, m_tuningSection);
    m_undoButton->setProperty("ghost", true);
    trimRow->addWidget(m_undoButton);
    trimRow->addWidget(makeStepper(QStringLiteral("trim"), [this](int s) { stepSteeringCenter(s); }, &m_trimValue));
    tuning->addLayout(trimRow);
    auto *smoothRow = new QHBoxLayout;
    smoothRow->addLayout(titledColumn(tr("Smooth deceleration"),
                                      tr("Lift off and the car slows gradually, like engine braking"), m_tuningSection),
                         1);
    m_smoothToggle = new ostra::Toggle(m_tuningSection);
    smoothRow->addWidget(m_smoothToggle);
    tuning->addLayout(smoothRow);
    m_rateRow = new QWidget(m_tuningSection);
    auto *rate = new QHBoxLayout(m_rateRow);
    rate->setContentsMargins(0, 0, 0, 0);
    rate->addWidget(ostra::makeRoleLabel(tr("Rate \u00B7 higher stops sooner"), "muted", m_rateRow));
    rate->addStretch();
    rate->addWidget(makeStepper(QStringLiteral("rate"), [this](int s) { stepDecelRate(s); }, &m_rateValue));
    tuning->addWidget(m_rateRow);
    auto *ffbRow = new QHBoxLayout;
    ffbRow->addLayout(titledColumn(tr("Force feedback"), QString(), m_tuningSection, &m_ffbHint), 1);
    m_ffbToggle = new ostra::Toggle(m_tuningSection);
    ffbRow->addWidget(m_ffbToggle);
    tuning->addLayout(ffbRow);
    m_ffbGrid = new QWidget(m_tuningSection);
    auto *ffbGrid = new QGridLayout(m_ffbGrid);
    ffbGrid->setContentsMargins(0, 0, 0, 0);
    ffbGrid->addWidget(ostra::makeRoleLabel(tr("Strength"), "muted", m_ffbGrid), 0, 0);
    ffbGrid->addWidget(makeStepper(QStringLiteral("strength"), [this](int s) { stepFfbStrength(s); }, &m_strengthValue),
                       0, 1, Qt::AlignRight);
    ffbGrid->addWidget(ostra::makeRoleLabel(tr("Centering"), "muted", m_ffbGrid), 1, 0);
    ffbGrid->addWidget(makeStepper(QStringLiteral("centering"), [this](int s) { stepFfbCentering(s); }, &m_centeringValue),
                       1, 1, Qt::AlignRight);
    tuning->addWidget(m_ffbGrid);
    main->addWidget(m_tuningSection);

    m_bigButton = ostra::makeButton(QString(), false, this);
    m_bigButton->setProperty("big", true);
    m_bigButton->setMinimumHeight(56);
    main->addWidget(m_bigButton);

    connect(m_nameField, &QLineEdit::editingFinished, this, &RaceCarDialog::commitNameEdits);
    connect(m_driverField, &QLineEdit::editingFinished, this, &RaceCarDialog::commitNameEdits);
    connect(this, &QDialog::finished, this, &RaceCarDialog::commitNameEdits);
    connect(m_reverseToggle, &ostra::Toggle::clicked, this, &RaceCarDialog::setReverseAllowed);
    connect(m_undoButton, &QPushButton::clicked, this, &RaceCarDialog::undoSteeringTrim);
    connect(m_smoothToggle, &ostra::Toggle::clicked, this, &RaceCarDialog::setSmoothDeceleration);
    connect(m_ffbToggle, &ostra::Toggle::clicked, this, &RaceCarDialog::setFfbEnabled);
    connect(m_bigButton, &QPushButton::clicked, this, &RaceCarDialog::toggleStop);
    connect(m_liveTimer, &QTimer::timeout, this, &RaceCarDialog::refresh);

    ostra::applyDialogChrome(this, station ? station->host : QString());
    keepDialogContentSize(this, kMinimumWidth);
    m_liveTimer->start(kLiveMs);
    refresh();
    loadTuning();
}

QWidget *RaceCarDialog::makeStepper(const QString &name, const std::function<void(int)> &step, QLabel **valueOut)
{
    auto *stepper = new QWidget(this);
    stepper->setObjectName(name);
    auto *layout = new QHBoxLayout(stepper);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto makeStepButton = [stepper](const QString &text, const QString &objectName) {
        QPushButton *button = ostra::makeButton(text, false, stepper);
        button->setObjectName(objectName);
        button->setFixedSize(36, 36);
        button->setFont(ostra::uiFont(18, 600));
        button->setStyleSheet(QStringLiteral("QPushButton { padding: 0; }"));
        return button;
    };
    QPushButton *minus = makeStepButton(QStringLiteral("\u2212"), QStringLiteral("minus"));
    *valueOut = new QLabel(stepper);
    (*valueOut)->setFont(ostra::uiFont(15, 600));
    (*valueOut)->setAlignment(Qt::AlignCenter);
    (*valueOut)->setMinimumWidth(60);
    QPushButton *plus = makeStepButton(QStringLiteral("+"), QStringLiteral("plus"));
    layout->addWidget(minus);
    layout->addWidget(*valueOut);
    layout->addWidget(plus);
    connect(minus, &QPushButton::clicked, this, [step] { step(-1); });
    connect(plus, &QPushButton::clicked, this, [step] { step(1); });
    return stepper;
}

QLabel *RaceCarDialog::makeStatTile(QHBoxLayout *row, const QString &caption, const QColor &color)
{
    auto *tile = new QFrame(this);
    tile->setStyleSheet(QStringLiteral("QFrame { background: #F7F9FB; border-radius: 12px; }"));
    auto *layout = new QVBoxLayout(tile);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(0);
    layout->addWidget(ostra::makeRoleLabel(caption, "caption", tile));
    QLabel *value = makeTintLabel(noValueText(), color, 20, tile);
    layout->addWidget(value);
    row->addWidget(tile, 1);
    return value;
}

void RaceCarDialog::refresh()
{
    const RaceStation *station = m_control->findStation(m_stationId);
    if (!station) {
        reject();
        return;
    }
    const QString title = QStringLiteral("%1 \u00B7 %2").arg(carNumberText(m_index), station->name);
    if (windowTitle() != title)
        setWindowTitle(title);
    const StationStatusText status = stationStatusText(*station);
    m_pill->setText(status.text);
    m_pill->setLevel(status.level);
    const QString reason = stopReasonText(*station);
    m_stopReason->setText(reason);
    m_stopReason->setVisible(!reason.isEmpty());

    const bool supported = isRaceControlSupported(*station);
    const bool liveShown = supported && !station->live.isEmpty();
    const QString none = noValueText();
    const QJsonObject &live = station->live;
    m_gasTile->setText(liveShown ? QStringLiteral("%1%").arg(percentOf(live.value(QStringLiteral("throttle")).toDouble())) : none);
    m_brakeTile->setText(liveShown ? QStringLiteral("%1%").arg(percentOf(live.value(QStringLiteral("brake")).toDouble())) : none);
    m_steerTile->setText(liveShown ? steeringText(live.value(QStringLiteral("steering")).toDouble()) : none);
    m_gearTile->setText(liveShown ? gearText(live.value(QStringLiteral("gear")).toInt()) : none);

    m_capSection->setVisible(supported);
    m_tuningSection->setVisible(supported);
    if (supported) {
        const int own = speedCapPercentOf(*station);
        const int all = pitLimiterPercentOf(*station);
        for (const auto &[percent, button] : std::as_const(m_capButtons))
            button->setChecked(percent == own);
        m_fineTuneValue->setText(capText(own));
        if (own == 0)
            m_ownCapStatus->setText(all == 0 ? tr("No limit") : tr("All-cars cap %1%").arg(all));
        else if (all == 0 || own <= all)
            m_ownCapStatus->setText(tr("Max %1% throttle").arg(own));
        else
            m_ownCapStatus->setText(tr("%1% \u00B7 all-cars %2% applies").arg(own).arg(all));
        const bool reverse = station->state.value(QStringLiteral("reverseAllowed")).toBool(true);
        m_reverseToggle->setChecked(reverse);
        m_reverseHint->setText(reverse ? tr("On: the driver can back up") : tr("Off: reverse does nothing"));
    }

    const bool hasAxis = m_axis.contains(kSteeringCenter);
    const int center = m_axis.value(kSteeringCenter).toInt();
    const bool smooth = m_axis.value(kSmoothDeceleration).toBool(false);
    m_loading->setVisible(!hasAxis);
    m_trimValue->setText(hasAxis ? QString::number(center) : none);
    m_undoButton->setEnabled(hasAxis && m_undoValue >= 0 && center != m_undoValue);
    m_smoothToggle->setChecked(smooth);
    m_smoothToggle->setEnabled(hasAxis);
    m_rateValue->setText(QString::number(m_axis.value(kDecelRate).toInt(0)));
    m_rateRow->setEnabled(hasAxis && smooth);

    const bool hasFfb = m_ffb.contains(kStrength);
    const bool capable = m_ffb.value(QStringLiteral("capable")).toBool(false);
    const bool on = m_ffb.value(QStringLiteral("enabled")).toBool(false);
    m_ffbToggle->setEnabled(hasFfb && capable);
    m_ffbToggle->setChecked(hasFfb && capable && on);
    if (!hasFfb)
        m_ffbHint->setText(tr("This station doesn't report force feedback"));
    else if (!capable)
        m_ffbHint->setText(tr("No force-feedback wheel connected to this station"));
    else
        m_ffbHint->setText(on ? tr("Road feel from the car") : tr("Off: the wheel uses its own centering"));
    m_ffbGrid->setVisible(hasFfb && capable);
    m_ffbGrid->setEnabled(on);
    m_strengthValue->setText(QStringLiteral("%1%").arg(percentOf(m_ffb.value(kStrength).toDouble())));
    m_centeringValue->setText(QStringLiteral("%1%").arg(percentOf(m_ffb.value(kCentering).toDouble())));

    applyStopButtonState(m_bigButton, *station, tr("\u25A0  Stop car %1").arg(carNumberText(m_index)),
                         tr("\u25B6  Resume car %1").arg(carNumberText(m_index)));
}

void RaceCarDialog::loadTuning()
{
    QPointer<RaceCarDialog> self(this);
    m_control->request(m_stationId, QStringLiteral("get_axis_settings"), QJsonObject(),
                       [self](bool ok, const QJsonObject &data) {
                           if (!self)
                               return;
                           if (ok && data.contains(kSteeringCenter)) {
                               self->m_axis = data;
                               if (self->m_undoValue < 0)
                                   self->m_undoValue = data.value(kSteeringCenter).toInt();
                           }
                           self->refresh();
                       });
    m_control->request(m_stationId, QStringLiteral("get_wheel_ffb"), QJsonObject(),
                       [self](bool ok, const QJsonObject &data) {
                           if (!self)
                               return;
                           if (ok && data.contains(kStrength))
                               self->m_ffb = data;
                           self->refresh();
                       });
}

void RaceCarDialog::saveAxis(const QJsonObject &partial)
{
    for (auto it = partial.begin(); it != partial.end(); ++it)
        m_axis.insert(it.key(), it.value());
    refresh();
    m_control->request(m_stationId, QStringLiteral("set_axis_settings"), partial,
                       [self = QPointer(this)](bool ok, const QJsonObject &reply) {
                           if (self && (!ok || !reply.value(QStringLiteral("success")).toBool(true)))
                               ostra::showToast(self, tr("Couldn't save on this station"));
                       });
}

void RaceCarDialog::saveFfb(const QJsonObject &partial)
{
    for (auto it = partial.begin(); it != partial.end(); ++it)
        m_ffb.insert(it.key(), it.value());
    refresh();
    m_control->request(m_stationId, QStringLiteral("set_wheel_ffb"), partial,
                       [self = QPointer(this)](bool ok, const QJsonObject &reply) {
                           if (!self)
                               return;
                           if (ok && reply.contains(kStrength)) {
                               self->m_ffb = reply;
                               self->refresh();
                           } else {
                               ostra::showToast(self, tr("Couldn't update force feedback"));
                           }
                       });
}

void RaceCarDialog::setSpeedCap(int percent)
{
    m_control->command(m_stationId, QStringLiteral("set_lounge_speed_cap"), capCommandData(percent));
}

void RaceCarDialog::stepSpeedCap(int step)
{
    const RaceStation *station = m_control->findStation(m_stationId);
    if (!station)
        return;
    const int own = speedCapPercentOf(*station);
    const int current = own ? own : 100;
    const int next = std::clamp((current + 5 * step) / 5 * 5, 10, 100);
    if (next != current)
        setSpeedCap(next == 100 ? 0 : next);
}

void RaceCarDialog::setReverseAllowed(bool allowed)
{
    m_control->command(m_stationId, QStringLiteral("set_lounge_reverse"), QJsonObject{{QStringLiteral("allowed"), allowed}});
}

void RaceCarDialog::stepSteeringCenter(int step)
{
    if (!m_axis.contains(kSteeringCenter))
        return;
    saveAxis(QJsonObject{{kSteeringCenter, std::clamp(m_axis.value(kSteeringCenter).toInt() + step, 0, 2047)}});
}

void RaceCarDialog::undoSteeringTrim()
{
    if (m_undoValue >= 0)
        saveAxis(QJsonObject{{kSteeringCenter, m_undoValue}});
}

void RaceCarDialog::setSmoothDeceleration(bool on)
{
    saveAxis(QJsonObject{{kSmoothDeceleration, on}});
}

void RaceCarDialog::stepDecelRate(int step)
{
    saveAxis(QJsonObject{{kDecelRate, std::clamp(m_axis.value(kDecelRate).toInt(0) + 5 * step, 1, 100)}});
}

void RaceCarDialog::setFfbEnabled(bool on)
{
    saveFfb(QJsonObject{{QStringLiteral("enabled"), on}});
}

void RaceCarDialog::stepFfbPercent(const QString &key, int step)
{
    const int percent = std::clamp(percentOf(m_ffb.value(key).toDouble()) + 5 * step, 0, 100);
    saveFfb(QJsonObject{{key, percent / 100.0}});
}

void RaceCarDialog::stepFfbStrength(int step)
{
    stepFfbPercent(kStrength, step);
}

void RaceCarDialog::stepFfbCentering(int step)
{
    stepFfbPercent(kCentering, step);
}

void RaceCarDialog::toggleStop()
{
    toggleStationStop(m_control, m_stationId);
}

void RaceCarDialog::commitNameEdits()
{
    const RaceStation *station = m_control->findStation(m_stationId);
    if (!station)
        return;
    // Names show on the cards and in the lists as profile names do, and follow their rule.
    const QString name = ProfileName::normalized(m_nameField->text());
    const QString driver = ProfileName::normalized(m_driverField->text());
    QStringList refusals;
    if (ProfileName::hasForbiddenCharacter(name))
        refusals.append(tr("A car name cannot contain line breaks, tabs, other control characters or text direction overrides."));
    else if (!name.isEmpty() && name != station->name)
        m_control->renameStation(m_stationId, name);
    if (ProfileName::hasForbiddenCharacter(driver))
        refusals.append(tr("A driver's name cannot contain line breaks, tabs, other control characters or text direction overrides."));
    else if (driver != m_control->driverName(m_stationId))
        m_control->setDriverName(m_stationId, driver);
    m_nameRefusal->setText(refusals.join(QLatin1Char(' ')));
    m_nameRefusal->setVisible(!refusals.isEmpty());
}

} // namespace corvane
