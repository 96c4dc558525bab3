#pragma once

#include <QObject>

namespace ostra {

// Keeps the mouse wheel from changing a combo box, slider or spin box that the user is only
// scrolling past: such a control takes the wheel only while it has focus (after a click or Tab),
// and otherwise the wheel goes on to what holds it, which scrolls. Installed on the application
// by the theme.
class WheelGuard : public QObject
{
    Q_OBJECT

public:
    explicit WheelGuard(QObject *parent);
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace ostra
