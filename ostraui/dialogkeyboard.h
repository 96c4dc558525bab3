#pragma once

class QDialog;
class QWidget;

namespace ostra {

// Return and Enter that no control takes press the dialog's default: the footer's or button
// box's button the dialog chose as default, else the one marked primary; a button elsewhere in
// the content never answers a stray Return. Closing the dialog gives the keyboard back to the
// window under it, which a desktop without a window manager leaves to nobody.
// The dialog chrome applies this to every dressed dialog.
void applyDialogKeyboard(QDialog *dialog);

// The dialog keeps no default button: Return and Space press the focused button alone, never
// one the focus is not on. For answers that must never be given by a stray key press. Call
// before the dialog is shown.
void setNoDefaultButton(QDialog *dialog);

// Widgets made after the dialog was dressed join the end of its focus chain: Tab reaches `first`
// and the controls after it (the buttons under the pages and the chrome's) after them again, as
// when all was made at once. `pages` holds what goes before them.
void keepFooterLastInTabOrder(QDialog *dialog, QWidget *pages, QWidget *first);

} // namespace ostra
