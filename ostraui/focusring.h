#pragma once

#include <QRectF>

class QAbstractScrollArea;
class QApplication;
class QKeyEvent;
class QPainter;
class QWidget;

namespace ostra {

// Whether the widget holds focus that the keyboard gave it; a mouse click gives focus too but
// shows no ring.
bool showsFocusRing(const QWidget *widget);

// Qt marks a window once Tab moves focus in it and keeps the mark; this clears it whenever a
// click moves focus, so that a clicked control shows no ring until Tab is pressed again.
// Focus the keyboard moves is also brought into view in the scroll areas that hold it, and a
// control that draws no focus state of its own (a slider, a scroll area, a list or text view), or
// too little room for one (a check box, a radio button), shows the ring on a frame around it.
void trackKeyboardFocus(QApplication &app);
// A push button that shows its text alone, with no border or padding (a back or link button): a
// ring inside it would lie over the text, so it shows on the frame around it.
bool isBareTextButton(const QWidget *widget);

// Space, Return, Enter or Select, not held down: the keys that press a focused card or chip as a
// click does.
bool isPressKey(const QKeyEvent *event);

// The theme's focus ring: a 2 px line just inside `rect`, rounded as the control is.
void paintFocusRing(QPainter *painter, const QRectF &rect, double radius);
// The same line alone, on the frame around a control: it keeps clear of what the control shows.
void paintOuterFocusRing(QPainter *painter, const QRectF &rect, double radius);

// A scroll area that holds a page's or a dialog's controls: Tab moves between the controls and
// never stops on the area itself, while a click on its background still hands it the keys that
// scroll it (Page Up and Page Down also reach it from the controls, which leave them alone).
void makeScrollBody(QAbstractScrollArea *area);

} // namespace ostra
