#pragma once

class QWidget;

namespace ostra {
class PassBuilder;
}

namespace corvane {

// Starts `passes` once `window` has painted for the first time: a part started with the window
// would share the pass of its first paint, the longest of an opening.
void startAfterFirstPaint(QWidget *window, ostra::PassBuilder *passes);

// Settles a page filled after its window was made (a part built in a later pass): its controls
// take their place in the Tab order where they would be had they been made with the page, not
// after the dialog's footer; they are styled now; and a page already on screen shows them now
// rather than a pass later.
void settleLaterPage(QWidget *page);

} // namespace corvane
