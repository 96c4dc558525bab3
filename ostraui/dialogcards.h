#pragma once

class QFrame;
class QLabel;
class QString;
class QWidget;

namespace ostra {

// The card frame of dialogs and pages: object name "card", styled through its "dlgCard" property.
QFrame *makeDialogCard(QWidget *parent);

// A card's heading: a label in the style sheet's "h2" role.
QLabel *makeDialogHeading(const QString &text, QWidget *parent);
// A label with its own style sheet, for the fixed text styles of the setup dialogs.
QLabel *makeStyledLabel(const QString &text, const QString &style, QWidget *parent);
// A frameless, vertically scrolling page around `content`, for tabs taller than a small screen.
QWidget *makeScrollPage(QWidget *content);

} // namespace ostra
