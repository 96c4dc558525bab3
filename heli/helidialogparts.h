#pragma once

#include <QString>

#include <array>

#include "profiles/helicopterconfig.h"

class QDialog;
class QLabel;
class QWidget;

namespace corvane {

class InputDevice;

// Pieces the helicopter's setup dialogs share: their small help texts, value labels, plain
// button boxes, how they show a fraction as a whole percentage, and the note (the page's too) on
// a control whose axis is not on its device.

// A stored fraction as the whole percentage a slider or spin box shows, halves away from zero.
int percentOf(float fraction);

// "color:#5B6675;font-size:9pt;": help texts and device labels.
QString heliHelpStyle();
// Secondary text in the mono font: value labels.
QString heliValueStyle();

// Dresses a built dialog in the kit's chrome and keeps it at least as large as its content.
void finishHeliDialog(QDialog *dialog);

// A word-wrapped help text in the help style.
QLabel *makeHeliHelpLabel(const QString &text, QWidget *parent);

// For roll, pitch, collective and rudder in that order: when the control is mapped to an axis
// its connected device does not have, one sentence saying so and what the control reads; else
// empty.
std::array<QString, 4> heliMissingAxisNotes(const HelicopterConfig &config, const InputDevice *joystick,
                                            const InputDevice *throttle, const InputDevice *pedals);
// A word-wrapped plain-text note in the warning colour, hidden while it is empty.
QLabel *makeHeliWarningLabel(QWidget *parent);
// Shows the text, or hides the label for an empty one.
void setHeliWarning(QLabel *label, const QString &text);

} // namespace corvane
