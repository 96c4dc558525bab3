#pragma once

#include "support/widgets/themedrender.h"

// Where a render of the helicopter pages goes, by theme.
inline QString heliPicture(const QString &name) { return ostratest::themedPicture("heli", name); }

// The light run paints the given test functions once more in the dark theme.
inline bool renderDarkTwin(const QStringList &functions) { return ostratest::renderDarkTwin("heli", functions); }

// Shows a dialog over its shown parent and saves the two as one picture under the given name.
inline bool saveDialogPicture(QWidget *parent, QDialog *dialog, const QString &name)
{
    return ostratest::saveDialogPicture(parent, dialog, heliPicture(name));
}
