#pragma once

// The small display functions that the race control page, its car cards and its dialogs share.

#include <QColor>
#include <QJsonObject>
#include <QString>

class QDialog;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace ostra {
class Meter;
}

namespace corvane {

class RaceControl;
struct RaceStation;

struct StationStatusText
{
    QString text;
    int level = 0; // ostra::StatusLevel
};

// The station's state word and its colour level.
StationStatusText stationStatusText(const RaceStation &station);
// Enabled only for a car that takes race control; "txState" follows stop / resume.
void applyStopButtonState(QPushButton *button, const RaceStation &station, const QString &stopText,
                          const QString &resumeText);
// The car's own cap (lounge speed cap), 0 for none.
int speedCapPercentOf(const RaceStation &station);
// The all-cars cap (lounge pit limiter), 0 for none.
int pitLimiterPercentOf(const RaceStation &station);
bool isStationStopped(const RaceStation &station);
// False only when the station reports its transmitter not connected.
bool isTransmitterConnected(const RaceStation &station);
// Takes race control, has its transmitter, and the station reports it not stopped: also a car
// held stopped from here that still drives (it shows "Stopping").
bool isStationRunning(const RaceStation &station);

QString capText(int percent);
QString carNumberText(int index);
QString gearText(int gear);
QString steeringText(double steering);
// What a value reads while there is none to show.
QString noValueText();
// Fixed colours of the car numbers, by card index.
QColor carPalette(int index);
// Percent of a 0..1 value, rounded half away from zero.
int percentOf(double fraction);
// The data of a speed cap or pit limiter command: on at that percent, or off for 0.
QJsonObject capCommandData(int percent);
// Releases a stopped car, stops a running one; nothing when the station is gone.
void toggleStationStop(RaceControl *control, const QString &stationId);

// After the dialog chrome: the window never shrinks below what its content needs, and the content
// keeps the dialog's minimum width.
void keepDialogContentSize(QDialog *dialog, int minimumWidth);

QLabel *makeTintLabel(const QString &text, const QColor &color, int pixelSize, QWidget *parent = nullptr);
// A big number over a muted caption, added to the row; the number label comes back in out.
void makeCountStat(QHBoxLayout *row, const QString &caption, const QColor &color, QLabel **out);
void addMeterRow(QGridLayout *grid, int row, const QString &caption, ostra::Meter *meter, QLabel **valueOut);
// Sets the value beside a meter row: figures in the mono face, no value as the long dash.
void setMeterValueText(QLabel *value, const QString &text);

} // namespace corvane
