#pragma once

class QDialog;

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

} // namespace ostra
