#pragma once

#include <QIcon>
#include <QString>
#include <Qt>

class QDialog;

namespace ostra {

// Dresses a fully built dialog as a themed frameless card over its dimmed parent window.
// Call it last, after the dialog's layout, title and size constraints; a second call does nothing.
void applyDialogChrome(QDialog *dialog, const QString &subtitle = QString());

// Makes ahead what the first dressed dialog would make as it is built (the desktop's answer on
// blending windows), as it paints (its card's shadow) and, for `window`, as it shows (the dim over
// it): call once the theme is set and the window built, before anything runs that a dialog
// opening may hold up.
void prepareDialogChrome(QWidget *window = nullptr);

// The widget a dialog may build its content in, already in the card's scroll area: a layout set
// on it stands for the dialog's own. Built there, nothing moves when the dialog is dressed (a
// built tree moved under the style sheet is restyled whole).
QWidget *dialogContent(QDialog *dialog);

// The window flags of a dressed dialog, from its own.
Qt::WindowFlags chromeFlags(Qt::WindowFlags flags);

// Asks for a dressed dialog's window: frameless, and with an alpha channel for the card's shadow
// only where the desktop blends windows. Call it before the native window is made.
void requestCardWindow(QDialog *dialog);

// The icon of the dialogs' round close button.
QIcon closeIcon();

} // namespace ostra
