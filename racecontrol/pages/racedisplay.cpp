#include "racecontrol/pages/racedisplay.h"

#include "ostraui/meter.h"
#include "ostraui/theme.h"
#include "racecontrol/racecontrol.h"

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace corvane {

StationStatusText stationStatusText(const RaceStation &station)
{
    switch (station.status) {
    case Connecting: return {RaceControl::tr("Connecting"), ostra::LevelWarning};
    case NoSignal: return {RaceControl::tr("No signal"), ostra::LevelNeutral};
    case WrongCar: return {RaceControl::tr("Wrong car"), ostra::LevelDanger};
    case UpdateFirmware: return {RaceControl::tr("Update firmware"), ostra::LevelWarning};
    default: break;
    }
    if (!station.state.value(QStringLiteral("supported")).toBool())
        return {RaceControl::tr("Helicopter"), ostra::LevelNeutral};
    if (isStationStopped(station))
        return {RaceControl::tr("Stopped"), ostra::LevelDanger};
    // Back unstopped (restarted before its stop was on its disk): the stop is on its way again.
    if (station.stopHeld)
        return {RaceControl::tr("Stopping"), ostra::LevelDanger};
    if (!isTransmitterConnected(station))
        return {RaceControl::tr("No transmitter"), ostra::LevelWarning};
    if (station.uncovered)
        return {RaceControl::tr("Not covered"), ostra::LevelWarning};
    return {RaceControl::tr("Running"), ostra::LevelSuccess};
}

void applyStopButtonState(QPushButton *button, const RaceStation &station, const QString &stopText,
                          const QString &resumeText)
{
    const bool supported = isRaceControlSupported(station);
    button->setEnabled(supported);
    QString text;
    QString state;
    if (!supported) {
        text = station.status == UpdateFirmware ? RaceControl::tr("Unavailable") : RaceControl::tr("Offline");
        state = QStringLiteral("locked");
    } else if (isStationStopped(station)) {
        text = resumeText;
        state = QStringLiteral("go");
    } else {
        text = stopText;
        state = QStringLiteral("stop");
    }
    button->setText(text);
    ostra::setStyleState(button, "txState", state);
}

void toggleStationStop(RaceControl *control, const QString &stationId)
{
    const RaceStation *station = control->findStation(stationId);
    if (!station)
        return;
    control->command(stationId, isStationStopped(*station) ? QStringLiteral("action_lounge_release")
                                                           : QStringLiteral("action_lounge_stop"),
                     QJsonObject());
}

QJsonObject capCommandData(int percent)
{
    if (percent == 0)
        return QJsonObject{{QStringLiteral("enabled"), false}};
    return QJsonObject{{QStringLiteral("enabled"), true}, {QStringLiteral("percent"), percent}};
}

int speedCapPercentOf(const RaceStation &station)
{
    if (!station.state.value(QStringLiteral("speedCap")).toBool())
        return 0;
    return station.state.value(QStringLiteral("speedCapPercent")).toInt(0);
}

int pitLimiterPercentOf(const RaceStation &station)
{
    if (!station.state.value(QStringLiteral("pitLimiter")).toBool())
        return 0;
    return station.state.value(QStringLiteral("pitLimiterPercent")).toInt(0);
}

bool isStationStopped(const RaceStation &station)
{
    return station.state.value(QStringLiteral("stopped")).toBool(false);
}

bool isTransmitterConnected(const RaceStation &station)
{
    return station.live.value(QStringLiteral("transmitterConnected")).toBool(true);
}

bool isStationRunning(const RaceStation &station)
{
    return isRaceControlSupported(station) && !isStationStopped(station) && isTransmitterConnected(station);
}

QString capText(int percent)
{
    return percent == 0 ? RaceControl::tr("Full") : QStringLiteral("%1%").arg(percent);
}

QString carNumberText(int index)
{
    return QStringLiteral("%1").arg(index + 1, 2, 10, QLatin1Char('0'));
}

QString gearText(int gear)
{
    if (gear < 0)
        return QStringLiteral("R");
    if (gear == 0)
        return QStringLiteral("N");
    return QString::number(gear);
}

int percentOf(double fraction)
{
    return int(std::lround(fraction * 100.0));
}

QString steeringText(double steering)
{
    if (std::abs(steering) < 0.05)
        return QStringLiteral("0");
    return QStringLiteral("%1%2").arg(steering < 0 ? QLatin1Char('L') : QLatin1Char('R')).arg(percentOf(std::abs(steering)));
}

QString noValueText()
{
    return QStringLiteral("\u2014");
}

QColor carPalette(int index)
{
    static const QRgb palette[8] = {0x0F8FD4, 0x12A66A, 0x8A4FE0, 0xE0661A, 0x0F1720, 0xD63B82, 0x0D9488, 0xB45309};
    return QColor::fromRgb(palette[((index % 8) + 8) % 8]);
}

void keepDialogContentSize(QDialog *dialog, int minimumWidth)
{
    if (QWidget *content = dialog->findChild<QWidget *>(QStringLiteral("ostraDialogContent")))
        content->setMinimumWidth(minimumWidth);
    dialog->layout()->setSizeConstraint(QLayout::SetMinimumSize);
}

QLabel *makeTintLabel(const QString &text, const QColor &color, int pixelSize, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(ostra::uiFont(pixelSize, 700));
    label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(ostra::colorHex(color)));
    return label;
}

void makeCountStat(QHBoxLayout *row, const QString &caption, const QColor &color, QLabel **out)
{
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    *out = makeTintLabel(QStringLiteral("0"), color, 28);
    column->addWidget(*out);
    column->addWidget(ostra::makeRoleLabel(caption, "muted"));
    row->addLayout(column);
}

void addMeterRow(QGridLayout *grid, int row, const QString &caption, ostra::Meter *meter, QLabel **valueOut)
{
    grid->addWidget(ostra::makeRoleLabel(caption, "muted"), row, 0);
    meter->setThickness(8);
    grid->addWidget(meter, row, 1);
    *valueOut = ostra::makeRoleLabel(QString(), "secondary");
    setMeterValueText(*valueOut, noValueText());
    (*valueOut)->setMinimumWidth(40);
    (*valueOut)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(*valueOut, row, 2);
}

void setMeterValueText(QLabel *value, const QString &text)
{
    ostra::setReadoutText(value, text, 12.5, 400);
}

} // namespace corvane
