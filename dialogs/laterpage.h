#pragma once

class QWidget;

namespace corvane {

// Settles a page filled after its window was made (a part built in a later pass): its controls
// take their place in the Tab order where they would be had they been made with the page, not
// after the dialog's footer; they are styled now; and a page already on screen shows them now
// rather than a pass later.
void settleLaterPage(QWidget *page);

} // namespace corvane
