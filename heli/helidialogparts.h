#pragma once

#include <QString>

class QDialog;
class QLabel;
class QWidget;

namespace corvane {

// Pieces the helicopter's setup dialogs share: their small help texts, value labels, plain
// button boxes, and how they show a fraction as a whole percentage.

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

} // namespace corvane
