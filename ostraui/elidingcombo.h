#pragma once

#include <QComboBox>

namespace ostra {

// A list whose current text ends in an ellipsis when the list is narrower than it.
class ElidingCombo : public QComboBox
{
public:
    using QComboBox::QComboBox;

    // The width at which the list still shows a text this wide, frame, padding and arrow whole.
    int widthFor(int textWidth) const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace ostra
