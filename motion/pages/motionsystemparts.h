#pragma once

#include "ostraui/sliderrow.h"

#include <QString>

class QLabel;
class QSlider;
class QVBoxLayout;
class QWidget;

namespace corvane::motionsystem {

// Pieces the cards of the Motion System page share.

extern const QString Ready;
QSlider *innerSlider(ostra::SliderRow *row);
void setEnabledWithCursor(QWidget *widget, bool enabled);
QLabel *makeMutedText(const QString &text, QWidget *parent);
ostra::SliderRow *makeNamedRow(const QString &label, int minimum, int maximum, int value, const char *name,
                               const ostra::SliderRow::Formatter &format, QWidget *parent);
QVBoxLayout *panelLayout(QWidget *panel, int spacing);

} // namespace corvane::motionsystem
